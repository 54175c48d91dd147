# Sourced by the test scripts: `step NAME COMMAND...` runs the command, says how long it took,
# and notes that in the file $TABREND_STEP_TIMES when it is set, for the closing account of
# where the time went.
step() {
  local name=$1 start=$SECONDS
  shift
  "$@"
  local took=$((SECONDS - start))
  echo "== $name: $took s"
  if [ -n "${TABREND_STEP_TIMES:-}" ]; then printf '%6d s  %s\n' "$took" "$name" >>"$TABREND_STEP_TIMES"; fi
}
