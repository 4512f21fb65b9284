#include "support/ScriptedPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace jumelix::test {
namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

TScriptedPeer::TScriptedPeer() {
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) throw std::runtime_error("scripted peer: socket");
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  socklen_t len = sizeof a;
  if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      listen(listen_fd_, 4) != 0 ||
      getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    close(listen_fd_);
    throw std::runtime_error("scripted peer: bind/listen");
  }
  port_ = ntohs(a.sin_port);
  stop_fd_ = eventfd(0, EFD_CLOEXEC);
  if (stop_fd_ < 0) {
    close(listen_fd_);
    throw std::runtime_error("scripted peer: eventfd");
  }
}

TScriptedPeer::~TScriptedPeer() {
  stop_ = true;
  const uint64_t un = 1;
  if (write(stop_fd_, &un, sizeof un) != sizeof un) {
    // Cannot happen on an eventfd this far from its maximum.
  }
  Signal();
  if (thread_.joinable()) thread_.join();
  close(stop_fd_);
  if (conn_fd_ >= 0) close(conn_fd_);
  if (listen_fd_ >= 0) close(listen_fd_);
}

TScriptedPeer& TScriptedPeer::Send(const std::string& bytes) {
  steps_.push_back({Kind::kSend, bytes});
  return *this;
}
TScriptedPeer& TScriptedPeer::Reply(const std::string& line) { return Send(line + "\r\n"); }
TScriptedPeer& TScriptedPeer::Expect(const std::string& line) {
  steps_.push_back({Kind::kExpect, line});
  return *this;
}
TScriptedPeer& TScriptedPeer::ReadLine() {
  steps_.push_back({Kind::kReadLine, ""});
  return *this;
}
TScriptedPeer& TScriptedPeer::ReadUntilDot() {
  steps_.push_back({Kind::kReadUntilDot, ""});
  return *this;
}
TScriptedPeer& TScriptedPeer::WaitMs(int ms) {
  steps_.push_back({Kind::kWait, "", ms});
  return *this;
}
TScriptedPeer& TScriptedPeer::WaitSignal() {
  steps_.push_back({Kind::kWaitSignal, ""});
  return *this;
}
TScriptedPeer& TScriptedPeer::Close() {
  steps_.push_back({Kind::kClose, ""});
  return *this;
}
TScriptedPeer& TScriptedPeer::WaitForClose() {
  steps_.push_back({Kind::kWaitForClose, ""});
  return *this;
}

TScriptedPeer& TScriptedPeer::Flood(const std::string& pattern, size_t total) {
  steps_.push_back({Kind::kFlood, pattern, 0, total});
  return *this;
}
TScriptedPeer& TScriptedPeer::Trickle(const std::string& pattern, int interval_ms) {
  steps_.push_back({Kind::kTrickle, pattern, interval_ms});
  return *this;
}

bool TScriptedPeer::SendPatiently(const char* data, size_t size) {
  size_t off = 0;
  while (off < size) {
    if (PollOrStop(conn_fd_, POLLOUT, -1) < 0) return false;
    ssize_t n = send(conn_fd_, data + off, size - off, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) {
      client_closed_ = true;
      return false;
    }
    off += static_cast<size_t>(n);
  }
  return true;
}

void TScriptedPeer::Start() {
  thread_ = std::thread([this] { Run(); });
}

void TScriptedPeer::Signal() {
  std::lock_guard<std::mutex> lock(mutex_);
  signalled_ = true;
  cv_.notify_all();
}

bool TScriptedPeer::WaitDone(int timeout_ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return done_.load(); });
}

bool TScriptedPeer::WaitForReceived(size_t n, int timeout_ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
               [&] { return received_.size() >= n || done_; });
  return received_.size() >= n;
}

void TScriptedPeer::Finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  done_ = true;
  cv_.notify_all();
}

int TScriptedPeer::PollOrStop(int fd, short events, int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    pollfd p[2] = {{fd, events, 0}, {stop_fd_, POLLIN, 0}};
    const int r = poll(p, 2, timeout_ms < 0 ? -1 : MsLeft(deadline));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 || (p[1].revents & POLLIN) != 0) return -1;
    return r > 0 ? 1 : 0;
  }
}

