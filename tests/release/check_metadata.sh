#!/usr/bin/env bash
# The files that describe Dorvane to the desktop and to Debian:
#   - the AppStream file passes `appstreamcli validate` (offline) and its
#     newest release is the project's version;
#   - the desktop entry is valid, opens GPX and KML files and passes one;
#   - the Debian changelog's first entry is version-1, the copyright file is DEP-5.
#
#   check_metadata.sh SOURCE_DIR VERSION
set -uo pipefail
src=$1
version=$2
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

metainfo=$src/resources/org.dorvane.Dorvane.metainfo.xml
if command -v appstreamcli >/dev/null; then
    out=$(appstreamcli validate --no-net --explain "$metainfo" 2>&1) || fail "appstreamcli validate: $out"
else
    fail "appstreamcli is missing (package appstream)"
fi
xmllint --noout "$metainfo" || fail "$metainfo is not well-formed"
newest=$(xmllint --xpath 'string(/component/releases/release[1]/@version)' "$metainfo")
[ "$newest" = "$version" ] || fail "newest AppStream release is '$newest', the project is $version"
for lang in "" zh_CN; do
    for what in name summary; do
        if [ -z "$lang" ]; then q="/component/$what[not(@xml:lang)]"; else q="/component/$what[@xml:lang='$lang']"; fi
        [ -n "$(xmllint --xpath "string($q)" "$metainfo")" ] || fail "no $what${lang:+ in $lang}"
    done
done
[ "$(xmllint --xpath 'count(/component/screenshots/screenshot)' "$metainfo")" -ge 1 ] || fail "no screenshot"
for shot in $(xmllint --xpath '/component/screenshots/screenshot/image/text()' "$metainfo"); do
    [ -f "$src/docs/screenshots/$(basename "$shot")" ] || fail "screenshot $shot is not one of docs/screenshots"
done

desktop=$src/resources/dorvane.desktop
if command -v desktop-file-validate >/dev/null; then
    out=$(desktop-file-validate "$desktop" 2>&1)
    [ -z "$out" ] || fail "desktop-file-validate: $out"
fi
mime=$(sed -n 's/^MimeType=//p' "$desktop")
for type in application/gpx+xml application/vnd.google-earth.kml+xml; do
    [[ ";$mime" == *";$type;"* ]] || fail "the desktop entry does not declare $type"
done
grep -Eq '^Exec=dorvane( .*)? %[fF]$' "$desktop" || fail "the desktop entry's Exec passes no file: $(grep ^Exec= "$desktop")"
grep -q '<launchable type="desktop-id">dorvane.desktop</launchable>' "$metainfo" || fail "the AppStream file does not name dorvane.desktop"

changelog=$src/resources/debian/changelog.Debian
head -1 "$changelog" | grep -q "^dorvane ($version-1) " || fail "changelog starts '$(head -1 "$changelog")', not dorvane ($version-1)"
if command -v dpkg-parsechangelog >/dev/null; then
    v=$(dpkg-parsechangelog -l "$changelog" -S Version 2>&1)
    [ "$v" = "$version-1" ] || fail "dpkg-parsechangelog: $v"
fi
head -1 "$src/resources/debian/copyright" | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    || fail "the copyright file is not DEP-5"
for s in postinst postrm; do
    sh -n "$src/resources/debian/$s" || fail "$s does not parse"
    [ -x "$src/resources/debian/$s" ] || fail "$s is not executable"
done

if [ "$failures" -ne 0 ]; then
    echo "check_metadata: $failures failure(s)"
    exit 1
fi
echo "check_metadata: AppStream, desktop entry and Debian files hold"
