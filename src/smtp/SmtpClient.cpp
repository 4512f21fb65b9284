#include "smtp/SmtpClient.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>

#include "shared/URoutines.h"
#include "platform/System.h"
#include "smtp/MimeCodec.h"

namespace jumelix {
namespace {

// Messages of the client's own window.
constexpr uint32_t kWmSmtpRequestDone = kWmUser + 1;

constexpr char kDayNames[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr char kMonthNames[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

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

// Cuts a line to at most max bytes without splitting a UTF-8 sequence.
void CutLine(std::string& line, size_t max) {
  if (line.size() <= max) return;
  size_t cut = max;
  while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
  line.resize(cut);
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

const std::string kLigneTropLongue =
    "une ligne de plus de " + std::to_string(kSmtpRcvBufSize) + " octets";

std::string ErrorWithCode(int err) {
  return "500 " + SocketErrorText(err) + " (Winsock error #" + std::to_string(err) + ")";
}

}  // namespace

// ---- Dates and identifiers ----------------------------------------------------------------

std::string SmtpZoneText(int bias_minutes) {
  int b = bias_minutes < 0 ? -bias_minutes : bias_minutes;
  char buf[16];
  std::snprintf(buf, sizeof buf, "%c%02d%02d", bias_minutes < 0 ? '+' : '-', (b / 60) % 100,
                b % 60);
  return buf;
}

std::string SmtpDateText(std::time_t t) {
  std::tm tm{};
  std::string zone;
  if (localtime_r(&t, &tm) != nullptr) {
    zone = SmtpZoneText(static_cast<int>(-tm.tm_gmtoff / 60));
  } else {
    gmtime_r(&t, &tm);
    zone = "-0000";
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s, %d %s %04d %02d:%02d:%02d %s", kDayNames[tm.tm_wday % 7],
                tm.tm_mday, kMonthNames[tm.tm_mon % 12], tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                tm.tm_sec, zone.c_str());
  return buf;
}

std::string NewMessageID(const std::string& host) {
  static thread_local std::mt19937 rng{std::random_device{}()};
  std::uniform_int_distribution<int> dist(0, 32766);
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  std::tm tm{};
  gmtime_r(&ts.tv_sec, &tm);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d%03d.%04X%04X%04X%04X", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                static_cast<int>(ts.tv_nsec / 1000000), dist(rng), dist(rng), dist(rng), dist(rng));
  return std::string(buf) + "@" + host;
}

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
  if (socket_.State() == wsConnected) {
    try {
      // Straight from the secret's buffer: no plain copy on the way.
      socket_.QueueData(cmd.View().data(), static_cast<int>(cmd.size()));
      socket_.SendText("\r\n");
    } catch (const std::exception&) {
      socket_.Abort();
    }
  }
}

void TSmtpSession::ExecAsync(TSmtpRequest rq, const std::string& cmd, std::vector<int> ok,
                             TStep done) {
  PrepareCommand(rq, std::move(ok), done);
  std::string line = CleanCommand(cmd);
  if (OnCommand) OnCommand(*this, line);
  TriggerDisplay("> " + line);
  if (socket_.State() == wsConnected) {
    try {
      socket_.SendText(line + "\r\n");
    } catch (const std::exception&) {
      // A send failure ends the connection; the request completes through the close.
      socket_.Abort();
    }
  }
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
  try {
    socket_.DnsLookup(Host);
  } catch (const std::exception& e) {
    FailConnect(e);
  }
}

void TSmtpSession::FailConnect(const std::exception& e) {
  const char* cls = dynamic_cast<const ESocketException*>(&e) != nullptr ? "ESocketException"
                    : dynamic_cast<const SmtpException*>(&e) != nullptr  ? "SmtpException"
                                                                         : "Exception";
  last_response_ = std::string("500 ") + cls + ": " + e.what();
  status_code_ = 500;
  request_result_ = 500;
  SetErrorMessage(last_response_);
  // The socket's last error tells the cause when there is one; a refusal of the socket
  // layer itself (no port, bad address) has none and must not read as success.
  int le = socket_.LastError();
  TriggerRequestDone(le > 0 && le <= 0xFFFF ? static_cast<uint16_t>(le) : 500);
  try {
    socket_.Abort();  // a socket left open by a refused Connect would refuse the next one
  } catch (const std::exception&) {
  }
}

void TSmtpSession::SocketDnsLookupDone(uint16_t err) {
  if (state_ != smtpDnsLookup && !(aborting_ && state_ == smtpAbort)) return;
  if (err != 0) {
    last_response_ = ErrorWithCode(err);
    status_code_ = 500;
    SetErrorMessage(last_response_);
    request_result_ = err;
    if (OnSessionConnected) OnSessionConnected(*this, err);
    if (OnSessionClosed) OnSessionClosed(*this, err);
    TriggerRequestDone(err);
    return;
  }
  try {
    socket_.SetAddr(socket_.DnsResult());
    socket_.SetLocalAddr(LocalAddr);
    socket_.SetProto("tcp");
    socket_.SetPort(Port);
    socket_.OnSessionConnected = [this](TAsyncSocket&, uint16_t e) { SocketSessionConnected(e); };
    socket_.OnDataAvailable = [this](TAsyncSocket&, uint16_t e) { SocketDataAvailable(e); };
    SetState(smtpConnecting);
    socket_.Connect();
  } catch (const std::exception& e) {
    FailConnect(e);
  }
}

void TSmtpSession::SocketSessionConnected(uint16_t err) {
  if (err != 0) {
    last_response_ = ErrorWithCode(err);
    status_code_ = 500;
    request_result_ = 500;
    SetErrorMessage(last_response_);
    if (OnSessionConnected) OnSessionConnected(*this, err);
    TriggerRequestDone(err);
    socket_.Close();
    SetState(smtpReady);
    return;
  }
  connected_ = true;
  if (Security == smtpSecImplicitTls) {
    // The banner comes encrypted: the handshake first.
    implicit_handshake_ = true;
    socket_.SetTlsCaFile(TlsCaFile);
    socket_.OnTlsDone = [this](TAsyncSocket&, uint16_t e) { TlsDone(e); };
    try {
      socket_.StartTls(Trim(Host));
    } catch (const std::exception& e) {
      FailSecurity(std::string("Échec de la négociation TLS : ") + e.what(), true);
    }
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
  last_response_ = text;
  status_code_ = 500;
  request_result_ = kSmtpSecurityError;
  error_message_ = text;
  TriggerRequestDone(kSmtpSecurityError);
  if (dropConnection) {
    // Whatever follows a failed handshake is neither plain nor encrypted text.
    try {
      socket_.Abort();
    } catch (const std::exception&) {
    }
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
  try {
    socket_.StartTls(Trim(Host));
  } catch (const std::exception& e) {
    FailSecurity(std::string("Échec de la négociation TLS : ") + e.what(), true);
  }
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
  try {
    socket_.Abort();
  } catch (const std::exception&) {
  }
  // Nothing may stay pending: a request that the closing did not end ends here.
  if (!request_done_flag_) TriggerRequestDone(chain_running_ ? kSmtpAborted : kWsaeIntr);
  connected_ = false;
  aborting_ = false;
  SetState(smtpReady);
}

// ---- Replies --------------------------------------------------------------------------------

void TSmtpSession::SocketDataAvailable(uint16_t) {
  if (stop_reading_) {
    char sink[512];
    socket_.Receive(sink, sizeof sink);
    return;
  }
  if (rcv_cnt_ >= kSmtpRcvBufSize) {
    FailReplyTooLong(kLigneTropLongue);
    return;
  }
  int len = socket_.Receive(rcv_buffer_ + rcv_cnt_, kSmtpRcvBufSize - rcv_cnt_);
  if (len <= 0) return;
  rcv_cnt_ += len;
  while (!stop_reading_) {
    char* end = nullptr;
    for (int i = 0; i + 1 < rcv_cnt_; ++i) {
      if (rcv_buffer_[i] == '\r' && rcv_buffer_[i + 1] == '\n') {
        end = rcv_buffer_ + i;
        break;
      }
    }
    if (end == nullptr) {
      if (rcv_cnt_ >= kSmtpRcvBufSize) FailReplyTooLong(kLigneTropLongue);
      return;
    }
    std::string line(rcv_buffer_, end);
    int used = static_cast<int>(end - rcv_buffer_) + 2;
    std::memmove(rcv_buffer_, rcv_buffer_ + used, static_cast<size_t>(rcv_cnt_ - used));
    rcv_cnt_ -= used;
    HandleLine(line);
  }
}

void TSmtpSession::FailReplyTooLong(const std::string& why) {
  rcv_cnt_ = 0;
  stop_reading_ = true;
  last_response_ = "Réponse du serveur trop longue : " + why;
  status_code_ = 500;
  request_result_ = 500;
  SetErrorMessage(last_response_);
  TriggerRequestDone(500);
  try {
    socket_.Abort();
  } catch (const std::exception&) {
  }
}

void TSmtpSession::HandleLine(const std::string& line) {
  // Counted before anything else looks at the line: an endless reply (or endless lines
  // while no command waits) ends the session instead of holding it.
  int code = 0;
  const bool continuation = ParseReplyLine(line, code);
  ++reply_lines_;
  reply_bytes_ += static_cast<int>(line.size()) + 2;
  if (reply_lines_ > kSmtpMaxReplyLines) {
    FailReplyTooLong("plus de " + std::to_string(kSmtpMaxReplyLines) + " lignes");
    return;
  }
  if (reply_bytes_ > kSmtpMaxReplyBytes) {
    FailReplyTooLong("plus de " + std::to_string(kSmtpMaxReplyBytes) + " octets");
    return;
  }
  if (!continuation) {
    reply_lines_ = 0;
    reply_bytes_ = 0;
  }
  last_response_ = line;
  if (OnResponse) OnResponse(*this, line);
  if (fct_ == smtpEhlo) ScanEhloLine(line);
  switch (state_) {
    case smtpWaitingBanner:
      TriggerDisplay("< " + line);
      if (ParseStatus(line)) return;
      if (status_code_ != 220) {
        SetErrorMessage(line);
        request_result_ =
            static_cast<uint16_t>(status_code_ == 0 ? kSmtpNoStatusCode : status_code_);
        stop_reading_ = true;
        // The request completes through the closing, with 10004.
        socket_.Close();
        return;
      }
      SetState(smtpConnected);
      if (OnSessionConnected) OnSessionConnected(*this, 0);
      TriggerRequestDone(0);
      break;
    case smtpWaitingResponse:
      if (!response_step_set_) throw SmtpException("Program error: next step is nil");
      ProcessResponse(line);
      break;
    default:
      TriggerDisplay("< " + line);
      break;
  }
}

bool TSmtpSession::ParseStatus(const std::string& line) {
  return ParseReplyLine(line, status_code_);
}

bool TSmtpSession::ParseReplyLine(const std::string& line, int& status) {
  size_t i = 0;
  const size_t n = line.size();
  while (i < n && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r' || line[i] == '\n')) ++i;
  bool negative = false;
  if (i < n && (line[i] == '+' || line[i] == '-')) negative = line[i++] == '-';
  long value = 0;
  size_t digits = 0;
  while (i < n && line[i] >= '0' && line[i] <= '9') {
    if (value < 65535) value = value * 10 + (line[i] - '0');
    ++i;
    ++digits;
  }
  // A negative number is no reply code: it counts as a line without one.
  status = negative ? 0 : static_cast<int>(std::min<long>(value, 65535));
  return digits > 0 && i < n && line[i] == '-';
}

void TSmtpSession::ProcessResponse(const std::string& line) {
  TriggerDisplay("< " + line);
  if (ParseStatus(line)) return;
  if (status_code_ == 0) status_code_ = kSmtpNoStatusCode;
  if (ok_codes_.empty()) {
    request_result_ = status_code_ < 500 ? 0 : static_cast<uint16_t>(status_code_);
  } else {
    request_result_ = static_cast<uint16_t>(status_code_);
    for (int c : ok_codes_) {
      if (c == status_code_) {
        request_result_ = 0;
        break;
      }
    }
  }
  if (request_result_ != 0) SetErrorMessage(line);
  if (done_async_ != nullptr) {
    TStep step = done_async_;
    (this->*step)();
  } else if (fct_ == smtpQuit && connected_) {
    // QUIT completes when the server closes the connection.
  } else {
    TriggerRequestDone(request_result_);
  }
}

void TSmtpSession::ScanEhloLine(const std::string& line) {
  ScanAuthTypes(line, auth_types_);
  if (done_async_ == &TSmtpSession::EhloDone && line.size() >= 12 &&
      EgauxSansCasseAscii(Trim(line.substr(4)), "STARTTLS")) {
    starttls_offered_ = true;
  }
}

void TSmtpSession::ScanAuthTypes(const std::string& line, std::vector<std::string>& types) {
  std::string s = UpperAscii(Trim(line));
  if (s.size() <= 9) return;
  s.erase(0, 4);
  if (s.compare(0, 5, "AUTH ") != 0 && s.compare(0, 5, "AUTH=") != 0) return;
  std::string rest = s.substr(5);
  std::replace(rest.begin(), rest.end(), '=', ' ');
  size_t pos = 0;
  while (pos < rest.size()) {
    size_t sp = rest.find(' ', pos);
    std::string word = Trim(rest.substr(pos, sp == std::string::npos ? sp : sp - pos));
    // Past the bound only the mechanisms this client speaks still count, so a server
    // cannot make the list grow without end, nor hide them behind junk.
    const bool known =
        word == "PLAIN" || word == "LOGIN" || word == "CRAM-MD5" || word == "CRAM-SHA1";
    if (!word.empty() && (known || types.size() < kSmtpMaxAuthTypes) &&
        std::find(types.begin(), types.end(), word) == types.end()) {
      types.push_back(word);
    }
    if (sp == std::string::npos) break;
    pos = sp + 1;
  }
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
  if (!chain_running_) request_type_ = rq;
  fct_ = rq;
  request_done_flag_ = false;
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
    if (!chain_running_) request_type_ = smtpQuit;
    fct_ = smtpQuit;
    request_done_flag_ = false;
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

// ---- Addresses -------------------------------------------------------------------------------

void TSmtpSession::AddRecipientLists(const std::string& To, const std::string& Cc,
                                     const std::string& Bcc) {
  const std::string all = To + ";" + Cc + ";" + Bcc;
  std::string item;
  bool quoted = false;
  for (char c : all) {
    if (c == '"') quoted = !quoted;
    if (!quoted && (c == ',' || c == ';')) {
      std::string t = Trim(item);
      if (!t.empty()) RcptName.push_back(t);
      item.clear();
    } else {
      item += c;
    }
  }
  std::string t = Trim(item);
  if (!t.empty()) RcptName.push_back(t);
}

void TSmtpSession::SplitAddress(const std::string& Text, std::string& Name, std::string& Address) {
  Name.clear();
  Address.clear();
  size_t i = 0;
  while (i < Text.size() && Text[i] == ' ') ++i;
  auto between = [&Text](size_t lt) {
    size_t gt = Text.find('>', lt + 1);
    return Trim(Text.substr(lt + 1, gt == std::string::npos ? std::string::npos : gt - lt - 1));
  };
  if (i < Text.size() && (Text[i] == '"' || Text[i] == '\'')) {
    size_t close = Text.find(Text[i], i + 1);
    Name = Text.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1);
    size_t after = close == std::string::npos ? Text.size() : close + 1;
    if (Text.find('<') != std::string::npos) {
      size_t lt = Text.find('<', after);
      if (lt != std::string::npos) Address = between(lt);
    } else if (after < Text.size()) {
      Address = Trim(Text.substr(after));
    }
  } else if (size_t lt = Text.find('<'); lt != std::string::npos) {
    Name = Trim(Text.substr(0, lt));
    Address = between(lt);
  } else {
    std::string rest = Text.substr(i);
    size_t sp = rest.find(' ');
    Name = Trim(rest.substr(0, sp));
    if (sp != std::string::npos) Address = Trim(rest.substr(sp + 1));
  }
  if (Address.empty() && Name.find('@') != std::string::npos) {
    Address = Name;
    Name.clear();
  }
}

// ---- Message transfer -----------------------------------------------------------------------

void TSmtpSession::AddAddressHeader(std::vector<std::string>& lines, const std::string& name,
                                    const std::string& value) {
  std::string v = CleanHeaderValue(value);
  if (v.empty()) return;
  if (Allow8bitChars && !FoldHeaders) {
    lines.push_back(name + ": " + v);
    return;
  }
  // Each address of the list with its display name quoted, or encoded when it holds bytes
  // outside printable ASCII and 8-bit characters are not allowed.
  std::vector<std::string> items;
  std::string item;
  bool quoted = false;
  for (char c : v) {
    if (c == '"') quoted = !quoted;
    if (!quoted && c == ',') {
      items.push_back(item);
      item.clear();
    } else {
      item += c;
    }
  }
  items.push_back(item);
  std::string out;
  for (const std::string& it : items) {
    std::string dn, addr;
    SplitAddress(Trim(it), dn, addr);
    std::string one;
    if (dn.empty()) {
      one = addr.empty() ? Trim(it) : addr;
    } else if (!Allow8bitChars && HasNonPrintableBytes(dn)) {
      one = EncodeHeaderWords(dn, "", DefaultEncoding == smtpEncBase64 ? 'B' : 'Q', false, 76,
                              CharSet) +
            " <" + addr + ">";
    } else {
      dn.erase(std::remove(dn.begin(), dn.end(), '"'), dn.end());
      one = "\"" + dn + "\" <" + addr + ">";
    }
    if (!out.empty()) out += ", ";
    out += one;
  }
  std::string line = name + ": " + out;
  if (FoldHeaders && line.size() > 76) {
    FoldHeaderLine(lines, line);
  } else {
    lines.push_back(line);
  }
}

void TSmtpSession::BuildHeaderLines(std::vector<std::string>& lines) {
  AddAddressHeader(lines, "Reply-To", HdrReplyTo);
  AddAddressHeader(lines, "Return-Path", HdrReturnPath);
  AddAddressHeader(lines, "From", HdrFrom);
  AddAddressHeader(lines, "To", HdrTo);
  AddAddressHeader(lines, "Cc", HdrCc);

  std::string subject = CleanHeaderValue(HdrSubject);
  if (!Allow8bitChars && HasNonPrintableBytes(subject)) {
    lines.push_back("Subject: " + EncodeHeaderWords(subject, "",
                                                    DefaultEncoding == smtpEncBase64 ? 'B' : 'Q',
                                                    FoldHeaders, 76, CharSet));
  } else if (FoldHeaders) {
    FoldHeaderLine(lines, "Subject: " + subject);
  } else {
    lines.push_back("Subject: " + subject);
  }

  AddAddressHeader(lines, "Sender", Trim(HdrSender).empty() ? HdrFrom : HdrSender);
  lines.push_back("Mime-Version: 1.0");
  lines.push_back(std::string("Content-Type: ") +
                  (ContentType == smtpHtml ? "text/html" : "text/plain") + "; charset=\"" +
                  CharSet + "\"");
  lines.push_back("Date: " + SmtpDateText(std::time(nullptr)));
  if (HdrPriority != smtpPriorityNone) {
    int p = static_cast<int>(HdrPriority);
    lines.push_back("X-Priority: " + std::to_string(p));
    if (p <= 2) {
      lines.push_back("Priority: urgent");
      lines.push_back("X-MSMail-Priority: High");
    } else if (p == 3) {
      lines.push_back("Priority: Normal");
      lines.push_back("X-MSMail-Priority: Normal");
    } else {
      lines.push_back("Priority: non-urgent");
      lines.push_back("X-MSMail-Priority: Low");
    }
  }
  message_id_ = NewMessageID(LocalHostName());
  lines.push_back("Message-ID: <" + message_id_ + ">");
  if (ConfirmReceipt) AddAddressHeader(lines, "Disposition-Notification-To", HdrFrom);
  lines.push_back("X-Mailer: Postaline");
}

void TSmtpSession::Data() {
  CheckReady();
  if (!connected_) throw SmtpException("SMTP component not connected");
  if (SendMode != smtpToSocket) throw SmtpException("SMTP component: SendMode not supported");
  header_lines_.clear();
  header_index_ = 0;
  data_line_ = 1;
  more_lines_ = true;
  pending_pieces_.clear();
  pending_index_ = 0;
  PrepareData();
  if (!OwnHeaders) {
    BuildHeaderLines(header_lines_);
    if (OnProcessHeader) OnProcessHeader(*this, header_lines_);
    header_lines_.push_back("");
  }
  ExecAsync(smtpData, "DATA", {354}, &TSmtpSession::DataNext);
}

void TSmtpSession::DataNext() {
  if (request_result_ != 0) {
    TriggerRequestDone(request_result_);
    return;
  }
  SetState(smtpInternalReady);
  socket_.OnDataSent = [this](TAsyncSocket&, uint16_t err) { SocketDataSent(err); };
  SendNextDataLine();
}

void TSmtpSession::SocketDataSent(uint16_t) {
  if (!connected_ || state_ != smtpInternalReady || fct_ != smtpData) return;
  SendNextDataLine();
}

void TSmtpSession::SendDataText(const std::string& line) {
  try {
    socket_.QueueData(line.data(), static_cast<int>(line.size()));
    socket_.SendText("\r\n");
  } catch (const std::exception&) {
    socket_.Abort();  // the request completes through the closing
  }
}

void TSmtpSession::SendNextDataLine() {
  std::string line;
  if (header_index_ < header_lines_.size()) {
    line = header_lines_[header_index_++];
    AdjustHeaderLine(line);
    if (OnHeaderLine) OnHeaderLine(*this, line);
    SendDataText(line);
    return;
  }
  if (pending_index_ < pending_pieces_.size()) {
    line = pending_pieces_[pending_index_++];
  } else if (NextBodyLine(line)) {
    // A line holding line breaks goes as several lines, each one dot-stuffed.
    if (line.find_first_of("\r\n") != std::string::npos) {
      pending_pieces_ = SplitAtLineBreaks(line);
      pending_index_ = 1;
      line = pending_pieces_[0];
    }
  } else {
    if (request_done_flag_ || !connected_) return;  // the body source failed the request
    socket_.OnDataSent = nullptr;
    ExecAsync(smtpData, ".", {250}, nullptr);
    return;
  }
  // RFC 5321 allows 998 bytes before CR LF; the stuffed dot counts.
  if (!line.empty() && line[0] == '.') {
    CutLine(line, kSmtpMaxLineLength - 1);
    line.insert(0, 1, '.');
  } else {
    CutLine(line, kSmtpMaxLineLength);
  }
  SendDataText(line);
}

bool TSmtpSession::ComposeMessage(std::vector<std::string>& lines) {
  CheckReady();
  lines.clear();
  error_message_.clear();
  header_lines_.clear();
  data_line_ = 1;
  more_lines_ = true;
  request_done_flag_ = false;
  composing_ = true;
  PrepareData();
  if (!OwnHeaders) {
    BuildHeaderLines(header_lines_);
    if (OnProcessHeader) OnProcessHeader(*this, header_lines_);
    header_lines_.push_back("");
  }
  for (std::string line : header_lines_) {
    AdjustHeaderLine(line);
    if (OnHeaderLine) OnHeaderLine(*this, line);
    for (const std::string& piece : SplitAtLineBreaks(line)) lines.push_back(piece);
  }
  std::string line;
  while (!request_done_flag_ && NextBodyLine(line)) {
    for (std::string piece : SplitAtLineBreaks(line)) {
      CutLine(piece, kSmtpMaxLineLength);
      lines.push_back(std::move(piece));
    }
  }
  composing_ = false;
  const bool ok = !request_done_flag_;
  request_done_flag_ = true;
  return ok;
}

bool TSmtpSession::GetDataLine(std::string& line, int maxLength) {
  if (!more_lines_ || !OnGetData) return false;
  std::string buf;
  bool more = true;
  try {
    OnGetData(*this, data_line_, buf, maxLength + 1, more);
  } catch (...) {
    more_lines_ = false;  // a failing handler ends the body; the message closes normally
    return false;
  }
  ++data_line_;
  if (!more) {
    more_lines_ = false;
    return false;
  }
  CutLine(buf, static_cast<size_t>(maxLength));
  line = std::move(buf);
  return true;
}

bool TSmtpSession::NextBodyLine(std::string& line) { return GetDataLine(line); }

void TSmtpSession::FailData(uint16_t code, const std::string& message) {
  last_response_ = message;
  status_code_ = code;
  request_result_ = code;
  SetErrorMessage(message);
  if (composing_) {  // no session to end: ComposeMessage reports it
    request_done_flag_ = true;
    return;
  }
  socket_.OnDataSent = nullptr;
  TriggerRequestDone(code);
  // The message is incomplete: the connection is dropped so that the server discards it.
  try {
    socket_.Abort();
  } catch (const std::exception&) {
  }
}

// ---- Client: message text and attachments ---------------------------------------------------

struct TSmtpClient::Attachment {
  std::ifstream in;
  std::vector<std::string> header;
  size_t header_index = 0;
  bool more = true;
};

TSmtpClient::TSmtpClient() = default;
TSmtpClient::~TSmtpClient() = default;

void TSmtpClient::SetEmailFiles(const std::vector<std::string>& files) {
  for (const std::string& f : files) {
    struct stat st {};
    if (stat(f.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
      throw SmtpException("File not found '" + f + "'");
    }
  }
  email_files_ = files;
}

void TSmtpClient::PrepareData() {
  encoding_ = DefaultEncoding;
  boundary_.clear();
  mime_preamble_.clear();
  preamble_index_ = 0;
  text_lines_.clear();
  text_index_ = 0;
  data_pieces_.clear();
  data_piece_index_ = 0;
  body_stage_ = 0;
  attachment_.reset();
  file_index_ = 0;
  closing_boundary_sent_ = false;

  bool eight_bit = false;
  for (const std::string& l : MailMessage) {
    for (char c : l) {
      if (static_cast<unsigned char>(c) >= 128) eight_bit = true;
    }
  }
  if (eight_bit && !Allow8bitChars && (encoding_ == smtpEnc7bit || encoding_ == smtpEnc8bit)) {
    encoding_ = smtpEncQuotedPrintable;
  }

  if (encoding_ == smtpEncBase64) {
    std::string all;
    for (const std::string& l : MailMessage) all += l + "\r\n";
    size_t pos = 1;
    while (pos <= all.size()) {
      std::string out;
      ToBase64Line(all, 76, pos, out);
      text_lines_.push_back(out);
    }
  } else {
    for (const std::string& src : MailMessage) {
      for (const std::string& l : SplitAtLineBreaks(src)) {
        if (encoding_ == smtpEncQuotedPrintable) {
          AppendQuotedPrintableLines(l, text_lines_);
        } else if (WrapMessageText) {
          size_t pos = 1;
          std::string piece;
          do {
            NextFoldSegment(l, "\r\n", kTextBreakChars, piece, pos, "", 76);
            while (!piece.empty() && (piece.back() == ' ' || piece.back() == '\t'))
              piece.pop_back();
            text_lines_.push_back(piece);
          } while (pos != kFoldEnd);
        } else {
          text_lines_.push_back(l);
        }
      }
    }
  }

  if (!email_files_.empty()) {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d%02d%02d%02d%02d", tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_year % 100, tm.tm_hour, tm.tm_min);
    boundary_ = std::string("= Multipart Boundary ") + stamp;
    mime_preamble_ = {"This is a multipart MIME message.",
                      "",
                      "--" + boundary_,
                      std::string("Content-Type: ") +
                          (ContentType == smtpHtml ? "text/html" : "text/plain") + "; charset=\"" +
                          CharSet + "\"",
                      std::string("Content-Transfer-Encoding: ") + EncodingName(encoding_),
                      ""};
  }
}

void TSmtpClient::AdjustHeaderLine(std::string& line) {
  if (!boundary_.empty()) {
    if (StartsWithNoCase(line, "CONTENT-TYPE:")) {
      line = "Content-Type: multipart/mixed;\r\n\tboundary=\"" + boundary_ + "\"";
    }
  } else if (StartsWithNoCase(line, "CONTENT-TYPE: TEXT") && encoding_ != smtpEnc7bit) {
    line += std::string("\r\nContent-Transfer-Encoding: ") + EncodingName(encoding_);
  }
}

bool TSmtpClient::NextBodyLine(std::string& line) {
  while (true) {
    switch (body_stage_) {
      case 0:
        if (!boundary_.empty() && preamble_index_ < mime_preamble_.size()) {
          line = mime_preamble_[preamble_index_++];
          return true;
        }
        body_stage_ = 1;
        break;
      case 1:
        if (text_index_ < text_lines_.size()) {
          line = text_lines_[text_index_++];
          return true;
        }
        body_stage_ = 2;
        break;
      case 2:
        if (encoding_ != smtpEncQuotedPrintable) {
          if (GetDataLine(line)) return true;
          body_stage_ = 3;
          break;
        }
        // Each line of the handler is encoded in turn; its soft breaks keep it whole.
        if (data_piece_index_ < data_pieces_.size()) {
          line = data_pieces_[data_piece_index_++];
          return true;
        }
        if (GetDataLine(line, kSmtpMaxEncodedLineLength)) {
          data_pieces_.clear();
          data_piece_index_ = 0;
          for (const std::string& l : SplitAtLineBreaks(line)) {
            AppendQuotedPrintableLines(l, data_pieces_);
          }
          break;
        }
        body_stage_ = 3;
        break;
      case 3:
        if (!email_files_.empty() && NextAttachmentLine(line)) return true;
        body_stage_ = 4;
        break;
      default:
        return false;
    }
  }
}

bool TSmtpClient::OpenNextAttachment() {
  while (file_index_ < email_files_.size()) {
    const int idx = static_cast<int>(file_index_);
    const std::string path = email_files_[file_index_];
    TSmtpBeforeOpenFileAction before = smtpBeforeOpenFileNext;
    if (OnBeforeFileOpen) OnBeforeFileOpen(*this, idx, path, before);
    if (before == smtpBeforeOpenFileSkip) {
      ++file_index_;
      continue;
    }
    if (before == smtpBeforeOpenFileAbort) {
      FailData(500, "500 Attachment '" + path + "' refused by the caller");
      return false;
    }
    auto att = std::make_unique<Attachment>();
    att->in.open(path, std::ios::binary);
    std::string error;
    if (!att->in) error = platform::SystemErrorText(errno);
    TSmtpAfterOpenFileAction after = error.empty() ? smtpAfterOpenFileNext : smtpAfterOpenFileAbort;
    if (OnAfterFileOpen) OnAfterFileOpen(*this, idx, path, error, after);
    if (after == smtpAfterOpenFileSkip || (!error.empty() && after == smtpAfterOpenFileNext)) {
      ++file_index_;
      continue;
    }
    if (after == smtpAfterOpenFileAbort) {
      // A mail must not go out without an attachment it announces.
      FailData(500, "500 Cannot open attachment '" + path + "'" +
                        (error.empty() ? std::string() : ": " + error));
      return false;
    }
    std::string base = path.substr(path.find_last_of('/') + 1);
    std::string type = ContentTypeFromFileName(base);
    if (OnAttachContentType) OnAttachContentType(*this, idx, base, type);
    att->header = {"",
                   "--" + boundary_,
                   "Content-Type: " + type + ";",
                   "\tname=\"" + base + "\"",
                   "Content-Transfer-Encoding: base64",
                   "Content-Disposition: attachment;",
                   "\tfilename=\"" + base + "\"",
                   ""};
    if (OnAttachHeader) OnAttachHeader(*this, idx, base, att->header);
    attachment_ = std::move(att);
    return true;
  }
  return false;
}

bool TSmtpClient::NextAttachmentLine(std::string& line) {
  while (true) {
    if (!attachment_) {
      if (request_done_flag_) return false;
      if (!OpenNextAttachment()) {
        if (request_done_flag_ || closing_boundary_sent_) return false;
        closing_boundary_sent_ = true;
        line = "--" + boundary_ + "--";
        return true;
      }
    }
    Attachment& a = *attachment_;
    if (a.header_index < a.header.size()) {
      line = a.header[a.header_index++];
      return true;
    }
    if (a.more) {
      ToBase64FromStream(a.in, line, a.more);
      if (!line.empty()) return true;
    }
    attachment_.reset();
    ++file_index_;
  }
}

}  // namespace jumelix
