// The vocabulary of socket errors shared by the socket and the SMTP client: Winsock-style
// error codes (the numbers users and logs know), their English texts, the shape of socket
// error messages, the mapping of Linux errno and getaddrinfo results onto those codes, and
// the process-wide socket count. Pure functions and atomics; safe from any thread.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace jumelix {

// The exception of the socket layer: a message text only.
class ESocketException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  std::string Message() const { return what(); }
};

// The outcome of a socket operation for a caller that handles failures as values (the
// SMTP session): `failed` is false on success; on a failure `code` is the socket's
// LastError() at that moment (it may be 0, or older, for misuse such as a missing port)
// and `text` what ESocketException would have carried.
struct [[nodiscard]] TSocketResult {
  bool failed = false;
  int code = 0;
  std::string text;
};

// The codes the program uses by name (Winsock 1.1 numbering).
constexpr int kWsaeIntr = 10004;
constexpr int kWsaeBadf = 10009;
constexpr int kWsaeAcces = 10013;
constexpr int kWsaeFault = 10014;
constexpr int kWsaeInval = 10022;
constexpr int kWsaeMfile = 10024;
constexpr int kWsaeWouldBlock = 10035;
constexpr int kWsaeInProgress = 10036;
constexpr int kWsaeAlready = 10037;
constexpr int kWsaeNotSock = 10038;
constexpr int kWsaeAddrInUse = 10048;
constexpr int kWsaeAddrNotAvail = 10049;
constexpr int kWsaeNetDown = 10050;
constexpr int kWsaeNetUnreach = 10051;
constexpr int kWsaeConnAborted = 10053;
constexpr int kWsaeConnReset = 10054;
constexpr int kWsaeNoBufs = 10055;
constexpr int kWsaeIsConn = 10056;
constexpr int kWsaeNotConn = 10057;
constexpr int kWsaeShutdown = 10058;
constexpr int kWsaeTimedOut = 10060;
constexpr int kWsaeConnRefused = 10061;
constexpr int kWsaeHostDown = 10064;
constexpr int kWsaeHostUnreach = 10065;
constexpr int kWsaNotInitialised = 10093;
constexpr int kWsaHostNotFound = 11001;
constexpr int kWsaTryAgain = 11002;
constexpr int kWsaNoRecovery = 11003;
constexpr int kWsaNoData = 11004;

// The text of a code ("Connection refused" for 10061); "Not a WinSock error" for any
// code without an entry.
std::string SocketErrorText(int code);

// "Error " + code + " in function " + context + CR LF + SocketErrorText(code).
std::string SocketErrorMessage(int code, const std::string& context);

// The Winsock code for a Linux errno value (ECONNREFUSED -> 10061, EAGAIN -> 10035, ...);
// 0 for 0; an errno without a counterpart keeps its own value (then "Not a WinSock error").
int WinsockErrorFromErrno(int err);

// The Winsock code for a getaddrinfo result (EAI_NONAME -> 11001, EAI_AGAIN -> 11002,
// EAI_FAIL -> 11003, EAI_NODATA -> 11004, EAI_SYSTEM -> from sysErrno, ...); 0 for 0.
int WinsockErrorFromGai(int gaiResult, int sysErrno);

// The local host name (what the SMTP client sends in its greeting). Throws
// ESocketException "Winsock.GetHostName failed" when it cannot be read.
std::string LocalMachineName();

// Live socket objects of the process (each TAsyncSocket counts itself while it lives).
int SocketCount();
void IncrementSocketCount();
void DecrementSocketCount();

// Linux has no socket library to load: "the library is in use" starts with the first
// socket operation (lookup, connect, host name) and ends when the last socket object of
// the process goes away.
void NoteSocketLibraryUse();
bool SocketLibraryInUse();

// The socket-library version requested at start-up: only stored. A different value is
// refused (SetReqVer* returns false) while the library is in use.
uint8_t ReqVerLow();
uint8_t ReqVerHigh();
bool SetReqVerLow(uint8_t value);
bool SetReqVerHigh(uint8_t value);

}  // namespace jumelix
