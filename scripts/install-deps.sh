#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing the plug-in need, and the
# remote-control end-to-end test's client (obs-websocket-js, from npm) when it is missing.
# Idempotent: installs only what is missing and says nothing when everything is present.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config ccache clang libclang-rt-14-dev
  libobs-dev qtbase5-dev qt6-base-dev libcurl4-openssl-dev libcpp-httplib-dev
  libssl-dev
  # the sandbox over TLS: a test CA made at test time, trusted through the system bundle
  openssl ca-certificates util-linux
  # the real OBS, headless
  obs-studio obs-plugins xvfb xauth libgl1-mesa-dri libglx-mesa0 libegl-mesa0 x11-apps imagemagick xdotool
  # a donor's emoji in the screenshots as on a desktop
  fonts-noto-color-emoji
  # driving OBS's window through the accessibility tree, a browser for the sign-in, a command-line client
  python3 python3-gi gir1.2-atspi-2.0 at-spi2-core dbus-daemon chromium curl iproute2
  # a remote-control client (obs-websocket-js, from npm), the chime heard through a null sink, labels read by OCR
  nodejs pulseaudio sox tesseract-ocr
  # the soak's plot of memory over time (scripts/soak.sh)
  gnuplot-nox
  # Debian root file systems for the other OBS hosts (scripts/debian-root.sh), building and checking .deb files
  mmdebstrap dpkg-dev lintian
  # the per-user module names libobs as every OBS from 30 on has it (scripts/package.sh portable)
  patchelf
  # the format stage (scripts/format.sh): OBS's .clang-format needs a newer clang-format than Debian 12's 14
  clang-format-19 black
)

# npm comes with Node.js where that is NodeSource's build (which Debian's npm cannot be installed beside).
command -v npm >/dev/null || packages+=(npm)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The client the remote-control end-to-end test drives OBS with (the tests themselves never download).
# Without it only that test fails, so a failed install is said and not fatal.
client=$(cd "$(dirname "$0")/../tests/e2e/websocket-client" && pwd)
if [ ! -d "$client/node_modules/obs-websocket-js" ]; then
  echo "Installing the remote-control test's client into $client/node_modules"
  npm ci --prefix "$client" --no-audit --no-fund --loglevel=error >/dev/null ||
    echo "the remote-control test's client could not be installed from the npm registry: its test will fail"
fi
