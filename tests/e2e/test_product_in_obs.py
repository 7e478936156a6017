"""The whole product in Debian's real OBS, against the sandbox service: a streamer signs in through the
browser, watches donations and the moderation queue fill, accepts a message, switches moderation off
(the pending rows are still read) and on, sees the update banner, skips while the service holds the
request (one press, one request, the failure shown), quits with a request hanging, comes back signed in
while the user read fails at first, survives an expired access token with exactly one refresh, and signs
out while three reads are on their way. The first run uses OBS's default dark theme, the second its
light one; each state is photographed in both."""

import contextlib
import json
import os
import socket
import subprocess
import sys
import time
import urllib.parse

from obsdriver import obshost
from obsdriver.obshost import check
from obsdriver.browser import browse, url_catcher, wait_for_url

PREFIX = r"\[tiplark-obs-plugin\] "
USER_NAME = "Streamer Testowy"
PENDING = "/v1/moderation/moderate/pending-messages"


def main():
    args = obshost.parse_arguments()

    with obshost.session_with_sandbox(args) as (session, sandbox):
        run(session, sandbox, args)
    print("e2e product: ok")


def run(session, sandbox, args):
    accessibility = session.use_accessibility()

    sandbox.set_state(
        {
            "api.userName": USER_NAME,
            "api.moderationEnabled": True,
            "api.update": {
                "version": "1.1.0",
                "download_url": "https://tiplark.pl/obs",
                "download_url_linux": "https://tiplark.pl/obs/linux",
            },
        }
    )
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
    check("Dostępna aktualizacja!" in dock.labels(), "the banner's text")
    check("Brak wpłat" in dock.labels(), "the empty donation list says nothing")
    session.screenshot("e2e-empty-dark.png")

    # Sign in through the browser, after a page or local process has sent a redirect of its own, slowly,
    # while a local process holds 8 idle connections to the listener and reopens at once each one closed.
    dock.press(dock.button("Zaloguj"))
    authorization = wait_for_url(urls, 1)
    with held_connections(authorization, 8):
        forge_redirect(authorization)
        obs.wait_for(PREFIX + "Tiplark: OAuth state mismatch", timeout=10)
        browse(authorization, session.artifact("e2e-sign-in-page.png"), session.tmp)
        obs.wait_for(PREFIX + "Tiplark: Authentication successful, tokens saved", timeout=20)
    exchanges = sandbox.requests_to("/oauth/token", "POST")
    check(len(exchanges) == 1 and "forged" not in exchanges[0]["body"], "the forged code was exchanged")
    dock.wait_until(lambda: USER_NAME in dock.labels(), "the user name")
    # The name as read from the answer, and as received: once each.
    log = obs.log()
    check(
        log.count(PREFIX.replace("\\", "") + "Tiplark: Parsed username: '%s'" % USER_NAME) == 1
        and log.count(PREFIX.replace("\\", "") + "Tiplark: User info received: %s" % USER_NAME) == 1
        and log.count(USER_NAME) == 2,
        "the user name is not logged once in each of its two lines",
    )
    check(os.stat(session.home.token_file).st_mode & 0o777 == 0o600, "tokens.json is not 0600")

    # Donations and pending messages within two ticks.
    dock.wait_until(lambda: len(dock.rows("Ostatnie wpłaty")) >= 2, "donation rows", timeout=12)
    dock.wait_until(lambda: dock.rows("Oczekujące na moderację"), "pending rows", timeout=12)
    session.screenshot("e2e-signed-in.png")

    # 40 messages wait, the oldest first as the service lists its queue: the 30 that have waited longest
    # are shown, and the pane says how many more wait.
    sandbox.set_state({"api.pending": [waiting(i) for i in range(40)]})
    dock.wait_until(lambda: "+ 10 kolejnych czeka" in dock.labels(), "the line of those beyond the cap", timeout=12)
    check(len(dock.rows("Oczekujące na moderację")) == 30, "not 30 pending rows")
    check(dock.row_texts("Oczekujące na moderację")[0][0] == "Czeka 00", "the longest waiting is not at the top")
    session.screenshot("e2e-queue.png")

    # Accept the first pending message with its ✓ button ("Akceptuj" to a screen reader): the one that has
    # waited longest leaves the list, and the next one beyond the cap comes in.
    first, _ = dock.press_in_first_row("Oczekujące na moderację", "Akceptuj")
    dock.wait_until(lambda: "+ 9 kolejnych czeka" in dock.labels(), "the accepted message to leave the list")
    patches = [
        r for r in sandbox.requests() if r["method"] == "PATCH" and r["path"].startswith("/v1/moderation/moderate/")
    ]
    check(
        len(patches) == 1 and patches[0]["path"].endswith("/w-00") and '"accept"' in patches[0]["body"],
        "no accept request for the longest waiting: %r" % patches,
    )
    print("accepted:", first)

    # Moderation off, then on again. Off, the rows still shown are read on, so that none stays with live
    # buttons unread.
    enable, disable = dock.button("Włącz moderację"), dock.button("Wyłącz moderację")
    dock.wait_until(lambda: dock.is_enabled(disable) and not dock.is_enabled(enable), "moderation on")
    dock.press(disable)
    dock.wait_until(lambda: dock.is_enabled(enable) and not dock.is_enabled(disable), "moderation off")
    check(sandbox.state()["api.moderationEnabled"] is False, "the service still moderates")
    check(dock.rows("Oczekujące na moderację"), "the pending rows went with moderation")
    reads = len(sandbox.requests_to(PENDING))
    sandbox.wait_for_request(PENDING, count=reads + 1, timeout=12)
    skip_once(session, sandbox, dock, "dark")
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

    # Back signed in from tokens.json, on the light theme, while the user read fails at first: the dock
    # says the service fails, and asks again until it has the name.
    session.home.use_light_theme(session.host)
    # Refused at start and at the first tick, which brings the rows: the rows, the banner and the line.
    sandbox.set_fault({"path": "/v1/me", "kind": "respond", "status": 503, "body": "{}", "times": 2})
    obs = session.start_obs(path_prefix=os.path.dirname(urls))
    obs.wait_for(PREFIX + "Tiplark: Tokens loaded")
    dock = accessibility.Dock()
    failing = lambda: any(label.startswith("Tiplark nie odpowiada") for label in dock.labels())
    dock.wait_until(failing, "the line that the service fails")
    one_whole_row(dock)
    # Signed in and not yet named: the label says so, never "Nie zalogowano" beside "Wyloguj".
    check(failing() and "Zalogowano" in dock.labels(), "the failing state passed too soon")
    session.screenshot("e2e-failing-light.png")
    dock.wait_until(lambda: USER_NAME in dock.labels(), "the user name after restart", timeout=20)
    dock.wait_until(lambda: not failing(), "the line to go once the service answers")
    check(len(sandbox.requests_to("/v1/me")) >= 2, "the user read was not asked again")
    skip_once(session, sandbox, dock, "light")
    refreshes_before = refresh_count(sandbox)
    tokens = sandbox.state().get("oauth.accessTokens", {})
    sandbox.set_state({"oauth.accessTokens": {token: False for token in tokens}})
    deadline = time.monotonic() + 20
    while refresh_count(sandbox) == refreshes_before and time.monotonic() < deadline:
        time.sleep(0.2)
    obs.wait_for(PREFIX + "Tiplark: Token refreshed", timeout=10)
    sandbox.next_requests("/v1/donations", count=2, method="GET")  # one more tick with the new token, answered
    check(
        refresh_count(sandbox) == refreshes_before + 1,
        "%d refreshes for one expired token" % (refresh_count(sandbox) - refreshes_before),
    )
    check("Tiplark: Logged out" not in obs.log(), "the streamer was signed out")
    check(USER_NAME in dock.labels(), "the dock no longer shows the user")
    session.screenshot("e2e-after-refresh.png")
    signed_out_with_reads_on_their_way(session, sandbox, dock, obs)
    status, _ = obs.quit()
    check(status == 0, "OBS exited with %d" % status)


