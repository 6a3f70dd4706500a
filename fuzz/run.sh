#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for SECONDS (default 5).
#   fuzz/run.sh 300     five minutes each
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-5}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DVOLDEX_FUZZ=ON -DVOLDEX_BUILD_GUI=OFF -DVOLDEX_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz -j2 >/dev/null

# Seeds: real volumes made by mkfs.fat, partition tables, settings text.
corpus=build-fuzz/corpus
mkdir -p "$corpus"/{bootrecord,partitions,headers,ini,volume,cli,mountops,check}
if [ ! -f "$corpus/volume/fat12" ]; then
  work=$(mktemp -d)
  mkfs.fat -C -F 12 "$work/fat12" 160 >/dev/null
  echo hello >"$work/a.txt"
  mmd -i "$work/fat12" ::DIR && mcopy -i "$work/fat12" "$work/a.txt" ::DIR/
  mkfs.fat -C -F 16 -s 1 "$work/fat16" 2200 >/dev/null
  cp "$work/fat12" "$corpus/volume/"
  head -c 65536 "$work/fat16" >"$corpus/volume/fat16"
  head -c 512 "$work/fat12" >"$corpus/bootrecord/fat12"
  head -c 512 "$work/fat16" >"$corpus/bootrecord/fat16"
  truncate -s 2M "$work/at" && printf 'label: dos\n2048,512K,6\n,,5\n,256K,6\n,256K,1\n' | sfdisk -q "$work/at"
  head -c 65536 "$work/at" >"$corpus/partitions/at"
  cp "$corpus/partitions/at" "$corpus/headers/at"
  cp "$work/fat12" "$corpus/headers/plain"
  printf '[ProgramSettings]\nDnDMode=1\nLastOpenDir=/tmp\n[Disk]\nProfileType=3\nHDDType=1\n' >"$corpus/ini/settings"
  printf 'ls\0img\0--offset\0512\0/P[name] /S "a b"\n' >"$corpus/cli/args"
  rm -rf "$work"
fi
# The checker starts from the same volumes.
[ -n "$(ls -A "$corpus/check")" ] || cp "$corpus/volume/"* "$corpus/check/"

status=0
[ -n "$(ls -A "$corpus/mountops")" ] || cp "$corpus"/volume/* "$corpus/mountops/"
# Inputs that once found a fault run first, every time.
for dir in fuzz/regressions/*/; do
  [ -d "$dir" ] && cp "$dir"* "$corpus/$(basename "$dir")/"
done

for target in bootrecord partitions headers ini volume cli mountops check; do
  echo "== fuzz_$target for ${seconds}s"
  if ! build-fuzz/fuzz_$target -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=131072 \
       -print_final_stats=0 "$corpus/$target" 2>build-fuzz/fuzz_$target.log; then
    echo "fuzz_$target FAILED; see build-fuzz/fuzz_$target.log"
    tail -30 build-fuzz/fuzz_$target.log
    status=1
  else
    grep -E '^#[0-9]+ *DONE' build-fuzz/fuzz_$target.log | tail -1 || true
  fi
done
exit $status
