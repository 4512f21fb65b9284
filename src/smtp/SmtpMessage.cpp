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
#include "smtp/SmtpClient.h"
#include "smtp/SmtpInterne.h"

// What the SMTP session sends as a message: recipients and addresses, the header lines,
// the DATA transfer line by line, and the client's body text and attachments.
namespace jumelix {

using namespace smtp_interne;

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

void TSmtpSession::SendNextDataLine() {
  std::string line;
  if (header_index_ < header_lines_.size()) {
    line = header_lines_[header_index_++];
    AdjustHeaderLine(line);
    if (OnHeaderLine) OnHeaderLine(*this, line);
    SendLine(line);
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
    CouperOctets(line, kSmtpMaxLineLength - 1);
    line.insert(0, 1, '.');
  } else {
    CouperOctets(line, kSmtpMaxLineLength);
  }
  SendLine(line);
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
      CouperOctets(piece, kSmtpMaxLineLength);
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
  CouperOctets(buf, static_cast<size_t>(maxLength));
  line = std::move(buf);
  return true;
}

bool TSmtpSession::NextBodyLine(std::string& line) { return GetDataLine(line); }

void TSmtpSession::FailData(uint16_t code, const std::string& message) {
  if (!composing_) socket_.OnDataSent = nullptr;
  // The message is incomplete: the connection is dropped so that the server discards it.
  FailRequest(
      {.text = message, .result = code, .status = code, .link = TLinkAfterFailure::dropped});
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
