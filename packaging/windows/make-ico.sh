#!/usr/bin/env bash
# Writes a Windows icon (.ico) holding the given square PNGs as they are (Vista and later
# read PNG entries): packaging/windows/make-ico.sh OUT.ico a_16.png a_32.png ...
set -euo pipefail
out=$1
shift
le16() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))"; }
le32() { le16 $(($1 & 65535)); le16 $(($1 >> 16 & 65535)); }
{
  le16 0; le16 1; le16 $#
  offset=$((6 + 16 * $#))
  for png in "$@"; do
    # The width sits big-endian at bytes 16..19 of the PNG header; 256 is written as 0.
    width=$((16#$(od -An -tx1 -j16 -N4 "$png" | tr -d ' \n')))
    size=$(stat -c %s "$png")
    printf "\\x$(printf %02x $((width & 255)))\\x$(printf %02x $((width & 255)))\\x00\\x00"
    le16 1; le16 32; le32 "$size"; le32 "$offset"
    offset=$((offset + size))
  done
  cat "$@"
} > "$out.tmp"
mv "$out.tmp" "$out"
