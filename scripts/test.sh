#!/usr/bin/env bash
# Builds and runs every test: the normal build, the sanitizer build (ASan + UBSan) and a bounded
# run of the fuzz targets.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default

cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
ctest --preset sanitize

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
if [ -x scripts/fuzz.sh ]; then bash scripts/fuzz.sh build-fuzz 30; fi
