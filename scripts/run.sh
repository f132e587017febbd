#!/bin/sh
# Builds the program and starts its demo: the real window with a simulated device behind
# port 4 and the sample firmware beside it. With a display the window opens; without one
# the demo programs the sample firmware unattended and exits with the result (0 only on
# "PROGRAMMED"). Arguments go to norvak-flash-demo (see --help); --in-process runs the
# simulated device inside the demo, without a pseudo-terminal, as on Windows.
#   NORVAK_PRESET=release   use the release build instead of debug
#   NORVAK_BUILD_DIR=dir    build there instead of the preset's folder
set -eu
cd "$(dirname "$0")/.."

if ! ./scripts/setup-deps.sh; then
    echo "Missing packages could not be installed: run scripts/setup-deps.sh as root." >&2
    exit 1
fi

preset=${NORVAK_PRESET:-debug}
case "$preset" in
debug | release) ;;
*)
    echo "NORVAK_PRESET must be debug or release, not '$preset'." >&2
    exit 2
    ;;
esac
build_dir=${NORVAK_BUILD_DIR:-build/$preset}

cmake --preset "$preset" -B "$build_dir" >/dev/null
cmake --build "$build_dir" --target norvak-flash norvak-flash-demo
exec "$build_dir/tools/demo/norvak-flash-demo" "$@"
