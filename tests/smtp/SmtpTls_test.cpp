// The SMTP session's security against a real server (aiosmtpd on 127.0.0.1, with STARTTLS
// or implicit TLS and certificates made for the test) and a scripted peer: delivery in
// each mode, refused certificates, a missing STARTTLS, and the rule that keeps a password
// off the network in clear.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "net/MessageLoop.h"
#include "smtp/SmtpClient.h"
#include "support/ScriptedPeer.h"
#include "support/SmtpServer.h"
#include "support/TestCertificates.h"

namespace jumelix {
namespace {

using test::Certificates;
using test::TScriptedPeer;
using test::TSmtpServer;
using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;

bool PumpTls(const std::function<bool()>& until, int timeout_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!until()) {
    if (Clock::now() > deadline) return false;
    TMessageLoop::Current().WaitAndProcess(10);
  }
  return true;
}

// One delivery the way the report sender chains it: Connect, EHLO (with STARTTLS inside
// when the security asks for it), AUTH when a user is set, MAIL, RCPT, DATA, QUIT.
class TDeliveryTls {
 public:
  TDeliveryTls(uint16_t port, TSmtpSecurity security, bool auth) {
    client.Host = "127.0.0.1";
    client.Port = std::to_string(port);
    client.SignOn = "Jumelix";
    client.Security = security;
    client.TlsCaFile = Certificates().ca;
    client.FromName = "jumelix@example.org";
    client.HdrFrom = "Jumelix <jumelix@example.org>";
    client.HdrTo = "admin@example.org";
    client.HdrSubject = "Rapport";
    client.AddRecipientLists("admin@example.org", "", "");
    if (auth) {
      client.AuthType = smtpAuthAutoSelect;
      client.Username = "jumelix";
      client.Password = "s3cret";
    }
    client.OnGetData = [this](TSmtpSession&, int n, std::string& line, int, bool& more) {
      if (n > static_cast<int>(body.size())) {
        more = false;
      } else {
        line = body[n - 1];
      }
    };
    client.OnRequestDone = [this](TSmtpSession& s, TSmtpRequest rq, uint16_t err) {
      if (err != 0) {
        error = err;
        failed_at = rq;
        finished = true;
        return;
      }
      switch (rq) {
        case smtpConnect:
          s.Ehlo();
          break;
        case smtpEhlo:
          tls_after_ehlo = s.TlsActive();
          client.AuthType != smtpAuthNone ? s.Auth() : s.MailFrom();
          break;
        case smtpAuth:
          s.MailFrom();
          break;
        case smtpMailFrom:
          s.RcptTo();
          break;
        case smtpRcptTo:
          s.Data();
          break;
        case smtpData:
          s.Quit();
          break;
        default:
          finished = true;
          break;
      }
    };
  }

  bool Run(int timeout_ms = 15000) {
    client.Connect();
    return PumpTls([this] { return finished; }, timeout_ms);
  }

  TSmtpClient client;
  Lines body = {"Compte rendu", "ligne 2"};
  bool finished = false;
  bool tls_after_ehlo = false;
  uint16_t error = 0;
  TSmtpRequest failed_at = smtpConnect;
};

class SmtpTls : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Certificates().ok) GTEST_SKIP() << Certificates().error;
  }

  static TSmtpServer::Options Tls(bool implicit, bool good_name = true) {
    TSmtpServer::Options o;
    o.tls_cert = good_name ? Certificates().server_cert : Certificates().wrong_cert;
    o.tls_key = good_name ? Certificates().server_key : Certificates().wrong_key;
    o.implicit_tls = implicit;
    return o;
  }

  static bool Saw(const TSmtpServer& server, const std::string& verb) {
    for (const std::string& c : server.Commands()) {
      if (c.compare(0, verb.size() + 1, verb + " ") == 0) return true;
    }
    return false;
  }
};

