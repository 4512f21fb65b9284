#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "shared/URoutines.h"
#include "smtp/Empreintes.h"
#include "smtp/MimeCodec.h"
#include "smtp/SmtpClient.h"
#include "smtp/SmtpInterne.h"

// The authentication of the SMTP session, driven by one table of mechanisms (PLAIN, LOGIN,
// CRAM-MD5, CRAM-SHA1, XOAUTH2/OAUTHBEARER): the command that starts each one and the
// answer to each of its challenges (334 replies). The session runs whichever the table
// gives; auto-selection takes the first one the server offers, in the table's order.
namespace jumelix {

using namespace smtp_interne;

namespace {

// What a mechanism's step reads: the credentials, the server and its last reply.
struct TAuthInput {
  const std::string& user;
  const TSecret& password;
  const std::string& host;
  const std::string& port;
  const std::vector<std::string>& offered;  // mechanisms of the EHLO reply
  const std::string& reply;                 // the challenge line being answered
};

// The next line of an exchange: the wire text (kept in a secret, wiped once sent), what
// the traces show instead, and the replies that let the exchange go on. A non-empty
// `refusal` fails the request instead; `detail` keeps the server's reason for a refusal
// that its next reply will confirm.
struct TAuthLine {
  TSecret text;
  std::string shown;
  std::vector<int> ok;
  std::string refusal;
  std::string detail;
};

using TAuthStep = TAuthLine (*)(const TAuthInput&);

// Under auto-selection, what a refusal of the first command says.
enum class TAutoRefusal {
  kServerLine,               // the server's line stays
  kUnknown,                  // "could not be determined"
  kUnknownUnlessCredentials  // the same, except for 504, 535 and 4xx (the server's line)
};

struct TAuthMechanism {
  TSmtpAuthType type;
  const char* name;        // as the EHLO reply announces it
  bool automatic;          // auto-selection may take it
  TSmtpAuthType fallback;  // auto-selection: tried after a 504 to the first command
  TAutoRefusal refusal;
  TAuthStep first;
  std::array<TAuthStep, 2> answers;  // to the successive challenges; null past the last
};

constexpr char kUndetermined[] = "500 Authentication Type could not be determined.";

bool Offered(const TAuthInput& in, std::string_view name) {
  return std::find(in.offered.begin(), in.offered.end(), name) != in.offered.end();
}

TAuthLine Line(std::string_view text, std::vector<int> ok) {
  TAuthLine line;
  line.text.Append(text);
  line.shown = std::string(text);
  line.ok = std::move(ok);
  return line;
}

// The credential line of a step: base64 of `token`, after `prefix`.
TAuthLine SecretLine(std::string_view prefix, const TSecret& token, std::vector<int> ok) {
  TAuthLine line;
  line.text.Append(prefix);
  AppendBase64(line.text, token.View());
  line.shown = std::string(prefix) + "****";
  line.ok = std::move(ok);
  return line;
}

// RFC 4616: authorisation identity (empty: the same as the user), user, password.
TAuthLine PlainFirst(const TAuthInput& in) {
  TSecret token;
  token.Append('\0');
  token.Append(in.user);
  token.Append('\0');
  token.Append(in.password.View());
  return SecretLine("AUTH PLAIN ", token, {235});
}

TAuthLine LoginFirst(const TAuthInput&) { return Line("AUTH LOGIN", {334}); }

TAuthLine LoginUser(const TAuthInput& in) { return Line(ToBase64(in.user), {334}); }

TAuthLine LoginPassword(const TAuthInput& in) { return SecretLine("", in.password, {235}); }

TAuthLine CramMd5First(const TAuthInput&) { return Line("AUTH CRAM-MD5", {334}); }

TAuthLine CramSha1First(const TAuthInput&) { return Line("AUTH CRAM-SHA1", {334}); }

// The user and the keyed digest of the challenge, in hexadecimal.
template <bool kSha1>
TAuthLine CramAnswer(const TAuthInput& in) {
  if (in.reply.size() <= 4) {
    TAuthLine line;
    line.refusal =
        std::string("500 Malformed ") + (kSha1 ? "SHA1" : "MD5") + " Challenge: " + in.reply;
    return line;
  }
  const std::string challenge = FromBase64(Trim(in.reply.substr(4)));
  std::string bytes = kSha1 ? DigestBytes(HmacSha1(in.password.View(), challenge))
                            : DigestBytes(HmacMd5(in.password.View(), challenge));
  std::string hex = ToHexLower(bytes);
  TSecret answer(in.user + " ");
  answer.Append(hex);
  EffacerTexte(bytes);
  EffacerTexte(hex);
  return SecretLine("", answer, {235});
}

// OAuth 2 (XOAUTH2, RFC 7628 OAUTHBEARER): the initial response carries the account and
// the token. A refused token is answered 334 with the reason (base64 JSON); the client
// then sends the empty answer (XOAUTH2) or "\x01" (OAUTHBEARER) and the server ends with
// its failure code.
bool Bearer(const TAuthInput& in) { return Offered(in, "OAUTHBEARER") && !Offered(in, "XOAUTH2"); }

TAuthLine OAuthFirst(const TAuthInput& in) {
  const std::string kSep(1, '\x01');
  TSecret token;
  if (Bearer(in)) {
    token.Append("n,a=" + in.user + "," + kSep + "host=" + Trim(in.host) + kSep +
                 "port=" + Trim(in.port) + kSep + "auth=Bearer ");
  } else {
    token.Append("user=" + in.user + kSep + "auth=Bearer ");
  }
  token.Append(in.password.View());
  token.Append(kSep + kSep);
  return SecretLine(Bearer(in) ? "AUTH OAUTHBEARER " : "AUTH XOAUTH2 ", token, {235, 334});
}

TAuthLine OAuthRefusalAnswer(const TAuthInput& in) {
  TAuthLine line = Line(Bearer(in) ? "AQ==" : "", {235});
  const std::string why = in.reply.size() > 4 ? FromBase64(Trim(in.reply.substr(4))) : "";
  line.detail = Trim(CleanCommand(why.substr(0, 300)));
  return line;
}

// In the order of preference of auto-selection, one mechanism a row.
// clang-format off
const TAuthMechanism kMechanisms[] = {
//  type              name         auto   fallback       auto refusal
//  first command     answers to the challenges
    {smtpAuthCramSha1, "CRAM-SHA1", true,  smtpAuthNone,  TAutoRefusal::kServerLine,
     CramSha1First,    {CramAnswer<true>, nullptr}},
    {smtpAuthCramMD5,  "CRAM-MD5",  true,  smtpAuthLogin, TAutoRefusal::kUnknown,
     CramMd5First,     {CramAnswer<false>, nullptr}},
    {smtpAuthLogin,    "LOGIN",     true,  smtpAuthPlain, TAutoRefusal::kUnknown,
     LoginFirst,       {LoginUser, LoginPassword}},
    {smtpAuthPlain,    "PLAIN",     true,  smtpAuthNone,  TAutoRefusal::kUnknownUnlessCredentials,
     PlainFirst,       {nullptr, nullptr}},
    {smtpAuthXOAuth2,  "XOAUTH2",   false, smtpAuthNone,  TAutoRefusal::kServerLine,
     OAuthFirst,       {OAuthRefusalAnswer, nullptr}},
};
// clang-format on

// A server that announces no mechanism this client speaks is tried with this one.
constexpr TSmtpAuthType kAutoDefault = smtpAuthCramMD5;

const TAuthMechanism* FindMechanism(TSmtpAuthType type) {
  for (const TAuthMechanism& m : kMechanisms) {
    if (m.type == type) return &m;
  }
  return nullptr;
}

}  // namespace

namespace smtp_interne {

bool SpokenMechanism(std::string_view name) {
  return std::any_of(std::begin(kMechanisms), std::end(kMechanisms),
                     [&](const TAuthMechanism& m) { return m.automatic && name == m.name; });
}

}  // namespace smtp_interne

void TSmtpSession::Auth() {
  CheckReady();
  auto fail_now = [this](const std::string& text) {
    BeginLocalRequest(smtpAuth);
    FailRequest({.text = text});
  };
  if (!esmtp_) {
    fail_now("500 ESMTP not supported.");
    return;
  }
  // Checked before any AUTH line goes out: the password must not cross a network in clear
  // unless the user chose so.
  const std::string refusal = SecurityRefusal(Security, socket_.TlsActive(), true, Host);
  if (!refusal.empty()) {
    RefuseNow(smtpAuth, refusal);
    return;
  }
  if (AuthType == smtpAuthXOAuth2 && !socket_.TlsActive()) {
    RefuseNow(smtpAuth,
              "Le jeton d'accès n'est envoyé que sur une connexion chiffrée : la "
              "connexion avec le serveur " +
                  Trim(Host) +
                  " n'est pas chiffrée (STARTTLS non proposé, ou sécurité « Aucune »)");
    return;
  }
  auth_auto_ = AuthType == smtpAuthAutoSelect;
  auth_saved_error_ = error_message_;
  TSmtpAuthType type = AuthType;
  if (auth_auto_) {
    type = kAutoDefault;
    for (const TAuthMechanism& m : kMechanisms) {
      if (m.automatic &&
          std::find(auth_types_.begin(), auth_types_.end(), m.name) != auth_types_.end()) {
        type = m.type;
        break;
      }
    }
  }
  if (FindMechanism(type) == nullptr) {
    fail_now("500 No Authentication Type Selected.");
    return;
  }
  AuthStart(type);
}

void TSmtpSession::AuthStart(TSmtpAuthType type) {
  auth_type_ = type;
  auth_step_ = 0;
  auth_detail_.clear();
  AuthSend();
}

void TSmtpSession::AuthSend() {
  const TAuthMechanism& m = *FindMechanism(auth_type_);
  const TAuthStep step = auth_step_ == 0 ? m.first : m.answers[auth_step_ - 1];
  const TAuthInput in{Username, Password, Host, Port, auth_types_, last_response_};
  const TAuthLine line = step(in);
  if (!line.refusal.empty()) {
    FailRequest({.text = line.refusal});
    return;
  }
  if (!line.detail.empty()) auth_detail_ = line.detail;
  ExecAsyncSecret(smtpAuth, line.text, line.shown, line.ok, &TSmtpSession::AuthReply);
}

void TSmtpSession::AuthReply() {
  const TAuthMechanism& m = *FindMechanism(auth_type_);
  if (request_result_ != 0) {
    if (auth_auto_ && auth_step_ == 0) {
      if (request_result_ == 504 && m.fallback != smtpAuthNone) {
        // The server does not speak this one after all: the next in line, silently.
        error_message_ = auth_saved_error_;
        SetState(smtpInternalReady);
        AuthStart(m.fallback);
        return;
      }
      const bool credentials = request_result_ == 504 || request_result_ == 535 ||
                               (request_result_ >= 400 && request_result_ < 500);
      if (m.refusal == TAutoRefusal::kUnknown ||
          (m.refusal == TAutoRefusal::kUnknownUnlessCredentials && !credentials)) {
        error_message_ = kUndetermined;
      }
    }
    if (!auth_detail_.empty()) error_message_ += " (" + auth_detail_ + ")";
    TriggerRequestDone(request_result_);
    return;
  }
  // A challenge (334) is answered while the mechanism has an answer left; any other
  // accepted reply ends the exchange.
  if (status_code_ != 334 || auth_step_ >= m.answers.size() || !m.answers[auth_step_]) {
    TriggerRequestDone(0);
    return;
  }
  ++auth_step_;
  SetState(smtpInternalReady);
  AuthSend();
}

}  // namespace jumelix
