// Moves and hard links between directories of one file system (platform/FileSystem.h): what
// the archive of a destination needs, one rename or one link per entry whatever its size,
// nothing ever copied; and the look at a tree before it moves as a whole.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/Chemins.h"
#include "platform/FileSystem.h"
#include "platform/FileSystemInterne.h"

namespace jumelix::platform {

namespace {

using interne::AvecRepertoireInscriptible;
using interne::EstRacineMontage;

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

// One directory of a tree being examined.
struct Niveau {
  dev_t dev;
  ino_t ino;
  mode_t mode;
  bool rendre;                        // it was given read and search rights: its mode goes back
  std::vector<std::string> sousReps;  // still to examine
};

// Gives back the mode of the directory `nom` of `dirfd` (the empty name: `dirfd` itself)
// after its reading. A failure leaves the owner's read and search rights on, which is all.
void RendreMode(int dirfd, const char* nom, mode_t mode) {
  if ((*nom == '\0' ? fchmod(dirfd, mode) : fchmodat(dirfd, nom, mode, AT_SYMLINK_NOFOLLOW)) != 0) {
  }
}

// Reads the open directory `fd`: its subdirectories go to `sousReps`, each other entry
// adds one to `compte` and, when `tailles`, its size to `taille`.
int Lire(int fd, std::vector<std::string>& sousReps, int32_t& compte, int64_t& taille,
         bool tailles) {
  interne::LecteurNoms lecteur(fd);
  if (const int err = lecteur.Commencer()) return err;
  for (;;) {
    int err = 0;
    const struct dirent64* e = lecteur.Suivante(err);
    if (e == nullptr) return err;  // 0 at the normal end
    const char* n = e->d_name;
    if (EstPointOuPointPoint(n)) continue;
    const bool connu = e->d_type != DT_UNKNOWN;
    if (connu && e->d_type == DT_DIR) {
      sousReps.emplace_back(n);
      continue;
    }
    if (connu && !tailles) {
      ++compte;
      continue;
    }
    struct stat st;
    if (fstatat(fd, n, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;  // gone since it was listed
      return errno;
    }
    if (S_ISDIR(st.st_mode)) {
      sousReps.emplace_back(n);
    } else {
      ++compte;
      taille += static_cast<int64_t>(st.st_size);
    }
  }
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

int Lier(const TRepertoire& de, const std::string& nom, const TRepertoire& vers,
         const std::string& nouveau) {
  return AvecRepertoireInscriptible(vers.fd(), [&] {
    return linkat(de.fd(), nom.c_str(), vers.fd(), nouveau.c_str(), 0) == 0 ? 0 : errno;
  });
}

int LierCopie(const TRepertoire& de, const std::string& nom, uint64_t inode,
              const TRepertoire& vers, CopieEnAttente& attente) {
  return AvecRepertoireInscriptible(vers.fd(), [&] {
    interne::Temporaire tmp(vers.fd());
    int r = tmp.Creer([&](const std::string& n) {
      return linkat(de.fd(), nom.c_str(), vers.fd(), n.c_str(), 0) == 0 ? 0 : errno;
    });
    if (r != 0) return r;
    struct stat st;
    if (fstatat(vers.fd(), tmp.nom().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    if (!S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_ino) != inode) {
      return kModifiePendantCopie;
    }
    attente.Temporaire = tmp.nom();
    tmp.Valider();
    return 0;
  });
}

int ExaminerArborescence(const TRepertoire& parent, const std::string& nom, int32_t& nbFichiers,
                         int64_t* octets) {
  struct stat pst;
  if (fstat(parent.fd(), &pst) != 0) return errno;
  int32_t compte = 0;
  int64_t taille = 0;
  // Only the directory being read is open (and, while going up, its parent): the path down
  // is kept as names, and each way up is checked by device and inode.
  std::vector<Niveau> pile;
  UniqueFd courant;
  // Opens and reads the subdirectory `n` of `pfd`, checked to be on the parent's file system.
  auto entrer = [&](int pfd, const std::string& n, UniqueFd& fd) -> int {
    struct stat st;
    if (fstatat(pfd, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    if (!S_ISDIR(st.st_mode)) return ENOTDIR;
    if (st.st_dev != pst.st_dev || EstRacineMontage(pfd, n.c_str())) return EXDEV;
    Niveau niveau{st.st_dev, st.st_ino, st.st_mode & 07777, false, {}};
    // Our own directory that refuses us reading or searching would be deleted all the same
    // (deletion gives it the rights it needs): examined, it gets them until it is left.
    constexpr mode_t kLire = S_IRUSR | S_IXUSR;
    if ((st.st_mode & kLire) != kLire && st.st_uid == geteuid() && geteuid() != 0) {
      niveau.rendre = fchmodat(pfd, n.c_str(), niveau.mode | kLire, AT_SYMLINK_NOFOLLOW) == 0;
    }
    fd.reset(openat(pfd, n.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    int r = fd.valide() ? 0 : errno;
    struct stat ouvert;
    if (r == 0 && fstat(fd.get(), &ouvert) != 0) r = errno;
    if (r == 0 && (ouvert.st_dev != st.st_dev || ouvert.st_ino != st.st_ino)) r = ESTALE;
    if (r == 0) r = Lire(fd.get(), niveau.sousReps, compte, taille, octets != nullptr);
    if (r != 0) {
      if (niveau.rendre) RendreMode(pfd, n.c_str(), niveau.mode);
      return r;
    }
    pile.push_back(std::move(niveau));
    return 0;
  };
  // Leaves the directory on top for its parent, giving it its mode back.
  auto monter = [&]() -> int {
    Niveau& haut = pile.back();
    UniqueFd dessus(openat(courant.get(), "..", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    int r = dessus.valide() ? 0 : errno;
    struct stat ds;
    if (r == 0 && fstat(dessus.get(), &ds) != 0) r = errno;
    const Niveau& attendu = pile[pile.size() - 2];
    if (r == 0 && (ds.st_dev != attendu.dev || ds.st_ino != attendu.ino)) r = ESTALE;
    if (haut.rendre) RendreMode(courant.get(), "", haut.mode);
    haut.rendre = false;
    if (r != 0) return r;
    pile.pop_back();
    courant.reset(dessus.release());
    return 0;
  };
  if (int r = entrer(parent.fd(), nom, courant)) return r;
  int err = 0;
  while (err == 0) {
    Niveau& haut = pile.back();
    if (!haut.sousReps.empty()) {
      const std::string s = std::move(haut.sousReps.back());
      haut.sousReps.pop_back();
      UniqueFd fd;
      const int r = entrer(courant.get(), s, fd);
      if (r == 0) {
        courant.reset(fd.release());
      } else if (r == ENOTDIR) {
        ++compte;  // no longer a directory since it was listed
      } else if (r != ENOENT) {
        err = r;
      }
    } else if (pile.size() == 1) {
      break;
    } else {
      err = monter();
    }
  }
  // After a failure, what was given rights on the way down gets its mode back.
  while (pile.size() > 1 && monter() == 0) {
  }
  if (pile.size() == 1 && pile.back().rendre) RendreMode(courant.get(), "", pile.back().mode);
  if (err != 0) return err;
  nbFichiers += compte;
  if (octets != nullptr) *octets += taille;
  return 0;
}

}  // namespace jumelix::platform
