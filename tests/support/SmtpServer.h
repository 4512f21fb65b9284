// A real SMTP server for tests: starts tests/support/smtp_server.py (aiosmtpd, with PLAIN,
// LOGIN, CRAM-MD5 and CRAM-SHA1 for one user) on 127.0.0.1 at a port chosen at run time,
// and reads back the messages it received (raw bytes and envelope). The server lives as
// long as the object; it also stops by itself when the test process goes away (it watches
// its standard input). It tells what happened on its standard output, which the waits
// below watch. Construction never throws: check Started() and Error().
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace jumelix::test {

class TSmtpServer {
 public:
  struct Options {
    bool auth_required = false;            // MAIL refused (530) before a successful AUTH
    bool no_auth = false;                  // AUTH not announced, AUTH refused (538)
    std::string mechanisms;                // e.g. "LOGIN,PLAIN": announce only these
    std::vector<std::string> reject_rcpt;  // these recipients get 550
    bool never_answer = false;             // accept connections, never send a byte
    int line_limit = 2048;                 // longest accepted line, CR LF included
    std::string tls_cert, tls_key;         // offer STARTTLS
    bool implicit_tls = false;             // with tls_cert: TLS from the first byte instead
    std::string token;                     // offer XOAUTH2 and OAUTHBEARER for this token
    std::string user = "jumelix";
    std::string password = "s3cret";
  };

  struct Message {
    std::string raw;  // the message bytes as received (transparency dots removed)
    std::string mail_from;
    std::vector<std::string> rcpt_to;
    std::string helo;
    std::string auth_login;      // empty without authentication
    std::string auth_mechanism;  // PLAIN, LOGIN, CRAM-MD5, CRAM-SHA1, XOAUTH2... or empty
  };

  TSmtpServer();
  explicit TSmtpServer(const Options& options);
  ~TSmtpServer();
  TSmtpServer(const TSmtpServer&) = delete;
  TSmtpServer& operator=(const TSmtpServer&) = delete;

  bool Started() const { return port_ != 0; }
  const std::string& Error() const { return error_; }
  uint16_t Port() const { return port_; }
  std::string PortText() const { return std::to_string(port_); }
  const Options& GetOptions() const { return options_; }
  // Directory where the server writes the messages.
  const std::string& Dir() const { return dir_; }

  // The messages received so far, in order of arrival.
  std::vector<Message> Messages() const;
  // The security-relevant commands the server saw, in order: "EHLO plain", "STARTTLS
  // plain", "EHLO tls", "AUTH tls", "MAIL tls", ... (verbs EHLO, HELO, STARTTLS, AUTH, MAIL).
  std::vector<std::string> Commands() const;
  // Waits until at least n messages have arrived; false after timeout_ms.
  bool WaitForMessages(size_t n, int timeout_ms) const;
  // Waits until at least n sessions have ended, whoever closed them; false after
  // timeout_ms. Once a session has ended, what it delivered is in Messages().
  bool WaitForSessionsClosed(size_t n, int timeout_ms) const;

  // Stops the server now (the destructor does it otherwise).
  void Stop();

 private:
  void Start();
  // Waits at most until `deadline` for the next news from the server (a line on its
  // standard output: "message" once a message is stored, "closed" once a session has
  // ended) and counts what came; false when nothing more can come.
  bool WaitForNews(std::chrono::steady_clock::time_point deadline) const;

  Options options_;
  std::string dir_;
  std::string error_;
  uint16_t port_ = 0;
  pid_t pid_ = -1;
  int stdin_fd_ = -1;
  int news_fd_ = -1;
  mutable std::string news_;
  mutable size_t sessions_closed_ = 0;
};

// Splits a raw message into lines at CR LF (a final CR LF adds no empty line).
std::vector<std::string> SplitCrLf(const std::string& raw);

}  // namespace jumelix::test
