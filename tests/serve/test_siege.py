"""Clients that hold connections open: idle and unauthenticated SCPI
sessions. A well-behaved client from another address is answered
throughout."""
import socket
import time

from conftest import Probe, Server, connect

TOKEN = "siege-token"


def closed_by_server(s, wait):
    s.settimeout(wait)
    try:
        while True:
            data = s.recv(4096)
            if not data:
                return True
    except (ConnectionResetError, BrokenPipeError):
        return True
    except socket.timeout:
        return False


def test_idle_scpi_sessions_do_not_lock_out_scpi():
    guarded = Server("--token", TOKEN)
    try:
        open_guarded = [connect(guarded.scpi_port, source="127.0.0.2") for _ in range(32)]
        with Probe(guarded, TOKEN) as probe:
            time.sleep(2)
        probe.check("32 unauthenticated SCPI sessions")
        # Sessions that never authenticate are closed after a few seconds.
        start = time.monotonic()
        assert all(closed_by_server(s, 15) for s in open_guarded)
        print(f"unauthenticated sessions closed after {time.monotonic() - start + 2:.1f} s")
        for s in open_guarded:
            s.close()
    finally:
        assert guarded.stop() == 0, guarded.output()


def test_idle_scpi_sessions_of_one_client_are_capped(server):
    idle = []
    for _ in range(40):
        try:
            idle.append(connect(server.scpi_port, source="127.0.0.2", timeout=2))
        except OSError:
            pass
    with Probe(server) as probe:
        time.sleep(2)
    probe.check("40 idle SCPI sessions")
    for s in idle:
        s.close()
