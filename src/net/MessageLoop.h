// A per-thread message loop in the manner of a window message queue: message windows
// receive posted messages in FIFO order, watched sockets turn their readiness into posted
// messages, and name lookups run on helper threads whose only act is to post their result.
// Everything is dispatched on the thread that owns the loop; only PostMessage (and
// TMessageWindow::Post) may be called from other threads. Nothing here throws for an I/O
// failure; exceptions thrown by a handler propagate out of DispatchMessage/ProcessMessages.
//
// How to run it:
//   TMessageLoop& loop = TMessageLoop::Current();   // the loop of the calling thread
//   loop.ProcessMessages();          // dispatch everything pending, never blocks
//   loop.WaitAndProcess(100);        // wait up to 100 ms for something, then dispatch it
//   // GUI: watch loop.NotificationFd() for readability (e.g. a QSocketNotifier) and call
//   //      ProcessMessages() when it fires; the fd is kept in step after every pass.
// How an object posts a message to itself (e.g. to finish a request later, from the loop):
//   TMessageWindow win([this](uint32_t msg, uintptr_t w, intptr_t l) { Handle(msg, w, l); });
//   win.Post(kWmUser + 10, 0, 0);   // the handler runs from a later ProcessMessages
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace jumelix {

// Identifies a message window inside its loop; 0 is no window. Never reused by a loop, so
// a message posted to a destroyed window is dropped instead of reaching another one.
using THwnd = uint64_t;

constexpr uint32_t kWmQuit = 0x0012;
constexpr uint32_t kWmUser = 0x0400;

// Readiness bits given to AsyncSelect and found in the low word of the lParam of the
// messages it posts; the high word holds the error code (Winsock numbering).
constexpr long kFdRead = 0x01;
constexpr long kFdWrite = 0x02;
constexpr long kFdOob = 0x04;
constexpr long kFdAccept = 0x08;
constexpr long kFdConnect = 0x10;
constexpr long kFdClose = 0x20;

constexpr intptr_t MakeSelectReply(long event, int error) {
  return static_cast<intptr_t>((static_cast<uint32_t>(error & 0xFFFF) << 16) |
                               static_cast<uint32_t>(event & 0xFFFF));
}
constexpr long SelectEvent(intptr_t lParam) { return static_cast<long>(lParam & 0xFFFF); }
constexpr int SelectError(intptr_t lParam) { return static_cast<int>((lParam >> 16) & 0xFFFF); }

struct TMessage {
  THwnd hwnd = 0;
  uint32_t message = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
};

class TMessageLoop {
 public:
  using THandler = std::function<void(uint32_t message, uintptr_t wParam, intptr_t lParam)>;

  // The loop of the calling thread, created at its first use and destroyed with the thread.
  static TMessageLoop& Current();

  TMessageLoop();
  ~TMessageLoop();
  TMessageLoop(const TMessageLoop&) = delete;
  TMessageLoop& operator=(const TMessageLoop&) = delete;

  // Appends a message to the queue; safe from any thread. False when hwnd is 0.
  bool PostMessage(THwnd hwnd, uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0);
  // Queues the quit message: ProcessMessages stops when it reaches it and QuitReceived()
  // becomes true until ClearQuit().
  void PostQuitMessage(int exitCode);

  // Looks at the watched sockets without waiting, then at the head of the queue; with
  // `remove` the message is taken off the queue. False when nothing is queued.
  bool PeekMessage(TMessage& msg, bool remove);
  // Runs the handler of the message's window; a message for a window gone is dropped.
  void DispatchMessage(const TMessage& msg);

  // Dispatches every pending message (also those posted meanwhile by handlers) without
  // blocking; stops at a quit message. Returns the number of messages dispatched.
  int ProcessMessages();
  // Waits at most timeoutMs (negative: no limit) until a message, a socket event or a
  // lookup result is there, then ProcessMessages. Returns the number dispatched.
  int WaitAndProcess(int timeoutMs);

  bool QuitReceived() const;
  int QuitCode() const;
  void ClearQuit();

  // Readable whenever ProcessMessages has something to do (queued messages, socket
  // readiness of interest, lookup results). Owned by the loop.
  int NotificationFd() const;
  // Messages waiting in the queue (socket readiness not yet turned into messages excluded).
  size_t PendingCount() const;
  // Removes queued messages for hwnd with this message number and wParam.
  void RemoveMessages(THwnd hwnd, uint32_t message, uintptr_t wParam);

  // Message windows; TMessageWindow is the RAII way to use these two.
  THwnd RegisterWindow(THandler handler);
  void UnregisterWindow(THwnd hwnd);

  // Socket notifications with the Winsock rules: kFdConnect once when a connect ends
  // (error from SO_ERROR); kFdRead when readable, not again until SocketReceived; kFdWrite
  // once after connecting and again only after SocketSendBlocked and the socket became
  // writable; kFdClose once when the peer closed or the connection broke. A mask of 0
  // stops notifications (the state is kept, so a later mask resumes them). Returns 0, or
  // a Winsock error code.
  int AsyncSelect(int fd, THwnd hwnd, uint32_t message, long mask);
  // The socket is about to be closed: stops watching it and drops its queued messages.
  void ForgetSocket(int fd);
  // Called after connect() returned 0 or EINPROGRESS.
  void SocketConnecting(int fd);
  // Called after every recv() on the socket: re-arms kFdRead.
  void SocketReceived(int fd);
  // Called when a send() met EWOULDBLOCK: re-arms kFdWrite.
  void SocketSendBlocked(int fd);

  // Starts an IPv4 lookup of `name` on a helper thread, which posts `message` to hwnd with
  // wParam = the returned handle and lParam = MakeSelectReply(0, code) (code 0 or 11001..
  // 11004). Returns 0 (and sets errno) when the thread cannot be started.
  uint32_t AsyncGetHostByName(THwnd hwnd, uint32_t message, const std::string& name);
  // Cancels a lookup: its result and its queued completion are dropped. Returns 0, or
  // 10022 for a handle that is not pending (already fetched or cancelled).
  int CancelAsyncRequest(uint32_t handle);
  // Takes the addresses (IPv4, network byte order, in the resolver's order) of a lookup
  // whose completion message has arrived. False when the handle has no result.
  bool TakeHostByNameResult(uint32_t handle, std::vector<uint32_t>& addrs);

  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
};

// A hidden message window: registered with a loop for its lifetime; its handler is called
// from that loop's dispatch. Destroying it drops its queued messages.
class TMessageWindow {
 public:
  using THandler = TMessageLoop::THandler;

  explicit TMessageWindow(THandler handler, TMessageLoop& loop = TMessageLoop::Current());
  ~TMessageWindow();
  TMessageWindow(const TMessageWindow&) = delete;
  TMessageWindow& operator=(const TMessageWindow&) = delete;

  THwnd Handle() const { return hwnd_; }
  TMessageLoop& Loop() const { return loop_; }
  bool Post(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0) const {
    return loop_.PostMessage(hwnd_, message, wParam, lParam);
  }

 private:
  TMessageLoop& loop_;
  THwnd hwnd_;
};

}  // namespace jumelix
