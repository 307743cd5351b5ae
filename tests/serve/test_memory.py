"""Requests made to grow the server: SCPI replies never read. Each is
refused or bounded; the server's resident size stays within a generous
bound (printed)."""
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
