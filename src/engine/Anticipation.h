// What the workers do ahead of the walk within one level: list the subdirectories it will
// enter, and write the copies it will make. The walk takes each result at the point where
// a one-thread walk would have made it, so its report lines and counters keep their order;
// whatever it does not take is cancelled or undone when the level ends. Nothing is done
// ahead once the pool has no worker (none could start): what was queued before is done by
// the walk when it takes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/Listage.h"
#include "engine/ListeEntrees.h"
#include "engine/Ouvriers.h"
#include "platform/FileSystem.h"
#include "platform/SystemeFichiers.h"

namespace jumelix {

// Subdirectories of one level in walk order: the source entry's number, its name and its
// destination name, packed (about 35 bytes each: a level may hold 200 000 of them for as
// long as the walk is below it). A destination name equal to the source name is not
// stored again.
class TSousRepertoires {
 public:
  struct Element {
    size_t indice;  // of the source entry in its level
    std::string source;
    std::string destination;  // may be empty
    // The destination directory was made by this walk: nothing is in it to list.
    bool cree = false;
  };
  void push_back(const Element& e);
  size_t size() const { return refs_.size(); }
  size_t Indice(size_t k) const { return refs_[k].indice & ~kCree; }
  Element operator[](size_t k) const;

 private:
  static constexpr uint32_t kVide = UINT32_MAX, kMeme = UINT32_MAX - 1;
  static constexpr uint32_t kCree = uint32_t{1} << 31;  // in `indice`
  struct Ref {
    uint32_t indice;
    uint32_t source;       // in noms_
    uint32_t destination;  // in noms_, or kVide, or kMeme
  };
  TNoms noms_;
  std::vector<Ref> refs_;
};

// The subdirectories of one level, listed a few at a time in the order the walk enters
// them. The walk opens each one again itself when it gets there and uses the listing only
// when it is of the very directory it opened.
class TAvance {
 public:
  // `enCours`: the walk's count of subdirectories listed ahead and not yet entered, which
  // stays below `max` (each holds descriptors and its listing until the walk gets there);
  // `budget`: the walk's bound of the entries those listings hold.
  TAvance(TOuvriers& ouvriers, platform::TSystemeFichiers& fs, const platform::TRepertoire& src,
          const platform::TRepertoire& dst, size_t& enCours, size_t max, TBudgetAvance& budget,
          const platform::SeuilAttributs* seuilCible = nullptr)
      : ouvriers_(ouvriers),
        fs_(fs),
        src_(src),
        dst_(dst),
        enCours_(enCours),
        max_(max),
        budget_(budget),
        seuil_(seuilCible) {}
  ~TAvance();
  TAvance(const TAvance&) = delete;
  TAvance& operator=(const TAvance&) = delete;

  // The entry `indice` of the level is a directory the walk may enter; `cible`: its
  // destination name when it exists already (empty otherwise). In increasing order.
  void Ajouter(size_t indice, const std::string& source, const std::string& cible) {
    enfants_.push_back({indice, source, cible});
  }
  // Starts the listings that the window and the walk's budget allow.
  void Lancer();
  // The listings made for the entry `indice` (null when none); those of the entries
  // before it are dropped (the walk does not enter them).
  std::pair<std::unique_ptr<TListage>, std::unique_ptr<TListage>> Prendre(size_t indice);

 private:
  struct Listages {
    std::unique_ptr<TListage> ls, lc;
  };
  void Liberer(Listages& l);

