"""A real obs-websocket client (obs-websocket-js under Debian's Node) talking to the OBS under test.
Its packages come from tests/e2e/websocket-client (npm ci, before the tests: they run offline)."""

import json
import os
import queue
import subprocess
import threading
import time

CLIENT_DIR = os.path.join(
    os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests", "e2e", "websocket-client"
)


class WebsocketClient:
    def __init__(self, port, password, timeout=30):
        if not os.path.isdir(os.path.join(CLIENT_DIR, "node_modules", "obs-websocket-js")):
            raise AssertionError("obs-websocket-js is not installed: run npm ci --prefix " + CLIENT_DIR)
        self.proc = subprocess.Popen(
            ["node", os.path.join(CLIENT_DIR, "bridge.mjs"), str(port), password],
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            text=True,
            cwd=CLIENT_DIR,
        )
        self.answers = queue.Queue()
        self.events = []
        self.obs_events = []
        self.lock = threading.Lock()
        self.next_id = 0
        threading.Thread(target=self._read, daemon=True).start()
        deadline = time.monotonic() + timeout
        while True:
            try:
                first = self.answers.get(timeout=max(0.1, deadline - time.monotonic()))
            except queue.Empty:
                self.close()
                raise AssertionError("obs-websocket-js did not connect within %d s" % timeout)
            if first.get("connected"):
                break
            if time.monotonic() > deadline or first.get("closed"):
                self.close()
                raise AssertionError("obs-websocket-js did not connect: %r" % first)

    def _read(self):
        for line in self.proc.stdout:
            message = json.loads(line)
            if "event" in message:
                with self.lock:
                    self.events.append(message["event"])
            elif "obsEvent" in message:
                with self.lock:
                    self.obs_events.append(message["obsEvent"])
            else:
                self.answers.put(message)
        self.answers.put({"closed": True})

    def call(self, request_type, request_data=None, timeout=20):
        """The request's responseData, or raises with obs-websocket's error. Until OBS has finished loading,
        obs-websocket (OBS 31 and later) listens but performs nothing: such a request is sent again."""
        deadline = time.monotonic() + timeout
        while True:
            self.next_id += 1
            request = {"id": self.next_id, "requestType": request_type}
            if request_data is not None:
                request["requestData"] = request_data
            self.proc.stdin.write(json.dumps(request) + "\n")
            self.proc.stdin.flush()
            answer = self.answers.get(timeout=timeout)
            if "error" not in answer:
                return answer["response"]
            if "not ready" not in answer["error"] or time.monotonic() > deadline:
                raise AssertionError("%s failed: %s" % (request_type, answer["error"]))
            time.sleep(0.2)

    def vendor(self, request_type, request_data=None):
        """A request of the plug-in's vendor; its responseData."""
        call = {"vendorName": "tiplark", "requestType": request_type}
        if request_data:  # obs-websocket refuses an empty requestData
            call["requestData"] = request_data
        return self.call("CallVendorRequest", call)["responseData"]

    def vendor_events(self, event_type=None):
        with self.lock:
            return [
                e["eventData"]
                for e in self.events
                if e["vendorName"] == "tiplark" and event_type in (None, e["eventType"])
            ]

    def wait_for_event(self, event_type, predicate=lambda data: True, timeout=20):
        deadline = time.monotonic() + timeout
        while True:
            found = [e for e in self.vendor_events(event_type) if predicate(e)]
            if found:
                return found[-1]
            if time.monotonic() > deadline:
                raise AssertionError("no %s event within %d s: %r" % (event_type, timeout, self.vendor_events()))
            time.sleep(0.1)

    def profile_switches(self):
        """The profiles OBS switched to, in order, as its CurrentProfileChanged events named them."""
        with self.lock:
            return [e["eventData"]["profileName"] for e in self.obs_events if e["eventType"] == "CurrentProfileChanged"]

    def wait_for_profile(self, name, switches_before, timeout=20):
        """Waits until OBS has switched to the profile: a CurrentProfileChanged after the first switches_before
        names it, and GetProfileList agrees. From OBS 31 on, CreateProfile may answer before the new profile
        is active, and the plug-in reads its bindings when OBS says the profile changed."""
        deadline = time.monotonic() + timeout
        while name not in self.profile_switches()[switches_before:]:
            if time.monotonic() > deadline:
                raise AssertionError(
                    "no switch to profile %s within %d s: %r" % (name, timeout, self.profile_switches())
                )
            time.sleep(0.1)
        current = self.call("GetProfileList")["currentProfileName"]
        if current != name:
            raise AssertionError("switched to %s, but the current profile is %s" % (name, current))

    def close(self):
        if self.proc.poll() is None:
            self.proc.stdin.close()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
