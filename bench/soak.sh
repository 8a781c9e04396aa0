#!/usr/bin/env bash
# Soak: many unattended polls (get_times with records, a bell-table upload, get_status)
# against clocksim over TCP on loopback with random packet faults, then an account of the
# records the clock handed out against the records in the files, the result codes, and the
# memory and descriptors of the program and of the simulator.
#
#   bench/soak.sh [--runs N] [--lanes 1|2] [--fault-rate PERMILLE] [--seed S]
#                 [--build-dir DIR] [--summary FILE] [--keep] [--run-timeout SEC] [--address N]
#   bench/soak.sh --analyze DIR [--summary FILE]   account for a folder kept with --keep
#
# Defaults: 1000 runs, 2 lanes (one simulator each, on 127.0.0.170 and .171; --address N
# moves lane L to 127.0.0.(N+L), N+L within 170..179), fault rate
# 50 per mille with seed 1 (lane L draws with seed S+L), build folder build-soak (configured
# Release without tests and built for quorvex and clocksim unless --build-dir is given).
#
# Exit status: 0 when every record is accounted for, each stored once, and nothing grew;
# 1 when a record was lost or stored twice, a run hung, or memory or descriptors grew
# beyond the margins below; 2 when the soak could not be set up.
set -u

# Growth margins: the last 100 runs against the first 100.
RSS_MARGIN_PCT=10      # peak resident memory may grow by this share ...
RSS_MARGIN_KB=1024     # ... plus this much
FD_MARGIN=2            # open descriptors may grow by this many

# The bell table each run uploads, and the line the simulator journals when it keeps it.
BELL_FILE='01073010\r\n02120005\r\n03163010\r\n'
BELL_KEPT='table set_belltable 03 01 07 30 10 02 12 00 05 03 16 30 10'

here="$(cd "$(dirname "$0")" && pwd)"
src="$(cd "$here/.." && pwd)"
runs=1000
lanes=2
rate=50
seed=1
build=""
summary=""
keep=0
analyze=""
run_timeout=600
octet=170

die() {
    echo "soak: $*" >&2
    exit 2
}

while [ $# -gt 0 ]; do
    case "$1" in
        --runs) runs="${2:?}"; shift 2 ;;
        --lanes) lanes="${2:?}"; shift 2 ;;
        --fault-rate) rate="${2:?}"; shift 2 ;;
        --seed) seed="${2:?}"; shift 2 ;;
        --build-dir) build="${2:?}"; shift 2 ;;
        --summary) summary="${2:?}"; shift 2 ;;
        --keep) keep=1; shift ;;
        --analyze) analyze="${2:?}"; shift 2 ;;
        --run-timeout) run_timeout="${2:?}"; shift 2 ;;
        --address) octet="${2:?}"; shift 2 ;;
        -h | --help) sed -n '2,/^set -u/p' "$0" | grep '^#' | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) die "unknown option $1 (see --help)" ;;
    esac
done
case "$runs$lanes$rate$seed$run_timeout$octet" in *[!0-9]*) die "numbers only for --runs, --lanes, --fault-rate, --seed, --run-timeout, --address" ;; esac
# Loopback only, and only the bench's own addresses.
[ "$octet" -ge 170 ] && [ $((octet + lanes - 1)) -le 179 ] || die "--address takes 170..179 (lane L is on 127.0.0.(N+L))"
[ "$lanes" -ge 1 ] && [ "$lanes" -le 2 ] || die "--lanes is 1 or 2"
[ "$runs" -ge 1 ] || die "--runs must be at least 1"

