// Descriptor owners and helpers shared by the platform's file-system sources (listing and
// deletion in FileSystem.cpp, copies in CopieFichier.cpp). Not part of the platform's
// interface: nothing outside src/platform includes it.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <utility>

#include "platform/UniqueFd.h"

namespace jumelix::platform::interne {

// The entries of the open directory `fd`, read straight from it from its start: no
// duplicate descriptor and no stream, so a small directory costs three calls (the return
// to its start and two reads) where a stream over a duplicate costs seven. The offset is
// that of `fd`'s open file, which a duplicate would share as well: one listing at a time.
class LecteurNoms {
 public:
  explicit LecteurNoms(int fd) : fd_(fd) {}
  // 0, or the errno of the return to the start.
  int Commencer() {
    tampon_.reset(new char[kTaille]);
    return lseek(fd_, 0, SEEK_SET) < 0 ? errno : 0;
  }
  // The next entry; null at the end (`err` 0) or on a failure (`err` its errno).
  const struct dirent64* Suivante(int& err) {
    if (pos_ >= fin_) {
      const ssize_t n = getdents64(fd_, tampon_.get(), kTaille);
      if (n <= 0) {
        err = n < 0 ? errno : 0;
        return nullptr;
      }
      pos_ = 0;
      fin_ = static_cast<size_t>(n);
    }
    const auto* e = reinterpret_cast<const struct dirent64*>(tampon_.get() + pos_);
    pos_ += e->d_reclen;
    return e;
  }

 private:
  static constexpr size_t kTaille = 32768;
  int fd_;
  std::unique_ptr<char[]> tampon_;  // its records are 8-byte aligned within it
  size_t pos_ = 0, fin_ = 0;
};

// One entry held by an O_PATH descriptor, never followed and never opened for reading (a
// device or a FIFO is not touched), whose owner, mode and times are changed through that
// descriptor: once it is open and checked, no swap of its name (for a hard link to a file
// elsewhere, which AT_SYMLINK_NOFOLLOW does not refuse) can redirect the change.
class EntreeVisee {
 public:
  // Opens the entry `nom` of `dirfd` and describes it (Etat). 0 or an errno.
  int Ouvrir(int dirfd, const char* nom) {
    fd_.reset(openat(dirfd, nom, O_PATH | O_NOFOLLOW | O_CLOEXEC));
    brut_ = fd_.get();
    if (!fd_.valide()) return errno;
    return Decrire();
  }
  // Works on `fd`, a file or directory open for real that another object owns.
  int Emprunter(int fd) {
    fd_.reset(-1);
    brut_ = fd;
    return Decrire();
  }
  // Describes it again (after a change of owner, which may clear set-ID bits).
  int Decrire() { return fstat(brut_, &st_) == 0 ? 0 : errno; }
  const struct stat& Etat() const { return st_; }
  int fd() const { return brut_; }
  int Chown(uid_t u, gid_t g) { return fchownat(brut_, "", u, g, AT_EMPTY_PATH) == 0 ? 0 : errno; }
  // Never for a link (Linux keeps no mode for links).
  int Chmod(mode_t mode) {
    if (S_ISLNK(st_.st_mode)) return ELOOP;
    if (!fd_.valide()) return fchmod(brut_, mode) == 0 ? 0 : errno;
    // Any failure tries /proc too: a sandbox that does not know the call refuses it with
    // EPERM (systemd's SystemCallFilter), an older kernel with ENOSYS.
    if (kFchmodat2 > 0 && syscall(kFchmodat2, brut_, "", mode, AT_EMPTY_PATH) == 0) return 0;
    return chmod(CheminProc().c_str(), mode) == 0 ? 0 : errno;
  }
  // The times of the entry itself, a link included (the /proc name of the descriptor
  // reaches the link, not its target).
  int Dater(const struct timespec temps[2]) {
    if (!fd_.valide()) return futimens(brut_, temps) == 0 ? 0 : errno;
    return utimensat(AT_FDCWD, CheminProc().c_str(), temps, 0) == 0 ? 0 : errno;
  }

 private:
  // fchmodat2 (Linux 6.6) takes AT_EMPTY_PATH; older kernels go through /proc.
#if defined(SYS_fchmodat2)
  static constexpr long kFchmodat2 = SYS_fchmodat2;
#elif defined(__x86_64__) || defined(__i386__) || defined(__aarch64__) || defined(__arm__) || \
    defined(__riscv) || defined(__powerpc64__) || defined(__s390x__)
  static constexpr long kFchmodat2 = 452;
#else
  static constexpr long kFchmodat2 = -1;
#endif
  std::string CheminProc() const { return "/proc/self/fd/" + std::to_string(brut_); }

  UniqueFd fd_;
  int brut_ = -1;
  struct stat st_ {};
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
