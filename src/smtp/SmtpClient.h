// An event-driven SMTP client. Each request (Connect, Helo, Ehlo, Auth, MailFrom, RcptTo,
// Data, Quit, ...) sends its command and returns at once; its end is reported later by
// OnRequestDone, always from a posted message of the client's own message window, so a
// handler may start the next request directly. Everything runs on the thread that created
// the object and progresses only while that thread's TMessageLoop is pumped. Misuse
// (request while busy or not connected, empty recipient list) throws SmtpException;
// transport and protocol failures arrive as the error code of OnRequestDone, with the
// first failing reply (or the client's own text) in ErrorMessage().
//
// Decisions of this client where a choice was open:
// - Auto-selected authentication falls back silently: a 504 to AUTH CRAM-MD5 leads on to
//   AUTH LOGIN and a 504 to AUTH LOGIN to AUTH PLAIN without any intermediate completion;
//   OnRequestDone fires once, with the outcome of the last mechanism tried.
// - Replies are bounded: a line that does not fit the 4096-byte receive buffer, a reply of
//   more than kSmtpMaxReplyLines lines or kSmtpMaxReplyBytes bytes fails the request with
//   500 and a French ErrorMessage ("Réponse du serveur trop longue : ..."), and the
//   connection is dropped (nothing that follows on it could be trusted). The same holds
//   for lines the server sends while no command waits. The AUTH list keeps at most
//   kSmtpMaxAuthTypes mechanisms.
// - Body lines go out at most kSmtpMaxLineLength bytes before CR LF, the stuffed dot
//   included; a longer line is cut on a UTF-8 boundary. Under quoted-printable
//   (DefaultEncoding), the lines of OnGetData are encoded too, with soft line breaks, so a
//   long line reaches the reader whole.
// - PLAIN sends an empty authorisation identity: "\0" + Username + "\0" + Password.
// - Header values have their CR and LF turned into spaces, and a body line holding CR or
//   LF is sent as several lines (each dot-stuffed), so no caller text can end the message
//   early or inject commands or headers.
//
// Typical use (chain the requests from OnRequestDone):
//   TSmtpClient c;
//   c.Host = "127.0.0.1"; c.Port = "2525"; c.HdrFrom = "Me <me@x.org>"; c.FromName = "me@x.org";
//   c.RcptName = {"you@y.org"}; c.HdrTo = "you@y.org"; c.HdrSubject = "Hello";
//   c.OnGetData = [&](TSmtpSession&, int n, std::string& line, int, bool& more) {
//     if (n <= (int)body.size()) line = body[n - 1]; else more = false; };
//   c.OnRequestDone = [&](TSmtpSession& s, TSmtpRequest rq, uint16_t err) {
//     if (err) { /* failed: s.ErrorMessage() */ return; }
//     switch (rq) { case smtpConnect: s.Helo(); break; case smtpHelo: s.MailFrom(); break;
//       case smtpMailFrom: s.RcptTo(); break; case smtpRcptTo: s.Data(); break;
//       case smtpData: s.Quit(); break; default: done = true; } };
//   c.Connect();   // then pump TMessageLoop::Current() until done
//
// Security (TSmtpSecurity): with implicit TLS, Connect runs the TLS handshake before it
// reads the banner. With STARTTLS, Ehlo sends EHLO, then STARTTLS, runs the handshake and
// sends EHLO again, all under the one Ehlo completion. Certificates are checked against
// the system's trust store (plus TlsCaFile) and the name in Host. Auth and MailFrom refuse
// to go on a connection that the chosen security does not allow (SecurityRefusal). These
// refusals and TLS failures complete with kSmtpSecurityError and a French ErrorMessage.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "net/AsyncSocket.h"
#include "platform/Secret.h"

