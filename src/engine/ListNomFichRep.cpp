#include "engine/ListNomFichRep.h"

#include "app/URoutines.h"

namespace jumelix {

namespace {
// Packed times of files the walk calls identical may differ by up to this much: 4 min 8 s
// within one clock hour, less than a minute across an hour, less than 2 s across a day.
constexpr int64_t kTolerancePackee = 132;
constexpr int64_t kToleranceSecondes = 2;
}  // namespace

bool DatesProches(const platform::DateDos& a, const platform::DateDos& b) {
  if (a.HorsPlage != b.HorsPlage) return false;
  if (a.HorsPlage) {
    int64_t d = a.Secondes - b.Secondes;
    return d >= -kToleranceSecondes && d <= kToleranceSecondes;
  }
  int64_t d = static_cast<int64_t>(a.Valeur) - static_cast<int64_t>(b.Valeur);
  return d >= -kTolerancePackee && d <= kTolerancePackee;
}

void TListNomFichRep::Ajouter(const platform::EntreeRepertoire& entree) {
  auto r = std::make_unique<TNomFichRep>();
  r->Attr = entree.Attr;
  r->Time = entree.Date;
  r->Size = entree.Taille;
  r->Genre = entree.Genre;
  r->Name = entree.Nom;
  const int indice = static_cast<int>(enregistrements_.size());
  exacts_.emplace(r->Name, indice);
  replies_[MinusculesAscii(r->Name)].push_back(indice);
  enregistrements_.push_back(std::move(r));
  ++nombre_;
}

void TListNomFichRep::Vider() {
  while (!enregistrements_.empty()) enregistrements_.pop_back();  // last to first
  exacts_.clear();
  replies_.clear();
  nombre_ = 0;
}

int TListNomFichRep::Indice(const std::string& nom,
                            const std::unordered_set<std::string>* reserves) const {
  if (auto e = exacts_.find(nom); e != exacts_.end()) return e->second;
  auto f = replies_.find(MinusculesAscii(nom));
  if (f == replies_.end()) return -1;
  for (int i : f->second) {
    const TNomFichRep& r = *enregistrements_[i];
    if (reserves != nullptr && r.Name != nom && reserves->count(r.Name) != 0) continue;
    return i;
  }
  return -1;
}

bool TListNomFichRep::Identique(int indice, int64_t size, const platform::DateDos& time,
                                platform::GenreEntree genre) const {
  const TNomFichRep& r = *enregistrements_[indice];
  return r.Genre == genre && r.Size == size && DatesProches(time, r.Time);
}

void TListNomFichRep::Supprimer(int indice) {
  if (indice < 0 || indice >= static_cast<int>(enregistrements_.size()) ||
      !enregistrements_[indice]) {
    return;
  }
  const std::string& nom = enregistrements_[indice]->Name;
  if (auto e = exacts_.find(nom); e != exacts_.end() && e->second == indice) exacts_.erase(e);
  auto f = replies_.find(MinusculesAscii(nom));
  if (f != replies_.end()) {
    std::erase(f->second, indice);
    if (f->second.empty()) replies_.erase(f);
  }
  enregistrements_[indice].reset();
  --nombre_;
}

std::vector<const TNomFichRep*> TListNomFichRep::Elements() const {
  std::vector<const TNomFichRep*> v;
  v.reserve(static_cast<size_t>(nombre_));
  for (const auto& r : enregistrements_) {
    if (r) v.push_back(r.get());
  }
  return v;
}

}  // namespace jumelix
