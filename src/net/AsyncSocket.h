// A non-blocking TCP client socket that never waits inside an operation: a lookup, a
// connection, arriving data, a drained send queue and the end of the connection are all
// reported later by the On... events, fired from the message loop of the thread that
// created the object (TMessageLoop::Current() of that thread; pump it with
// ProcessMessages / WaitAndProcess). Misuse is reported through OnError when assigned,
// otherwise by throwing ESocketException, or returned as a TSocketResult by the Try...
// operations; transport failures arrive as Winsock-style codes (SocketErrors.h) in the
// events. Owned by its user; not copyable; one thread.
//
// Typical use (the SMTP client's path):
//   TAsyncSocket s;
//   s.OnDnsLookupDone = [](TAsyncSocket& s, uint16_t err) { ... s.SetAddr(s.DnsResult());
//       s.SetPort("25"); s.SetProto("tcp"); s.Connect(); };
//   s.OnSessionConnected = [](TAsyncSocket&, uint16_t err) { ... };   // 0: connected
//   s.OnDataAvailable = [](TAsyncSocket& s, uint16_t) { char b[512]; int n = s.Receive(b, 512); };
//   s.DnsLookup("mail.example.org");
//   ... s.SendText("EHLO me\r\n"); ... s.Close();   // OnSessionClosed reports the end
// TLS: once connected, StartTls(name) runs the handshake from the loop and OnTlsDone tells
// the outcome; from then on Send/QueueData encrypt and Receive decrypts, so the user of
// the socket reads and writes plain text as before.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/MessageLoop.h"
#include "net/SendBuffer.h"
#include "net/SocketErrors.h"
#include "net/TlsLayer.h"

namespace jumelix {

enum TSocketState {
  wsInvalidState,
  wsOpened,
  wsBound,
  wsConnecting,
  wsSocksConnected,
  wsConnected,
  wsAccepting,
  wsListening,
  wsClosed
};

enum TSocketSendFlags { wsSendNormal, wsSendUrgent };
enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };
enum TSocketKeepAliveOnOff { wsKeepAliveOff, wsKeepAliveOnCustom, wsKeepAliveOnSystem };

// TSocketOptions is a set of these bits.
enum TSocketOption : unsigned {
  wsoNoReceiveLoop = 1u << 0,  // one OnDataAvailable per read notification
  wsoTcpNoDelay = 1u << 1,     // TCP_NODELAY at connect
  wsoSIO_RCVALL = 1u << 2,     // raw sockets only; not used
};
using TSocketOptions = unsigned;

// Messages of the socket's own window.
constexpr uint32_t kWmSocketEvent = kWmUser + 1;       // wParam fd; lParam event | error << 16
constexpr uint32_t kWmSocketHostByName = kWmUser + 2;  // wParam lookup handle; error << 16
constexpr uint32_t kWmSocketHostByAddr = kWmUser + 3;  // reverse lookups: not implemented
constexpr uint32_t kWmSocketCloseDelayed = kWmUser + 4;
constexpr uint32_t kWmSocketRelease = kWmUser + 5;  // ignored: the owner frees the object
constexpr uint32_t kWmSocketTestException = kWmUser + 6;
constexpr uint32_t kWmSocketTlsDone = kWmUser + 7;   // a TLS start that failed at once
constexpr uint32_t kWmSocketTlsFatal = kWmUser + 8;  // a broken TLS record: drop the link

// Bounds of one receive pass (one read notification): past either, the pass ends and the
// rest is offered from a later dispatch, so that other messages and the owner's deadline
// get their turn while a peer keeps sending.
constexpr int kReceivePassMaxBytes = 64 * 1024;
constexpr std::chrono::milliseconds kReceivePassMaxTime{20};

// Shutdown directions.
constexpr int kSdReceive = 0;
constexpr int kSdSend = 1;
constexpr int kSdBoth = 2;

class TAsyncSocket;

using TNotifyEvent = std::function<void(TAsyncSocket& Sender)>;
using TDnsLookupDone = std::function<void(TAsyncSocket& Sender, uint16_t ErrCode)>;
using TSessionConnected = std::function<void(TAsyncSocket& Sender, uint16_t ErrCode)>;
using TDataAvailable = std::function<void(TAsyncSocket& Sender, uint16_t ErrCode)>;
using TDataSent = std::function<void(TAsyncSocket& Sender, uint16_t ErrCode)>;
using TSendData = std::function<void(TAsyncSocket& Sender, int BytesSent)>;
using TSessionClosed = std::function<void(TAsyncSocket& Sender, uint16_t ErrCode)>;
using TChangeState =
    std::function<void(TAsyncSocket& Sender, TSocketState OldState, TSocketState NewState)>;
