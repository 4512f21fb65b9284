// Digests of the SMTP authentication: MD5, SHA-1 and their HMACs (CRAM-MD5, CRAM-SHA1),
// computed by libcrypto. A digest context owns its libcrypto state and is neither copied
// nor moved; SHA-1 reports misuse by its status results. HMAC makes no copy of its key (a
// password), and libcrypto wipes its own. Where libcrypto cannot compute a digest (no
// memory, the algorithm refused by its configuration) the result is all zero bytes, which
// no server accepts as an answer.
#pragma once

#include <openssl/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace jumelix {

struct TMdCtxFree {
  void operator()(EVP_MD_CTX* ctx) const;
};
using TMdCtx = std::unique_ptr<EVP_MD_CTX, TMdCtxFree>;

// MD5 (RFC 1321). Add may be called any number of times between Start and Finish; Finish
// starts the context again.
class TMd5Context {
 public:
  TMd5Context() { Start(); }
  TMd5Context(const TMd5Context&) = delete;
  TMd5Context& operator=(const TMd5Context&) = delete;
  void Start();
  void Add(const void* data, size_t len);
  void Add(std::string_view data) { Add(data.data(), data.size()); }
  std::array<uint8_t, 16> Finish();

 private:
  TMdCtx ctx_;
  bool ok_ = false;  // false from a libcrypto failure until the next Start
};

std::array<uint8_t, 16> Md5(std::string_view data);

// SHA-1 (FIPS 180-1) with status results.
inline constexpr int kShaSuccess = 0;
inline constexpr int kShaNull = 1;        // missing argument, or message too long
inline constexpr int kShaStateError = 3;  // bytes added after the digest was finished, or
                                          // libcrypto failed

class TSha1Context {
 public:
  TSha1Context() { Reset(); }
  TSha1Context(const TSha1Context&) = delete;
  TSha1Context& operator=(const TSha1Context&) = delete;
  int Reset();
  // Adds `len` bytes; a null `data` with a non-zero length is a missing argument.
  int Input(const void* data, size_t len);
  int Input(std::string_view data) { return Input(data.data(), data.size()); }
  // Writes the 20-byte digest; finishing again gives the same digest.
  int Result(uint8_t* digest);

 private:
  TMdCtx ctx_;
  std::array<uint8_t, 20> digest_{};
  uint64_t length_ = 0;  // bytes added
  bool computed_ = false;
  int corrupted_ = kShaSuccess;
};

std::array<uint8_t, 20> Sha1(std::string_view data);

// HMAC (RFC 2104, 64-byte blocks; keys longer than 64 bytes are hashed first).
std::array<uint8_t, 20> HmacSha1(std::string_view key, std::string_view message);
std::array<uint8_t, 16> HmacMd5(std::string_view key, std::string_view message);

template <size_t N>
std::string DigestBytes(const std::array<uint8_t, N>& d) {
  return std::string(reinterpret_cast<const char*>(d.data()), N);
}

}  // namespace jumelix
