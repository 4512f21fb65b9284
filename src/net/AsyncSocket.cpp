#include "net/AsyncSocket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>

#include "net/AsyncSocketInterne.h"
#include "platform/Secret.h"

namespace jumelix {
namespace socket_interne {

// Properties and resolution routines trim every character up to the blank, like the
// rest of the program's texts.
std::string TrimBlanks(const std::string& s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

std::string LowerAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The value of the leading decimal digits of `s` (which starts with one), or -1 when it
// is larger than `limit`.
long LeadingNumber(const std::string& s, long limit) {
  long v = 0;
  for (char c : s) {
    if (!IsDigit(c)) break;
    v = v * 10 + (c - '0');
    if (v > limit) return -1;
  }
  return v;
}

// The address of a text that IsDottedIP accepted, network byte order.
uint32_t ParseDotted(const std::string& text) {
  uint32_t host = 0;
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  for (int part = 0; part < 4; ++part) {
    uint32_t v = 0;
    while (i < text.size() && IsDigit(text[i])) v = v * 10 + static_cast<uint32_t>(text[i++] - '0');
    host = (host << 8) | v;
    ++i;  // the dot
  }
  return htonl(host);
}

std::string DottedText(uint32_t netAddr) {
  in_addr a{};
  a.s_addr = netAddr;
  char buf[INET_ADDRSTRLEN];
  if (inet_ntop(AF_INET, &a, buf, sizeof buf) == nullptr) return {};
  return buf;
}

std::string Format(const char* fmt, const std::string& s, int n) {
  char buf[512];
  std::snprintf(buf, sizeof buf, fmt, s.c_str(), n);
  return buf;
}

std::string Format(const char* fmt, int n) {
  char buf[256];
  std::snprintf(buf, sizeof buf, fmt, n);
  return buf;
}

int LastCode() { return WinsockErrorFromErrno(errno); }

}  // namespace socket_interne

using namespace socket_interne;

// ---------------------------------------------------------------------------------------

TAsyncSocket::TAsyncSocket() : loop_(TMessageLoop::Current()) {
  window_ = std::make_unique<TMessageWindow>(
      [this](uint32_t message, uintptr_t wParam, intptr_t lParam) {
        HandleMessage(message, wParam, lParam);
      },
      loop_);
  IncrementSocketCount();
  ResetDefaults();
}

TAsyncSocket::~TAsyncSocket() {
  destroying_ = true;
  if (dns_handle_ != 0) {
    loop_.CancelAsyncRequest(dns_handle_);
    dns_handle_ = 0;
  }
  try {
    // A destructor reports nothing: a failure of the close is dropped.
    if (state_ != wsClosed || fd_ >= 0) (void)InnerClose(true, 0);
  } catch (...) {
    // Nor does an exception of an event handler leave it.
  }
  if (fd_ >= 0) CloseHandleNow();
  buf_list_.clear();
  window_.reset();
  DecrementSocketCount();
}

// ---- Messages --------------------------------------------------------------------------

void TAsyncSocket::HandleMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  try {
    switch (message) {
      case kWmSocketEvent:
        HandleSocketEvent(wParam, lParam);
        break;
      case kWmSocketHostByName:
        HandleHostByName(wParam, lParam);
        break;
      case kWmSocketCloseDelayed:
        Close();
        break;
      case kWmSocketTestException:
        throw ESocketException("Test exception in AsyncSocket");
      case kWmSocketTlsDone:
        if (OnTlsDone) OnTlsDone(*this, static_cast<uint16_t>(lParam));
        break;
      case kWmSocketTlsFatal:
        if (fd_ >= 0 && static_cast<int>(wParam) == fd_) Raise(InnerAbort(kWsaeConnAborted));
        break;
      default:
        break;  // the owner frees the object, so release-later has nothing to do
    }
  } catch (const std::exception& e) {
    HandleBackgroundException(e);
  } catch (...) {
    HandleBackgroundException(std::runtime_error("Unknown exception"));
  }
}

void TAsyncSocket::HandleBackgroundException(const std::exception& e) {
  bool canClose = true;
  if (OnBgException) {
    try {
      OnBgException(*this, e, canClose);
    } catch (...) {
      // An exception from the handler of exceptions has nowhere left to go.
    }
  }
  if (canClose) {
    try {
      Abort();
    } catch (...) {
    }
  }
}

void TAsyncSocket::HandleSocketEvent(uintptr_t wParam, intptr_t lParam) {
  const int fd = static_cast<int>(wParam);
  if (fd < 0 || fd != fd_ || paused_) return;
  const long events = SelectEvent(lParam);
  const uint16_t err = static_cast<uint16_t>(SelectError(lParam));
  // A handler may close or reopen the socket; the remaining bits then belong to a
  // connection that no longer exists.
  auto same = [&] { return fd_ == fd; };

  if (events & kFdConnect) {
    if (state_ != wsConnected) {
      ChangeState(wsConnected);
      if (OnSessionConnected) OnSessionConnected(*this, err);
      if (err != 0 && state_ != wsClosed) Close();
    }
  }
  if ((events & kFdRead) && same()) {
    if (state_ != wsConnected) {
      ChangeState(wsConnected);
      if (OnSessionConnected) OnSessionConnected(*this, err);
    }
    if (same()) {
      if (tls_handshaking_) {
        ContinueHandshake(false);
      } else if (ReceiveLoop(err, component_options_) && same()) {
        // Data is still waiting: the rest comes from a later dispatch.
        window_->Post(kWmSocketEvent, static_cast<uintptr_t>(fd), MakeSelectReply(kFdRead, 0));
      }
    }
  }
  if ((events & kFdWrite) && same()) {
    TryToSend();
    if (all_sent_ && OnDataSent) OnDataSent(*this, err);
  }
  if ((events & kFdClose) && same()) {
    if (state_ == wsConnecting || fd_ < 0) return;
    if (tls_handshaking_) {
      ContinueHandshake(true);
      if (!same()) return;
    }
    if (ReceiveLoop(0, component_options_ & ~static_cast<TSocketOptions>(wsoNoReceiveLoop))) {
      // Every byte before the end is still delivered, over several dispatches; the close
      // is reported after the last of them.
      if (same())
        window_->Post(kWmSocketEvent, static_cast<uintptr_t>(fd), MakeSelectReply(kFdClose, err));
      return;
    }
    if (!same()) return;
    if (!close_invoked_) {
      close_invoked_ = true;
      TriggerSessionClosed(err);
    }
    if (state_ != wsClosed) Close();
  }
}

void TAsyncSocket::HandleHostByName(uintptr_t wParam, intptr_t lParam) {
  // Our loop hands out the handle before the helper thread can answer, so a completion
  // can never come ahead of its handle and needs no waiting slot.
  const uint32_t handle = static_cast<uint32_t>(wParam);
  if (dns_handle_ == 0 || handle != dns_handle_) return;
  dns_handle_ = 0;
  const uint16_t err = static_cast<uint16_t>(SelectError(lParam));
  std::vector<uint32_t> addrs;
  loop_.TakeHostByNameResult(handle, addrs);
  if (err == 0) {
    dns_result_list_.clear();
    for (uint32_t a : addrs) dns_result_list_.push_back(DottedText(a));
    if (!dns_result_list_.empty()) dns_result_ = dns_result_list_.front();
  }
  if (OnDnsLookupDone) OnDnsLookupDone(*this, err);
}

// ---- Closing ---------------------------------------------------------------------------

void TAsyncSocket::Close() { Raise(InnerClose(true, 0)); }

TSocketResult TAsyncSocket::TryClose() { return InnerClose(true, 0); }

void TAsyncSocket::CloseDelayed() { window_->Post(kWmSocketCloseDelayed); }

void TAsyncSocket::Abort() { Raise(InnerAbort(0)); }

TSocketResult TAsyncSocket::TryAbort() { return InnerAbort(0); }

TSocketResult TAsyncSocket::InnerAbort(int err) {
  if (TSocketResult r = CancelLookup(); r.failed) return r;
  DeleteBufferedData();
  if (state_ == wsConnected && protocol_ == IPPROTO_TCP && fd_ >= 0) {
    linger_on_off_ = wsLingerOff;
    ApplyLinger();  // an abort goes on whatever the option says
  }
  return InnerClose(false, err);
}

TSocketResult TAsyncSocket::InnerClose(bool shut, int err) {
  if (fd_ < 0) {
    if (state_ != wsClosed) {
      ChangeState(wsClosed);
      try {
        if (fd_ < 0 && state_ == wsClosed) ResetDefaults();
      } catch (...) {
      }
    }
    return {};
  }
  if (state_ == wsClosed) return {};
  if (shut && tls_ && tls_->HandshakeDone() && !tls_->Failed()) {
    // The orderly end of TLS, sent as far as the system takes it now. The engine leaves
    // first, so that a send failing here closes a plain socket.
    SealHeld();
    std::unique_ptr<TTlsLayer> tls = std::move(tls_);
    tls->Shutdown();
    const std::string bytes = tls->TakeOutgoing();
    QueueRaw(bytes.data(), static_cast<int>(bytes.size()));
    if (TSocketResult r = SendQueued(); r.failed) return r;
    if (fd_ < 0 || state_ == wsClosed) return {};
  }
  if (shut) {
    ::shutdown(fd_, SHUT_WR);
    // Lingering on for 0 seconds makes close() reset the connection and throw away what
    // the system has not yet delivered; an orderly close must not lose data that Send
    // accepted, so the system is left to finish in the background.
    if (linger_on_off_ == wsLingerOn && linger_timeout_ == 0) {
      linger off{};
      setsockopt(fd_, SOL_SOCKET, SO_LINGER, &off, sizeof off);
    }
  }
  loop_.ForgetSocket(fd_);
  // Linux releases the descriptor even when close reports an error, so it is never
  // retried; an interrupted close counts as done.
  const int rc = ::close(fd_);
  const int code = rc != 0 ? LastCode() : 0;
  fd_ = -1;
  tls_.reset();
  tls_handshaking_ = false;
  EffacerTexte(tls_held_);
  if (rc != 0 && code != kWsaeIntr && code != kWsaNotInitialised) {
    last_error_ = code;
    return SocketFailure(code, "Disconnect (closesocket)");
  }
  ChangeState(wsClosed);
  if (!destroying_ && !close_invoked_) {
    close_invoked_ = true;
    TriggerSessionClosed(static_cast<uint16_t>(err));
  }
  try {
    // A handler may already have started the next connection; leave that one alone.
    if (fd_ < 0 && state_ == wsClosed) ResetDefaults();
  } catch (...) {
  }
  return {};
}

void TAsyncSocket::CloseHandleNow() {
  tls_.reset();
  tls_handshaking_ = false;
  EffacerTexte(tls_held_);
  if (fd_ < 0) return;
  loop_.ForgetSocket(fd_);
  ::close(fd_);
  fd_ = -1;
}

void TAsyncSocket::Shutdown(int how) {
  if (fd_ < 0) return;
  ::shutdown(fd_, how == kSdReceive ? SHUT_RD : how == kSdSend ? SHUT_WR : SHUT_RDWR);
}

void TAsyncSocket::Pause() {
  paused_ = true;
  if (fd_ >= 0) loop_.AsyncSelect(fd_, window_->Handle(), kWmSocketEvent, 0);
}

void TAsyncSocket::Resume() {
  paused_ = false;
  if (fd_ >= 0) loop_.AsyncSelect(fd_, window_->Handle(), kWmSocketEvent, select_mask_);
}

void TAsyncSocket::PumpPendingMessages() { loop_.ProcessMessages(); }

void TAsyncSocket::PostTestException() { window_->Post(kWmSocketTestException); }

bool TAsyncSocket::ApplyLinger() {
  if (fd_ < 0) return false;
  linger l{};
  l.l_onoff = linger_on_off_ == wsLingerOn ? 1 : 0;
  l.l_linger = linger_timeout_;
  return setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l) == 0;
}

