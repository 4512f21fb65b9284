// The window's preview through its controller, on real trees and the real engine: the
// plan a comparison makes, the synchronisation that follows it, the runs of selected rows,
// the report, the progress totals and the window's own run log.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/UJumelix.h"
#include "shared/URoutines.h"
#include "support/ArbresApercu.h"
#include "support/MailFactice.h"
#include "support/TempTree.h"
#include "support/VueEnregistree.h"

namespace jumelix {
namespace {

using test::TempTree;
using Lignes = std::vector<std::string>;

bool Contient(const Lignes& lignes, const std::string& texte) {
  return std::find(lignes.begin(), lignes.end(), texte) != lignes.end();
}

class ApercuFenetreTest : public ::testing::Test, protected test::ArbresApercu {
 protected:
  ApercuFenetreTest()
      : j(
            vue, mail, [this](const std::string& l) { journal_service.push_back(l); }, {}, "") {}

  void SetUp() override {
    CompteRendu().ViderCompteRendu();
    j.DefinirJournalFenetre([this](const std::string& l) { journal_fenetre.push_back(l); });
    Remplir(j.Grille());
  }
  void TearDown() override {
    InstallerJoursArchive({});
    CompteRendu().ViderCompteRendu();
  }

  // The plan's action for the destination entry `rel` of the pair `paire`.
  size_t Action(size_t paire, const std::string& rel) {
    const TPlanApercu::TPaire& p = j.Plan().Paires().at(paire);
    for (size_t i : p.actions)
      if (p.changements[i].action.chemin == p.destination + "/" + rel) return i;
    ADD_FAILURE() << rel;
    return TPlanApercu::kAucun;
  }
  std::string Etat(int ligne) const { return j.Grille().Cellule(kColEtat, ligne); }

