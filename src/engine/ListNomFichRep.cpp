#include "engine/ListNomFichRep.h"

#include <sys/stat.h>

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

void TListNomFichRep::Ajouter(const platform::EntreeRepertoire& entree) {
  Enregistrement& e = enregistrements_.emplace_back();
  e.r.Attr = entree.Attr;
  e.r.Size = entree.Taille;
  e.r.Genre = entree.Genre;
  e.r.Name = entree.Nom;
  e.r.Entree = entree;
  e.hash = HashExact(e.r.Name);
  ++nombre_;
  repliesFaits_ = false;
  // The table stays at most half full, so every probe ends on an empty slot soon.
  if (enregistrements_.size() * 2 > exacts_.size()) {
    Agrandir();
  } else {
    Indexer(static_cast<int32_t>(enregistrements_.size() - 1));
  }
}

void TListNomFichRep::Indexer(int32_t indice) {
  const size_t masque = exacts_.size() - 1;
  const uint32_t h = enregistrements_[static_cast<size_t>(indice)].hash;
  size_t i = h & masque;
  while (exacts_[i].indice >= 0) i = (i + 1) & masque;
  exacts_[i] = {indice, h};
}

void TListNomFichRep::Agrandir() {
  exacts_.assign(PuissanceDeDeux(enregistrements_.size() * 2), Case{});
  for (size_t i = 0; i < enregistrements_.size(); ++i) {
    if (enregistrements_[i].vivant) Indexer(static_cast<int32_t>(i));
  }
}

void TListNomFichRep::Vider() {
  // Last to first, as the records were made; the storage stays for the next directory.
  while (!enregistrements_.empty()) enregistrements_.pop_back();
  std::fill(exacts_.begin(), exacts_.end(), Case{});
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
  const uint32_t h = HashExact(nom);
  const size_t masque = exacts_.size() - 1;
  // Probe order follows insertion order among equal names: the first live one wins.
  for (size_t i = h & masque; exacts_[i].indice >= 0; i = (i + 1) & masque) {
    if (exacts_[i].hash != h) continue;
    const Enregistrement& e = enregistrements_[static_cast<size_t>(exacts_[i].indice)];
    if (e.vivant && e.r.Name == nom) return exacts_[i].indice;
  }
  return -1;
}

void TListNomFichRep::IndexerReplies() const {
  const size_t n = enregistrements_.size();
  replies_.assign(PuissanceDeDeux(n), -1);
  suivants_.assign(n, -1);
  const size_t masque = replies_.size() - 1;
  // Pushing from the last record to the first leaves each chain in list order.
  for (size_t i = n; i-- > 0;) {
    if (!enregistrements_[i].vivant) continue;
    int32_t& tete = replies_[HashReplie(enregistrements_[i].r.Name) & masque];
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
    const Enregistrement& e = enregistrements_[static_cast<size_t>(i)];
    if (!e.vivant || !EgauxSansCasseAscii(e.r.Name, nom)) continue;
    if (e.r.Name != nom && estReserve && estReserve(e.r.Name)) continue;
    return i;
  }
  return -1;
}

bool TListNomFichRep::Identique(int indice, const platform::EntreeRepertoire& source,
                                bool deuxSecondes) const {
  return MemeContenu(source, enregistrements_[static_cast<size_t>(indice)].r.Entree, deuxSecondes);
}

void TListNomFichRep::Supprimer(int indice) {
  if (indice < 0 || indice >= static_cast<int>(enregistrements_.size())) return;
  Enregistrement& e = enregistrements_[static_cast<size_t>(indice)];
  if (!e.vivant) return;
  // Both indexes skip a dead record: nothing else to update.
  e.vivant = false;
  --nombre_;
}

std::vector<const TNomFichRep*> TListNomFichRep::Elements() const {
  std::vector<const TNomFichRep*> v;
  v.reserve(static_cast<size_t>(nombre_));
  for (const Enregistrement& e : enregistrements_) {
    if (e.vivant) v.push_back(&e.r);
  }
  return v;
}

}  // namespace jumelix
