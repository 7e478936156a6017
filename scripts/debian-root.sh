#!/usr/bin/env bash
# Debian root file systems for the other OBS hosts, made with mmdebstrap from this machine's Debian mirror:
#
#   scripts/debian-root.sh make KIND...         makes each KIND's root unless a fresh one is cached
#   scripts/debian-root.sh path KIND            likewise for one; prints its folder
#   scripts/debian-root.sh run KIND [--fresh] [--bind DIR]... -- COMMAND...
#                                               runs COMMAND (as root) inside KIND's root
#
# KIND is one of
#   trixie-build    Debian 13 with OBS 30 (Qt 6): builds the plug-in and runs the end-to-end tests
#   trixie-clean    Debian 13 with OBS 30 and the test tools, no build tools and no libcurl but the one OBS
#                   links: a streamer's system, which installs a package or the per-user archive
#   forky-build     Debian forky (testing) with OBS 32 (Qt 6), as trixie-build
#   forky-clean     Debian forky with OBS 32 and the test tools, as trixie-clean
#   bookworm-clean  Debian 12 with OBS 29 (Qt 5), likewise
#
# A root holds its release's main suite and, for a stable release, its security suite. It is kept in
# $TIPLARK_ROOT_CACHE (default /var/cache/tiplark-obs-plugin/roots: outside the checkout, so that every clone
# on the machine, CI's included, finds it) under a name made from its release, suites and package list, so a
# changed list makes a new root; one older than a week is made anew, for the security updates. Downloaded
# packages are kept there too, per release. With TIPLARK_OFFLINE=1 (set inside the tests' private network)
# a root is never made: one that is missing is an error, and an old one is used as it is.
# "run" mounts /proc, /sys, /dev, a tmpfs on /tmp and /dev/shm, the repository and ccache's folder (both
# at their own paths) in a mount namespace of its own: no mount outlives it. With --fresh, the root is
# an overlay whose changes vanish when COMMAND ends, so each run starts from the same clean system.
# The network is the caller's: in a private network namespace the root shares its loopback.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cache=${TIPLARK_ROOT_CACHE:-/var/cache/tiplark-obs-plugin/roots}

# What the end-to-end tests need in any host: the X server, screenshots, the accessibility tree, the
# browser for the sign-in, and an emoji font, so that a donor's emoji shows as on a desktop, not as a box.
test_tools=(xvfb xauth libgl1-mesa-dri libglx-mesa0 libegl-mesa0 x11-apps imagemagick xdotool
  python3 python3-gi gir1.2-atspi-2.0 at-spi2-core dbus-daemon chromium procps fonts-noto-color-emoji)
# What the build roots' end-to-end tests need besides: the remote-control client's Node, a sound server
# whose null sink the chime is recorded from, and OCR that reads the labels back (which pulls in OpenSSL's
# libcurl).
remote_tools=(nodejs pulseaudio pulseaudio-utils sox)
ocr=tesseract-ocr

release_of() { echo "${1%%-*}"; }

# Testing releases get no security suite of their own.
suites_of() {
  local release
  release=$(release_of "$1")
  case $release in
  bookworm | trixie) echo "$release $release-security" ;;
  *) echo "$release" ;;
  esac
}

# OBS's icons are SVG; Debian 13 and later ship Qt 6's SVG image plug-in apart, as a recommendation of OBS.
obs_of() {
  case $(release_of "$1") in
  trixie | forky) echo obs-studio qt6-svg-plugins ;;
  *) echo obs-studio ;;
  esac
}

# Packages installed into KIND's root, then packages only downloaded into its apt cache: OpenSSL's libcurl
# and the OCR, which the per-user archive's remote-control test installs (offline) after it has checked
# the plug-in in the system as it was, for an OBS that loads that libcurl, as Fedora's does.
packages_of() {
  case $1 in
  trixie-build | forky-build)
    # mount (for the TLS test's private mount namespace) is no longer in every system from forky on; the
    # sign-in listener's test talks to it with the curl client.
    echo $(obs_of "$1") libobs-dev qt6-base-dev libcurl4-openssl-dev libcpp-httplib-dev \
      cmake ninja-build g++ pkg-config ccache dpkg-dev file lintian curl $([ "$1" = forky-build ] && echo mount) \
      "${test_tools[@]}" "${remote_tools[@]}" $ocr
    ;;
  # The per-user archive's end-to-end tests run in the Debian 13 and forky ones, the remote-control test too.
  trixie-clean | forky-clean) echo $(obs_of "$1") "${test_tools[@]}" "${remote_tools[@]}" ;;
  bookworm-clean) echo $(obs_of "$1") "${test_tools[@]}" ;;
  *)
    echo "unknown root: $1 (trixie-build, trixie-clean, forky-build, forky-clean or bookworm-clean)" >&2
    return 1
    ;;
  esac
}

