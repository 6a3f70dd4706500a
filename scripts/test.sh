#!/usr/bin/env bash
# Sets up, builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
# setup.sh configures build/ with the tests asked for by name, whatever an
# earlier configuration left in the cache, and builds them from this source.
scripts/setup.sh
cd build
QT_QPA_PLATFORM=offscreen ctest -j2 --output-on-failure --no-tests=error
