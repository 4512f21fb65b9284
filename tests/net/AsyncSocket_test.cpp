#include "net/AsyncSocket.h"

#include <gtest/gtest.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "NetTestPeers.h"

namespace jumelix {
namespace {

using testing::PumpFor;
using testing::PumpUntil;
using testing::TFd;
using testing::TLocalListener;

const char* StateName(TSocketState s) {
  static const char* names[] = {"invalid",   "opened",    "bound",     "connecting", "socks",
                                "connected", "accepting", "listening", "closed"};
  return names[s];
}

// Records every event of a socket as a line, in the order they fire.
class EventLog {
 public:
  // The socket outlives the log in most tests, and its destructor still fires
  // OnChangeState: the log unhooks itself first.
  ~EventLog() {
    s_.OnChangeState = nullptr;
    s_.OnSessionConnected = nullptr;
    s_.OnSessionClosed = nullptr;
    s_.OnDataSent = nullptr;
    s_.OnDnsLookupDone = nullptr;
  }
  explicit EventLog(TAsyncSocket& s) : s_(s) {
    s.OnChangeState = [this](TAsyncSocket&, TSocketState o, TSocketState n) {
      Add(std::string("state ") + StateName(o) + "->" + StateName(n));
    };
    s.OnSessionConnected = [this](TAsyncSocket&, uint16_t e) { Add("connected " + Num(e)); };
    s.OnSessionClosed = [this](TAsyncSocket&, uint16_t e) { Add("closed " + Num(e)); };
    s.OnDataSent = [this](TAsyncSocket&, uint16_t e) { Add("sent " + Num(e)); };
    s.OnDnsLookupDone = [this](TAsyncSocket&, uint16_t e) { Add("dns " + Num(e)); };
  }
  void Add(const std::string& line) { lines.push_back(line); }
  bool Has(const std::string& line) const {
    for (const auto& l : lines) {
      if (l == line) return true;
    }
    return false;
  }
  int Count(const std::string& line) const {
    int n = 0;
    for (const auto& l : lines) n += l == line;
    return n;
  }
  static std::string Num(int v) { return std::to_string(v); }

  std::vector<std::string> lines;

