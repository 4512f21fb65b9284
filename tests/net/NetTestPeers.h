// Peers for the socket tests: a listening socket on 127.0.0.1 with a port chosen by the
// system, blocking accept with a time limit, and a pump that runs the calling thread's
// message loop until a condition holds. Every descriptor is closed by its owner.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>

#include "net/MessageLoop.h"

namespace jumelix::testing {

class TFd {
 public:
  explicit TFd(int fd = -1) : fd_(fd) {}
  ~TFd() { Reset(); }
  TFd(TFd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  TFd& operator=(TFd&& o) noexcept {
    if (this != &o) {
      Reset();
      fd_ = o.fd_;
      o.fd_ = -1;
    }
    return *this;
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int get() const { return fd_; }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// A socket bound to 127.0.0.1:0; listening unless `listen` is false (then a connection
// to its port is refused).
class TLocalListener {
 public:
  explicit TLocalListener(bool listen = true, int rcvBuf = 0) {
    fd_ = TFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (rcvBuf > 0) setsockopt(fd_.get(), SOL_SOCKET, SO_RCVBUF, &rcvBuf, sizeof rcvBuf);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_.get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    if (listen) ::listen(fd_.get(), 4);
  }
  int port() const { return port_; }
  std::string PortText() const { return std::to_string(port_); }

  // Accepts one connection, waiting at most `ms` while pumping nothing (the connection is
  // completed by the kernel, so the client's loop need not run).
  TFd Accept(int ms = 3000) {
    pollfd p{fd_.get(), POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0) return TFd();
    return TFd(::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC));
  }

 private:
  TFd fd_;
  int port_ = 0;
};

// Runs the calling thread's loop until `done` holds; false after `ms` milliseconds.
inline bool PumpUntil(const std::function<bool()>& done, int ms = 5000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    TMessageLoop::Current().WaitAndProcess(20);
  }
  return true;
}

// Runs the loop for `ms` milliseconds whatever happens.
inline void PumpFor(int ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < deadline) TMessageLoop::Current().WaitAndProcess(10);
}

}  // namespace jumelix::testing
