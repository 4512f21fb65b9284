// A previewed plan on real trees: made by a comparison, some changes left out, the trees
// changed after the preview, then a synchronisation that follows the plan.
#include "app/PlanApercu.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/BilanParcours.h"
#include "support/TempTree.h"

namespace jumelix {
namespace {

using test::TempTree;
using Lignes = std::vector<std::string>;

const time_t kT = 1678874400;

class PlanApercuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    S = t.Repertoire("src");
    D = t.Repertoire("dst");
    t.Fichier("src/garde", "12345");
    t.Fichier("src/laisse", "abc");
    t.Fichier("src/change", "avant");
    t.Fichier("src/neuf/a", "a");
    t.Fichier("src/neuf/b", "bb");
    t.Fichier("src/recent", "source");
    t.Fichier("dst/recent", "modifié dans le miroir");
    t.Fichier("dst/trop", "t");
    t.Fichier("dst/vieux/y", "y");
    t.DateModif("src/recent", kT);
    t.DateModif("dst/recent", kT + 60);
  }
  // A comparison of the pair fills a new plan.
  void Apercu() {
    plan = TPlanApercu();
    plan.AjouterPaire(S, D);
    TEtatRun etat;
    etat.SurAction = plan.Recepteur();
    test::Traiter(S, D, true, {}, &etat);
  }
  size_t Indice(const std::string& rel) const {
    const auto& c = plan.Paires()[0].changements;
    for (size_t i = 0; i < c.size(); ++i) {
      if (c[i].action.chemin == D + "/" + rel) return i;
    }
    ADD_FAILURE() << rel;
    return c.size();
  }
  // The report lines of the entries `rels` left as they are: they changed since the preview.
  Lignes ChangesDepuis(std::initializer_list<const char*> rels) const {
    Lignes lignes;
    for (const char* r : rels)
      lignes.push_back("Changé depuis l'aperçu, laissé tel quel : " + D + "/" + r);
    return lignes;
  }
  test::Bilan Synchroniser() {
    TEtatRun etat;
    etat.SurChoix = plan.Choix(0);
    return test::Traiter(S, D, false, {}, &etat);
  }
  TempTree t;
  std::string S, D;
  TPlanApercu plan;
};

TEST_F(PlanApercuTest, CountsBytesAndTheMirrorChangedByHand) {
  Apercu();
  ASSERT_EQ(plan.Paires().size(), 1u);
  const TPlanApercu::TTotaux tout = plan.Totaux();
  // garde, laisse, change, and neuf/ as one action with its two files folded in.
  EXPECT_EQ(tout.creations, 4u);
  EXPECT_EQ(tout.remplacements, 1u);
  EXPECT_EQ(tout.recentes, 1u);  // recent: newer in the mirror than in the source
  EXPECT_EQ(tout.suppressions, 2u);
  EXPECT_EQ(tout.Actions(), 7u);
  EXPECT_EQ(tout.entrees, 9u);  // the entries a synchronisation changes, folded ones included
  EXPECT_EQ(tout.octets, 5 + 3 + 5 + 1 + 2 + 6);
  EXPECT_EQ(tout.laisses, 0u);
  // All deletions of the pair left out, then one folder's creation with all below it.
  plan.CocherType(0, TypeAction::Suppression, false);
  plan.Cocher(0, Indice("neuf"), false);
  const TPlanApercu::TTotaux reste = plan.Totaux(0);
  EXPECT_EQ(reste.laisses, 3u);
  EXPECT_EQ(reste.creations, 3u);
  EXPECT_EQ(reste.entrees, 4u);
  EXPECT_EQ(reste.octets, 5 + 3 + 5 + 6);
  plan.Cocher(0, Indice("neuf"), true);
  EXPECT_EQ(plan.NbLaisses(), 2u);
}

TEST_F(PlanApercuTest, ASynchronisationFollowsThePlanAndLeavesWhatChangedSince) {
  Apercu();
  plan.Cocher(0, Indice("laisse"), false);
  plan.Cocher(0, Indice("vieux"), false);
  // After the preview: a source file changes, another appears.
  t.Fichier("src/change", "après, plus long");
  t.Fichier("src/apparu", "x");
  EXPECT_EQ(Synchroniser().Tries(), ChangesDepuis({"apparu", "change"}));
  EXPECT_EQ(TempTree::Noms(D), (Lignes{"garde", "neuf", "recent", "vieux"}));
  EXPECT_EQ(TempTree::Noms(D + "/neuf"), (Lignes{"a", "b"}));
  EXPECT_EQ(TempTree::Lire(D + "/recent"), "source");
  // Without a plan, the next night mirrors everything.
  EXPECT_TRUE(test::Traiter(S, D, false).lignes.empty());
  EXPECT_EQ(test::EcartsRsync(S, D), "");
}