 private:
  TAsyncSocket& s_;
};

// Connects `s` to the listener and returns the server side of the connection, after the
// client has seen OnSessionConnected and its first OnDataSent.
TFd ConnectTo(TAsyncSocket& s, TLocalListener& l, EventLog& log) {
  s.SetAddr("127.0.0.1");
  s.SetPort(l.PortText());
  s.Connect();
  TFd server = l.Accept();
  PumpUntil([&] { return log.Has("sent 0"); });
  return server;
}

TEST(AsyncSocketConnect, RefusedConnectionEndsWithEventsInOrder) {
  TLocalListener closedPort(/*listen=*/false);
  TAsyncSocket s;
  EventLog log(s);
  s.SetAddr("127.0.0.1");
  s.SetPort(closedPort.PortText());
  s.Connect();
  EXPECT_EQ(s.State(), wsConnecting);
  ASSERT_TRUE(PumpUntil([&] { return log.Has("closed 0"); }));
  EXPECT_EQ(log.lines, (std::vector<std::string>{"state closed->opened", "state opened->connecting",
                                                 "state connecting->connected", "connected 10061",
                                                 "state connected->closed", "closed 0"}));
  EXPECT_EQ(s.State(), wsClosed);
  EXPECT_EQ(s.HSocket(), -1);
}

TEST(AsyncSocketConnect, SuccessGivesConnectedThenFirstDataSent) {
  TLocalListener l;
  TAsyncSocket s;
  EventLog log(s);
  TFd server = ConnectTo(s, l, log);
  ASSERT_GE(server.get(), 0);
  EXPECT_EQ(log.lines,
            (std::vector<std::string>{"state closed->opened", "state opened->connecting",
                                      "state connecting->connected", "connected 0", "sent 0"}));
  EXPECT_EQ(s.State(), wsConnected);
  EXPECT_EQ(s.PeerAddr(), "127.0.0.1");
  EXPECT_EQ(s.PeerPort(), l.PortText());
  // A second Connect on the live socket is refused.
  EXPECT_THROW(s.Connect(), ESocketException);
}

TEST(AsyncSocketConnect, ReadNotificationOvertakingConnectConnectsOnce) {
  TLocalListener l;
  TAsyncSocket s;
  EventLog log(s);
  int dataEvents = 0;
  s.OnDataAvailable = [&](TAsyncSocket& x, uint16_t) {
    ++dataEvents;
    log.Add("data");
    char c;
    x.Receive(&c, 1);
  };
  s.SetAddr("127.0.0.1");
  s.SetPort(l.PortText());
  s.Connect();
  ASSERT_EQ(s.State(), wsConnecting);
  TMessageLoop::Current().PostMessage(
      s.Handle(), kWmSocketEvent, static_cast<uintptr_t>(s.HSocket()), MakeSelectReply(kFdRead, 0));
  TFd server = l.Accept();
  ASSERT_TRUE(PumpUntil([&] { return log.Has("sent 0"); }));
  EXPECT_EQ(log.Count("connected 0"), 1);
  EXPECT_EQ(log.lines[2], "state connecting->connected");
  EXPECT_EQ(log.lines[3], "connected 0");
  EXPECT_EQ(log.lines[4], "data");
  EXPECT_EQ(dataEvents, 1);
}

TEST(AsyncSocketConnect, OptionsAreAppliedToTheNewSocket) {
  TLocalListener l;
  TAsyncSocket s;
  EventLog log(s);
  s.SetComponentOptions(wsoTcpNoDelay);
  s.SetKeepAliveOnOff(wsKeepAliveOnCustom);
  s.SetKeepAliveTime(45000);
  s.SetKeepAliveInterval(3000);
  s.SetAddr("127.0.0.1");
  s.SetPort(l.PortText());
  s.Connect();
  auto opt = [&](int level, int name) {
    int v = -1;
    socklen_t len = sizeof v;
    getsockopt(s.HSocket(), level, name, &v, &len);
    return v;
  };
  EXPECT_NE(opt(SOL_SOCKET, SO_REUSEADDR), 0);
  EXPECT_NE(opt(IPPROTO_TCP, TCP_NODELAY), 0);
  EXPECT_NE(opt(SOL_SOCKET, SO_KEEPALIVE), 0);
  EXPECT_EQ(opt(IPPROTO_TCP, TCP_KEEPIDLE), 45);
  EXPECT_EQ(opt(IPPROTO_TCP, TCP_KEEPINTVL), 3);
  linger lg{};
  socklen_t len = sizeof lg;
  getsockopt(s.HSocket(), SOL_SOCKET, SO_LINGER, &lg, &len);
  EXPECT_EQ(lg.l_onoff, 1);  // the default: lingering on, 0 seconds
  EXPECT_EQ(lg.l_linger, 0);
  TFd server = l.Accept();
  ASSERT_TRUE(PumpUntil([&] { return log.Has("connected 0"); }));
}

TEST(AsyncSocketConnect, ChangingTheStateFromOnChangeStateIsRefused) {
  TLocalListener l;
  TAsyncSocket s;
  int errors = 0;
  s.OnError = [&](TAsyncSocket&) { ++errors; };
  s.OnChangeState = [&](TAsyncSocket& x, TSocketState, TSocketState n) {
    if (n == wsOpened) x.Abort();
  };
  s.SetAddr("127.0.0.1");
  s.SetPort(l.PortText());
  s.Connect();
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(s.LastError(), 10022);
  EXPECT_EQ(s.State(), wsClosed);
  EXPECT_EQ(s.HSocket(), -1);
  s.OnChangeState = nullptr;
}

TEST(AsyncSocketConnect, RefusalsBeforeAnySocketIsMade) {
  TAsyncSocket s;
  struct Case {
    std::function<void()> setup;
    std::string message;
    std::string message_sans_dns = {};  // what a machine without a name server says
  } cases[] = {
      {[&] {}, "Connect: No Port Specified"},
      {[&] { s.SetPort("25"); }, "Connect: No IP Address Specified"},
      {[&] {
         s.SetAddr("127.0.0.1");
         s.SetProto("");
       },
       "Connect: No Protocol Specified"},
      {[&] {
         s.SetProto("tcp");
         s.SetPort("nosuchservice");
       },
       "connect: ResolvePort: Cannot convert port 'nosuchservice', Error #11004"},
      {[&] {
         s.SetPort("25");
         s.SetAddr("no-such-host.invalid");
       },
       "connect: ResolveHost: Cannot convert host address 'no-such-host.invalid', Error #11001",
       "connect: ResolveHost: Cannot convert host address 'no-such-host.invalid', Error #11002"},
  };
  for (const Case& c : cases) {
    c.setup();
    try {
      s.Connect();
      ADD_FAILURE() << "no exception for " << c.message;
    } catch (const ESocketException& e) {
      if (c.message_sans_dns.empty() || e.Message() != c.message_sans_dns) {
        EXPECT_EQ(e.Message(), c.message);
      }
    }
    EXPECT_EQ(s.State(), wsClosed);
    EXPECT_EQ(s.HSocket(), -1);
  }
}

TEST(AsyncSocketConnect, CloseForgetsAddressAndPortUntilSetAgain) {
  TLocalListener l;
  TAsyncSocket s;
  EventLog log(s);
  TFd server = ConnectTo(s, l, log);
  // Same text while connected: nothing; another text: refused.
  s.SetAddr(" 127.0.0.1 ");
  EXPECT_THROW(s.SetAddr("127.0.0.2"), ESocketException);
  EXPECT_THROW(s.SetPort("1"), ESocketException);
  EXPECT_THROW(s.SetProto("udp"), ESocketException);
  EXPECT_THROW(s.SetLocalAddr("127.0.0.1"), ESocketException);
  EXPECT_THROW(s.SetLocalPort("1234"), ESocketException);
  s.Close();
  EXPECT_EQ(log.lines.back(), "closed 0");
  EXPECT_EQ(s.Addr(), "127.0.0.1");  // readable, but no longer assigned
  try {
    s.Connect();
    ADD_FAILURE();
  } catch (const ESocketException& e) {
    EXPECT_EQ(e.Message(), "Connect: No Port Specified");
  }
  s.SetPort(l.PortText());
  EXPECT_THROW(s.Connect(), ESocketException);  // Addr not yet assigned again
  s.SetAddr("127.0.0.1");
  log.lines.clear();
  s.Connect();
  TFd server2 = l.Accept();
  ASSERT_TRUE(PumpUntil([&] { return log.Has("connected 0"); }));
}

TEST(AsyncSocketConnect, OnErrorReplacesTheExceptionAndLocalBindIsReported) {
  TLocalListener l;
  TAsyncSocket s;
  EventLog log(s);
  int errors = 0;
  s.OnError = [&](TAsyncSocket&) { ++errors; };
  s.Connect();
  EXPECT_EQ(errors, 1);
  s.SetSendFlags(7);
  EXPECT_EQ(errors, 2);
  EXPECT_EQ(s.SendFlags(), wsSendNormal);
  // Binding to a chosen local port: LocalPort then tells the port bound.
  s.SetLocalAddr("");
  EXPECT_EQ(s.LocalAddr(), "0.0.0.0");
  s.SetLocalAddr("127.0.0.1");
  s.SetAddr("127.0.0.1");
  s.SetPort(l.PortText());
  s.Connect();
  EXPECT_EQ(errors, 2);
  EXPECT_NE(s.LocalPort(), "0");
  TFd server = l.Accept();
  ASSERT_TRUE(PumpUntil([&] { return log.Has("connected 0"); }));
}

TEST(AsyncSocketSend, SendOfNothingStillGivesDataSentFromTheLoop) {
  TLocalListener l;
  TAsyncSocket s;
  EventLog log(s);
  TFd server = ConnectTo(s, l, log);
  log.lines.clear();
  EXPECT_EQ(s.Send(nullptr, 0), 0);
  EXPECT_EQ(s.SendText(""), 0);
  EXPECT_TRUE(log.lines.empty());  // never from inside Send
  ASSERT_TRUE(PumpUntil([&] { return log.Has("sent 0"); }));
  EXPECT_EQ(log.Count("sent 0"), 1);
}

TEST(AsyncSocketSend, SendWhileConnectingIsASocketError) {
  TLocalListener l;
  {
    TAsyncSocket s;
    EventLog log(s);
    s.OnError = [&](TAsyncSocket& x) { log.Add("error " + EventLog::Num(x.LastError())); };
    s.SetAddr("127.0.0.1");
    s.SetPort(l.PortText());
    s.Connect();
    ASSERT_EQ(s.State(), wsConnecting);
    log.lines.clear();
    EXPECT_EQ(s.SendText("x"), -1);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"closed 10057", "state connecting->closed",
                                                   "error 10057"}));
    EXPECT_EQ(s.HSocket(), -1);
  }
  TAsyncSocket s;
  s.SetAddr("127.0.0.1");
  s.SetPort(l.PortText());
  s.Connect();
  try {
    s.SendText("x");
    ADD_FAILURE();
  } catch (const ESocketException& e) {
    EXPECT_EQ(e.Message(), "Error 10057 in function Send\r\nSocket is not connected");
  }
}

