// The changes a walk tells: what a synchronisation made, and what a comparison of the same
// trees says it would make, entry for entry; where each archived old version went.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "engine/UDelta.h"
#include "support/BilanParcours.h"
#include "support/TempTree.h"

namespace jumelix {
namespace {

using test::TempTree;
using Lignes = std::vector<std::string>;

const time_t kTActions = 1678874400;

// Each change as one line: its kind, the entry (a directory ends with "/"), the size of a
// file copied, and "archivé" when its old version goes to the archive.
struct Releve {
  Lignes lignes;
  Lignes archives;
  Lignes rapport;  // the walk's report lines
  void operator()(const TAction& a) {
    static const char* const kTypes[] = {"création", "remplacement", "attributs", "suppression"};
    std::string l = std::string(kTypes[static_cast<int>(a.type)]) + " " + a.chemin +
                    (a.repertoire ? "/" : "");
    if (a.octets != 0) l += " " + std::to_string(a.octets);
    if (a.archivee) l += " archivé";
    lignes.push_back(l);
    if (!a.archive.empty()) archives.push_back(a.archive);
  }
};

class Actions : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    for (const char* f : {"src/change", "src/droits", "dst/droits"}) t.Fichier(f, "même");
    t.Fichier("src/nouveau", "12345");
    t.Fichier("src/rep/x", "xx");
    t.Fichier("dst/change", "ancienne");
    t.Fichier("dst/trop", "t");
    t.Fichier("dst/vieux/y", "y");
    chmod(t.Chemin("dst/droits").c_str(), 0600);
    for (const char* f : {"src/change", "src/droits", "dst/droits", "dst/change"}) {
      t.DateModif(f, kTActions);
    }
    t.DateModif("dst/change", kTActions - 60);
  }
  Releve Lancer(bool comparer) {
    Releve r;
    TEtatRun etat;
    etat.JoursArchive = GetParam();
    etat.SurAction = [&r](const TAction& a) { r(a); };
    r.rapport = test::Traiter(t.Chemin("src"), t.Chemin("dst"), comparer, {}, &etat).lignes;
    return r;
  }
  TempTree t;
};

TEST_P(Actions, TheComparisonTellsWhatTheSynchronisationThenMakes) {
  const bool archive = GetParam() > 0;
  const std::string D = t.Chemin("dst");
  const std::string a = archive ? " archivé" : "";
  const Lignes attendu = {"attributs " + D + "/droits",
                          "création " + D + "/nouveau 5",
                          "création " + D + "/rep/",
                          "création " + D + "/rep/x 2",
                          "remplacement " + D + "/change 5" + a,  // "même": five bytes
                          "suppression " + D + "/trop" + a,
                          "suppression " + D + "/vieux/" + a};
  // Telling the changes adds no report line: the comparison's lines stay its own.
  const Lignes seul = test::Traiter(t.Chemin("src"), t.Chemin("dst"), true).lignes;
  Releve prevu = Lancer(true);
  EXPECT_EQ(prevu.rapport, seul);
  Releve fait = Lancer(false);
  // The order is the walk's; compared as sets, and the created directory before its file.
  EXPECT_LT(std::find(fait.lignes.begin(), fait.lignes.end(), "création " + D + "/rep/"),
            std::find(fait.lignes.begin(), fait.lignes.end(), "création " + D + "/rep/x 2"));
  std::sort(prevu.lignes.begin(), prevu.lignes.end());
  std::sort(fait.lignes.begin(), fait.lignes.end());
  EXPECT_EQ(prevu.lignes, attendu);
  EXPECT_EQ(fait.lignes, attendu);
  EXPECT_TRUE(prevu.archives.empty());  // nothing is moved by a comparison
  // Each archived version is where the change says.
  ASSERT_EQ(fait.archives.size(), archive ? 3u : 0u);
  for (const std::string& chemin : fait.archives) {
    EXPECT_TRUE(TempTree::Existe(chemin)) << chemin;
    EXPECT_EQ(chemin.rfind(D + "/.jumelix-archive/", 0), 0u) << chemin;
  }
  for (const std::string& chemin : fait.archives) {
    if (chemin.ends_with("/change")) {
      EXPECT_EQ(TempTree::Lire(chemin), "ancienne");
    }
  }
  // Nothing left to do: nothing told.
  EXPECT_TRUE(Lancer(true).lignes.empty());
}

TEST_P(Actions, AComparisonAndTheChoiceSeeTheDestinationSideBeforeTheChange) {
  const std::string D = t.Chemin("dst");
  struct Vu {
    int64_t octets, secondes;
  };
  std::map<std::string, Vu> dits, demandes;
  TEtatRun etat;
  etat.JoursArchive = GetParam();
  etat.SurAction = [&](const TAction& a) { dits[a.chemin] = {a.octetsCible, a.secondesCible}; };
  test::Traiter(t.Chemin("src"), t.Chemin("dst"), true, {}, &etat);
  t.DateModif("dst/trop", kTActions + 5);
  EXPECT_EQ(dits[D + "/change"].octets, 8);  // "ancienne", not the source's five bytes
  EXPECT_EQ(dits[D + "/change"].secondes, kTActions - 60);
  EXPECT_EQ(dits[D + "/droits"].octets, 5);
  EXPECT_EQ(dits[D + "/trop"].octets, 1);
  EXPECT_EQ(dits[D + "/vieux"].octets, 0);  // a directory: no size
  EXPECT_EQ(dits[D + "/nouveau"].octets, 0);  // nothing there yet
  EXPECT_EQ(dits[D + "/nouveau"].secondes, 0);
  // A synchronisation asks with the same destination side, as it then stands.
  TEtatRun synchro;
  synchro.JoursArchive = GetParam();
  synchro.SurChoix = [&](const TAction& a) {
    demandes[a.chemin] = {a.octetsCible, a.secondesCible};
    return TChoix::Laisser;
  };
  test::Traiter(t.Chemin("src"), t.Chemin("dst"), false, {}, &synchro);
  EXPECT_EQ(demandes[D + "/change"].octets, 8);
  EXPECT_EQ(demandes[D + "/change"].secondes, kTActions - 60);
  EXPECT_EQ(demandes[D + "/trop"].secondes, kTActions + 5);
  EXPECT_EQ(demandes.size(), dits.size() - 1);  // rep/x: its folder was left
}

INSTANTIATE_TEST_SUITE_P(SansEtAvecArchive, Actions, ::testing::Values(0, 30));

}  // namespace
}  // namespace jumelix