void TAsyncSocket::ResetDefaults() {
  peer_ip_ = 0;
  peer_port_ = 0;
  proto_ = "tcp";
  proto_assigned_ = true;
  proto_resolved_ = false;
  protocol_ = IPPROTO_TCP;
  sock_type_ = SOCK_STREAM;
  addr_assigned_ = false;
  addr_resolved_ = false;
  port_assigned_ = false;
  port_resolved_ = false;
  // One character, not a literal: GCC 12 sees a false overlap (-Wrestrict) in the
  // optimised assignment of "0".
  local_port_.assign(1, '0');
  local_port_assigned_ = false;
  local_port_resolved_ = false;
  local_port_num_ = 0;
  local_addr_ = "0.0.0.0";
  linger_on_off_ = wsLingerOn;
  linger_timeout_ = 0;
  fd_ = -1;
  select_mask_ = 0;
  state_ = wsClosed;
  all_sent_ = true;
  paused_ = false;
  read_count_ = 0;
  close_invoked_ = false;
  flush_timeout_ = 60;
}

// ---- Events and errors -----------------------------------------------------------------

void TAsyncSocket::ChangeState(TSocketState newState) {
  const TSocketState old = state_;
  state_ = newState;
  if (old != newState && OnChangeState) OnChangeState(*this, old, newState);
}

