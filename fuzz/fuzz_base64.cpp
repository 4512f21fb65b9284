// Base64 decoding of any text, and the encode-decode round trip of any bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCommun.h"
#include "smtp/MimeCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace jumelix;
  const std::string_view octets(reinterpret_cast<const char*>(data), size);
  const std::string decode = FromBase64(octets);
  JUMELIX_FUZZ_VERIFIER(decode.size() <= (size / 4) * 3 + 2);
  const std::string code = ToBase64(octets);
  JUMELIX_FUZZ_VERIFIER(code.size() == (size + 2) / 3 * 4);
  JUMELIX_FUZZ_VERIFIER(FromBase64(code) == octets);
  return 0;
}
