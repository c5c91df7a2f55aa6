"""Headless Chromium driven over the DevTools protocol through a pipe
(--remote-debugging-pipe: commands on its fd 3, answers on fd 4, each a JSON
text ending in NUL), so that a test can click, fill forms and take
screenshots with nothing beyond Python's standard library."""
import base64
import fcntl
import json
import os
import select
import subprocess
import time


class BrowserError(Exception):
    pass


class Browser:
    def __init__(self, profile, width=1280, height=1600):
        # Above the fds Chromium is handed, so that placing them cannot overwrite one another.
        to_browser_read, to_browser_write = (fcntl.fcntl(fd, fcntl.F_DUPFD_CLOEXEC, 10) for fd in os.pipe())
        from_browser_read, from_browser_write = (fcntl.fcntl(fd, fcntl.F_DUPFD_CLOEXEC, 10) for fd in os.pipe())

        def place_pipes():
            os.dup2(to_browser_read, 3)
            os.dup2(from_browser_write, 4)

        self.process = subprocess.Popen(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--no-proxy-server", f"--user-data-dir={profile}", "--remote-debugging-pipe", "about:blank"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=place_pipes, pass_fds=(3, 4))
        os.close(to_browser_read)
        os.close(from_browser_write)
        self.write_fd, self.read_fd = to_browser_write, from_browser_read
        self.buffer = b""
        self.next_id = 0
        self.events = []
        target = self.call("Target.createTarget", {"url": "about:blank"})["targetId"]
        self.session = self.call("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
        self.call("Page.enable", session=True)
        self.call("Emulation.setDeviceMetricsOverride",
                  {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": False}, session=True)

    def _message(self, deadline):
        while b"\0" not in self.buffer:
            left = deadline - time.time()
            if left <= 0 or not select.select([self.read_fd], [], [], left)[0]:
                raise BrowserError("Chromium did not answer in time")
            chunk = os.read(self.read_fd, 1 << 20)
            if not chunk:
                raise BrowserError("Chromium closed the pipe")
            self.buffer += chunk
        text, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(text)

    def call(self, method, params=None, session=False, timeout=30):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = self.session
        os.write(self.write_fd, json.dumps(message).encode() + b"\0")
        deadline = time.time() + timeout
        while True:
            answer = self._message(deadline)
            if answer.get("id") == self.next_id:
                if "error" in answer:
                    raise BrowserError(f"{method}: {answer['error']}")
                return answer.get("result", {})
            self.events.append(answer)

    def _wait_for_load(self, timeout=30):
        deadline = time.time() + timeout
        while True:
            for event in self.events:
                if event.get("method") == "Page.loadEventFired":
                    self.events.clear()
                    return
            self.events.clear()
            self.events.append(self._message(deadline))

    def open(self, url):
        self.events.clear()
        self.call("Page.navigate", {"url": url}, session=True)
        self._wait_for_load()

    def evaluate(self, expression):
        """The expression's value (JSON-able), run in the page."""
        result = self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True}, session=True)
        if "exceptionDetails" in result:
            raise BrowserError(f"{expression}: {result['exceptionDetails'].get('text')}")
        return result["result"].get("value")

    def click(self, selector):
        """Clicks the element as a user would and waits for the page it leads to."""
        self.events.clear()
        found = self.evaluate(f"(function(e){{if(!e)return false;e.click();return true;}})"
                              f"(document.querySelector({json.dumps(selector)}))")
        if not found:
            raise BrowserError(f"nothing to click at {selector}")
        self._wait_for_load()

    def fill(self, selector, value):
        if not self.evaluate(f"(function(e){{if(!e)return false;e.value={json.dumps(value)};return true;}})"
                             f"(document.querySelector({json.dumps(selector)}))"):
            raise BrowserError(f"no field {selector}")

    def send_headers(self, headers):
        """Sends these headers with every later request (a login, as a browser repeats it after the prompt)."""
        self.call("Network.enable", session=True)
        self.call("Network.setExtraHTTPHeaders", {"headers": headers}, session=True)

    def screenshot(self, path):
        data = self.call("Page.captureScreenshot", {"format": "png", "captureBeyondViewport": True},
                         session=True)["data"]
        with open(path, "wb") as out:
            out.write(base64.b64decode(data))

    def close(self):
        try:
            self.call("Browser.close", timeout=5)
        except BrowserError:
            pass
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        os.close(self.write_fd)
        os.close(self.read_fd)
