// Exact dialogues between the SMTP client and a scripted peer on 127.0.0.1.
#include "smtp/SmtpClient.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <regex>

#include "net/MessageLoop.h"
#include "smtp/Empreintes.h"
#include "smtp/MimeCodec.h"
#include "support/ScriptedPeer.h"

namespace jumelix {
namespace {

using test::TScriptedPeer;
using Clock = std::chrono::steady_clock;
using Done = std::pair<TSmtpRequest, uint16_t>;

// Pumps this thread's message loop until `until` holds; false after timeout_ms.
bool Pump(const std::function<bool()>& until, int timeout_ms = 5000) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!until()) {
    if (Clock::now() > deadline) return false;
    TMessageLoop::Current().WaitAndProcess(10);
  }
  return true;
}

void PumpFor(int ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < deadline) TMessageLoop::Current().WaitAndProcess(10);
}

class SmtpDialogue : public ::testing::Test {
 protected:
  void SetUp() override {
    client.Host = "127.0.0.1";
    client.Port = std::to_string(peer.Port());
    client.SignOn = "Jumelix";
    client.OnRequestDone = [this](TSmtpSession&, TSmtpRequest rq, uint16_t err) {
      done.push_back({rq, err});
    };
  }

  // Starts a request and waits for its completion; gives its error code.
  uint16_t Run(const std::function<void()>& request) {
    size_t before = done.size();
    request();
    if (!Pump([&] { return done.size() > before; })) {
      ADD_FAILURE() << "request did not complete";
      return 0xFFFF;
    }
    return done.back().second;
  }

  // Banner and greeting, as most dialogues begin.
  void ScriptGreeting(bool ehlo, const std::vector<std::string>& ehlo_lines = {"250 ok"}) {
    peer.Reply("220 test ESMTP ready");
    if (ehlo) {
      peer.Expect("EHLO Jumelix");
      for (const auto& l : ehlo_lines) peer.Reply(l);
    } else {
      peer.Expect("HELO Jumelix").Reply("250 hello");
    }
  }

  void ConnectAndGreet(bool ehlo) {
    ASSERT_EQ(Run([&] { client.Connect(); }), 0);
    ASSERT_EQ(Run([&] { ehlo ? client.Ehlo() : client.Helo(); }), 0);
  }

  void ExpectNoProblems() {
    EXPECT_TRUE(peer.WaitDone(5000));
    EXPECT_EQ(peer.Problems(), std::vector<std::string>{});
  }

  TScriptedPeer peer;
  TSmtpClient client;
  std::vector<Done> done;
};

TEST_F(SmtpDialogue, HeloPathSendsACompleteMailWithOneCompletionPerRequest) {
  ScriptGreeting(false);
  peer.Expect("MAIL FROM:<me@example.org>").Reply("250 sender ok");
  peer.Expect("RCPT TO:<a@example.org>").Reply("250 ok");
  peer.Expect("RCPT TO:<b@example.org>").Reply("251 will forward");
  peer.Expect("DATA").Reply("354 go ahead");
  peer.ReadUntilDot().Reply("250 queued");
  peer.Expect("QUIT").Reply("221 bye").Close();
  peer.Start();

  client.FromName = "Me <me@example.org>";
  client.HdrFrom = "Me <me@example.org>";
  client.HdrTo = "a@example.org";
  client.HdrSubject = "Rapport\r\n";
  client.AddRecipientLists("a@example.org", "\"B, Bee\" <b@example.org>", "");
  std::vector<std::string> body = {"first", ".", ".x", "", "last line"};
  std::vector<int> asked;
  client.OnGetData = [&](TSmtpSession&, int n, std::string& line, int max, bool& more) {
    EXPECT_EQ(max, kSmtpMaxLineLength + 1);
    asked.push_back(n);
    if (n <= static_cast<int>(body.size())) {
      line = body[n - 1];
    } else {
      more = false;
    }
  };
  int header_events = 0;
  client.OnHeaderLine = [&](TSmtpSession&, std::string&) { ++header_events; };

  ConnectAndGreet(false);
  EXPECT_FALSE(client.IsESMTP());
  EXPECT_EQ(Run([&] { client.MailFrom(); }), 0);
  EXPECT_EQ(Run([&] { client.RcptTo(); }), 0);
  EXPECT_EQ(Run([&] { client.Data(); }), 0);
  EXPECT_EQ(Run([&] { client.Quit(); }), 0);
  ExpectNoProblems();
  PumpFor(50);  // no late completion may follow
  EXPECT_EQ(done, (std::vector<Done>{{smtpConnect, 0},
                                     {smtpHelo, 0},
                                     {smtpMailFrom, 0},
                                     {smtpRcptTo, 0},
                                     {smtpData, 0},
                                     {smtpQuit, 0}}));
  EXPECT_EQ(asked, (std::vector<int>{1, 2, 3, 4, 5, 6}));

  std::vector<std::string> got = peer.Received();
  // HELO, MAIL, RCPT x2, DATA, then the message, then QUIT.
  ASSERT_GE(got.size(), 7u);
  std::vector<std::string> message(got.begin() + 5, got.end() - 1);
  ASSERT_EQ(message.size(), 10u + 5u + 1u) << ::testing::PrintToString(message);
  EXPECT_EQ(message[0], "From: Me <me@example.org>");
  EXPECT_EQ(message[1], "To: a@example.org");
  EXPECT_EQ(message[2], "Subject: Rapport");
  EXPECT_EQ(message[3], "Sender: Me <me@example.org>");
  EXPECT_EQ(message[4], "Mime-Version: 1.0");
  EXPECT_EQ(message[5], "Content-Type: text/plain; charset=\"utf-8\"");
  EXPECT_TRUE(std::regex_match(message[6], std::regex("Date: (Sun|Mon|Tue|Wed|Thu|Fri|Sat), "
                                                      "[1-9][0-9]? (Jan|Feb|Mar|Apr|May|Jun|"
                                                      "Jul|Aug|Sep|Oct|Nov|Dec) [0-9]{4} "
                                                      "[0-9]{2}:[0-9]{2}:[0-9]{2} [-+][0-9]{4}")))
      << message[6];
  EXPECT_TRUE(std::regex_match(message[7], std::regex("Message-ID: <[0-9]{17}\\.[0-9A-F]{16}@.+>")))
      << message[7];
  EXPECT_EQ(message[7], "Message-ID: <" + client.MessageID() + ">");
  EXPECT_EQ(message[8], "X-Mailer: Postaline");
  EXPECT_EQ(message[9], "");
  EXPECT_EQ(header_events, 10);
  EXPECT_EQ(std::vector<std::string>(message.begin() + 10, message.end()),
            (std::vector<std::string>{"first", "..", "..x", "", "last line", "."}));
}

