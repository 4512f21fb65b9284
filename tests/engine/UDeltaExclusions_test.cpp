// Exclusion patterns and tagged caches through the real walk: what they leave out is
// neither entered, copied, compared nor reported, what they match in the destination stays
// as it is, and a patterns file that cannot be read stops its own pair only.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/UDelta.h"
#include "shared/UMessErreurs.h"
#include "support/BilanParcours.h"
#include "support/SystemeFautif.h"
#include "support/TempTree.h"

namespace jumelix {
namespace {

using platform::Operation;
using test::Bilan;
using test::TempTree;
using Lignes = std::vector<std::string>;

const time_t kTExclusions = TempTree::HeureLocale(2023, 3, 15, 10, 0, 0);
const std::string kIllisible =
    "Abandon : fichier d'exclusions illisible, le couple n'est pas traité : ";

class ParcoursExclusions : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_STATE_HOME", t.Chemin("etat").c_str(), 1);
    S = t.Repertoire("src");
    D = t.Repertoire("dst");
    // Source: patterns at the root and in sous/, a negation, an excluded directory.
    Fichier("src/.jumelixignore", "# essais\n*.swp\ncache/\n!garde.swp\n");
    Fichier("src/a.txt", "nouveau");
    Fichier("src/x.swp", "source");
    Fichier("src/garde.swp", "garde");
    Fichier("src/cache/c", "c");
    Fichier("src/sous/.jumelixignore", "/local\n");
    Fichier("src/sous/local", "source");
    Fichier("src/sous/f", "f");
    // Destination: excluded entries that a mirror would otherwise replace or delete.
    Fichier("dst/a.txt", "ancien");
    Fichier("dst/x.swp", "cible");
    Fichier("dst/seul.swp", "cible");
    Fichier("dst/cache/vieux", "v");
    Fichier("dst/sous/local", "cible");
  }
  std::string Fichier(const std::string& rel, const std::string& contenu) {
    std::string c = t.Fichier(rel, contenu);
    t.DateModif(rel, kTExclusions);
    return c;
  }
  Bilan Traiter(bool comparer, int jours = 0, platform::TSystemeFichiers* fs = nullptr) {
    etat.JoursArchive = jours;
    etat.Systeme = fs;
    return test::Traiter(S, D, comparer, {}, &etat);
  }
  void ExpectExclusGardes() {
    EXPECT_EQ(TempTree::Lire(D + "/x.swp"), "cible");
    EXPECT_EQ(TempTree::Lire(D + "/seul.swp"), "cible");
    EXPECT_EQ(TempTree::Noms(D + "/cache"), Lignes{"vieux"});
    EXPECT_EQ(TempTree::Lire(D + "/sous/local"), "cible");
  }
  TempTree t;
  std::string S, D;
  TEtatRun etat;
};

TEST_F(ParcoursExclusions, ExcludedEntriesStayAsTheyAreAndExcludedDirectoriesAreNeverOpened) {
  std::string a = "nouveau";
  for (int jours : {0, 30}) {
    test::SystemeFautif fs;
    // Opening or listing the excluded directory would show as an error line.
    fs.Echouer(Operation::Ouvrir, EACCES, "cache");
    fs.Echouer(Operation::Lire, EACCES, "cache");
    const Bilan b = Traiter(false, jours, &fs);
    EXPECT_EQ(b.lignes, Lignes{}) << jours;
    EXPECT_EQ(b.supprimes, 0) << jours;
    ExpectExclusGardes();
    EXPECT_EQ(TempTree::Lire(D + "/a.txt"), a);
    EXPECT_EQ(TempTree::Lire(D + "/garde.swp"), "garde");  // taken back by "!garde.swp"
    EXPECT_EQ(TempTree::Lire(D + "/sous/f"), "f");
    // The patterns files are mirrored like any file; nothing excluded reached the archive.
    EXPECT_EQ(TempTree::Lire(D + "/sous/.jumelixignore"), "/local\n");
    Lignes noms = {".jumelixignore", "a.txt", "cache", "garde.swp", "seul.swp", "sous", "x.swp"};
    if (jours > 0) noms.insert(noms.begin(), ".jumelix-archive");
    EXPECT_EQ(TempTree::Noms(D), noms) << jours;
    Fichier("src/a.txt", a = "encore");
  }
}

TEST_F(ParcoursExclusions, CompareModeSaysNothingOfExcludedEntries) {
  Fichier("dst/garde.swp", "autre contenu");
  Fichier("dst/.jumelixignore", "# essais\n*.swp\ncache/\n!garde.swp\n");
  Fichier("dst/sous/f", "f");
  Fichier("dst/sous/.jumelixignore", "/local\n");
  EXPECT_EQ(Traiter(true).Tries(), (Lignes{D + "/a.txt ==> diffère du fichier source.",
                                           D + "/garde.swp ==> diffère du fichier source."}));
  ExpectExclusGardes();
}

