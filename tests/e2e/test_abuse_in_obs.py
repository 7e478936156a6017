"""The plug-in in Debian's real OBS while things go wrong around it: the service fails and then stops
answering mid-session, comes back, is still hanging when the streamer quits, and the saved sign-in is
unreadable and then corrupt at the next starts. OBS must stay usable, keep what the dock shows and say
that the service fails, send the streamer's presses at once, quit cleanly, and start signed out rather
than fall over."""

import os
import time

from obsdriver import obshost
from obsdriver.obshost import check
from obsdriver.browser import opened_urls, url_catcher, wait_for_url

PREFIX = r"\[tiplark-obs-plugin\] "
USER_NAME = "Streamer Testowy"
DONATIONS = "Ostatnie wpłaty"
PENDING = "Oczekujące na moderację"
POLLED = ("/v1/moderation", "/v1/moderation/moderate/pending-messages", "/v1/donations")
ACCESS_TOKEN, REFRESH_TOKEN = "abuse-access-token", "abuse-refresh-token"
NOT_ANSWERING = "Tiplark nie odpowiada, ponawiam próby. Ostatnia odpowiedź o "
RETURNING = {
    "id": "0190c3b2-aaaa-7000-8000-000000000001",
    "nickname": "Powrót_serwisu",
    "amount": 21.37,
    "currency": "PLN",
    "message_content": "Już działa?",
    "payment_method": "blik",
    "created_at": "2026-12-07T20:00:00Z",
}


def main():
    args = obshost.parse_arguments()

    started = time.monotonic()
    with obshost.session_with_sandbox(args) as (session, sandbox):
        accessibility = session.use_accessibility()
        urls = url_catcher(os.path.join(session.tmp, "bin"))
        stage = Stages(session, sandbox, accessibility, urls)
        stage.signed_in()
        stage.service_fails()
        stage.service_hangs()
        stage.service_returns()
        stage.quit_while_hanging()
        saved = open(session.home.token_file).read()
        stage.token_file_unreadable()
        stage.token_file_pipe()
        stage.token_file_corrupt(saved)
        check(not session.home.crash_reports, "OBS wrote crash reports: %r" % session.home.crash_reports)
    print("e2e abuse: ok in %.1f s" % (time.monotonic() - started))


