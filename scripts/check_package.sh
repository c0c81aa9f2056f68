#!/usr/bin/env bash
# check_package.sh [DIR | --from DIR]: builds the .deb (scripts/package.sh
# with the same arguments) and checks it as Debian and the desktop would:
# unpacked into a temporary root it holds every file, both programs run from
# there, lintian finds no error, the desktop entry, the AppStream metainfo and
# the user unit validate, and the man pages render without a warning and name
# every option of --help.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
app_id=io.github.quorvel.Zapfer

deb=$("$root/scripts/package.sh" "$@")
echo "== checking $deb"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

version=$(dpkg-deb -f "$deb" Version)
[[ $(basename "$deb") == "zapfer_${version}_$(dpkg --print-architecture).deb" ]] ||
    fail "package file name $(basename "$deb")"
dpkg-deb -x "$deb" "$work/root"
r=$work/root

for file in \
    usr/bin/zapfer usr/bin/zapfer-cli \
    "usr/share/applications/$app_id.desktop" \
    "usr/share/metainfo/$app_id.metainfo.xml" \
    usr/share/icons/hicolor/scalable/apps/zapfer.svg \
    usr/share/icons/hicolor/48x48/apps/zapfer.png \
    usr/share/icons/hicolor/128x128/apps/zapfer.png \
    usr/share/zapfer/help/index.html \
    usr/share/zapfer/translations/zapfer_de.qm \
    usr/share/man/man1/zapfer.1.gz usr/share/man/man1/zapfer-cli.1.gz \
    usr/share/bash-completion/completions/zapfer-cli \
    usr/lib/systemd/user/zapfer-receive.service \
    usr/share/doc/zapfer/copyright usr/share/doc/zapfer/changelog.gz; do
    [[ -f $r/$file && -s $r/$file ]] || fail "missing /$file"
done
for size in 48 128; do
    file -b "$r/usr/share/icons/hicolor/${size}x$size/apps/zapfer.png" |
        grep -q "PNG image data, $size x $size" || fail "the $size px icon is not $size x $size"
done

# Depends comes from the binaries: the C library and Qt at least.
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libqt6widgets6 libqt6core6; do
    grep -qw "$library" <<<"$depends" || fail "Depends lacks $library: $depends"
done

# Both programs run from the unpacked root, the window without a display.
[[ $("$r/usr/bin/zapfer-cli" --version) == "zapfer-cli $version" ]] ||
    fail "zapfer-cli --version: $("$r/usr/bin/zapfer-cli" --version 2>&1)"
[[ $(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$r/usr/bin/zapfer" --version) == "zapfer $version" ]] ||
    fail "zapfer --version without a display"

# The newest release of the metainfo is this version.
newest=$(grep -o '<release version="[^"]*"' "$r/usr/share/metainfo/$app_id.metainfo.xml" | head -1 | cut -d'"' -f2)
[[ $newest == "$version" ]] || fail "metainfo's newest release is $newest, the package is $version"
changelog=$(zcat "$r/usr/share/doc/zapfer/changelog.gz" | head -1)
[[ $changelog == "zapfer ($version) "* ]] || fail "changelog starts with: $changelog"

echo "== lintian"
# Errors fail; warnings are shown.
lintian --fail-on error --display-level ">=warning" --tag-display-limit 0 "$deb" ||
    fail "lintian reports errors"

echo "== desktop-file-validate, appstreamcli"
out=$(desktop-file-validate "$r/usr/share/applications/$app_id.desktop" 2>&1) &&
    [[ -z $out ]] || fail "desktop-file-validate: $out"
appstreamcli validate --no-net --explain "$r/usr/share/metainfo/$app_id.metainfo.xml" ||
    fail "appstreamcli validate"
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" \
    "$r/usr/share/metainfo/$app_id.metainfo.xml" || fail "metainfo does not launch $app_id.desktop"

echo "== systemd-analyze verify"
# The unit as installed, its program and man page taken from the unpacked root.
unit=$work/zapfer-receive.service
sed "s|/usr/bin/zapfer-cli|$r/usr/bin/zapfer-cli|" "$r/usr/lib/systemd/user/zapfer-receive.service" >"$unit"
out=$(MANPATH=$r/usr/share/man systemd-analyze verify "$unit" 2>&1) && [[ -z $out ]] ||
    fail "systemd-analyze verify: $out"

echo "== man pages"
for page in zapfer zapfer-cli; do
    text=$work/$page.txt
    # --warnings passes groff's warnings on; there must be none.
    LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$r/usr/share/man/man1/$page.1.gz" \
        >"$text" 2>"$work/$page.err" || fail "man -l $page.1.gz failed"
    if [[ -s $work/$page.err ]]; then
        fail "man -l $page.1.gz: $(cat "$work/$page.err")"
    fi
    # Every option --help lists is in the page (help2man wrote it from --help).
    for option in $("$r/usr/bin/$page" --help | grep -oE '^ +--[a-z-]+' | tr -d ' '); do
        grep -qe "$option" "$text" || fail "$page(1) lacks $option"
    done
    for section in NAME SYNOPSIS DESCRIPTION FILES NETWORK "SEE ALSO"; do
        grep -q "^$section" "$text" || fail "$page(1) lacks the section $section"
    done
done
for status in "Exit status" "Zapfer.conf" ".zapfer-part-" "1756" "1755" "zapfer-receive"; do
    grep -qF "$status" "$work/zapfer-cli.txt" || fail "zapfer-cli(1) does not mention $status"
done

if ((failures > 0)); then
    echo "package check: $failures failure(s)" >&2
    exit 1
fi
echo "package check passed: $(basename "$deb")"
