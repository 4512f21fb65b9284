#include "platform/System.h"

#include <locale.h>
#include <pwd.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace jumelix::platform {

std::string SystemErrorText(int err) {
  // strerror_l with the process locale gives the user's language once main() has
  // called setlocale(LC_ALL, ""); "Unknown error" texts count as no text.
  locale_t loc = uselocale(static_cast<locale_t>(0));
  const char* text = strerror_l(err, loc);
  if (text == nullptr) return {};
  std::string s(text);
  if (s.rfind("Unknown error", 0) == 0) return {};
  return s;
}

std::string SystemErrorName(int err) {
  const char* name = strerrorname_np(err);
  return name != nullptr ? name : std::string();
}

bool HostName(std::string& name) {
  char buf[256];
  if (gethostname(buf, sizeof buf) != 0) return false;
  buf[sizeof buf - 1] = '\0';
  name = buf;
  return true;
}

InstantNoyau MaintenantNoyau() {
  InstantNoyau n;
  struct timespec grossier, reel, depuisBoot;
  clock_gettime(CLOCK_REALTIME_COARSE, &grossier);
  clock_gettime(CLOCK_REALTIME, &reel);
  clock_gettime(CLOCK_BOOTTIME, &depuisBoot);
  n.Secondes = static_cast<int64_t>(grossier.tv_sec);
  n.Ecart = static_cast<int64_t>(reel.tv_sec) - static_cast<int64_t>(depuisBoot.tv_sec);
  if (FILE* f = std::fopen("/proc/sys/kernel/random/boot_id", "re")) {
    char id[64] = {};
    if (std::fgets(id, sizeof id, f) != nullptr) {
      n.Demarrage = id;
      while (!n.Demarrage.empty() && (n.Demarrage.back() == '\n' || n.Demarrage.back() == ' ')) {
        n.Demarrage.pop_back();
      }
    }
    std::fclose(f);
  }
  return n;
}

uint32_t TickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms =
      static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

std::string LocalDateTimeText() {
  time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  char buf[128];
  size_t n = strftime(buf, sizeof buf, "%x %X", &local);
  return std::string(buf, n);
}

bool EstTerminal(int fd) { return isatty(fd) == 1; }

int LargeurTerminal(int fd) {
  winsize taille{};
  if (ioctl(fd, TIOCGWINSZ, &taille) != 0) return 0;
  return taille.ws_col;
}

std::string DateIso8601(int64_t secondes) {
  const time_t t = static_cast<time_t>(secondes);
  tm local{};
  localtime_r(&t, &local);
  char buf[64];
  const size_t n = strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S%z", &local);
  // strftime's offset is "+0200"; the extended form wants "+02:00". Built piece by piece:
  // an insert makes GCC 12 see a false overlap at -O3 (-Wrestrict).
  if (n < 5) return std::string(buf, n);
  std::string texte(buf, n - 2);
  texte += ':';
  texte.append(buf + n - 2, 2);
  return texte;
}

std::string RepertoirePersonnel() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return home;
  long taille = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(taille > 0 ? static_cast<size_t>(taille) : 16384);
  struct passwd pw {};
  struct passwd* res = nullptr;
  if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &res) == 0 && res != nullptr &&
      res->pw_dir != nullptr && res->pw_dir[0] == '/')
    return res->pw_dir;
  return {};
}

std::optional<std::string> CalculerRepertoireXdg(const char* xdg, const char* home,
                                                 const char* defaut_sous_home) {
  std::string base;
  if (xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else if (home != nullptr && home[0] == '/') {
    base = home;
    while (!base.empty() && base.back() == '/') base.pop_back();
    base = base + "/" + defaut_sous_home;
  } else {
    return std::nullopt;
  }
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base;
}

std::optional<std::string> RepertoireXdg(const char* variable, const char* defaut_sous_home) {
  const std::string home = RepertoirePersonnel();
  return CalculerRepertoireXdg(std::getenv(variable), home.empty() ? nullptr : home.c_str(),
                               defaut_sous_home);
}

int CreerRepertoiresPrives(const std::string& chemin) {
  for (size_t pos = 1; pos <= chemin.size(); ++pos) {
    if (pos < chemin.size() && chemin[pos] != '/') continue;
    const std::string partie = chemin.substr(0, pos);
    if (::mkdir(partie.c_str(), 0700) != 0 && errno != EEXIST) return errno;
  }
  return 0;
}

std::string CheminExecutable() {
  std::string chemin(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", chemin.data(), chemin.size());
  if (n <= 0 || static_cast<size_t>(n) >= chemin.size()) return {};
  chemin.resize(static_cast<size_t>(n));
  return chemin;
}

int SupprimerFichierChemin(const std::string& chemin) {
  if (::unlink(chemin.c_str()) != 0 && errno != ENOENT) return errno;
  return 0;
}

int SupprimerRepertoireVide(const std::string& chemin) {
  if (::rmdir(chemin.c_str()) == 0 || errno == ENOENT) return 0;
  return errno == EEXIST ? ENOTEMPTY : errno;
}

}  // namespace jumelix::platform
