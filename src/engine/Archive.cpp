#include "engine/Archive.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>
#include <vector>

#include "engine/VerrouMiroir.h"
#include "platform/Chemins.h"

namespace jumelix {

namespace {

using platform::Joindre;

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

bool Plein(int err) { return err == ENOSPC || err == EDQUOT; }

// Errors of a hard link that only say the file system (or the entry's link count) does not
// allow one: the old version then moves as a whole instead.
bool SansLien(int err) {
  return err == EPERM || err == EOPNOTSUPP || err == ENOSYS || err == EMLINK || err == EINVAL;
}

// A path relative to a zone's root, cut into its directory ("" at the root) and its name.
std::pair<std::string, std::string> Couper(const std::string& relatif) {
  const size_t barre = relatif.find_last_of('/');
  if (barre == std::string::npos) return {{}, relatif};
  return {relatif.substr(0, barre), relatif.substr(barre + 1)};
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
                         const std::function<void(const std::string&)>& echec, bool neuve) {
  if (!Actif()) return;
  echec_ = echec;
  zones_.clear();
  Zone& z = zones_.emplace_back();
  z.chemin = destination;
  if (fs_.Dupliquer(z.racine, racine) != 0) return;
  z.peripherique = z.racine.Peripherique();
  if (!neuve) Elaguer(z);
}

void TArchive::AjouterMontage(const platform::TRepertoire& racine, const std::string& chemin) {
  std::string relatif;
  if (!Actif() || Situer(chemin, relatif) == std::string::npos) return;
  for (const Zone& z : zones_) {
    if (z.chemin == chemin) return;
  }
  Zone& z = zones_.emplace_back();
  z.chemin = chemin;
  // Without a descriptor the zone still holds its entries: they are refused (EBADF), never
  // sent across the mount.
  if (fs_.Dupliquer(z.racine, racine) != 0) return;
  z.peripherique = z.racine.Peripherique();
  Elaguer(z);
}

size_t TArchive::Situer(const std::string& chemin, std::string& relatif) const {
  size_t trouvee = std::string::npos;
  for (size_t i = 0; i < zones_.size(); ++i) {
    const std::string& r = zones_[i].chemin;
    if (r.empty() || chemin.compare(0, r.size(), r) != 0) continue;
    const size_t prefixe = r.size() + (r.back() == '/' ? 0 : 1);
    if (chemin.size() <= prefixe || (r.back() != '/' && chemin[r.size()] != '/')) continue;
    if (trouvee == std::string::npos || r.size() > zones_[trouvee].chemin.size()) {
      trouvee = i;
      relatif = chemin.substr(prefixe);
    }
  }
  return trouvee;
}

bool TArchive::MemeDisque(size_t i, size_t z) const {
  return i == z ||
         (zones_[z].peripherique != 0 && zones_[i].peripherique == zones_[z].peripherique);
}

void TArchive::Elaguer(Zone& z) {
  if (OuvrirRacineArchive(z, false) != 0) return;
  std::vector<std::pair<time_t, std::string>> perimes;
  const time_t limite = debut_ - static_cast<time_t>(jours_ * kSecondesParJour);
  fs_.Lister(z.archive, [&](platform::EntreeRepertoire& e) {
    if (e.Genre != platform::GenreEntree::Repertoire) return;
    const time_t t = DateDossierArchive(e.Nom);
    if (t >= 0 && t < limite) perimes.emplace_back(t, e.Nom);
  });
  std::sort(perimes.begin(), perimes.end());
  for (const auto& [t, nom] : perimes) {
    int32_t n = 0;
    if (fs_.SupprimerArborescence(z.archive, nom, n) != 0 && echec_) {
      echec_(Joindre(Joindre(z.chemin, kNomArchive), nom));
    }
  }
}

int TArchive::OuvrirRacineArchive(Zone& z, bool creer) {
  if (z.archive.Ouvert()) return 0;
  if (!z.racine.Ouvert()) return EBADF;
  int err = fs_.OuvrirSous(z.archive, z.racine, kNomArchive);
  if (err == ENOENT && creer) {
    // The folder is no change of the mirror: its parent keeps its last-write time, which
    // the walk may have given it already.
    err = AvecDateGardee(fs_, z.racine, [&] { return fs_.CreerRepertoire(z.racine, kNomArchive); });
    if (err == 0 || err == EEXIST) err = fs_.OuvrirSous(z.archive, z.racine, kNomArchive);
  }
  // A link is never opened (ENOTDIR); another user's directory would receive our files.
  platform::EntreeRepertoire e;
  if (err == 0 && (fs_.Decrire(z.archive, e) != 0 || e.Uid != geteuid())) {
    z.archive.Fermer();
    err = EACCES;
  }
  return err;
}

int TArchive::OuvrirDossierRun(Zone& z) {
  if (z.run.Ouvert()) return 0;
  if (int err = OuvrirRacineArchive(z, true)) return err;
  const std::string base = NomDossierArchive(debut_);
  // Another run begun in the same second, or another pair of this run with the same
  // destination, has its own folder already.
  for (int k = 1; k <= 100; ++k) {
    const std::string nom = k == 1 ? base : base + "-" + std::to_string(k);
    int err = fs_.CreerRepertoire(z.archive, nom);
    if (err == EEXIST) continue;
    if (err == 0) err = fs_.OuvrirSous(z.run, z.archive, nom);
    if (err == 0) z.nomRun = nom;
    return err;
  }
  return EEXIST;
}

int TArchive::OuvrirParent(Zone& z, const std::string& dossier, platform::TRepertoire*& parent) {
  if (int err = OuvrirDossierRun(z)) return err;
  if (dossier.empty()) {
    parent = &z.run;
    return 0;
  }
  if (z.courant.Ouvert() && dossier == z.relatifCourant) {
    parent = &z.courant;
    return 0;
  }
  platform::TRepertoire ici;
  if (int err = Descendre(z.run, dossier, true, ici)) return err;
  z.courant = std::move(ici);
  z.relatifCourant = dossier;
  parent = &z.courant;
  return 0;
}

int TArchive::Descendre(const platform::TRepertoire& depuis, const std::string& dossier, bool creer,
                        platform::TRepertoire& rep) {
  int err = fs_.Dupliquer(rep, depuis);
  for (size_t debut = 0; err == 0 && debut < dossier.size();) {
    size_t fin = dossier.find('/', debut);
    if (fin == std::string::npos) fin = dossier.size();
    const std::string nom = dossier.substr(debut, fin - debut);
    debut = fin + 1;
    if (nom.empty()) continue;
    if (creer && (err = fs_.CreerRepertoire(rep, nom)) == EEXIST) err = 0;
    platform::TRepertoire dessous;
    if (err == 0) err = fs_.OuvrirSous(dessous, rep, nom);
    rep = std::move(dessous);
  }
  return err;
}

int TArchive::ArchiverUneFois(size_t iz, const std::string& relatif,
                              const platform::TRepertoire& dir, const std::string& nom,
                              int32_t& nbFichiers) {
  Zone& z = zones_[iz];
  const auto [dossier, final] = Couper(relatif);
  int32_t n = 0;
  int64_t octets = 0;
  int err = fs_.ExaminerArborescence(dir, nom, n, &octets);
  if (err == ENOTDIR) {
    n = 1;
    platform::EntreeRepertoire e;
    if (fs_.DecrireEntree(dir, nom, e) == 0) octets = e.Taille;
  } else if (err != 0) {
    return err;
  }
  platform::TRepertoire* parent = nullptr;
  if ((err = OuvrirParent(z, dossier, parent)) != 0) return err;
  if ((err = fs_.Deplacer(dir, nom, *parent, final)) != 0) return err;
  nbFichiers += n;
  z.traces.push({octets, relatif});
  dernier_ = Joindre(Joindre(Joindre(z.chemin, kNomArchive), z.nomRun), relatif);
  return 0;
}

int TArchive::Archiver(const platform::TRepertoire& dir, const std::string& nom,
                       const std::string& chemin, int32_t& nbFichiers) {
  dernier_.clear();
  std::string relatif;
  const size_t z = Actif() ? Situer(chemin, relatif) : std::string::npos;
  if (z == std::string::npos) return EINVAL;
  int err = ArchiverUneFois(z, relatif, dir, nom, nbFichiers);
  while (Plein(err) && LibererDossier(z)) err = ArchiverUneFois(z, relatif, dir, nom, nbFichiers);
  return err;
}

int TArchive::PublierNeuve(const platform::TRepertoire& dir,
                           const platform::CopieEnAttente& copie) const {
  if (!Actif() || zones_.empty()) return fs_.Publier(dir, copie);
  platform::EntreeRepertoire e;
  if (fs_.DecrireEntree(dir, copie.Nom, e) == ENOENT) return fs_.Publier(dir, copie);
  return kAArchiver;
}

int TArchive::Publier(const platform::TRepertoire& dir, const platform::CopieEnAttente& copie,
                      const std::string& chemin) {
  dernier_.clear();
  if (!Actif() || zones_.empty()) return fs_.Publier(dir, copie);
  std::string relatif;
  const size_t iz = Situer(chemin, relatif);
  platform::EntreeRepertoire e;
  int err = iz == std::string::npos ? EINVAL : fs_.DecrireEntree(dir, copie.Nom, e);
  if (err == ENOENT) return fs_.Publier(dir, copie);  // nothing to replace
  if (err != 0) {
    fs_.Abandonner(dir, copie);
    return err;
  }
  if (e.Genre != platform::GenreEntree::Repertoire) {
    // The old version gets its archive name first, then the copy takes its place: a stop
    // between the two leaves it in both places, never under a temporary name.
    Zone& z = zones_[iz];
    const auto [dossier, final] = Couper(relatif);
    platform::TRepertoire* parent = nullptr;
    err = OuvrirParent(z, dossier, parent);
    if (err == 0) err = fs_.Lier(dir, copie.Nom, *parent, final);
    while (Plein(err) && LibererDossier(iz)) {
      err = OuvrirParent(z, dossier, parent);
      if (err == 0) err = fs_.Lier(dir, copie.Nom, *parent, final);
    }
    if (err == 0) {
      if ((err = fs_.Publier(dir, copie)) != 0) {
        fs_.SupprimerFichier(*parent, final);
        fs_.Abandonner(dir, copie);
        return err;
      }
      z.traces.push({e.Taille, relatif});
      dernier_ = Joindre(Joindre(Joindre(z.chemin, kNomArchive), z.nomRun), relatif);
      return 0;
    }
    if (Plein(err)) return err;
    // Gone meanwhile (ENOENT): the move below says so, and the copy takes the free name.
    if (!SansLien(err) && err != ENOENT) {
      fs_.Abandonner(dir, copie);
      return err;
    }
  }
  // A directory, or a file system without hard links: the replaced entry goes first, then
  // the copy takes its name (for an instant the name is missing).
  int32_t n = 0;
  err = Archiver(dir, copie.Nom, chemin, n);
  if (err != 0 && err != ENOENT) {
    if (!Plein(err)) fs_.Abandonner(dir, copie);
    return err;
  }
  return fs_.Publier(dir, copie);
}

bool TArchive::LibererPlace(const std::string& chemin,
                            const std::function<void(const std::string&)>& perdu) {
  std::string relatif;
  const size_t z = Actif() ? Situer(chemin, relatif) : std::string::npos;
  if (z == std::string::npos) return false;
  return LibererDossier(z) || LibererTrace(z, perdu);
}

bool TArchive::LibererDossier(size_t iz) {
  Zone* ou = nullptr;
  std::pair<time_t, std::string> plusAncien{-1, {}};
  for (size_t i = 0; i < zones_.size(); ++i) {
    Zone& z = zones_[i];
    if (!MemeDisque(i, iz) || OuvrirRacineArchive(z, false) != 0) continue;
    fs_.Lister(z.archive, [&](platform::EntreeRepertoire& e) {
      if (e.Genre != platform::GenreEntree::Repertoire || e.Nom == z.nomRun) return;
      const time_t t = DateDossierArchive(e.Nom);
      if (t < 0) return;
      const std::pair<time_t, std::string> c{t, e.Nom};
      if (plusAncien.first < 0 || c < plusAncien) {
        plusAncien = c;
        ou = &z;
      }
    });
  }
  if (ou == nullptr) return false;
  int32_t n = 0;
  return fs_.SupprimerArborescence(ou->archive, plusAncien.second, n) == 0;
}

bool TArchive::LibererTrace(size_t iz, const std::function<void(const std::string&)>& perdu) {
  for (;;) {
    Zone* ou = nullptr;
    for (size_t i = 0; i < zones_.size(); ++i) {
      Zone& z = zones_[i];
      if (!MemeDisque(i, iz) || z.traces.empty()) continue;
      if (ou == nullptr || ou->traces.top() < z.traces.top()) ou = &z;
    }
    if (ou == nullptr) return false;
    const std::string relatif = ou->traces.top().relatif;
    ou->traces.pop();
    const auto [dossier, final] = Couper(relatif);
    platform::TRepertoire parent;
    int err = Descendre(ou->run, dossier, false, parent);
    platform::EntreeRepertoire e;
    if (err == 0) err = fs_.DecrireEntree(parent, final, e);
    if (err != 0) continue;  // gone already: nothing is lost by us
    int32_t n = 0;
    err = fs_.SupprimerArborescence(parent, final, n);
    // A directory partly deleted has lost its old version all the same.
    if (err == 0 || e.Genre == platform::GenreEntree::Repertoire) {
      if (perdu) perdu(Joindre(ou->chemin, relatif));
      return true;
    }
  }
}

}  // namespace jumelix
