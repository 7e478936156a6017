"""Finds and presses the Tiplark dock's widgets in a running OBS through the accessibility tree.

Import only after the display's session bus is in os.environ: obshost.Session.use_accessibility() does it
and returns this module.
"""

import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402


class NotFound(AssertionError):
    pass


def _children(node):
    for index in range(node.get_child_count()):
        child = node.get_child_at_index(index)
        if child is not None:
            yield child


def _walk(node, depth=0, limit=40):
    yield node
    if depth < limit:
        for child in _children(node):
            yield from _walk(child, depth + 1, limit)


def obs_application(timeout=30):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        desktop = Atspi.get_desktop(0)
        for app in _children(desktop):
            if app.get_name() == "obs":
                return app
        time.sleep(0.2)
    raise NotFound("OBS is not in the accessibility tree")


def press_menu_item(menu, item, timeout=10, answer=None):
    """Triggers a menu bar item without opening the menu, as a screen reader does. With answer, the item
    opens a message box, whose button of that name is pressed."""
    deadline = time.monotonic() + timeout
    while True:
        for node in _walk(obs_application(timeout)):
            if node.get_role() == Atspi.Role.MENU_ITEM and node.get_name() == menu:
                for entry in _walk(node):
                    if entry is not node and entry.get_name() == item:
                        if answer is None:
                            Dock.press(entry)
                        else:
                            _press_into_message_box(entry, answer)
                        return
        if time.monotonic() > deadline:
            raise NotFound("no menu item %s > %s" % (menu, item))
        time.sleep(0.1)


def _press_into_message_box(entry, answer):
    # OBS answers a menu item's press only once the message box it opens is closed: the press gives up
    # waiting for that answer soon (libatspi's usual limits after), and the box's button is pressed.
    Atspi.set_timeout(500, 500)
    try:
        Dock.press(entry)
    except GLib.GError:
        pass
    finally:
        Atspi.set_timeout(800, 15000)
    press_button(answer)


def do_action(node, names):
    """Does the first of the node's actions that has one of these names."""
    action = node.get_action_iface()
    found = [action.get_action_name(index) for index in range(action.get_n_actions())]
    for index, name in enumerate(found):
        if name in names:
            action.do_action(index)
            return
    raise NotFound("%r has none of the actions %r, only %r" % (node.get_name(), names, found))


def press_button(name, timeout=10):
    """Presses a push button anywhere in OBS."""
    deadline = time.monotonic() + timeout
    while True:
        for node in _walk(obs_application(timeout)):
            if node.get_role() == Atspi.Role.PUSH_BUTTON and node.get_name() == name:
                Dock.press(node)
                return
        if time.monotonic() > deadline:
            raise NotFound("no button %r in OBS" % name)
        time.sleep(0.1)


def main_window_extents(timeout=10):
    """Screen x, y, width and height of OBS's main window (its title begins with "OBS ")."""
    for node in _children(obs_application(timeout)):
        if (node.get_name() or "").startswith("OBS "):
            return extents(node)
    raise NotFound("no OBS main window")


def extents(node):
    rect = node.get_extents(Atspi.CoordType.SCREEN)
    return rect.x, rect.y, rect.width, rect.height


