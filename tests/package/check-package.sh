#!/usr/bin/env bash
# Makes the Debian package of a build with cpack, unpacks it with dpkg -x and
# runs what it holds from another folder: the packaged tapsim must show the
# reviewed screens for the packaged receiver Quarnel.tap (under qemu, on the
# packaged mipsel board and sysroot) and for the PC one, and must look for its
# boards in its own installation, never in the build tree.
# usage: check-package.sh CPACK BUILD GOLDEN_CHECK PAGES KEYS
set -uo pipefail
cpack=$1 build=$2 check=$3 pages=$4 keys=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The receiver build named to the MIPS tests; the packaged tapsim brings its own.
unset TAPSIM_MIPSEL_DIR
failed=0
fail() { echo "$*"; failed=1; }

"$cpack" --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; echo "cpack failed"; exit 1; }
debs=("$work"/package/quarnel_*.deb)
[[ -f ${debs[0]} ]] || { cat "$work/cpack.log"; echo "cpack made no quarnel_*.deb"; exit 1; }
depends=$(dpkg-deb -f "${debs[0]}" Depends)
names=$(sed -E 's/ \([^)]*\)//g; s/, */\n/g' <<<"$depends")
for needed in qemu-user libsdl2-2.0-0 libpng16-16 libelf1 libcapstone4 zlib1g libc6; do
  grep -qx "$needed" <<<"$names" || fail "the package does not depend on $needed: $depends"
done
dpkg -x "${debs[0]}" "$work/root" || { echo "dpkg -x failed"; exit 1; }
usr=$work/root/usr

mkdir "$work/elsewhere"
cd "$work/elsewhere" || exit 1
for build in receiver pc; do
  "$check" "$usr/bin/tapsim" "$usr/share/quarnel/$build/Quarnel.tap" "$pages" "$keys" ||
    fail "the packaged tapsim does not show the reviewed screens for the packaged $build Quarnel.tap"
done
"$usr/bin/tapcheck" "$usr/share/quarnel/receiver/Quarnel.tap" >/dev/null ||
  fail "the packaged tapcheck refuses the packaged receiver Quarnel.tap"

mv "$usr/libexec/quarnel/mipsel" "$work/mipsel-moved"
said=$("$usr/bin/tapsim" --headless --keys quit "$usr/share/quarnel/receiver/Quarnel.tap" 2>&1)
[[ $said == *"no mipsel board in $usr/libexec/quarnel/mipsel "* ]] ||
  fail "without its receiver part the packaged tapsim does not name its own folder: $said"

mv "$usr/libexec/quarnel/tapsim-board" "$work/board-moved"
said=$("$usr/bin/tapsim" --headless --keys quit "$usr/share/quarnel/pc/Quarnel.tap" 2>&1)
[[ $? == 8 && $said == *"no PC board at $usr/libexec/quarnel/tapsim-board "* ]] ||
  fail "without its PC board the packaged tapsim does not name its own folder: $said"

[[ $failed == 0 ]] && echo "$(basename "${debs[0]}"): $(stat -c %s "${debs[0]}") bytes, Depends: $depends; both builds show the reviewed screens"
exit $failed
