#include "net/TlsLayer.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <climits>

namespace jumelix {
namespace {

struct CtxFree {
  void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
};
struct SslFree {
  void operator()(SSL* s) const { SSL_free(s); }
};

bool IsAddressText(const std::string& host) {
  unsigned char buf[16];
  return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

// The reason of the first queued OpenSSL error, emptying the queue.
std::string TakeOpenSslReason() {
  unsigned long first = ERR_get_error();
  ERR_clear_error();
  if (first == 0) return {};
  const char* reason = ERR_reason_error_string(first);
  if (reason != nullptr) return reason;
  char buf[256];
  ERR_error_string_n(first, buf, sizeof buf);
  return buf;
}

const char* FrenchVerifyReason(long code) {
  switch (code) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
      return "certificat auto-signé";
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
      return "autorité racine non reconnue dans la chaîne";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
      return "autorité de certification inconnue";
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return "certificat expiré";
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return "certificat pas encore valide";
    case X509_V_ERR_CERT_REVOKED:
      return "certificat révoqué";
    case X509_V_ERR_INVALID_PURPOSE:
      return "certificat non prévu pour un serveur";
    default:
      return nullptr;
  }
}

}  // namespace

std::string TlsVerifyFailureText(long verifyResult, const std::string& host) {
  if (verifyResult == X509_V_ERR_HOSTNAME_MISMATCH ||
      verifyResult == X509_V_ERR_IP_ADDRESS_MISMATCH) {
    return "Le nom du certificat ne correspond pas au serveur " + host;
  }
  const char* english = X509_verify_cert_error_string(verifyResult);
  const char* french = FrenchVerifyReason(verifyResult);
  std::string text = "Certificat non reconnu : ";
  if (french != nullptr) {
    text += french;
    if (english != nullptr) text += std::string(" (") + english + ")";
  } else {
    text += english != nullptr ? english : ("erreur " + std::to_string(verifyResult));
  }
  return text;
}

struct TTlsLayer::Impl {
  std::unique_ptr<SSL_CTX, CtxFree> ctx;
  std::unique_ptr<SSL, SslFree> ssl;
  BIO* in = nullptr;   // owned by ssl
  BIO* out = nullptr;  // owned by ssl
};

TTlsLayer::TTlsLayer(const std::string& hostName, const std::string& extraCaFile)
    : impl_(std::make_unique<Impl>()), host_(hostName) {
  ERR_clear_error();
  impl_->ctx.reset(SSL_CTX_new(TLS_client_method()));
  if (!impl_->ctx) {
    Fail("Impossible de préparer TLS : " + TakeOpenSslReason());
    return;
  }
  SSL_CTX* ctx = impl_->ctx.get();
  // Versions older than 1.2 are broken; no provider needs them any more.
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  if (SSL_CTX_set_default_verify_paths(ctx) != 1) ERR_clear_error();
  if (!extraCaFile.empty() &&
      SSL_CTX_load_verify_locations(ctx, extraCaFile.c_str(), nullptr) != 1) {
    Fail("Fichier de certificats illisible : " + extraCaFile);
    return;
  }
  impl_->ssl.reset(SSL_new(ctx));
  if (!impl_->ssl) {
    Fail("Impossible de préparer TLS : " + TakeOpenSslReason());
    return;
  }
  SSL* ssl = impl_->ssl.get();
  impl_->in = BIO_new(BIO_s_mem());
  impl_->out = BIO_new(BIO_s_mem());
  if (impl_->in == nullptr || impl_->out == nullptr) {
    BIO_free(impl_->in);
    BIO_free(impl_->out);
    impl_->in = impl_->out = nullptr;
    Fail("Impossible de préparer TLS : mémoire insuffisante");
    return;
  }
  // An empty memory buffer means "wait for more", not the end of the stream.
  BIO_set_mem_eof_return(impl_->in, -1);
  SSL_set_bio(ssl, impl_->in, impl_->out);
  SSL_set_connect_state(ssl);
  // The certificate must name the server the user typed, not just any trusted host.
  bool named = false;
  if (IsAddressText(host_)) {
    named = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host_.c_str()) == 1;
  } else {
    SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    named = !host_.empty() && SSL_set1_host(ssl, host_.c_str()) == 1 &&
            SSL_set_tlsext_host_name(ssl, host_.c_str()) == 1;
  }
  if (!named) Fail("Nom de serveur invalide pour TLS : " + host_);
}

TTlsLayer::~TTlsLayer() = default;

void TTlsLayer::Fail(const std::string& text) {
  if (!failed_) error_ = text;
  failed_ = true;
}

