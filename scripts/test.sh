#!/usr/bin/env bash
# Sets up, builds and runs every test: unit, end-to-end, GUI (offscreen) and the checks of
# every output by LibreOffice and openpyxl; then the engine and command-line tests again
# under AddressSanitizer and UndefinedBehaviorSanitizer, and each fuzz target for 10 seconds.
# Ends with where the time went: each step, and the slowest tests of the plain build.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/steps.sh

export TABREND_STEP_TIMES
TABREND_STEP_TIMES=$(mktemp)
# The summary never changes the run's status: it runs with errexit off and exits with the status
# the run had (a pipe into head once turned a green run into 141).
report() {
  local status=$?
  set +e
  echo "== Where the time went"
  cat "$TABREND_STEP_TIMES"
  printf '%6d s  in all\n' "$SECONDS"
  if [ -f build/Testing/Temporary/CTestCostData.txt ]; then
    echo "== The slowest tests of the plain build"
    # The cost file keeps tests that no longer exist: only today's are listed.
    (cd build && ctest -N) | awk '$2 ~ /^#/ { print $3 }' >"$TABREND_STEP_TIMES.names"
    awk 'NR == FNR { today[$1] = 1; next } NF == 3 && ($1 in today) { printf "%6.0f s  %s\n", $3, $1 }' \
      "$TABREND_STEP_TIMES.names" build/Testing/Temporary/CTestCostData.txt | sort -rn | sed -n 1,12p
    rm -f "$TABREND_STEP_TIMES.names"
  fi
  rm -f "$TABREND_STEP_TIMES"
  exit "$status"
}
trap report EXIT

step "setup" bash scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
step "plain build" cmake --build build -j2
step "plain tests" bash -c 'cd build && ctest --output-on-failure -j2 --timeout 1800'
bash scripts/sanitize.sh 10
