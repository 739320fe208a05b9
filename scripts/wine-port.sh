#!/usr/bin/env bash
# Runs zentrok-sim as the device behind COM<N> of a Wine prefix:
#   scripts/wine-port.sh PREFIX N path/to/zentrok-sim [simulator options...]
# The simulator's pseudo terminal is linked as PREFIX/dosdevices/com<N>,
# where Wine looks for COM<N>, and held as the controlling terminal of a
# session of its own: otherwise the wineserver, which opens the device for
# the host, takes the terminal as its own and, when the simulator closes it,
# gets a hang-up and writes its whole state to the host's error output.
# Wine links com1 and up to the machine's own serial ports each time it
# starts, so N is best a number above them. Exits with the simulator's status.
set -euo pipefail
[[ $# -ge 3 ]] || { sed -n '2,3p' "$0" >&2; exit 2; }
prefix=$1 port=$2 sim=$3
shift 3
devices=$prefix/dosdevices
[[ -d $devices ]] || { echo "wine-port.sh: $devices does not exist; run wineboot --init first" >&2; exit 1; }

ln -sfn "COM$port" "$devices/com$port"  # Wine's name for the simulator's link
rm -f "$devices/COM$port"                # left by an earlier run: wait for the new one
"$sim" --pty "$devices" --port "$port" "$@" &
sim_pid=$!
holder=
cleanup() {
  if [[ -n $holder ]]; then kill "$holder" 2>/dev/null || true; fi
  rm -f "$devices/com$port"
}
trap cleanup EXIT
for _ in $(seq 100); do
  [[ -e $devices/com$port ]] && break
  sleep 0.05
done
# The shell opens the terminal as a session leader without one, so it
# becomes that session's controlling terminal.
setsid sh -c 'exec sleep 86400 <>"$0"' "$devices/com$port" &
holder=$!
disown "$holder"  # it ends with a hang-up when the simulator closes the terminal
wait "$sim_pid"
