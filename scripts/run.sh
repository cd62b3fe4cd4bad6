#!/usr/bin/env bash
# The main job: a whole firmware upgrade by qel_fw_upgrade, with its real
# console output, of a simulated Qel System on a private network.
#
# The utility finds systems by broadcasting on every network interface it can
# see. So that nothing ever leaves this machine, the script builds a network
# of its own: two network namespaces, "host" and "device", joined by a veth
# pair with addresses from a documentation range (198.51.100.0/24). The
# simulated system (qel_sim) serves the device end; the utility runs in the
# host namespace, where that veth end is its only interface. The operator's
# choice "1" comes on standard input. Everything is removed on the way out,
# after success, failure or Ctrl-C alike.
#
# Needs root for the namespaces. Ends with the utility's exit status.
# QEL_BUILD_DIR chooses another build folder than build/default.
set -euo pipefail
cd "$(dirname "$0")/.."
repo="$(pwd)"

if [ "$(id -u)" -ne 0 ]; then
  echo "run.sh: this needs root: it creates private network namespaces, so that the" >&2
  echo "run.sh: utility's discovery broadcasts reach only the simulated system." >&2
  echo "run.sh: run it as root: bash scripts/run.sh" >&2
  exit 1
fi

# Demonstration settings: a sample image of a few hundred KiB, and phase times
# short enough to watch every stage go by.
image_bytes=393216
sim_timing=(--phase-ms 300 --erase-ms 1500 --program-rate 65536)
host_address=198.51.100.1
device_address=198.51.100.2

build="${QEL_BUILD_DIR:-build/default}"
case "$build" in /*) ;; *) build="$repo/$build" ;; esac

bash scripts/install-deps.sh
echo "run.sh: building qel_fw_upgrade and the simulated system ($build) ..."
cmake -S . -B "$build" -G Ninja -DQEL_WERROR=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target qel_fw_upgrade qel_sim qel_sample_mcs

host_ns="qel-demo-host-$$"
device_ns="qel-demo-dev-$$"
work="$(mktemp -d /tmp/qel-demo.XXXXXX)"
sim_pid=""

cleanup() {
  local status=$?
  trap - EXIT INT TERM
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$sim_pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  ip netns delete "$host_ns" 2>/dev/null || true
  ip netns delete "$device_ns" 2>/dev/null || true
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Namespaces of an earlier run that was killed before it could tidy up.
for ns in $(ip netns list 2>/dev/null | awk '{print $1}' | grep '^qel-demo-' || true); do
  pid="${ns##*-}"
  if ! kill -0 "$pid" 2>/dev/null; then ip netns delete "$ns" 2>/dev/null || true; fi
done

echo "run.sh: creating the private network: $host_ns ($host_address) <-> $device_ns ($device_address)"
if ! ip netns add "$host_ns" || ! ip netns add "$device_ns"; then
  echo "run.sh: cannot create network namespaces here (is this a container without CAP_SYS_ADMIN?)" >&2
  exit 1
fi
ip -n "$host_ns" link set lo up
ip -n "$device_ns" link set lo up
# Both ends are made inside the namespaces: the machine's own network never
# holds them, not even for a moment.
ip -n "$host_ns" link add qel0 type veth peer name qel0 netns "$device_ns"
ip -n "$host_ns" addr add "$host_address/24" brd + dev qel0
ip -n "$device_ns" addr add "$device_address/24" brd + dev qel0
ip -n "$host_ns" link set qel0 up
ip -n "$device_ns" link set qel0 up

"$build/tests/e2e/qel_sample_mcs" "$work/sample.mcs" "$image_bytes"

echo "run.sh: starting the simulated Qel System in $device_ns"
ip netns exec "$device_ns" "$build/sim/qel_sim" --net "$device_address" \
  --firmware "$work/sample.mcs" \
  --controller-version 3.2.0@2025-03-14T10:20 --synth-version 1.6.4@2024-09-02T16:45 \
  "${sim_timing[@]}" >"$work/sim.log" 2>&1 &
sim_pid=$!
# Ready once it listens for reports (TCP 28244) and discovery questions (UDP 28242).
sim_ready() {
  [ -n "$(ip netns exec "$device_ns" ss -Hltn 'sport = :28244' 2>/dev/null)" ] &&
    [ -n "$(ip netns exec "$device_ns" ss -Hlun 'sport = :28242' 2>/dev/null)" ]
}
for _ in $(seq 100); do
  if sim_ready || ! kill -0 "$sim_pid" 2>/dev/null; then break; fi
  sleep 0.1
done
if ! sim_ready; then
  echo "run.sh: the simulated system did not start:" >&2
  cat "$work/sim.log" >&2
  exit 1
fi

# The settings file and the log go into the run's own folder, which is
# removed at the end, so the demonstration leaves nothing behind.
mkdir -p "$work/data"
echo "run.sh: running in $host_ns: qel_fw_upgrade sample.mcs   (typing \"1\" at the choice)"
echo "------------------------------------------------------------------------"
set +e
(cd "$work" && echo 1 | ip netns exec "$host_ns" env XDG_DATA_HOME="$work/data" TMPDIR="$work" \
  "$build/app/qel_fw_upgrade" sample.mcs)
status=$?
set -e
echo
echo "------------------------------------------------------------------------"
echo "run.sh: qel_fw_upgrade exited with status $status"
exit "$status"
