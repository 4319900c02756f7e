#!/usr/bin/env bash
# The C example of README.md (the fenced block after "<!-- example: list_adts.c -->"), compiled
# as written with -std=c99 -Wall -Werror against the static library, and run on a vector: it
# must list every frame.
#
#   readme-example.sh SOURCE_DIR CC CFLAGS LIBZUFACK9_A [EMULATOR]
set -euo pipefail
src=$1 cc=$2 cflags=$3 lib=$4 emulator=${5:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
awk '/<!-- example: list_adts.c -->/ { found = 1; next }
     found && /^```c$/ { inside = 1; next }
     inside && /^```$/ { exit }
     inside { print }' "$src/README.md" >"$work/list_adts.c"
[ -s "$work/list_adts.c" ] || { echo "README.md has no example block"; exit 1; }
# shellcheck disable=SC2086
$cc $cflags -std=c99 -Wall -Wextra -Werror -I"$src/include" "$work/list_adts.c" "$lib" -lm -o "$work/list_adts"
vector=$src/tests/vectors/adts_lc_44100_stereo.aac
$emulator "$work/list_adts" "$vector" >"$work/out.txt"
cat "$work/out.txt" | head -3
tail -1 "$work/out.txt" | grep -qx "88 frames, 16724 bytes" || { tail -3 "$work/out.txt"; exit 1; }
grep -q "^frame 0 at 0: 44100 Hz, channel configuration 2, " "$work/out.txt" || exit 1
echo "README example: compiled as written and listed the 88 frames of $(basename "$vector")"