TEST_F(PlanApercuTest, AFolderMissingFromTheDestinationIsOneActionWithItsContent) {
  t.Fichier("src/neuf/sous/c", "ccc");
  t.Fichier("src/neuf/sous/plus/d", "dddd");
  Apercu();
  const TPlanApercu::TPaire& p = plan.Paires()[0];
  const size_t neuf = Indice("neuf");
  ASSERT_LT(neuf, p.changements.size());
  const TPlanApercu::TChangement& dossier = p.changements[neuf];
  EXPECT_EQ(dossier.contenu, 6u);  // a, b, sous/, sous/c, sous/plus/, sous/plus/d
  EXPECT_EQ(dossier.octets_contenu, 1 + 2 + 3 + 4);
  // Each entry below it belongs to that one action, however deep.
  for (const char* rel : {"neuf/a", "neuf/sous", "neuf/sous/plus/d"})
    EXPECT_EQ(plan.ActionDe(0, Indice(rel)), neuf) << rel;
  EXPECT_EQ(plan.ActionDe(0, Indice("garde")), Indice("garde"));
  size_t actions_de_neuf = 0;
  for (size_t i : p.actions) actions_de_neuf += i == neuf;
  EXPECT_EQ(actions_de_neuf, 1u);
  EXPECT_EQ(p.actions.size(), 7u);
  // Leaving out every creation of the pair leaves the folder's content too.
  plan.CocherType(0, TypeAction::Creation, false);
  EXPECT_FALSE(p.changements[Indice("neuf/sous/plus/d")].coche);
  EXPECT_EQ(plan.Totaux(0).laisses, 4u);
  plan.CocherType(0, TypeAction::Creation, true);
  EXPECT_TRUE(p.changements[Indice("neuf/sous/c")].coche);
}

TEST_F(PlanApercuTest, AFolderLeftOutLeavesItsContentAndWhatAppearedInIt) {
  Apercu();
  plan.Cocher(0, Indice("vieux"), false);  // something left out: the plan is followed
  // After the preview, a file appears in a folder the plan creates, another changes in it.
  t.Fichier("src/neuf/apparu", "x");
  t.Fichier("src/neuf/b", "changé");
  EXPECT_EQ(Synchroniser().Tries(), ChangesDepuis({"neuf/apparu", "neuf/b"}));
  EXPECT_EQ(TempTree::Noms(D + "/neuf"), (Lignes{"a"}));
  EXPECT_EQ(TempTree::Noms(D + "/vieux"), (Lignes{"y"}));
  // The same plan with the folder left out: nothing of it is made, without a word.
  std::filesystem::remove_all(D + "/neuf");
  Apercu();
  plan.Cocher(0, Indice("neuf"), false);
  t.Fichier("src/neuf/encore", "e");
  EXPECT_TRUE(Synchroniser().lignes.empty());
  EXPECT_FALSE(TempTree::Existe(D + "/neuf"));
}

TEST_F(PlanApercuTest, AMirrorEntryChangedSinceThePreviewIsLeftAsItIs) {
  Apercu();
  plan.Cocher(0, Indice("laisse"), false);
  // After the preview someone edits the mirror: the file to replace, the one to delete.
  t.Fichier("dst/recent", "retouché encore");
  t.Fichier("dst/trop", "touché");
  EXPECT_EQ(Synchroniser().Tries(), ChangesDepuis({"recent", "trop"}));
  EXPECT_EQ(TempTree::Lire(D + "/recent"), "retouché encore");
  EXPECT_EQ(TempTree::Lire(D + "/trop"), "touché");
}

TEST(PlanApercu, FindsThePairOfAGridRow) {
  TPlanApercu plan;
  plan.AjouterPaire("/a", "/b", 2);
  plan.AjouterPaire("/c", "/d", 5);
  EXPECT_EQ(plan.PaireDeLigne(5), 1u);
  EXPECT_EQ(plan.PaireDeLigne(2), 0u);
  EXPECT_EQ(plan.PaireDeLigne(3), TPlanApercu::kAucun);
  EXPECT_FALSE(plan.Choix(7));
}

}  // namespace
}  // namespace jumelix
