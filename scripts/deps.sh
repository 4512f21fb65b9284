#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Jumelix need,
# skipping the ones already present. Needs root (or sudo) only when something is missing.
set -euo pipefail

pkgs=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-translations-l10n libgl-dev
  libgtest-dev googletest libssl-dev ca-certificates openssl
  python3 python3-aiosmtpd msmtp rsync time xvfb xauth
  exfatprogs exfat-fuse dosfstools
  attr acl libcap2-bin e2fsprogs
  clang libclang-rt-14-dev
  desktop-file-utils man-db dpkg-dev file python3-seccomp
  dbus-daemon systemd
  ccache mold
  git
)

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installation des paquets manquants : ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