TEST_F(SmtpDialogue, EhloCollectsAuthWordsFromEveryLineAndCompletesOnce) {
  ScriptGreeting(true, {"250-test.example greets Jumelix", "250-auth login plain",
                        "250-AUTH=CRAM-MD5 LOGIN", "250-SIZE 1000", "250 AUTH x-oauth2"});
  peer.Start();
  ConnectAndGreet(true);
  ExpectNoProblems();
  PumpFor(50);
  EXPECT_EQ(done.size(), 2u);
  EXPECT_TRUE(client.IsESMTP());
  EXPECT_EQ(client.AuthTypesSupported(),
            (std::vector<std::string>{"LOGIN", "PLAIN", "CRAM-MD5", "X-OAUTH2"}));
}

TEST(SmtpAuthList, BoundedButTheMechanismsOfTheClientAlwaysCount) {
  std::vector<std::string> types;
  std::string junk = "250-AUTH";
  for (int i = 0; i < 1000; ++i) junk += " X" + std::to_string(i);
  TSmtpSession::ScanAuthTypes(junk, types);
  TSmtpSession::ScanAuthTypes(junk, types);
  EXPECT_EQ(types.size(), kSmtpMaxAuthTypes);
  TSmtpSession::ScanAuthTypes("250 AUTH LOGIN X999999 CRAM-SHA1 LOGIN", types);
  EXPECT_EQ(types.size(), kSmtpMaxAuthTypes + 2);
  EXPECT_EQ(types.back(), "CRAM-SHA1");
}

TEST_F(SmtpDialogue, HostNameSignOnVrfyAndRset) {
  client.Host = "localhost";  // resolved by the background lookup
  client.SignOn = "Mon poste";
  client.HdrTo = "postmaster";
  peer.Reply("220 ready").Expect("HELO Mon_poste").Reply("250 ok");
  peer.Expect("VRFY postmaster").Reply("252 cannot verify");
  peer.Expect("RSET").Reply("250 reset");
  peer.Start();
  ASSERT_EQ(Run([&] { client.Connect(); }), 0);
  EXPECT_EQ(Run([&] { client.Helo(); }), 0);
  EXPECT_EQ(Run([&] { client.Vrfy(); }), 252);
  EXPECT_EQ(Run([&] { client.Rset(); }), 0);
  EXPECT_EQ(client.ErrorMessage(), "252 cannot verify");
  ExpectNoProblems();
  EXPECT_EQ(done.back().first, smtpRset);
}

struct AuthCase {
  const char* name;
  TSmtpAuthType type;
  std::vector<std::string> announced;                         // EHLO reply lines
  std::vector<std::pair<std::string, std::string>> exchange;  // client line, server reply
};

class SmtpAuthExchange : public SmtpDialogue, public ::testing::WithParamInterface<AuthCase> {};

std::string CramAnswer(const std::string& user, const std::string& password,
                       const std::string& challenge, bool sha1) {
  return ToBase64(user + " " +
                  (sha1 ? ToHexLower(DigestBytes(HmacSha1(password, challenge)))
                        : ToHexLower(DigestBytes(HmacMd5(password, challenge)))));
}