# ---------------------------------------------------------------------------------------
# The account, from what the lanes left in their folders.
# ---------------------------------------------------------------------------------------
analyze_dir() {
    local work="$1" out="$2"
    [ -f "$work/soak.conf" ] || die "$work holds no soak"
    local runs_planned lanes_used rate_used seed_used started command_line ended="" t0 t1=""
    # shellcheck source=/dev/null
    . "$work/soak.conf"
    local failed=0 lanedirs=()
    for d in "$work"/lane*; do [ -d "$d" ] && lanedirs+=("$d"); done

    {
        echo "soak: $runs_planned runs, $lanes_used lane(s), fault rate $rate_used per mille, seed $seed_used" \
            "(lane L draws with seed+L), started $started, ended ${ended:-(not yet)}" \
            "${t1:+(wall $(((t1 - t0) / 60)) min $(((t1 - t0) % 60)) s)}"
        echo "command: $command_line"
        echo

        # Runs: exit codes and hangs. runs.tsv: run rc wall_s maxrss_kb fd_max fd_last cs_fds cs_rss_kb
        # taken loaded status_bytes runtime_folders_left handed handed_again
        cat "${lanedirs[@]/%//runs.tsv}" | sort -n >"$work/all-runs.tsv"
        awk -v planned="$runs_planned" '
            { n++; rc[$2]++; wall += $3; if ($3 > wmax) wmax = $3; if ($11 > 0) st++; if ($2 != "hang" && $12 > left) left = $12 }
            END {
                printf "runs completed: %d of %d (exit 0: %d, exit 1: %d, other: %d, killed after the run time-out: %d)\n",
                    n - rc["hang"], planned, rc[0], rc[1], n - rc[0] - rc[1] - rc["hang"], rc["hang"]
                printf "wall time per run: mean %.1f s, longest %.1f s; status files written: %d; runtime folders left behind: %d\n",
                    n ? wall / n : 0, wmax, st, left
            }' "$work/all-runs.tsv"
        awk '$2 == "hang" { print "  run " $1 " hung" }' "$work/all-runs.tsv"

        # Result codes per command.
        echo "result codes per command (command code: count):"
        cat "${lanedirs[@]/%//results.all}" | awk '
            NF >= 4 { count[$3 " " $4]++ }
            END { for (k in count) printf "  %s: %d\n", k, count[k] }' | sort

        # Faults the simulators journalled.
        echo "faults journalled (kind: count):"
        cat "${lanedirs[@]/%//journal}" | awk '
            /^fault / { count[$2]++ }
            END { for (k in count) printf "  %s: %d\n", k, count[k] }' | sort
    } >"$out"

    # Every failure must have a cause: the exit status agrees with the result lines (0 only
    # when all four are 00), and a run with a non-zero result saw a fault of its own. The
    # faults of such runs are listed by the request they hit (command byte, and the first
    # payload byte: a table's sequence or closing code).
    local verdict
    verdict=$(cat "${lanedirs[@]/%//journal}" | awk -v table="$BELL_KEPT" '
        FNR == 1 { file++ }
        file == 1 { rc[$1] = $2; next }                               # all-runs.tsv
        file == 2 {                                                   # results
            lines[$1]++
            if ($4 != "00") bad[$1] = bad[$1] " " $3 "=" $4
            if ($3 == "set_belltable") upload[$1] = $4
            next
        }
        $0 == table { kept[run]++; next }
        $1 == "note" && $2 == "run" { run = $3; next }                # journals
        $1 == "rx" { req = $3 "/" $4; next }
        $1 == "fault" { faults[run] = faults[run] " " $2 "@" req; nf[run]++ }
        END {
            for (r in rc) {
                if (rc[r] == "hang") continue
                if (kept[r]) nkept++
                if (upload[r] == "00" && !kept[r]) { notkept++; print "  run " r ": upload reported 00, table not kept" }
                if (upload[r] != "00" && kept[r]) keptfailed++
                expect = (lines[r] == 4 && !(r in bad)) ? 0 : 1
                if (rc[r] != expect) { disagree++; print "  exit status " rc[r] " with results:" bad[r] " lines " lines[r] + 0 " in run " r }
                if (r in bad) {
                    failed++
                    if (!nf[r]) { nofault++; print "  run " r " failed without a fault:" bad[r] }
                    n = split(bad[r], b, " ")
                    for (i = 1; i <= n; i++) { per[b[i]]++; cause[b[i]] = cause[b[i]] faults[r] " |" }
                }
            }
            printf "runs with a non-zero result: %d (without a fault of their own: %d); exit status disagreeing with the result lines: %d\n", failed, nofault, disagree
            for (k in per) {
                m = split(cause[k], c, " ")
                delete tally
                for (i = 1; i <= m; i++) if (c[i] != "|") tally[c[i]]++
                line = ""
                for (t in tally) line = line ", " t " x" tally[t]
                printf "  %s in %d runs; faults in those runs (kind@command/first byte): %s\n", k, per[k], substr(line, 3)
            }
            printf "bell table kept by the clock with the rows sent: %d runs; reported 00 but not kept: %d; kept but reported failed: %d\n", nkept, notkept, keptfailed
            if (nofault || disagree || notkept) print "  failures: FAIL"
        }' "$work/all-runs.tsv" <(cat "${lanedirs[@]/%//results.all}") -)
    echo "$verdict" >>"$out"
    case "$verdict" in *FAIL*) failed=1 ;; esac

    # Records: handed out (the clock's own count of records it handed out, and of those it
    # saw taken by the program's request for the next packet) against the lines in the
    # records files. Every line is unique, so a line seen twice is a record stored twice.
    # When a request for the next packet is lost, the clock hands the stored packet out
    # again; the simulator counts those records (handed out again after their packet had
    # gone out whole), and the program must store none of them a second time.
    : >"$work/records.problems"
    local lost=0 unexplained=0 tot_acked=0 tot_lines=0 tot_dups=0 tot_pending=0 tot_lostacks=0
    local tot_handed=0 tot_again=0
    for d in "${lanedirs[@]}"; do
        local line open_end
        # Records handed out but not taken in the lane's last run: stored, the clock could
        # not have been told (no run follows).
        open_end=$(sort -n "$d/runs.tsv" | awk '$2 != "hang" { last = $13 - $9 } END { print (last > 0 ? last : 0) }')
        line=$(awk -v open_end="$open_end" '
            FNR == 1 { file++ }
            file == 1 { acked[$0]++; nacked++; next }           # acked.txt: the lines expected
            file == 2 { handed += $13; again += $14; next }      # runs.tsv
            file == 3 {                                          # journal
                if ($1 == "rx") { ab = ($3 == "AB"); next }
                if ($1 == "fault" && $2 == "lost" && ab) lostacks++
                ab = 0
                next
            }
            {                                                    # times.txt: what the program wrote
                gsub(/\r/, "")
                if ($0 == "") next
                nlines++
                seen[$0]++
            }
            END {
                for (k in acked) if (!(k in seen)) { lost++; if (lost <= 10) print "LOST " k > "/dev/stderr" }
                for (k in seen) {
                    if (seen[k] > 1) {
                        dups += seen[k] - 1
                        if (++shown <= 10) print "STORED " seen[k] " TIMES " k > "/dev/stderr"
                    }
                    if (!(k in acked)) pending++
                }
                if (pending > open_end) {
                    unexplained += pending - open_end
                    print "STORED BUT NEVER TAKEN: " pending " lines, " open_end " handed out in the last run and not taken" > "/dev/stderr"
                }
                printf "%d %d %d %d %d %d %d %d %d\n", nacked, nlines, dups, lost, unexplained, pending, lostacks, handed, again
            }' "$d/acked.txt" "$d/runs.tsv" "$d/journal" "$d/times.txt" 2>>"$work/records.problems")
        read -r a l dp ls ux pd la hd ag <<<"$line"
        tot_acked=$((tot_acked + a)); tot_lines=$((tot_lines + l)); tot_dups=$((tot_dups + dp))
        lost=$((lost + ls)); unexplained=$((unexplained + ux)); tot_pending=$((tot_pending + pd))
        tot_lostacks=$((tot_lostacks + la)); tot_handed=$((tot_handed + ${hd:-0})); tot_again=$((tot_again + ${ag:-0}))
    done
    local records_ok=0
    [ "$tot_dups" -eq 0 ] && [ "$lost" -eq 0 ] && [ "$unexplained" -eq 0 ] &&
        [ $((tot_lines - tot_pending)) -eq "$tot_acked" ] && records_ok=1
    {
        echo "records handed out: $tot_acked (taken by the program; $tot_pending more handed out in a lane's last run" \
            "and not yet taken); records stored: $tot_lines; duplicates: $tot_dups"
        echo "  lost requests for the next packet: $tot_lostacks; records the clock handed out again after" \
            "their packet had gone out whole: $tot_again (of $tot_handed handed out, repeats counted per run)"
        echo "  records lost (taken, not in a file): $lost; stored but never handed out: $unexplained"
        if [ -s "$work/records.problems" ]; then head -20 "$work/records.problems" | sed 's/^/  /'; fi
        if [ "$records_ok" -eq 1 ]; then
            echo "  records: PASS (every record handed out is in a file, each once)"
        else
            echo "  records: FAIL"
        fi
    } >>"$out"
    [ "$records_ok" -eq 1 ] || failed=1

    # Growth: the program's peak memory and descriptors per run, the simulators' after each run.
    local growth
    growth=$(awk -v pct="$RSS_MARGIN_PCT" -v kb="$RSS_MARGIN_KB" -v fdm="$FD_MARGIN" '
        $2 == "hang" { next }
        { n++; rss[n] = $4; fd[n] = $5; csfd[n] = $7; csrss[n] = $8 }
        function mx(a, from, to,   i, m) { m = 0; for (i = from; i <= to; i++) if (a[i] > m) m = a[i]; return m }
        END {
            if (n == 0) { print "FAIL no runs"; exit }
            w = n < 100 ? n : 100
            fail = 0
            r1 = mx(rss, 1, w); r2 = mx(rss, n - w + 1, n)
            f1 = mx(fd, 1, w); f2 = mx(fd, n - w + 1, n)
            c1 = mx(csfd, 1, w); c2 = mx(csfd, n - w + 1, n)
            s1 = mx(csrss, 1, w); s2 = mx(csrss, n - w + 1, n)
            printf "quorvex peak RSS (max over runs): first %d runs %d kB, last %d runs %d kB, all runs %d kB\n", w, r1, w, r2, mx(rss, 1, n)
            printf "quorvex open descriptors (most seen in a run): first %d runs %d, last %d runs %d\n", w, f1, w, f2
            printf "clocksim after each run (per lane, most seen): descriptors first %d %d, last %d %d; RSS first %d %d kB, last %d %d kB\n", w, c1, w, c2, w, s1, w, s2
            if (r2 > r1 * (1 + pct / 100) + kb) { print "  GROWTH quorvex RSS"; fail = 1 }
            if (f2 > f1 + fdm) { print "  GROWTH quorvex descriptors"; fail = 1 }
            if (c2 > c1 + fdm) { print "  GROWTH clocksim descriptors"; fail = 1 }
            if (s2 > s1 * (1 + pct / 100) + kb) { print "  GROWTH clocksim RSS"; fail = 1 }
            printf "  margins: RSS +%d %% + %d kB, descriptors +%d; growth: %s\n", pct, kb, fdm, fail ? "FAIL" : "PASS (none beyond the margins)"
        }' "$work/all-runs.tsv")
    echo "$growth" >>"$out"
    case "$growth" in *FAIL*) failed=1 ;; esac
    grep -q '^hang' <(awk '{print $2}' "$work/all-runs.tsv") && failed=1
    # A run that ended by itself must not leave a runtime folder of its own behind (the one
    # folder per user that runs share and keep is not counted).
    awk '$2 != "hang" && $12 > 0 { found = 1 } END { exit !found }' "$work/all-runs.tsv" && failed=1

    if [ "$failed" -eq 0 ]; then echo "soak: PASS" >>"$out"; else echo "soak: FAIL" >>"$out"; fi
    cat "$out"
    return "$failed"
}

if [ -n "$analyze" ]; then
    [ -n "$summary" ] || summary="$analyze/summary.txt"
    analyze_dir "$analyze" "$summary"
    exit $?
fi

# ---------------------------------------------------------------------------------------
# Build.
# ---------------------------------------------------------------------------------------
if [ -z "$build" ]; then
    build="$src/build-soak"
    if [ ! -f "$build/CMakeCache.txt" ]; then
        generator=()
        command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
        cmake -S "$src" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DQV_TESTS=OFF \
            >/dev/null || die "configure failed"
    fi
    cmake --build "$build" --target quorvex clocksim >/dev/null || die "build failed"
fi
case "$build" in /*) ;; *) build="$PWD/$build" ;; esac
qv="$build/bin/quorvex"
cs="$build/bin/clocksim"
[ -x "$qv" ] && [ -x "$cs" ] || die "no quorvex or clocksim in $build/bin"
[ -x /usr/bin/time ] || die "needs /usr/bin/time (GNU time) for the peak memory of each run"

# ---------------------------------------------------------------------------------------
# Lanes.
# ---------------------------------------------------------------------------------------
work="$(mktemp -d "${TMPDIR:-/tmp}/qvsoak-XXXXXX")"
lane_pids=()
cleanup() {
    for p in "${lane_pids[@]}"; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    if [ "$keep" -eq 1 ]; then echo "soak: kept $work" >&2; else rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

cat >"$work/soak.conf" <<EOF
runs_planned=$runs
lanes_used=$lanes
rate_used=$rate
seed_used=$seed
started='$(date -u '+%Y-%m-%d %H:%M:%S UTC')'
t0=$(date +%s)
command_line='bench/soak.sh --runs $runs --lanes $lanes --fault-rate $rate --seed $seed --address $octet'
EOF

# BCD of a two-digit number is the number's decimal digits read as hex.
two() { printf '%02d' $(($1 % 100)); }

# One lane: one simulator on its own address, the runs n = lane+1, lane+1+lanes, ...
# Records carry a serial number in the badge (100000 + serial), so every line is unique
# across the soak and a line seen twice is a record written twice.
lane() {
    local L="$1" addr="127.0.0.$((octet + $1))"
    local dir="$work/lane$L"
    mkdir -p "$dir/config/Korvane" || exit 2
    cd "$dir" || exit 2
    printf '[General]\nBaudRate=9600\nPort=1\nIPAddress=0.0.0.0\n\n[SerialPorts]\n' >config/Korvane/KX2.conf
    printf "$BELL_FILE" >bells.txt
    printf 'init_clock 01 IP%s\nget_times times.txt\nset_belltable bells.txt\nget_status status.txt\n' \
        "$addr" >run.cmd
    : >times.txt
    : >acked.txt
    : >runs.tsv
    : >results.all
    mkfifo ctl.in ctl.out || exit 2

    local s_pid
    "$cs" --listen "$addr" --journal "$dir/journal" --ready-file "$dir/ready" \
        --fault-rate "$rate:$((seed + L))" --control - <ctl.in >ctl.out 2>clocksim.log &
    s_pid=$!
    exec 7>ctl.in 8<ctl.out
    local i=0
    while [ ! -f ready ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
    [ -f ready ] || { echo "soak: clocksim on $addr did not start: $(cat clocksim.log)" >&2; kill "$s_pid"; exit 2; }

    local reply
    ctl() {
        echo "$1" >&7
        while IFS= read -r -t 30 reply <&8; do
            case "$reply" in ok* | error*) [ "${reply%% *}" = ok ] && return 0; echo "soak: $1: $reply" >&2; return 1 ;; esac
        done
        echo "soak: clocksim on $addr does not answer '$1'" >&2
        return 1
    }
    trap 'kill $s_pid ${q_pid:-} ${t_pid:-} 2>/dev/null; exit 1' TERM

    RANDOM=$((seed * 7 + L))
    local pfirst=$((L * 400000)) pcount=0 n=$((L + 1)) t_pid=""
    while [ "$n" -le "$runs" ]; do
        # Load what the clock still holds plus 1 to 60 new records (one to three packets).
        local k=$((1 + RANDOM % 60)) first=$pfirst count s b
        count=$((pcount + k))
        {
            for ((s = first; s < first + count; s++)); do
                b=$((100000 + s))
                echo "${b:0:2} ${b:2:2} ${b:4:2} $(two $((s / 60 % 24))) $(two $((s % 60))) $(two $((1 + s % 28))) $(two $((1 + s % 12)))"
            done
        } >load.hex
        ctl "journal run $n load $first $count" && ctl "records $dir/load.hex" || exit 2

        rm -f results.txt status.txt
        local start end fdmax=0 fdlast=0 q_pid="" c rc
        start=$(date +%s.%N)
        # TMPDIR: the program's runtime folder goes here, where it can be counted.
        TMPDIR="$dir" XDG_CONFIG_HOME="$dir/config" XDG_RUNTIME_DIR='' DISPLAY='' WAYLAND_DISPLAY='' QT_QPA_PLATFORM='' \
            /usr/bin/time -v -o time.txt "$qv" run.cmd results.txt >out.txt 2>err.txt &
        t_pid=$!
        # Sample the program's descriptors while it runs (the last sample is near its end:
        # the closing acknowledge wait keeps it alive for a second or two).
        local deadline=$(($(date +%s) + run_timeout)) hung=0
        while kill -0 "$t_pid" 2>/dev/null; do
            [ -z "$q_pid" ] && q_pid=$(cat "/proc/$t_pid/task/$t_pid/children" 2>/dev/null | awk '{print $1}')
            if [ -n "$q_pid" ]; then
                c=$(ls "/proc/$q_pid/fd" 2>/dev/null | wc -l)
                if [ "$c" -gt 0 ]; then
                    fdlast=$c
                    [ "$c" -gt "$fdmax" ] && fdmax=$c
                fi
            fi
            if [ "$(date +%s)" -ge "$deadline" ]; then
                hung=1
                [ -n "$q_pid" ] && kill "$q_pid" 2>/dev/null
                break
            fi
            sleep 0.2
        done
        wait "$t_pid"
        rc=$?
        t_pid=""
        end=$(date +%s.%N)
        [ "$hung" -eq 1 ] && rc=hang
        local rss
        rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' time.txt)

        ctl "records-left" || exit 2
        local taken total handed again
        total=$(echo "$reply" | sed -n 's/.*total=\([0-9]*\).*/\1/p')
        taken=$(echo "$reply" | sed -n 's/.*taken=\([0-9]*\).*/\1/p')
        handed=$(echo "$reply" | sed -n 's/.*handed=\([0-9]*\).*/\1/p')
        again=$(echo "$reply" | sed -n 's/.*again=\([0-9]*\).*/\1/p')
        [ "$total" = "$count" ] || { echo "soak: lane $L run $n: clock holds $total records, loaded $count" >&2; exit 2; }
        for ((s = first; s < first + taken; s++)); do
            b=$((100000 + s))
            echo "01,$b,$(two $((s / 60 % 24)))$(two $((s % 60))),$(two $((1 + s % 28))),$(two $((1 + s % 12)))"
        done >>acked.txt
        pfirst=$((first + taken))
        pcount=$((count - taken))

        local csfd csrss sbytes=0 leftover
        leftover=$(find "$dir" -maxdepth 1 -name 'quorvex-runtime-*' ! -name "quorvex-runtime-$(id -u)" | wc -l)
        [ "$rc" = hang ] && rm -rf "$dir"/quorvex-runtime-*
        csfd=$(ls "/proc/$s_pid/fd" 2>/dev/null | wc -l)
        csrss=$(awk '/^VmRSS/ {print $2}' "/proc/$s_pid/status" 2>/dev/null)
        [ -f status.txt ] && sbytes=$(stat -c %s status.txt)
        [ -f results.txt ] && tr -d '\r' <results.txt | awk -v n="$n" 'NF { print n, $0 }' >>results.all
        printf '%s %s %.2f %s %s %s %s %s %s %s %s %s %s %s\n' "$n" "$rc" "$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')" "${rss:-0}" \
            "$fdmax" "$fdlast" "${csfd:-0}" "${csrss:-0}" "$taken" "$count" "$sbytes" "$leftover" "${handed:-0}" "${again:-0}" >>runs.tsv
        if [ $(((n - 1) / lanes % 50)) -eq 0 ] && [ "$L" -eq 0 ]; then
            echo "soak: run $n of $runs ($(date -u +%H:%M:%S))" >&2
        fi
        n=$((n + lanes))
    done
    kill "$s_pid" 2>/dev/null
    wait "$s_pid" 2>/dev/null
    exit 0
}

for ((L = 0; L < lanes; L++)); do
    lane "$L" &
    lane_pids+=($!)
done
lane_failed=0
for p in "${lane_pids[@]}"; do wait "$p" || lane_failed=1; done
lane_pids=()
[ "$lane_failed" -eq 0 ] || die "a lane could not run (see above)"
echo "ended='$(date -u '+%Y-%m-%d %H:%M:%S UTC')'; t1=$(date +%s)" >>"$work/soak.conf"

[ -n "$summary" ] || summary="$work/summary.txt"
analyze_dir "$work" "$summary"
status=$?
if [ "$summary" = "$work/summary.txt" ] && [ "$keep" -eq 0 ]; then
    cp "$summary" "${TMPDIR:-/tmp}/qvsoak-summary.txt" && echo "soak: summary in ${TMPDIR:-/tmp}/qvsoak-summary.txt" >&2
fi
exit "$status"
