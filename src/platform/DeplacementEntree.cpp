// Moves between directories of one file system (platform/FileSystem.h): what the archive
// of a destination needs, one rename per entry whatever its size, nothing ever copied.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/FileSystemInterne.h"

namespace jumelix::platform {

namespace {

using interne::AvecRepertoireInscriptible;
using interne::Dir;
using interne::EstRacineMontage;
using interne::Fd;

bool MemesTemps(const struct stat& a, const struct stat& b) {
  return a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// renameat2 without replacing; where the file system knows no such flag, a look first
// (the window between the two is the same as any rename's).
int RenommerSansRemplacer(int de, const char* nom, int vers, const char* nouveau) {
  if (renameat2(de, nom, vers, nouveau, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
  struct stat st;
  if (fstatat(vers, nouveau, &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
  return renameat(de, nom, vers, nouveau) == 0 ? 0 : errno;
}

}  // namespace

int Deplacer(const TRepertoire& de, const std::string& nom, const TRepertoire& vers,
             const std::string& nouveau) {
  struct stat st;
  if (fstatat(de.fd(), nom.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  const bool repertoire = S_ISDIR(st.st_mode);
  // Moving a directory to another parent rewrites its "..": that needs its write right.
  const bool droit = repertoire && geteuid() != 0 && (st.st_mode & S_IWUSR) == 0;
  if (droit &&
      fchmodat(de.fd(), nom.c_str(), (st.st_mode & 07777) | S_IWUSR, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno;
  }
  int r = AvecRepertoireInscriptible(de.fd(), [&] {
    return RenommerSansRemplacer(de.fd(), nom.c_str(), vers.fd(), nouveau.c_str());
  });
  const int ou = r == 0 ? vers.fd() : de.fd();
  const std::string& ici = r == 0 ? nouveau : nom;
  // A failure leaves the write right on: the entry has moved all the same.
  if (droit && fchmodat(ou, ici.c_str(), st.st_mode & 07777, AT_SYMLINK_NOFOLLOW) != 0) {
  }
  struct stat apres;
  if (r == 0 && repertoire && fstatat(ou, ici.c_str(), &apres, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISDIR(apres.st_mode) && !MemesTemps(st, apres)) {
    struct timespec temps[2] = {st.st_atim, st.st_mtim};
    utimensat(ou, ici.c_str(), temps, AT_SYMLINK_NOFOLLOW);
  }
  return r;
}

int Echanger(const TRepertoire& dir, const std::string& a, const std::string& b) {
  return AvecRepertoireInscriptible(dir.fd(), [&] {
    return renameat2(dir.fd(), a.c_str(), dir.fd(), b.c_str(), RENAME_EXCHANGE) == 0 ? 0 : errno;
  });
}

int ExaminerArborescence(const TRepertoire& parent, const std::string& nom, int32_t& nbFichiers) {
  struct stat pst;
  if (fstat(parent.fd(), &pst) != 0) return errno;
  int32_t compte = 0;
  std::vector<std::unique_ptr<Dir>> pile;
  // Opens the subdirectory `n` of `dirfd`, checked to be on the parent's file system.
  auto entrer = [&](int dirfd, const char* n) -> int {
    struct stat st;
    if (fstatat(dirfd, n, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    if (!S_ISDIR(st.st_mode)) return ENOTDIR;
    if (st.st_dev != pst.st_dev || EstRacineMontage(dirfd, n)) return EXDEV;
    Fd fd(openat(dirfd, n, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.ok()) return errno;
    DIR* d = fdopendir(fd.get());
    if (d == nullptr) return errno;
    fd.release();
    pile.push_back(std::make_unique<Dir>(d));
    return 0;
  };
  if (int r = entrer(parent.fd(), nom.c_str())) return r;
  while (!pile.empty()) {
    DIR* d = pile.back()->get();
    errno = 0;
    dirent* e = readdir(d);
    if (e == nullptr) {
      if (errno != 0) return errno;
      pile.pop_back();
      continue;
    }
    const char* n = e->d_name;
    if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'))) continue;
    if (e->d_type != DT_DIR && e->d_type != DT_UNKNOWN) {
      ++compte;
      continue;
    }
    int r = entrer(dirfd(d), n);
    if (r == ENOTDIR) {
      ++compte;
    } else if (r != 0 && r != ENOENT) {
      return r;
    }
  }
  nbFichiers += compte;
  return 0;
}

}  // namespace jumelix::platform
