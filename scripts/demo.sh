#!/usr/bin/env bash
# Sets up, builds and runs the example decoder on a bundled sample AAC stream; the WAV file goes
# to build/release/demo.wav.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target zufdec -j "$(nproc 2>/dev/null || echo 2)"
sample=${1:-tests/vectors/adts_lc_44100_stereo.aac}
wav=build/release/demo.wav
echo "--- build/release/tools/zufdec -y $sample $wav"
build/release/tools/zufdec -y "$sample" "$wav"
echo "--- the decoded audio is in $(pwd)/$wav"
