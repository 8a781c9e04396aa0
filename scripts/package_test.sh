#!/usr/bin/env bash
# Builds the Release Debian packages in build-deb/, checks their dependencies and the files
# they install, then unpacks them into a scratch root and polls the installed simulated
# clock with the installed program, unattended, as cron or a systemd timer would.
# Run on Debian as root or with sudo (it installs what it needs with apt-get).
# QV_DPKG_INSTALL=1 installs the packages into the system with apt-get instead of unpacking
# them (for CI machines) and removes them again at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh

build="build-deb"
address=127.0.0.250  # no other test uses it
sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"

fail() {
    echo "package test: $*" >&2
    exit 1
}

scratch=$(mktemp -d)
sim=""
installed=""
# Keeps the exit status of the test: nothing in here may fail.
cleanup() {
    if [ -n "$sim" ]; then
        kill "$sim" 2>/dev/null || true
        wait "$sim" 2>/dev/null || true
    fi
    if [ -n "$installed" ]; then
        $sudo_cmd dpkg -r quorvex quorvex-clocksim >/dev/null || true
    fi
    rm -rf "$scratch" || true
}
trap cleanup EXIT

# Release build of the two programs only; the optimiser's extra warnings do not stop a
# package build.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DQV_TESTS=OFF -DQV_BENCH=OFF -DQV_SANITIZE=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
    >"$scratch/configure.log" 2>&1 || fail "configure: $(cat "$scratch/configure.log")"
cmake --build "$build" --parallel 2 --target quorvex clocksim
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB) >"$scratch/cpack.log" 2>&1 || fail "cpack: $(cat "$scratch/cpack.log")"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
arch=$(dpkg --print-architecture)
deb="$build/quorvex_${version}_${arch}.deb"
simdeb="$build/quorvex-clocksim_${version}_${arch}.deb"
[ -f "$deb" ] || fail "no $deb"
[ -f "$simdeb" ] || fail "no $simdeb"
contents=$(dpkg-deb -c "$deb")
grep -q '/clocksim$' <<<"$contents" && fail "clocksim is in the quorvex package"

# Depends names the package of every shared library the program links, and the offscreen
# platform plugin an unattended run without a display needs.
depends=$(dpkg-deb -f "$deb" Depends)
echo "quorvex Depends: $depends"
needed=(qt6-qpa-plugins)
libraries=$(ldd "$build/bin/quorvex")
for name in $(readelf -d "$build/bin/quorvex" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    path=$(awk -v n="$name" '$1 == n { print $3 }' <<<"$libraries")
    real=$(readlink -f "$path")
    # With merged /usr a library may be registered under /lib or /usr/lib.
    owner=$(dpkg -S "$path" "$real" "${real#/usr}" 2>/dev/null | head -n1 | cut -d: -f1 || true)
    [ -n "$owner" ] || fail "no package holds $name ($path)"
    needed+=("$owner")
done
depends_names=$(sed 's/ ([^)]*)//g; s/, */\n/g' <<<"$depends")
for p in "${needed[@]}"; do
    grep -qxF "$p" <<<"$depends_names" || fail "Depends lacks $p"
done
# Newer releases rename some libraries with a t64 suffix.
for p in libc6 libqt6core6 libqt6widgets6 libqt6network6; do
    grep -qxE "${p}(t64)?" <<<"$depends_names" || fail "Depends lacks $p"
done

if [ "${QV_DPKG_INSTALL:-}" = 1 ]; then
    installed=1
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "./$deb" "./$simdeb" \
        >/dev/null
    prefix=/usr
else
    dpkg-deb -x "$deb" "$scratch/root"
    dpkg-deb -x "$simdeb" "$scratch/root"
    prefix="$scratch/root/usr"
fi

for f in bin/quorvex bin/clocksim share/applications/quorvex.desktop \
    share/icons/hicolor/scalable/apps/quorvex.svg share/metainfo/io.korvane.quorvex.metainfo.xml \
    share/man/man1/quorvex.1 share/doc/quorvex/examples/poll.cmd \
    share/doc/quorvex/examples/quorvex.crontab share/doc/quorvex/examples/systemd/quorvex@.service \
    lib/systemd/user/quorvex-poll.service lib/systemd/user/quorvex-poll.timer \
    lib/systemd/user/quorvex@.service lib/systemd/user/quorvex@.timer; do
    [ -f "$prefix/$f" ] || fail "not installed: $f"
done

desktop-file-validate "$prefix/share/applications/quorvex.desktop" || fail "desktop entry"
appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/io.korvane.quorvex.metainfo.xml" ||
    fail "metainfo"
# The metainfo, desktop entry and icon agree (only in the scratch root: /usr holds others).
if [ "$prefix" != /usr ]; then
    appstreamcli validate-tree --no-net --pedantic "$prefix" >/dev/null || fail "installed tree"
fi
man_warnings=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z "$prefix/share/man/man1/quorvex.1" 2>&1)
[ -z "$man_warnings" ] || fail "the manual page renders with warnings: $man_warnings"

