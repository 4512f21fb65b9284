// A directory listed by the workers (TOuvriers): its names read in one request, then its
// entries described in slices, several at a time, so that a cold disk has many requests
// to serve and a warm cache spreads over the cores. A listing made ahead of the walk holds
// its entries against the walk's budget (TBudgetAvance) until the walk takes or drops it.
// Made, waited for and destroyed by one thread (the walk's); a listing or slice that throws
// fails the listing with that errno, as a directory that cannot be read does.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/ListeEntrees.h"
#include "engine/Ouvriers.h"
#include "platform/FileSystem.h"
#include "platform/SystemeFichiers.h"

namespace jumelix {

// The entries that the listings made ahead of one walk hold, all levels together, and
// their bound: such a listing reserves its entries as it reads its names and gives up when
// the bound would be passed (the walk then lists that directory itself when it gets there).
// Memory ahead of the walk is thus bounded whatever the tree's shape. Thread-safe.
class TBudgetAvance {
 public:
  explicit TBudgetAvance(size_t max) : max_(max) {}
  // Reserves `n` more entries; false, with nothing reserved, when that would pass the bound.
  bool Reserver(size_t n);
  void Rendre(size_t n) { tenues_.fetch_sub(n, std::memory_order_relaxed); }
  // Entries reserved at a time as names are read: few atomic operations per listing, and
  // a small bound still shared between several listings.
  size_t Tranche() const;

 private:
  const size_t max_;
  std::atomic<size_t> tenues_{0};
};

// The bound of a walk's listings made ahead, in entries: kEntreesAvance (engine/Listage.cpp),
// or what DefinirBudgetAvance set.
size_t BudgetAvance();
// Test only: sets that bound (0: the default again) and starts PicAvance again.
void DefinirBudgetAvance(size_t entrees);
// Test only: the most entries that listings made ahead held at once, over every walk since
// DefinirBudgetAvance was last called.
size_t PicAvance();

class TListage {
 public:
  struct Resultat {
    platform::TRepertoire rep;  // the directory listed (open while the result is kept)
    // ECANCELED: made ahead, dropped for want of budget; also set when the listing threw
    // before the directory was open.
    int errOuverture = 0;
    // The first failure in file-system order; the entries before it stay. A listing that
    // threw once the directory was open keeps none.
    int errListe = 0;
    TListeEntrees entrees;  // "." and ".." included
  };

  // Lists the subdirectory `nom` of `parent`, opened by the task, never through a link,
  // ahead of the walk: its entries count against `budget` (when not null) until this
  // object is destroyed or waited for. `parent` must stay open until this object is
  // destroyed.
  TListage(TOuvriers& ouvriers, platform::TSystemeFichiers& fs, const platform::TRepertoire& parent,
           std::string nom, TBudgetAvance* budget = nullptr,
           const platform::SeuilAttributs* seuil = nullptr);
  // Lists the open directory `rep` (through a second descriptor), on the thread that
  // waits for it; only the descriptions of a large directory go to the workers.
  // `seuil` (may be null, else outlives this object): entries it calls old are not asked
  // for their extended attributes.
  TListage(TOuvriers& ouvriers, platform::TSystemeFichiers& fs, const platform::TRepertoire& rep,
           const platform::SeuilAttributs* seuil = nullptr);
  // Cancels what has not started, waits for what runs, gives back what it reserved.
  ~TListage();
  TListage(const TListage&) = delete;
  TListage& operator=(const TListage&) = delete;

  // Waits for the listing (running it here when no worker has taken it yet). From then
  // on it is no longer ahead of the walk: it is never dropped.
  Resultat& Attendre();

 private:
  void Lister();
  bool Reserver();
  void Decrire(size_t debut, size_t fin);

  TOuvriers& ouvriers_;
  platform::TSystemeFichiers& fs_;
  const int parent_ = -1;
  const std::string nom_;
  TBudgetAvance* const budget_ = nullptr;
  const platform::SeuilAttributs* const seuil_ = nullptr;
  size_t reserve_ = 0;  // entries reserved in budget_
  std::atomic<bool> attendu_{false};
  Resultat res_;
  std::vector<int32_t> erreurs_;  // per entry: 0, ENOENT (gone: skipped) or the failure
  std::vector<uint32_t> ordre_;   // the entries by inode number, the order they are described in
  std::vector<PTache> tranches_;
  PTache tache_;
};

// Takes the entries of the listing `l` made ahead (emptied) when it is of the very directory
// `rep` is open on: true, with `err` its listing's failure. False when there is none, or it
// is of another directory (one swapped since): the directory is to be listed now.
bool PrendreListage(std::unique_ptr<TListage>& l, const platform::TRepertoire& rep,
                    TListeEntrees& entrees, int& err);

}  // namespace jumelix
