// The run controller and the list file, driven through a recording headless window. Each
// controller is given a scripted walk (defined below) instead of the engine, so that the
// tests decide which lines a pair produces, where its check points fall and what the user
// does there; the real walk is exercised by the end-to-end tests.
#include "app/UJumelix.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <tuple>

#include "app/DiagnosticListe.h"
#include "shared/URoutines.h"
#include "engine/UDelta.h"
#include "support/MailFactice.h"
#include "support/TempTree.h"
#include "support/VueEnregistree.h"

namespace jumelix {

namespace {

// One step of a scripted walk.
struct Etape {
  enum Type { Ligne, Point, Copie, Suppression, Identique } type;
  std::string texte = {};
  int erreur = 0;  // a line's system error
};
struct Appel {
  std::string source, destination;
  bool comparer;
};
std::map<std::string, std::vector<Etape>> g_scripts;  // by source path
std::vector<Appel> g_appels;
std::function<void(const std::string&)> g_pendant_ligne;  // runs after each SurMessage

// The scripted walk every run controller of these tests is given in place of the engine.
int ParcoursScripte(const std::string& source, const std::string& destination,
                    bool ComparerSeulement, const TSurMessage& SurMessage,
                    const TSurAvancement& SurAvancement, TEtatRun& Etat) {
  Etat.Abandon = false;
  g_appels.push_back({source, destination, ComparerSeulement});
  int n = 0;
  for (const Etape& e : g_scripts[source]) {
    switch (e.type) {
      case Etape::Ligne:
        ++n;
        if (SurMessage) SurMessage(e.texte, n, e.erreur);
        if (g_pendant_ligne) g_pendant_ligne(e.texte);
        break;
      case Etape::Point:
        if (SurAvancement) SurAvancement(Etat.Abandon);
        if (Etat.Abandon) return n;
        break;
      case Etape::Copie:
        ++Etat.NbCopies;
        break;
      case Etape::Suppression:
        ++Etat.NbSupprimes;
        break;
      case Etape::Identique:
        ++Etat.NbIdentiques;
        break;
    }
  }
  return n;
}

namespace fs = std::filesystem;

using test::MailFactice;

using RepTemp = test::TempTree;

void Ecrire(const std::string& chemin, const std::string& octets) {
  std::ofstream(chemin, std::ios::binary) << octets;
}

class JumelixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CompteRendu().ViderCompteRendu();
    g_scripts.clear();
    g_appels.clear();
    g_pendant_ligne = nullptr;
    j.DefinirParcours(ParcoursScripte);
  }
  void TearDown() override { CompteRendu().ViderCompteRendu(); }

  // Fills data rows 1.. with {source, destination}.
  void Rangees(const std::vector<std::pair<std::string, std::string>>& rangees) {
    TGrilleLignes& g = j.Grille();
    for (size_t i = 0; i < rangees.size(); ++i) {
      int r = static_cast<int>(i) + 1;
      if (r > g.DerniereLigne()) g.AjouterLigneVide();
      g.DefinirCellule(kColSource, r, rangees[i].first);
      g.DefinirCellule(kColCible, r, rangees[i].second);
    }
  }
  std::vector<std::string> Etats() const {
    std::vector<std::string> v;
    for (int r = 1; r < j.Grille().NbLignes(); ++r) v.push_back(j.Grille().Cellule(kColEtat, r));
    return v;
  }
  // Service mode as a scheduler starts it, with a list file: `liste`, or one of a single
  // pair that the test then replaces with its own rows.
  void Service(std::string liste = "") {
    if (liste.empty())
      liste = arbre_.Fichier("liste.ini", "Répertoire source\nRépertoire cible\n/x\n/y\n");
    TLigneCommande lc;
    lc.ModeService = true;
    lc.FichierListe = liste;
    j.FormCreate(lc);
  }
  RepTemp arbre_;

  TVueEnregistree vue;
  MailFactice mail;
  std::vector<std::string> journal;
  uint32_t temps = 5000;
  TJumelix j{vue, mail, [this](const std::string& t) { journal.push_back(t); },
             [this] { return temps; }};
};

using V = std::vector<std::string>;

TEST(CheminDeCellule, TrimsAndDropsOneTrailingSlash) {
  const std::pair<const char*, const char*> cas[] = {
      {"  /srv/data/ \t", "/srv/data"},
      {"/srv/data//", "/srv/data/"},
      {"/", "/"},
      {" / ", "/"},
      {"//", "/"},
      {"", ""},
      {"  ", ""},
      {"rel/", "rel"},
      {"/a b/", "/a b"},
  };
  for (const auto& [cellule, attendu] : cas)
    EXPECT_EQ(CheminDeCellule(cellule), attendu) << cellule;
}

TEST(TexteTempsEcoule, HoursUnpaddedMinutesAndSecondsTwoDigits) {
  EXPECT_EQ(TexteTempsEcoule(1000, 1000), "0:00:00");
  EXPECT_EQ(TexteTempsEcoule(1000 + 5999, 1000), "0:00:05");
  EXPECT_EQ(TexteTempsEcoule(307000, 0), "0:05:07");
  EXPECT_EQ(TexteTempsEcoule(3723000, 0), "1:02:03");
  EXPECT_EQ(TexteTempsEcoule(27u * 3600 * 1000, 0), "27:00:00");
  EXPECT_EQ(TexteTempsEcoule(10, 20), "");  // the tick count wrapped
  EXPECT_EQ(TexteTempsEcoule(0xFFFFFFFFu, 0), "1193:02:47");
}

TEST_F(JumelixTest, FormCreateReadsCommandLineAndMarksRows) {
  RepTemp rep;
  Ecrire(rep / "l.ini", "Répertoire source\r\nRépertoire cible\r\n/a\r\n/b\r\n \r\n \r\n");
  TLigneCommande lc;
  lc.FichierListe = rep / "l.ini";
  j.FormCreate(lc);
  EXPECT_FALSE(j.ModeService());
  EXPECT_EQ(j.FichierListe(), rep / "l.ini");
  EXPECT_EQ(vue.legende, "Fermer");
  EXPECT_EQ(Etats(), (V{"???", "???"}));  // every data row, blank ones too
  EXPECT_EQ(vue.panneaux[0], "credit-test");
  EXPECT_FALSE(j.Grille().GrilleModifiee());
  EXPECT_EQ(vue.hauteur_demandee, 3);
}

TEST_F(JumelixTest, CompareRunShowsLinesCountsAndStates) {
  Rangees({{"/s1", "/d1"}, {"/s2/", " /d2 "}, {"", "/d3"}, {" ", ""}, {"/s5", "/d5"}});
  g_scripts["/s1"] = {{Etape::Identique}, {Etape::Point}};
  std::vector<std::string> etat_pendant;
  g_pendant_ligne = [&](const std::string&) { etat_pendant.push_back(j.Grille().Cellule(2, 2)); };
  g_scripts["/s2"] = {{Etape::Ligne, "diff 1"},
                      {Etape::Point},
                      {Etape::Ligne, "diff 2"},
                      {Etape::Copie},
                      {Etape::Ligne, "diff 3"}};
  j.ButtonComparerClick();

  ASSERT_EQ(g_appels.size(), 3u);
  EXPECT_EQ(g_appels[1].source, "/s2");
  EXPECT_EQ(g_appels[1].destination, "/d2");
  EXPECT_TRUE(g_appels[1].comparer);
  // The state follows the log area's batches (see LogLinesArriveInBatches): with a clock
  // that stands still, at the end of the pair.
  EXPECT_EQ(etat_pendant, (V{"???", "???", "???"}));
  EXPECT_EQ(Etats(), (V{"=", "3 erreur(s)", "???", "???", "="}));
  EXPECT_EQ(vue.log, (V{"diff 1", "diff 2", "diff 3", "Nom de répertoire vide en ligne 3"}));
  EXPECT_EQ(vue.historique_panneau0.back(), "Comparaison terminée");
  EXPECT_NE(std::find(vue.historique_panneau0.begin(), vue.historique_panneau0.end(),
                      "Comparaison en cours..."),
            vue.historique_panneau0.end());
  EXPECT_EQ(vue.panneaux[1], "Copiés : 1");
  EXPECT_EQ(vue.panneaux[2], "Supprimés : 0");
  EXPECT_EQ(vue.panneaux[3], "Identiques : 1");
  EXPECT_EQ(vue.legende, "Fermer");
  EXPECT_FALSE(j.EnCours());
  EXPECT_TRUE(mail.modes.empty());  // a comparison never mails
  EXPECT_TRUE(journal.empty());
  EXPECT_TRUE(CompteRendu().Lignes().empty());
  EXPECT_FALSE(CompteRendu().ErreurSignalee());
}

