"""Runs a real OBS Studio headless with the plug-in loaded from a build tree: Debian 12's OBS 29 (Qt 5),
Debian 13's OBS 30 or Debian forky's OBS 32 (Qt 6), whichever host the test runs in (--host).

Everything lives in a temporary home: OBS's profile, the plug-in's settings and tokens, the X
server and the session bus. Nothing of the user's own OBS configuration is read or written.
"""

import argparse
import configparser
import contextlib
import ctypes
import glob
import importlib
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tarfile
import tempfile
import time

from obsdriver.sandbox_client import Sandbox

PLUGIN_NAME = "tiplark-obs-plugin"
REPOSITORY = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# A root of each host's release where only OBS and the tests' own tools were installed: a streamer's system
# (scripts/debian-root.sh).
CLEAN_ROOT = {"debian12": "bookworm-clean", "debian13": "trixie-clean", "forky": "forky-clean"}
# Debian's OBS loads libcurl's GnuTLS flavour itself; a test that loads OpenSSL's into OBS first, as Fedora's
# and Arch's OBS have it, names that one here.
LIBCURL = os.environ.get("TIPLARK_E2E_LIBCURL", "libcurl-gnutls.so.4")
CONVERT = "/usr/bin/convert"  # imagemagick's, not a stand-in earlier on PATH


class HostError(AssertionError):
    pass


class Host:
    """An OBS host: the OBS and Qt versions it must log, and what differs in how it treats the dock."""

    def __init__(self, name, obs_version, qt_version, keeps_dock_placement, callbacks_gone_at_quit=0):
        self.name = name
        self.obs_version = obs_version
        self.qt_version = qt_version
        # OBS 30 and later save and restore the layout of docks registered by id themselves.
        self.keeps_dock_placement = keeps_dock_placement
        # How often OBS alone logs that a module removed a frontend callback it had dropped already.
        self.callbacks_gone_at_quit = callbacks_gone_at_quit


HOSTS = {
    host.name: host
    for host in (
        Host("debian12", "29.0.2", "5.15", keeps_dock_placement=False),
        Host("debian13", "30.2.3", "6.8", keeps_dock_placement=True, callbacks_gone_at_quit=1),
        Host("forky", "32.2.2", "6.11", keeps_dock_placement=True, callbacks_gone_at_quit=2),
    )
}


def check(condition, message):
    if not condition:
        raise HostError(message)


def parse_arguments(installed=False):
    """The command line every end-to-end script takes. A test of the installed plug-in takes its package
    instead of a build tree's module; a test of the per-user archive takes the archive."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", choices=sorted(HOSTS), default="debian12", help="the OBS host the test runs in")
    if installed:
        parser.add_argument("--package", required=True, help="the .deb file to install into this system")
    else:
        parser.add_argument("--module-dir")
        parser.add_argument("--data-dir")
        parser.add_argument("--archive", help="the per-user archive, unpacked into the test's own plug-in folder")
    parser.add_argument("--artifacts", required=True)
    parser.add_argument("--sandbox", required=True, help="the tiplark-sandbox program")
    args = parser.parse_args()
    if not installed and not args.archive and not (args.module_dir and args.data_dir):
        parser.error("--module-dir and --data-dir, or --archive, are required")
    if installed:
        args.archive = None
    return args


@contextlib.contextmanager
def session_with_sandbox(args, sandbox_args=()):
    """An OBS session of the build tree's module, pointed at a sandbox of its own; both end afterwards.
    Yields (session, sandbox). A test of the per-user archive runs where a streamer's system is: this script
    runs again in a fresh copy of its host's clean root, and this process ends with its status."""
    service_url = os.environ.get("TIPLARK_E2E_SERVICE")
    sandbox = Sandbox.running_at(service_url) if service_url else Sandbox(args.sandbox, args=sandbox_args)
    if args.archive and not service_url:
        try:
            # The sandbox stays on this side of the loopback, which the root shares.
            status = subprocess.run(
                [os.path.join(REPOSITORY, "scripts", "debian-root.sh"), "run", CLEAN_ROOT[args.host], "--fresh"]
                + ["--", "env", "PYTHONPATH=" + REPOSITORY, "TIPLARK_E2E_SERVICE=" + sandbox.base_url]
                + ["TIPLARK_E2E_LIBCURL=" + LIBCURL, "/usr/bin/python3", os.path.abspath(sys.argv[0])]
                + sys.argv[1:]
            ).returncode
        finally:
            sandbox.stop()
        sys.exit(status)
    try:
        with Session(
            args.module_dir, args.data_dir, args.artifacts, sandbox.base_url, host=args.host, archive=args.archive
        ) as session:
            yield session, sandbox
    finally:
        sandbox.stop()


