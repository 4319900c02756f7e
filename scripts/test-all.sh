#!/usr/bin/env bash
# Builds libzufack9 for x86-64 (release), 32-bit x86 and x86-64 with ASan + UBSan, and runs
# every test of each build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)
for preset in release i386 sanitize; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done
echo "all builds and tests passed: release, i386, sanitize"
