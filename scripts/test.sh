#!/bin/sh
# Installs what is missing, builds, and runs the whole test suite: once plainly and once with
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -eu
cd "$(dirname "$0")/.."
./scripts/setup-deps.sh
for preset in debug asan; do
  echo "=== $preset build ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "=== $preset tests ==="
  ctest --preset "$preset"
done
