#include "platform/Prive.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/FileSystem.h"
#include "platform/Chemins.h"
#include "platform/FileSystemInterne.h"
#include "platform/UniqueFd.h"

namespace jumelix::platform {

namespace {


std::string Nom(const std::string& chemin) { return chemin.substr(chemin.find_last_of('/') + 1); }

int Refuser(const std::string& chemin, const struct stat& st, TRefusPrive& refus) {
  refus.chemin = chemin;
  refus.uid = st.st_uid;
  refus.mode = st.st_mode & 07777;
  refus.repertoire = S_ISDIR(st.st_mode);
  return kNonPrive;
}

// Opens the directory holding `chemin` and checks it. 0 or a code of ControlerPrive.
int OuvrirParent(const std::string& chemin, UniqueFd& fd, TRefusPrive& refus) {
  const std::string parent = Parent(chemin);
  fd.reset(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valide()) return errno;
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return errno;
  return EstPrive(st) ? 0 : Refuser(parent, st, refus);
}

}  // namespace

bool EstPrive(const struct stat& st) {
  return st.st_uid == geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

int ControlerPrive(const std::string& chemin, TRefusPrive& refus) {
  struct stat st;
  if (::stat(chemin.c_str(), &st) != 0) return errno;
  return EstPrive(st) ? 0 : Refuser(chemin, st, refus);
}

int LireFichierPrive(const std::string& chemin, std::string& contenu, TRefusPrive& refus) {
  contenu.clear();
  UniqueFd repertoire;
  if (int r = OuvrirParent(chemin, repertoire, refus)) return r;
  // O_NONBLOCK: a FIFO put there must not hold the program at its open.
  UniqueFd fd(::openat(repertoire.get(), Nom(chemin).c_str(),
                       O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd.valide()) return errno;
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return kPasFichierOrdinaire;
  if (!EstPrive(st)) return Refuser(chemin, st, refus);
  char tampon[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), tampon, sizeof tampon);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return 0;
    contenu.append(tampon, static_cast<size_t>(n));
  }
}

int OuvrirJournalPrive(const std::string& chemin, int& err, TRefusPrive& refus) {
  UniqueFd repertoire;
  if ((err = OuvrirParent(chemin, repertoire, refus)) != 0) return -1;
  UniqueFd fd(::openat(repertoire.get(), Nom(chemin).c_str(),
                       O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                       0600));
  if (!fd.valide()) {
    err = errno;
    return -1;
  }
  struct stat st;
  if (fstat(fd.get(), &st) != 0) {
    err = errno;
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    err = kPasFichierOrdinaire;
    return -1;
  }
  if (st.st_uid != geteuid()) {
    err = Refuser(chemin, st, refus);
    return -1;
  }
  err = 0;
  return fd.release();
}

}  // namespace jumelix::platform
