// The real program driven by the GNU options of its command line: the dry run, the
// itemized changes, the progress line (only on a terminal), the JSON result, the choice of
// pairs, and the usage errors that run nothing.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "app/UJumelix.h"
#include "shared/UMessErreurs.h"
#include "shared/URoutines.h"
#include "support/LancerProgramme.h"
#include "support/TempTree.h"
#include "support/VueEnregistree.h"

namespace jumelix {
namespace {

namespace fs = std::filesystem;
using test::TempTree;
using V = std::vector<std::string>;

// Every entry under `racine`: path, kind, size, mtime in nanoseconds and content, so
// that any change at all shows.
V Etat(const std::string& racine) {
  V lignes;
  for (const auto& e : fs::recursive_directory_iterator(racine)) {
    struct stat st {};
    ::lstat(e.path().c_str(), &st);
    std::string l = e.path().string() + " " + std::to_string(st.st_mode) + " " +
                    std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
                    std::to_string(st.st_mtim.tv_nsec);
    if (S_ISREG(st.st_mode)) l += " " + TempTree::Lire(e.path().string());
    lignes.push_back(l);
  }
  std::sort(lignes.begin(), lignes.end());
  return lignes;
}

// Standard output of a python3 script reading the file `json` (a real JSON parser).
std::string LireJson(const std::string& script, const std::string& json) {
  FILE* f = popen(("python3 -c \"" + script + "\" '" + json + "' 2>&1").c_str(), "r");
  if (f == nullptr) return "popen";
  std::string sortie;
  char buf[512];
  for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) sortie.append(buf, n);
  pclose(f);
  return sortie;
}

// The lines of the itemized output (the other lines of a dry run are the report's).
V Changements(const std::string& sortie, bool sans_archive) {
  V lignes;
  const std::regex verbe("^(créé|remplacé|attributs|supprimé|archivé) +/.*");
  for (std::string l : DecouperLignes(sortie)) {
    if (!std::regex_match(l, verbe)) continue;
    if (sans_archive && l.find(" -> ") != std::string::npos) l.erase(l.find(" -> "));
    lignes.push_back(l);
  }
  return lignes;
}

class LigneCommandeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = t_.Repertoire("home");
    etat_ = t_.Chemin("etat");
    journal_ = etat_ + "/jumelix/jumelix.log";
    travail_ = t_.Repertoire("travail");
    // Trees that differ in every way a mirror knows: a file to replace, one to delete, a
    // missing directory with content, a file only the source has.
    t_.Fichier("s1/change.txt", "nouveau contenu");
    t_.Fichier("s1/nouveau.txt", "n");
    t_.Fichier("s1/rep/sous/f", "f");
    t_.Fichier("s1/pareil.txt", "p");
    t_.Fichier("d1/change.txt", "ancien");
    t_.Fichier("d1/vieux.txt", "v");
    t_.Fichier("d1/pareil.txt", "p");
    t_.DateModif("s1/pareil.txt", 1'600'000'000);
    t_.DateModif("d1/pareil.txt", 1'600'000'000);
    t_.Fichier("s2/a", "a");
    t_.Repertoire("d2");
    liste_ = t_.Fichier("liste.ini", "Répertoire source\r\nRépertoire cible\r\n" + t_ / "s1" +
                                         "\r\n" + t_ / "d1" + "\r\n" + t_ / "s2" + "\r\n" +
                                         t_ / "d2" + "\r\n");
  }

  // The four trees of the list, everything about them.
  V Arbres() const {
    V tout;
    for (const char* a : {"s1", "d1", "s2", "d2"}) {
      const V e = Etat(t_ / a);
      tout.insert(tout.end(), e.begin(), e.end());
    }
    return tout;
  }

  V Env() const {
    return {"PATH=/usr/bin:/bin", "LC_ALL=C.UTF-8", "HOME=" + home_, "XDG_STATE_HOME=" + etat_};
  }
  test::TResultatProgramme Lancer(const V& arguments) {
    return test::LancerProgramme(arguments, Env(), travail_);
  }

  TempTree t_;
  std::string home_, etat_, journal_, travail_, liste_;
};

TEST_F(LigneCommandeTest, ADryRunPrintsTheComparisonChangesNothingAndLogsNothing) {
  // What the window's comparison shows, for the same list.
  TVueEnregistree vue;
  {
    TJumelix fenetre(vue, RapportMailProgramme(), [](const std::string&) {}, {}, "");
    TLigneCommande ligne;
    ligne.FichierListe = liste_;
    fenetre.FormCreate(ligne);
    fenetre.Executer(true);
  }
  ASSERT_FALSE(vue.log.empty());
  const V avant = Arbres();

  const test::TResultatProgramme r = Lancer({"-n", liste_});
  EXPECT_EQ(r.code, 1) << r.erreurs;
  EXPECT_EQ(DecouperLignes(r.sortie), vue.log);
  EXPECT_EQ(r.erreurs, "");
  EXPECT_EQ(Arbres(), avant);
  EXPECT_FALSE(TempTree::Existe(etat_));

  // Once synchronised, the same dry run finds nothing: silent, status 0.
  ASSERT_EQ(Lancer({"/S", liste_}).code, 0);
  const test::TResultatProgramme identiques = Lancer({liste_, "--dry-run"});
  EXPECT_EQ(identiques.code, 0) << identiques.sortie << identiques.erreurs;
  EXPECT_EQ(identiques.sortie, "");
}

TEST_F(LigneCommandeTest, ItemizedChangesAreTheOnesMadeAndADryRunForetellsThem) {
  const test::TResultatProgramme simulation = Lancer({"-ni", liste_});
  const test::TResultatProgramme run = Lancer({"-i", liste_});
  EXPECT_EQ(run.code, 0) << run.erreurs;
  const V faits = Changements(run.sortie, false);
  // The same changes; a synchronisation removes a level's surplus before its copies, so
  // their order may differ.
  V prevus = Changements(simulation.sortie, true), sans_archive = Changements(run.sortie, true);
  std::sort(prevus.begin(), prevus.end());
  std::sort(sans_archive.begin(), sans_archive.end());
  EXPECT_EQ(prevus, sans_archive);
  const std::string d1 = t_ / "d1", d2 = t_ / "d2";
  const V attendus = {"archivé    " + d1 + "/vieux.txt",
                      "créé       " + d1 + "/nouveau.txt (1 octets)",
                      "créé       " + d1 + "/rep/",
                      "créé       " + d1 + "/rep/sous/",
                      "créé       " + d1 + "/rep/sous/f (1 octets)",
                      "remplacé   " + d1 + "/change.txt (15 octets)",
                      "créé       " + d2 + "/a (1 octets)"};
  V tries = attendus;
  std::sort(tries.begin(), tries.end());
  EXPECT_EQ(sans_archive, tries) << run.sortie;
  // What the lines say is what the disk holds: copies in place, old versions archived.
  EXPECT_EQ(TempTree::Lire(d1 + "/change.txt"), "nouveau contenu");
  EXPECT_FALSE(TempTree::Existe(d1 + "/vieux.txt"));
  for (const std::string& l : faits) {
    const size_t fleche = l.find(" -> ");
    if (fleche == std::string::npos) continue;
    std::string archive = l.substr(fleche + 4);
    if (archive.starts_with("archivé dans ")) archive.erase(0, std::string("archivé dans ").size());
    EXPECT_EQ(TempTree::Lire(archive), l.find("change.txt") != std::string::npos ? "ancien" : "v");
  }
  // Never in the log.
  EXPECT_EQ(TempTree::Lire(journal_).find("créé"), std::string::npos);
}

TEST_F(LigneCommandeTest, OptionsGoAnywhereWithTheSwitchAndAnUnknownOneRunsNothing) {
  const V ordres[] = {{"/S", liste_, "-i"}, {"-i", "/s", liste_}, {liste_, "--itemize-changes", "/S"}};
  for (const V& arguments : ordres) {
    fs::remove_all(t_ / "d2");
    t_.Repertoire("d2");
    const test::TResultatProgramme r = Lancer(arguments);
    EXPECT_EQ(r.code, 0) << arguments[0] << r.erreurs;
    EXPECT_NE(r.sortie.find("créé       " + t_ / "d2" + "/a (1 octets)"), std::string::npos)
        << arguments[0];
  }
  const std::string journal = TempTree::Lire(journal_);
  const V avant = Arbres();
  for (const V& arguments : {V{"/S", liste_, "-z"}, V{"--pair=9", liste_}, V{"--pair=/nulle/part", "-n", liste_},
                             V{"--json", liste_}}) {
    const test::TResultatProgramme r = Lancer(arguments);
    EXPECT_EQ(r.code, 2) << arguments[0];
    EXPECT_EQ(r.sortie, "") << arguments[0];
    EXPECT_NE(r.erreurs.find("jumelix : "), std::string::npos) << arguments[0] << r.erreurs;
  }
  EXPECT_EQ(Lancer({"/S", "-z", liste_}).erreurs,
            "jumelix : option inconnue : « -z »\nEssayez « jumelix --help ».\n");
  EXPECT_EQ(Arbres(), avant);
  EXPECT_EQ(TempTree::Lire(journal_), journal);
}

TEST_F(LigneCommandeTest, OnlyTheChosenPairsRunAndTheJsonTellsEachPair) {
  const std::string json = t_ / "resultat.json";
  const test::TResultatProgramme r = Lancer({"--pair=" + t_ / "d2/", liste_, "--json=" + json});
  EXPECT_EQ(r.code, 0) << r.erreurs;
  EXPECT_TRUE(TempTree::Existe(t_ / "d2/a"));
  EXPECT_TRUE(TempTree::Existe(t_ / "d1/vieux.txt"));
  // Read by a real JSON parser, against the log's counters line.
  EXPECT_EQ(LireJson("import json, sys\n"
                     "r = json.load(open(sys.argv[1]))\n"
                     "print(r['code_sortie'], r['simulation'], r['debut'][:2], r['fin'][:2])\n"
                     "for c in r['couples']:\n"
                     "    print(c['position'], c['resultat'], c['etat'], c['copies'], "
                     "c['supprimes'], c['identiques'], c['nb_erreurs'], "
                     "c['destination'].endswith(str(c['position'])))\n",
                     json),
            "0 False 20 20\n1 non-traite ??? 0 0 0 0 True\n2 synchronise = 1 0 0 0 True\n");
  EXPECT_NE(TempTree::Lire(journal_).find("Nombre de fichiers copiés 1 ; Supprimés 0 ; identiques 0"),
            std::string::npos);

  // A dry run's differences are its pairs' report lines; the file is replaced whole.
  EXPECT_EQ(Lancer({"-n", "--json=" + json, liste_}).code, 1);
  EXPECT_EQ(LireJson("import json,sys; r=json.load(open(sys.argv[1])); "
                     "print(r['simulation'], r['code_sortie'], [(c['resultat'], "
                     "c['nb_erreurs'] == len(c['erreurs']) > 0) for c in r['couples']])",
                     json),
            "True 1 [('erreurs', True), ('identique', False)]\n");
  // A file that is not such a result (the list, given where the result should go) is
  // never replaced.
  const std::string liste = TempTree::Lire(liste_);
  const test::TResultatProgramme refus = Lancer({"-n", "--json", liste_, liste_});
  EXPECT_EQ(refus.code, 2);
  EXPECT_EQ(TempTree::Lire(liste_), liste);
}

TEST_F(LigneCommandeTest, AFailureIsItemisedWithItsCauseAndTheJsonNamesIt) {
  // A destination folder on a read-only file system: the copy into it and its attributes
  // fail, with the same cause.
  t_.Fichier("s3/ro/f", "f");
  const std::string point = t_.Repertoire("d3/ro");
  if (mount("jumelix-test", point.c_str(), "tmpfs", MS_RDONLY, "size=1m") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  const std::string s3 = t_ / "s3", d3 = t_ / "d3", json = t_ / "r.json";
  const std::string liste = t_.Fichier(
      "l3.ini", "Répertoire source\r\nRépertoire cible\r\n" + s3 + "\r\n" + d3 + "\r\n");
  const test::TResultatProgramme r = Lancer({"-i", "--json=" + json, liste});
  umount(point.c_str());
  EXPECT_EQ(r.code, 1) << r.erreurs;
  V erreurs;
  for (const std::string& l : DecouperLignes(r.sortie))
    if (l.starts_with("erreur ")) erreurs.push_back(l);
  const std::string cause = TexteErreurSysteme(EROFS);  // both run in the C locale
  const std::string copie =
      "Erreur lors de la copie du fichier " + s3 + "/ro/f vers " + d3 + "/ro/f. " + cause;
  const std::string attributs = "Impossible de modifier les attributs de " + d3 + "/ro";
  // Said once: a line that names the cause already gets only its symbolic name.
  EXPECT_EQ(erreurs, (V{"erreur     " + copie + " (EROFS)",
                        "erreur     " + attributs + " : " + cause + " (EROFS)"}))
      << r.sortie;
  EXPECT_EQ(LireJson("import json,sys; c=json.load(open(sys.argv[1]))['couples'][0]; "
                     "print(c['erreurs'], c['causes'])",
                     json),
            "['" + copie + "', '" + attributs + "'] ['EROFS', 'EROFS']\n");
  // The log keeps its lines as they always read.
  const std::string log = TempTree::Lire(journal_);
  EXPECT_NE(log.find(attributs + " "), std::string::npos) << log;
  EXPECT_EQ(log.find("EROFS"), std::string::npos) << log;
}

// Runs the program with its standard error (and output) on a pseudo-terminal; returns all
// it wrote there once it has exited.
std::string SurTerminal(const V& arguments, const V& env, const std::string& repertoire, int& code) {
  int maitre = -1;
  winsize taille{};
  taille.ws_col = 60;
  taille.ws_row = 24;
  const pid_t pid = forkpty(&maitre, nullptr, nullptr, &taille);
  if (pid == 0) {
    if (chdir(repertoire.c_str()) != 0) _exit(127);
    std::vector<char*> argv, envp;
    std::string programme = JUMELIX_BINARY;
    argv.push_back(programme.data());
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    execve(JUMELIX_BINARY, argv.data(), envp.data());
    _exit(127);
  }
  std::string tout;
  const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  char buf[4096];
  while (std::chrono::steady_clock::now() < limite) {
    pollfd p{maitre, POLLIN, 0};
    if (poll(&p, 1, 1000) <= 0) continue;
    const ssize_t n = read(maitre, buf, sizeof buf);
    if (n <= 0) break;  // EIO once the child has gone
    tout.append(buf, static_cast<size_t>(n));
  }
  close(maitre);
  int statut = 0;
  waitpid(pid, &statut, 0);
  code = WIFEXITED(statut) ? WEXITSTATUS(statut) : -1;
  return tout;
}

TEST_F(LigneCommandeTest, ProgressIsDrawnOnATerminalOnlyAndErasedAtTheEnd) {
  for (int k = 0; k < 300; ++k) t_.Fichier("s2/beaucoup/f" + std::to_string(k), "x");
  int code = -1;
  const std::string terminal = SurTerminal({"-n", liste_}, Env(), travail_, code);
  EXPECT_EQ(code, 1);
  EXPECT_NE(terminal.find("\r[1/2] "), std::string::npos) << terminal;
  EXPECT_NE(terminal.find("\r[2/2] "), std::string::npos) << terminal;
  // Redrawn in place, never wider than the terminal, erased before the report lines.
  for (const std::string& l : DecouperLignes(terminal)) {
    if (l.starts_with("[1/2]") || l.starts_with("[2/2]")) {
      EXPECT_LE(NbCaracteres(l), 59u + 3) << l;
    }
  }
  EXPECT_TRUE(terminal.ends_with("\r\033[K")) << terminal;
  EXPECT_NE(terminal.find("\r\033[K" + t_ / "d1/"), std::string::npos) << terminal;
  // Plain /S on a terminal keeps its old silence; --no-progress turns it off.
  for (const V& arguments : {V{"/S", liste_}, V{"-n", "--no-progress", liste_}}) {
    EXPECT_EQ(SurTerminal(arguments, Env(), travail_, code).find("\033[K"), std::string::npos)
        << arguments[0];
  }
  // Not on a pipe, unless asked for.
  EXPECT_EQ(Lancer({"-n", liste_}).erreurs, "");
  EXPECT_NE(Lancer({"-n", "--progress", liste_}).erreurs.find("\r[1/2] "), std::string::npos);
}

}  // namespace
}  // namespace jumelix
