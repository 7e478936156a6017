#!/usr/bin/env bash
# The main job: builds the plug-in (in the tree the tests use), starts the sandbox service on 127.0.0.1 with
# its donation script, and runs OBS Studio with the plug-in in an isolated OBS profile, pointed at the
# sandbox through its environment override. With a display, sign in from the dock in your own browser;
# without one, a scripted streamer signs in, moderates and saves screenshots in build/demo/screenshots/.
# The sandbox is stopped when OBS ends, and on Ctrl-C.
#
#   scripts/run.sh                   this machine's OBS (Debian 12's OBS 29: the Qt 5 build)
#   scripts/run.sh --host debian13   Debian 13's OBS 30 (the Qt 6 build) inside a Debian 13 root file
#                                    system (scripts/debian-root.sh; needs root), always headless;
#                                    screenshots in build/demo-debian13/screenshots/
#   scripts/run.sh --host forky      Debian forky's OBS 32 (the Qt 6 build) likewise, inside a forky
#                                    root; screenshots in build/demo-forky/screenshots/
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"

# host, preset and in_root from --host.
source "$root/scripts/obs-host.sh"
build="$root/build/$preset"
demo="$root/build/demo${in_root:+-$host}"

"${in_root[@]}" env -C "$root" cmake --preset "$preset" >/dev/null
"${in_root[@]}" env -C "$root" cmake --build --preset "$preset" --target tiplark-obs-plugin tiplark-sandbox
rm -rf "$demo/data" && mkdir -p "$demo/data" && cp -r "$root/data" "$demo/data/tiplark-obs-plugin"

exec "${in_root[@]}" env PYTHONPATH="$root" /usr/bin/python3 "$root/scripts/demo.py" --host "$host" \
  --module-dir "$build/src" --data-dir "$demo/data" --artifacts "$demo/screenshots" \
  --sandbox "$build/sandbox/tiplark-sandbox" --port "${TIPLARK_DEMO_PORT:-0}" "$@"