TEST_P(SmtpAuthExchange, ByteForByte) {
  const AuthCase& c = GetParam();
  ScriptGreeting(true, c.announced);
  for (const auto& [line, reply] : c.exchange) peer.Expect(line).Reply(reply);
  peer.Start();
  client.AuthType = c.type;
  client.FromName = "someone-else@example.org";  // never part of the credentials
  client.Username = c.type == smtpAuthCramMD5 ? "tim" : "jean";
  client.Password = c.type == smtpAuthCramMD5 ? "tanstaaftanstaaf" : "p@ss wörd";
  std::vector<std::string> traces;
  client.OnDisplay = [&](TSmtpSession&, const std::string& l) { traces.push_back(l); };
  ConnectAndGreet(true);
  EXPECT_FALSE(client.Password.empty());  // EHLO leaves it alone
  EXPECT_EQ(Run([&] { client.Auth(); }), 0) << client.ErrorMessage();
  EXPECT_EQ(client.ErrorMessage(), "");
  ExpectNoProblems();
  PumpFor(30);
  EXPECT_EQ(done.size(), 3u);
  EXPECT_EQ(done.back().first, smtpAuth);
  // The credentials are gone once AUTH has ended, and no trace ever showed them.
  EXPECT_TRUE(client.Password.empty());
  for (const auto& [line, reply] : c.exchange) {
    const bool noCredential =
        (line.rfind("AUTH ", 0) == 0 && line.find(' ', 5) == std::string::npos) ||
        line == ToBase64(client.Username);
    if (noCredential) continue;
    for (const std::string& t : traces) EXPECT_EQ(t.find(line), std::string::npos) << t;
  }
}

const std::string kChallenge = "<1896.697170952@postoffice.reston.mci.net>";

INSTANTIATE_TEST_SUITE_P(
    Mechanisms, SmtpAuthExchange,
    ::testing::Values(
        AuthCase{
            "Plain",
            smtpAuthPlain,
            {"250 ok"},
            {{"AUTH PLAIN " + ToBase64(std::string("\0jean\0p@ss w\xc3\xb6rd", 16)), "235 ok"}}},
        AuthCase{"Login",
                 smtpAuthLogin,
                 {"250 ok"},
                 {{"AUTH LOGIN", "334 VXNlcm5hbWU6"},
                  {ToBase64("jean"), "334 UGFzc3dvcmQ6"},
                  {ToBase64("p@ss w\xc3\xb6rd"), "235 ok"}}},
        AuthCase{"CramMd5Rfc2195",
                 smtpAuthCramMD5,
                 {"250 ok"},
                 {{"AUTH CRAM-MD5", "334 " + ToBase64(kChallenge)},
                  {"dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw", "235 ok"}}},
        AuthCase{"CramSha1",
                 smtpAuthCramSha1,
                 {"250 ok"},
                 {{"AUTH CRAM-SHA1", "334 " + ToBase64(kChallenge)},
                  {CramAnswer("jean", "p@ss w\xc3\xb6rd", kChallenge, true), "235 ok"}}},
        AuthCase{"AutoPrefersCramSha1",
                 smtpAuthAutoSelect,
                 {"250-hi", "250 AUTH PLAIN LOGIN CRAM-MD5 CRAM-SHA1"},
                 {{"AUTH CRAM-SHA1", "334 " + ToBase64("abc")},
                  {CramAnswer("jean", "p@ss w\xc3\xb6rd", "abc", true), "235 ok"}}},
        AuthCase{"AutoPrefersCramMd5OverLogin",
                 smtpAuthAutoSelect,
                 {"250-hi", "250 AUTH LOGIN CRAM-MD5"},
                 {{"AUTH CRAM-MD5", "334 " + ToBase64("abc")},
                  {CramAnswer("jean", "p@ss w\xc3\xb6rd", "abc", false), "235 ok"}}},
        AuthCase{"AutoPrefersLoginOverPlain",
                 smtpAuthAutoSelect,
                 {"250-hi", "250 AUTH PLAIN LOGIN"},
                 {{"AUTH LOGIN", "334 VXNlcm5hbWU6"},
                  {ToBase64("jean"), "334 UGFzc3dvcmQ6"},
                  {ToBase64("p@ss w\xc3\xb6rd"), "235 ok"}}},
        AuthCase{
            "AutoWithPlainOnly",
            smtpAuthAutoSelect,
            {"250-hi", "250 AUTH=PLAIN"},
            {{"AUTH PLAIN " + ToBase64(std::string("\0jean\0p@ss w\xc3\xb6rd", 16)), "235 ok"}}},
        AuthCase{
            "AutoNoneAnnouncedFallsBackSilently",
            smtpAuthAutoSelect,
            {"250 ok"},
            {{"AUTH CRAM-MD5", "504 unknown mechanism"},
             {"AUTH LOGIN", "504 unknown mechanism"},
             {"AUTH PLAIN " + ToBase64(std::string("\0jean\0p@ss w\xc3\xb6rd", 16)), "235 ok"}}}),
    [](const ::testing::TestParamInfo<AuthCase>& info) { return std::string(info.param.name); });

