#include "engine/Listage.h"

#include <algorithm>
#include <cerrno>
#include <utility>

namespace jumelix {

namespace {
// Entries described by one task: enough to pay for the hand-over, few enough that a large
// directory keeps every worker busy.
constexpr size_t kTailleTranche = 64;
// An entry whose slice has not described it (yet, or at all when the slice threw).
constexpr int kNonDecrite = -1;
}  // namespace

TListage::TListage(TOuvriers& ouvriers, platform::TSystemeFichiers& fs,
                   const platform::TRepertoire& parent, std::string nom)
    : ouvriers_(ouvriers), fs_(fs), parent_(parent.fd()), nom_(std::move(nom)) {
  tache_ = ouvriers_.Soumettre([this] { Lister(); });
}

TListage::TListage(TOuvriers& ouvriers, platform::TSystemeFichiers& fs,
                   const platform::TRepertoire& rep)
    : ouvriers_(ouvriers), fs_(fs) {
  res_.errOuverture = fs_.Dupliquer(res_.rep, rep);
  tache_ = TOuvriers::Creer([this] { Lister(); });
}

TListage::~TListage() {
  ouvriers_.Annuler(tache_);
  // Once the listing task is done or cancelled, the slices no longer change.
  for (const PTache& t : tranches_) ouvriers_.Annuler(t);
}

void TListage::Lister() {
  if (parent_ >= 0) {
    res_.errOuverture = fs_.OuvrirSous(res_.rep, parent_, nom_);
  }
  if (res_.errOuverture != 0) return;
  std::vector<uint64_t> inodes;
  res_.errListe = fs_.LireNoms(res_.rep, noms_, inodes);
  res_.entrees.resize(noms_.size());
  erreurs_.assign(noms_.size(), kNonDecrite);
  ordre_.resize(noms_.size());
  for (size_t i = 0; i < ordre_.size(); ++i) ordre_[i] = i;
  std::sort(ordre_.begin(), ordre_.end(),
            [&](size_t a, size_t b) { return inodes[a] < inodes[b]; });
  if (noms_.size() <= kTailleTranche) {
    Decrire(0, noms_.size());  // one slice: no hand-over
    return;
  }
  // Every slice queued is kept, so that it is waited for or cancelled before this object goes.
  tranches_.reserve((noms_.size() + kTailleTranche - 1) / kTailleTranche);
  for (size_t debut = 0; debut < noms_.size(); debut += kTailleTranche) {
    const size_t fin = std::min(noms_.size(), debut + kTailleTranche);
    tranches_.push_back(ouvriers_.Soumettre([this, debut, fin] { Decrire(debut, fin); }));
  }
}

void TListage::Decrire(size_t debut, size_t fin) {
  for (size_t k = debut; k < fin; ++k) {
    const size_t i = ordre_[k];
    erreurs_[i] = fs_.DecrireEntree(res_.rep, noms_[i], res_.entrees[i]);
  }
}

TListage::Resultat& TListage::Attendre() {
  if (attendu_) return res_;
  attendu_ = true;
  const int errTache = ouvriers_.Attendre(tache_);
  // Waited for even when the listing threw: they write into this object. The entries a
  // slice did not describe because it threw fail with what it threw.
  for (size_t k = 0; k < tranches_.size(); ++k) {
    const int err = ouvriers_.Attendre(tranches_[k]);
    if (err == 0) continue;
    const size_t fin = std::min(noms_.size(), (k + 1) * kTailleTranche);
    for (size_t j = k * kTailleTranche; j < fin; ++j) {
      if (erreurs_[ordre_[j]] == kNonDecrite) erreurs_[ordre_[j]] = err;
    }
  }
  if (errTache != 0) {
    // A listing that threw part way: nothing it read is certain.
    if (res_.rep.Ouvert()) {
      res_.errListe = errTache;
    } else {
      res_.errOuverture = errTache;
    }
    erreurs_.clear();
  }
  // In file-system order: an entry gone since it was read is skipped; the first one that
  // cannot be described ends the listing there.
  size_t garde = 0;
  for (size_t i = 0; i < erreurs_.size(); ++i) {
    if (erreurs_[i] == ENOENT) continue;
    if (erreurs_[i] != 0) {
      if (res_.errListe == 0) res_.errListe = erreurs_[i];
      break;
    }
    if (garde != i) res_.entrees[garde] = std::move(res_.entrees[i]);
    ++garde;
  }
  res_.entrees.resize(garde);
  noms_ = {};
  erreurs_ = {};
  ordre_ = {};
  return res_;
}

}  // namespace jumelix
