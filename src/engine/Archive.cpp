#include "engine/Archive.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>
#include <vector>

namespace jumelix {

namespace {

constexpr int64_t kSecondesParJour = 86400;
// "YYYY-MM-DD HHMMSS"
constexpr size_t kLongueurDate = 17;

bool Chiffres(const std::string& s, size_t debut, size_t n) {
  if (debut + n > s.size()) return false;
  for (size_t i = debut; i < debut + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
  }
  return true;
}

int Nombre(const std::string& s, size_t debut, size_t n) {
  int v = 0;
  for (size_t i = debut; i < debut + n; ++i) v = v * 10 + (s[i] - '0');
  return v;
}

bool ErreurSansExclusif(int err) { return err == EINVAL || err == EOPNOTSUPP || err == ENOSYS; }

std::string Joindre(const std::string& dir, const std::string& nom) {
  if (!dir.empty() && dir.back() == '/') return dir + nom;
  return dir + "/" + nom;
}

}  // namespace

time_t DateDossierArchive(const std::string& nom) {
  if (nom.size() < kLongueurDate || !Chiffres(nom, 0, 4) || nom[4] != '-' || !Chiffres(nom, 5, 2) ||
      nom[7] != '-' || !Chiffres(nom, 8, 2) || nom[10] != ' ' || !Chiffres(nom, 11, 6)) {
    return -1;
  }
  if (nom.size() > kLongueurDate &&
      (nom[kLongueurDate] != '-' ||
       !Chiffres(nom, kLongueurDate + 1, nom.size() - kLongueurDate - 1) ||
       nom.size() == kLongueurDate + 1)) {
    return -1;
  }
  std::tm tm{};
  tm.tm_year = Nombre(nom, 0, 4) - 1900;
  tm.tm_mon = Nombre(nom, 5, 2) - 1;
  tm.tm_mday = Nombre(nom, 8, 2);
  tm.tm_hour = Nombre(nom, 11, 2);
  tm.tm_min = Nombre(nom, 13, 2);
  tm.tm_sec = Nombre(nom, 15, 2);
  tm.tm_isdst = -1;
  if (tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour > 23 ||
      tm.tm_min > 59 || tm.tm_sec > 60) {
    return -1;
  }
  return std::mktime(&tm);
}

std::string NomDossierArchive(time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char texte[64];
  std::snprintf(texte, sizeof texte, "%04d-%02d-%02d %02d%02d%02d", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return texte;
}

TArchive::TArchive(platform::TSystemeFichiers& fs, int jours, int64_t debut)
    : fs_(fs),
      jours_(jours > 0 ? jours : 0),
      debut_(debut != 0 ? static_cast<time_t>(debut) : std::time(nullptr)) {}

void TArchive::Commencer(const platform::TRepertoire& racine, const std::string& destination,
                         const std::function<void(const std::string&)>& echec) {
  if (!Actif()) return;
  destination_ = destination;
  if (fs_.Dupliquer(racine_, racine) != 0 || OuvrirRacineArchive(false) != 0) return;
  std::vector<std::pair<time_t, std::string>> perimes;
  const time_t limite = debut_ - static_cast<time_t>(jours_ * kSecondesParJour);
  fs_.Lister(archive_, [&](platform::EntreeRepertoire& e) {
    if (e.Genre != platform::GenreEntree::Repertoire) return;
    const time_t t = DateDossierArchive(e.Nom);
    if (t >= 0 && t < limite) perimes.emplace_back(t, e.Nom);
  });
  std::sort(perimes.begin(), perimes.end());
  for (const auto& [t, nom] : perimes) {
    int32_t n = 0;
    if (fs_.SupprimerArborescence(archive_, nom, n) != 0) {
      echec(Joindre(Joindre(destination_, kNomArchive), nom));
    }
  }
}

int TArchive::OuvrirRacineArchive(bool creer) {
  if (archive_.Ouvert()) return 0;
  if (!racine_.Ouvert()) return EBADF;
  int err = fs_.OuvrirSous(archive_, racine_, kNomArchive);
  if (err == ENOENT && creer) {
    err = fs_.CreerRepertoire(racine_, kNomArchive);
    if (err == 0 || err == EEXIST) err = fs_.OuvrirSous(archive_, racine_, kNomArchive);
  }
  return err;
}

int TArchive::OuvrirDossierRun() {
  if (run_.Ouvert()) return 0;
  if (int err = OuvrirRacineArchive(true)) return err;
  const std::string base = NomDossierArchive(debut_);
  // Another run begun in the same second, or another pair of this run with the same
  // destination, has its own folder already.
  for (int k = 1; k <= 100; ++k) {
    const std::string nom = k == 1 ? base : base + "-" + std::to_string(k);
    int err = fs_.CreerRepertoire(archive_, nom);
    if (err == EEXIST) continue;
    if (err == 0) err = fs_.OuvrirSous(run_, archive_, nom);
    if (err == 0) nomRun_ = nom;
    return err;
  }
  return EEXIST;
}

int TArchive::OuvrirParent(const std::string& relatif, platform::TRepertoire*& parent) {
  if (int err = OuvrirDossierRun()) return err;
  if (relatif.empty()) {
    parent = &run_;
    return 0;
  }
  if (courant_.Ouvert() && relatif == relatifCourant_) {
    parent = &courant_;
    return 0;
  }
  platform::TRepertoire ici;
  const platform::TRepertoire* au_dessus = &run_;
  size_t debut = 0;
  while (debut <= relatif.size()) {
    size_t fin = relatif.find('/', debut);
    if (fin == std::string::npos) fin = relatif.size();
    const std::string nom = relatif.substr(debut, fin - debut);
    debut = fin + 1;
    if (nom.empty()) continue;
    int err = fs_.CreerRepertoire(*au_dessus, nom);
    if (err != 0 && err != EEXIST) return err;
    platform::TRepertoire dessous;
    if ((err = fs_.OuvrirSous(dessous, *au_dessus, nom)) != 0) return err;
    ici = std::move(dessous);
    au_dessus = &ici;
  }
  courant_ = std::move(ici);
  relatifCourant_ = relatif;
  parent = &courant_;
  return 0;
}

int TArchive::ArchiverUneFois(const platform::TRepertoire& dir, const std::string& nom,
                              const std::string& chemin, int32_t& nbFichiers) {
  const size_t prefixe = destination_.size() + (destination_.back() == '/' ? 0 : 1);
  if (chemin.size() <= prefixe || chemin.compare(0, destination_.size(), destination_) != 0) {
    return EINVAL;
  }
  const std::string relatif = chemin.substr(prefixe);
  const size_t barre = relatif.find_last_of('/');
  const std::string dossier = barre == std::string::npos ? std::string() : relatif.substr(0, barre);
  const std::string final = barre == std::string::npos ? relatif : relatif.substr(barre + 1);
  int32_t n = 0;
  int err = fs_.ExaminerArborescence(dir, nom, n);
  if (err == ENOTDIR) {
    n = 1;
  } else if (err != 0) {
    return err;
  }
  platform::TRepertoire* parent = nullptr;
  if ((err = OuvrirParent(dossier, parent)) != 0) return err;
  if ((err = fs_.Deplacer(dir, nom, *parent, final)) != 0) return err;
  nbFichiers += n;
  return 0;
}

int TArchive::Archiver(const platform::TRepertoire& dir, const std::string& nom,
                       const std::string& chemin, int32_t& nbFichiers) {
  if (!Actif() || destination_.empty()) return EINVAL;
  int err = ArchiverUneFois(dir, nom, chemin, nbFichiers);
  while (err == ENOSPC && LibererPlace()) err = ArchiverUneFois(dir, nom, chemin, nbFichiers);
  return err;
}

int TArchive::Publier(const platform::TRepertoire& dir, const platform::CopieEnAttente& copie,
                      const std::string& chemin) {
  if (!Actif() || destination_.empty()) return fs_.Publier(dir, copie);
  int32_t n = 0;
  int err = fs_.Echanger(dir, copie.Temporaire, copie.Nom);
  if (err == ENOENT) return fs_.Publier(dir, copie);  // nothing to replace
  if (err == 0) {
    // The temporary name now holds the replaced entry.
    err = Archiver(dir, copie.Temporaire, chemin, n);
    if (err != 0 && fs_.Echanger(dir, copie.Temporaire, copie.Nom) == 0) {
      fs_.Abandonner(dir, copie);
    }
    return err;
  }
  if (!ErreurSansExclusif(err)) {
    fs_.Abandonner(dir, copie);
    return err;
  }
  // No swap on this file system: the replaced entry goes first, then the copy takes its
  // name (for an instant the name is missing).
  err = Archiver(dir, copie.Nom, chemin, n);
  if (err != 0 && err != ENOENT) {
    fs_.Abandonner(dir, copie);
    return err;
  }
  return fs_.Publier(dir, copie);
}

void TArchive::AjouterMontage(const platform::TRepertoire&, const std::string&) {}

bool TArchive::LibererPlace(const std::string&, const std::function<void(const std::string&)>&) {
  return LibererPlace();
}

bool TArchive::LibererPlace() {
  if (!Actif() || OuvrirRacineArchive(false) != 0) return false;
  std::pair<time_t, std::string> plusAncien{-1, {}};
  fs_.Lister(archive_, [&](platform::EntreeRepertoire& e) {
    if (e.Genre != platform::GenreEntree::Repertoire || e.Nom == nomRun_) return;
    const time_t t = DateDossierArchive(e.Nom);
    if (t < 0) return;
    const std::pair<time_t, std::string> c{t, e.Nom};
    if (plusAncien.first < 0 || c < plusAncien) plusAncien = c;
  });
  if (plusAncien.first < 0) return false;
  int32_t n = 0;
  return fs_.SupprimerArborescence(archive_, plusAncien.second, n) == 0;
}

}  // namespace jumelix
