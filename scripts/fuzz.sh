#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan and UBSan; in build-fuzz, or $TABREND_FUZZ_BUILD)
# and fuzzes each for SECONDS (default 20) on seeds made at run time from the test fixtures,
# the sample and a bounded selection of the shared corpus, after running the
# committed regression inputs. A longer run, all targets or some:
#     scripts/fuzz.sh 3600 [fuzz_parts fuzz_split ...]
# Findings land in BUILD/findings/TARGET; the grown corpus stays in BUILD/corpus/TARGET.
# Exits non-zero when a target finds a crash, a leak, a hang or runaway memory.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_open fuzz_split fuzz_parts fuzz_formula fuzz_command_line)

build=${TABREND_FUZZ_BUILD:-build-fuzz}
if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTABREND_FUZZ=ON -DTABREND_SANITIZE=ON -DTABREND_BUILD_GUI=OFF -DTABREND_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j2 --target "${targets[@]}"

# Seeds: the test fixtures (those under 64 KB: no ZIP bomb), the sample, and the smallest
# files of the shared corpus.
seeds="$build/seeds"
rm -rf "$seeds" "$build/fixtures"
/usr/bin/python3 tests/tools/make_fixtures.py "$build/fixtures" --no-lo >/dev/null
corpus_dir=../shared/corpus
mapfile -t picked < <( (find "$build/fixtures" -type f -size -64k | sort
  find "$corpus_dir" -type f \( -name '*.xlsx' -o -name '*.xlsm' -o -name '*.xltx' \) -size -24k 2>/dev/null |
    sort | sed -n 1,60p) )
/usr/bin/python3 fuzz/make_seeds.py "$seeds" samples/*.xlsx "${picked[@]}"

declare -A seed_of=([fuzz_open]=package [fuzz_split]=package [fuzz_parts]=parts [fuzz_formula]=formula
                    [fuzz_command_line]=command_line)
declare -A dict_of=([fuzz_parts]=fuzz/xml.dict [fuzz_split]=fuzz/xml.dict [fuzz_open]=fuzz/xml.dict)
# Each target on its own core, two at a time; each says what it found when all are done.
fuzz_one() {
  local target=$1 status=0
  local corpus="$build/corpus/$target" findings="$build/findings/$target"
  mkdir -p "$corpus" "$findings"
  # A hang is an input over 20 s; runaway memory, a process over 2.5 GB or one allocation
  # over 512 MB (no input here is large enough to need one).
  local options=(-max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 -malloc_limit_mb=512 -max_len=262144
                 -print_final_stats=1 -artifact_prefix="$findings/")
  [ -n "${dict_of[$target]:-}" ] && options+=(-dict="${dict_of[$target]}")
  # Regressions first: every input that once failed must pass now.
  local regressions=tests/spreadsheet/regressions/${seed_of[$target]}
  if [ -d "$regressions" ] && [ -n "$(ls -A "$regressions")" ]; then
    if ! "$build/fuzz/$target" "${options[@]:1}" "$regressions"/* >"$findings/regressions.log" 2>&1; then
      echo "$target: a regression input fails again (see $findings/regressions.log)"
      status=1
    fi
  fi
  echo "== $target: ${seconds}s"
  if ! "$build/fuzz/$target" "${options[@]}" "$corpus" "$seeds/${seed_of[$target]}" >"$findings/run.log" 2>&1; then
    echo "$target: FOUND a problem; input and log in $findings"
    tail -n 30 "$findings/run.log"
    status=1
  fi
  grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$findings/run.log" | sed "s/^/  /" || true
  return $status
}
said=$(mktemp -d)
declare -A pid_of=()
for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge 2 ]; do wait -n || true; done
  fuzz_one "$target" >"$said/$target" 2>&1 &
  pid_of[$target]=$!
done
status=0
for target in "${targets[@]}"; do
  wait "${pid_of[$target]}" || status=1
  cat "$said/$target"
done
rm -rf "$said"
exit $status