TEST_F(JumelixTest, RunStateDuringTheWalk) {
  Rangees({{"/s", "/d"}});
  vue.DefinirLegendeFermer("?");
  std::string legende, panneau0;
  bool en_cours = false;
  vue.sur_evenements = [&] {
    legende = vue.legende;
    panneau0 = vue.panneaux[0];
    en_cours = j.EnCours();
  };
  g_scripts["/s"] = {{Etape::Point}};
  j.Executer(false);
  EXPECT_EQ(legende, "Abandonner");
  EXPECT_EQ(panneau0, "Synchronisation en cours...");
  EXPECT_TRUE(en_cours);
  EXPECT_EQ(vue.legende, "Fermer");
  EXPECT_EQ(vue.historique_panneau0.back(), "Synchronisation terminée.");
}

TEST_F(JumelixTest, EachRunStartsFromAClearedLogAndZeroCounters) {
  Rangees({{"/s", "/d"}});
  g_scripts["/s"] = {{Etape::Ligne, "x"}, {Etape::Copie}};
  j.ButtonComparerClick();
  j.ButtonComparerClick();
  EXPECT_EQ(vue.log, (V{"x"}));
  EXPECT_EQ(vue.panneaux[1], "Copiés : 1");
  EXPECT_EQ(vue.nb_vidages_log, 2);
}

TEST_F(JumelixTest, EveryPairOfARunGetsTheInstalledArchiveDaysAndOneStartTime) {
  std::vector<std::pair<int, int64_t>> vus;
  j.DefinirParcours([&vus](const std::string&, const std::string&, bool, const TSurMessage&,
                           const TSurAvancement&, TEtatRun& Etat) {
    vus.emplace_back(Etat.JoursArchive, Etat.DebutRun);
    return 0;
  });
  Rangees({{"/s1", "/d1"}, {"/s2", "/d2"}});
  // Nothing installed: nothing kept. Then the settings' value, read again at each run.
  InstallerJoursArchive({});
  j.ButtonComparerClick();
  int jours = 45;
  InstallerJoursArchive([&jours] { return jours; });
  const int64_t avant = static_cast<int64_t>(std::time(nullptr));
  j.ButtonComparerClick();
  jours = -3;  // never a negative retention
  j.ButtonComparerClick();
  InstallerJoursArchive({});
  ASSERT_EQ(vus.size(), 6u);
  EXPECT_EQ(vus[0].first, 0);
  EXPECT_EQ(vus[2].first, 45);
  EXPECT_EQ(vus[3].first, 45);
  EXPECT_EQ(vus[4].first, 0);
  EXPECT_GE(vus[2].second, avant);
  EXPECT_EQ(vus[3].second, vus[2].second);  // one archive folder name for the whole run
}

TEST_F(JumelixTest, EveryRunAsksWhetherTaggedCachesAreLeftOut) {
  std::vector<bool> vus;
  j.DefinirParcours([&vus](const std::string&, const std::string&, bool, const TSurMessage&,
                           const TSurAvancement&, TEtatRun& Etat) {
    vus.push_back(Etat.IgnorerCaches);
    return 0;
  });
  Rangees({{"/s1", "/d1"}});
  bool ignorer = true;
  InstallerIgnorerCaches([&ignorer] { return ignorer; });
  j.ButtonComparerClick();
  ignorer = false;
  j.ButtonComparerClick();
  InstallerIgnorerCaches({});
  j.ButtonComparerClick();
  EXPECT_EQ(vus, (std::vector<bool>{true, false, false}));
}

TEST_F(JumelixTest, StopDuringAWalkEndsTheRunAfterThatPair) {
  Rangees({{"/s1", "/d1"}, {"/s2", "/d2"}, {"/s3", "/d3"}});
  g_scripts["/s1"] = {{Etape::Ligne, "l"}, {Etape::Point}};
  g_scripts["/s2"] = {{Etape::Point}, {Etape::Point}, {Etape::Ligne, "jamais"}};
  int points = 0;
  vue.sur_evenements = [&] {
    if (++points == 2) j.ButtonFermerClick();  // the "Abandonner" button
  };
  j.ButtonComparerClick();
  EXPECT_EQ(g_appels.size(), 2u);
  // The stopped pair had produced no line, yet it is not shown as done.
  EXPECT_EQ(Etats(), (V{"1 erreur(s)", "abandonné", "???"}));
  EXPECT_EQ(vue.log, (V{"l", "/s2 et /d2 abandonné", "ABANDON"}));
  EXPECT_EQ(vue.historique_panneau0.back(), "Comparaison abandonnée");
  EXPECT_EQ(vue.nb_fermetures, 0);
  EXPECT_TRUE(j.EtatRun().Abandon);

  // The next run does not inherit the stop, even when it walks nothing.
  j.Grille().SupprimerToutesLesLignes();
  j.ButtonComparerClick();
  EXPECT_EQ(vue.historique_panneau0.back(), "Comparaison terminée");
  EXPECT_EQ(vue.log, V{});
}

TEST_F(JumelixTest, StoppedSynchronisationIsAnErrorOfTheReportAndStillMails) {
  Rangees({{"/s1", "/d1"}});
  g_scripts["/s1"] = {{Etape::Point}};
  vue.sur_evenements = [&] { j.ButtonFermerClick(); };
  mail.du = true;
  j.Executer(false);
  EXPECT_EQ(vue.historique_panneau0.back(), "Synchronisation abandonnée");
  EXPECT_EQ(vue.log, (V{"/s1 et /d1 abandonné", "ABANDON", "Envoi du compte-rendu par mail.",
                        "Mail envoyé."}));
  ASSERT_EQ(mail.corps.size(), 1u);
  const V& corps = mail.corps[0];
  ASSERT_EQ(corps.size(), 3u);
  EXPECT_EQ(corps[1], "/s1 et /d1 abandonné");
  EXPECT_EQ(corps[2], "Synchronisation abandonnée");
  EXPECT_NE(mail.sujets[0].find("] : AU MOINS UNE ERREUR"), std::string::npos);
}

TEST_F(JumelixTest, SynchronisationReportAndMailSubject) {
  Rangees({{"/s1", "/d1"}, {"/s2", "/d2"}});
  g_scripts["/s1"] = {{Etape::Copie}, {Etape::Suppression}, {Etape::Copie}};
  mail.du = true;
  j.Executer(false);
  ASSERT_EQ(mail.sujets.size(), 1u);
  EXPECT_EQ(mail.sujets[0], "Jumelix [" + NomOrdinateur() + "] : Ok");
  EXPECT_EQ(mail.modes, std::vector<bool>{false});
  const V& corps = mail.corps[0];
  ASSERT_EQ(corps.size(), 5u);
  EXPECT_EQ(corps[0].rfind("Synchronisation effectuée sur " + NomOrdinateur() + " le ", 0), 0u);
  EXPECT_EQ(corps[1], "/s1 et /d1 =");
  EXPECT_EQ(corps[2], "/s2 et /d2 =");
  EXPECT_EQ(corps[3], "Synchronisation terminée.");
  EXPECT_EQ(corps[4], "Nombre de fichiers copiés 2 ; Supprimés 1 ; identiques 0");
  EXPECT_EQ(vue.curseurs, (std::vector<bool>{true, false}));
  EXPECT_TRUE(CompteRendu().Lignes().empty());

  // One walk line is enough for the error subject; a failed send is reported.
  g_scripts["/s2"] = {{Etape::Ligne, "Impossible de copier x"}};
  mail.erreur = "Connexion refusée";
  j.Executer(false);
  EXPECT_EQ(mail.sujets[1], "Jumelix [" + NomOrdinateur() + "] : AU MOINS UNE ERREUR");
  EXPECT_EQ(vue.log, (V{"Impossible de copier x", "Envoi du compte-rendu par mail.",
                        "Erreur mail : Connexion refusée"}));
}

