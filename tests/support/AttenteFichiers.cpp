#include "support/AttenteFichiers.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace jumelix::test {

bool AttendreDansRepertoire(const std::string& repertoire, const std::function<bool()>& condition,
                            int delaiMs) {
  using Horloge = std::chrono::steady_clock;
  const int fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (fd < 0) return condition();
  // Watching before the first check: a change between the two still wakes the wait.
  if (inotify_add_watch(fd, repertoire.c_str(),
                        IN_CREATE | IN_MODIFY | IN_MOVED_TO | IN_CLOSE_WRITE) < 0) {
    close(fd);
    return condition();
  }
  const auto limite = Horloge::now() + std::chrono::milliseconds(delaiMs);
  bool vrai;
  while (!(vrai = condition())) {
    const auto reste =
        std::chrono::duration_cast<std::chrono::milliseconds>(limite - Horloge::now()).count();
    if (reste <= 0) break;
    pollfd p{fd, POLLIN, 0};
    const int r = poll(&p, 1, static_cast<int>(reste));
    if (r < 0 && errno != EINTR) break;
    alignas(inotify_event) char tampon[4096];
    while (read(fd, tampon, sizeof tampon) > 0) {
    }
  }
  close(fd);
  return vrai;
}

}  // namespace jumelix::test
