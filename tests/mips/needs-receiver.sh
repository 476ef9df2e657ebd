#!/usr/bin/env bash
# Runs a test command against the receiver build in DIR. Without that build the
# test is skipped (exit 77), saying which command makes it; with
# QUARNEL_REQUIRE_RECEIVER=1, as scripts/test sets, it fails instead.
# usage: needs-receiver.sh DIR COMMAND [ARGS...]
set -euo pipefail
receiver=$1
shift
for part in sim/tapsim-board sysroot/tapapi/TMS/libtap.so sysroot/lib/libc.so.0 app/Quarnel.tap \
            tests/mips/calls_missing_entry.tap tests/mips/uclibc_smoke; do
  if [[ ! -e $receiver/$part ]]; then
    echo "the receiver build has no $part in $receiver" \
      "(build the receiver preset first: cmake --preset receiver && cmake --build --preset receiver)"
    [[ ${QUARNEL_REQUIRE_RECEIVER:-} == 1 ]] && exit 1
    echo "skipped: this test needs the receiver build"
    exit 77
  fi
done
if ! command -v qemu-mipsel >/dev/null; then
  echo "qemu-mipsel is not installed (scripts/install-deps installs qemu-user)"
  exit 1
fi
TAPSIM_MIPSEL_DIR=$receiver exec "$@"
