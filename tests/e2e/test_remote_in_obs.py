"""Remote control of the dock in Debian's real OBS: a real obs-websocket client (obs-websocket-js) calls
the plug-in's vendor requests with good and bad input, triggers its hotkeys by name and by a key bound in
the profile, and receives its events; the sandbox records exactly the service requests that follow. A
start with 20 donations and 12 pending messages brings no events, no totals and no sound; each record
that arrives later brings one event. Every action ends with ActionFinished naming its subject, one cut
short by "Wyloguj" too. The chime for a new pending message is recorded from a PulseAudio null sink, OBS's
monitoring device: silent at start-up, heard when a message arrives, and absent from OBS's own recording
(a WAV file of the mix) made meanwhile. The key binding survives a restart and follows a profile change.
Labels ("Tiplark: etykieta" sources) made by the controller read, with OCR, the newest donation and the
session's sum, never a message that waits for moderation, and nothing-yet after a sign-out; the scene with
them is the README's picture."""

import base64
import json
import os
import subprocess
import time

from obsdriver import obshost
from obsdriver.audio import NullSink
from obsdriver.obshost import check
from obsdriver.websocket_client import WebsocketClient

PREFIX = r"\[tiplark-obs-plugin\] "
USER_NAME = "Streamer Zdalny"
PORT = 38455
PASSWORD = "haslo-do-obs-websocket"
BOUND_KEY = "OBS_KEY_F9"  # bound to TiplarkSkipAlert in the profile
ON_KEY = "OBS_KEY_F10"  # bound to TiplarkModerationOn
SKIP = ("POST", "/v1/donations/queue/skip", {})
PENDING = "/v1/moderation/moderate/pending-messages"
SILENCE = 0.01  # peak amplitude below which a recording counts as silent
LAST_LABEL = "Ostatnia wpłata"
TOTAL_LABEL = "Suma"
# OBS records its audio mix alone into a WAV file: FFmpeg's wav muxer, PCM, no video.
RECORDING_PROFILE = """
[Output]
Mode=Advanced

[AdvOut]
RecType=FFmpeg
FFOutputToFile=true
FFFilePath=%s
FFExtension=wav
FFFormat=wav
FFFormatMimeType=audio/x-wav
FFVEncoderId=0
FFVEncoder=
FFAEncoderId=65536
FFAEncoder=pcm_s16le
FFAudioMixes=1
FFIgnoreCompat=true
"""

DECISION_FIELDS = "messageId (string) and accept (boolean) are required"
BUSY = "busy: the same action is already under way"
# Refused requests: (request, requestData, code, error); none of them reaches the service.
REFUSED = [
    ("ModerateMessage", None, "missingField", DECISION_FIELDS),
    ("ModerateMessage", {"messageId": 7, "accept": True}, "missingField", DECISION_FIELDS),
    ("ModerateMessage", {"messageId": "7", "accept": "yes"}, "missingField", DECISION_FIELDS),
    (
        "ModerateMessage",
        {"messageId": "no-such-id", "accept": True},
        "unknownMessage",
        "no pending message with this messageId",
    ),
    ("SetModeration", None, "missingField", "enabled (boolean) is required"),
    ("SetModeration", {"enabled": 1}, "missingField", "enabled (boolean) is required"),
]


def main():
    args = obshost.parse_arguments()
    with obshost.session_with_sandbox(args) as (session, sandbox):
        sink = NullSink(session.tmp)
        try:
            run(session, sandbox, sink)
        finally:
            sink.close()
    print("e2e remote: ok")


def writes(sandbox):
    """The service requests that change something, in order: (method, path, body as JSON or None)."""
    return [
        (r["method"], r["path"], json.loads(r["body"]) if r["body"] else None)
        for r in sandbox.requests()
        if r["method"] != "GET" and r["path"].startswith("/v1/")
    ]


def expect_writes(sandbox, before, expected, timeout=15):
    """Waits until the service has seen the expected requests after the first `before`, and no others."""
    deadline = time.monotonic() + timeout
    while len(writes(sandbox)) < before + len(expected) and time.monotonic() < deadline:
        time.sleep(0.1)
    time.sleep(0.5)  # anything more would have come by now
    seen = writes(sandbox)[before:]
    check(seen == expected, "service requests %r, expected %r" % (seen, expected))
    return before + len(expected)


def decision(message_id, accept):
    return ("PATCH", "/v1/moderation/moderate/" + message_id, {"action": "accept" if accept else "reject"})


