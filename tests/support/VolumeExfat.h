// Small file systems for tests that need a destination unlike the disk the tests run on: an
// image file in a TempTree, attached to a loop device and mounted. Needs root and the tools
// each kind names; when any is missing, Monte() is false and Raison() says why (for
// GTEST_SKIP). The destructor detaches the mount and, for a FUSE mount, waits for its
// daemon to end, so the image is released by the time the object is gone.
#pragma once

#include <sys/types.h>

#include <string>

#include "support/TempTree.h"

namespace jumelix::test {

class VolumeBoucle {
 public:
  ~VolumeBoucle();
  VolumeBoucle(const VolumeBoucle&) = delete;
  VolumeBoucle& operator=(const VolumeBoucle&) = delete;

  bool Monte() const { return monte_; }
  const std::string& Raison() const { return raison_; }
  // The mount point.
  const std::string& Racine() const { return point_; }

 protected:
  VolumeBoucle() = default;

  TempTree arbre_;
  std::string point_;
  std::string boucle_;  // the loop device to detach, when we attached one
  std::string raison_;
  pid_t demon_ = -1;  // the FUSE daemon, kept in the foreground as our child
  bool monte_ = false;
};

// exFAT through exfat-fuse (packages exfatprogs and exfat-fuse, and /dev/fuse): folds letter
// case and keeps no modes.
class VolumeExfat : public VolumeBoucle {
 public:
  VolumeExfat();
};

// vfat mounted by the kernel (dosfstools): no extended attributes, no hard links, no modes,
// 2-second times.
class VolumeVfat : public VolumeBoucle {
 public:
  VolumeVfat();
};

}  // namespace jumelix::test
