// Descriptor owners and helpers shared by the platform's file-system sources (listing and
// deletion in FileSystem.cpp, copies in CopieFichier.cpp). Not part of the platform's
// interface: nothing outside src/platform includes it.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <random>
#include <string>
#include <utility>

namespace jumelix::platform::interne {

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

// Runs `op` (returning 0 or an errno). When it is refused for lack of permission and the
// directory `dirfd` belongs to us without owner write and search rights, the directory gets
// them for this one more try only, and its mode is restored at once.
template <class Op>
inline int AvecRepertoireInscriptible(int dirfd, Op op) {
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

// True when the entry `nom` of `dirfd` (the empty name: `dirfd` itself) is the root of a
// mount (a bind mount of the same file system has the same device number, so the device
// test alone misses it).
inline bool EstRacineMontage(int dirfd, const char* nom) {
#ifdef STATX_ATTR_MOUNT_ROOT
  struct statx sx;
  const int drapeaux = AT_SYMLINK_NOFOLLOW | (*nom == '\0' ? AT_EMPTY_PATH : 0);
  if (statx(dirfd, nom, drapeaux, STATX_BASIC_STATS, &sx) == 0 &&
      (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0) {
    return (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
  }
#endif
  (void)dirfd;
  (void)nom;
  return false;
}

inline std::string NomTemporaire() {
  // One generator per thread: copies may be written by several threads at once.
  thread_local std::mt19937_64 alea{std::random_device{}()};
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

}  // namespace jumelix::platform::interne
