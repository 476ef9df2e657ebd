#!/usr/bin/env bash
# Runs the PC build and the MIPS build of a module through the same key script
# and compares what they did: every synced screen byte for byte (checksums and
# lossless snapshots), every platform call with its arguments and result, the
# summary line for line, and the exit code.
# usage: same-as-pc.sh TAPSIM PC_MODULE MIPS_MODULE KEYS [tapsim options...]
set -uo pipefail
tapsim=$1 pc=$2 mips=$3 keys=$4
shift 4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run() {  # run NAME MODULE [tapsim options...]
  local module=$2 out=$work/$1
  shift 2
  mkdir "$out"
  "$tapsim" --headless --keys "$keys" --checksums "$out/sums.txt" --snapshots "$out/shots" \
    --trace "$out/trace.json" "$@" "$module" >"$out/out.txt" 2>"$out/err.txt"
  echo $? >"$out/code"
  # Addresses differ between the machines. Which call got which block or file
  # from the platform must not; where the module keeps its own buffers may.
  perl -e 'my @lines = <>; my (%given, $n);
    for (@lines) { $given{$1} //= "block" . ++$n if /"result":"(0x[0-9a-f]+)"/ }
    s{"(0x[0-9a-f]+)"}{$given{$1} // "buffer"}ge for @lines; print @lines' "$out/trace.json" >"$out/calls.txt"
  # The outputs' paths differ by design, and the build date does when the builds were made on different days.
  sed -E -e "s|$out|OUT|g" -e 's/, built [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4}//' "$out/out.txt" >"$out/summary.txt"
}
run pc "$pc" "$@"
run mips "$mips" "$@"

failed=0
differ() { echo "$*"; failed=1; }
cat "$work/mips/out.txt" "$work/mips/err.txt"
diff -u "$work/pc/code" "$work/mips/code" || differ "the exit codes differ"
[[ $(cat "$work/pc/code") == 0 ]] || differ "the PC build failed: $(cat "$work/pc/err.txt")"
[[ -s $work/pc/sums.txt ]] || differ "the PC build synced no screen"
diff -u "$work/pc/summary.txt" "$work/mips/summary.txt" || differ "the summaries differ"
diff -u "$work/pc/sums.txt" "$work/mips/sums.txt" || differ "the screen checksums differ"
[[ -s $work/pc/calls.txt ]] || differ "the PC build traced no platform call"
diff -u "$work/pc/calls.txt" "$work/mips/calls.txt" | head -n 40 || true
cmp -s "$work/pc/calls.txt" "$work/mips/calls.txt" || differ "the platform calls differ"
diff -r "$work/pc/shots" "$work/mips/shots" || differ "the screen snapshots differ"
diff -u "$work/pc/err.txt" "$work/mips/err.txt" || differ "the messages differ"
[[ $failed == 0 ]] &&
  echo "$(wc -l <"$work/pc/sums.txt") screens, $(wc -l <"$work/pc/calls.txt") platform calls and the summary identical"
exit $failed
