"""A PulseAudio server of the test's own whose outputs are two null sinks: the default one, which OBS's
desktop audio captures, and the one OBS monitors to. What OBS plays on its monitoring device can be recorded
from that sink's monitor and measured with sox."""

import os
import re
import subprocess
import time

SINK = "tiplark_null"
DESKTOP_SINK = "tiplark_desktop"


class NullSink:
    def __init__(self, workdir):
        self.dir = os.path.join(workdir, "pulse")
        os.makedirs(self.dir, mode=0o700, exist_ok=True)
        self.socket = os.path.join(self.dir, "native")
        env = dict(os.environ, HOME=self.dir, XDG_RUNTIME_DIR=self.dir)
        env.pop("DISPLAY", None)
        self.log = open(os.path.join(self.dir, "pulseaudio.log"), "wb")
        self.proc = subprocess.Popen(
            [
                "pulseaudio",
                "-n",
                "--daemonize=no",
                "--exit-idle-time=-1",
                "--use-pid-file=no",
                "--load=module-native-protocol-unix socket=%s auth-anonymous=1" % self.socket,
                "--load=module-null-sink sink_name=%s" % DESKTOP_SINK,
                "--load=module-null-sink sink_name=%s" % SINK,
            ],
            env=env,
            stdout=self.log,
            stderr=subprocess.STDOUT,
            stdin=subprocess.DEVNULL,
        )
        deadline = time.monotonic() + 20
        while (
            subprocess.run(
                ["pactl", "info"],
                env=dict(os.environ, **self.env()),
                stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL,
            ).returncode
            != 0
        ):
            if self.proc.poll() is not None or time.monotonic() > deadline:
                self.close()
                raise AssertionError("pulseaudio did not start")
            time.sleep(0.2)

        # The monitoring device apart from what desktop audio captures, as a streamer sets up headphones.
        subprocess.run(["pactl", "set-default-sink", DESKTOP_SINK], env=dict(os.environ, **self.env()), check=True)

    @staticmethod
    def monitoring_profile(obs_version):
        """The lines of an OBS profile that make the sink OBS's monitoring device: OBS 29 names it by the
        sink's monitor source, later releases by the sink."""
        device = SINK + ".monitor" if int(obs_version.split(".")[0]) < 30 else SINK
        return "\n[Audio]\nMonitoringDeviceId=%s\nMonitoringDeviceName=%s\n" % (device, SINK)

    def env(self):
        """For OBS and the recorder: the server to use."""
        return {"PULSE_SERVER": "unix:" + self.socket}

    def start_recording(self, path):
        return subprocess.Popen(
            ["parecord", "--device=%s.monitor" % SINK, "--file-format=wav", path],
            env=dict(os.environ, **self.env()),
            stdin=subprocess.DEVNULL,
        )

    @staticmethod
    def stop_recording(recorder, path):
        """Ends a recording; its peak amplitude (0 to 1)."""
        recorder.terminate()
        recorder.wait(10)
        return NullSink.peak(path)[0]

    @staticmethod
    def peak(path):
        """A sound file's peak amplitude (0 to 1) and length in seconds."""
        stat = subprocess.run(["sox", path, "-n", "stat"], stderr=subprocess.PIPE, text=True, check=True).stderr
        length = float(re.search(r"Length \(seconds\):\s+([\d.]+)", stat).group(1))
        return float(re.search(r"Maximum amplitude:\s+(-?[\d.]+)", stat).group(1)), length

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.log.close()
