#!/usr/bin/env bash
# Runs zentrok-sim as the device behind COM<N> of a Wine prefix:
#   scripts/wine-port.sh PREFIX N path/to/zentrok-sim [simulator options...]
# The simulator's pseudo terminal is linked as PREFIX/dosdevices/com<N>,
# where Wine looks for COM<N>, once it is the controlling terminal of a
# session of its own: otherwise the wineserver, which opens the device for
# the host, takes the terminal as its own and, when the simulator closes it,
# gets a hang-up and writes its whole state to the host's error output. A
# host starts once that link exists. Wine links com1 and up to the machine's
# own serial ports each time it starts, so N is best a number above them.
# Exits with the simulator's status.
set -euo pipefail
[[ $# -ge 3 ]] || { sed -n '2,3p' "$0" >&2; exit 2; }
prefix=$1 port=$2 sim=$3
shift 3
devices=$prefix/dosdevices
[[ -d $devices ]] || { echo "wine-port.sh: $devices does not exist; run wineboot --init first" >&2; exit 1; }
link=$devices/com$port
held=$(mktemp -u)

rm -f "$link" "$devices/COM$port"  # left by an earlier run
"$sim" --pty "$devices" --port "$port" "$@" &
sim_pid=$!
holder=
cleanup() {
  if [[ -n $holder ]]; then kill "$holder" 2>/dev/null || true; fi
  rm -f "$link" "$held"
}
trap cleanup EXIT
wait_for() {
  for _ in $(seq 200); do
    [[ -e $1 ]] && return 0
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.05
  done
  echo "wine-port.sh: $2" >&2
  exit 1
}
wait_for "$devices/COM$port" "the simulator made no terminal"
# The shell opens the terminal as a session leader without one, so it
# becomes that session's controlling terminal; then it says so.
setsid sh -c 'exec 3<>"$0" && : >"$1" && exec sleep 86400' "$devices/COM$port" "$held" &
holder=$!
disown "$holder"  # it ends with a hang-up when the simulator closes the terminal
wait_for "$held" "the terminal could not be given a session of its own"
ln -s "COM$port" "$link"  # Wine's name for the simulator's link
wait "$sim_pid"
