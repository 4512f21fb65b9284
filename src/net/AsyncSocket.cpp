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

#include "platform/Secret.h"

namespace jumelix {
namespace {

constexpr long kSelectMask = kFdRead | kFdWrite | kFdAccept | kFdConnect | kFdClose;  // 0x3B

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

}  // namespace

bool IsDottedIP(const std::string& text) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && text[i] == ' ') ++i;
  if (i == n || text[i] == '.') return false;
  for (int part = 0; part < 4; ++part) {
    if (i == n || !IsDigit(text[i])) return false;
    int v = 0;
    while (i < n && IsDigit(text[i])) {
      v = v * 10 + (text[i] - '0');
      if (v > 255) return false;
      ++i;
    }
    if (part < 3) {
      if (i == n || text[i] != '.') return false;
      ++i;
    }
  }
  for (; i < n; ++i) {
    if (text[i] != ' ') return false;
  }
  return true;
}

uint32_t ResolveHost(const std::string& host) {
  if (host.empty() || host.size() > 256) {
    throw ESocketException("ResolveHost: '" + host + "' Invalid Hostname.");
  }
  if (IsDottedIP(host)) return ParseDotted(host);
  NoteSocketLibraryUse();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  int rc = getaddrinfo(TrimBlanks(host).c_str(), nullptr, &hints, &res);
  if (rc != 0 || res == nullptr) {
    int code = rc != 0 ? WinsockErrorFromGai(rc, rc == EAI_SYSTEM ? errno : 0) : kWsaNoData;
    throw ESocketException(
        Format("ResolveHost: Cannot convert host address '%s', Error #%d", host, code));
  }
  uint32_t addr = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
  freeaddrinfo(res);
  return addr;
}

uint16_t ResolvePort(const std::string& port, const std::string& proto) {
  if (port.empty() || port.size() >= 32) throw ESocketException("ResolvePort: Invalid Port.");
  if (proto.empty() || proto.size() >= 32) throw ESocketException("ResolvePort: Invalid Proto.");
  if (IsDigit(port[0])) {
    // A number beyond 65535 would silently become another port: refuse it instead.
    long v = LeadingNumber(port, 65535);
    if (v < 0) throw ESocketException("ResolvePort: Invalid Port.");
    return static_cast<uint16_t>(v);
  }
  std::string name = TrimBlanks(port);
  std::string protoName = TrimBlanks(proto);
  servent entry{};
  servent* found = nullptr;
  char buf[1024];
  if (getservbyname_r(name.c_str(), protoName.c_str(), &entry, buf, sizeof buf, &found) != 0 ||
      found == nullptr) {
    throw ESocketException(
        Format("ResolvePort: Cannot convert port '%s', Error #%d", port, kWsaNoData));
  }
  return ntohs(static_cast<uint16_t>(found->s_port));
}