TEST_F(ParcoursExclusions, AnUnreadablePatternsFileStopsItsPairWhereItIsFound) {
  test::SystemeFautif fs;
  fs.Echouer(Operation::Lire, EIO, ".jumelixignore", -1, 1);  // the root's is read
  const Bilan b = Traiter(false, 0, &fs);
  EXPECT_EQ(b.lignes, Lignes{kIllisible + S + "/sous/.jumelixignore " + TexteErreurSysteme(EIO)});
  EXPECT_FALSE(TempTree::Existe(D + "/sous/f"));
  EXPECT_EQ(TempTree::Lire(D + "/sous/local"), "cible");
  // At the root, one that is not a regular file: the destination is not even created.
  TempTree u;
  u.Repertoire("s/.jumelixignore");
  u.Fichier("s/f", "f");
  const Bilan r = test::Traiter(u / "s", u / "d", false);
  EXPECT_EQ(r.lignes,
            Lignes{kIllisible + u / "s/.jumelixignore" + " ce n'est pas un fichier ordinaire"});
  EXPECT_FALSE(TempTree::Existe(u / "d"));
  // The next pair of the same run is walked as usual.
  EXPECT_EQ(Traiter(false).lignes, Lignes{});
  EXPECT_EQ(TempTree::Lire(D + "/sous/f"), "f");
}

TEST_F(ParcoursExclusions, TheGlobalFileAppliesBelowEverySourceFile) {
  const std::string global = Fichier("config/exclusions", "*.txt\nsous/\n");
  ChargerExclusionsGlobales(global, etat);
  Fichier("src/.jumelixignore", "!sous/\n");  // a source file overrides the global one
  EXPECT_EQ(Traiter(false).lignes, Lignes{});
  EXPECT_EQ(TempTree::Lire(D + "/a.txt"), "ancien");
  EXPECT_EQ(TempTree::Lire(D + "/sous/f"), "f");
  EXPECT_EQ(TempTree::Lire(D + "/x.swp"), "source");  // no longer excluded

  ChargerExclusionsGlobales(t / "config/absent", etat);
  EXPECT_EQ(etat.ErreurExclusions, 0);
  EXPECT_TRUE(etat.ExclusionsGlobales.Vide());
  // A global file that cannot be read refuses every pair, each with its line.
  ChargerExclusionsGlobales(t / "config", etat);
  Fichier("src/a.txt", "encore");
  EXPECT_EQ(Traiter(false).lignes,
            Lignes{kIllisible + t / "config" + " ce n'est pas un fichier ordinaire"});
  EXPECT_EQ(TempTree::Lire(D + "/a.txt"), "ancien");
}

// Tagged caches: a source directory whose CACHEDIR.TAG opens with the signature.
const std::string kTag =
    "Signature: 8a477f597d28d172789f06886806bc55\n# This file is a cache directory tag.\n";

class ParcoursCaches : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_STATE_HOME", t.Chemin("etat").c_str(), 1);
    t.Fichier("src/f", "f");
    t.Fichier("src/cache/CACHEDIR.TAG", kTag);
    t.Fichier("src/cache/secret", "s");
    t.Fichier("src/cache/sous/g", "g");
    t.Fichier("dst/cache/vieux", "v");
  }
  Bilan Traiter(bool ignorer, bool comparer = false) {
    etat.IgnorerCaches = ignorer;
    etat.JoursArchive = 30;
    etat.Systeme = &fs;
    return test::Traiter(t / "src", t / "dst", comparer, {}, &etat);
  }
  TempTree t;
  TEtatRun etat;
  test::SystemeFautif fs;
};

TEST_F(ParcoursCaches, ATaggedDirectoryIsNeitherListedNorMirroredAndItsCopyIsKept) {
  // Describing an entry of the cache would mean it was listed.
  fs.Echouer(Operation::Decrire, EACCES, "secret");
  for (bool comparer : {true, false}) {
    const Bilan b = Traiter(true, comparer);
    EXPECT_EQ(b.lignes, comparer ? Lignes{t / "dst/f ==> Fichier inexistant"} : Lignes{})
        << comparer;
    EXPECT_EQ(b.supprimes, 0);
    EXPECT_EQ(TempTree::Noms(t / "dst/cache"), Lignes{"vieux"});
  }
  EXPECT_EQ(fs.Fautes(), 0);
  EXPECT_EQ(TempTree::Lire(t / "dst/f"), "f");
}

TEST_F(ParcoursCaches, OnlyARegularTagWithTheSignatureCountsAndOnlyWithTheOption) {
  const std::string sansFin = kTag.substr(0, 42);
  struct {
    const char* cas;
    std::function<void()> preparer;
    bool ignorer;
  } cas[] = {
      {"option off", [] {}, false},
      {"wrong signature",
       [&] { t.Fichier("src/cache/CACHEDIR.TAG", "Signature: 0" + kTag.substr(12)); }, true},
      {"signature cut short", [&] { t.Fichier("src/cache/CACHEDIR.TAG", sansFin); }, true},
      {"tag through a link",
       [&] {
         t.Fichier("ailleurs/tag", kTag);
         std::filesystem::remove(t / "src/cache/CACHEDIR.TAG");
         t.Lien("src/cache/CACHEDIR.TAG", t / "ailleurs/tag");
       },
       true},
      {"tag that is a directory",
       [&] {
         std::filesystem::remove(t / "src/cache/CACHEDIR.TAG");
         t.Repertoire("src/cache/CACHEDIR.TAG");
       },
       true},
  };
  for (const auto& k : cas) {
    SCOPED_TRACE(k.cas);
    k.preparer();
    std::filesystem::remove_all(t / "dst");
    t.Fichier("dst/cache/vieux", "v");
    EXPECT_EQ(Traiter(k.ignorer).lignes, Lignes{});
    EXPECT_EQ(TempTree::Lire(t / "dst/cache/secret"), "s");
    EXPECT_EQ(TempTree::Lire(t / "dst/cache/sous/g"), "g");
    EXPECT_FALSE(TempTree::Existe(t / "dst/cache/vieux"));
  }
}

}  // namespace
}  // namespace jumelix
