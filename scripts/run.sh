#!/usr/bin/env bash
# Sets up, builds and shows a disk image: the one given, or the sample image.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
image=${1:-}
if [ -z "$image" ]; then
  image=$(scripts/make-sample.sh build/sample.img)
fi
echo "== voldex-cli info $image"
build/voldex-cli info "$image"
echo "== voldex-cli ls $image"
build/voldex-cli ls "$image"
