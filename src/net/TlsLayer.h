// A TLS client engine over memory buffers: it does no I/O of its own, so the socket that
// owns it keeps driving everything from its message loop and nothing ever blocks. The
// socket puts the bytes that arrived (PutIncoming), sends what the engine produced
// (TakeOutgoing), and moves plain text through Read and Write. The server's certificate
// is checked against the system's trust store (plus an optional extra CA file, for tests
// and private authorities) and against the name the user gave. One thread; not copyable.
// Failures are values: a result code plus a French ErrorText() for the user.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace jumelix {

// The code of OnTlsDone when the handshake or the certificate check failed.
constexpr uint16_t kTlsFailed = 20700;

class TTlsLayer {
 public:
  enum TResult { tlsDone, tlsWantMore, tlsFailed };

  // `hostName` is what the certificate must name: a DNS name (also sent as SNI) or an
  // IPv4/IPv6 address text. `extraCaFile` (PEM) is trusted besides the system store;
  // empty: the system store only.
  TTlsLayer(const std::string& hostName, const std::string& extraCaFile);
  ~TTlsLayer();
  TTlsLayer(const TTlsLayer&) = delete;
  TTlsLayer& operator=(const TTlsLayer&) = delete;

  // Starts or continues the handshake with what has been put in so far.
  TResult Handshake();
  bool HandshakeDone() const { return done_; }
  bool Failed() const { return failed_; }

  // Bytes received from the server.
  void PutIncoming(const char* data, size_t len);
  // Bytes to send to the server (handshake records, encrypted text, alerts); empties the
  // engine's output.
  std::string TakeOutgoing();
  bool HasOutgoing() const;

  // Plain text for the program: the byte count (> 0); 0 when the server ended TLS
  // (close_notify); -1 when more incoming bytes are needed; -2 after a failure.
  int Read(char* buffer, int maxLen);
  // Encrypts the text into the output; false after a failure (or before the handshake).
  bool Write(const char* data, size_t len);
  // Queues the close_notify alert (orderly end); nothing after a failure.
  void Shutdown();

  // Decrypted bytes waiting in the engine, and received bytes not yet looked at: either
  // means a Read may give text without new input.
  size_t PendingPlain() const;
  size_t PendingIncoming() const;

  // The transport ended during the handshake: the handshake fails with that reason.
  void FailConnectionClosed();

  // What went wrong, in French, for the user (empty while nothing failed).
  const std::string& ErrorText() const { return error_; }
  // The protocol agreed ("TLSv1.3"), empty before the handshake ends.
  std::string Version() const;

 private:
  void Fail(const std::string& text);
  std::string HandshakeFailureText();

  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string host_;
  std::string error_;
  bool done_ = false;
  bool failed_ = false;
};

// The French text of a certificate verification failure for `host`: the name mismatch
// gets its own sentence, every other reason "Certificat non reconnu : " + reason.
// `verifyResult` is an X509_V_ERR_* value.
std::string TlsVerifyFailureText(long verifyResult, const std::string& host);

}  // namespace jumelix