class Dock:
    """The Tiplark dock's subtree; lookups are by role and visible text."""

    def __init__(self, timeout=30):
        deadline = time.monotonic() + timeout
        while True:
            for node in _walk(obs_application(timeout)):
                if (
                    node.get_role() in (Atspi.Role.FRAME, Atspi.Role.WINDOW, Atspi.Role.PANEL, Atspi.Role.FILLER)
                    and node.get_name() == "Tiplark"
                ):
                    self.root = node
                    return
            if time.monotonic() > deadline:
                raise NotFound("no Tiplark dock in OBS's accessibility tree")
            time.sleep(0.2)

    def nodes(self, role=None):
        return [n for n in _walk(self.root) if role is None or n.get_role() == role]

    def labels(self):
        return [n.get_name() for n in self.nodes(Atspi.Role.LABEL)]

    def list_of(self, title):
        """The list inside the pane titled `title` ("Ostatnie wpłaty", ...)."""
        for pane in self.nodes(Atspi.Role.PANEL):
            if (pane.get_name() or "") == title:
                for node in _walk(pane):
                    if node.get_role() == Atspi.Role.LIST:
                        return node
        raise NotFound("no pane " + title)

    def rows(self, title):
        """Row nodes of the list inside the pane titled `title`."""
        return list(_children(self.list_of(title)))

    @staticmethod
    def height(node):
        return node.get_extents(Atspi.CoordType.SCREEN).height

    def row_texts(self, title):
        """The label texts of each row of a pane's list."""
        return [self.texts(row) for row in self.rows(title)]

    @staticmethod
    def texts(row):
        return [n.get_name() for n in _walk(row) if n.get_role() == Atspi.Role.LABEL]

    def button(self, name, timeout=10, within=None, roles=(Atspi.Role.PUSH_BUTTON,)):
        deadline = time.monotonic() + timeout
        while True:
            for node in _walk(within or self.root):
                if node.get_role() in roles and node.get_name() == name:
                    return node
            if time.monotonic() > deadline:
                raise NotFound("no button %r" % name)
            time.sleep(0.1)

    @staticmethod
    def is_enabled(node):
        return node.get_state_set().contains(Atspi.StateType.ENABLED)

    @staticmethod
    def is_showing(node):
        return node.get_state_set().contains(Atspi.StateType.SHOWING)

    @staticmethod
    def press(node):
        action = node.get_action_iface()
        for index in range(action.get_n_actions()):
            if action.get_action_name(index) == "Press":
                action.do_action(index)
                return
        raise NotFound("button %r has no Press action" % node.get_name())

    def press_in_first_row(self, title, name):
        """Reads the first row of a list and presses its button in one look, again if a tick rebuilt the
        list meanwhile; returns the row's texts and how many rows there were."""

        def attempt():
            rows = self.rows(title)
            texts = self.texts(rows[0])
            self.press(self.button(name, within=rows[0]))
            return texts, len(rows)

        return self.wait_until(attempt, "the %s of the first row of %s" % (name, title))

    def wait_until(self, predicate, what, timeout=15):
        """Presses return before the slot runs: tests wait for the effect. Every answer rebuilds its list,
        so a row can vanish while it is being read: that look counts as not yet."""
        deadline = time.monotonic() + timeout
        while True:
            try:
                value = predicate()
            except GLib.GError:
                value = None
            if value:
                return value
            if time.monotonic() > deadline:
                raise NotFound("timed out waiting for " + what)
            time.sleep(0.1)


def docks_named(names, timeout=10):
    """OBS's docks of these titles that are shown: title -> node (the outermost node of that name)."""
    found = {}
    for node in _walk(obs_application(timeout)):
        name = node.get_name()
        if (
            name in names
            and name not in found
            and node.get_role() in (Atspi.Role.FRAME, Atspi.Role.WINDOW, Atspi.Role.PANEL, Atspi.Role.FILLER)
            and Dock.is_showing(node)
        ):
            found[name] = node
    return found


def shown_parts(root):
    """(node, box, visible part, ancestors) of every shown node below root. Each widget is drawn clipped
    to its ancestors: the visible part is what they let through (None when scrolled out of sight)."""

    def walk(node, clip, ancestors):
        for child in _children(node):
            if not Dock.is_showing(child):
                continue
            box = extents(child)
            if box[2] <= 0 or box[3] <= 0:
                continue
            part = intersection(box, clip)
            yield child, box, part, ancestors
            if part:
                yield from walk(child, part, ancestors + (child,))

    return list(walk(root, extents(root), (root,)))


def intersection(a, b):
    """The common part of two boxes (x, y, width, height), or None."""
    x, y = max(a[0], b[0]), max(a[1], b[1])
    right, bottom = min(a[0] + a[2], b[0] + b[2]), min(a[1] + a[3], b[1] + b[3])
    return (x, y, right - x, bottom - y) if right > x and bottom > y else None
