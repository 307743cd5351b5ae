"""Fixtures of the ru3 serve suites: the server on free loopback ports
against the simulator, and a headless Chromium driven over the DevTools
protocol. Everything listens on and talks to 127.0.0.1 only."""
import base64
import http.client
import json
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
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


def connect(port, source="127.0.0.1", timeout=10):
    """A TCP connection to the server from a chosen loopback address (the
    server caps connections per client address; attacks come from 127.0.0.2)."""
    return socket.create_connection(("127.0.0.1", port), timeout=timeout, source_address=(source, 0))


def rss_mb(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0.0


class Probe:
    """A well-behaved page client and SCPI client asking every 0.2 s on fresh
    connections from 127.0.0.1 while an attack runs; the latencies are kept
    (None for a request that failed)."""

    def __init__(self, server, token=None):
        self.server, self.stop, self.page, self.scpi = server, threading.Event(), [], []
        self.login = f':SYST:TOK "{token}";'.encode() if token else b""
        self.thread = threading.Thread(target=self._run)

    def _ask(self, into, how):
        start = time.monotonic()
        try:
            how()
            into.append(time.monotonic() - start)
        except OSError:
            into.append(None)

    def _page(self):
        c = http.client.HTTPConnection("127.0.0.1", self.server.http_port, timeout=10)
        c.request("GET", "/api/state", headers={"Host": "127.0.0.1"})
        assert c.getresponse().status in (200, 401)
        c.close()

    def _scpi(self):
        with connect(self.server.scpi_port) as s:
            s.sendall(self.login + b"*IDN?\n")
            if not s.makefile("rb").readline().startswith(b"Zevizezave,"):
                raise OSError("no answer")

    def _run(self):
        for _ in range(300):
            if self.stop.wait(0.2):
                return
            self._ask(self.page, self._page)
            self._ask(self.scpi, self._scpi)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *_):
        self.stop.set()
        self.thread.join(timeout=30)

    def check(self, during):
        """Prints median and worst of both clients; every request answered."""
        for name, times in (("page", self.page), ("SCPI", self.scpi)):
            answered = sorted(t for t in times if t is not None)
            assert answered and len(answered) == len(times), f"{name} during {during}: {times}"
            print(f"{name} client during {during}: median {1000 * answered[len(answered) // 2]:.0f} ms, "
                  f"worst {1000 * answered[-1]:.0f} ms over {len(times)} requests")
            assert answered[-1] < 8


class RssPeak:
    """The server's peak resident size while a block runs, sampled every 50 ms."""

    def __init__(self, server):
        self.pid, self.stop, self.peak = server.process.pid, threading.Event(), 0.0
        self.thread = threading.Thread(target=self._run)

    def _run(self):
        for _ in range(2000):
            self.peak = max(self.peak, rss_mb(self.pid))
            if self.stop.wait(0.05):
                return

    def __enter__(self):
        self.before = rss_mb(self.pid)
        self.thread.start()
        return self

    def __exit__(self, *_):
        self.stop.set()
        self.thread.join(timeout=30)
        self.growth = self.peak - self.before
