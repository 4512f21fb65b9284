#include "engine/UVerif.h"

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "support/TempTree.h"

namespace jumelix {
namespace {

// The lines VerifierCouple reports for a pair; empty when it accepts.
std::vector<std::string> Verifier(const std::string& s, const std::string& d,
                                  bool* accepte = nullptr) {
  std::vector<std::string> lignes;
  bool ok = VerifierCouple(s, d, [&](const std::string& t) { lignes.push_back(t); });
  EXPECT_EQ(ok, lignes.empty()) << s << " | " << d;
  if (accepte != nullptr) *accepte = ok;
  return lignes;
}

const std::string kIncompatibles = "Répertoires source et destination incompatibles";

TEST(VerifierCouple, RefusesEqualOrNestedPathsByText) {
  const std::vector<std::pair<std::string, std::string>> refuses = {
      {"/nexiste/Data", "/nexiste/Data/Copie"},
      {"/nexiste/Data/Copie", "/nexiste/Data"},
      {"/nexiste/DATA", "/nexiste/data"},
      {"/nexiste/Data", "/nexiste/Data/"},
      {"/", "/nexiste/Sauvegarde"},
      {"/nexiste/a", "/nexiste/A/b"},
  };
  for (const auto& [s, d] : refuses) {
    EXPECT_EQ(Verifier(s, d), std::vector<std::string>{kIncompatibles}) << s << " | " << d;
  }
}

TEST(VerifierCouple, AcceptsSiblingsSharingAPrefix) {
  EXPECT_TRUE(Verifier("/nexiste/Data", "/nexiste/Database").empty());
  EXPECT_TRUE(Verifier("/nexiste/Database", "/nexiste/Data").empty());
  EXPECT_TRUE(Verifier("/nexiste/Data", "/autre/Data").empty());
}

TEST(VerifierCouple, BlankPathComesFirst) {
  EXPECT_EQ(Verifier(" \t", "/x"), std::vector<std::string>{"Nom de répertoire vide"});
  EXPECT_EQ(Verifier("/x", ""), std::vector<std::string>{"Nom de répertoire vide"});
}

TEST(VerifierCouple, WildcardsMatterOnlyForOverlappingPaths) {
  EXPECT_EQ(Verifier("/nexiste/Da*a", "/nexiste/Da*a/x"),
            std::vector<std::string>{"Caratère non autorisé dans le nom de répertoire"});
  EXPECT_EQ(Verifier("/nexiste/D?", "/nexiste/d?"),
            std::vector<std::string>{"Caratère non autorisé dans le nom de répertoire"});
  EXPECT_TRUE(Verifier("/nexiste/Da*a", "/autre/x").empty());
}

TEST(VerifierCouple, RefusesDifferentSpellingsOfTheSameDirectory) {
  test::TempTree t;
  t.Repertoire("data/sous");
  t.Lien("lien", t.Chemin("data"));
  // A link to the source, the destination inside it through the link, and ".." spellings.
  EXPECT_EQ(Verifier(t.Chemin("data"), t.Chemin("lien")), std::vector<std::string>{kIncompatibles});
  EXPECT_EQ(Verifier(t.Chemin("data"), t.Chemin("lien/sous/neuf")),
            std::vector<std::string>{kIncompatibles});
  EXPECT_EQ(Verifier(t.Chemin("data/sous/.."), t.Chemin("data/copie")),
            std::vector<std::string>{kIncompatibles});
  EXPECT_TRUE(Verifier(t.Chemin("data/sous"), t.Chemin("lien2")).empty());
}

TEST(VerifierCouple, RefusesADestinationInsideTheSourceThroughABindMount) {
  test::TempTree t;
  t.Repertoire("data/sous");
  std::string point = t.Repertoire("vue");
  if (mount(t.Chemin("data").c_str(), point.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    GTEST_SKIP() << "cannot bind-mount here: " << strerror(errno);
  }
  EXPECT_EQ(Verifier(t.Chemin("data"), point + "/sous/copie"),
            std::vector<std::string>{kIncompatibles});
  EXPECT_EQ(Verifier(point + "/sous", t.Chemin("data")), std::vector<std::string>{kIncompatibles});
  EXPECT_TRUE(Verifier(point + "/sous", t.Chemin("ailleurs")).empty());
  umount(point.c_str());
}

TEST(NomCorrect, RefusesOnlyTheFourDeviceNames) {
  for (const char* nom : {"con", "Con.txt", "NUL.tar.gz", "AUX.", "prn", "nul.", "aUx.dat"}) {
    EXPECT_FALSE(NomCorrect(nom)) << nom;
  }
  for (const char* nom : {"CONSOLE", "CONSOLE.txt", "con2", ".con", "COM1", "LPT1", "prn1.txt",
                          "co.n", "", "a.con", "conx.txt"}) {
    EXPECT_TRUE(NomCorrect(nom)) << nom;
  }
}

}  // namespace
}  // namespace jumelix