TEST_F(JumelixTest, NoMailDueMeansNoMailLines) {
  Rangees({{"/s1", "/d1"}});
  j.Executer(false);
  EXPECT_EQ(mail.modes.size(), 1u);
  EXPECT_TRUE(mail.sujets.empty());
  EXPECT_TRUE(vue.log.empty());
}

TEST_F(JumelixTest, BlankGridSynchronisationStillDecidesTheMail) {
  j.Executer(false);
  EXPECT_TRUE(g_appels.empty());
  EXPECT_EQ(vue.historique_panneau0.back(), "Synchronisation terminée.");
  EXPECT_EQ(vue.panneaux[1], "Copiés : 0");
  EXPECT_EQ(mail.modes.size(), 1u);
}

TEST_F(JumelixTest, ServiceRunWritesLogLinesAndShowsNothing) {
  Service();
  Rangees({{"/s1", "/d1"}, {"/s2/", "/d2"}, {"/s3", ""}, {"/s4", "/d4"}});
  g_scripts["/s2"] = {{Etape::Ligne, "e1"}, {Etape::Point}, {Etape::Ligne, "e2"}, {Etape::Copie}};
  g_scripts["/s4"] = {{Etape::Ligne, "e3"}, {Etape::Identique}};
  mail.du = true;
  j.Executer(false);
  EXPECT_EQ(journal,
            (V{"/s1 et /d1 =", "e1", "e2", "e3", "Synchronisation terminée. Nombre d'erreurs 3",
               "Nombre de fichiers copiés 1 ; Supprimés 0 ; identiques 1\n"}));
  EXPECT_EQ(j.NbErreursService(), 3);
  EXPECT_EQ(vue.nb_evenements, 0);  // nothing can interrupt a service run
  // The blank cell and the mail lines stay in the hidden log area.
  EXPECT_EQ(vue.log, (V{"Nom de répertoire vide en ligne 3", "Envoi du compte-rendu par mail.",
                        "Mail envoyé."}));
  EXPECT_EQ(mail.modes, std::vector<bool>{true});
  const V& corps = mail.corps[0];
  ASSERT_EQ(corps.size(), 7u);
  EXPECT_EQ(corps[5], "Synchronisation terminée. Nombre d'erreurs 3");
  EXPECT_EQ(corps[6], "Nombre de fichiers copiés 1 ; Supprimés 0 ; identiques 1");
}

TEST_F(JumelixTest, ARelativePathRefusesItsPairAsOneErrorOfItsRow) {
  // Loaded as they are, in no conflict with one another; each refused pair is an error.
  Service(arbre_.Fichier("relatif.ini",
                         "Répertoire source\nRépertoire cible\n/s1\ncopie\n"
                         "/s2\n/d2\n ./src \n/d3\n/s4\ncopie\n"));
  j.Executer(false);
  ASSERT_EQ(g_appels.size(), 1u);
  const std::string regle = " (un chemin doit commencer par / ou ~/)";
  EXPECT_EQ(journal, (V{"Chemin relatif refusé en ligne 1 : copie" + regle,
                        "/s2 et /d2 =", "Chemin relatif refusé en ligne 3 : ./src" + regle,
                        "Chemin relatif refusé en ligne 4 : copie" + regle,
                        "Synchronisation terminée. Nombre d'erreurs 3",
                        "Nombre de fichiers copiés 0 ; Supprimés 0 ; identiques 0\n"}));
  EXPECT_TRUE(j.DernierRunEnErreur());
}

TEST_F(JumelixTest, ServiceListFileFailureIsLoggedAndMakesTheMailAnError) {
  Service("/nonexistent/liste.ini");
  EXPECT_EQ(journal, (V{"ERREUR : Fichier non trouvé : /nonexistent/liste.ini"}));
  EXPECT_TRUE(vue.messages.empty());
  EXPECT_EQ(j.Grille().NbLignes(), 2);
  mail.du = true;
  j.Executer(false);
  EXPECT_EQ(journal.size(), 3u);
  // The list's error counts: a run that walked nothing never says it had no error.
  EXPECT_EQ(journal[1], "Synchronisation terminée. Nombre d'erreurs 1");
  EXPECT_NE(mail.sujets[0].find("AU MOINS UNE ERREUR"), std::string::npos);
  EXPECT_EQ(mail.corps[0][1], "ERREUR : Fichier non trouvé : /nonexistent/liste.ini");
}

TEST_F(JumelixTest, ExternalStopEndsAServiceRunWithClosingLines) {
  Service();
  Rangees({{"/s1", "/d1"}, {"/s2", "/d2"}, {"/s3", "/d3"}});
  g_scripts["/s1"] = {{Etape::Ligne, "e1"}, {Etape::Point}};
  g_scripts["/s2"] = {{Etape::Copie}, {Etape::Ligne, "e2"}, {Etape::Point}, {Etape::Ligne, "x"}};
  int points = 0;
  j.DefinirArretExterne([&] { return ++points >= 2; });
  j.Executer(false);
  EXPECT_EQ(g_appels.size(), 2u);
  EXPECT_EQ(journal, (V{"e1", "e2", "/s2 et /d2 abandonné", "Synchronisation abandonnée",
                        "Nombre de fichiers copiés 1 ; Supprimés 0 ; identiques 0\n"}));
  // Service mode counts no lines in the grid, but a stopped pair is marked there too.
  EXPECT_EQ(Etats(), (V{"???", "1 erreur(s), abandonné", "???"}));
  EXPECT_TRUE(j.DernierRunAbandonne());
  EXPECT_TRUE(j.DernierRunEnErreur());
  EXPECT_EQ(vue.nb_evenements, 0);
}

TEST_F(JumelixTest, LastRunOutcomeSurvivesTheEmptiedReport) {
  Rangees({{"/s1", "/d1"}});
  j.Executer(false);
  EXPECT_FALSE(j.DernierRunEnErreur());
  EXPECT_FALSE(j.DernierRunAbandonne());
  g_scripts["/s1"] = {{Etape::Ligne, "e"}};
  j.Executer(false);
  EXPECT_TRUE(j.DernierRunEnErreur());
  EXPECT_FALSE(j.DernierRunAbandonne());
  EXPECT_TRUE(CompteRendu().Lignes().empty());
  g_scripts["/s1"].clear();
  j.LireFichierListe("/nonexistent/l.ini");  // an error before the run counts
  j.Executer(false);
  EXPECT_TRUE(j.DernierRunEnErreur());
}

TEST_F(JumelixTest, StatusBarRefreshesAtMostEvery300MsUnlessForced) {
  Rangees({{"/s", "/d"}});
  g_scripts["/s"] = {
      {Etape::Point}, {Etape::Copie}, {Etape::Point}, {Etape::Copie}, {Etape::Point}};
  std::vector<std::string> vus;
  int n = 0;
  vue.sur_evenements = [&] {
    vus.push_back(vue.panneaux[1] + " " + vue.panneaux[4]);
    temps += (++n == 1) ? 299 : 3723000;
  };
  temps = 0xFFFFFF00u;  // DebutRun
  j.ButtonComparerClick();
  EXPECT_EQ(j.DebutRun(), 0xFFFFFF00u);
  // 1st point: 0 ms since the forced refresh, nothing; 2nd: 299 ms, nothing; 3rd: refreshed,
  // after the tick count wrapped (so no time).
  EXPECT_EQ(vus, (V{"Copiés : 0 0:00:00", "Copiés : 0 0:00:00", "Copiés : 2 "}));
  temps = 0xFFFFFF00u + 3723999;
  j.MajBarreEtat(true);
  EXPECT_EQ(vue.panneaux[4], "");  // wrapped
}

TEST_F(JumelixTest, ElapsedTimeOnTheStatusBar) {
  Rangees({{"/s", "/d"}});
  g_scripts["/s"] = {{Etape::Copie}, {Etape::Point}};
  vue.sur_evenements = [&] { temps += 3723456; };
  j.ButtonComparerClick();
  EXPECT_EQ(vue.panneaux[4], "1:02:03");
  EXPECT_EQ(vue.panneaux[1], "Copiés : 1");
}

