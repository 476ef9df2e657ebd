#!/usr/bin/env bash
# A module file replaced while it runs (a rebuild, say), then a hang: the
# report must name the function and line of the file that was loaded, with
# its debug file beside it, not of the files that took their names.
# usage: replaced-module.sh TAPSIM SPINNING_MODULE OTHER_MODULE
set -uo pipefail
tapsim=$1 module=$2 other=$3
work=$(mktemp -d)
tapsim_pid=
trap '[[ -n $tapsim_pid ]] && kill -KILL $tapsim_pid 2>/dev/null; rm -rf "$work"' EXIT
# The debug file keeps its name: .gnu_debuglink names it.
name=$(basename "$module")
cp "$module" "$work/$name"
[[ -f $module.debug ]] && cp "$module.debug" "$work/$name.debug"

"$tapsim" --headless --keys quit --watchdog 2 "$work/$name" >"$work/out.txt" 2>"$work/err.txt" &
tapsim_pid=$!
for _ in $(seq 600); do
  grep -q '^module: ' "$work/out.txt" && break
  kill -0 $tapsim_pid 2>/dev/null || break
  sleep 0.05
done
cp "$other" "$work/new" && mv "$work/new" "$work/$name"
[[ -f $other.debug ]] && cp "$other.debug" "$work/new.debug" && mv "$work/new.debug" "$work/$name.debug"
wait $tapsim_pid
code=$?
tapsim_pid=
cat "$work/err.txt"
grep -qE '^tapsim: .*, in TAP_Main \(.*spin\.cpp:[0-9]+\)$' "$work/err.txt" ||
  { echo "FAILED: the report does not name the loaded module's TAP_Main in spin.cpp"; exit 1; }
[[ $code == 6 ]] || { echo "FAILED: tapsim exits with $code, not 6 (a hang)"; exit 1; }
