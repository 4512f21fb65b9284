#include "platform/VerrouRepertoire.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace jumelix::platform {

int TVerrouRepertoire::Prendre(const std::string& chemin) {
  Liberer();
  if (chemin.empty()) return ENOENT;
  // Read-only is enough for flock: whoever may open the directory may hold its lock, so
  // the walks lock a directory private to the mirror's owner (its archive folder).
  UniqueFd fd(::open(chemin.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY));
  if (!fd.valide()) return errno;
  return Verrouiller(std::move(fd));
}

int TVerrouRepertoire::Prendre(int repertoire) {
  Liberer();
  // A description of its own, so the lock lives exactly as long as this object.
  UniqueFd fd(::openat(repertoire, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY));
  if (!fd.valide()) return errno;
  return Verrouiller(std::move(fd));
}

int TVerrouRepertoire::Verrouiller(UniqueFd fd) {
  int resultat;
  do {
    resultat = ::flock(fd.get(), LOCK_EX | LOCK_NB);
  } while (resultat != 0 && errno == EINTR);
  if (resultat != 0) return errno == EAGAIN ? EWOULDBLOCK : errno;
  fd_ = std::move(fd);
  return 0;
}

}  // namespace jumelix::platform