TEST_F(JumelixTest, CommandsDuringARunAreIgnored) {
  Rangees({{"/s1", "/d1"}, {"/s2", "/d2"}});
  g_scripts["/s1"] = {{Etape::Point}};
  vue.reponse_repertoire = "/ailleurs";
  vue.reponse_ouvrir = "/tmp/x.ini";
  vue.sur_evenements = [&] {
    j.ButtonComparerClick();
    j.ButtonSynchroniserClick();
    j.Executer(false);
    j.ButtonAjouterLigneClick();
    j.ButtonSupprimerLigneClick();
    j.SupprimerToutesLesLignesClick();
    j.ButtonParcourirClick();
    j.Lireunfichierliste1Click();
    j.StringGrid1SetEditText(0, 1, "/autre");
    EXPECT_TRUE(j.StringGrid1KeyDown(TTouche::Bas, false));
  };
  j.ButtonComparerClick();
  EXPECT_EQ(g_appels.size(), 2u);
  EXPECT_EQ(j.Grille().NbLignes(), 3);
  EXPECT_EQ(j.Grille().Cellule(0, 1), "/s1");
  EXPECT_TRUE(vue.messages.empty());
  EXPECT_TRUE(vue.titres_repertoire.empty());
}

TEST_F(JumelixTest, CloseDuringARunStopsItThenClosesTheWindow) {
  Rangees({{"/s1", "/d1"}, {"/s2", "/d2"}});
  g_scripts["/s1"] = {{Etape::Point}};
  bool reponse = true;
  vue.sur_evenements = [&] {
    EXPECT_EQ(j.DecisionFermeture(), TDecisionFermeture::AttendreFinRun);
    reponse = j.FormCloseQuery();
  };
  // "Non": the run goes on to its end and the window stays.
  vue.reponses = {TReponseMessage::Non};
  j.ButtonComparerClick();
  EXPECT_FALSE(reponse);
  EXPECT_EQ(g_appels.size(), 2u);
  EXPECT_EQ(vue.nb_fermetures, 0);
  ASSERT_EQ(vue.messages.size(), 1u);
  EXPECT_EQ(vue.messages[0].texte, kTexteAbandonComparaison);
  EXPECT_EQ(vue.messages[0].boutons, TBoutonsMessage::OuiNon);
  // "Oui": the run stops at the check point, then the window closes.
  g_appels.clear();
  vue.messages.clear();
  vue.reponses = {TReponseMessage::Oui};
  j.ButtonComparerClick();
  EXPECT_FALSE(reponse);
  EXPECT_EQ(g_appels.size(), 1u);
  EXPECT_EQ(vue.nb_fermetures, 1);
  ASSERT_EQ(vue.messages.size(), 1u);
  // Outside a run the close button closes at once.
  j.ButtonFermerClick();
  EXPECT_EQ(vue.nb_fermetures, 2);
}

TEST_F(JumelixTest, SynchroniserAsksForConfirmation) {
  Rangees({{"/s1", "/d1"}});
  vue.reponses = {TReponseMessage::Annuler};
  j.ButtonSynchroniserClick();
  EXPECT_TRUE(g_appels.empty());
  ASSERT_EQ(vue.messages.size(), 1u);
  EXPECT_EQ(vue.messages[0].titre, "Synchronisation des répertoires");
  EXPECT_EQ(vue.messages[0].boutons, TBoutonsMessage::OkAnnuler);
  EXPECT_EQ(vue.messages[0].icone, TIconeMessage::Question);
  EXPECT_EQ(vue.messages[0].texte,
            "Chaque répertoire cible va devenir identique au répertoire source correspondant. "
            "Veuillez confirmer...");
  vue.reponses = {TReponseMessage::Ok};
  j.ButtonSynchroniserClick();
  ASSERT_EQ(g_appels.size(), 1u);
  EXPECT_FALSE(g_appels[0].comparer);
}

TEST_F(JumelixTest, ParcourirFillsTheCurrentCell) {
  Rangees({{"/s1", "/d1"}, {"/s2", "/d2"}});
  j.Grille().DefinirCellule(2, 2, "=");
  vue.reponse_repertoire = "/nouveau";
  ASSERT_TRUE(j.StringGrid1SelectCell(1, 2));
  j.ButtonParcourirClick();
  EXPECT_EQ(vue.titres_repertoire, V{"Choix du répertoire"});
  EXPECT_EQ(j.Grille().Cellule(0, 2), "/s2");
  EXPECT_EQ(j.Grille().Cellule(1, 2), "/nouveau");
  EXPECT_EQ(j.Grille().Cellule(2, 2), "???");
  vue.reponse_repertoire.reset();
  ASSERT_TRUE(j.StringGrid1SelectCell(0, 1));
  j.ButtonParcourirClick();
  EXPECT_EQ(j.Grille().Cellule(0, 1), "/s1");
}

TEST_F(JumelixTest, EditingACellResetsItsRowState) {
  Rangees({{"/s1", "/d1"}});
  j.Grille().DefinirCellule(2, 1, "=");
  j.StringGrid1SetEditText(0, 1, "/s");
  EXPECT_EQ(j.Grille().Cellule(0, 1), "/s");
  EXPECT_EQ(j.Grille().Cellule(2, 1), "???");
  j.StringGrid1SetEditText(0, 1, " ");
  j.StringGrid1SetEditText(1, 1, "");
  EXPECT_EQ(j.Grille().Cellule(2, 1), "");
  j.StringGrid1SetEditText(2, 1, "hack");  // the state column is never edited
  EXPECT_EQ(j.Grille().Cellule(2, 1), "");
  EXPECT_FALSE(j.StringGrid1SelectCell(2, 1));
}

// ---- The list file ----

constexpr const char* kTitres = "Répertoire source\r\nRépertoire cible\r\n";

TEST_F(JumelixTest, ListFileLoadsPairsIncludingBlankOnes) {
  RepTemp rep;
  Ecrire(rep / "l.ini", std::string(kTitres) + "/a\n/b\r  \r\n\r\n/c \n/d");
  j.LireFichierListe(rep / "l.ini");
  const TGrilleLignes& g = j.Grille();
  ASSERT_EQ(g.NbLignes(), 4);
  EXPECT_EQ(g.Cellule(0, 1), "/a");
  EXPECT_EQ(g.Cellule(1, 1), "/b");
  EXPECT_EQ(g.Cellule(0, 2), "  ");
  EXPECT_EQ(g.Cellule(1, 2), "");
  EXPECT_EQ(g.Cellule(0, 3), "/c ");  // untrimmed
  EXPECT_EQ(g.Cellule(1, 3), "/d");
  EXPECT_EQ(g.LigneCourante(), 3);
  EXPECT_FALSE(g.GrilleModifiee());
  EXPECT_TRUE(vue.messages.empty());
}

TEST_F(JumelixTest, TitleOnlyFileIsModifiedButEmptySoClosingAsksNothing) {
  RepTemp rep;
  Ecrire(rep / "l.ini", kTitres);
  j.LireFichierListe(rep / "l.ini");
  EXPECT_EQ(j.Grille().NbLignes(), 2);
  EXPECT_TRUE(j.Grille().GrilleModifiee());
  EXPECT_TRUE(j.Grille().GrilleVide());
  EXPECT_EQ(j.DecisionFermeture(), TDecisionFermeture::Fermer);
  EXPECT_TRUE(j.FormCloseQuery());
  EXPECT_TRUE(vue.messages.empty());
}

TEST_F(JumelixTest, OddLineCountIgnoresLastLineAndCountsAsModified) {
  RepTemp rep;
  Ecrire(rep / "l.ini", std::string(kTitres) + "/a\r\n/b\r\n/orphan\r\n");
  j.LireFichierListe(rep / "l.ini");
  EXPECT_EQ(j.Grille().NbLignes(), 2);
  EXPECT_EQ(j.Grille().Cellule(0, 1), "/a");
  EXPECT_TRUE(j.Grille().GrilleModifiee());
  EXPECT_EQ(j.DecisionFermeture(), TDecisionFermeture::Demander);
}

