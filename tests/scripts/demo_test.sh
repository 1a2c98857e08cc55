#!/usr/bin/env bash
# scripts/demo end to end against a build: the real program offscreen, devsim on a real
# pseudo-terminal. A plain run and a run with faults must end with the board holding
# exactly the image; Ctrl-C with the window open must stop everything. None of them may
# leave a process or a file (the port link included) behind.
#   demo_test.sh SCRIPT BUILD_DIR
set -uo pipefail
demo=$1
build=$2
readonly event_timeout_s=60 # hang check only: the window is up within a second
base=$(mktemp -d "${TMPDIR:-/tmp}/quillon-demo-test.XXXXXX")
work=$base/tmp # the demo's TMPDIR: empty again after every run
mkdir "$work"
trap 'rm -rf "$base"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Every process the demo starts inherits TMPDIR=$work; the demo's own folder lives in it.
check_nothing_left() {
  local what=$1 pids
  pids=$(grep -lsF "TMPDIR=$work" /proc/[0-9]*/environ | cut -d/ -f3 | tr '\n' ' ')
  if [ -n "$pids" ]; then
    fail "$what: processes left: $(for p in $pids; do tr '\0' ' ' </proc/$p/cmdline; done)"
    kill -KILL $pids
  fi
  [ -z "$(ls -A "$work")" ] || fail "$what: files left: $(find "$work" -mindepth 1)"
}

run_headless() {
  local name=$1 && shift
  local log=$base/$name.log
  TMPDIR=$work bash "$demo" --headless --build-dir "$build" "$@" >"$log" 2>&1
  local rc=$?
  cat "$log"
  [ "$rc" -eq 0 ] || fail "$name: exit status $rc"
  tail -n 1 "$log" | grep -q "^demo: the virtual board holds exactly the image" ||
    fail "$name: the last line does not say the board holds exactly the image"
  check_nothing_left "$name"
  LOG=$(cat "$log")
}

echo "== plain run"
run_headless plain
grep -q "devsim: 1 identify, 1 entry, 1141 packets (0 bad checksum, 0 rejected, 0 ignored)" \
  <<<"$LOG" || fail "plain: devsim saw something else than one clean update"

echo "== faults: resends, a packet without an answer, a second press"
run_headless faults --faults
grep -Eq "devsim: 2 identify, 2 entry, [0-9]+ packets \(0 bad checksum, [1-9][0-9]* rejected, 1 ignored\)" \
  <<<"$LOG" || fail "faults: devsim did not reject, ignore one packet and see a second update"

echo "== Ctrl-C with the window open"
fifo=$base/output
runtime=$base/runtime
mkfifo "$fifo"
mkdir -m 700 "$runtime"
# Its own process group with the signals of a terminal's foreground job (job control on:
# a plain background job would start with Ctrl-C ignored); Ctrl-C reaches every process.
set -m
TMPDIR=$work QT_QPA_PLATFORM=offscreen QUILLON_TRACE=1 XDG_RUNTIME_DIR=$runtime \
  bash "$demo" --build-dir "$build" >"$fifo" 2>&1 &
pid=$!
set +m
exec 4<"$fifo"
seen=0
while read -r -t "$event_timeout_s" line <&4; do
  echo "$line"
  if [[ "$line" == "quillon: running"* ]]; then
    seen=1
    break
  fi
done
[ "$seen" -eq 1 ] || fail "ctrl-c: the window did not come up"
kill -INT -- "-$pid"
# The output ends when the script and everything it started have ended.
while :; do
  if read -r -t "$event_timeout_s" line <&4; then
    echo "$line"
  else
    [ $? -le 128 ] || {
      fail "ctrl-c: still running"
      kill -KILL -- "-$pid"
    }
    break
  fi
done
exec 4<&-
wait "$pid"
rc=$?
[ "$rc" -eq 130 ] || fail "ctrl-c: exit status $rc, not 130"
check_nothing_left "ctrl-c"
[ "$failures" -eq 0 ] && echo "all passed"
exit "$failures"
