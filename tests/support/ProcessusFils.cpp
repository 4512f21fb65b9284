#include "support/ProcessusFils.h"

#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace jumelix::test {

pid_t DemarrerFilsQuiTient(const std::function<void()>& preparer,
                           const std::function<bool()>& tenir) {
  int tube[2];
  if (pipe(tube) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(tube[0]);
    if (preparer) preparer();
    const char c = tenir() ? 'o' : 'n';
    if (write(tube[1], &c, 1) != 1) _exit(1);
    for (;;) pause();
  }
  close(tube[1]);
  char c = 0;
  const bool lu = pid > 0 && read(tube[0], &c, 1) == 1;
  close(tube[0]);
  if (pid > 0 && (!lu || c != 'o')) {
    Terminer(pid);
    return -1;
  }
  return pid;
}

void Terminer(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

std::optional<int> AttendreFinFils(pid_t pid, int delaiMs) {
  using Horloge = std::chrono::steady_clock;
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  bool fini = pidfd < 0;  // without pidfds (an old kernel), a plain blocking wait
  if (pidfd >= 0) {
    const auto limite = Horloge::now() + std::chrono::milliseconds(delaiMs);
    for (;;) {
      const auto reste =
          std::chrono::duration_cast<std::chrono::milliseconds>(limite - Horloge::now()).count();
      pollfd p{pidfd, POLLIN, 0};
      const int r = poll(&p, 1, reste > 0 ? static_cast<int>(reste) : 0);
      if (r < 0 && errno == EINTR) continue;
      fini = r > 0;
      break;
    }
    close(pidfd);
  }
  if (!fini) kill(pid, SIGKILL);
  int etat = 0;
  while (waitpid(pid, &etat, 0) < 0 && errno == EINTR) {
  }
  if (!fini) return std::nullopt;
  return etat;
}

std::optional<std::string> ExecuterDansFils(const std::function<void()>& preparer,
                                            const std::function<std::string()>& travail,
                                            unsigned delaiSecondes) {
  int tube[2];
  if (pipe(tube) != 0) return std::nullopt;
  pid_t pid = fork();
  if (pid < 0) {
    close(tube[0]);
    close(tube[1]);
    return std::nullopt;
  }
  if (pid == 0) {
    close(tube[0]);
    alarm(delaiSecondes);
    if (preparer) preparer();
    std::string r = travail();
    for (size_t fait = 0; fait < r.size();) {
      ssize_t n = write(tube[1], r.data() + fait, r.size() - fait);
      if (n <= 0) _exit(98);
      fait += static_cast<size_t>(n);
    }
    _exit(0);
  }
  close(tube[1]);
  std::string sortie;
  char tampon[4096];
  for (;;) {
    ssize_t n = read(tube[0], tampon, sizeof tampon);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    sortie.append(tampon, static_cast<size_t>(n));
  }
  close(tube[0]);
  int etat = 0;
  while (waitpid(pid, &etat, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(etat) || WEXITSTATUS(etat) != 0) return std::nullopt;
  return sortie;
}

void DevenirNobody() {
  if (setgroups(0, nullptr) != 0 || setresgid(kIdNobody, kIdNobody, kIdNobody) != 0 ||
      setresuid(kIdNobody, kIdNobody, kIdNobody) != 0) {
    _exit(99);
  }
}

}  // namespace jumelix::test
