#include "smtp/SmtpClient.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>

#include "platform/System.h"
#include "shared/URoutines.h"
#include "smtp/MimeCodec.h"
#include "smtp/SmtpInterne.h"

namespace jumelix {
namespace smtp_interne {

std::string UpperAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

bool StartsWithNoCase(const std::string& s, std::string_view prefix) {
  return s.size() >= prefix.size() && EgauxSansCasseAscii(s.substr(0, prefix.size()), prefix);
}

// A header value as it goes on the wire: trimmed, every line break turned into one space
// so that a value can neither add a header nor end the header block.
std::string CleanHeaderValue(const std::string& value) {
  std::string t = Trim(value);
  std::string out;
  out.reserve(t.size());
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i] == '\r' || t[i] == '\n') {
      if (t[i] == '\r' && i + 1 < t.size() && t[i + 1] == '\n') ++i;
      out += ' ';
    } else {
      out += t[i];
    }
  }
  return out;
}

// A command line never holds a line break: one in a caller's text (an address, the
// greeting name) would start a second command.
std::string CleanCommand(std::string cmd) {
  for (char& c : cmd) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return cmd;
}

// One text line as quoted-printable lines of at most 76 bytes (soft line breaks).
void AppendQuotedPrintableLines(const std::string& l, std::vector<std::string>& out) {
  size_t pos = 1;
  do {
    std::string piece = ToQuotedPrintablePiece(l, 75, "", true, pos, false);
    // A blank at the very end of a line would be lost in transport: escape it.
    if (pos > l.size() && !piece.empty() && (piece.back() == ' ' || piece.back() == '\t')) {
      char c = piece.back();
      piece.pop_back();
      piece += c == ' ' ? "=20" : "=09";
    }
    out.push_back(piece);
  } while (pos <= l.size());
}

// Base64 of a credential, appended to a secret; the plain intermediate is wiped.
void AppendBase64(TSecret& out, std::string_view bytes) {
  std::string encoded = ToBase64(bytes);
  out.Append(encoded);
  EffacerTexte(encoded);
}

// Splits a text at CR LF, lone CR and lone LF; always at least one piece.
std::vector<std::string> SplitAtLineBreaks(const std::string& text) {
  std::vector<std::string> pieces(1);
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      pieces.emplace_back();
    } else {
      pieces.back() += c;
    }
  }
  return pieces;
}

const char* EncodingName(TSmtpDefaultEncoding e) {
  switch (e) {
    case smtpEnc7bit:
      return "7bit";
    case smtpEnc8bit:
      return "8bit";
    case smtpEncQuotedPrintable:
      return "quoted-printable";
    case smtpEncBase64:
      return "base64";
  }
  return "7bit";
}

std::string LocalHostName() {
  try {
    std::string name = LocalMachineName();
    if (!name.empty()) return name;
  } catch (const std::exception&) {
  }
  return "localhost";
}

std::string ErrorWithCode(int err) {
  return "500 " + SocketErrorText(err) + " (Winsock error #" + std::to_string(err) + ")";
}

}  // namespace smtp_interne

using namespace smtp_interne;

// ---- Session: construction and plumbing --------------------------------------------------

TSmtpSession::TSmtpSession() {
  window_ = std::make_unique<TMessageWindow>(
      [this](uint32_t msg, uintptr_t w, intptr_t l) { HandleWindowMessage(msg, w, l); });
  socket_.OnSessionClosed = [this](TAsyncSocket&, uint16_t err) { SocketSessionClosed(err); };
}

TSmtpSession::~TSmtpSession() {
  // The socket goes after this body; none of its events may reach a half-destroyed client.
  socket_.OnSessionClosed = nullptr;
  socket_.OnDataAvailable = nullptr;
  socket_.OnDataSent = nullptr;
  socket_.OnDnsLookupDone = nullptr;
  socket_.OnSessionConnected = nullptr;
}

void TSmtpSession::CheckReady() const {
  if (state_ != smtpReady && state_ != smtpInternalReady) {
    throw SmtpException("SMTP component not ready");
  }
}

void TSmtpSession::SetState(TSmtpState s) { state_ = s; }

void TSmtpSession::TriggerDisplay(const std::string& msg) {
  if (OnDisplay) OnDisplay(*this, msg);
}

void TSmtpSession::SetErrorMessage(const std::string& text) {
  if (error_message_.empty()) error_message_ = text;
}

