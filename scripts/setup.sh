#!/usr/bin/env bash
# Installs what the build and the tests need and builds everything in build/.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(build-essential cmake libgtest-dev dosfstools mtools fdisk qt6-base-dev xvfb xauth jq python3
          libfuse3-dev fuse3 pkg-config desktop-file-utils shared-mime-info xdg-utils libfile-mimeinfo-perl man-db
          dpkg-dev qt6-translations-l10n fonts-droid-fallback)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y "${missing[@]}"
fi

# The tests are asked for by name: a build folder configured without them
# (a package build) would otherwise keep its cached choice.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOLDEX_BUILD_TESTS=ON >/dev/null
cmake --build build -j2
