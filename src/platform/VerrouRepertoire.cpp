#include "platform/VerrouRepertoire.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace jumelix::platform {

TVerrouRepertoire::TVerrouRepertoire(TVerrouRepertoire&& autre) noexcept
    : fd_(std::exchange(autre.fd_, -1)) {}

TVerrouRepertoire& TVerrouRepertoire::operator=(TVerrouRepertoire&& autre) noexcept {
  if (this != &autre) {
    Liberer();
    fd_ = std::exchange(autre.fd_, -1);
  }
  return *this;
}

int TVerrouRepertoire::Prendre(const std::string& chemin) {
  Liberer();
  if (chemin.empty()) return ENOENT;
  // Read-only is enough for flock on a local file system, and lets a user lock a
  // destination that only root can write: he cannot walk it anyway, but must not run
  // into the middle of root's walk.
  const int fd = ::open(chemin.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return errno;
  return Verrouiller(fd);
}

int TVerrouRepertoire::Prendre(int repertoire) {
  Liberer();
  // A description of its own, so the lock lives exactly as long as this object.
  const int fd = ::openat(repertoire, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return errno;
  return Verrouiller(fd);
}

int TVerrouRepertoire::Verrouiller(int fd) {
  int resultat;
  do {
    resultat = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (resultat != 0 && errno == EINTR);
  if (resultat != 0) {
    const int err = errno == EAGAIN ? EWOULDBLOCK : errno;
    ::close(fd);
    return err;
  }
  fd_ = fd;
  return 0;
}

void TVerrouRepertoire::Liberer() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

}  // namespace jumelix::platform
