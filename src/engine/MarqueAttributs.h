// The mark a complete synchronisation leaves for its pair, so that the next walks need not
// ask every entry for its extended attributes. Reading them costs a request per entry on
// each side, the largest part of a run where nothing changed. Setting or removing an
// attribute (or an ACL) changes the entry's change time (st_ctime); so an entry whose change
// time, on both sides, is older than the start of the last walk that ended with every entry
// the same (no report line, nothing left out by a pattern, the preview or a stop) holds
// the attributes that walk found, and they are still the same. The walks compare the rest
// as always; an entry renamed keeps its change time below it, as it keeps its last-write
// time for the content check.
//
// The mark is kept only where the change times come from this machine's own clock (both
// roots on a file system of this kernel), for the same effective user (root keeps more
// names than others), the same source and destination roots (file system, device, inode),
// and it is not used once the clock was set back since it was taken, or when it is in the
// future. One file per pair in a private directory of the user's state (TEtatRun::Marques);
// no such directory, no mark: every entry is asked, as without this.
// Used by one walk's thread (engine/UDelta.cpp).
#pragma once

#include <cstdint>
#include <string>

#include "platform/FileSystem.h"

namespace jumelix {

// Test only: seconds added to the clock a walk's start is read from (0), so that a test can
// leave a mark later than a change it makes, as a clock that moved on would.
extern int64_t DecalageHorlogeMarques;

class TMarqueAttributs {
 public:
  // Takes the pair's start and reads its mark kept in `repertoire` (empty: none is kept),
  // given the two roots, open. `attributsPossibles`: the destination holds extended
  // attributes (otherwise none are compared, and every source entry is asked so that the
  // note that they are not kept is given).
  void Commencer(const std::string& repertoire, const std::string& source,
                 const std::string& destination, const platform::TRepertoire& src,
                 const platform::TRepertoire& dst, bool attributsPossibles);
  // What the listings may skip: null when there is no usable mark.
  const platform::SeuilAttributs* Seuil() const { return utilisable_ ? &seuil_ : nullptr; }
  // The walk begun by Commencer ended with both sides' attributes the same everywhere:
  // keeps its start as the pair's mark. False when it could not be written (the mark is
  // then only lost: the next walk asks every entry).
  bool Enregistrer() const;

 private:
  std::string Ligne(int64_t secondes, const std::string& demarrage, int64_t ecart) const;

  std::string fichier_;  // empty: no mark kept for this pair
  platform::IdentiteRepertoire src_, dst_;
  int64_t debut_ = 0;  // the walk's start, the mark it leaves
  std::string demarrage_;
  int64_t ecart_ = 0;
  bool utilisable_ = false;
  platform::SeuilAttributs seuil_;
};

}  // namespace jumelix
