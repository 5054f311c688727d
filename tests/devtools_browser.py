"""Headless Chromium driven over its DevTools pipe, for the tests that look
at pages and players as a browser shows them.

    with DevToolsBrowser(profile_dir, ["--window-size=640,480"]) as browser:
        session = browser.open("http://...")
        browser.evaluate("document.title", session)
"""
import json
import os
import subprocess

CHROMIUM = "/usr/bin/chromium"
BASE_FLAGS = ("--headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking "
              "--disable-component-update --disable-sync --remote-debugging-pipe").split()


class DevToolsBrowser:
    def __init__(self, profile, extra_flags=()):
        to_browser_read, self._to_browser = os.pipe()
        self._from_browser, from_browser_write = os.pipe()
        # The browser reads commands on descriptor 3 and answers on descriptor 4.
        command = ["bash", "-c", 'exec "$@" 3<&%d 4>&%d' % (to_browser_read, from_browser_write), "chromium",
                   CHROMIUM, *BASE_FLAGS, *extra_flags, "--user-data-dir=" + profile, "about:blank"]
        self._process = subprocess.Popen(command, pass_fds=(to_browser_read, from_browser_write),
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_browser_read)
        os.close(from_browser_write)
        self._pending = b""
        self._next_id = 0

    def __enter__(self):
        return self

    def __exit__(self, *error):
        self._process.kill()
        self._process.wait()

    def call(self, method, params=None, session=None):
        """Sends one command and returns its result; ends the script on an error."""
        self._next_id += 1
        message = {"id": self._next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self._to_browser, json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in self._pending:
                chunk = os.read(self._from_browser, 1 << 20)
                if not chunk:
                    raise SystemExit("the browser ended")
                self._pending += chunk
            text, self._pending = self._pending.split(b"\0", 1)
            answer = json.loads(text)
            if answer.get("id") == self._next_id:
                if "error" in answer:
                    raise SystemExit("%s: %s" % (method, answer["error"]))
                return answer["result"]

    def evaluate(self, expression, session, wait=False):
        """The value of a script expression; wait resolves a promise first."""
        return self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True,
                                              "awaitPromise": wait}, session)["result"].get("value")

    def open(self, url, enable_page=False):
        """A new tab showing url; its session."""
        target = self.call("Target.createTarget", {"url": "about:blank"})["targetId"]
        session = self.call("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
        if enable_page:
            self.call("Page.enable", session=session)
        self.call("Page.navigate", {"url": url}, session)
        return session

    def close(self):
        self.call("Browser.close")
