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

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <utility>

namespace jumelix::platform {

void (*CrochetApresContenu)(const std::string& nomSource) = nullptr;

namespace {

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
#ifndef FS_CASEFOLD_FL
constexpr long FS_CASEFOLD_FL = 0x40000000;
#endif

// Owns a file descriptor; closing errors are ignored except where Fermer() is called.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  void reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  int release() { return std::exchange(fd_, -1); }
  // Closes now and returns 0 or the errno of the close (a late write error shows here).
  int Fermer() {
    int r = ::close(fd_);
    fd_ = -1;
    return r == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

// Owns a DIR stream.
class Dir {
 public:
  explicit Dir(DIR* d) : d_(d) {}
  ~Dir() {
    if (d_ != nullptr) closedir(d_);
  }
  Dir(const Dir&) = delete;
  Dir& operator=(const Dir&) = delete;
  DIR* get() const { return d_; }

 private:
  DIR* d_;
};

bool EstPointOuPointPoint(const char* n) {
  return n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'));
}

std::string Parent(const std::string& chemin) {
  size_t p = chemin.find_last_of('/');
  if (p == std::string::npos) return ".";
  if (p == 0) return "/";
  return chemin.substr(0, p);
}

void Remplir(EntreeRepertoire& x, const struct stat& st) {
  x.Attr = 0;
  if (S_ISDIR(st.st_mode)) {
    x.Genre = GenreEntree::Repertoire;
    x.Attr |= kAttrRepertoire;
  } else if (S_ISLNK(st.st_mode)) {
    x.Genre = GenreEntree::Lien;
  } else if (S_ISREG(st.st_mode)) {
    x.Genre = GenreEntree::Fichier;
  } else {
    x.Genre = GenreEntree::Special;
  }
  if ((st.st_mode & S_IWUSR) == 0) x.Attr |= kAttrLectureSeule;
  if (!x.Nom.empty() && x.Nom[0] == '.') x.Attr |= kAttrCache;
  x.Taille = static_cast<int64_t>(st.st_size);
  x.Secondes = static_cast<int64_t>(st.st_mtim.tv_sec);
  x.Nanos = static_cast<int32_t>(st.st_mtim.tv_nsec);
  x.Mode = st.st_mode;
  x.Uid = st.st_uid;
  x.Gid = st.st_gid;
  x.Rdev = st.st_rdev;
}

// Runs `op` (returning 0 or an errno). When it is refused for lack of permission and the
// directory `dirfd` belongs to us without owner write and search rights, the directory gets
// them for this one more try only, and its mode is restored at once.
template <class Op>
int AvecRepertoireInscriptible(int dirfd, Op op) {
  int r = op();
  if (r != EACCES && r != EPERM) return r;
  struct stat st;
  if (fstat(dirfd, &st) != 0 || st.st_uid != geteuid()) return r;
  if ((st.st_mode & (S_IWUSR | S_IXUSR)) == (S_IWUSR | S_IXUSR)) return r;
  if (fchmod(dirfd, (st.st_mode & 07777) | S_IWUSR | S_IXUSR) != 0) return r;
  r = op();
  fchmod(dirfd, st.st_mode & 07777);
  return r;
}

std::string NomTemporaire() {
  static std::mt19937_64 alea{std::random_device{}()};
  static const char hex[] = "0123456789abcdef";
  std::string nom = ".jumelix-";
  uint64_t v = alea();
  for (int i = 0; i < 12; ++i, v >>= 4) nom += hex[v & 15];
  return nom + ".tmp";
}

// A temporary entry in a directory, removed at destruction unless Valider() was called.
class Temporaire {
 public:
  explicit Temporaire(int dirfd) : dirfd_(dirfd) {}
  ~Temporaire() {
    if (!nom_.empty() && !valide_) unlinkat(dirfd_, nom_.c_str(), 0);
  }
  Temporaire(const Temporaire&) = delete;
  Temporaire& operator=(const Temporaire&) = delete;
  // Creates the entry with `creer(nom)` (0 or errno), trying fresh names while taken.
  template <class Fabrique>
  int Creer(Fabrique creer) {
    for (int essai = 0; essai < 100; ++essai) {
      std::string nom = NomTemporaire();
      int r = creer(nom);
      if (r == 0) {
        nom_ = nom;
        return 0;
      }
      if (r != EEXIST) return r;
    }
    return EEXIST;
  }
  const std::string& nom() const { return nom_; }
  void Valider() { valide_ = true; }

 private:
  int dirfd_;
  std::string nom_;
  bool valide_ = false;
};

int CopierParLectureEcriture(int in, int out, off_t debut, off_t longueur, off_t& fin) {
  std::vector<char> tampon(1 << 20);
  while (longueur > 0) {
    size_t n = static_cast<size_t>(std::min<off_t>(longueur, static_cast<off_t>(tampon.size())));
    ssize_t lu = pread(in, tampon.data(), n, debut);
    if (lu < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (lu == 0) return 0;  // the source shrank meanwhile
    for (ssize_t fait = 0; fait < lu;) {
      ssize_t e = pwrite(out, tampon.data() + fait, static_cast<size_t>(lu - fait), debut + fait);
      if (e < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      fait += e;
    }
    debut += lu;
    longueur -= lu;
    fin = debut;
  }
  return 0;
}

// Copies up to `longueur` bytes at `debut`; `fin` receives the offset the copy reached
// (less than debut + longueur when the source shrank meanwhile).
int CopierPlage(int in, int out, off_t debut, off_t longueur, off_t& fin) {
  loff_t pin = debut, pout = debut;
  fin = debut;
  while (longueur > 0) {
    ssize_t n = copy_file_range(in, &pin, out, &pout, static_cast<size_t>(longueur), 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
          errno == EBADF) {
        return CopierParLectureEcriture(in, out, pin, longueur, fin);
      }
      return errno;
    }
    if (n == 0) break;
    longueur -= n;
    fin = pout;
  }
  return 0;
}

// Copies the data of `in` (a regular file of `taille` bytes occupying `blocs` 512-byte
// blocks) into the new, empty file `out`, leaving holes as holes, and gives `out` the size.
int CopierContenu(int in, int out, off_t taille, blkcnt_t blocs) {
  off_t ecrit = 0;  // the size of `out` so far
  // A file whose blocks cover its size has no hole worth looking for.
  if (blocs * 512 >= taille) {
    if (int r = CopierPlage(in, out, 0, taille, ecrit)) return r;
  } else {
    off_t pos = 0;
    while (pos < taille) {
      off_t donnees = lseek(in, pos, SEEK_DATA);
      off_t trou = taille;
      if (donnees < 0) {
        if (errno == ENXIO) break;  // only a hole remains
        donnees = pos;              // no hole support: copy everything
      } else {
        trou = lseek(in, donnees, SEEK_HOLE);
        if (trou < 0 || trou > taille) trou = taille;
      }
      if (donnees >= taille) break;
      off_t fin = donnees;
      if (int r = CopierPlage(in, out, donnees, trou - donnees, fin)) return r;
      if (fin > donnees) ecrit = fin;
      pos = trou;
    }
  }
  // Only a final hole, or a source that shrank meanwhile, leaves the size to set.
  if (ecrit != taille && ftruncate(out, taille) != 0) return errno;
  return 0;
}

bool MemeEtat(const struct stat& a, const struct stat& b) {
  return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
         a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && a.st_ctim.tv_sec == b.st_ctim.tv_sec &&
         a.st_ctim.tv_nsec == b.st_ctim.tv_nsec && a.st_ino == b.st_ino;
}

// Gives the new entry `nom` of `dirfd` (or the open file `fd` when >= 0) the owner, group
// and mode of `st`, as far as the options and our rights allow. `lien`: never a mode.
int DonnerProprietaireEtMode(int dirfd, const std::string& nom, int fd, const struct stat& st,
                             bool lien, const OptionsCopie& options) {
  if (!options.GarderDroits) return 0;
  struct stat actuel;
  if ((fd >= 0 ? fstat(fd, &actuel) : fstatat(dirfd, nom.c_str(), &actuel, AT_SYMLINK_NOFOLLOW)) !=
      0) {
    return errno;
  }
  auto chown_ = [&](uid_t u, gid_t g) {
    return fd >= 0 ? fchown(fd, u, g) : fchownat(dirfd, nom.c_str(), u, g, AT_SYMLINK_NOFOLLOW);
  };
  bool change = false;  // a change of owner or group may clear the set-ID bits
  if (geteuid() == 0) {
    if (actuel.st_uid != st.st_uid || actuel.st_gid != st.st_gid) {
      if (chown_(st.st_uid, st.st_gid) != 0) return errno;
      change = true;
    }
    actuel.st_uid = st.st_uid;
    actuel.st_gid = st.st_gid;
  } else if (actuel.st_gid != st.st_gid) {
    // Without root rights the group is kept when we belong to it; otherwise it stays ours.
    if (chown_(static_cast<uid_t>(-1), st.st_gid) == 0) {
      actuel.st_gid = st.st_gid;
      change = true;
    }
  }
  if (lien) return 0;
  const mode_t voulu = ModeAttendu(st.st_mode, actuel.st_uid == st.st_uid,
                                   actuel.st_gid == st.st_gid);
  struct stat apres = actuel;
  if (change &&
      (fd >= 0 ? fstat(fd, &apres) : fstatat(dirfd, nom.c_str(), &apres, AT_SYMLINK_NOFOLLOW)) !=
          0) {
    return errno;
  }
  if ((apres.st_mode & 07777) == voulu) return 0;
  if (S_ISLNK(apres.st_mode)) return ELOOP;  // swapped meanwhile: never chmod a link
  int r = fd >= 0 ? fchmod(fd, voulu) : fchmodat(dirfd, nom.c_str(), voulu, AT_SYMLINK_NOFOLLOW);
  return r == 0 ? 0 : errno;
}

int EcrireFichierOrdinaire(int srcdir, const std::string& nomSource, int dirfd,
                           const OptionsCopie& options, Temporaire& tmp) {
  Fd in(openat(srcdir, nomSource.c_str(),
               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!in.ok()) return errno == ELOOP ? kModifiePendantCopie : errno;
  struct stat st;
  if (fstat(in.get(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return kModifiePendantCopie;  // swapped since it was listed
  int out_fd = -1;
  // Made with the source's permissions, no set-ID bit: those come once the owner is right.
  int r = tmp.Creer([&](const std::string& n) {
    out_fd = openat(dirfd, n.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                    st.st_mode & 0777);
    return out_fd < 0 ? errno : 0;
  });
  if (r != 0) return r;
  Fd out(out_fd);
  if ((r = CopierContenu(in.get(), out.get(), st.st_size, st.st_blocks)) != 0) return r;
  if (CrochetApresContenu) CrochetApresContenu(nomSource);
  struct stat apres;
  if (fstat(in.get(), &apres) != 0) return errno;
  if (!MemeEtat(st, apres)) return kModifiePendantCopie;
  if ((r = DonnerProprietaireEtMode(dirfd, tmp.nom(), out.get(), st, false, options)) != 0) {
    return r;
  }
  struct timespec temps[2] = {st.st_atim, st.st_mtim};
  if (futimens(out.get(), temps) != 0) return errno;
  if (options.SynchroDonnees && fdatasync(out.get()) != 0) return errno;
  return out.Fermer();
}

int LireLienA(int dirfd, const std::string& nom, int64_t taille, std::string& cible) {
  cible.assign(static_cast<size_t>(taille > 0 ? taille : 255) + 1, '\0');
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

// True when the entry `nom` of `dirfd` is the root of a mount (a bind mount of the same
// file system has the same device number, so the device test alone misses it).
bool EstRacineMontage(int dirfd, const char* nom) {
#ifdef STATX_ATTR_MOUNT_ROOT
  struct statx sx;
  if (statx(dirfd, nom, AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &sx) == 0 &&
      (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0) {
    return (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
  }
#endif
  (void)dirfd;
  (void)nom;
  return false;
}

// Lists the open directory `fd` from its start (through a duplicate, so `fd` stays usable).
int ListerFd(int fd, const std::function<void(const char* nom, const struct stat& st)>& surEntree,
             bool avecPoints) {
  int copie = fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copie < 0) return errno;
  DIR* d = fdopendir(copie);
  if (d == nullptr) {
    int e = errno;
    ::close(copie);
    return e;
  }
  Dir rep(d);
  rewinddir(d);
  struct stat st;
  for (;;) {
    errno = 0;
    dirent* e = readdir(d);
    if (e == nullptr) return errno;  // 0 at the normal end
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
int OuvrirPourSupprimer(int pfd, const std::string& nom, dev_t dev, Fd& fd, Cadre& cadre,
                        int32_t& nbFichiers) {
  struct stat st;
  if (fstatat(pfd, nom.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) return ENOTDIR;
  if (st.st_dev != dev || EstRacineMontage(pfd, nom.c_str())) return EXDEV;
  // Listing needs read and search rights, emptying needs write: the directory is to go.
  if ((st.st_mode & S_IRWXU) != S_IRWXU) {
    fchmodat(pfd, nom.c_str(), (st.st_mode & 07777) | S_IRWXU, AT_SYMLINK_NOFOLLOW);
  }
  fd.reset(openat(pfd, nom.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.ok()) return errno;
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

int TRepertoire::OuvrirChemin(const std::string& chemin) {
  Fermer();
  fd_ = open(chemin.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return fd_ < 0 ? errno : 0;
}

int TRepertoire::OuvrirSous(const TRepertoire& parent, const std::string& nom) {
  Fermer();
  fd_ = openat(parent.fd_, nom.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
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
        if (EstPointOuPointPoint(nom)) x.Attr = kAttrRepertoire;
        surEntree(x);
      },
      true);
}

int TRepertoire::Decrire(EntreeRepertoire& e) const {
  struct stat st;
  if (fstat(fd_, &st) != 0) return errno;
  Remplir(e, st);
  return 0;
}

int TRepertoire::DecrireEntree(const std::string& nom, EntreeRepertoire& e) const {
  struct stat st;
  if (fstatat(fd_, nom.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  e.Nom = nom;
  Remplir(e, st);
  return 0;
}

int TRepertoire::LireLien(const std::string& nom, std::string& cible) const {
  return LireLienA(fd_, nom, 0, cible);
}

ProprietesRepertoire TRepertoire::Proprietes() const {
  ProprietesRepertoire p;
  struct statfs sf;
  if (fstatfs(fd_, &sf) != 0) return p;
  const unsigned long type = static_cast<unsigned long>(sf.f_type) & 0xFFFFFFFFul;
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

bool TRepertoire::SonderCasse() const {
  Temporaire tmp(fd_);
  if (tmp.Creer([&](const std::string& n) {
        int f = openat(fd_, n.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (f < 0) return errno;
        ::close(f);
        return 0;
      }) != 0) {
    return false;
  }
  std::string autre = tmp.nom();
  for (char& c : autre) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return ExisteEntree(autre);
}

int CreerRepertoire(const TRepertoire& parent, const std::string& nom) {
  return AvecRepertoireInscriptible(parent.fd(), [&] {
    return mkdirat(parent.fd(), nom.c_str(), 0700) == 0 ? 0 : errno;
  });
}

int SupprimerFichier(const TRepertoire& parent, const std::string& nom) {
  return AvecRepertoireInscriptible(parent.fd(), [&] {
    return unlinkat(parent.fd(), nom.c_str(), 0) == 0 ? 0 : errno;
  });
}

int Renommer(const TRepertoire& dir, const std::string& ancien, const std::string& nouveau) {
  return AvecRepertoireInscriptible(dir.fd(), [&] {
    return renameat(dir.fd(), ancien.c_str(), dir.fd(), nouveau.c_str()) == 0 ? 0 : errno;
  });
}

int SupprimerArborescence(const TRepertoire& parent, const std::string& nom,
                          int32_t& nbFichiers) {
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
    Fd courant;
    if (int r = OuvrirPourSupprimer(parent.fd(), nom, pst.st_dev, courant, pile.back(),
                                    nbFichiers)) {
      return r;
    }
    for (;;) {
      Cadre& haut = pile.back();
      if (!haut.sousReps.empty()) {
        const std::string s = std::move(haut.sousReps.back());
        haut.sousReps.pop_back();
        Cadre enfant;
        Fd fd;
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
      Fd dessus(openat(courant.get(), "..", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!dessus.ok()) return errno;
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

uint32_t ModeAttendu(uint32_t mode, bool memeProprietaire, bool memeGroupe) {
  uint32_t m = mode & 07777;
  if (!memeProprietaire) m &= ~static_cast<uint32_t>(S_ISUID | S_ISGID);
  if (!memeGroupe) m &= ~static_cast<uint32_t>(S_ISGID);
  return m;
}

int EcrireCopie(const TRepertoire& source, const std::string& nomSource, const TRepertoire& cible,
                const OptionsCopie& options, CopieEnAttente& attente) {
  struct stat st;
  if (fstatat(source.fd(), nomSource.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  const int dirfd = cible.fd();
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode) && !options.GarderDroits) {
    return kPasFichierOrdinaire;
  }
  return AvecRepertoireInscriptible(dirfd, [&]() -> int {
    Temporaire tmp(dirfd);
    int r = 0;
    if (S_ISREG(st.st_mode)) {
      r = EcrireFichierOrdinaire(source.fd(), nomSource, dirfd, options, tmp);
    } else if (S_ISLNK(st.st_mode)) {
      std::string texte;
      if ((r = LireLienA(source.fd(), nomSource, st.st_size, texte)) != 0) return r;
      r = tmp.Creer([&](const std::string& n) {
        return symlinkat(texte.c_str(), dirfd, n.c_str()) != 0 ? errno : 0;
      });
      if (r == 0) r = DonnerProprietaireEtMode(dirfd, tmp.nom(), -1, st, true, options);
      if (r == 0) {
        struct timespec temps[2] = {st.st_atim, st.st_mtim};
        if (utimensat(dirfd, tmp.nom().c_str(), temps, AT_SYMLINK_NOFOLLOW) != 0) r = errno;
      }
    } else if (S_ISDIR(st.st_mode)) {
      return EISDIR;
    } else {
      // A FIFO, socket or device: made again, never opened.
      r = tmp.Creer([&](const std::string& n) {
        return mknodat(dirfd, n.c_str(), (st.st_mode & S_IFMT) | 0600, st.st_rdev) != 0 ? errno : 0;
      });
      if (r == EPERM || r == EOPNOTSUPP || r == EINVAL || r == ENOSYS) {
        return kPasFichierOrdinaire;
      }
      if (r == 0) r = DonnerProprietaireEtMode(dirfd, tmp.nom(), -1, st, false, options);
      if (r == 0) {
        struct timespec temps[2] = {st.st_atim, st.st_mtim};
        if (utimensat(dirfd, tmp.nom().c_str(), temps, AT_SYMLINK_NOFOLLOW) != 0) r = errno;
      }
    }
    if (r != 0) return r;
    tmp.Valider();
    attente.Temporaire = tmp.nom();
    return 0;
  });
}

int Publier(const TRepertoire& cible, const CopieEnAttente& attente) {
  int r = Renommer(cible, attente.Temporaire, attente.Nom);
  if (r != 0) Abandonner(cible, attente);
  return r;
}

void Abandonner(const TRepertoire& cible, const CopieEnAttente& attente) {
  AvecRepertoireInscriptible(cible.fd(), [&] {
    return unlinkat(cible.fd(), attente.Temporaire.c_str(), 0) == 0 ? 0 : errno;
  });
}

int AppliquerAttributs(const TRepertoire& dir, const std::string& nom,
                       const EntreeRepertoire& source, const OptionsCopie& options) {
  struct stat st {};
  st.st_mode = source.Mode;
  st.st_uid = source.Uid;
  st.st_gid = source.Gid;
  const bool lien = S_ISLNK(source.Mode);
  if (int r = DonnerProprietaireEtMode(dir.fd(), nom, -1, st, lien, options)) return r;
  if (lien) {
    struct timespec temps[2] = {{0, UTIME_OMIT}, {source.Secondes, source.Nanos}};
    if (utimensat(dir.fd(), nom.c_str(), temps, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  }
  return 0;
}

int AppliquerAttributsRepertoire(const TRepertoire& dir, const EntreeRepertoire& source,
                                 const OptionsCopie& options) {
  struct stat st {};
  st.st_mode = source.Mode;
  st.st_uid = source.Uid;
  st.st_gid = source.Gid;
  if (int r = DonnerProprietaireEtMode(-1, {}, dir.fd(), st, false, options)) return r;
  struct stat actuel;
  if (fstat(dir.fd(), &actuel) != 0) return errno;
  if (actuel.st_mtim.tv_sec == source.Secondes && actuel.st_mtim.tv_nsec == source.Nanos) return 0;
  struct timespec temps[2] = {{0, UTIME_OMIT}, {source.Secondes, source.Nanos}};
  return futimens(dir.fd(), temps) == 0 ? 0 : errno;
}

int Synchroniser(const TRepertoire& dir) { return syncfs(dir.fd()) == 0 ? 0 : errno; }

void ElargirLimiteDescripteurs() {
  struct rlimit lim;
  if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
    lim.rlim_cur = lim.rlim_max;
    setrlimit(RLIMIT_NOFILE, &lim);
  }
}

int ChercherUneEntree(const std::string& chemin, bool& trouvee) {
  trouvee = false;
  TRepertoire rep;
  if (int r = rep.OuvrirChemin(chemin)) return r;
  int copie = fcntl(rep.fd(), F_DUPFD_CLOEXEC, 0);
  if (copie < 0) return errno;
  DIR* d = fdopendir(copie);
  if (d == nullptr) {
    int e = errno;
    ::close(copie);
    return e;
  }
  Dir lecture(d);
  for (;;) {
    errno = 0;
    dirent* e = readdir(d);
    if (e == nullptr) return errno;  // 0 at the normal end: nothing but "." and ".."
    if (EstPointOuPointPoint(e->d_name)) continue;
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
    if (c == "/") break;
    c = Parent(c);
  }
  return false;
}

std::string CheminCanonique(const std::string& chemin) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::weakly_canonical(chemin, ec);
  if (ec) return {};
  std::string s = p.string();
  // weakly_canonical keeps a trailing separator of a path that does not exist yet
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

}  // namespace jumelix::platform
