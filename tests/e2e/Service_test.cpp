// The real program in service mode, as cron or a systemd timer starts it: no display, a
// home directory of its own, real trees on disk. Checks the log file line by line and the
// trees after the run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "shared/URoutines.h"
#include "support/LancerProgramme.h"
#include "support/ProcessusFils.h"
#include "support/TempTree.h"

namespace jumelix {
namespace {

using test::TempTree;
using V = std::vector<std::string>;

using Resultat = test::TResultatProgramme;

// Runs the program with exactly `arguments` (no shell), in `repertoire`, with an environment
// holding only PATH, LC_ALL=C, HOME and, when given, XDG_STATE_HOME: no DISPLAY at all.
pid_t Demarrer(const V& arguments, const std::string& repertoire, const std::string& home,
               const std::string* xdg_state_home, const V& env_en_plus = {},
               const std::function<void()>& preparer = {}) {
  V env = {"PATH=/usr/bin:/bin", "LC_ALL=C", "HOME=" + home};
  if (xdg_state_home) env.push_back("XDG_STATE_HOME=" + *xdg_state_home);
  env.insert(env.end(), env_en_plus.begin(), env_en_plus.end());
  return test::DemarrerProgramme(arguments, env, repertoire, preparer);
}

Resultat Attendre(pid_t pid, const std::string& repertoire) {
  return test::AttendreProgramme(pid, repertoire);
}

Resultat Lancer(const V& arguments, const std::string& repertoire, const std::string& home,
                const std::string* xdg_state_home) {
  return Attendre(Demarrer(arguments, repertoire, home, xdg_state_home), repertoire);
}

// In the C locale "%x %X" is "mm/dd/yy hh:mm:ss".
const std::regex kDate(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d)");

// Splits a log line into its text and checks the date and time after its last blank pair.
std::string SansDate(const std::string& ligne) {
  const size_t n = std::string(" 00/00/00 00:00:00").size();
  if (ligne.size() < n) {
    ADD_FAILURE() << "line too short for a date: [" << ligne << "]";
    return ligne;
  }
  std::string date = ligne.substr(ligne.size() - n + 1);
  EXPECT_TRUE(std::regex_match(date, kDate)) << ligne;
  EXPECT_EQ(ligne[ligne.size() - n], ' ') << ligne;
  return ligne.substr(0, ligne.size() - n);
}

using test::ListeFichier;

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = arbre_.Repertoire("home");
    etat_ = arbre_.Chemin("etat");
    journal_ = etat_ + "/jumelix/jumelix.log";
    travail_ = arbre_.Repertoire("travail");
  }

  Resultat Service(const V& arguments) { return Lancer(arguments, travail_, home_, &etat_); }

  // The log file's lines with their dates checked and removed; the date-only line that
  // follows the counters line becomes "".
  V Journal() {
    std::string brut = TempTree::Lire(journal_);
    EXPECT_EQ(brut.find('\r'), std::string::npos);
    EXPECT_TRUE(brut.empty() || brut.back() == '\n');
    V lignes;
    for (const std::string& l : DecouperLignes(brut)) {
      // The counters line ends with a line end of its own: its date is the next line.
      bool compteurs = l.rfind("Nombre de fichiers copiés ", 0) == 0;
      lignes.push_back(compteurs ? l : SansDate(l));
    }
    return lignes;
  }

  // A source tree with two files and a directory, and a destination that differs.
  void DeuxArbres(const std::string& s, const std::string& d) {
    arbre_.Fichier(s + "/a.txt", "alpha");
    arbre_.Fichier(s + "/sous/b.txt", "beta");
    arbre_.Fichier(d + "/a.txt", "vieux contenu");
    arbre_.Fichier(d + "/en_trop/c.txt", "c");
  }

  TempTree arbre_;
  std::string home_, etat_, journal_, travail_;
};

