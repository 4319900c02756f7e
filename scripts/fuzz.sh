#!/usr/bin/env bash
# Builds every harness under fuzz/ as a libFuzzer target (clang, ASan + UBSan, the library
# instrumented for coverage) and runs each for SECONDS (default 60), one after the other.
#
#   scripts/fuzz.sh [SECONDS] [HARNESS...]
#
# Each harness keeps a working corpus in build/fuzz/corpus/NAME, seeded from tests/vectors and
# the committed reproducers in fuzz/corpus/NAME. A finding stops that harness; its input is left
# in build/fuzz/findings/ (add it to fuzz/corpus/NAME with the fix, so the standalone driver
# replays it in every test run). Exit status 1 if any harness found something.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
out=build/fuzz
if ! command -v clang++ >/dev/null; then
  echo "fuzz.sh: clang++ is needed (apt-get install clang)" >&2
  exit 2
fi
CC=clang CXX=clang++ cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZUF_SANITIZE=ON \
  -DZUF_LIBFUZZER=ON -DZUF_BUILD_TESTS=OFF -DZUF_BUILD_TOOLS=OFF -DZUF_BUILD_BENCH=OFF >"$out.configure.log" 2>&1 ||
  { cat "$out.configure.log"; exit 2; }
harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
  for f in fuzz/fuzz_*.cpp; do harnesses+=("$(basename "$f" .cpp)"); done
fi
cmake --build "$out" -j "$(nproc 2>/dev/null || echo 2)" --target "${harnesses[@]}" >"$out.build.log" 2>&1 ||
  { tail -40 "$out.build.log"; exit 2; }
mkdir -p "$out/findings"
status=0
for h in "${harnesses[@]}"; do
  corpus="$out/corpus/$h"
  mkdir -p "$corpus"
  seeds=(tests/vectors)
  [ -d "fuzz/corpus/$h" ] && seeds+=("fuzz/corpus/$h")
  log="$out/$h.log"
  "$out/fuzz/$h" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$out/findings/$h-" "$corpus" "${seeds[@]}" >"$log" 2>&1
  rc=$?
  last=$(grep -E "^#[0-9]+.*(DONE|pulse|NEW|REDUCE)" "$log" | tail -1)
  execs=$(sed -n 's/^#\([0-9]*\).*/\1/p' <<<"$last")
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  if [ $rc -eq 0 ]; then
    printf '%-24s %10s runs  cov %6s  no findings\n' "$h" "${execs:-?}" "${cov:-?}"
  else
    status=1
    printf '%-24s %10s runs  cov %6s  FINDING (see %s)\n' "$h" "${execs:-?}" "${cov:-?}" "$log"
    grep -E "ERROR|runtime error|SUMMARY" "$log" | head -3
  fi
done
exit $status
