#!/usr/bin/env bash
# The main job: builds the Qt 5 plug-in (the build Debian's OBS loads) against the sandbox service on
# 127.0.0.1, starts the sandbox with its donation script, and runs OBS Studio with the plug-in in an
# isolated OBS profile. With a display, sign in from the dock in your own browser; without one, a
# scripted streamer signs in, moderates and saves screenshots in build/demo/screenshots/.
# The sandbox is stopped when OBS ends, and on Ctrl-C.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"

# The base URLs are compiled in: the sandbox must listen where they point.
port=${TIPLARK_DEMO_PORT:-38280}
build="$root/build/demo"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTIPLARK_QT_MAJOR=5 \
  -DTIPLARK_BUILD_TESTS=ON -DAPI_BASE_URL="http://127.0.0.1:$port" -DOAUTH_BASE_URL="http://127.0.0.1:$port/oauth" \
  >/dev/null
cmake --build "$build" --target tiplark-obs-plugin tiplark-sandbox
rm -rf "$build/data" && mkdir -p "$build/data" && cp -r "$root/data" "$build/data/tiplark-obs-plugin"

exec /usr/bin/python3 "$root/scripts/demo.py" --module-dir "$build/src" --data-dir "$build/data" \
  --artifacts "$build/screenshots" --sandbox "$build/sandbox/tiplark-sandbox" --port "$port" "$@"