int ResolveProto(const std::string& proto) {
  if (proto.empty() || proto.size() >= 32) {
    throw ESocketException("ResolveProto: Invalid Protocol.");
  }
  if (IsDigit(proto[0])) {
    long v = LeadingNumber(proto, 255);
    if (v < 0) throw ESocketException("ResolveProto: Invalid Protocol.");
    return static_cast<int>(v);
  }
  std::string name = LowerAscii(TrimBlanks(proto));
  if (name == "tcp") return IPPROTO_TCP;
  if (name == "udp") return IPPROTO_UDP;
  if (name == "raw") return IPPROTO_RAW;
  protoent entry{};
  protoent* found = nullptr;
  char buf[1024];
  if (getprotobyname_r(name.c_str(), &entry, buf, sizeof buf, &found) != 0 || found == nullptr) {
    throw ESocketException(
        Format("ResolveProto: Cannot convert protocol '%s', Error #%d", name, kWsaNoData));
  }
  return found->p_proto;
}

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
    if (state_ != wsClosed || fd_ >= 0) InnerClose(true, 0);
  } catch (...) {
    // A destructor reports nothing.
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
        if (fd_ >= 0 && static_cast<int>(wParam) == fd_) InnerAbort(kWsaeConnAborted);
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

// ---- Name lookup -----------------------------------------------------------------------

void TAsyncSocket::DnsLookup(const std::string& hostName) {
  if (hostName.empty()) {
    RaiseException("DNS lookup: invalid host name.");
    if (OnDnsLookupDone) OnDnsLookupDone(*this, kWsaeInval);
    return;
  }
  NoteSocketLibraryUse();
  if (dns_handle_ != 0) {
    loop_.CancelAsyncRequest(dns_handle_);  // silently: the new lookup replaces it
    dns_handle_ = 0;
  }
  dns_result_.clear();
  dns_result_list_.clear();
  if (IsDottedIP(hostName)) {
    uint32_t addr = ParseDotted(hostName);
    if (addr != INADDR_NONE) {
      dns_result_ = DottedText(addr);
      dns_result_list_.push_back(dns_result_);
      if (OnDnsLookupDone) OnDnsLookupDone(*this, 0);
      return;
    }
  }
  if (!window_) {
    RaiseException("DnsLookup: Window not assigned");
    return;
  }
  uint32_t handle = loop_.AsyncGetHostByName(window_->Handle(), kWmSocketHostByName, hostName);
  if (handle == 0) {
    last_error_ = LastCode();
    RaiseException(Format("%s: can't start DNS lookup, error #%d", hostName, last_error_));
    return;
  }
  dns_handle_ = handle;
}

void TAsyncSocket::CancelDnsLookup() {
  if (dns_handle_ == 0) return;
  int rc = loop_.CancelAsyncRequest(dns_handle_);
  dns_handle_ = 0;
  if (rc != 0) {
    SocketErrorCode(rc, "WSACancelAsyncRequest");
    return;
  }
  if (!destroying_ && OnDnsLookupDone) OnDnsLookupDone(*this, kWsaeIntr);
}

// ---- Connect ---------------------------------------------------------------------------

void TAsyncSocket::Connect() {
  if (fd_ >= 0 && state_ != wsClosed) {
    RaiseException("Connect: Socket already in use");
    return;
  }
  if (!port_assigned_) {
    RaiseException("Connect: No Port Specified");
    return;
  }
  if (!addr_assigned_) {
    RaiseException("Connect: No IP Address Specified");
    return;
  }
  if (!proto_assigned_) {
    RaiseException("Connect: No Protocol Specified");
    return;
  }
  NoteSocketLibraryUse();
  try {
    if (!proto_resolved_) {
      protocol_ = ResolveProto(proto_);
      sock_type_ = protocol_ == IPPROTO_TCP   ? SOCK_STREAM
                   : protocol_ == IPPROTO_UDP ? SOCK_DGRAM
                                              : SOCK_RAW;
      proto_resolved_ = true;
    }
    if (!port_resolved_) {
      peer_port_ = htons(ResolvePort(port_, proto_));
      port_resolved_ = true;
    }
    if (!local_port_resolved_) {
      local_port_num_ = ResolvePort(local_port_, proto_);
      local_port_resolved_ = true;
    }
    if (!addr_resolved_) {
      peer_ip_ = ResolveHost(addr_);
      addr_resolved_ = true;
    }
  } catch (const ESocketException& e) {
    RaiseException("connect: " + e.Message());
    return;
  }
  DeleteBufferedData();
  CloseHandleNow();  // a handle left behind by a closed socket

  if (sock_type_ != SOCK_STREAM) {
    // Datagram and raw sockets are not part of this program.
    SocketErrorCode(10043, "Connect (socket)");
    return;
  }
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol_);
  if (fd_ < 0) {
    fd_ = -1;
    SocketError("Connect (socket)");
    return;
  }
  socklen_t len = sizeof snd_buf_size_;
  if (getsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &snd_buf_size_, &len) != 0) {
    SocketError("getsockopt(SO_SNDBUF)");
    return;
  }
  len = sizeof rcv_buf_size_;
  if (getsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &rcv_buf_size_, &len) != 0) {
    SocketError("getsockopt(SO_RCVBUF)");
    return;
  }
  ChangeState(wsOpened);
  if (state_ != wsOpened) {
    SocketErrorCode(kWsaeInval, "Connect (Invalid operation in OnChangeState)");
    return;
  }

  int on = 1;
  if (setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
    SocketError("setsockopt(SO_REUSEADDR)");
    return;
  }
  if ((component_options_ & wsoTcpNoDelay) &&
      setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) {
    SocketError("setsockopt(IPPROTO_TCP, TCP_NODELAY)");
    return;
  }
  if (linger_on_off_ != wsLingerNoSet && !ApplyLinger()) {
    SocketError("setsockopt(SO_LINGER)");
    return;
  }
  if (keep_alive_on_off_ != wsKeepAliveOff) {
    if (setsockopt(fd_, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0) {
      SocketError("setsockopt(SO_KEEPALIVE)");
      return;
    }
    if (keep_alive_on_off_ == wsKeepAliveOnCustom) {
      // Milliseconds in the settings, whole seconds (at least one) for Linux.
      int idle = std::max(1, keep_alive_time_ / 1000);
      int interval = std::max(1, keep_alive_interval_ / 1000);
      if (setsockopt(fd_, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle) != 0 ||
          setsockopt(fd_, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval) != 0) {
        SocketError("WSAIoctl(SIO_KEEPALIVE_VALS)");
        return;
      }
    }
  }
  if (local_port_num_ != 0 || local_addr_ != "0.0.0.0") {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(local_port_num_);
    uint32_t localIp = 0;
    try {
      localIp = ResolveHost(local_addr_);
    } catch (const ESocketException& e) {
      RaiseException("connect: " + e.Message());
      return;
    }
    local.sin_addr.s_addr = localIp;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      last_error_ = LastCode();
      RaiseException(Format("winsock.bind failed, error #%d", last_error_));
      return;
    }
    socklen_t llen = sizeof local;
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &llen) != 0) {
      last_error_ = LastCode();
      RaiseException(Format("winsock.getsockname failed, error #%d", last_error_));
      return;
    }
    local_port_ = std::to_string(ntohs(local.sin_port));
  }

  int rc = loop_.AsyncSelect(fd_, window_->Handle(), kWmSocketEvent, kSelectMask);
  if (rc != 0) {
    SocketErrorCode(rc, "WSAAsyncSelect");
    return;
  }
  select_mask_ = kSelectMask;

  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = peer_port_;
  peer.sin_addr.s_addr = peer_ip_;
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0 ||
      errno == EINPROGRESS) {
    loop_.SocketConnecting(fd_);
    ChangeState(wsConnecting);
    return;
  }
  const int code = LastCode();
  switch (errno) {
    case ECONNREFUSED:
    case ETIMEDOUT:
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ECONNRESET:
      // Linux may know the outcome at once (loopback); it is still told through the
      // loop, as for any other connection attempt.
      ChangeState(wsConnecting);
      window_->Post(kWmSocketEvent, static_cast<uintptr_t>(fd_), MakeSelectReply(kFdConnect, code));
      return;
    default:
      last_error_ = code;
      SocketErrorCode(code, "Connect");
  }
}

