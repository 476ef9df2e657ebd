#!/usr/bin/env bash
# Runs the receiver build's uclibc_smoke on a 4Kc with the sysroot, as the
# board will run, and checks what the loader gave it: the module loads and is
# named, this C library keeps an unread dlerror() across a successful dlsym,
# libdl.so.0 is the libc.so.0 already loaded, and nothing outside the sysroot
# (the cross glibc, a link-time stand-in) is loaded.
# usage: uclibc-smoke.sh RECEIVER_BUILD
set -uo pipefail
receiver=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

qemu-mipsel -cpu 4Kc -E LD_DEBUG=detail -L "$receiver/sysroot" "$receiver/tests/mips/uclibc_smoke" \
  "$receiver/app/Quarnel.tap" >"$work/out" 2>"$work/loader"
code=$?
failed=0
expect() {  # expect yes|no FILE PATTERN WHY
  if grep -qE "$3" "$work/$2"; then found=yes; else found=no; fi
  [[ $found == "$1" ]] || { echo "$4"; failed=1; }
}
[[ $code == 0 ]] || { echo "uclibc_smoke exited with $code"; failed=1; }
expect no out '^FAILED' "uclibc_smoke found a fault (above)"
expect yes out '^module: Quarnel V1\.2b$' "the module's name was not read"
expect no out 'pending after a successful dlsym: \(none\)' "an unread dlerror() no longer survives a successful dlsym"
# Every object the loader mapped, by the path it asked for.
grep -oE "file='[^']*';  generating link map" "$work/loader" | sed -E "s/file='(.*)'.*/\1/" | sort >"$work/mapped"
printf '%s\n' /lib//libc.so.0 /tapapi/TMS/libtap.so "$receiver/app/Quarnel.tap" | sort >"$work/wanted"
cmp -s "$work/mapped" "$work/wanted" || { echo "the loader mapped other files:"; diff "$work/wanted" "$work/mapped"; failed=1; }
# Quarnel needs libtap, libdl.so.0 and libc.so.0: the last two are one object.
expect yes loader "^ /lib//libc\.so\.0  /lib//libc\.so\.0  /tapapi/TMS/libtap\.so *$" \
  "libdl.so.0 did not resolve to the libc.so.0 already loaded"
if [[ $failed != 0 ]]; then
  cat "$work/out"
  grep -vE '^\s*$|patched|offset=' "$work/loader" | head -60
  exit 1
fi
cat "$work/out"