void TAsyncSocket::TriggerSessionClosed(uint16_t errCode) {
  if (OnSessionClosed) OnSessionClosed(*this, errCode);
}

void TAsyncSocket::RaiseException(const std::string& message) {
  if (OnError) {
    OnError(*this);
    return;
  }
  throw ESocketException(message);
}

void TAsyncSocket::Raise(const TSocketResult& result) {
  if (result.failed) RaiseException(result.text);
}

TSocketResult TAsyncSocket::Failure(const std::string& message) const {
  return {true, last_error_, message};
}

void TAsyncSocket::SocketError(const std::string& context) { SocketErrorCode(LastCode(), context); }

void TAsyncSocket::SocketErrorCode(int code, const std::string& context) {
  Raise(SocketFailure(code, context));
}

TSocketResult TAsyncSocket::SocketFailure(int code, const std::string& context) {
  if (code == kWsaeConnReset || code == kWsaeNotConn) {
    CloseHandleNow();
    if (state_ != wsClosed) {
      if (!close_invoked_) {
        close_invoked_ = true;
        TriggerSessionClosed(static_cast<uint16_t>(code));
      }
      ChangeState(wsClosed);
    }
  }
  last_error_ = code;
  return Failure(SocketErrorMessage(code, context));
}

// ---- Properties ------------------------------------------------------------------------

