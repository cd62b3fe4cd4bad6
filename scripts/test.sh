#!/usr/bin/env bash
# Installs what is missing, builds and runs the test suite.
#   scripts/test.sh                              the normal build (warnings are errors)
#   scripts/test.sh --sanitize address,undefined the same under sanitizers
#   scripts/test.sh --sanitize thread --label messaging
# Network tests create their own network namespaces and need root.
set -euo pipefail
cd "$(dirname "$0")/.."

sanitize=""
label=""
while [ $# -gt 0 ]; do
  case "$1" in
    --sanitize) sanitize="$2"; shift 2 ;;
    --label) label="$2"; shift 2 ;;
    *) echo "usage: $0 [--sanitize LIST] [--label LABEL]" >&2; exit 2 ;;
  esac
done

bash scripts/install-deps.sh

build="build/${sanitize:-default}"
build="${build//,/-}"
cmake -S . -B "$build" -G Ninja -DQEL_WERROR=ON -DQEL_SANITIZE="$sanitize" -DQEL_BUILD_BENCH=$([ -z "$sanitize" ] && echo ON || echo OFF) >/dev/null
cmake --build "$build" -j "$(nproc)"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"
args=(--test-dir "$build" --output-on-failure -j 2)
[ -n "$label" ] && args+=(-L "$label")
ctest "${args[@]}"
