// Digests of the SMTP authentication: MD5, SHA-1 and their HMACs (CRAM-MD5, CRAM-SHA1).
// Pure functions over 8-bit strings; the digest contexts are plain values owned by their
// caller, and SHA-1 reports misuse by its status results. HMAC wipes every copy of its key
// (a password) before it returns.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace jumelix {

// MD5 (RFC 1321). Add may be called any number of times between Start and Finish.
class TMd5Context {
 public:
  TMd5Context() { Start(); }
  void Start();
  void Add(const void* data, size_t len);
  void Add(std::string_view data) { Add(data.data(), data.size()); }
  std::array<uint8_t, 16> Finish();

 private:
  void Transform(const uint8_t* block);
  uint32_t state_[4];
  uint64_t count_ = 0;  // bytes added
  uint8_t buffer_[64];
};

std::array<uint8_t, 16> Md5(std::string_view data);

// SHA-1 (FIPS 180-1) with status results.
inline constexpr int kShaSuccess = 0;
inline constexpr int kShaNull = 1;        // missing argument, or message too long
inline constexpr int kShaStateError = 3;  // bytes added after the digest was finished

class TSha1Context {
 public:
  TSha1Context() { Reset(); }
  int Reset();
  // Adds `len` bytes; a null `data` with a non-zero length is a missing argument.
  int Input(const void* data, size_t len);
  int Input(std::string_view data) { return Input(data.data(), data.size()); }
  // Writes the 20-byte digest; finishing again gives the same digest.
  int Result(uint8_t* digest);

 private:
  void ProcessBlock();
  void PadMessage();
  uint32_t h_[5];
  uint64_t length_bits_ = 0;
  uint8_t block_[64];
  size_t block_index_ = 0;
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