def service_env(base_url):
    """The environment that points the plug-in at a service (the sandbox) instead of production."""
    return {"TIPLARK_API_BASE_URL": base_url, "TIPLARK_OAUTH_BASE_URL": base_url + "/oauth"}


def become_subreaper():
    """D-Bus activated daemons (accessibility bus) get re-parented to us, so we can end them."""
    PR_SET_CHILD_SUBREAPER = 36
    ctypes.CDLL(None).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)


class Display:
    """An Xvfb on a display number it picks itself, plus a private session bus."""

    def __init__(self, workdir):
        self.workdir = workdir
        self.procs = []
        read_fd, write_fd = os.pipe()
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1600x900x24", "-nolisten", "tcp", "-noreset"],
            pass_fds=[write_fd],
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        os.close(write_fd)
        self.procs.append(xvfb)
        number = b""
        deadline = time.monotonic() + 20
        while not number.endswith(b"\n"):
            if time.monotonic() > deadline:
                raise HostError("Xvfb did not report its display")
            chunk = os.read(read_fd, 16)
            if not chunk:
                raise HostError("Xvfb exited before reporting its display")
            number += chunk
        os.close(read_fd)
        self.name = ":" + number.decode().strip()

        # Daemons that the bus activates (the accessibility bus) inherit this environment: keep their
        # sockets in our own runtime folder and let them find our X server.
        runtime = os.path.join(workdir, "bus-runtime")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        bus_env = dict(os.environ, DISPLAY=self.name, XDG_RUNTIME_DIR=runtime, HOME=workdir)
        bus_read, bus_write = os.pipe()
        bus = subprocess.Popen(
            ["dbus-daemon", "--session", "--nofork", "--print-address=%d" % bus_write],
            pass_fds=[bus_write],
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
            env=bus_env,
        )
        os.close(bus_write)
        self.procs.append(bus)
        address = b""
        while not address.endswith(b"\n"):
            chunk = os.read(bus_read, 256)
            if not chunk:
                raise HostError("dbus-daemon exited before reporting its address")
            address += chunk
        os.close(bus_read)
        self.bus_address = address.decode().strip()

    def env(self):
        return {"DISPLAY": self.name, "DBUS_SESSION_BUS_ADDRESS": self.bus_address}

    def start_accessibility_bus(self):
        env = dict(os.environ, **self.env())
        subprocess.run(
            [
                "dbus-send",
                "--session",
                "--print-reply",
                "--dest=org.a11y.Bus",
                "/org/a11y/bus",
                "org.a11y.Bus.GetAddress",
            ],
            env=env,
            check=True,
            stdout=subprocess.DEVNULL,
            timeout=20,
        )

    def screenshot(self, path, box=None):
        """The whole screen, or the box (x, y, width, height) of it."""
        env = dict(os.environ, **self.env())
        xwd = subprocess.run(["xwd", "-root", "-silent"], env=env, check=True, stdout=subprocess.PIPE, timeout=30)
        crop = ["-crop", "%dx%d+%d+%d" % (box[2], box[3], box[0], box[1]), "+repage"] if box else []
        subprocess.run([CONVERT, "xwd:-", *crop, "png:" + path], input=xwd.stdout, check=True, timeout=60)
        return path

    def close(self):
        for proc in reversed(self.procs):
            if proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(5)
                except subprocess.TimeoutExpired:
                    proc.kill()