std::string TSmtpSession::SignOnName() const {
  std::string n = SignOn.empty() ? LocalHostName() : SignOn;
  std::replace(n.begin(), n.end(), ' ', '_');
  return n;
}

void TSmtpSession::HandleWindowMessage(uint32_t msg, uintptr_t, intptr_t l) {
  if (msg == kWmSmtpRequestDone && OnRequestDone) {
    // A copy: the handler may replace itself, or free the client, while it runs.
    TSmtpRequestDone handler = OnRequestDone;
    handler(*this, request_type_, static_cast<uint16_t>(l));
  }
}

void TSmtpSession::PrepareCommand(TSmtpRequest rq, std::vector<int> ok, TStep done) {
  CheckReady();
  if (!connected_) throw SmtpException("SMTP component not connected");
  if (!chain_running_) request_type_ = rq;
  fct_ = rq;
  ok_codes_ = std::move(ok);
  request_done_flag_ = false;
  response_step_set_ = true;
  done_async_ = done;
  SetState(smtpWaitingResponse);
}

void TSmtpSession::ExecAsyncSecret(TSmtpRequest rq, const TSecret& cmd, const std::string& shown,
                                   std::vector<int> ok, TStep done) {
  PrepareCommand(rq, std::move(ok), done);
  if (OnCommand) OnCommand(*this, shown);
  TriggerDisplay("> " + shown);
  // Straight from the secret's buffer: no plain copy on the way.
  if (socket_.State() == wsConnected) SendLine(cmd.View());
}

void TSmtpSession::ExecAsync(TSmtpRequest rq, const std::string& cmd, std::vector<int> ok,
                             TStep done) {
  PrepareCommand(rq, std::move(ok), done);
  std::string line = CleanCommand(cmd);
  if (OnCommand) OnCommand(*this, line);
  TriggerDisplay("> " + line);
  if (socket_.State() == wsConnected) SendLine(line);
}

void TSmtpSession::SendLine(std::string_view line) {
  socket_.QueueData(line.data(), static_cast<int>(line.size()));
  // A send failure ends the connection; the request completes through the close.
  if (socket_.TrySend("\r\n", 2).failed) (void)socket_.TryAbort();
}

void TSmtpSession::BeginLocalRequest(TSmtpRequest rq) {
  if (!chain_running_) request_type_ = rq;
  fct_ = rq;
  request_done_flag_ = false;
}

void TSmtpSession::FailRequest(const TFailure& failure) {
  last_response_ = failure.text;
  status_code_ = failure.status;
  request_result_ = failure.result;
  if (failure.replace_error) {
    error_message_ = failure.text;
  } else {
    SetErrorMessage(failure.text);
  }
  if (composing_) {  // no session to end: ComposeMessage reports it
    request_done_flag_ = true;
    return;
  }
  const uint16_t done = failure.done != 0 ? failure.done : failure.result;
  if (failure.tell_connected && OnSessionConnected) OnSessionConnected(*this, done);
  if (failure.tell_closed && OnSessionClosed) OnSessionClosed(*this, done);
  TriggerRequestDone(done);
  // A failure to close adds nothing to the failure being reported: it is dropped.
  switch (failure.link) {
    case TLinkAfterFailure::kept:
      break;
    case TLinkAfterFailure::closed:
      if (socket_.TryClose().failed) (void)socket_.TryAbort();
      SetState(smtpReady);
      break;
    case TLinkAfterFailure::dropped:
      (void)socket_.TryAbort();
      break;
  }
}

void TSmtpSession::FailSocket(const TSocketResult& result) {
  // The socket's last error tells the cause when there is one; a refusal of the socket
  // layer itself (no port, bad address) has none and must not read as success. The text
  // keeps the form the socket layer's exception has always given it.
  const bool has_code = result.code > 0 && result.code <= 0xFFFF;
  // A socket left open by a refused Connect would refuse the next one: it is dropped.
  FailRequest({.text = "500 ESocketException: " + result.text,
               .done = has_code ? static_cast<uint16_t>(result.code) : uint16_t{500},
               .link = TLinkAfterFailure::dropped});
}

