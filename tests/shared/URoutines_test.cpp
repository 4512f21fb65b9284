#include "shared/URoutines.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "shared/UMessErreurs.h"
#include "support/TempTree.h"

namespace jumelix {
namespace {

namespace fs = std::filesystem;

using TempDir = test::TempTree;

void EcrireBrut(const std::string& chemin, const std::string& octets) {
  std::ofstream(chemin, std::ios::binary) << octets;
}

TEST(CompteRendu, ErrorFlagAndLinesFollowTheirRules) {
  TCompteRendu cr;
  cr.AjouterMessage("");
  cr.AjouterMessage("info");
  EXPECT_FALSE(cr.ErreurSignalee());
  cr.AjouterErreur("");  // an empty error still raises the flag
  EXPECT_TRUE(cr.ErreurSignalee());
  cr.AjouterErreur("erreur");
  cr.InsererEnTete("tete");
  EXPECT_EQ(cr.Lignes(), (std::vector<std::string>{"tete", "info", "erreur"}));
  cr.ViderCompteRendu();
  EXPECT_TRUE(cr.Lignes().empty());
  EXPECT_FALSE(cr.ErreurSignalee());
}

TEST(Texte, TrimmingRemovesControlsAndBlanksOnly) {
  EXPECT_EQ(Trim(" \t\x01 a b \r\n"), "a b");
  EXPECT_EQ(Trim("é "), "é");
  EXPECT_TRUE(EstBlanc(" \t\r\n"));
  EXPECT_FALSE(EstBlanc(" x "));
  EXPECT_TRUE(EgauxSansCasseAscii("AbC", "aBc"));
  EXPECT_FALSE(EgauxSansCasseAscii("É", "é"));  // only a-z fold
}

TEST(Texte, CharactersAreCodePoints) {
  EXPECT_EQ(NbCaracteres("été"), 3u);
  EXPECT_EQ(PremiersCaracteres("été", 2), "ét");
  EXPECT_EQ(PremiersCaracteres("abc", 10), "abc");
}

TEST(Texte, ByteCutNeverSplitsASequence) {
  // Each text with its cuts {max, result}: ASCII and exact lengths; cuts inside sequences
  // of 2, 3 and 4 bytes move back to their first byte; in a text that is not UTF-8, a run
  // of continuation bytes goes with whatever byte stands before it, other bytes stay.
  using Coupes = std::vector<std::pair<size_t, std::string>>;
  const std::pair<std::string, Coupes> cas[] = {
      {"abcdef", {{3, "abc"}, {6, "abcdef"}, {9, "abcdef"}, {0, ""}}},
      {"", {{0, ""}, {2, ""}}},
      {"été", {{1, ""}, {2, "é"}, {3, "ét"}, {4, "ét"}, {5, "été"}}},
      {"a€b", {{2, "a"}, {3, "a"}, {4, "a€"}}},
      {"a😀", {{2, "a"}, {4, "a"}, {5, "a😀"}}},
      {"ab\x80\x80", {{1, "a"}, {2, "a"}, {3, "a"}, {4, "ab\x80\x80"}}},
      {"\x80\x80\x80", {{2, ""}}},
      {"a\xE9z\xC3", {{2, "a\xE9"}, {3, "a\xE9z"}}}};
  for (const auto& [texte, coupes] : cas) {
    for (const auto& [max, attendu] : coupes) {
      std::string coupe = texte;
      CouperOctets(coupe, max);
      EXPECT_EQ(coupe, attendu) << texte << " / " << max;
    }
  }
}

TEST(Lignes, EveryLineEndKindSplitsAndNulEndsTheText) {
  EXPECT_EQ(DecouperLignes("a\r\nb\rc\nd"), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(DecouperLignes("a\r\n"), (std::vector<std::string>{"a"}));
  EXPECT_EQ(DecouperLignes("a\n\nb"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(DecouperLignes("a\r\nb"
                           "\0"
                           "c\r\n"),
            (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(DecouperLignes(std::string_view("a\nb\0c\n", 6)), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(DecouperLignes("").empty());
}

TEST(Fichiers, Windows1252FileIsReadAsUtf8) {
  TempDir d;
  EcrireBrut(d / "liste.ini", "R\xE9pertoire source\r\nC:\\\x80\r\n");
  std::vector<std::string> lignes;
  ASSERT_EQ(LireLignesFichier(d / "liste.ini", lignes), 0);
  EXPECT_EQ(lignes, (std::vector<std::string>{"Répertoire source", "C:\\€"}));
}

TEST(Fichiers, EachLineIsDecodedOnItsOwn) {
  TempDir d;
  // A UTF-8 list with one path typed on Windows: the titles stay right, and so does the
  // UTF-8 path after it.
  EcrireBrut(d / "mixte.ini", "\xEF\xBB\xBFRépertoire source\r\nRépertoire cible\r\n/donn\xE9"
                              "es\r\n/copié\r\n");
  std::vector<std::string> lignes;
  ASSERT_EQ(LireLignesFichier(d / "mixte.ini", lignes), 0);
  EXPECT_EQ(lignes, (std::vector<std::string>{"Répertoire source", "Répertoire cible",
                                              "/données", "/copié"}));
}

TEST(Fichiers, OnlyARegularFileIsReadAndNothingBlocks) {
  TempDir d;
  ASSERT_EQ(mkfifo((d / "fifo").c_str(), 0600), 0);  // no writer: an open would wait
  std::vector<std::string> lignes{"reste"};
  EXPECT_EQ(LireLignesFichier(d / "fifo", lignes), EINVAL);
  EXPECT_TRUE(lignes.empty());
  EXPECT_EQ(LireLignesFichier("/dev/null", lignes), EINVAL);
}

TEST(Texte, ControlCharactersAreEscapedOnce) {
  const std::pair<std::string, std::string> cas[] = {
      {"a\nb", "a\\nb"},
      {"x\r\ty", "x\\r\\ty"},
      {std::string("\x01\x1b[31m\x7f"), "\\x01\\x1B[31m\\x7F"},
      {"NEL\xC2\x85" "fin", "NEL\\u0085fin"},
      {"ls\xE2\x80\xA8ps\xE2\x80\xA9", "ls\\u2028ps\\u2029"},
      {"é € C:\\dir", "é € C:\\dir"},  // printable text and backslashes stay
      {"", ""},
  };
  for (const auto& [brut, attendu] : cas) {
    EXPECT_EQ(EchapperControles(brut), attendu) << brut;
    EXPECT_EQ(EchapperControles(attendu), attendu);  // escaping twice changes nothing more
  }
  TCompteRendu cr;
  cr.AjouterErreur("/d/faux\nSynchronisation terminée. Nombre d'erreurs 0");
  cr.AjouterMessage("a\tb");
  cr.InsererEnTete("t\r");
  EXPECT_EQ(cr.Lignes(), (std::vector<std::string>{
                             "t\\r", "/d/faux\\nSynchronisation terminée. Nombre d'erreurs 0",
                             "a\\tb"}));
}

TEST(Fichiers, RoundTripWritesCrLfAndReplacesWhole) {
  TempDir d;
  std::string f = d / "sortie.txt";
  EcrireBrut(f, "ancien contenu bien plus long\r\n");
  ASSERT_EQ(EcrireLignesFichier(f, {"été", "", "x"}, 0600), 0);
  std::ifstream in(f, std::ios::binary);
  std::string octets((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(octets, "été\r\n\r\nx\r\n");
  struct stat st {};
  ASSERT_EQ(stat(f.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  std::vector<std::string> lignes;
  ASSERT_EQ(LireLignesFichier(f, lignes), 0);
  EXPECT_EQ(lignes, (std::vector<std::string>{"été", "", "x"}));
  EXPECT_EQ(std::distance(fs::directory_iterator(d.Racine()), fs::directory_iterator{}), 1);
}

TEST(Fichiers, FailuresGiveErrnoAndLeaveNothingBehind) {
  TempDir d;
  std::vector<std::string> lignes{"reste"};
  EXPECT_EQ(LireLignesFichier(d / "absent", lignes), ENOENT);
  EXPECT_TRUE(lignes.empty());
  EXPECT_EQ(EcrireLignesFichier(d / "absent/f.txt", {"x"}), ENOENT);
  EXPECT_EQ(LireLignesFichier(d.Racine(), lignes), EISDIR);
}

TEST(Erreurs, SystemTextsAreTrimmedAndNeverEmpty) {
  std::string t = TexteErreurSysteme(ENOENT);
  ASSERT_FALSE(t.empty());
  EXPECT_NE(t.back(), '.');
  EXPECT_EQ(TexteErreurSysteme(987654), "Erreur n°987654");
  EXPECT_EQ(MessageErreurSysteme(0), "");
  EXPECT_EQ(MessageErreurSysteme(987654), "Erreur n°987654");
  EXPECT_FALSE(NomOrdinateur().empty());
}

}  // namespace
}  // namespace jumelix
