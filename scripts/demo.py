"""The main job: Debian's OBS with the plug-in from the build tree, in an isolated profile.

With a display (DISPLAY set) OBS opens on it and runs until it is closed. Without one, OBS runs
under Xvfb, screenshots are saved and OBS is quit cleanly.
"""

import argparse
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import obshost  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--module-dir", required=True)
    parser.add_argument("--data-dir", required=True)
    parser.add_argument("--artifacts", required=True)
    parser.add_argument("--seconds", type=float, default=5, help="how long to run headless")
    args = parser.parse_args()

    headless = not os.environ.get("DISPLAY")
    with obshost.Session(args.module_dir, args.data_dir, args.artifacts, use_own_display=headless) as session:
        obs = session.start_obs()
        obs.wait_for(r"\[tiplark-obs-plugin\] Tiplark dock created")
        print("OBS is running with the Tiplark dock (log: %s)" % obs.log_path)
        if not headless:
            obs.proc.wait()
            return
        time.sleep(args.seconds)
        print("screenshot:", session.screenshot("demo-dock.png"))
        status, _ = obs.quit()
        print("OBS exited with status", status)
        sys.exit(status)


if __name__ == "__main__":
    main()
