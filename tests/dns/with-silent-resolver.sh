#!/usr/bin/env bash
# Runs a command in a private mount namespace whose resolver asks 127.0.0.1, port 53, and waits 30 s for
# each of five tries: a test that listens there and never answers holds a name lookup for minutes.
# Needs root, as CI runs, for the mount namespace and the port; meant for the tests' private network
# namespace.
set -euo pipefail

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
printf 'nameserver 127.0.0.1\noptions timeout:30 attempts:5\n' >"$dir/resolv.conf"
unshare -m sh -c 'mount --bind "$1" /etc/resolv.conf && shift && exec "$@"' sh "$dir/resolv.conf" "$@"
