#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need,
# where they are missing. Safe to run again.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build clang libclang-rt-dev
  libgtest-dev googletest libbenchmark-dev
  qt6-base-dev libgl1-mesa-dev
  libqt6svg6 qt6-svg-dev qt6-image-formats-plugins qt6-image-formats-plugin-pdf
  libcups2-dev cups
  libsqlite3-dev zlib1g-dev time
  libtomlplusplus-dev libcli11-dev ansible-core
  xvfb xauth imagemagick netpbm fonts-dejavu-core fonts-urw-base35
  clang-format dpkg-dev lintian desktop-file-utils appstream librsvg2-bin
  qemu-system-x86 busybox-static cpio
)

missing=()
for package in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
