#!/usr/bin/env bash
# Runs the mipsel receiver under qemu with the loader's debug output and checks
# what the sysroot gave the module: libc.so.0 is the C library already loaded
# (no second copy), libdl.so.0 the cross one, and no link-time stand-in.
# usage: sysroot-libraries.sh   (TAPSIM_MIPSEL_DIR names the receiver build)
set -uo pipefail
receiver=$TAPSIM_MIPSEL_DIR
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/disk/ProgramFiles/Settings"
printf '0x10017\n' >"$work/keys"  # exit, on a model without translation
qemu-mipsel -E LD_DEBUG=libs:files -L "$receiver/sysroot" "$receiver/sim/tapsim-run" --key-fd 3 --frame-fd 4 \
  --model 22010 --disk "$work/disk" "$receiver/app/Quarnel.tap" 3<"$work/keys" 4>/dev/null >"$work/out" 2>&1
code=$?
failed=0
expect() {  # expect yes|no PATTERN WHY
  if grep -qE "$2" "$work/out"; then found=yes; else found=no; fi
  [[ $found == "$1" ]] || { echo "$3"; failed=1; }
}
[[ $code == 0 ]] || { echo "the receiver exited with $code"; failed=1; }
expect yes '^module result: 0' "the module did not run to its end"
expect yes 'file=libc\.so\.0 \[0\];  needed by .*Quarnel\.tap' "the module did not ask for libc.so.0"
expect no 'file=libc\.so\.0 \[0\];  generating link map' "libc.so.0 was loaded as a second C library"
expect yes 'trying file=/lib/libdl\.so\.0' "libdl.so.0 was not looked up in the sysroot's lib"
expect no 'link-standins|standin' "a link-time stand-in was loaded"
expect no 'trying file=/(usr/)?lib/x86_64' "the PC's libraries were searched"
if [[ $failed != 0 ]]; then
  grep -vE '^ *[0-9]+:\s*$' "$work/out" | head -80
  exit 1
fi
echo "libc.so.0 is the loaded C library, libdl.so.0 the cross one, no stand-in"
