// Copies and in-place attribute changes of platform/FileSystem.h: a copy is written under
// a temporary name beside its destination and published by rename.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/AttributsEtendus.h"
#include "platform/FileSystem.h"
#include "platform/FileSystemInterne.h"

namespace jumelix::platform {

void (*CrochetApresContenu)(const std::string& nomSource) = nullptr;

namespace {

using interne::AvecRepertoireInscriptible;
using interne::EntreeVisee;
using interne::Temporaire;

constexpr const char* kCapacites = "security.capability";

// From this size on, a copy's data is sent to the disk as soon as it is written.
constexpr off_t kEcritureAnticipee = off_t{1} << 20;

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

// Gives the entry `e` the owner, group and mode of `st`, as far as the options and our
// rights allow. `lien`: never a mode.
int DonnerProprietaireEtMode(EntreeVisee& e, const struct stat& st, bool lien,
                             const OptionsCopie& options) {
  if (!options.GarderDroits) return 0;
  struct stat actuel = e.Etat();
  bool change = false;  // a change of owner or group may clear the set-ID bits
  if (geteuid() == 0) {
    if (actuel.st_uid != st.st_uid || actuel.st_gid != st.st_gid) {
      if (int r = e.Chown(st.st_uid, st.st_gid)) return r;
      change = true;
    }
    actuel.st_uid = st.st_uid;
    actuel.st_gid = st.st_gid;
  } else if (actuel.st_gid != st.st_gid) {
    // Without root rights the group is kept when we belong to it; otherwise it stays ours.
    if (e.Chown(static_cast<uid_t>(-1), st.st_gid) == 0) {
      actuel.st_gid = st.st_gid;
      change = true;
    }
  }
  if (lien) return 0;
  const mode_t voulu =
      ModeAttendu(st.st_mode, actuel.st_uid == st.st_uid, actuel.st_gid == st.st_gid);
  if (change) {
    if (int r = e.Decrire()) return r;
  }
  if ((e.Etat().st_mode & 07777) == voulu) return 0;
  return e.Chmod(voulu);
}

// Opens the entry this run just made under the temporary name `nom`, checked to be it: of
// the kind made (`genre`), with one link and owned by us. Another entry put in its place
// meanwhile (a hard link to a file elsewhere, in a directory others may write) gives
// kModifiePendantCopie.
int OuvrirCree(int dirfd, const std::string& nom, mode_t genre, EntreeVisee& e) {
  if (int r = e.Ouvrir(dirfd, nom.c_str())) return r;
  const struct stat& st = e.Etat();
  if ((st.st_mode & S_IFMT) != genre || st.st_nlink != 1 || st.st_uid != geteuid()) {
    return kModifiePendantCopie;
  }
  return 0;
}

int EcrireFichierOrdinaire(int srcdir, const std::string& nomSource, int dirfd,
                           const OptionsCopie& options, Temporaire& tmp, bool& nonGardes) {
  UniqueFd in(
      openat(srcdir, nomSource.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!in.valide()) return errno == ELOOP ? kModifiePendantCopie : errno;
  struct stat st;
  if (fstat(in.get(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return kModifiePendantCopie;  // swapped since it was listed
  int out_fd = -1;
  // Made with the source's permissions, no set-ID bit: those come once the owner is right.
  // Writable by us until then, for its extended attributes.
  int r = tmp.Creer([&](const std::string& n) {
    out_fd = openat(dirfd, n.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                    (st.st_mode & 0777) | S_IWUSR);
    return out_fd < 0 ? errno : 0;
  });
  if (r != 0) return r;
  UniqueFd out(out_fd);
  if ((r = CopierContenu(in.get(), out.get(), st.st_size, st.st_blocks)) != 0) return r;
  if (CrochetApresContenu) CrochetApresContenu(nomSource);
  struct stat apres;
  if (fstat(in.get(), &apres) != 0) return errno;
  if (!MemeEtat(st, apres)) return kModifiePendantCopie;
  // Before the mode: a user.* attribute needs write permission. Written even when the
  // source has none: the copy may have inherited a default ACL from its directory.
  TAttributsEtendus attributs, capacites;
  if (options.AttributsEtendus) {
    if ((r = LireAttributsEtendus(in.get(), "", attributs)) != 0) return r;
    TAttributsEtendus avant;
    for (auto& a : attributs) (a.first == kCapacites ? capacites : avant).push_back(a);
    if ((r = EcrireAttributsEtendus(out.get(), "", avant, nonGardes)) != 0) return r;
  }
  EntreeVisee ecrite;
  if ((r = ecrite.Emprunter(out.get())) != 0 ||
      (r = DonnerProprietaireEtMode(ecrite, st, false, options)) != 0) {
    return r;
  }
  // A change of owner clears file capabilities: those come last.
  if (!capacites.empty() &&
      (r = EcrireAttributsEtendus(out.get(), "", attributs, nonGardes)) != 0) {
    return r;
  }
  struct timespec temps[2] = {st.st_atim, st.st_mtim};
  if (futimens(out.get(), temps) != 0) return errno;
  if (options.SynchroDonnees) {
    if (fdatasync(out.get()) != 0) return errno;
  } else if (st.st_size >= kEcritureAnticipee) {
    // Starts writing a large file now, so that the flush of its batch has less left to
    // wait for. Small files are left to the flush, which writes them far more cheaply
    // together (measured: a fifth of the time of a first synchronisation of small files).
    sync_file_range(out.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
  }
  return out.Fermer();
}

}  // namespace

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
      r = EcrireFichierOrdinaire(source.fd(), nomSource, dirfd, options, tmp,
                                 attente.AttributsNonGardes);
    } else if (S_ISLNK(st.st_mode)) {
      std::string texte;
      if ((r = source.LireLien(nomSource, texte)) != 0) return r;
      r = tmp.Creer([&](const std::string& n) {
        return symlinkat(texte.c_str(), dirfd, n.c_str()) != 0 ? errno : 0;
      });
      EntreeVisee lien;
      if (r == 0) r = OuvrirCree(dirfd, tmp.nom(), S_IFLNK, lien);
      if (r == 0) r = DonnerProprietaireEtMode(lien, st, true, options);
      if (r == 0) {
        struct timespec temps[2] = {st.st_atim, st.st_mtim};
        r = lien.Dater(temps);
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
      EntreeVisee speciale;
      if (r == 0) r = OuvrirCree(dirfd, tmp.nom(), st.st_mode & S_IFMT, speciale);
      if (r == 0) r = DonnerProprietaireEtMode(speciale, st, false, options);
      if (r == 0) {
        struct timespec temps[2] = {st.st_atim, st.st_mtim};
        r = speciale.Dater(temps);
      }
    }
    if (r != 0) return r;
    attente.Temporaire = tmp.nom();  // first: if this throws, the entry is removed
    tmp.Valider();
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

namespace {

// Opens the entry `nom` of `dir` as `e`, checked to be the one listed as `actuelle`: on the
// file system of `dir`, the same inode and kind.
int OuvrirListee(const TRepertoire& dir, const std::string& nom, const EntreeRepertoire& actuelle,
                 EntreeVisee& e) {
  if (int r = e.Ouvrir(dir.fd(), nom.c_str())) return r;
  struct stat repertoire;
  if (fstat(dir.fd(), &repertoire) != 0) return errno;
  const struct stat& vu = e.Etat();
  if (vu.st_dev != repertoire.st_dev || static_cast<uint64_t>(vu.st_ino) != actuelle.Inode ||
      (vu.st_mode & S_IFMT) != (actuelle.Mode & S_IFMT)) {
    return kModifiePendantCopie;
  }
  return 0;
}

}  // namespace

int AppliquerAttributsEtendus(const TRepertoire& dir, const std::string& nom,
                              const TAttributsEtendus& voulus, const EntreeRepertoire& actuelle,
                              bool& nonGardes) {
  EntreeVisee e;
  int r = nom.empty() ? e.Emprunter(dir.fd()) : OuvrirListee(dir, nom, actuelle, e);
  if (r != 0) return r;
  const struct stat& st = e.Etat();
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return kModifiePendantCopie;
  r = EcrireAttributsEtendus(e.fd(), "", voulus, nonGardes);
  // A user.* attribute needs write permission: an entry of ours gets it for the change only.
  if (r == EACCES && st.st_uid == geteuid() && (st.st_mode & S_IWUSR) == 0) {
    const mode_t mode = st.st_mode & 07777;
    if (e.Chmod(mode | S_IWUSR) == 0) {
      r = EcrireAttributsEtendus(e.fd(), "", voulus, nonGardes);
      e.Chmod(mode);
    }
  }
  return r;
}

int AppliquerAttributs(const TRepertoire& dir, const std::string& nom,
                       const EntreeRepertoire& source, const EntreeRepertoire& actuelle,
                       const OptionsCopie& options) {
  EntreeVisee e;
  if (int r = OuvrirListee(dir, nom, actuelle, e)) return r;
  struct stat st {};
  st.st_mode = source.Mode;
  st.st_uid = source.Uid;
  st.st_gid = source.Gid;
  const bool lien = S_ISLNK(source.Mode);
  if (int r = DonnerProprietaireEtMode(e, st, lien, options)) return r;
  if (lien) {
    struct timespec temps[2] = {{0, UTIME_OMIT}, {source.Secondes, source.Nanos}};
    return e.Dater(temps);
  }
  return 0;
}

int AppliquerAttributsRepertoire(const TRepertoire& dir, const EntreeRepertoire& source,
                                 const OptionsCopie& options) {
  struct stat st {};
  st.st_mode = source.Mode;
  st.st_uid = source.Uid;
  st.st_gid = source.Gid;
  EntreeVisee e;
  if (int r = e.Emprunter(dir.fd())) return r;
  if (int r = DonnerProprietaireEtMode(e, st, false, options)) return r;
  struct stat actuel;
  if (fstat(dir.fd(), &actuel) != 0) return errno;
  if (MemeDateAPrecision(source.Secondes, source.Nanos, actuel.st_mtim.tv_sec,
                         static_cast<int32_t>(actuel.st_mtim.tv_nsec))) {
    return 0;
  }
  return DaterRepertoire(dir, source.Secondes, source.Nanos);
}

bool MemeDateAPrecision(int64_t s, int32_t sn, int64_t d, int32_t dn) {
  if (s != d || dn > sn) return false;
  int32_t precision = 1;  // what the destination's nanoseconds show of its precision
  if (dn == 0) {
    precision = 1000000000;
  } else {
    for (int32_t x = dn; x % 10 == 0; x /= 10) precision *= 10;
  }
  return sn - dn < precision;
}

int DaterRepertoire(const TRepertoire& dir, int64_t secondes, int32_t nanos) {
  struct timespec temps[2] = {{0, UTIME_OMIT}, {secondes, nanos}};
  return futimens(dir.fd(), temps) == 0 ? 0 : errno;
}

}  // namespace jumelix::platform
