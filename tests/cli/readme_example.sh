#!/bin/sh
# Runs the script example of README.md on an image made by mtools and
# checks its work with mtools. Usage: readme_example.sh VOLDEX_CLI README.md
set -eu
cli=$1
readme=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

awk '/<!-- cli-example -->/{on=1; next} /<!-- \/cli-example -->/{on=0} on && !/^```/' "$readme" > "$dir/example.sh"
[ -s "$dir/example.sh" ] || { echo "no example in $readme"; exit 1; }

img=$dir/game.img
mkfs.fat -C -F 12 "$img" 1440 >/dev/null
printf 'Konnichiwa, world\n' > "$dir/HELLO.TXT"
printf 'Konnichiwa again\n' > "$dir/AGAIN.TXT"
printf 'not text\n' > "$dir/DATA.BIN"
mmd -i "$img" ::GAMES
mcopy -i "$img" "$dir/HELLO.TXT" "$dir/AGAIN.TXT" "$dir/DATA.BIN" ::GAMES

out=$(cd "$dir" && IMG=$img VOLDEX_CLI=$cli sh "$dir/example.sh")
echo "$out"
[ "$out" = "translated: AGAIN.TXT HELLO.TXT" ] || [ "$out" = "translated: HELLO.TXT AGAIN.TXT" ] || {
    echo "unexpected output: $out"; exit 1; }
[ "$(mtype -i "$img" ::GAMES/EN/HELLO.TXT)" = "Hello, world" ] || { echo "HELLO.TXT not translated"; exit 1; }
[ "$(mtype -i "$img" ::GAMES/EN/AGAIN.TXT)" = "Hello again" ] || { echo "AGAIN.TXT not translated"; exit 1; }
[ "$(mdir -b -i "$img" ::GAMES/EN | wc -l)" -eq 2 ] || { echo "EN holds other files"; exit 1; }
fsck.fat -n "$img" >/dev/null || { echo "fsck.fat complains"; exit 1; }
echo ok
