#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>

#include "platform/System.h"
#include "shared/URoutines.h"
#include "smtp/Empreintes.h"
#include "smtp/MimeCodec.h"
#include "smtp/SmtpClient.h"
#include "smtp/SmtpInterne.h"

// The authentication of the SMTP session: the mechanism chosen from the server's offer,
// then each mechanism's exchange (PLAIN, LOGIN, CRAM-MD5, CRAM-SHA1, XOAUTH2/OAUTHBEARER).
namespace jumelix {

using namespace smtp_interne;

// ---- Authentication --------------------------------------------------------------------------

void TSmtpSession::Auth() {
  CheckReady();
  auto fail_now = [this](const std::string& text) {
    last_response_ = text;
    status_code_ = 500;
    request_result_ = 500;
    SetErrorMessage(text);
    if (!chain_running_) request_type_ = smtpAuth;
    fct_ = smtpAuth;
    request_done_flag_ = false;
    TriggerRequestDone(500);
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
    auto has = [this](const char* m) {
      return std::find(auth_types_.begin(), auth_types_.end(), m) != auth_types_.end();
    };
    if (has("CRAM-SHA1")) {
      type = smtpAuthCramSha1;
    } else if (has("CRAM-MD5")) {
      type = smtpAuthCramMD5;
    } else if (has("LOGIN")) {
      type = smtpAuthLogin;
    } else if (has("PLAIN")) {
      type = smtpAuthPlain;
    } else {
      type = smtpAuthCramMD5;
    }
  }
  switch (type) {
    case smtpAuthPlain:
      AuthStartPlain();
      break;
    case smtpAuthLogin:
      AuthStartLogin();
      break;
    case smtpAuthCramMD5:
      AuthStartCram(false);
      break;
    case smtpAuthCramSha1:
      AuthStartCram(true);
      break;
    case smtpAuthXOAuth2:
      AuthStartOAuth2();
      break;
    default:
      fail_now("500 No Authentication Type Selected.");
      break;
  }
}

void TSmtpSession::AuthStartPlain() {
  // RFC 4616: authorisation identity (empty: the same as the user), user, password.
  TSecret token;
  token.Append('\0');
  token.Append(Username);
  token.Append('\0');
  token.Append(Password.View());
  TSecret cmd("AUTH PLAIN ");
  AppendBase64(cmd, token.View());
  ExecAsyncSecret(smtpAuth, cmd, "AUTH PLAIN ****", {235}, &TSmtpSession::AuthNextPlain);
}

void TSmtpSession::AuthNextPlain() {
  // Under auto-selection a refusal of the mechanism itself says that no mechanism fitted;
  // a refusal of the credentials (535) or a temporary failure (4xx) keeps the server's line.
  if (request_result_ != 0 && auth_auto_ && request_result_ != 504 && request_result_ != 535 &&
      !(request_result_ >= 400 && request_result_ < 500)) {
    error_message_ = "500 Authentication Type could not be determined.";
  }
  TriggerRequestDone(request_result_);
}

void TSmtpSession::AuthStartLogin() {
  ExecAsync(smtpAuth, "AUTH LOGIN", {334}, &TSmtpSession::AuthNextLogin);
}

void TSmtpSession::AuthNextLogin() {
  if (request_result_ != 0) {
    if (auth_auto_) {
      if (request_result_ == 504) {
        error_message_ = auth_saved_error_;
        SetState(smtpInternalReady);
        AuthStartPlain();
        return;
      }
      error_message_ = "500 Authentication Type could not be determined.";
    }
    TriggerRequestDone(request_result_);
    return;
  }
  SetState(smtpInternalReady);
  ExecAsync(smtpAuth, ToBase64(Username), {334}, &TSmtpSession::AuthNextLoginPass);
}

void TSmtpSession::AuthNextLoginPass() {
  if (request_result_ != 0) {
    TriggerRequestDone(request_result_);
    return;
  }
  SetState(smtpInternalReady);
  TSecret cmd;
  AppendBase64(cmd, Password.View());
  ExecAsyncSecret(smtpAuth, cmd, "****", {235}, nullptr);
}

void TSmtpSession::AuthStartCram(bool sha1) {
  if (sha1) {
    ExecAsync(smtpAuth, "AUTH CRAM-SHA1", {334}, &TSmtpSession::AuthNextCramSha1);
  } else {
    ExecAsync(smtpAuth, "AUTH CRAM-MD5", {334}, &TSmtpSession::AuthNextCramMD5);
  }
}

void TSmtpSession::AuthNextCramMD5() { AuthNextCram(false); }
void TSmtpSession::AuthNextCramSha1() { AuthNextCram(true); }

void TSmtpSession::AuthNextCram(bool sha1) {
  if (request_result_ != 0) {
    if (!sha1 && auth_auto_) {
      if (request_result_ == 504) {
        error_message_ = auth_saved_error_;
        SetState(smtpInternalReady);
        AuthStartLogin();
        return;
      }
      error_message_ = "500 Authentication Type could not be determined.";
    }
    TriggerRequestDone(request_result_);
    return;
  }
  if (last_response_.size() <= 4) {
    last_response_ =
        std::string("500 Malformed ") + (sha1 ? "SHA1" : "MD5") + " Challenge: " + last_response_;
    status_code_ = 500;
    request_result_ = 500;
    SetErrorMessage(last_response_);
    TriggerRequestDone(500);
    return;
  }
  std::string challenge = FromBase64(Trim(last_response_.substr(4)));
  std::string bytes = sha1 ? DigestBytes(HmacSha1(Password.View(), challenge))
                           : DigestBytes(HmacMd5(Password.View(), challenge));
  std::string hex = ToHexLower(bytes);
  TSecret answer(Username + " ");
  answer.Append(hex);
  EffacerTexte(bytes);
  EffacerTexte(hex);
  TSecret cmd;
  AppendBase64(cmd, answer.View());
  SetState(smtpInternalReady);
  ExecAsyncSecret(smtpAuth, cmd, "****", {235}, nullptr);
}

// OAuth 2 (XOAUTH2, RFC 7628 OAUTHBEARER): the initial response carries the account and
// the token. A refused token is answered 334 with the reason (base64 JSON); the client
// then sends the empty answer (XOAUTH2) or "\x01" (OAUTHBEARER) and the server ends with
// its failure code.
void TSmtpSession::AuthStartOAuth2() {
  auto has = [this](const char* m) {
    return std::find(auth_types_.begin(), auth_types_.end(), m) != auth_types_.end();
  };
  oauth_bearer_ = has("OAUTHBEARER") && !has("XOAUTH2");
  const std::string kSep(1, '\x01');
  oauth_detail_.clear();
  TSecret token;
  if (oauth_bearer_) {
    token.Append("n,a=" + Username + "," + kSep + "host=" + Trim(Host) + kSep +
                 "port=" + Trim(Port) + kSep + "auth=Bearer ");
  } else {
    token.Append("user=" + Username + kSep + "auth=Bearer ");
  }
  token.Append(Password.View());
  token.Append(kSep + kSep);
  const char* mechanism = oauth_bearer_ ? "AUTH OAUTHBEARER " : "AUTH XOAUTH2 ";
  TSecret cmd(mechanism);
  AppendBase64(cmd, token.View());
  ExecAsyncSecret(smtpAuth, cmd, std::string(mechanism) + "****", {235, 334},
                  &TSmtpSession::AuthNextOAuth2);
}

void TSmtpSession::AuthNextOAuth2() {
  if (request_result_ != 0 || status_code_ != 334) {
    TriggerRequestDone(request_result_);
    return;
  }
  std::string detail = last_response_.size() > 4 ? FromBase64(Trim(last_response_.substr(4))) : "";
  oauth_detail_ = Trim(CleanCommand(detail.substr(0, 300)));
  SetState(smtpInternalReady);
  ExecAsync(smtpAuth, oauth_bearer_ ? "AQ==" : "", {235}, &TSmtpSession::AuthEndOAuth2);
}

void TSmtpSession::AuthEndOAuth2() {
  if (request_result_ != 0 && !oauth_detail_.empty()) {
    error_message_ += " (" + oauth_detail_ + ")";
  }
  TriggerRequestDone(request_result_);
}

}  // namespace jumelix
