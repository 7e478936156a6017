"""The plug-in in a real OBS: loaded, pointed at the sandbox by the environment, dock shown docked at the
first start, placement kept across restarts: by the plug-in's own store in OBS 29, by OBS itself in OBS 30
and later, where the plug-in must stay out of it after the first start. Then the dock full of what a
streamer sees (banner, moderation, messages waiting, donations) fits the room OBS gives it: a desktop's
window, a laptop's, and the dock dragged as small as it goes."""

import json
import os
import re
import subprocess
import time

from obsdriver import obshost
from obsdriver.obshost import check

CREATED = r"\[tiplark-obs-plugin\] Tiplark dock created, visible: (true|false)"
SAVED = r"\[tiplark-obs-plugin\] Tiplark dock saved: visible=(true|false), area=(\d+), floating=(true|false)"


def main():
    args = obshost.parse_arguments()

    # One display and one accessibility bus for the whole run (libatspi keeps the first bus it met); each
    # part starts from a home of its own.
    with obshost.session_with_sandbox(args) as (session, sandbox):
        fits_the_window(session, sandbox)
        print("e2e dock geometry: ok")
        session.home = obshost.ObsHome(os.path.join(session.tmp, "placement-home"), sandbox.base_url)
        # The dock's update check goes to the sandbox.
        count = len(sandbox.requests_to("/extensions/details/obs"))
        if session.host.keeps_dock_placement:
            placement_kept_by_obs(session)
        else:
            placement_kept_by_plugin(session)
        check(len(sandbox.requests_to("/extensions/details/obs")) > count, "the update check did not reach the sandbox")
    print("e2e dock placement: ok")


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


# The window sizes the dock must fit: a desktop's 1600×900 and a laptop's 1366×768, and the latter with the
# dock dragged to its smallest. OBS's own docks around it, which it must leave alone.
WINDOWS = [(1600, 900, "desktop"), (1366, 768, "laptop")]
# About as narrow as OBS's own docks go.
SMALLEST_WIDTH = 260
OBS_DOCKS = ("Scenes", "Sources", "Audio Mixer", "Scene Transitions", "Controls")
PENDING_TITLE = "Oczekujące na moderację"
# Newer libatspi names a push button "button".
PRESSABLE = ("push button", "button", "toggle button", "check box")
# Roles of the dock's own controls: no two may overlap.
CONTROL_ROLES = PRESSABLE + ("label", "list", "text", "combo box")