void TSmtpSession::TriggerRequestDone(uint16_t err) {
  if (request_done_flag_) return;
  request_done_flag_ = true;
  if (fct_ == smtpAuth) Password.Wipe();  // AUTH has ended: the password is of no more use
  if (chain_running_) {
    if (aborting_) {
      err = kSmtpAborted;
      error_message_ = "426 Operation aborted.";
    } else if (err == 0 && !chain_steps_.empty()) {
      TSmtpRequest next = chain_steps_.front();
      chain_steps_.erase(chain_steps_.begin());
      SetState(smtpInternalReady);
      try {
        StartStep(next);
        return;
      } catch (const std::exception& e) {
        last_response_ = std::string("500 ") + e.what();
        SetErrorMessage(last_response_);
        err = 500;
        request_done_flag_ = true;
      }
    }
    chain_running_ = false;
    chain_steps_.clear();
  }
  SetState(smtpReady);
  window_->Post(kWmSmtpRequestDone, 0, err);
}

void TSmtpSession::StartStep(TSmtpRequest rq) {
  switch (rq) {
    case smtpConnect:
      Connect();
      break;
    case smtpHelo:
      Helo();
      break;
    case smtpEhlo:
      Ehlo();
      break;
    case smtpAuth:
      Auth();
      break;
    case smtpMailFrom:
      MailFrom();
      break;
    case smtpRcptTo:
      RcptTo();
      break;
    case smtpData:
      Data();
      break;
    default:
      throw SmtpException("SMTP component: request cannot be chained");
  }
}

void TSmtpSession::StartChain(TSmtpRequest rq, std::vector<TSmtpRequest> steps) {
  CheckReady();
  request_type_ = rq;
  error_message_.clear();
  aborting_ = false;
  chain_running_ = true;
  chain_steps_ = std::move(steps);
  TSmtpRequest first = chain_steps_.front();
  chain_steps_.erase(chain_steps_.begin());
  try {
    StartStep(first);
  } catch (...) {
    chain_running_ = false;
    chain_steps_.clear();
    throw;
  }
}

// ---- Connection -------------------------------------------------------------------------

void TSmtpSession::Connect() {
  CheckReady();
  if (connected_) throw SmtpException("SMTP component already connected");
  if (!chain_running_) {
    request_type_ = smtpConnect;
    aborting_ = false;
  }
  fct_ = smtpConnect;
  request_done_flag_ = false;
  rcv_cnt_ = 0;
  reply_lines_ = 0;
  reply_bytes_ = 0;
  request_result_ = 0;
  status_code_ = 0;
  esmtp_ = false;
  starttls_offered_ = false;
  implicit_handshake_ = false;
  stop_reading_ = false;
  auth_types_.clear();
  error_message_.clear();
  last_response_.clear();
  SetState(smtpDnsLookup);
  socket_.OnDataSent = nullptr;
  socket_.OnDnsLookupDone = [this](TAsyncSocket&, uint16_t err) { SocketDnsLookupDone(err); };
  if (const TSocketResult r = socket_.TryDnsLookup(Host); r.failed) FailSocket(r);
}

void TSmtpSession::SocketDnsLookupDone(uint16_t err) {
  if (state_ != smtpDnsLookup && !(aborting_ && state_ == smtpAbort)) return;
  if (err != 0) {
    FailRequest(
        {.text = ErrorWithCode(err), .result = err, .tell_connected = true, .tell_closed = true});
    return;
  }
  // Assigned before the socket may refuse the connection: nothing calls them then.
  socket_.OnSessionConnected = [this](TAsyncSocket&, uint16_t e) { SocketSessionConnected(e); };
  socket_.OnDataAvailable = [this](TAsyncSocket&, uint16_t e) { SocketDataAvailable(e); };
  SetState(smtpConnecting);
  const TSocketResult r = socket_.TryConnect(socket_.DnsResult(), LocalAddr, "tcp", Port);
  if (r.failed) FailSocket(r);
}

void TSmtpSession::SocketSessionConnected(uint16_t err) {
  if (err != 0) {
    FailRequest({.text = ErrorWithCode(err),
                 .done = err,
                 .tell_connected = true,
                 .link = TLinkAfterFailure::closed});
    return;
  }
  connected_ = true;
  if (Security == smtpSecImplicitTls) {
    // The banner comes encrypted: the handshake first.
    implicit_handshake_ = true;
    socket_.SetTlsCaFile(TlsCaFile);
    socket_.OnTlsDone = [this](TAsyncSocket&, uint16_t e) { TlsDone(e); };
    StartTls();
    return;
  }
  SetState(smtpWaitingBanner);
}

// ---- Security -------------------------------------------------------------------------------

