#include "support/SmtpServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/ProcessusFils.h"

namespace jumelix::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The system interpreter: aiosmtpd comes from the distribution's packages.
constexpr const char* kPython = "/usr/bin/python3";

}  // namespace

std::vector<std::string> SplitCrLf(const std::string& raw) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < raw.size()) {
    size_t end = raw.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(raw.substr(start));
      break;
    }
    lines.push_back(raw.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

TSmtpServer::TSmtpServer() : TSmtpServer(Options{}) {}

TSmtpServer::TSmtpServer(const Options& options) : options_(options) { Start(); }

TSmtpServer::~TSmtpServer() {
  Stop();
  if (!dir_.empty()) {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
}

void TSmtpServer::Start() {
  std::string tmpl = (fs::temp_directory_path() / "jumelix-smtp-XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr) {
    error_ = "mkdtemp failed";
    return;
  }
  dir_ = tmpl;
  std::vector<std::string> args = {
      kPython,        std::string(JUMELIX_TEST_SUPPORT_DIR) + "/smtp_server.py",
      "--dir",        dir_ + "/messages",
      "--user",       options_.user,
      "--password",   options_.password,
      "--line-limit", std::to_string(options_.line_limit)};
  if (options_.auth_required) args.push_back("--auth-required");
  if (options_.no_auth) args.push_back("--no-auth");
  if (!options_.mechanisms.empty()) {
    args.push_back("--mechanisms");
    args.push_back(options_.mechanisms);
  }
  for (const auto& r : options_.reject_rcpt) {
    args.push_back("--reject-rcpt");
    args.push_back(r);
  }
  if (options_.never_answer) args.push_back("--never-answer");
  if (!options_.token.empty()) {
    args.push_back("--token");
    args.push_back(options_.token);
  }
  if (!options_.tls_cert.empty()) {
    args.push_back("--tls-cert");
    args.push_back(options_.tls_cert);
    args.push_back("--tls-key");
    args.push_back(options_.tls_key);
    if (options_.implicit_tls) args.push_back("--implicit-tls");
  }

  int in_pipe[2];
  int out_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) != 0) {
    error_ = "pipe failed";
    return;
  }
  if (pipe2(out_pipe, O_CLOEXEC) != 0) {
    close(in_pipe[0]);
    close(in_pipe[1]);
    error_ = "pipe failed";
    return;
  }
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::string log_path = dir_ + "/server.log";
  pid_ = fork();
  if (pid_ == 0) {
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    int log = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (log >= 0) dup2(log, 2);
    execv(kPython, argv.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  stdin_fd_ = in_pipe[1];
  if (pid_ < 0) {
    close(out_pipe[0]);
    error_ = "fork failed";
    return;
  }
  // The server prints its port once it accepts connections, then its news.
  news_fd_ = out_pipe[0];
  fcntl(news_fd_, F_SETFL, fcntl(news_fd_, F_GETFL) | O_NONBLOCK);
  const auto deadline = Clock::now() + std::chrono::seconds(15);
  while (news_.find('\n') == std::string::npos && WaitForNews(deadline)) {
  }
  const size_t end = news_.find('\n');
  const int port = std::atoi(news_.substr(0, end).c_str());
  news_.erase(0, end == std::string::npos ? news_.size() : end + 1);
  if (port <= 0 || port > 65535) {
    error_ = "SMTP test server did not start: " + ReadFile(log_path);
    Stop();
    return;
  }
  port_ = static_cast<uint16_t>(port);
}

void TSmtpServer::Stop() {
  if (stdin_fd_ >= 0) {
    close(stdin_fd_);  // end of input: the server stops
    stdin_fd_ = -1;
  }
  if (pid_ > 0) AttendreFinFils(pid_, 5000);
  pid_ = -1;
  if (news_fd_ >= 0) {
    close(news_fd_);
    news_fd_ = -1;
  }
}

bool TSmtpServer::WaitForNews(Clock::time_point deadline) const {
  if (news_fd_ < 0) return false;
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  pollfd p{news_fd_, POLLIN, 0};
  const int r = poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
  if (r < 0) return errno == EINTR;
  if (r == 0) return false;
  char buf[256];
  const ssize_t n = read(news_fd_, buf, sizeof buf);
  if (n <= 0) return n < 0 && (errno == EAGAIN || errno == EINTR);
  news_.append(buf, static_cast<size_t>(n));
  for (size_t end; port_ != 0 && (end = news_.find('\n')) != std::string::npos;) {
    if (news_.compare(0, end, "closed") == 0) ++sessions_closed_;
    news_.erase(0, end + 1);
  }
  return true;
}

std::vector<TSmtpServer::Message> TSmtpServer::Messages() const {
  std::vector<Message> list;
  for (int i = 1;; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "%04d", i);
    fs::path base = fs::path(dir_) / "messages" / name;
    fs::path eml = base;
    eml += ".eml";
    fs::path env = base;
    env += ".env";
    if (!fs::exists(eml) || !fs::exists(env)) break;
    Message m;
    m.raw = ReadFile(eml);
    std::istringstream in(ReadFile(env));
    std::string line;
    while (std::getline(in, line)) {
      size_t colon = line.find(": ");
      std::string key = line.substr(0, colon);
      std::string value = colon == std::string::npos ? "" : line.substr(colon + 2);
      if (key == "mail_from") m.mail_from = value;
      if (key == "rcpt_to") m.rcpt_to.push_back(value);
      if (key == "helo") m.helo = value;
      if (key == "auth_login") m.auth_login = value;
      if (key == "auth_mechanism") m.auth_mechanism = value;
    }
    list.push_back(std::move(m));
  }
  return list;
}

std::vector<std::string> TSmtpServer::Commands() const {
  std::vector<std::string> list;
  std::istringstream in(ReadFile(fs::path(dir_) / "commands.log"));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty()) list.push_back(line);
  }
  return list;
}

bool TSmtpServer::WaitForMessages(size_t n, int timeout_ms) const {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (Messages().size() < n) {
    if (!WaitForNews(deadline)) return Messages().size() >= n;
  }
  return true;
}

bool TSmtpServer::WaitForSessionsClosed(size_t n, int timeout_ms) const {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (sessions_closed_ < n) {
    if (!WaitForNews(deadline)) return false;
  }
  return true;
}

}  // namespace jumelix::test
