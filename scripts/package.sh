#!/usr/bin/env bash
# Builds the plug-in for streamers, with the production service addresses, into build/packages/:
#
#   scripts/package.sh portable   the archive tiplark-obs-plugin-<version>-linux-x86_64.tar.xz for every
#                                 OBS from 30 on (Qt 6.4 or newer), laid out as OBS's per-user plug-in
#                                 folder: built on this Debian 12 machine against its Qt 6.4 and libobs
#                                 30's headers and libraries, unpacked from Debian 13's packages in the
#                                 trixie-build root's download cache (scripts/debian-root.sh), and checked
#                                 for what it needs from its host (tests/check-module-symbols.cmake)
#   scripts/package.sh debian12   the .deb of the Qt 5 build, for Debian 12's OBS 29 (built on this Debian
#                                 12 machine)
#   scripts/package.sh debian13   the .deb of the Qt 6 build, for Debian 13's OBS 30 (built in a Debian 13
#                                 root file system, scripts/debian-root.sh; needs root)
#   scripts/package.sh forky      the .deb of the Qt 6 build, for Debian forky's OBS 32 (built in a forky
#                                 root; needs root)
#
# A .deb is checked with lintian (errors fail, warnings are printed).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
release=${1:-}
# The root file system each is built in, and the end of its package's version.
case $release in
portable) in_release=() ;;
debian12) in_release=() suffix=deb12 ;;
debian13) in_release=("$root/scripts/debian-root.sh" run trixie-build --) suffix=deb13 ;;
forky) in_release=("$root/scripts/debian-root.sh" run forky-build --) suffix=forky ;;
*)
  echo "usage: $0 portable|debian12|debian13|forky" >&2
  exit 2
  ;;
esac

build="$root/build/package-$release"
mkdir -p "$root/build/packages"
# All of Debian's hardening flags, as Debian's own packages are built (CMake reads no CPPFLAGS).
flags="eval \"\$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)\" &&
  export CFLAGS=\"\$CFLAGS \$CPPFLAGS\" CXXFLAGS=\"\$CXXFLAGS \$CPPFLAGS\""

if [ "$release" = portable ]; then
  # libobs and obs-frontend-api of the oldest OBS the archive is for; only linked against, never shipped.
  sdk="$root/build/obs-sdk"
  archives="$("$root/scripts/debian-root.sh" path trixie-build)/var/cache/apt/archives"
  rm -rf "$sdk"
  for package in libobs-dev libobs0t64; do
    deb=$(ls "$archives/${package}"_*.deb)
    dpkg-deb -x "$deb" "$sdk"
  done
  # Debian's build names its libraries libobs.so.0 and libobs-frontend-api.so.0 (and installs the .so.30
  # names beside them); OBS's own builds have only the .so.30 ones before OBS 31. The module asks for the
  # names every OBS from 30 on has.
  for library in libobs libobs-frontend-api; do
    patchelf --set-soname "$library.so.30" "$(readlink -f "$sdk/usr/lib/x86_64-linux-gnu/$library.so.0")"
  done
  build="$root/build/portable"
  version=$(sed -n 's/^ *"version": *"\([^"]*\)".*/\1/p' "$root/data/manifest.json")
  archive="$root/build/packages/tiplark-obs-plugin-$version-linux-x86_64.tar.xz"
  sh -c "$flags &&
    cmake -S '$root' --preset portable -UAPI_BASE_URL -UOAUTH_BASE_URL >/dev/null &&
    cmake --build '$build' -j 2" >&2
  rm -rf "$build/stage"
  cmake --install "$build" --strip >/dev/null
  # The module as it is shipped.
  cmake -DNM=nm -DREADELF=readelf -DMODULE="$build/stage/tiplark-obs-plugin/bin/64bit/tiplark-obs-plugin.so" \
    -DOBS_FAMILY=30 -DPORTABLE=ON -P "$root/tests/check-module-symbols.cmake" >&2
  # Modes of their own, whatever the builder's umask (and Debian's CMake, which installs a module 0644):
  # folders and the module 0755, the rest 0644.
  chmod -R u=rwX,go=rX "$build/stage"
  find "$build/stage" -type f -name '*.so' -exec chmod 0755 {} +
  tar -C "$build/stage" --owner=0 --group=0 -cJf "$archive" tiplark-obs-plugin
  # The archive's path, alone on standard output.
  echo "$archive"
  exit 0
fi

# The production service addresses, whatever an earlier configuration of the tree said.
"${in_release[@]}" sh -c "$flags &&
  cmake -S '$root' --preset 'package-$release' -UAPI_BASE_URL -UOAUTH_BASE_URL >/dev/null &&
  cmake --build '$build' -j 2 &&
  cd '$build' && cpack -B '$build/cpack' >/dev/null &&
  cp '$build'/cpack/*.deb '$root/build/packages/' &&
  lintian --fail-on error '$build'/cpack/*.deb" >&2
# The package's path, alone on standard output.
ls "$root"/build/packages/*+"$suffix"_*.deb