def switch(enabled):
    return ("PATCH", "/v1/moderation", {"enabled": enabled})


def finished(request, data):
    """The ActionFinished event of a request that succeeded, with its subject."""
    event = {"action": request, "origin": "controller", "ok": True, "code": "", "error": ""}
    if request == "ModerateMessage":
        event["messageId"] = data["messageId"]
    elif request == "SetModeration":
        event["enabled"] = data["enabled"]
    return event


def run(session, sandbox, sink):
    # A streamer signed in from an earlier run, 20 donations, then moderation on and 12 messages waiting.
    session.home.write_tokens("remote-access", "remote-refresh")
    sandbox.accept_tokens("remote-access", "remote-refresh")
    sandbox.set_state(
        {"api.userName": USER_NAME, "api.moderationEnabled": False, "api.pending": [], "api.donations": []}
    )
    for _ in range(20):
        sandbox.post_donation()
    sandbox.set_state({"api.moderationEnabled": True})
    posted = [sandbox.post_donation()["id"] for _ in range(12)]
    session.home.enable_websocket(PORT, PASSWORD)
    with open(session.home.profile_file, "a") as f:
        f.write('\n[Hotkeys]\nTiplarkSkipAlert={"bindings":[{"key":"%s"}]}\n' % BOUND_KEY)
        f.write('TiplarkModerationOn={"bindings":[{"key":"%s"}]}\n' % ON_KEY)
        f.write(NullSink.monitoring_profile(session.host.obs_version))
        f.write(RECORDING_PROFILE % session.tmp)
    os.makedirs(os.path.dirname(session.home.settings_file), exist_ok=True)
    with open(session.home.settings_file, "w") as f:
        f.write("[General]\nChimeEnabled=true\n")
    accessibility = session.use_accessibility()

    # Start-up with the records already there, the controller listening before the first list answer:
    # no event, no totals, no sound.
    recording = os.path.join(session.tmp, "start-up.wav")
    recorder = sink.start_recording(recording)
    obs = session.start_obs(extra_env=sink.env())
    obs.wait_for(PREFIX + 'Tiplark: obs-websocket vendor "tiplark" registered')
    client = WebsocketClient(PORT, PASSWORD)
    session.show_dock(obs)
    obs.fill_screen()
    try:
        state = wait_for_state(client, lambda s: len(s["pending"]) == 12 and s.get("moderationEnabled") is True)
        sandbox.next_requests(PENDING, count=2, method="GET")  # one more answer of the same lists taken in
        peak = NullSink.stop_recording(recorder, recording)
        check(peak < SILENCE, "a sound at start-up (peak %.3f)" % peak)
        print("peak at start-up: %.4f" % peak)
        check(
            client.vendor_events("PendingMessageAdded") == [] and client.vendor_events("DonationAdded") == [],
            "events for records there at start: %r" % client.vendor_events(),
        )
        state = client.vendor("GetState")
        check(state["signedIn"] and state["userName"] == USER_NAME and state["serviceAnswering"], repr(state))
        records = {m["id"]: m for m in state["pending"]}
        waiting = [m["id"] for m in state["pending"]]
        check(waiting == posted, "pending %r, posted %r" % (waiting, posted))
        check(
            set(state["pending"][0]) == {"id", "nickname", "message", "amount", "currency", "createdAt"},
            repr(state["pending"][0]),
        )
        check(state["sessionTotals"] == [], "totals before any new donation: %r" % state["sessionTotals"])
        check("token" not in json.dumps(state).lower(), "a token in GetState")
        scene = add_labels(client)
        choices = client.call("GetInputPropertiesListPropertyItems", {"inputName": LAST_LABEL, "propertyName": "show"})
        check(
            [c["itemName"] for c in choices["propertyItems"]]
            == ["Ostatnia wpłata", "Największa wpłata tej sesji", "Suma tej sesji", "Liczba wpłat tej sesji"],
            repr(choices),
        )
        wait_for_label(client, LAST_LABEL, lambda text: text.startswith("Ostatnia:"))
        done = len(writes(sandbox))

        for request, data, code, error in REFUSED:
            answer = client.vendor(request, data)
            check(answer == {"ok": False, "code": code, "error": error}, "%s %r: %r" % (request, data, answer))
        done = expect_writes(sandbox, done, [])

        # Each request that starts a service call: ok at once, its request, then ActionFinished naming it.
        for request, data, expected in [
            ("ModerateMessage", {"messageId": waiting[0], "accept": True}, decision(waiting[0], True)),
            ("SkipAlert", None, SKIP),
            ("SetModeration", {"enabled": False}, switch(False)),
            ("SetModeration", {"enabled": True}, switch(True)),
        ]:
            count = len(client.vendor_events("ActionFinished"))
            check(client.vendor(request, data) == {"ok": True}, request)
            done = expect_writes(sandbox, done, [expected])
            client.wait_for_event("ActionFinished", lambda e: len(client.vendor_events("ActionFinished")) > count)
            check(
                client.vendor_events("ActionFinished")[count] == finished(request, data),
                repr(client.vendor_events("ActionFinished")),
            )
        check(
            [e["enabled"] for e in client.vendor_events("ModerationChanged")][-2:] == [False, True],
            repr(client.vendor_events("ModerationChanged")),
        )

        # The accepted message is a new donation: one event, counted once.
        state = wait_for_state(client, lambda s: s["sessionTotals"])
        check(
            [e["id"] for e in client.vendor_events("DonationAdded")] == [waiting[0]],
            "DonationAdded %r" % client.vendor_events("DonationAdded"),
        )
        check([t["count"] for t in state["sessionTotals"]] == [1], "totals %r" % state["sessionTotals"])

        # A controller that keeps asking while its skip awaits the service: one skip is queued, every further
        # one is answered at once as busy and adds no ActionFinished.
        sandbox.set_fault({"path": SKIP[1], "kind": "hold"})
        ended = len(client.vendor_events("ActionFinished"))
        skips = len(sandbox.requests_to(SKIP[1]))
        answers = [client.vendor("SkipAlert") for _ in range(50)]
        busy = {"ok": False, "code": "busy", "error": BUSY}
        check(answers[0] == {"ok": True} and all(a == busy for a in answers[1:]), repr(answers[:3]))
        sandbox.wait_for_request(SKIP[1], count=skips + 1)
        sandbox.clear_faults()
        sandbox.release()  # answered 503
        done = expect_writes(sandbox, done, [SKIP])
        client.wait_for_event("ActionFinished", lambda e: len(client.vendor_events("ActionFinished")) > ended)
        check(
            client.vendor_events("ActionFinished")[ended:]
            == [
                {
                    "action": "SkipAlert",
                    "origin": "controller",
                    "ok": False,
                    "code": "serviceFailed",
                    "error": "the service call failed",
                }
            ],
            repr(client.vendor_events("ActionFinished")[ended:]),
        )
        check(client.vendor("SkipAlert") == {"ok": True}, "SkipAlert still busy after its ActionFinished")
        done = expect_writes(sandbox, done, [SKIP])

        # The hotkeys, as a controller triggers them by name, and the key bound in the profile.
        wait_for_state(client, lambda s: [m["id"] for m in s["pending"]] == waiting[1:])
        for hotkey, expected in [
            ("TiplarkRejectFirst", decision(waiting[1], False)),
            ("TiplarkSkipAlert", SKIP),
            ("TiplarkModerationOff", switch(False)),
            ("TiplarkModerationOn", switch(True)),
        ]:
            client.call("TriggerHotkeyByName", {"hotkeyName": hotkey})
            done = expect_writes(sandbox, done, [expected])
        client.call("TriggerHotkeyByKeySequence", {"keyId": BOUND_KEY})
        done = expect_writes(sandbox, done, [SKIP])

        # A controller repeating a hotkey while its action awaits the service: one request and one log line;
        # the streamer's own press meanwhile is not turned away but follows it.
        sandbox.set_fault({"path": "/v1/moderation", "kind": "hold", "method": "PATCH", "times": 1})
        logged = len(obs.log())
        switches = len(sandbox.requests_to("/v1/moderation", "PATCH"))
        for _ in range(200):
            client.call("TriggerHotkeyByName", {"hotkeyName": "TiplarkModerationOff"})
        sandbox.wait_for_request("/v1/moderation", count=switches + 1, method="PATCH")
        dock = accessibility.Dock()
        dock.press(dock.button("Wyłącz moderację"))
        sandbox.clear_faults()
        sandbox.release()  # answered 503: the streamer's press goes next
        done = expect_writes(sandbox, done, [switch(False), switch(False)])
        lines = [line for line in obs.log()[logged:].splitlines() if "Hotkey TiplarkModerationOff" in line]
        check(len(lines) <= 1, "hotkey lines %r" % lines)  # none if every press came before it started
        # So does the streamer's key (fed to OBS as a key sequence), pressed 30 times among the controller's.
        sandbox.set_fault({"path": "/v1/moderation", "kind": "hold", "method": "PATCH", "times": 1})
        client.call("TriggerHotkeyByName", {"hotkeyName": "TiplarkModerationOff"})
        sandbox.wait_for_request("/v1/moderation", count=switches + 3, method="PATCH")
        pressed = len(obs.log())
        for _ in range(30):
            client.call("TriggerHotkeyByKeySequence", {"keyId": ON_KEY})
            client.call("TriggerHotkeyByName", {"hotkeyName": "TiplarkModerationOff"})
        try:
            obs.wait_for(PREFIX + "Tiplark: Hotkey TiplarkModerationOn does nothing: busy: the same action is already")
        except obshost.HostError:
            print("the plug-in's lines since the presses:")
            print("\n".join(line for line in obs.log()[pressed:].splitlines() if "Tiplark HTTP" not in line))
            raise
        sandbox.clear_faults()
        sandbox.release()
        done = expect_writes(sandbox, done, [switch(False), switch(True)])
        client.call("TriggerHotkeyByName", {"hotkeyName": "TiplarkModerationOn"})
        done = expect_writes(sandbox, done, [switch(True)])
        for first in waiting[2:4]:
            wait_for_state(client, lambda s: s["pending"] and s["pending"][0]["id"] == first)
            client.call("TriggerHotkeyByName", {"hotkeyName": "TiplarkAcceptFirst"})
            done = expect_writes(sandbox, done, [decision(first, True)])

        # Nothing pending: the hotkey does nothing and says so once.
        sandbox.set_state({"api.pending": []})
        wait_for_state(client, lambda s: s["pending"] == [])
        client.call("TriggerHotkeyByName", {"hotkeyName": "TiplarkAcceptFirst"})
        obs.wait_for(PREFIX + "Tiplark: Hotkey TiplarkAcceptFirst does nothing: nothing pending")
        done = expect_writes(sandbox, done, [])

        # A new message arrives while OBS records: one event, and the chime on the monitoring device only.
        recording = os.path.join(session.tmp, "new-message.wav")
        recorder = sink.start_recording(recording)
        client.call("StartRecord")
        arrived = sandbox.post_donation(
            {"id": "oczekujaca-1", "nickname": "Oczekujacy", "amount": 77.77, "currency": "PLN"}
        )["id"]
        event = client.wait_for_event("PendingMessageAdded", timeout=15)
        check(event["id"] == arrived, "PendingMessageAdded %r for %s" % (event, arrived))
        sandbox.next_requests(PENDING, method="GET")  # the chime has played by the next poll
        peak = NullSink.stop_recording(recorder, recording)
        obs_recording = client.call("StopRecord")["outputPath"]
        check(peak >= 0.1, "no chime for a new message (peak %.3f)" % peak)
        print("peak with a new message: %.4f" % peak)
        recorded, length = NullSink.peak(obs_recording)
        check(length >= 1.5, "OBS's recording lasts %.2f s" % length)
        check(recorded < SILENCE, "the chime in OBS's recording (peak %.3f)" % recorded)
        print("peak in OBS's recording: %.4f over %.1f s" % (recorded, length))
        check(len(client.vendor_events("PendingMessageAdded")) == 1, repr(client.vendor_events("PendingMessageAdded")))
        wait_for_label(client, LAST_LABEL, lambda text: "Oczek" not in text and "77.77" not in text, timeout=0)

        # A donation straight to the list (moderation off): its event, and the session totals of the
        # donations that arrived since the start (the accepted messages among them), each once.
        client.vendor("SetModeration", {"enabled": False})
        wait_for_state(client, lambda s: s.get("moderationEnabled") is False)
        # The newest by its time, as the service dates every donation: the label shows it.
        now = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime())
        donation = {"id": "zdalna-1", "nickname": "Ktoś", "amount": 12.5, "currency": "PLN", "created_at": now}
        donation = sandbox.post_donation(donation)
        event = client.wait_for_event("DonationAdded", lambda e: e["id"] == "zdalna-1", timeout=15)
        check(event["amount"] == "12.50" and event["nickname"] == "Ktoś", repr(event))
        accepted = [waiting[0]] + waiting[2:4]
        added = [e["id"] for e in client.vendor_events("DonationAdded")]
        check(sorted(added) == sorted(accepted + ["zdalna-1"]), "DonationAdded for %r" % added)
        expected = {}
        for record in [records[i] for i in accepted] + [donation]:
            count, cents = expected.get(record["currency"], (0, 0))
            expected[record["currency"]] = (count + 1, cents + round(float(record["amount"]) * 100))
        state = wait_for_state(client, lambda s: sum(t["count"] for t in s["sessionTotals"]) == len(added))
        check(
            {t["currency"]: (t["count"], round(float(t["amount"]) * 100)) for t in state["sessionTotals"]} == expected,
            "totals %r, expected %r" % (state["sessionTotals"], expected),
        )
        session.screenshot("e2e-remote.png")  # the totals line
        wait_for_label(client, LAST_LABEL, lambda text: "12.50 PLN" in text)
        # A label's settings that would make its text source read a file change nothing on stream.
        text_file = session.artifact("label-text-file.txt")
        with open(text_file, "w") as f:
            f.write("PLIK")
        reading = {"from_file": True, "text_file": text_file, "prefix": "Nowa: "}
        client.call("SetInputSettings", {"inputName": LAST_LABEL, "inputSettings": reading})
        wait_for_label(client, LAST_LABEL, lambda text: text.startswith("Nowa:") and "12.50 PLN" in text)
        client.call("SetInputSettings", {"inputName": LAST_LABEL, "inputSettings": {"prefix": "Ostatnia: "}})
        amounts = ["%.2f %s" % (cents / 100, currency) for currency, (_, cents) in expected.items()]
        wait_for_label(client, TOTAL_LABEL, lambda text: all(amount in text for amount in amounts))
        with open(session.artifact("e2e-labels.png"), "wb") as f:
            f.write(picture(client, scene))

        # A decision the service holds for 5 s, and "Wyloguj" meanwhile: it ends at once, cut short.
        # The switch's own ActionFinished may reach us after the state that shows it: wait for it, so it is
        # not counted with the cut decision below.
        switched = len(client.vendor_events("ActionFinished"))
        client.vendor("SetModeration", {"enabled": True})
        client.wait_for_event(
            "ActionFinished", lambda e: len(client.vendor_events("ActionFinished")) > switched, timeout=15
        )
        wait_for_state(client, lambda s: s.get("moderationEnabled") is True and s["pending"])
        sandbox.set_fault(
            {
                "path": "/v1/moderation/moderate/" + arrived,
                "kind": "respond",
                "status": 200,
                "body": "{}",
                "delayMs": 5000,
                "method": "PATCH",
            }
        )
        # The hotkey decides it first; the controller's request for the same message passes the vendor
        # and is refused on the GUI thread: its end still names the message.
        count = len(client.vendor_events("ActionFinished"))
        client.call("TriggerHotkeyByName", {"hotkeyName": "TiplarkAcceptFirst"})
        sandbox.wait_for_request("/v1/moderation/moderate/" + arrived, method="PATCH")
        check(client.vendor("ModerateMessage", {"messageId": arrived, "accept": True}) == {"ok": True}, "queued")
        client.wait_for_event(
            "ActionFinished", lambda e: len(client.vendor_events("ActionFinished")) > count, timeout=3
        )
        dock = accessibility.Dock()
        signed_out_at = len(obs.log())
        dock.press(dock.button("Wyloguj"))
        wait_for_label(client, LAST_LABEL, lambda text: "Ostatnia" not in text)  # nothing-yet, no prefix
        ended = [
            {
                "action": "ModerateMessage",
                "messageId": arrived,
                "origin": origin,
                "ok": False,
                "code": code,
                "error": error,
            }
            for origin, code, error in [
                ("controller", "busy", BUSY),
                ("hotkey", "signedOut", "signed out before the service answered"),
            ]
        ]
        client.wait_for_event(
            "ActionFinished", lambda e: len(client.vendor_events("ActionFinished")) > count + 1, timeout=3
        )
        # The service's late answer ends nothing again: once it is in, a look at the dock goes after it on
        # the GUI thread, and a request after it on obs-websocket.
        obs.wait_for(PREFIX + "Tiplark HTTP: Response 200, body size: 2 bytes", timeout=15, after=signed_out_at)
        dock.labels()
        client.vendor("GetState")
        check(
            client.vendor_events("ActionFinished")[count:] == ended,
            "ended %r" % client.vendor_events("ActionFinished")[count:],
        )
        sandbox.clear_faults()
    finally:
        client.close()
    status, _ = obs.quit()
    check(status == 0, "OBS exited with %d" % status)
    # Signed in again for the restart, moderation off.
    session.home.write_tokens("remote-access", "remote-refresh")
    sandbox.accept_tokens("remote-access", "remote-refresh")
    sandbox.set_state({"api.moderationEnabled": False})

    # The binding is still in the profile, and works after a restart.
    with open(session.home.profile_file) as f:
        check(BOUND_KEY in f.read(), "the key binding left the profile")
    obs = session.start_obs(extra_env=sink.env())
    obs.wait_for(PREFIX + 'Tiplark: obs-websocket vendor "tiplark" registered')
    session.show_dock(obs)  # the dock comes after the bindings are read, once OBS has loaded
    client = WebsocketClient(PORT, PASSWORD)
    try:
        wait_for_state(client, lambda s: s["signedIn"] and s.get("moderationEnabled") is False)
        # The labels came back with the scene collection.
        kept = client.call("GetInputSettings", {"inputName": TOTAL_LABEL})
        check(kept["inputKind"] == "tiplark_label" and kept["inputSettings"]["show"] == "total", repr(kept))
        done = len(writes(sandbox))
        client.call("TriggerHotkeyByKeySequence", {"keyId": BOUND_KEY})
        done = expect_writes(sandbox, done, [SKIP])
        # The bindings follow the profile: a new one has none, the first one has its own again. OBS 31 and
        # later may switch profiles after obs-websocket has answered: a key is pressed once OBS has switched.
        client.call("CreateProfile", {"profileName": "Drugi"})
        client.wait_for_profile("Drugi", 0)
        client.call("TriggerHotkeyByKeySequence", {"keyId": BOUND_KEY})
        done = expect_writes(sandbox, done, [])
        switches = len(client.profile_switches())
        client.call("SetCurrentProfile", {"profileName": "CI"})
        client.wait_for_profile("CI", switches)
        client.call("TriggerHotkeyByKeySequence", {"keyId": BOUND_KEY})
        done = expect_writes(sandbox, done, [SKIP])
    finally:
        client.close()
    status, _ = obs.quit()
    check(status == 0, "OBS exited with %d" % status)


