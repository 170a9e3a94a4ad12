"""Headless Chromium driven through its DevTools protocol over a pipe (file
descriptors 3 and 4, JSON messages ended by a NUL byte): the standard library
is enough, no web socket and no port. A fresh profile each time; the page is
driven as a user would (typing into a form, pressing Enter), and every request
the browser makes is recorded."""

import base64
import json
import os
import select
import shutil
import signal
import subprocess
import tempfile
import time

CHROMIUM = "/usr/bin/chromium"
TIMEOUT = 30


class ChromiumError(Exception):
    pass


class Chromium:
    def __init__(self, width=1200, height=900):
        self.profile = tempfile.mkdtemp(prefix="vlrn-chromium.")
        commands_read, self._commands = os.pipe()
        self._events, events_write = os.pipe()

        def as_child():
            os.dup2(commands_read, 3)
            os.dup2(events_write, 4)

        # As root Chromium runs only without its sandbox.
        self.process = subprocess.Popen(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--remote-debugging-pipe",
             "--user-data-dir=" + self.profile, "--no-first-run", "--disable-extensions",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--hide-scrollbars", "--window-size=%d,%d" % (width, height), "about:blank"],
            pass_fds=(3, 4), preexec_fn=as_child, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, start_new_session=True)
        os.close(commands_read)
        os.close(events_write)
        self._buffer = b""
        self._next_id = 0
        self.events = []            # (method, params) of the page's session, in order
        self.session = None
        try:
            target = self.call("Target.createTarget", {"url": "about:blank"}, browser=True)["targetId"]
            self.session = self.call("Target.attachToTarget", {"targetId": target, "flatten": True},
                                     browser=True)["sessionId"]
            for domain in ("Page", "Network", "Log", "Runtime", "DOM"):
                self.call(domain + ".enable")
            self.call("Emulation.setDeviceMetricsOverride", {"width": width, "height": height,
                                                             "deviceScaleFactor": 1, "mobile": False})
        except BaseException:
            self.close()
            raise

    # --- the protocol ------------------------------------------------------------------

    def _send(self, message):
        os.write(self._commands, json.dumps(message).encode("utf-8") + b"\0")

    def _receive(self, deadline):
        while b"\0" not in self._buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self._events], [], [], left)[0]:
                raise ChromiumError("Chromium did not answer within %d s" % TIMEOUT)
            data = os.read(self._events, 1 << 20)
            if not data:
                raise ChromiumError("Chromium ended")
            self._buffer += data
        message, _, self._buffer = self._buffer.partition(b"\0")
        return json.loads(message)

    def _take(self, message):
        if "method" in message and message.get("sessionId") == self.session:
            self.events.append((message["method"], message.get("params", {})))

    def call(self, method, params=None, browser=False):
        self._next_id += 1
        message = {"id": self._next_id, "method": method, "params": params or {}}
        if not browser:
            message["sessionId"] = self.session
        self._send(message)
        deadline = time.monotonic() + TIMEOUT
        while True:
            reply = self._receive(deadline)
            if reply.get("id") == self._next_id:
                if "error" in reply:
                    raise ChromiumError("%s: %s" % (method, reply["error"]))
                return reply.get("result", {})
            self._take(reply)

    def wait_for(self, method, after):
        """The params of the first event `method` after the first `after` events."""
        deadline = time.monotonic() + TIMEOUT
        while True:
            for name, params in self.events[after:]:
                if name == method:
                    return params
            self._take(self._receive(deadline))

    # --- what a test does with a page --------------------------------------------------

    def _loaded(self, action):
        """Runs action and waits until the page it leads to has loaded; -> the document's HTTP status."""
        mark = len(self.events)
        action()
        self.wait_for("Page.loadEventFired", mark)
        documents = [p for name, p in self.events[mark:] if name == "Network.responseReceived"
                     and p.get("type") == "Document"]
        return documents[-1]["response"]["status"] if documents else None

    def open(self, url):
        return self._loaded(lambda: self.call("Page.navigate", {"url": url}))

    def submit(self, selector, text):
        """Types text into the form field and presses Enter, as a user does; -> the next page's status."""
        root = self.call("DOM.getDocument")["root"]["nodeId"]
        node = self.call("DOM.querySelector", {"nodeId": root, "selector": selector})["nodeId"]
        if not node:
            raise ChromiumError("no %s on the page" % selector)
        self.call("DOM.focus", {"nodeId": node})
        self.call("Input.insertText", {"text": text})

        def enter():
            for kind in ("keyDown", "keyUp"):
                self.call("Input.dispatchKeyEvent", {"type": kind, "key": "Enter", "code": "Enter",
                                                     "windowsVirtualKeyCode": 13, "text": "\r"})
        return self._loaded(enter)

    def evaluate(self, expression):
        """A JSON value computed in the page (DevTools evaluates outside its CSP)."""
        result = self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True})
        if "exceptionDetails" in result:
            raise ChromiumError("%s: %s" % (expression, result["exceptionDetails"]))
        return result["result"].get("value")

    def requested_urls(self):
        return [p["request"]["url"] for name, p in self.events if name == "Network.requestWillBeSent"]

    def log_entries(self):
        return [p["entry"] for name, p in self.events if name == "Log.entryAdded"]

    def cookies(self):
        return self.call("Network.getCookies")["cookies"]

    def screenshot(self, path, full_height=False, height=None):
        """A PNG of the page: the window, the whole page's height, or its top `height` pixels."""
        params = {"format": "png"}
        if full_height or height:
            size = self.call("Page.getLayoutMetrics")["cssContentSize"]
            params["clip"] = {"x": 0, "y": 0, "width": size["width"], "height": height or size["height"], "scale": 1}
            params["captureBeyondViewport"] = True
        with open(path, "wb") as f:
            f.write(base64.b64decode(self.call("Page.captureScreenshot", params)["data"]))

    def close(self):
        if self.process.poll() is None:
            try:
                self._send({"id": 0, "method": "Browser.close", "params": {}})
                self.process.wait(10)
            except (OSError, subprocess.TimeoutExpired):
                pass
        try:
            # Its helper processes too: they share the group it was started in.
            os.killpg(self.process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        self.process.wait()
        for fd in (self._commands, self._events):
            try:
                os.close(fd)
            except OSError:
                pass
        shutil.rmtree(self.profile, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