bool TSmtpSession::IsLoopbackHost(const std::string& host) {
  std::string h = MinusculesAscii(Trim(host));
  if (!h.empty() && h.back() == '.') h.pop_back();
  if (h == "localhost" || h == "::1" || h == "[::1]") return true;
  return IsDottedIP(h) && h.compare(0, 4, "127.") == 0;
}

std::string TSmtpSession::SecurityRefusal(TSmtpSecurity mode, bool tlsActive, bool authenticating,
                                          const std::string& host) {
  if (tlsActive || mode == smtpSecNone) return {};
  const std::string h = Trim(host);
  if (mode == smtpSecStartTlsRequired || mode == smtpSecImplicitTls) {
    return "La connexion avec le serveur " + h + " n'est pas chiffrée alors que TLS est exigé";
  }
  if (authenticating && !IsLoopbackHost(h)) {
    return "Le serveur " + h +
           " ne propose pas STARTTLS : le mot de passe n'est pas envoyé en clair (pour "
           "l'accepter, choisissez « Aucune » comme sécurité de la connexion)";
  }
  return {};
}

void TSmtpSession::FailSecurity(const std::string& text, bool dropConnection) {
  // Whatever follows a failed handshake is neither plain nor encrypted text.
  FailRequest({.text = text,
               .result = kSmtpSecurityError,
               .replace_error = true,
               .link = dropConnection ? TLinkAfterFailure::dropped : TLinkAfterFailure::kept});
}

void TSmtpSession::StartTls() {
  if (const TSocketResult r = socket_.TryStartTls(Trim(Host)); r.failed) {
    FailSecurity("Échec de la négociation TLS : " + r.text, true);
  }
}

void TSmtpSession::TlsDone(uint16_t err) {
  if (err != 0) {
    const std::string& why = socket_.TlsErrorText();
    FailSecurity(why.empty() ? "Échec de la négociation TLS avec " + Trim(Host) : why, true);
    return;
  }
  if (implicit_handshake_) {
    implicit_handshake_ = false;
    SetState(smtpWaitingBanner);
    return;
  }
  // What the server said before TLS may have been forged: ask again.
  SetState(smtpInternalReady);
  auth_types_.clear();
  esmtp_ = false;
  starttls_offered_ = false;
  try {
    ExecAsync(smtpEhlo, "EHLO " + SignOnName(), {250}, &TSmtpSession::EhloAfterTlsDone);
  } catch (const std::exception& e) {
    FailSecurity(e.what(), true);
  }
}

void TSmtpSession::StartTlsReply() {
  if (request_result_ != 0) {
    if (Security == smtpSecStartTlsRequired) {
      FailSecurity("Le serveur " + Trim(Host) + " refuse STARTTLS : " + last_response_, false);
      return;
    }
    // Offered, then refused: the session goes on in clear, where the password guard of
    // Auth still holds; the refusal is no error of the Ehlo request.
    error_message_ = starttls_saved_error_;
    request_result_ = 0;
    TriggerRequestDone(0);
    return;
  }
  rcv_cnt_ = 0;  // nothing the server sent in clear may be read as if it came after TLS
  reply_lines_ = 0;
  reply_bytes_ = 0;
  socket_.SetTlsCaFile(TlsCaFile);
  socket_.OnTlsDone = [this](TAsyncSocket&, uint16_t e) { TlsDone(e); };
  StartTls();
}

void TSmtpSession::EhloAfterTlsDone() {
  if (!connected_) return;
  if (request_result_ == 0) esmtp_ = true;
  TriggerRequestDone(request_result_);
}

void TSmtpSession::SocketSessionClosed(uint16_t err) {
  connected_ = false;
  // A broken TLS record ended the connection: its reason says more than "closed".
  if (!request_done_flag_ && !socket_.TlsErrorText().empty()) {
    SetErrorMessage(socket_.TlsErrorText());
  }
  socket_.OnDataSent = nullptr;
  if (OnSessionClosed) OnSessionClosed(*this, err);
  TriggerRequestDone(fct_ == smtpQuit ? 0 : kWsaeIntr);
}

void TSmtpSession::Abort() {
  aborting_ = true;
  SetState(smtpAbort);
  (void)socket_.TryAbort();  // the request ends here whatever the socket says
  // Nothing may stay pending: a request that the closing did not end ends here.
  if (!request_done_flag_) TriggerRequestDone(chain_running_ ? kSmtpAborted : kWsaeIntr);
  connected_ = false;
  aborting_ = false;
  SetState(smtpReady);
}

