#include "app/Credit.h"

#include <array>
#include <cstddef>

namespace jumelix {

namespace {

// Each byte is mixed with a key that depends on every scrambled byte before it, so that
// no byte can be changed without changing the checksum.
constexpr unsigned char kCleInitiale = 0x5A;
constexpr unsigned char CleSuivante(unsigned char cle, unsigned char brouille) {
  return static_cast<unsigned char>(cle * 31 + 7 + brouille);
}

template <size_t N>
constexpr std::array<unsigned char, N - 1> Brouiller(const char (&clair)[N]) {
  std::array<unsigned char, N - 1> forme{};
  unsigned char cle = kCleInitiale;
  for (size_t i = 0; i + 1 < N; ++i) {
    forme[i] = static_cast<unsigned char>(static_cast<unsigned char>(clair[i]) ^ cle);
    cle = CleSuivante(cle, forme[i]);
  }
  return forme;
}

template <size_t N>
constexpr uint32_t Somme(const std::array<unsigned char, N>& forme) {
  uint32_t h = 2166136261u;  // FNV-1a
  for (unsigned char c : forme) h = (h ^ c) * 16777619u;
  return h;
}

// Only the scrambled form and its checksum reach the program file.
constexpr auto kCreditBrouille = Brouiller(
    "Jumelix - synchronisation de répertoires pour Linux\n"
    "© 2026 l'équipe Jumelix");
constexpr uint32_t kSommeCredit = Somme(kCreditBrouille);

}  // namespace

std::vector<unsigned char> BrouillerCredit(std::string_view clair) {
  std::vector<unsigned char> forme(clair.size());
  unsigned char cle = kCleInitiale;
  for (size_t i = 0; i < clair.size(); ++i) {
    forme[i] = static_cast<unsigned char>(static_cast<unsigned char>(clair[i]) ^ cle);
    cle = CleSuivante(cle, forme[i]);
  }
  return forme;
}

uint32_t SommeCredit(std::span<const unsigned char> forme) {
  uint32_t h = 2166136261u;
  for (unsigned char c : forme) h = (h ^ c) * 16777619u;
  return h;
}

std::optional<std::string> DechiffrerCredit(std::span<const unsigned char> forme, uint32_t somme) {
  if (SommeCredit(forme) != somme) return std::nullopt;
  std::string clair(forme.size(), '\0');
  unsigned char cle = kCleInitiale;
  for (size_t i = 0; i < forme.size(); ++i) {
    clair[i] = static_cast<char>(forme[i] ^ cle);
    cle = CleSuivante(cle, forme[i]);
  }
  return clair;
}

std::optional<std::string> CreditProgramme() {
  // Read the stored form as memory, not as a constant the compiler could fold.
  std::vector<unsigned char> forme(kCreditBrouille.size());
  const volatile unsigned char* stocke = kCreditBrouille.data();
  for (size_t i = 0; i < forme.size(); ++i) forme[i] = stocke[i];
  return DechiffrerCredit(forme, kSommeCredit);
}

}  // namespace jumelix
