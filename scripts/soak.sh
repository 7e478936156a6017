#!/usr/bin/env bash
# An evening on air in the real OBS with the plug-in against a misbehaving sandbox (benchmarks/soak-on-air.py),
# with OBS alone beside it over the same time; prints the figures and plots OBS's resident memory over time into
# build/soak/soak-<host>.png. As root: it runs in a private network namespace, the other hosts inside their
# Debian root file systems (scripts/debian-root.sh).
#
#   scripts/soak.sh [--host debian12|debian13|forky] [--minutes 30] [--seed 1]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"

# host, preset and in_root from --host.
source "$root/scripts/obs-host.sh"
build="$root/build/$preset"
out="$root/build/soak"
mkdir -p "$out"
npm ci --prefix "$root/tests/e2e/websocket-client" --no-audit --no-fund --loglevel=error >/dev/null

"${in_root[@]}" cmake -S "$root" --preset "$preset" >/dev/null
"${in_root[@]}" cmake --build "$build" --target tiplark-obs-plugin tiplark-sandbox e2e-data
TIPLARK_OFFLINE=1 unshare -n sh -c 'ip link set lo up && sysctl -qw net.ipv4.ip_local_port_range="38100 60999" &&
  exec "$@"' sh "${in_root[@]}" env PYTHONPATH="$root" /usr/bin/python3 "$root/benchmarks/soak-on-air.py" \
  --host "$host" --module-dir "$build/src" --data-dir "$build/e2e-data" --artifacts "$out" \
  --sandbox "$build/sandbox/tiplark-sandbox" --baseline "$@"

gnuplot <<PLOT
set terminal pngcairo size 1000,500 noenhanced
set output "$out/soak-$host.png"
set datafile separator ","
set title "OBS resident memory on air, $host"
set xlabel "minutes"
set ylabel "MiB"
set key left top
plot "$out/soak-$host.csv" every ::1 using (\$1/60):2 with lines lw 2 title "OBS with the plug-in", \
     "$out/soak-$host-alone.csv" every ::1 using (\$1/60):2 with lines lw 2 title "OBS alone"
PLOT
echo "plot: $out/soak-$host.png"