TEST_F(SmtpTls, StartTlsWhenOfferedThenAuthenticatesAndDeliversEncrypted) {
  TSmtpServer server(Tls(false));
  ASSERT_TRUE(server.Started()) << server.Error();
  TDeliveryTls d(server.Port(), smtpSecStartTlsIfOffered, true);
  ASSERT_TRUE(d.Run());
  EXPECT_EQ(d.error, 0) << d.client.ErrorMessage();
  EXPECT_TRUE(d.tls_after_ehlo);
  ASSERT_TRUE(server.WaitForMessages(1, 5000));
  EXPECT_EQ(server.Messages()[0].auth_login, "jumelix");
  EXPECT_NE(server.Messages()[0].raw.find("ligne 2\r\n"), std::string::npos);
  // EHLO asked again after the handshake; nothing but EHLO and STARTTLS went in clear.
  EXPECT_EQ(server.Commands(),
            (Lines{"EHLO plain", "STARTTLS plain", "EHLO tls", "AUTH tls", "MAIL tls"}));
}

TEST_F(SmtpTls, StartTlsRequiredDeliversAndSoDoesHostNameLocalhost) {
  TSmtpServer server(Tls(false));
  ASSERT_TRUE(server.Started()) << server.Error();
  TDeliveryTls d(server.Port(), smtpSecStartTlsRequired, true);
  d.client.Host = "localhost";  // checked against the DNS name of the certificate
  ASSERT_TRUE(d.Run());
  EXPECT_EQ(d.error, 0) << d.client.ErrorMessage();
  ASSERT_TRUE(server.WaitForMessages(1, 5000));
  EXPECT_EQ(server.Commands().back(), "MAIL tls");
}

TEST_F(SmtpTls, ImplicitTlsReadsTheBannerEncryptedAndDeliversALargeMessage) {
  TSmtpServer server(Tls(true));
  ASSERT_TRUE(server.Started()) << server.Error();
  TDeliveryTls d(server.Port(), smtpSecImplicitTls, true);
  // Far more than one TLS record and one socket buffer: partial sends and records split
  // across reads must all come through.
  d.body.clear();
  for (int i = 0; i < 4000; ++i)
    d.body.push_back("ligne " + std::to_string(i) + std::string(300, 'x'));
  ASSERT_TRUE(d.Run(30000));
  EXPECT_EQ(d.error, 0) << d.client.ErrorMessage();
  ASSERT_TRUE(server.WaitForMessages(1, 10000));
  const std::string raw = server.Messages()[0].raw;
  EXPECT_NE(raw.find("ligne 0" + std::string(300, 'x') + "\r\n"), std::string::npos);
  EXPECT_NE(raw.find("ligne 3999" + std::string(300, 'x') + "\r\n"), std::string::npos);
  EXPECT_EQ(server.Commands(), (Lines{"EHLO tls", "AUTH tls", "MAIL tls"}));
}

TEST_F(SmtpTls, CertificateForAnotherNameIsRefusedBeforeAnyCommand) {
  for (bool implicit : {false, true}) {
    SCOPED_TRACE(implicit ? "implicit TLS" : "STARTTLS");
    TSmtpServer server(Tls(implicit, false));
    ASSERT_TRUE(server.Started()) << server.Error();
    TDeliveryTls d(server.Port(), implicit ? smtpSecImplicitTls : smtpSecStartTlsIfOffered, true);
    ASSERT_TRUE(d.Run());
    EXPECT_EQ(d.error, kSmtpSecurityError);
    EXPECT_EQ(d.failed_at, implicit ? smtpConnect : smtpEhlo);
    EXPECT_EQ(d.client.ErrorMessage(),
              "Le nom du certificat ne correspond pas au serveur 127.0.0.1");
    EXPECT_FALSE(d.client.Connected());
    EXPECT_FALSE(Saw(server, "AUTH"));
    EXPECT_FALSE(Saw(server, "MAIL"));
  }
}

