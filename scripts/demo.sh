#!/usr/bin/env bash
# Sets up, builds and runs the example program on a bundled sample stream.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target zufinfo -j "$(nproc 2>/dev/null || echo 2)"
sample=${1:-tests/vectors/adts_lc_44100_stereo.aac}
echo "--- build/release/tools/zufinfo --summary $sample"
build/release/tools/zufinfo --summary "$sample"