  TOuvriers& ouvriers_;
  platform::TSystemeFichiers& fs_;
  const platform::TRepertoire& src_;
  const platform::TRepertoire& dst_;
  size_t& enCours_;
  const size_t max_;
  TBudgetAvance& budget_;
  const platform::SeuilAttributs* const seuil_;  // for the destination's listings
  TSousRepertoires enfants_;
  std::deque<Listages> lances_;  // the children started and not taken
  size_t prochain_ = 0;          // the first child not started
  size_t pris_ = 0;              // the first child not taken
};

// A copy written ahead that the walk took without waiting for it (TCopiesAvance::
// Detacher): it holds its own descriptors on the two directories, so that it may finish
// after its level is left. Whoever holds it waits for its task before reading the result.
struct TCopieDetachee {
  // The level's two directories (duplicated once per level), shared by its copies.
  struct Dossiers {
    platform::TRepertoire src, dst;
    platform::OptionsCopie options;
  };
  std::shared_ptr<const Dossiers> dossiers;
  size_t indice = 0;
  std::string nom;
  int64_t taille = 0;
  PTache tache;
  int err = 0;
  platform::CopieEnAttente attente;
};

// The copies of regular files of one level, written a few at a time under their temporary
// names. Only made where the destination directory is writable as it stands (a directory
// made writable for one copy must not be so for another's) and after the level's surplus
// is deleted. A candidate costs its entry number until its copy starts: its name and size
// are read then from the level's source listing, which must outlive this object.
class TCopiesAvance {
 public:
  // At most `fenetre` copies are written ahead at once (each holds two descriptors).
  TCopiesAvance(TOuvriers& ouvriers, platform::TSystemeFichiers& fs,
                const platform::TRepertoire& src, const platform::TRepertoire& dst,
                const platform::OptionsCopie& options, size_t fenetre, const TListeEntrees& entrees)
      : ouvriers_(ouvriers),
        fs_(fs),
        src_(src),
        dst_(dst),
        options_(options),
        fenetre_(fenetre),
        entrees_(entrees) {}
  // Waits for the copies that run and removes every written copy not taken.
  ~TCopiesAvance() { Arreter(); }
  TCopiesAvance(const TCopiesAvance&) = delete;
  TCopiesAvance& operator=(const TCopiesAvance&) = delete;

  // The source entry `indice` (a regular file) is to be copied; in increasing order.
  void Ajouter(size_t indice) { candidats_.push_back(static_cast<uint32_t>(indice)); }
  void Lancer();
  // True when the copy of the entry `indice` was made ahead: `err` and `copie` (its
  // temporary name and what it could not keep) are EcrireCopie's result (when it threw:
  // that as an errno value, and no temporary name).
  bool Prendre(size_t indice, int& err, platform::CopieEnAttente& copie);
  // True when the entry `indice` is one of the level's last `fenetre` candidates. Only
  // those are taken without waiting (Detacher): the walk then goes on into the next
  // directories while they finish. The others are waited for in order (Prendre), so that
  // a large directory's files are still read in the order of its listing.
  bool ParmiLesDerniers(size_t indice) const {
    return candidats_.size() <= fenetre_ || indice >= candidats_[candidats_.size() - fenetre_];
  }
  // The copy of the entry `indice` when it was started ahead, taken without waiting for
  // it (null otherwise): its place in the window goes to the next candidate.
  std::unique_ptr<TCopieDetachee> Detacher(size_t indice);
  // Stops copying ahead in this level: what was written and not taken is removed (the
  // disk is full: the walk goes on one copy at a time). True when something was stopped.
  bool Arreter();

 private:
  using Copie = TCopieDetachee;
  int64_t Taille(size_t candidat) const {
    return entrees_.Description(candidats_[candidat]).TailleOuPeripherique;
  }
  // The started copies before the entry `indice` are dropped; the one of `indice`, when
  // started, is returned as it stands.
  std::unique_ptr<Copie> Suivante(size_t indice);

  TOuvriers& ouvriers_;
  platform::TSystemeFichiers& fs_;
  const platform::TRepertoire& src_;
  const platform::TRepertoire& dst_;
  const platform::OptionsCopie options_;
  const size_t fenetre_;
  const TListeEntrees& entrees_;
  std::shared_ptr<const Copie::Dossiers> dossiers_;  // made with the first copy started
  std::vector<uint32_t> candidats_;
  std::deque<std::unique_ptr<Copie>> enCours_;  // the candidates started and not taken
  size_t prochain_ = 0;                         // the first candidate not started
  size_t pris_ = 0;                             // the first candidate not taken
  int64_t octets_ = 0;                          // bytes started and not taken
  bool arrete_ = false;
};

}  // namespace jumelix
