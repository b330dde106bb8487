#!/usr/bin/env bash
# Builds and runs every test: the normal build, the sanitizer build (ASan + UBSan) and a bounded
# run of the fuzz targets. Ends with one line counting the tests of both builds.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

# Runs one ctest preset, shows its output and keeps its closing line for the final count.
run_ctest() {
  ctest --preset "$1" 2>&1 | tee "$logs/$1.log"
  return "${PIPESTATUS[0]}"
}

cmake --preset default >/dev/null
cmake --build --preset default
run_ctest default

cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
run_ctest sanitize

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
bash scripts/fuzz.sh build-fuzz 30

total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$logs"/*.log | awk '{s += $1} END {print s + 0}')
echo "all builds: ${total} passed, 0 failed"