// ---- Receiving -------------------------------------------------------------------------

int TAsyncSocket::RecvRaw(void* buffer, int maxLen) {
  if (fd_ < 0) {
    last_error_ = kWsaeNotSock;
    return -1;
  }
  if (maxLen < 0) maxLen = 0;
  ssize_t n;
  do {
    n = ::recv(fd_, buffer, static_cast<size_t>(maxLen), 0);
  } while (n < 0 && errno == EINTR);
  const int code = n < 0 ? LastCode() : 0;
  loop_.SocketReceived(fd_);
  if (n < 0) {
    last_error_ = code;
    return -1;
  }
  return static_cast<int>(n);
}

int TAsyncSocket::Receive(void* buffer, int maxLen) {
  if (!tls_) {
    const int n = RecvRaw(buffer, maxLen);
    if (n > 0) read_count_ += n;
    return n;
  }
  if (fd_ < 0) {
    last_error_ = kWsaeNotSock;
    return -1;
  }
  if (tls_handshaking_ || tls_->Failed()) {
    // The bytes belong to the handshake (or to a link about to be dropped).
    last_error_ = kWsaeWouldBlock;
    return -1;
  }
  if (maxLen <= 0) return 0;
  // Records without any text for the reader (a peer could send them for ever) must not
  // hold this call: past the pass's bound the rest waits for the next notification.
  int raw_total = 0;
  for (;;) {
    const int n = tls_->Read(static_cast<char*>(buffer), maxLen);
    FlushTlsOutput();  // a read may have to answer (key update)
    if (n > 0) {
      read_count_ += n;
      return n;
    }
    if (n == 0) {
      // The server ended TLS: the end of the data. Servers commonly wait for our own
      // close_notify before they close the connection, so it goes at once.
      tls_->Shutdown();
      FlushTlsOutput();
      return 0;
    }
    if (n == -2) {
      tls_error_ = tls_->ErrorText();
      last_error_ = kWsaeConnAborted;
      // Nothing more can be trusted on this link; it goes from the loop, not from inside
      // the reader's handler.
      if (fd_ >= 0) window_->Post(kWmSocketTlsFatal, static_cast<uintptr_t>(fd_), 0);
      return -1;
    }
    if (raw_total >= kReceivePassMaxBytes) {
      last_error_ = kWsaeWouldBlock;
      return -1;
    }
    char raw[16384];
    const int got = RecvRaw(raw, sizeof raw);
    if (got < 0) return -1;
    if (got == 0) return 0;
    raw_total += got;
    tls_->PutIncoming(raw, static_cast<size_t>(got));
  }
}

