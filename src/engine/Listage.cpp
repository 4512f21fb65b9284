#include "engine/Listage.h"

#include <algorithm>
#include <cerrno>
#include <numeric>
#include <utility>

namespace jumelix {

namespace {
// Entries described by one task: enough to pay for the hand-over, few enough that a large
// directory keeps every worker busy.
constexpr size_t kTailleTranche = 64;
// Entries that listings made ahead may hold at once: about 4 MiB of names and
// descriptions, several directories of a few thousand entries, one of 25 000 on each side.
constexpr size_t kEntreesAvance = size_t{64} << 10;
// Reserved at a time while names are read.
constexpr size_t kTrancheBudget = 1024;
// An entry whose slice has not described it (yet, or at all when the slice threw).
constexpr int32_t kNonDecrite = -1;

std::atomic<size_t> budgetDefini{0};
std::atomic<size_t> pic{0};
}  // namespace

bool TBudgetAvance::Reserver(size_t n) {
  size_t t = tenues_.load(std::memory_order_relaxed);
  do {
    if (n > max_ || t > max_ - n) return false;
  } while (!tenues_.compare_exchange_weak(t, t + n, std::memory_order_relaxed));
  size_t p = pic.load(std::memory_order_relaxed);
  while (t + n > p && !pic.compare_exchange_weak(p, t + n, std::memory_order_relaxed)) {
  }
  return true;
}

size_t TBudgetAvance::Tranche() const {
  return std::max<size_t>(1, std::min(kTrancheBudget, max_ / 16));
}

size_t BudgetAvance() {
  const size_t n = budgetDefini.load(std::memory_order_relaxed);
  return n != 0 ? n : kEntreesAvance;
}

void DefinirBudgetAvance(size_t entrees) {
  budgetDefini.store(entrees, std::memory_order_relaxed);
  pic.store(0, std::memory_order_relaxed);
}

size_t PicAvance() { return pic.load(std::memory_order_relaxed); }

TListage::TListage(TOuvriers& ouvriers, platform::TSystemeFichiers& fs,
                   const platform::TRepertoire& parent, std::string nom, TBudgetAvance* budget,
                   const platform::SeuilAttributs* seuil)
    : ouvriers_(ouvriers),
      fs_(fs),
      parent_(parent.fd()),
      nom_(std::move(nom)),
      budget_(budget),
      seuil_(seuil) {
  tache_ = ouvriers_.Soumettre([this] { Lister(); });
}

TListage::TListage(TOuvriers& ouvriers, platform::TSystemeFichiers& fs,
                   const platform::TRepertoire& rep, const platform::SeuilAttributs* seuil)
    : ouvriers_(ouvriers), fs_(fs), seuil_(seuil) {
  res_.errOuverture = fs_.Dupliquer(res_.rep, rep);
  tache_ = TOuvriers::Creer([this] { Lister(); });
}

TListage::~TListage() {
  ouvriers_.Annuler(tache_);
  // Once the listing task is done or cancelled, the slices no longer change.
  for (const PTache& t : tranches_) ouvriers_.Annuler(t);
  if (budget_ != nullptr) budget_->Rendre(reserve_);
}

// Room in the budget for the next names; always granted once the walk waits for them.
bool TListage::Reserver() {
  if (budget_ == nullptr || attendu_.load(std::memory_order_acquire)) return true;
  const size_t n = budget_->Tranche();
  if (!budget_->Reserver(n)) return false;
  reserve_ += n;
  return true;
}

void TListage::Lister() {
  // A spent budget: not even opened.
  if (!Reserver()) {
    res_.errOuverture = ECANCELED;
    return;
  }
  if (parent_ >= 0) {
    res_.errOuverture = fs_.OuvrirSous(res_.rep, parent_, nom_);
  }
  if (res_.errOuverture != 0) return;
  std::vector<uint64_t> inodes;
  TListeEntrees& entrees = res_.entrees;
  bool abandon = false, plein = false;
  res_.errListe = fs_.LireNoms(res_.rep, [&](std::string_view nom, uint64_t inode) {
    if (budget_ != nullptr && entrees.size() >= reserve_ && !Reserver()) {
      abandon = true;
      return false;
    }
    if (!entrees.AjouterNom(nom)) {
      plein = true;
      return false;
    }
    inodes.push_back(inode);
    return true;
  });
  if (abandon) {
    // What was read goes at once: the walk lists this directory itself.
    res_ = Resultat{};
    res_.errOuverture = ECANCELED;
    budget_->Rendre(reserve_);
    reserve_ = 0;
    return;
  }
  if (plein) res_.errListe = ENOMEM;
  if (budget_ != nullptr && reserve_ > entrees.size()) {
    budget_->Rendre(reserve_ - entrees.size());
    reserve_ = entrees.size();
  }
  const size_t n = entrees.size();
  ordre_.resize(n);
  std::iota(ordre_.begin(), ordre_.end(), uint32_t{0});
  std::sort(ordre_.begin(), ordre_.end(),
            [&](uint32_t a, uint32_t b) { return inodes[a] < inodes[b]; });
  inodes = {};
  entrees.Dimensionner();
  erreurs_.assign(n, kNonDecrite);
  if (n <= kTailleTranche) {
    Decrire(0, n);  // one slice: no hand-over
    return;
  }
  // Every slice queued is kept, so that it is waited for or cancelled before this object goes.
  tranches_.reserve((n + kTailleTranche - 1) / kTailleTranche);
  for (size_t debut = 0; debut < n; debut += kTailleTranche) {
    const size_t fin = std::min(n, debut + kTailleTranche);
    tranches_.push_back(ouvriers_.Soumettre([this, debut, fin] { Decrire(debut, fin); }));
  }
}

void TListage::Decrire(size_t debut, size_t fin) {
  TListeEntrees& entrees = res_.entrees;
  for (size_t k = debut; k < fin; ++k) {
    const size_t i = ordre_[k];
    erreurs_[i] = fs_.DecrireEntree(res_.rep, entrees.Nom(i), entrees.Description(i), seuil_);
  }
}

TListage::Resultat& TListage::Attendre() {
  if (attendu_.exchange(true, std::memory_order_acq_rel)) return res_;
  const int errTache = ouvriers_.Attendre(tache_);
  // Waited for even when the listing threw: they write into this object. The entries a
  // slice did not describe because it threw fail with what it threw.
  for (size_t k = 0; k < tranches_.size(); ++k) {
    const int err = ouvriers_.Attendre(tranches_[k]);
    if (err == 0) continue;
    const size_t fin = std::min(erreurs_.size(), (k + 1) * kTailleTranche);
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
    res_.entrees.Garder([](size_t) { return false; });
    erreurs_.clear();
  }
  // In file-system order: an entry gone since it was read is skipped; the first one that
  // cannot be described ends the listing there.
  size_t fin = erreurs_.size();
  for (size_t i = 0; i < erreurs_.size(); ++i) {
    if (erreurs_[i] != 0 && erreurs_[i] != ENOENT) {
      if (res_.errListe == 0) res_.errListe = erreurs_[i];
      fin = i;
      break;
    }
  }
  if (std::any_of(erreurs_.begin(), erreurs_.end(), [](int32_t e) { return e != 0; })) {
    res_.entrees.Garder([&](size_t i) { return i < fin && erreurs_[i] == 0; });
  }
  erreurs_ = {};
  ordre_ = {};
  return res_;
}

bool PrendreListage(std::unique_ptr<TListage>& l, const platform::TRepertoire& rep,
                    TListeEntrees& entrees, int& err) {
  if (!l) return false;
  TListage::Resultat& r = l->Attendre();
  const auto id = rep.Identite();
  const bool meme = r.errOuverture == 0 && id.second != 0 && r.rep.Identite() == id;
  err = r.errListe;
  if (meme) entrees = std::move(r.entrees);
  l.reset();
  return meme;
}

}  // namespace jumelix
