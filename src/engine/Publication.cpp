#include "engine/Publication.h"

#include <algorithm>
#include <cerrno>

#include "engine/Echecs.h"

namespace jumelix {

namespace {
// A batch ends at this many copies or bytes, at the walk's number of directories (each
// holds a descriptor), at this many bytes of the paths it keeps for its report lines (in a
// very deep tree each is long: a batch must not grow with the square of the depth), when
// the disk is full, or with the pair.
constexpr size_t kLotCopies = 4096;
constexpr int64_t kLotOctets = int64_t{512} << 20;
constexpr size_t kLotOctetsChemins = size_t{16} << 20;
// Below this many copies that replace nothing, a batch renames them itself.
constexpr size_t kNeuvesEnParallele = 16;
constexpr int kNonPubliee = -2;  // not published by PublierNeuves

bool Plein(int err) { return err == ENOSPC || err == EDQUOT; }
}  // namespace

TPublication::~TPublication() {
  if (lot_ && lot_->flush) ouvriers_.Annuler(lot_->flush);
  if (lot_) Oublier(*lot_);
  Lot reste;
  reste.attente.swap(attente_);
  Oublier(reste);
}

void TPublication::Oublier(Lot& lot) {
  for (const Attente& a : lot.attente) fs_.Abandonner(a.dir->rep, a.copie);
}

TPublication::Partage TPublication::Partager(const platform::TRepertoire& dir) {
  auto p = std::make_shared<RepertoireEnAttente>();
  int err = fs_.Dupliquer(p->rep, dir);
  if ((err == EMFILE || err == ENFILE) && !Vide()) {
    // The waiting batches hold descriptors: they give them back.
    Tout();
    err = fs_.Dupliquer(p->rep, dir);
  }
  if (err != 0) {
    errno = err;
    return nullptr;
  }
  p->peripherique = p->rep.Peripherique();
  ++repertoires_;
  return p;
}

bool TPublication::Plein() const {
  return attente_.size() >= kLotCopies || octets_ >= kLotOctets ||
         repertoires_ >= limiteRepertoires_ || octetsChemins_ >= kLotOctetsChemins;
}

void TPublication::Ajouter(const platform::TRepertoire& dir, platform::CopieEnAttente copie,
                           std::string source, std::string destination, int64_t taille,
                           bool remplace) {
  AjouterAilleurs(partage_, dir, std::move(copie), std::move(source), std::move(destination),
                  taille, remplace);
}

void TPublication::AjouterAilleurs(Partage& partage, const platform::TRepertoire& dir,
                                   platform::CopieEnAttente copie, std::string source,
                                   std::string destination, int64_t taille, bool remplace) {
  if (!partage) partage = Partager(dir);
  if (!partage) {
    const int err = errno;
    fs_.Abandonner(dir, copie);
    suite_.Signaler({TEchec::Quoi::Copier, err, source, destination});
    return;
  }
  octetsChemins_ += source.size() + destination.size();
  octets_ += taille;
  attente_.push_back(
      {partage, std::move(copie), std::move(source), std::move(destination), taille, remplace});
  if (Plein()) FermerLot();
}

bool TPublication::Differer(const platform::TRepertoire& dir, platform::EntreeRepertoire source,
                            std::string chemin, bool garder) {
  Partage p = Partager(dir);
  if (!p) return false;
  octetsChemins_ += chemin.size();
  finitions_.push_back({std::move(p), std::move(source), std::move(chemin), garder});
  if (Plein()) FermerLot();
  return true;
}

// A full batch goes to disk in the background while the next one fills: a worker flushes
// it, and it is published when the next one is full, or with the pair. The point where a
// batch is published does not depend on the workers.
void TPublication::FermerLot() {
  PublierLot();
  lot_ = std::make_unique<Lot>();
  lot_->attente.swap(attente_);
  lot_->finitions.swap(finitions_);
  octets_ = 0;
  repertoires_ = 0;
  octetsChemins_ = 0;
  Lot* l = lot_.get();
  if (!synchroParFichier_) l->flush = ouvriers_.Soumettre([this, l] { Ecrire(*l); });
}

// One flush per file system.
void TPublication::Ecrire(Lot& l) {
  for (const Attente& a : l.attente) {
    bool fait = false;
    for (const auto& [p, e] : l.synchros) fait = fait || p == a.dir->peripherique;
    if (!fait) l.synchros.emplace_back(a.dir->peripherique, fs_.Synchroniser(a.dir->rep));
  }
}

void TPublication::PublierLot() {
  if (!lot_) return;
  if (lot_->flush) {
    // A flush that could not run leaves every copy of the batch unpublished.
    if (const int err = ouvriers_.Attendre(lot_->flush)) {
      lot_->synchros.clear();
      for (const Attente& a : lot_->attente) lot_->synchros.emplace_back(a.dir->peripherique, err);
    }
  }
  std::unique_ptr<Lot> l = std::move(lot_);
  Publier(*l);
}

void TPublication::Tout() {
  PublierLot();
  Lot l;
  l.attente.swap(attente_);
  l.finitions.swap(finitions_);
  octets_ = 0;
  repertoires_ = 0;
  octetsChemins_ = 0;
  if (!synchroParFichier_) Ecrire(l);
  Publier(l);
}

int TPublication::ErreurFlush(const Lot& lot, const Attente& a) {
  int err = 0;
  for (const auto& [p, e] : lot.synchros) {
    if (p == a.dir->peripherique) err = e;
  }
  return err;
}

// The copies of a batch that replace nothing take their names on the workers, a slice each:
// across a network every rename costs round trips, which several requests in flight hide.
// What each gave is applied afterwards in the batch's order. kNonPubliee where nothing was
// done (a worker's slice that could not run is done by the walk).
std::vector<int> TPublication::PublierNeuves(const Lot& lot) {
  std::vector<int> r(lot.attente.size(), kNonPubliee);
  std::vector<size_t> neuves;
  for (size_t i = 0; i < lot.attente.size(); ++i) {
    const Attente& a = lot.attente[i];
    if ((!a.remplace || !archive_.Actif()) && ErreurFlush(lot, a) == 0) neuves.push_back(i);
  }
  const size_t n = static_cast<size_t>(ouvriers_.Nombre());
  if (n == 0 || neuves.size() < kNeuvesEnParallele) return r;
  const size_t part = (neuves.size() + n - 1) / n;
  std::vector<PTache> taches;
  for (size_t debut = 0; debut < neuves.size(); debut += part) {
    const size_t fin = std::min(debut + part, neuves.size());
    taches.push_back(ouvriers_.Soumettre([&, debut, fin] {
      for (size_t k = debut; k < fin; ++k) {
        const Attente& a = lot.attente[neuves[k]];
        r[neuves[k]] = archive_.PublierNeuve(a.dir->rep, a.copie);
      }
    }));
  }
  for (const PTache& t : taches) ouvriers_.Attendre(t);
  return r;
}

// Gives each copy of a batch written to disk its final name, then each finished directory
// its attributes.
void TPublication::Publier(Lot& lot) {
  const std::vector<int> neuves = PublierNeuves(lot);
  for (size_t i = 0; i < lot.attente.size(); ++i) {
    const Attente& a = lot.attente[i];
    const int err = ErreurFlush(lot, a);
    int r = neuves[i];
    if (r != kNonPubliee && r != TArchive::kAArchiver) {
      archive_.SansArchive();
    } else {
      r = err != 0 ? err : archive_.Publier(a.dir->rep, a.copie, a.destination);
    }
    // The archive yields to the mirror.
    while (err == 0 && jumelix::Plein(r) && suite_.LibererPlace(a.destination)) {
      r = archive_.Publier(a.dir->rep, a.copie, a.destination);
    }
    if (r == 0) {
      suite_.CopiePubliee(a.destination, a.octets, a.remplace);
    } else {
      // The archive keeps a copy it could not make room for: dropped here.
      if (err != 0 || jumelix::Plein(r)) fs_.Abandonner(a.dir->rep, a.copie);
      suite_.Signaler({TEchec::Quoi::Copier, r, a.source, a.destination});
    }
  }
  lot.attente.clear();
  for (const Finition& f : lot.finitions) {
    suite_.AppliquerFinition(f.dir->rep, f.source, f.chemin, f.garder);
  }
}

}  // namespace jumelix