std::string TAsyncSocket::ReceiveText() {
  int n = RcvdCount();
  if (n < 0) return {};
  if (n == 0) n = 255;
  std::string text(static_cast<size_t>(n), '\0');
  int got = Receive(text.data(), n);
  if (got <= 0) return {};
  text.resize(static_cast<size_t>(got));
  return text;
}

int TAsyncSocket::RcvdCount() {
  if (tls_ && !tls_handshaking_ && tls_->PendingPlain() > 0) {
    return static_cast<int>(tls_->PendingPlain());
  }
  int n = 0;
  if (fd_ < 0 || ioctl(fd_, FIONREAD, &n) != 0) {
    if (fd_ < 0) errno = ENOTSOCK;
    SocketError("ioctlSocket");
    return -1;
  }
  return n;
}

bool TAsyncSocket::TriggerDataAvailable(uint16_t errCode) {
  if (OnDataAvailable) {
    OnDataAvailable(*this, errCode);
    return true;
  }
  char sink[1024];
  if (Receive(sink, sizeof sink) < 0 && last_error_ == kWsaeWouldBlock) last_error_ = 0;
  return false;
}

bool TAsyncSocket::ReceiveLoop(uint16_t errCode, TSocketOptions options) {
  const int fd = fd_;
  // One pass is bounded in bytes and time: a peer that sends without pause must not keep
  // the loop inside this dispatch, or nothing else (a deadline, a signal) is ever seen.
  const int start_count = read_count_;
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    last_error_ = 0;
    try {
      const int before = read_count_;
      const bool handled = TriggerDataAvailable(errCode);
      if (options & wsoNoReceiveLoop) break;
      if (last_error_ != 0) {
        if (last_error_ == -1) last_error_ = 0;
        break;
      }
      if (fd_ != fd || fd_ < 0) break;  // the handler closed the socket
      int waiting = 0;
      if (ioctl(fd_, FIONREAD, &waiting) != 0) {
        last_error_ = LastCode();
        break;
      }
      if (waiting == 0 && !TlsHasPending()) break;
      // A handler that leaves the bytes where they are would be called forever; it will
      // hear of them again at its next Receive.
      if (handled && read_count_ == before) break;
      if (read_count_ - start_count >= kReceivePassMaxBytes ||
          std::chrono::steady_clock::now() - start >= kReceivePassMaxTime) {
        return true;
      }
    } catch (...) {
      break;  // exceptions of the receive loop are dropped, the loop ends
    }
  }
  return false;
}