downloads_of() {
  case $1 in
  trixie-clean | forky-clean) echo libcurl4t64 $ocr ;;
  esac
}

# The URI of the first Debian source this machine's apt uses for regular suites, or with "security" for
# security suites; never written anywhere in the repository.
debian_mirror() {
  local want=${1:-regular} uri=""
  if compgen -G "/etc/apt/sources.list.d/*.sources" >/dev/null; then
    uri=$(awk -v want="$want" '
        function take() { if (!done && uri != "" && ((suites ~ /-security/) == (want == "security"))) { print uri; done = 1; exit } }
        /^[ \t]*$/ { take(); uri = suites = "" }
        tolower($1) == "uris:" { uri = $2 } tolower($1) == "suites:" { suites = $0 }
        END { take() }' /etc/apt/sources.list.d/*.sources)
  fi
  if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
    uri=$(awk -v want="$want" '$1 == "deb" && (($0 ~ /-security/) == (want == "security")) {
        for (i = 2; i <= NF; i++) if ($i !~ /^\[/) { print $i; exit } }' /etc/apt/sources.list)
  fi
  [ -n "$uri" ] || {
    echo "no Debian mirror for $want suites found in the apt sources" >&2
    return 1
  }
  echo "$uri"
}

# One source line per suite, for mmdebstrap; with "expired" as the last word where the mirror's copy of the
# suite is past its Valid-Until date (a testing suite the mirror no longer refreshes). Fails in one line when
# the mirror cannot be reached.
sources_of() {
  local suite uri release_file until
  for suite in $(suites_of "$1"); do
    if [[ $suite == *-security ]]; then uri=$(debian_mirror security); else uri=$(debian_mirror); fi
    release_file=$(curl -fsS --max-time 30 "$uri/dists/$suite/InRelease" 2>&1) || {
      echo "cannot reach the Debian mirror for $suite: ${release_file##*$'\n'}" >&2
      return 1
    }
    until=$(sed -n 's/^Valid-Until: //p' <<<"$release_file")
    echo "deb $uri $suite main${until:+$([ "$(date -d "$until" +%s)" -lt "$(date +%s)" ] && echo " expired")}"
  done
}

root_dir() {
  local kind=$1 key
  key=$(printf '%s\n' $(suites_of "$kind") -- $(packages_of "$kind") -- $(downloads_of "$kind") | sha256sum | cut -c1-12)
  echo "$cache/$kind-$key"
}

create() {
  local kind=$1 dir release
  dir=$(root_dir "$kind")
  if [ "${TIPLARK_OFFLINE:-}" = 1 ]; then
    [ -f "$dir.ready" ] && return 0
    echo "the $kind root is not made, and there is no network here: run 'scripts/debian-root.sh make $kind' first" >&2
    return 1
  fi
  [ -f "$dir.ready" ] && [ -z "$(find "$dir.ready" -mtime +6)" ] && return 0
  # One maker of a kind at a time: another run (another clone's tests, a demo) waits here, then finds the
  # root made.
  mkdir -p "$cache"
  exec {lock}>"$cache/$kind.lock"
  flock "$lock"
  [ -f "$dir.ready" ] && [ -z "$(find "$dir.ready" -mtime +6)" ] && return 0
  command -v mmdebstrap >/dev/null || {
    echo "mmdebstrap is missing: run scripts/install-deps.sh" >&2
    return 1
  }
  release=$(release_of "$kind")
  local debs="$cache/debs-$release" include downloads sources mirrors=() expired=()
  sources=$(sources_of "$kind") || return 1
  mkdir -p "$debs"
  # A changed package list, or a week's age, leaves the previous root of this kind unused.
  rm -rf "$dir" "$dir.tmp" "$dir.ready" "$cache/$kind"-*
  include=$(packages_of "$kind" | tr ' ' ',')
  downloads=$(downloads_of "$kind")
  mapfile -t mirrors < <(sed 's/ expired$//' <<<"$sources")
  if grep -q ' expired$' <<<"$sources"; then
    echo "the mirror's copy of $release has expired: apt checks no release dates in this root"
    expired=(--aptopt='Acquire::Check-Valid-Until "false"')
  fi
  echo "==== creating the $kind root in $dir"
  # Downloaded packages are synced in before and out after, so a new root rarely downloads much; the
  # apt lists and cache stay in the root for offline installs from it later.
  mmdebstrap --variant=apt --mode=root --format=directory --include="$include" "${expired[@]}" \
    --aptopt='APT::Install-Recommends "false"' \
    --skip=cleanup/apt/lists --skip=cleanup/apt/cache --skip=essential/unlink \
    --setup-hook='mkdir -p "$1"/var/cache/apt/archives' \
    --setup-hook="sync-in $debs /var/cache/apt/archives" \
    ${downloads:+--customize-hook="chroot \"\$1\" apt-get install --download-only -y $downloads"} \
    --customize-hook="sync-out /var/cache/apt/archives $debs" \
    "$release" "$dir.tmp" "${mirrors[@]}"
  mv "$dir.tmp" "$dir"
  touch "$dir.ready"
}

# Runs inside the new mount namespace: $1 root folder, $2 "fresh" or "", $3 newline-separated extra
# folders to bind, $4 ccache's folder, $5 the checkout, the rest the command.
enter() {
  local dir=$1 fresh=$2 binds=$3 ccache_dir=$4 checkout=$5
  shift 5
  mount --make-rprivate /
  if [ "$fresh" = fresh ]; then
    local scratch=$dir.fresh
    mkdir -p "$scratch"
    mount -t tmpfs tmpfs "$scratch"
    mkdir "$scratch/upper" "$scratch/work" "$scratch/merged"
    mount -t overlay overlay -o "lowerdir=$dir,upperdir=$scratch/upper,workdir=$scratch/work" "$scratch/merged"
    dir=$scratch/merged
  else
    # The root a mount of its own, so that commands inside can make mount namespaces of their own too.
    mount --bind "$dir" "$dir"
  fi
  mount -t proc proc "$dir/proc"
  mount -t sysfs sysfs "$dir/sys"
  mount --rbind /dev "$dir/dev"
  mount -t tmpfs -o mode=1777 tmpfs "$dir/dev/shm"
  mount -t tmpfs -o mode=1777 tmpfs "$dir/tmp"
  local folder
  while IFS= read -r folder; do
    [ -n "$folder" ] || continue
    mkdir -p "$dir$folder"
    mount --bind "$folder" "$dir$folder"
  done <<<"$binds"
  exec chroot "$dir" /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin HOME=/root LANG=C.UTF-8 \
    CCACHE_DIR="$ccache_dir" CCACHE_BASEDIR="$checkout" CCACHE_NOHASHDIR=1 "$@"
}

case ${1:-} in
make)
  shift
  for kind in "$@"; do
    create "$kind"
  done
  ;;
path)
  # Only the folder on standard output: what making it says goes to standard error.
  create "$2" >&2
  root_dir "$2"
  ;;
