#!/usr/bin/env bash
# The demo: zentrok-sim plays a device on a pseudo-terminal and sends the
# telegrams of examples/demo.tlg, waiting for each ACK; zentrok-monitor is the
# host and prints every item the driver delivers. Afterwards it shows the
# simulator's ACK report and the telegram log the driver wrote. It needs
# only a C++17 compiler, CMake 3.25 or later and Ninja (the presets'
# generator): the tests and benchmarks are configured only when GoogleTest
# and Google Benchmark are there, and never built here.
#
#   scripts/demo.sh [--build-dir DIR] [cmake options...]
#
# The build folder is build/linux (the linux preset's) unless given; cmake
# options (-D...) go to its configure.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/linux
if [[ ${1:-} == --build-dir ]]; then
  build=$(realpath -m "$2")
  shift 2
fi
configure_options=("$@")
work=$root/build/demo
script=$root/examples/demo.tlg
port=1
expected_items=9  # one per message of demo.tlg, plus the two queued entries

for tool in cmake:cmake ninja:ninja-build; do
  if ! command -v "${tool%%:*}" >/dev/null; then
    echo "demo: ${tool%%:*} is not installed; the demo needs a C++17 compiler, CMake 3.25 or later and Ninja (Debian: apt install g++ cmake ninja-build)" >&2
    exit 1
  fi
done
echo "==== Building the tools (preset linux, in ${build#"$root"/})"
cd "$root"
# Configuring again is quick when nothing changed; of its output only the
# notes on parts left out are shown. A cache left by a failed or foreign
# configure (another generator or compiler) is dropped and the tree
# configured afresh.
configure() {
  local log=$build.configure.txt
  mkdir -p "$(dirname "$build")"
  cmake --preset linux -B "$build" "${configure_options[@]}" >"$log" 2>&1 || { cat "$log" >&2; return 1; }
  grep -h 'are skipped' "$log" || true
}
if ! configure 2>/dev/null; then
  echo "==== The configure of $build failed; configuring it afresh"
  rm -rf "$build/CMakeCache.txt" "$build/CMakeFiles"
  configure
fi
cmake --build "$build" --target zentrok-monitor zentrok-sim
monitor=$build/tools/monitor/zentrok-monitor
sim=$build/tools/sim/zentrok-sim

# A working folder of its own: Rn.ini with the line settings and the
# Qenlog folder, without which the driver writes no log.
rm -rf "$work"
mkdir -p "$work/Qenlog"
printf '[RecNr1]\r\nBaud=9600\r\nDataBit=8\r\n' >"$work/Rn.ini"

sim_pid=
cleanup() { [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null || true; }
trap cleanup EXIT

echo
echo "==== Device: zentrok-sim sends $(grep -cv -e '^#' -e '^[[:space:]]*$' "$script") telegrams from examples/demo.tlg"
"$sim" --pty "$work" --port "$port" --script "$script" --ack-timeout 2000 --wait-host 10 >"$work/sim.txt" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
  [[ -L $work/COM$port ]] && break
  sleep 0.05
done
[[ -L $work/COM$port ]] || { cat "$work/sim.txt"; echo "the simulator did not create its port" >&2; exit 1; }

echo
echo "==== Host: zentrok-monitor --port $port --section 1 --count $expected_items"
status=0
(cd "$work" && ZENTROK_PORT_DIR=$work "$monitor" --port "$port" --section 1 --count "$expected_items" --timeout 20) ||
  status=$?

wait "$sim_pid" || status=$?
sim_pid=
echo
echo "==== Device: what the simulator saw"
cat "$work/sim.txt"

echo
shopt -s nullglob
logs=("$work"/Qenlog/*.zqa)
if ((${#logs[@]} == 0)); then
  echo "==== No telegram log was written" >&2
  exit 1
fi
log=${logs[0]}
echo "==== Telegram log: $log (the telegram with \"@\" is not logged)"
tr -d '\r' <"$log"

echo
echo "==== The same log decoded offline: zentrok-monitor --replay"
"$monitor" --replay "$log" || status=$?
exit $status
