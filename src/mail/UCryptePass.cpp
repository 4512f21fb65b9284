#include "mail/UCryptePass.h"

#include <cstdint>
#include <random>

namespace jumelix {
namespace {

std::mt19937& Generateur() {
  thread_local std::mt19937 gen{std::random_device{}()};
  return gen;
}

void AjouterHex4(std::string& sortie, uint16_t w) {
  static constexpr char kChiffres[] = "0123456789ABCDEF";
  for (int decalage = 12; decalage >= 0; decalage -= 4) sortie += kChiffres[(w >> decalage) & 0xF];
}

// Four hexadecimal digits, either case; false for anything else.
bool LireHex4(std::string_view s, uint16_t& w) {
  if (s.size() != 4) return false;
  unsigned v = 0;
  for (char c : s) {
    unsigned d;
    if (c >= '0' && c <= '9') {
      d = static_cast<unsigned>(c - '0');
    } else if (c >= 'A' && c <= 'F') {
      d = static_cast<unsigned>(c - 'A' + 10);
    } else if (c >= 'a' && c <= 'f') {
      d = static_cast<unsigned>(c - 'a' + 10);
    } else {
      return false;
    }
    v = v * 16 + d;
  }
  w = static_cast<uint16_t>(v);
  return true;
}

// The code word of one byte. Bits 15..12 hold the selector; selector bits 0, 2 and 3 say
// whether each group of the byte's bits sits high or low in its field, the free bits
// being random.
uint16_t CoderOctet(uint8_t c, uint16_t hasard) {
  unsigned s = hasard & 0xF;
  unsigned w = (s << 12) | ((hasard >> 4) & 0x0FFF);  // every data bit starts random
  unsigned bas3 = c & 0x7;                            // c2 c1 c0
  unsigned milieu2 = (c >> 3) & 0x3;                  // c4 c3
  unsigned haut3 = (c >> 5) & 0x7;                    // c7 c6 c5
  if (s & 0x1) {
    w = (w & ~0x0700u) | (bas3 << 8);
  } else {
    w = (w & ~0x0E00u) | (bas3 << 9);
  }
  if (s & 0x4) {
    w = (w & ~0x0060u) | (milieu2 << 5);
  } else {
    w = (w & ~0x00C0u) | (milieu2 << 6);
  }
  if (s & 0x8) {
    w = (w & ~0x0007u) | haut3;
  } else {
    w = (w & ~0x001Cu) | (haut3 << 2);
  }
  return static_cast<uint16_t>(w);
}

uint8_t DecoderMot(uint16_t w) {
  unsigned bas3 = (w & 0x1000) ? (w >> 8) & 0x7 : (w >> 9) & 0x7;
  unsigned milieu2 = (w & 0x4000) ? (w >> 5) & 0x3 : (w >> 6) & 0x3;
  unsigned haut3 = (w & 0x8000) ? w & 0x7 : (w >> 2) & 0x7;
  return static_cast<uint8_t>(bas3 | (milieu2 << 3) | (haut3 << 5));
}

}  // namespace

std::string CrypterMotDePasse(std::string_view motDePasse) {
  std::string sortie;
  sortie.reserve(4 * (motDePasse.size() + 1));
  std::uniform_int_distribution<unsigned> hasard(0, 0xFFFF);
  uint16_t somme = 0;
  for (char c : motDePasse) {
    uint16_t w = CoderOctet(static_cast<uint8_t>(c), static_cast<uint16_t>(hasard(Generateur())));
    somme = static_cast<uint16_t>(somme + w);
    AjouterHex4(sortie, w);
  }
  AjouterHex4(sortie, somme);
  return sortie;
}

std::string DecrypterMotDePasse(std::string_view valeur) {
  // Anything but whole groups of four digits cannot come from CrypterMotDePasse; a short
  // last group is refused rather than read as a checksum.
  if (valeur.empty() || valeur.size() % 4 != 0) return {};
  std::string resultat;
  uint16_t somme = 0;
  while (valeur.size() > 4) {
    uint16_t w;
    if (!LireHex4(valeur.substr(0, 4), w)) return {};
    somme = static_cast<uint16_t>(somme + w);
    resultat += static_cast<char>(DecoderMot(w));
    valeur.remove_prefix(4);
  }
  uint16_t controle;
  if (!LireHex4(valeur, controle) || controle != somme) return {};
  return resultat;
}

}  // namespace jumelix
