"""The plug-in in Debian's real OBS: loaded, dock shown, placement saved on exit and restored."""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import obshost  # noqa: E402
from obshost import check  # noqa: E402

CREATED = r"\[tiplark-obs-plugin\] Tiplark dock created, visible: (true|false)"
SAVED = r"\[tiplark-obs-plugin\] Tiplark dock saved: visible=(true|false), area=(\d+), floating=(true|false)"


def main():
    args = obshost.parse_arguments(with_sandbox=False)

    with obshost.Session(args.module_dir, args.data_dir, args.artifacts) as session:
        obs = session.start_obs()
        obs.wait_for(r"\[tiplark-obs-plugin\] plugin loaded successfully \(version 1\.0\.0\)")
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
    print("e2e dock placement: ok")


if __name__ == "__main__":
    main()
