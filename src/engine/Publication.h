// Copies written under temporary names wait here for their final names, in batches: a batch
// is written to disk once (one syncfs per file system) before its renames, which costs far
// less than one flush per file, and a full batch is flushed by a worker while the next one
// fills. A finished directory whose copies still wait waits with them for its attributes.
// Owned by one walk and used on its thread only; a worker only flushes. What a batch gives
// (report lines, published copies, room asked of the archive) goes back to the walk through
// TSuitePublication.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/Archive.h"
#include "engine/BudgetDescripteurs.h"
#include "engine/Echecs.h"
#include "engine/Ouvriers.h"
#include "platform/FileSystem.h"
#include "platform/SystemeFichiers.h"

namespace jumelix {

// What the walk does with what a batch gives.
class TSuitePublication {
 public:
  virtual void Signaler(const TEchec& echec) = 0;
  // One copy took its final name `destination` (`octets` bytes), in place of an older
  // version when `remplace`; the archive tells where that version went.
  virtual void CopiePubliee(const std::string& destination, int64_t octets, bool remplace) = 0;
  // Room on the file system of the destination entry `chemin`, taken from the archive:
  // true when some was made.
  virtual bool LibererPlace(const std::string& chemin) = 0;
  // The finished directory `dir` (path `chemin`) takes the attributes of `source`.
  virtual void AppliquerFinition(const platform::TRepertoire& dir,
                                 const platform::EntreeRepertoire& source,
                                 const std::string& chemin, bool garder) = 0;

 protected:
  ~TSuitePublication() = default;
};

class TPublication {
 public:
  // `synchroParFichier`: each copy was flushed on its own, batches are not flushed.
  TPublication(TOuvriers& ouvriers, platform::TSystemeFichiers& fs, TArchive& archive,
               bool synchroParFichier, TSuitePublication& suite)
      : ouvriers_(ouvriers),
        fs_(fs),
        archive_(archive),
        synchroParFichier_(synchroParFichier),
        suite_(suite) {}
  ~TPublication();  // what has not been published is dropped with its temporary names
  TPublication(const TPublication&) = delete;
  TPublication& operator=(const TPublication&) = delete;

  // A batch also ends at this many directories held open (the walk's descriptor budget).
  void DefinirLimiteRepertoires(size_t n) { limiteRepertoires_ = n; }
  // A level begins: its copies will share one descriptor on its destination directory.
  void NouveauNiveau() { partage_.reset(); }
  // True when a copy into the current level's destination waits.
  bool EnAttenteIci() const { return partage_ != nullptr; }
  bool Vide() const { return attente_.empty() && !lot_; }

  // The copy `copie`, written in `dir`, waits for its batch (source and destination paths
  // for its report line, `taille` bytes). When no descriptor can be had for the wait, it is
  // dropped and reported.
  void Ajouter(const platform::TRepertoire& dir, platform::CopieEnAttente copie, std::string source,
               std::string destination, int64_t taille, bool remplace);
  // A destination directory held open while copies into it, or its own attributes, wait.
  struct RepertoireEnAttente {
    platform::TRepertoire rep;
    uint64_t peripherique = 0;
  };
  using Partage = std::shared_ptr<RepertoireEnAttente>;
  // As Ajouter, for a copy into a directory of a level the walk has left: its copies share
  // `partage` (made by the first of them).
  void AjouterAilleurs(Partage& partage, const platform::TRepertoire& dir,
                       platform::CopieEnAttente copie, std::string source,
                       std::string destination, int64_t taille, bool remplace);
  // The directory `dir` (path `chemin`) is finished but copies into it wait: it takes the
  // attributes of `source` after them. False, with nothing kept, when no descriptor can be
  // had for the wait.
  bool Differer(const platform::TRepertoire& dir, platform::EntreeRepertoire source,
                std::string chemin, bool garder);
  // Publishes everything waiting: the batch being flushed, then the current one.
  void Tout();

 private:
  struct Attente {
    Partage dir;
    platform::CopieEnAttente copie;
    std::string source, destination;
    int64_t octets = 0;
    bool remplace = false;
  };
  struct Finition {
    Partage dir;
    platform::EntreeRepertoire source;
    std::string chemin;
    bool garder = true;
  };
  // A closed batch: its copies and directory attributes wait for its flush.
  struct Lot {
    std::vector<Attente> attente;
    std::vector<Finition> finitions;
    std::vector<std::pair<uint64_t, int>> synchros;  // (device, error) of each flush
    PTache flush;
  };

  static int ErreurFlush(const Lot& lot, const Attente& a);
  std::vector<int> PublierNeuves(const Lot& lot);
  Partage Partager(const platform::TRepertoire& dir);
  bool Plein() const;
  void FermerLot();
  void Ecrire(Lot& l);
  void PublierLot();
  void Publier(Lot& lot);
  void Oublier(Lot& lot);

  TOuvriers& ouvriers_;
  platform::TSystemeFichiers& fs_;
  TArchive& archive_;
  const bool synchroParFichier_;
  TSuitePublication& suite_;
  size_t limiteRepertoires_ = kLotRepertoires;
  std::vector<Attente> attente_;
  std::vector<Finition> finitions_;
  std::unique_ptr<Lot> lot_;  // the batch being flushed in the background
  Partage partage_;           // the current level's destination, once a copy waits there
  int64_t octets_ = 0;
  size_t repertoires_ = 0;
  size_t octetsChemins_ = 0;
};

}  // namespace jumelix