def add_labels(client):
    """The newest donation's label and the session's sum in the current scene, one below the other; the
    scene's name."""
    scene = client.call("GetCurrentProgramScene")["currentProgramSceneName"]
    font = {"face": "DejaVu Sans", "style": "Book", "size": 40, "flags": 0}
    # A new label shows the newest donation.
    for y, name, settings in [(20, LAST_LABEL, {}), (90, TOTAL_LABEL, {"show": "total", "prefix": "Suma: "})]:
        settings = dict({"prefix": "Ostatnia: "}, **settings, font=font)
        new = {"sceneName": scene, "inputName": name, "inputKind": "tiplark_label", "inputSettings": settings}
        place = {"sceneName": scene, "sceneItemTransform": {"positionX": 20, "positionY": y}}
        client.call("SetSceneItemTransform", dict(place, sceneItemId=client.call("CreateInput", new)["sceneItemId"]))
    return scene


def picture(client, source, *convert):
    """The source as OBS renders it, on black as a stream shows a scene with nothing behind it; PNG."""
    shot = client.call("GetSourceScreenshot", {"sourceName": source, "imageFormat": "png"})
    png = base64.b64decode(shot["imageData"].split(",", 1)[1])
    # ImageMagick 7 keeps an alpha channel after -flatten, and -negate would turn it transparent.
    command = ["convert", "png:-", "-background", "black", "-flatten", "-alpha", "off", *convert, "png:-"]
    return subprocess.run(command, input=png, capture_output=True, check=True).stdout


def wait_for_label(client, name, predicate, timeout=20):
    """A label's text read back with OCR, black on white, once it matches. A new label has no picture until
    OBS has drawn it once: obs-websocket fails to render it."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            flat = picture(client, name, "-negate", "-bordercolor", "white", "-border", "20")
            ocr = subprocess.run(["tesseract", "stdin", "stdout", "--psm", "7"], input=flat, capture_output=True)
            text = " ".join(ocr.stdout.decode().split())
        except AssertionError:
            text = ""
        if predicate(text):
            return text
        if time.monotonic() > deadline:
            raise AssertionError("label %r reads %r" % (name, text))
        time.sleep(0.2)


def wait_for_state(client, predicate, timeout=20):
    deadline = time.monotonic() + timeout
    while True:
        state = client.vendor("GetState")
        check(state["ok"], repr(state))
        if predicate(state):
            return state
        if time.monotonic() > deadline:
            raise AssertionError("GetState never matched: %r" % state)
        time.sleep(0.2)


if __name__ == "__main__":
    main()
