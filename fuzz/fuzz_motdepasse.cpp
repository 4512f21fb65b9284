// Password unscrambling: any stored value either reads back as a password or as the empty
// text, and any password survives scrambling.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCommun.h"
#include "mail/UCryptePass.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace jumelix;
  const std::string_view octets(reinterpret_cast<const char*>(data), size);
  const std::string clair = DecrypterMotDePasse(octets);
  // Four digits per byte plus the checksum.
  JUMELIX_FUZZ_VERIFIER(clair.empty() || (clair.size() + 1) * 4 == size);
  const std::string brouille = CrypterMotDePasse(octets);
  JUMELIX_FUZZ_VERIFIER(brouille.size() == (size + 1) * 4);
  JUMELIX_FUZZ_VERIFIER(DecrypterMotDePasse(brouille) == octets);
  return 0;
}
