#include "support/ScriptedPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <thread>

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
}

TScriptedPeer::~TScriptedPeer() {
  stop_ = true;
  Signal();
  if (thread_.joinable()) thread_.join();
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
    if (stop_) return false;
    pollfd p{conn_fd_, POLLOUT, 0};
    int r = poll(&p, 1, 50);
    if (r < 0 && errno != EINTR) return false;
    if (r <= 0) continue;
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
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done_ && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return done_;
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
      return true;
    }
    if (stop_ || client_closed_) return false;
    int left = MsLeft(deadline);
    if (left == 0) return false;
    pollfd p{conn_fd_, POLLIN, 0};
    int r = poll(&p, 1, std::min(left, 50));
    if (r < 0 && errno != EINTR) return false;
    if (r <= 0) continue;
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
    int left = MsLeft(accept_deadline);
    if (left == 0) {
      Problem("no connection");
      done_ = true;
      return;
    }
    pollfd p{listen_fd_, POLLIN, 0};
    if (poll(&p, 1, std::min(left, 50)) > 0)
      conn_fd_ = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
  }
  if (conn_fd_ < 0) {
    done_ = true;
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
            done_ = true;
            return;
          }
          off += static_cast<size_t>(n);
        }
        break;
      }
      case Kind::kExpect:
        if (!ReadOneLine(line, read_timeout_ms_)) {
          Problem("expected \"" + step.text + "\", got nothing");
          done_ = true;
          return;
        }
        if (line != step.text) Problem("expected \"" + step.text + "\", got \"" + line + "\"");
        break;
      case Kind::kReadLine:
        if (!ReadOneLine(line, read_timeout_ms_)) {
          Problem("expected a line, got nothing");
          done_ = true;
          return;
        }
        break;
      case Kind::kReadUntilDot:
        do {
          if (!ReadOneLine(line, read_timeout_ms_)) {
            Problem("message not ended by \".\"");
            done_ = true;
            return;
          }
        } while (line != ".");
        break;
      case Kind::kWait:
        std::this_thread::sleep_for(std::chrono::milliseconds(step.ms));
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
        done_ = true;
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
          std::this_thread::sleep_for(std::chrono::milliseconds(step.ms));
        }
        break;
      case Kind::kWaitForClose:
        while (ReadOneLine(line, read_timeout_ms_)) {
        }
        if (!client_closed_) Problem("client did not close");
        break;
    }
  }
  done_ = true;
}

}  // namespace jumelix::test
