// The walk's decisions for one level (a source directory and its destination counterpart),
// made from the two listings alone, before anything is changed or reported: what each
// source entry needs, what in the destination is surplus, what is a leftover of an
// interrupted run. The act step (engine/UDelta.cpp) then does it through the file-system
// seam; the same plan is what a preview or a dry run shows. Pure: no disk, no thread; the
// only outside question, whether two links have the same target, goes through a callback.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/ListeEntrees.h"
#include "platform/FileSystem.h"

namespace jumelix {

// What the walk does with one source entry.
enum class Quoi : uint8_t {
  Rien,       // identical
  Attributs,  // same content: mode, owner, link time or extended attributes to fix in place
  Copier,     // missing or different
  CreerRep,   // a directory missing from the destination
  Descendre,  // a directory present on both sides (compare mode: or missing)
  Collision,  // folds onto the name of another source entry: not mirrored
};

// Eight bytes, one per source entry: a destination name is kept only where it differs from
// the source name (TPlanNiveau::NomDst).
struct Decision {
  Quoi quoi = Quoi::Rien;
  bool renommer = false;  // the destination name differs from the source name by case only
  bool manquant = false;  // nothing of that name in the destination
  // Copier: the destination file is newer than the source (someone changed the mirror).
  bool cibleRecente = false;
  uint32_t nomDst = 0;    // when renommer: the destination name's number in nomsDst
  // The destination entry's inode as listed, when one of that name exists: the change of
  // its attributes is made only on it, and a hard link group's names are told apart by it.
  uint64_t inodeDst = 0;
};

// The rules of one level, as the act step found them on disk.
struct TReglesNiveau {
  bool Comparer = false;      // compare mode: nothing is created, surplus is only reported
  bool ReplieCasse = false;   // the destination directory folds letter case
  bool DeuxSecondes = false;  // its file system keeps times to 2 seconds
  bool GarderDroits = true;   // modes and owners are mirrored there
  // The pair's root, or a mount inside the destination: each holds an archive folder of its
  // own, which the walk never sees, and a source entry of that name is never mirrored into it.
  bool RacineArchive = false;
  // True for an entry of this level that the exclusion patterns leave out (engine/
  // Exclusions.h): in the source it is not mirrored, in the destination it is kept as it
  // is. Empty: nothing is excluded.
  std::function<bool(std::string_view nom, bool repertoire)> Exclu;
  // True when the source file `nomSource` and the destination file `nomCible` hold the same
  // extended attributes and ACLs; asked only of files of the same content where either side
  // holds some. Empty: the destination holds none (those differences are not looked at).
  std::function<bool(const std::string& nomSource, const std::string& nomCible)>
      MemesAttributsEtendus;
};

// True when the source link `nomSource` and the destination link `nomCible` have the same
// target text (asked only of links whose descriptions match).
using TMemesCibles = std::function<bool(const std::string& nomSource, const std::string& nomCible)>;

struct TPlanNiveau {
  std::vector<Decision> decisions;  // one per kept source entry, in its order
  TNoms nomsDst;                    // the destination names that differ from their source's
  // Destination files that give way to a source directory of the same name.
  std::vector<std::string> cede;
  // Destination entries that no source entry claims, in listing order.
  TNoms fichiersEnTrop, repertoiresEnTrop;
  // Temporary entries an interrupted run left (a name of the program's own temporary form
  // that no source entry claims): deleted, never archived, reported or counted.
  std::vector<std::string> temporaires;
  // Destination names too long to be recorded: (is a directory, name), reported and left.
  std::vector<std::pair<bool, std::string>> tropLongs;
  // Source entries of the archive's name that are not directories: reported, not mirrored.
  std::vector<std::string> reservesSource;

  // The destination name of the source entry `nomSource` that got the decision `d`.
  std::string NomDst(const Decision& d, std::string_view nomSource) const {
    return std::string(d.renommer ? nomsDst[d.nomDst] : nomSource);
  }
};

// True for a name of the exact form the program gives its temporary entries.
bool EstNomTemporaire(std::string_view nom);

// Plans one level. `source` loses ".", ".." and the entries that are not mirrored at all
// (the archive's name at a RacineArchive level, the excluded entries); each remaining entry
// gets the decision of the same index. `cible` is consumed: emptied once read.
void Planifier(TListeEntrees& source, TListeEntrees& cible, const TReglesNiveau& regles,
               const TMemesCibles& memesCibles, TPlanNiveau& plan);

}  // namespace jumelix
