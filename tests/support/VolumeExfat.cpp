#include "support/VolumeExfat.h"

#include <sys/mount.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace jumelix::test {
namespace {

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

}  // namespace

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
  if (!Lancer("mount.exfat-fuse '" + boucle_ + "' '" + point_ + "'")) {
    raison_ = "mount.exfat-fuse failed (package exfat-fuse)";
    return;
  }
  monte_ = true;
}

VolumeExfat::~VolumeExfat() {
  if (monte_) {
    for (int essai = 0; essai < 50 && umount(point_.c_str()) != 0; ++essai) usleep(100000);
  }
  if (!boucle_.empty()) Lancer("losetup -d '" + boucle_ + "'");
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

VolumeVfat::~VolumeVfat() {
  if (monte_) {
    for (int essai = 0; essai < 50 && umount(point_.c_str()) != 0; ++essai) usleep(100000);
  }
}

}  // namespace jumelix::test
