#!/usr/bin/env bash
# The kit as an author meets it: from the Debian package unpacked with dpkg -x,
# with no source tree in reach, tapsim-new-module makes a module whose two
# builds pass their screen test at once; a changed colour fails it, naming the
# screen and writing the pictures; rewriting the golden passes it again. The
# module may use the receiver's C library, and a C program of the receiver
# build runs under ctest on it.
# usage: check-kit.sh CPACK BUILD
set -uo pipefail
cpack=$1 build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset TAPSIM_MIPSEL_DIR TAP_UPDATE_GOLDEN
fail() { echo "$*"; exit 1; }
quietly() { "$@" >"$work/said.txt" 2>&1 || { cat "$work/said.txt"; return 1; }; }

quietly "$cpack" --config "$build/CPackConfig.cmake" -B "$work/package" || fail "cpack failed"
dpkg -x "$work"/package/quarnel_*.deb "$work/root" || fail "dpkg -x failed"
# Only the package's programs come first; the kit must find itself from them.
export PATH=$work/root/usr/bin:$PATH
cd "$work" || exit 1
quietly tapsim-new-module hello || fail "tapsim-new-module failed"
cd hello || exit 1
for preset in pc receiver; do
  quietly cmake --workflow --preset $preset || fail "the new module's $preset workflow failed"
done
[[ -f build/receiver/hello.tap && -f build/receiver/hello.tap.debug ]] ||
  fail "the receiver build made no hello.tap with hello.tap.debug beside it"

sed -i 's/0xFF206040/0xFF40C040/' module.cpp
for preset in pc receiver; do
  cmake --build --preset $preset >/dev/null 2>&1 || fail "the $preset build of the changed module failed"
  ctest --preset $preset >"$work/said.txt" 2>&1 && fail "the $preset screen test passes with a changed colour"
  grep -q "^screen 2: expected frame 2" "$work/said.txt" || { cat "$work/said.txt"; fail "the $preset test does not name screen 2"; }
  diff=$(sed -n 's/^ *diff: *//p' "$work/said.txt")
  [[ -f $diff ]] || { cat "$work/said.txt"; fail "the $preset test names no diff picture that exists"; }
done
TAP_UPDATE_GOLDEN=1 quietly ctest --preset pc || fail "TAP_UPDATE_GOLDEN=1 ctest failed"
for preset in pc receiver; do
  quietly ctest --preset $preset || fail "the $preset screen test fails after the golden was rewritten"
done
# The module may use the receiver's whole C library: both builds link, pass
# the checks and print the same, and the screens stay as they were.
sed -i -e '1i #include <stdio.h>\n#include <string.h>' -e '/KeyTranslate(1, TAP_EventHandler);/a\
  char made[48], copy[48];\
  snprintf(made, sizeof made, "memcpy snprintf strcmp %d", 42);\
  memcpy(copy, made, sizeof made);\
  TAP_Print("%s\\n", strcmp(copy, made) == 0 ? copy : "memcpy lost the text");' module.cpp
for preset in pc receiver; do
  quietly cmake --build --preset $preset || fail "the $preset build of a module using the C library failed"
  quietly ctest --preset $preset || fail "the $preset screen test fails once the module uses the C library"
  tapsim --headless --keys quit build/$preset/hello.tap >"$work/said.txt" 2>&1
  grep -q "^console: memcpy snprintf strcmp 42" "$work/said.txt" || { cat "$work/said.txt"; fail "the $preset build did not print what the C library made"; }
done
cat >>CMakeLists.txt <<'CMAKE'
enable_language(C)
add_executable(formats formats.c)
tap_receiver_program(formats)
add_test(NAME formats COMMAND formats)
set_tests_properties(formats PROPERTIES PASS_REGULAR_EXPRESSION "^memcpy snprintf strcmp 42\n$")
CMAKE
cat >formats.c <<'C'
#include <stdio.h>
#include <string.h>
int main(void) {
  char text[32], copy[32];
  snprintf(text, sizeof text, "memcpy snprintf strcmp %d", 42);
  memcpy(copy, text, sizeof text);
  puts(strcmp(copy, text) == 0 ? copy : "memcpy lost the text");
  return 0;
}
C
quietly cmake --build --preset receiver || fail "a C program does not build for the receiver"
mipsel-linux-gnu-readelf -l build/receiver/formats | grep -q "interpreter: /lib/ld-uClibc.so.0" ||
  fail "the receiver's program is not loaded by the receiver's loader"
quietly mipsisa build/receiver/formats || fail "the receiver's program holds code its processor cannot run"
quietly ctest --preset receiver -R formats || fail "the receiver's C program does not run under ctest"
echo "a new module built and passed its screen test on both builds from the unpacked package"
