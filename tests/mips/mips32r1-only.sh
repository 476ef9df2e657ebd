#!/usr/bin/env bash
# Checks with mipsisa that files of the receiver build hold only code a
# MIPS32 release 1 processor without FPU runs (qemu's 4Kc, the receiver's kind).
# Each PATH is relative to the receiver build: a file, a folder (every file in
# it), or "A|B" for the first of A and B that exists. A file reached twice
# through links is checked once.
# usage: mips32r1-only.sh MIPSISA PATH...   (TAPSIM_MIPSEL_DIR names the receiver build)
set -uo pipefail
mipsisa=$1
shift
receiver=$TAPSIM_MIPSEL_DIR
files=()
declare -A seen
add() {
  local real
  real=$(readlink -f "$1")
  [[ -n ${seen[$real]:-} ]] && return
  seen[$real]=1
  files+=("$1")
}
for path in "$@"; do
  found=""
  IFS='|' read -r -a choices <<<"$path"
  for choice in "${choices[@]}"; do
    [[ -e $receiver/$choice ]] && { found=$receiver/$choice; break; }
  done
  if [[ -z $found ]]; then
    echo "the receiver build has no ${path//|/ nor } in $receiver"
    exit 1
  elif [[ -d $found ]]; then
    for file in "$found"/*; do [[ -f $file ]] && add "$file"; done
  else
    add "$found"
  fi
done
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$mipsisa" "${files[@]}" >"$out"
code=$?
# Per file: how many, by mnemonic, most frequent first; then the first few in full.
of() { awk -v prefix="$1: " 'index($0, prefix) == 1' "$out"; }
for file in "${files[@]}"; do
  count=$(of "$file" | wc -l)
  if [[ $count == 0 ]]; then
    echo "clean: $file"
  else
    echo "$count instructions a 4Kc cannot run in $file:" \
      "$(of "$file" | awk '{print $2}' | sort | uniq -c | sort -rn | head -8 | awk '{print $1 " " $2}' | paste -sd, | sed 's/,/, /g')"
  fi
done
if [[ $code != 0 ]]; then
  echo "the first of them in each file:"
  for file in "${files[@]}"; do of "$file" | head -3; done
  exit 1
fi
