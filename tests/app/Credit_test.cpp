#include "app/Credit.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
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

TEST(Credit, TheProgramsOwnTextIsIntactAndStoredOnlyScrambled) {
  const std::optional<std::string> credit = CreditProgramme();
  ASSERT_TRUE(credit.has_value());
  EXPECT_NE(credit->find("Jumelix"), std::string::npos);
  // Nowhere in clear among the bytes of the executable that holds it.
  const int fd = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  struct stat st {};
  ASSERT_EQ(fstat(fd, &st), 0);
  const size_t taille = static_cast<size_t>(st.st_size);
  void* octets = mmap(nullptr, taille, PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);
  ASSERT_NE(octets, MAP_FAILED);
  EXPECT_EQ(memmem(octets, taille, credit->data(), credit->size()), nullptr);
  munmap(octets, taille);
}

}  // namespace
}  // namespace jumelix
