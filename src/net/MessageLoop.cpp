#include "net/MessageLoop.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "net/SocketErrors.h"

namespace jumelix {
namespace {

// The part of a loop that helper threads touch: the queue, the wake-up descriptor and the
// lookup results. Shared with every lookup thread, so a thread that finishes after its
// loop has gone still has somewhere harmless to post.
struct SharedQueue {
  struct Lookup {
    bool done = false;
    bool cancelled = false;
    int code = 0;
    std::vector<uint32_t> addrs;
    THwnd hwnd = 0;
    uint32_t message = 0;
  };

  std::mutex mu;
  std::deque<TMessage> queue;
  std::map<uint32_t, Lookup> lookups;
  uint32_t next_lookup = 1;
  int event_fd = -1;

  SharedQueue() { event_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }
  ~SharedQueue() {
    if (event_fd >= 0) close(event_fd);
  }

  void Wake() {
    uint64_t one = 1;
    // A full counter still leaves the descriptor readable, which is all we need.
    ssize_t r;
    do {
      r = write(event_fd, &one, sizeof one);
    } while (r < 0 && errno == EINTR);
  }

  void Drain() {
    uint64_t value;
    ssize_t r;
    do {
      r = read(event_fd, &value, sizeof value);
    } while (r < 0 && errno == EINTR);
  }

  void Push(const TMessage& m) {
    {
      std::lock_guard<std::mutex> lock(mu);
      queue.push_back(m);
    }
    Wake();
  }
};

// What the loop remembers of one watched socket; see AsyncSelect for the rules.
struct Watch {
  THwnd hwnd = 0;
  uint32_t message = 0;
  long mask = 0;
  bool connecting = false;
  bool connected = false;
  bool read_armed = true;
  bool write_wanted = false;
  bool finished = false;  // connect failed or close reported: nothing more to say
};

int SocketError(int fd) {
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
  return err;
}

}  // namespace

struct TMessageLoop::Impl {
  std::shared_ptr<SharedQueue> shared = std::make_shared<SharedQueue>();
  std::unordered_map<THwnd, std::shared_ptr<THandler>> windows;
  THwnd next_hwnd = 1;
  std::map<int, Watch> watches;
  int epoll_fd = -1;
  std::map<int, uint32_t> epoll_events;  // what each socket is registered for
  bool quit = false;
  int quit_code = 0;

  Impl() {
    epoll_fd = epoll_create1(EPOLL_CLOEXEC);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = shared->event_fd;
    epoll_ctl(epoll_fd, EPOLL_CTL_ADD, shared->event_fd, &ev);
  }
  ~Impl() {
    if (epoll_fd >= 0) close(epoll_fd);
  }

  // The poll events that would lead to a message now; 0 leaves the socket out of the
  // wait, so a condition already reported never makes the loop spin.
  static short Interest(const Watch& w) {
    if (w.mask == 0 || w.finished) return 0;
    if (w.connecting) return POLLOUT;
    if (!w.connected) return 0;
    short ev = 0;
    if ((w.mask & kFdRead) && w.read_armed) ev |= POLLIN;
    if (w.mask & kFdClose) ev |= POLLRDHUP;
    if ((w.mask & kFdWrite) && w.write_wanted) ev |= POLLOUT;
    return ev;
  }

  void Post(const Watch& w, int fd, long event, int error) {
    if ((w.mask & event) == 0) return;
    shared->Push(
        TMessage{w.hwnd, w.message, static_cast<uintptr_t>(fd), MakeSelectReply(event, error)});
  }

  void Handle(int fd, Watch& w, short revents) {
    if (revents & POLLNVAL) {
      w.finished = true;
      return;
    }
    if (w.connecting) {
      if ((revents & (POLLOUT | POLLERR | POLLHUP)) == 0) return;
      w.connecting = false;
      int code = WinsockErrorFromErrno(SocketError(fd));
      Post(w, fd, kFdConnect, code);
      if (code != 0) {
        w.finished = true;
        return;
      }
      w.connected = true;
      w.write_wanted = false;
      Post(w, fd, kFdWrite, 0);
      return;
    }
    bool posted = false;
    if ((revents & POLLIN) && w.read_armed && (w.mask & kFdRead)) {
      w.read_armed = false;
      Post(w, fd, kFdRead, 0);
      posted = true;
    }
    if ((revents & POLLOUT) && w.write_wanted && (w.mask & kFdWrite)) {
      w.write_wanted = false;
      Post(w, fd, kFdWrite, 0);
      posted = true;
    }
    if (revents & (POLLRDHUP | POLLHUP | POLLERR)) {
      if (w.mask & kFdClose) {
        int code = (revents & POLLERR) ? WinsockErrorFromErrno(SocketError(fd)) : 0;
        Post(w, fd, kFdClose, code);
        w.finished = true;
      } else if (!posted && (revents & (POLLHUP | POLLERR))) {
        w.finished = true;  // broken and nobody asked to hear it: stop waking up for it
      }
    }
  }

