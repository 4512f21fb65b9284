// A previewed plan on real trees: made by a comparison, some changes left out, the trees
// changed after the preview, then a synchronisation that follows the plan.
#include "app/PlanApercu.h"

#include <gtest/gtest.h>

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
  EXPECT_EQ(tout.creations, 6u);  // garde, laisse, change, neuf/, neuf/a, neuf/b
  EXPECT_EQ(tout.remplacements, 1u);
  EXPECT_EQ(tout.recentes, 1u);  // recent: newer in the mirror than in the source
  EXPECT_EQ(tout.suppressions, 2u);
  EXPECT_EQ(tout.octets, 5 + 3 + 5 + 1 + 2 + 6);
  EXPECT_EQ(tout.laisses, 0u);
  // All deletions of the pair left out, then one folder's creation with all below it.
  plan.CocherType(0, TypeAction::Suppression, false);
  plan.Cocher(0, Indice("neuf"), false);
  const TPlanApercu::TTotaux reste = plan.Totaux(0);
  EXPECT_EQ(reste.laisses, 5u);
  EXPECT_EQ(reste.creations, 3u);
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
  const test::Bilan b = Synchroniser();
  EXPECT_EQ(b.Tries(), (Lignes{"Changé depuis l'aperçu, laissé tel quel : " + D + "/apparu",
                               "Changé depuis l'aperçu, laissé tel quel : " + D + "/change"}));
  EXPECT_EQ(TempTree::Noms(D), (Lignes{"garde", "neuf", "recent", "vieux"}));
  EXPECT_EQ(TempTree::Noms(D + "/neuf"), (Lignes{"a", "b"}));
  EXPECT_EQ(TempTree::Lire(D + "/recent"), "source");
  // Without a plan, the next night mirrors everything.
  EXPECT_TRUE(test::Traiter(S, D, false).lignes.empty());
  EXPECT_EQ(test::EcartsRsync(S, D), "");
}

}  // namespace
}  // namespace jumelix
