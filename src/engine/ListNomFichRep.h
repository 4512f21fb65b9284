// The entries of one destination directory, as the walk records them, in listing order.
// The list owns its records; a record lives until Supprimer or Vider. Lookup by name goes
// through a hash index (exact name first, then ASCII letter case ignored), so matching a
// directory of n entries costs O(n). Single-threaded; nothing here fails.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/FileSystem.h"

namespace jumelix {

// One destination entry. Attr holds the attribute bits of platform/FileSystem.h.
struct TNomFichRep {
  int32_t Attr = 0;
  platform::DateDos Time;
  int64_t Size = 0;
  platform::GenreEntree Genre = platform::GenreEntree::Fichier;
  std::string Name;
};

// True when two packed times are close enough to call two files identical: within 132 on
// the packed values (up to 4 min 8 s inside one clock hour) when both lie in the packed
// range; within the packed 2-second step when both lie outside it; never when only one
// does.
bool DatesProches(const platform::DateDos& a, const platform::DateDos& b);

// An index returned by Indice stays valid, and designates the same record, until that
// record is removed or the list emptied: removing a record does not move the others.
class TListNomFichRep {
 public:
  TListNomFichRep() = default;
  TListNomFichRep(const TListNomFichRep&) = delete;
  TListNomFichRep& operator=(const TListNomFichRep&) = delete;

  // Appends a record for a listed entry.
  void Ajouter(const platform::EntreeRepertoire& entree);
  // Removes every record.
  void Vider();
  // The record with exactly this name; failing that, the first record in list order whose
  // name equals it with ASCII letter case ignored (every other byte must match), skipping
  // records whose exact name is in `reserves` (names that will claim their own record).
  // -1 when none.
  int Indice(const std::string& nom,
             const std::unordered_set<std::string>* reserves = nullptr) const;
  // True when the record has the given kind and size and its time is close to `time`.
  bool Identique(int indice, int64_t size, const platform::DateDos& time,
                 platform::GenreEntree genre = platform::GenreEntree::Fichier) const;
  // Removes the record; an index that designates no record does nothing.
  void Supprimer(int indice);

  // The record at an index returned by Indice (which must designate a record).
  const TNomFichRep& operator[](int indice) const { return *enregistrements_[indice]; }
  // Number of records.
  int Count() const { return nombre_; }
  // The records in list order.
  std::vector<const TNomFichRep*> Elements() const;

 private:
  std::vector<std::unique_ptr<TNomFichRep>> enregistrements_;  // null once removed
  std::unordered_map<std::string, int> exacts_;
  std::unordered_map<std::string, std::vector<int>> replies_;  // folded name -> indices
  int nombre_ = 0;
};

}  // namespace jumelix
