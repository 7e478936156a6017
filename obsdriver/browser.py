"""The streamer's browser in the tests and the headless demo: a stand-in xdg-open catches the addresses
OBS opens, and headless Chromium follows the sign-in page's redirect back to the plug-in."""

import os
import stat
import subprocess
import tempfile
import time


class BrowserError(AssertionError):
    pass


def url_catcher(folder):
    """Writes a stand-in for xdg-open into folder (put it first on OBS's PATH); returns the file that
    collects the addresses OBS hands it, one a line."""
    os.makedirs(folder, exist_ok=True)
    urls = os.path.join(folder, "opened-urls.txt")
    script = os.path.join(folder, "xdg-open")
    with open(script, "w") as f:
        f.write('#!/bin/sh\nprintf "%%s\\n" "$1" >> "%s"\n' % urls)
    os.chmod(script, stat.S_IRWXU)
    return urls


def opened_urls(path):
    if not os.path.exists(path):
        return []
    with open(path) as f:
        return f.read().split()


def wait_for_url(path, count, timeout=15):
    """The count-th address OBS opened (1 is the first)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        lines = opened_urls(path)
        if len(lines) >= count:
            return lines[count - 1]
        time.sleep(0.1)
    raise BrowserError("OBS opened no URL in the browser")


def browse(url, screenshot, workdir):
    """Headless Chromium as the streamer's browser: it follows the sandbox's redirect to the plug-in's
    loopback listener and saves what it shows at the end."""
    profile = tempfile.mkdtemp(dir=workdir, prefix="chromium-")
    subprocess.run(
        [
            "chromium",
            "--headless",
            "--no-sandbox",
            "--disable-gpu",
            "--disable-quic",
            "--no-first-run",
            "--disable-background-networking",
            "--disable-component-update",
            "--disable-sync",
            "--user-data-dir=" + profile,
            "--window-size=900,600",
            "--screenshot=" + screenshot,
            url,
        ],
        check=True,
        timeout=60,
        stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL,
    )
