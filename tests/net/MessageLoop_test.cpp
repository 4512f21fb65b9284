#include "net/MessageLoop.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "NetTestPeers.h"

namespace jumelix {
namespace {

using testing::PumpFor;
using testing::PumpUntil;
using testing::TFd;
using testing::TLocalListener;

using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Returns once the thread `tid` of this process is blocked in poll (the loop's wait), as
// the kernel shows it; gives up after 5 s. The caller spins: it is about to post anyway.
void WaitUntilBlockedInPoll(pid_t tid) {
  const std::string chemin = "/proc/self/task/" + std::to_string(tid) + "/syscall";
  const auto start = Clock::now();
  while (ElapsedMs(start) < 5000) {
    std::ifstream f(chemin);
    std::string numero;  // "running" while it runs
    if (!(f >> numero)) return;  // no such file here: post at once
    if (numero == std::to_string(SYS_poll) || numero == std::to_string(SYS_ppoll)) return;
    sched_yield();
  }
}

bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1;
}

struct Received {
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
};

// A window that writes down what it receives.
class RecordingWindow {
 public:
  RecordingWindow()
      : window_([this](uint32_t m, uintptr_t w, intptr_t l) {
          got.push_back({m, w, l});
        }) {}
  TMessageWindow& window() { return window_; }
  THwnd hwnd() const { return window_.Handle(); }
  std::vector<Received> got;

  std::vector<long> Events() const {
    std::vector<long> e;
    for (const auto& r : got) e.push_back(SelectEvent(r.lParam));
    return e;
  }

