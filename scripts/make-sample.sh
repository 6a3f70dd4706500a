#!/usr/bin/env bash
# Makes the sample image: a PC-9801 style 1.2 MB floppy (1024-byte sectors,
# FAT12) with a few folders and files in it.
set -euo pipefail
out=${1:-build/sample.img}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

rm -f "$out"
mkfs.fat -C -F 12 -S 1024 -s 1 -f 2 -r 192 -n VOLDEX "$out" 1232 >/dev/null
mkdir -p "$work/DOCS" "$work/GAMES/SAVE"
printf 'Voldex sample disk\r\nA PC-9801 style 2HD floppy image.\r\n' >"$work/README.TXT"
printf '@ECHO OFF\r\nECHO Hello from the sample disk\r\n' >"$work/AUTOEXEC.BAT"
seq 1 4000 >"$work/DOCS/NUMBERS.TXT"
head -c 10240 /dev/zero | tr '\0' '\125' >"$work/GAMES/DATA.BIN"
: >"$work/GAMES/SAVE/EMPTY.SAV"
touch -d '1993-04-01 09:30:00' "$work/README.TXT" "$work/AUTOEXEC.BAT" "$work/DOCS/NUMBERS.TXT" \
  "$work/GAMES/DATA.BIN" "$work/GAMES/SAVE/EMPTY.SAV"
mcopy -s -m -i "$out" "$work/README.TXT" "$work/AUTOEXEC.BAT" "$work/DOCS" "$work/GAMES" ::
echo "$out"
