"""The .deb package in a clean system of its own Debian release (a throw-away root file system): apt installs
it with its dependencies, that system's OBS finds the plug-in with no plug-in path set, the streamer signs in
against the sandbox (the installed module pointed at it by the environment), and removing the package leaves
nothing of it behind. Run as root; the sandbox runs outside the clean system, on the same loopback."""

import os
import subprocess

from obsdriver import obshost
from obsdriver.browser import browse, url_catcher, wait_for_url
from obsdriver.obshost import check
from obsdriver.sandbox_client import Sandbox

PACKAGE = "tiplark-obs-plugin"
PREFIX = r"\[tiplark-obs-plugin\] "
REPOSITORY = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CLEAN_ROOT = {"debian12": "bookworm-clean", "debian13": "trixie-clean", "forky": "forky-clean"}


def main():
    args = obshost.parse_arguments(installed=True)
    service_url = os.environ.get("TIPLARK_PACKAGE_TEST_SERVICE")
    if service_url:
        in_clean_system(args, Sandbox.running_at(service_url))
        return
    sandbox = Sandbox(args.sandbox)
    try:
        subprocess.run(
            [
                os.path.join(REPOSITORY, "scripts", "debian-root.sh"),
                "run",
                CLEAN_ROOT[args.host],
                "--fresh",
                "--",
                "env",
                "PYTHONPATH=" + REPOSITORY,
                "TIPLARK_PACKAGE_TEST_SERVICE=" + sandbox.base_url,
                "/usr/bin/python3",
                os.path.abspath(__file__),
                "--host",
                args.host,
                "--package",
                os.path.abspath(args.package),
                "--sandbox",
                os.path.abspath(args.sandbox),
                "--artifacts",
                os.path.abspath(args.artifacts),
            ],
            check=True,
        )
    finally:
        sandbox.stop()


def in_clean_system(args, sandbox):
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    apt = ["apt-get", "-y", "-q", "--no-install-recommends", "-o", "Dpkg::Use-Pty=0"]
    subprocess.run(apt + ["install", os.path.abspath(args.package)], env=env, check=True)
    files = [path for path in run("dpkg-query", "-L", PACKAGE).split() if os.path.isfile(path)]
    check("/usr/lib/x86_64-linux-gnu/obs-plugins/%s.so" % PACKAGE in files, "no module in OBS's plug-in folder")

    with obshost.Session(None, None, args.artifacts, sandbox.base_url, host=args.host) as session:
        accessibility = session.use_accessibility()
        urls = url_catcher(os.path.join(session.tmp, "bin"))
        obs = session.start_obs(path_prefix=os.path.dirname(urls))
        obs.wait_for(PREFIX + r"plugin loaded successfully")
        session.show_dock(obs)
        dock = accessibility.Dock()
        dock.press(dock.button("Zaloguj"))
        browse(wait_for_url(urls, 1), session.artifact("e2e-package-sign-in-page.png"), session.tmp)
        obs.wait_for(PREFIX + "Tiplark: Authentication successful, tokens saved", timeout=20)
        dock.wait_until(lambda: dock.is_showing(dock.button("Wyloguj")), "the signed-in dock")
        obs.fill_screen()
        session.screenshot("e2e-package.png")
        status, _ = obs.quit()
        check(status == 0, "OBS exited with %d" % status)
        obs.wait_for(PREFIX + "plugin unloaded", timeout=1)

    subprocess.run(apt + ["purge", PACKAGE], env=env, check=True)
    left = [path for path in files if os.path.lexists(path)]
    left += run("find", "/", "-xdev", "-iname", "*tiplark*").split()
    check(not left, "left behind after removal: %r" % left)
    print("e2e package on %s: ok" % args.host)


def run(*command):
    return subprocess.run(command, check=True, stdout=subprocess.PIPE, text=True).stdout


if __name__ == "__main__":
    main()
