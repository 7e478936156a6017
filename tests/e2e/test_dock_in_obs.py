"""The plug-in in a real OBS: loaded, pointed at the sandbox by the environment, dock shown docked at the
first start, placement kept across restarts: by the plug-in's own store in OBS 29, by OBS itself in OBS 30
and later, where the plug-in must stay out of it after the first start."""

import json
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
    obs.wait_for(
        r"\[tiplark-obs-plugin\] Tiplark: Service addresses overridden by the environment: API %s, "
        r"OAuth %s/oauth\n" % ((re.escape(sandbox_url),) * 2)
    )
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


# What the streamer does to the dock in one run, and how the next start must show it. The first start
# shows it docked on the right. Without a window manager a floating dock cannot be dragged back into the
# main window; OBS's "Reset Docks" closes it floating, and the last rows move it as a floating window, to
# where it fits on the 900 pixels high screen (Qt moves a restored window that would not).
OBS_KEEPS = [
    # (what the streamer does, Docks menu item pressed, move it to, open at the next start, where then)
    ("leave it as first shown", None, None, True, "docked"),
    ("close it", "Tiplark", None, False, None),
    ("open it again", "Tiplark", None, True, "docked"),
    ("reset the docks", "Reset Docks", None, False, None),
    ("open it and move it", "Tiplark", (40, 50), True, (40, 50)),
    ("leave it open", None, None, True, (40, 50)),
]
# OBS 30 and later drop the frontend callbacks before unloading modules and say so when one removes its own,
# as some of OBS's own modules do: the plug-in must not add to their count.
CALLBACKS_GONE = "Tried to call obs_frontend_remove_event_callback with no callbacks!"


def placement_kept_by_obs(session):
    accessibility = session.use_accessibility()
    obs = started(session)
    check(obs.wait_for(CREATED).group(1) == "true", "the dock is not shown at the first start")
    check_docked_on_right(session, accessibility, "at the first start")
    if int(session.host.obs_version.split(".")[0]) >= 32:
        check_plugin_manager_entry(session)
    session.screenshot("e2e-dock-first-start.png")
    for action, menu_item, move_to, open_after, position in OBS_KEEPS:
        if menu_item:
            # Resetting asks "Are you sure?".
            accessibility.press_menu_item("Docks", menu_item, answer="Yes" if menu_item == "Reset Docks" else None)
            dock = accessibility.Dock()  # the press takes effect from OBS's event loop
            dock.wait_until(lambda: dock.is_showing(dock.root) == open_after, "the dock after '%s'" % action)
        if move_to:
            xdotool(session, "windowmove", dock_window(session), *map(str, move_to))
            time.sleep(0.5)  # Qt learns the new place from the X server's notice
        status, _ = obs.quit()
        check(status == 0, "OBS exited with status %d after '%s'" % (status, action))
        check(not re.search(SAVED, obs.log()), "the plug-in saved a placement of its own after '%s'" % action)
        check(
            obs.log().count(CALLBACKS_GONE) == session.host.callbacks_gone_at_quit,
            "the plug-in removed its frontend callback at unload",
        )

        obs = session.start_obs()
        shown = obs.wait_for(CREATED).group(1) == "true"
        check(shown == open_after, "after '%s' the dock is %s" % (action, "open" if shown else "closed"))
        if position == "docked":
            check_docked_on_right(session, accessibility, "after '%s'" % action)
        elif position:
            geometry = xdotool(session, "getwindowgeometry", dock_window(session))
            check("Position: %d,%d " % position in geometry, "after '%s' the dock is at %s" % (action, geometry))
            obs.fill_screen()  # without a window manager, a floating window is drawn once something moves
            session.screenshot("e2e-dock-restart.png")
    status, _ = obs.quit()
    check(status == 0, "OBS exited with status %d" % status)
    check(
        not re.search(r"^Dock", open(session.home.settings_file).read(), re.M),
        "the plug-in keeps a placement of its own besides OBS's",
    )

    # The dock on OBS's light theme, beside the dark default's pictures above.
    session.home.use_light_theme(session.host)
    obs = session.start_obs()
    check(obs.wait_for(CREATED).group(1) == "true", "the dock is not shown on the light theme")
    dock_window(session)  # floating where the last row left it
    obs.fill_screen()
    session.screenshot("e2e-dock-light-theme.png")
    status, _ = obs.quit()
    check(status == 0, "OBS exited with status %d on the light theme" % status)


def check_plugin_manager_entry(session):
    """OBS 32's Plugin Manager lists the plug-in by its manifest (it keeps its list in the user's
    configuration), not by the module's file name."""
    with open(os.path.join(session.home.config, "obs-studio", "plugin_manager", "modules.json")) as f:
        entry = [module for module in json.load(f) if module["module_name"] == "tiplark-obs-plugin"]
    check(
        entry and (entry[0]["display_name"], entry[0]["version"]) == ("Tiplark", "1.0.0"),
        "the Plugin Manager lists %r" % entry,
    )


def check_docked_on_right(session, accessibility, when):
    check(not floating_windows(session), "the dock floats %s" % when)
    x, _, width, _ = accessibility.extents(accessibility.Dock().root)
    window_x, _, window_width, _ = accessibility.main_window_extents()
    check(
        x + width / 2 > window_x + window_width / 2,
        "the dock is not on the right %s: x %d, width %d in a window at %d, %d wide"
        % (when, x, width, window_x, window_width),
    )


def xdotool(session, *args):
    return subprocess.run(
        ["xdotool", *args],
        env=dict(os.environ, DISPLAY=session.display.name),
        check=True,
        stdout=subprocess.PIPE,
        text=True,
        timeout=10,
    ).stdout


def floating_windows(session):
    """The floating dock's own top-level X windows (a docked one, even once floating, has none)."""
    return subprocess.run(
        ["xdotool", "search", "--maxdepth", "1", "--onlyvisible", "--name", "^Tiplark$"],
        stdout=subprocess.PIPE,
        env=dict(os.environ, DISPLAY=session.display.name),
        text=True,
        timeout=10,
    ).stdout.split()


def dock_window(session, timeout=10):
    """The floating dock's own X window."""
    deadline = time.monotonic() + timeout
    while True:
        found = floating_windows(session)
        if found:
            return found[0]
        check(time.monotonic() < deadline, "no floating Tiplark window")
        time.sleep(0.1)


if __name__ == "__main__":
    main()
