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

// The SMTP session's reading side: received data cut into reply lines within their
// bounds, status codes, multi-line replies, and what an EHLO reply offers.
namespace jumelix {

using namespace smtp_interne;

namespace {

const std::string kLigneTropLongue =
    "une ligne de plus de " + std::to_string(kSmtpRcvBufSize) + " octets";

}  // namespace

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
  FailRequest(
      {.text = "Réponse du serveur trop longue : " + why, .link = TLinkAfterFailure::dropped});
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
        if (const TSocketResult r = socket_.TryClose(); r.failed) FailSocket(r);
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
    if (!word.empty() && (SpokenMechanism(word) || types.size() < kSmtpMaxAuthTypes) &&
        std::find(types.begin(), types.end(), word) == types.end()) {
      types.push_back(word);
    }
    if (sp == std::string::npos) break;
    pos = sp + 1;
  }
}

}  // namespace jumelix
