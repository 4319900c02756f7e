#!/usr/bin/env bash
# The FFTs against an FFTW that has the library's own instruction set.
#
#   bench/fftw-sse2.sh [BENCH_FFT_ARGS...]
#
# Debian builds FFTW's single precision with AVX kernels (--enable-sse --enable-avx), and FFTW
# picks them at run time, while the library's default build is fixed to SSE3 with four float
# lanes. This script fetches Debian's own FFTW source package (apt-get source, through a private
# apt state: the system's sources and lists are not touched), builds its single precision as a
# static library with SSE2 kernels only, builds bench_fft against it in build/fftw-sse2 and runs
# it. The table it prints gives ours / FFTW for transforms on the same vector width.
#
# Needs network access to the Debian archive once; the FFTW build is kept in build/fftw-sse2 and
# reused. Extra arguments go to bench_fft (default: the sizes of bench/compare.sh).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
out=$root/build/fftw-sse2
prefix=$out/fftw
mkdir -p "$out"

if [ ! -f "$prefix/lib/libfftw3f.a" ]; then
    apt_dir=$out/apt
    mkdir -p "$apt_dir/lists/partial" "$apt_dir/src"
    cat >"$apt_dir/sources.list" <<'EOF'
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main
EOF
    apt_opts=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=-"
              -o "Dir::State::Lists=$apt_dir/lists" -o "APT::Sandbox::User=root")
    echo "fftw-sse2.sh: fetching Debian's fftw3 source package" >&2
    apt-get "${apt_opts[@]}" -qq update
    (cd "$apt_dir/src" && apt-get "${apt_opts[@]}" -qq source --download-only fftw3)
    tarball=$(ls "$apt_dir"/src/fftw3_*.orig.tar.gz | head -1)
    rm -rf "$out/src" && mkdir -p "$out/src"
    tar -xzf "$tarball" -C "$out/src" --strip-components=1
    echo "fftw-sse2.sh: building FFTW (single precision, SSE2 kernels only)" >&2
    (cd "$out/src" &&
        ./configure -q --enable-float --enable-sse2 --disable-avx --disable-avx2 --disable-avx512 \
            --disable-shared --enable-static --disable-fortran --disable-doc --prefix="$prefix" \
            CFLAGS="-O3 -fomit-frame-pointer" >/dev/null &&
        make -s -j"$(nproc)" >/dev/null 2>&1 && make -s install >/dev/null)
    basename "$tarball" .orig.tar.gz >"$prefix/SOURCE"
fi

cmake -S "$root" -B "$out/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZUF_BUILD_BENCH=ON -DZUF_BUILD_TESTS=OFF \
    -DZUF_BUILD_TOOLS=OFF -DFFTW3F="$prefix/lib/libfftw3f.a" >/dev/null
cmake --build "$out/build" --target bench_fft >/dev/null
if [ $# -eq 0 ]; then
    set -- "--benchmark_filter=^(cfft_fwd|cfft_inv|rfft)/(ours|fftw_estimate|fftw_measure)/(64|128|256|512|1024|2048|4096)$"
fi
echo "bench_fft against $(cat "$prefix/SOURCE") built with SSE2 kernels only"
"$out/build/bench/bench_fft" "$@" | sed -n '/^transform/,$p'
