#!/usr/bin/env bash
# Makes Debian's source packages fetchable with apt-get source: adds a deb-src entry for each
# Debian deb entry of the machine (same archive, suites and components) where none is there,
# then updates the package lists. Does nothing when a source entry is already present.
set -euo pipefail

apt-cache showsrc dpkg 2> /dev/null | grep -q '^Package: dpkg' && exit 0

as_root=()
[ "$(id -u)" -ne 0 ] && as_root=(sudo)
list=/etc/apt/sources.list.d/kvt40-deb-src

# deb822 files (Debian 12's debian.sources): each Debian stanza again, as deb-src.
stanzas=$(
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] || continue
    case $f in "$list.sources") continue ;; esac
    awk 'BEGIN { RS = ""; ORS = "\n\n" }
         /(^|\n)Types:[^\n]*deb/ && /(^|\n)URIs:[^\n]*debian/ {
           sub(/(^|\n)Types:[^\n]*/, "\nTypes: deb-src"); sub(/^\n/, ""); print }' "$f"
  done
)
# One-line entries (sources.list): each Debian deb line again, as deb-src.
lines=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2> /dev/null |
  sed -n 's/^[[:space:]]*deb\([[:space:]]\+.*debian.*\)$/deb-src\1/p' || true)

if [ -z "$stanzas$lines" ]; then
  echo "deb-src: no Debian deb entry in /etc/apt to take the source entry from" >&2
  exit 1
fi
[ -n "$stanzas" ] && printf '%s\n' "$stanzas" | "${as_root[@]}" tee "$list.sources" > /dev/null
[ -n "$lines" ] && printf '%s\n' "$lines" | "${as_root[@]}" tee "$list.list" > /dev/null
echo "deb-src: added the source entries to $list.*"
"${as_root[@]}" apt-get update -qq
