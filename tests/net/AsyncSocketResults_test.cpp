// The Try... operations of the socket: the failures the throwing operations raise come
// back as values, with the same text, and neither OnError nor an exception sees them.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <string>
#include <vector>

#include "NetTestPeers.h"
#include "net/AsyncSocket.h"

namespace jumelix {
namespace {

using testing::PumpUntil;
using testing::TFd;
using testing::TLocalListener;

// A socket whose OnError and lookups are counted: a Try... operation must reach neither
// OnError nor, when it refuses, the end of a lookup.
struct CountingSocket {
  CountingSocket() {
    s.OnError = [this](TAsyncSocket&) { ++errors; };
    s.OnDnsLookupDone = [this](TAsyncSocket&, uint16_t e) { lookups.push_back(e); };
    s.OnSessionClosed = [this](TAsyncSocket&, uint16_t e) { closed.push_back(e); };
  }
  TAsyncSocket s;
  int errors = 0;
  std::vector<uint16_t> lookups;
  std::vector<uint16_t> closed;
};

TEST(AsyncSocketResults, RefusalsOfAClosedSocketComeBackAsValues) {
  struct Case {
    const char* name;
    std::function<TSocketResult(TAsyncSocket&)> op;
    std::string text;  // the whole text, or its start when it ends with "*"
    int code;          // -1: whatever the socket's last error is
  };
  const std::string notConn = SocketErrorMessage(kWsaeNotConn, "Send");
  const Case cases[] = {
      {"empty name", [](TAsyncSocket& s) { return s.TryDnsLookup(""); },
       "DNS lookup: invalid host name.", -1},
      {"no port", [](TAsyncSocket& s) { return s.TryConnect("127.0.0.1", "", "tcp", ""); },
       "Connect: No Port Specified", -1},
      {"no address", [](TAsyncSocket& s) { return s.TryConnect("", "", "tcp", "25"); },
       "Connect: No IP Address Specified", -1},
      {"unknown service",
       [](TAsyncSocket& s) { return s.TryConnect("127.0.0.1", "", "tcp", "pas-un-service"); },
       "connect: ResolvePort: Cannot convert port 'pas-un-service'*", -1},
      {"send", [](TAsyncSocket& s) { return s.TrySend("x", 1); }, notConn, kWsaeNotConn},
      {"tls", [](TAsyncSocket& s) { return s.TryStartTls("127.0.0.1"); },
       SocketErrorMessage(kWsaeNotConn, "StartTls"), kWsaeNotConn},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CountingSocket cs;
    TSocketResult r;
    ASSERT_NO_THROW(r = c.op(cs.s));
    EXPECT_TRUE(r.failed);
    if (!c.text.empty() && c.text.back() == '*') {
      EXPECT_EQ(r.text.rfind(c.text.substr(0, c.text.size() - 1), 0), 0u) << r.text;
    } else {
      EXPECT_EQ(r.text, c.text);
    }
    EXPECT_EQ(r.code, c.code == -1 ? cs.s.LastError() : c.code);
    EXPECT_EQ(cs.errors, 0);
    EXPECT_TRUE(cs.lookups.empty());
    EXPECT_EQ(cs.s.State(), wsClosed);
    // Closing what is closed is no failure.
    EXPECT_FALSE(cs.s.TryClose().failed);
    EXPECT_FALSE(cs.s.TryAbort().failed);
  }
}

TEST(AsyncSocketResults, ConnectedSocketConnectsSendsAndAbortsThroughResults) {
  TLocalListener l;
  CountingSocket cs;
  bool connected = false;
  cs.s.OnSessionConnected = [&](TAsyncSocket&, uint16_t e) { connected = e == 0; };
  TSocketResult r = cs.s.TryDnsLookup("127.0.0.1");
  EXPECT_FALSE(r.failed);
  EXPECT_EQ(cs.lookups, std::vector<uint16_t>{0});  // a dotted address: before returning
  r = cs.s.TryConnect(cs.s.DnsResult(), "0.0.0.0", "tcp", l.PortText());
  ASSERT_FALSE(r.failed) << r.text;
  TFd server = l.Accept();
  ASSERT_TRUE(PumpUntil([&] { return connected; }));

  // While connected: another address is refused, the same one finds the socket in use.
  r = cs.s.TryConnect("127.0.0.2", "0.0.0.0", "tcp", l.PortText());
  EXPECT_EQ(r.text, "Cannot change Addr if not closed");
  r = cs.s.TryConnect("127.0.0.1", "0.0.0.0", "tcp", l.PortText());
  EXPECT_EQ(r.text, "Connect: Socket already in use");

  cs.s.QueueData("EHLO moi", 8);
  EXPECT_FALSE(cs.s.TrySend("\r\n", 2).failed);
  std::string got;
  ASSERT_TRUE(PumpUntil([&] {
    char buf[64];
    const ssize_t n = recv(server.get(), buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) got.append(buf, static_cast<size_t>(n));
    return got.size() >= 10;
  }));
  EXPECT_EQ(got, "EHLO moi\r\n");

  EXPECT_FALSE(cs.s.TryAbort().failed);
  EXPECT_EQ(cs.closed, std::vector<uint16_t>{0});
  EXPECT_EQ(cs.s.State(), wsClosed);
  EXPECT_EQ(cs.errors, 0);
}

}  // namespace
}  // namespace jumelix
