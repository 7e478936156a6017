"""The plug-in in Debian's real OBS: loaded, pointed at the sandbox by the environment, dock shown,
placement saved on exit and restored."""

import re

from obsdriver import obshost
from obsdriver.obshost import check
from obsdriver.sandbox_client import Sandbox

CREATED = r"\[tiplark-obs-plugin\] Tiplark dock created, visible: (true|false)"
SAVED = r"\[tiplark-obs-plugin\] Tiplark dock saved: visible=(true|false), area=(\d+), floating=(true|false)"


def main():
    args = obshost.parse_arguments()

    # The dock's update check goes to the sandbox.
    sandbox = Sandbox(args.sandbox)
    try:
        run(args, sandbox)
    finally:
        sandbox.stop()
    print("e2e dock placement: ok")


def run(args, sandbox):
    with obshost.Session(args.module_dir, args.data_dir, args.artifacts, sandbox.base_url) as session:
        obs = session.start_obs()
        obs.wait_for(r"\[tiplark-obs-plugin\] plugin loaded successfully \(version 1\.0\.0\)")
        obs.wait_for(r"\[tiplark-obs-plugin\] Tiplark: Service addresses overridden by the environment: API %s, "
                     r"OAuth %s/oauth\n" % ((re.escape(sandbox.base_url),) * 2))
        check(obs.wait_for(CREATED).group(1) == "true", "dock not visible on first start")
        session.screenshot("e2e-dock-first-start.png")
        status, seconds = obs.quit()
        check(status == 0, "OBS exited with status %d" % status)
        saved = obs.wait_for(SAVED, timeout=1)
        check(saved.group(1) == "true" and saved.group(3) == "false", "unexpected save line: " + saved.group(0))
        first_area = saved.group(2)
        check(first_area != "0", "dock was not in a dock area")
        obs.wait_for(r"\[tiplark-obs-plugin\] plugin unloaded", timeout=1)
        print("first run quit in %.2f s, area %s" % (seconds, first_area))

        settings = open(session.home.settings_file).read()
        for key in ("DockVisible=true", "DockArea=" + first_area, "DockFloating=false", "SplitterState="):
            check(key in settings, "settings store lacks " + key)

        # Second start from the same profile: the dock comes back where it was.
        obs = session.start_obs()
        check(obs.wait_for(CREATED).group(1) == "true", "dock not visible after restart")
        session.screenshot("e2e-dock-restart.png")
        status, _ = obs.quit()
        check(status == 0, "OBS exited with status %d on the second run" % status)
        saved = obs.wait_for(SAVED, timeout=1)
        check(saved.group(2) == first_area, "dock area changed across restart: " + saved.group(0))
        check(sandbox.requests_to("/extensions/details/obs"), "the update check did not reach the sandbox")


if __name__ == "__main__":
    main()
