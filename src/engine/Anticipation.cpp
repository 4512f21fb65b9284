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
    if (!e.cible.empty()) e.lc = std::make_unique<TListage>(ouvriers_, fs_, dst_, e.cible);
    e.ls = std::make_unique<TListage>(ouvriers_, fs_, src_, e.source);
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

void TCopiesAvance::Ajouter(size_t indice, const std::string& nom, int64_t taille) {
  auto c = std::make_unique<Copie>();
  c->indice = indice;
  c->nom = nom;
  c->taille = taille;
  copies_.push_back(std::move(c));
}

void TCopiesAvance::Lancer() {
  if (arrete_ || ouvriers_.Nombre() == 0) return;
  size_t fin = prochain_;
  while (fin < copies_.size() && fin < pris_ + fenetre_ &&
         (fin == pris_ || octets_ + copies_[fin]->taille <= kOctetsCopies)) {
    octets_ += copies_[fin]->taille;
    ++fin;
  }
  for (size_t j = fin; j-- > prochain_;) {
    Copie* c = copies_[j].get();
    c->tache = ouvriers_.Soumettre(
        [this, c] { c->err = fs_.EcrireCopie(src_, c->nom, dst_, options_, c->attente); });
  }
  prochain_ = std::max(prochain_, fin);
}

bool TCopiesAvance::Prendre(size_t indice, int& err, std::string& temporaire) {
  bool pris = false;
  while (pris_ < copies_.size() && copies_[pris_]->indice <= indice) {
    Copie& c = *copies_[pris_++];
    if (!c.tache) continue;
    // A copy that threw fails with what it threw; it named no temporary entry.
    if (const int e = ouvriers_.Attendre(c.tache); e != 0) c.err = e;
    octets_ -= c.taille;
    if (c.indice == indice) {
      err = c.err;
      temporaire = c.attente.Temporaire;
      pris = true;
    } else if (c.err == 0) {
      fs_.Abandonner(dst_, c.attente);  // not wanted after all
    }
    c.tache = nullptr;
  }
  prochain_ = std::max(prochain_, pris_);
  Lancer();
  return pris;
}

bool TCopiesAvance::Arreter() {
  arrete_ = true;
  bool arrete = false;
  for (size_t j = prochain_; j-- > pris_;) {
    Copie& c = *copies_[j];
    if (!c.tache) continue;
    ouvriers_.Annuler(c.tache);
    // A copy cancelled before it started has no temporary name.
    if (c.err == 0 && !c.attente.Temporaire.empty()) fs_.Abandonner(dst_, c.attente);
    c.tache = nullptr;
    arrete = true;
  }
  prochain_ = pris_;
  octets_ = 0;
  return arrete;
}

}  // namespace jumelix