// ---- Sending ---------------------------------------------------------------------------

void TAsyncSocket::QueueData(const void* data, int len) {
  if (data == nullptr || len <= 0) return;
  if (tls_) {
    // Kept as plain text until the next send: the pieces queued together (a line and its
    // CR LF) then travel in one TLS record, and nothing is encrypted before the handshake
    // has ended.
    tls_held_.append(static_cast<const char*>(data), static_cast<size_t>(len));
    all_sent_ = false;
    return;
  }
  QueueRaw(data, len);
}

void TAsyncSocket::SealHeld() {
  if (tls_held_.empty() || !TlsActive()) return;
  std::string held;
  held.swap(tls_held_);
  const bool ok = tls_->Write(held.data(), held.size());
  EffacerTexte(held);  // plain text, perhaps a password on its way (AUTH)
  if (!ok) {
    tls_error_ = tls_->ErrorText();
    return;
  }
  const std::string bytes = tls_->TakeOutgoing();
  QueueRaw(bytes.data(), static_cast<int>(bytes.size()));
}

void TAsyncSocket::QueueRaw(const void* data, int len) {
  if (data == nullptr || len <= 0) return;
  const char* p = static_cast<const char*>(data);
  int left = len;
  if (buf_list_.empty()) buf_list_.push_back(std::make_unique<TBuffer>(buf_size_));
  int n = buf_list_.back()->Write(p, left);
  p += n;
  left -= n;
  while (left > 0) {
    buf_list_.push_back(std::make_unique<TBuffer>(buf_size_));
    n = buf_list_.back()->Write(p, left);
    p += n;
    left -= n;
  }
  buffered_bytes_ += len;
  all_sent_ = false;
}

void TAsyncSocket::TryToSend() {
  if (tls_) SealHeld();
  if (fd_ < 0 || buf_list_.empty()) {
    all_sent_ = true;
    return;
  }
  for (;;) {
    if (fd_ < 0 || buf_list_.empty()) {
      all_sent_ = true;
      return;
    }
    TBuffer& chunk = *buf_list_.front();
    int len = 0;
    const char* p = chunk.Peek(len);
    if (len <= 0) {
      if (buf_list_.size() > 1) {
        buf_list_.pop_front();
        continue;
      }
      all_sent_ = true;  // the last chunk stays, empty, for the next data
      return;
    }
    const int flags = MSG_NOSIGNAL | (send_flags_ == wsSendUrgent ? MSG_OOB : 0);
    ssize_t n;
    do {
      n = ::send(fd_, p, static_cast<size_t>(len), flags);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
      buffered_bytes_ = std::max(0, buffered_bytes_ - static_cast<int>(n));
      chunk.Remove(static_cast<int>(n));
      if (OnSendData) OnSendData(*this, static_cast<int>(n));
      if (n < len) {
        // Linux takes part of a block when its buffer fills up; the rest waits for the
        // next write notification, which has to be asked for.
        if (fd_ >= 0) loop_.SocketSendBlocked(fd_);
        return;
      }
      continue;
    }
    if (n == 0) return;
    const int code = LastCode();
    if (code == kWsaeWouldBlock) {
      loop_.SocketSendBlocked(fd_);
      return;
    }
    if (code == kWsaeInval || code == kWsaeNotSock || code == kWsaeConnAborted ||
        code == kWsaeConnReset || code == kWsaeNotConn) {
      close_invoked_ = true;
      Close();
      TriggerSessionClosed(static_cast<uint16_t>(code));
      return;
    }
    SocketErrorCode(code, "TryToSend failed");
    return;
  }
}

int TAsyncSocket::Send(const void* data, int len) {
  if (state_ != wsConnected && state_ != wsSocksConnected) {
    SocketErrorCode(kWsaeNotConn, "Send");
    return -1;
  }
  all_sent_ = false;
  int result = 0;
  if (len > 0 && data != nullptr) {
    QueueData(data, len);
    result = len;
  }
  TryToSend();
  // OnDataSent comes from the loop, never from inside Send.
  if (all_sent_ && fd_ >= 0) {
    window_->Post(kWmSocketEvent, static_cast<uintptr_t>(fd_), MakeSelectReply(kFdWrite, 0));
  }
  return result;
}

