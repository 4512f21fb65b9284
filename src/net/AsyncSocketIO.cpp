#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>

#include "net/AsyncSocket.h"
#include "net/AsyncSocketInterne.h"
#include "platform/Secret.h"

// Reading, writing and TLS of TAsyncSocket once connected. The connection and the name
// lookup are in AsyncSocketConnect.cpp.
namespace jumelix {

using namespace socket_interne;

// ---- Receiving -------------------------------------------------------------------------

int TAsyncSocket::RecvRaw(void* buffer, int maxLen) {
  if (fd_ < 0) {
    last_error_ = kWsaeNotSock;
    return -1;
  }
  if (maxLen < 0) maxLen = 0;
  ssize_t n;
  do {
    n = ::recv(fd_, buffer, static_cast<size_t>(maxLen), 0);
  } while (n < 0 && errno == EINTR);
  const int code = n < 0 ? LastCode() : 0;
  loop_.SocketReceived(fd_);
  if (n < 0) {
    last_error_ = code;
    return -1;
  }
  return static_cast<int>(n);
}

int TAsyncSocket::Receive(void* buffer, int maxLen) {
  if (!tls_) {
    const int n = RecvRaw(buffer, maxLen);
    if (n > 0) read_count_ += n;
    return n;
  }
  if (fd_ < 0) {
    last_error_ = kWsaeNotSock;
    return -1;
  }
  if (tls_handshaking_ || tls_->Failed()) {
    // The bytes belong to the handshake (or to a link about to be dropped).
    last_error_ = kWsaeWouldBlock;
    return -1;
  }
  if (maxLen <= 0) return 0;
  // Records without any text for the reader (a peer could send them for ever) must not
  // hold this call: past the pass's bound the rest waits for the next notification.
  int raw_total = 0;
  for (;;) {
    const int n = tls_->Read(static_cast<char*>(buffer), maxLen);
    Raise(FlushTlsOutput());  // a read may have to answer (key update)
    if (n > 0) {
      read_count_ += n;
      return n;
    }
    if (n == 0) {
      // The server ended TLS: the end of the data. Servers commonly wait for our own
      // close_notify before they close the connection, so it goes at once.
      tls_->Shutdown();
      Raise(FlushTlsOutput());
      return 0;
    }
    if (n == -2) {
      tls_error_ = tls_->ErrorText();
      last_error_ = kWsaeConnAborted;
      // Nothing more can be trusted on this link; it goes from the loop, not from inside
      // the reader's handler.
      if (fd_ >= 0) window_->Post(kWmSocketTlsFatal, static_cast<uintptr_t>(fd_), 0);
      return -1;
    }
    if (raw_total >= kReceivePassMaxBytes) {
      last_error_ = kWsaeWouldBlock;
      return -1;
    }
    char raw[16384];
    const int got = RecvRaw(raw, sizeof raw);
    if (got < 0) return -1;
    if (got == 0) return 0;
    raw_total += got;
    tls_->PutIncoming(raw, static_cast<size_t>(got));
  }
}

std::string TAsyncSocket::ReceiveText() {
  int n = RcvdCount();
  if (n < 0) return {};
  if (n == 0) n = 255;
  std::string text(static_cast<size_t>(n), '\0');
  int got = Receive(text.data(), n);
  if (got <= 0) return {};
  text.resize(static_cast<size_t>(got));
  return text;
}

int TAsyncSocket::RcvdCount() {
  if (tls_ && !tls_handshaking_ && tls_->PendingPlain() > 0) {
    return static_cast<int>(tls_->PendingPlain());
  }
  int n = 0;
  if (fd_ < 0 || ioctl(fd_, FIONREAD, &n) != 0) {
    if (fd_ < 0) errno = ENOTSOCK;
    SocketError("ioctlSocket");
    return -1;
  }
  return n;
}

bool TAsyncSocket::TriggerDataAvailable(uint16_t errCode) {
  if (OnDataAvailable) {
    OnDataAvailable(*this, errCode);
    return true;
  }
  char sink[1024];
  if (Receive(sink, sizeof sink) < 0 && last_error_ == kWsaeWouldBlock) last_error_ = 0;
  return false;
}

bool TAsyncSocket::ReceiveLoop(uint16_t errCode, TSocketOptions options) {
  const int fd = fd_;
  // One pass is bounded in bytes and time: a peer that sends without pause must not keep
  // the loop inside this dispatch, or nothing else (a deadline, a signal) is ever seen.
  const int start_count = read_count_;
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    last_error_ = 0;
    try {
      const int before = read_count_;
      const bool handled = TriggerDataAvailable(errCode);
      if (options & wsoNoReceiveLoop) break;
      if (last_error_ != 0) {
        if (last_error_ == -1) last_error_ = 0;
        break;
      }
      if (fd_ != fd || fd_ < 0) break;  // the handler closed the socket
      int waiting = 0;
      if (ioctl(fd_, FIONREAD, &waiting) != 0) {
        last_error_ = LastCode();
        break;
      }
      if (waiting == 0 && !TlsHasPending()) break;
      // A handler that leaves the bytes where they are would be called forever; it will
      // hear of them again at its next Receive.
      if (handled && read_count_ == before) break;
      if (read_count_ - start_count >= kReceivePassMaxBytes ||
          std::chrono::steady_clock::now() - start >= kReceivePassMaxTime) {
        return true;
      }
    } catch (...) {
      break;  // exceptions of the receive loop are dropped, the loop ends
    }
  }
  return false;
}