def fits_the_window(session, sandbox):
    """Signed in, banner shown, moderation on, three messages waiting and three donations, in both themes:
    at each window size and at the dock's smallest, every shown part of the dock lies inside it, none of
    its controls overlaps another, it covers none of OBS's docks and a whole pending row with its buttons
    shows."""
    sandbox.accept_tokens("geometry-access", "geometry-refresh")
    sandbox.set_state(
        {
            "api.userName": "Streamer Testowy",
            "api.moderationEnabled": False,
            "api.pending": [],
            "api.donations": [],
            "api.update": {"version": "1.1.0", "download_url": "https://tiplark.pl/obs"},
        }
    )
    for serial, (nickname, message) in enumerate(DONATIONS + MESSAGES):
        if serial == len(DONATIONS):
            sandbox.set_state({"api.moderationEnabled": True})
        sandbox.post_donation(
            {
                "id": "0190c3b2-0000-7000-8000-%012d" % (900 + serial),
                "nickname": nickname,
                "message_content": message,
                "amount": 25.5,
                "currency": "PLN",
                "created_at": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime()),
                "goal": {"id": 3, "name": "Nowy mikrofon"},
            }
        )
    failed = []
    session.home.write_tokens("geometry-access", "geometry-refresh")
    accessibility = session.use_accessibility()
    for theme in ("dark", "light"):
        if theme == "light":
            # A first start again, docks laid out anew.
            session.home = obshost.ObsHome(os.path.join(session.tmp, "light-home"), sandbox.base_url)
            session.home.write_tokens("geometry-access", "geometry-refresh")
            session.home.use_light_theme(session.host)
        obs = started(session)
        session.show_dock(obs)
        dock = accessibility.Dock()
        dock.wait_until(lambda: dock.is_showing(dock.button("Pobierz")), "the update banner")
        dock.wait_until(lambda: len(dock.rows(PENDING_TITLE)) == 3, "three messages waiting", timeout=20)
        dock.wait_until(lambda: len(dock.rows("Ostatnie wpłaty")) == 3, "three donations", timeout=20)
        for width, height, name in WINDOWS:
            obs.fill_screen(width, height)
            wait_for_window(accessibility, width, height)
            failed += geometry_faults(session, accessibility, "%s %s" % (name, theme))
            session.screenshot("e2e-dock-%s-%s.png" % (name, theme))
            # The README's close-up of the dock.
            session.screenshot("e2e-dock-only-%s-%s.png" % (name, theme), accessibility.extents(dock.root))
        if theme == "dark":
            switch_remote_control_off(session, accessibility, dock)
        # Squeezed in the laptop's window.
        drag_to_smallest(session, accessibility)
        failed += geometry_faults(session, accessibility, "smallest %s" % theme)
        width = accessibility.extents(accessibility.Dock().root)[2]
        if width > SMALLEST_WIDTH:
            failed.append("smallest %s: the dock is %d wide, OBS's own docks go to %d" % (theme, width, SMALLEST_WIDTH))
        session.screenshot("e2e-dock-smallest-%s.png" % theme)
        status, _ = obs.quit()
        check(status == 0, "OBS exited with status %d" % status)
    check(not failed, "the dock does not fit:\n" + "\n".join(failed))


# What donors wrote: one long, one without spaces, one with emoji.
DONATIONS = [
    ("Kasia", "Dzięki za dzisiejszy stream, pozdrawiam całą ekipę i czekam na następny odcinek!"),
    ("Bartek_z_Poznania", "Zaglądamnakażdystreamodpoczątkuiwciążniewiemjakwytytrzymujesztylegodzin"),
    ("Ola 🎉", "Na kawę ☕ i dalsze granie 🎮"),
]
MESSAGES = [
    ("Marek", "Czy zagrasz jeszcze dziś w tę grę z poprzedniego odcinka? Bardzo proszę!"),
    ("Zosia 🌸", "Pozdrowienia z Krakowa 💜"),
    ("Anonim", "Brawo!"),
]


def switch_remote_control_off(session, accessibility, dock):
    """The settings behind ⚙ are found and pressed by name, and the choice is remembered."""
    role = accessibility.Atspi.Role
    settings = dock.button("Ustawienia", roles=(role.PUSH_BUTTON, role.TOGGLE_BUTTON, role.CHECK_BOX))
    accessibility.do_action(settings, ("Press", "Toggle"))
    remote = dock.button("Zdalne sterowanie przez obs-websocket", roles=(role.CHECK_BOX,))
    dock.wait_until(lambda: dock.is_showing(remote), "the settings shown")
    accessibility.do_action(remote, ("Press", "Toggle"))
    deadline = time.monotonic() + 10
    while "WebsocketVendorEnabled=false" not in open(session.home.settings_file).read():
        check(time.monotonic() < deadline, "the settings' check box did not switch remote control off")
        time.sleep(0.1)
    accessibility.do_action(settings, ("Press", "Toggle"))
    dock.wait_until(lambda: not dock.is_showing(remote), "the settings hidden")


def wait_for_window(accessibility, width, height):
    deadline = time.monotonic() + 10
    while accessibility.main_window_extents()[2:] != (width, height):
        check(time.monotonic() < deadline, "OBS's window is not %d×%d" % (width, height))
        time.sleep(0.1)
    time.sleep(0.5)  # the docks are laid out from the window's resize event


