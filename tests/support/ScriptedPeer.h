// A scripted TCP peer for protocol tests: listens on 127.0.0.1 (port chosen by the system),
// accepts one connection and plays its script on its own thread: send bytes, expect or
// read lines, wait, close. Every line received is recorded (without its CR LF) so a test
// can compare the whole dialogue byte for byte. Reads give up after a time limit, so a
// silent client never hangs a test; the destructor stops the script and joins the thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace jumelix::test {

class TScriptedPeer {
 public:
  TScriptedPeer();
  ~TScriptedPeer();
  TScriptedPeer(const TScriptedPeer&) = delete;
  TScriptedPeer& operator=(const TScriptedPeer&) = delete;

  uint16_t Port() const { return port_; }

  // ---- Script steps (add them before Start) ----
  TScriptedPeer& Send(const std::string& bytes);   // raw bytes, as they stand
  TScriptedPeer& Reply(const std::string& line);   // line + CR LF
  TScriptedPeer& Expect(const std::string& line);  // reads a line; a different one is noted
  TScriptedPeer& ReadLine();                       // reads a line, whatever it holds
  TScriptedPeer& ReadUntilDot();                   // reads lines up to the "." line
  TScriptedPeer& WaitMs(int ms);
  TScriptedPeer& WaitSignal();    // waits until the test calls Signal()
  TScriptedPeer& Close();         // closes the connection
  TScriptedPeer& WaitForClose();  // reads until the client closes (lines are recorded)
  // Hostile peers. Flood sends `pattern` again and again, `total` bytes in all (0: until
  // the client closes); Trickle sends it one byte every `interval_ms`, over and over,
  // until the client closes. Both end quietly when the client goes, and on destruction.
  TScriptedPeer& Flood(const std::string& pattern, size_t total = 0);
  TScriptedPeer& Trickle(const std::string& pattern, int interval_ms);

  // Accepts one connection and plays the script on the peer's thread.
  void Start();
  void Signal();
  // True once the script has run to its end (or stopped on a failure).
  bool Done() const { return done_; }
  bool WaitDone(int timeout_ms);

  // Everything received so far, one entry per line; an unfinished line is not included.
  std::vector<std::string> Received() const;
  // Waits until n lines have been received; false after timeout_ms or once the script
  // has ended short of them.
  bool WaitForReceived(size_t n, int timeout_ms);
  // Differences from Expect steps and failures (timeouts, connection lost), in order.
  std::vector<std::string> Problems() const;
  bool ClientClosed() const { return client_closed_; }
  bool Accepted() const { return accepted_; }
  // Read time limit of each step (default 5000 ms).
  void SetReadTimeout(int ms) { read_timeout_ms_ = ms; }

 private:
  enum class Kind {
    kSend,
    kExpect,
    kReadLine,
    kReadUntilDot,
    kWait,
    kWaitSignal,
    kClose,
    kWaitForClose,
    kFlood,
    kTrickle
  };
  struct Step {
    Kind kind;
    std::string text;
    int ms = 0;
    size_t total = 0;
  };

  void Run();
  void Finish();
  bool ReadOneLine(std::string& line, int timeout_ms);  // false on timeout or close
  void Problem(const std::string& text);
  // Waits for `events` on `fd` at most timeout_ms (-1: no limit): 1 when they came, 0 at
  // the limit, -1 on an error or when the peer is being destroyed.
  int PollOrStop(int fd, short events, int timeout_ms);
  // Sends bytes while watching for the stop; false once the client has gone.
  bool SendPatiently(const char* data, size_t size);

  int listen_fd_ = -1;
  int conn_fd_ = -1;
  int stop_fd_ = -1;  // an eventfd the destructor writes: wakes every wait of the script
  uint16_t port_ = 0;
  std::vector<Step> steps_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> done_{false};
  std::atomic<bool> client_closed_{false};
  std::atomic<bool> accepted_{false};
  int read_timeout_ms_ = 5000;
  std::string pending_;  // bytes received after the last complete line

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;
  std::vector<std::string> received_;
  std::vector<std::string> problems_;
};

}  // namespace jumelix::test
