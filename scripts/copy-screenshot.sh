#!/usr/bin/env bash
# Copies the README's picture from the end-to-end tests' screenshots (build/e2e-screenshots/, written by
# scripts/test.sh or `ctest --preset qt5 -L e2e`) into docs/images/dock.png, so that it shows the dock as
# the tests last saw it, never a drawing; and the scene with the labels into docs/images/labels.png:
#
#   scripts/copy-screenshot.sh          the signed-in dock in Debian 12's OBS 29, dark theme
#   scripts/copy-screenshot.sh HOST     likewise in HOST's OBS (debian12, debian13 or forky)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
host=${1:-debian12}
# Signed in, with donations and pending messages, on OBS's default (dark) theme.
picture=$root/build/e2e-screenshots/e2e-signed-in.$host.png
[ -s "$picture" ] || {
  echo "no $picture: run the end-to-end tests of $host first" >&2
  exit 1
}
labels=$root/build/e2e-screenshots/e2e-labels.$host.png
[ -s "$labels" ] || {
  echo "no $labels: run the end-to-end tests of $host first" >&2
  exit 1
}
mkdir -p "$root/docs/images"
cp "$picture" "$root/docs/images/dock.png"
cp "$labels" "$root/docs/images/labels.png"
echo "docs/images/dock.png: from $picture; docs/images/labels.png: from $labels"
