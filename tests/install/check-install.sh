#!/usr/bin/env bash
# Installs the build tree into a scratch prefix and builds tests/install/consumer.c against it:
# shared and static through pkg-config, and both again through find_package(zufack9); and runs
# the installed zufdec and zufinfo.
set -euo pipefail
build=$1 cc=$2 cflags=$3 cmake=$4 srcdir=$5 toolchain=${6:-} emulator=${7:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
"$cmake" --install "$build" --prefix "$prefix" >/dev/null

pc=$(find "$prefix" -name zufack9.pc | head -1)
lib=$(dirname "$(dirname "$pc")")
[ -n "$pc" ] || { echo "zufack9.pc was not installed"; exit 1; }
for f in "$lib/libzufack9.so.5.2" "$lib/libzufack9.so.5" "$lib/libzufack9.so" "$lib/libzufack9.a" \
         "$prefix/include/zufack9/zufack9.h"; do
  [ -e "$f" ] || { echo "missing after install: $f"; exit 1; }
done
soname=$(readelf -d "$lib/libzufack9.so.5.2" | sed -n 's/.*SONAME.*\[\(.*\)\]/\1/p')
[ "$soname" = libzufack9.so.5 ] || { echo "SONAME is '$soname'"; exit 1; }

# The installed programs run from the prefix without LD_LIBRARY_PATH: their RPATH is
# $ORIGIN/../lib, whatever the prefix.
if [ -e "$prefix/bin/zufdec" ]; then
    for tool in zufdec zufinfo; do
        readelf -d "$prefix/bin/$tool" | grep -Eq '(RPATH|RUNPATH).*\[\$ORIGIN/\.\./lib' ||
            { echo "installed $tool has no RPATH \$ORIGIN/../lib"; exit 1; }
    done
    env -u LD_LIBRARY_PATH $emulator "$prefix/bin/zufinfo" --version | grep -q 'libzufack9.so.5' ||
        { echo "installed zufinfo does not run"; exit 1; }
    env -u LD_LIBRARY_PATH $emulator "$prefix/bin/zufdec" -q "$srcdir/../vectors/adts_lc_44100_stereo.aac" \
        -o "$work/installed.wav" || { echo "installed zufdec does not decode"; exit 1; }
    [ "$(head -c 4 "$work/installed.wav")" = RIFF ] || { echo "installed zufdec wrote no WAV"; exit 1; }
    echo "installed zufdec and zufinfo run without LD_LIBRARY_PATH"
fi

export PKG_CONFIG_PATH=$(dirname "$pc")
# shellcheck disable=SC2086
$cc $cflags -std=c99 -Wall -Werror "$srcdir/consumer.c" $(pkg-config --cflags --libs zufack9) -o "$work/pc_shared"
# The dynamic section must ask for the SONAME, found through LD_LIBRARY_PATH at run time.
if ! readelf -d "$work/pc_shared" | grep -q 'NEEDED.*\[libzufack9.so.5\]'; then
    echo "pc_shared does not need libzufack9.so.5"
    exit 1
fi
LD_LIBRARY_PATH=$lib $emulator "$work/pc_shared"
# shellcheck disable=SC2086
$cc $cflags -std=c99 -Wall -Werror "$srcdir/consumer.c" $(pkg-config --cflags zufack9) "$lib/libzufack9.a" -lm \
    -o "$work/pc_static"
env -u LD_LIBRARY_PATH $emulator "$work/pc_static"
if readelf -d "$work/pc_static" | grep -q libzufack9; then echo "pc_static links the shared library"; exit 1; fi

tc=()
[ -n "$toolchain" ] && tc=(-DCMAKE_TOOLCHAIN_FILE="$toolchain")
"$cmake" -S "$srcdir" -B "$work/cm" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" "${tc[@]}" \
  -DCMAKE_C_FLAGS="$cflags" >/dev/null
"$cmake" --build "$work/cm" >/dev/null
LD_LIBRARY_PATH=$lib $emulator "$work/cm/consumer_shared"
$emulator "$work/cm/consumer_static"
echo "install consumer: pkg-config and find_package, shared and static: ok"