run)
  kind=$2
  shift 2
  fresh=""
  binds=$root
  # The caller's compiler cache, so that builds inside share it (an empty CCACHE_DIR means a cold build).
  mkdir -p "${CCACHE_DIR:-$HOME/.cache/ccache}"
  ccache_dir=$(cd "${CCACHE_DIR:-$HOME/.cache/ccache}" && pwd)
  binds+=$'\n'$ccache_dir
  while [ $# -gt 0 ] && [ "$1" != -- ]; do
    case $1 in
    --fresh) fresh=fresh ;;
    --bind)
      binds+=$'\n'$(cd "$2" && pwd)
      shift
      ;;
    *)
      echo "unknown option: $1" >&2
      exit 2
      ;;
    esac
    shift
  done
  [ "${1:-}" = -- ] && shift
  [ $# -gt 0 ] || set -- /bin/bash
  create "$kind"
  [ "$(id -u)" -eq 0 ] || {
    echo "debian-root.sh run needs root (mounts and chroot)" >&2
    exit 1
  }
  exec unshare --mount bash -c "$(declare -f enter); enter \"\$@\"" enter "$(root_dir "$kind")" "$fresh" "$binds" "$ccache_dir" "$root" "$@"
  ;;
*)
  sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'
  exit 2
  ;;
esac
