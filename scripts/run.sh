#!/usr/bin/env bash
# The main job: builds the Qt 5 plug-in (the build Debian's OBS loads, in the tree the tests use), starts
# the sandbox service on 127.0.0.1 with its donation script, and runs OBS Studio with the plug-in in an
# isolated OBS profile, pointed at the sandbox through its environment override. With a display, sign in
# from the dock in your own browser; without one, a scripted streamer signs in, moderates and saves
# screenshots in build/demo/screenshots/. The sandbox is stopped when OBS ends, and on Ctrl-C.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"

build="$root/build/qt5"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTIPLARK_QT_MAJOR=5 -DTIPLARK_BUILD_TESTS=ON \
  >/dev/null
cmake --build "$build" --target tiplark-obs-plugin tiplark-sandbox
demo="$root/build/demo"
rm -rf "$demo/data" && mkdir -p "$demo/data" && cp -r "$root/data" "$demo/data/tiplark-obs-plugin"

PYTHONPATH="$root" exec /usr/bin/python3 "$root/scripts/demo.py" --module-dir "$build/src" --data-dir "$demo/data" \
  --artifacts "$demo/screenshots" --sandbox "$build/sandbox/tiplark-sandbox" --port "${TIPLARK_DEMO_PORT:-0}" "$@"
