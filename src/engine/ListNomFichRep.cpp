#include "engine/ListNomFichRep.h"

#include <sys/stat.h>

#include <algorithm>

#include "shared/URoutines.h"

namespace jumelix {

namespace {
uint32_t HashExact(std::string_view nom) {
  return static_cast<uint32_t>(std::hash<std::string_view>{}(nom));
}

// FNV-1a over the name with ASCII letters lowered: equal for names EgauxSansCasseAscii.
uint32_t HashReplie(std::string_view nom) {
  uint32_t h = 2166136261u;
  for (unsigned char c : nom) {
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c + ('a' - 'A'));
    h = (h ^ c) * 16777619u;
  }
  return h;
}

// The smallest power of two that is at least n (and at least 16).
size_t PuissanceDeDeux(size_t n) {
  size_t p = 16;
  while (p < n) p *= 2;
  return p;
}
}  // namespace

bool MemeContenu(const platform::EntreeRepertoire& source,
                 const platform::EntreeRepertoire& destination, bool deuxSecondes) {
  using platform::GenreEntree;
  if (source.Genre != destination.Genre) return false;
  switch (source.Genre) {
    case GenreEntree::Fichier: {
      if (source.Taille != destination.Taille) return false;
      const int64_t d = source.Secondes - destination.Secondes;
      return deuxSecondes ? (d >= -2 && d <= 2) : d == 0;
    }
    case GenreEntree::Lien:
      return source.Taille == destination.Taille;
    case GenreEntree::Special:
      return (source.Mode & S_IFMT) == (destination.Mode & S_IFMT) &&
             source.Rdev == destination.Rdev;
    case GenreEntree::Repertoire:
      return true;
  }
  return false;
}

void TListNomFichRep::Reserver(size_t n) {
  membres_.reserve(n);
  // The table stays at most half full, so every probe ends on an empty slot soon.
  if (n * 2 > exacts_.size()) Agrandir(n);
}

void TListNomFichRep::Ajouter(size_t entree) {
  membres_.push_back(static_cast<uint32_t>(entree));
  ++nombre_;
  repliesFaits_ = false;
  if (membres_.size() * 2 > exacts_.size()) {
    Agrandir(membres_.size());
  } else {
    Indexer(static_cast<int32_t>(membres_.size() - 1));
  }
}

void TListNomFichRep::Indexer(int32_t indice) {
  const size_t masque = exacts_.size() - 1;
  size_t i = HashExact(Nom(static_cast<size_t>(indice))) & masque;
  while (exacts_[i] >= 0) i = (i + 1) & masque;
  exacts_[i] = indice;
}

void TListNomFichRep::Agrandir(size_t n) {
  exacts_.assign(PuissanceDeDeux(n * 2), -1);
  for (size_t i = 0; i < membres_.size(); ++i) {
    if (Vivant(i)) Indexer(static_cast<int32_t>(i));
  }
}

void TListNomFichRep::Vider() {
  membres_.clear();
  std::fill(exacts_.begin(), exacts_.end(), -1);
  replies_.clear();
  suivants_.clear();
  repliesFaits_ = false;
  nombre_ = 0;
}

int TListNomFichRep::Indice(std::string_view nom, const TEstReserve& estReserve) const {
  const int i = IndiceExact(nom);
  return i >= 0 || nombre_ == 0 ? i : IndiceReplie(nom, estReserve);
}

int TListNomFichRep::IndiceExact(std::string_view nom) const {
  if (nombre_ == 0) return -1;
  const size_t masque = exacts_.size() - 1;
  // Probe order follows insertion order among equal names: the first live one wins.
  for (size_t i = HashExact(nom) & masque; exacts_[i] >= 0; i = (i + 1) & masque) {
    const size_t k = static_cast<size_t>(exacts_[i]);
    if (Vivant(k) && Nom(k) == nom) return exacts_[i];
  }
  return -1;
}

void TListNomFichRep::IndexerReplies() const {
  const size_t n = membres_.size();
  replies_.assign(PuissanceDeDeux(n), -1);
  suivants_.assign(n, -1);
  const size_t masque = replies_.size() - 1;
  // Pushing from the last record to the first leaves each chain in list order.
  for (size_t i = n; i-- > 0;) {
    if (!Vivant(i)) continue;
    int32_t& tete = replies_[HashReplie(Nom(i)) & masque];
    suivants_[i] = tete;
    tete = static_cast<int32_t>(i);
  }
  repliesFaits_ = true;
}

int TListNomFichRep::IndiceReplie(std::string_view nom, const TEstReserve& estReserve) const {
  if (!repliesFaits_) IndexerReplies();
  const size_t masque = replies_.size() - 1;
  for (int32_t i = replies_[HashReplie(nom) & masque]; i >= 0;
       i = suivants_[static_cast<size_t>(i)]) {
    const size_t k = static_cast<size_t>(i);
    if (!Vivant(k)) continue;
    const std::string_view n = Nom(k);
    if (!EgauxSansCasseAscii(n, nom)) continue;
    if (n != nom && estReserve && estReserve(std::string(n))) continue;
    return i;
  }
  return -1;
}

bool TListNomFichRep::Identique(int indice, const platform::EntreeRepertoire& source,
                                bool deuxSecondes) const {
  return MemeContenu(source, entrees_.Attributs(membres_[static_cast<size_t>(indice)]),
                     deuxSecondes);
}

void TListNomFichRep::Supprimer(int indice) {
  if (indice < 0 || indice >= static_cast<int>(membres_.size())) return;
  if (!Vivant(static_cast<size_t>(indice))) return;
  // Both indexes skip a dead record: nothing else to update.
  membres_[static_cast<size_t>(indice)] = kMort;
  --nombre_;
}

TNomFichRep TListNomFichRep::operator[](int indice) const {
  const size_t e = membres_[static_cast<size_t>(indice)];
  const platform::EntreeRepertoire a = entrees_.Attributs(e);
  TNomFichRep r;
  r.Attr = a.Attr;
  r.Size = a.Taille;
  r.Genre = a.Genre;
  r.Name = entrees_.NomVue(e);
  r.Entree = e;
  return r;
}

std::vector<int> TListNomFichRep::Elements() const {
  std::vector<int> v;
  v.reserve(static_cast<size_t>(nombre_));
  for (size_t i = 0; i < membres_.size(); ++i) {
    if (Vivant(i)) v.push_back(static_cast<int>(i));
  }
  return v;
}

}  // namespace jumelix
