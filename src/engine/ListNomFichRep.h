// The entries of one destination directory, as the walk records them, in listing order.
// The list owns its records, kept side by side in one block; a record lives until Supprimer
// or Vider. Lookup by name goes through hash indexes (exact name first, then ASCII letter
// case ignored, that second index being built only when an exact lookup first fails), so
// matching a directory of n entries costs O(n). Single-threaded; nothing here fails.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileSystem.h"

namespace jumelix {

// One destination entry. Attr holds the attribute bits of platform/FileSystem.h; Entree
// the whole description (its Nom is Name).
struct TNomFichRep {
  int32_t Attr = 0;
  int64_t Size = 0;
  platform::GenreEntree Genre = platform::GenreEntree::Fichier;
  std::string Name;
  platform::EntreeRepertoire Entree;
};

// True when a source entry and a destination entry hold the same thing, as far as their
// descriptions tell: same kind; a file of the same size, last written in the same second
// (or within 2 s when `deuxSecondes`: a file system that keeps times to 2 s); a link of the
// same target length (its text is compared by the caller); a special file of the same
// type and device number. Modes and owners are not looked at.
bool MemeContenu(const platform::EntreeRepertoire& source,
                 const platform::EntreeRepertoire& destination, bool deuxSecondes);

// Tells whether a name is reserved for an entry of its own (see Indice).
using TEstReserve = std::function<bool(const std::string& nom)>;

// An index returned by Indice stays valid, and designates the same record, until that
// record is removed or the list emptied: removing a record does not move the others.
class TListNomFichRep {
 public:
  TListNomFichRep() = default;
  TListNomFichRep(const TListNomFichRep&) = delete;
  TListNomFichRep& operator=(const TListNomFichRep&) = delete;

  // Appends a record for a listed entry.
  void Ajouter(const platform::EntreeRepertoire& entree);
  // Removes every record (the storage is kept for the next directory).
  void Vider();
  // The record with exactly this name; failing that, the first record in list order whose
  // name equals it with ASCII letter case ignored (every other byte must match), skipping
  // records whose exact name `estReserve` accepts (names that will claim their own
  // record); `estReserve` is called only for such case-folded candidates. -1 when none.
  int Indice(std::string_view nom, const TEstReserve& estReserve = {}) const;
  // The record with exactly this name, or -1.
  int IndiceExact(std::string_view nom) const;
  // MemeContenu of the source entry and the record.
  bool Identique(int indice, const platform::EntreeRepertoire& source, bool deuxSecondes) const;
  // Removes the record; an index that designates no record does nothing.
  void Supprimer(int indice);

  // The record at an index returned by Indice (which must designate a record).
  const TNomFichRep& operator[](int indice) const { return enregistrements_[indice].r; }
  // Number of records.
  int Count() const { return nombre_; }
  // The records in list order.
  std::vector<const TNomFichRep*> Elements() const;

 private:
  struct Enregistrement {
    TNomFichRep r;
    uint32_t hash = 0;   // of the exact name
    bool vivant = true;  // false once removed
  };
  // One slot of the exact-name table (open addressing, linear probing).
  struct Case {
    int32_t indice = -1;  // -1: empty
    uint32_t hash = 0;
  };

  void Indexer(int32_t indice);
  void Agrandir();
  void IndexerReplies() const;
  int IndiceReplie(std::string_view nom, const TEstReserve& estReserve) const;

  std::vector<Enregistrement> enregistrements_;  // list order; removed ones stay, dead
  std::vector<Case> exacts_;                     // size 0 or a power of two
  // Folded-name buckets (first record of each chain), built at the first failed exact
  // lookup and dropped whenever a record is added.
  mutable std::vector<int32_t> replies_;
  mutable std::vector<int32_t> suivants_;  // per record: next of its bucket, list order
  mutable bool repliesFaits_ = false;
  int nombre_ = 0;
};

}  // namespace jumelix