  TVueEnregistree vue;
  test::MailFactice mail;
  Lignes journal_service, journal_fenetre;
  TJumelix j;
};

TEST_F(ApercuFenetreTest, AComparisonPlansEachRowAndKeepsItsLog) {
  j.ButtonComparerClick();
  ASSERT_EQ(j.Plan().Paires().size(), 2u);
  EXPECT_EQ(j.Plan().Paires()[0].ligne, 1);
  EXPECT_EQ(j.Plan().Paires()[1].ligne, 2);
  const TPlanApercu::TTotaux t1 = j.Plan().Totaux(0);
  EXPECT_EQ(t1.creations, 2u);  // neuf.txt, dossier/ with its two files
  EXPECT_EQ(t1.remplacements, 1u);
  EXPECT_EQ(t1.suppressions, 1u);
  EXPECT_EQ(t1.entrees, 6u);
  // The log keeps the compare mode's lines: the missing folder is one line there too.
  EXPECT_TRUE(Contient(vue.log, D1 + "/dossier ==> Répertoire inexistant"));
  EXPECT_FALSE(Contient(vue.log, D1 + "/dossier/a ==> Fichier inexistant"));
  EXPECT_EQ(Etat(1), "5 erreur(s)");
  // A comparison writes no log of its own.
  EXPECT_TRUE(journal_fenetre.empty());
  EXPECT_TRUE(journal_service.empty());
}

TEST_F(ApercuFenetreTest, WithNothingLeftOutTheSynchronisationRunsAsAlways) {
  j.ButtonComparerClick();
  vue.messages.clear();
  j.ButtonSynchroniserClick();
  ASSERT_EQ(vue.messages.size(), 1u);
  EXPECT_NE(vue.messages[0].texte.find("Veuillez confirmer"), std::string::npos);
  EXPECT_EQ(vue.messages[0].texte.find("laissant"), std::string::npos);
  EXPECT_FALSE(TempTree::Existe(D1 + "/trop.txt"));
  EXPECT_EQ(Etat(1), "=");
  EXPECT_EQ(Etat(2), "=");
  // The synchronisation outdated the plan.
  EXPECT_TRUE(j.Plan().Vide());
}

TEST_F(ApercuFenetreTest, LeftOutActionsAreToldAndKeptAndChangesSinceAreReported) {
  j.ButtonComparerClick();
  const int generation = j.GenerationPlan();
  j.Plan().CocherType(0, TypeAction::Suppression, false);
  j.Plan().Cocher(0, Action(0, "dossier"), false);
  EXPECT_EQ(j.Plan().NbLaisses(), 2u);
  // After the preview the source of a planned replacement changes.
  t.Fichier("s1/change.txt", "modifiée encore après l'aperçu");
  vue.messages.clear();
  j.ButtonSynchroniserClick();
  ASSERT_EQ(vue.messages.size(), 1u);
  EXPECT_NE(vue.messages[0].texte.find("en laissant de côté 2 élément(s) décoché(s)"),
            std::string::npos)
      << vue.messages[0].texte;
  EXPECT_TRUE(TempTree::Existe(D1 + "/trop.txt"));
  EXPECT_FALSE(TempTree::Existe(D1 + "/dossier"));
  EXPECT_EQ(TempTree::Lire(D1 + "/neuf.txt"), "neuf");
  EXPECT_EQ(TempTree::Lire(D1 + "/change.txt"), "ancienne");
  EXPECT_EQ(vue.log, (Lignes{"Changé depuis l'aperçu, laissé tel quel : " + D1 + "/change.txt"}));
  EXPECT_EQ(Etat(1), "1 erreur(s)");
  EXPECT_EQ(Etat(2), "=");
  EXPECT_NE(j.GenerationPlan(), generation);
  EXPECT_TRUE(j.Plan().Vide());
}

TEST_F(ApercuFenetreTest, AnyChangeOfTheRowsDropsThePlan) {
  struct Cas {
    const char* quoi;
    std::function<void(TJumelix&)> changer;
  };
  const std::vector<Cas> cas = {
      {"ligne ajoutée", [](TJumelix& jj) { jj.ButtonAjouterLigneClick(); }},
      {"cellule modifiée",
       [this](TJumelix& jj) { jj.StringGrid1SetEditText(kColCible, 2, D2 + "/autre"); }},
      {"ligne supprimée", [](TJumelix& jj) { jj.ButtonSupprimerLigneClick(); }},
  };
  for (const Cas& c : cas) {
    j.ButtonComparerClick();
    ASSERT_FALSE(j.Plan().Vide()) << c.quoi;
    const int generation = j.GenerationPlan();
    c.changer(j);
    EXPECT_TRUE(j.Plan().Vide()) << c.quoi;
    EXPECT_NE(j.GenerationPlan(), generation) << c.quoi;
    j.AnnulerClick();
  }
  // Saving the list changes no row: the plan stays.
  j.ButtonComparerClick();
  vue.reponse_enregistrer = t.Racine() + "/liste.ini";
  EXPECT_TRUE(j.EnregistrerFichierListe(true));
  EXPECT_FALSE(j.Plan().Vide());
}

TEST_F(ApercuFenetreTest, ASelectionRunsOnlyItsRowsWithTheUsualQuestionsAndMail) {
  j.ButtonComparerClick();
  EXPECT_EQ(Etat(2), "1 erreur(s)");
  t.Fichier("s1/encore", "e");
  j.ComparerSelectionClick({1});
  EXPECT_EQ(Etat(1), "6 erreur(s)");
  EXPECT_EQ(Etat(2), "1 erreur(s)");  // as the last run of that row left it
  ASSERT_EQ(j.Plan().Paires().size(), 1u);
  EXPECT_EQ(j.Plan().Paires()[0].ligne, 1);

  vue.messages.clear();
  mail.modes.clear();
  j.SynchroniserSelectionClick({2});
  ASSERT_EQ(vue.messages.size(), 1u);
  EXPECT_EQ(vue.messages[0].titre, "Synchronisation des répertoires");
  EXPECT_EQ(mail.modes, (std::vector<bool>{false}));
  EXPECT_EQ(Etat(1), "6 erreur(s)");
  EXPECT_EQ(Etat(2), "=");
  EXPECT_TRUE(TempTree::Existe(D2 + "/x"));
  EXPECT_FALSE(TempTree::Existe(D1 + "/neuf.txt"));
  // The buttons still run every row; a cancelled question runs none.
  vue.reponses.push_back(TReponseMessage::Annuler);
  j.SynchroniserSelectionClick({1});
  EXPECT_FALSE(TempTree::Existe(D1 + "/neuf.txt"));
  j.ButtonSynchroniserClick();
  EXPECT_TRUE(TempTree::Existe(D1 + "/neuf.txt"));
  EXPECT_EQ(Etat(1), "=");
}

TEST_F(ApercuFenetreTest, ASelectionLeavesOutRowsWithOneDirectoryOnlyIfUnselected) {
  j.Grille().AjouterLigneVide();
  j.Grille().DefinirCellule(kColSource, 3, S2);  // no destination
  vue.messages.clear();
  j.ComparerSelectionClick({1, 2});
  EXPECT_TRUE(vue.messages.empty());  // row 3 is not run: nothing to ask about it
  j.ComparerSelectionClick({3});
  EXPECT_EQ(vue.messages.size(), 1u);
}

TEST_F(ApercuFenetreTest, TheReportCountsReplacementsAndTheArchive) {
  InstallerJoursArchive([] { return 30; });
  j.ButtonSynchroniserClick();
  const std::vector<TBilanCouple>& bilan = j.BilanDernierRun();
  ASSERT_EQ(bilan.size(), 2u);
  EXPECT_EQ(bilan[0].copies, 4);  // neuf.txt, change.txt, dossier/a, dossier/b
  EXPECT_EQ(bilan[0].remplaces, 1);
  EXPECT_EQ(bilan[0].supprimes, 1);
  EXPECT_EQ(bilan[0].archives, 2);  // change.txt's old version, trop.txt
  const std::string prefixe = D1 + "/.jumelix-archive/";
  EXPECT_EQ(bilan[0].dossier_archive.compare(0, prefixe.size(), prefixe), 0)
      << bilan[0].dossier_archive;
  EXPECT_TRUE(TempTree::Existe(bilan[0].dossier_archive + "/trop.txt"));
  EXPECT_EQ(bilan[1].archives, 0);
  EXPECT_EQ(bilan[1].dossier_archive, "");
}

TEST_F(ApercuFenetreTest, WindowSynchronisationsHaveALogOfTheirOwn) {
  j.Grille().DefinirCellule(kColSource, 2, t.Racine() + "/absent");
  j.ButtonSynchroniserClick();
  ASSERT_EQ(journal_fenetre.size(), 4u) << ::testing::PrintToString(journal_fenetre);
  EXPECT_EQ(journal_fenetre[0], S1 + " et " + D1 + " =");
  EXPECT_NE(journal_fenetre[1].find(t.Racine() + "/absent"), std::string::npos);
  EXPECT_EQ(journal_fenetre[2], "Synchronisation terminée. Nombre d'erreurs 1");
  EXPECT_EQ(journal_fenetre[3], j.TexteCompteurs() + "\n");
  EXPECT_TRUE(journal_service.empty());
}

TEST_F(ApercuFenetreTest, ProgressKnowsThePlansTotalsOnlyWhenThereIsOne) {
  j.ButtonComparerClick();
  const TPlanApercu::TTotaux total = j.Plan().Totaux();
  vue.avancements.clear();
  j.ButtonSynchroniserClick();
  ASSERT_FALSE(vue.avancements.empty());
  for (const TAvancementRun& a : vue.avancements) {
    EXPECT_EQ(a.changements_total, static_cast<int64_t>(total.entrees));
    EXPECT_EQ(a.octets_total, total.octets);
    EXPECT_GE(a.pour_mille_paire, 0);
    EXPECT_LE(a.pour_mille_paire, 1000);
  }
  // At the end, every planned change was made.
  EXPECT_EQ(vue.avancements.back().changements, static_cast<int64_t>(total.entrees));
  vue.avancements.clear();
  t.Fichier("s2/y", "y");
  j.ButtonSynchroniserClick();  // no plan left
  ASSERT_FALSE(vue.avancements.empty());
  EXPECT_EQ(vue.avancements.back().changements_total, -1);
  EXPECT_EQ(vue.avancements.back().pour_mille_paire, -1);
}

}  // namespace
}  // namespace jumelix
