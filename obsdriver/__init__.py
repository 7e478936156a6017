"""Drives Debian's real OBS Studio with the plug-in, headless or on the desktop, for the end-to-end tests
and the demo: an isolated OBS home, Xvfb and a private session bus (obshost), the dock through the
accessibility tree (accessibility), the streamer's browser (browser) and the sandbox service program
(sandbox_client). Put the repository's root on PYTHONPATH to import it."""