// ErrCode 0: the connection is now encrypted; kTlsFailed: see TlsErrorText().
using TTlsDone = std::function<void(TAsyncSocket& Sender, uint16_t ErrCode)>;
using TBgExceptionEvent =
    std::function<void(TAsyncSocket& Sender, const std::exception& E, bool& CanClose)>;

// A dotted IPv4 address: after leading blanks, four decimal parts of at most 255 joined
// by exactly three dots, a digit after every dot, only blanks after the last digit.
bool IsDottedIP(const std::string& text);

// Resolution used by Connect; each throws ESocketException with its own message.
uint32_t ResolveHost(const std::string& host);                            // network byte order
uint16_t ResolvePort(const std::string& port, const std::string& proto);  // host order
int ResolveProto(const std::string& proto);

class TAsyncSocket {
 public:
  // Bound to the message loop of the calling thread.
  TAsyncSocket();
  // Cancels a pending lookup, closes without firing OnSessionClosed or OnDnsLookupDone
  // (OnChangeState still fires), drops its messages.
  ~TAsyncSocket();
  TAsyncSocket(const TAsyncSocket&) = delete;
  TAsyncSocket& operator=(const TAsyncSocket&) = delete;

  // ---- Events (optional; an empty one is skipped) ----
  TDnsLookupDone OnDnsLookupDone;
  TSessionConnected OnSessionConnected;
  TDataAvailable OnDataAvailable;
  TDataSent OnDataSent;
  TSendData OnSendData;
  TSessionClosed OnSessionClosed;
  TChangeState OnChangeState;
  TNotifyEvent OnError;  // reads LastError(); assigned, it replaces throwing
  TBgExceptionEvent OnBgException;
  TTlsDone OnTlsDone;

  // ---- Operations ----
  // Dotted address: OnDnsLookupDone(0) fires before returning. Otherwise the lookup runs
  // in the background and OnDnsLookupDone(code) fires from the loop; a pending lookup is
  // cancelled silently first. Empty name: error, then OnDnsLookupDone(10022).
  void DnsLookup(const std::string& hostName);
  // Nothing when no lookup is pending; otherwise OnDnsLookupDone(10004).
  void CancelDnsLookup();
  // Creates the socket and starts connecting; State() is wsConnecting on return (or the
  // error has been reported). OnSessionConnected tells the outcome.
  void Connect();
  // Up to maxLen received bytes; 0 when the peer closed; -1 with LastError (10035 when
  // nothing waits). Never throws.
  int Receive(void* buffer, int maxLen);
  std::string ReceiveText();
  // Queues and starts sending; returns len (0 for len <= 0), or -1 when not connected
  // (socket error "Send", 10057). OnDataSent always fires later, from the loop.
  int Send(const void* data, int len);
  int SendText(const std::string& text);
  // Appends to the send queue without sending.
  void QueueData(const void* data, int len);
  // Sends what the queue holds until the system would block.
  void TryToSend();
  void Close();         // orderly: shuts down sending first
  void CloseDelayed();  // Close from the loop, later
  void Abort();         // cancels a lookup, drops unsent data, closes at once
  // Pumps the loop until the queue has gone or the handle is closed; no time limit.
  void Flush();
  void Shutdown(int how);
  void Pause();
  void Resume();
  // Dispatches the pending messages of this thread's loop.
  void PumpPendingMessages();
  // Posts the message that makes the handler throw "Test exception in AsyncSocket".
  void PostTestException();
  // Starts TLS on the connected socket: the certificate must be trusted (system store, plus
  // TlsCaFile) and name `hostName`. OnTlsDone fires from the loop when the handshake has
  // ended; meanwhile arriving bytes feed the handshake and OnDataAvailable stays quiet.
  // Sending before the end is kept and encrypted afterwards. Misuse (not connected, TLS
  // already started) is reported like other misuse (OnError or ESocketException).
  void StartTls(const std::string& hostName);

