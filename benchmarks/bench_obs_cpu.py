"""CPU share of Debian's real OBS with the dock signed in and polling (50 donations, 20 pending messages,
moderation on) beside OBS alone, both running at the same time on displays of their own, over the same
window. Prints each one's share of a core, resident size, and the difference. In the OBS host named by
--host, with the build tree made for it (OBS 30 and 32 inside their Debian root file systems).

  PYTHONPATH=. python3 benchmarks/bench_obs_cpu.py --module-dir build/qt5/src --data-dir build/qt5/e2e-data \\
      --artifacts /tmp/cpu --sandbox build/qt5/sandbox/tiplark-sandbox [--seconds 60]

(--archive build/packages/tiplark-obs-plugin-*-linux-x86_64.tar.xz instead of the two folders: the per-user
archive, in OBS 30 or 32.)

Run it inside a network namespace of its own, as the tests are."""

import os
import sys
import tempfile
import time

from obsdriver import obshost
from obsdriver.sandbox_client import Sandbox

PREFIX = r"\[tiplark-obs-plugin\] "
TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS  # utime, stime


def resident_mib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0.0


def resident_by_library(pid):
    """Resident KiB per mapped file (anonymous memory as "[anonymous]"), from /proc/<pid>/smaps."""
    sizes = {}
    name = "[anonymous]"
    with open("/proc/%d/smaps" % pid) as f:
        for line in f:
            fields = line.split()
            if "-" in fields[0] and not fields[0].endswith(":"):
                name = os.path.basename(fields[5]) if len(fields) > 5 and fields[5].startswith("/") else "[anonymous]"
            elif fields[0] == "Rss:":
                sizes[name] = sizes.get(name, 0) + int(fields[1])
    return sizes


def print_library_difference(polling, bare, at_least_kib=256):
    """What the process with the dock holds more than OBS alone, per library, largest first."""
    mine, theirs = resident_by_library(polling), resident_by_library(bare)
    grown = {name: mine[name] - theirs.get(name, 0) for name in mine}
    print("  resident beyond OBS alone, per mapping (at least %d KiB):" % at_least_kib)
    for name, kib in sorted(grown.items(), key=lambda item: -item[1]):
        if kib >= at_least_kib:
            print("    %7.1f MiB  %s" % (kib / 1024, name))


def main():
    seconds = 60
    if "--seconds" in sys.argv:
        at = sys.argv.index("--seconds")
        seconds = int(sys.argv[at + 1])
        del sys.argv[at : at + 2]
    args = obshost.parse_arguments()
    sandbox = Sandbox(args.sandbox)
    try:
        sandbox.set_state({"api.userName": "Streamer", "api.moderationEnabled": False})
        for _ in range(50):
            sandbox.post_donation()
        sandbox.set_state({"api.moderationEnabled": True})
        for _ in range(20):
            sandbox.post_donation()
        sandbox.accept_tokens("cpu-access-token", "cpu-refresh-token")
        nothing = tempfile.mkdtemp(prefix="tiplark-no-module-")
        with obshost.Session(
            args.module_dir, args.data_dir, args.artifacts, sandbox.base_url, host=args.host, archive=args.archive
        ) as with_dock, obshost.Session(nothing, nothing, args.artifacts, sandbox.base_url, host=args.host) as alone:
            with_dock.home.write_tokens("cpu-access-token", "cpu-refresh-token")
            polling = with_dock.start_obs()
            bare = alone.start_obs()
            polling.wait_for(PREFIX + "Tiplark: Parsed username: ")
            time.sleep(10)  # both past start-up, the dock's lists filled
            before = sandbox.requests_to("/v1/donations", "GET")
            start = {obs: cpu_seconds(obs.proc.pid) for obs in (polling, bare)}
            began = time.monotonic()
            time.sleep(seconds)
            spent = {obs: cpu_seconds(obs.proc.pid) - start[obs] for obs in (polling, bare)}
            window = time.monotonic() - began
            polls = len(sandbox.requests_to("/v1/donations", "GET")) - len(before)
            share = {obs: 100 * spent[obs] / window for obs in (polling, bare)}
            print("over %.0f s, %d polls of the donations:" % (window, polls))
            print(
                "  OBS with the dock polling: %5.2f %% of a core, resident %.0f MiB"
                % (share[polling], resident_mib(polling.proc.pid))
            )
            print(
                "  OBS alone:                 %5.2f %% of a core, resident %.0f MiB"
                % (share[bare], resident_mib(bare.proc.pid))
            )
            print("  difference:                %+5.2f %% of a core" % (share[polling] - share[bare]))
            print(
                "  resident difference:       %+5.1f MiB"
                % (resident_mib(polling.proc.pid) - resident_mib(bare.proc.pid))
            )
            print_library_difference(polling.proc.pid, bare.proc.pid)
            for obs in (polling, bare):
                obs.quit()
    finally:
        sandbox.stop()


if __name__ == "__main__":
    main()
