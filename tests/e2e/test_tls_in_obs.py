"""The plug-in in Debian's real OBS against the sandbox over HTTPS, its certificate from a test CA that
the system trusts (run under tests/tls/with-test-ca.sh): a streamer signs in, the dock polls over a few
kept connections, and OBS quits cleanly."""

import os
import time
import urllib.request

from obsdriver import obshost
from obsdriver.obshost import check
from obsdriver.browser import url_catcher, wait_for_url

PREFIX = r"\[tiplark-obs-plugin\] "
USER_NAME = "Streamer Testowy"


def main():
    args = obshost.parse_arguments()
    tls = os.environ["TIPLARK_TEST_TLS_DIR"]
    certificate = [os.path.join(tls, "server.pem"), os.path.join(tls, "server.key")]
    with obshost.session_with_sandbox(args, sandbox_args=["--tls", *certificate]) as (session, sandbox):
        run(session, sandbox)
    print("e2e over TLS: ok")


def run(session, sandbox):
    check(sandbox.base_url.startswith("https://"), "the sandbox does not serve TLS: " + sandbox.base_url)
    accessibility = session.use_accessibility()
    sandbox.set_state({"api.userName": USER_NAME, "api.moderationEnabled": True})
    for _ in range(3):
        sandbox.post_donation()

    urls = url_catcher(os.path.join(session.tmp, "bin"))
    obs = session.start_obs(path_prefix=os.path.dirname(urls))
    session.show_dock(obs)
    dock = accessibility.Dock()

    # The streamer's browser: the sign-in page over TLS redirects to the plug-in's loopback listener.
    dock.press(dock.button("Zaloguj"))
    with urllib.request.urlopen(wait_for_url(urls, 1), timeout=20) as answer:
        answer.read()
    obs.wait_for(PREFIX + "Tiplark: Authentication successful, tokens saved", timeout=20)
    dock.wait_until(lambda: USER_NAME in dock.labels(), "the user name")
    dock.wait_until(lambda: len(dock.rows("Ostatnie wpłaty")) >= 3, "donation rows", timeout=12)

    # Three ticks of polls: each request would open a connection of its own without the cache.
    requests_before = len(sandbox.requests())
    before = sandbox.traffic()
    calls = sandbox.calls
    sandbox.next_requests("/v1/donations", count=3, method="GET")
    after = sandbox.traffic()
    polls = len(sandbox.requests()) - requests_before
    # Less the control calls' own: those of the wait and the second traffic call.
    connections = after["connections"] - before["connections"] - (sandbox.calls - calls)
    print("%d requests over %d new connections" % (polls, connections))
    check(polls >= 6, "only %d requests in three ticks" % polls)
    check(connections <= 3, "%d new connections for %d requests" % (connections, polls))
    session.screenshot("e2e-tls-signed-in.png")

    status, _ = obs.quit()
    check(status == 0, "OBS exited with %d" % status)
    obs.wait_for(PREFIX + "plugin unloaded", timeout=1)


if __name__ == "__main__":
    main()
