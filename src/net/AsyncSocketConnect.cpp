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

#include "net/AsyncSocket.h"
#include "net/AsyncSocketInterne.h"

// Name and port resolution, the asynchronous name lookup and the connection of
// TAsyncSocket. Reads, writes and TLS are in AsyncSocketIO.cpp.
namespace jumelix {

using namespace socket_interne;

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

// ---- Name lookup -----------------------------------------------------------------------

void TAsyncSocket::DnsLookup(const std::string& hostName) {
  Raise(TryDnsLookup(hostName));
  // Reported to OnError instead of thrown, the refusal of an empty name still ends the
  // lookup.
  if (hostName.empty() && OnDnsLookupDone) OnDnsLookupDone(*this, kWsaeInval);
}

TSocketResult TAsyncSocket::TryDnsLookup(const std::string& hostName) {
  if (hostName.empty()) return Failure("DNS lookup: invalid host name.");
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
      return {};
    }
  }
  if (!window_) return Failure("DnsLookup: Window not assigned");
  uint32_t handle = loop_.AsyncGetHostByName(window_->Handle(), kWmSocketHostByName, hostName);
  if (handle == 0) {
    last_error_ = LastCode();
    return Failure(Format("%s: can't start DNS lookup, error #%d", hostName, last_error_));
  }
  dns_handle_ = handle;
  return {};
}

void TAsyncSocket::CancelDnsLookup() { Raise(CancelLookup()); }

TSocketResult TAsyncSocket::CancelLookup() {
  if (dns_handle_ == 0) return {};
  int rc = loop_.CancelAsyncRequest(dns_handle_);
  dns_handle_ = 0;
  if (rc != 0) return SocketFailure(rc, "WSACancelAsyncRequest");
  if (!destroying_ && OnDnsLookupDone) OnDnsLookupDone(*this, kWsaeIntr);
  return {};
}

// ---- Connect ---------------------------------------------------------------------------

void TAsyncSocket::Connect() { Raise(OpenConnection()); }

TSocketResult TAsyncSocket::TryConnect(const std::string& addr, const std::string& localAddr,
                                       const std::string& proto, const std::string& port) {
  TSocketResult r = AssignAddr(addr);
  if (!r.failed) r = AssignLocalAddr(localAddr);
  if (!r.failed) r = AssignProto(proto);
  if (!r.failed) r = AssignPort(port);
  if (!r.failed) r = OpenConnection();
  return r;
}

TSocketResult TAsyncSocket::OpenConnection() {
  if (fd_ >= 0 && state_ != wsClosed) return Failure("Connect: Socket already in use");
  if (!port_assigned_) return Failure("Connect: No Port Specified");
  if (!addr_assigned_) return Failure("Connect: No IP Address Specified");
  if (!proto_assigned_) return Failure("Connect: No Protocol Specified");
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
    return Failure("connect: " + e.Message());
  }
  DeleteBufferedData();
  CloseHandleNow();  // a handle left behind by a closed socket

  if (sock_type_ != SOCK_STREAM) {
    // Datagram and raw sockets are not part of this program.
    return SocketFailure(10043, "Connect (socket)");
  }
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol_);
  if (fd_ < 0) {
    fd_ = -1;
    return SocketFailure(LastCode(), "Connect (socket)");
  }
  socklen_t len = sizeof snd_buf_size_;
  if (getsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &snd_buf_size_, &len) != 0) {
    return SocketFailure(LastCode(), "getsockopt(SO_SNDBUF)");
  }
  len = sizeof rcv_buf_size_;
  if (getsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &rcv_buf_size_, &len) != 0) {
    return SocketFailure(LastCode(), "getsockopt(SO_RCVBUF)");
  }
  ChangeState(wsOpened);
  if (state_ != wsOpened) {
    return SocketFailure(kWsaeInval, "Connect (Invalid operation in OnChangeState)");
  }

  int on = 1;
  if (setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
    return SocketFailure(LastCode(), "setsockopt(SO_REUSEADDR)");
  }
  if ((component_options_ & wsoTcpNoDelay) &&
      setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) {
    return SocketFailure(LastCode(), "setsockopt(IPPROTO_TCP, TCP_NODELAY)");
  }
  if (linger_on_off_ != wsLingerNoSet && !ApplyLinger()) {
    return SocketFailure(LastCode(), "setsockopt(SO_LINGER)");
  }
  if (keep_alive_on_off_ != wsKeepAliveOff) {
    if (setsockopt(fd_, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0) {
      return SocketFailure(LastCode(), "setsockopt(SO_KEEPALIVE)");
    }
    if (keep_alive_on_off_ == wsKeepAliveOnCustom) {
      // Milliseconds in the settings, whole seconds (at least one) for Linux.
      int idle = std::max(1, keep_alive_time_ / 1000);
      int interval = std::max(1, keep_alive_interval_ / 1000);
      if (setsockopt(fd_, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle) != 0 ||
          setsockopt(fd_, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval) != 0) {
        return SocketFailure(LastCode(), "WSAIoctl(SIO_KEEPALIVE_VALS)");
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
      return Failure("connect: " + e.Message());
    }
    local.sin_addr.s_addr = localIp;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      last_error_ = LastCode();
      return Failure(Format("winsock.bind failed, error #%d", last_error_));
    }
    socklen_t llen = sizeof local;
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &llen) != 0) {
      last_error_ = LastCode();
      return Failure(Format("winsock.getsockname failed, error #%d", last_error_));
    }
    local_port_ = std::to_string(ntohs(local.sin_port));
  }

  int rc = loop_.AsyncSelect(fd_, window_->Handle(), kWmSocketEvent, kSelectMask);
  if (rc != 0) {
    return SocketFailure(rc, "WSAAsyncSelect");
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
    return {};
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
      return {};
    default:
      last_error_ = code;
      return SocketFailure(code, "Connect");
  }
}

}  // namespace jumelix
