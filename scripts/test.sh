#!/usr/bin/env bash
# Sets up, builds and runs every test. The plain build (the programs as shipped) runs the
# end-to-end, GUI (offscreen) and package tests and the checks of every output by LibreOffice
# and openpyxl; the GoogleTest suites of the spreadsheet engine, the split engine and the
# command line run once, in the build with AddressSanitizer and UndefinedBehaviorSanitizer,
# which also splits every fixture and the corpus; then each fuzz target for 10 seconds.
# Ends with where the time went: each step, and the slowest tests of the plain build.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/steps.sh

export TABREND_STEP_TIMES
TABREND_STEP_TIMES=$(mktemp)
plain_tests_log=""
# The summary never changes the run's status: it runs with errexit off and exits with the status
# the run had (a pipe into head once turned a green run into 141).
report() {
  local status=$?
  set +e
  echo "== Where the time went"
  cat "$TABREND_STEP_TIMES"
  printf '%6d s  in all\n' "$SECONDS"
  if [ -f "$plain_tests_log" ]; then
    echo "== The slowest tests of the plain build"
    # "  4/429 Test   #3: outputs_corpus_2of2 .....   Passed  365.15 sec"
    awk '$2 == "Test" && $3 ~ /^#/ && $NF == "sec" { printf "%6.0f s  %s\n", $(NF - 1), $4 }' "$plain_tests_log" |
      sort -rn | sed -n 1,12p
  fi
  rm -f "$TABREND_STEP_TIMES"
  exit "$status"
}
trap report EXIT

step "setup" bash scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
# Line tables and function names are all the debugging information a failing test's backtrace
# needs; full information takes a quarter of the compile time.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" \
  -DTABREND_GTESTS=OFF >/dev/null
step "plain build" cmake --build build -j2
plain_tests_log=build/Testing/plain-tests.log
step "plain tests" bash -c "set -o pipefail; cd build && mkdir -p Testing && ctest --output-on-failure -j2 --timeout 1800 | tee ${plain_tests_log#build/}"
bash scripts/sanitize.sh 10
