#include "platform/Processus.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/System.h"

extern char** environ;

namespace jumelix::platform {
namespace {

constexpr int kPasMs = 20;

class TDescripteur {
 public:
  TDescripteur() = default;
  ~TDescripteur() { Fermer(); }
  TDescripteur(const TDescripteur&) = delete;
  TDescripteur& operator=(const TDescripteur&) = delete;
  int& fd() { return fd_; }
  void Fermer() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

bool Tube(TDescripteur& lecture, TDescripteur& ecriture) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  lecture.fd() = fds[0];
  ecriture.fd() = fds[1];
  return true;
}

void NonBloquant(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Writes without letting SIGPIPE end this process: a mailer that exits before reading
// everything gives EPIPE, and the pending signal is taken back.
ssize_t EcrireSansSigpipe(int fd, const char* data, size_t taille) {
  sigset_t pipe, ancien;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  sigset_t attente;
  sigpending(&attente);
  const bool dejaEnAttente = sigismember(&attente, SIGPIPE) == 1;
  pthread_sigmask(SIG_BLOCK, &pipe, &ancien);
  ssize_t n = ::write(fd, data, taille);
  const int err = errno;
  if (n < 0 && err == EPIPE && !dejaEnAttente) {
    const timespec zero{0, 0};
    while (sigtimedwait(&pipe, nullptr, &zero) == -1 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &ancien, nullptr);
  errno = err;
  return n;
}

}  // namespace

TResultatProcessus ExecuterProcessus(const std::vector<std::string>& argv,
                                     const TOptionsProcessus& options) {
  TResultatProcessus r;
  if (argv.empty() || argv[0].empty()) {
    r.erreurLancement = ENOENT;
    return r;
  }
  TDescripteur entreeL, entreeE, sortieL, sortieE, erreursL, erreursE;
  if (!Tube(entreeL, entreeE) || !Tube(sortieL, sortieE) || !Tube(erreursL, erreursE)) {
    r.erreurLancement = errno;
    return r;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, entreeL.fd(), 0);
  posix_spawn_file_actions_adddup2(&actions, sortieE.fd(), 1);
  posix_spawn_file_actions_adddup2(&actions, erreursE.fd(), 2);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // Its own group, default signal actions and an empty mask: the child must not inherit
  // this program's stop handlers or a blocked SIGPIPE.
  sigset_t tous, vide;
  sigfillset(&tous);
  sigemptyset(&vide);
  posix_spawnattr_setsigdefault(&attr, &tous);
  posix_spawnattr_setsigmask(&attr, &vide);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int err = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (err != 0) {
    r.erreurLancement = err;
    return r;
  }
  entreeL.Fermer();
  sortieE.Fermer();
  erreursE.Fermer();
  NonBloquant(entreeE.fd());
  NonBloquant(sortieL.fd());
  NonBloquant(erreursL.fd());

  size_t ecrit = 0;
  if (options.entree.empty()) entreeE.Fermer();
  const uint32_t debut = TickCount();
  bool fini = false;
  int statut = 0;
  char tampon[4096];
  auto lire = [&](TDescripteur& d, bool secret) {
    for (;;) {
      ssize_t n = ::read(d.fd(), tampon, sizeof tampon);
      if (n > 0) {
        size_t deja = secret ? r.sortie.size() : r.erreurs.size();
        size_t garde = std::min(static_cast<size_t>(n),
                                options.maxSortie > deja ? options.maxSortie - deja : 0);
        if (secret) {
          r.sortie.Append(std::string_view(tampon, garde));
        } else {
          r.erreurs.append(tampon, garde);
        }
        continue;
      }
      if (n == 0) d.Fermer();
      if (n < 0 && errno == EINTR) continue;
      break;
    }
    EffacerOctets(tampon, sizeof tampon);
  };
  for (;;) {
    pollfd pfds[3];
    int n = 0;
    if (entreeE.fd() >= 0) pfds[n++] = {entreeE.fd(), POLLOUT, 0};
    if (sortieL.fd() >= 0) pfds[n++] = {sortieL.fd(), POLLIN, 0};
    if (erreursL.fd() >= 0) pfds[n++] = {erreursL.fd(), POLLIN, 0};
    ::poll(pfds, n, kPasMs);
    if (entreeE.fd() >= 0) {
      ssize_t w = EcrireSansSigpipe(entreeE.fd(), options.entree.data() + ecrit,
                                    options.entree.size() - ecrit);
      if (w > 0) ecrit += static_cast<size_t>(w);
      if (ecrit >= options.entree.size() || (w < 0 && errno != EAGAIN && errno != EINTR)) {
        entreeE.Fermer();  // all written, or the program stopped reading
      }
    }
    if (sortieL.fd() >= 0) lire(sortieL, true);
    if (erreursL.fd() >= 0) lire(erreursL, false);
    // Its end is seen without reaping it: while it stays an unreaped zombie, its pid, which
    // is its group's id too, cannot go to another process, so killing the group can only
    // reach what it left behind.
    siginfo_t fin{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &fin, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        fin.si_pid == pid) {
      fini = true;
      if (options.terminerGroupe) ::kill(-pid, SIGKILL);
      // What it wrote just before exiting is still in the pipes; a child of its own that
      // keeps them open must not hold us, so no waiting for the end of file.
      if (sortieL.fd() >= 0) lire(sortieL, true);
      if (erreursL.fd() >= 0) lire(erreursL, false);
      break;
    }
    if (options.arret && options.arret()) {
      r.arrete = true;
      break;
    }
    if (TickCount() - debut > options.delaiMs) {
      r.delaiDepasse = true;
      break;
    }
    if (options.pendant) options.pendant();
  }
  if (!fini) {
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);  // in case it left the group: the wait below must end
  }
  while (::waitpid(pid, &statut, 0) < 0 && errno == EINTR) {
  }
  if (!fini) return r;
  if (WIFEXITED(statut)) r.statut = WEXITSTATUS(statut);
  if (WIFSIGNALED(statut)) r.signal = WTERMSIG(statut);
  return r;
}

bool DecouperLigneCommande(const std::string& ligne, std::vector<std::string>& arguments,
                           std::string& erreur) {
  arguments.clear();
  std::string mot;
  bool dansMot = false;
  for (size_t i = 0; i < ligne.size(); ++i) {
    const char c = ligne[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (dansMot) arguments.push_back(mot);
      mot.clear();
      dansMot = false;
    } else if (c == '\'') {
      const size_t fin = ligne.find('\'', i + 1);
      if (fin == std::string::npos) {
        erreur = "Apostrophe non fermée dans la commande";
        return false;
      }
      mot += ligne.substr(i + 1, fin - i - 1);
      i = fin;
      dansMot = true;
    } else if (c == '"') {
      size_t j = i + 1;
      for (; j < ligne.size() && ligne[j] != '"'; ++j) {
        if (ligne[j] == '\\' && j + 1 < ligne.size() &&
            std::string_view("\"\\$`").find(ligne[j + 1]) != std::string_view::npos) {
          ++j;
        }
        mot += ligne[j];
      }
      if (j >= ligne.size()) {
        erreur = "Guillemet non fermé dans la commande";
        return false;
      }
      i = j;
      dansMot = true;
    } else if (c == '\\') {
      if (i + 1 < ligne.size()) mot += ligne[++i];
      dansMot = true;
    } else {
      mot += c;
      dansMot = true;
    }
  }
  if (dansMot) arguments.push_back(mot);
  return true;
}

}  // namespace jumelix::platform
