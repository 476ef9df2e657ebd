#!/usr/bin/env bash
# Runs a module through a key script in tapsim and compares the checksum of
# every synced screen with the reviewed reference.
# usage: check.sh TAPSIM MODULE REFERENCE KEYS [tapsim options...]
set -euo pipefail
tapsim=$1 module=$2 reference=$3 keys=$4
shift 4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$tapsim" --headless --keys "$keys" --checksums "$work/sums.txt" "$@" "$module" >"$work/out.txt" 2>&1 || {
  cat "$work/out.txt"
  echo "tapsim failed"
  exit 1
}
if ! diff -u "$reference" "$work/sums.txt"; then
  echo "screens differ from $reference (regenerate with scripts/regen-goldens and review)"
  exit 1
fi