# The user units, where systemd-analyze works here at all (not in every container). The
# units name the program without a path, so systemd looks for it in /usr/bin and the like:
# unpacked into the scratch root it is not there.
verify() {
    (cd "$scratch/units" && HOME="$scratch" XDG_RUNTIME_DIR="$scratch/run" MANPATH="$prefix/share/man" \
        systemd-analyze verify --user "$@" 2>&1)
}
mkdir -p "$scratch/units" "$scratch/run"
chmod 700 "$scratch/run"
printf '[Service]\nType=oneshot\nExecStart=/bin/true\n' >"$scratch/units/probe.service"
if command -v systemd-analyze >/dev/null && verify probe.service >/dev/null; then
    cp "$prefix"/lib/systemd/user/quorvex* "$scratch/units/"
    cp "$scratch/units/quorvex@.service" "$scratch/units/quorvex@site1.service"
    cp "$scratch/units/quorvex@.timer" "$scratch/units/quorvex@site1.timer"
    verify_output=$(verify quorvex-poll.service quorvex-poll.timer quorvex@site1.service quorvex@site1.timer || true)
    [ "$prefix" = /usr ] || verify_output=$(grep -v ': Command quorvex is not executable' <<<"$verify_output" || true)
    [ -z "$verify_output" ] || fail "systemd units: $verify_output"
else
    echo "systemd-analyze does not work here: user units not verified"
fi

# An unattended poll of the installed simulated clock by the installed program.
work="$scratch/poll"
mkdir -p "$work/config/Korvane"
printf '[General]\nBaudRate=9600\nPort=0\nIPAddress=0.0.0.0\n' >"$work/config/Korvane/KX2.conf"
"$prefix/bin/clocksim" --listen "$address" --record-count 5 --ready-file "$work/clock.ready" \
    --journal "$work/clock.journal" >"$work/clock.log" 2>&1 &
sim=$!
for _ in $(seq 1 200); do [ -f "$work/clock.ready" ] && break; sleep 0.05; done
[ -f "$work/clock.ready" ] || fail "the simulated clock did not start"

printf 'init_clock 01 IP%s\nset_time\nget_status status.txt\nget_times records.txt\nreset_errors\n' "$address" \
    >"$work/poll.cmd"
status=0
(cd "$work" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_RUNTIME_DIR \
    XDG_CONFIG_HOME="$work/config" TMPDIR="$work" QV_LOOPBACK_ONLY=1 \
    timeout 120 "$prefix/bin/quorvex" poll.cmd results.txt >out.txt 2>err.txt) || status=$?
[ "$status" -eq 0 ] || fail "quorvex exited with $status: $(cat "$work/out.txt" "$work/err.txt")"
[ ! -s "$work/err.txt" ] || fail "quorvex wrote to stderr: $(cat "$work/err.txt")"
[ "$(tail -n1 "$work/out.txt")" = Finished ] || fail "no Finished line: $(cat "$work/out.txt")"

line() { printf '01 %-21s00\r\n\r' "$1"; }
expected=$(line init_clock; line set_time; line get_status; line get_times; line reset_errors)
[ "$(cat "$work/results.txt")" = "$expected" ] || fail "results file: $(od -c "$work/results.txt")"
grep -q "01 CPU Version" "$work/status.txt" || fail "no status report"
[ "$(tr -cd '\n' <"$work/records.txt" | wc -c)" -eq 5 ] || fail "records file: $(cat "$work/records.txt")"
grep -q "rx C1 AE" "$work/clock.journal" || fail "the clock journal lacks reset_errors"
echo "package test: $deb and $simdeb install and poll the simulated clock"
