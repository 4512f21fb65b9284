// The line reader: any bytes split into lines, the Windows-1252 fallback and the UTF-8
// helpers. Lines never hold a line end, the split survives a rewrite with CR LF, and every
// conversion gives valid UTF-8 that is never cut inside a sequence.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCommun.h"
#include "shared/URoutines.h"

namespace {

// Strict UTF-8 written out longhand, to hold the program's validator to: no overlong form,
// no surrogate, nothing past U+10FFFF.
bool Utf8Reference(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto o = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const auto suite = [&](size_t k) { return i + k < s.size() && (o(k) & 0xC0) == 0x80; };
    const unsigned char c = o(0);
    if (c < 0x80) {
      i += 1;
    } else if (c >= 0xC2 && c <= 0xDF && suite(1)) {
      i += 2;
    } else if (c >= 0xE0 && c <= 0xEF && suite(1) && suite(2)) {
      if (c == 0xE0 && o(1) < 0xA0) return false;   // overlong
      if (c == 0xED && o(1) >= 0xA0) return false;  // surrogate
      i += 3;
    } else if (c >= 0xF0 && c <= 0xF4 && suite(1) && suite(2) && suite(3)) {
      if (c == 0xF0 && o(1) < 0x90) return false;   // overlong
      if (c == 0xF4 && o(1) >= 0x90) return false;  // past U+10FFFF
      i += 4;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace jumelix;
  const std::string_view texte(reinterpret_cast<const char*>(data), size);

  const std::vector<std::string> lignes = DecouperLignes(texte);
  std::string reecrit;
  for (const std::string& l : lignes) {
    JUMELIX_FUZZ_VERIFIER(l.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos);
    reecrit += l + "\r\n";
  }
  JUMELIX_FUZZ_VERIFIER(DecouperLignes(reecrit) == lignes);

  JUMELIX_FUZZ_VERIFIER(EstUtf8Valide(texte) == Utf8Reference(texte));
  // Every Windows-1252 byte is one character.
  JUMELIX_FUZZ_VERIFIER(NbCaracteres(Cp1252VersUtf8(texte)) == texte.size());
  const std::string utf8 = EstUtf8Valide(texte) ? std::string(texte) : Cp1252VersUtf8(texte);
  JUMELIX_FUZZ_VERIFIER(EstUtf8Valide(utf8));
  const size_t n = NbCaracteres(utf8);
  JUMELIX_FUZZ_VERIFIER(n <= utf8.size());
  for (size_t k : {size_t{0}, size_t{1}, n / 2, n, n + 1}) {
    const std::string debut = PremiersCaracteres(utf8, k);
    JUMELIX_FUZZ_VERIFIER(EstUtf8Valide(debut));
    JUMELIX_FUZZ_VERIFIER(NbCaracteres(debut) == std::min(k, n));
    JUMELIX_FUZZ_VERIFIER(utf8.compare(0, debut.size(), debut) == 0);
  }
  (void)Trim(utf8);
  (void)MinusculesAscii(utf8);
  return 0;
}
