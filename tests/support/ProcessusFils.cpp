#include "support/ProcessusFils.h"

#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

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
