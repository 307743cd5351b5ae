"""Fixtures of the ru3 serve suites: the server on free loopback ports
against the simulator, and a headless Chromium driven over the DevTools
protocol. Everything listens on and talks to 127.0.0.1 only."""
import base64
import json
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import urllib.request

import pytest
import websocket

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
RU3 = os.environ.get("RU3_TOOL", os.path.join(ROOT, "build", "default", "ru3"))
CHROMIUM = shutil.which("chromium") or "/usr/bin/chromium"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Server:
    """ru3 serve in a child process; stopped with SIGTERM."""

    def __init__(self, *extra, simulate="ch1=sine,1,1000;ch2=square,0.5,250", env=None):
        self.http_port, self.scpi_port = free_port(), free_port()
        self.url = f"http://127.0.0.1:{self.http_port}"
        self.log = tempfile.TemporaryFile()
        self.process = subprocess.Popen(
            [RU3, f"--simulate={simulate}", "serve", "--listen", f"127.0.0.1:{self.http_port}",
             "--scpi", str(self.scpi_port), *extra],
            stdout=self.log, stderr=subprocess.STDOUT, env={**os.environ, **(env or {})})
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            assert self.process.poll() is None, self.output()
            try:
                socket.create_connection(("127.0.0.1", self.scpi_port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.1)
        raise AssertionError("server did not start: " + self.output())

    def output(self):
        self.log.seek(0)
        return self.log.read().decode(errors="replace")

    def get(self, path, headers=None):
        request = urllib.request.Request(self.url + path, headers=headers or {})
        with urllib.request.urlopen(request, timeout=10) as answer:
            return answer.status, answer.read()

    def post(self, path, body, headers=None):
        request = urllib.request.Request(self.url + path, data=json.dumps(body).encode(), method="POST",
                                         headers={"Content-Type": "application/json", **(headers or {})})
        with urllib.request.urlopen(request, timeout=10) as answer:
            return answer.status, json.loads(answer.read())

    def state(self):
        return json.loads(self.get("/api/state")[1])

    def stop(self, how=signal.SIGTERM):
        if self.process.poll() is None:
            self.process.send_signal(how)
            self.process.wait(timeout=20)
        return self.process.returncode


@pytest.fixture(scope="module")
def server():
    s = Server()
    yield s
    assert s.stop() == 0, s.output()


class Browser:
    """Headless Chromium with one page, driven over the DevTools protocol."""

    def __init__(self):
        self.profile = tempfile.mkdtemp(prefix="ru3-chromium-")
        self.downloads = os.path.join(self.profile, "downloads")
        os.makedirs(self.downloads)
        self.process = subprocess.Popen(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--disable-dev-shm-usage", f"--user-data-dir={self.profile}", "--remote-debugging-address=127.0.0.1",
             "--remote-debugging-port=0", "--window-size=1400,1000", "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        port_file = os.path.join(self.profile, "DevToolsActivePort")
        deadline = time.monotonic() + 30
        while not (os.path.exists(port_file) and open(port_file).read().strip()):
            assert time.monotonic() < deadline, "Chromium did not start"
            time.sleep(0.1)
        port = int(open(port_file).read().split()[0])
        with urllib.request.urlopen(f"http://127.0.0.1:{port}/json/list", timeout=10) as answer:
            pages = [t for t in json.loads(answer.read()) if t["type"] == "page"]
        self.ws = websocket.create_connection(pages[0]["webSocketDebuggerUrl"], timeout=30,
                                              suppress_origin=True)
        self.next_id = 0
        self.call("Page.enable")
        self.call("Browser.setDownloadBehavior", behavior="allow", downloadPath=self.downloads)

    def call(self, method, **params):
        self.next_id += 1
        self.ws.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.ws.recv())
            if message.get("id") == self.next_id:
                assert "error" not in message, message
                return message.get("result", {})

    def eval(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, awaitPromise=True, returnByValue=True)
        assert "exceptionDetails" not in result, result
        return result["result"].get("value")

    def wait_for(self, expression, timeout=20):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            value = self.eval(expression)
            if value:
                return value
            time.sleep(0.1)
        raise AssertionError("timed out waiting for " + expression)

    def screenshot(self, path):
        data = self.call("Page.captureScreenshot", format="png")["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))

    def close(self):
        try:
            self.ws.close()
        finally:
            self.process.terminate()
            self.process.wait(timeout=20)
            shutil.rmtree(self.profile, ignore_errors=True)


@pytest.fixture
def browser():
    b = Browser()
    yield b
    b.close()
