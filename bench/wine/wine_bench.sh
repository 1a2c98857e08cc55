#!/usr/bin/env bash
# The Windows build's programming figures under Wine, each beside the ideal host's from the
# same run: the K80 image into devsim pacing 115200 8N2 on a pseudo-terminal mapped to COM5,
#   - programming_win32.exe: the engine alone, Win32 pump and headless pump,
#   - quillon-cli.exe update --port COM5,
#   - quillon.exe of the Upgrade label (its START button pressed with a key, on Xvfb),
# each run with devsim recording what the host sent (--record), then the ideal host
# (replay_host.exe: a write and a blocking ReadFile of the answer's length, zero time-outs)
# replaying those bytes against a fresh devsim with the same settings.
#   bench/wine/wine_bench.sh [mingw build dir] [host build dir] [runs | calls]
# Per run, as devsim sees it: the session ÷ its wire time, the turnarounds (median, p90,
# p99, max, how many over 1 ms and over 4 ms), and the host's session ÷ the ideal host's.
# "calls" counts Wine server requests per packet instead (WINEDEBUG=+server): the engine
# with each pump programs one board, then two, and the difference over a session's 1,142
# packets is given per request.
set -euo pipefail
cd "$(dirname "$0")/../.."
mingw=${1:-build/mingw}
host=${2:-build/release}
runs=${3:-3}
devsim=$host/tools/devsim/devsim
replay=$mingw/bench/wine/replay/replay_host.exe
cli=$mingw/src/cli/quillon-cli.exe
gui=$mingw/windows/TQX_1C_01.02.02.04/quillon.exe
for f in "$devsim" "$replay" "$cli" "$gui" "$mingw/bench/wine/programming_win32.exe"; do
  [ -x "$f" ] || { echo "missing $f (build the host and the MinGW builds first)"; exit 1; }
done
work=$(mktemp -d /tmp/quillon-winebench-XXXXXX)
export WINEPREFIX=$work/prefix WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=${WINEDEBUG:--all}
readonly hang_check_s=120  # bound on every wait for a program; a hang fails, never stalls

for n in $(seq 90 190); do [ -e /tmp/.X$n-lock ] || { export DISPLAY=:$n; break; }; done
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
devsim_pid=
cleanup() {
  wineserver -k >/dev/null 2>&1 || true  # first, while devsim still holds the pty
  [ -n "$devsim_pid" ] && kill "$devsim_pid" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  rm -rf "$work" 2>/dev/null || true
}
trap cleanup EXIT
WINEDEBUG=-all wineboot -i >/dev/null 2>&1 || true
wineserver -w
WINEDEBUG=-all wineserver -p >/dev/null 2>&1
wine reg add 'HKLM\Software\Orvanta\Upgrade' /v com /t REG_SZ /d 4 /f >/dev/null 2>&1

wait_for() {
  local file=$1 pattern=$2
  for _ in $(seq $((hang_check_s * 10))); do
    grep -q "$pattern" "$file" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "timed out waiting for '$pattern' in $file"; cat "$file"; return 1
}
start_devsim() {  # on COM5, output in $1
  local out=$1; shift
  rm -f "$WINEPREFIX/dosdevices/com5"
  "$devsim" --link "$WINEPREFIX/dosdevices/com5" --pace "$@" >"$out" 2>&1 &
  devsim_pid=$!
  wait_for "$out" "devsim: /dev/"
}
stop_devsim() {
  kill "$devsim_pid" 2>/dev/null || true
  wait "$devsim_pid" 2>/dev/null || true
  devsim_pid=
}
session_s() { sed -n 's/^devsim: session \([0-9.]*\) s.*$/\1/p' "$1"; }
# One line: the host's figures, the ideal host's, their ratio and the load average.
report() {
  local name=$1 host_out=$2 ideal_out=$3
  printf '%-18s %s | %s\n' "$name" "$(sed -n 's/^devsim: session .*: \(.*\)$/\1/p' "$host_out")" \
    "$(sed -n 's/^devsim: turnaround \(.*\)$/\1/p' "$host_out")"
  printf '%-18s %s | %s\n' "  ideal host" "$(sed -n 's/^devsim: session .*: \(.*\)$/\1/p' "$ideal_out")" \
    "$(sed -n 's/^devsim: turnaround \(.*\)$/\1/p' "$ideal_out")"
  printf '%-18s %s   (load %s)\n' "  host / ideal" \
    "$(awk -v h="$(session_s "$host_out")" -v i="$(session_s "$ideal_out")" \
      'BEGIN { printf "%.3f", (i > 0 ? h / i : 0) }')" "$(cut -d' ' -f1-3 /proc/loadavg)"
}
# The ideal host on the record of the run just done.
ideal() {
  start_devsim "$work/ideal.out"
  timeout $hang_check_s wine "$replay" COM5 "$work/record" >/dev/null
  stop_devsim
}