void TAsyncSocket::SetAddr(const std::string& value) { Raise(AssignAddr(value)); }

TSocketResult TAsyncSocket::AssignAddr(const std::string& value) {
  const std::string text = TrimBlanks(value);
  if (state_ != wsClosed) {
    if (text != addr_) return Failure("Cannot change Addr if not closed");
    return {};
  }
  addr_ = text;
  addr_assigned_ = !text.empty();
  addr_resolved_ = false;
  return {};
}

void TAsyncSocket::SetPort(const std::string& value) { Raise(AssignPort(value)); }

TSocketResult TAsyncSocket::AssignPort(const std::string& value) {
  const std::string text = TrimBlanks(value);
  if (state_ != wsClosed) {
    if (text != port_) return Failure("Cannot change Port if not closed");
    return {};
  }
  port_ = text;
  port_assigned_ = !text.empty();
  port_resolved_ = false;
  return {};
}

void TAsyncSocket::SetProto(const std::string& value) { Raise(AssignProto(value)); }

TSocketResult TAsyncSocket::AssignProto(const std::string& value) {
  const std::string text = TrimBlanks(value);
  if (state_ != wsClosed) {
    if (text != proto_) return Failure("Cannot change Proto if not closed");
    return {};
  }
  proto_ = text;
  proto_assigned_ = !text.empty();
  proto_resolved_ = false;
  port_resolved_ = false;  // a service name may give another port for another protocol
  return {};
}

void TAsyncSocket::SetLocalAddr(const std::string& value) { Raise(AssignLocalAddr(value)); }

TSocketResult TAsyncSocket::AssignLocalAddr(const std::string& value) {
  const std::string text = value.empty() ? std::string("0.0.0.0") : value;
  if (state_ != wsClosed) {
    if (text != local_addr_) return Failure("Cannot change LocalAddr if not closed");
    return {};
  }
  local_addr_ = text;
  return {};
}

void TAsyncSocket::SetLocalPort(const std::string& value) {
  if (state_ != wsClosed) {
    if (value != local_port_) RaiseException("Cannot change LocalPort if not closed");
    return;
  }
  local_port_ = value;
  local_port_assigned_ = true;
  local_port_resolved_ = false;
}

std::string TAsyncSocket::PeerAddr() {
  if (state_ != wsConnected || fd_ < 0) return "error";
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  if (getpeername(fd_, reinterpret_cast<sockaddr*>(&peer), &len) != 0) {
    SocketError("GetPeerAddr");
    return "error";
  }
  return DottedText(peer.sin_addr.s_addr);
}

std::string TAsyncSocket::PeerPort() {
  if (state_ != wsConnected || fd_ < 0) return "error";
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  if (getpeername(fd_, reinterpret_cast<sockaddr*>(&peer), &len) != 0) {
    SocketError("GetPeerPort");
    return "error";
  }
  return std::to_string(ntohs(peer.sin_port));
}

void TAsyncSocket::SetSendFlags(int value) {
  if (value != wsSendNormal && value != wsSendUrgent) {
    RaiseException("Invalid SendFlags");
    return;
  }
  send_flags_ = static_cast<TSocketSendFlags>(value);
}

uint8_t TAsyncSocket::ReqVerLow() const { return jumelix::ReqVerLow(); }
uint8_t TAsyncSocket::ReqVerHigh() const { return jumelix::ReqVerHigh(); }

void TAsyncSocket::SetReqVerLow(uint8_t value) {
  if (!jumelix::SetReqVerLow(value)) {
    SocketErrorCode(kWsaeInval, "SetReqVerLow: WinSock version can't be changed now");
  }
}

void TAsyncSocket::SetReqVerHigh(uint8_t value) {
  if (!jumelix::SetReqVerHigh(value)) {
    SocketErrorCode(kWsaeInval, "SetReqVerHigh: WinSock version can't be changed now");
  }
}

}  // namespace jumelix
