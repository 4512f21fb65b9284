// The mark a complete synchronisation leaves for its pair, so that the next walks need not
// ask every destination entry for its extended attributes (a request per entry, a large part
// of a run where nothing changed). Setting or removing an attribute or an ACL changes the
// entry's change time (st_ctime); so once a walk left a destination holding no attribute
// anywhere (its source holds none, every entry was walked, none reported, left out by a
// pattern or by the preview, nor stopped), a destination entry whose change time is older
// than that walk's start still holds none, and the next walks do not ask it. Source entries
// are always asked: a source may be a snapshot, whose change times are those of the files it
// froze, older than what it shows.
//
// The mark is kept only where the destination's change times come from this machine's own
// clock (a file system of this kernel), for the same effective user (root keeps more names),
// the same source and destination roots (file system, device, inode); it is not used once
// the clock was set back since it was taken, when it is in the future, or when the
// destination root's own change time went back (a destination restored from an older copy
// of its file system). One file per pair in a private directory of the user's state
// (TReglagesRun::Marques); no such directory, no mark: every entry is asked, as without it.
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
  // The destination root, open, before the walk changes anything in it.
  void Cible(const platform::TRepertoire& dst);
  // Takes the pair's start and reads its mark kept in `repertoire` (empty: none is kept).
  // `attributsPossibles`: the destination holds extended attributes (otherwise none are
  // compared, and every entry is asked so that the note that they are not kept is given).
  void Commencer(const std::string& repertoire, const std::string& source,
                 const std::string& destination, const platform::TRepertoire& src,
                 bool attributsPossibles);
  // What the destination's listings may leave unasked: null without a usable mark.
  const platform::SeuilAttributs* Seuil() const { return utilisable_ ? &seuil_ : nullptr; }
  // The walk begun by Commencer left the destination (`racine`, its root) holding no
  // attribute: keeps its start as the pair's mark. False when it could not be written (the
  // mark is then only lost: the next walk asks every entry).
  bool Enregistrer(const platform::TRepertoire& racine);

 private:
  std::string Ligne(int64_t secondes, const std::string& demarrage, int64_t ecart,
                    int64_t racineSecondes, int32_t racineNanos) const;

  std::string fichier_;  // empty: no mark kept for this pair
  platform::IdentiteRepertoire src_, dst_;
  bool dstConnue_ = false;
  int64_t debut_ = 0;  // the walk's start, the mark it leaves
  std::string demarrage_;
  int64_t ecart_ = 0;
  bool utilisable_ = false;
  platform::SeuilAttributs seuil_;
};

}  // namespace jumelix