TEST_F(SmtpDialogue, AutoSelectedMechanismRefusedOtherwiseThan504) {
  ScriptGreeting(true, {"250 ok"});
  peer.Expect("AUTH CRAM-MD5").Reply("502 not implemented");
  peer.Start();
  client.AuthType = smtpAuthAutoSelect;
  client.Username = "u";
  client.Password = "p";
  ConnectAndGreet(true);
  EXPECT_EQ(Run([&] { client.Auth(); }), 502);
  EXPECT_EQ(client.ErrorMessage(), "500 Authentication Type could not be determined.");
  ExpectNoProblems();
}

TEST_F(SmtpDialogue, AutoSelectedPlainKeepsTheServersCredentialRefusal) {
  ScriptGreeting(true, {"250 AUTH PLAIN"});
  peer.ReadLine().Reply("535 5.7.8 Authentication credentials invalid");
  peer.Start();
  client.AuthType = smtpAuthAutoSelect;
  client.Username = "u";
  client.Password = "wrong";
  ConnectAndGreet(true);
  EXPECT_EQ(Run([&] { client.Auth(); }), 535);
  EXPECT_EQ(client.ErrorMessage(), "535 5.7.8 Authentication credentials invalid");
  ExpectNoProblems();
}

TEST_F(SmtpDialogue, LoginRefusedAtTheSecondStep) {
  ScriptGreeting(true, {"250 ok"});
  peer.Expect("AUTH LOGIN").Reply("334 VXNlcm5hbWU6");
  peer.Expect(ToBase64("u")).Reply("535 no such user");
  peer.Start();
  client.AuthType = smtpAuthLogin;
  client.Username = "u";
  ConnectAndGreet(true);
  EXPECT_EQ(Run([&] { client.Auth(); }), 535);
  EXPECT_EQ(client.ErrorMessage(), "535 no such user");
  ExpectNoProblems();
}

TEST_F(SmtpDialogue, ShortCramChallengeFails) {
  ScriptGreeting(true, {"250 ok"});
  peer.Expect("AUTH CRAM-SHA1").Reply("334 ");
  peer.Start();
  client.AuthType = smtpAuthCramSha1;
  ConnectAndGreet(true);
  EXPECT_EQ(Run([&] { client.Auth(); }), 500);
  EXPECT_EQ(client.ErrorMessage(), "500 Malformed SHA1 Challenge: 334 ");
  ExpectNoProblems();
}

TEST_F(SmtpDialogue, AuthNeedsEsmtpAndAMechanism) {
  ScriptGreeting(false);
  peer.Start();
  client.AuthType = smtpAuthPlain;
  ConnectAndGreet(false);
  EXPECT_EQ(Run([&] { client.Auth(); }), 500);
  EXPECT_EQ(client.ErrorMessage(), "500 ESMTP not supported.");
  EXPECT_EQ(done.back().first, smtpAuth);
}

TEST_F(SmtpDialogue, AuthWithoutMechanism) {
  ScriptGreeting(true);
  peer.Start();
  ConnectAndGreet(true);
  EXPECT_EQ(Run([&] { client.Auth(); }), 500);
  EXPECT_EQ(client.ErrorMessage(), "500 No Authentication Type Selected.");
}

TEST_F(SmtpDialogue, RefusedRecipientStopsTheRequest) {
  ScriptGreeting(false);
  peer.Expect("RCPT TO:<a@x.org>").Reply("250 ok");
  peer.Expect("RCPT TO:<b@x.org>").Reply("550 5.1.1 no such user");
  peer.Expect("QUIT").Reply("221 bye").Close();  // c is never sent
  peer.Start();
  client.RcptName = {"a@x.org", "b@x.org", "c@x.org"};
  ConnectAndGreet(false);
  EXPECT_EQ(Run([&] { client.RcptTo(); }), 550);
  EXPECT_EQ(client.ErrorMessage(), "550 5.1.1 no such user");
  EXPECT_EQ(Run([&] { client.Quit(); }), 0);
  ExpectNoProblems();
}

TEST_F(SmtpDialogue, RecipientErrorHandlerCanRetryOrSkip) {
  ScriptGreeting(false);
  peer.Expect("RCPT TO:<a@x.org>").Reply("450 try again");
  peer.Expect("RCPT TO:<a@x.org>").Reply("250 ok");
  peer.Expect("RCPT TO:<b@x.org>").Reply("550 unknown");
  peer.Expect("RCPT TO:<c@x.org>").Reply("250 ok");
  peer.Start();
  client.RcptName = {"a@x.org", "b@x.org", "c@x.org"};
  std::vector<std::pair<int, int>> calls;
  client.OnRcptToError = [&](TSmtpSession&, uint16_t code, int idx, TSmtpRcptToErrorAction& a) {
    calls.push_back({code, idx});
    a = code == 450 ? srteRetry : srteIgnore;
  };
  ConnectAndGreet(false);
  EXPECT_EQ(Run([&] { client.RcptTo(); }), 0);
  EXPECT_EQ(calls, (std::vector<std::pair<int, int>>{{450, 0}, {550, 1}}));
  ExpectNoProblems();
}

