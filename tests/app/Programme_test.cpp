#include "app/Programme.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <sstream>

#include "app/Journal.h"
#include "app/UJumelix.h"
#include "platform/System.h"
#include "shared/URoutines.h"
#include "support/TempTree.h"

namespace jumelix {
namespace {

namespace fs = std::filesystem;

struct CasLigne {
  std::vector<std::string> arguments;
  bool service;
  std::string liste;
};

TEST(LigneCommande, SwitchAndListFileInAnyOrderAndCase) {
  const CasLigne cas[] = {
      {{}, false, ""},
      {{"/S", "/etc/liste.ini"}, true, "/etc/liste.ini"},
      {{"/etc/liste.ini", "/S"}, true, "/etc/liste.ini"},
      {{"/s", "/etc/liste.ini"}, true, "/etc/liste.ini"},
      {{"/S"}, true, ""},
      {{"/home/a b/ma liste.ini"}, false, "/home/a b/ma liste.ini"},
      {{"premiere.ini", "/S", "seconde.ini"}, true, "seconde.ini"},
      {{"./-S"}, false, "./-S"},
      {{"--", "-S"}, false, "-S"},
      {{"/Service"}, false, "/Service"},
      {{"/S "}, false, "/S "},
      {{" liste.ini "}, false, " liste.ini "},
      {{"liste.ini", ""}, false, ""},
  };
  for (const CasLigne& c : cas) {
    TLigneCommande lc = AnalyserLigneCommande(c.arguments);
    std::string tous;
    for (const auto& a : c.arguments) tous += "[" + a + "]";
    EXPECT_EQ(lc.ModeService, c.service) << tous;
    EXPECT_EQ(lc.FichierListe, c.liste) << tous;
    EXPECT_FALSE(lc.Aide || lc.Version) << tous;
  }
}

TEST(LigneCommande, HelpAndVersion) {
  TLigneCommande lc = AnalyserLigneCommande({"/S", "--help", "l.ini"});
  EXPECT_TRUE(lc.Aide);
  EXPECT_EQ(lc.FichierListe, "l.ini");
  EXPECT_TRUE(AnalyserLigneCommande({"--version"}).Version);
  EXPECT_FALSE(AnalyserLigneCommande({"--HELP"}).Aide);
  EXPECT_NE(TexteAide("miroir").find("miroir [/S] [fichier-liste]"), std::string::npos);
  EXPECT_NE(TexteAide("miroir").find("jumelix/miroir.log"), std::string::npos);
  EXPECT_EQ(TexteVersion("1.2.3"), "jumelix 1.2.3\n");
}

// The GNU options: every case names what it sets; the rest keeps its default.
struct CasOption {
  std::vector<std::string> arguments;
  TLigneCommande attendu;
};

TLigneCommande Attendu(std::function<void(TLigneCommande&)> regler) {
  TLigneCommande lc;
  regler(lc);
  return lc;
}

TEST(LigneCommande, OptionsInAnyOrderWithTheSwitchAndTheListFile) {
  const CasOption cas[] = {
      {{"-n", "l.ini"}, Attendu([](auto& l) { l.Simulation = true; l.FichierListe = "l.ini"; })},
      {{"l.ini", "--dry-run", "/s"},
       Attendu([](auto& l) { l.Simulation = l.ModeService = true; l.FichierListe = "l.ini"; })},
      {{"-ni", "l.ini"},
       Attendu([](auto& l) { l.Simulation = l.Detail = true; l.FichierListe = "l.ini"; })},
      {{"/S", "l.ini", "--itemize-changes", "--no-progress"}, Attendu([](auto& l) {
         l.ModeService = l.Detail = true;
         l.FichierListe = "l.ini";
         l.Avancement = TAvancementTerminal::Jamais;
       })},
      {{"--no-progress", "--progress", "a.ini", "b.ini"}, Attendu([](auto& l) {
         l.Avancement = TAvancementTerminal::Toujours;
         l.FichierListe = "b.ini";
       })},
      {{"--pair=2", "l.ini", "--pair", "~/photos", "--json=/tmp/r.json"}, Attendu([](auto& l) {
         l.Couples = {"2", "~/photos"};
         l.FichierListe = "l.ini";
         l.FichierJson = "/tmp/r.json";
       })},
      {{"--dry", "--item", "l.ini"},
       Attendu([](auto& l) { l.Simulation = l.Detail = true; l.FichierListe = "l.ini"; })},
      {{"-h"}, Attendu([](auto& l) { l.Aide = true; })},
      {{"--", "--json=x", "-n"}, Attendu([](auto& l) { l.FichierListe = "-n"; })},
      {{"-n", "-"}, Attendu([](auto& l) { l.Simulation = true; l.FichierListe = "-"; })},
  };
  for (const CasOption& c : cas) {
    std::string tous;
    for (const auto& a : c.arguments) tous += "[" + a + "]";
    // Twice: the parser must not keep getopt's state from one call to the next.
    for (int fois = 0; fois < 2; ++fois) {
      const TLigneCommande lc = AnalyserLigneCommande(c.arguments);
      EXPECT_EQ(lc.Erreur, "") << tous;
      EXPECT_EQ(lc.ModeService, c.attendu.ModeService) << tous;
      EXPECT_EQ(lc.FichierListe, c.attendu.FichierListe) << tous;
      EXPECT_EQ(lc.Simulation, c.attendu.Simulation) << tous;
      EXPECT_EQ(lc.Detail, c.attendu.Detail) << tous;
      EXPECT_EQ(lc.Avancement, c.attendu.Avancement) << tous;
      EXPECT_EQ(lc.Couples, c.attendu.Couples) << tous;
      EXPECT_EQ(lc.FichierJson, c.attendu.FichierJson) << tous;
      EXPECT_EQ(lc.Aide, c.attendu.Aide) << tous;
      EXPECT_EQ(lc.SansFenetre(), lc.ModeService || lc.Simulation || lc.Detail ||
                                      !lc.Couples.empty() || !lc.FichierJson.empty() ||
                                      lc.Avancement != TAvancementTerminal::Auto)
          << tous;
    }
  }
  EXPECT_FALSE(AnalyserLigneCommande({"l.ini"}).SansFenetre());
  EXPECT_TRUE(AnalyserLigneCommande({"--json=r", "l.ini"}).SansFenetre());
}

TEST(LigneCommande, UsageErrorsNameTheOptionInFrench) {
  const std::pair<std::vector<std::string>, std::string> cas[] = {
      {{"-x", "l.ini"}, "option inconnue : « -x »"},
      {{"/S", "-nq", "l.ini"}, "option inconnue : « -q »"},
      {{"-S"}, "option inconnue : « -S »"},
      {{"--HELP"}, "option inconnue : « --HELP »"},
      {{"l.ini", "--frobnicate=3"}, "option inconnue : « --frobnicate »"},
      {{"--p", "l.ini"}, "option ambiguë : « --p » (--progress, --pair)"},
      {{"--dry-run=oui", "l.ini"}, "l'option « --dry-run » ne prend pas de valeur"},
      {{"l.ini", "--pair"}, "l'option « --pair » demande une valeur"},
      {{"--json", "--", "l.ini"}, ""},  // "--" is the file name, as getopt wants
      {{"--json=", "l.ini"}, "l'option « --json » demande une valeur"},
      {{"--pair= ", "l.ini"}, "l'option « --pair » demande une valeur"},
      {{"--pair=00", "l.ini"}, "--pair=00 : les couples sont numérotés à partir de 1"},
  };
  for (const auto& [arguments, erreur] : cas) {
    EXPECT_EQ(AnalyserLigneCommande(arguments).Erreur, erreur) << arguments[0];
  }
}

TEST(LigneCommande, PairsArePositionsOrPathsOfTheList) {
  const std::string home = platform::RepertoirePersonnel();
  const std::vector<std::pair<std::string, std::string>> couples = {
      {"/s1", "/d1"}, {" ~/photos ", home + "/copie/"}, {"", ""}, {"/s1", "/d4"}};
  struct Cas {
    std::vector<std::string> demandes;
    std::vector<int> lignes;
    std::string erreur;
  };
  const Cas cas[] = {
      {{"2"}, {2}, ""},
      {{"4", "1", "4"}, {1, 4}, ""},
      {{"/s1"}, {1, 4}, ""},
      {{"/d4/"}, {4}, ""},
      {{"~/copie"}, {2}, ""},
      {{home + "/photos"}, {2}, ""},
      {{"5"}, {}, "--pair=5 : la liste n'a pas de couple en position 5 (elle en a 3)"},
      {{"3"}, {}, "--pair=3 : la liste n'a pas de couple en position 3 (elle en a 3)"},
      {{"1", "99999999999999999999"}, {}, "--pair=99999999999999999999 : la liste n'a pas de "
                                          "couple en position 99999999999999999999 (elle en a 3)"},
      {{"/ailleurs"}, {}, "--pair=/ailleurs : aucun couple de la liste n'a « /ailleurs » pour "
                          "source ou pour cible"},
  };
  for (const Cas& c : cas) {
    std::string erreur;
    EXPECT_EQ(LignesDesCouples(c.demandes, couples, erreur), c.lignes) << c.demandes[0];
    EXPECT_EQ(erreur, c.erreur) << c.demandes[0];
  }
}

TEST(LigneCommande, DisplayComesFromAnyOfTheUsualVariables) {
  auto avec = [](std::map<std::string, std::string> env) {
    return AffichageDisponible([&env](const char* nom) -> const char* {
      auto it = env.find(nom);
      return it == env.end() ? nullptr : it->second.c_str();
    });
  };
  EXPECT_FALSE(avec({}));
  EXPECT_FALSE(avec({{"DISPLAY", ""}, {"HOME", "/root"}}));
  EXPECT_TRUE(avec({{"DISPLAY", ":0"}}));
  EXPECT_TRUE(avec({{"WAYLAND_DISPLAY", "wayland-0"}}));
  EXPECT_TRUE(avec({{"QT_QPA_PLATFORM", "offscreen"}}));
}

TEST(Journal, PathFollowsXdgStateHomeThenHome) {
  EXPECT_EQ(CalculerCheminJournal("jumelix", "/var/st", "/home/u"), "/var/st/jumelix/jumelix.log");
  EXPECT_EQ(CalculerCheminJournal("miroir", "/var/st/", "/home/u"), "/var/st/jumelix/miroir.log");
  EXPECT_EQ(CalculerCheminJournal("jumelix", nullptr, "/home/u"),
            "/home/u/.local/state/jumelix/jumelix.log");
  EXPECT_EQ(CalculerCheminJournal("jumelix", "", "/home/u"),
            "/home/u/.local/state/jumelix/jumelix.log");
  EXPECT_EQ(CalculerCheminJournal("jumelix", "relatif", "/home/u/"),
            "/home/u/.local/state/jumelix/jumelix.log");
  EXPECT_EQ(CalculerCheminJournal("jumelix", "/", nullptr), "/jumelix/jumelix.log");
  EXPECT_EQ(CalculerCheminJournal("jumelix", nullptr, nullptr), "");
  EXPECT_EQ(CalculerCheminJournal("jumelix", nullptr, "relatif"), "");
}

using RepTemp = test::TempTree;

TEST(Journal, AppendsDatedLinesCreatingTheDirectory) {
  RepTemp rep;
  const std::string chemin = rep / "etat/jumelix/jumelix.log";
  ASSERT_EQ(JournaliserDans(chemin, "premier"), 0);
  ASSERT_EQ(JournaliserDans(chemin, "compteurs\n"), 0);
  ASSERT_EQ(JournaliserDans(chemin, "dernier é"), 0);
  // A name holding a line end stays on its line, escaped.
  ASSERT_EQ(JournaliserDans(chemin, "/d/a\nforgée\r\n"), 0);
  std::vector<std::string> lignes = DecouperLignes(test::TempTree::Lire(chemin));
  ASSERT_EQ(lignes.size(), 6u);
  EXPECT_EQ(lignes[4], "/d/a\\nforgée\\r");
  EXPECT_EQ(lignes[5][0], ' ');
  EXPECT_EQ(lignes[0].rfind("premier ", 0), 0u);
  EXPECT_GT(lignes[0].size(), std::string("premier ").size());  // the date and time
  EXPECT_EQ(lignes[1], "compteurs");
  EXPECT_EQ(lignes[2][0], ' ');  // the date and time alone on their line
  EXPECT_EQ(lignes[2].substr(1), lignes[0].substr(8));
  EXPECT_EQ(lignes[3].rfind("dernier é ", 0), 0u);
  struct stat st {};
  ASSERT_EQ(stat((rep / "etat").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(Journal, FailureIsReportedNotThrown) {
  RepTemp rep;
  std::ofstream(rep / "fichier") << "x";
  EXPECT_NE(JournaliserDans(rep / "fichier/sous/j.log", "x"), 0);
  EXPECT_NE(JournaliserDans("", "x"), 0);
}

TEST(Journal, ALinkOrAnOpenDirectoryIsNotWrittenAndSaysWhy) {
  RepTemp rep;
  const std::string etat = rep / "etat";
  fs::create_directory(etat);
  std::ofstream(rep / "dehors") << "x\n";
  fs::create_symlink(rep / "dehors", etat + "/lien.log");
  platform::TRefusPrive refus;
  int err = JournaliserDans(etat + "/lien.log", "ligne", &refus);
  EXPECT_EQ(err, ELOOP);
  EXPECT_EQ(TexteJournalRefuse(etat + "/lien.log", err, refus),
            "Journal non écrit : " + etat + "/lien.log est un lien symbolique.");
  EXPECT_EQ(test::TempTree::Lire(rep / "dehors"), "x\n");
  chmod(etat.c_str(), 0777);
  err = JournaliserDans(etat + "/j.log", "ligne", &refus);
  EXPECT_EQ(TexteJournalRefuse(etat + "/j.log", err, refus),
            "Journal non écrit : le répertoire " + etat +
                " est modifiable par d'autres utilisateurs que son propriétaire (droits 0777).");
  EXPECT_FALSE(fs::exists(etat + "/j.log"));
  EXPECT_EQ(TexteJournalRefuse("x", ENOENT, refus), "");  // as before: lost without a word
}

TEST(Reglages, ThoseAnotherUserCouldWriteAreNamedBeforeAnythingRuns) {
  RepTemp rep;
  const std::string jumelix = rep / "config/jumelix", config = jumelix + "/JumelixConfig.dat";
  fs::create_directories(jumelix);
  const char* avant = std::getenv("XDG_CONFIG_HOME");
  const std::string ancien = avant ? avant : "";
  setenv("XDG_CONFIG_HOME", (rep / "config").c_str(), 1);
  EXPECT_EQ(RefusReglagesDemarrage(config), "");  // private, or absent: nothing to say
  std::ofstream(jumelix + "/exclusions") << "*.o\n";
  chmod((jumelix + "/exclusions").c_str(), 0666);
  EXPECT_EQ(RefusReglagesDemarrage(config),
            "Réglages refusés : le fichier " + jumelix +
                "/exclusions est modifiable par d'autres utilisateurs que son propriétaire "
                "(droits 0666).");
  chmod(jumelix.c_str(), 0775);  // the directory is looked at first
  EXPECT_NE(RefusReglagesDemarrage(config).find("le répertoire " + jumelix + " est modifiable"),
            std::string::npos);
  if (avant) {
    setenv("XDG_CONFIG_HOME", ancien.c_str(), 1);
  } else {
    unsetenv("XDG_CONFIG_HOME");
  }
}

}  // namespace
}  // namespace jumelix
