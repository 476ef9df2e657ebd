#!/usr/bin/env bash
# Runs the PC build and the MIPS build of a crashing test module and compares
# their crash reports: the same signal, exit code and functions, at lines that
# carry the same "frame N" mark in the module's source (the two compilers may
# fault on different lines of one function). Addresses of a stack overflow,
# source folders and a recursion's count differ by design. Where the user
# allows core files, neither build leaves one (the kernel's or qemu's).
# usage: same-crash-report.sh TAPSIM SOURCE_DIR PC_MODULE MIPS_MODULE KEYS [tapsim options...]
set -uo pipefail
tapsim=$1 sources=$2 pc=$3 mips=$4 keys=$5
shift 5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/cwd"

report() {  # report NAME MODULE
  (cd "$work/cwd" && ulimit -c unlimited && "$tapsim" --headless --keys "$keys" "${@:3}" "$2") 2>"$work/$1.raw" >/dev/null
  echo "exit $?" >>"$work/$1.raw"
  # qemu's own word on the signal that ended the board is not the report.
  grep -v '^qemu: uncaught target signal' "$work/$1.raw" >"$work/$1.txt"
  # On the report's line N, "(folder/file.cpp:12)" becomes "(file.cpp: frame N-1)"
  # when line 12 carries that mark.
  SOURCES=$sources perl -pe '
    s{\(([^()]*/)?([^/()]+):(\d+)\)}{
      my ($file, $line, $want) = ($2, $3, "frame " . ($. - 1));
      my $mark = "line $line, not marked $want";
      if (open my $in, "<", "$ENV{SOURCES}/$file") { my @text = <$in>; $mark = $want if ($text[$line - 1] // "") =~ m{//.*\b\Q$want\E\b}; }
      "($file: $mark)"
    }ge;
    s/at address 0x[0-9a-f]+, a stack overflow/at address ADDRESS, a stack overflow/;
    # A hang is caught at one moment: in a loop that calls the platform, on
    # either side of the call, so "outside the module, called from F" and
    # "in F" name the same place.
    s/^(tapsim: the module has not given .*?), outside the module, called from /$1, in /;
    s/, (at least )?\d+ times$/, N times/' "$work/$1.txt" >"$work/$1.normal"
}
report pc "$pc" "$@"
report mips "$mips" "$@"
cat "$work/mips.txt"
if ! grep -qE '^tapsim: the module (crashed|stopped|has not).* \(.*:' "$work/mips.txt"; then
  echo "the MIPS build's report names no function and line"
  exit 1
fi
if [ -n "$(ls -A "$work/cwd")" ]; then
  echo "the crashes left files behind: $(ls "$work/cwd")"
  exit 1
fi
if ! diff -u "$work/pc.normal" "$work/mips.normal"; then
  echo "the crash reports differ"
  exit 1
fi
