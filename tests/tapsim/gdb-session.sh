#!/usr/bin/env bash
# A person's debugging session, in gdb's batch mode: tapsim --gdb waits, the
# command it prints attaches, a breakpoint in the module's key handler is hit
# on the first key with that key's code, the backtrace reaches the module's
# main function in its source, and once the debugger lets go the run ends as
# it would without one. The debugger holds the module at the breakpoint for
# longer than the watchdog and the idle limit allow, which --gdb must not count.
# With "kill", the debugger kills the module at the breakpoint instead, and
# tapsim must say that the debugger ended the run.
# usage: gdb-session.sh TAPSIM MODULE [kill]
set -uo pipefail
tapsim=$1 module=$2 ending=${3:-continue}
command -v gdb-multiarch >/dev/null || { echo "gdb-multiarch is not installed (scripts/install-deps installs it)"; exit 1; }
work=$(mktemp -d)
tapsim_pid=
trap '[[ -n $tapsim_pid ]] && kill -KILL $tapsim_pid 2>/dev/null; rm -rf "$work"' EXIT
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("", 0)); print(s.getsockname()[1])')

"$tapsim" --gdb "$port" --headless --keys "next quit" --watchdog 1 --idle-timeout 100 "$module" \
  >"$work/out.txt" 2>"$work/err.txt" &
tapsim_pid=$!
attach=
for _ in $(seq 600); do
  attach=$(grep -m1 '^gdb-multiarch ' "$work/err.txt") && break
  kill -0 $tapsim_pid 2>/dev/null || break
  sleep 0.1
done
[[ -n $attach ]] || { cat "$work/out.txt" "$work/err.txt"; echo "tapsim printed no gdb-multiarch command"; exit 1; }
echo "tapsim said: $attach"

failed=0
expect() {  # expect WHAT PATTERN FILE
  grep -qE -- "$2" "$3" || { echo "FAILED: $1"; failed=1; }
}
if [[ $ending == kill ]]; then
  eval "timeout 300 $attach -batch -ex 'break TAP_EventHandler' -ex continue -ex kill" >"$work/gdb.txt" 2>&1
  wait $tapsim_pid
  code=$? tapsim_pid=
  cat "$work/gdb.txt" "$work/out.txt" "$work/err.txt"
  expect "tapsim says the debugger ended the run" '^tapsim: the debugger ended the run$' "$work/err.txt"
  [[ $code == 1 ]] || { echo "FAILED: tapsim exits with $code, not 1"; failed=1; }
  exit $failed
fi
eval "timeout 300 $attach -batch -ex 'break TAP_EventHandler' -ex continue -ex 'print/x param1' -ex bt \
  -ex 'shell sleep 2' -ex delete -ex continue" >"$work/gdb.txt" 2>&1
cat "$work/gdb.txt"
wait $tapsim_pid
code=$?
tapsim_pid=
cat "$work/out.txt" "$work/err.txt"
expect "the breakpoint in the module's handler is hit" '^Breakpoint 1(\.1)?, TAP_EventHandler \(' "$work/gdb.txt"
expect "the handler's source line is shown" '^[0-9]+[[:space:]]+[^[:space:]]' <(grep -E -A1 '^Breakpoint 1(\.1)?, ' "$work/gdb.txt" | tail -n1 | grep -v 'No such file')
expect "param1 is the first key, next" '^\$1 = 0x10045$' "$work/gdb.txt"
expect "the backtrace reaches the module's main function in its source" '^#[0-9]+ .*TAP_Main \(\) at [^ ]*app/Quarnel\.cpp:[0-9]+$' "$work/gdb.txt"
expect "the module ends normally under the debugger" 'exited normally' "$work/gdb.txt"
expect "both keys reach the module" 'keys delivered: 2' "$work/out.txt"
[[ $code == 0 ]] || { echo "FAILED: tapsim exits with $code, not 0"; failed=1; }
exit $failed
