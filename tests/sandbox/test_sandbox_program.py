"""The standalone sandbox program as the end-to-end tests and the demo use it: started on a free
port, driven through its control endpoints under /_sandbox/, stopped with SIGINT or SIGTERM."""

import argparse
import json
import signal
import subprocess
import sys
import threading
import time
import unittest
import urllib.error
import urllib.request

PROGRAM = None
# Only ever 127.0.0.1, never through a proxy from the environment.
OPENER = urllib.request.build_opener(urllib.request.ProxyHandler({}))


def without_times(value):
    """The state with every "created_at" left out: a fresh state stamps its donations with the time now."""
    if isinstance(value, dict):
        return {key: without_times(item) for key, item in value.items() if key != "created_at"}
    if isinstance(value, list):
        return [without_times(item) for item in value]
    return value


class Sandbox:
    def __init__(self, port=0):
        self.proc = subprocess.Popen([PROGRAM, "--port", str(port)], stdout=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline().strip()
        prefix = "Tiplark sandbox listening on http://127.0.0.1:"
        if not line.startswith(prefix):
            self.proc.kill()
            raise AssertionError("unexpected first line: %r" % line)
        self.port = int(line[len(prefix) :])
        self.base = "http://127.0.0.1:%d" % self.port

    def call(self, method, path, body=None, headers=None, timeout=10):
        data = None if body is None else (body if isinstance(body, bytes) else json.dumps(body).encode())
        request = urllib.request.Request(self.base + path, data=data, method=method, headers=headers or {})
        try:
            with OPENER.open(request, timeout=timeout) as response:
                return response.status, response.read()
        except urllib.error.HTTPError as error:
            return error.code, error.read()

    def stop(self, sig=signal.SIGTERM):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
        return self.proc.wait(timeout=10)


class SandboxProgramTest(unittest.TestCase):
    def setUp(self):
        self.sandbox = Sandbox()

    def tearDown(self):
        if self.sandbox.proc.poll() is None:
            self.sandbox.proc.kill()
            self.sandbox.proc.wait()

    def test_records_requests_as_received(self):
        status, _ = self.sandbox.call(
            "POST", "/test/skip?x=1", b"{}", {"X-Zeta": "1", "Content-Type": "application/json", "X-Alpha": "2"}
        )
        self.assertEqual(status, 404)
        status, body = self.sandbox.call("GET", "/_sandbox/requests")
        self.assertEqual(status, 200)
        records = json.loads(body)
        self.assertEqual(len(records), 1)  # the control calls are not recorded
        record = records[0]
        self.assertEqual(record["method"], "POST")
        self.assertEqual(record["target"], "/test/skip?x=1")
        self.assertEqual(record["path"], "/test/skip")
        self.assertEqual(record["body"], "{}")
        names = [line.split(":")[0] for line in record["headers"]]
        self.assertLess(names.index("X-Zeta"), names.index("X-Alpha"))  # wire order, not sorted

    def test_faults_and_reset(self):
        status, _ = self.sandbox.call(
            "POST",
            "/_sandbox/faults",
            [
                {"path": "/test/me", "status": 401, "body": '{"error":"expired"}', "times": 1},
                {"path": "/old", "kind": "redirect", "location": "/test/me"},
            ],
        )
        self.assertEqual(status, 200)
        self.assertEqual(self.sandbox.call("GET", "/test/me"), (401, b'{"error":"expired"}'))
        self.assertEqual(self.sandbox.call("GET", "/test/me")[0], 404)  # used up
        self.assertEqual(self.sandbox.call("GET", "/old")[0], 404)  # followed to /test/me
        self.assertEqual(self.sandbox.call("POST", "/_sandbox/faults", {"path": "/x", "kind": "nonsense"})[0], 400)

        initial = json.loads(self.sandbox.call("GET", "/_sandbox/state")[1])
        self.assertEqual(self.sandbox.call("POST", "/_sandbox/state", {"test.user": "Streamer"})[0], 200)
        self.assertEqual(
            json.loads(self.sandbox.call("GET", "/_sandbox/state")[1]), dict(initial, **{"test.user": "Streamer"})
        )
        self.assertEqual(self.sandbox.call("POST", "/_sandbox/reset")[0], 200)
        self.assertEqual(json.loads(self.sandbox.call("GET", "/_sandbox/requests")[1]), [])
        self.assertEqual(
            without_times(json.loads(self.sandbox.call("GET", "/_sandbox/state")[1])), without_times(initial)
        )
        self.assertEqual(self.sandbox.call("GET", "/old")[0], 404)
        self.assertEqual(len(json.loads(self.sandbox.call("GET", "/_sandbox/requests")[1])), 1)

    def test_held_request_released(self):
        self.sandbox.call("POST", "/_sandbox/faults", {"path": "/test/held", "kind": "hold"})
        result = {}
        client = threading.Thread(target=lambda: result.update(answer=self.sandbox.call("GET", "/test/held")))
        client.start()
        deadline = time.monotonic() + 5
        while not json.loads(self.sandbox.call("GET", "/_sandbox/requests")[1]) and time.monotonic() < deadline:
            time.sleep(0.02)
        self.assertTrue(client.is_alive())
        self.sandbox.call("POST", "/_sandbox/release")
        client.join(5)
        self.assertEqual(result["answer"][0], 503)

    @staticmethod
    def call_ignoring_errors(sandbox, path):
        try:
            sandbox.call("GET", path)
        except Exception:  # the connection ends without an answer
            pass

    def test_signals_stop_it(self):
        for sig in (signal.SIGINT, signal.SIGTERM):
            sandbox = Sandbox()
            sandbox.call("POST", "/_sandbox/faults", {"path": "/held", "kind": "hold"})
            client = threading.Thread(target=self.call_ignoring_errors, args=(sandbox, "/held"))
            client.start()
            time.sleep(0.2)
            self.assertEqual(sandbox.stop(sig), 0)  # even with a request held open
            client.join(5)

    def test_busy_port_is_refused(self):
        result = subprocess.run([PROGRAM, "--port", str(self.sandbox.port)], capture_output=True, text=True, timeout=10)
        self.assertEqual(result.returncode, 1)
        self.assertIn("cannot listen on 127.0.0.1:%d" % self.sandbox.port, result.stderr)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    args, rest = parser.parse_known_args()
    PROGRAM = args.program
    unittest.main(argv=[sys.argv[0]] + rest)
