#!/usr/bin/env bash
# Runs scripts/release twice, into two folders, with a date in the past, and
# checks that both zips are byte-identical and hold the stripped module built
# on that date, the README and checksums that match.
# usage: check-release.sh RELEASE VERSION
set -uo pipefail
release=$1 version=$2
epoch=1700000000
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
zip=Quarnel-$version.zip
failed=0
fail() { echo "$*"; failed=1; }

for copy in first second; do
  SOURCE_DATE_EPOCH=$epoch "$release" "$work/$copy" >"$work/$copy.log" 2>&1 ||
    { cat "$work/$copy.log"; echo "release failed"; exit 1; }
done
cmp "$work/first/$zip" "$work/second/$zip" || fail "two releases of the same commit differ"

# Name, date and permissions of each entry, in the archive's order.
listed=$(python3 -c 'import sys, zipfile
for e in zipfile.ZipFile(sys.argv[1]).infolist():
    print(e.filename, "%04d-%02d-%02d %02d:%02d:%02d" % e.date_time, oct(e.external_attr >> 16))' "$work/first/$zip")
stamp=$(date -u -d "@$epoch" '+%Y-%m-%d %H:%M:%S')
expected=$(printf "Quarnel-$version/%s $stamp 0o100644\n" Quarnel.tap README.txt SHA256SUMS)
[[ $listed == "$expected" ]] || fail "the zip holds \"$listed\", not \"$expected\""

mkdir "$work/unpacked"
(cd "$work/unpacked" && unzip -q "../first/$zip") || fail "the zip does not unpack"
folder=$work/unpacked/Quarnel-$version
(cd "$folder" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the files"
sections=$(LC_ALL=C readelf -SW "$folder/Quarnel.tap")
grep -q '\.gnu_debuglink' <<<"$sections" || fail "the module is not the stripped one"
grep -qE '\.symtab|\.debug_' <<<"$sections" && fail "the module carries symbols or debug information"
date=$(LC_ALL=C date -u -d "@$epoch" '+%b %e %Y')
LC_ALL=C grep -aqF "$date" "$folder/Quarnel.tap" || fail "the module's date record is not \"$date\""
grep -q "Version $version" "$folder/README.txt" || fail "the README does not name version $version"
grep -q '/ProgramFiles' "$folder/README.txt" || fail "the README does not say where the module goes"

[[ $failed == 0 ]] && echo "$zip: two releases identical ($(stat -c %s "$work/first/$zip") bytes), contents checked"
exit $failed