TEST_F(JumelixTest, WrongTitlesLeaveTheGridAsItWas) {
  RepTemp rep;
  const char* fichiers[] = {
      "répertoire source\r\nRépertoire cible\r\n/a\r\n/b\r\n",
      "Répertoire source \r\nRépertoire cible\r\n/a\r\n/b\r\n",
      "Répertoire source\r\nRépertoire Cible\r\n/a\r\n/b\r\n",
      "Répertoire source\r\n",
      "",
  };
  for (const char* contenu : fichiers) {
    TVueEnregistree v;
    TJumelix jj(v, mail, [](const std::string&) {});
    jj.DefinirParcours(ParcoursScripte);
    jj.Grille().DefinirCellule(0, 1, "/garde");
    Ecrire(rep / "l.ini", contenu);
    jj.LireFichierListe(rep / "l.ini");
    EXPECT_EQ(jj.Grille().NbLignes(), 2) << contenu;
    EXPECT_EQ(jj.Grille().Cellule(0, 1), "/garde") << contenu;
    EXPECT_FALSE(jj.Grille().GrilleModifiee()) << contenu;  // baseline = the grid
    EXPECT_TRUE(v.messages.empty()) << contenu;
    EXPECT_FALSE(CompteRendu().ErreurSignalee()) << contenu;
  }
}

TEST_F(JumelixTest, Windows1252ListFileIsConverted) {
  RepTemp rep;
  Ecrire(rep / "l.ini",
         "R\xE9pertoire source\r\nR\xE9pertoire cible\r\n/donn\xE9"
         "es\r\n/cop\xE9\r\n");
  j.LireFichierListe(rep / "l.ini");
  EXPECT_EQ(j.Grille().Cellule(0, 1), "/données");
  EXPECT_EQ(j.Grille().Cellule(1, 1), "/copé");
}

TEST_F(JumelixTest, UnreadableListFileInteractiveShowsABoxAndReportsAnError) {
  j.LireFichierListe("/nonexistent/l.ini");
  ASSERT_EQ(vue.messages.size(), 1u);
  EXPECT_EQ(vue.messages[0].texte, "ERREUR : Fichier non trouvé\n/nonexistent/l.ini");
  EXPECT_EQ(vue.messages[0].boutons, TBoutonsMessage::Ok);
  EXPECT_TRUE(journal.empty());
  EXPECT_EQ(CompteRendu().Lignes(), V{"ERREUR : Fichier non trouvé : /nonexistent/l.ini"});
  EXPECT_TRUE(CompteRendu().ErreurSignalee());
  EXPECT_FALSE(j.Grille().GrilleModifiee());
}

TEST_F(JumelixTest, ServiceRunsNoPairOfAListItCannotTrust) {
  const std::string titres = "Répertoire source\r\nRépertoire cible\r\n";
  struct Cas {
    std::string contenu, ligne_attendue;
  };
  const Cas cas[] = {
      {titres + "\r\n/docs\r\n/sauve-docs\r\n/photos\r\n/sauve-photos\r\n",
       "ERREUR : Fichier liste incorrect, ligne 3 vide (un couple sans source ou sans cible "
       "décalerait les suivants) : "},
      {"Répertoire source\tRépertoire cible\r\n/docs\r\n/sauve\r\n",
       "ERREUR : Fichier liste non reconnu, la ligne 1 doit être « Répertoire source » : "},
      {titres + "/docs\r\n/sauve\r\n/photos\r\n",
       "ERREUR : Fichier liste incorrect, la ligne 5 (répertoire source) n'a pas de répertoire "
       "cible : "},
      {titres, "ERREUR : Rien à synchroniser, le fichier liste ne contient aucun couple de "
               "répertoires : "},
  };
  for (const Cas& k : cas) {
    TVueEnregistree v;
    MailFactice m;
    m.du = true;
    V lignes;
    TJumelix service(v, m, [&](const std::string& t) { lignes.push_back(t); });
    service.DefinirParcours(ParcoursScripte);
    const std::string liste = arbre_.Fichier("l.ini", k.contenu);
    TLigneCommande lc;
    lc.ModeService = true;
    lc.FichierListe = liste;
    service.FormCreate(lc);
    EXPECT_EQ(v.log, V{k.ligne_attendue + liste});  // standard error too
    service.Executer(false);
    EXPECT_TRUE(g_appels.empty()) << k.contenu;
    ASSERT_EQ(lignes.size(), 3u) << k.contenu;
    EXPECT_EQ(lignes[0], k.ligne_attendue + liste);
    EXPECT_EQ(lignes[1], "Synchronisation terminée. Nombre d'erreurs 1");
    EXPECT_TRUE(service.DernierRunEnErreur());
    ASSERT_EQ(m.sujets.size(), 1u);
    EXPECT_NE(m.sujets[0].find("AU MOINS UNE ERREUR"), std::string::npos);
    EXPECT_EQ(m.corps[0][1], k.ligne_attendue + liste);
    EXPECT_EQ(service.Grille().NbLignes(), 2);  // no row was loaded
  }
}

TEST_F(JumelixTest, ServiceWithoutAListFileIsAnError) {
  TLigneCommande lc;
  lc.ModeService = true;
  j.FormCreate(lc);
  j.Executer(false);
  EXPECT_EQ(journal.front(), kTexteSansFichierListe);
  EXPECT_EQ(journal.at(1), "Synchronisation terminée. Nombre d'erreurs 1");
  EXPECT_TRUE(j.DernierRunEnErreur());
}

TEST_F(JumelixTest, TheWindowLoadsAShiftedListAndWarnsBeforeRunning) {
  const std::string liste =
      arbre_.Fichier("l.ini", "Répertoire source\nRépertoire cible\n\n/docs\n/sauve\n/photos\n");
  j.LireFichierListe(liste);
  EXPECT_TRUE(vue.messages.empty());  // loaded as it is, for the user to see
  EXPECT_EQ(j.Grille().Cellule(kColCible, 1), "/docs");
  EXPECT_EQ(j.Grille().LignesAMoitieRemplies(), (std::vector<int>{1}));

  vue.reponses = {TReponseMessage::Annuler};
  j.ButtonComparerClick();
  ASSERT_EQ(vue.messages.size(), 1u);
  EXPECT_EQ(vue.messages[0].texte,
            "La ligne 1 du tableau n'a qu'un des deux répertoires : elle ne sera pas traitée.\n"
            "Continuer quand même ?");
  EXPECT_EQ(vue.messages[0].titre, "Lignes incomplètes");
  EXPECT_TRUE(g_appels.empty());

  // Accepted, then the usual confirmation of a synchronisation.
  Rangees({{"", "/docs"}, {"/sauve", "/photos"}, {"/x", ""}});
  vue.reponses = {TReponseMessage::Ok, TReponseMessage::Ok};
  j.ButtonSynchroniserClick();
  ASSERT_EQ(vue.messages.size(), 3u);
  EXPECT_EQ(vue.messages[1].texte.rfind("Les lignes 1, 3 du tableau n'ont qu'un des deux "
                                        "répertoires : elles ne seront pas traitées.",
                                        0),
            0u);
  EXPECT_EQ(vue.messages[2].titre, "Synchronisation des répertoires");
  ASSERT_EQ(g_appels.size(), 1u);
  EXPECT_EQ(g_appels[0].source, "/sauve");

  // A grid without half-filled rows asks nothing more.
  Rangees({{"/a", "/b"}, {"", ""}, {"/c", "/d"}});
  j.ButtonComparerClick();
  EXPECT_EQ(vue.messages.size(), 3u);
}

TEST_F(JumelixTest, OnlySynchroniserAsksBeforeRowsOverwriteOneAnother) {
  Rangees({{"/s1", "/sauve"}, {"/s2", "/autre"}, {"/s3", "/sauve/photos"}});
  j.ButtonComparerClick();
  EXPECT_TRUE(vue.messages.empty());
  vue.reponses = {TReponseMessage::Non};
  j.ButtonSynchroniserClick();
  ASSERT_EQ(vue.messages.size(), 1u);
  EXPECT_EQ(vue.messages[0].titre, "Répertoires cibles en conflit");
  EXPECT_EQ(vue.messages[0].boutons, TBoutonsMessage::OuiNon);
  EXPECT_EQ(vue.messages[0].icone, TIconeMessage::Question);
  EXPECT_EQ(vue.messages[0].texte,
            "Des lignes du tableau écrivent dans le même répertoire cible :\n"
            "- le répertoire cible de la ligne 3 (« /sauve/photos ») est à l'intérieur de celui "
            "de la ligne 1 (« /sauve »)\n"
            "La synchronisation de l'une de ces lignes écrasera ce que l'autre y a copié.\n"
            "Synchroniser quand même ?");
  EXPECT_EQ(g_appels.size(), 3u);  // the comparison's only
  // Going on leads to the usual confirmation.
  vue.reponses = {TReponseMessage::Oui, TReponseMessage::Ok};
  j.ButtonSynchroniserClick();
  EXPECT_EQ(vue.messages.size(), 3u);
  ASSERT_EQ(g_appels.size(), 6u);
  EXPECT_FALSE(g_appels.back().comparer);

  // Six rows on one destination make 15 conflicts: the question names five.
  Rangees({{"/1", "/d"}, {"/2", "/d"}, {"/3", "/d"}, {"/4", "/d"}, {"/5", "/d"}, {"/6", "/d"}});
  j.ButtonSynchroniserClick();
  EXPECT_NE(vue.messages.back().texte.find("(« /d » et « /d »)\n- et 10 autre(s) cas\nLa "),
            std::string::npos);
}