TEST_F(SmtpDialogue, RefusalOfTheLastRecipientCompletesWithItsCode) {
  ScriptGreeting(false);
  peer.Expect("RCPT TO:<a@x.org>").Reply("553 bad address");
  peer.Start();
  client.RcptName = {"A <a@x.org>"};
  bool called = false;
  client.OnRcptToError = [&](TSmtpSession&, uint16_t, int, TSmtpRcptToErrorAction&) {
    called = true;
  };
  ConnectAndGreet(false);
  EXPECT_EQ(Run([&] { client.RcptTo(); }), 553);
  EXPECT_FALSE(called);
}

TEST_F(SmtpDialogue, ReplyWithoutCodeCounts20600) {
  peer.Reply("220 ready").Expect("HELO Jumelix").Reply("hello there");
  peer.Start();
  ASSERT_EQ(Run([&] { client.Connect(); }), 0);
  EXPECT_EQ(Run([&] { client.Helo(); }), kSmtpNoStatusCode);
  EXPECT_EQ(client.ErrorMessage(), "hello there");
  EXPECT_EQ(client.StatusCode(), 20600);
}

TEST_F(SmtpDialogue, MultiLineRepliesAndBareCodes) {
  peer.Send("220-first banner line\r\n220-second\r\n220 ready\r\n");
  peer.Expect("HELO Jumelix").Reply("250");
  peer.Expect("DATA").Reply("354");
  peer.ReadUntilDot().Send("250-queued\r\n250 as 12345\r\n");
  peer.Start();
  int responses = 0;
  client.OnResponse = [&](TSmtpSession&, const std::string&) { ++responses; };
  ASSERT_EQ(Run([&] { client.Connect(); }), 0);
  EXPECT_EQ(responses, 3);
  EXPECT_EQ(Run([&] { client.Helo(); }), 0);
  EXPECT_EQ(Run([&] { client.Data(); }), 0);
  EXPECT_EQ(client.LastResponse(), "250 as 12345");
  ExpectNoProblems();
  PumpFor(30);
  EXPECT_EQ(done.size(), 3u);
}

TEST_F(SmtpDialogue, BannerOtherThan220ClosesAndCompletesWith10004) {
  peer.Reply("554 5.3.2 go away").WaitForClose();
  peer.Start();
  bool closed_event = false;
  client.OnSessionClosed = [&](TSmtpSession&, uint16_t) { closed_event = true; };
  EXPECT_EQ(Run([&] { client.Connect(); }), 10004);
  EXPECT_EQ(client.ErrorMessage(), "554 5.3.2 go away");
  EXPECT_TRUE(closed_event);
  EXPECT_FALSE(client.Connected());
  ExpectNoProblems();
  EXPECT_TRUE(peer.ClientClosed());
}

TEST_F(SmtpDialogue, QuitCompletesOnlyWhenThePeerCloses) {
  ScriptGreeting(false);
  peer.Expect("QUIT").Reply("221 bye").WaitSignal().Close();
  peer.Start();
  ConnectAndGreet(false);
  client.Quit();
  ASSERT_TRUE(Pump([&] { return client.LastResponse() == "221 bye"; }));
  PumpFor(100);
  EXPECT_EQ(done.size(), 2u) << "QUIT completed before the close";
  peer.Signal();
  ASSERT_TRUE(Pump([&] { return done.size() == 3u; }));
  EXPECT_EQ(done.back(), Done(smtpQuit, 0));
}

TEST_F(SmtpDialogue, ErrorReplyToQuitStillCompletesWithZeroAtTheClose) {
  ScriptGreeting(false);
  peer.Expect("QUIT").Reply("500 what?").WaitMs(100).Close();
  peer.Start();
  ConnectAndGreet(false);
  EXPECT_EQ(Run([&] { client.Quit(); }), 0);
}

TEST_F(SmtpDialogue, QuitWithoutConnectionCompletesFromTheLoop) {
  client.Quit();
  EXPECT_TRUE(done.empty()) << "completion must come from the message loop";
  ASSERT_TRUE(Pump([&] { return !done.empty(); }));
  EXPECT_EQ(done.back(), Done(smtpQuit, 0));
}

TEST_F(SmtpDialogue, ConnectionLostDuringDataCompletesWith10004) {
  ScriptGreeting(false);
  peer.Expect("DATA").Reply("354 go").ReadLine().ReadLine().Close();
  peer.Start();
  client.OnGetData = [](TSmtpSession&, int, std::string& line, int, bool&) {
    line = std::string(200, 'x');  // endless body
  };
  ConnectAndGreet(false);
  EXPECT_EQ(Run([&] { client.Data(); }), 10004);
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(client.State(), smtpReady);
}

