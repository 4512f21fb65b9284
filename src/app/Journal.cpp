#include "app/Journal.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/System.h"

namespace jumelix {

namespace {

std::string& NomProgramme() {
  static std::string nom = "jumelix";
  return nom;
}

std::string RepertoirePersonnel() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return home;
  // cron and systemd may start us without HOME: ask the password database.
  long taille = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(taille > 0 ? static_cast<size_t>(taille) : 16384);
  struct passwd pw {};
  struct passwd* res = nullptr;
  if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &res) == 0 && res != nullptr &&
      res->pw_dir != nullptr && res->pw_dir[0] == '/')
    return res->pw_dir;
  return {};
}

// Creates every missing directory of `chemin` (an absolute path); the new ones are private
// to the user, as the state directory should be.
int CreerRepertoires(const std::string& chemin) {
  for (size_t pos = 1; pos <= chemin.size(); ++pos) {
    if (pos < chemin.size() && chemin[pos] != '/') continue;
    std::string partie = chemin.substr(0, pos);
    if (::mkdir(partie.c_str(), 0700) != 0 && errno != EEXIST) return errno;
  }
  return 0;
}

}  // namespace

void DefinirNomProgramme(const std::string& argv0) {
  std::string nom = argv0.substr(argv0.find_last_of('/') + 1);
  if (!nom.empty()) NomProgramme() = nom;
}

std::string CalculerCheminJournal(const std::string& nom_programme, const char* xdg_state_home,
                                  const char* home) {
  std::string base;
  if (xdg_state_home != nullptr && xdg_state_home[0] == '/') {
    base = xdg_state_home;
  } else if (home != nullptr && home[0] == '/') {
    std::string h = home;
    while (!h.empty() && h.back() == '/') h.pop_back();
    base = h + "/.local/state";
  } else {
    return {};
  }
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  if (base == "/") base.clear();
  return base + "/jumelix/" + nom_programme + ".log";
}

const std::string& CheminJournal() {
  static const std::string chemin = [] {
    std::string home = RepertoirePersonnel();
    return CalculerCheminJournal(NomProgramme(), std::getenv("XDG_STATE_HOME"),
                                 home.empty() ? nullptr : home.c_str());
  }();
  return chemin;
}

int JournaliserDans(const std::string& chemin, const std::string& texte) {
  if (chemin.empty()) return ENOENT;
  size_t fin_rep = chemin.find_last_of('/');
  if (fin_rep != std::string::npos && fin_rep > 0) {
    if (int err = CreerRepertoires(chemin.substr(0, fin_rep)); err != 0) return err;
  }
  int fd = ::open(chemin.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  std::string ligne = texte + " " + platform::LocalDateTimeText() + "\n";
  // One write: O_APPEND places it atomically at the end, even with another run logging.
  ssize_t n;
  do {
    n = ::write(fd, ligne.data(), ligne.size());
  } while (n < 0 && errno == EINTR);
  int err = n < 0 ? errno : (static_cast<size_t>(n) < ligne.size() ? EIO : 0);
  if (::close(fd) != 0 && err == 0) err = errno;
  return err;
}

void Journaliser(const std::string& texte) { JournaliserDans(CheminJournal(), texte); }

}  // namespace jumelix
