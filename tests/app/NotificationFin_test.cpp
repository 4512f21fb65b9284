// The end-of-run notification: when a run deserves one and what it says, and the run
// controller's hook that hands it the run's outcome.
#include "app/NotificationFin.h"

#include <gtest/gtest.h>

#include "app/UJumelix.h"
#include "shared/URoutines.h"
#include "support/TempTree.h"
#include "support/VueEnregistree.h"

namespace jumelix {

namespace {

TFinRun Fin(uint32_t duree_ms) {
  TFinRun f;
  f.duree_ms = duree_ms;
  f.compteurs = "Nombre de fichiers copiés 3 ; Supprimés 1 ; identiques 7";
  return f;
}

}  // namespace

TEST(NotificationFinRun, OnlyForLongRunsWhileTheWindowIsInactive) {
  const struct {
    uint32_t duree_ms;
    bool active;
    bool notifiee;
  } cas[] = {
      {10001, false, true}, {600000, false, true}, {10000, false, false},
      {3000, false, false}, {10001, true, false},  {600000, true, false},
  };
  for (const auto& c : cas)
    EXPECT_EQ(NotificationFinRun(Fin(c.duree_ms), c.active).has_value(), c.notifiee)
        << c.duree_ms << " ms, fenêtre active " << c.active;
}

TEST(NotificationFinRun, SaysWhichRunEndedHowWithItsErrorsAndCounters) {
  const std::string compteurs = Fin(0).compteurs;
  const struct {
    bool comparaison, abandon, mail_en_echec;
    int32_t erreurs;
    std::string corps;
    bool urgente;
  } cas[] = {
      {false, false, false, 0, "Synchronisation terminée : 0 erreur(s)\n" + compteurs, false},
      {false, false, false, 2, "Synchronisation terminée : 2 erreur(s)\n" + compteurs, true},
      {true, false, false, 5, "Comparaison terminée : 5 erreur(s)\n" + compteurs, true},
      {true, true, false, 0, "Comparaison abandonnée : 0 erreur(s)\n" + compteurs, true},
      {false, true, false, 1, "Synchronisation abandonnée : 1 erreur(s)\n" + compteurs, true},
      {false, false, true, 0,
       "Synchronisation terminée : 0 erreur(s)\n" + compteurs +
           "\nLe compte-rendu par mail n'a pas pu être envoyé.",
       true},
  };
  for (const auto& c : cas) {
    TFinRun f = Fin(20000);
    f.comparaison = c.comparaison;
    f.abandon = c.abandon;
    f.erreurs = c.erreurs;
    f.mail_en_echec = c.mail_en_echec;
    const std::optional<TNotification> n = NotificationFinRun(f, false);
    ASSERT_TRUE(n);
    EXPECT_EQ(n->titre, "Jumelix");
    EXPECT_EQ(n->corps, c.corps);
    EXPECT_EQ(n->urgente, c.urgente) << c.corps;
  }
}

// The run controller tells its window how each window run ended.
class FinDeRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CompteRendu().ViderCompteRendu();
    j.DefinirSurFinRun([this](const TFinRun& f) { fins.push_back(f); });
    // Two pairs: the first reports two lines and takes 12 s, the second is identical.
    j.DefinirParcours([this](const std::string& source, const std::string&, bool,
                             const TSurMessage& message, const TSurAvancement&, TEtatRun& etat) {
      if (source != "/a") {
        ++etat.NbIdentiques;
        return 0;
      }
      message("ligne 1", 1, 0);
      message("ligne 2", 2, 0);
      ++etat.NbCopies;
      temps += 12000;
      return 2;
    });
    TGrilleLignes& g = j.Grille();
    g.DefinirCellule(kColSource, 1, "/a");
    g.DefinirCellule(kColCible, 1, "/b");
    g.AjouterLigneVide();
    g.DefinirCellule(kColSource, 2, "/c");
    g.DefinirCellule(kColCible, 2, "/d");
  }
  void TearDown() override { CompteRendu().ViderCompteRendu(); }

  TVueEnregistree vue;
  TPasDeRapportMail mail;
  uint32_t temps = 1000;
  TJumelix j{vue, mail, [](const std::string&) {}, [this] { return temps; }};
  std::vector<TFinRun> fins;
};

TEST_F(FinDeRunTest, HookGetsKindErrorsCountersAndDuration) {
  j.Executer(true);
  j.Executer(false);
  ASSERT_EQ(fins.size(), 2u);
  EXPECT_TRUE(fins[0].comparaison);
  EXPECT_FALSE(fins[1].comparaison);
  for (const TFinRun& f : fins) {
    EXPECT_EQ(f.erreurs, 2);
    EXPECT_EQ(f.duree_ms, 12000u);
    EXPECT_FALSE(f.abandon);
    EXPECT_FALSE(f.mail_en_echec);
    EXPECT_EQ(f.compteurs, j.TexteCompteurs());
  }
  EXPECT_FALSE(j.EnCours()) << "told once the run is over";
}

TEST_F(FinDeRunTest, ServiceRunsTellNobody) {
  test::TempTree arbre;
  TLigneCommande lc;
  lc.ModeService = true;
  lc.FichierListe = arbre.Fichier("l.ini", "Répertoire source\nRépertoire cible\n/a\n/b\n");
  j.FormCreate(lc);
  j.Executer(false);
  EXPECT_TRUE(fins.empty());
}

}  // namespace jumelix
