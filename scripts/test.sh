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
  [ -n "${sanitizer_builds:-}" ] && kill -- -"$sanitizer_builds" 2>/dev/null  # its whole group, if still building
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
# The plain tests leave a core idle for much of their time (LibreOffice starting, files
# written and read back): the sanitizer builds take that time, at the lowest priority, and
# their steps below find them built (a build that failed there fails again in its own step,
# where its messages are shown).
# A session of their own lets them be stopped as one; where the kernel groups a session's
# processes for scheduling (autogroup), that group is given the lowest priority too, or nice
# would count only within it.
TABREND_STEP_TIMES="" setsid bash -c '{ echo 19 >/proc/self/autogroup; } 2>/dev/null
  exec nice -n 19 bash scripts/sanitize.sh --builds-only' >build/sanitizer-builds.log 2>&1 &
sanitizer_builds=$!
step "plain tests" bash -c 'cd build && ctest --output-on-failure -j2 --timeout 1800'
step "the rest of the sanitizer builds" wait "$sanitizer_builds" || true
bash scripts/sanitize.sh 10
