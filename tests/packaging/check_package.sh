#!/usr/bin/env bash
# Checks the Debian package: its contents, the desktop entry, lintian, and the programs
# run from the unpacked package.   tests/packaging/check_package.sh dist/kvt40_*.deb
set -euo pipefail
deb=$1
fail() { echo "package check: $*" >&2; exit 1; }

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/kvt40 ./usr/bin/kvt40ctl ./usr/bin/kvt40-sim \
         ./usr/share/applications/kvt40.desktop \
         ./usr/share/icons/hicolor/48x48/apps/kvt40.png ./usr/share/icons/hicolor/256x256/apps/kvt40.png \
         ./usr/share/icons/hicolor/scalable/apps/kvt40.svg \
         ./usr/share/man/man1/kvt40.1.gz ./usr/share/man/man1/kvt40ctl.1.gz ./usr/share/man/man1/kvt40-sim.1.gz \
         ./usr/share/bash-completion/completions/kvt40ctl ./usr/share/doc/kvt40/copyright; do
  grep -qxF "$f" <<<"$contents" || fail "missing $f"
done
deps=$(dpkg-deb -f "$deb" Depends)
for d in libqt6widgets6 libc6 qt6-qpa-plugins; do grep -q "$d" <<<"$deps" || fail "Depends lacks $d: $deps"; done
grep -q fonts-wqy-microhei <<<"$(dpkg-deb -f "$deb" Recommends)" || fail "the CJK font is not recommended"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
dpkg -x "$deb" "$tmp"
desktop-file-validate "$tmp/usr/share/applications/kvt40.desktop" || fail "desktop entry rejected"
# lintian's errors fail the check; its warnings and notes are reported only.
lintian --no-tag-display-limit "$deb" 2>/dev/null | tee "$tmp/lintian.txt" || true
! grep -q '^E:' "$tmp/lintian.txt" || fail "lintian errors"

zcat "$tmp/usr/share/man/man1/kvt40ctl.1.gz" | grep -q 'dialout' || fail "kvt40ctl.1 says nothing of dialout"
for cmd in ports probe read measure; do
  zcat "$tmp/usr/share/man/man1/kvt40ctl.1.gz" | grep -q "fB$cmd" || fail "kvt40ctl.1 lacks $cmd"
  grep -qw "$cmd" "$tmp/usr/share/bash-completion/completions/kvt40ctl" || fail "completion lacks $cmd"
done
bash -n "$tmp/usr/share/bash-completion/completions/kvt40ctl" || fail "completion is not valid bash"

(cd "$tmp" && env -u DISPLAY -u WAYLAND_DISPLAY ./usr/bin/kvt40 --help | grep -q -- '--sim') || fail "kvt40 --help"
lines=$(cd "$tmp" && ./usr/bin/kvt40ctl --sim measure | wc -l)
[ "$lines" -eq 33 ] || fail "kvt40ctl --sim measure printed $lines lines"
echo "package check: $(basename "$deb") ok"
