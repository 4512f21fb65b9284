// The SMTP client against a real SMTP server (aiosmtpd, started on 127.0.0.1 by the test):
// each authentication mechanism, and the bytes that arrive.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>

#include "net/MessageLoop.h"
#include "smtp/MimeCodec.h"
#include "smtp/SmtpClient.h"
#include "support/SmtpServer.h"

namespace jumelix {
namespace {

using test::SplitCrLf;
using test::TSmtpServer;
using Clock = std::chrono::steady_clock;

// Drives one complete delivery the way the report sender does: every request is started
// from the completion of the one before, the first failure ends the send.
class TDelivery {
 public:
  explicit TDelivery(const TSmtpServer& server) {
    client.Host = "127.0.0.1";
    client.Port = server.PortText();
    client.SignOn = "Jumelix";
    client.FromName = "jumelix@example.org";
    client.HdrFrom = "Jumelix <jumelix@example.org>";
    client.HdrTo = "admin@example.org";
    client.HdrSubject = "Rapport de synchronisation";
    client.AddRecipientLists("admin@example.org", "", "");
    client.OnGetData = [this](TSmtpSession&, int n, std::string& line, int max, bool& more) {
      if (n > static_cast<int>(body.size())) {
        more = false;
        return;
      }
      // Like the report sender: a line longer than the buffer is cut to max - 1.
      line = body[n - 1];
      if (static_cast<int>(line.size()) >= max) line.resize(max - 1);
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
          client.AuthType != smtpAuthNone ? s.Ehlo() : s.Helo();
          break;
        case smtpEhlo:
          s.Auth();
          break;
        case smtpAuth:
        case smtpHelo:
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

  // Runs the delivery; false when it did not end within the time limit.
  bool Run(int timeout_ms = 15000) {
    client.Connect();
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!finished && Clock::now() < deadline) TMessageLoop::Current().WaitAndProcess(10);
    return finished;
  }

  TSmtpClient client;
  std::vector<std::string> body = {"Ligne 1 : copie de « été.txt »", ".", ".cachée", ""};
  bool finished = false;
  uint16_t error = 0;
  TSmtpRequest failed_at = smtpConnect;
};

#define REQUIRE_SERVER(server) ASSERT_TRUE((server).Started()) << (server).Error()

struct MechanismCase {
  TSmtpAuthType type;
  const char* announced;  // server's mechanisms ("" = all)
  const char* expected;
};

class SmtpRealServerAuth : public ::testing::TestWithParam<MechanismCase> {};

TEST_P(SmtpRealServerAuth, MessageArrivesAuthenticated) {
  const MechanismCase& c = GetParam();
  TSmtpServer::Options o;
  o.auth_required = true;
  o.mechanisms = c.announced;
  TSmtpServer server(o);
  REQUIRE_SERVER(server);
  TDelivery d(server);
  d.client.AuthType = c.type;
  d.client.Username = o.user;
  d.client.Password = o.password;
  ASSERT_TRUE(d.Run());
  ASSERT_EQ(d.error, 0) << d.client.ErrorMessage() << " at request " << d.failed_at;
  ASSERT_TRUE(server.WaitForMessages(1, 5000));
  auto messages = server.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].auth_mechanism, c.expected);
  EXPECT_EQ(messages[0].auth_login, o.user);
  EXPECT_EQ(messages[0].helo, "Jumelix");
  EXPECT_EQ(messages[0].rcpt_to, std::vector<std::string>{"admin@example.org"});
}

INSTANTIATE_TEST_SUITE_P(Mechanisms, SmtpRealServerAuth,
                         ::testing::Values(MechanismCase{smtpAuthPlain, "", "PLAIN"},
                                           MechanismCase{smtpAuthLogin, "", "LOGIN"},
                                           MechanismCase{smtpAuthCramMD5, "", "CRAM-MD5"},
                                           MechanismCase{smtpAuthCramSha1, "", "CRAM-SHA1"},
                                           MechanismCase{smtpAuthAutoSelect, "", "CRAM-SHA1"},
                                           MechanismCase{smtpAuthAutoSelect, "LOGIN,PLAIN",
                                                         "LOGIN"},
                                           MechanismCase{smtpAuthAutoSelect, "PLAIN", "PLAIN"}),
                         [](const ::testing::TestParamInfo<MechanismCase>& info) {
                           return std::to_string(info.index) + "_" +
                                  std::regex_replace(info.param.expected, std::regex("-"), "");
                         });

TEST(SmtpRealServer, ReceivedBytesHaveTheHeaderInOrderAndTheBodyIntact) {
  TSmtpServer server;
  REQUIRE_SERVER(server);
  TDelivery d(server);
  d.client.OnProcessHeader = [](TSmtpSession&, std::vector<std::string>& lines) {
    for (auto& l : lines) {
      if (l.rfind("X-Mailer: ", 0) == 0) l = "X-Mailer: Jumelix - " + l.substr(10);
    }
  };
  d.body.push_back(std::string(1500, 'L'));
  d.body.push_back("fin");
  ASSERT_TRUE(d.Run());
  ASSERT_EQ(d.error, 0) << d.client.ErrorMessage();
  ASSERT_TRUE(server.WaitForMessages(1, 5000));
  auto m = server.Messages().at(0);
  EXPECT_EQ(m.mail_from, "jumelix@example.org");
  EXPECT_EQ(m.auth_mechanism, "");
  ASSERT_EQ(m.raw.substr(m.raw.size() - 2), "\r\n");
  std::vector<std::string> lines = SplitCrLf(m.raw);
  ASSERT_EQ(lines.size(), 10u + 6u) << m.raw;
  EXPECT_EQ(lines[0], "From: Jumelix <jumelix@example.org>");
  EXPECT_EQ(lines[1], "To: admin@example.org");
  EXPECT_EQ(lines[2], "Subject: Rapport de synchronisation");
  EXPECT_EQ(lines[3], "Sender: Jumelix <jumelix@example.org>");
  EXPECT_EQ(lines[4], "Mime-Version: 1.0");
  EXPECT_EQ(lines[5], "Content-Type: text/plain; charset=\"utf-8\"");
  EXPECT_TRUE(std::regex_match(
      lines[6], std::regex("Date: (Sun|Mon|Tue|Wed|Thu|Fri|Sat), [1-9][0-9]? "
                           "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) 20[0-9]{2} "
                           "([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9] [-+][0-9]{4}")))
      << lines[6];
  EXPECT_TRUE(std::regex_match(lines[7], std::regex("Message-ID: <[0-9]{17}\\.[0-9A-F]{16}@.+>")))
      << lines[7];
  EXPECT_EQ(lines[8], "X-Mailer: Jumelix - Postaline");
  EXPECT_EQ(lines[9], "");
  EXPECT_EQ(lines[10], "Ligne 1 : copie de « été.txt »");
  EXPECT_EQ(lines[11], ".");
  EXPECT_EQ(lines[12], ".cachée");
  EXPECT_EQ(lines[13], "");
  EXPECT_EQ(lines[14], std::string(998, 'L'));  // cut where the caller cut it
  EXPECT_EQ(lines[15], "fin");
}

TEST(SmtpRealServer, WrongPasswordIsRefused) {
  TSmtpServer server;
  REQUIRE_SERVER(server);
  for (TSmtpAuthType type : {smtpAuthPlain, smtpAuthLogin, smtpAuthCramMD5, smtpAuthCramSha1}) {
    TDelivery d(server);
    d.client.AuthType = type;
    d.client.Username = "jumelix";
    d.client.Password = "not the password";
    ASSERT_TRUE(d.Run());
    EXPECT_EQ(d.error, 535) << type;
    EXPECT_EQ(d.failed_at, smtpAuth);
    EXPECT_EQ(d.client.ErrorMessage().rfind("535 ", 0), 0u) << d.client.ErrorMessage();
  }
  EXPECT_TRUE(server.Messages().empty());
}

TEST(SmtpRealServer, AuthenticationRequiredButNotGiven) {
  TSmtpServer::Options o;
  o.auth_required = true;
  TSmtpServer server(o);
  REQUIRE_SERVER(server);
  TDelivery d(server);
  ASSERT_TRUE(d.Run());
  EXPECT_EQ(d.error, 530);
  EXPECT_EQ(d.failed_at, smtpMailFrom);
}

TEST(SmtpRealServer, NoMechanismAnnouncedUnderAutoSelection) {
  TSmtpServer::Options o;
  o.no_auth = true;
  TSmtpServer server(o);
  REQUIRE_SERVER(server);
  TDelivery d(server);
  d.client.AuthType = smtpAuthAutoSelect;
  d.client.Username = "jumelix";
  d.client.Password = "s3cret";
  ASSERT_TRUE(d.Run());
  EXPECT_EQ(d.failed_at, smtpAuth);
  EXPECT_EQ(d.error, 538);
  EXPECT_EQ(d.client.ErrorMessage(), "500 Authentication Type could not be determined.");
}

TEST(SmtpRealServer, RefusedRecipient) {
  TSmtpServer::Options o;
  o.reject_rcpt = {"nobody@example.org"};
  TSmtpServer server(o);
  REQUIRE_SERVER(server);
  TDelivery d(server);
  d.client.RcptName = {"admin@example.org", "nobody@example.org"};
  ASSERT_TRUE(d.Run());
  EXPECT_EQ(d.error, 550);
  EXPECT_EQ(d.failed_at, smtpRcptTo);
  EXPECT_EQ(d.client.ErrorMessage().rfind("550 5.1.1 <nobody@example.org>", 0), 0u);
}

TEST(SmtpRealServer, SilentServerNeverCompletesUntilAborted) {
  TSmtpServer::Options o;
  o.never_answer = true;
  TSmtpServer server(o);
  REQUIRE_SERVER(server);
  TDelivery d(server);
  EXPECT_FALSE(d.Run(500));
  EXPECT_EQ(d.client.State(), smtpWaitingBanner);
  d.client.Abort();
  auto deadline = Clock::now() + std::chrono::seconds(5);
  while (!d.finished && Clock::now() < deadline) TMessageLoop::Current().WaitAndProcess(10);
  EXPECT_TRUE(d.finished);
  EXPECT_EQ(d.error, 10004);
}

TEST(SmtpRealServer, MessageTextAndAttachmentInMultipart) {
  TSmtpServer server;
  REQUIRE_SERVER(server);
  std::string path = server.Dir() + "/donnees.bin";
  std::string content;
  for (int i = 0; i < 5000; ++i) content += static_cast<char>(i * 13 + 1);
  std::ofstream(path, std::ios::binary) << content;

  TDelivery d(server);
  d.body.clear();
  d.client.MailMessage = {"Bonjour,", ".ligne à point", "Fin."};
  d.client.SetEmailFiles({path});
  ASSERT_TRUE(d.Run());
  ASSERT_EQ(d.error, 0) << d.client.ErrorMessage();
  ASSERT_TRUE(server.WaitForMessages(1, 5000));
  std::vector<std::string> lines = SplitCrLf(server.Messages().at(0).raw);

  auto find = [&](const std::string& text, size_t from = 0) {
    return std::find(lines.begin() + static_cast<long>(from), lines.end(), text) - lines.begin();
  };
  size_t ct = find("Content-Type: multipart/mixed;");
  ASSERT_LT(ct, lines.size());
  std::smatch match;
  ASSERT_TRUE(std::regex_match(lines[ct + 1], match, std::regex("\tboundary=\"(.+)\"")));
  const std::string boundary = match[1];
  EXPECT_EQ(boundary.rfind("= Multipart Boundary ", 0), 0u);
  size_t text_part = find("--" + boundary);
  ASSERT_LT(text_part, lines.size());
  EXPECT_EQ(lines[text_part - 2], "This is a multipart MIME message.");
  EXPECT_EQ(lines[text_part + 1], "Content-Type: text/plain; charset=\"utf-8\"");
  EXPECT_EQ(lines[text_part + 2], "Content-Transfer-Encoding: 7bit");
  EXPECT_EQ(lines[text_part + 4], "Bonjour,");
  EXPECT_EQ(lines[text_part + 5], ".ligne à point");
  size_t file_part = find("--" + boundary, text_part + 1);
  ASSERT_LT(file_part, lines.size());
  EXPECT_EQ(lines[file_part + 1], "Content-Type: application/octet-stream;");
  EXPECT_EQ(lines[file_part + 2], "\tname=\"donnees.bin\"");
  EXPECT_EQ(lines[file_part + 3], "Content-Transfer-Encoding: base64");
  EXPECT_EQ(lines[file_part + 4], "Content-Disposition: attachment;");
  EXPECT_EQ(lines[file_part + 5], "\tfilename=\"donnees.bin\"");
  EXPECT_EQ(lines[file_part + 6], "");
  size_t end = find("--" + boundary + "--", file_part);
  ASSERT_LT(end, lines.size());
  std::string b64;
  for (size_t i = file_part + 7; i < end; ++i) {
    EXPECT_LE(lines[i].size(), 72u);
    b64 += lines[i];
  }
  EXPECT_EQ(FromBase64(b64), content);
}

TEST(SmtpRealServer, EightBitTextWithoutPermissionGoesQuotedPrintable) {
  TSmtpServer server;
  REQUIRE_SERVER(server);
  TDelivery d(server);
  d.body.clear();
  d.client.Allow8bitChars = false;
  d.client.HdrSubject = "Résumé";
  d.client.MailMessage = {"Déjà vu = " + std::string(100, 'a') + " ", "plain"};
  ASSERT_TRUE(d.Run());
  ASSERT_EQ(d.error, 0) << d.client.ErrorMessage();
  ASSERT_TRUE(server.WaitForMessages(1, 5000));
  std::vector<std::string> lines = SplitCrLf(server.Messages().at(0).raw);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Subject: =?utf-8?Q?R=C3=A9sum=C3=A9?="),
            lines.end());
  auto ct = std::find(lines.begin(), lines.end(), "Content-Type: text/plain; charset=\"utf-8\"");
  ASSERT_NE(ct, lines.end());
  EXPECT_EQ(*(ct + 1), "Content-Transfer-Encoding: quoted-printable");
  auto body = std::find(lines.begin(), lines.end(), "") + 1;
  ASSERT_LE(body + 3, lines.end());
  // Decoding the soft-broken lines gives the text back.
  std::string joined;
  for (auto it = body; it != lines.end(); ++it) {
    EXPECT_LE(it->size(), 76u);
    joined += *it;
    if (!joined.empty() && joined.back() == '=') {
      joined.pop_back();
    } else {
      joined += "\n";
    }
  }
  std::string decoded;
  for (size_t i = 0; i < joined.size(); ++i) {
    if (joined[i] == '=' && i + 2 < joined.size()) {
      decoded += static_cast<char>(std::stoi(joined.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      decoded += joined[i];
    }
  }
  EXPECT_EQ(decoded, "Déjà vu = " + std::string(100, 'a') + " \nplain\n");
}

}  // namespace
}  // namespace jumelix

namespace jumelix {
namespace {

TEST(SmtpRealServer, AttachmentGoneBeforeSendingFailsTheMail) {
  TSmtpServer server;
  REQUIRE_SERVER(server);
  TDelivery d(server);
  std::string path = server.Dir() + "/rapport.txt";
  try {
    d.client.SetEmailFiles({path});
    ADD_FAILURE() << "a missing file was accepted";
  } catch (const SmtpException& e) {
    EXPECT_EQ(std::string(e.what()), "File not found '" + path + "'");
  }
  std::ofstream(path) << "contenu\n";
  d.client.SetEmailFiles({path});
  std::filesystem::remove(path);
  ASSERT_TRUE(d.Run());
  EXPECT_EQ(d.error, 500);
  EXPECT_EQ(d.failed_at, smtpData);
  EXPECT_EQ(d.client.ErrorMessage().rfind("500 Cannot open attachment '" + path + "': ", 0), 0u)
      << d.client.ErrorMessage();
  // The incomplete message was dropped with the connection, never delivered.
  ASSERT_TRUE(server.WaitForSessionsClosed(1, 10000));
  EXPECT_TRUE(server.Messages().empty());
}

}  // namespace
}  // namespace jumelix
