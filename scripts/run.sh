#!/usr/bin/env bash
# The main job: installs what is missing, builds qelsim (which builds the eight plug-ins it
# loads), and simulates the default scenario, the dq motor in its position loop. Arguments go to
# `qelsim run`, e.g. `bash scripts/run.sh scenarios/velocity_loop.json`.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target qelsim
build/bin/qelsim run "$@"
