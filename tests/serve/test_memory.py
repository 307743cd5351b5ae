"""Requests made to grow the server: SCPI replies never read, many ranges,
endless header lines, compressed bodies. Each is refused or bounded; the
server's resident size stays within a generous bound (printed)."""
import gzip
import socket
import threading

import pytest

from conftest import RssPeak, Server, connect


@pytest.fixture(scope="module")
def lone():
    s = Server()
    yield s
    assert s.stop() == 0, s.output()


def report(peak, attack, bound_mb):
    print(f"RSS under {attack}: {peak.before:.0f} MB before, peak {peak.peak:.0f} MB (+{peak.growth:.0f} MB)")
    assert peak.growth < bound_mb


def answer_status(s):
    try:
        return s.recv(12)[9:12]
    except OSError:
        return b""


def test_scpi_replies_never_read(lone):
    line = b":ACQ:POIN 2048;:WAV:FORM ASC;:WAV:DATA?" + b";DATA?" * 2700 + b"\n"
    with RssPeak(lone) as peak:
        sessions = [connect(lone.scpi_port, source=f"127.0.0.{2 + i}") for i in range(2)]
        for s in sessions:
            s.sendall(line)
        threading.Event().wait(4)
        for s in sessions:
            s.close()
    report(peak, "2 SCPI lines of 2700 waveform queries never read", 100)


def parallel(count, request):
    threads = [threading.Thread(target=request) for _ in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=30)


def test_many_ranges_are_refused(lone):
    statuses = []

    def ranges():
        with connect(lone.http_port, timeout=20) as s:
            s.sendall(b"GET /app.js HTTP/1.1\r\nHost: 127.0.0.1\r\nRange: bytes=" +
                      b",".join([b"0-"] * 1000) + b"\r\n\r\n")
            statuses.append(answer_status(s))
            for _ in range(1000):  # read what comes, as a client would
                if not s.recv(1 << 20):
                    break

    with RssPeak(lone) as peak:
        parallel(8, ranges)
    report(peak, "8 requests of 1000 ranges", 100)
    assert statuses == [b"416"] * 8
    status, _ = lone.get("/app.js", headers={"Range": "bytes=0-9"})
    assert status == 206


def test_endless_header_lines_are_cut_off(lone):
    statuses = []

    def headers():
        with connect(lone.http_port, timeout=20) as s:
            try:
                s.sendall(b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n")
                for i in range(5000):
                    s.sendall(b"X-%d: " % i + b"h" * 8000 + b"\r\n")
            except OSError:
                pass  # cut off
            statuses.append(answer_status(s))

    with RssPeak(lone) as peak:
        parallel(4, headers)
    report(peak, "4 heads of 5000 lines of 8 KB", 40)
    assert set(statuses) <= {b"431", b""}


def test_compressed_bodies_are_refused(lone):
    body = gzip.compress(bytes(60 << 20), 9)
    assert len(body) < 64 * 1024
    statuses = []

    def post():
        with connect(lone.http_port, timeout=20) as s:
            s.sendall(b"POST /api/control HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                      b"Content-Encoding: gzip\r\nContent-Length: %d\r\n\r\n" % len(body) + body)
            statuses.append(answer_status(s))

    with RssPeak(lone) as peak:
        parallel(4, post)
    report(peak, "4 gzip bodies of 60 MiB", 100)
    assert statuses == [b"415"] * 4
