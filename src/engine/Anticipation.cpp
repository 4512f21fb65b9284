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

void TSousRepertoires::push_back(const Element& e) {
  Ref r{static_cast<uint32_t>(e.indice) | (e.cree ? kCree : 0), static_cast<uint32_t>(noms_.size()),
        kVide};
  noms_.Ajouter(e.source);
  if (e.destination == e.source) {
    r.destination = kMeme;
  } else if (!e.destination.empty()) {
    r.destination = static_cast<uint32_t>(noms_.size());
    noms_.Ajouter(e.destination);
  }
  refs_.push_back(r);
}

TSousRepertoires::Element TSousRepertoires::operator[](size_t k) const {
  const Ref& r = refs_[k];
  Element e{r.indice & ~kCree, std::string(noms_[r.source]), {}, (r.indice & kCree) != 0};
  if (r.destination == kMeme) {
    e.destination = e.source;
  } else if (r.destination != kVide) {
    e.destination = noms_[r.destination];
  }
  return e;
}

TAvance::~TAvance() {
  // The latest started first: they are the least likely to run already.
  for (auto it = lances_.rbegin(); it != lances_.rend(); ++it) Liberer(*it);
}

void TAvance::Lancer() {
  if (ouvriers_.Nombre() == 0) return;
  const size_t debut = prochain_;
  while (prochain_ < enfants_.size() && prochain_ < pris_ + kFenetreNiveau && enCours_ < max_) {
    lances_.emplace_back();
    ++prochain_;
    ++enCours_;
  }
  // Queued last, taken first: the next directory of the walk is queued last.
  for (size_t j = prochain_; j-- > debut;) {
    Listages& l = lances_[j - pris_];
    const TSousRepertoires::Element e = enfants_[j];
    if (!e.destination.empty()) {
      l.lc = std::make_unique<TListage>(ouvriers_, fs_, dst_, e.destination, &budget_, seuil_);
    }
    l.ls = std::make_unique<TListage>(ouvriers_, fs_, src_, e.source, &budget_);
  }
}

std::pair<std::unique_ptr<TListage>, std::unique_ptr<TListage>> TAvance::Prendre(size_t indice) {
  std::pair<std::unique_ptr<TListage>, std::unique_ptr<TListage>> r;
  for (; pris_ < enfants_.size() && enfants_.Indice(pris_) <= indice; ++pris_) {
    if (pris_ >= prochain_) continue;  // never started
    Listages l = std::move(lances_.front());
    lances_.pop_front();
    if (enfants_.Indice(pris_) == indice) {
      r = {std::move(l.ls), std::move(l.lc)};
      --enCours_;
    } else {
      Liberer(l);
    }
  }
  prochain_ = std::max(prochain_, pris_);
  Lancer();
  return r;
}

void TAvance::Liberer(Listages& l) {
  l.lc.reset();
  l.ls.reset();
  --enCours_;
}

void TCopiesAvance::Lancer() {
  if (arrete_ || ouvriers_.Nombre() == 0) return;
  if (!dossiers_ && prochain_ < candidats_.size()) {
    // The copies work on descriptors of their own: one taken without waiting may still
    // run once the walk has left (and closed) the level's directories.
    auto d = std::make_shared<Copie::Dossiers>();
    if (fs_.Dupliquer(d->src, src_) != 0 || fs_.Dupliquer(d->dst, dst_) != 0) return;
    d->options = options_;
    dossiers_ = std::move(d);
  }
  const size_t debut = prochain_;
  while (prochain_ < candidats_.size() && prochain_ < pris_ + fenetre_ &&
         (prochain_ == pris_ || octets_ + Taille(prochain_) <= kOctetsCopies)) {
    auto c = std::make_unique<Copie>();
    c->dossiers = dossiers_;
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
    c->tache = ouvriers_.Soumettre([&fs = fs_, c] {
      c->err = fs.EcrireCopie(c->dossiers->src, c->nom, c->dossiers->dst, c->dossiers->options,
                              c->attente);
    });
  }
}

std::unique_ptr<TCopiesAvance::Copie> TCopiesAvance::Suivante(size_t indice) {
  std::unique_ptr<Copie> r;
  while (pris_ < candidats_.size() && candidats_[pris_] <= indice) {
    if (pris_++ >= prochain_) continue;  // never started
    std::unique_ptr<Copie> c = std::move(enCours_.front());
    enCours_.pop_front();
    octets_ -= c->taille;
    if (c->indice == indice) {
      r = std::move(c);
      continue;
    }
    // Not wanted after all. A copy that threw named no temporary entry.
    if (ouvriers_.Attendre(c->tache) == 0 && c->err == 0) fs_.Abandonner(dst_, c->attente);
  }
  prochain_ = std::max(prochain_, pris_);
  return r;
}

bool TCopiesAvance::Prendre(size_t indice, int& err, platform::CopieEnAttente& copie) {
  std::unique_ptr<Copie> c = Suivante(indice);
  if (c) {
    // A copy that threw fails with what it threw; it named no temporary entry.
    const int e = ouvriers_.Attendre(c->tache);
    err = e != 0 ? e : c->err;
    copie.Temporaire = c->attente.Temporaire;
    copie.AttributsNonGardes = c->attente.AttributsNonGardes;
  }
  Lancer();
  return c != nullptr;
}

std::unique_ptr<TCopieDetachee> TCopiesAvance::Detacher(size_t indice) {
  std::unique_ptr<Copie> c = Suivante(indice);
  Lancer();
  return c;
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
