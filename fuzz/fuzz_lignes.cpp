// The line reader: any bytes split into lines, the Windows-1252 fallback and the UTF-8
// helpers. Lines never hold a line end, the split survives a rewrite with CR LF, and every
// conversion gives valid UTF-8 that is never cut inside a sequence.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCommun.h"
#include "app/URoutines.h"

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
