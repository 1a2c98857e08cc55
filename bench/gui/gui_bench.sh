#!/usr/bin/env bash
# Programs this build's PIC18F26K80 image through the real GUI executable, as a user does:
# devsim pacing a 115200 8N2 line on a pseudo-terminal pinned to COM1, the program started
# on an X server (Xvfb), its update button pressed with a real key press (xdotool). devsim
# measures what the device sees; the program's CPU is read from /proc.
#
#   bench/gui/gui_bench.sh QUILLON_EXECUTABLE DEVSIM_EXECUTABLE [LATENCY_MS ...]
#
# One run per latency (0: none; 16: an FTDI adapter's default latency timer; 1: what it
# gives when the port asks for low latency). Needs Xvfb and xdotool; run it under xvfb-run:
#   xvfb-run -a -s "-screen 0 1280x1024x24" bench/gui/gui_bench.sh build/release/src/app/quillon \
#       build/release/tools/devsim/devsim 0 1 16
# Figures per run:
#   ratio       the session as devsim sees it ÷ the wire time of its bytes (budget 1.10)
#   turnaround  devsim's, answer's last byte → next packet's first byte (budgets: median
#               under 100 us, p99 under 1 ms)
#   cpu_ms      the program's CPU from the key press to the session's end (budget 150 ms)
#   drawings    the windows' syncs during the session and their own cost (mean, max)
#   ideal       the ideal host (bench/replay/replay_host, or $REPLAY_HOST) replaying the
#               bytes the program sent against a fresh devsim with the same settings, right
#               after the program's run: its session, its turnarounds, and the program's
#               session as a ratio to it (budget 1.01)
set -euo pipefail

