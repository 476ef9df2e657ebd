#!/usr/bin/env bash
# Runs tapsim and expects it to refuse before the module runs, with a message
# that contains TEXT.
# usage: expect-refusal.sh TEXT TAPSIM [ARGS...]
set -uo pipefail
text=$1
shift
output=$("$@" 2>&1)
code=$?
echo "$output"
if [[ $code -eq 0 ]]; then
  echo "expected a refusal, but tapsim succeeded"
  exit 1
fi
if [[ $output != *"$text"* ]]; then
  echo "the refusal does not say \"$text\""
  exit 1
fi
if grep -q '^module' <<<"$output"; then
  echo "the module was started before it was refused"
  exit 1
fi
echo "refused as expected (exit $code)"
