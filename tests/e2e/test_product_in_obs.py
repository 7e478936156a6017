"""The whole product in Debian's real OBS, against the sandbox service: a streamer signs in through the
browser, watches donations and the moderation queue fill, accepts a message, switches moderation off
and on, sees the update banner, quits with a request hanging, comes back signed in, and survives an
expired access token with exactly one refresh."""

import contextlib
import os
import subprocess
import sys
import time
import urllib.parse
import urllib.request

from obsdriver import obshost
from obsdriver.obshost import check
from obsdriver.browser import browse, url_catcher, wait_for_url
from obsdriver.sandbox_client import Sandbox

PREFIX = r"\[tiplark-obs-plugin\] "
USER_NAME = "Streamer Testowy"
PENDING = "/v1/moderation/moderate/pending-messages"


def main():
    args = obshost.parse_arguments()

    sandbox = Sandbox(args.sandbox)
    try:
        with obshost.Session(args.module_dir, args.data_dir, args.artifacts, sandbox.base_url,
                             host=args.host) as session:
            run(session, sandbox, args)
    finally:
        sandbox.stop()
    print("e2e product: ok")


def run(session, sandbox, args):
    accessibility = session.use_accessibility()

    sandbox.set_state({
        "api.userName": USER_NAME,
        "api.moderationEnabled": True,
        "api.update": {"version": "1.1.0", "download_url": "https://tiplark.pl/obs",
                       "download_url_linux": "https://tiplark.pl/obs/linux"},
    })
    for _ in range(3):
        sandbox.call("POST", "/_sandbox/donations", {})
    sandbox.call("POST", "/_sandbox/donations", {})
    sandbox.set_state({"api.moderationEnabled": False})
    for _ in range(2):
        sandbox.call("POST", "/_sandbox/donations", {})
    sandbox.set_state({"api.moderationEnabled": True})

    urls = url_catcher(os.path.join(session.tmp, "bin"))
    obs = session.start_obs(path_prefix=os.path.dirname(urls))
    session.show_dock(obs)
    obs.fill_screen()
    dock = accessibility.Dock()

    # The update banner: a newer version with a web address is published.
    dock.wait_until(lambda: dock.is_showing(dock.button("Pobierz")), "the update banner")

    # Sign in through the browser, after a page or local process has sent a redirect of its own, while a
    # local process holds as many idle connections to the listener as it takes at once.
    dock.press(dock.button("Zaloguj"))
    authorization = wait_for_url(urls, 1)
    forge_redirect(authorization)
    obs.wait_for(PREFIX + "Tiplark: OAuth state mismatch", timeout=10)
    with held_connections(authorization, 8):
        browse(authorization, session.artifact("e2e-sign-in-page.png"), session.tmp)
        obs.wait_for(PREFIX + "Tiplark: Authentication successful, tokens saved", timeout=20)
    exchanges = sandbox.requests_to("/oauth/token", "POST")
    check(len(exchanges) == 1 and "forged" not in exchanges[0]["body"], "the forged code was exchanged")
    dock.wait_until(lambda: USER_NAME in dock.labels(), "the user name")
    check(obs.log().count(USER_NAME) == 1, "the user name is not logged exactly once")
    check(os.stat(session.home.token_file).st_mode & 0o777 == 0o600, "tokens.json is not 0600")

    # Donations and pending messages within two ticks.
    dock.wait_until(lambda: len(dock.rows("Ostatnie wpłaty")) >= 2, "donation rows", timeout=12)
    dock.wait_until(lambda: dock.rows("Oczekujące na moderację"), "pending rows", timeout=12)
    session.screenshot("e2e-signed-in.png")

    # Accept the first pending message with its ✓ button: it leaves the list.
    first, before = dock.press_in_first_row("Oczekujące na moderację", "✓")
    sandbox.wait_for_request(PENDING, count=1)
    dock.wait_until(lambda: len(dock.rows("Oczekujące na moderację")) == before - 1,
                    "the accepted message to leave the list")
    patches = [r for r in sandbox.requests() if r["method"] == "PATCH" and
               r["path"].startswith("/v1/moderation/moderate/")]
    check(len(patches) == 1 and '"accept"' in patches[0]["body"], "no accept request: %r" % patches)
    print("accepted:", first)

    # Moderation off, then on again.
    enable, disable = dock.button("Włącz moderację"), dock.button("Wyłącz moderację")
    dock.wait_until(lambda: dock.is_enabled(disable) and not dock.is_enabled(enable), "moderation on")
    dock.press(disable)
    dock.wait_until(lambda: dock.is_enabled(enable) and not dock.is_enabled(disable), "moderation off")
    check(sandbox.state()["api.moderationEnabled"] is False, "the service still moderates")
    dock.press(enable)
    dock.wait_until(lambda: dock.is_enabled(disable) and not dock.is_enabled(enable), "moderation on again")
    session.screenshot("e2e-moderation.png")

    # Quit while the service holds a request open for 20 seconds.
    sandbox.set_fault({"path": "/v1/donations", "kind": "hold", "delayMs": 20000})
    held = len(sandbox.requests_to("/v1/donations"))
    sandbox.wait_for_request("/v1/donations", count=held + 1, timeout=12)
    status, seconds = obs.quit()
    check(status == 0, "OBS exited with %d while a request was held" % status)
    check(seconds < 5, "OBS took %.1f s to quit while a request was held" % seconds)
    print("quit with a held request in %.2f s" % seconds)
    sandbox.clear_faults()
    sandbox.release()

    # Back signed in from tokens.json; an expired access token costs exactly one refresh.
    obs = session.start_obs(path_prefix=os.path.dirname(urls))
    obs.wait_for(PREFIX + "Tiplark: Tokens loaded")
    dock = accessibility.Dock()
    dock.wait_until(lambda: USER_NAME in dock.labels(), "the user name after restart")
    refreshes_before = refresh_count(sandbox)
    tokens = sandbox.state().get("oauth.accessTokens", {})
    sandbox.set_state({"oauth.accessTokens": {token: False for token in tokens}})
    deadline = time.monotonic() + 20
    while refresh_count(sandbox) == refreshes_before and time.monotonic() < deadline:
        time.sleep(0.2)
    obs.wait_for(PREFIX + "Tiplark: Token refreshed", timeout=10)
    time.sleep(6)  # one more tick with the new token
    check(refresh_count(sandbox) == refreshes_before + 1,
          "%d refreshes for one expired token" % (refresh_count(sandbox) - refreshes_before))
    check("Tiplark: Logged out" not in obs.log(), "the streamer was signed out")
    check(USER_NAME in dock.labels(), "the dock no longer shows the user")
    session.screenshot("e2e-after-refresh.png")
    status, _ = obs.quit()
    check(status == 0, "OBS exited with %d" % status)