namespace jumelix {

// Raised by the client for misuse; a message text only.
class SmtpException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum TSmtpState {
  smtpReady,
  smtpDnsLookup,
  smtpConnecting,
  smtpConnected,
  smtpInternalReady,
  smtpWaitingBanner,
  smtpWaitingResponse,
  smtpAbort
};

enum TSmtpAuthType {
  smtpAuthNone,
  smtpAuthPlain,
  smtpAuthLogin,
  smtpAuthCramMD5,
  smtpAuthCramSha1,
  smtpAuthAutoSelect,
  // OAuth 2: Password holds the access token, Username the account. AUTH XOAUTH2, or RFC
  // 7628's OAUTHBEARER when the server announces only that; over TLS only, whatever
  // Security says (the token would give the account to whoever reads it).
  smtpAuthXOAuth2
};

enum TSmtpPriority {
  smtpPriorityNone,
  smtpPriorityHighest,
  smtpPriorityHigh,
  smtpPriorityNormal,
  smtpPriorityLow,
  smtpPriorityLowest
};

// How the session protects the connection.
enum TSmtpSecurity {
  // STARTTLS when the EHLO reply offers it; otherwise in clear, but a password never goes
  // in clear to a host other than this machine.
  smtpSecStartTlsIfOffered,
  smtpSecStartTlsRequired,  // STARTTLS, or the session stops before AUTH and MAIL
  smtpSecImplicitTls,       // TLS from the first byte (the submissions port, 465)
  smtpSecNone               // never TLS; everything in clear, as the user chose
};

enum TSmtpDefaultEncoding { smtpEnc7bit, smtpEnc8bit, smtpEncQuotedPrintable, smtpEncBase64 };
enum TSmtpSendMode { smtpToSocket, smtpToStream, smtpCopyToStream };
enum TSmtpContentType { smtpHtml, smtpPlainText };
enum TSmtpShareMode {
  smtpShareCompat,
  smtpShareExclusive,
  smtpShareDenyWrite,
  smtpShareDenyRead,
  smtpShareDenyNone
};

// Request kinds, passed to OnRequestDone.
enum TSmtpRequest {
  smtpConnect = 0,
  smtpHelo = 1,
  smtpMailFrom = 2,
  smtpVrfy = 3,
  smtpRcptTo = 4,
  smtpData = 5,
  smtpQuit = 6,
  smtpRset = 7,
  smtpOpen = 8,
  smtpMail = 9,
  smtpEhlo = 10,
  smtpAuth = 11
};

// What to do after a refused recipient (OnRcptToError): stop with the error (default),
// send the same recipient again, or go on with the next one.
enum TSmtpRcptToErrorAction { srteAbort, srteRetry, srteIgnore };

// What to do with an attachment before and after opening it.
enum TSmtpBeforeOpenFileAction {
  smtpBeforeOpenFileNext,
  smtpBeforeOpenFileSkip,
  smtpBeforeOpenFileAbort
};
enum TSmtpAfterOpenFileAction {
  smtpAfterOpenFileNext,
  smtpAfterOpenFileSkip,
  smtpAfterOpenFileAbort
};

// Completion codes of the client besides reply codes and socket codes.
constexpr uint16_t kSmtpNoStatusCode = 20600;  // a reply line without a number
constexpr uint16_t kSmtpAborted = 426;         // a chained request stopped by Abort
// TLS failed (handshake, certificate, STARTTLS missing or refused) or the security setting
// forbade the command; ErrorMessage() says why, in French.
constexpr uint16_t kSmtpSecurityError = 9000;

// Size of the reply buffer and of the line buffer of the message transfer.
constexpr int kSmtpRcvBufSize = 4096;
constexpr int kSmtpLineBufSize = 1024;
// The longest text line of a message, CR LF excluded (RFC 5321).
constexpr int kSmtpMaxLineLength = 998;
// The longest line OnGetData may give under quoted-printable, which wraps it on the wire.
constexpr int kSmtpMaxEncodedLineLength = 65536;
// Bounds of one reply (all its continuation lines) and of the AUTH list.
constexpr int kSmtpMaxReplyLines = 200;
constexpr int kSmtpMaxReplyBytes = 64 * 1024;
constexpr size_t kSmtpMaxAuthTypes = 32;

class TSmtpSession;

using TSmtpDisplay = std::function<void(TSmtpSession& Sender, const std::string& Msg)>;
using TSmtpRequestDone =
    std::function<void(TSmtpSession& Sender, TSmtpRequest RqType, uint16_t ErrorCode)>;
using TSmtpSessionEvent = std::function<void(TSmtpSession& Sender, uint16_t ErrCode)>;
// Body line `LineNum` (from 1): set MsgLine (at most MaxLen bytes; longer is cut) or
// clear More to end the body.
using TSmtpGetData = std::function<void(TSmtpSession& Sender, int LineNum, std::string& MsgLine,
                                        int MaxLen, bool& More)>;
using TSmtpHeaderLine = std::function<void(TSmtpSession& Sender, std::string& Line)>;
using TSmtpProcessHeader =
    std::function<void(TSmtpSession& Sender, std::vector<std::string>& HdrLines)>;
using TSmtpRcptToError = std::function<void(TSmtpSession& Sender, uint16_t ErrorCode,
                                            int RcptNameIdx, TSmtpRcptToErrorAction& Action)>;
using TSmtpBeforeFileOpen = std::function<void(
    TSmtpSession& Sender, int Idx, const std::string& FileName, TSmtpBeforeOpenFileAction& Action)>;
// ErrorText is empty when the file opened.
using TSmtpAfterFileOpen =
    std::function<void(TSmtpSession& Sender, int Idx, const std::string& FileName,
                       const std::string& ErrorText, TSmtpAfterOpenFileAction& Action)>;
using TSmtpAttachContentType = std::function<void(TSmtpSession& Sender, int FileNumber,
                                                  std::string& FileName, std::string& ContentType)>;
using TSmtpAttachHeader =
    std::function<void(TSmtpSession& Sender, int FileNumber, const std::string& FileName,
                       std::vector<std::string>& Header)>;

// The SMTP session: requests, replies, authentication and the plain message (generated
// header lines, then the lines of OnGetData).
class TSmtpSession {
 public:
  TSmtpSession();
  virtual ~TSmtpSession();
  TSmtpSession(const TSmtpSession&) = delete;
  TSmtpSession& operator=(const TSmtpSession&) = delete;

