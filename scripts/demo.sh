#!/usr/bin/env bash
# Sets up, builds, and splits the sample workbook; lists what was written.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2
out=$(mktemp -d /tmp/tabrend-sample.XXXXXX)
build/bin/tabrendcli "samples/Quarterly Sales.xlsx" "$out" /verbose=1
echo "Written to $out:"
ls -l "$out"
