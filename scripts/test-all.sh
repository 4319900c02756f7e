#!/usr/bin/env bash
# Builds libzufack9 for x86-64 (release), 32-bit x86 and x86-64 with ASan + UBSan, and runs
# every test of each build; on a CPU with AVX2 also the release-avx2 build (kernels built for
# AVX2, which must give the default build's results bit for bit); then runs every libFuzzer harness for a short time (scripts/fuzz.sh,
# clang, ASan + UBSan; ZUF_FUZZ_SECONDS each, default 12, 0 skips them). Each build's full output
# goes to build/test-all-<preset>.log; the terminal gets one summary per build, and the log's
# failures and tail when a build fails. A fuzzer finding fails the run; its input stays in
# build/fuzz/findings/ and the harness's log in build/fuzz/<harness>.log.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)
mkdir -p build
total=0
presets="release i386 sanitize"
# The AVX2 build's programs need an AVX2 CPU to run at all.
if grep -qw avx2 /proc/cpuinfo 2>/dev/null; then
  presets="release release-avx2 i386 sanitize"
  avx2_note=""
else
  avx2_note=" (release-avx2 skipped: this CPU has no AVX2)"
fi
for preset in $presets; do
  log=build/test-all-$preset.log
  start=$SECONDS
  if ! { cmake --preset "$preset" && cmake --build --preset "$preset" -j "$jobs" &&
         ctest --preset "$preset" -j "$jobs"; } >"$log" 2>&1; then
    echo "=== $preset: FAILED (full log: $log)"
    # The failing tests with their output, else the end of the log (a build error).
    if grep -q "tests failed out of" "$log"; then
      sed -n '/The following tests FAILED/,$p' "$log"
      grep -B2 -A25 -E "^\s*[0-9]+/[0-9]+ Test +#[0-9]+: .*\*\*\*(Failed|Timeout|Exception)" "$log" | head -150
    else
      tail -40 "$log"
    fi
    exit 1
  fi
  passed=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -1)
  warnings=$(grep -c "warning:" "$log" || true)
  total=$((total + ${passed:-0}))
  echo "$preset: ${passed:-0} passed, 0 failed ($((SECONDS - start)) s, $warnings compiler warnings; log: $log)"
done
echo "all builds and tests passed: ${presets// /, }$avx2_note"
echo "total: $total passed, 0 failed"
fuzz_seconds=${ZUF_FUZZ_SECONDS:-12}
if [ "$fuzz_seconds" -gt 0 ]; then
  start=$SECONDS
  if ! bash scripts/fuzz.sh "$fuzz_seconds"; then
    echo "=== fuzz: FAILED (a harness found something or did not build; inputs in build/fuzz/findings/)"
    exit 1
  fi
  echo "fuzz: every harness ran ${fuzz_seconds} s without a finding ($((SECONDS - start)) s)"
fi