TEST_F(SmtpTls, UnknownAuthorityIsRefusedWithTheReason) {
  TSmtpServer::Options o;
  o.tls_cert = Certificates().selfsigned_cert;
  o.tls_key = Certificates().selfsigned_key;
  TSmtpServer server(o);
  ASSERT_TRUE(server.Started()) << server.Error();
  TDeliveryTls d(server.Port(), smtpSecStartTlsIfOffered, true);
  ASSERT_TRUE(d.Run());
  EXPECT_EQ(d.error, kSmtpSecurityError);
  EXPECT_EQ(d.client.ErrorMessage().rfind("Certificat non reconnu : certificat auto-signé", 0), 0u)
      << d.client.ErrorMessage();
  EXPECT_FALSE(Saw(server, "AUTH"));
}

TEST_F(SmtpTls, TrustedCaIsNotTrustedWithoutTheTestFile) {
  // The product trusts the system store only: the test CA is not in it.
  TSmtpServer server(Tls(true));
  ASSERT_TRUE(server.Started()) << server.Error();
  TDeliveryTls d(server.Port(), smtpSecImplicitTls, false);
  d.client.TlsCaFile.clear();
  ASSERT_TRUE(d.Run());
  EXPECT_EQ(d.error, kSmtpSecurityError);
  EXPECT_EQ(d.client.ErrorMessage().rfind("Certificat non reconnu : ", 0), 0u)
      << d.client.ErrorMessage();
}

TEST_F(SmtpTls, RequiredTlsWithoutStartTlsStopsBeforeAuth) {
  TSmtpServer server;  // no TLS at all
  ASSERT_TRUE(server.Started()) << server.Error();
  TDeliveryTls d(server.Port(), smtpSecStartTlsRequired, true);
  ASSERT_TRUE(d.Run());
  EXPECT_EQ(d.error, kSmtpSecurityError);
  EXPECT_EQ(d.failed_at, smtpEhlo);
  EXPECT_EQ(d.client.ErrorMessage(), "Le serveur 127.0.0.1 ne propose pas STARTTLS");
  EXPECT_EQ(server.Commands(), Lines{"EHLO plain"});
}

TEST_F(SmtpTls, OpportunisticModeDeliversInClearOnlyWithoutPasswordOrOnThisMachine) {
  TSmtpServer server;  // no TLS
  ASSERT_TRUE(server.Started()) << server.Error();
  {
    TDeliveryTls d(server.Port(), smtpSecStartTlsIfOffered, false);
    ASSERT_TRUE(d.Run());
    EXPECT_EQ(d.error, 0) << d.client.ErrorMessage();
    EXPECT_FALSE(d.tls_after_ehlo);
  }
  {
    // 127.0.0.1: the password never leaves the machine, so it may go in clear.
    TDeliveryTls d(server.Port(), smtpSecStartTlsIfOffered, true);
    ASSERT_TRUE(d.Run());
    EXPECT_EQ(d.error, 0) << d.client.ErrorMessage();
  }
  ASSERT_TRUE(server.WaitForMessages(2, 5000));
  EXPECT_EQ(server.Messages()[0].auth_login, "");
  EXPECT_EQ(server.Messages()[1].auth_login, "jumelix");
}

TEST_F(SmtpTls, NoSecurityNeverAsksForStartTls) {
  TSmtpServer server(Tls(false));
  ASSERT_TRUE(server.Started()) << server.Error();
  TDeliveryTls d(server.Port(), smtpSecNone, true);
  ASSERT_TRUE(d.Run());
  EXPECT_EQ(d.error, 0) << d.client.ErrorMessage();
  EXPECT_EQ(server.Commands(), (Lines{"EHLO plain", "AUTH plain", "MAIL plain"}));
}