  // ---- The same operations with failures as values ----
  // For a caller that handles every failure in one place (the SMTP session): misuse and
  // system failures are returned, neither thrown nor given to OnError, and the operation
  // stops where the exception would have stopped it. Events fire as with the operations
  // above.
  TSocketResult TryDnsLookup(const std::string& hostName);
  // Addr, LocalAddr, Proto and Port as their setters take them (a change is refused unless
  // the socket is closed), then Connect.
  TSocketResult TryConnect(const std::string& addr, const std::string& localAddr,
                           const std::string& proto, const std::string& port);
  TSocketResult TrySend(const void* data, int len);
  TSocketResult TryStartTls(const std::string& hostName);
  TSocketResult TryClose();
  TSocketResult TryAbort();

  // ---- Properties ----
  const std::string& Addr() const { return addr_; }
  void SetAddr(const std::string& value);
  const std::string& Port() const { return port_; }
  void SetPort(const std::string& value);
  const std::string& Proto() const { return proto_; }
  void SetProto(const std::string& value);
  const std::string& LocalAddr() const { return local_addr_; }
  void SetLocalAddr(const std::string& value);
  const std::string& LocalPort() const { return local_port_; }
  void SetLocalPort(const std::string& value);
  std::string PeerAddr();
  std::string PeerPort();
  const std::string& DnsResult() const { return dns_result_; }
  const std::vector<std::string>& DnsResultList() const { return dns_result_list_; }
  TSocketState State() const { return state_; }
  int ReadCount() const { return read_count_; }
  int RcvdCount();
  int LastError() const { return last_error_; }
  void SetLastError(int value) { last_error_ = value; }
  int FlushTimeout() const { return flush_timeout_; }
  void SetFlushTimeout(int value) { flush_timeout_ = value; }
  TSocketSendFlags SendFlags() const { return send_flags_; }
  void SetSendFlags(int value);
  TSocketLingerOnOff LingerOnOff() const { return linger_on_off_; }
  void SetLingerOnOff(TSocketLingerOnOff value) { linger_on_off_ = value; }
  int LingerTimeout() const { return linger_timeout_; }
  void SetLingerTimeout(int value) { linger_timeout_ = value; }
  TSocketKeepAliveOnOff KeepAliveOnOff() const { return keep_alive_on_off_; }
  void SetKeepAliveOnOff(TSocketKeepAliveOnOff value) { keep_alive_on_off_ = value; }
  int KeepAliveTime() const { return keep_alive_time_; }
  void SetKeepAliveTime(int ms) { keep_alive_time_ = ms; }
  int KeepAliveInterval() const { return keep_alive_interval_; }
  void SetKeepAliveInterval(int ms) { keep_alive_interval_ = ms; }
  TSocketOptions ComponentOptions() const { return component_options_; }
  void SetComponentOptions(TSocketOptions value) { component_options_ = value; }
  uint8_t ReqVerLow() const;
  void SetReqVerLow(uint8_t value);
  uint8_t ReqVerHigh() const;
  void SetReqVerHigh(uint8_t value);
  bool MultiThreaded() const { return multi_threaded_; }
  void SetMultiThreaded(bool value) { multi_threaded_ = value; }

  // TLS: the handshake has ended well (the link is encrypted) / is running; the French
  // text of a failure; the protocol agreed. An extra trusted CA file (PEM), for tests and
  // private authorities: empty by default, so only the system store counts.
  bool TlsActive() const;
  bool TlsHandshaking() const { return tls_handshaking_; }
  const std::string& TlsErrorText() const { return tls_error_; }
  std::string TlsVersion() const;
  const std::string& TlsCaFile() const { return tls_ca_file_; }
  void SetTlsCaFile(const std::string& path) { tls_ca_file_ = path; }

  // The system descriptor (-1 when none), the queued byte count, the send chunks (for
  // inspection), the window through which the socket's messages arrive.
  int HSocket() const { return fd_; }
  int BufferedByteCount() const { return buffered_bytes_; }
  std::vector<int> ChunkSizes() const;
  bool AllSent() const { return all_sent_; }
  THwnd Handle() const { return window_ ? window_->Handle() : 0; }

