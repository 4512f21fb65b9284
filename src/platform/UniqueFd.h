// Owns one file descriptor and closes it when destroyed, reset or moved onto; move-only.
// For a file that was written, the close itself may report the failure (a full disk on a
// network file system): Fermer() closes at once and says how it went. Not thread-safe.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace jumelix::platform {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) noexcept : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& autre) noexcept : fd_(autre.release()) {}
  UniqueFd& operator=(UniqueFd&& autre) noexcept {
    if (this != &autre) reset(autre.release());
    return *this;
  }

  int get() const noexcept { return fd_; }
  bool valide() const noexcept { return fd_ >= 0; }
  // Gives the descriptor up without closing it.
  int release() noexcept { return std::exchange(fd_, -1); }
  // Closes the descriptor held, if any, and holds `fd` instead.
  void reset(int fd = -1) noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Closes now: 0, or the errno of the close. The descriptor is gone either way (on Linux
  // a close interrupted by a signal has still released it, so it is never retried).
  int Fermer() noexcept {
    if (fd_ < 0) return 0;
    return ::close(release()) == 0 ? 0 : errno;
  }

 private:
  int fd_ = -1;
};

}  // namespace jumelix::platform