TEST_F(SmtpTls, ImplicitTlsOnAPlainPortSaysSo) {
  TSmtpServer server;  // speaks SMTP in clear at once
  ASSERT_TRUE(server.Started()) << server.Error();
  TDeliveryTls d(server.Port(), smtpSecImplicitTls, false);
  ASSERT_TRUE(d.Run());
  EXPECT_EQ(d.error, kSmtpSecurityError);
  EXPECT_EQ(d.failed_at, smtpConnect);
  EXPECT_EQ(d.client.ErrorMessage().rfind("Échec de la négociation TLS avec 127.0.0.1 : ", 0), 0u)
      << d.client.ErrorMessage();
  EXPECT_NE(d.client.ErrorMessage().find("essayez STARTTLS"), std::string::npos)
      << d.client.ErrorMessage();
}

TEST_F(SmtpTls, UnreadableCaFileIsReportedNotIgnored) {
  TSmtpServer server(Tls(true));
  ASSERT_TRUE(server.Started()) << server.Error();
  TDeliveryTls d(server.Port(), smtpSecImplicitTls, false);
  d.client.TlsCaFile = "/nonexistent/ca.pem";
  ASSERT_TRUE(d.Run());
  EXPECT_EQ(d.error, kSmtpSecurityError);
  EXPECT_EQ(d.client.ErrorMessage(), "Fichier de certificats illisible : /nonexistent/ca.pem");
}

// ---- Scripted server: STARTTLS offered, then refused --------------------------------------

TEST(SmtpStartTlsRefused, OpportunisticGoesOnInClearRequiredStops) {
  for (TSmtpSecurity mode : {smtpSecStartTlsIfOffered, smtpSecStartTlsRequired}) {
    SCOPED_TRACE(mode);
    TScriptedPeer peer;
    peer.Reply("220 ready").Expect("EHLO Jumelix");
    peer.Reply("250-hello").Reply("250-STARTTLS").Reply("250 AUTH PLAIN");
    peer.Expect("STARTTLS").Reply("454 4.7.0 TLS not available due to temporary reason");
    if (mode == smtpSecStartTlsIfOffered) peer.Expect("MAIL FROM:<a@b.org>").Reply("250 ok");
    peer.WaitForClose();
    peer.Start();
    TSmtpClient client;
    client.Host = "127.0.0.1";
    client.Port = std::to_string(peer.Port());
    client.SignOn = "Jumelix";
    client.Security = mode;
    client.FromName = "a@b.org";
    std::vector<std::pair<TSmtpRequest, uint16_t>> done;
    client.OnRequestDone = [&](TSmtpSession& s, TSmtpRequest rq, uint16_t err) {
      done.push_back({rq, err});
      if (err == 0 && rq == smtpConnect) s.Ehlo();
      if (err == 0 && rq == smtpEhlo) s.MailFrom();
    };
    client.Connect();
    const size_t expected = mode == smtpSecStartTlsIfOffered ? 3 : 2;
    ASSERT_TRUE(PumpTls([&] { return done.size() >= expected; }, 5000));
    if (mode == smtpSecStartTlsIfOffered) {
      EXPECT_EQ(done.back(), std::make_pair(smtpMailFrom, uint16_t{0}));
      EXPECT_FALSE(client.TlsActive());
      EXPECT_EQ(client.ErrorMessage(), "");  // the refusal is no error of the session
      EXPECT_EQ(client.AuthTypesSupported(), Lines{"PLAIN"});
    } else {
      EXPECT_EQ(done.back(), std::make_pair(smtpEhlo, kSmtpSecurityError));
      EXPECT_EQ(client.ErrorMessage(),
                "Le serveur 127.0.0.1 refuse STARTTLS : 454 4.7.0 TLS not available due to "
                "temporary reason");
    }
    client.Abort();
    EXPECT_TRUE(peer.WaitDone(5000));
    EXPECT_EQ(peer.Problems(), Lines{});
  }
}

// ---- The decision: may this connection carry the password, the message? ------------------