int TAsyncSocket::SendText(const std::string& text) {
  if (text.empty()) return 0;
  return Send(text.data(), static_cast<int>(text.size()));
}

void TAsyncSocket::Flush() {
  while (fd_ >= 0 && !all_sent_) {
    TryToSend();
    if (fd_ < 0 || all_sent_) break;
    // Sleeps until the socket can take more instead of spinning.
    loop_.WaitAndProcess(100);
  }
}

void TAsyncSocket::DeleteBufferedData() {
  buf_list_.clear();
  buffered_bytes_ = 0;
}

std::vector<int> TAsyncSocket::ChunkSizes() const {
  std::vector<int> sizes;
  for (const auto& b : buf_list_) sizes.push_back(b->DataLength());
  return sizes;
}

// ---- Closing ---------------------------------------------------------------------------

void TAsyncSocket::Close() { InnerClose(true, 0); }

void TAsyncSocket::CloseDelayed() { window_->Post(kWmSocketCloseDelayed); }

void TAsyncSocket::Abort() { InnerAbort(0); }

void TAsyncSocket::InnerAbort(int err) {
  CancelDnsLookup();
  DeleteBufferedData();
  if (state_ == wsConnected && protocol_ == IPPROTO_TCP && fd_ >= 0) {
    linger_on_off_ = wsLingerOff;
    ApplyLinger();  // an abort goes on whatever the option says
  }
  InnerClose(false, err);
}