  // One pass over the watched sockets: the poll list is rebuilt each time from the
  // current wishes, readiness becomes messages. With includeWake the wake-up descriptor
  // is polled too, so that a post or a lookup result ends the wait.
  bool PollPass(int timeoutMs, bool includeWake) {
    std::vector<pollfd> fds;
    std::vector<int> owners;
    if (includeWake) fds.push_back(pollfd{shared->event_fd, POLLIN, 0});
    for (auto& [fd, w] : watches) {
      short ev = Interest(w);
      if (ev == 0) continue;
      fds.push_back(pollfd{fd, ev, 0});
      owners.push_back(fd);
    }
    if (fds.empty()) return false;
    int ret;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      ret = poll(fds.data(), fds.size(), timeoutMs);
      if (ret >= 0 || errno != EINTR) break;
      if (timeoutMs > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        timeoutMs = left.count() > 0 ? static_cast<int>(left.count()) : 0;
      }
    }
    if (ret <= 0) return false;
    size_t first = includeWake ? 1 : 0;
    for (size_t i = first; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      auto it = watches.find(owners[i - first]);
      if (it != watches.end()) Handle(it->first, it->second, fds[i].revents);
    }
    return true;
  }

  // Keeps the notification descriptor's set equal to what PollPass would wait for.
  void SyncEpoll() {
    for (auto it = epoll_events.begin(); it != epoll_events.end();) {
      if (watches.count(it->first) == 0) {
        epoll_ctl(epoll_fd, EPOLL_CTL_DEL, it->first, nullptr);
        it = epoll_events.erase(it);
      } else {
        ++it;
      }
    }
    for (auto& [fd, w] : watches) {
      uint32_t want = static_cast<uint16_t>(Interest(w));  // poll and epoll bits agree
      auto it = epoll_events.find(fd);
      uint32_t have = it == epoll_events.end() ? 0 : it->second;
      if (want == have) continue;
      epoll_event ev{};
      ev.events = want;
      ev.data.fd = fd;
      if (want == 0) {
        epoll_ctl(epoll_fd, EPOLL_CTL_DEL, fd, nullptr);
        epoll_events.erase(fd);
      } else if (have == 0) {
        if (epoll_ctl(epoll_fd, EPOLL_CTL_ADD, fd, &ev) == 0) epoll_events[fd] = want;
      } else {
        epoll_ctl(epoll_fd, EPOLL_CTL_MOD, fd, &ev);
        it->second = want;
      }
    }
    // Wake-ups that the pass has already answered would make the descriptor look busy:
    // clear them, then signal again only for what is still queued. A post from another
    // thread either lands before the check or writes its own wake-up after it.
    shared->Drain();
    std::lock_guard<std::mutex> lock(shared->mu);
    if (!shared->queue.empty()) shared->Wake();
  }

  bool Pop(TMessage& m) {
    std::lock_guard<std::mutex> lock(shared->mu);
    if (shared->queue.empty()) return false;
    m = shared->queue.front();
    shared->queue.pop_front();
    return true;
  }
};

TMessageLoop& TMessageLoop::Current() {
  thread_local TMessageLoop loop;
  return loop;
}

TMessageLoop::TMessageLoop() : impl_(std::make_shared<Impl>()) {}

TMessageLoop::~TMessageLoop() = default;

bool TMessageLoop::PostMessage(THwnd hwnd, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (hwnd == 0) return false;
  impl_->shared->Push(TMessage{hwnd, message, wParam, lParam});
  return true;
}

void TMessageLoop::PostQuitMessage(int exitCode) {
  impl_->shared->Push(TMessage{0, kWmQuit, static_cast<uintptr_t>(exitCode), 0});
}