TEST(AsyncSocketSend, ConnectionLostWhileSendingClosesWithoutAnError) {
  TLocalListener l;
  TAsyncSocket s;
  EventLog log(s);
  TFd server = ConnectTo(s, l, log);
  linger hard{1, 0};
  setsockopt(server.get(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  server.Reset();
  pollfd reset{s.HSocket(), POLLIN, 0};  // the reset has reached our end
  ASSERT_EQ(poll(&reset, 1, 5000), 1);
  log.lines.clear();
  EXPECT_EQ(s.SendText("MAIL FROM:<a@b>\r\n"), 17);  // no OnError assigned: nothing thrown
  EXPECT_EQ(log.lines, (std::vector<std::string>{"state connected->closed", "closed 10054"}));
  EXPECT_EQ(s.State(), wsClosed);
  PumpFor(100);
  EXPECT_EQ(log.Count("closed 10054"), 1);
  EXPECT_EQ(log.Count("closed 0"), 0);
}

TEST(AsyncSocketSend, QueueSplitsIntoChunksOf1460) {
  TAsyncSocket s;
  std::string data(3000, 'a');
  s.QueueData(data.data(), 3000);
  EXPECT_EQ(s.ChunkSizes(), (std::vector<int>{1460, 1460, 80}));
  EXPECT_EQ(s.BufferedByteCount(), 3000);
  EXPECT_FALSE(s.AllSent());
  // More data fills the last chunk first.
  s.QueueData(data.data(), 1400);
  EXPECT_EQ(s.ChunkSizes(), (std::vector<int>{1460, 1460, 1460, 20}));
  s.QueueData(data.data(), 0);
  s.QueueData(nullptr, 10);
  EXPECT_EQ(s.BufferedByteCount(), 4400);
}

TEST(AsyncSocketSend, SlowPeerGetsEverythingAndDataSentWaitsForTheEnd) {
  TLocalListener l(true, 4096);
  TAsyncSocket s;
  EventLog log(s);
  TFd server = ConnectTo(s, l, log);
  ASSERT_GE(server.get(), 0);
  int small = 4096;
  setsockopt(s.HSocket(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);

  constexpr int kTotal = 600 * 1000;
  std::string data(kTotal, '\0');
  for (int i = 0; i < kTotal; ++i) data[i] = static_cast<char>('A' + i % 23);
  std::string received;
  std::atomic<bool> reading_done{false};
  std::thread peer([&] {
    char buf[8192];
    while (received.size() < static_cast<size_t>(kTotal)) {
      // Slow on purpose: the sender must meet a full buffer again and again.
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      ssize_t n = ::recv(server.get(), buf, sizeof buf, 0);
      if (n <= 0) break;
      received.append(buf, static_cast<size_t>(n));
    }
    reading_done = true;
  });

  int sendCalls = 0;
  int sentSum = 0;
  int dataSentEarly = 0;
  s.OnSendData = [&](TAsyncSocket&, int n) {
    ++sendCalls;
    sentSum += n;
  };
  s.OnDataSent = [&](TAsyncSocket& x, uint16_t) {
    if (x.BufferedByteCount() != 0) ++dataSentEarly;
    log.Add("sent");
  };
  EXPECT_EQ(s.Send(data.data(), kTotal), kTotal);
  EXPECT_GT(s.BufferedByteCount(), 0);  // the kernel could not take it all at once
  bool sent = PumpUntil([&] { return log.Has("sent"); }, 20000);
  if (!sent) ::shutdown(server.get(), SHUT_RDWR);
  peer.join();
  ASSERT_TRUE(sent);
  EXPECT_EQ(log.Count("sent"), 1);
  EXPECT_EQ(dataSentEarly, 0);
  EXPECT_GT(sendCalls, 1);
  EXPECT_EQ(sentSum, kTotal);
  EXPECT_TRUE(received == data);
}

TEST(AsyncSocketSend, FlushReturnsWhenTheQueueHasGone) {
  TLocalListener l(true, 4096);
  TAsyncSocket s;
  EventLog log(s);
  TFd server = ConnectTo(s, l, log);
  constexpr int kTotal = 300 * 1000;
  std::string data(kTotal, 'z');
  size_t got = 0;
  std::thread peer([&] {
    char buf[4096];
    ssize_t n;
    while ((n = ::recv(server.get(), buf, sizeof buf, 0)) > 0) got += static_cast<size_t>(n);
  });
  s.QueueData(data.data(), kTotal);
  s.Flush();
  EXPECT_TRUE(s.AllSent());
  EXPECT_EQ(s.BufferedByteCount(), 0);
  s.Close();  // with the default linger setting: the peer still gets every byte, then the end
  peer.join();
  EXPECT_EQ(got, static_cast<size_t>(kTotal));
}

TEST(AsyncSocketReceive, PeerClosingWithDataPendingDeliversEveryByteFirst) {
  TLocalListener l;
  TAsyncSocket s;
  EventLog log(s);
  TFd server = ConnectTo(s, l, log);
  constexpr int kTotal = 200 * 1000;
  std::string data(kTotal, '\0');
  for (int i = 0; i < kTotal; ++i) data[i] = static_cast<char>(i * 7);
  std::thread peer([&] {
    size_t off = 0;
    while (off < data.size()) {
      ssize_t n = ::send(server.get(), data.data() + off, data.size() - off, MSG_NOSIGNAL);
      if (n <= 0) break;
      off += static_cast<size_t>(n);
    }
    ::shutdown(server.get(), SHUT_WR);
  });
  std::string got;
  size_t bytesAtClose = 0;
  s.OnDataAvailable = [&](TAsyncSocket& x, uint16_t) {
    char buf[100];  // small reads: the receive loop has to come back
    int n = x.Receive(buf, sizeof buf);
    if (n > 0) got.append(buf, static_cast<size_t>(n));
  };
  s.OnSessionClosed = [&](TAsyncSocket& x, uint16_t e) {
    bytesAtClose = got.size();
    log.Add("closed " + EventLog::Num(e) + " " + StateName(x.State()));
  };
  bool closed = PumpUntil([&] { return s.State() == wsClosed; }, 20000);
  peer.join();
  ASSERT_TRUE(closed);
  EXPECT_EQ(bytesAtClose, static_cast<size_t>(kTotal));
  EXPECT_TRUE(got == data);
  EXPECT_EQ(log.lines[log.lines.size() - 2], "closed 0 connected");
  EXPECT_EQ(log.lines.back(), "state connected->closed");
  EXPECT_EQ(s.State(), wsClosed);
  EXPECT_EQ(s.ReadCount(), 0);  // reset by the close
}

TEST(AsyncSocketReceive, EachPassIsBoundedAndTheRestComesFromLaterDispatches) {
  TLocalListener l;
  TAsyncSocket s;
  EventLog log(s);
  TFd server = ConnectTo(s, l, log);
  std::atomic<bool> stop{false};
  // The peer gives up after 3 s, so a receive loop without bounds fails here, not hangs.
  const auto peerEnd = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  std::thread peer([&] {
    const std::string block(65536, 'f');
    while (!stop && std::chrono::steady_clock::now() < peerEnd) {
      pollfd p{server.get(), POLLOUT, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      if (::send(server.get(), block.data(), block.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0 &&
          errno != EAGAIN) {
        break;
      }
    }
  });
  size_t got = 0;
  s.OnDataAvailable = [&](TAsyncSocket& x, uint16_t) {
    char buf[4096];
    int n = x.Receive(buf, sizeof buf);
    if (n > 0) got += static_cast<size_t>(n);
  };
  // One message at a time, as the mail's wait takes them: none may keep the loop while
  // the peer keeps sending, and reading goes on from one dispatch to the next.
  TMessageLoop& loop = TMessageLoop::Current();
  auto longest = std::chrono::steady_clock::duration::zero();
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
  while (std::chrono::steady_clock::now() < end) {
    TMessage m;
    if (!loop.PeekMessage(m, true)) {
      loop.WaitAndProcess(0);
      continue;
    }
    const auto start = std::chrono::steady_clock::now();
    loop.DispatchMessage(m);
    longest = std::max(longest, std::chrono::steady_clock::now() - start);
  }
  stop = true;
  s.Abort();
  peer.join();
  EXPECT_LT(longest, std::chrono::milliseconds(250));
  EXPECT_GT(got, 2u * static_cast<size_t>(kReceivePassMaxBytes));
}

TEST(AsyncSocketReceive, ResetByPeerReports10054) {
  TLocalListener l;
  TAsyncSocket s;
  EventLog log(s);
  TFd server = ConnectTo(s, l, log);
  s.OnDataAvailable = [](TAsyncSocket& x, uint16_t) {
    char buf[64];
    x.Receive(buf, sizeof buf);
  };
  linger hard{1, 0};
  setsockopt(server.get(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  server.Reset();
  ASSERT_TRUE(PumpUntil([&] { return s.State() == wsClosed; }));
  EXPECT_TRUE(log.Has("closed 10054"));
}

TEST(AsyncSocketReceive, HandlerSettingLastErrorMinusOneStopsTheLoopCleanly) {
  TLocalListener l;
  TAsyncSocket s;
  EventLog log(s);
  TFd server = ConnectTo(s, l, log);
  int calls = 0;
  std::string got;
  s.OnDataAvailable = [&](TAsyncSocket& x, uint16_t) {
    ++calls;
    char c;
    if (x.Receive(&c, 1) == 1) got += c;
    x.SetLastError(-1);
  };
  ASSERT_EQ(::send(server.get(), "abcdef", 6, 0), 6);
  ASSERT_TRUE(PumpUntil([&] { return got.size() == 6; }));
  EXPECT_EQ(got, "abcdef");
  EXPECT_EQ(calls, 6);  // one byte per notification: the loop never went round again
  EXPECT_EQ(s.LastError(), 0);
  EXPECT_EQ(s.ReadCount(), 6);
}

TEST(AsyncSocketReceive, ReceiveWithNothingWaitingAndReceiveText) {
  TLocalListener l;
  TAsyncSocket s;
  EventLog log(s);
  TFd server = ConnectTo(s, l, log);
  char buf[8];
  EXPECT_EQ(s.Receive(buf, sizeof buf), -1);
  EXPECT_EQ(s.LastError(), 10035);
  std::string text;
  s.OnDataAvailable = [&](TAsyncSocket& x, uint16_t) { text += x.ReceiveText(); };
  ASSERT_EQ(::send(server.get(), "220 ready\r\n", 11, 0), 11);
  ASSERT_TRUE(PumpUntil([&] { return text.size() == 11; }));
  EXPECT_EQ(text, "220 ready\r\n");
}

TEST(AsyncSocketReceive, PauseHoldsNotificationsUntilResume) {
  TLocalListener l;
  TAsyncSocket s;
  EventLog log(s);
  TFd server = ConnectTo(s, l, log);
  std::string got;
  s.OnDataAvailable = [&](TAsyncSocket& x, uint16_t) {
    char buf[32];
    int n = x.Receive(buf, sizeof buf);
    if (n > 0) got.append(buf, static_cast<size_t>(n));
  };
  s.Pause();
  ASSERT_EQ(::send(server.get(), "held", 4, 0), 4);
  PumpFor(150);
  EXPECT_EQ(got, "");
  s.Resume();
  ASSERT_TRUE(PumpUntil([&] { return got == "held"; }));
}

TEST(AsyncSocketClose, AbortDropsUnsentDataAndCloseDelayedWaitsForTheLoop) {
  TLocalListener l;
  TAsyncSocket s;
  EventLog log(s);
  TFd server = ConnectTo(s, l, log);
  s.QueueData("queued", 6);
  log.lines.clear();
  s.Abort();
  EXPECT_EQ(log.lines, (std::vector<std::string>{"state connected->closed", "closed 0"}));
  EXPECT_EQ(s.BufferedByteCount(), 0);
  EXPECT_EQ(s.LingerOnOff(), wsLingerOn);  // back to the default after the close

  TAsyncSocket t;
  EventLog tlog(t);
  TFd server2 = ConnectTo(t, l, tlog);
  t.CloseDelayed();
  EXPECT_EQ(t.State(), wsConnected);
  ASSERT_TRUE(PumpUntil([&] { return t.State() == wsClosed; }));
  EXPECT_EQ(tlog.lines.back(), "closed 0");
}

TEST(AsyncSocketClose, ExceptionInAHandlerGoesToOnBgExceptionThenAborts) {
  TLocalListener l;
  for (bool letClose : {true, false}) {
    TAsyncSocket s;
    EventLog log(s);
    std::string seen;
    s.OnSessionConnected = [&](TAsyncSocket&, uint16_t) { throw std::runtime_error("boom"); };
    s.OnBgException = [&](TAsyncSocket&, const std::exception& e, bool& canClose) {
      seen = e.what();
      canClose = letClose;
    };
    s.SetAddr("127.0.0.1");
    s.SetPort(l.PortText());
    s.Connect();
    TFd server = l.Accept();
    ASSERT_TRUE(PumpUntil([&] { return !seen.empty(); }));
    EXPECT_EQ(seen, "boom");
    EXPECT_EQ(s.State(), letClose ? wsClosed : wsConnected);
  }
  TAsyncSocket s;
  std::string seen;
  s.OnBgException = [&](TAsyncSocket&, const std::exception& e, bool&) { seen = e.what(); };
  s.PostTestException();
  ASSERT_TRUE(PumpUntil([&] { return !seen.empty(); }));
  EXPECT_EQ(seen, "Test exception in AsyncSocket");
}

TEST(AsyncSocketDns, DottedAddressCompletesInsideTheCall) {
  TAsyncSocket s;
  EventLog log(s);
  s.DnsLookup(" 10.1.2.3 ");
  EXPECT_EQ(log.lines, std::vector<std::string>{"dns 0"});
  EXPECT_EQ(s.DnsResult(), "10.1.2.3");
  EXPECT_EQ(s.DnsResultList(), std::vector<std::string>{"10.1.2.3"});
}

TEST(AsyncSocketDns, HostNameCompletesLaterThroughTheLoop) {
  TAsyncSocket s;
  EventLog log(s);
  s.DnsLookup("localhost");
  EXPECT_TRUE(log.lines.empty());
  EXPECT_EQ(s.DnsResult(), "");
  ASSERT_TRUE(PumpUntil([&] { return !log.lines.empty(); }));
  EXPECT_EQ(log.lines, std::vector<std::string>{"dns 0"});
  EXPECT_EQ(s.DnsResult(), "127.0.0.1");
  ASSERT_FALSE(s.DnsResultList().empty());
  EXPECT_EQ(s.DnsResultList().front(), "127.0.0.1");
}

TEST(AsyncSocketDns, AllOnesGoesToTheResolver) {
  TAsyncSocket s;
  EventLog log(s);
  s.DnsLookup("255.255.255.255");
  EXPECT_TRUE(log.lines.empty());
  ASSERT_TRUE(PumpUntil([&] { return !log.lines.empty(); }));
  EXPECT_EQ(log.lines, std::vector<std::string>{"dns 0"});
  EXPECT_EQ(s.DnsResult(), "255.255.255.255");
}

TEST(AsyncSocketDns, SecondLookupCancelsTheFirstSilently) {
  TAsyncSocket s;
  EventLog log(s);
  s.DnsLookup("jumelix-test.invalid");
  s.DnsLookup("localhost");
  ASSERT_TRUE(PumpUntil([&] { return !log.lines.empty(); }));
  PumpFor(300);  // the first one's answer, if any, would be here by now
  EXPECT_EQ(log.lines, std::vector<std::string>{"dns 0"});
  EXPECT_EQ(s.DnsResult(), "127.0.0.1");
}

TEST(AsyncSocketDns, AbortDuringALookupReports10004) {
  TAsyncSocket s;
  EventLog log(s);
  s.DnsLookup("localhost");
  s.Abort();
  EXPECT_EQ(log.lines, std::vector<std::string>{"dns 10004"});
  PumpFor(300);
  EXPECT_EQ(log.lines, std::vector<std::string>{"dns 10004"});
  s.CancelDnsLookup();  // nothing pending: nothing happens
  EXPECT_EQ(log.lines.size(), 1u);
}

TEST(AsyncSocketDns, UnknownNameGivesHostNotFound) {
  TAsyncSocket s;
  uint16_t code = 0;
  bool done = false;
  s.OnDnsLookupDone = [&](TAsyncSocket&, uint16_t e) {
    code = e;
    done = true;
  };
  s.DnsLookup("no-such-host.jumelix.invalid");
  ASSERT_TRUE(PumpUntil([&] { return done; }, 15000));
  // 11002 where no name server answers (a machine without DNS).
  ASSERT_TRUE(code == 11001 || code == 11002) << code;
  EXPECT_EQ(SocketErrorText(code),
            code == 11001 ? "Host not found" : "Non-authoritative host not found");
  EXPECT_TRUE(s.DnsResultList().empty());
}

TEST(AsyncSocketDns, EmptyNameIsAnErrorThenDone10022) {
  TAsyncSocket s;
  EventLog log(s);
  EXPECT_THROW(s.DnsLookup(""), ESocketException);
  EXPECT_TRUE(log.lines.empty());
  s.OnError = [&](TAsyncSocket&) { log.Add("error"); };
  s.DnsLookup("");
  EXPECT_EQ(log.lines, (std::vector<std::string>{"error", "dns 10022"}));
}

TEST(AsyncSocketDns, DestroyingASocketWithALookupPendingIsQuiet) {
  int events = 0;
  {
    TAsyncSocket s;
    s.OnDnsLookupDone = [&](TAsyncSocket&, uint16_t) { ++events; };
    s.DnsLookup("localhost");
  }
  PumpFor(300);
  EXPECT_EQ(events, 0);
}

TEST(AsyncSocketAddress, DottedAddressTest) {
  struct Case {
    const char* text;
    bool dotted;
  } cases[] = {
      {"10.0.0.1", true},   {"  10.0.0.1", true},      {"10.0.0.1  ", true},
      {"0.0.0.0", true},    {"255.255.255.255", true}, {"10.0.0", false},
      {"10..0.1", false},   {"256.1.1.1", false},      {"10.0.0.1x", false},
      {".10.0.0.1", false}, {"10.0.0.1.", false},      {"", false},
      {"   ", false},       {"a.b.c.d", false},        {"10.0.0.1 x", false},
      {"1.2.3.4.5", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsDottedIP(c.text), c.dotted) << c.text;
}

TEST(AsyncSocketAddress, ResolutionRoutines) {
  EXPECT_EQ(ResolvePort("25", "tcp"), 25);
  EXPECT_EQ(ResolvePort("587abc", "tcp"), 587);
  EXPECT_EQ(ResolvePort(" smtp ", " tcp "), 25);
  EXPECT_EQ(ResolveProto("TCP "), 6);
  EXPECT_EQ(ResolveProto("udp"), 17);
  EXPECT_EQ(ResolveProto("17x"), 17);
  EXPECT_EQ(ResolveHost("127.0.0.1"), htonl(INADDR_LOOPBACK));
  EXPECT_EQ(ResolveHost("localhost"), htonl(INADDR_LOOPBACK));

  struct Case {
    std::function<void()> call;
    std::string message;
  } cases[] = {
      {[] { ResolvePort("", "tcp"); }, "ResolvePort: Invalid Port."},
      {[] { ResolvePort(std::string(32, '1'), "tcp"); }, "ResolvePort: Invalid Port."},
      {[] { ResolvePort("70000", "tcp"); }, "ResolvePort: Invalid Port."},
      {[] { ResolvePort("25", ""); }, "ResolvePort: Invalid Proto."},
      {[] { ResolveProto(""); }, "ResolveProto: Invalid Protocol."},
      {[] { ResolveProto("NoSuchProto"); },
       "ResolveProto: Cannot convert protocol 'nosuchproto', Error #11004"},
      {[] { ResolveHost(""); }, "ResolveHost: '' Invalid Hostname."},
      {[] { ResolveHost(std::string(257, 'a')); },
       "ResolveHost: '" + std::string(257, 'a') + "' Invalid Hostname."},
  };
  for (const Case& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << "no exception: " << c.message;
    } catch (const ESocketException& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
  }
}

TEST(AsyncSocketAddress, DefaultsOfANewSocket) {
  TAsyncSocket s;
  EXPECT_EQ(s.State(), wsClosed);
  EXPECT_EQ(s.Proto(), "tcp");
  EXPECT_EQ(s.LocalAddr(), "0.0.0.0");
  EXPECT_EQ(s.LocalPort(), "0");
  EXPECT_EQ(s.PeerAddr(), "error");
  EXPECT_EQ(s.PeerPort(), "error");
  EXPECT_EQ(s.LingerOnOff(), wsLingerOn);
  EXPECT_EQ(s.LingerTimeout(), 0);
  EXPECT_EQ(s.KeepAliveOnOff(), wsKeepAliveOnSystem);
  EXPECT_EQ(s.KeepAliveTime(), 30000);
  EXPECT_EQ(s.KeepAliveInterval(), 1000);
  EXPECT_EQ(s.FlushTimeout(), 60);
  EXPECT_EQ(s.ComponentOptions(), 0u);
  EXPECT_TRUE(s.AllSent());
}

}  // namespace
}  // namespace jumelix
