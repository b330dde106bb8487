#!/usr/bin/env bash
# The main job: installs what is missing, builds qelsim and the eight plug-ins, and simulates the
# default scenario (the dq motor in its position loop). Arguments go to `qelsim run`, e.g.
# `bash scripts/run.sh scenarios/velocity_loop.json`.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

plugins=(Qel_Lib_motor_dq_sub_msp Qel_Lib_motor_sub_msp
         Qel_Lib_wexa_current_controller_sub_msp Qel_Lib_wexa_current_controller_dq_sub_msp
         Qel_Lib_wexa_velocity_controller_sub_msp Qel_Lib_wexa_velocity_controller_dq_sub_msp
         Qel_Lib_wexa_position_controller_sub_msp Qel_Lib_wexa_position_controller_dq_sub_msp)
cmake --preset default >/dev/null
cmake --build --preset default --target qelsim "${plugins[@]}"

build/bin/qelsim run "$@"