class DesktopDisplay(Display):
    """The streamer's own desktop session."""

    def __init__(self):
        self.procs = []
        self.name = os.environ["DISPLAY"]
        self.bus_address = os.environ.get("DBUS_SESSION_BUS_ADDRESS", "")

    def env(self):
        env = {"DISPLAY": self.name}
        if self.bus_address:
            env["DBUS_SESSION_BUS_ADDRESS"] = self.bus_address
        return env


class ObsHome:
    """An isolated OBS configuration: first-run wizard off, preview off, a small canvas. OBS 31 and later
    read these from user.ini, and copy global.ini into it only when they migrate an older configuration:
    both are written, and marked as migrated."""

    def __init__(self, root, oauth_origin):
        self.root = root
        # Whose tokens write_tokens saves: the plug-in uses a sign-in only with the service that issued it
        # (the sandbox serves its OAuth server and its API from one origin).
        self.oauth_origin = oauth_origin
        self.config = os.path.join(root, "config")
        self.runtime = os.path.join(root, "runtime")
        os.makedirs(self.runtime, mode=0o700, exist_ok=True)
        obs = os.path.join(self.config, "obs-studio")
        os.makedirs(os.path.join(obs, "basic", "profiles", "CI"), exist_ok=True)
        os.makedirs(os.path.join(obs, "basic", "scenes"), exist_ok=True)
        for name in ("global.ini", "user.ini"):
            with open(os.path.join(obs, name), "w") as f:
                f.write(
                    "[General]\nFirstRun=true\nPre31Migrated=true\n\n[Basic]\nProfile=CI\nProfileDir=CI\n"
                    "SceneCollection=CI\nSceneCollectionFile=CI\n\n[BasicWindow]\nPreviewEnabled=false\n"
                )
        with open(os.path.join(obs, "basic", "profiles", "CI", "basic.ini"), "w") as f:
            f.write(
                "[General]\nName=CI\n\n[Video]\nBaseCX=640\nBaseCY=360\nOutputCX=640\nOutputCY=360\n"
                "FPSType=1\nFPSInt=10\n"
            )

    def use_light_theme(self, host):
        """OBS's Light theme from the next start on: OBS 29 reads its name from [General] of global.ini, OBS 30
        and later its id from [Appearance], in user.ini from OBS 31 on."""
        if host.name == "debian12":
            settings = (("global.ini", "General", "CurrentTheme3", "Light"),)
        else:
            settings = tuple(
                (name, "Appearance", "Theme", "com.obsproject.Yami.Light") for name in ("global.ini", "user.ini")
            )
        for name, section, key, value in settings:
            path = os.path.join(self.config, "obs-studio", name)
            ini = configparser.ConfigParser(interpolation=None, strict=False)
            ini.optionxform = str
            ini.read(path, encoding="utf-8-sig")
            if not ini.has_section(section):
                ini.add_section(section)
            ini.set(section, key, value)
            with open(path, "w") as f:
                ini.write(f, space_around_delimiters=False)

    def enable_websocket(self, port, password):
        """obs-websocket's server with a password: OBS 29's keeps its settings in global.ini, OBS 30's and
        later's in a file of its own."""
        with open(os.path.join(self.config, "obs-studio", "global.ini"), "a") as f:
            f.write(
                "\n[OBSWebSocket]\nFirstLoad=false\nServerEnabled=true\nServerPort=%d\nAlertsEnabled=false\n"
                "AuthRequired=true\nServerPassword=%s\n" % (port, password)
            )
        folder = os.path.join(self.config, "obs-studio", "plugin_config", "obs-websocket")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "config.json"), "w") as f:
            json.dump(
                {
                    "first_load": False,
                    "server_enabled": True,
                    "server_port": port,
                    "alerts_enabled": False,
                    "auth_required": True,
                    "server_password": password,
                },
                f,
            )

    @property
    def profile_file(self):
        return os.path.join(self.config, "obs-studio", "basic", "profiles", "CI", "basic.ini")

    @property
    def log_dir(self):
        return os.path.join(self.config, "obs-studio", "logs")

    @property
    def token_file(self):
        return os.path.join(self.config, "obs-studio", "plugin_config", PLUGIN_NAME, "tokens.json")

    @property
    def settings_file(self):
        return os.path.join(self.config, "Tiplark", "OBSPlugin.conf")

    @property
    def crash_reports(self):
        """Reports OBS's crash handler wrote into this home."""
        return glob.glob(os.path.join(self.config, "obs-studio", "crashes", "*"))

    def write_tokens(self, access_token, refresh_token, expires_at=""):
        """A saved sign-in, as the plug-in writes it, without going through a browser."""
        os.makedirs(os.path.dirname(self.token_file), exist_ok=True)
        with open(self.token_file, "w") as f:
            json.dump(
                {
                    "access_token": access_token,
                    "api_origin": self.oauth_origin,
                    "expires_at": expires_at,
                    "oauth_origin": self.oauth_origin,
                    "refresh_token": refresh_token,
                },
                f,
                separators=(",", ":"),
            )
        os.chmod(self.token_file, 0o600)


