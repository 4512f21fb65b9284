#include "net/SocketErrors.h"

#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>

#include "net/AsyncSocket.h"
#include "platform/System.h"

namespace jumelix {
namespace {

TEST(SocketErrors, TextsOfTheTableAndOfUnknownCodes) {
  struct Case {
    int code;
    const char* text;
  } cases[] = {
      {0, "No Error"},
      {10004, "Interrupted system call"},
      {10035, "Operation would block"},
      {10047, "Address family not supported by protocol family"},
      {10054, "Connection reset by peer"},
      {10057, "Socket is not connected"},
      {10059, "Too many references: can't splice"},
      {10060, "Connection timed out"},
      {10061, "Connection refused"},
      {10071, "Too many levels of remote in path"},
      {10091, "Network sub-system is unusable"},
      {10092, "WinSock DLL cannot support this application"},
      {10093, "WinSock not initialized"},
      {11001, "Host not found"},
      {11002, "Non-authoritative host not found"},
      {11003, "Non-recoverable error"},
      {11004, "No Data"},
      // Not in the table.
      {12, "Not a WinSock error"},
      {-1, "Not a WinSock error"},
      {10000, "Not a WinSock error"},
      {10001, "Not a WinSock error"},
      {10072, "Not a WinSock error"},
      {10090, "Not a WinSock error"},
      {11000, "Not a WinSock error"},
      {11005, "Not a WinSock error"},
  };
  for (const Case& c : cases) EXPECT_EQ(SocketErrorText(c.code), c.text) << c.code;
}

TEST(SocketErrors, EveryWinsockCodeOfTheRangesHasItsOwnText) {
  // 10004..10071 has gaps where the interface defines nothing; the defined ones must not
  // fall through to the unknown text.
  for (int code :
       {10009, 10013, 10014, 10022, 10024, 10036, 10037, 10038, 10039, 10040, 10041, 10042,
        10043, 10044, 10045, 10046, 10048, 10049, 10050, 10051, 10052, 10053, 10055, 10056,
        10058, 10062, 10063, 10064, 10065, 10066, 10067, 10068, 10069, 10070}) {
    EXPECT_NE(SocketErrorText(code), "Not a WinSock error") << code;
  }
  EXPECT_EQ(SocketErrorText(10005), "Not a WinSock error");
  EXPECT_EQ(SocketErrorText(10065), "No route to host");
  EXPECT_EQ(SocketErrorText(10051), "Network is unreachable");
}

TEST(SocketErrors, MessageShape) {
  EXPECT_EQ(SocketErrorMessage(10061, "Connect"),
            "Error 10061 in function Connect\r\nConnection refused");
  EXPECT_EQ(SocketErrorMessage(12, "TryToSend failed"),
            "Error 12 in function TryToSend failed\r\nNot a WinSock error");
}

TEST(SocketErrors, ErrnoAndResolverResultsMapOntoWinsockCodes) {
  struct Case {
    int err;
    int code;
  } errnos[] = {
      {0, 0},
      {ECONNREFUSED, 10061},
      {ETIMEDOUT, 10060},
      {ENETUNREACH, 10051},
      {EHOSTUNREACH, 10065},
      {ECONNRESET, 10054},
      {ECONNABORTED, 10053},
      {EPIPE, 10053},
      {EAGAIN, 10035},
      {EINPROGRESS, 10036},
      {ENOTCONN, 10057},
      {ENOTSOCK, 10038},
      {EINVAL, 10022},
      {EADDRINUSE, 10048},
      {EMFILE, 10024},
      {EINTR, 10004},
  };
  for (const Case& c : errnos) EXPECT_EQ(WinsockErrorFromErrno(c.err), c.code) << c.err;

  EXPECT_EQ(WinsockErrorFromGai(0, 0), 0);
  EXPECT_EQ(WinsockErrorFromGai(EAI_NONAME, 0), 11001);
  EXPECT_EQ(WinsockErrorFromGai(EAI_AGAIN, 0), 11002);
  EXPECT_EQ(WinsockErrorFromGai(EAI_FAIL, 0), 11003);
  EXPECT_EQ(WinsockErrorFromGai(EAI_NODATA, 0), 11004);
  EXPECT_EQ(WinsockErrorFromGai(EAI_SYSTEM, ECONNREFUSED), 10061);
  EXPECT_EQ(WinsockErrorFromGai(EAI_SYSTEM, 0), 11003);
}

TEST(SocketErrors, LocalMachineNameIsTheHostName) {
  std::string expected;
  ASSERT_TRUE(platform::HostName(expected));
  EXPECT_EQ(LocalMachineName(), expected);
}

TEST(SocketLibrary, SocketCountFollowsTheObjects) {
  const int before = SocketCount();
  {
    TAsyncSocket a;
    EXPECT_EQ(SocketCount(), before + 1);
    {
      TAsyncSocket b;
      EXPECT_EQ(SocketCount(), before + 2);
    }
    EXPECT_EQ(SocketCount(), before + 1);
  }
  EXPECT_EQ(SocketCount(), before);
}

TEST(SocketLibrary, VersionCanChangeOnlyWhileTheLibraryIsNotInUse) {
  ASSERT_EQ(SocketCount(), 0);
  { TAsyncSocket last; }  // whatever ran before, the library is released now
  EXPECT_FALSE(SocketLibraryInUse());
  EXPECT_EQ(ReqVerLow(), 1);
  EXPECT_EQ(ReqVerHigh(), 1);
  {
    TAsyncSocket s;
    s.SetReqVerHigh(2);  // no socket operation yet: accepted
    EXPECT_EQ(s.ReqVerHigh(), 2);
    s.DnsLookup("127.0.0.1");
    s.SetReqVerHigh(2);  // the same value: nothing to refuse
    try {
      s.SetReqVerHigh(1);
      ADD_FAILURE();
    } catch (const ESocketException& e) {
      EXPECT_EQ(e.Message(),
                "Error 10022 in function SetReqVerHigh: WinSock version can't be changed "
                "now\r\nInvalid argument");
    }
    EXPECT_FALSE(SetReqVerLow(3));
    EXPECT_EQ(ReqVerLow(), 1);
  }
  // The last object gone, the next start may ask for another version again.
  EXPECT_TRUE(SetReqVerHigh(1));
  EXPECT_EQ(ReqVerHigh(), 1);
}

}  // namespace
}  // namespace jumelix