bool TMessageLoop::PeekMessage(TMessage& msg, bool remove) {
  impl_->PollPass(0, false);
  {
    std::lock_guard<std::mutex> lock(impl_->shared->mu);
    auto& q = impl_->shared->queue;
    if (!q.empty()) {
      msg = q.front();
      if (remove) q.pop_front();
      return true;
    }
  }
  // A caller that runs its own Peek/Dispatch loop and then waits on NotificationFd
  // must find it quiet once everything is answered.
  impl_->SyncEpoll();
  return false;
}

void TMessageLoop::DispatchMessage(const TMessage& msg) {
  if (msg.hwnd == 0) {
    if (msg.message == kWmQuit) {
      impl_->quit = true;
      impl_->quit_code = static_cast<int>(msg.wParam);
    }
    return;
  }
  auto it = impl_->windows.find(msg.hwnd);
  if (it == impl_->windows.end()) return;
  // Holding the handler keeps it alive even when it destroys its own window.
  std::shared_ptr<THandler> handler = it->second;
  (*handler)(msg.message, msg.wParam, msg.lParam);
}

int TMessageLoop::ProcessMessages() {
  impl_->shared->Drain();
  impl_->PollPass(0, false);
  int count = 0;
  TMessage m;
  struct Resync {
    Impl* impl;
    ~Resync() { impl->SyncEpoll(); }
  } resync{impl_.get()};
  while (impl_->Pop(m)) {
    if (m.hwnd == 0 && m.message == kWmQuit) {
      DispatchMessage(m);
      break;
    }
    DispatchMessage(m);
    ++count;
  }
  return count;
}

int TMessageLoop::WaitAndProcess(int timeoutMs) {
  if (PendingCount() == 0) {
    if (timeoutMs < 0) timeoutMs = -1;
    impl_->PollPass(timeoutMs, true);
  }
  return ProcessMessages();
}

bool TMessageLoop::QuitReceived() const { return impl_->quit; }
int TMessageLoop::QuitCode() const { return impl_->quit_code; }
void TMessageLoop::ClearQuit() {
  impl_->quit = false;
  impl_->quit_code = 0;
}

int TMessageLoop::NotificationFd() const { return impl_->epoll_fd; }

size_t TMessageLoop::PendingCount() const {
  std::lock_guard<std::mutex> lock(impl_->shared->mu);
  return impl_->shared->queue.size();
}

void TMessageLoop::RemoveMessages(THwnd hwnd, uint32_t message, uintptr_t wParam) {
  std::lock_guard<std::mutex> lock(impl_->shared->mu);
  auto& q = impl_->shared->queue;
  for (auto it = q.begin(); it != q.end();) {
    if (it->hwnd == hwnd && it->message == message && it->wParam == wParam) {
      it = q.erase(it);
    } else {
      ++it;
    }
  }
}

THwnd TMessageLoop::RegisterWindow(THandler handler) {
  THwnd hwnd = impl_->next_hwnd++;
  impl_->windows.emplace(hwnd, std::make_shared<THandler>(std::move(handler)));
  return hwnd;
}

void TMessageLoop::UnregisterWindow(THwnd hwnd) {
  impl_->windows.erase(hwnd);
  std::lock_guard<std::mutex> lock(impl_->shared->mu);
  auto& q = impl_->shared->queue;
  for (auto it = q.begin(); it != q.end();) {
    it = it->hwnd == hwnd ? q.erase(it) : std::next(it);
  }
}

int TMessageLoop::AsyncSelect(int fd, THwnd hwnd, uint32_t message, long mask) {
  if (fd < 0) return kWsaeNotSock;
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return WinsockErrorFromErrno(errno);
  if ((flags & O_NONBLOCK) == 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
    return WinsockErrorFromErrno(errno);
  }
  Watch& w = impl_->watches[fd];
  w.hwnd = hwnd;
  w.message = message;
  w.mask = mask;
  if (mask != 0) {
    // A new selection reports conditions that already hold, as a fresh one would.
    w.read_armed = true;
    if (w.connected) w.write_wanted = true;
  }
  impl_->SyncEpoll();
  return 0;
}

void TMessageLoop::ForgetSocket(int fd) {
  auto it = impl_->watches.find(fd);
  if (it == impl_->watches.end()) return;
  Watch w = it->second;
  impl_->watches.erase(it);
  impl_->SyncEpoll();
  RemoveMessages(w.hwnd, w.message, static_cast<uintptr_t>(fd));
}

