#include "net/SocketErrors.h"

#include <netdb.h>

#include <atomic>
#include <cerrno>
#include <mutex>

#include "platform/System.h"

namespace jumelix {
namespace {

struct ErrorEntry {
  int code;
  const char* text;
};

constexpr ErrorEntry kErrorTexts[] = {
    {0, "No Error"},
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Protocol wrong type for socket"},
    {10042, "Protocol not available"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Address not available"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection on reset"},
    {10053, "Connection aborted"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references: can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network sub-system is unusable"},
    {10092, "WinSock DLL cannot support this application"},
    {10093, "WinSock not initialized"},
    {11001, "Host not found"},
    {11002, "Non-authoritative host not found"},
    {11003, "Non-recoverable error"},
    {11004, "No Data"},
};

// Guards the count together with the in-use flag, so that the last object going away
// and a version change cannot interleave.
std::mutex g_library_lock;
int g_socket_count = 0;
bool g_library_in_use = false;
std::atomic<uint8_t> g_req_ver_low{1};
std::atomic<uint8_t> g_req_ver_high{1};

bool SetReqVer(std::atomic<uint8_t>& slot, uint8_t value) {
  std::lock_guard<std::mutex> lock(g_library_lock);
  if (slot.load() == value) return true;
  if (g_library_in_use) return false;
  slot.store(value);
  return true;
}

}  // namespace

std::string SocketErrorText(int code) {
  for (const ErrorEntry& e : kErrorTexts) {
    if (e.code == code) return e.text;
  }
  return "Not a WinSock error";
}

std::string SocketErrorMessage(int code, const std::string& context) {
  return "Error " + std::to_string(code) + " in function " + context + "\r\n" +
         SocketErrorText(code);
}

int WinsockErrorFromErrno(int err) {
  switch (err) {
    case 0:
      return 0;
    case EINTR:
      return 10004;
    case EBADF:
      return 10009;
    case EACCES:
    case EPERM:
      return 10013;
    case EFAULT:
      return 10014;
    case EINVAL:
      return 10022;
    case EMFILE:
    case ENFILE:
      return 10024;
    case EAGAIN:  // EWOULDBLOCK is the same number on Linux
      return 10035;
    case EINPROGRESS:
      return 10036;
    case EALREADY:
      return 10037;
    case ENOTSOCK:
      return 10038;
    case EDESTADDRREQ:
      return 10039;
    case EMSGSIZE:
      return 10040;
    case EPROTOTYPE:
      return 10041;
    case ENOPROTOOPT:
      return 10042;
    case EPROTONOSUPPORT:
      return 10043;
    case ESOCKTNOSUPPORT:
      return 10044;
    case EOPNOTSUPP:
      return 10045;
    case EPFNOSUPPORT:
      return 10046;
    case EAFNOSUPPORT:
      return 10047;
    case EADDRINUSE:
      return 10048;
    case EADDRNOTAVAIL:
      return 10049;
    case ENETDOWN:
      return 10050;
    case ENETUNREACH:
      return 10051;
    case ENETRESET:
      return 10052;
    case ECONNABORTED:
    case EPIPE:  // sending on a connection the peer has torn down
      return 10053;
    case ECONNRESET:
      return 10054;
    case ENOBUFS:
    case ENOMEM:
      return 10055;
    case EISCONN:
      return 10056;
    case ENOTCONN:
      return 10057;
    case ESHUTDOWN:
      return 10058;
    case ETOOMANYREFS:
      return 10059;
    case ETIMEDOUT:
      return 10060;
    case ECONNREFUSED:
      return 10061;
    case ELOOP:
      return 10062;
    case ENAMETOOLONG:
      return 10063;
    case EHOSTDOWN:
      return 10064;
    case EHOSTUNREACH:
      return 10065;
    case ENOTEMPTY:
      return 10066;
    case EUSERS:
      return 10068;
    case EDQUOT:
      return 10069;
    case ESTALE:
      return 10070;
    case EREMOTE:
      return 10071;
    default:
      return err;
  }
}

int WinsockErrorFromGai(int gaiResult, int sysErrno) {
  switch (gaiResult) {
    case 0:
      return 0;
    case EAI_NONAME:
      return 11001;
    case EAI_AGAIN:
      return 11002;
    case EAI_FAIL:
      return 11003;
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
      return 11004;
    case EAI_MEMORY:
      return 10055;
    case EAI_FAMILY:
      return 10047;
    case EAI_SOCKTYPE:
      return 10044;
    case EAI_BADFLAGS:
      return 10022;
    case EAI_SYSTEM: {
      int code = WinsockErrorFromErrno(sysErrno);
      return code == 0 ? 11003 : code;
    }
    default:
      return 11003;
  }
}

std::string LocalMachineName() {
  NoteSocketLibraryUse();
  std::string name;
  if (!platform::HostName(name)) throw ESocketException("Winsock.GetHostName failed");
  return name;
}

int SocketCount() {
  std::lock_guard<std::mutex> lock(g_library_lock);
  return g_socket_count;
}

void IncrementSocketCount() {
  std::lock_guard<std::mutex> lock(g_library_lock);
  ++g_socket_count;
}

void DecrementSocketCount() {
  std::lock_guard<std::mutex> lock(g_library_lock);
  if (g_socket_count > 0) --g_socket_count;
  // The last object gone: the next operation starts the library afresh.
  if (g_socket_count < 1) g_library_in_use = false;
}

void NoteSocketLibraryUse() {
  std::lock_guard<std::mutex> lock(g_library_lock);
  g_library_in_use = true;
}

bool SocketLibraryInUse() {
  std::lock_guard<std::mutex> lock(g_library_lock);
  return g_library_in_use;
}

uint8_t ReqVerLow() { return g_req_ver_low.load(); }
uint8_t ReqVerHigh() { return g_req_ver_high.load(); }
bool SetReqVerLow(uint8_t value) { return SetReqVer(g_req_ver_low, value); }
bool SetReqVerHigh(uint8_t value) { return SetReqVer(g_req_ver_high, value); }

}  // namespace jumelix
