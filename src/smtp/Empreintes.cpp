#include "smtp/Empreintes.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstring>
#include <limits>

namespace jumelix {
namespace {

template <size_t N>
std::array<uint8_t, N> Digest(const EVP_MD* md, std::string_view data) {
  std::array<uint8_t, N> d{};
  unsigned n = 0;
  if (EVP_Digest(data.data(), data.size(), d.data(), &n, md, nullptr) != 1 || n != N) d.fill(0);
  return d;
}

// The key goes to libcrypto as it stands, never through a buffer of ours; libcrypto
// wipes the padded copies it makes.
template <size_t N>
std::array<uint8_t, N> Hmac(const EVP_MD* md, std::string_view key, std::string_view message) {
  std::array<uint8_t, N> d{};
  unsigned n = 0;
  // A null key would mean "no key" to libcrypto, while an empty password is a key.
  static const char kCleVide = 0;
  const char* cle = key.data() != nullptr ? key.data() : &kCleVide;
  if (key.size() > static_cast<size_t>(std::numeric_limits<int>::max()) ||
      HMAC(md, cle, static_cast<int>(key.size()),
           reinterpret_cast<const unsigned char*>(message.data()), message.size(), d.data(),
           &n) == nullptr ||
      n != N) {
    d.fill(0);
  }
  return d;
}

}  // namespace

void TMdCtxFree::operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }

void TMd5Context::Start() {
  if (!ctx_) ctx_.reset(EVP_MD_CTX_new());
  ok_ = ctx_ && EVP_DigestInit_ex(ctx_.get(), EVP_md5(), nullptr) == 1;
}

void TMd5Context::Add(const void* data, size_t len) {
  ok_ = ok_ && EVP_DigestUpdate(ctx_.get(), data, len) == 1;
}

std::array<uint8_t, 16> TMd5Context::Finish() {
  std::array<uint8_t, 16> d{};
  unsigned n = 0;
  if (!ok_ || EVP_DigestFinal_ex(ctx_.get(), d.data(), &n) != 1 || n != d.size()) d.fill(0);
  Start();
  return d;
}

std::array<uint8_t, 16> Md5(std::string_view data) { return Digest<16>(EVP_md5(), data); }

int TSha1Context::Reset() {
  if (!ctx_) ctx_.reset(EVP_MD_CTX_new());
  length_ = 0;
  computed_ = false;
  const bool ok = ctx_ && EVP_DigestInit_ex(ctx_.get(), EVP_sha1(), nullptr) == 1;
  corrupted_ = ok ? kShaSuccess : kShaStateError;
  return corrupted_;
}

int TSha1Context::Input(const void* data, size_t len) {
  if (len == 0) return corrupted_;
  if (data == nullptr) return kShaNull;
  if (corrupted_ != kShaSuccess) return corrupted_;
  if (computed_) {
    corrupted_ = kShaStateError;
    return corrupted_;
  }
  // The message length is a 64-bit count of bits.
  if (len > std::numeric_limits<uint64_t>::max() / 8 - length_) {
    corrupted_ = kShaNull;
    return corrupted_;
  }
  length_ += len;
  if (EVP_DigestUpdate(ctx_.get(), data, len) != 1) corrupted_ = kShaStateError;
  return corrupted_;
}

int TSha1Context::Result(uint8_t* digest) {
  if (digest == nullptr) return kShaNull;
  if (corrupted_ != kShaSuccess) return corrupted_;
  if (!computed_) {
    unsigned n = 0;
    if (EVP_DigestFinal_ex(ctx_.get(), digest_.data(), &n) != 1 || n != digest_.size()) {
      corrupted_ = kShaStateError;
      return corrupted_;
    }
    computed_ = true;
  }
  std::memcpy(digest, digest_.data(), digest_.size());
  return kShaSuccess;
}

std::array<uint8_t, 20> Sha1(std::string_view data) { return Digest<20>(EVP_sha1(), data); }

std::array<uint8_t, 20> HmacSha1(std::string_view key, std::string_view message) {
  return Hmac<20>(EVP_sha1(), key, message);
}

std::array<uint8_t, 16> HmacMd5(std::string_view key, std::string_view message) {
  return Hmac<16>(EVP_md5(), key, message);
}

}  // namespace jumelix
