#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <utility>

#include "platform/AttributsEtendus.h"
#include "platform/Chemins.h"
#include "platform/FileSystemInterne.h"

namespace jumelix::platform {

namespace {

using interne::AvecRepertoireInscriptible;
using interne::EntreeVisee;
using interne::EstRacineMontage;
using interne::Temporaire;

// File-system magic numbers not every kernel header defines.
constexpr unsigned long kExfat = 0x2011BAB0;
constexpr unsigned long kNtfs = 0x5346544E;
constexpr unsigned long kNtfs3 = 0x7366746E;
constexpr unsigned long kCifs = 0xFF534D42;
constexpr unsigned long kSmb2 = 0xFE534D42;
constexpr unsigned long kSmb = 0x517B;
constexpr unsigned long kFuse = 0x65735546;
constexpr unsigned long kMsdos = 0x4D44;
constexpr unsigned long kExt4 = 0xEF53;
constexpr unsigned long kF2fs = 0xF2F52010;
constexpr unsigned long kXfs = 0x58465342;
constexpr unsigned long kBtrfs = 0x9123683E;
constexpr unsigned long kTmpfs = 0x01021994;
#ifndef FS_CASEFOLD_FL
constexpr long FS_CASEFOLD_FL = 0x40000000;
#endif


DescriptionEntree Compacter(const struct stat& st) {
  DescriptionEntree d;
  const bool peripherique = S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode);
  d.TailleOuPeripherique =
      peripherique ? static_cast<int64_t>(st.st_rdev) : static_cast<int64_t>(st.st_size);
  d.Secondes = static_cast<int64_t>(st.st_mtim.tv_sec);
  d.Nanos = static_cast<uint32_t>(st.st_mtim.tv_nsec);
  d.PlusieursNoms = st.st_nlink > 1 && !S_ISDIR(st.st_mode);
  d.Mode = st.st_mode;
  d.Uid = st.st_uid;
  d.Gid = st.st_gid;
  d.Inode = static_cast<uint64_t>(st.st_ino);
  return d;
}

// Reads `fd`, once it is known to be a regular file, up to `max` bytes (or whole).
int LireTout(int fd, std::string& contenu, size_t max = SIZE_MAX) {
  struct stat st;
  if (fstat(fd, &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return kPasFichierOrdinaire;
  contenu.clear();
  char tampon[16384];
  while (contenu.size() < max) {
    const ssize_t n = read(fd, tampon, std::min(sizeof tampon, max - contenu.size()));
    if (n == 0) return 0;
    if (n > 0) {
      contenu.append(tampon, static_cast<size_t>(n));
    } else if (errno != EINTR) {
      return errno;
    }
  }
  return 0;
}

// Opens `nom` under `dirfd` for reading, without blocking on a FIFO or a device (which
// fstat then refuses) and never through a link.
int LireFichierA(int dirfd, const std::string& nom, std::string& contenu, size_t max = SIZE_MAX) {
  struct stat st;
  if (fstatat(dirfd, nom.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return kPasFichierOrdinaire;
  UniqueFd fd(openat(dirfd, nom.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
  if (!fd.valide()) return errno == ELOOP ? kPasFichierOrdinaire : errno;
  return LireTout(fd.get(), contenu, max);
}

// "." and ".." are described as bare directories, without looking at them.
struct stat StatPoint() {
  struct stat st;
  std::memset(&st, 0, sizeof st);
  st.st_mode = S_IFDIR;
  return st;
}

void Remplir(EntreeRepertoire& x, const struct stat& st) { Deplier(Compacter(st), x.Nom, x); }

int LireLienA(int dirfd, const std::string& nom, std::string& cible) {
  cible.assign(256, '\0');
  for (;;) {
    ssize_t n = readlinkat(dirfd, nom.c_str(), cible.data(), cible.size());
    if (n < 0) return errno;
    if (static_cast<size_t>(n) < cible.size()) {
      cible.resize(static_cast<size_t>(n));
      return 0;
    }
    cible.resize(cible.size() * 2);
  }
}

// Lists the open directory `fd` from its start.
int ListerFd(int fd, const std::function<void(const char* nom, const struct stat& st)>& surEntree,
             bool avecPoints) {
  interne::LecteurNoms lecteur(fd);
  if (const int err = lecteur.Commencer()) return err;
  struct stat st;
  for (;;) {
    int err = 0;
    const struct dirent64* e = lecteur.Suivante(err);
    if (e == nullptr) return err;  // 0 at the normal end
    if (EstPointOuPointPoint(e->d_name)) {
      if (avecPoints) {
        std::memset(&st, 0, sizeof st);
        st.st_mode = S_IFDIR;
        surEntree(e->d_name, st);
      }
      continue;
    }
    if (fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;  // gone since it was listed
      // An entry that cannot be described fails the whole listing: treating it as absent
      // would make its counterpart look surplus.
      return errno;
    }
    surEntree(e->d_name, st);
  }
}

// One directory being emptied by SupprimerArborescence.
struct Cadre {
  std::string nom;
  dev_t dev;
  ino_t ino;
  std::vector<std::string> sousReps;
};

// Opens the subdirectory `nom` of `pfd` for deletion (giving it the owner's rights first)
// and deletes its non-directory entries; its subdirectories go to `cadre`.
int OuvrirPourSupprimer(int pfd, const std::string& nom, dev_t dev, UniqueFd& fd, Cadre& cadre,
                        int32_t& nbFichiers) {
  // Held by a descriptor from the first look: the rights given below reach this very
  // directory, never an entry swapped in under its name.
  EntreeVisee e;
  if (int r = e.Ouvrir(pfd, nom.c_str())) return r;
  const struct stat& st = e.Etat();
  if (!S_ISDIR(st.st_mode)) return ENOTDIR;
  if (st.st_dev != dev || EstRacineMontage(e.fd(), "")) return EXDEV;
  // Listing needs read and search rights, emptying needs write: the directory is to go.
  if ((st.st_mode & S_IRWXU) != S_IRWXU) {
    // A refusal shows at the openat or the deletions below, with its own errno.
    if (e.Chmod((st.st_mode & 07777) | S_IRWXU) != 0) {
    }
  }
  fd.reset(openat(e.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valide()) return errno;
  struct stat ouvert;
  if (fstat(fd.get(), &ouvert) != 0) return errno;
  if (ouvert.st_dev != st.st_dev || ouvert.st_ino != st.st_ino) return ESTALE;
  cadre = Cadre{nom, ouvert.st_dev, ouvert.st_ino, {}};
  std::vector<std::string> fichiers;
  int r = ListerFd(
      fd.get(),
      [&](const char* n, const struct stat& es) {
        (S_ISDIR(es.st_mode) ? cadre.sousReps : fichiers).emplace_back(n);
      },
      false);
  if (r != 0) return r;
  for (const std::string& f : fichiers) {
    if (unlinkat(fd.get(), f.c_str(), 0) == 0) ++nbFichiers;
  }
  return 0;
}

}  // namespace

void Deplier(const DescriptionEntree& d, std::string_view nom, EntreeRepertoire& e) {
  const bool point = EstPointOuPointPoint(nom);
  e.Attr = 0;
  if (S_ISDIR(d.Mode)) {
    e.Genre = GenreEntree::Repertoire;
    e.Attr |= kAttrRepertoire;
  } else if (S_ISLNK(d.Mode)) {
    e.Genre = GenreEntree::Lien;
  } else if (S_ISREG(d.Mode)) {
    e.Genre = GenreEntree::Fichier;
  } else {
    e.Genre = GenreEntree::Special;
  }
  const bool peripherique = S_ISCHR(d.Mode) || S_ISBLK(d.Mode);
  if (!point) {
    if ((d.Mode & S_IWUSR) == 0) e.Attr |= kAttrLectureSeule;
    if (!nom.empty() && nom[0] == '.') e.Attr |= kAttrCache;
  }
  e.Taille = peripherique ? 0 : d.TailleOuPeripherique;
  e.Rdev = peripherique ? static_cast<uint64_t>(d.TailleOuPeripherique) : 0;
  e.Secondes = d.Secondes;
  e.Nanos = static_cast<int32_t>(d.Nanos);
  e.Mode = d.Mode;
  e.PlusieursNoms = d.PlusieursNoms;
  e.AttributsEtendus = d.AttributsEtendus;
  e.Uid = d.Uid;
  e.Gid = d.Gid;
  e.Inode = d.Inode;
}

TRepertoire::~TRepertoire() { Fermer(); }

TRepertoire::TRepertoire(TRepertoire&& autre) noexcept : fd_(std::exchange(autre.fd_, -1)) {}

TRepertoire& TRepertoire::operator=(TRepertoire&& autre) noexcept {
  if (this != &autre) {
    Fermer();
    fd_ = std::exchange(autre.fd_, -1);
  }
  return *this;
}

void TRepertoire::Fermer() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

int TRepertoire::Dupliquer(const TRepertoire& autre) {
  Fermer();
  fd_ = fcntl(autre.fd_, F_DUPFD_CLOEXEC, 0);
  return fd_ < 0 ? errno : 0;
}

uint64_t TRepertoire::Peripherique() const {
  struct stat st;
  return fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_dev) : 0;
}

int TRepertoire::OuvrirChemin(const std::string& chemin) {
  Fermer();
  fd_ = open(chemin.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return fd_ < 0 ? errno : 0;
}

int TRepertoire::OuvrirSous(const TRepertoire& parent, const std::string& nom) {
  return OuvrirSous(parent.fd_, nom);
}

int TRepertoire::OuvrirSous(int parentFd, const std::string& nom) {
  Fermer();
  fd_ = openat(parentFd, nom.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd_ >= 0) return 0;
  // A link where a directory was listed is not a directory to enter.
  return errno == ELOOP ? ENOTDIR : errno;
}

int TRepertoire::Lister(const std::function<void(EntreeRepertoire&)>& surEntree) const {
  EntreeRepertoire x;
  return ListerFd(
      fd_,
      [&](const char* nom, const struct stat& st) {
        x.Nom = nom;
        Remplir(x, st);
        surEntree(x);
      },
      true);
}

int TRepertoire::LireNoms(
    const std::function<bool(std::string_view nom, uint64_t inode)>& surNom) const {
  interne::LecteurNoms lecteur(fd_);
  if (const int err = lecteur.Commencer()) return err;
  for (;;) {
    int err = 0;
    const struct dirent64* e = lecteur.Suivante(err);
    if (e == nullptr) return err;  // 0 at the normal end
    if (!surNom(e->d_name, static_cast<uint64_t>(e->d_ino))) return ECANCELED;
  }
}

int TRepertoire::DecrireEntree(const std::string& nom, EntreeRepertoire& e) const {
  e.Nom = nom;
  DescriptionEntree d;
  if (int err = DecrireEntree(nom.c_str(), d)) return err;
  Deplier(d, e.Nom, e);
  return 0;
}

int TRepertoire::DecrireEntree(const char* nom, DescriptionEntree& d,
                               const SeuilAttributs* seuil) const {
  if (EstPointOuPointPoint(nom)) {
    d = Compacter(StatPoint());
    return 0;
  }
  struct stat st;
  if (fstatat(fd_, nom, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  d = Compacter(st);
  // Links and special files keep none that the mirror copies.
  if (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) {
    // An entry the walk knows to hold none since its last mark is not asked.
    d.AttributsEtendus = (seuil == nullptr || !seuil->Ancien(st.st_dev, st.st_ctim.tv_sec)) &&
                         PorteAttributsEtendus(fd_, nom);
  }
  return 0;
}

std::pair<uint64_t, uint64_t> TRepertoire::Identite() const {
  struct stat st;
  if (fstat(fd_, &st) != 0) return {0, 0};
  return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

bool TRepertoire::Inscriptible() const {
  return faccessat(fd_, ".", W_OK | X_OK, AT_EACCESS) == 0;
}

int TRepertoire::Decrire(EntreeRepertoire& e) const {
  struct stat st;
  if (fstat(fd_, &st) != 0) return errno;
  Remplir(e, st);
  return 0;
}

int TRepertoire::Identifier(IdentiteRepertoire& id) const {
  struct stat st;
  struct statfs sf;
  if (fstat(fd_, &st) != 0 || fstatfs(fd_, &sf) != 0) return errno;
  uint64_t fsid = 0;
  static_assert(sizeof sf.f_fsid == sizeof fsid);
  std::memcpy(&fsid, &sf.f_fsid, sizeof fsid);
  id.SystemeFichiers = fsid;
  id.Peripherique = static_cast<uint64_t>(st.st_dev);
  id.Inode = static_cast<uint64_t>(st.st_ino);
  id.SecondesChangement = static_cast<int64_t>(st.st_ctim.tv_sec);
  id.NanosChangement = static_cast<int32_t>(st.st_ctim.tv_nsec);
  switch (static_cast<unsigned long>(sf.f_type) & 0xFFFFFFFFul) {
    case kExt4:
    case kXfs:
    case kBtrfs:
    case kTmpfs:
    case kF2fs:
      id.HorlogeLocale = true;
      break;
    default:
      id.HorlogeLocale = false;
  }
  return 0;
}

int TRepertoire::LireLien(const std::string& nom, std::string& cible) const {
  return LireLienA(fd_, nom, cible);
}

int TRepertoire::LireFichier(const std::string& nom, std::string& contenu) const {
  return LireFichierA(fd_, nom, contenu);
}

int TRepertoire::LireDebut(const std::string& nom, size_t n, std::string& debut) const {
  return LireFichierA(fd_, nom, debut, n);
}

ProprietesRepertoire TRepertoire::Proprietes() const {
  ProprietesRepertoire p;
  struct statfs sf;
  if (fstatfs(fd_, &sf) != 0) return p;
  const unsigned long type = static_cast<unsigned long>(sf.f_type) & 0xFFFFFFFFul;
  p.SansAttributsEtendus = !AttributsEtendusPossibles(fd_);
  switch (type) {
    case kMsdos:
      p.DeuxSecondes = true;
      [[fallthrough]];
    case kExfat:
    case kNtfs:
    case kNtfs3:
    case kCifs:
    case kSmb2:
    case kSmb:
      p.ReplieCasse = true;
      p.NomsWindows = true;
      break;
    case kFuse:
      p.ReplieIncertain = true;
      break;
    case kExt4:
    case kF2fs: {
      p.ParRepertoire = true;
      long flags = 0;
      if (ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_CASEFOLD_FL) != 0) {
        p.ReplieCasse = true;
      }
      break;
    }
    default:
      break;
  }
  return p;
}

bool TRepertoire::ExisteEntree(const std::string& nom) const {
  struct stat st;
  return fstatat(fd_, nom.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

int TRepertoire::SonderCasse() const {
  Temporaire tmp(fd_);
  if (tmp.Creer([&](const std::string& n) {
        int f = openat(fd_, n.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (f < 0) return errno;
        ::close(f);
        return 0;
      }) != 0) {
    return -1;
  }
  std::string autre = tmp.nom();
  for (char& c : autre) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return ExisteEntree(autre) ? 1 : 0;
}

int CreerRepertoire(const TRepertoire& parent, const std::string& nom) {
  return AvecRepertoireInscriptible(
      parent.fd(), [&] { return mkdirat(parent.fd(), nom.c_str(), 0700) == 0 ? 0 : errno; });
}

int SupprimerFichier(const TRepertoire& parent, const std::string& nom) {
  return AvecRepertoireInscriptible(
      parent.fd(), [&] { return unlinkat(parent.fd(), nom.c_str(), 0) == 0 ? 0 : errno; });
}

int Renommer(const TRepertoire& dir, const std::string& ancien, const std::string& nouveau) {
  return AvecRepertoireInscriptible(dir.fd(), [&] {
    return renameat(dir.fd(), ancien.c_str(), dir.fd(), nouveau.c_str()) == 0 ? 0 : errno;
  });
}

int SupprimerArborescence(const TRepertoire& parent, const std::string& nom, int32_t& nbFichiers) {
  struct stat pst, st;
  if (fstat(parent.fd(), &pst) != 0) return errno;
  if (fstatat(parent.fd(), nom.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) {
    // Replaced by a file or a link since it was listed: it goes all the same, as itself.
    int r = SupprimerFichier(parent, nom);
    if (r == 0) ++nbFichiers;
    return r;
  }
  return AvecRepertoireInscriptible(parent.fd(), [&]() -> int {
    // Only the directory being emptied is open (and, while going up, its parent): the
    // path down is kept as names, and each way up is checked by device and inode.
    std::vector<Cadre> pile(1);
    UniqueFd courant;
    if (int r =
            OuvrirPourSupprimer(parent.fd(), nom, pst.st_dev, courant, pile.back(), nbFichiers)) {
      return r;
    }
    for (;;) {
      Cadre& haut = pile.back();
      if (!haut.sousReps.empty()) {
        const std::string s = std::move(haut.sousReps.back());
        haut.sousReps.pop_back();
        Cadre enfant;
        UniqueFd fd;
        int r = OuvrirPourSupprimer(courant.get(), s, pst.st_dev, fd, enfant, nbFichiers);
        if (r == ENOTDIR) {
          if (unlinkat(courant.get(), s.c_str(), 0) == 0) ++nbFichiers;
          continue;
        }
        if (r == ENOENT) continue;
        if (r != 0) return r;
        pile.push_back(std::move(enfant));
        courant.reset(fd.release());
        continue;
      }
      if (pile.size() == 1) {
        courant.reset(-1);
        return unlinkat(parent.fd(), nom.c_str(), AT_REMOVEDIR) == 0 ? 0 : errno;
      }
      UniqueFd dessus(openat(courant.get(), "..", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!dessus.valide()) return errno;
      struct stat ds;
      if (fstat(dessus.get(), &ds) != 0) return errno;
      const Cadre& attendu = pile[pile.size() - 2];
      if (ds.st_dev != attendu.dev || ds.st_ino != attendu.ino) return ESTALE;  // moved away
      courant.reset(-1);
      if (unlinkat(dessus.get(), haut.nom.c_str(), AT_REMOVEDIR) != 0) return errno;
      pile.pop_back();
      courant.reset(dessus.release());
    }
  });
}

int Synchroniser(const TRepertoire& dir) { return syncfs(dir.fd()) == 0 ? 0 : errno; }

void ElargirLimiteDescripteurs() {
  struct rlimit lim;
  if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
    lim.rlim_cur = lim.rlim_max;
    setrlimit(RLIMIT_NOFILE, &lim);
  }
}

uint64_t LimiteDescripteurs() {
  struct rlimit lim;
  if (getrlimit(RLIMIT_NOFILE, &lim) != 0 || lim.rlim_cur == RLIM_INFINITY) return UINT64_MAX;
  return lim.rlim_cur;
}

bool EstRacineMontage(const TRepertoire& dir) {
  return dir.Ouvert() && interne::EstRacineMontage(dir.fd(), "");
}

int ChercherUneEntree(const std::string& chemin, bool& trouvee, const std::string& ignore) {
  trouvee = false;
  TRepertoire rep;
  if (int r = rep.OuvrirChemin(chemin)) return r;
  interne::LecteurNoms lecteur(rep.fd());
  if (const int err = lecteur.Commencer()) return err;
  for (;;) {
    int err = 0;
    const struct dirent64* e = lecteur.Suivante(err);
    if (e == nullptr) return err;  // 0 at the normal end: nothing but "." and ".."
    if (EstPointOuPointPoint(e->d_name) || (!ignore.empty() && ignore == e->d_name)) continue;
    // One description, as a full listing would make: an entry gone since it was read
    // does not count, one that cannot be described is a failure.
    struct stat st;
    if (fstatat(rep.fd(), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;
      return errno;
    }
    trouvee = true;
    return 0;
  }
}

bool EstRepertoire(const std::string& chemin) {
  struct stat st;
  return stat(chemin.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool EstDansRepertoire(const std::string& interieur, const std::string& exterieur) {
  struct stat ext;
  if (stat(exterieur.c_str(), &ext) != 0 || !S_ISDIR(ext.st_mode)) return false;
  std::string c = CheminCanonique(interieur);
  while (!c.empty()) {
    struct stat st;
    if (stat(c.c_str(), &st) == 0 && st.st_dev == ext.st_dev && st.st_ino == ext.st_ino) {
      return true;
    }
    const std::string parent = Parent(c);
    if (parent == c) break;  // "/" (and "." of a path left relative)
    c = parent;
  }
  return false;
}

std::string CheminCanonique(const std::string& chemin) {
  std::error_code ec;
  // Made absolute first: the canonical form of a relative path that does not exist yet
  // would stay relative.
  std::filesystem::path p = std::filesystem::absolute(chemin, ec);
  if (ec) return {};
  p = std::filesystem::weakly_canonical(p, ec);
  if (ec) return {};
  std::string s = p.string();
  // weakly_canonical keeps a trailing separator of a path that does not exist yet
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

}  // namespace jumelix::platform