TEST_F(SmtpDialogue, BodyLinesWithLineBreaksAreSplitAndStuffed) {
  ScriptGreeting(false);
  peer.Expect("DATA").Reply("354 go").ReadUntilDot().Reply("250 ok");
  peer.Start();
  client.OwnHeaders = true;
  std::vector<std::string> body = {"Subject: x", "", "a\r\n.\r\nMAIL FROM:<evil>", "b\nc\rd",
                                   std::string(1500, 'y')};
  client.OnGetData = [&](TSmtpSession&, int n, std::string& line, int, bool& more) {
    if (n <= static_cast<int>(body.size())) {
      line = body[n - 1];
    } else {
      more = false;
    }
  };
  ConnectAndGreet(false);
  EXPECT_EQ(Run([&] { client.Data(); }), 0);
  ExpectNoProblems();
  std::vector<std::string> got = peer.Received();
  std::vector<std::string> message(got.begin() + 2, got.end());
  EXPECT_EQ(message, (std::vector<std::string>{"Subject: x", "", "a", "..", "MAIL FROM:<evil>", "b",
                                               "c", "d", std::string(998, 'y'), "."}));
}

TEST_F(SmtpDialogue, FailingDataHandlerEndsTheBodyNormally) {
  ScriptGreeting(false);
  peer.Expect("DATA").Reply("354 go").ReadUntilDot().Reply("250 ok");
  peer.Start();
  client.OwnHeaders = true;
  client.OnGetData = [&](TSmtpSession&, int n, std::string& line, int, bool&) {
    if (n == 2) throw std::runtime_error("disk gone");
    line = "only line";
  };
  ConnectAndGreet(false);
  EXPECT_EQ(Run([&] { client.Data(); }), 0);
  ExpectNoProblems();
  std::vector<std::string> got = peer.Received();
  EXPECT_EQ(std::vector<std::string>(got.begin() + 2, got.end()),
            (std::vector<std::string>{"only line", "."}));
}

TEST_F(SmtpDialogue, HeaderValuesCannotBreakTheHeader) {
  ScriptGreeting(false);
  peer.Expect("DATA").Reply("354 go").ReadUntilDot().Reply("250 ok");
  peer.Start();
  client.HdrFrom = "a@x.org";
  client.HdrSubject = "line one\r\n.\r\nBcc: victim@x.org";
  client.HdrPriority = smtpPriorityHigh;
  client.ConfirmReceipt = true;
  client.OnProcessHeader = [](TSmtpSession&, std::vector<std::string>& lines) {
    for (auto& l : lines) {
      if (l.rfind("X-Mailer: ", 0) == 0) l = "X-Mailer: Jumelix - " + l.substr(10);
    }
  };
  ConnectAndGreet(false);
  EXPECT_EQ(Run([&] { client.Data(); }), 0);
  ExpectNoProblems();
  std::vector<std::string> got = peer.Received();
  std::vector<std::string> names;
  for (size_t i = 2; i < got.size() && !got[i].empty(); ++i)
    names.push_back(got[i].substr(0, got[i].find(':')));
  EXPECT_EQ(names,
            (std::vector<std::string>{"From", "Subject", "Sender", "Mime-Version", "Content-Type",
                                      "Date", "X-Priority", "Priority", "X-MSMail-Priority",
                                      "Message-ID", "Disposition-Notification-To", "X-Mailer"}));
  EXPECT_EQ(got[3], "Subject: line one . Bcc: victim@x.org");
  EXPECT_EQ(got[8], "X-Priority: 2");
  EXPECT_EQ(got[9], "Priority: urgent");
  EXPECT_EQ(got[13], "X-Mailer: Jumelix - Postaline");
}

TEST_F(SmtpDialogue, EmptyEnvelopeAddressesAndEmptySubject) {
  ScriptGreeting(false);
  peer.Expect("MAIL FROM:<>").Reply("250 ok");
  peer.Expect("DATA").Reply("354 go").ReadUntilDot().Reply("250 ok");
  peer.Start();
  client.FromName = "jean";
  ConnectAndGreet(false);
  EXPECT_EQ(Run([&] { client.MailFrom(); }), 0);
  EXPECT_EQ(Run([&] { client.Data(); }), 0);
  ExpectNoProblems();
  std::vector<std::string> got = peer.Received();
  EXPECT_EQ(got[3], "Subject: ");
}

struct TOversizedReply {
  const char* name;
  std::string reply;
  const char* why;
};

class OversizedReply : public SmtpDialogue,
                       public ::testing::WithParamInterface<TOversizedReply> {};

