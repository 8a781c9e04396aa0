#!/bin/sh
# Takes pictures of the main window on a virtual X display for the README:
#   output.png       the window as it opens (default docs/screenshot.png)
#   output-poll.png  after a get_status poll of a simulated clock on 127.0.0.61
#   output-menu.png  with Options > Comm Port open and "Network" checked
#   output-find.png  during Find Clocks on a serial port, with the progress bar
# Usage: scripts/screenshot.sh [build-dir] [output.png]
# The poll and find pictures need the clocksim target too; without it only the other two
# are taken. The find picture also needs unshare and ip (a network namespace of its own).
# Every run uses its own settings profile and working folder, removed at the end.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build"}
out=${2:-"$here/docs/screenshot.png"}
bin="$build/bin/quorvex"
[ -x "$bin" ] || { echo "screenshot: $bin not found; build the quorvex target first" >&2; exit 1; }
build=$(cd "$build" && pwd)
bin="$build/bin/quorvex"
sim="$build/bin/clocksim"
mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
stem=${out%.png}

# The virtual display, the window lister, the grabber and the input sender, installed
# when missing.
for tool in xvfb-run:xvfb xwininfo:x11-utils import:imagemagick xdotool:xdotool; do
    command -v "${tool%%:*}" >/dev/null 2>&1 && continue
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    $sudo_cmd apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${tool#*:}" xauth >/dev/null
done

# A short fixed-looking folder: the poll picture shows the data file's path.
work=$(mktemp -d /tmp/clocks.XXXX)
simpids=
cleanup() {
    for pid in $simpids; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# profile NAME PORT IPADDRESS INPUTFILE: a settings profile of its own for one picture.
profile() {
    mkdir -p "$work/$1/Korvane"
    cat >"$work/$1/Korvane/KX2.conf" <<CONF
[General]
BaudRate=9600
CommandFile=
FingerLogFile=
IPAddress=$3
InputFile=$4
Port=$2
CONF
}

# Runs inside the virtual display: start the window, wait until it is mapped, then act.
# The window has no frame (no window manager), so it sits at 0,0 and the click positions
# below are window coordinates.
cat >"$work/inside.sh" <<'INSIDE'
bin=$1; scene=$2; out=$3
"$bin" & pid=$!
id=
tries=0
while [ -z "$id" ] && [ $tries -lt 100 ]; do
    id=$(xwininfo -root -tree 2>/dev/null | awk '/"Quorvex Version 9.04"/ { print $1; exit }')
    [ -n "$id" ] || { tries=$((tries + 1)); sleep 0.1; }
done
if [ -z "$id" ]; then kill $pid; echo "screenshot: window did not appear" >&2; exit 1; fi
# Let the first paint finish before acting or grabbing.
sleep 1
case $scene in
    start)
        import -window "$id" "$out"
        ;;
    poll)
        # Choose get_status in the command list; its data-file dialog opens: type status.txt
        # (a new file) and take it.
        xdotool mousemove 183 44 click 1; sleep 0.5
        xdotool mousemove 153 87 click 1; sleep 0.5
        xdotool type --delay 20 status.txt; xdotool key Return; sleep 0.5
        xdotool mousemove 416 38 click 1
        # The report reaches status.txt just before the memo's last lines.
        tries=0
        while [ ! -s status.txt ] && [ $tries -lt 100 ]; do tries=$((tries + 1)); sleep 0.1; done
        [ -s status.txt ] || { kill $pid; echo "screenshot: the poll wrote no status report" >&2; exit 1; }
        sleep 1
        import -window "$id" "$out"
        ;;
    find)
        # Find Clocks: five seconds of the network phase, then the serial phase on Comm1,
        # grabbed once the bar shows the time left.
        xdotool mousemove 416 64 click 1
        sleep 20
        import -window "$id" "$out"
        ;;
    menu)
        # Options, then Comm Port: the submenu opens beside it.
        xdotool mousemove 68 8 click 1; sleep 0.5
        xdotool mousemove 100 52; sleep 0.8
        # Grab the screen and cut away the empty black around window and menus.
        import -window root "$out.full.png"
        convert "$out.full.png" -bordercolor black -border 1 -trim +repage "$out"
        rm -f "$out.full.png"
        ;;
esac
kill $pid
wait $pid 2>/dev/null || true
INSIDE

# shoot PROFILE SCENE OUTPUT
shoot() {
    (cd "$work" && XDG_CONFIG_HOME="$work/$1" xvfb-run -a -s "-screen 0 800x600x24" \
        sh "$work/inside.sh" "$bin" "$2" "$3")
    echo "saved $3"
}

# A first start: no settings yet, so the window writes and shows the defaults.
mkdir -p "$work/start"
shoot start start "$out"

profile menu 0 127.0.0.61 ""
shoot menu menu "$stem-menu.png"

if [ -x "$sim" ]; then
    profile poll 0 127.0.0.61 ""
    "$sim" --listen 127.0.0.61 --ready-file "$work/clock.ready" >/dev/null &
    simpids="$simpids $!"
    tries=0
    while [ ! -f "$work/clock.ready" ] && [ $tries -lt 100 ]; do tries=$((tries + 1)); sleep 0.05; done
    [ -f "$work/clock.ready" ] || { echo "screenshot: the simulated clock did not start" >&2; exit 1; }
    shoot poll poll "$stem-poll.png"
else
    echo "screenshot: $sim not built; no poll picture" >&2
fi

# Find Clocks with Comm1 mapped to a simulated clock's pseudo-terminal that answers only at
# 1200 baud, so the search probes every station at 9600 first. The window runs in a network
# namespace of its own whose only link is loopback, with the default gateway on 127.0.0.1:
# the search's broadcast goes to 127.0.0.255 and cannot leave this computer.
if [ -x "$sim" ] && command -v ip >/dev/null 2>&1 && unshare -rn true 2>/dev/null; then
    profile find 1 "" ""
    printf '[SerialPorts]\nCOM1=%s\n' "$work/tty1" >>"$work/find/Korvane/KX2.conf"
    "$sim" --link "$work/tty1" --baud 1200 --ready-file "$work/pty.ready" >/dev/null &
    simpids="$simpids $!"
    tries=0
    while [ ! -f "$work/pty.ready" ] && [ $tries -lt 100 ]; do tries=$((tries + 1)); sleep 0.05; done
    [ -f "$work/pty.ready" ] || { echo "screenshot: the simulated clock's pty did not start" >&2; exit 1; }
    (cd "$work" && XDG_CONFIG_HOME="$work/find" QV_LOOPBACK_ONLY=1 unshare -rn sh -c '
        ip link set lo up && ip route add default via 127.0.0.1 &&
        exec xvfb-run -a -s "-screen 0 800x600x24" sh "$1" "$2" find "$3"' sh "$work/inside.sh" "$bin" "$stem-find.png")
    echo "saved $stem-find.png"
else
    echo "screenshot: clocksim, ip or unshare missing; no find picture" >&2
fi