def waiting(i):
    """A message that has waited since i minutes past noon."""
    return {
        "id": "w-%02d" % i,
        "nickname": "Czeka %02d" % i,
        "message_content": "Wiadomość %d" % i,
        "amount": 5,
        "currency": "PLN",
        "created_at": "2024-05-01T12:%02d:00Z" % i,
    }


def skip_once(session, sandbox, dock, theme):
    """Two presses of "Pomiń" while the service holds the request: one request, the button waits; the
    failure is shown in the dock, and the press can be made again."""
    sandbox.set_fault({"path": "/v1/donations/queue/skip", "kind": "hold"})
    skips = len(sandbox.requests_to("/v1/donations/queue/skip"))
    skip = dock.button("Pomiń")
    dock.press(skip)
    dock.press(skip)
    sandbox.wait_for_request("/v1/donations/queue/skip", count=skips + 1)
    dock.wait_until(lambda: not dock.is_enabled(skip), "the skip button to wait for its answer")
    session.screenshot("e2e-busy-%s.png" % theme)
    sandbox.clear_faults()
    sandbox.release()  # answered 503
    failed = "Nie udało się pominąć alertu. Spróbuj ponownie."
    dock.wait_until(lambda: failed in dock.labels() and dock.is_enabled(skip), "the failed skip to be told")
    session.screenshot("e2e-failed-skip-%s.png" % theme)
    check(len(sandbox.requests_to("/v1/donations/queue/skip")) == skips + 1, "one press sent two requests")
    dock.press(skip)
    dock.wait_until(lambda: failed not in dock.labels(), "the skip made again")


