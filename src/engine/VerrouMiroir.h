// The lock of a mirror, held by a synchronisation for its whole walk: an exclusive flock
// (platform::TVerrouRepertoire) on the destination's archive folder (engine/Archive.h).
// That folder is private to whoever synchronises the mirror, so only those who may change
// the mirror can hold its lock: a user who may only read a destination cannot stop its
// runs, and a root run and a user run on one destination exclude each other (the folder
// of one is refused by the other). A folder made for the lock alone goes again at the end
// when nothing was archived in it. Used on the walk's thread only.
#pragma once

#include <functional>

#include "platform/FileSystem.h"
#include "platform/SystemeFichiers.h"
#include "platform/VerrouRepertoire.h"

namespace jumelix {

class TVerrouMiroir {
 public:
  explicit TVerrouMiroir(platform::TSystemeFichiers& fs) : fs_(fs) {}

  // Takes the lock of the destination root `dst`, making its archive folder when missing
  // (the destination keeps its last-write time). Where the folder cannot be made or
  // locked (a read-only destination, NFS without locks) the walk goes on unlocked rather
  // than not at all: 0, or the errno of the lock (EWOULDBLOCK: another run holds it).
  int Prendre(const platform::TRepertoire& dst);
  // True when Prendre made the archive folder.
  bool Cree() const { return cree_; }
  // At the end of the walk: removes the folder Prendre made when it is still empty.
  void Defaire(const platform::TRepertoire& dst);

 private:
  platform::TSystemeFichiers& fs_;
  platform::TVerrouRepertoire verrou_;
  bool cree_ = false;
};

// Runs `op` (0 or an errno) on the directory `dir`, which keeps its last-write time when
// `op` succeeds: the archive folder is no change of the mirror.
int AvecDateGardee(platform::TSystemeFichiers& fs, const platform::TRepertoire& dir,
                   const std::function<int()>& op);

}  // namespace jumelix