std::string TTlsLayer::HandshakeFailureText() {
  const long verify = SSL_get_verify_result(impl_->ssl.get());
  std::string reason = TakeOpenSslReason();
  if (verify != X509_V_OK) return TlsVerifyFailureText(verify, host_);
  std::string text = "Échec de la négociation TLS avec " + host_;
  if (reason.empty()) return text;
  text += " : " + reason;
  // The usual cause: a plain SMTP port (25, 587) used as if it spoke TLS at once.
  if (reason.find("wrong version number") != std::string::npos ||
      reason.find("packet length too long") != std::string::npos) {
    text += " (ce port n'attend pas une connexion TLS directe : essayez STARTTLS)";
  }
  return text;
}

TTlsLayer::TResult TTlsLayer::Handshake() {
  if (failed_) return tlsFailed;
  if (done_) return tlsDone;
  ERR_clear_error();
  const int rc = SSL_do_handshake(impl_->ssl.get());
  if (rc == 1) {
    done_ = true;
    return tlsDone;
  }
  const int err = SSL_get_error(impl_->ssl.get(), rc);
  if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) return tlsWantMore;
  Fail(HandshakeFailureText());
  return tlsFailed;
}

void TTlsLayer::FailConnectionClosed() {
  if (done_ || failed_) return;
  // A server that refused the certificate or the name usually says so in an alert that
  // arrived with the end; the reason OpenSSL queued then says more than "closed".
  ERR_clear_error();
  if (SSL_do_handshake(impl_->ssl.get()) == 1) {
    done_ = true;
    return;
  }
  std::string text = HandshakeFailureText();
  if (text == "Échec de la négociation TLS avec " + host_)
    text += " : connexion fermée par le serveur";
  Fail(text);
}

void TTlsLayer::PutIncoming(const char* data, size_t len) {
  if (impl_->in == nullptr || len == 0) return;
  while (len > 0) {
    const int chunk = static_cast<int>(len > INT_MAX ? INT_MAX : len);
    const int n = BIO_write(impl_->in, data, chunk);
    if (n <= 0) return;
    data += n;
    len -= static_cast<size_t>(n);
  }
}

std::string TTlsLayer::TakeOutgoing() {
  std::string bytes;
  if (impl_->out == nullptr) return bytes;
  char* p = nullptr;
  const long n = BIO_get_mem_data(impl_->out, &p);
  if (n > 0 && p != nullptr) bytes.assign(p, static_cast<size_t>(n));
  (void)BIO_reset(impl_->out);
  return bytes;
}

bool TTlsLayer::HasOutgoing() const {
  return impl_->out != nullptr && BIO_ctrl_pending(impl_->out) > 0;
}

int TTlsLayer::Read(char* buffer, int maxLen) {
  if (failed_ || !done_) return failed_ ? -2 : -1;
  if (maxLen <= 0) return -1;
  ERR_clear_error();
  const int n = SSL_read(impl_->ssl.get(), buffer, maxLen);
  if (n > 0) return n;
  const int err = SSL_get_error(impl_->ssl.get(), n);
  if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) return -1;
  if (err == SSL_ERROR_ZERO_RETURN) return 0;
  Fail("Erreur TLS avec " + host_ + " : " + TakeOpenSslReason());
  return -2;
}

bool TTlsLayer::Write(const char* data, size_t len) {
  if (failed_ || !done_) return false;
  ERR_clear_error();
  while (len > 0) {
    const int chunk = static_cast<int>(len > INT_MAX ? INT_MAX : len);
    // Memory output grows as needed, so a write never has to wait.
    const int n = SSL_write(impl_->ssl.get(), data, chunk);
    if (n <= 0) {
      Fail("Erreur TLS avec " + host_ + " : " + TakeOpenSslReason());
      return false;
    }
    data += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

void TTlsLayer::Shutdown() {
  if (failed_ || !done_) return;
  ERR_clear_error();
  SSL_shutdown(impl_->ssl.get());
  ERR_clear_error();
}

size_t TTlsLayer::PendingPlain() const {
  if (!impl_->ssl || !done_) return 0;
  const int n = SSL_pending(impl_->ssl.get());
  return n > 0 ? static_cast<size_t>(n) : 0;
}

size_t TTlsLayer::PendingIncoming() const {
  return impl_->in != nullptr ? BIO_ctrl_pending(impl_->in) : 0;
}

std::string TTlsLayer::Version() const {
  if (!done_ || !impl_->ssl) return {};
  return SSL_get_version(impl_->ssl.get());
}

}  // namespace jumelix
