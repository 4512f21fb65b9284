// A small exFAT file system for tests that need a destination which folds letter case and
// keeps no modes: an image file in a TempTree, attached to a loop device and mounted with
// exfat-fuse. Needs root, /dev/fuse, a free loop device and the exfatprogs and exfat-fuse
// packages; when any is missing, Monte() is false and Raison() says why (for GTEST_SKIP).
// The destructor unmounts and detaches.
#pragma once

#include <string>

#include "support/TempTree.h"

namespace jumelix::test {

class VolumeExfat {
 public:
  VolumeExfat();
  ~VolumeExfat();
  VolumeExfat(const VolumeExfat&) = delete;
  VolumeExfat& operator=(const VolumeExfat&) = delete;

  bool Monte() const { return monte_; }
  const std::string& Raison() const { return raison_; }
  // The mount point.
  const std::string& Racine() const { return point_; }

 private:
  TempTree arbre_;
  std::string point_;
  std::string boucle_;
  std::string raison_;
  bool monte_ = false;
};

// The same with a vfat file system mounted by the kernel (dosfstools): no extended
// attributes, no hard links, no modes, 2-second times.
class VolumeVfat {
 public:
  VolumeVfat();
  ~VolumeVfat();
  VolumeVfat(const VolumeVfat&) = delete;
  VolumeVfat& operator=(const VolumeVfat&) = delete;

  bool Monte() const { return monte_; }
  const std::string& Raison() const { return raison_; }
  const std::string& Racine() const { return point_; }

 private:
  TempTree arbre_;
  std::string point_;
  std::string raison_;
  bool monte_ = false;
};

}  // namespace jumelix::test