class Obs:
    """One run of OBS. The log file, not stdout (block-buffered), is the source of truth."""

    def __init__(self, home, display, module_dir, data_dir, extra_env=None, path_prefix=None):
        self.home = home
        self.display = display
        before = set(glob.glob(os.path.join(home.log_dir, "*.txt")))
        # OBS names its log after the second it starts in: a run started within the second of the one
        # before would write into that run's file, and no new log would appear.
        last = max((os.path.basename(path) for path in before), default="")
        while time.strftime("%Y-%m-%d %H-%M-%S.txt") <= last:
            time.sleep(0.05)
        env = dict(os.environ)
        env.update(display.env())
        env.update(
            {
                "HOME": home.root,
                "XDG_CONFIG_HOME": home.config,
                "XDG_RUNTIME_DIR": home.runtime,
                "LIBGL_ALWAYS_SOFTWARE": "1",
                "QT_QPA_PLATFORM": "xcb",
                "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
            }
        )
        if module_dir:
            env.update({"OBS_PLUGINS_PATH": module_dir, "OBS_PLUGINS_DATA_PATH": data_dir})
        if path_prefix:
            env["PATH"] = path_prefix + os.pathsep + env["PATH"]
        env.update(extra_env or {})
        self.stdout = open(os.path.join(home.root, "obs-stdout-%d.txt" % time.time_ns()), "wb")
        self.proc = subprocess.Popen(
            ["obs", "--multi"],
            env=env,
            stdout=self.stdout,
            stderr=subprocess.STDOUT,
            stdin=subprocess.DEVNULL,
            cwd=home.root,
        )
        self.log_path = None
        deadline = time.monotonic() + 30
        while self.log_path is None:
            new = set(glob.glob(os.path.join(home.log_dir, "*.txt"))) - before
            if new:
                self.log_path = sorted(new)[-1]
            elif self.proc.poll() is not None:
                raise HostError("OBS exited with %s before writing a log" % self.proc.returncode)
            elif time.monotonic() > deadline:
                raise HostError("OBS wrote no log within 30 s\n%s" % self.where_it_waits())
            else:
                time.sleep(0.1)

    def fill_screen(self, width=1600, height=900):
        """Xvfb has no window manager: OBS's first window is small unless we size it (the whole screen, or
        a laptop's room from its top left corner)."""
        env = dict(os.environ, DISPLAY=self.display.name)
        windows = subprocess.run(
            ["xdotool", "search", "--name", "^OBS "], env=env, stdout=subprocess.PIPE, text=True, timeout=10
        ).stdout.split()
        for window in windows:
            subprocess.run(["xdotool", "windowmove", window, "0", "0"], env=env, check=True, timeout=10)
            subprocess.run(["xdotool", "windowsize", window, str(width), str(height)], env=env, check=True, timeout=10)

    def log(self):
        with open(self.log_path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def wait_for(self, pattern, timeout=30, after=0):
        """Waits for a log line matching the regular expression; returns the match."""
        regex = re.compile(pattern)
        deadline = time.monotonic() + timeout
        while True:
            text = self.log()
            match = regex.search(text, after)
            if match:
                return match
            if self.proc.poll() is not None:
                text = self.log()
                match = regex.search(text, after)
                if match:
                    return match
                raise HostError("OBS exited (%s) without logging /%s/" % (self.proc.returncode, pattern))
            if time.monotonic() > deadline:
                # The plug-in's last lines say where it stopped: a CI log keeps nothing else of OBS's.
                last = [line for line in text.splitlines() if "[tiplark-obs-plugin]" in line][-15:]
                raise HostError(
                    "no log line /%s/ within %d s; the plug-in's last lines:\n%s" % (pattern, timeout, "\n".join(last))
                )
            time.sleep(0.1)

    def threads(self):
        """OBS's threads: thread id -> name."""
        names = {}
        for tid in os.listdir("/proc/%d/task" % self.proc.pid):
            try:
                with open("/proc/%d/task/%s/comm" % (self.proc.pid, tid)) as f:
                    names[int(tid)] = f.read().strip()
            except OSError:
                pass  # the thread ended meanwhile
        return names

    def where_it_waits(self):
        """What each thread waits in and what OBS printed last: a hung OBS says nothing else in a CI log."""
        lines = []
        for tid, name in sorted(self.threads().items()):
            state = []
            for entry in ("wchan", "syscall"):
                try:
                    with open("/proc/%d/task/%d/%s" % (self.proc.pid, tid, entry)) as f:
                        state.append("%s %s" % (entry, f.read().split(" ")[0].strip()))
                except OSError:
                    pass
            lines.append("thread %d %s: %s" % (tid, name, ", ".join(state)))
        self.stdout.flush()
        lines += ["OBS printed:"] + self.output().splitlines()[-20:]
        return "\n".join(lines)

    def quit(self, timeout=30, thread=None):
        """SIGINT is OBS 29's clean shutdown (SIGTERM skips the exit event and the unload). The kernel
        hands a process's signal to whichever thread it likes; thread (a thread name's beginning) picks
        one."""
        started = time.monotonic()
        if thread is None:
            self.proc.send_signal(signal.SIGINT)
        else:
            tids = [tid for tid, name in self.threads().items() if name.startswith(thread)]
            check(tids, "OBS has no thread named %s...: %r" % (thread, sorted(set(self.threads().values()))))
            check(
                ctypes.CDLL(None, use_errno=True).tgkill(self.proc.pid, tids[0], signal.SIGINT) == 0,
                "tgkill failed: %s" % os.strerror(ctypes.get_errno()),
            )
        try:
            status = self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise HostError("OBS did not quit within %d s of SIGINT" % timeout)
        finally:
            self.stdout.close()
        return status, time.monotonic() - started

    def output(self):
        """What OBS and Qt printed (complete once OBS has exited)."""
        with open(self.stdout.name, encoding="utf-8", errors="replace") as f:
            return f.read()

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.stdout.close()


def check_unpacked(folder):
    """The archive's files as any umask of its builder leaves them: folders and the module 0755, the rest
    0644; and nothing the module needs is missing from this system (ldd, before OBS starts)."""
    for parent, folders, files in os.walk(folder):
        for name in folders + files:
            path = os.path.join(parent, name)
            mode = os.stat(path).st_mode & 0o7777
            wanted = 0o755 if name in folders or name.endswith(".so") else 0o644
            check(mode == wanted, "%s has mode %o in the archive, not %o" % (path, mode, wanted))
    module = os.path.join(folder, "bin", "64bit", PLUGIN_NAME + ".so")
    needed = subprocess.run(["ldd", module], stdout=subprocess.PIPE, text=True, check=True).stdout
    missing = [line.strip() for line in needed.splitlines() if "not found" in line]
    check(not missing, "the module needs what this system lacks: %s" % missing)


class Session:
    """The display, a home and helpers for starting OBS in it; a context manager."""

    def __init__(
        self, module_dir, data_dir, artifacts_dir, service_url, use_own_display=True, host="debian12", archive=None
    ):
        self.host = HOSTS[host]
        # None: the plug-in installed on the system, found by OBS on its own
        self.module_dir = module_dir and os.path.abspath(module_dir)
        self.data_dir = data_dir and os.path.abspath(data_dir)
        self.artifacts_dir = os.path.abspath(artifacts_dir)
        # Every OBS of the session talks to this service, never to production.
        self.service_env = service_env(service_url)
        os.makedirs(artifacts_dir, exist_ok=True)
        self.tmp = tempfile.mkdtemp(prefix="tiplark-e2e-")
        become_subreaper()
        self.display = Display(self.tmp) if use_own_display else DesktopDisplay()
        self.home = ObsHome(os.path.join(self.tmp, "home"), service_url)
        self.obs_env = {}
        self.archive = archive
        if archive:
            # Installed as a streamer does, into OBS's per-user plug-in folder, where OBS finds it on its own.
            plugins = os.path.join(self.home.config, "obs-studio", "plugins")
            os.makedirs(plugins, exist_ok=True)
            # Python's own xz: a system as small as the clean roots has no xz program.
            with tarfile.open(archive) as unpacked:
                unpacked.extractall(plugins, filter="tar")
            self.module_dir = self.data_dir = None
            check_unpacked(os.path.join(plugins, PLUGIN_NAME))
            if LIBCURL != "libcurl-gnutls.so.4":
                # From the root's own apt cache (the tests have no network), after the check above: OpenSSL's
                # libcurl, and the OCR that reads labels back, which needs it.
                subprocess.run(
                    ["apt-get", "install", "-y", "-q", "--no-download", "-o", "Dpkg::Use-Pty=0"]
                    + ["libcurl4t64", "tesseract-ocr"],
                    env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"),
                    check=True,
                    stdout=subprocess.DEVNULL,
                )
                self.obs_env["LD_PRELOAD"] = LIBCURL
        self.running = []

    def start_obs(self, extra_env=None, **kwargs):
        obs = Obs(
            self.home,
            self.display,
            self.module_dir,
            self.data_dir,
            extra_env=dict(self.service_env, **self.obs_env, **(extra_env or {})),
            **kwargs
        )
        self.running.append(obs)
        # The host the test claims is the one that runs: OBS logs its own and its Qt's version first.
        obs.wait_for(r"OBS %s" % re.escape(self.host.obs_version))
        obs.wait_for(r"Qt Version: %s" % re.escape(self.host.qt_version))
        if self.archive:
            # The libcurl OBS has loaded, which the module takes rather than one of its own.
            obs.wait_for(r"\[%s\] Tiplark HTTP: Using %s \(libcurl " % (PLUGIN_NAME, re.escape(LIBCURL)))
        return obs

    def show_dock(self, obs):
        """Waits until the dock exists; every OBS shows it at a first start and keeps it shown after."""
        created = obs.wait_for(r"\[%s\] Tiplark dock created, visible: (true|false)" % PLUGIN_NAME)
        check(created.group(1) == "true", "the dock is not shown")

    def artifact(self, name):
        """Where a screenshot goes: named after the host, so that both hosts' pictures lie side by side."""
        stem, extension = os.path.splitext(name)
        return os.path.join(self.artifacts_dir, "%s.%s%s" % (stem, self.host.name, extension))

    def screenshot(self, name, box=None):
        return self.display.screenshot(self.artifact(name), box)

    def use_accessibility(self):
        """Starts the accessibility bus (before OBS: OBS registers with it at start) and returns the
        accessibility module, which needs the display's session bus in this process's environment."""
        self.display.start_accessibility_bus()
        os.environ.update(self.display.env())
        return importlib.import_module("obsdriver.accessibility")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        for obs in self.running:
            obs.kill()
        self.display.close()
        # End daemons that D-Bus activation re-parented to us.
        try:
            while True:
                pid, _ = os.waitpid(-1, os.WNOHANG)
                if pid == 0:
                    break
        except ChildProcessError:
            pass
        for line in subprocess.run(
            ["ps", "-o", "pid=", "--ppid", str(os.getpid())], stdout=subprocess.PIPE, text=True
        ).stdout.split():
            try:
                os.kill(int(line), signal.SIGTERM)
            except (ProcessLookupError, ValueError):
                pass
        if os.environ.get("TIPLARK_KEEP_E2E_TMP"):
            print("kept", self.tmp)
        else:
            shutil.rmtree(self.tmp, ignore_errors=True)
        return False
