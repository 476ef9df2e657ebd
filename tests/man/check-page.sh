#!/usr/bin/env bash
# Checks that TOOL --version says "TOOL VERSION", that --help lists --version,
# and that the rendered manual page names the tool and its version and holds
# every option that --help lists.
# usage: check-page.sh TOOL PAGE VERSION
set -uo pipefail
tool=$1 page=$2 version=$3
name=$(basename "$tool")
failed=0
fail() { echo "$name: $*"; failed=1; }

said=$("$tool" --version) || fail "--version exits with $?"
[[ $said == "$name $version" ]] || fail "--version says \"$said\", not \"$name $version\""
help=$("$tool" --help) || fail "--help exits with $?"
options=$(grep -oE -- '--[a-z][a-z0-9-]*' <<<"$help" | sort -u)
grep -qx -- --version <<<"$options" || fail "--help does not list --version"

[[ -s $page ]] || { fail "no manual page at $page"; exit 1; }
# Plain ASCII, wide enough that no option is split across lines.
rendered=$(LC_ALL=C MANWIDTH=200 MANPAGER=cat man -l "$page" 2>&1 | col -b) || fail "man -l $page failed"
grep -qE "^NAME" <<<"$rendered" || fail "the page has no NAME section"
grep -qE "^ +$name - " <<<"$rendered" || fail "the NAME section does not name $name"
grep -qF "$name $version" <<<"$rendered" || fail "the page does not carry version $version"
count=0
while read -r option; do
  count=$((count + 1))
  grep -qE -- "(^|[^a-z-])$option([^a-z0-9-]|$)" <<<"$rendered" || fail "the page lacks $option"
done <<<"$options"
[[ $failed == 0 ]] && echo "$name: --version, and $count options of --help all in the page"
exit $failed
