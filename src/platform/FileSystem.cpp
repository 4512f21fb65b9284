#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <utility>

namespace jumelix::platform {
namespace {

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

// The directory part of a path ("." for a bare name, "/" for a name at the root).
std::string Parent(const std::string& chemin) {
  size_t p = chemin.find_last_of('/');
  if (p == std::string::npos) return ".";
  if (p == 0) return "/";
  return chemin.substr(0, p);
}

std::string NomSeul(const std::string& chemin) {
  size_t p = chemin.find_last_of('/');
  return p == std::string::npos ? chemin : chemin.substr(p + 1);
}

// Runs `op` (returning 0 or an errno). When it is refused for lack of permission and the
// directory `dir` belongs to us without owner write and search rights, the directory gets
// them for one more try and its mode is restored afterwards.
template <class Op>
int AvecRepertoireInscriptible(const std::string& dir, Op op) {
  int r = op();
  if (r != EACCES && r != EPERM) return r;
  struct stat st;
  if (stat(dir.c_str(), &st) != 0 || st.st_uid != geteuid()) return r;
  if ((st.st_mode & (S_IWUSR | S_IXUSR)) == (S_IWUSR | S_IXUSR)) return r;
  if (chmod(dir.c_str(), (st.st_mode & 07777) | S_IWUSR | S_IXUSR) != 0) return r;
  r = op();
  chmod(dir.c_str(), st.st_mode & 07777);
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

int CopierFichierOrdinaire(const std::string& source, int dirfd, const std::string& nom) {
  Fd in(open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!in.ok()) return errno;
  struct stat st;
  if (fstat(in.get(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return kPasFichierOrdinaire;
  Temporaire tmp(dirfd);
  int out_fd = -1;
  // Made with the source's permissions (none for others to write, no special bits): most
  // often the mode needs no change afterwards.
  const mode_t initial = st.st_mode & 0755;
  int r = tmp.Creer([&](const std::string& n) {
    out_fd = openat(dirfd, n.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, initial);
    return out_fd < 0 ? errno : 0;
  });
  if (r != 0) return r;
  Fd out(out_fd);
  if ((r = CopierContenu(in.get(), out.get(), st.st_size, st.st_blocks)) != 0) return r;
  // The new file belongs to us, in our group or the directory's: the owner and group are
  // changed only where they differ from the source's.
  struct stat ost;
  if (fstat(out.get(), &ost) != 0) return errno;
  if (geteuid() == 0) {
    if ((ost.st_uid != st.st_uid || ost.st_gid != st.st_gid) &&
        fchown(out.get(), st.st_uid, st.st_gid) != 0) {
      return errno;
    }
  } else if (ost.st_gid != st.st_gid) {
    // Without root rights the group is kept when we belong to it; otherwise it stays ours.
    (void)fchown(out.get(), static_cast<uid_t>(-1), st.st_gid);
  }
  // Changing the owner or group leaves the permission bits of a file without special bits
  // as they were.
  if ((ost.st_mode & 07777) != (st.st_mode & 07777) && fchmod(out.get(), st.st_mode & 07777) != 0) {
    return errno;
  }
  struct timespec temps[2] = {st.st_atim, st.st_mtim};
  if (futimens(out.get(), temps) != 0) return errno;
  if ((r = out.Fermer()) != 0) return r;
  if (renameat(dirfd, tmp.nom().c_str(), dirfd, nom.c_str()) != 0) return errno;
  tmp.Valider();
  return 0;
}

int CopierLien(const std::string& source, const struct stat& st, int dirfd,
               const std::string& nom) {
  std::string cible(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
  for (;;) {
    ssize_t n = readlink(source.c_str(), cible.data(), cible.size());
    if (n < 0) return errno;
    if (static_cast<size_t>(n) < cible.size()) {
      cible.resize(static_cast<size_t>(n));
      break;
    }
    cible.resize(cible.size() * 2);
  }
  Temporaire tmp(dirfd);
  int r = tmp.Creer([&](const std::string& n) {
    return symlinkat(cible.c_str(), dirfd, n.c_str()) != 0 ? errno : 0;
  });
  if (r != 0) return r;
  if (geteuid() == 0 &&
      fchownat(dirfd, tmp.nom().c_str(), st.st_uid, st.st_gid, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno;
  }
  struct timespec temps[2] = {st.st_atim, st.st_mtim};
  if (utimensat(dirfd, tmp.nom().c_str(), temps, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  if (renameat(dirfd, tmp.nom().c_str(), dirfd, nom.c_str()) != 0) return errno;
  tmp.Valider();
  return 0;
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

int SupprimerSousArbre(int pfd, const std::string& nom, dev_t dev, int32_t& nbFichiers) {
  struct stat st;
  if (fstatat(pfd, nom.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) return ENOTDIR;
  if (st.st_dev != dev || EstRacineMontage(pfd, nom.c_str())) return EXDEV;
  // Listing needs read and search rights, emptying needs write: the directory is to go.
  if ((st.st_mode & S_IRWXU) != S_IRWXU) {
    fchmodat(pfd, nom.c_str(), (st.st_mode & 07777) | S_IRWXU, 0);
  }
  int fd = openat(pfd, nom.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno;
  DIR* d = fdopendir(fd);
  if (d == nullptr) {
    int e = errno;
    ::close(fd);
    return e;
  }
  Dir rep(d);
  std::vector<std::string> sousReps, fichiers;
  for (;;) {
    errno = 0;
    dirent* e = readdir(d);
    if (e == nullptr) {
      if (errno != 0) return errno;
      break;
    }
    if (EstPointOuPointPoint(e->d_name)) continue;
    struct stat es;
    if (fstatat(dirfd(d), e->d_name, &es, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;
      return errno;
    }
    (S_ISDIR(es.st_mode) ? sousReps : fichiers).emplace_back(e->d_name);
  }
  for (const std::string& s : sousReps) {
    if (int r = SupprimerSousArbre(dirfd(d), s, dev, nbFichiers)) return r;
  }
  for (const std::string& f : fichiers) {
    if (unlinkat(dirfd(d), f.c_str(), 0) == 0) ++nbFichiers;
  }
  if (unlinkat(pfd, nom.c_str(), AT_REMOVEDIR) != 0) return errno;
  return 0;
}

}  // namespace

DateDos VersDateDos(int64_t secondes) {
  DateDos d;
  d.Secondes = secondes;
  time_t t = static_cast<time_t>(secondes);
  struct tm l;
  if (localtime_r(&t, &l) == nullptr) {
    d.HorsPlage = true;
    return d;
  }
  int64_t annee = static_cast<int64_t>(l.tm_year) + 1900;
  if (annee < 1980 || annee > 2107) {
    d.HorsPlage = true;
    return d;
  }
  uint32_t v = (static_cast<uint32_t>(annee - 1980) << 25) |
               (static_cast<uint32_t>(l.tm_mon + 1) << 21) |
               (static_cast<uint32_t>(l.tm_mday) << 16) | (static_cast<uint32_t>(l.tm_hour) << 11) |
               (static_cast<uint32_t>(l.tm_min) << 5) |
               // a leap second (60) stays within its 5 bits as 30
               (static_cast<uint32_t>(l.tm_sec) / 2);
  d.Valeur = static_cast<int32_t>(v);
  return d;
}

namespace {
// Opens a directory for listing; null with errno set on failure.
DIR* OuvrirRepertoire(const std::string& chemin, bool suivreLien) {
  int fd = open(chemin.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (suivreLien ? 0 : O_NOFOLLOW));
  if (fd < 0) return nullptr;
  DIR* d = fdopendir(fd);
  if (d == nullptr) {
    int e = errno;
    ::close(fd);
    errno = e;
  }
  return d;
}
}  // namespace

int ParcourirRepertoire(const std::string& chemin, bool suivreLien,
                        const std::function<void(EntreeRepertoire&)>& surEntree) {
  Dir rep(OuvrirRepertoire(chemin, suivreLien));
  DIR* d = rep.get();
  if (d == nullptr) return errno;
  EntreeRepertoire x;
  for (;;) {
    errno = 0;
    dirent* e = readdir(d);
    if (e == nullptr) return errno;  // 0 at the normal end
    x.Nom = e->d_name;
    x.Attr = 0;
    x.Date = DateDos{};
    x.Taille = 0;
    if (EstPointOuPointPoint(e->d_name)) {
      x.Genre = GenreEntree::Repertoire;
      x.Attr = kAttrRepertoire;
      surEntree(x);
      continue;
    }
    struct stat st;
    if (fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;  // gone since it was listed
      // An entry that cannot be described fails the whole listing: treating it as absent
      // would make its counterpart look surplus.
      return errno;
    }
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
    if (e->d_name[0] == '.') x.Attr |= kAttrCache;
    x.Date = VersDateDos(static_cast<int64_t>(st.st_mtim.tv_sec));
    x.Taille = static_cast<int64_t>(st.st_size);
    surEntree(x);
  }
}

int ListerRepertoire(const std::string& chemin, bool suivreLien,
                     std::vector<EntreeRepertoire>& entrees) {
  entrees.clear();
  return ParcourirRepertoire(chemin, suivreLien,
                             [&](EntreeRepertoire& e) { entrees.push_back(std::move(e)); });
}

int ChercherUneEntree(const std::string& chemin, bool& trouvee) {
  trouvee = false;
  Dir rep(OuvrirRepertoire(chemin, true));
  DIR* d = rep.get();
  if (d == nullptr) return errno;
  for (;;) {
    errno = 0;
    dirent* e = readdir(d);
    if (e == nullptr) return errno;  // 0 at the normal end: nothing but "." and ".."
    if (EstPointOuPointPoint(e->d_name)) continue;
    // One description, as a full listing would make: an entry gone since it was read
    // does not count, one that cannot be described is a failure.
    struct stat st;
    if (fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
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

int CreerRepertoire(const std::string& chemin) {
  return AvecRepertoireInscriptible(Parent(chemin),
                                    [&] { return mkdir(chemin.c_str(), 0777) == 0 ? 0 : errno; });
}

int CreerRepertoires(const std::string& chemin) {
  for (size_t fin = 0; fin != std::string::npos;) {
    fin = chemin.find('/', fin + 1);
    std::string prefixe = chemin.substr(0, fin);
    if (prefixe.empty() || EstRepertoire(prefixe)) continue;
    int r = CreerRepertoire(prefixe);
    if (r == EEXIST) {
      if (EstRepertoire(prefixe)) continue;  // made meanwhile
      return ENOTDIR;                        // something that is not a directory stands there
    }
    if (r != 0) return r;
  }
  return 0;
}

TRepertoireCible::TRepertoireCible(std::string chemin) : chemin_(std::move(chemin)) {}

TRepertoireCible::~TRepertoireCible() {
  if (fd_ >= 0) ::close(fd_);
}

int TRepertoireCible::Copier(const std::string& source, const std::string& nom) {
  struct stat st;
  if (lstat(source.c_str(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) return kPasFichierOrdinaire;
  return AvecRepertoireInscriptible(chemin_, [&] {
    if (fd_ < 0) {
      fd_ = open(chemin_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (fd_ < 0) return errno;
    }
    if (S_ISLNK(st.st_mode)) return CopierLien(source, st, fd_, nom);
    return CopierFichierOrdinaire(source, fd_, nom);
  });
}

int CopierFichier(const std::string& source, const std::string& destination) {
  return TRepertoireCible(Parent(destination)).Copier(source, NomSeul(destination));
}

int SupprimerFichier(const std::string& chemin) {
  return AvecRepertoireInscriptible(Parent(chemin),
                                    [&] { return unlink(chemin.c_str()) == 0 ? 0 : errno; });
}

int SupprimerArborescence(const std::string& chemin, int32_t& nbFichiers) {
  struct stat st, pst;
  if (lstat(chemin.c_str(), &st) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) return ENOTDIR;
  const std::string parent = Parent(chemin);
  if (stat(parent.c_str(), &pst) != 0) return errno;
  if (st.st_dev != pst.st_dev) return EXDEV;
  return AvecRepertoireInscriptible(parent, [&] {
    Fd pfd(open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!pfd.ok()) return errno;
    return SupprimerSousArbre(pfd.get(), NomSeul(chemin), pst.st_dev, nbFichiers);
  });
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
