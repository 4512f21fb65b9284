#include "smtp/Empreintes.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/Secret.h"

namespace jumelix {
namespace {

inline uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

template <typename Ctx, size_t N, typename HashFn>
std::array<uint8_t, N> Hmac(std::string_view key, std::string_view message, HashFn hash) {
  std::string k(key);
  if (k.size() > 64) k = DigestBytes(hash(k));
  uint8_t ipad[64];
  uint8_t opad[64];
  for (size_t i = 0; i < 64; ++i) {
    uint8_t b = i < k.size() ? static_cast<uint8_t>(k[i]) : 0;
    ipad[i] = b ^ 0x36;
    opad[i] = b ^ 0x5C;
  }
  std::string inner(reinterpret_cast<const char*>(ipad), 64);
  inner.append(message);
  std::string outer(reinterpret_cast<const char*>(opad), 64);
  outer += DigestBytes(hash(inner));
  const std::array<uint8_t, N> digest = hash(outer);
  // The key is a password: no copy of it, plain or padded, outlives the call.
  EffacerTexte(k);
  EffacerOctets(ipad, sizeof ipad);
  EffacerOctets(opad, sizeof opad);
  EffacerTexte(inner);
  EffacerTexte(outer);
  return digest;
}

}  // namespace

// ---- MD5 -------------------------------------------------------------------------------

void TMd5Context::Start() {
  state_[0] = 0x67452301;
  state_[1] = 0xefcdab89;
  state_[2] = 0x98badcfe;
  state_[3] = 0x10325476;
  count_ = 0;
}

void TMd5Context::Add(const void* data, size_t len) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  size_t have = static_cast<size_t>(count_ % 64);
  count_ += len;
  if (have != 0) {
    size_t take = std::min(len, 64 - have);
    std::memcpy(buffer_ + have, p, take);
    p += take;
    len -= take;
    if (have + take < 64) return;
    Transform(buffer_);
  }
  while (len >= 64) {
    Transform(p);
    p += 64;
    len -= 64;
  }
  if (len != 0) std::memcpy(buffer_, p, len);
}

std::array<uint8_t, 16> TMd5Context::Finish() {
  uint64_t bits = count_ * 8;
  static const uint8_t kPad[64] = {0x80};
  size_t have = static_cast<size_t>(count_ % 64);
  Add(kPad, have < 56 ? 56 - have : 120 - have);
  uint8_t len_bytes[8];
  for (int i = 0; i < 8; ++i) len_bytes[i] = static_cast<uint8_t>(bits >> (8 * i));
  Add(len_bytes, 8);
  std::array<uint8_t, 16> d;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) d[4 * i + j] = static_cast<uint8_t>(state_[i] >> (8 * j));
  }
  return d;
}

void TMd5Context::Transform(const uint8_t* block) {
  static const uint32_t kT[64] = {
      0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
      0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
      0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
      0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
      0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
      0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
      0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
      0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
      0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
      0xeb86d391};
  static const int kS[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                             5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                             4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                             6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) {
    x[i] = static_cast<uint32_t>(block[4 * i]) | static_cast<uint32_t>(block[4 * i + 1]) << 8 |
           static_cast<uint32_t>(block[4 * i + 2]) << 16 |
           static_cast<uint32_t>(block[4 * i + 3]) << 24;
  }
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  for (int i = 0; i < 64; ++i) {
    uint32_t f;
    int g;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (b & d) | (c & ~d);
      g = (5 * i + 1) % 16;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) % 16;
    }
    uint32_t tmp = d;
    d = c;
    c = b;
    b = b + Rotl(a + f + kT[i] + x[g], kS[i]);
    a = tmp;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

std::array<uint8_t, 16> Md5(std::string_view data) {
  TMd5Context ctx;
  ctx.Add(data);
  return ctx.Finish();
}

// ---- SHA-1 -----------------------------------------------------------------------------

