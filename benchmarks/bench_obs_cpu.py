"""CPU share of Debian's real OBS with the dock signed in and polling (50 donations, 20 pending messages,
moderation on) beside OBS alone, both running at the same time on displays of their own, over the same
window. Prints each one's share of a core, resident size, and the difference. In the OBS host named by
--host, with the build tree made for it (OBS 30 and 32 inside their Debian root file systems).

  PYTHONPATH=. python3 benchmarks/bench_obs_cpu.py --module-dir build/qt5/src --data-dir build/qt5/e2e-data \\
      --artifacts /tmp/cpu --sandbox build/qt5/sandbox/tiplark-sandbox [--seconds 60]

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
            args.module_dir, args.data_dir, args.artifacts, sandbox.base_url, host=args.host
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
            for obs in (polling, bare):
                obs.quit()
    finally:
        sandbox.stop()


if __name__ == "__main__":
    main()
