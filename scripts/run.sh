#!/usr/bin/env bash
# The main job: builds the Qt 5 plug-in (the build Debian's OBS loads) and runs OBS Studio with it,
# in an isolated OBS profile. Without a display it runs headless and saves screenshots.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"

build="$root/build/demo"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTIPLARK_QT_MAJOR=5 \
  -DTIPLARK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build"
rm -rf "$build/data" && mkdir -p "$build/data" && cp -r "$root/data" "$build/data/tiplark-obs-plugin"

exec /usr/bin/python3 "$root/scripts/demo.py" --module-dir "$build/src" --data-dir "$build/data" \
  --artifacts "$build/screenshots" "$@"