class Stages:
    def __init__(self, session, sandbox, accessibility, urls):
        self.session = session
        self.sandbox = sandbox
        self.accessibility = accessibility
        self.urls = urls
        self.obs = None
        self.dock = None

    def start(self):
        self.obs = self.session.start_obs(path_prefix=os.path.dirname(self.urls))
        self.session.show_dock(self.obs)
        self.obs.fill_screen()
        self.dock = self.accessibility.Dock()

    def lists(self):
        return self.dock.row_texts(PENDING), self.dock.row_texts(DONATIONS)

    def row_paths(self, title):
        """The rows' places in the accessibility tree: a row drawn anew gets a new one."""
        return [row.path for row in self.dock.rows(title)]

    def connection_line(self):
        return [
            node
            for node in self.dock.nodes()
            if (node.get_name() or "").startswith(NOT_ANSWERING) and self.dock.is_showing(node)
        ]

    def polls_started(self, path, count):
        """Waits until the dock has sent `count` more GETs to a polled path than it had."""
        before = len(self.sandbox.requests_to(path, "GET"))
        return self.sandbox.wait_for_request(path, count=before + count, method="GET", timeout=12)

    def hold_polls(self):
        self.sandbox.set_fault([{"path": path, "kind": "hold", "method": "GET"} for path in POLLED])

    def signed_in(self):
        """A saved sign-in; the first poll fills both lists (two pending, three donations)."""
        self.sandbox.accept_tokens(ACCESS_TOKEN, REFRESH_TOKEN)
        self.session.home.write_tokens(ACCESS_TOKEN, REFRESH_TOKEN)
        self.start()
        self.obs.wait_for(PREFIX + "Tiplark: Tokens loaded")
        dock = self.dock
        dock.wait_until(lambda: USER_NAME in dock.labels(), "the user name")
        dock.wait_until(lambda: [len(rows) for rows in self.lists()] == [2, 3], "both lists filled", timeout=12)
        dock.wait_until(lambda: dock.is_showing(dock.button("Pobierz")), "the update banner")
        self.filled = self.lists()
        # A tick with the same answers keeps every row as it is.
        rows = self.row_paths(PENDING), self.row_paths(DONATIONS)
        self.polls_started("/v1/donations", 2)
        check((self.row_paths(PENDING), self.row_paths(DONATIONS)) == rows, "rows were drawn anew by a tick")
        self.donation_rows = rows[1]
        check(not self.connection_line(), "the connection line while the service answers")

    def service_fails(self):
        """One poll of failures (connection dropped, server errors): logged, and the lists stay."""
        log_at = len(self.obs.log())
        self.sandbox.set_fault(
            [
                {"path": "/v1/moderation", "kind": "close", "method": "GET"},
                {
                    "path": "/v1/moderation/moderate/pending-messages",
                    "kind": "respond",
                    "status": 500,
                    "body": '{"error":"internal"}',
                },
                {
                    "path": "/v1/donations",
                    "kind": "respond",
                    "status": 503,
                    "body": "Service Unavailable",
                    "contentType": "text/plain",
                    "method": "GET",
                },
            ]
        )
        self.obs.wait_for(PREFIX + "Tiplark API error: HTTP 503", timeout=12, after=log_at)
        self.obs.wait_for(PREFIX + "Tiplark API error: HTTP 500", timeout=12, after=log_at)
        self.obs.wait_for(PREFIX + "Tiplark API error: HTTP -1", timeout=12, after=log_at)
        check(self.lists() == self.filled, "the lists changed after failed polls: %r" % (self.lists(),))
        check(self.dock.is_enabled(self.dock.button("Wyłącz moderację")), "moderation no longer shown as on")
        self.dock.wait_until(self.connection_line, "the line saying that the service fails")
        self.session.screenshot("e2e-abuse-connection-line.png")
        self.sandbox.clear_faults()
        self.dock.wait_until(lambda: not self.connection_line(), "the connection line to go", timeout=12)

    def service_hangs(self):
        """The service accepts the polls and never answers: the dock keeps its lists and OBS its wits."""
        dock = self.dock
        self.hold_polls()
        before = {path: len(self.sandbox.requests_to(path, "GET")) for path in POLLED}
        # A read is sent again only once its last answer has been taken in: whatever was on its way is back.
        for path in POLLED:
            self.sandbox.wait_for_request(path, count=before[path] + 1, method="GET", timeout=12)
        check(self.lists() == self.filled, "the lists changed while the service hung: %r" % (self.lists(),))

        # The GUI thread is free: the tree answers at once, and presses take effect.
        lookups = []
        for _ in range(5):
            begun = time.monotonic()
            dock.labels()
            lookups.append(time.monotonic() - begun)
        print("label lookups while the service hangs: %s ms" % ", ".join("%.0f" % (s * 1000) for s in lookups))
        opened = len(opened_urls(self.urls))
        dock.press(dock.button("Pobierz"))
        url = wait_for_url(self.urls, opened + 1, timeout=5)
        check(url.endswith("/downloads/tiplark-obs-plugin-1.1.0-linux.tar.gz"), "update address: " + url)
        # Presses go out while every read hangs: they have threads of their own.
        self.accepted, _ = dock.press_in_first_row(PENDING, "Akceptuj")
        dock.press(dock.button("Pomiń"))
        self.sandbox.wait_for_request("/v1/donations/queue/skip", method="POST", timeout=10)
        accepts = [r for r in self.sandbox.requests() if r["method"] == "PATCH"]
        check(len(accepts) == 1 and '"accept"' in accepts[0]["body"], "no accept during the hang: %r" % accepts)
        # The accepted message leaves the pending list with the service's answer to it; no read came back,
        # so nothing else moves.
        after_accept = ([texts for texts in self.filled[0] if texts != self.accepted], self.filled[1])
        dock.wait_until(lambda: self.lists() == after_accept, "the accepted message to leave its list", timeout=10)
        seen = len(self.sandbox.requests())
        # The line comes with a tick that finds the reads still unanswered.
        dock.wait_until(self.connection_line, "the line saying that the service hangs", timeout=12)
        print("requests reaching the service while it hung:", len(self.sandbox.requests()) - seen)
        check(self.lists() == after_accept, "the lists changed while the service hung: %r" % (self.lists(),))
        self.session.screenshot("e2e-abuse-service-hangs.png")

    def service_returns(self):
        """Faults cleared and held requests let go: the next answers refresh both lists."""
        self.sandbox.clear_faults()
        self.sandbox.post_donation(dict(RETURNING))
        self.sandbox.release()
        dock = self.dock
        dock.wait_until(
            lambda: any(RETURNING["nickname"] in texts for texts in dock.row_texts(PENDING)),
            "the new pending message after the service came back",
            timeout=12,
        )
        pending, donations = self.lists()
        kept = [texts for texts in self.filled[0] if texts != self.accepted]
        check(len(pending) == 2 and pending[:1] == kept, "pending list after return: %r" % (pending,))
        # The message accepted during the hang came in on top; the rows below it are the ones drawn before.
        check(donations == [self.accepted] + self.filled[1], "donations after return: %r" % (donations,))
        check(self.row_paths(DONATIONS)[1:] == self.donation_rows, "donation rows were drawn anew")
        check(self.sandbox.state()["api.skips"] == 1, "the skip pressed during the hang never arrived")
        self.session.screenshot("e2e-abuse-service-back.png")

    def quit_while_hanging(self):
        """SIGINT while polls are held open: a clean, quick exit. The signal lands on a worker thread that
        waits for a held answer; OBS 29 would close its window right there, on that thread."""
        self.hold_polls()
        self.polls_started("/v1/moderation", 1)
        status, seconds = self.obs.quit(thread="Thread (pooled)")
        print("quit with held polls in %.2f s" % seconds)
        check(status == 0, "OBS exited with %d while the service hung" % status)
        check(seconds < 10, "OBS took %.1f s to quit while the service hung" % seconds)
        self.obs.wait_for(PREFIX + "plugin unloaded", timeout=1)
        # Qt reports widgets and timers touched from outside the GUI thread.
        stray = [
            line for line in self.obs.output().splitlines() if "another thread" in line or "different thread" in line
        ]
        check(not stray, "OBS quit outside its GUI thread: %r" % stray)
        self.sandbox.clear_faults()
        self.sandbox.release()

    def start_signed_out(self):
        """A start that must end signed out, touching no service operation."""
        me = len(self.sandbox.requests_to("/v1/me"))
        self.start()
        dock = self.dock
        dock.wait_until(lambda: "Nie zalogowano" in dock.labels(), "the signed-out status")
        check(dock.is_showing(dock.button("Zaloguj")), "no Zaloguj button")
        check(not dock.is_showing(dock.button("Wyloguj")), "a Wyloguj button while signed out")
        check(not dock.is_enabled(dock.button("Pomiń")), "Pomiń enabled while signed out")
        check(self.lists() == ([], []), "lists shown while signed out: %r" % (self.lists(),))
        check(len(self.sandbox.requests_to("/v1/me")) == me, "the dock asked for the user while signed out")
        check("Tiplark: Tokens loaded" not in self.obs.log(), "tokens loaded from a broken file")

    def quit_cleanly(self):
        status, _ = self.obs.quit()
        check(status == 0, "OBS exited with %d" % status)
        self.obs.wait_for(PREFIX + "plugin unloaded", timeout=1)

    def token_file_unreadable(self):
        """A folder where tokens.json belongs exists but cannot be read, not even by root."""
        path = self.session.home.token_file
        os.remove(path)
        os.mkdir(path)
        self.start_signed_out()
        self.obs.wait_for(PREFIX + "Tiplark: Failed to open token file", timeout=1)
        self.session.screenshot("e2e-abuse-token-file-unreadable.png")
        self.quit_cleanly()
        check(os.path.isdir(path), "the unreadable token file was replaced")
        os.rmdir(path)

    def token_file_pipe(self):
        """A named pipe where tokens.json belongs: reading it would wait for a writer that never comes."""
        path = self.session.home.token_file
        os.mkfifo(path, 0o600)
        self.start_signed_out()
        self.obs.wait_for(PREFIX + "Tiplark: Failed to open token file", timeout=1)
        self.quit_cleanly()
        os.remove(path)

    def token_file_corrupt(self, saved):
        """A write torn halfway: no JSON object, so no saved sign-in, and no message either."""
        with open(self.session.home.token_file, "w") as f:
            f.write(saved[: len(saved) // 2])
        self.start_signed_out()
        check("Failed to open token file" not in self.obs.log(), "a readable corrupt file reported unreadable")
        self.quit_cleanly()


if __name__ == "__main__":
    main()