def drag_to_smallest(session, accessibility):
    """Drags the separators beside and below the dock as far as they go, as a streamer squeezes it; again
    while a drag still moves one (a press that came before OBS had laid the window out moves nothing)."""
    before = None
    for _ in range(3):
        x, y, width, height = accessibility.extents(accessibility.Dock().root)
        if (width, height) == before:
            return
        before = width, height
        window_x, window_y, window_width, window_height = accessibility.main_window_extents()
        drag(session, (x - 2, y + height // 2), (window_x + window_width, y + height // 2))
        time.sleep(0.5)
        x, y, width, height = accessibility.extents(accessibility.Dock().root)
        drag(session, (x + width // 2, y + height + 2), (x + width // 2, window_y))
        time.sleep(0.5)


def drag(session, start, end):
    xdotool(session, "mousemove", str(start[0]), str(start[1]), "mousedown", "1")
    for step in range(1, 11):
        point = [start[i] + (end[i] - start[i]) * step // 10 for i in range(2)]
        xdotool(session, "mousemove", str(point[0]), str(point[1]))
    xdotool(session, "mouseup", "1")


def geometry_faults(session, accessibility, where):
    """What is wrong with the dock's geometry now, one line a fault."""
    faults = []
    dock = accessibility.Dock()
    box = accessibility.extents(dock.root)
    print("%s: the dock at %r" % (where, box))
    for name, other in accessibility.docks_named(OBS_DOCKS).items():
        common = accessibility.intersection(box, accessibility.extents(other))
        if common:
            faults.append("%s: the dock covers %s's %d×%d" % (where, name, common[2], common[3]))

    window = accessibility.main_window_extents()
    if accessibility.intersection(box, window) != box:
        faults.append("%s: the dock at %r lies outside OBS's window at %r" % (where, box, window))
    # Every part is drawn clipped to the dock; what the clipping cuts is checked below.
    # The title bar's Float and Close are OBS's (OBS 32 draws them 2 pixels into each other): the dock's
    # own parts are those below its title bar.
    parts = [entry for entry in accessibility.shown_parts(dock.root) if len(entry[3]) > 1]
    boxes = {node: whole for node, whole, _, _ in parts}
    for node, whole, part, ancestors in parts:
        # A button or check box is never cut, but by the edge of what scrolls (a list, or the dock's
        # content when the dock is short): an ancestor that does not hold the next one's box.
        held = [boxes.get(a) for a in ancestors[1:]]
        scrolled = any(
            outer and inner and accessibility.intersection(outer, inner) != inner
            for outer, inner in zip(held, held[1:])
        )
        if role(node) in PRESSABLE and part and part != whole and not scrolled:
            faults.append("%s: %s is cut: %r of %r shows" % (where, named(node), part, whole))
    controls = [(node, part, ancestors) for node, _, part, ancestors in parts if part and role(node) in CONTROL_ROLES]
    for index, (node, part, ancestors) in enumerate(controls):
        for other, other_part, other_ancestors in controls[index + 1 :]:
            common = node not in other_ancestors and accessibility.intersection(part, other_part)
            if common:
                faults.append("%s: %s and %s overlap by %r" % (where, named(node), named(other), common[2:]))

    # A whole pending row: every part of it shows, and it holds both buttons. A row is what holds a ✓
    # ("Akceptuj"); Qt 5 and Qt 6 nest it differently below the list.
    pending = dock.list_of(PENDING_TITLE)
    rows = [ancestors[-1] for node, _, _, ancestors in parts if pending in ancestors and node.get_name() == "Akceptuj"]
    whole_rows = [
        row
        for row in rows
        if all(whole == part for _, whole, part, ancestors in parts if row in ancestors)
        and sorted(node.get_name() for node, _, _, ancestors in parts if row in ancestors and role(node) in PRESSABLE)
        == ["Akceptuj", "Odrzuć"]
    ]
    print("%s: %d whole pending rows show" % (where, len(whole_rows)))
    if not whole_rows:
        faults.append("%s: no whole pending row with its two buttons shows" % where)
    return faults


def role(node):
    return node.get_role_name()


def named(node):
    return "%s %r" % (node.get_role_name(), node.get_name())


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