// ---- Commands ------------------------------------------------------------------------------

void TSmtpSession::Helo() { ExecAsync(smtpHelo, "HELO " + SignOnName(), {250}, nullptr); }

void TSmtpSession::Ehlo() {
  CheckReady();
  if (!connected_) throw SmtpException("SMTP component not connected");
  auth_types_.clear();
  starttls_offered_ = false;
  ExecAsync(smtpEhlo, "EHLO " + SignOnName(), {250}, &TSmtpSession::EhloDone);
}

void TSmtpSession::EhloDone() {
  if (!connected_) return;
  if (request_result_ == 0) esmtp_ = true;
  if (request_result_ == 0 && !socket_.TlsActive() &&
      (Security == smtpSecStartTlsIfOffered || Security == smtpSecStartTlsRequired)) {
    if (starttls_offered_) {
      starttls_saved_error_ = error_message_;
      SetState(smtpInternalReady);
      ExecAsync(smtpEhlo, "STARTTLS", {220}, &TSmtpSession::StartTlsReply);
      return;
    }
    if (Security == smtpSecStartTlsRequired) {
      FailSecurity("Le serveur " + Trim(Host) + " ne propose pas STARTTLS", false);
      return;
    }
  }
  TriggerRequestDone(request_result_);
}

void TSmtpSession::RefuseNow(TSmtpRequest rq, const std::string& text) {
  BeginLocalRequest(rq);
  FailSecurity(text, false);
}

void TSmtpSession::MailFrom() {
  CheckReady();
  if (!connected_) throw SmtpException("SMTP component not connected");
  const std::string refusal = SecurityRefusal(Security, socket_.TlsActive(), false, Host);
  if (!refusal.empty()) {
    RefuseNow(smtpMailFrom, refusal);
    return;
  }
  std::string name, address;
  SplitAddress(FromName, name, address);
  ExecAsync(smtpMailFrom, "MAIL FROM:<" + address + ">", {250}, nullptr);
}

void TSmtpSession::RcptTo() {
  if (RcptName.empty()) throw SmtpException("RcptName list is empty");
  CheckReady();
  if (!connected_) throw SmtpException("SMTP component not connected");
  rcpt_index_ = 0;
  RcptToSend();
}

void TSmtpSession::RcptToSend() {
  std::string name, address;
  SplitAddress(RcptName[rcpt_index_], name, address);
  bool last = rcpt_index_ + 1 >= RcptName.size();
  ExecAsync(smtpRcptTo, "RCPT TO:<" + address + ">", {250, 251},
            last ? nullptr : &TSmtpSession::RcptToNext);
}

void TSmtpSession::RcptToNext() {
  if (request_result_ != 0) {
    TSmtpRcptToErrorAction action = srteAbort;
    if (OnRcptToError) OnRcptToError(*this, request_result_, static_cast<int>(rcpt_index_), action);
    if (action == srteRetry) {
      SetState(smtpInternalReady);
      RcptToSend();
      return;
    }
    if (action != srteIgnore) {
      TriggerRequestDone(request_result_);
      return;
    }
  }
  ++rcpt_index_;
  SetState(smtpInternalReady);
  RcptToSend();
}

void TSmtpSession::Quit() {
  if (!connected_) {
    CheckReady();
    BeginLocalRequest(smtpQuit);
    TriggerRequestDone(0);
    return;
  }
  ExecAsync(smtpQuit, "QUIT", {221}, nullptr);
}

void TSmtpSession::Rset() { ExecAsync(smtpRset, "RSET", {250}, nullptr); }

void TSmtpSession::Vrfy() { ExecAsync(smtpVrfy, "VRFY " + HdrTo, {250}, nullptr); }

void TSmtpSession::Open() {
  if (AuthType != smtpAuthNone) {
    StartChain(smtpOpen, {smtpConnect, smtpEhlo, smtpAuth});
  } else if (Security == smtpSecStartTlsRequired) {
    StartChain(smtpOpen, {smtpConnect, smtpEhlo});  // HELO cannot ask for STARTTLS
  } else {
    StartChain(smtpOpen, {smtpConnect, smtpHelo});
  }
}

void TSmtpSession::Mail() {
  if (RcptName.empty()) throw SmtpException("RcptName list is empty");
  StartChain(smtpMail, {smtpMailFrom, smtpRcptTo, smtpData});
}

}  // namespace jumelix