void TMessageLoop::SocketConnecting(int fd) {
  auto it = impl_->watches.find(fd);
  if (it == impl_->watches.end()) return;
  it->second.connecting = true;
  it->second.connected = false;
  it->second.finished = false;
  impl_->SyncEpoll();
}

void TMessageLoop::SocketReceived(int fd) {
  auto it = impl_->watches.find(fd);
  if (it == impl_->watches.end() || it->second.read_armed) return;
  it->second.read_armed = true;
  impl_->SyncEpoll();
}

void TMessageLoop::SocketSendBlocked(int fd) {
  auto it = impl_->watches.find(fd);
  if (it == impl_->watches.end() || it->second.write_wanted) return;
  it->second.write_wanted = true;
  impl_->SyncEpoll();
}

uint32_t TMessageLoop::AsyncGetHostByName(THwnd hwnd, uint32_t message, const std::string& name) {
  std::shared_ptr<SharedQueue> shared = impl_->shared;
  uint32_t handle;
  {
    std::lock_guard<std::mutex> lock(shared->mu);
    handle = shared->next_lookup++;
    if (shared->next_lookup == 0) shared->next_lookup = 1;
    SharedQueue::Lookup& l = shared->lookups[handle];
    l.hwnd = hwnd;
    l.message = message;
  }
  try {
    std::thread([shared, handle, hwnd, message, name] {
      addrinfo hints{};
      hints.ai_family = AF_INET;
      hints.ai_socktype = SOCK_STREAM;
      addrinfo* res = nullptr;
      int rc = getaddrinfo(name.c_str(), nullptr, &hints, &res);
      int code = WinsockErrorFromGai(rc, rc == EAI_SYSTEM ? errno : 0);
      std::vector<uint32_t> addrs;
      if (rc == 0) {
        for (addrinfo* p = res; p != nullptr; p = p->ai_next) {
          if (p->ai_family != AF_INET) continue;
          addrs.push_back(reinterpret_cast<sockaddr_in*>(p->ai_addr)->sin_addr.s_addr);
        }
        freeaddrinfo(res);
        if (addrs.empty()) code = kWsaNoData;
      }
      {
        std::lock_guard<std::mutex> lock(shared->mu);
        auto it = shared->lookups.find(handle);
        if (it == shared->lookups.end()) return;
        if (it->second.cancelled) {
          shared->lookups.erase(it);
          return;
        }
        it->second.done = true;
        it->second.code = code;
        it->second.addrs = std::move(addrs);
        shared->queue.push_back(TMessage{hwnd, message, handle, MakeSelectReply(0, code)});
      }
      shared->Wake();
    }).detach();
  } catch (const std::system_error&) {
    std::lock_guard<std::mutex> lock(shared->mu);
    shared->lookups.erase(handle);
    errno = EAGAIN;
    return 0;
  }
  return handle;
}

int TMessageLoop::CancelAsyncRequest(uint32_t handle) {
  std::lock_guard<std::mutex> lock(impl_->shared->mu);
  auto& lookups = impl_->shared->lookups;
  auto it = lookups.find(handle);
  if (it == lookups.end() || it->second.cancelled) return kWsaeInval;
  if (!it->second.done) {
    it->second.cancelled = true;  // the thread drops its result when it ends
    return 0;
  }
  THwnd hwnd = it->second.hwnd;
  uint32_t message = it->second.message;
  lookups.erase(it);
  auto& q = impl_->shared->queue;
  for (auto m = q.begin(); m != q.end();) {
    bool completion = m->hwnd == hwnd && m->message == message && m->wParam == handle;
    m = completion ? q.erase(m) : std::next(m);
  }
  return 0;
}

bool TMessageLoop::TakeHostByNameResult(uint32_t handle, std::vector<uint32_t>& addrs) {
  std::lock_guard<std::mutex> lock(impl_->shared->mu);
  auto& lookups = impl_->shared->lookups;
  auto it = lookups.find(handle);
  if (it == lookups.end() || !it->second.done) return false;
  addrs = std::move(it->second.addrs);
  lookups.erase(it);
  return true;
}

TMessageWindow::TMessageWindow(THandler handler, TMessageLoop& loop)
    : loop_(loop), hwnd_(loop.RegisterWindow(std::move(handler))) {}

TMessageWindow::~TMessageWindow() { loop_.UnregisterWindow(hwnd_); }

}  // namespace jumelix
