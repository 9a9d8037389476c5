#!/usr/bin/env bash
# Builds and runs every test: plain, under AddressSanitizer + UndefinedBehaviorSanitizer, the
# cross-thread tests under ThreadSanitizer, and each fuzz target briefly.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${TAVRIN_BUILD_ROOT:-$root/build}
jobs=$(nproc)

echo "== plain build"
"$root/scripts/build.sh" "$out/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir "$out/release" -j"$jobs" --output-on-failure

echo "== the editor in a host's X11 window (Xvfb)"
xvfb-run -a -s "-screen 0 1920x1080x24" ctest --test-dir "$out/release" -L '^gui$' --output-on-failure

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
"$root/scripts/build.sh" "$out/asan" -DCMAKE_BUILD_TYPE=Debug -DTAVRIN_SANITIZE=ON -DTAVRIN_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$out/asan" -j"$jobs" --output-on-failure

echo "== ThreadSanitizer (hand-over tests)"
"$root/scripts/build.sh" "$out/tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRIN_TSAN=ON -DTAVRIN_BENCH=OFF
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir "$out/tsan" -j"$jobs" --output-on-failure -R 'Thread|HandOver|Concurrent'

echo "== fuzz targets"
CC=clang CXX=clang++ "$root/scripts/build.sh" "$out/fuzz" -DTAVRIN_FUZZ=ON -DTAVRIN_TESTS=OFF -DTAVRIN_BENCH=OFF
shopt -s nullglob
for f in "$out"/fuzz/tests/fuzz/fuzz_*; do
  name=$(basename "$f")
  corpus="$root/tests/fuzz/corpus/${name#fuzz_}"
  mkdir -p "$out/fuzz/corpus-$name"
  args=("$out/fuzz/corpus-$name")
  [ -d "$corpus" ] && args+=("$corpus")
  echo "-- $name"
  "$f" -max_total_time=20 -print_final_stats=0 "${args[@]}" 2>&1 | tail -2
done
echo "all test stages passed"
