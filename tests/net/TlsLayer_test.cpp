// TLS on the asynchronous socket against a real TLS server on 127.0.0.1 (the test SMTP
// server with implicit TLS and certificates made for the test), and the texts of
// certificate failures.
#include "net/TlsLayer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

#include "net/AsyncSocket.h"
#include "support/ScriptedPeer.h"
#include "support/SmtpServer.h"
#include "support/TestCertificates.h"

namespace jumelix {
namespace {

using test::Certificates;
using test::TSmtpServer;
using Clock = std::chrono::steady_clock;

bool Pump(const std::function<bool()>& until, int timeout_ms = 10000) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!until()) {
    if (Clock::now() > deadline) return false;
    TMessageLoop::Current().WaitAndProcess(10);
  }
  return true;
}

// A socket that connects to 127.0.0.1:port, starts TLS once connected and collects the
// plain text it reads.
struct TTlsClient {
  explicit TTlsClient(uint16_t port, const std::string& name = "127.0.0.1") {
    s.SetTlsCaFile(Certificates().ca);
    s.OnSessionConnected = [this, name](TAsyncSocket& sock, uint16_t err) {
      connect_error = err;
      if (err == 0) {
        sock.StartTls(name);
        if (!early_text.empty()) sock.SendText(early_text);
      }
    };
    s.OnTlsDone = [this](TAsyncSocket&, uint16_t err) {
      tls_done = true;
      tls_error = err;
    };
    s.OnDataAvailable = [this](TAsyncSocket& sock, uint16_t) {
      char buf[100];  // small on purpose: what is left waits inside the TLS engine
      int n = sock.Receive(buf, sizeof buf);
      if (n > 0) text.append(buf, static_cast<size_t>(n));
    };
    s.OnSessionClosed = [this](TAsyncSocket&, uint16_t) { closed = true; };
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(port));
  }

  TAsyncSocket s;
  std::string early_text;  // sent right after StartTls, before the handshake has ended
  int connect_error = -1;
  bool tls_done = false;
  uint16_t tls_error = 0;
  bool closed = false;
  std::string text;
};

class TlsSocket : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Certificates().ok) GTEST_SKIP() << Certificates().error;
  }
  static TSmtpServer::Options Implicit(const std::string& cert, const std::string& key) {
    TSmtpServer::Options o;
    o.tls_cert = cert;
    o.tls_key = key;
    o.implicit_tls = true;
    return o;
  }
};

TEST_F(TlsSocket, HandshakeThenPlainTextBothWaysEvenWhenSentBeforeTheEnd) {
  TSmtpServer server(Implicit(Certificates().server_cert, Certificates().server_key));
  ASSERT_TRUE(server.Started()) << server.Error();
  TTlsClient c(server.Port());
  // Queued while the handshake runs: kept, encrypted and sent once it has ended.
  c.early_text = "EHLO early\r\n";
  c.s.Connect();
  ASSERT_TRUE(Pump([&] { return c.tls_done; }));
  EXPECT_EQ(c.tls_error, 0) << c.s.TlsErrorText();
  EXPECT_TRUE(c.s.TlsActive());
  EXPECT_EQ(c.s.TlsErrorText(), "");
  EXPECT_EQ(c.s.TlsVersion().rfind("TLSv1.", 0), 0u);
  // The banner, then the EHLO reply: several lines read through a 100-byte buffer.
  ASSERT_TRUE(Pump([&] { return c.text.find("250 HELP\r\n") != std::string::npos; })) << c.text;
  EXPECT_EQ(c.text.rfind("220 jumelix-test", 0), 0u) << c.text;
  EXPECT_NE(c.text.find("250-jumelix-test\r\n"), std::string::npos);

  c.s.SendText("QUIT\r\n");
  ASSERT_TRUE(Pump([&] { return c.closed; }));
  EXPECT_NE(c.text.find("221 Bye\r\n"), std::string::npos);
  EXPECT_FALSE(c.s.TlsActive());
  EXPECT_EQ(server.Commands(), std::vector<std::string>{"EHLO tls"});
}

TEST_F(TlsSocket, CertificateProblemsFailTheHandshakeWithAFrenchReason) {
  struct Case {
    std::string cert, key, name, ca, expected_prefix;
  };
  const auto& k = Certificates();
  const Case cases[] = {
      {k.wrong_cert, k.wrong_key, "127.0.0.1", k.ca,
       "Le nom du certificat ne correspond pas au serveur 127.0.0.1"},
      {k.server_cert, k.server_key, "mail.example.org", k.ca,
       "Le nom du certificat ne correspond pas au serveur mail.example.org"},
      {k.selfsigned_cert, k.selfsigned_key, "127.0.0.1", k.ca,
       "Certificat non reconnu : certificat auto-signé (self-signed certificate)"},
      {k.server_cert, k.server_key, "127.0.0.1", "",
       "Certificat non reconnu : autorité de certification inconnue"},
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.expected_prefix);
    TSmtpServer server(Implicit(t.cert, t.key));
    ASSERT_TRUE(server.Started()) << server.Error();
    TTlsClient c(server.Port(), t.name);
    c.s.SetTlsCaFile(t.ca);
    c.s.Connect();
    ASSERT_TRUE(Pump([&] { return c.tls_done; }));
    EXPECT_EQ(c.tls_error, kTlsFailed);
    EXPECT_EQ(c.s.TlsErrorText().rfind(t.expected_prefix, 0), 0u) << c.s.TlsErrorText();
    EXPECT_FALSE(c.s.TlsActive());
    EXPECT_EQ(c.text, "");  // nothing readable from a link that failed its check
  }
}