  // ---- Requests: each returns at once, OnRequestDone reports the end ----
  void Connect();  // resolve Host, connect, read the 220 banner
  void Helo();
  void Ehlo();
  void Auth();      // AuthType; needs a successful Ehlo
  void MailFrom();  // "MAIL FROM:<" + address of FromName + ">"
  void RcptTo();    // one RCPT TO per RcptName entry; throws when RcptName is empty
  void Data();      // DATA, header and body lines, "."
  void Quit();      // completes when the server has closed the connection
  void Rset();
  void Vrfy();  // VRFY HdrTo
  void Open();  // chained: Connect, then Ehlo and Auth (AuthType set) or Helo
  void Mail();  // chained: MailFrom, RcptTo, Data
  // Drops the connection at once; a running chained request completes with 426.
  void Abort();
  // The message that Data would send, without a connection: header lines (OnProcessHeader
  // and OnHeaderLine applied), the empty line, then the body lines, split at their line
  // breaks and cut to kSmtpMaxLineLength bytes, not dot-stuffed. For a local mailer
  // (sendmail -i). False, with ErrorMessage() set, when the body could not be made (an
  // attachment that cannot be read). Needs the client ready (SmtpException otherwise).
  bool ComposeMessage(std::vector<std::string>& lines);

  // Appends the items of the three lists (split at "," and ";" outside double quotes,
  // trimmed, empty ones skipped) to RcptName.
  void AddRecipientLists(const std::string& To, const std::string& Cc, const std::string& Bcc);
  // Splits "Name <addr>", "\"Name\" <addr>", "addr" into a display name and an address; a
  // lone word without "@" gives an empty address.
  static void SplitAddress(const std::string& Text, std::string& Name, std::string& Address);
  // The reply-line rules of the session as pure functions (fuzz tests reach them here):
  // the status code a reply line carries (0 when none, at most 65535) and whether the line
  // announces a continuation ("250-..."); and the mechanisms an EHLO reply line announces
  // ("250-AUTH LOGIN PLAIN"), upper case, appended to `types` without repeats; past
  // kSmtpMaxAuthTypes entries only the four mechanisms of Auth are still added.
  static bool ParseReplyLine(const std::string& line, int& status);
  static void ScanAuthTypes(const std::string& line, std::vector<std::string>& types);
  // Why the session must not send the credentials (`authenticating`) or a message over a
  // connection to `host` that is encrypted or not (`tlsActive`) under `mode`; the empty
  // text when it may.
  static std::string SecurityRefusal(TSmtpSecurity mode, bool tlsActive, bool authenticating,
                                     const std::string& host);
  // "localhost", 127.x.x.x and ::1: a password sent there never crosses a network.
  static bool IsLoopbackHost(const std::string& host);