std::vector<std::string> TScriptedPeer::Received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

std::vector<std::string> TScriptedPeer::Problems() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return problems_;
}

void TScriptedPeer::Problem(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  problems_.push_back(text);
}

bool TScriptedPeer::ReadOneLine(std::string& line, int timeout_ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (true) {
    size_t end = pending_.find("\r\n");
    if (end != std::string::npos) {
      line = pending_.substr(0, end);
      pending_.erase(0, end + 2);
      std::lock_guard<std::mutex> lock(mutex_);
      received_.push_back(line);
      cv_.notify_all();
      return true;
    }
    if (stop_ || client_closed_) return false;
    if (PollOrStop(conn_fd_, POLLIN, MsLeft(deadline)) <= 0) return false;
    char buf[4096];
    ssize_t n = recv(conn_fd_, buf, sizeof buf, 0);
    if (n <= 0) {
      client_closed_ = true;
      return false;
    }
    pending_.append(buf, static_cast<size_t>(n));
  }
}

void TScriptedPeer::Run() {
  auto accept_deadline = Clock::now() + std::chrono::milliseconds(10000);
  while (!stop_ && conn_fd_ < 0) {
    const int r = PollOrStop(listen_fd_, POLLIN, MsLeft(accept_deadline));
    if (r == 0) {
      Problem("no connection");
      Finish();
      return;
    }
    if (r < 0) break;
    conn_fd_ = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
  }
  if (conn_fd_ < 0) {
    Finish();
    return;
  }
  accepted_ = true;
  for (const Step& step : steps_) {
    if (stop_) break;
    std::string line;
    switch (step.kind) {
      case Kind::kSend: {
        size_t off = 0;
        while (off < step.text.size()) {
          ssize_t n = send(conn_fd_, step.text.data() + off, step.text.size() - off, MSG_NOSIGNAL);
          if (n <= 0) {
            Problem("send failed");
            Finish();
            return;
          }
          off += static_cast<size_t>(n);
        }
        break;
      }
      case Kind::kExpect:
        if (!ReadOneLine(line, read_timeout_ms_)) {
          Problem("expected \"" + step.text + "\", got nothing");
          Finish();
          return;
        }
        if (line != step.text) Problem("expected \"" + step.text + "\", got \"" + line + "\"");
        break;
      case Kind::kReadLine:
        if (!ReadOneLine(line, read_timeout_ms_)) {
          Problem("expected a line, got nothing");
          Finish();
          return;
        }
        break;
      case Kind::kReadUntilDot:
        do {
          if (!ReadOneLine(line, read_timeout_ms_)) {
            Problem("message not ended by \".\"");
            Finish();
            return;
          }
        } while (line != ".");
        break;
      case Kind::kWait:
        // A delay the script asks for (a slow server, to test a client's time limit).
        PollOrStop(-1, 0, step.ms);
        break;
      case Kind::kWaitSignal: {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [this] { return signalled_ || stop_; });
        signalled_ = false;
        break;
      }
      case Kind::kClose:
        close(conn_fd_);
        conn_fd_ = -1;
        Finish();
        return;
      case Kind::kFlood: {
        std::string block;
        while (block.size() < 65536) block += step.text;
        size_t sent = 0;
        while (!stop_ && (step.total == 0 || sent < step.total)) {
          size_t n = step.total == 0 ? block.size() : std::min(block.size(), step.total - sent);
          if (!SendPatiently(block.data(), n)) break;
          sent += n;
        }
        break;
      }
      case Kind::kTrickle:
        for (size_t i = 0; !stop_; i = (i + 1) % step.text.size()) {
          if (!SendPatiently(&step.text[i], 1)) break;
          PollOrStop(-1, 0, step.ms);  // the trickle's own pace, a delay on purpose
        }
        break;
      case Kind::kWaitForClose:
        while (ReadOneLine(line, read_timeout_ms_)) {
        }
        if (!client_closed_) Problem("client did not close");
        break;
    }
  }
  Finish();
}

}  // namespace jumelix::test
