// What the destination directories' file systems can hold (letter case, Windows names, time
// precision), as the walk asks it of each directory: learnt once per device, since each
// question is a request to the server on a network file system, except on ext4 and f2fs,
// where case folding is a flag of each directory (read without a probe). Owned by one walk,
// used on its thread.
#pragma once

#include <cstdint>
#include <unordered_map>

#include "engine/ListeEntrees.h"
#include "platform/FileSystem.h"

namespace jumelix {

class TProprietesCibles {
 public:
  // The properties of the destination directory `rep`, listed as `entrees`. Where only a
  // look can tell whether it folds case (FUSE), an entry of it is looked up under its name
  // in the other letter case; in an empty directory a temporary file is made and looked up
  // so, when `sonder` allows it (a synchronisation).
  platform::ProprietesRepertoire Pour(const platform::TRepertoire& rep, const TListeEntrees& entrees,
                                      bool sonder);

 private:
  std::unordered_map<uint64_t, platform::ProprietesRepertoire> appris_;  // per device
};

}  // namespace jumelix
