#include "platform/AttributsEtendus.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>

namespace jumelix::platform {

namespace {

// The *xattrat calls (Linux 6.13) name an entry by a directory and a name, or by a
// descriptor alone, an O_PATH one included. Older kernels go through /proc.
#if defined(SYS_listxattrat)
constexpr long kSetxattrat = SYS_setxattrat, kGetxattrat = SYS_getxattrat,
               kListxattrat = SYS_listxattrat, kRemovexattrat = SYS_removexattrat;
#elif defined(__x86_64__) || defined(__aarch64__) || defined(__riscv) || defined(__powerpc64__) || \
    defined(__s390x__) || defined(__i386__) || defined(__arm__)
constexpr long kSetxattrat = 463, kGetxattrat = 464, kListxattrat = 465, kRemovexattrat = 466;
#else
constexpr long kSetxattrat = -1, kGetxattrat = -1, kListxattrat = -1, kRemovexattrat = -1;
#endif

struct ArgsXattr {
  uint64_t valeur;
  uint32_t taille;
  uint32_t drapeaux;
};

// Set once a call answers ENOSYS or EPERM: an older kernel, or a sandbox that does not know
// it (a systemd unit's SystemCallFilter answers EPERM). The /proc way then gives the file
// system's own answer.
std::atomic<bool> sansAt{kListxattrat < 0};

// False when the call could not be made: /proc is to be asked. A descriptor alone must be
// open for real (the calls refuse an O_PATH one with EBADF: /proc reaches it).
bool Disponible(long r, const char* nom) {
  if (r >= 0) return true;
  if (errno == EBADF && *nom == '\0') return false;
  if (errno != ENOSYS && errno != EPERM) return true;
  sansAt.store(true, std::memory_order_relaxed);
  return false;
}

// The entry as /proc names it: through its directory (the link itself, never followed:
// the l* calls), or the descriptor alone (followed: the /proc link leads to the very inode).
struct CheminProc {
  std::string texte;
  bool suivre;
  CheminProc(int dirfd, const char* nom) : suivre(*nom == '\0') {
    texte = "/proc/self/fd/";
    texte += std::to_string(dirfd);
    if (!suivre) {
      texte += '/';
      texte += nom;
    }
  }
};

unsigned DrapeauxAt(const char* nom) {
  return AT_SYMLINK_NOFOLLOW | (*nom == '\0' ? AT_EMPTY_PATH : 0u);
}

ssize_t Lister(int dirfd, const char* nom, char* tampon, size_t taille) {
  if (!sansAt.load(std::memory_order_relaxed)) {
    const long r = syscall(kListxattrat, dirfd, nom, DrapeauxAt(nom), tampon, taille);
    if (Disponible(r, nom)) return r;
  }
  const CheminProc p(dirfd, nom);
  return p.suivre ? listxattr(p.texte.c_str(), tampon, taille)
                  : llistxattr(p.texte.c_str(), tampon, taille);
}

ssize_t Lire(int dirfd, const char* nom, const char* attribut, char* tampon, size_t taille) {
  if (!sansAt.load(std::memory_order_relaxed)) {
    ArgsXattr a{reinterpret_cast<uintptr_t>(tampon), static_cast<uint32_t>(taille), 0};
    const long r = syscall(kGetxattrat, dirfd, nom, DrapeauxAt(nom), attribut, &a, sizeof a);
    if (Disponible(r, nom)) return r;
  }
  const CheminProc p(dirfd, nom);
  return p.suivre ? getxattr(p.texte.c_str(), attribut, tampon, taille)
                  : lgetxattr(p.texte.c_str(), attribut, tampon, taille);
}

int Ecrire(int dirfd, const char* nom, const std::string& attribut, const std::string& valeur) {
  if (!sansAt.load(std::memory_order_relaxed)) {
    ArgsXattr a{reinterpret_cast<uintptr_t>(valeur.data()), static_cast<uint32_t>(valeur.size()),
                0};
    const long r =
        syscall(kSetxattrat, dirfd, nom, DrapeauxAt(nom), attribut.c_str(), &a, sizeof a);
    if (Disponible(r, nom)) return r == 0 ? 0 : errno;
  }
  const CheminProc p(dirfd, nom);
  const int r = p.suivre ? setxattr(p.texte.c_str(), attribut.c_str(), valeur.data(),
                                    valeur.size(), 0)
                         : lsetxattr(p.texte.c_str(), attribut.c_str(), valeur.data(),
                                     valeur.size(), 0);
  return r == 0 ? 0 : errno;
}

int Retirer(int dirfd, const char* nom, const std::string& attribut) {
  if (!sansAt.load(std::memory_order_relaxed)) {
    const long r = syscall(kRemovexattrat, dirfd, nom, DrapeauxAt(nom), attribut.c_str());
    if (Disponible(r, nom)) return r == 0 || errno == ENODATA ? 0 : errno;
  }
  const CheminProc p(dirfd, nom);
  const int r = p.suivre ? removexattr(p.texte.c_str(), attribut.c_str())
                         : lremovexattr(p.texte.c_str(), attribut.c_str());
  return r == 0 || errno == ENODATA ? 0 : errno;
}

bool Refus(int err) { return err == EOPNOTSUPP || err == ENOTSUP; }

// The names of the list `texte` (NUL-terminated names one after the other).
template <class F>
void ParNom(const char* texte, size_t taille, F f) {
  for (size_t i = 0; i < taille;) {
    const std::string_view nom(texte + i);
    if (!nom.empty()) f(nom);
    i += nom.size() + 1;
  }
}

int ListeComplete(int dirfd, const char* nom, std::string& liste) {
  liste.resize(1024);
  for (;;) {
    const ssize_t n = Lister(dirfd, nom, liste.data(), liste.size());
    if (n >= 0) {
      liste.resize(static_cast<size_t>(n));
      return 0;
    }
    if (errno != ERANGE) return errno;
    const ssize_t voulu = Lister(dirfd, nom, nullptr, 0);
    if (voulu < 0) return errno;
    liste.resize(static_cast<size_t>(voulu) + 256);
  }
}

}  // namespace

bool AttributMiroir(std::string_view nom) {
  if (nom.substr(0, 5) == "user.") return true;
  if (nom == "system.posix_acl_access" || nom == "system.posix_acl_default") return true;
  static const bool root = geteuid() == 0;
  return root && (nom.substr(0, 8) == "trusted." || nom == "security.capability");
}

bool PorteAttributsEtendus(int dirfd, const char* nom) {
  char tampon[512];
  const ssize_t n = Lister(dirfd, nom, tampon, sizeof tampon);
  if (n < 0) return errno == ERANGE;  // a long list: looked at in full later
  bool garde = false;
  ParNom(tampon, static_cast<size_t>(n), [&](std::string_view a) { garde |= AttributMiroir(a); });
  return garde;
}

int LireAttributsEtendus(int dirfd, const char* nom, TAttributsEtendus& attributs) {
  attributs.clear();
  std::string liste;
  if (int r = ListeComplete(dirfd, nom, liste)) return Refus(r) ? 0 : r;
  std::vector<std::string> noms;
  ParNom(liste.data(), liste.size(), [&](std::string_view a) {
    if (AttributMiroir(a)) noms.emplace_back(a);
  });
  std::sort(noms.begin(), noms.end());
  std::string valeur;
  for (std::string& a : noms) {
    valeur.resize(256);
    for (;;) {
      const ssize_t n = Lire(dirfd, nom, a.c_str(), valeur.data(), valeur.size());
      if (n >= 0) {
        valeur.resize(static_cast<size_t>(n));
        attributs.emplace_back(std::move(a), valeur);
        break;
      }
      if (errno == ENODATA) break;  // removed since it was listed
      if (errno != ERANGE) return errno;
      const ssize_t voulu = Lire(dirfd, nom, a.c_str(), nullptr, 0);
      if (voulu < 0) return errno;
      valeur.resize(static_cast<size_t>(voulu) + 64);
    }
  }
  return 0;
}

int EcrireAttributsEtendus(int dirfd, const char* nom, const TAttributsEtendus& voulus,
                           bool& nonGardes) {
  TAttributsEtendus actuels;
  if (int r = LireAttributsEtendus(dirfd, nom, actuels)) return r;
  for (const auto& actuel : actuels) {
    const std::string& a = actuel.first;  // a lambda may not capture a structured binding
    const bool garde = std::any_of(voulus.begin(), voulus.end(),
                                   [&](const auto& x) { return x.first == a; });
    if (!garde) {
      if (int r = Retirer(dirfd, nom, a)) return r;
    }
  }
  for (const auto& x : voulus) {
    if (std::find(actuels.begin(), actuels.end(), x) != actuels.end()) continue;
    if (int r = Ecrire(dirfd, nom, x.first, x.second)) {
      if (!Refus(r)) return r;
      nonGardes = true;
    }
  }
  return 0;
}

bool AttributsEtendusPossibles(int dirfd) {
  // A file system without them lists none (a list is never refused): only reading one
  // tells, by EOPNOTSUPP where another says ENODATA.
  return !(Lire(dirfd, "", "user.jumelix", nullptr, 0) < 0 && Refus(errno));
}

}  // namespace jumelix::platform
