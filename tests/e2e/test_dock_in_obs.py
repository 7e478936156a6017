"""The plug-in in a real OBS: loaded, pointed at the sandbox by the environment, dock shown, placement
kept across restarts: by the plug-in's own store in OBS 29, by OBS itself in OBS 30, where the plug-in
must stay out of it."""

import os
import re
import subprocess
import time

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
    with obshost.Session(args.module_dir, args.data_dir, args.artifacts, sandbox.base_url, host=args.host) as session:
        if session.host.keeps_dock_placement:
            placement_kept_by_obs(session)
        else:
            placement_kept_by_plugin(session)
        check(sandbox.requests_to("/extensions/details/obs"), "the update check did not reach the sandbox")


def started(session):
    """OBS with the plug-in loaded and pointed at the session's sandbox."""
    sandbox_url = session.service_env["TIPLARK_API_BASE_URL"]
    obs = session.start_obs()
    obs.wait_for(r"\[tiplark-obs-plugin\] plugin loaded successfully \(version 1\.0\.0\)")
    obs.wait_for(r"\[tiplark-obs-plugin\] Tiplark: Service addresses overridden by the environment: API %s, "
                 r"OAuth %s/oauth\n" % ((re.escape(sandbox_url),) * 2))
    return obs


def placement_kept_by_plugin(session):
    obs = started(session)
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


# What the streamer does to the dock in one run, and how the next start must show it. Without a window
# manager a floating dock cannot be dragged back into the main window, and OBS floats a dock it opens for
# the first time: the rows move it as a floating window.
OBS_KEEPS = [
    # (what the streamer does, press Docks > Tiplark, move it to, open at the next start, where then)
    ("open it and move it", True, (40, 120), True, (40, 120)),
    ("close it", True, None, False, None),
    ("open it again", True, None, True, (40, 120)),
    ("leave it open", False, None, True, (40, 120)),
]


def placement_kept_by_obs(session):
    accessibility = session.use_accessibility()
    obs = started(session)
    check(obs.wait_for(CREATED).group(1) == "false", "a dock new to OBS 30 does not start closed")
    for action, toggle, move_to, open_after, position in OBS_KEEPS:
        if toggle:
            accessibility.press_menu_item("Docks", "Tiplark")
        if move_to:
            xdotool(session, "windowmove", dock_window(session), *map(str, move_to))
            time.sleep(0.5)  # Qt learns the new place from the X server's notice
        status, _ = obs.quit()
        check(status == 0, "OBS exited with status %d after '%s'" % (status, action))
        check(not re.search(SAVED, obs.log()), "the plug-in saved a placement of its own after '%s'" % action)

        obs = session.start_obs()
        shown = obs.wait_for(CREATED).group(1) == "true"
        check(shown == open_after, "after '%s' the dock is %s" % (action, "open" if shown else "closed"))
        if position:
            geometry = xdotool(session, "getwindowgeometry", dock_window(session))
            check("Position: %d,%d " % position in geometry, "after '%s' the dock is at %s" % (action, geometry))
            obs.fill_screen()  # without a window manager, a floating window is drawn once something moves
            session.screenshot("e2e-dock-restart.png")
    status, _ = obs.quit()
    check(status == 0, "OBS exited with status %d" % status)
    check(not re.search(r"^Dock", open(session.home.settings_file).read(), re.M),
          "the plug-in keeps a placement of its own besides OBS's")


def xdotool(session, *args):
    return subprocess.run(["xdotool", *args], env=dict(os.environ, DISPLAY=session.display.name), check=True,
                          stdout=subprocess.PIPE, text=True, timeout=10).stdout


def dock_window(session, timeout=10):
    """The floating dock's own X window."""
    deadline = time.monotonic() + timeout
    while True:
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Tiplark$"], stdout=subprocess.PIPE,
                               env=dict(os.environ, DISPLAY=session.display.name), text=True, timeout=10).stdout.split()
        if found:
            return found[0]
        check(time.monotonic() < deadline, "no floating Tiplark window")
        time.sleep(0.1)


if __name__ == "__main__":
    main()