 private:
  TMessageWindow window_;
};

TEST(MessageLoop, MessagesArriveInPostingOrderAtTheirOwnWindow) {
  TMessageLoop& loop = TMessageLoop::Current();
  RecordingWindow a;
  RecordingWindow b;
  a.window().Post(kWmUser + 1, 1, 10);
  b.window().Post(kWmUser + 2, 2, 20);
  a.window().Post(kWmUser + 3, 3, 30);
  EXPECT_EQ(loop.PendingCount(), 3u);
  EXPECT_EQ(loop.ProcessMessages(), 3);
  ASSERT_EQ(a.got.size(), 2u);
  EXPECT_EQ(a.got[0].message, kWmUser + 1);
  EXPECT_EQ(a.got[1].message, kWmUser + 3);
  EXPECT_EQ(a.got[1].wParam, 3u);
  EXPECT_EQ(a.got[1].lParam, 30);
  ASSERT_EQ(b.got.size(), 1u);
  EXPECT_EQ(b.got[0].wParam, 2u);
  EXPECT_EQ(loop.ProcessMessages(), 0);
  EXPECT_FALSE(loop.PostMessage(0, kWmUser, 0, 0));
}

TEST(MessageLoop, MessagesPostedByAHandlerRunInTheSamePass) {
  TMessageLoop& loop = TMessageLoop::Current();
  std::vector<int> order;
  std::unique_ptr<TMessageWindow> w;
  w = std::make_unique<TMessageWindow>([&](uint32_t, uintptr_t n, intptr_t) {
    order.push_back(static_cast<int>(n));
    if (n < 3) w->Post(kWmUser, n + 1);
  });
  w->Post(kWmUser, 1);
  EXPECT_EQ(loop.ProcessMessages(), 3);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(MessageLoop, MessagesOfADestroyedWindowAreDropped) {
  TMessageLoop& loop = TMessageLoop::Current();
  RecordingWindow keep;
  THwnd gone;
  {
    RecordingWindow temp;
    gone = temp.hwnd();
    temp.window().Post(kWmUser);
    keep.window().Post(kWmUser);
    EXPECT_EQ(loop.PendingCount(), 2u);
  }
  EXPECT_EQ(loop.PendingCount(), 1u);
  loop.PostMessage(gone, kWmUser);  // a later post to the old handle reaches nobody
  loop.ProcessMessages();
  EXPECT_EQ(keep.got.size(), 1u);
  RecordingWindow fresh;
  EXPECT_NE(fresh.hwnd(), gone);
}

TEST(MessageLoop, AWindowMayDestroyItselfInItsHandler) {
  TMessageLoop& loop = TMessageLoop::Current();
  int calls = 0;
  std::unique_ptr<TMessageWindow> w;
  w = std::make_unique<TMessageWindow>([&](uint32_t, uintptr_t, intptr_t) {
    ++calls;
    w.reset();
  });
  w->Post(kWmUser);
  w->Post(kWmUser);
  loop.ProcessMessages();
  EXPECT_EQ(calls, 1);
}

TEST(MessageLoop, PeekRemoveAndDispatch) {
  TMessageLoop& loop = TMessageLoop::Current();
  RecordingWindow a;
  a.window().Post(kWmUser + 7, 5);
  TMessage m;
  ASSERT_TRUE(loop.PeekMessage(m, false));
  EXPECT_EQ(loop.PendingCount(), 1u);
  ASSERT_TRUE(loop.PeekMessage(m, true));
  EXPECT_EQ(loop.PendingCount(), 0u);
  EXPECT_EQ(m.message, kWmUser + 7);
  EXPECT_TRUE(a.got.empty());
  loop.DispatchMessage(m);
  ASSERT_EQ(a.got.size(), 1u);
  EXPECT_EQ(a.got[0].wParam, 5u);
  EXPECT_FALSE(loop.PeekMessage(m, true));
}

TEST(MessageLoop, QuitStopsTheProcessingAndLeavesTheRest) {
  TMessageLoop& loop = TMessageLoop::Current();
  RecordingWindow a;
  a.window().Post(kWmUser + 1);
  loop.PostQuitMessage(7);
  a.window().Post(kWmUser + 2);
  EXPECT_EQ(loop.ProcessMessages(), 1);
  EXPECT_TRUE(loop.QuitReceived());
  EXPECT_EQ(loop.QuitCode(), 7);
  EXPECT_EQ(loop.PendingCount(), 1u);
  loop.ClearQuit();
  EXPECT_FALSE(loop.QuitReceived());
  EXPECT_EQ(loop.ProcessMessages(), 1);
  EXPECT_EQ(a.got.size(), 2u);
}

TEST(MessageLoop, WaitEndsEarlyForAPostFromAnotherThreadAndTimesOutOtherwise) {
  TMessageLoop& loop = TMessageLoop::Current();
  RecordingWindow a;
  auto start = Clock::now();
  EXPECT_EQ(loop.WaitAndProcess(150), 0);
  EXPECT_GE(ElapsedMs(start), 140);

  THwnd h = a.hwnd();
  const pid_t waiter = gettid();
  std::thread poster([&loop, h, waiter] {
    WaitUntilBlockedInPoll(waiter);
    loop.PostMessage(h, kWmUser + 9, 1, 2);
  });
  start = Clock::now();
  int n = 0;
  while (n == 0 && ElapsedMs(start) < 5000) n = loop.WaitAndProcess(5000);
  poster.join();
  EXPECT_EQ(n, 1);
  EXPECT_LT(ElapsedMs(start), 2000);
  ASSERT_EQ(a.got.size(), 1u);
  EXPECT_EQ(a.got[0].message, kWmUser + 9);
}

TEST(MessageLoop, NotificationFdIsReadableExactlyWhenThereIsWork) {
  TMessageLoop& loop = TMessageLoop::Current();
  RecordingWindow a;
  loop.ProcessMessages();
  EXPECT_FALSE(Readable(loop.NotificationFd()));
  a.window().Post(kWmUser);
  EXPECT_TRUE(Readable(loop.NotificationFd()));
  loop.ProcessMessages();
  EXPECT_FALSE(Readable(loop.NotificationFd()));
}

// A connected pair on 127.0.0.1; the client side is watched by the loop.
struct WatchedPair {
  TLocalListener listener;
  TFd client;
  TFd server;
  RecordingWindow win;

  WatchedPair() {
    client = TFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    TMessageLoop& loop = TMessageLoop::Current();
    EXPECT_EQ(loop.AsyncSelect(client.get(), win.hwnd(), kWmUser + 1, 0x3B), 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(listener.port()));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int rc = ::connect(client.get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    EXPECT_TRUE(rc == 0 || errno == EINPROGRESS);
    loop.SocketConnecting(client.get());
    server = listener.Accept();
  }
  ~WatchedPair() { TMessageLoop::Current().ForgetSocket(client.get()); }
};

TEST(MessageLoopSockets, ConnectThenOneWriteThenReadOnceUntilReceived) {
  TMessageLoop& loop = TMessageLoop::Current();
  WatchedPair p;
  ASSERT_TRUE(PumpUntil([&] { return p.win.got.size() >= 2; }));
  PumpFor(50);
  EXPECT_EQ(p.win.Events(), (std::vector<long>{kFdConnect, kFdWrite}));
  EXPECT_EQ(SelectError(p.win.got[0].lParam), 0);
  EXPECT_EQ(p.win.got[0].wParam, static_cast<uintptr_t>(p.client.get()));

  p.win.got.clear();
  ASSERT_EQ(::send(p.server.get(), "abcd", 4, 0), 4);
  ASSERT_TRUE(PumpUntil([&] { return !p.win.got.empty(); }));
  PumpFor(50);
  EXPECT_EQ(p.win.Events(), std::vector<long>{kFdRead});  // not repeated without recv

  char c;
  ASSERT_EQ(::recv(p.client.get(), &c, 1, 0), 1);
  loop.SocketReceived(p.client.get());
  ASSERT_TRUE(PumpUntil([&] { return p.win.got.size() == 2; }));  // three bytes remain
  char rest[3];
  ASSERT_EQ(::recv(p.client.get(), rest, 3, 0), 3);
  loop.SocketReceived(p.client.get());
  PumpFor(50);
  EXPECT_EQ(p.win.Events(), (std::vector<long>{kFdRead, kFdRead}));
}

TEST(MessageLoopSockets, NotificationFdFollowsSocketReadinessWithoutSpinning) {
  TMessageLoop& loop = TMessageLoop::Current();
  WatchedPair p;
  ASSERT_TRUE(PumpUntil([&] { return p.win.got.size() >= 2; }));
  loop.ProcessMessages();
  EXPECT_FALSE(Readable(loop.NotificationFd()));
  ASSERT_EQ(::send(p.server.get(), "x", 1, 0), 1);
  pollfd pf{loop.NotificationFd(), POLLIN, 0};
  ASSERT_EQ(::poll(&pf, 1, 2000), 1);  // the GUI would wake up here
  loop.ProcessMessages();
  // The read was reported and nobody has received yet: nothing more to wake up for.
  EXPECT_FALSE(Readable(loop.NotificationFd()));
  char c;
  ASSERT_EQ(::recv(p.client.get(), &c, 1, 0), 1);
  loop.SocketReceived(p.client.get());
  EXPECT_FALSE(Readable(loop.NotificationFd()));

  // The same with a caller's own Peek/Dispatch loop instead of ProcessMessages.
  p.win.got.clear();
  ASSERT_EQ(::send(p.server.get(), "y", 1, 0), 1);
  ASSERT_EQ(::poll(&pf, 1, 2000), 1);
  TMessage m;
  while (loop.PeekMessage(m, true)) loop.DispatchMessage(m);
  EXPECT_EQ(p.win.Events(), std::vector<long>{kFdRead});
  EXPECT_FALSE(Readable(loop.NotificationFd()));
}

TEST(MessageLoopSockets, WriteComesBackOnlyAfterASendBlocked) {
  TMessageLoop& loop = TMessageLoop::Current();
  WatchedPair p;
  ASSERT_TRUE(PumpUntil([&] { return p.win.got.size() >= 2; }));
  p.win.got.clear();
  loop.SocketSendBlocked(p.client.get());  // the socket is writable: FD_WRITE at once
  ASSERT_TRUE(PumpUntil([&] { return !p.win.got.empty(); }));
  PumpFor(50);
  EXPECT_EQ(p.win.Events(), std::vector<long>{kFdWrite});
}

TEST(MessageLoopSockets, CloseIsReportedOnceAndQueuedEventsGoWithTheSocket) {
  TMessageLoop& loop = TMessageLoop::Current();
  WatchedPair p;
  ASSERT_TRUE(PumpUntil([&] { return p.win.got.size() >= 2; }));
  p.win.got.clear();
  p.server.Reset();
  ASSERT_TRUE(PumpUntil([&] {
    for (long e : p.win.Events()) {
      if (e == kFdClose) return true;
    }
    return false;
  }));
  PumpFor(100);
  int closes = 0;
  for (long e : p.win.Events()) closes += e == kFdClose;
  EXPECT_EQ(closes, 1);

  // Events queued for a socket that is then forgotten never arrive.
  p.win.got.clear();
  loop.PostMessage(p.win.hwnd(), kWmUser + 1, static_cast<uintptr_t>(p.client.get()),
                   MakeSelectReply(kFdRead, 0));
  loop.ForgetSocket(p.client.get());
  loop.ProcessMessages();
  EXPECT_TRUE(p.win.got.empty());
}

TEST(MessageLoopSockets, RefusedConnectGivesConnectWithTheError) {
  TLocalListener closedPort(false);
  RecordingWindow win;
  TMessageLoop& loop = TMessageLoop::Current();
  TFd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  ASSERT_EQ(loop.AsyncSelect(s.get(), win.hwnd(), kWmUser + 1, 0x3B), 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(closedPort.port()));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int rc = ::connect(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
  if (rc != 0 && errno != EINPROGRESS) {
    loop.ForgetSocket(s.get());
    GTEST_SKIP() << "the kernel refused at once; the socket class covers that path";
  }
  loop.SocketConnecting(s.get());
  ASSERT_TRUE(PumpUntil([&] { return !win.got.empty(); }));
  PumpFor(50);
  ASSERT_EQ(win.got.size(), 1u);
  EXPECT_EQ(SelectEvent(win.got[0].lParam), kFdConnect);
  EXPECT_EQ(SelectError(win.got[0].lParam), 10061);
  loop.ForgetSocket(s.get());
}

TEST(MessageLoopLookups, ResultIsPostedAndCanBeTaken) {
  TMessageLoop& loop = TMessageLoop::Current();
  RecordingWindow win;
  uint32_t h = loop.AsyncGetHostByName(win.hwnd(), kWmUser + 2, "localhost");
  ASSERT_NE(h, 0u);
  ASSERT_TRUE(PumpUntil([&] { return !win.got.empty(); }));
  EXPECT_EQ(win.got[0].message, kWmUser + 2);
  EXPECT_EQ(win.got[0].wParam, h);
  EXPECT_EQ(SelectError(win.got[0].lParam), 0);
  std::vector<uint32_t> addrs;
  ASSERT_TRUE(loop.TakeHostByNameResult(h, addrs));
  ASSERT_FALSE(addrs.empty());
  EXPECT_EQ(addrs[0], htonl(INADDR_LOOPBACK));
  EXPECT_FALSE(loop.TakeHostByNameResult(h, addrs));  // taken once
  EXPECT_EQ(loop.CancelAsyncRequest(h), 10022);
}

TEST(MessageLoopLookups, CancelledLookupsAreNeverHeardOf) {
  TMessageLoop& loop = TMessageLoop::Current();
  RecordingWindow win;
  // Cancelled while running.
  uint32_t running = loop.AsyncGetHostByName(win.hwnd(), kWmUser + 2, "localhost");
  EXPECT_EQ(loop.CancelAsyncRequest(running), 0);
  // Cancelled after its answer was queued but before it was dispatched.
  uint32_t answered = loop.AsyncGetHostByName(win.hwnd(), kWmUser + 2, "localhost");
  auto start = Clock::now();
  while (loop.PendingCount() == 0 && win.got.empty() && ElapsedMs(start) < 5000) {
    pollfd p{loop.NotificationFd(), POLLIN, 0};  // the answer's arrival makes it readable
    poll(&p, 1, std::max(0, 5000 - static_cast<int>(ElapsedMs(start))));
  }
  ASSERT_TRUE(win.got.empty());
  ASSERT_GT(loop.PendingCount(), 0u);  // the answer waits in the queue
  EXPECT_EQ(loop.CancelAsyncRequest(answered), 0);
  EXPECT_EQ(loop.PendingCount(), 0u);
  uint32_t other = loop.AsyncGetHostByName(win.hwnd(), kWmUser + 2, "localhost");
  ASSERT_TRUE(PumpUntil([&] {
    for (const auto& r : win.got) {
      if (r.wParam == other) return true;
    }
    return false;
  }));
  PumpFor(200);
  for (const auto& r : win.got) {
    EXPECT_NE(r.wParam, running);
    if (r.wParam == answered) ADD_FAILURE() << "a cancelled answer was dispatched";
  }
}

TEST(MessageLoopLookups, UnknownNameGives11001Or11002WithoutDns) {
  TMessageLoop& loop = TMessageLoop::Current();
  RecordingWindow win;
  uint32_t h = loop.AsyncGetHostByName(win.hwnd(), kWmUser + 2, "no-such-host.invalid");
  ASSERT_TRUE(PumpUntil([&] { return !win.got.empty(); }, 15000));
  const int code = SelectError(win.got[0].lParam);
  EXPECT_TRUE(code == 11001 || code == 11002) << code;  // 11002: no name server answers
  std::vector<uint32_t> addrs;
  EXPECT_TRUE(loop.TakeHostByNameResult(h, addrs));
  EXPECT_TRUE(addrs.empty());
}

}  // namespace
}  // namespace jumelix
