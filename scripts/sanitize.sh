#!/usr/bin/env bash
# The engine, spreadsheet and command-line tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, with tabrendcli splitting every fixture and the shared corpus,
# then each fuzz target for a short bounded time on its seeds. One clang build (build-asan,
# no desktop program, no benchmarks) serves both. Then tabrendcli under ThreadSanitizer
# (build-tsan, that program alone) splits a folder of every fixture on four threads, and one
# thread's split is checked against four's.
#   scripts/sanitize.sh [FUZZ_SECONDS]     (default 15 per target; 0 skips fuzzing)
#   scripts/sanitize.sh --tsan-only        (the ThreadSanitizer part alone)
# A longer fuzzing run on its own: scripts/fuzz.sh 3600
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/steps.sh
fuzz_seconds=${1:-15}
build=build-asan
# The sanitizers' usual optimisation, with the line tables their reports need and no more
# debugging information: a shorter build for the same findings.
sanitized_flags="-O1 -gline-tables-only -DNDEBUG"

# The parallel split under ThreadSanitizer. Bad inputs make the split itself fail (status 1);
# a data race makes TSan end it with status 66 and a report.
tsan_split() {
  local tsan=build-tsan
  CC=clang CXX=clang++ cmake -S . -B "$tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=$sanitized_flags" \
    -DTABREND_TSAN=ON -DTABREND_BUILD_GUI=OFF -DTABREND_BUILD_TESTS=OFF >/dev/null
  step "ThreadSanitizer build" cmake --build "$tsan" -j2 --target tabrendcli
  step "ThreadSanitizer splits" tsan_runs "$tsan"
}
tsan_runs() {
  local tsan=$1 work
  work=$(mktemp -d)
  /usr/bin/python3 tests/tools/make_fixtures.py --no-lo "$work/in" >/dev/null
  mkdir "$work/out"
  local status=0
  local options="halt_on_error=1 exitcode=66 suppressions=$PWD/scripts/tsan.supp"
  TSAN_OPTIONS="$options log_path=$work/tsan" TABREND_THREADS=4 \
    "$tsan/bin/tabrendcli" "$work/in" "$work/out" /verbose=1 >/dev/null 2>&1 || status=$?
  if [ "$status" -gt 1 ] || compgen -G "$work/tsan*" >/dev/null; then
    cat "$work"/tsan* 2>/dev/null || true
    echo "ThreadSanitizer: the parallel split of the fixtures ended with status $status" >&2
    rm -rf "$work"
    return 1
  fi
  rm -rf "$work"
  TSAN_OPTIONS="$options" /usr/bin/python3 tests/tools/split_threads.py --cli "$tsan/bin/tabrendcli"
  echo "ThreadSanitizer: no reports"
}
# The splits whose outputs LibreOffice and openpyxl judge in the plain build, here under the
# sanitizers, which judge the program: every fixture into workbooks and into CSV, and the
# corpus into both. Bad inputs make a split fail (status 1), so a sanitizer's report is given
# a status of its own, and each run must have written outputs.
sanitized_splits() {
  local work status
  work=$(mktemp -d)
  /usr/bin/python3 tests/tools/make_fixtures.py --no-lo "$work/in" >/dev/null
  find "$PWD/../shared/corpus" -type f \( -name '*.xlsx' -o -name '*.xlsm' \) 2>/dev/null | sort >"$work/corpus.txt"
  local runs=("$work/in xlsx" "$work/in csv")
  [ -s "$work/corpus.txt" ] && runs+=("@$work/corpus.txt xlsx" "@$work/corpus.txt csv")
  local n=0
  for run in "${runs[@]}"; do
    set -- $run
    n=$((n + 1))
    mkdir "$work/out$n"
    status=0
    ASAN_OPTIONS="exitcode=86${ASAN_OPTIONS:+:$ASAN_OPTIONS}" UBSAN_OPTIONS="exitcode=86${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}" \
      "$build/bin/tabrendcli" "$1" "$work/out$n" "/format=$2" >"$work/log$n" 2>&1 || status=$?
    if [ "$status" -gt 1 ] || grep -qE 'Sanitizer|runtime error:' "$work/log$n" ||
       [ -z "$(find "$work/out$n" -type f -print -quit)" ]; then
      tail -n 40 "$work/log$n" >&2
      echo "Sanitizers: tabrendcli $1 /format=$2 ended with status $status" >&2
      rm -rf "$work"
      return 1
    fi
    echo "Sanitizers: $(find "$work/out$n" -type f | wc -l) outputs of $1 as $2"
  done
  rm -rf "$work"
  echo "Sanitizers: ${#runs[@]} splits of the fixtures and the corpus, no reports"
}
if [ "$fuzz_seconds" = --tsan-only ]; then
  tsan_split
  exit
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# libFuzzer comes with clang: a build dir configured for another compiler starts again.
if [ -f "$build/CMakeCache.txt" ] && ! grep -q '^CMAKE_CXX_COMPILER:.*clang' "$build/CMakeCache.txt"; then
  rm -rf "$build"
fi
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=$sanitized_flags" \
  -DTABREND_SANITIZE=ON -DTABREND_FUZZ=ON -DTABREND_BUILD_GUI=OFF -DTABREND_BUILD_TESTS=ON -DTABREND_GTESTS=ON >/dev/null
step "sanitizer build" cmake --build "$build" -j2
# Without the desktop program this build holds the engine, spreadsheet and command-line
# tests. The checks that judge outputs by LibreOffice and openpyxl (outputs_*, placeholder_*,
# split_threads) need no sanitizer and take minutes: the plain build runs them, and the
# splits they make run here under the sanitizers instead.
step "sanitizer tests" bash -c "cd $build && ctest --output-on-failure -j2 --timeout 900 -E '^(outputs|placeholder|split)_'"
step "sanitizer splits" sanitized_splits

if [ "$fuzz_seconds" != 0 ]; then
  step "fuzzing" env TABREND_FUZZ_BUILD="$build" bash scripts/fuzz.sh "$fuzz_seconds"
fi
tsan_split
