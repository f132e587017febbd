#!/bin/sh
# Formats every C++ file of ours with .clang-format (which needs clang-format 16 for
# InsertBraces), installing it when it is missing.
#   ./scripts/format.sh          rewrite the files
#   ./scripts/format.sh --check  only report files that differ, and fail then
set -eu
cd "$(dirname "$0")/.."
if ! command -v clang-format-16 >/dev/null 2>&1; then
    apt-get install -y --no-install-recommends clang-format-16
fi
if [ "${1:-}" = "--check" ]; then
    git ls-files '*.cpp' '*.h' | xargs clang-format-16 --dry-run -Werror
else
    git ls-files '*.cpp' '*.h' | xargs clang-format-16 -i
fi
