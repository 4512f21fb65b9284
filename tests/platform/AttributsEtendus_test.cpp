// Extended attributes at the platform level, on real files: which names the mirror keeps,
// the flag a listing sets, a copy that carries them before it takes its final name, and a
// fix in place that gives exactly the source's set, through the very entry that was listed.
#include "platform/AttributsEtendus.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/FileSystem.h"
#include "support/OutilsAttributs.h"
#include "support/TempTree.h"

namespace jumelix::platform {
namespace {

using test::Cite;
using test::Executer;
using test::TempTree;

TRepertoire Ouvrir(const std::string& chemin) {
  TRepertoire r;
  EXPECT_EQ(r.OuvrirChemin(chemin), 0) << chemin;
  return r;
}

TEST(AttributsEtendus, KeptNamesFollowWhatTheUserMayWrite) {
  const bool root = geteuid() == 0;
  struct Cas {
    const char* nom;
    bool garde;
  } cas[] = {
      {"user.a", true},
      {"user.", true},
      {"system.posix_acl_access", true},
      {"system.posix_acl_default", true},
      {"system.nfs4_acl", false},
      {"security.selinux", false},
      {"security.ima", false},
      {"security.capability", root},
      {"trusted.overlay.opaque", root},
      {"usr.a", false},
      {"", false},
  };
  for (const Cas& c : cas) EXPECT_EQ(AttributMiroir(c.nom), c.garde) << c.nom;
}

class AttributsFichiers : public ::testing::Test {
 protected:
  void SetUp() override {
    src = t.Repertoire("src");
    dst = t.Repertoire("dst");
    if (!Executer("setfattr -n user.essai -v 1 " + Cite(src))) {
      GTEST_SKIP() << "no setfattr, or no user xattrs here (package attr)";
    }
    Executer("setfattr -x user.essai " + Cite(src));
  }
  void Sur(const std::string& commande, const std::string& chemin) {
    ASSERT_TRUE(Executer(commande + " " + Cite(chemin))) << commande << " " << chemin;
  }
  TempTree t;
  std::string src, dst;
};

TEST_F(AttributsFichiers, AListingFlagsOnlyEntriesWithKeptAttributes) {
  Sur("setfattr -n user.a -v 1", t.Fichier("src/avec", "x"));
  t.Fichier("src/sans", "x");
  Sur("setfacl -m u:nobody:r", t.Fichier("src/acl", "x"));
  Sur("setfattr -n user.r -v 1", t.Repertoire("src/rep"));
  if (geteuid() == 0) Sur("setfattr -n security.autre -v 1", t.Fichier("src/etranger", "x"));
  const TRepertoire rep = Ouvrir(src);
  struct Cas {
    const char* nom;
    bool attendu;
  } cas[] = {{"avec", true}, {"sans", false}, {"acl", true}, {"rep", true}, {".", false}};
  for (const Cas& c : cas) {
    EntreeRepertoire e;
    ASSERT_EQ(rep.DecrireEntree(c.nom, e), 0) << c.nom;
    EXPECT_EQ(e.AttributsEtendus, c.attendu) << c.nom;
  }
  if (geteuid() == 0) {
    EntreeRepertoire e;
    ASSERT_EQ(rep.DecrireEntree("etranger", e), 0);
    EXPECT_FALSE(e.AttributsEtendus);
  }
}

TEST_F(AttributsFichiers, ACopyHoldsTheAttributesBeforeItTakesItsName) {
  const std::string f = t.Fichier("src/f", "contenu");
  chmod(f.c_str(), 0444);
  Sur("setfattr -n user.a -v un", f);
  Sur("setfacl -m u:nobody:r", f);
  // The destination directory's default ACL would give the copy one of its own.
  Sur("setfacl -d -m u:nobody:rwx", dst);
  t.Fichier("src/nu", "n");
  const TRepertoire s = Ouvrir(src), d = Ouvrir(dst);
  for (const char* nom : {"f", "nu"}) {
    SCOPED_TRACE(nom);
    CopieEnAttente attente{{}, nom};
    ASSERT_EQ(EcrireCopie(s, nom, d, OptionsCopie{}, attente), 0);
    EXPECT_FALSE(attente.AttributsNonGardes);
    const std::string temporaire = dst + "/" + attente.Temporaire;
    EXPECT_EQ(test::Xattrs(temporaire), test::Xattrs(src + "/" + nom));
    EXPECT_EQ(test::Acl(temporaire), test::Acl(src + "/" + nom));
    ASSERT_EQ(Publier(d, attente), 0);
    struct stat a {}, b {};
    ASSERT_EQ(lstat((src + "/" + nom).c_str(), &a), 0);
    ASSERT_EQ(lstat((dst + "/" + nom).c_str(), &b), 0);
    EXPECT_EQ(a.st_mode, b.st_mode);
  }
}

TEST_F(AttributsFichiers, AFixInPlaceGivesExactlyTheWantedSet) {
  const std::string f = t.Fichier("dst/f", "x");
  Sur("setfattr -n user.garde -v vieux", f);
  Sur("setfattr -n user.ote -v 1", f);
  if (geteuid() == 0) Sur("setfattr -n security.autre -v reste", f);
  const TRepertoire d = Ouvrir(dst);
  EntreeRepertoire listee;
  ASSERT_EQ(d.DecrireEntree("f", listee), 0);
  const TAttributsEtendus voulus = {{"user.ajout", "2"}, {"user.garde", "neuf"}};
  bool nonGardes = false;
  ASSERT_EQ(AppliquerAttributsEtendus(d, "f", voulus, listee, nonGardes), 0);
  EXPECT_FALSE(nonGardes);
  TAttributsEtendus lus;
  ASSERT_EQ(LireAttributsEtendus(d.fd(), "f", lus), 0);
  EXPECT_EQ(lus, voulus);
  if (geteuid() == 0) {
    EXPECT_NE(test::Xattrs(f).find("security.autre"), std::string::npos);
  }

  // Another file put in its place since the listing is left alone.
  const std::string ailleurs = t.Fichier("ailleurs", "y");
  ASSERT_EQ(unlink(f.c_str()), 0);
  ASSERT_EQ(link(ailleurs.c_str(), f.c_str()), 0);
  EXPECT_EQ(AppliquerAttributsEtendus(d, "f", voulus, listee, nonGardes), kModifiePendantCopie);
  EXPECT_EQ(test::Xattrs(ailleurs), "");
}

TEST_F(AttributsFichiers, AReadOnlyEntryOfOursIsGivenItsAttributesAndKeepsItsMode) {
  const std::string f = t.Fichier("dst/f", "x");
  chmod(f.c_str(), 0444);
  const std::string rep = t.Repertoire("dst/rep");
  chmod(rep.c_str(), 0555);
  const TRepertoire d = Ouvrir(dst);
  TRepertoire r;
  ASSERT_EQ(r.OuvrirSous(d, "rep"), 0);
  EntreeRepertoire listee;
  ASSERT_EQ(d.DecrireEntree("f", listee), 0);
  bool nonGardes = false;
  EXPECT_EQ(AppliquerAttributsEtendus(d, "f", {{"user.a", "1"}}, listee, nonGardes), 0);
  EXPECT_EQ(AppliquerAttributsEtendus(r, "", {{"user.b", "2"}}, listee, nonGardes), 0);
  EXPECT_NE(test::Xattrs(f).find("user.a"), std::string::npos);
  EXPECT_NE(test::Xattrs(rep).find("user.b"), std::string::npos);
  struct stat st {};
  ASSERT_EQ(lstat(f.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u);
  ASSERT_EQ(lstat(rep.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0555u);
}

}  // namespace
}  // namespace jumelix::platform