TEST_F(JumelixTest, ControlCharactersOfTheWalkNeverSplitALine) {
  Rangees({{"/s1", "/d1"}});
  g_scripts["/s1"] = {{Etape::Ligne, "/d1/a\nSynchronisation terminée. Nombre d'erreurs 0"}};
  j.ButtonComparerClick();
  EXPECT_EQ(vue.log, V{"/d1/a\\nSynchronisation terminée. Nombre d'erreurs 0"});
  Service();
  Rangees({{"/s1", "/d1"}, {"/s\t2", "/d2"}});
  j.Executer(false);
  EXPECT_EQ(journal[0], "/d1/a\\nSynchronisation terminée. Nombre d'erreurs 0");
  EXPECT_EQ(journal[1], "/s\\t2 et /d2 =");
}

TEST_F(JumelixTest, ListFileMustBeARegularFile) {
  RepTemp rep;
  ASSERT_EQ(mkfifo((rep / "fifo").c_str(), 0600), 0);
  for (const std::string& chemin : {rep / "fifo", std::string("/dev/zero"), rep / ""}) {
    CompteRendu().ViderCompteRendu();
    journal.clear();
    Service(chemin);  // would block or never end if it were read
    EXPECT_EQ(journal, V{"ERREUR : Fichier non trouvé : " + chemin});
    EXPECT_EQ(j.Grille().NbLignes(), 2);
  }
}

TEST_F(JumelixTest, SaveWritesFilledRowsAndReadingItBackIsUnchanged) {
  RepTemp rep;
  Rangees({{"/a", "/b"}, {"", "/d"}, {" ", ""}, {" ", "  "}, {"/é", "/f"}});
  vue.reponse_enregistrer = "  " + (rep / "l.ini") + " ";
  ASSERT_TRUE(j.EnregistrerFichierListe());
  EXPECT_EQ(test::TempTree::Lire(rep / "l.ini"),
            std::string(kTitres) + "/a\r\n/b\r\n \r\n  \r\n/é\r\n/f\r\n");
  EXPECT_FALSE(j.Grille().GrilleModifiee());
  EXPECT_EQ(j.Grille().NbLignes(), 6);  // unsaved rows stay shown
  ASSERT_EQ(vue.dialogues.size(), 1u);
  EXPECT_EQ(vue.dialogues[0].extension_defaut, "ini");
  EXPECT_EQ(vue.dialogues[0].filtres.size(), 2u);
  EXPECT_EQ(j.FichierListe(), rep / "l.ini");  // the saved file becomes the current list
  EXPECT_EQ(j.TitreFenetre(), "l.ini — Jumelix");
  // "Enregistrer" now writes there without a dialog; "Enregistrer sous..." asks again.
  j.Grille().DefinirCellule(0, 1, "/a2");
  EXPECT_EQ(j.TitreFenetre(), "*l.ini — Jumelix");
  j.Enregistrerlefichierliste1Click();
  EXPECT_EQ(vue.dialogues.size(), 1u);
  EXPECT_EQ(test::TempTree::Lire(rep / "l.ini").find("/a2\r\n"), std::string(kTitres).size());
  vue.reponse_enregistrer.reset();
  j.EnregistrerSous1Click();
  EXPECT_EQ(vue.dialogues.size(), 2u);
  EXPECT_EQ(vue.dialogues[1].nom_initial, rep / "l.ini");
  EXPECT_EQ(j.ListesRecentes().front(), rep / "l.ini");

  TVueEnregistree v2;
  TJumelix j2(v2, mail, [](const std::string&) {});
  j2.DefinirParcours(ParcoursScripte);
  v2.reponse_ouvrir = rep / "l.ini";
  j2.Lireunfichierliste1Click();
  EXPECT_EQ(j2.FichierListe(), rep / "l.ini");
  EXPECT_EQ(j2.Grille().NbLignes(), 4);
  EXPECT_EQ(j2.Grille().Cellule(0, 3), "/é");
  EXPECT_FALSE(j2.Grille().GrilleModifiee());
  EXPECT_EQ(j2.Grille().Cellule(2, 1), "");  // states stay empty after reading
}

TEST_F(JumelixTest, TheTitleStarSaysWhetherSavingWouldChangeTheFile) {
  RepTemp rep;
  ASSERT_TRUE(j.OuvrirFichierListe(rep.Fichier("l.ini", std::string(kTitres) + "/x\r\n/y\r\n")));
  // Blank and half-filled rows are not written: nothing to save.
  j.ButtonAjouterLigneClick();
  j.StringGrid1SetEditText(kColSource, 2, "/z");
  EXPECT_EQ(j.TitreFenetre(), "l.ini — Jumelix");
  j.StringGrid1SetEditText(kColCible, 2, "/t");
  EXPECT_EQ(j.TitreFenetre(), "*l.ini — Jumelix");
  // Every row deleted: saving would empty the file (closing asks nothing, as before).
  vue.reponses = {TReponseMessage::Ok};
  j.SupprimerToutesLesLignesClick();
  EXPECT_EQ(j.TitreFenetre(), "*l.ini — Jumelix");
  EXPECT_EQ(j.DecisionFermeture(), TDecisionFermeture::Fermer);
}

TEST_F(JumelixTest, ReadingAListReplacesEveryRow) {
  RepTemp rep;
  Ecrire(rep / "l.ini", std::string(kTitres) + "/x\r\n/y\r\n");
  Rangees({{"/a", "/b"}, {"/c", "/d"}, {"/e", "/f"}});
  vue.reponse_ouvrir = rep / "l.ini";
  // Unsaved rows: the save question comes first; Annuler keeps everything, no dialog.
  j.Lireunfichierliste1Click();
  ASSERT_EQ(vue.messages.size(), 1u);
  EXPECT_EQ(vue.messages[0].titre, "Sauvegarder les changements");
  EXPECT_TRUE(vue.dialogues.empty());
  EXPECT_EQ(j.Grille().NbLignes(), 4);
  vue.reponses = {TReponseMessage::Non};
  j.Lireunfichierliste1Click();
  EXPECT_EQ(j.Grille().NbLignes(), 2);
  EXPECT_EQ(j.Grille().Cellule(0, 1), "/x");
  ASSERT_EQ(vue.dialogues.size(), 1u);
  EXPECT_EQ(vue.dialogues[0].nom_initial, "");
  // Cancelled dialog: nothing changes.
  vue.reponse_ouvrir.reset();
  j.Lireunfichierliste1Click();
  EXPECT_EQ(j.Grille().Cellule(0, 1), "/x");
  EXPECT_EQ(vue.dialogues[1].nom_initial, rep / "l.ini");
}