TEST_F(ServiceTest, SynchronisesEveryPairAndLogsTheReport) {
  DeuxArbres("s1", "d1");
  arbre_.Fichier("s2/x", "x");
  arbre_.Fichier("d2/x", "x");
  arbre_.DateModif("s2/x", 1700000000);
  arbre_.DateModif("d2/x", 1700000000);
  const std::string s1 = arbre_.Chemin("s1"), d1 = arbre_.Chemin("d1");
  const std::string s2 = arbre_.Chemin("s2"), d2 = arbre_.Chemin("d2");
  const std::string liste =
      arbre_.Fichier("travail/liste.ini", ListeFichier({s1 + "/", "  " + d1, s2, d2 + "/"}));

  Resultat r = Service({"/S", liste});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.sortie, "");
  EXPECT_EQ(r.erreurs, "");
  EXPECT_EQ(Journal(),
            (V{"***** Debut synchronisation, fichier " + liste + " *****", s1 + " et " + d1 + " =",
               s2 + " et " + d2 + " =", "Synchronisation terminée. Nombre d'erreurs 0",
               "Nombre de fichiers copiés 2 ; Supprimés 1 ; identiques 1", ""}));
  // What the run replaced or deleted went to the destination's archive.
  EXPECT_EQ(TempTree::Noms(d1), (V{".jumelix-archive", "a.txt", "sous"}));
  EXPECT_EQ(TempTree::Lire(d1 + "/a.txt"), "alpha");
  EXPECT_EQ(TempTree::Lire(d1 + "/sous/b.txt"), "beta");
  EXPECT_EQ(TempTree::Lire(s1 + "/a.txt"), "alpha");  // the source is only read
  // Each pair, synchronised without error, left its mark in the user's state.
  EXPECT_EQ(TempTree::Noms(etat_ + "/jumelix/marques").size(), 2u);
}

// Where no thread can start (a systemd TasksMax, a container's limit), the walk does
// without workers and the run ends with its report. The limit does not bind root: the run
// is made as an unprivileged user, in a tree given to that user.
TEST_F(ServiceTest, ARunWhereNoThreadCanStartEndsWithItsReport) {
  const auto limiter = [] {
    if (geteuid() == 0) test::DevenirNobody();
    const rlimit un = {1, 1};
    if (setrlimit(RLIMIT_NPROC, &un) != 0) _exit(98);
  };
  DeuxArbres("s", "d");
  const std::string s = arbre_.Chemin("s"), d = arbre_.Chemin("d");
  const std::string liste = arbre_.Fichier("travail/liste.ini", ListeFichier({s, d}));
  if (geteuid() == 0) {
    ASSERT_EQ(lchown(arbre_.Racine().c_str(), test::kIdNobody, test::kIdNobody), 0);
    for (const auto& e : std::filesystem::recursive_directory_iterator(arbre_.Racine())) {
      ASSERT_EQ(lchown(e.path().c_str(), test::kIdNobody, test::kIdNobody), 0) << e.path();
    }
  }
  const std::string racine = arbre_.Racine();
  const std::optional<std::string> sonde = test::ExecuterDansFils(limiter, [&]() -> std::string {
    if (access(JUMELIX_BINARY, X_OK) != 0 || access(racine.c_str(), W_OK | X_OK) != 0) {
      return "the program or the tree cannot be reached";
    }
    try {
      std::thread([] {}).join();
      return "a thread starts all the same";
    } catch (const std::system_error&) {
      return "";
    }
  });
  if (sonde != "") GTEST_SKIP() << "no limit on threads here: " << sonde.value_or("setup failed");

  // A sanitizer build's leak check needs a thread of its own at exit, which the limit
  // forbids: it is not what this test is about.
  Resultat r = Attendre(
      Demarrer({"/S", liste}, travail_, home_, &etat_, {"ASAN_OPTIONS=detect_leaks=0"}, limiter),
      travail_);
  EXPECT_EQ(r.code, 0) << r.erreurs;
  EXPECT_EQ(Journal(), (V{"***** Debut synchronisation, fichier " + liste + " *****",
                          s + " et " + d + " =", "Synchronisation terminée. Nombre d'erreurs 0",
                          "Nombre de fichiers copiés 2 ; Supprimés 1 ; identiques 0", ""}));
  EXPECT_EQ(TempTree::Lire(d + "/sous/b.txt"), "beta");
}

