#!/usr/bin/env bash
# Sets up, builds and opens a disk image in the window: the one given, or
# the project's own sample image. Without a display it runs under Xvfb and
# keeps a screenshot (build/screenshot.png) instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
image=${1:-}
if [ -z "$image" ]; then
  image=$(scripts/make-sample.sh build/sample.img)
  set -- "$image" /S
fi
echo "== voldex-cli ls $image"
build/voldex-cli ls "$image" || true
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec build/voldex "$@"
fi
echo "== no display: opening the window under Xvfb, picture in build/screenshot.png"
VOLDEX_SCREENSHOT="$PWD/build/screenshot.png" xvfb-run -a -s "-screen 0 1024x768x24" build/voldex "$@"
ls -l build/screenshot.png
