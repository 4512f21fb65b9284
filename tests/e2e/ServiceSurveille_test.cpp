// Unattended service runs of the real program: two runs on one destination, the stop
// signals, and the exit status a scheduler acts on (the guards of a single walk, empty
// source and held destination, are the walk's own tests). No display, a home and state
// directory of its own for every test.
#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <chrono>
#include <string>
#include <vector>

#include "support/AttenteFichiers.h"
#include "support/LancerProgramme.h"
#include "support/ProcessusFils.h"
#include "support/TempTree.h"

namespace jumelix {
namespace {

using test::TempTree;
using V = std::vector<std::string>;

using test::ListeFichier;

// Every file under `racine` (relative paths), temporary copies included, sorted.
V Fichiers(const std::string& racine) {
  V v;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(racine, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_directory()) v.push_back(std::filesystem::relative(it->path(), racine).string());
  }
  std::sort(v.begin(), v.end());
  return v;
}

class ServiceSurveille : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = arbre_.Repertoire("home");
    etat_ = arbre_.Chemin("etat");
    journal_ = etat_ + "/jumelix/jumelix.log";
    travail_ = arbre_.Repertoire("travail");
  }

  pid_t Demarrer(const V& arguments) {
    return test::DemarrerProgramme(
        arguments, {"PATH=/usr/bin:/bin", "LC_ALL=C", "HOME=" + home_, "XDG_STATE_HOME=" + etat_},
        travail_);
  }

  // The exit status, or -1 when the program did not exit normally.
  int Attendre(pid_t pid) { return test::AttendreProgramme(pid, travail_).code; }

  int Service(const std::string& liste) { return Attendre(Demarrer({"/S", liste})); }

  // The log's lines without their date and time (the date-only line is dropped).
  V Journal() const {
    V lignes;
    const std::string brut = TempTree::Lire(journal_);
    size_t debut = 0;
    while (debut < brut.size()) {
      size_t fin = brut.find('\n', debut);
      if (fin == std::string::npos) fin = brut.size();
      std::string l = brut.substr(debut, fin - debut);
      debut = fin + 1;
      if (l.rfind("Nombre de fichiers copiés ", 0) != 0) {
        const size_t n = std::string(" 00/00/00 00:00:00").size();
        l = l.size() >= n ? l.substr(0, l.size() - n) : l;
      }
      if (!l.empty()) lignes.push_back(l);
    }
    return lignes;
  }

  TempTree arbre_;
  std::string home_, etat_, journal_, travail_;
};

TEST_F(ServiceSurveille, ExitStatusTellsWhetherTheReportHoldsAnError) {
  arbre_.Fichier("s/f", "f");
  const std::string s = arbre_.Chemin("s"), d = arbre_.Chemin("d");
  const std::string absente = arbre_.Chemin("absente");
  const std::string bonne = arbre_.Fichier("travail/bonne.ini", ListeFichier({s, d}));
  const std::string mauvaise =
      arbre_.Fichier("travail/mauvaise.ini", ListeFichier({absente, arbre_.Chemin("d2"), s, d}));

  EXPECT_EQ(Service(bonne), 0);
  EXPECT_EQ(TempTree::Lire(d + "/f"), "f");
  // One pair in error is enough, even when the others are fine.
  EXPECT_EQ(Service(mauvaise), 1);
  EXPECT_EQ(Journal().back().rfind("Nombre de fichiers copiés 0 ; Supprimés 0 ; identiques 1", 0),
            0u);
  EXPECT_EQ(Service(arbre_.Chemin("travail/introuvable.ini")), 1);
  EXPECT_EQ(Service(bonne), 0);
}

TEST_F(ServiceSurveille, TwoRunsAtOnceNeverWalkOneDestinationTogether) {
  // Both runs start together; whichever comes second either finds the lock or starts after
  // the first one ended. Either way the destination ends identical and nothing is lost.
  for (int i = 0; i < 300; ++i) arbre_.Fichier("s/f" + std::to_string(i), std::string(4096, 'a'));
  const std::string s = arbre_.Chemin("s"), d = arbre_.Chemin("d");
  const std::string l1 = arbre_.Fichier("travail/1.ini", ListeFichier({s, d}));
  const std::string l2 = arbre_.Fichier("travail/2.ini", ListeFichier({s, d}));
  pid_t a = Demarrer({"/S", l1}), b = Demarrer({"/S", l2});
  const int ca = Attendre(a), cb = Attendre(b);
  EXPECT_TRUE((ca == 0 || ca == 1) && (cb == 0 || cb == 1)) << ca << " " << cb;
  const std::string log = TempTree::Lire(journal_);
  size_t verrou = 0;
  for (size_t p = 0; (p = log.find("une autre synchronisation de", p)) != std::string::npos; ++p)
    ++verrou;
  EXPECT_EQ(verrou, static_cast<size_t>((ca == 1) + (cb == 1)));
  EXPECT_LE(verrou, 1u);
  EXPECT_EQ(Fichiers(d).size(), 300u);
  EXPECT_EQ(log.find("Erreur"), std::string::npos) << log;
}

