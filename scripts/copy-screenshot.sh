#!/usr/bin/env bash
# Copies the README's pictures from the end-to-end tests' screenshots (build/e2e-screenshots/, written by
# scripts/test.sh or `ctest --preset qt5 -L e2e`) into docs/images/, so that they show what the tests last
# saw, never a drawing: dock.png, the dock alone, close enough to read; obs-window.png, a small picture of
# the whole window around it; and labels.png, a scene with the labels.
#
#   scripts/copy-screenshot.sh          signed in, in Debian 12's OBS 29 at 1600×900, dark theme
#   scripts/copy-screenshot.sh HOST     likewise in HOST's OBS (debian12, debian13 or forky)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
host=${1:-debian12}
# Signed in, with the update banner, donations and pending messages, on OBS's default (dark) theme.
dock=$root/build/e2e-screenshots/e2e-dock-only-desktop-dark.$host.png
window=$root/build/e2e-screenshots/e2e-dock-desktop-dark.$host.png
labels=$root/build/e2e-screenshots/e2e-labels.$host.png
for picture in "$dock" "$window" "$labels"; do
  [ -s "$picture" ] || {
    echo "no $picture: run the end-to-end tests of $host first" >&2
    exit 1
  }
done
mkdir -p "$root/docs/images"
cp "$dock" "$root/docs/images/dock.png"
cp "$labels" "$root/docs/images/labels.png"
# The window at half its size: where the dock sits, not what it says.
convert "$window" -resize 50% "$root/docs/images/obs-window.png"
echo "docs/images/dock.png: from $dock"
echo "docs/images/obs-window.png: from $window, at half its size"
echo "docs/images/labels.png: from $labels"
