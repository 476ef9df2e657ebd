#!/usr/bin/env bash
# Checks that what the MIPS run loads is built for MIPS32 release 1, which is
# all a 4Kc runs: the ELF header of each file says so, and the byte-swap
# helper linked into the C library and into a program is ours, not Debian's
# release 2 one (a wsbh, which traps on a 4Kc).
# usage: release1-binaries.sh RECEIVER_BUILD
set -uo pipefail
receiver=$1
files=(sysroot/lib/ld-uClibc.so.0 sysroot/lib/libc.so.0 sysroot/tapapi/TMS/libtap.so
       sim/tapsim-board tests/mips/uclibc_smoke app/Quarnel.tap)
with_byte_swap=(sysroot/lib/libc.so.0 tests/mips/uclibc_smoke)
failed=0
for part in "${files[@]}"; do
  isa=$(mipsel-linux-gnu-readelf -h "$receiver/$part" | sed -nE 's/.*Flags:.*, (mips[0-9a-z]+).*/\1/p')
  [[ $isa == mips32 ]] || { echo "$part is marked ${isa:-with no processor}, not mips32"; failed=1; }
done
for part in "${with_byte_swap[@]}"; do
  code=$(mipsel-linux-gnu-objdump -d --disassemble=__bswapsi2 "$receiver/$part" | grep -E '^ +[0-9a-f]+:')
  if [[ -z $code ]]; then
    echo "$part has no __bswapsi2 to check"
    failed=1
  elif grep -qw wsbh <<<"$code"; then
    echo "$part: __bswapsi2 uses wsbh (MIPS32 release 2)"
    failed=1
  fi
done
[[ $failed == 0 ]] && echo "${#files[@]} files for MIPS32 release 1; __bswapsi2 without wsbh in ${#with_byte_swap[@]}"
exit $failed