TEST_F(ServiceSurveille, SigtermDuringALargeSynchronisationStopsCleanly) {
  constexpr int kRepertoires = 40, kFichiers = 50;
  const std::string bloc(64 * 1024, 'j');
  for (int r = 0; r < kRepertoires; ++r)
    for (int f = 0; f < kFichiers; ++f)
      arbre_.Fichier("s/r" + std::to_string(r) + "/f" + std::to_string(f),
                     bloc + std::to_string(r * kFichiers + f));
  const std::string s = arbre_.Chemin("s"), d = arbre_.Repertoire("d");
  const std::string liste = arbre_.Fichier("travail/l.ini", ListeFichier({s, d}));

  pid_t pid = Demarrer({"/S", liste});
  ASSERT_GT(pid, 0);
  // Stop it at the first directory it copies (its lock, the archive folder, comes before),
  // and never before: a signal that comes before the copies tests nothing, and one that
  // comes late may find the run over. A loaded machine may take long to get there.
  const auto copie_commencee = [&] {
    for (const std::string& nom : TempTree::Noms(d))
      if (nom.rfind(".jumelix-", 0) != 0) return true;
    return false;
  };
  if (!test::AttendreDansRepertoire(d, copie_commencee, 60000)) {
    kill(pid, SIGKILL);
    Attendre(pid);
    FAIL() << "the run copied nothing within 60 s";
  }
  kill(pid, SIGTERM);
  ASSERT_EQ(Attendre(pid), 2);

  const V j = Journal();
  ASSERT_GE(j.size(), 3u);
  EXPECT_EQ(j[j.size() - 3], s + " et " + d + " abandonné");  // never "=": it is not a mirror
  EXPECT_EQ(j[j.size() - 2], "Synchronisation abandonnée");
  EXPECT_EQ(j.back().rfind("Nombre de fichiers copiés ", 0), 0u);
  const V copies = Fichiers(d);
  // Copies written before the stop are published: all of them when the signal came while
  // the last batch went to disk; the status and the lines above say the run was stopped.
  EXPECT_LE(copies.size(), static_cast<size_t>(kRepertoires * kFichiers));
  for (const std::string& f : copies) {
    EXPECT_EQ(f.find(".jumelix-"), std::string::npos) << "temporary file left: " << f;
    EXPECT_EQ(TempTree::Lire(d + "/" + f), TempTree::Lire(s + "/" + f)) << f;
  }
  EXPECT_FALSE(TempTree::Existe(etat_ + "/jumelix/verrous"));

  // The next run finishes the job.
  EXPECT_EQ(Service(liste), 0);
  EXPECT_EQ(Journal()[Journal().size() - 2], "Synchronisation terminée. Nombre d'erreurs 0");
  EXPECT_EQ(Fichiers(d), Fichiers(s));
}

// Waits at most `secondes` for the program; kills it past that (a run that hangs).
int AttendreAuPlus(pid_t pid, int secondes, int* signal_recu = nullptr) {
  const std::optional<int> statut = test::AttendreFinFils(pid, secondes * 1000);
  if (!statut) return -2;
  if (WIFSIGNALED(*statut) && signal_recu) *signal_recu = WTERMSIG(*statut);
  return WIFEXITED(*statut) ? WEXITSTATUS(*statut) : -1;
}

TEST_F(ServiceSurveille, ASecondStopSignalOfAnotherKindEndsTheProcess) {
  // A report mail to a server that accepts the connection and never says a word holds
  // the run in its mail step. The run is then stopped (SIGSTOP) while two signals of two
  // kinds arrive, so that both are pending when it resumes: the first is remembered, the
  // second must end the process by that signal rather than let it finish with status 2.
  const int serveur = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(serveur, 0);
  sockaddr_in adresse{};
  adresse.sin_family = AF_INET;
  adresse.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t taille = sizeof adresse;
  ASSERT_EQ(bind(serveur, reinterpret_cast<sockaddr*>(&adresse), taille), 0);
  ASSERT_EQ(listen(serveur, 4), 0);
  ASSERT_EQ(getsockname(serveur, reinterpret_cast<sockaddr*>(&adresse), &taille), 0);
  arbre_.Fichier("home/.config/jumelix/JumelixConfig.dat",
                 "Addr=moi@exemple.fr\r\nSMTP=127.0.0.1\r\nPort=" +
                     std::to_string(ntohs(adresse.sin_port)) +
                     "\r\nQdServ=SCF\r\nSecurite=Aucune\r\n");
  arbre_.Fichier("s/f", "f");
  const std::string liste = arbre_.Fichier(
      "travail/l.ini", ListeFichier({arbre_.Chemin("s"), arbre_.Chemin("d")}));

  pid_t pid = Demarrer({"/S", liste});
  ASSERT_GT(pid, 0);
  pollfd attente{serveur, POLLIN, 0};
  ASSERT_EQ(poll(&attente, 1, 20000), 1) << "the report mail never connected";
  const int connexion = accept(serveur, nullptr, nullptr);
  kill(pid, SIGSTOP);
  kill(pid, SIGTERM);
  kill(pid, SIGINT);
  kill(pid, SIGCONT);
  int signal_recu = 0;
  EXPECT_EQ(AttendreAuPlus(pid, 10, &signal_recu), -1);
  EXPECT_TRUE(signal_recu == SIGINT || signal_recu == SIGTERM) << signal_recu;
  close(connexion);
  close(serveur);
  test::AttendreProgramme(-1, travail_);  // removes the output files
}