quillon=$(realpath "$1")
devsim=$(realpath "$2")
replay=$(realpath "${REPLAY_HOST:-$(dirname "$devsim")/../../bench/replay/replay_host}")
shift 2
latencies=("$@")
[ ${#latencies[@]} -gt 0 ] || latencies=(0)

readonly start_timeout_s=30    # program start and devsim start, generous
readonly session_timeout_s=120 # a 16 ms latency session takes about 20 s

# CPU time of every thread of a process, in ns (schedstat: first field).
cpu_ns() {
    local total=0 t
    for t in /proc/"$1"/task/*/schedstat; do
        read -r run _ < "$t" || true
        total=$((total + run))
    done
    echo "$total"
}

# Waits until a file holds a line matching a pattern, at most $3 seconds.
wait_for() {
    local file=$1 pattern=$2 limit=$3 i
    for ((i = 0; i < limit * 20; i++)); do
        grep -q -- "$pattern" "$file" 2>/dev/null && return 0
        sleep 0.05
    done
    echo "gui_bench: timed out waiting for '$pattern' in $file" >&2
    return 1
}

# The same, for the timed part: no process is started while it waits (tail follows the
# file through inotify). Polling with a sleep and a grep 20 times a second took about
# 100 ms of CPU from the 2 cores during a session, and each start held the program or
# devsim back by a millisecond or more, about ten times a session.
wait_quietly() {
    local file=$1 pattern=$2 limit=$3 found=0
    coproc follow { exec tail -n +1 -f "$file"; }
    timeout "$limit" grep -q -m1 -- "$pattern" <&"${follow[0]}" || found=$?
    kill "$follow_PID" 2>/dev/null || true
    wait "$follow_PID" 2>/dev/null || true
    if [ "$found" -ne 0 ]; then
        echo "gui_bench: timed out waiting for '$pattern' in $file" >&2
        return 1
    fi
}

run_one() {
    local latency=$1
    local dir
    dir=$(mktemp -d)
    mkdir -p "$dir/config/quillon/ports" "$dir/run"
    chmod 700 "$dir/run"
    local args=(--pace --chip 48 --bios 7 --print 16 --prep 3)
    [ "$latency" -gt 0 ] && args+=(--latency-ms "$latency")
    "$devsim" "${args[@]}" --link "$dir/config/quillon/ports/COM1" --record "$dir/record" \
        > "$dir/devsim.out" 2> "$dir/devsim.err" &
    local devsim_pid=$!
    wait_for "$dir/devsim.out" "^devsim: /dev" "$start_timeout_s"

    XDG_CONFIG_HOME="$dir/config" XDG_RUNTIME_DIR="$dir/run" QUILLON_TRACE=1 \
        QT_QPA_PLATFORM=xcb "$quillon" 2> "$dir/quillon.err" &
    local quillon_pid=$!
    wait_for "$dir/quillon.err" "^quillon: running" "$start_timeout_s"
    local caption window
    caption=$(sed -n 's/^quillon: running [A-Za-z0-9]* "\(.*\)"$/\1/p' "$dir/quillon.err")
    window=$(xdotool search --sync --onlyvisible --pid "$quillon_pid" --name "$caption" | head -1)
    # The idle window's update button has the focus: a space presses it.
    xdotool windowfocus --sync "$window"
    sleep 0.2  # let the program settle after showing its window (not part of the figures)
    local cpu0
    cpu0=$(cpu_ns "$quillon_pid")
    xdotool key --clearmodifiers space
    wait_quietly "$dir/quillon.err" "^quillon: session ended" "$session_timeout_s"
    local cpu1
    cpu1=$(cpu_ns "$quillon_pid")
    kill -TERM "$devsim_pid"
    wait "$devsim_pid" || true
    kill -TERM "$quillon_pid"
    wait "$quillon_pid" 2>/dev/null || true

    # The ideal host: the same bytes against a fresh devsim with the same settings.
    "$devsim" "${args[@]}" > "$dir/ideal.out" 2> "$dir/ideal.err" &
    local ideal_pid=$!
    wait_for "$dir/ideal.out" "^devsim: /dev" "$start_timeout_s"
    local pts
    pts=$(sed -n 's/^devsim: \(\/dev\/.*\)$/\1/p' "$dir/ideal.out")
    "$replay" "$pts" "$dir/record" > /dev/null
    kill -TERM "$ideal_pid"
    wait "$ideal_pid" || true

    local ratio turnaround ideal_ratio ideal_turnaround host_s ideal_s
    ratio=$(sed -n 's/^devsim: session \(.*\)$/\1/p' "$dir/devsim.out")
    turnaround=$(sed -n 's/^devsim: turnaround \(.*\)$/\1/p' "$dir/devsim.out")
    ideal_ratio=$(sed -n 's/^devsim: session .*: \(.*\)$/\1/p' "$dir/ideal.out")
    ideal_turnaround=$(sed -n 's/^devsim: turnaround \(.*\)$/\1/p' "$dir/ideal.out")
    host_s=$(sed -n 's/^devsim: session \([0-9.]*\) s.*$/\1/p' "$dir/devsim.out")
    ideal_s=$(sed -n 's/^devsim: session \([0-9.]*\) s.*$/\1/p' "$dir/ideal.out")
    # devsim's own summary says whether every packet arrived and was answered.
    printf 'latency %2s ms | session %s | turnaround %s | cpu_ms %d | %s\n' "$latency" "$ratio" \
        "$turnaround" $(((cpu1 - cpu0) / 1000000)) "$(tail -1 "$dir/devsim.err")"
    printf '              | %s (the windows drawn by the frame pacer, after packets)\n' \
        "$(sed -n 's/^quillon: \(drawings .*\)$/\1/p' "$dir/quillon.err")"
    printf '              | ideal host %s | turnaround %s | program / ideal %s | load %s\n' \
        "$ideal_ratio" "$ideal_turnaround" \
        "$(awk -v h="$host_s" -v i="$ideal_s" 'BEGIN { printf "%.3f", (i > 0 ? h / i : 0) }')" \
        "$(cut -d' ' -f1-3 /proc/loadavg)"
    rm -rf "$dir"
}

for latency in "${latencies[@]}"; do
    run_one "$latency"
done
