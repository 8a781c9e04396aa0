#!/usr/bin/env bash
# Builds Quorvex and shows it talking to the bundled simulated clock on 127.0.0.1:14001.
# With a display the window opens, set to "Network", address 127.0.0.1: choose a command
# and press "Poll Clock". Without a display the bundled demo command file runs unattended
# and the memo and the results file are printed.
# Settings live in an isolated profile under build/demo/, never in your own.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
./scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --parallel 2 --target quorvex clocksim

demo="$root/build/demo"
rm -rf "$demo"
mkdir -p "$demo/config/Korvane"
cat > "$demo/config/Korvane/KX2.conf" <<CONF
[General]
BaudRate=9600
CommandFile=$root/packaging/demo/demo.cmd
FingerLogFile=
IPAddress=127.0.0.1
InputFile=status.txt
Port=0
CONF
export XDG_CONFIG_HOME="$demo/config"

build/bin/clocksim --listen 127.0.0.1 --ready-file "$demo/clock.ready" --journal "$demo/clock.journal" &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do [ -f "$demo/clock.ready" ] && break; sleep 0.05; done
[ -f "$demo/clock.ready" ] || { echo "the simulated clock did not start" >&2; exit 1; }

cd "$demo"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "Simulated clock on 127.0.0.1:14001 (station 1). Pick a command and press \"Poll Clock\"."
    "$root/build/bin/quorvex"
else
    echo "No display: running packaging/demo/demo.cmd unattended against the simulated clock."
    echo "--- memo"
    status=0
    "$root/build/bin/quorvex" "$root/packaging/demo/demo.cmd" "$demo/results.txt" || status=$?
    echo "--- results.txt"
    cat results.txt
    echo "--- status.txt"
    cat status.txt 2>/dev/null || true
    exit $status
fi
