"""Starts the standalone sandbox service and drives it through its control endpoints."""

import json
import re
import subprocess
import time
import urllib.request


class Sandbox:
    calls = 0  # control calls made, each on a connection of its own

    def __init__(self, executable, port=0, args=()):
        self.proc = subprocess.Popen(
            [executable, "--port", str(port), *args], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True
        )
        line = self.proc.stdout.readline()
        match = re.search(r"listening on (https?://127\.0\.0\.1:(\d+))", line)
        if not match:
            self.proc.kill()
            raise AssertionError("sandbox did not start: %r" % line)
        self.base_url = match.group(1)

    @classmethod
    def running_at(cls, base_url):
        """A client of a sandbox that another process started and stops."""
        sandbox = cls.__new__(cls)
        sandbox.proc = None
        sandbox.base_url = base_url
        return sandbox

    def call(self, method, path, body=None, timeout=10):
        self.calls += 1
        data = None if body is None else json.dumps(body).encode()
        request = urllib.request.Request(
            self.base_url + path, data=data, method=method, headers={"Content-Type": "application/json"}
        )
        with urllib.request.urlopen(request, timeout=timeout) as answer:
            text = answer.read().decode()
        return json.loads(text) if text else None

    def requests(self):
        return self.call("GET", "/_sandbox/requests")

    def requests_to(self, path, method=None):
        return [r for r in self.requests() if r["path"] == path and (method is None or r["method"] == method)]

    def wait_for_request(self, path, count=1, method=None, timeout=20):
        deadline = time.monotonic() + timeout
        while True:
            found = self.requests_to(path, method)
            if len(found) >= count:
                return found
            if time.monotonic() > deadline:
                raise AssertionError("sandbox saw %d of %d requests to %s" % (len(found), count, path))
            time.sleep(0.2)

    def next_requests(self, path, count=1, method=None, timeout=20):
        """Waits for `count` more requests to path than it has seen so far: the plug-in's next polls of it. A
        poll is not sent again while its last one is unanswered, so by the second the first one's answer has
        been taken in."""
        return self.wait_for_request(path, len(self.requests_to(path, method)) + count, method, timeout)

    def state(self):
        return self.call("GET", "/_sandbox/state")

    def set_state(self, values):
        return self.call("POST", "/_sandbox/state", values)

    def accept_tokens(self, access_token, refresh_token):
        """Makes the service honour a sign-in that no browser went through (see ObsHome.write_tokens)."""
        tokens = self.state()
        access = dict(tokens.get("oauth.accessTokens") or {}, **{access_token: True})
        refresh = dict(tokens.get("oauth.refreshTokens") or {}, **{refresh_token: True})
        self.set_state({"oauth.accessTokens": access, "oauth.refreshTokens": refresh})

    def post_donation(self, donation=None):
        """A new donation arrives (a made-up one without an argument); returns it as the service keeps it."""
        return self.call("POST", "/_sandbox/donations", donation or {})

    def set_fault(self, fault):
        return self.call("POST", "/_sandbox/faults", fault)

    def clear_faults(self):
        return self.call("DELETE", "/_sandbox/faults")

    def traffic(self):
        """Connections accepted and TLS handshakes made so far, this call's own connection included."""
        return self.call("GET", "/_sandbox/traffic")

    def release(self):
        return self.call("POST", "/_sandbox/release")

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
