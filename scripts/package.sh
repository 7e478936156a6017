#!/usr/bin/env bash
# Builds the plug-in's .deb package for one Debian release, with the production service addresses, into
# build/packages/, and checks it with lintian (errors fail, warnings are printed):
#
#   scripts/package.sh debian12   the Qt 5 build, for Debian 12's OBS 29 (built on this Debian 12 machine)
#   scripts/package.sh debian13   the Qt 6 build, for Debian 13's OBS 30 (built in a Debian 13 root
#                                 file system, scripts/debian-root.sh; needs root)
#   scripts/package.sh forky      the Qt 6 build, for Debian forky's OBS 32 (built in a forky root; needs
#                                 root)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
release=${1:-}
# The root file system each is built in, and the end of its package's version.
case $release in
debian12) in_release=() suffix=deb12 ;;
debian13) in_release=("$root/scripts/debian-root.sh" run trixie-build --) suffix=deb13 ;;
forky) in_release=("$root/scripts/debian-root.sh" run forky-build --) suffix=forky ;;
*)
  echo "usage: $0 debian12|debian13|forky" >&2
  exit 2
  ;;
esac

build="$root/build/package-$release"
mkdir -p "$root/build/packages"
# The production service addresses, whatever an earlier configuration of the tree said, and all of
# Debian's hardening flags, as Debian's own packages are built (CMake reads no CPPFLAGS).
"${in_release[@]}" sh -c "eval \"\$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)\" &&
  export CFLAGS=\"\$CFLAGS \$CPPFLAGS\" CXXFLAGS=\"\$CXXFLAGS \$CPPFLAGS\" &&
  cmake -S '$root' --preset 'package-$release' -UAPI_BASE_URL -UOAUTH_BASE_URL >/dev/null &&
  cmake --build '$build' -j 2 &&
  cd '$build' && cpack -B '$build/cpack' >/dev/null &&
  cp '$build'/cpack/*.deb '$root/build/packages/' &&
  lintian --fail-on error '$build'/cpack/*.deb" >&2
# The package's path, alone on standard output.
ls "$root"/build/packages/*+"$suffix"_*.deb
