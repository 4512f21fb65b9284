// Hard links through whole walks on real trees: the names of one source file are one file in
// the mirror (inode identity and link counts, and rsync -H, say so), separate copies an
// earlier run left become links, exclusions that split a group do not break it, and a
// destination that cannot link gets copies and one note per pair, never a report line.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "engine/UDelta.h"
#include "platform/SystemeFichiers.h"
#include "support/BilanParcours.h"
#include "support/OutilsAttributs.h"
#include "support/PaireSurDisque.h"
#include "support/SystemeFautif.h"
#include "support/TempTree.h"
#include "support/VolumeExfat.h"

namespace jumelix {
namespace {

using test::EcartsRsync;
using test::Inode;
using test::NbLiens;
using test::TempTree;
using test::Traiter;
using Lignes = std::vector<std::string>;

class LiensDurs : public test::PaireSurDisque {
 protected:
  void Lier(const std::string& existant, const std::string& nouveau) {
    t.Repertoire(nouveau.substr(0, nouveau.find_last_of('/')));
    ASSERT_EQ(link(t.Chemin(existant).c_str(), t.Chemin(nouveau).c_str()), 0) << nouveau;
  }
  // True when the destination names are one file, with exactly that many names.
  ::testing::AssertionResult UnSeulFichier(const std::vector<std::string>& noms) {
    const ino_t premier = Inode(D + "/" + noms[0]);
    for (const std::string& n : noms) {
      if (Inode(D + "/" + n) != premier || premier == 0) {
        return ::testing::AssertionFailure() << n << " is not " << noms[0];
      }
      if (NbLiens(D + "/" + n) != noms.size()) {
        return ::testing::AssertionFailure() << n << " has " << NbLiens(D + "/" + n) << " names";
      }
    }
    return ::testing::AssertionSuccess();
  }
};

TEST_F(LiensDurs, NamesOfOneSourceFileAreOneFileInTheMirror) {
  Fichier("src/a", "groupe un");
  Lier("src/a", "src/b");
  Lier("src/a", "src/sous/c");
  Lier("src/a", "src/sous/plus/bas/d");
  Fichier("src/x", "groupe deux");
  Lier("src/x", "src/y");
  Fichier("src/seul", "seul");

  const test::Bilan b = Traiter(S, D, false);
  EXPECT_EQ(b.lignes, Lignes{});
  EXPECT_TRUE(UnSeulFichier({"a", "b", "sous/c", "sous/plus/bas/d"}));
  EXPECT_TRUE(UnSeulFichier({"x", "y"}));
  EXPECT_EQ(NbLiens(D + "/seul"), 1u);
  EXPECT_EQ(TempTree::Lire(D + "/sous/c"), "groupe un");
  EXPECT_EQ(EcartsRsync(S, D, "-H"), "");

  const test::Bilan ensuite = Traiter(S, D, false);
  EXPECT_EQ(ensuite.lignes, Lignes{});
  EXPECT_EQ(ensuite.copies, 0);
  EXPECT_TRUE(UnSeulFichier({"a", "b", "sous/c", "sous/plus/bas/d"}));
}

// A mirror made by a tool (or a version) that copied each name apart is mended in one run,
// whichever names of a group were copied apart.
TEST_F(LiensDurs, SeparateCopiesBecomeLinksOnTheNextRun) {
  Fichier("src/a", "contenu");
  Lier("src/a", "src/b");
  Lier("src/a", "src/rep/c");
  ASSERT_EQ(Traiter(S, D, false).lignes, Lignes{});
  struct Cas {
    const char* quoi;
    std::vector<std::string> apart;
  } cas[] = {
      {"the last name", {"rep/c"}},
      {"the first name", {"a"}},
      {"every name", {"a", "b", "rep/c"}},
  };
  for (const Cas& c : cas) {
    SCOPED_TRACE(c.quoi);
    for (const std::string& n : c.apart) {
      const std::string chemin = D + "/" + n;
      ASSERT_EQ(unlink(chemin.c_str()), 0);
      Fichier("dst/" + n, "contenu");
    }
    EXPECT_NE(EcartsRsync(S, D, "-H"), "");
    EXPECT_EQ(Traiter(S, D, false).lignes, Lignes{});
    EXPECT_TRUE(UnSeulFichier({"a", "b", "rep/c"}));
    EXPECT_EQ(EcartsRsync(S, D, "-H"), "");
  }
}

// Names left out by the patterns are neither mirrored nor in the way: the names kept are
// one file, whichever of them the walk meets first.
TEST_F(LiensDurs, AGroupSplitByExclusionsKeepsWorking) {
  Fichier("src/.jumelixignore", "exclu/\n");
  Fichier("src/exclu/premier", "partage");
  Lier("src/exclu/premier", "src/a");
  Lier("src/exclu/premier", "src/garde/b");
  Fichier("dst/exclu/a-moi", "laissé tel quel");
  EXPECT_EQ(Traiter(S, D, false).lignes, Lignes{});
  EXPECT_TRUE(UnSeulFichier({"a", "garde/b"}));
  EXPECT_FALSE(TempTree::Existe(D + "/exclu/premier"));
  EXPECT_EQ(TempTree::Lire(D + "/exclu/a-moi"), "laissé tel quel");
  EXPECT_EQ(EcartsRsync(S, D, "-H --exclude=/exclu/"), "");
}

// A link that cannot be made is no fault: the name is copied apart, the mirror is whole,
// and the next run links it.
TEST_F(LiensDurs, ALinkThatFailsLeavesACopyAndIsMadeNextRun) {
  Fichier("src/a", "contenu");
  Lier("src/a", "src/b");
  test::SystemeFautif fs;
  fs.Echouer(platform::Operation::Lier, EIO);
  EXPECT_EQ(Traiter(S, D, false, fs).lignes, Lignes{});
  EXPECT_GT(fs.Fautes(), 0);
  EXPECT_EQ(NbLiens(D + "/b"), 1u);
  EXPECT_EQ(TempTree::Lire(D + "/b"), "contenu");
  EXPECT_EQ(EcartsRsync(S, D), "");

  EXPECT_EQ(Traiter(S, D, false).lignes, Lignes{});
  EXPECT_TRUE(UnSeulFichier({"a", "b"}));
}

// A run told by a preview does only what the preview showed: no separate copy is replaced
// by a link behind the user's back.
TEST_F(LiensDurs, ARunAfterAPreviewConvertsNothingItDidNotShow) {
  Fichier("src/a", "contenu");
  Lier("src/a", "src/b");
  Fichier("dst/a", "contenu");
  Fichier("dst/b", "contenu");
  TEtatRun etat;
  etat.SurChoix = [](const TAction&) { return TChoix::Faire; };
  EXPECT_EQ(Traiter(S, D, false, {}, &etat).lignes, Lignes{});
  EXPECT_NE(Inode(D + "/a"), Inode(D + "/b"));
}

TEST_F(LiensDurs, ADestinationWithoutHardLinksGetsCopiesAndOneNote) {
  test::VolumeExfat volume;
  if (!volume.Monte()) GTEST_SKIP() << volume.Raison();
  Fichier("src/a", "contenu");
  Lier("src/a", "src/b");
  Fichier("src/x", "autre");
  Lier("src/x", "src/y");
  const std::string cible = volume.Racine() + "/miroir";
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    const test::Bilan b = Traiter(S, cible, false);
    EXPECT_EQ(b.lignes, Lignes{});
    ASSERT_EQ(b.remarques.size(), 1u);
    EXPECT_EQ(b.remarques[0].type, TypeRemarque::LiensDursNonGardes);
    EXPECT_EQ(b.remarques[0].destination, cible);
    for (const char* n : {"a", "b"}) EXPECT_EQ(TempTree::Lire(cible + "/" + n), "contenu");
  }
}

}  // namespace
}  // namespace jumelix
