#!/bin/sh
# Takes a picture of the main window on a virtual X display and saves it as
# docs/screenshot.png. Usage: scripts/screenshot.sh [build-dir] [output.png]
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build"}
out=${2:-"$here/docs/screenshot.png"}
bin="$build/bin/quorvex"
[ -x "$bin" ] || { echo "screenshot: $bin not found; build the quorvex target first" >&2; exit 1; }

# The virtual display, the window lister and the grabber, installed when missing.
for tool in xvfb-run:xvfb xwininfo:x11-utils import:imagemagick; do
    command -v "${tool%%:*}" >/dev/null 2>&1 && continue
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    $sudo_cmd apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${tool#*:}" xauth >/dev/null
done

config=$(mktemp -d)
trap 'rm -rf "$config"' EXIT
mkdir -p "$(dirname "$out")"

# Inside the virtual display: start the window, wait until it is mapped, grab it, close.
XDG_CONFIG_HOME="$config" xvfb-run -a -s "-screen 0 800x600x24" sh -c '
    bin=$1; out=$2
    "$bin" & pid=$!
    id=
    tries=0
    while [ -z "$id" ] && [ $tries -lt 100 ]; do
        id=$(xwininfo -root -tree 2>/dev/null | awk "/\"Quorvex Version 9.04\"/ { print \$1; exit }")
        [ -n "$id" ] || { tries=$((tries + 1)); sleep 0.1; }
    done
    if [ -z "$id" ]; then kill $pid; echo "screenshot: window did not appear" >&2; exit 1; fi
    # Let the first paint finish before grabbing.
    sleep 1
    import -window "$id" "$out"
    kill $pid
    wait $pid 2>/dev/null || true
' sh "$bin" "$out"
echo "saved $out"
