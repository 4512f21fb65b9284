#include "engine/Anticipation.h"

#include <algorithm>

namespace jumelix {

namespace {
// Subdirectories listed ahead per level (the walk sets the bound for the whole walk).
constexpr size_t kFenetreNiveau = 8;
// Bytes of copies written ahead within a level (the data read ahead must not push out of
// the cache what the walk still needs); the walk bounds their number.
constexpr int64_t kOctetsCopies = int64_t{64} << 20;
}  // namespace

TAvance::~TAvance() {
  // The latest started first: they are the least likely to run already.
  for (auto it = enfants_.rbegin(); it != enfants_.rend(); ++it) Liberer(*it);
}

void TAvance::Ajouter(size_t indice, const std::string& source, const std::string& cible) {
  enfants_.push_back({indice, source, cible, nullptr, nullptr, false});
}

void TAvance::Lancer() {
  if (ouvriers_.Nombre() == 0) return;
  size_t fin = prochain_;
  while (fin < enfants_.size() && fin < pris_ + kFenetreNiveau && enCours_ < max_) {
    ++fin;
    ++enCours_;
  }
  // Queued last, taken first: the next directory of the walk is queued last.
  for (size_t j = fin; j-- > prochain_;) {
    Enfant& e = enfants_[j];
    e.lance = true;
    if (!e.cible.empty()) {
      e.lc = std::make_unique<TListage>(ouvriers_, fs_, dst_, e.cible, &budget_);
    }
    e.ls = std::make_unique<TListage>(ouvriers_, fs_, src_, e.source, &budget_);
  }
  prochain_ = std::max(prochain_, fin);
}

std::pair<std::unique_ptr<TListage>, std::unique_ptr<TListage>> TAvance::Prendre(size_t indice) {
  std::pair<std::unique_ptr<TListage>, std::unique_ptr<TListage>> r;
  while (pris_ < enfants_.size() && enfants_[pris_].indice <= indice) {
    Enfant& e = enfants_[pris_++];
    if (e.indice == indice) {
      r = {std::move(e.ls), std::move(e.lc)};
      if (e.lance) --enCours_;
      e.lance = false;
    } else {
      Liberer(e);
    }
  }
  prochain_ = std::max(prochain_, pris_);
  Lancer();
  return r;
}

void TAvance::Liberer(Enfant& e) {
  e.lc.reset();
  e.ls.reset();
  if (e.lance) --enCours_;
  e.lance = false;
}

void TCopiesAvance::Lancer() {
  if (arrete_ || ouvriers_.Nombre() == 0) return;
  const size_t debut = prochain_;
  while (prochain_ < candidats_.size() && prochain_ < pris_ + fenetre_ &&
         (prochain_ == pris_ || octets_ + Taille(prochain_) <= kOctetsCopies)) {
    auto c = std::make_unique<Copie>();
    c->indice = candidats_[prochain_];
    c->nom = entrees_.Nom(c->indice);
    c->taille = Taille(prochain_);
    octets_ += c->taille;
    enCours_.push_back(std::move(c));
    ++prochain_;
  }
  // Queued last, taken first: the next copy of the walk is queued last.
  for (size_t j = enCours_.size(); j-- > enCours_.size() - (prochain_ - debut);) {
    Copie* c = enCours_[j].get();
    c->tache = ouvriers_.Soumettre(
        [this, c] { c->err = fs_.EcrireCopie(src_, c->nom, dst_, options_, c->attente); });
  }
}

bool TCopiesAvance::Prendre(size_t indice, int& err, std::string& temporaire) {
  bool pris = false;
  while (pris_ < candidats_.size() && candidats_[pris_] <= indice) {
    if (pris_++ >= prochain_) continue;  // never started
    std::unique_ptr<Copie> c = std::move(enCours_.front());
    enCours_.pop_front();
    ouvriers_.Attendre(c->tache);
    octets_ -= c->taille;
    if (c->indice == indice) {
      err = c->err;
      temporaire = c->attente.Temporaire;
      pris = true;
    } else if (c->err == 0) {
      fs_.Abandonner(dst_, c->attente);  // not wanted after all
    }
  }
  prochain_ = std::max(prochain_, pris_);
  Lancer();
  return pris;
}

bool TCopiesAvance::Arreter() {
  arrete_ = true;
  const bool arrete = !enCours_.empty();
  // The latest started first: they are the least likely to run already.
  for (auto it = enCours_.rbegin(); it != enCours_.rend(); ++it) {
    Copie& c = **it;
    ouvriers_.Annuler(c.tache);
    // A copy cancelled before it started has no temporary name.
    if (c.err == 0 && !c.attente.Temporaire.empty()) fs_.Abandonner(dst_, c.attente);
  }
  enCours_.clear();
  prochain_ = pris_;
  octets_ = 0;
  return arrete;
}

}  // namespace jumelix
