#!/usr/bin/env bash
# Fails (exit 1) when a C++ file under src/ tests/ bench/ fuzz/ differs from .clang-format,
# naming each file and line. CLANG_FORMAT picks the binary (clang-format-14, as Debian 12 ships;
# another version formats some constructs differently).
set -euo pipefail
cd "$(dirname "$0")/.."
clang_format=${CLANG_FORMAT:-clang-format-14}
command -v "$clang_format" > /dev/null || { echo "check-format: $clang_format not found (scripts/setup.sh installs it)" >&2; exit 2; }
mapfile -d '' files < <(find src tests bench fuzz -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)
[ ${#files[@]} -gt 0 ] || { echo "check-format: no sources found" >&2; exit 2; }
if ! "$clang_format" --dry-run --Werror "${files[@]}"; then
  echo "check-format: files differ from .clang-format; run $clang_format -i on them" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files as .clang-format wants them"