// ---- Sending ---------------------------------------------------------------------------

void TAsyncSocket::QueueData(const void* data, int len) {
  if (data == nullptr || len <= 0) return;
  if (tls_) {
    // Kept as plain text until the next send: the pieces queued together (a line and its
    // CR LF) then travel in one TLS record, and nothing is encrypted before the handshake
    // has ended.
    tls_held_.append(static_cast<const char*>(data), static_cast<size_t>(len));
    all_sent_ = false;
    return;
  }
  QueueRaw(data, len);
}

void TAsyncSocket::SealHeld() {
  if (tls_held_.empty() || !TlsActive()) return;
  std::string held;
  held.swap(tls_held_);
  const bool ok = tls_->Write(held.data(), held.size());
  EffacerTexte(held);  // plain text, perhaps a password on its way (AUTH)
  if (!ok) {
    tls_error_ = tls_->ErrorText();
    return;
  }
  const std::string bytes = tls_->TakeOutgoing();
  QueueRaw(bytes.data(), static_cast<int>(bytes.size()));
}

void TAsyncSocket::QueueRaw(const void* data, int len) {
  if (data == nullptr || len <= 0) return;
  const char* p = static_cast<const char*>(data);
  int left = len;
  if (buf_list_.empty()) buf_list_.push_back(std::make_unique<TBuffer>(buf_size_));
  int n = buf_list_.back()->Write(p, left);
  p += n;
  left -= n;
  while (left > 0) {
    buf_list_.push_back(std::make_unique<TBuffer>(buf_size_));
    n = buf_list_.back()->Write(p, left);
    p += n;
    left -= n;
  }
  buffered_bytes_ += len;
  all_sent_ = false;
}

void TAsyncSocket::TryToSend() { Raise(SendQueued()); }

TSocketResult TAsyncSocket::SendQueued() {
  if (tls_) SealHeld();
  if (fd_ < 0 || buf_list_.empty()) {
    all_sent_ = true;
    return {};
  }
  for (;;) {
    if (fd_ < 0 || buf_list_.empty()) {
      all_sent_ = true;
      return {};
    }
    TBuffer& chunk = *buf_list_.front();
    int len = 0;
    const char* p = chunk.Peek(len);
    if (len <= 0) {
      if (buf_list_.size() > 1) {
        buf_list_.pop_front();
        continue;
      }
      all_sent_ = true;  // the last chunk stays, empty, for the next data
      return {};
    }
    const int flags = MSG_NOSIGNAL | (send_flags_ == wsSendUrgent ? MSG_OOB : 0);
    ssize_t n;
    do {
      n = ::send(fd_, p, static_cast<size_t>(len), flags);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
      buffered_bytes_ = std::max(0, buffered_bytes_ - static_cast<int>(n));
      chunk.Remove(static_cast<int>(n));
      if (OnSendData) OnSendData(*this, static_cast<int>(n));
      if (n < len) {
        // Linux takes part of a block when its buffer fills up; the rest waits for the
        // next write notification, which has to be asked for.
        if (fd_ >= 0) loop_.SocketSendBlocked(fd_);
        return {};
      }
      continue;
    }
    if (n == 0) return {};
    const int code = LastCode();
    if (code == kWsaeWouldBlock) {
      loop_.SocketSendBlocked(fd_);
      return {};
    }
    if (code == kWsaeInval || code == kWsaeNotSock || code == kWsaeConnAborted ||
        code == kWsaeConnReset || code == kWsaeNotConn) {
      close_invoked_ = true;
      if (TSocketResult r = InnerClose(true, 0); r.failed) return r;
      TriggerSessionClosed(static_cast<uint16_t>(code));
      return {};
    }
    return SocketFailure(code, "TryToSend failed");
  }
}

int TAsyncSocket::QueueForSend(const void* data, int len) {
  all_sent_ = false;
  if (len <= 0 || data == nullptr) return 0;
  QueueData(data, len);
  return len;
}

void TAsyncSocket::PostSentIfDrained() {
  if (all_sent_ && fd_ >= 0) {
    window_->Post(kWmSocketEvent, static_cast<uintptr_t>(fd_), MakeSelectReply(kFdWrite, 0));
  }
}

int TAsyncSocket::Send(const void* data, int len) {
  if (state_ != wsConnected && state_ != wsSocksConnected) {
    SocketErrorCode(kWsaeNotConn, "Send");
    return -1;
  }
  const int result = QueueForSend(data, len);
  TryToSend();  // with OnError assigned, a failure here still ends as a send
  PostSentIfDrained();
  return result;
}

