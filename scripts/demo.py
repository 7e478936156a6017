"""The main job: the sandbox service on 127.0.0.1 with its donation script, and Debian's OBS with the
plug-in from the build tree (the module as shipped, pointed at the sandbox through its environment), in an
isolated OBS profile.

With a display (DISPLAY set) OBS opens on it and the sign-in page opens in the desktop's own browser;
it runs until OBS is closed or Ctrl-C. Without one, OBS runs under Xvfb and a scripted streamer signs in
(headless Chromium), waits for donations, accepts one, switches moderation off and on, saves
screenshots and quits. Either way the sandbox is stopped at the end.
"""

import argparse
import os
import shlex
import shutil
import signal
import stat
import sys
import time

from obsdriver import obshost
from obsdriver.browser import browse, url_catcher, wait_for_url
from obsdriver.sandbox_client import Sandbox

PREFIX = r"\[tiplark-obs-plugin\] "
DONATIONS = "Ostatnie wpłaty"
PENDING = "Oczekujące na moderację"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--module-dir", required=True)
    parser.add_argument("--data-dir", required=True)
    parser.add_argument("--artifacts", required=True)
    parser.add_argument("--host", choices=sorted(obshost.HOSTS), default="debian12", help="the OBS host it runs in")
    parser.add_argument("--sandbox", required=True, help="the tiplark-sandbox program")
    parser.add_argument("--port", type=int, default=0, help="the sandbox's port on 127.0.0.1 (0: a free one)")
    parser.add_argument("--donation-ms", type=int, default=4000, help="a new donation every this many ms")
    args = parser.parse_args()

    # SIGTERM ends the demo like Ctrl-C does, through the clean-up below.
    signal.signal(signal.SIGINT, interrupt)
    signal.signal(signal.SIGTERM, interrupt)
    headless = not os.environ.get("DISPLAY")
    real_xdg_open = shutil.which("xdg-open")
    user_env = dict(os.environ)
    sandbox = Sandbox(args.sandbox, args.port, ["--donation-script", str(args.donation_ms)])
    print("sandbox service:", sandbox.base_url, flush=True)
    status = 1
    try:
        with obshost.Session(
            args.module_dir, args.data_dir, args.artifacts, sandbox.base_url, use_own_display=headless, host=args.host
        ) as session:
            try:
                if headless:
                    status = scripted_streamer(session, sandbox, args)
                else:
                    status = desktop(session, real_xdg_open, user_env)
            except Exception:
                # Ctrl-C reaches the whole process group: a helper may fail first with an error of its own.
                if not interrupted:
                    raise
                stopping(session)
                status = 130
            except KeyboardInterrupt:
                stopping(session)
                status = 130
    finally:
        sandbox.stop()
        print("sandbox stopped", flush=True)
    sys.exit(status)


def stopping(session):
    """OBS quits cleanly if it is still there (it got the same Ctrl-C when run from a terminal)."""
    print("\nstopping", flush=True)
    for obs in session.running:
        if obs.proc.poll() is None:
            try:
                obs.quit()
            except (obshost.HostError, KeyboardInterrupt):
                obs.kill()


interrupted = False


def interrupt(*_):
    global interrupted
    interrupted = True
    raise KeyboardInterrupt


def desktop_url_handler(folder, real_xdg_open, user_env):
    """OBS runs with a home of its own; the browser it starts must run in the streamer's own session."""
    os.makedirs(folder, exist_ok=True)
    script = os.path.join(folder, "xdg-open")
    assignments = " ".join(shlex.quote("%s=%s" % item) for item in sorted(user_env.items()))
    with open(script, "w") as f:
        f.write('#!/bin/sh\nexec env -i %s %s "$@"\n' % (assignments, shlex.quote(real_xdg_open)))
    os.chmod(script, stat.S_IRWXU)
    return folder


def desktop(session, real_xdg_open, user_env):
    path_prefix = (
        desktop_url_handler(os.path.join(session.tmp, "bin"), real_xdg_open, user_env) if real_xdg_open else None
    )
    obs = session.start_obs(path_prefix=path_prefix)
    obs.wait_for(PREFIX + "Tiplark dock created")
    print("OBS is running with the Tiplark dock (log: %s)." % obs.log_path)
    print('Press "Zaloguj" in the Tiplark dock and sign in in your browser; donations arrive every few seconds.')
    print("Close OBS or press Ctrl-C to end.", flush=True)
    return obs.proc.wait()


def scripted_streamer(session, sandbox, args):
    accessibility = session.use_accessibility()
    urls = url_catcher(os.path.join(session.tmp, "bin"))
    obs = session.start_obs(path_prefix=os.path.dirname(urls))
    session.show_dock(obs)
    obs.fill_screen()
    print("OBS is running headless with the Tiplark dock (log: %s)" % obs.log_path, flush=True)
    dock = accessibility.Dock()
    dock.wait_until(lambda: dock.is_showing(dock.button("Pobierz")), "the update banner")
    shot(session, "demo-1-signed-out.png")

    dock.press(dock.button("Zaloguj"))
    browse(wait_for_url(urls, 1), session.artifact("demo-2-sign-in-page.png"), session.tmp)
    print("screenshot:", session.artifact("demo-2-sign-in-page.png"))
    obs.wait_for(PREFIX + "Tiplark: Authentication successful, tokens saved", timeout=20)
    name = obs.wait_for(PREFIX + "Tiplark: Parsed username: '(.*)'", timeout=20).group(1)
    print("signed in as", name, flush=True)

    # The three donations shown and two messages waiting, then one more from the donation script.
    dock.wait_until(
        lambda: len(dock.rows(DONATIONS)) >= 3 and len(dock.rows(PENDING)) >= 3,
        "donations and a new pending message",
        timeout=30,
    )
    shot(session, "demo-3-donations.png")

    # The ✓ button, by the name a screen reader hears.
    accepted, _ = dock.press_in_first_row(PENDING, "Akceptuj")
    dock.wait_until(lambda: accepted in dock.row_texts(DONATIONS), "the accepted message on air", timeout=15)
    print("accepted:", " | ".join(accepted), flush=True)
    shot(session, "demo-4-accepted.png")

    enable, disable = dock.button("Włącz moderację"), dock.button("Wyłącz moderację")
    dock.press(disable)
    dock.wait_until(lambda: dock.is_enabled(enable) and not dock.is_enabled(disable), "moderation off")
    shown = len(dock.rows(DONATIONS))
    dock.wait_until(lambda: len(dock.rows(DONATIONS)) > shown, "a donation straight on air", timeout=20)
    shot(session, "demo-5-moderation-off.png")
    dock.press(enable)
    dock.wait_until(lambda: dock.is_enabled(disable) and not dock.is_enabled(enable), "moderation on")
    time.sleep(1)
    shot(session, "demo-6-moderation-on.png")

    status, seconds = obs.quit()
    print("OBS exited with status %d in %.1f s" % (status, seconds), flush=True)
    return status


def shot(session, name):
    print("screenshot:", session.screenshot(name), flush=True)


if __name__ == "__main__":
    main()