 private:
  void HandleMessage(uint32_t message, uintptr_t wParam, intptr_t lParam);
  void HandleSocketEvent(uintptr_t wParam, intptr_t lParam);
  void HandleHostByName(uintptr_t wParam, intptr_t lParam);
  void HandleBackgroundException(const std::exception& e);
  // Offers the waiting bytes to OnDataAvailable. True when the pass stopped at its bound
  // (kReceivePassMaxBytes or kReceivePassMaxTime) with data still waiting.
  bool ReceiveLoop(uint16_t errCode, TSocketOptions options);
  bool TriggerDataAvailable(uint16_t errCode);
  void ChangeState(TSocketState newState);
  TSocketResult InnerClose(bool shut, int err);
  TSocketResult InnerAbort(int err);
  void ResetDefaults();
  void DeleteBufferedData();
  void SocketError(const std::string& context);
  void SocketErrorCode(int code, const std::string& context);
  void RaiseException(const std::string& message);
  // The cores of the operations: a failure comes back as a value, which the throwing
  // operations hand to Raise (OnError when assigned, otherwise ESocketException).
  void Raise(const TSocketResult& result);
  TSocketResult Failure(const std::string& message) const;
  TSocketResult SocketFailure(int code, const std::string& context);
  TSocketResult AssignAddr(const std::string& value);
  TSocketResult AssignPort(const std::string& value);
  TSocketResult AssignProto(const std::string& value);
  TSocketResult AssignLocalAddr(const std::string& value);
  TSocketResult OpenConnection();
  TSocketResult CancelLookup();
  TSocketResult SendQueued();
  // Queues `len` bytes for Send; the count Send reports.
  int QueueForSend(const void* data, int len);
  // After a send: OnDataSent comes from the loop, never from inside Send.
  void PostSentIfDrained();
  void TriggerSessionClosed(uint16_t errCode);
  bool ApplyLinger();
  void CloseHandleNow();
  void QueueRaw(const void* data, int len);
  int RecvRaw(void* buffer, int maxLen);
  TSocketResult FlushTlsOutput();
  void SealHeld();
  void ContinueHandshake(bool peerClosed);
  void FinishHandshake();
  bool TlsHasPending() const;

  std::unique_ptr<TMessageWindow> window_;
  TMessageLoop& loop_;
  int fd_ = -1;
  TSocketState state_ = wsClosed;

  std::string addr_;
  std::string port_;
  std::string proto_ = "tcp";
  std::string local_addr_ = "0.0.0.0";
  std::string local_port_ = "0";
  bool addr_assigned_ = false;
  bool port_assigned_ = false;
  bool proto_assigned_ = true;
  bool local_port_assigned_ = false;
  bool addr_resolved_ = false;
  bool port_resolved_ = false;
  bool proto_resolved_ = false;
  bool local_port_resolved_ = false;
  uint32_t peer_ip_ = 0;    // network order
  uint16_t peer_port_ = 0;  // network order
  int protocol_ = 6;
  int sock_type_ = 1;  // SOCK_STREAM
  uint16_t local_port_num_ = 0;

  std::deque<std::unique_ptr<TBuffer>> buf_list_;
  int buf_size_ = 1460;
  int buffered_bytes_ = 0;
  bool all_sent_ = true;

  uint32_t dns_handle_ = 0;
  std::string dns_result_;
  std::vector<std::string> dns_result_list_;

  long select_mask_ = 0;
  bool close_invoked_ = false;
  bool paused_ = false;
  bool destroying_ = false;
  int snd_buf_size_ = 0;
  int rcv_buf_size_ = 0;

  int read_count_ = 0;
  int last_error_ = 0;
  int flush_timeout_ = 60;
  TSocketSendFlags send_flags_ = wsSendNormal;
  TSocketLingerOnOff linger_on_off_ = wsLingerOn;
  int linger_timeout_ = 0;
  TSocketKeepAliveOnOff keep_alive_on_off_ = wsKeepAliveOnSystem;
  int keep_alive_time_ = 30000;
  int keep_alive_interval_ = 1000;
  TSocketOptions component_options_ = 0;
  bool multi_threaded_ = false;

  std::unique_ptr<TTlsLayer> tls_;
  bool tls_handshaking_ = false;
  std::string tls_held_;  // plain text queued, encrypted at the next send
  std::string tls_ca_file_;
  std::string tls_error_;  // kept after the close, for the report of the failure
};

}  // namespace jumelix
