// The extended attributes and ACLs of one walk (platform/AttributsEtendus.h): compared for
// the entries whose content is the same, given in place to those that differ, and the note,
// once per pair, that the destination cannot hold them. Made and used by the walk's thread
// only (engine/UDelta.cpp); it reports nothing itself: failures are errno values.
#pragma once

#include <string>

#include "engine/UDelta.h"
#include "platform/FileSystem.h"
#include "platform/SystemeFichiers.h"

namespace jumelix {

class TAttributsMiroir {
 public:
  // `fs` and `etat` must outlive the object.
  TAttributsMiroir(platform::TSystemeFichiers& fs, const TReglagesRun& etat) : fs_(fs), etat_(etat) {}

  // True when the entry `nomSource` of `src` and `nomCible` of `dst` (empty names: the
  // directories themselves) hold the same kept attributes. An entry that cannot be read
  // counts as different: the fix then says why.
  bool Memes(const platform::TRepertoire& src, const std::string& nomSource,
             const platform::TRepertoire& dst, const std::string& nomCible);
  // Gives the destination entry `nomCible` of `dst`, listed as `listee` (an empty name: `dst`
  // itself), the kept attributes of the source entry. 0 or an errno; a name the destination
  // refuses to hold makes the note, not a failure.
  int Donner(const platform::TRepertoire& src, const std::string& nomSource,
             const platform::TRepertoire& dst, const std::string& nomCible,
             const platform::EntreeRepertoire& listee);
  // Gives the destination directory `dst` (described as `d`) the kept attributes of the
  // source directory `src` where they differ, setting `change` then. 0 or an errno.
  int Accorder(const platform::TRepertoire& src, const platform::TRepertoire& dst,
               const platform::EntreeRepertoire& d, bool& change);
  // The pair's destination directory, named in the note.
  void Destination(const std::string& destination) { destination_ = destination; }
  // The destination cannot hold what its source holds: said once per pair through
  // TReglagesRun::SurRemarque.
  void NonGardes();

 private:
  platform::TSystemeFichiers& fs_;
  const TReglagesRun& etat_;
  std::string destination_;
  bool dit_ = false;
};

}  // namespace jumelix