TSocketResult TAsyncSocket::TrySend(const void* data, int len) {
  if (state_ != wsConnected && state_ != wsSocksConnected) {
    return SocketFailure(kWsaeNotConn, "Send");
  }
  (void)QueueForSend(data, len);
  if (TSocketResult r = SendQueued(); r.failed) return r;
  PostSentIfDrained();
  return {};
}

int TAsyncSocket::SendText(const std::string& text) {
  if (text.empty()) return 0;
  return Send(text.data(), static_cast<int>(text.size()));
}

void TAsyncSocket::Flush() {
  while (fd_ >= 0 && !all_sent_) {
    TryToSend();
    if (fd_ < 0 || all_sent_) break;
    // Sleeps until the socket can take more instead of spinning.
    loop_.WaitAndProcess(100);
  }
}

void TAsyncSocket::DeleteBufferedData() {
  buf_list_.clear();
  buffered_bytes_ = 0;
}

std::vector<int> TAsyncSocket::ChunkSizes() const {
  std::vector<int> sizes;
  for (const auto& b : buf_list_) sizes.push_back(b->DataLength());
  return sizes;
}

// ---- TLS -------------------------------------------------------------------------------

void TAsyncSocket::StartTls(const std::string& hostName) { Raise(TryStartTls(hostName)); }

TSocketResult TAsyncSocket::TryStartTls(const std::string& hostName) {
  if (fd_ < 0 || state_ != wsConnected) return SocketFailure(kWsaeNotConn, "StartTls");
  if (tls_) return Failure("StartTls: TLS already started");
  tls_error_.clear();
  EffacerTexte(tls_held_);
  tls_ = std::make_unique<TTlsLayer>(TrimBlanks(hostName), tls_ca_file_);
  tls_handshaking_ = true;
  const TTlsLayer::TResult r = tls_->Handshake();
  if (TSocketResult sent = FlushTlsOutput(); sent.failed) return sent;
  if (r == TTlsLayer::tlsFailed) {
    // Failed before a byte went out (no usable CA file, bad name): told from the loop,
    // like every other outcome.
    tls_handshaking_ = false;
    tls_error_ = tls_->ErrorText();
    window_->Post(kWmSocketTlsDone, 0, kTlsFailed);
  }
  return {};
}

bool TAsyncSocket::TlsActive() const { return tls_ && tls_->HandshakeDone() && !tls_->Failed(); }

std::string TAsyncSocket::TlsVersion() const { return tls_ ? tls_->Version() : std::string(); }

bool TAsyncSocket::TlsHasPending() const {
  return tls_ && !tls_handshaking_ && (tls_->PendingPlain() > 0 || tls_->PendingIncoming() > 0);
}

TSocketResult TAsyncSocket::FlushTlsOutput() {
  if (!tls_ || !tls_->HasOutgoing()) return {};
  const std::string bytes = tls_->TakeOutgoing();
  QueueRaw(bytes.data(), static_cast<int>(bytes.size()));
  return SendQueued();
}

void TAsyncSocket::ContinueHandshake(bool peerClosed) {
  const int fd = fd_;
  bool ended = peerClosed;
  for (;;) {
    char raw[16384];
    const int got = RecvRaw(raw, sizeof raw);
    if (got > 0) {
      tls_->PutIncoming(raw, static_cast<size_t>(got));
      continue;
    }
    if (got == 0 || last_error_ != kWsaeWouldBlock) ended = true;
    if (got < 0 && last_error_ == kWsaeWouldBlock) last_error_ = 0;
    break;
  }
  TTlsLayer::TResult r = tls_->Handshake();
  Raise(FlushTlsOutput());
  if (fd_ != fd || !tls_) return;  // the send failed and closed the socket
  if (r == TTlsLayer::tlsWantMore && ended) {
    tls_->FailConnectionClosed();
    r = tls_->Failed() ? TTlsLayer::tlsFailed : tls_->HandshakeDone() ? TTlsLayer::tlsDone : r;
  }
  if (r == TTlsLayer::tlsWantMore) return;
  FinishHandshake();
}

void TAsyncSocket::FinishHandshake() {
  tls_handshaking_ = false;
  const bool ok = tls_->HandshakeDone() && !tls_->Failed();
  const int fd = fd_;
  if (!ok) {
    tls_error_ = tls_->ErrorText();
    Raise(FlushTlsOutput());  // the alert that tells the server why
    // Told at once, from the handler of the read notification: the user closes the
    // connection before anything else is read from it.
    if (OnTlsDone) OnTlsDone(*this, kTlsFailed);
    return;
  }
  if (!tls_held_.empty()) {
    TryToSend();
    if (fd_ != fd) return;
  }
  // Told at once as well: the server may have sent its first lines in the same packets
  // as the end of the handshake, and the user must be ready to read them.
  if (OnTlsDone) OnTlsDone(*this, 0);
  if (fd_ == fd && fd_ >= 0 && TlsHasPending()) {
    window_->Post(kWmSocketEvent, static_cast<uintptr_t>(fd_), MakeSelectReply(kFdRead, 0));
  }
}

}  // namespace jumelix
