// The lock that keeps two synchronisations off one destination: an exclusive flock on a
// directory, so every process that reaches that directory (a second spelling through a
// link, another process) meets the same lock. Whoever may open the directory may hold
// it: the walks lock the destination's archive folder, private to the mirror's owner, so
// that a user who may only read a mirror cannot stop its runs. Held by one
// TVerrouRepertoire for its life; the descriptor is
// close-on-exec, so the lock never passes to a program started meanwhile and ends with the
// process. Not thread-safe; failures come back as errno values.
#pragma once

#include <string>

#include "platform/UniqueFd.h"

namespace jumelix::platform {

class TVerrouRepertoire {
 public:
  TVerrouRepertoire() = default;
  ~TVerrouRepertoire() = default;
  TVerrouRepertoire(const TVerrouRepertoire&) = delete;
  TVerrouRepertoire& operator=(const TVerrouRepertoire&) = delete;
  TVerrouRepertoire(TVerrouRepertoire&& autre) noexcept = default;
  TVerrouRepertoire& operator=(TVerrouRepertoire&& autre) noexcept = default;

  // Opens the directory `chemin` (a final link followed: the user named it) and locks it
  // without waiting. Returns 0; EWOULDBLOCK when another holder has it (another process,
  // whoever runs it, or another TVerrouRepertoire of this one); else the errno of the
  // failure (ENOENT, ENOTDIR, EACCES, or a file system that cannot lock, such as EBADF or
  // ENOLCK on NFS). A lock already held by this object is released first.
  int Prendre(const std::string& chemin);
  // The same for the directory open as `repertoire` (the very directory a walk holds, so
  // no link swapped in meanwhile can make it lock another one).
  int Prendre(int repertoire);
  bool Tenu() const { return fd_.valide(); }
  void Liberer() { fd_.reset(); }

 private:
  int Verrouiller(UniqueFd fd);
  UniqueFd fd_;
};

}  // namespace jumelix::platform
