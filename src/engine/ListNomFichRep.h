// The entries of one destination directory, as the walk records them, in listing order.
// The records are those of a listing (TListeEntrees) that the list reads without owning it
// and that must outlive it: a record is the listing's entry number, so a name is never
// stored twice; a record lives until Supprimer or Vider. Lookup by name goes through hash
// indexes (exact name first, then ASCII letter case ignored, that second index being built
// only when an exact lookup first fails), so matching a directory of n entries costs O(n).
// Single-threaded; nothing here fails.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ListeEntrees.h"
#include "platform/FileSystem.h"

namespace jumelix {

// One destination entry as the list shows it: Attr holds the attribute bits of
// platform/FileSystem.h, Name a view of the listing's text, Entree its number there.
struct TNomFichRep {
  int32_t Attr = 0;
  int64_t Size = 0;
  platform::GenreEntree Genre = platform::GenreEntree::Fichier;
  std::string_view Name;
  size_t Entree = 0;
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
  explicit TListNomFichRep(const TListeEntrees& entrees) : entrees_(entrees) {}
  TListNomFichRep(const TListNomFichRep&) = delete;
  TListNomFichRep& operator=(const TListNomFichRep&) = delete;

  // Makes room for `n` records, so that the index is built once.
  void Reserver(size_t n);
  // Appends a record for the listing's entry `entree`.
  void Ajouter(size_t entree);
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
  TNomFichRep operator[](int indice) const;
  // Number of records.
  int Count() const { return nombre_; }
  // The indexes of the records, in list order.
  std::vector<int> Elements() const;

 private:
  static constexpr uint32_t kMort = UINT32_MAX;  // a removed record

  std::string_view Nom(size_t indice) const { return entrees_.NomVue(membres_[indice]); }
  bool Vivant(size_t indice) const { return membres_[indice] != kMort; }
  void Indexer(int32_t indice);
  void Agrandir(size_t n);
  void IndexerReplies() const;
  int IndiceReplie(std::string_view nom, const TEstReserve& estReserve) const;

  const TListeEntrees& entrees_;
  std::vector<uint32_t> membres_;  // list order: the listing's entry number, or kMort
  // Exact-name table (open addressing, linear probing): record indexes, -1 when empty.
  std::vector<int32_t> exacts_;  // size 0 or a power of two
  // Folded-name buckets (first record of each chain), built at the first failed exact
  // lookup and dropped whenever a record is added.
  mutable std::vector<int32_t> replies_;
  mutable std::vector<int32_t> suivants_;  // per record: next of its bucket, list order
  mutable bool repliesFaits_ = false;
  int nombre_ = 0;
};

}  // namespace jumelix
