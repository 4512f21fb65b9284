#include "mail/UCryptePass.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace jumelix {
namespace {

TEST(CryptePass, RandomByteStringsSurviveARoundTrip) {
  std::mt19937 gen(12345);
  std::uniform_int_distribution<int> octet(0, 255);
  std::uniform_int_distribution<int> longueur(0, 40);
  for (int essai = 0; essai < 500; ++essai) {
    std::string mdp;
    int n = longueur(gen);
    for (int i = 0; i < n; ++i) mdp += static_cast<char>(octet(gen));
    std::string code = CrypterMotDePasse(mdp);
    ASSERT_EQ(code.size(), 4 * (mdp.size() + 1));
    ASSERT_EQ(code.find_first_not_of("0123456789ABCDEF"), std::string::npos) << code;
    ASSERT_EQ(DecrypterMotDePasse(code), mdp);
  }
}

TEST(CryptePass, EveryByteValueSurvivesManyDraws) {
  // Each byte is placed according to a random selector: try all of them often enough
  // that every selector value meets every byte.
  for (int c = 0; c < 256; ++c) {
    std::string mdp(1, static_cast<char>(c));
    for (int i = 0; i < 64; ++i) ASSERT_EQ(DecrypterMotDePasse(CrypterMotDePasse(mdp)), mdp);
  }
}

TEST(CryptePass, AccentedAndEmptyPasswords) {
  for (std::string mdp : {"é", "mot de passe à l'été°", "\xE9t\xE9", ""}) {
    EXPECT_EQ(DecrypterMotDePasse(CrypterMotDePasse(mdp)), mdp);
  }
  EXPECT_EQ(CrypterMotDePasse(""), "0000");
}

TEST(CryptePass, TwoScramblingsOfOnePasswordDiffer) {
  std::string a = CrypterMotDePasse("secret123");
  std::string b = CrypterMotDePasse("secret123");
  EXPECT_NE(a, b);
  EXPECT_EQ(DecrypterMotDePasse(a), "secret123");
  EXPECT_EQ(DecrypterMotDePasse(b), "secret123");
}

TEST(CryptePass, LowercaseDigitsAreRead) {
  std::string code = CrypterMotDePasse("abc");
  for (char& c : code) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(DecrypterMotDePasse(code), "abc");
}

TEST(CryptePass, KnownCodeWordsDecodeByTheBitTable) {
  // 'A' = 0x41: c2c1c0 = 001, c4c3 = 00, c7c6c5 = 010.
  // Selector 0000: bits 11..9 = 001, bits 7..6 = 00, bits 4..2 = 010 -> 0x0208.
  // Selector 1101 (s3 s2 s0 set): bits 10..8 = 001, bits 6..5 = 00, bits 2..0 = 010
  // -> 0xD102; random bits set as well: 0xD102 | 0x0800 | 0x0080 | 0x0018 = 0xD99A.
  EXPECT_EQ(DecrypterMotDePasse("02080208"), "A");
  EXPECT_EQ(DecrypterMotDePasse("D99AD99A"), "A");
  EXPECT_EQ(DecrypterMotDePasse("03080308"), "A");  // bit 8 is random when s0 = 0
  EXPECT_EQ(DecrypterMotDePasse("020B020B"), "A");  // so are bits 1..0 when s3 = 0
}

TEST(CryptePass, DamagedValuesGiveTheEmptyPassword) {
  std::string bon = CrypterMotDePasse("secret");
  ASSERT_EQ(DecrypterMotDePasse(bon), "secret");
  EXPECT_EQ(DecrypterMotDePasse("0000"), "");
  EXPECT_EQ(DecrypterMotDePasse(""), "");
  EXPECT_EQ(DecrypterMotDePasse(bon.substr(0, bon.size() - 1)), "");  // not whole groups
  EXPECT_EQ(DecrypterMotDePasse(bon + "0"), "");
  EXPECT_EQ(DecrypterMotDePasse("00000"), "");  // a short last group is no checksum
  std::string nonHex = bon;
  nonHex[5] = 'G';
  EXPECT_EQ(DecrypterMotDePasse(nonHex), "");
  std::string espace = bon;
  espace[0] = ' ';
  EXPECT_EQ(DecrypterMotDePasse(espace), "");
  std::string mauvaiseSomme = bon;
  mauvaiseSomme.back() = mauvaiseSomme.back() == '0' ? '1' : '0';
  EXPECT_EQ(DecrypterMotDePasse(mauvaiseSomme), "");
  EXPECT_EQ(DecrypterMotDePasse(bon.substr(0, bon.size() - 4)), "");  // checksum dropped
}

}  // namespace
}  // namespace jumelix