TEST_F(ServiceSurveille, AFifoAtTheSettingsPathDoesNotHoldTheRun) {
  ASSERT_EQ(mkfifo(arbre_.Repertoire("home/.config/jumelix").append("/JumelixConfig.dat").c_str(),
                   0600),
            0);
  arbre_.Fichier("s/f", "f");
  const std::string d = arbre_.Chemin("d");
  const std::string liste =
      arbre_.Fichier("travail/l.ini", ListeFichier({arbre_.Chemin("s"), d}));
  EXPECT_EQ(AttendreAuPlus(Demarrer({"/S", liste}), 20), 0);
  EXPECT_EQ(TempTree::Lire(d + "/f"), "f");
  test::AttendreProgramme(-1, travail_);
}

TEST_F(ServiceSurveille, WithoutAnyHomeNothingIsWrittenAndNothingWalked) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run as a user without an account";
  constexpr uid_t kSansCompte = 54321;
  if (getpwuid(kSansCompte) != nullptr) GTEST_SKIP() << "uid 54321 has an account here";
  arbre_.Fichier("s/f", "f");
  const std::string d = arbre_.Chemin("d");
  const std::string liste = arbre_.Fichier("travail/l.ini", ListeFichier({arbre_.Chemin("s"), d}));
  // Every directory open to that user, so that a write relative to the working directory
  // would succeed and show.
  ASSERT_EQ(chmod(arbre_.Racine().c_str(), 0777), 0);
  ASSERT_EQ(chmod(travail_.c_str(), 0777), 0);
  const std::string erreurs = arbre_.Chemin("erreurs.txt");
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const int e = open(erreurs.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (e < 0 || dup2(e, 2) < 0 || chdir(travail_.c_str()) != 0 || setgroups(0, nullptr) != 0 ||
        setresgid(kSansCompte, kSansCompte, kSansCompte) != 0 ||
        setresuid(kSansCompte, kSansCompte, kSansCompte) != 0)
      _exit(126);
    char* argv[] = {const_cast<char*>(JUMELIX_BINARY), const_cast<char*>("/S"),
                    const_cast<char*>(liste.c_str()), nullptr};
    char* envp[] = {const_cast<char*>("PATH=/usr/bin:/bin"), const_cast<char*>("LC_ALL=C"),
                    nullptr};
    execve(JUMELIX_BINARY, argv, envp);
    _exit(127);
  }
  EXPECT_EQ(AttendreAuPlus(pid, 20), 1);
  EXPECT_NE(TempTree::Lire(erreurs).find("ERREUR : aucun répertoire personnel utilisable"),
            std::string::npos)
      << TempTree::Lire(erreurs);
  EXPECT_EQ(Fichiers(travail_), V{"l.ini"});
  EXPECT_FALSE(TempTree::Existe(d));
}

TEST_F(ServiceSurveille, ALineEndInAFileNameStaysInItsLogLine) {
  // A terminal escape in a listed path: the pair's line shows it, harmless.
  arbre_.Fichier("s\x1b[2Jx/f", "f");
  const std::string s_echap = arbre_.Chemin("s\x1b[2Jx"), d_echap = arbre_.Chemin("d\tx");
  EXPECT_EQ(Service(arbre_.Fichier("travail/e.ini", ListeFichier({s_echap, d_echap}))), 0);
  EXPECT_EQ(TempTree::Lire(d_echap + "/f"), "f");
  EXPECT_EQ(Journal().at(1), arbre_.Chemin("s\\x1B[2Jx") + " et " + arbre_.Chemin("d\\tx") + " =");
  std::remove(journal_.c_str());

  // A surplus directory that cannot be deleted (a file system is mounted inside it)
  // gives a report line holding its name.
  arbre_.Fichier("s/f", "f");
  const std::string d = arbre_.Chemin("d");
  const std::string point = arbre_.Repertoire("d/deux\nlignes\x1b[2J/montage");
  if (mount("jumelix-test", point.c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  const std::string liste =
      arbre_.Fichier("travail/l.ini", ListeFichier({arbre_.Chemin("s"), d}));
  const int code = Service(liste);
  umount(point.c_str());
  EXPECT_EQ(code, 1);
  const V j = Journal();
  ASSERT_EQ(j.size(), 4u) << TempTree::Lire(journal_);
  EXPECT_EQ(j[1], "Impossible de supprimer le répertoire " + d + "/deux\\nlignes\\x1B[2J");
  EXPECT_EQ(j[2], "Synchronisation terminée. Nombre d'erreurs 1");
}

}  // namespace
}  // namespace jumelix