  // ---- Settings ----
  std::string Host;
  std::string LocalAddr = "0.0.0.0";
  std::string Port = "smtp";
  std::string SignOn;  // greeting name; empty: the local host name
  std::string Username;
  // Wiped once AUTH has ended (whatever its outcome) and with the client; the AUTH lines
  // made from it are built in buffers of their own, wiped once sent, and the traces
  // (OnCommand, OnDisplay) show them as "****".
  TSecret Password;
  TSmtpAuthType AuthType = smtpAuthNone;
  TSmtpSecurity Security = smtpSecStartTlsIfOffered;
  // A CA certificate file (PEM) trusted besides the system store; empty: the system store
  // only. For tests and private authorities.
  std::string TlsCaFile;
  bool ConfirmReceipt = false;
  std::string FromName;               // envelope sender (its address part is used)
  std::vector<std::string> RcptName;  // envelope recipients
  std::vector<std::string> MailMessage;
  std::string HdrFrom, HdrTo, HdrCc, HdrReplyTo, HdrReturnPath, HdrSubject, HdrSender;
  TSmtpPriority HdrPriority = smtpPriorityNone;
  // The texts of this program are UTF-8, so that is what the message declares.
  std::string CharSet = "utf-8";
  // Only smtpToSocket is implemented: Data refuses the stream modes (SmtpException).
  TSmtpSendMode SendMode = smtpToSocket;
  TSmtpDefaultEncoding DefaultEncoding = smtpEnc7bit;
  bool Allow8bitChars = true;
  bool FoldHeaders = false;
  bool WrapMessageText = false;
  TSmtpContentType ContentType = smtpPlainText;
  intptr_t Tag = 0;
  // True: no header is generated; the body lines carry the header and its empty line.
  bool OwnHeaders = false;
  // Kept for compatibility; Linux has no sharing modes, attachments are opened read-only.
  TSmtpShareMode ShareMode = smtpShareDenyWrite;

  // ---- State (read only) ----
  TSmtpState State() const { return state_; }
  const std::string& ErrorMessage() const { return error_message_; }
  const std::string& LastResponse() const { return last_response_; }
  int StatusCode() const { return status_code_; }
  bool Connected() const { return connected_; }
  bool IsESMTP() const { return esmtp_; }
  // The EHLO reply offered STARTTLS; the connection is encrypted now.
  bool StartTlsOffered() const { return starttls_offered_; }
  bool TlsActive() const { return socket_.TlsActive(); }
  // Mechanisms announced by the server in its EHLO reply, upper case.
  const std::vector<std::string>& AuthTypesSupported() const { return auth_types_; }
  TSmtpRequest RequestType() const { return request_type_; }
  // The identifier of the last message built by Data (without angle brackets).
  const std::string& MessageID() const { return message_id_; }
  TAsyncSocket& CtrlSocket() { return socket_; }

  // ---- Events ----
  TSmtpDisplay OnDisplay;              // trace lines: "> command", "< reply"
  TSmtpDisplay OnCommand;              // each command line sent
  TSmtpDisplay OnResponse;             // each reply line received
  TSmtpGetData OnGetData;              // body lines
  TSmtpHeaderLine OnHeaderLine;        // each header line just before it is sent
  TSmtpProcessHeader OnProcessHeader;  // the whole generated header, once per Data
  TSmtpRcptToError OnRcptToError;
  TSmtpRequestDone OnRequestDone;
  TSmtpSessionEvent OnSessionConnected;
  TSmtpSessionEvent OnSessionClosed;

