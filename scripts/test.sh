#!/usr/bin/env bash
# Sets up, builds and runs every test: unit, end-to-end, GUI (offscreen) and the checks of
# every output by LibreOffice and openpyxl; then the engine and command-line tests again
# under AddressSanitizer and UndefinedBehaviorSanitizer, and each fuzz target for 10 seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2
(cd build && ctest --output-on-failure -j2 --timeout 1800)
bash scripts/sanitize.sh 10