def forge_redirect(authorization):
    """Another page's redirect to the sign-in's listener: it gets the error page and ends nothing."""
    query = urllib.parse.parse_qs(urllib.parse.urlsplit(authorization).query)
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
    with opener.open(query["redirect_uri"][0] + "?code=forged&state=forged", timeout=10) as answer:
        check("Błąd logowania" in answer.read().decode("utf-8"), "the forged redirect got no error page")


@contextlib.contextmanager
def held_connections(authorization, count):
    """Another local process keeps count connections to the sign-in's listener open, sending nothing:
    each one the listener closes is opened again at once."""
    redirect = urllib.parse.parse_qs(urllib.parse.urlsplit(authorization).query)["redirect_uri"][0]
    listener = urllib.parse.urlsplit(redirect)
    holder = subprocess.Popen([sys.executable, "-c", HOLDER, listener.hostname, str(listener.port), str(count)],
                              stdout=subprocess.PIPE, text=True)
    try:
        check(holder.stdout.readline().strip() == "holding", "the connections were not opened")
        yield
    finally:
        holder.kill()
        holder.wait()


HOLDER = """
import select, socket, sys, time
host, port, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
held = [socket.create_connection((host, port)) for _ in range(count)]
print("holding", flush=True)
while True:
    for closed in select.select(held, [], [])[0]:
        held.remove(closed)
        closed.close()
    while len(held) < count:
        try:
            held.append(socket.create_connection((host, port)))
        except OSError:
            time.sleep(0.1)
"""


def refresh_count(sandbox):
    return len([r for r in sandbox.requests_to("/oauth/token", "POST") if "grant_type=refresh_token" in r["body"]])


if __name__ == "__main__":
    main()
