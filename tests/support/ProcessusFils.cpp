#include "support/ProcessusFils.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace jumelix::test {

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
