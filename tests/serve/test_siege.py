"""Clients that hold connections open: slow request heads, idle and
unauthenticated SCPI sessions, taken ports and stop signals. A well-behaved
client from another address is answered throughout; the server exits at
once on a stop signal with the instrument closed."""
import os
import signal
import socket
import subprocess
import threading
import time

import pytest

from conftest import RU3, Probe, Server, connect, free_port

TOKEN = "siege-token"


def drip_connections(port, count, source="127.0.0.2"):
    """Connections that begin a request head and then send one byte at a time."""
    drips = []
    for _ in range(count):
        try:
            s = connect(port, source=source, timeout=2)
            s.sendall(b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Drip: ")
            drips.append(s)
        except OSError:
            pass  # refused: over the cap
    return drips


def drip(drips, seconds):
    for _ in range(int(seconds / 0.5)):
        for s in drips:
            try:
                s.send(b"a")
            except OSError:
                pass
        time.sleep(0.5)


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


def test_slow_heads_neither_lock_out_the_page_nor_stay(server):
    drips = drip_connections(server.http_port, 40)
    with Probe(server) as probe:
        drip(drips, 7)
    probe.check("40 slow request heads")
    # The whole head has a deadline, however slowly it comes.
    assert all(closed_by_server(s, 5) for s in drips)
    for s in drips:
        s.close()


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


def run_serve(http_port, scpi_port, timeout=15):
    """ru3 serve expected to fail at start: its exit status, output and time."""
    start = time.monotonic()
    process = subprocess.Popen([RU3, "--simulate", "serve", "--listen", f"127.0.0.1:{http_port}",
                                "--scpi", str(scpi_port)], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    try:
        output, _ = process.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        output, _ = process.communicate()
        return None, output.decode(errors="replace"), timeout
    return process.returncode, output.decode(errors="replace"), time.monotonic() - start


def test_taken_ports_end_the_start_with_a_message(server):
    # The SCPI port taken: exit 1 at once, the page's port left free.
    with socket.socket() as taken:
        taken.bind(("127.0.0.1", 0))
        taken.listen(1)
        for _ in range(4):
            http_port = free_port()
            status, output, seconds = run_serve(http_port, taken.getsockname()[1])
            assert status == 1 and "in use" in output, output
            with socket.socket() as again:
                again.bind(("127.0.0.1", http_port))
    # The page's port held by another ru3 serve: no second server behind it.
    status, output, seconds = run_serve(server.http_port, free_port())
    assert status == 1 and "in use" in output, output
    print(f"a taken port ends the start after {seconds:.2f} s")


@pytest.mark.parametrize("how", [signal.SIGTERM, signal.SIGINT, signal.SIGHUP, signal.SIGQUIT],
                         ids=lambda s: s.name)
def test_stop_signals_are_prompt_and_close_the_instrument(tmp_path, how):
    trace = tmp_path / "ports.txt"
    s = Server(env={"RU3_PORT_TRACE": str(trace)})
    scpi = connect(s.scpi_port)
    scpi.sendall(b":OUTP:DAC1 3.999;:OUTP:MOT2 ON;:OUTP:DAC1?\n")
    assert scpi.makefile("rb").readline().strip() == b"3.999"
    scpi.sendall(b":OUTP:DAC1")  # a line begun
    keep_alive = connect(s.http_port)
    keep_alive.sendall(b"GET /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
    assert keep_alive.recv(12).startswith(b"HTTP/1.1 200")
    drips = drip_connections(s.http_port, 4, source="127.0.0.1")
    dripping = threading.Thread(target=drip, args=(drips, 3))
    dripping.start()
    time.sleep(1)
    start = time.monotonic()
    assert s.stop(how) == 0, s.output()
    seconds = time.monotonic() - start
    print(f"{how.name} with clients connected: exit after {seconds:.2f} s")
    assert seconds < 5
    dripping.join(timeout=10)
    for c in [scpi, keep_alive, *drips]:
        c.close()
    decoded = subprocess.run([RU3, "trace", str(trace)], capture_output=True, text=True, check=True).stdout
    dac1 = [line for line in decoded.splitlines() if "DAC output 1" in line]
    motors = [line for line in decoded.splitlines() if "motor outputs" in line]
    assert "code 2048" in dac1[-1] and "first off, second off" in motors[-1], decoded[-2000:]
