#!/usr/bin/env bash
# Checks the sources' format and looks for copy-paste twins, then builds and runs every test: plain (with the editor document's Node
# tests), the editor window's tests under Xvfb (one at a time), under AddressSanitizer +
# UndefinedBehaviorSanitizer, the cross-thread tests under ThreadSanitizer, and each fuzz target briefly.
# Each stage has its own build folder under build/ (or $TAVRIN_BUILD_ROOT) and sets every option it
# relies on; a stage that runs no test fails the script. JOBS limits the parallel build jobs and tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${TAVRIN_BUILD_ROOT:-$root/build}
jobs=${JOBS:-$(nproc)}
export JOBS=$jobs
plain=(-DTAVRIN_SANITIZE=OFF -DTAVRIN_TSAN=OFF -DTAVRIN_FUZZ=OFF -DTAVRIN_EDITOR=ON -DTAVRIN_TESTS=ON)
summary=()

# Runs a ctest command line (further ctest options are added) and records how many tests it ran; a run
# of no test fails the script.
run_tests() {
  local stage=$1
  shift
  local log=$out/ctest-$stage.log
  "$@" --output-on-failure --no-tests=error | tee "$log"
  local count
  count=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' "$log" | tail -1)
  if [ "${count:-0}" -eq 0 ]; then
    echo "test: the $stage stage ran no tests" >&2
    exit 1
  fi
  summary+=("$stage: $count tests")
}

# Runs one fuzz target for a while; on a finding prints its whole report and the input that caused it.
# Prints the number of inputs it ran; fails when it ran none.
run_fuzzer() {
  local target=$1 name
  name=$(basename "$target")
  local work=$out/fuzz/run-$name corpus=$root/tests/fuzz/corpus/${name#fuzz_}
  rm -rf "$work/artifacts"
  mkdir -p "$work/corpus" "$work/artifacts"
  local args=("$work/corpus")
  [ -d "$corpus" ] && args+=("$corpus")
  if ! "$target" -max_total_time=20 -print_final_stats=1 -artifact_prefix="$work/artifacts/" "${args[@]}" \
    >"$work/report.txt" 2>&1; then
    echo "-- $name FAILED; its report:"
    cat "$work/report.txt"
    for input in "$work"/artifacts/*; do
      [ -f "$input" ] || continue
      echo "-- input $input:"
      od -A x -t x1z -v "$input"
    done
    return 1
  fi
  local runs
  runs=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\)$/\1/p' "$work/report.txt")
  echo "-- $name: ${runs:-0} inputs"
  [ "${runs:-0}" -gt 0 ]
}

echo "== format and clones"
formatted=$("$root/scripts/check-format.sh")
echo "$formatted"
summary+=("$formatted")
clones=$("$root/scripts/check-clones.sh")
echo "$clones"
summary+=("$clones")

echo "== plain build"
"$root/scripts/build.sh" "$out/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${plain[@]}" -DTAVRIN_BENCH=ON
run_tests plain ctest --test-dir "$out/release" -j"$jobs"

echo "== the editor in a host's X11 window (Xvfb)"
run_tests gui xvfb-run -a -s "-screen 0 1920x1080x24" ctest --test-dir "$out/release" -L '^gui$'

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
"$root/scripts/build.sh" "$out/asan" -DCMAKE_BUILD_TYPE=Debug "${plain[@]}" -DTAVRIN_SANITIZE=ON -DTAVRIN_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_tests ASan+UBSan ctest --test-dir "$out/asan" -j"$jobs"

echo "== ThreadSanitizer (hand-over tests)"
"$root/scripts/build.sh" "$out/tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${plain[@]}" -DTAVRIN_TSAN=ON -DTAVRIN_BENCH=OFF
TSAN_OPTIONS=halt_on_error=1 run_tests TSan ctest --test-dir "$out/tsan" -j"$jobs" -R 'Thread|HandOver|Concurrent'

echo "== fuzz targets"
CC=clang CXX=clang++ "$root/scripts/build.sh" "$out/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${plain[@]}" \
  -DTAVRIN_FUZZ=ON -DTAVRIN_TESTS=OFF -DTAVRIN_BENCH=OFF
targets=("$out"/fuzz/tests/fuzz/fuzz_*)
[ -x "${targets[0]}" ] || { echo "test: the fuzz stage found no targets" >&2; exit 1; }
failed=()
for target in "${targets[@]}"; do run_fuzzer "$target" || failed+=("$(basename "$target")"); done
[ ${#failed[@]} -eq 0 ] || { echo "test: fuzz targets failed: ${failed[*]}" >&2; exit 1; }
summary+=("fuzz: ${#targets[@]} targets")

printf '%s\n' "${summary[@]}"
echo "all test stages passed"