TEST_P(OversizedReply, FailsTheRequestAndDropsTheConnection) {
  peer.Reply("220 ready").Expect("HELO Jumelix").Send(GetParam().reply);
  peer.WaitMs(500);
  peer.Start();
  ASSERT_EQ(Run([&] { client.Connect(); }), 0);
  EXPECT_EQ(Run([&] { client.Helo(); }), 500);
  EXPECT_EQ(client.ErrorMessage(),
            std::string("Réponse du serveur trop longue : ") + GetParam().why);
  PumpFor(50);
  EXPECT_EQ(done.size(), 2u);
  EXPECT_FALSE(client.Connected());
}

std::string Repeated(const std::string& line, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += line;
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, OversizedReply,
    ::testing::Values(
        TOversizedReply{"LineBeyondTheBuffer", "250 " + std::string(5000, 'z'),
                        "une ligne de plus de 4096 octets"},
        TOversizedReply{"TooManyLines", Repeated("250-x\r\n", kSmtpMaxReplyLines) + "250 x\r\n",
                        "plus de 200 lignes"},
        TOversizedReply{"TooManyBytes",
                        Repeated("250-" + std::string(4000, 'b') + "\r\n", 17) + "250 x\r\n",
                        "plus de 65536 octets"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SmtpDialogue, ReplyJustWithinTheBoundsIsAccepted) {
  peer.Reply("220 ready").Expect("HELO Jumelix");
  peer.Send(Repeated("250-x\r\n", kSmtpMaxReplyLines - 1) + "250 ok\r\n");
  peer.Start();
  ASSERT_EQ(Run([&] { client.Connect(); }), 0);
  EXPECT_EQ(Run([&] { client.Helo(); }), 0);
  EXPECT_TRUE(client.Connected());
}

TEST_F(SmtpDialogue, MisuseRaises) {
  auto message = [](const std::function<void()>& f) {
    try {
      f();
    } catch (const SmtpException& e) {
      return std::string(e.what());
    }
    return std::string("no exception");
  };
  EXPECT_EQ(message([&] { client.Helo(); }), "SMTP component not connected");
  EXPECT_EQ(message([&] { client.RcptTo(); }), "RcptName list is empty");
  EXPECT_EQ(message([&] { client.Mail(); }), "RcptName list is empty");
  peer.Reply("220 ready").Expect("HELO Jumelix").WaitMs(300).Reply("250 ok");
  peer.Start();
  ASSERT_EQ(Run([&] { client.Connect(); }), 0);
  EXPECT_EQ(message([&] { client.Connect(); }), "SMTP component already connected");
  client.Helo();
  EXPECT_EQ(message([&] { client.Rset(); }), "SMTP component not ready");
  ASSERT_TRUE(Pump([&] { return done.size() == 2u; }));
  EXPECT_EQ(done.back(), Done(smtpHelo, 0));
}

TEST_F(SmtpDialogue, OpenAndMailRunAsOneRequestEach) {
  ScriptGreeting(true, {"250-hi", "250 AUTH PLAIN"});
  peer.Expect("AUTH PLAIN " + ToBase64(std::string("\0u\0p", 4))).Reply("235 ok");
  peer.Expect("MAIL FROM:<me@x.org>").Reply("250 ok");
  peer.Expect("RCPT TO:<a@x.org>").Reply("250 ok");
  peer.Expect("DATA").Reply("354 go").ReadUntilDot().Reply("250 ok");
  peer.Start();
  client.AuthType = smtpAuthAutoSelect;
  client.Username = "u";
  client.Password = "p";
  client.FromName = "me@x.org";
  client.RcptName = {"a@x.org"};
  EXPECT_EQ(Run([&] { client.Open(); }), 0) << client.ErrorMessage();
  EXPECT_EQ(Run([&] { client.Mail(); }), 0) << client.ErrorMessage();
  ExpectNoProblems();
  PumpFor(30);
  EXPECT_EQ(done, (std::vector<Done>{{smtpOpen, 0}, {smtpMail, 0}}));
}

TEST_F(SmtpDialogue, ChainedRequestStopsAtTheFirstFailure) {
  ScriptGreeting(false);
  peer.Expect("MAIL FROM:<me@x.org>").Reply("451 try later");
  peer.Expect("QUIT").Reply("221 bye").Close();  // no RCPT TO after the failure
  peer.Start();
  client.FromName = "me@x.org";
  client.RcptName = {"a@x.org"};
  EXPECT_EQ(Run([&] { client.Open(); }), 0);
  EXPECT_EQ(Run([&] { client.Mail(); }), 451);
  EXPECT_EQ(client.ErrorMessage(), "451 try later");
  EXPECT_EQ(done.back().first, smtpMail);
  EXPECT_EQ(Run([&] { client.Quit(); }), 0);
  ExpectNoProblems();
}

TEST_F(SmtpDialogue, AbortDuringAChainedRequestCompletesWith426) {
  peer.Reply("220 ready").Expect("HELO Jumelix");  // and then silence
  peer.WaitMs(300);
  peer.Start();
  client.Open();
  ASSERT_TRUE(Pump([&] { return peer.Received().size() == 1; }));
  client.Abort();
  EXPECT_EQ(client.State(), smtpReady);
  ASSERT_TRUE(Pump([&] { return !done.empty(); }));
  EXPECT_EQ(done.back(), Done(smtpOpen, kSmtpAborted));
  EXPECT_EQ(client.ErrorMessage(), "426 Operation aborted.");
  PumpFor(30);
  EXPECT_EQ(done.size(), 1u);
}

TEST(SmtpConnect, RefusedConnectionGivesTheSocketCode) {
  // A port that nobody listens on: bound, then closed.
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);

  TSmtpClient client;
  client.Host = "127.0.0.1";
  client.Port = std::to_string(ntohs(a.sin_port));
  std::vector<Done> done;
  client.OnRequestDone = [&](TSmtpSession&, TSmtpRequest rq, uint16_t e) {
    done.push_back({rq, e});
  };
  client.Connect();
  ASSERT_TRUE(Pump([&] { return !done.empty(); }));
  EXPECT_EQ(done.back(), Done(smtpConnect, 10061));
  EXPECT_EQ(client.ErrorMessage(), "500 " + SocketErrorText(10061) + " (Winsock error #10061)");
  EXPECT_EQ(client.State(), smtpReady);
  PumpFor(30);
  EXPECT_EQ(done.size(), 1u);
}

TEST(SmtpConnect, BadPortIsAFailureNotASuccess) {
  TSmtpClient client;
  client.Host = "127.0.0.1";
  client.Port = "no-such-service-name";
  std::vector<Done> done;
  client.OnRequestDone = [&](TSmtpSession&, TSmtpRequest rq, uint16_t e) {
    done.push_back({rq, e});
  };
  client.Connect();
  ASSERT_TRUE(Pump([&] { return !done.empty(); }));
  EXPECT_NE(done.back().second, 0);
  EXPECT_EQ(client.ErrorMessage().rfind("500 ESocketException: ", 0), 0u) << client.ErrorMessage();
}

TEST(SmtpAddresses, SplitAddress) {
  struct Case {
    const char* text;
    const char* name;
    const char* address;
  };
  const Case cases[] = {
      {"Jean Dupont <jean@x.org>", "Jean Dupont", "jean@x.org"},
      {"  \"Dupont, Jean\" <jean@x.org>", "Dupont, Jean", "jean@x.org"},
      {"'Jean' jean@x.org", "Jean", "jean@x.org"},
      {"jean@x.org", "", "jean@x.org"},
      {"<jean@x.org>", "", "jean@x.org"},
      {"jean", "jean", ""},
      {"", "", ""},
      {"Jean jean@x.org", "Jean", "jean@x.org"},
  };
  for (const Case& c : cases) {
    std::string name, address;
    TSmtpSession::SplitAddress(c.text, name, address);
    EXPECT_EQ(name, c.name) << c.text;
    EXPECT_EQ(address, c.address) << c.text;
  }
}

TEST(SmtpAddresses, AddRecipientListsSplitsOutsideQuotes) {
  TSmtpClient client;
  client.RcptName = {"first@x.org"};
  client.AddRecipientLists("a@x.org, \"Doe; John\" <j@x.org>", " ;b@x.org;; ", "c@x.org");
  EXPECT_EQ(client.RcptName,
            (std::vector<std::string>{"first@x.org", "a@x.org", "\"Doe; John\" <j@x.org>",
                                      "b@x.org", "c@x.org"}));
}

class SmtpDate : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    had_tz_ = tz != nullptr;
    if (had_tz_) old_tz_ = tz;
  }
  void TearDown() override {
    if (had_tz_) {
      setenv("TZ", old_tz_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  static void Zone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  }
  bool had_tz_ = false;
  std::string old_tz_;
};

TEST_F(SmtpDate, EnglishNamesAndZoneRule) {
  Zone("CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_EQ(SmtpDateText(1796596065), "Sun, 6 Dec 2026 23:27:45 +0100");
  EXPECT_EQ(SmtpDateText(1783331265), "Mon, 6 Jul 2026 11:47:45 +0200");
  Zone("UTC0");
  EXPECT_EQ(SmtpDateText(1796596065), "Sun, 6 Dec 2026 22:27:45 -0000");
  Zone("EST5");
  EXPECT_EQ(SmtpDateText(1796596065), "Sun, 6 Dec 2026 17:27:45 -0500");
  Zone("IST-5:30");
  EXPECT_EQ(SmtpDateText(1796596065), "Mon, 7 Dec 2026 03:57:45 +0530");
}

TEST(SmtpMessageId, ShapeAndUniqueness) {
  std::string a = NewMessageID("host.example");
  std::string b = NewMessageID("host.example");
  EXPECT_TRUE(std::regex_match(a, std::regex("[0-9]{17}\\.[0-9A-F]{16}@host\\.example"))) << a;
  EXPECT_NE(a, b);
}

}  // namespace
}  // namespace jumelix
