#!/usr/bin/env bash
# Times voldex-cli against mtools on the same large images, with
# `cat IMAGE > /dev/null` as the read limit, and prints the ratios.
#   bench/run.sh [WORKDIR]      (needs about 3 GiB of free space; images are sparse)
# Small-file rows give the median of five runs; the machine's load is
# printed at the start and the end, as a busy machine slows every row.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x build/voldex-cli ] || cmake --build build -j2 --target voldex-cli >/dev/null
cli=$PWD/build/voldex-cli
work=${1:-$(mktemp -d)}
mkdir -p "$work"
cd "$work"
export MTOOLS_SKIP_CHECK=1

now() { date +%s.%N; }
# t NAME COMMAND...: runs the command with a cold-ish cache state left as it is, prints seconds.
t() {
  local start end
  start=$(now)
  "$@" >/dev/null 2>&1
  end=$(now)
  echo "$end - $start" | bc
}
# best COMMAND...: the fastest of three runs (for commands that change nothing).
best() {
  local a b c
  a=$(t "$@"); b=$(t "$@"); c=$(t "$@")
  printf '%s\n%s\n%s\n' "$a" "$b" "$c" | sort -n | head -1
}
# export_best VOLDEX-COMMAND MTOOLS-COMMAND [RUNS]: the fastest of three
# exports of each into empty folders, or with RUNS the median of that many
# (removing the old copies is not timed).
export_best() {
  local xs=() ys=() runs=${3:-3}
  for r in $(seq 1 "$runs"); do
    rm -rf out-v out-m && mkdir out-v out-m && sync
    xs+=("$(t sh -c "$1")"); ys+=("$(t sh -c "$2")")
  done
  if [ $# -ge 3 ]; then echo "$(median "${xs[@]}") $(median "${ys[@]}")"
  else echo "$(printf '%s\n' "${xs[@]}" | sort -n | head -1) $(printf '%s\n' "${ys[@]}" | sort -n | head -1)"; fi
}
# median SECONDS...: the middle one (the lower middle of an even count).
median() { printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"; }
load() { echo "== load average (1, 5, 15 min): $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"; }
ratio() { echo "scale=2; $1 / $2" | bc; }
row() { printf '%-34s %10s %10s %8s\n' "$1" "$2" "$3" "$4"; }

load
echo "== making the images and the host files in $work"
rm -rf f16.img f32.img big.bin small out-v out-m
truncate -s 1200M f16.img && mkfs.fat -F 16 -s 64 f16.img >/dev/null
truncate -s 1200M f32.img && mkfs.fat -F 32 -s 8 f32.img >/dev/null
head -c 256M /dev/urandom >big.bin
mkdir -p small
for i in $(seq 1 5000); do head -c $((i % 7 * 300 + 100)) /dev/urandom >small/F$i.DAT; done
cp f16.img f16-m.img

printf '%-34s %10s %10s %8s\n' "operation (seconds)" voldex mtools ratio

# Imports change the image: each of the three runs starts from an empty copy.
cp f16.img f16-empty.img
fresh() { cp --sparse=always f16-empty.img f16.img; cp --sparse=always f16-empty.img f16-m.img; cat big.bin >/dev/null; }
# import_best [-5] VOLDEX-ARGS -- MTOOLS-ARGS: the fastest of three runs,
# with -5 the median of five.
import_best() {
  local va=() ma=() side=v xs=() ys=() runs=3
  if [ "$1" = -5 ]; then runs=5; shift; fi
  for arg in "$@"; do
    if [ "$arg" = "--" ]; then side=m; continue; fi
    if [ $side = v ]; then va+=("$arg"); else ma+=("$arg"); fi
  done
  for r in $(seq 1 $runs); do
    fresh
    xs+=("$(t "$cli" "${va[@]}")"); ys+=("$(t mcopy "${ma[@]}")")
  done
  if [ $runs = 5 ]; then echo "$(median "${xs[@]}") $(median "${ys[@]}")"
  else echo "$(printf '%s\n' "${xs[@]}" | sort -n | head -1) $(printf '%s\n' "${ys[@]}" | sort -n | head -1)"; fi
}
read -r a b <<<"$(import_best put f16.img big.bin -- -i f16-m.img big.bin ::BIG.BIN)"
row "import 256 MiB file (FAT16)" "$a" "$b" "$(ratio "$b" "$a")x"
read -r a b <<<"$(import_best -5 put f16.img small -- -s -i f16-m.img small ::SMALL)"
row "import 5000 small files (FAT16; median)" "$a" "$b" "$(ratio "$b" "$a")x"
# Leave both files in the image for the exports below.
"$cli" put f16.img big.bin >/dev/null 2>&1
# The FAT32 volume is filled by mtools: voldex opens FAT32 read-only.
mcopy -i f32.img big.bin ::BIG.BIN && mcopy -s -i f32.img small ::SMALL

for img in f16 f32; do
  up=$(echo $img | tr a-z A-Z | sed s/F/FAT/)
  rm -rf out-v out-m && mkdir out-v out-m
  c=$(best sh -c "cat $img.img > /dev/null")
  read -r a b <<<"$(export_best "$cli get $img.img BIG.BIN out-v" "mcopy -i $img.img ::BIG.BIN out-m/")"
  row "export 256 MiB file ($up)" "$a" "$b" "$(ratio "$b" "$a")x"
  row "  read limit: cat image" "$c" "" "$(ratio "$a" "$c")x cat"
  # Long names keep the case the file was put with: the name is compared ignoring case.
  exported=$(find out-v -maxdepth 1 -iname big.bin | head -1)
  [ -n "$exported" ] && cmp -s "$exported" big.bin || echo "  !! exported file differs"
  read -r a b <<<"$(export_best "$cli get $img.img SMALL out-v" "mcopy -s -i $img.img ::SMALL out-m/" 5)"
  row "export 5000 small files ($up; median)" "$a" "$b" "$(ratio "$b" "$a")x"
  a=$(best "$cli" ls $img.img SMALL); b=$(best mdir -i $img.img ::SMALL)
  row "list a folder of 5000 ($up)" "$a" "$b" "$(ratio "$b" "$a")x"
  a=$(best "$cli" info $img.img); b=$(best minfo -i $img.img)
  row "mount ($up)" "$a" "$b" "$(ratio "$b" "$a")x"
  a=$(best "$cli" check $img.img); b=$(best fsck.fat -n $img.img)
  row "check ($up; against fsck.fat -n)" "$a" "$b" "$(ratio "$b" "$a")x"
done
fsck.fat -n f16.img >/dev/null && echo "fsck.fat: the FAT16 image written by voldex is clean"

# The mount against put and get: 64 MiB copied in (cp, then sync of the
# file, as put flushes before it exits) and out (cp from a fresh mount) of
# a FAT16 image; the ratio is the mount's time over put's or get's (the
# aim: 2 at most).
if [ -e /dev/fuse ] && command -v fusermount3 >/dev/null; then
  rm -rf mnt out-v out-m big64.bin && mkdir -p mnt out-v out-m
  head -c 64M /dev/urandom >big64.bin
  rm -f m16-empty.img && truncate -s 300M m16-empty.img && mkfs.fat -F 16 -s 64 m16-empty.img >/dev/null
  unmount() { fusermount3 -u mnt; while mountpoint -q mnt; do sleep 0.1; done; sleep 0.3; }
  best_of() { printf '%s\n' "$@" | sort -n | head -1; }
  pi=(); mi=(); go=(); mo=()
  for r in 1 2 3; do
    cp --sparse=always m16-empty.img m16.img
    pi+=("$(t "$cli" put m16.img big64.bin)")
    cp --sparse=always m16-empty.img m16.img
    "$cli" mount m16.img mnt
    mi+=("$(t sh -c "cp big64.bin mnt/BIG64.BIN && sync mnt/BIG64.BIN")")
    unmount
    rm -f out-v/* out-m/*
    go+=("$(t "$cli" get m16.img BIG64.BIN out-v)")
    "$cli" mount m16.img mnt
    mo+=("$(t cp mnt/BIG64.BIN out-m/)")
    unmount
  done
  cmp -s out-m/BIG64.BIN big64.bin || echo "  !! the file read from the mount differs"
  a=$(best_of "${mi[@]}"); b=$(best_of "${pi[@]}")
  printf '%-34s %10s %10s %8s\n' "mount: 64 MiB in (FAT16)" "$a" "put $b" "$(ratio "$a" "$b")x"
  a=$(best_of "${mo[@]}"); b=$(best_of "${go[@]}")
  printf '%-34s %10s %10s %8s\n' "mount: 64 MiB out (FAT16)" "$a" "get $b" "$(ratio "$a" "$b")x"
  # cp -r of 1,000 small files into the mount (then sync) against put of
  # the folder; the median of three runs, each on an empty image.
  rm -rf thousand && mkdir thousand
  for i in $(seq 1 1000); do head -c $((i % 5 * 200 + 50)) /dev/urandom >thousand/F$i.DAT; done
  pt=(); mt=()
  for r in 1 2 3; do
    cp --sparse=always m16-empty.img m16.img
    pt+=("$(t "$cli" put m16.img thousand)")
    cp --sparse=always m16-empty.img m16.img
    "$cli" mount m16.img mnt
    mt+=("$(t sh -c "cp -r thousand mnt/THOUSAND && sync mnt/THOUSAND")")
    unmount
  done
  fsck.fat -n m16.img >/dev/null || echo "  !! fsck.fat finds the volume left by the mount unclean"
  a=$(median "${mt[@]}"); b=$(median "${pt[@]}")
  printf '%-34s %10s %10s %8s\n' "mount: cp -r 1000 files (median)" "$a" "put $b" "$(ratio "$a" "$b")x"
else
  echo "mount rows skipped: no /dev/fuse or fusermount3"
fi
# convert against a copy of the file (both flushed): a 256 MiB PC-9801
# disk from HDI to NHD, and a 2HD D88 to a plain dump.
rm -f conv.hdi conv.nhd conv-copy conv.d88 conv.hdm
"$cli" new conv.hdi pc98-hd --size 256M >/dev/null && head -c 240M /dev/urandom | dd of=conv.hdi bs=1M seek=8 conv=notrunc status=none
a=999; b=999
for r in 1 2 3; do
  rm -f conv.nhd conv-copy
  x=$(t "$cli" convert conv.hdi conv.nhd); y=$(t sh -c "cat conv.hdi >conv-copy && sync conv-copy")
  a=$(printf '%s\n%s\n' "$a" "$x" | sort -n | head -1); b=$(printf '%s\n%s\n' "$b" "$y" | sort -n | head -1)
done
row "convert 256 MiB HDI to NHD (cat+sync)" "$a" "$b" "$(ratio "$b" "$a")x"
"$cli" new conv.hdm 2hd >/dev/null && "$cli" convert conv.hdm conv.d88 >/dev/null && rm conv.hdm
a=$(best sh -c "rm -f conv.hdm; $cli convert conv.d88 conv.hdm"); b=$(best sh -c "rm -f conv-copy; cat conv.d88 >conv-copy && sync conv-copy")
row "convert 2HD D88 to plain (cat+sync)" "$a" "$b" "$(ratio "$b" "$a")x"
rm -f conv.hdi conv.nhd conv-copy conv.d88 conv.hdm

# ---- scale: huge FAT32 volumes, batched deletes, put against mcopy + sync ----
# Each row is a ratio (mtools time over voldex time: above 1 is faster);
# peak memory is the resident maximum of /usr/bin/time -v.
peak() {  # peak COMMAND...: resident maximum in MB
  /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1 | awk '{printf "%.1f", $1 / 1024}'
}
printf '\n%-34s %10s %10s %8s\n' "scale (seconds)" voldex mtools ratio
rm -f f128.img && truncate -s 128G f128.img && mkfs.fat -F 32 f128.img >/dev/null
mmd -i f128.img ::DIR && mcopy -i f128.img small/F1.DAT small/F2.DAT small/F3.DAT ::DIR/
a=$(best "$cli" ls f128.img DIR); b=$(best mdir -i f128.img ::DIR)
row "list a folder (128 GiB FAT32)" "$a" "$b" "$(ratio "$b" "$a")x"
row "  peak memory (MB)" "$(peak "$cli" ls f128.img DIR)" "$(peak mdir -i f128.img ::DIR)" ""
a=$(best "$cli" info f128.img); b=$(best minfo -i f128.img)
row "info (128 GiB FAT32)" "$a" "$b" "$(ratio "$b" "$a")x"
row "  peak memory (MB)" "$(peak "$cli" info f128.img)" "$(peak minfo -i f128.img)" ""
a=$(t "$cli" check f128.img); b=$(t fsck.fat -n f128.img)
row "check (128 GiB FAT32; fsck.fat -n)" "$a" "$b" "$(ratio "$b" "$a")x"
rm -f f128.img

# rm of 1,000 files in one folder, against mdel; each run on a fresh copy.
if [ ! -d thousand ]; then
  mkdir thousand
  for i in $(seq 1 1000); do head -c $((i % 5 * 200 + 50)) /dev/urandom >thousand/F$i.DAT; done
fi
cp --sparse=always f16-empty.img f16-k.img
"$cli" put f16-k.img thousand >/dev/null 2>&1
a=999; b=999
for r in 1 2 3; do
  cp --sparse=always f16-k.img f16.img; cp --sparse=always f16-k.img f16-m.img
  x=$(t "$cli" rm f16.img '::THOUSAND/*'); y=$(t sh -c "mdel -i f16-m.img '::THOUSAND/*' && sync")
  a=$(printf '%s\n%s\n' "$a" "$x" | sort -n | head -1); b=$(printf '%s\n%s\n' "$b" "$y" | sort -n | head -1)
done
row "rm 1000 files (FAT16; mdel + sync)" "$a" "$b" "$(ratio "$b" "$a")x"
fsck.fat -n f16.img >/dev/null || echo "  !! fsck.fat finds the volume left by rm unclean"
if command -v strace >/dev/null; then
  cp --sparse=always f16-k.img f16.img
  n=$(strace -f -c -e trace=fsync,fdatasync "$cli" rm f16.img '::THOUSAND/*' 2>&1 >/dev/null | awk '/fsync|fdatasync/ {s += $4} END {print s + 0}')
  row "  flushes of that rm" "$n" "" ""
fi
rm -rf thousand f16-k.img

# put of 256 MiB against mcopy followed by sync (voldex flushes before it
# reports success).
a=999; b=999
for r in 1 2 3; do
  fresh
  x=$(t "$cli" put f16.img big.bin); y=$(t sh -c "mcopy -i f16-m.img big.bin ::BIG.BIN && sync")
  a=$(printf '%s\n%s\n' "$a" "$x" | sort -n | head -1); b=$(printf '%s\n%s\n' "$b" "$y" | sort -n | head -1)
done
row "import 256 MiB (FAT16; mcopy + sync)" "$a" "$b" "$(ratio "$b" "$a")x"
# ---- end of the scale rows ----
load
