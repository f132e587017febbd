#!/bin/sh
# Installs what is missing, builds, and runs the whole test suite: once plainly and once with
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -eu
cd "$(dirname "$0")/.."
./scripts/setup-deps.sh
for preset in debug asan; do
  echo "=== $preset: configure, build, test ==="
  cmake --workflow --preset "$preset"
done