# Server requests of programming_win32.exe with one pump for N sessions, one count per line.
server_calls() {
  local pump=$1 sessions=$2
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w
  start_devsim "$work/host.out"
  WINEDEBUG=+server QUILLON_BENCH_PUMP=$pump timeout $hang_check_s \
    wine "$mingw/bench/wine/programming_win32.exe" 5 "$sessions" >/dev/null 2>"$work/trace"
  wineserver -w
  stop_devsim
  grep -E '^[0-9a-f]{4}: [a-z_]+\( ' "$work/trace" | sed -E 's/^[0-9a-f]{4}: ([a-z_]+)\(.*/\1/' |
    sort | uniq -c
}
if [ "$runs" = calls ]; then
  readonly packets=1142  # of the K80 session
  for pump in Win32Pump PollPump; do
    server_calls $pump 1 >"$work/one"
    server_calls $pump 2 >"$work/two"
    echo "== $pump: Wine server requests per packet"
    join -1 2 -2 2 <(sort -k2 "$work/one") <(sort -k2 "$work/two") |
      awk -v n=$packets '{ d = ($3 - $2) / n; t += d; if (d >= 0.05) printf "  %-24s %5.2f\n", $1, d }
                         END { printf "  %-24s %5.2f\n", "all", t }'
  done
  exit 0
fi

for run in $(seq "$runs"); do
  echo "== run $run"
  # The engine alone: one session per pump, each with its own record.
  for pump in Win32Pump PollPump; do
    start_devsim "$work/host.out" --record "$work/record"
    QUILLON_BENCH_PUMP=$pump timeout $hang_check_s \
      wine "$mingw/bench/wine/programming_win32.exe" 5 1 > "$work/engine.out"
    stop_devsim
    ideal
    report "engine, $pump" "$work/host.out" "$work/ideal.out"
  done

  start_devsim "$work/host.out" --record "$work/record"
  timeout $hang_check_s wine "$cli" update --port COM5 >/dev/null 2>&1 || true
  stop_devsim
  ideal
  report "quillon-cli.exe" "$work/host.out" "$work/ideal.out"

  start_devsim "$work/host.out" --record "$work/record"
  QUILLON_TRACE=1 wine "$gui" 2>"$work/gui.log" &
  gui_pid=$!
  wait_for "$work/gui.log" "running "
  caption=$(tr -d "\r" <"$work/gui.log" | sed -n 's/^quillon: running TForm[0-9] "\(.*\)"$/\1/p')
  window=$(xwininfo -name "$caption" | sed -n 's/^xwininfo: Window id: \(0x[0-9a-f]*\).*/\1/p')
  sleep 1  # let the program settle after showing its window (not part of the figures)
  for _ in $(seq 20); do  # a key before Wine took the focus is lost: press until it starts
    xdotool windowfocus --sync "$window" key space 2>/dev/null || true
    for _ in $(seq 30); do grep -q "update started" "$work/gui.log" && break 2; sleep 0.1; done
  done
  wait_for "$work/gui.log" "update done"
  xdotool windowfocus --sync "$window" key alt+F4 2>/dev/null || true
  wait "$gui_pid" || true
  stop_devsim
  ideal
  report "quillon.exe Upgrade" "$work/host.out" "$work/ideal.out"
  printf '%-18s %s\n' "  windows" "$(tr -d '\r' <"$work/gui.log" | sed -n 's/^quillon: update done.*; //p')"
done
