#include "platform/VerrouFichier.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/System.h"

namespace jumelix::platform {

namespace {

std::string Parent(const std::string& chemin) {
  const size_t p = chemin.find_last_of('/');
  if (p == std::string::npos) return ".";
  return p == 0 ? std::string("/") : chemin.substr(0, p);
}

// FNV-1a, 64 bits: enough to tell destinations apart, and stable between versions.
uint64_t Empreinte(const std::string& texte) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : texte) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

// The last component of a path reduced to harmless characters, so that a person looking at
// the lock directory can tell which destination a file stands for.
std::string Etiquette(const std::string& chemin) {
  const size_t p = chemin.find_last_of('/');
  const std::string nom = p == std::string::npos ? chemin : chemin.substr(p + 1);
  std::string e;
  for (unsigned char c : nom) {
    if (e.size() >= 32) break;
    const bool sur = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '_' || c == '.';
    e += sur ? static_cast<char>(c) : '_';
  }
  return e;
}

}  // namespace

TVerrouFichier::TVerrouFichier(TVerrouFichier&& autre) noexcept
    : fd_(std::exchange(autre.fd_, -1)), chemin_(std::move(autre.chemin_)) {}

TVerrouFichier& TVerrouFichier::operator=(TVerrouFichier&& autre) noexcept {
  if (this != &autre) {
    Liberer();
    fd_ = std::exchange(autre.fd_, -1);
    chemin_ = std::move(autre.chemin_);
  }
  return *this;
}

int TVerrouFichier::Prendre(const std::string& chemin) {
  Liberer();
  if (chemin.empty()) return ENOENT;
  if (chemin[0] == '/') {
    if (int err = CreerRepertoiresPrives(Parent(chemin))) return err;
  }
  // A holder removes the file when it lets go: a lock taken on a file that was removed (or
  // replaced) meanwhile protects nothing, so the file must still be the one at the path.
  for (int essai = 0; essai < 100; ++essai) {
    int fd = ::open(chemin.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (fd < 0) return errno;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      ::close(fd);
      return err == EWOULDBLOCK ? EWOULDBLOCK : err;
    }
    struct stat tenu {
    }, present{};
    if (::fstat(fd, &tenu) == 0 && ::stat(chemin.c_str(), &present) == 0 &&
        tenu.st_dev == present.st_dev && tenu.st_ino == present.st_ino) {
      fd_ = fd;
      chemin_ = chemin;
      return 0;
    }
    ::close(fd);
  }
  return EWOULDBLOCK;
}

void TVerrouFichier::Liberer() {
  if (fd_ < 0) return;
  // Removed while still held, so that nobody can lock the old file after this point.
  ::unlink(chemin_.c_str());
  ::close(fd_);
  fd_ = -1;
  chemin_.clear();
}

std::string CalculerRepertoireVerrous(const char* xdg_state_home, const char* home) {
  auto base = CalculerRepertoireXdg(xdg_state_home, home, ".local/state");
  if (!base) return {};
  return *base + "/jumelix/verrous";
}

std::string RepertoireVerrous() {
  const std::string home = RepertoirePersonnel();
  return CalculerRepertoireVerrous(std::getenv("XDG_STATE_HOME"),
                                   home.empty() ? nullptr : home.c_str());
}

std::string CheminVerrouDestination(const std::string& destination) {
  const std::string repertoire = RepertoireVerrous();
  if (repertoire.empty()) return {};
  std::string reel = CheminCanonique(destination);
  if (reel.empty()) reel = destination;
  static const char hex[] = "0123456789abcdef";
  std::string nom;
  uint64_t h = Empreinte(reel);
  for (int i = 0; i < 16; ++i, h >>= 4) nom.insert(nom.begin(), hex[h & 15]);
  const std::string etiquette = Etiquette(reel);
  if (!etiquette.empty()) nom += "-" + etiquette;
  return repertoire + "/" + nom + ".lock";
}

}  // namespace jumelix::platform