TEST(SmtpSecurityRefusal, PasswordInClearOnlyToThisMachineOrWhenTheUserChoseNoSecurity) {
  struct Case {
    TSmtpSecurity mode;
    bool tls;
    bool auth;
    const char* host;
    bool refused;
  };
  const Case cases[] = {
      {smtpSecStartTlsIfOffered, false, true, "smtp.example.org", true},
      {smtpSecStartTlsIfOffered, false, true, "192.168.1.10", true},
      {smtpSecStartTlsIfOffered, false, true, "127.0.0.1", false},
      {smtpSecStartTlsIfOffered, false, true, " localhost ", false},
      {smtpSecStartTlsIfOffered, false, true, "LocalHost.", false},
      {smtpSecStartTlsIfOffered, false, true, "127.3.4.5", false},
      {smtpSecStartTlsIfOffered, false, true, "127.0.0.1.example.org", true},
      {smtpSecStartTlsIfOffered, false, true, "localhost.example.org", true},
      {smtpSecStartTlsIfOffered, false, false, "smtp.example.org", false},  // no password
      {smtpSecStartTlsIfOffered, true, true, "smtp.example.org", false},
      {smtpSecNone, false, true, "smtp.example.org", false},
      {smtpSecStartTlsRequired, false, false, "127.0.0.1", true},  // required means required
      {smtpSecImplicitTls, false, true, "localhost", true},
      {smtpSecStartTlsRequired, true, true, "smtp.example.org", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.host) + " mode " + std::to_string(c.mode));
    const std::string why = TSmtpSession::SecurityRefusal(c.mode, c.tls, c.auth, c.host);
    EXPECT_EQ(!why.empty(), c.refused) << why;
  }
  EXPECT_EQ(TSmtpSession::SecurityRefusal(smtpSecStartTlsIfOffered, false, true, "smtp.x.org"),
            "Le serveur smtp.x.org ne propose pas STARTTLS : le mot de passe n'est pas envoyé en "
            "clair (pour l'accepter, choisissez « Aucune » comme sécurité de la connexion)");
}

TEST(SmtpSecurityRefusal, AuthRefusedInClearTowardsARemoteNameSendsNoAuthLine) {
  // The whole session on a scripted peer, with the name of a remote host kept for the
  // check while the connection itself goes to 127.0.0.1 (no traffic leaves the machine).
  TScriptedPeer peer;
  peer.Reply("220 ready").Expect("EHLO Jumelix").Reply("250-hello").Reply("250 AUTH PLAIN LOGIN");
  peer.WaitForClose();
  peer.Start();
  TSmtpClient client;
  client.Host = "127.0.0.1";
  client.Port = std::to_string(peer.Port());
  client.SignOn = "Jumelix";
  client.AuthType = smtpAuthAutoSelect;
  client.Username = "u";
  client.Password = "p";
  std::vector<std::pair<TSmtpRequest, uint16_t>> done;
  client.OnRequestDone = [&](TSmtpSession& s, TSmtpRequest rq, uint16_t err) {
    done.push_back({rq, err});
    if (err == 0 && rq == smtpConnect) s.Ehlo();
    if (err == 0 && rq == smtpEhlo) {
      client.Host = "smtp.example.org";  // what the check sees from now on
      s.Auth();
    }
  };
  client.Connect();
  ASSERT_TRUE(PumpTls([&] { return done.size() >= 3; }, 5000));
  EXPECT_EQ(done.back(), std::make_pair(smtpAuth, kSmtpSecurityError));
  EXPECT_NE(client.ErrorMessage().find("le mot de passe n'est pas envoyé en clair"),
            std::string::npos);
  client.Abort();
  EXPECT_TRUE(peer.WaitDone(5000));
  EXPECT_EQ(peer.Received(), Lines{"EHLO Jumelix"});  // no AUTH line
}

}  // namespace
}  // namespace jumelix
