# Sourced by the scripts that build and run the plug-in in one OBS host: reads `--host NAME` from the
# front of the arguments (debian12 unless given) and sets host, the build preset (CMakePresets.json) and
# in_root, the command prefix that runs inside the host's Debian root file system (empty for this
# machine's Debian 12). Expects root, the checkout. The remaining arguments stay in "$@".
host=debian12
if [ "${1:-}" = --host ]; then
  host=$2
  shift 2
fi
# The host's own name, but Debian 12's build is this machine's Qt 5 tree.
case $host in
debian12) preset=qt5 in_root=() ;;
debian13) preset=debian13 in_root=("$root/scripts/debian-root.sh" run trixie-build --) ;;
forky) preset=forky in_root=("$root/scripts/debian-root.sh" run forky-build --) ;;
*)
  echo "unknown host: $host (debian12, debian13 or forky)" >&2
  exit 2
  ;;
esac