int TSha1Context::Reset() {
  h_[0] = 0x67452301;
  h_[1] = 0xEFCDAB89;
  h_[2] = 0x98BADCFE;
  h_[3] = 0x10325476;
  h_[4] = 0xC3D2E1F0;
  length_bits_ = 0;
  block_index_ = 0;
  computed_ = false;
  corrupted_ = kShaSuccess;
  return kShaSuccess;
}

int TSha1Context::Input(const void* data, size_t len) {
  if (len == 0) return corrupted_;
  if (data == nullptr) return kShaNull;
  if (corrupted_ != kShaSuccess) return corrupted_;
  if (computed_) {
    corrupted_ = kShaStateError;
    return corrupted_;
  }
  if (len > (std::numeric_limits<uint64_t>::max() - length_bits_) / 8) {
    corrupted_ = kShaNull;
    return corrupted_;
  }
  length_bits_ += static_cast<uint64_t>(len) * 8;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  while (len > 0) {
    size_t take = std::min(len, 64 - block_index_);
    std::memcpy(block_ + block_index_, p, take);
    block_index_ += take;
    p += take;
    len -= take;
    if (block_index_ == 64) ProcessBlock();
  }
  return kShaSuccess;
}

int TSha1Context::Result(uint8_t* digest) {
  if (digest == nullptr) return kShaNull;
  if (corrupted_ != kShaSuccess) return corrupted_;
  if (!computed_) {
    PadMessage();
    computed_ = true;
  }
  for (int i = 0; i < 20; ++i) digest[i] = static_cast<uint8_t>(h_[i / 4] >> (8 * (3 - i % 4)));
  return kShaSuccess;
}

void TSha1Context::PadMessage() {
  block_[block_index_++] = 0x80;
  if (block_index_ > 56) {
    while (block_index_ < 64) block_[block_index_++] = 0;
    ProcessBlock();
  }
  while (block_index_ < 56) block_[block_index_++] = 0;
  for (int i = 0; i < 8; ++i) block_[56 + i] = static_cast<uint8_t>(length_bits_ >> (8 * (7 - i)));
  ProcessBlock();
  // The message block held the last input; clear it as the digest no longer needs it.
  std::memset(block_, 0, sizeof block_);
  length_bits_ = 0;
}

void TSha1Context::ProcessBlock() {
  static const uint32_t kK[4] = {0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC, 0xCA62C1D6};
  uint32_t w[80];
  for (int t = 0; t < 16; ++t) {
    w[t] = static_cast<uint32_t>(block_[4 * t]) << 24 |
           static_cast<uint32_t>(block_[4 * t + 1]) << 16 |
           static_cast<uint32_t>(block_[4 * t + 2]) << 8 | static_cast<uint32_t>(block_[4 * t + 3]);
  }
  for (int t = 16; t < 80; ++t) w[t] = Rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
  uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4];
  for (int t = 0; t < 80; ++t) {
    uint32_t f;
    if (t < 20) {
      f = (b & c) | (~b & d);
    } else if (t < 40) {
      f = b ^ c ^ d;
    } else if (t < 60) {
      f = (b & c) | (b & d) | (c & d);
    } else {
      f = b ^ c ^ d;
    }
    uint32_t tmp = Rotl(a, 5) + f + e + w[t] + kK[t / 20];
    e = d;
    d = c;
    c = Rotl(b, 30);
    b = a;
    a = tmp;
  }
  h_[0] += a;
  h_[1] += b;
  h_[2] += c;
  h_[3] += d;
  h_[4] += e;
  block_index_ = 0;
}

std::array<uint8_t, 20> Sha1(std::string_view data) {
  TSha1Context ctx;
  ctx.Input(data);
  std::array<uint8_t, 20> d{};
  ctx.Result(d.data());
  return d;
}

std::array<uint8_t, 20> HmacSha1(std::string_view key, std::string_view message) {
  return Hmac<TSha1Context, 20>(key, message, [](std::string_view s) { return Sha1(s); });
}

std::array<uint8_t, 16> HmacMd5(std::string_view key, std::string_view message) {
  return Hmac<TMd5Context, 16>(key, message, [](std::string_view s) { return Md5(s); });
}

}  // namespace jumelix
