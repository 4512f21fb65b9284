#include "app/Credit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace jumelix {
namespace {

TEST(Credit, ScrambledFormHidesTheTextAndAnyAlterationIsRefused) {
  const std::string clair = "Jumelix © 2026, répertoires";
  std::vector<unsigned char> forme = BrouillerCredit(clair);
  EXPECT_EQ(std::string(forme.begin(), forme.end()).find("Jumelix"), std::string::npos);
  const uint32_t somme = SommeCredit(forme);
  EXPECT_EQ(DechiffrerCredit(forme, somme).value_or(""), clair);
  for (size_t i : {size_t{0}, forme.size() / 2, forme.size() - 1}) {
    std::vector<unsigned char> alteree = forme;
    alteree[i] ^= 0x01;
    EXPECT_FALSE(DechiffrerCredit(alteree, somme).has_value()) << "octet " << i;
  }
  std::vector<unsigned char> raccourcie(forme.begin(), forme.end() - 1);
  EXPECT_FALSE(DechiffrerCredit(raccourcie, somme).has_value());
}

TEST(Credit, TheProgramsOwnTextIsIntact) {
  const std::optional<std::string> credit = CreditProgramme();
  ASSERT_TRUE(credit.has_value());
  EXPECT_NE(credit->find("Jumelix"), std::string::npos);
  EXPECT_EQ(CreditProgramme(), credit);  // unscrambled again, same text
}

}  // namespace
}  // namespace jumelix