def one_whole_row(dock):
    """In OBS's 900-pixel window, with the update banner and the line that the service fails, the pending
    list holds at least one whole row."""
    dock.wait_until(lambda: dock.rows("Oczekujące na moderację"), "pending rows")
    rows = dock.rows("Oczekujące na moderację")
    listed, row = dock.height(dock.list_of("Oczekujące na moderację")), max(dock.height(r) for r in rows)
    check(listed >= row, "the pending list is %d pixels high, its tallest row %d" % (listed, row))


def signed_out_with_reads_on_their_way(session, sandbox, dock, obs):
    """ "Wyloguj" while the three polled reads are on their way: when they answer, nothing of the session
    comes back."""
    late = [
        ("/v1/moderation", {"data": {"enabled": True}}),
        (PENDING, {"data": [{"id": "late-%d" % i, "nickname": "Spóźniony", "amount": 5} for i in range(3)]}),
        ("/v1/donations", {"data": [{"id": "old-%d" % i, "nickname": "Dawny", "amount": 5} for i in range(2)]}),
    ]
    counts = {path: len(sandbox.requests_to(path, "GET")) for path, _ in late}
    sandbox.set_fault(
        [
            {"path": path, "method": "GET", "kind": "respond", "status": 200, "body": json.dumps(body), "delayMs": 4000}
            for path, body in late
        ]
    )
    for path, _ in late:
        sandbox.wait_for_request(path, count=counts[path] + 1, method="GET", timeout=12)
    signed_out_at = len(obs.log())
    dock.press(dock.button("Wyloguj"))
    # The held answers arrive; a look at the dock goes after them on the GUI thread.
    deadline = time.monotonic() + 15
    while obs.log()[signed_out_at:].count("Tiplark HTTP: Response 200") < len(late):
        check(time.monotonic() < deadline, "the held answers did not arrive")
        time.sleep(0.1)
    labels = dock.labels()
    check("Nie zalogowano" in labels and USER_NAME not in labels, "the old session's name came back")
    check(
        not dock.rows("Oczekujące na moderację") and not dock.rows("Ostatnie wpłaty"),
        "rows of the old session came back",
    )
    check(dock.is_showing(dock.button("Zaloguj")), "Zaloguj is not shown")
    for name in ("Włącz moderację", "Pomiń", "Wyłącz moderację"):
        check(not dock.is_enabled(dock.button(name)), name + " is enabled after logout")
    sandbox.clear_faults()
    session.screenshot("e2e-empty-light.png")


def forge_redirect(authorization):
    """Another page's redirect to the sign-in's listener, from a slow client: its request line comes 100 ms
    after it connected, in two pieces 20 ms apart. It gets the error page and ends nothing."""
    redirect = urllib.parse.urlsplit(
        urllib.parse.parse_qs(urllib.parse.urlsplit(authorization).query)["redirect_uri"][0]
    )
    line = ("GET %s?code=forged&state=forged HTTP/1.1\r\nHost: %s\r\n\r\n" % (redirect.path, redirect.netloc)).encode()
    with socket.create_connection((redirect.hostname, redirect.port), timeout=10) as connection:
        time.sleep(0.1)
        connection.sendall(line[:20])
        time.sleep(0.02)
        connection.sendall(line[20:])
        answer = b""
        while True:
            chunk = connection.recv(65536)
            if not chunk:
                break
            answer += chunk
    check(
        "Błąd logowania" in answer.decode("utf-8", "replace"),
        "the slow forged redirect got no error page: %r" % answer[:200],
    )


@contextlib.contextmanager
def held_connections(authorization, count):
    """Another local process keeps count connections to the sign-in's listener open, sending nothing:
    each one the listener closes is opened again at once."""
    redirect = urllib.parse.parse_qs(urllib.parse.urlsplit(authorization).query)["redirect_uri"][0]
    listener = urllib.parse.urlsplit(redirect)
    holder = subprocess.Popen(
        [sys.executable, "-c", HOLDER, listener.hostname, str(listener.port), str(count)],
        stdout=subprocess.PIPE,
        text=True,
    )
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