TEST_F(JumelixTest, SaveKeepsPermissionsAndWritesThroughALink) {
  RepTemp rep;
  Rangees({{"/a", "/b"}});
  Ecrire(rep / "l.ini", "ancien");
  ASSERT_EQ(chmod((rep / "l.ini").c_str(), 0600), 0);
  ASSERT_EQ(symlink((rep / "l.ini").c_str(), (rep / "lien.ini").c_str()), 0);
  vue.reponse_enregistrer = rep / "lien.ini";
  ASSERT_TRUE(j.EnregistrerFichierListe());
  EXPECT_TRUE(fs::is_symlink(rep / "lien.ini"));
  EXPECT_EQ(test::TempTree::Lire(rep / "l.ini"), std::string(kTitres) + "/a\r\n/b\r\n");
  EXPECT_EQ(fs::status(rep / "l.ini").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(JumelixTest, SavingOverAFileThatWasNotReadAsAListAsksFirst) {
  RepTemp rep;
  const std::string document = rep.Fichier("notes.txt", "mes notes\n");
  vue.reponse_ouvrir = document;
  j.Lireunfichierliste1Click();  // opened on purpose: no word, as for any file
  Rangees({{"/a", "/b"}});
  // "Non": the save dialog asks where instead (cancelled here); "Oui" replaces the file,
  // which is then a list like any other.
  vue.reponses = {TReponseMessage::Non};
  EXPECT_FALSE(j.EnregistrerFichierListe());
  EXPECT_EQ(test::TempTree::Lire(document), "mes notes\n");
  EXPECT_EQ(vue.dialogues.size(), 2u);
  vue.reponses = {TReponseMessage::Oui};
  EXPECT_TRUE(j.EnregistrerFichierListe());
  EXPECT_TRUE(j.EnregistrerFichierListe());
  EXPECT_EQ(test::TempTree::Lire(document), std::string(kTitres) + "/a\r\n/b\r\n");
  ASSERT_EQ(vue.messages.size(), 2u);
  EXPECT_EQ(vue.messages[1].texte, "« " + document +
                                       " » n'a pas été lu comme un fichier liste : l'enregistrer "
                                       "remplacerait tout ce qu'il contient.\nRemplacer ce "
                                       "fichier ?");
  // An empty file holds nothing to lose.
  ASSERT_TRUE(j.OuvrirFichierListe(rep.Fichier("vide.ini", "")));
  Rangees({{"/c", "/d"}});
  EXPECT_TRUE(j.EnregistrerFichierListe());
  EXPECT_EQ(vue.messages.size(), 2u);
}

TEST_F(JumelixTest, SaveCancelledBlankOrFailingReturnsFalse) {
  Rangees({{"/a", "/b"}});
  EXPECT_FALSE(j.EnregistrerFichierListe());  // cancelled
  vue.reponse_enregistrer = "  ";
  EXPECT_FALSE(j.EnregistrerFichierListe());
  EXPECT_TRUE(vue.messages.empty());
  vue.reponse_enregistrer = "/nonexistent/dir/l.ini";
  EXPECT_FALSE(j.EnregistrerFichierListe());
  ASSERT_EQ(vue.messages.size(), 1u);  // a failed write is said, not silent
  EXPECT_NE(vue.messages[0].texte.find("/nonexistent/dir/l.ini"), std::string::npos);
  EXPECT_TRUE(j.Grille().GrilleModifiee());
}

TEST_F(JumelixTest, CloseQueryFollowsTheAnswer) {
  RepTemp rep;
  Rangees({{"/a", "/b"}});
  ASSERT_EQ(j.DecisionFermeture(), TDecisionFermeture::Demander);

  vue.reponses = {TReponseMessage::Annuler};
  EXPECT_FALSE(j.FormCloseQuery());
  ASSERT_EQ(vue.messages.size(), 1u);
  EXPECT_EQ(vue.messages[0].titre, "Sauvegarder les changements");
  EXPECT_EQ(vue.messages[0].boutons, TBoutonsMessage::OuiNonAnnuler);

  vue.reponses = {TReponseMessage::Non};
  EXPECT_TRUE(j.FormCloseQuery());

  vue.reponses = {TReponseMessage::Oui};  // the save dialog is cancelled
  EXPECT_FALSE(j.FormCloseQuery());

  vue.reponses = {TReponseMessage::Oui};
  vue.reponse_enregistrer = rep / "l.ini";
  EXPECT_TRUE(j.FormCloseQuery());
  EXPECT_TRUE(fs::exists(rep / "l.ini"));
  EXPECT_EQ(j.DecisionFermeture(), TDecisionFermeture::Fermer);
}

TEST_F(JumelixTest, AjouterLigneButtonGoesToTheLastRowFirst) {
  Rangees({{"/a", "/b"}, {"", ""}});
  ASSERT_TRUE(j.StringGrid1SelectCell(1, 1));
  j.ButtonAjouterLigneClick();  // the blank last row is reused
  EXPECT_EQ(j.Grille().NbLignes(), 3);
  EXPECT_EQ(j.Grille().LigneCourante(), 2);
  j.StringGrid1SetEditText(0, 2, "/c");
  ASSERT_TRUE(j.StringGrid1SelectCell(1, 1));
  j.ButtonAjouterLigneClick();
  EXPECT_EQ(j.Grille().NbLignes(), 4);
  EXPECT_EQ(j.Grille().LigneCourante(), 3);
  EXPECT_EQ(j.Grille().ColonneCourante(), 0);
}


// ---- The window as a desktop user expects it ----

TEST(TexteVolume, FrenchUnitsAndDecimalComma) {
  const std::pair<uint64_t, const char*> cas[] = {
      {0, "0 octets"},          {999, "999 octets"},     {1000, "1,0 ko"},
      {12500, "12,5 ko"},       {999949, "999,9 ko"},    {999950, "1,0 Mo"},
      {3100000, "3,1 Mo"},      {1200000000, "1,2 Go"},  {5000000000000, "5,0 To"},
  };
  for (const auto& [octets, texte] : cas) EXPECT_EQ(TexteVolume(octets), texte) << octets;
}

TEST(DevelopperTilde, OnlyTildeAloneOrFollowedBySlash) {
  const std::tuple<const char*, const char*, const char*> cas[] = {
      {"~", "/home/u", "/home/u"},          {"~/", "/home/u", "/home/u/"},
      {"~/Photos", "/home/u", "/home/u/Photos"}, {"~/a", "/", "/a"},
      {"~autre/x", "/home/u", "~autre/x"},  {"/x/~/y", "/home/u", "/x/~/y"},
      {"~/a", "", "~/a"},                   {"", "/home/u", ""},
  };
  for (const auto& [chemin, maison, attendu] : cas)
    EXPECT_EQ(DevelopperTilde(chemin, maison), attendu) << chemin << " | " << maison;
  const std::string maison = std::getenv("HOME");
  EXPECT_EQ(CheminDeCellule("  ~/Documents/ "), maison + "/Documents");
}

TEST(ListesRecentes, MostRecentFirstOnceEachAtMostEightKeptInTheStateFile) {
  RepTemp rep;
  const std::string fichier = rep / "etat/listes-recentes";
  {
    TListesRecentes r(fichier);
    for (int i = 0; i < 10; ++i) r.Ajouter("/l" + std::to_string(i) + ".ini");
    r.Ajouter("/l5.ini");
    r.Retirer("/l8.ini");
    EXPECT_EQ(r.Chemins(), (V{"/l5.ini", "/l9.ini", "/l7.ini", "/l6.ini", "/l4.ini", "/l3.ini",
                              "/l2.ini"}));
  }
  TListesRecentes relu(fichier);
  EXPECT_EQ(relu.Chemins().size(), 7u);
  EXPECT_EQ(relu.Chemins().front(), "/l5.ini");
  struct stat st {};
  ASSERT_EQ(stat(fichier.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  TListesRecentes memoire("");  // no state directory: kept in memory only
  memoire.Ajouter("/a.ini");
  EXPECT_EQ(memoire.Chemins(), V{"/a.ini"});
}

TEST_F(JumelixTest, LogLinesArriveInBatchesInOrderWithTheStateCell) {
  Rangees({{"/s", "/d"}});
  std::vector<Etape> script;
  for (int i = 1; i <= 100; ++i) {
    script.push_back({Etape::Ligne, "diff " + std::to_string(i)});
    script.push_back({Etape::Point});
  }
  g_scripts["/s"] = script;
  std::vector<std::string> etats;
  // 50 ms pass between check points: a batch every fourth one.
  vue.sur_evenements = [&] {
    temps += 50;
    etats.push_back(j.Grille().Cellule(kColEtat, 1));
  };
  j.ButtonComparerClick();
  ASSERT_EQ(vue.log.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(vue.log[i], "diff " + std::to_string(i + 1));
  EXPECT_GE(vue.lots_log.size(), 20u);
  EXPECT_LE(vue.lots_log.size(), 30u);
  EXPECT_EQ(etats[2], "???");
  EXPECT_EQ(etats[4], "5 erreur(s)");  // written with the batch of the 5th point (200 ms)
  EXPECT_EQ(j.Grille().Cellule(kColEtat, 1), "100 erreur(s)");
}

TEST_F(JumelixTest, ProgressGivesThePairItsRowDirectoryAndVolume) {
  Rangees({{"/s1", "/d1"}, {"", "/d2"}, {"/s3", "/d3"}});
  vue.reponses = {TReponseMessage::Ok};  // run without the half-filled row
  std::vector<int> lignes_en_cours;
  g_scripts["/s3"] = {{Etape::Point}, {Etape::Copie}, {Etape::Point}};
  vue.sur_evenements = [&] {
    lignes_en_cours.push_back(j.LigneEnCours());
    temps += 2000;
  };
  j.ButtonSynchroniserClick();
  EXPECT_EQ(vue.runs, (std::vector<bool>{true, false}));
  EXPECT_EQ(lignes_en_cours, (std::vector<int>{3, 3}));
  EXPECT_EQ(j.LigneEnCours(), 0);
  ASSERT_GE(vue.avancements.size(), 2u);
  EXPECT_EQ(vue.avancements[0].paire, 1);
  EXPECT_EQ(vue.avancements[0].nb_paires, 2);
  EXPECT_EQ(vue.avancements[0].ligne, 1);
  EXPECT_EQ(vue.avancements[0].repertoire, "/s1");
  EXPECT_EQ(vue.avancements[1].paire, 2);
  EXPECT_EQ(vue.avancements[1].ligne, 3);
  EXPECT_TRUE(vue.avancements[1].volume.empty());  // nothing copied yet
  // The walk's own figures: 3 MB copied in 3 s.
  g_scripts["/s3"] = {{Etape::Point}};
  TParcoursCouple avec_octets = [](const std::string& s, const std::string& d, bool c,
                                   const TSurMessage& m, const TSurAvancement& a, TEtatRun& e) {
    e.OctetsCopies = 3000000;
    e.RepertoireCourant = s + "/sous";
    return ParcoursScripte(s, d, c, m, a, e);
  };
  j.DefinirParcours(avec_octets);
  vue.avancements.clear();
  temps += 1;
  vue.sur_evenements = [&] {
    temps += 3000;
    vue.avancements.push_back(j.Avancement());
  };
  vue.reponses = {TReponseMessage::Ok, TReponseMessage::Ok};
  j.ButtonSynchroniserClick();
  ASSERT_FALSE(vue.avancements.empty());
  EXPECT_EQ(vue.avancements.back().repertoire, "/s3/sous");
  EXPECT_EQ(vue.avancements.back().volume, "3,0 Mo à 1,0 Mo/s");
}

TEST_F(JumelixTest, UndoGivesBackEveryRowOperation) {
  Rangees({{"/a", "/b"}, {"/c", "/d"}});
  EXPECT_FALSE(j.PeutAnnuler());
  j.StringGrid1SetEditText(0, 1, "/a1");
  j.StringGrid1SetEditText(0, 1, "/a12");  // one edit, keystroke after keystroke
  j.Grille().DefinirCelluleCourante(0, 2);
  j.ButtonSupprimerLigneClick();
  EXPECT_EQ(j.Grille().NbLignes(), 2);
  // "Supprimer toutes les lignes" asks first; Annuler keeps the rows.
  vue.reponses = {TReponseMessage::Annuler};
  j.SupprimerToutesLesLignesClick();
  ASSERT_EQ(vue.messages.size(), 1u);
  EXPECT_EQ(vue.messages[0].texte, kTexteSupprimerTout);
  EXPECT_EQ(vue.messages[0].boutons, TBoutonsMessage::OkAnnuler);
  EXPECT_EQ(j.Grille().Cellule(0, 1), "/a12");
  j.SupprimerToutesLesLignesClick();  // Ok
  EXPECT_TRUE(j.Grille().GrilleVide());
  j.SupprimerToutesLesLignesClick();  // an empty grid is emptied without a question
  EXPECT_EQ(vue.messages.size(), 2u);

  j.AnnulerClick();  // the rows deleted all at once
  EXPECT_EQ(j.Grille().Cellule(0, 1), "/a12");
  j.AnnulerClick();  // the deleted row
  EXPECT_EQ(j.Grille().NbLignes(), 3);
  EXPECT_EQ(j.Grille().Cellule(0, 2), "/c");
  EXPECT_EQ(j.Grille().LigneCourante(), 2);
  j.AnnulerClick();  // the whole edit
  EXPECT_EQ(j.Grille().Cellule(0, 1), "/a");
  EXPECT_FALSE(j.PeutAnnuler());
  j.AnnulerClick();  // nothing left: nothing happens
  EXPECT_EQ(j.Grille().Cellule(0, 1), "/a");
  // Insert in the grid, then undo.
  j.StringGrid1KeyDown(TTouche::Inser, false);
  EXPECT_EQ(j.Grille().NbLignes(), 4);
  j.AnnulerClick();
  EXPECT_EQ(j.Grille().NbLignes(), 3);
}

TEST_F(JumelixTest, DroppedFoldersFillCellsAndADroppedListOpens) {
  RepTemp rep;
  const std::string a = rep.Repertoire("a"), b = rep.Repertoire("b");
  const std::string liste = rep.Fichier("l.ini", std::string(kTitres) + "/x\r\n/y\r\n");
  EXPECT_TRUE(j.DeposerChemins(kColCible, 1, {a}));
  EXPECT_EQ(j.Grille().Cellule(kColCible, 1), a);
  EXPECT_EQ(j.Grille().Cellule(kColEtat, 1), "???");
  j.Grille().AjouterLigneVide();
  EXPECT_TRUE(j.DeposerChemins(kColEtat, 2, {a, b}));  // two folders: one pair
  EXPECT_EQ(j.Grille().Cellule(kColSource, 2), a);
  EXPECT_EQ(j.Grille().Cellule(kColCible, 2), b);
  EXPECT_FALSE(j.DeposerChemins(kColSource, 1, {rep / "absent"}));
  j.AnnulerClick();
  EXPECT_EQ(j.Grille().Cellule(kColSource, 2), "");

  vue.reponses = {TReponseMessage::Non};  // do not save the rows dropped so far
  EXPECT_TRUE(j.DeposerChemins(kColSource, 0, {liste}));
  EXPECT_EQ(j.FichierListe(), liste);
  EXPECT_EQ(j.Grille().Cellule(kColSource, 1), "/x");
  EXPECT_EQ(vue.messages.size(), 1u);
  EXPECT_EQ(j.TitreFenetre(), "l.ini — Jumelix");
  EXPECT_EQ(j.ListesRecentes().front(), liste);

  // During a run a drop is ignored.
  bool pendant = true;
  vue.sur_evenements = [&] { pendant = j.DeposerChemins(kColSource, 1, {a}); };
  g_scripts["/x"] = {{Etape::Point}};
  j.ButtonComparerClick();
  EXPECT_FALSE(pendant);
  EXPECT_EQ(j.Grille().Cellule(kColSource, 1), "/x");
}

TEST_F(JumelixTest, ARecentListThatIsGoneLeavesTheHistory) {
  RepTemp rep;
  const std::string liste = rep.Fichier("l.ini", std::string(kTitres) + "/x\r\n/y\r\n");
  EXPECT_TRUE(j.OuvrirFichierListe(liste));
  ASSERT_EQ(j.ListesRecentes().front(), liste);
  ASSERT_EQ(unlink(liste.c_str()), 0);
  EXPECT_TRUE(j.OuvrirFichierListe(liste));
  ASSERT_EQ(vue.messages.size(), 1u);
  EXPECT_EQ(vue.messages[0].texte, "ERREUR : Fichier non trouvé\n" + liste);
  EXPECT_TRUE(j.ListesRecentes().empty() || j.ListesRecentes().front() != liste);
}

TEST_F(JumelixTest, ServiceListsUnderstandTheHomeTilde) {
  Service(arbre_.Fichier("tilde.ini", "Répertoire source\nRépertoire cible\n~/src\n~/dst\n"));
  j.Executer(false);
  ASSERT_EQ(g_appels.size(), 1u);
  EXPECT_EQ(g_appels[0].source, std::string(std::getenv("HOME")) + "/src");
  EXPECT_EQ(g_appels[0].destination, std::string(std::getenv("HOME")) + "/dst");
}

}  // namespace
}  // namespace jumelix