 protected:
  // Message composition hooks (TSmtpClient adds MIME text and attachments).
  virtual void PrepareData() {}
  virtual void BuildHeaderLines(std::vector<std::string>& lines);
  virtual void AdjustHeaderLine(std::string& /*line*/) {}
  // The next body line; false when the body has ended.
  virtual bool NextBodyLine(std::string& line);
  // From OnGetData, at most maxLength bytes (the handler is offered maxLength + 1).
  bool GetDataLine(std::string& line, int maxLength = kSmtpMaxLineLength);
  void FailData(uint16_t code, const std::string& message);

  const std::vector<std::string>& HeaderLines() const { return header_lines_; }

 private:
  using TStep = void (TSmtpSession::*)();

  void CheckReady() const;
  void SetState(TSmtpState s);
  void ExecAsync(TSmtpRequest rq, const std::string& cmd, std::vector<int> ok, TStep done);
  // The same for a command that carries a credential: `shown` goes to the traces.
  void ExecAsyncSecret(TSmtpRequest rq, const TSecret& cmd, const std::string& shown,
                       std::vector<int> ok, TStep done);
  void PrepareCommand(TSmtpRequest rq, std::vector<int> ok, TStep done);
  // A request that ends before any command goes out (a refusal of the client itself).
  void BeginLocalRequest(TSmtpRequest rq);

  // How a failed request leaves the connection: as it is, closed in order, or dropped
  // (nothing that follows on it could be trusted).
  enum class TLinkAfterFailure { kept, closed, dropped };
  // One failure of the current request.
  struct TFailure {
    std::string text;             // LastResponse, and ErrorMessage unless one is set
    uint16_t result = 500;        // the request's result
    uint16_t done = 0;            // the code of OnRequestDone; 0: the result
    int status = 500;             // StatusCode
    bool replace_error = false;   // the text replaces an ErrorMessage set before
    bool tell_connected = false;  // OnSessionConnected hears the code first
    bool tell_closed = false;     // and OnSessionClosed
    TLinkAfterFailure link = TLinkAfterFailure::kept;
  };
  // The one way a request fails: the session's texts and codes, the events, the
  // completion, then the connection as `failure.link` says. While ComposeMessage runs
  // there is no session: only the texts and codes are set.
  void FailRequest(const TFailure& failure);
  void TriggerRequestDone(uint16_t err);
  void TriggerDisplay(const std::string& msg);
  void HandleWindowMessage(uint32_t msg, uintptr_t w, intptr_t l);
  void SetErrorMessage(const std::string& text);
  std::string SignOnName() const;
  void StartChain(TSmtpRequest rq, std::vector<TSmtpRequest> steps);

  // Socket events.
  void SocketDnsLookupDone(uint16_t err);
  void SocketSessionConnected(uint16_t err);
  void SocketDataAvailable(uint16_t err);
  void SocketSessionClosed(uint16_t err);
  void SocketDataSent(uint16_t err);

  void HandleLine(const std::string& line);
  void ScanEhloLine(const std::string& line);
  void ProcessResponse(const std::string& line);
  bool ParseStatus(const std::string& line);  // true for a continuation line
  void FailReplyTooLong(const std::string& why);

  // Continuation steps.
  void EhloDone();
  void StartTlsReply();
  void TlsDone(uint16_t err);
  void EhloAfterTlsDone();
  void FailSecurity(const std::string& text, bool dropConnection);
  void FailSocket(const TSocketResult& result);
  void StartTls();  // the handshake on the connection, with OnTlsDone set
  void RefuseNow(TSmtpRequest rq, const std::string& text);
  void RcptToNext();
  void DataNext();
  void SendNextDataLine();
  // Authentication (SmtpAuth.cpp): a mechanism of the table from its first command, the
  // line of the current step, the reply to it.
  void AuthStart(TSmtpAuthType type);
  void AuthSend();
  void AuthReply();
  void RcptToSend();
  void StartStep(TSmtpRequest rq);
  void SendLine(std::string_view line);
  void AddAddressHeader(std::vector<std::string>& lines, const std::string& name,
                        const std::string& value);

  TAsyncSocket socket_;
  std::unique_ptr<TMessageWindow> window_;

