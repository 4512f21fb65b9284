#include "support/VolumeExfat.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/ProcessusFils.h"

extern char** environ;

namespace jumelix::test {
namespace {

// Long enough for a loaded machine; a daemon that takes longer has hung.
constexpr int kDelaiDemonMs = 10000;

// Runs a shell command; its first output line, or nothing when it failed.
bool Lancer(const std::string& commande, std::string* sortie = nullptr) {
  FILE* f = popen((commande + " 2>/dev/null").c_str(), "r");
  if (f == nullptr) return false;
  char ligne[512] = {};
  const bool lu = fgets(ligne, sizeof ligne, f) != nullptr;
  const int r = pclose(f);
  if (sortie != nullptr) {
    *sortie = lu ? ligne : "";
    while (!sortie->empty() && (sortie->back() == '\n' || sortie->back() == ' ')) {
      sortie->pop_back();
    }
  }
  return r == 0;
}

// True when `point` is a mount point in this namespace. Reads the table rather than
// stat'ing the point, which would wait on a FUSE daemon that is not serving yet.
bool EstMonte(const std::string& point) {
  std::ifstream table("/proc/self/mounts");
  std::string ligne;
  while (std::getline(table, ligne)) {
    std::istringstream champs(ligne);
    std::string source, cible;
    if (champs >> source >> cible && cible == point) return true;
  }
  return false;
}

int PidfdOuvrir(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }

int MsRestantes(std::chrono::steady_clock::time_point limite) {
  const auto reste = std::chrono::duration_cast<std::chrono::milliseconds>(
      limite - std::chrono::steady_clock::now());
  return reste.count() > 0 ? static_cast<int>(reste.count()) : 0;
}

// Starts exfat-fuse in the foreground (its debug mode), output dropped, so that the daemon
// is our child; -1 when it cannot start.
pid_t DemarrerExfatFuse(const std::string& boucle, const std::string& point) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::string nom = "mount.exfat-fuse", d = "-d", b = boucle, p = point;
  char* argv[] = {nom.data(), d.data(), b.data(), p.data(), nullptr};
  pid_t pid = -1;
  if (posix_spawnp(&pid, nom.c_str(), &actions, nullptr, argv, environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Waits until `point` is mounted: each change of the mount table wakes us, and so does the
// daemon's end (it failed). False on failure or past the time limit.
bool AttendreMontage(const std::string& point, pid_t demon, int table) {
  const int pidfd = PidfdOuvrir(demon);
  if (pidfd < 0) return false;
  const auto limite = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDelaiDemonMs);
  bool monte = false;
  for (;;) {
    if ((monte = EstMonte(point))) break;
    pollfd p[2] = {{table, POLLPRI, 0}, {pidfd, POLLIN, 0}};
    const int r = poll(p, 2, MsRestantes(limite));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0 || (p[1].revents & POLLIN) != 0) {
      monte = EstMonte(point);
      break;
    }
  }
  close(pidfd);
  return monte;
}

}  // namespace

VolumeBoucle::~VolumeBoucle() {
  // A lazy detach never fails for a busy mount; the daemon then ends once the kernel lets
  // the file system go.
  if (monte_) umount2(point_.c_str(), MNT_DETACH);
  if (demon_ > 0) AttendreFinFils(demon_, kDelaiDemonMs);
  if (!boucle_.empty()) Lancer("losetup -d '" + boucle_ + "'");
}

VolumeExfat::VolumeExfat() {
  if (geteuid() != 0) {
    raison_ = "needs root to attach a loop device";
    return;
  }
  if (access("/dev/fuse", R_OK | W_OK) != 0) {
    raison_ = "no /dev/fuse here";
    return;
  }
  const std::string image = arbre_.Chemin("exfat.img");
  point_ = arbre_.Repertoire("point");
  if (!Lancer("truncate -s 32M '" + image + "' && mkfs.exfat '" + image + "'")) {
    raison_ = "mkfs.exfat failed (package exfatprogs)";
    return;
  }
  if (!Lancer("losetup -f --show '" + image + "'", &boucle_) || boucle_.empty()) {
    raison_ = "no loop device available";
    boucle_.clear();
    return;
  }
  // Opened before the daemon starts, so that no change of the table can slip by unseen.
  const int table = open("/proc/self/mounts", O_RDONLY | O_CLOEXEC);
  demon_ = table >= 0 ? DemarrerExfatFuse(boucle_, point_) : -1;
  monte_ = demon_ > 0 && AttendreMontage(point_, demon_, table);
  if (table >= 0) close(table);
  if (!monte_) {
    raison_ = "mount.exfat-fuse failed (package exfat-fuse)";
    if (demon_ > 0) AttendreFinFils(demon_, 0);
    demon_ = -1;
  }
}

VolumeVfat::VolumeVfat() {
  if (geteuid() != 0) {
    raison_ = "needs root to mount a loop image";
    return;
  }
  const std::string image = arbre_.Chemin("vfat.img");
  point_ = arbre_.Repertoire("point");
  if (!Lancer("truncate -s 32M '" + image + "' && mkfs.vfat '" + image + "'")) {
    raison_ = "mkfs.vfat failed (package dosfstools)";
    return;
  }
  if (!Lancer("mount -t vfat -o loop '" + image + "' '" + point_ + "'")) {
    raison_ = "mount -t vfat -o loop failed (no loop device, or no vfat module)";
    return;
  }
  monte_ = true;
}

}  // namespace jumelix::test
