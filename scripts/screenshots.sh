#!/bin/sh
# Takes the README's pictures of the window: the demo runs under a virtual X server
# (xvfb-run), connects, chooses the sample firmware and programs it, and saves the window
# just before START (docs/screenshots/start.png) and in the middle of the run
# (docs/screenshots/run.png). Arguments go to norvak-flash-demo, e.g.
# --firmware-folder /usr/share/norvak-flash/firmware to show the installed sample's path.
#   NORVAK_PRESET=release   use the release build instead of debug
#   NORVAK_BUILD_DIR=dir    build there instead of the preset's folder
set -eu
cd "$(dirname "$0")/.."

if ! ./scripts/setup-deps.sh; then
    echo "Missing packages could not be installed: run scripts/setup-deps.sh as root." >&2
    exit 1
fi

preset=${NORVAK_PRESET:-debug}
build_dir=${NORVAK_BUILD_DIR:-build/$preset}
cmake --preset "$preset" -B "$build_dir" >/dev/null
cmake --build "$build_dir" --target norvak-flash-demo

out=docs/screenshots
mkdir -p "$out"
rm -f "$out/start.png" "$out/run.png"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# The X platform, not offscreen: the pictures show the window as the desktop draws it.
status=0
xvfb-run --auto-servernum --server-args="-screen 0 1280x1024x24" \
    env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb \
    "$build_dir/tools/demo/norvak-flash-demo" \
    --screenshot-at-start "$out/start.png" --screenshot-during-run "$out/run.png" "$@" \
    >"$log" || status=$?
grep -v "progress: " "$log" || true
if [ "$status" -ne 0 ]; then
    echo "The demo's run ended with status $status." >&2
    exit 1
fi

for picture in "$out/start.png" "$out/run.png"; do
    if [ ! -s "$picture" ]; then
        echo "No picture at $picture." >&2
        exit 1
    fi
done
echo "Wrote $out/start.png and $out/run.png"
