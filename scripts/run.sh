#!/usr/bin/env bash
# The main job. For now: install what is missing, build, and show the help.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/default -G Ninja -DQEL_WERROR=ON >/dev/null
cmake --build build/default -j "$(nproc)" --target qel_fw_upgrade
./build/default/app/qel_fw_upgrade -h </dev/null