  TSmtpState state_ = smtpReady;
  bool connected_ = false;
  bool esmtp_ = false;
  bool starttls_offered_ = false;
  bool implicit_handshake_ = false;   // Connect waits for the TLS handshake, not yet the banner
  std::string starttls_saved_error_;  // ErrorMessage before STARTTLS, back if it is refused
  std::vector<std::string> auth_types_;
  TSmtpRequest request_type_ = smtpConnect;
  TSmtpRequest fct_ = smtpConnect;  // function in progress, chained or not
  std::vector<int> ok_codes_;
  TStep done_async_ = nullptr;
  bool response_step_set_ = false;
  int status_code_ = 0;
  uint16_t request_result_ = 0;
  bool request_done_flag_ = true;
  std::string error_message_;
  std::string last_response_;
  char rcv_buffer_[kSmtpRcvBufSize];
  int rcv_cnt_ = 0;
  int reply_lines_ = 0;  // lines and bytes of the reply being read
  int reply_bytes_ = 0;
  bool aborting_ = false;
  bool stop_reading_ = false;

  // Chained requests (Open, Mail).
  bool chain_running_ = false;
  std::vector<TSmtpRequest> chain_steps_;

  // Recipients, authentication, message transfer.
  size_t rcpt_index_ = 0;
  bool auth_auto_ = false;
  std::string auth_saved_error_;  // ErrorMessage before AUTH, restored on a fallback
  TSmtpAuthType auth_type_ = smtpAuthNone;  // the mechanism being run
  size_t auth_step_ = 0;                    // 0: its first command; n: its answer to challenge n
  std::string auth_detail_;                 // the server's explanation of a refused token
  bool composing_ = false;        // ComposeMessage is running: no socket, no completion
  std::vector<std::string> header_lines_;
  size_t header_index_ = 0;
  int data_line_ = 0;  // next OnGetData line number
  bool more_lines_ = true;
  std::string message_id_;
  std::vector<std::string> pending_pieces_;  // parts of a body line split at CR/LF
  size_t pending_index_ = 0;

  friend class TSmtpClient;
};

// TSmtpSession plus the message text (MailMessage, with its transfer encoding) and
// attachments (EmailFiles, sent in Base64 in a multipart message).
class TSmtpClient : public TSmtpSession {
 public:
  TSmtpClient();
  ~TSmtpClient() override;

  // Files to attach; throws SmtpException "File not found '<name>'" for a missing file.
  void SetEmailFiles(const std::vector<std::string>& files);
  const std::vector<std::string>& EmailFiles() const { return email_files_; }

  TSmtpBeforeFileOpen OnBeforeFileOpen;
  TSmtpAfterFileOpen OnAfterFileOpen;
  TSmtpAttachContentType OnAttachContentType;
  TSmtpAttachHeader OnAttachHeader;

 protected:
  void PrepareData() override;
  void AdjustHeaderLine(std::string& line) override;
  bool NextBodyLine(std::string& line) override;

 private:
  struct Attachment;
  bool NextMessageTextLine(std::string& line);
  bool NextAttachmentLine(std::string& line);
  bool OpenNextAttachment();
  bool closing_boundary_sent_ = false;

  std::vector<std::string> email_files_;
  std::string boundary_;
  TSmtpDefaultEncoding encoding_ = smtpEnc7bit;
  std::vector<std::string> mime_preamble_;
  size_t preamble_index_ = 0;
  std::vector<std::string> text_lines_;  // MailMessage ready to send
  size_t text_index_ = 0;
  std::vector<std::string> data_pieces_;  // one OnGetData line, quoted-printable
  size_t data_piece_index_ = 0;
  int body_stage_ = 0;  // 0 preamble, 1 message text, 2 OnGetData, 3 attachments, 4 end
  std::unique_ptr<Attachment> attachment_;
  size_t file_index_ = 0;
};

// Date header text for t in the local time zone: "Sun, 6 Dec 2026 23:07:45 +0100" (English
// names whatever the locale).
std::string SmtpDateText(std::time_t t);
// The zone part for a bias in minutes (UTC minus local time): "-" + hhmm, "+" when the
// bias is negative, so UTC itself gives "-0000".
std::string SmtpZoneText(int bias_minutes);
// A new message identifier: UTC "yyyymmddhhnnsszzz" + "." + 16 uppercase hex digits +
// "@" + host.
std::string NewMessageID(const std::string& host);

}  // namespace jumelix
