#!/usr/bin/env bash
# Times voldex-cli mount: a tree of 1,000 small files and one 100 MB file
# copied in and out with cp, against mcopy on the same kind of image.
#   bench/mount.sh [WORKDIR]
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x build/voldex-cli ] || cmake --build build -j2 --target voldex-cli >/dev/null
cli=$PWD/build/voldex-cli
work=${1:-$(mktemp -d)}
mkdir -p "$work"
cd "$work"
export MTOOLS_SKIP_CHECK=1
now() { date +%s.%N; }
t() {
  local start end
  start=$(now)
  "$@" >/dev/null 2>&1
  end=$(now)
  echo "$end - $start" | bc
}

rm -rf tree big.bin mnt out-* && mkdir -p mnt
for d in $(seq 0 9); do
  mkdir -p tree/DIR$d
  for f in $(seq 0 99); do head -c $(( (d * 100 + f) * 37 % 5000 )) /dev/urandom >tree/DIR$d/F$f.BIN; done
done
head -c 100000000 /dev/urandom >big.bin

fresh() { rm -f "$1" && mkfs.fat -C -F 16 -s 8 "$1" 262144 >/dev/null; }
fresh v.img && fresh m.img

"$cli" mount v.img mnt
in_tree=$(t cp -r tree mnt/TREE)
out_tree=$(t cp -r mnt/TREE out-v)
in_big=$(t cp big.bin mnt/BIG.BIN)
fusermount3 -u mnt && sleep 0.5
"$cli" mount v.img mnt
out_big=$(t cp mnt/BIG.BIN out-big)
fusermount3 -u mnt && sleep 0.5
cmp big.bin out-big && diff -r tree out-v

m_in_tree=$(t mcopy -s -i m.img tree ::TREE)
m_out_tree=$(t mcopy -s -i m.img ::TREE out-m)
m_in_big=$(t mcopy -i m.img big.bin ::BIG.BIN)
m_out_big=$(t mcopy -i m.img ::BIG.BIN out-mbig)

printf '%-28s %8s %8s\n' "" "mount" "mtools"
printf '%-28s %8.2f %8.2f\n' "1,000 files in (s)" "$in_tree" "$m_in_tree"
printf '%-28s %8.2f %8.2f\n' "1,000 files out (s)" "$out_tree" "$m_out_tree"
printf '%-28s %8.2f %8.2f\n' "100 MB file in (s)" "$in_big" "$m_in_big"
printf '%-28s %8.2f %8.2f\n' "100 MB file out (s)" "$out_big" "$m_out_big"
