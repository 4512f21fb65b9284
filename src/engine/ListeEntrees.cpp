#include "engine/ListeEntrees.h"

#include <sys/stat.h>

#include <algorithm>

namespace jumelix {

namespace {
// The first block is small, for the many small directories; each next one is twice as
// large, up to the largest a reference can address.
constexpr size_t kPremierBloc = 512;
constexpr size_t kDernierBloc = size_t{1} << 16;
constexpr size_t kBlocsMax = size_t{1} << 16;
}  // namespace

bool TNoms::Ajouter(std::string_view nom) {
  const size_t taille = nom.size() + 1;
  if (taille > kDernierBloc) return false;
  if (blocs_.empty() || libre_ + taille > tailleBloc_) {
    if (blocs_.size() == kBlocsMax) return false;
    tailleBloc_ = blocs_.empty() ? kPremierBloc : std::min(kDernierBloc, tailleBloc_ * 2);
    tailleBloc_ = std::max(tailleBloc_, taille);
    blocs_.push_back(std::make_unique<char[]>(tailleBloc_));
    libre_ = 0;
  }
  char* p = blocs_.back().get() + libre_;
  std::copy(nom.begin(), nom.end(), p);
  p[nom.size()] = '\0';
  refs_.push_back(static_cast<uint32_t>(((blocs_.size() - 1) << kBitsDecalage) | libre_));
  libre_ += taille;
  return true;
}

void TNoms::Garder(const std::function<bool(size_t)>& garder) {
  size_t garde = 0;
  for (size_t i = 0; i < refs_.size(); ++i) {
    if (garder(i)) refs_[garde++] = refs_[i];
  }
  refs_.resize(garde);
}

void TListeEntrees::Dimensionner() {
  noms_.Ajuster();
  descriptions_.resize(noms_.size());
  descriptions_.shrink_to_fit();
}

bool TListeEntrees::Ajouter(const platform::EntreeRepertoire& e) {
  if (!noms_.Ajouter(e.Nom)) return false;
  platform::DescriptionEntree& d = descriptions_.emplace_back();
  const bool peripherique = S_ISCHR(e.Mode) || S_ISBLK(e.Mode);
  d.TailleOuPeripherique = peripherique ? static_cast<int64_t>(e.Rdev) : e.Taille;
  d.Secondes = e.Secondes;
  d.Nanos = static_cast<uint32_t>(e.Nanos);
  d.PlusieursNoms = e.PlusieursNoms;
  d.AttributsEtendus = e.AttributsEtendus;
  // An entry made by hand may give its kind alone.
  d.Mode = e.Mode;
  if ((d.Mode & S_IFMT) == 0) {
    switch (e.Genre) {
      case platform::GenreEntree::Fichier:
        d.Mode |= S_IFREG;
        break;
      case platform::GenreEntree::Repertoire:
        d.Mode |= S_IFDIR;
        break;
      case platform::GenreEntree::Lien:
        d.Mode |= S_IFLNK;
        break;
      case platform::GenreEntree::Special:
        d.Mode |= S_IFIFO;
        break;
    }
  }
  d.Uid = e.Uid;
  d.Gid = e.Gid;
  return true;
}

platform::GenreEntree TListeEntrees::Genre(size_t i) const {
  const uint32_t m = descriptions_[i].Mode;
  if (S_ISDIR(m)) return platform::GenreEntree::Repertoire;
  if (S_ISLNK(m)) return platform::GenreEntree::Lien;
  if (S_ISREG(m)) return platform::GenreEntree::Fichier;
  return platform::GenreEntree::Special;
}

platform::EntreeRepertoire TListeEntrees::Entree(size_t i) const {
  platform::EntreeRepertoire e;
  e.Nom = NomVue(i);
  platform::Deplier(descriptions_[i], e.Nom, e);
  return e;
}

platform::EntreeRepertoire TListeEntrees::Attributs(size_t i) const {
  platform::EntreeRepertoire e;
  platform::Deplier(descriptions_[i], NomVue(i), e);
  return e;
}

void TListeEntrees::Garder(const std::function<bool(size_t)>& garder) {
  size_t garde = 0;
  noms_.Garder([&](size_t i) {
    if (!garder(i)) return false;
    descriptions_[garde++] = descriptions_[i];
    return true;
  });
  descriptions_.resize(garde);
}

}  // namespace jumelix