void TAsyncSocket::InnerClose(bool shut, int err) {
  if (fd_ < 0) {
    if (state_ != wsClosed) {
      ChangeState(wsClosed);
      try {
        if (fd_ < 0 && state_ == wsClosed) ResetDefaults();
      } catch (...) {
      }
    }
    return;
  }
  if (state_ == wsClosed) return;
  if (shut && tls_ && tls_->HandshakeDone() && !tls_->Failed()) {
    // The orderly end of TLS, sent as far as the system takes it now. The engine leaves
    // first, so that a send failing here closes a plain socket.
    SealHeld();
    std::unique_ptr<TTlsLayer> tls = std::move(tls_);
    tls->Shutdown();
    const std::string bytes = tls->TakeOutgoing();
    QueueRaw(bytes.data(), static_cast<int>(bytes.size()));
    TryToSend();
    if (fd_ < 0 || state_ == wsClosed) return;
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
    SocketErrorCode(code, "Disconnect (closesocket)");
    return;
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
  local_port_ = "0";
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

void TAsyncSocket::SocketError(const std::string& context) { SocketErrorCode(LastCode(), context); }

void TAsyncSocket::SocketErrorCode(int code, const std::string& context) {
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
  RaiseException(SocketErrorMessage(code, context));
}

// ---- TLS -------------------------------------------------------------------------------

void TAsyncSocket::StartTls(const std::string& hostName) {
  if (fd_ < 0 || state_ != wsConnected) {
    SocketErrorCode(kWsaeNotConn, "StartTls");
    return;
  }
  if (tls_) {
    RaiseException("StartTls: TLS already started");
    return;
  }
  tls_error_.clear();
  EffacerTexte(tls_held_);
  tls_ = std::make_unique<TTlsLayer>(TrimBlanks(hostName), tls_ca_file_);
  tls_handshaking_ = true;
  const TTlsLayer::TResult r = tls_->Handshake();
  FlushTlsOutput();
  if (r == TTlsLayer::tlsFailed) {
    // Failed before a byte went out (no usable CA file, bad name): told from the loop,
    // like every other outcome.
    tls_handshaking_ = false;
    tls_error_ = tls_->ErrorText();
    window_->Post(kWmSocketTlsDone, 0, kTlsFailed);
  }
}

bool TAsyncSocket::TlsActive() const { return tls_ && tls_->HandshakeDone() && !tls_->Failed(); }

std::string TAsyncSocket::TlsVersion() const { return tls_ ? tls_->Version() : std::string(); }

bool TAsyncSocket::TlsHasPending() const {
  return tls_ && !tls_handshaking_ && (tls_->PendingPlain() > 0 || tls_->PendingIncoming() > 0);
}

void TAsyncSocket::FlushTlsOutput() {
  if (!tls_ || !tls_->HasOutgoing()) return;
  const std::string bytes = tls_->TakeOutgoing();
  QueueRaw(bytes.data(), static_cast<int>(bytes.size()));
  TryToSend();
}

void TAsyncSocket::ContinueHandshake(bool peerClosed) {
  const int fd = fd_;
  bool ended = peerClosed;
  for (;;) {
    char raw[16384];
    const int got = RecvRaw(raw, sizeof raw);
    if (got > 0) {
      tls_->PutIncoming(raw, static_cast<size_t>(got));
      continue;
    }
    if (got == 0 || last_error_ != kWsaeWouldBlock) ended = true;
    if (got < 0 && last_error_ == kWsaeWouldBlock) last_error_ = 0;
    break;
  }
  TTlsLayer::TResult r = tls_->Handshake();
  FlushTlsOutput();
  if (fd_ != fd || !tls_) return;  // the send failed and closed the socket
  if (r == TTlsLayer::tlsWantMore && ended) {
    tls_->FailConnectionClosed();
    r = tls_->Failed() ? TTlsLayer::tlsFailed : tls_->HandshakeDone() ? TTlsLayer::tlsDone : r;
  }
  if (r == TTlsLayer::tlsWantMore) return;
  FinishHandshake();
}

void TAsyncSocket::FinishHandshake() {
  tls_handshaking_ = false;
  const bool ok = tls_->HandshakeDone() && !tls_->Failed();
  const int fd = fd_;
  if (!ok) {
    tls_error_ = tls_->ErrorText();
    FlushTlsOutput();  // the alert that tells the server why
    // Told at once, from the handler of the read notification: the user closes the
    // connection before anything else is read from it.
    if (OnTlsDone) OnTlsDone(*this, kTlsFailed);
    return;
  }
  if (!tls_held_.empty()) {
    TryToSend();
    if (fd_ != fd) return;
  }
  // Told at once as well: the server may have sent its first lines in the same packets
  // as the end of the handshake, and the user must be ready to read them.
  if (OnTlsDone) OnTlsDone(*this, 0);
  if (fd_ == fd && fd_ >= 0 && TlsHasPending()) {
    window_->Post(kWmSocketEvent, static_cast<uintptr_t>(fd_), MakeSelectReply(kFdRead, 0));
  }
}

// ---- Properties ------------------------------------------------------------------------

void TAsyncSocket::SetAddr(const std::string& value) {
  const std::string text = TrimBlanks(value);
  if (state_ != wsClosed) {
    if (text != addr_) RaiseException("Cannot change Addr if not closed");
    return;
  }
  addr_ = text;
  addr_assigned_ = !text.empty();
  addr_resolved_ = false;
}

void TAsyncSocket::SetPort(const std::string& value) {
  const std::string text = TrimBlanks(value);
  if (state_ != wsClosed) {
    if (text != port_) RaiseException("Cannot change Port if not closed");
    return;
  }
  port_ = text;
  port_assigned_ = !text.empty();
  port_resolved_ = false;
}

void TAsyncSocket::SetProto(const std::string& value) {
  const std::string text = TrimBlanks(value);
  if (state_ != wsClosed) {
    if (text != proto_) RaiseException("Cannot change Proto if not closed");
    return;
  }
  proto_ = text;
  proto_assigned_ = !text.empty();
  proto_resolved_ = false;
  port_resolved_ = false;  // a service name may give another port for another protocol
}

void TAsyncSocket::SetLocalAddr(const std::string& value) {
  const std::string text = value.empty() ? std::string("0.0.0.0") : value;
  if (state_ != wsClosed) {
    if (text != local_addr_) RaiseException("Cannot change LocalAddr if not closed");
    return;
  }
  local_addr_ = text;
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