TEST_F(ServiceTest, AFileDeletedByMistakeIsRecoveredFromTheArchiveAfterTheNightlyRun) {
  arbre_.Fichier("documents/rapport.odt", "le rapport de l'année");
  arbre_.DateModif("documents/rapport.odt", 1700000000);
  arbre_.Fichier("documents/photos/ete.jpg", "photo intacte");
  const std::string docs = arbre_.Chemin("documents"), sauve = arbre_.Chemin("sauvegarde");
  const std::string liste = arbre_.Fichier("travail/nuit.ini", ListeFichier({docs, sauve}));
  ASSERT_EQ(Service({"/S", liste}).code, 0);

  // During the day: a file deleted by mistake, another damaged.
  ASSERT_EQ(std::remove((docs + "/rapport.odt").c_str()), 0);
  arbre_.Fichier("documents/photos/ete.jpg", "abîmée");
  arbre_.DateModif("documents/photos/ete.jpg", 1700000100);
  // The next night mirrors the mistake, as it must.
  ASSERT_EQ(Service({"/S", liste}).code, 0);
  EXPECT_EQ(Journal().at(Journal().size() - 2),
            "Nombre de fichiers copiés 1 ; Supprimés 1 ; identiques 0");
  EXPECT_EQ(TempTree::Noms(sauve), (V{".jumelix-archive", "photos"}));

  // The next morning: the old versions wait in the one folder of that night's run, and
  // "cp -a", as the guide says, puts them back with their dates.
  const V nuits = TempTree::Noms(sauve + "/.jumelix-archive");
  ASSERT_EQ(nuits.size(), 1u);
  const std::string nuit = sauve + "/.jumelix-archive/" + nuits[0];
  EXPECT_TRUE(std::regex_match(nuits[0], std::regex(R"(\d{4}-\d\d-\d\d \d{6})"))) << nuits[0];
  for (const std::string& cp : {"cp -a '" + nuit + "/rapport.odt' '" + docs + "/'",
                                "cp -a '" + nuit + "/photos/ete.jpg' '" + docs + "/photos/'"}) {
    ASSERT_EQ(std::system(cp.c_str()), 0) << cp;
  }
  EXPECT_EQ(TempTree::Lire(docs + "/rapport.odt"), "le rapport de l'année");
  EXPECT_EQ(TempTree::Lire(docs + "/photos/ete.jpg"), "photo intacte");
  struct stat st {};
  ASSERT_EQ(stat((docs + "/rapport.odt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 1700000000);
  ASSERT_EQ(Service({"/S", liste}).code, 0);
  EXPECT_EQ(TempTree::Lire(sauve + "/rapport.odt"), "le rapport de l'année");
  EXPECT_EQ(TempTree::Lire(sauve + "/photos/ete.jpg"), "photo intacte");
}

TEST_F(ServiceTest, ZeroArchiveDaysInTheSettingsDeleteAtOnce) {
  arbre_.Fichier("home/.config/jumelix/JumelixConfig.dat", "JoursArchive=0\r\n");
  arbre_.Fichier("s/garde", "g");
  arbre_.Fichier("d/perdu", "p");
  const std::string liste =
      arbre_.Fichier("travail/l.ini", ListeFichier({arbre_.Chemin("s"), arbre_.Chemin("d")}));
  ASSERT_EQ(Service({"/S", liste}).code, 0);
  EXPECT_EQ(TempTree::Noms(arbre_.Chemin("d")), V{"garde"});
  EXPECT_EQ(Journal().at(Journal().size() - 2),
            "Nombre de fichiers copiés 1 ; Supprimés 1 ; identiques 0");
}

TEST_F(ServiceTest, AppendsToAnExistingLogAndCountsErrorsOverTheRun) {
  arbre_.Fichier("etat/jumelix/jumelix.log", "ancienne ligne\n");
  arbre_.Fichier("s/f", "f");
  arbre_.Fichier("autre/f", "f");
  const std::string s = arbre_.Chemin("s"), autre = arbre_.Chemin("autre");
  // The pair check refuses a destination inside its source, and a pair of one directory.
  const std::string liste =
      arbre_.Fichier("travail/l.ini", ListeFichier({s, s + "/dedans", autre, autre}));
  ASSERT_EQ(Service({liste, "/S"}).code, 1);  // errors in the report
  ASSERT_EQ(Service({"/s", liste}).code, 1);

  std::string brut = TempTree::Lire(journal_);
  ASSERT_EQ(brut.rfind("ancienne ligne\n", 0), 0u);
  arbre_.Fichier("etat/jumelix/jumelix.log", brut.substr(std::string("ancienne ligne\n").size()));
  const V un_run = {"***** Debut synchronisation, fichier " + liste + " *****",
                    "Répertoires source et destination incompatibles",
                    "Répertoires source et destination incompatibles",
                    "Synchronisation terminée. Nombre d'erreurs 2",
                    "Nombre de fichiers copiés 0 ; Supprimés 0 ; identiques 0",
                    ""};
  V deux_runs = un_run;
  deux_runs.insert(deux_runs.end(), un_run.begin(), un_run.end());
  EXPECT_EQ(Journal(), deux_runs);
  EXPECT_FALSE(TempTree::Existe(s + "/dedans"));
}

TEST_F(ServiceTest, SwitchAloneIsAnErrorAndWalksNothing) {
  Resultat r = Service({"/S"});
  EXPECT_EQ(r.code, 1);  // a scheduler started without its list must notice
  const std::string erreur =
      "ERREUR : Aucun fichier liste indiqué, rien à synchroniser (utilisation : jumelix /S "
      "fichier-liste)";
  EXPECT_EQ(r.erreurs, erreur + "\n");
  EXPECT_EQ(Journal(), (V{erreur, "***** Debut synchronisation, fichier  *****",
                          "Synchronisation terminée. Nombre d'erreurs 1",
                          "Nombre de fichiers copiés 0 ; Supprimés 0 ; identiques 0", ""}));
}

TEST_F(ServiceTest, UnreadableListFileIsLoggedBeforeTheBanner) {
  const std::string absent = arbre_.Chemin("nulle part/liste.ini");
  for (const std::string& liste : {absent, arbre_.Repertoire("un repertoire")}) {
    std::remove(journal_.c_str());
    Resultat r = Service({"/S", liste});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(Journal(), (V{"ERREUR : Fichier non trouvé : " + liste,
                            "***** Debut synchronisation, fichier " + liste + " *****",
                            "Synchronisation terminée. Nombre d'erreurs 1",
                            "Nombre de fichiers copiés 0 ; Supprimés 0 ; identiques 0", ""}));
  }
}

// The lists a nightly run must not act on: every tree stays byte for byte as it was.
TEST_F(ServiceTest, AListThatCannotBeTrustedStopsBeforeAnyPair) {
  arbre_.Fichier("docs/rapport.odt", "rapport");
  arbre_.Fichier("sauve-docs/rapport.odt", "ancien rapport");
  arbre_.Fichier("photos/ete.jpg", "photo");
  arbre_.Fichier("sauve-photos/ete.jpg", "photo");
  const std::string docs = arbre_.Chemin("docs"), sauve_docs = arbre_.Chemin("sauve-docs");
  const std::string photos = arbre_.Chemin("photos"),
                    sauve_photos = arbre_.Chemin("sauve-photos");
  const std::string lien = arbre_.Lien("lien-sauve", sauve_docs);
  const std::string recopie = "chaque couple écraserait ce que l'autre y a copié : ";
  const std::string titres = "Répertoire source\r\nRépertoire cible\r\n";
  struct Cas {
    std::string contenu, erreur;
  };
  const Cas cas[] = {
      // One blank line: read as it stands, sauve-docs would be mirrored over photos.
      {titres + "\r\n" + docs + "\r\n" + sauve_docs + "\r\n" + photos + "\r\n" + sauve_photos +
           "\r\n",
       "ERREUR : Fichier liste incorrect, ligne 3 vide (un couple sans source ou sans cible "
       "décalerait les suivants) : "},
      {titres + docs + "\r\n  \r\n" + photos + "\r\n" + sauve_photos + "\r\n",
       "ERREUR : Fichier liste incorrect, ligne 4 vide (un couple sans source ou sans cible "
       "décalerait les suivants) : "},
      {"Répertoire source\tRépertoire cible\r\n" + docs + "\r\n" + sauve_docs + "\r\n",
       "ERREUR : Fichier liste non reconnu, la ligne 1 doit être « Répertoire source » : "},
      {titres + docs + "\r\n" + sauve_docs + "\r\n" + photos + "\r\n",
       "ERREUR : Fichier liste incorrect, la ligne 5 (répertoire source) n'a pas de répertoire "
       "cible : "},
      {titres, "ERREUR : Rien à synchroniser, le fichier liste ne contient aucun couple de "
               "répertoires : "},
      // Every night the second pair would overwrite the first one's mirror.
      {titres + docs + "\r\n" + sauve_docs + "\r\n\r\n\r\n" + photos + "\r\n" + lien + "/\r\n",
       "ERREUR : Fichier liste incorrect, les lignes 4 et 8 désignent le même répertoire cible " +
           ("(« " + sauve_docs + " » et « " + lien + " ») : ") + recopie},
      {titres + photos + "\r\n" + sauve_docs + "/photos\r\n" + docs + "\r\n" + sauve_docs + "\r\n",
       "ERREUR : Fichier liste incorrect, le répertoire cible de la ligne 4 (« " + sauve_docs +
           "/photos ») est à l'intérieur de celui de la ligne 6 (« " + sauve_docs +
           " ») : " + recopie},
  };
  for (const Cas& k : cas) {
    std::remove(journal_.c_str());
    const std::string liste = arbre_.Fichier("travail/l.ini", k.contenu);
    Resultat r = Service({"/S", liste});
    EXPECT_EQ(r.code, 1) << k.contenu;
    EXPECT_EQ(r.erreurs, k.erreur + liste + "\n");
    EXPECT_EQ(Journal(), (V{k.erreur + liste,
                            "***** Debut synchronisation, fichier " + liste + " *****",
                            "Synchronisation terminée. Nombre d'erreurs 1",
                            "Nombre de fichiers copiés 0 ; Supprimés 0 ; identiques 0", ""}));
    EXPECT_EQ(TempTree::Lire(docs + "/rapport.odt"), "rapport");
    EXPECT_EQ(TempTree::Noms(sauve_docs), V{"rapport.odt"});
    EXPECT_EQ(TempTree::Lire(sauve_docs + "/rapport.odt"), "ancien rapport");
    EXPECT_EQ(TempTree::Noms(photos), V{"ete.jpg"});
    EXPECT_EQ(TempTree::Lire(photos + "/ete.jpg"), "photo");
    EXPECT_EQ(TempTree::Noms(sauve_photos), V{"ete.jpg"});
  }
}

TEST_F(ServiceTest, AUtf8ListWithOneWindowsLineStillRuns) {
  arbre_.Fichier("données/é.txt", "é");
  arbre_.Fichier("copié/vieux", "v");
  const std::string racine = arbre_.Racine();
  // The titles and the destination in UTF-8, the source typed on Windows.
  const std::string liste = arbre_.Fichier(
      "travail/mixte.ini", "Répertoire source\r\nRépertoire cible\r\n" + racine +
                               "/donn\xE9"
                               "es\r\n" +
                               racine + "/copié\r\n");
  ASSERT_EQ(Service({"/S", liste}).code, 0);
  EXPECT_EQ(TempTree::Noms(racine + "/copié"), (V{".jumelix-archive", "é.txt"}));
  EXPECT_EQ(Journal().at(1), racine + "/données et " + racine + "/copié =");
}

TEST_F(ServiceTest, Windows1252ListFileWithAccentedPaths) {
  arbre_.Fichier("données/é.txt", "é");
  arbre_.Repertoire("copié");
  const std::string racine = arbre_.Racine();
  std::string cp1252 = "R\xE9pertoire source\r\nR\xE9pertoire cible\r\n" + racine +
                       "/donn\xE9"
                       "es\r\n" +
                       racine + "/copi\xE9\r\n";
  const std::string liste = arbre_.Fichier("travail/liste 1252.ini", cp1252);
  ASSERT_EQ(Service({liste, "/S"}).code, 0);
  EXPECT_EQ(TempTree::Lire(racine + "/copié/é.txt"), "é");
  V j = Journal();
  ASSERT_EQ(j.size(), 5u);
  EXPECT_EQ(j[1], racine + "/données et " + racine + "/copié =");
}

TEST_F(ServiceTest, ARelativeListFileWithABlankIsOneArgument) {
  // Order, case and which list wins are the parser's (app/Programme_test); the binary
  // takes options in any order in LigneCommande_test.
  DeuxArbres("s", "d");
  const std::string s = arbre_.Chemin("s"), d = arbre_.Chemin("d");
  arbre_.Fichier("travail/ma liste.ini", ListeFichier({s, d}));
  Resultat r = Service({"/S", "ma liste.ini"});
  EXPECT_EQ(r.code, 0);
  V j = Journal();
  ASSERT_EQ(j.size(), 5u);
  EXPECT_EQ(j[0], "***** Debut synchronisation, fichier ma liste.ini *****");
  EXPECT_EQ(j[1], s + " et " + d + " =");
  EXPECT_EQ(TempTree::Lire(d + "/a.txt"), "alpha");
}

TEST_F(ServiceTest, LogGoesUnderHomeWithoutXdgStateHome) {
  Resultat r = Lancer({"/S"}, travail_, home_, nullptr);
  EXPECT_EQ(r.code, 1);  // no list file
  std::string brut = TempTree::Lire(home_ + "/.local/state/jumelix/jumelix.log");
  EXPECT_NE(brut.find("\n***** Debut synchronisation, fichier  ***** "), std::string::npos)
      << brut;
  EXPECT_FALSE(TempTree::Existe(etat_));
}

TEST_F(ServiceTest, LogIsNamedAfterTheInvokedProgram) {
  const std::string lien = arbre_.Lien("bin/miroir", JUMELIX_BINARY);
  V env = {"HOME=" + home_, "XDG_STATE_HOME=" + etat_};
  pid_t pid = fork();
  if (pid == 0) {
    char* argv[] = {const_cast<char*>(lien.c_str()), const_cast<char*>("/S"), nullptr};
    char* envp[] = {env[0].data(), env[1].data(), nullptr};
    int nul = open("/dev/null", O_WRONLY);
    if (nul < 0 || dup2(nul, 1) < 0 || dup2(nul, 2) < 0) _exit(126);
    execve(lien.c_str(), argv, envp);
    _exit(127);
  }
  int statut = 0;
  ASSERT_EQ(waitpid(pid, &statut, 0), pid);
  EXPECT_TRUE(WIFEXITED(statut) && WEXITSTATUS(statut) == 1);  // no list file
  EXPECT_TRUE(TempTree::Existe(etat_ + "/jumelix/miroir.log"));
  EXPECT_FALSE(TempTree::Existe(journal_));
}

TEST_F(ServiceTest, LogThatCannotBeWrittenDoesNotStopTheRun) {
  DeuxArbres("s", "d");
  const std::string s = arbre_.Chemin("s"), d = arbre_.Chemin("d");
  const std::string liste = arbre_.Fichier("travail/l.ini", ListeFichier({s, d}));
  arbre_.Fichier("etat", "a file where the state directory should be");
  Resultat r = Service({"/S", liste});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(TempTree::Lire(d + "/a.txt"), "alpha");
}

TEST_F(ServiceTest, SwitchLookalikesAreListFiles) {
  // An argument starting with "-" is an option: "-S" is a usage error, nothing is run.
  std::remove(journal_.c_str());
  const Resultat option = Service({"/S", "-S"});
  EXPECT_EQ(option.code, 2);
  EXPECT_EQ(option.erreurs, "jumelix : option inconnue : « -S »\nEssayez « jumelix --help ».\n");
  EXPECT_FALSE(TempTree::Existe(journal_));
  for (const std::string arg : {"./-S", "/Service"}) {
    std::remove(journal_.c_str());
    Resultat r = Service({"/S", arg});
    EXPECT_EQ(r.code, 1);
    V j = Journal();
    ASSERT_FALSE(j.empty());
    EXPECT_EQ(j[0], "ERREUR : Fichier non trouvé : " + arg);
  }
}

TEST(Programme, WithoutDisplayNorSwitchItSaysHowToRunHeadless) {
  TempTree arbre;
  const std::string home = arbre.Repertoire("home"), etat = arbre.Chemin("etat");
  Resultat r = Lancer({}, arbre.Racine(), home, &etat);
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.erreurs.find("/S fichier-liste"), std::string::npos) << r.erreurs;
  EXPECT_FALSE(TempTree::Existe(etat));
}

TEST(Programme, HelpAndVersionPrintAndExit) {
  TempTree arbre;
  const std::string home = arbre.Repertoire("home"), etat = arbre.Chemin("etat");
  Resultat r = Lancer({"/S", "--help"}, arbre.Racine(), home, &etat);
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.sortie.find("[/S] [fichier-liste]"), std::string::npos) << r.sortie;
  r = Lancer({"--version"}, arbre.Racine(), home, &etat);
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(std::regex_match(r.sortie, std::regex("jumelix \\d+\\.\\d+\\.\\d+\n"))) << r.sortie;
  EXPECT_FALSE(TempTree::Existe(etat));  // nothing was run, nothing logged
}

}  // namespace
}  // namespace jumelix