TEST_F(TlsSocket, ServerClosingDuringTheHandshakeEndsIt) {
  test::TScriptedPeer peer;
  peer.Close();
  peer.Start();
  TTlsClient c(peer.Port());
  c.s.Connect();
  ASSERT_TRUE(Pump([&] { return c.tls_done; }));
  EXPECT_EQ(c.tls_error, kTlsFailed);
  EXPECT_EQ(c.s.TlsErrorText(),
            "Échec de la négociation TLS avec 127.0.0.1 : connexion fermée par le serveur");
}

TEST_F(TlsSocket, StartTlsNeedsAConnectionAndStartsOnce) {
  TAsyncSocket s;
  EXPECT_THROW(s.StartTls("127.0.0.1"), ESocketException);

  TSmtpServer server(Implicit(Certificates().server_cert, Certificates().server_key));
  ASSERT_TRUE(server.Started()) << server.Error();
  TTlsClient c(server.Port());
  c.s.Connect();
  ASSERT_TRUE(Pump([&] { return c.tls_done; }));
  EXPECT_THROW(c.s.StartTls("127.0.0.1"), ESocketException);
  EXPECT_TRUE(c.s.TlsActive());
}

TEST_F(TlsSocket, CorruptRecordAfterTheHandshakeDropsTheConnectionWithItsReason) {
  // A blocking OpenSSL server in a thread: handshake, one good line, then bytes that look
  // like a TLS record but cannot be decrypted.
  int lfd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(lfd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(listen(lfd, 1), 0);
  socklen_t len = sizeof a;
  getsockname(lfd, reinterpret_cast<sockaddr*>(&a), &len);
  std::thread server([lfd] {
    int fd = accept(lfd, nullptr, nullptr);
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate_file(ctx, Certificates().server_cert.c_str(), SSL_FILETYPE_PEM);
    SSL_CTX_use_PrivateKey_file(ctx, Certificates().server_key.c_str(), SSL_FILETYPE_PEM);
    SSL* ssl = SSL_new(ctx);
    SSL_set_fd(ssl, fd);
    if (SSL_accept(ssl) == 1) {
      SSL_write(ssl, "220 ok\r\n", 8);
      char cue[16];
      SSL_read(ssl, cue, sizeof cue);  // the client has read the good line
      const char junk[] = "\x17\x03\x03\x00\x20xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx";
      send(fd, junk, sizeof junk - 1, MSG_NOSIGNAL);
      char sink[256];
      while (recv(fd, sink, sizeof sink, 0) > 0) {
      }
    }
    SSL_free(ssl);
    SSL_CTX_free(ctx);
    close(fd);
  });
  {
    TTlsClient c(ntohs(a.sin_port));
    uint16_t closed_with = 0;
    c.s.OnSessionClosed = [&](TAsyncSocket&, uint16_t err) {
      c.closed = true;
      closed_with = err;
    };
    c.s.Connect();
    // No ASSERT here: the server thread must be joined whatever happens.
    EXPECT_TRUE(Pump([&] { return c.text == "220 ok\r\n" || c.closed; }));
    if (!c.closed) c.s.SendText("NOOP\r\n");  // the server's cue for its bad record
    EXPECT_TRUE(Pump([&] { return c.closed; }));
    EXPECT_EQ(c.tls_error, 0);
    EXPECT_EQ(c.text, "220 ok\r\n");
    EXPECT_EQ(closed_with, kWsaeConnAborted);
    EXPECT_EQ(c.s.TlsErrorText().rfind("Erreur TLS avec 127.0.0.1 : ", 0), 0u)
        << c.s.TlsErrorText();
  }
  server.join();
  close(lfd);
}

TEST(TlsVerifyFailureText, NameMismatchAndReasons) {
  EXPECT_EQ(TlsVerifyFailureText(X509_V_ERR_HOSTNAME_MISMATCH, "smtp.x.org"),
            "Le nom du certificat ne correspond pas au serveur smtp.x.org");
  EXPECT_EQ(TlsVerifyFailureText(X509_V_ERR_IP_ADDRESS_MISMATCH, "10.0.0.1"),
            "Le nom du certificat ne correspond pas au serveur 10.0.0.1");
  EXPECT_EQ(TlsVerifyFailureText(X509_V_ERR_CERT_HAS_EXPIRED, "h"),
            "Certificat non reconnu : certificat expiré (certificate has expired)");
  // A reason without a French wording keeps OpenSSL's own.
  EXPECT_EQ(TlsVerifyFailureText(X509_V_ERR_CERT_SIGNATURE_FAILURE, "h"),
            "Certificat non reconnu : certificate signature failure");
}

}  // namespace
}  // namespace jumelix
