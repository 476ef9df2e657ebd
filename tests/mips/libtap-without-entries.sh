#!/usr/bin/env bash
# A receiver build whose sysroot carries a libtap that defines no entry word
# at all: a MIPS module must be refused, naming the first word it needs.
# usage: libtap-without-entries.sh EXPECT_REFUSAL TAPSIM MODULE
set -euo pipefail
refused=$1 tapsim=$2 module=$3
real=$(readlink -f "$TAPSIM_MIPSEL_DIR")
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
mkdir -p "$fake/sim" "$fake/sysroot/tapapi/TMS"
ln -s "$real/sim/tapsim-board" "$fake/sim/tapsim-board"
ln -s "$real/sysroot/lib" "$real/sysroot/etc" "$fake/sysroot/"
# Any mipsel shared object without TAP_ symbols does: the loader.
ln -s "$(readlink -f "$real/sysroot/lib/ld-uClibc.so.0")" "$fake/sysroot/tapapi/TMS/libtap.so"
first=$(grep -o 'TAP_[A-Za-z_]*' <<<"$(LC_ALL=C readelf --dyn-syms -W "$module" | awk '$7 == "UND" {print $8}')" | head -n 1)
[[ -n $first ]] || { echo "the module needs no entry word?"; exit 1; }
TAPSIM_MIPSEL_DIR=$fake "$refused" "calls $first, which the simulated platform does not provide" \
  "$tapsim" --headless --keys quit "$module"
