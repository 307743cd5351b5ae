"""Hostile input: SCPI lines and HTTP requests that are huge, binary,
unterminated or carry the wrong token. Each gets an error; the server
neither crashes nor hangs, and answers properly afterwards."""
import http.client
import signal
import socket
import subprocess
import time

import pytest

from conftest import RU3, Server

TOKEN = "s3cret-token"


@pytest.fixture(scope="module")
def guarded():
    s = Server("--token", TOKEN)
    yield s
    assert s.stop() == 0, s.output()


def session(server):
    s = socket.create_connection(("127.0.0.1", server.scpi_port), timeout=20)
    return s, s.makefile("rb")


def query(s, reader, line):
    s.sendall(line + b"\n")
    return reader.readline().decode().strip()


@pytest.mark.parametrize("line, code", [
    (b"A" * 100000, -363),                    # longer than a line may be
    (b"*IDN?\x00\xff\x01", -101),             # binary bytes
    (b':SYST:TOK "unterminated', -151),       # unterminated string
    (b"?", -102),
    (b":::", -102),
    (b":ACQ:SRAT 1e999999", -104),
    (b":CHAN99999999:RANG 2", -113),
    (b":ACQ:SRAT #H12", -104),
    (b":TRIG:LEV " + b"9" * 5000, -104),
    (b":ACQ:POIN 1,2,3,4,5,6,7,8,9", -108),
    (b"*RST extra", -108),
    (b":TRIG:TIM -0.001", -222),              # negative time-outs
    (b":TRIG:TIM -0.0004", -222),
    (b":TRIG:LEV 50PCT", -131),               # a unit of another quantity
    (b":ACQ:POIN 1000V", -138),               # a unit where none belongs
], ids=lambda v: repr(v)[:24] if isinstance(v, bytes) else str(v))
def test_hostile_scpi_lines(server, line, code):
    s, reader = session(server)
    with s:
        s.sendall(line + b"\n")
        if b"?" in line:  # a line that asks is answered, with its error
            assert reader.readline().decode().startswith(f"{code},")
        assert query(s, reader, b"SYST:TOK \"x\";:SYST:ERR?").startswith(f"{code},")
        assert query(s, reader, b"*IDN?").startswith("Zevizezave,RU3,")


def test_unterminated_and_abandoned_sessions(server):
    for _ in range(40):
        s = socket.create_connection(("127.0.0.1", server.scpi_port), timeout=5)
        s.sendall(b":WAV:DATA?\n*IDN?")  # no terminator, answers never read
        s.close()
    # Their sessions end as the server notices; until then it may refuse.
    for _ in range(100):
        try:
            s, reader = session(server)
            s.sendall(b"*IDN?\n")
            if reader.readline():
                break
        except OSError:
            time.sleep(0.1)
    s, reader = session(server)
    with s:
        assert query(s, reader, b"*IDN?").startswith("Zevizezave,")


def test_scpi_needs_the_token(guarded):
    s, reader = session(guarded)
    with s:
        s.sendall(b"*RST\n:SYST:TOK 'wrong'\n")
        s.sendall(f':SYST:TOK "{TOKEN}"\n'.encode())
        assert [query(s, reader, b"SYST:ERR?") for _ in range(3)] == [
            '-203,"Command protected; send :SYSTem:TOKen \'...\' first"', '-203,"Command protected; wrong token"',
            '0,"No error"']
        assert query(s, reader, b"*IDN?").startswith("Zevizezave,")


def raw_http(server, data):
    with socket.create_connection(("127.0.0.1", server.http_port), timeout=20) as s:
        try:
            s.sendall(data)
            # An incomplete request ends with the connection (the server
            # answers a half-closed one with nothing).
            if not data.endswith(b"\r\n\r\n") and b"Content-Length: 2\r" not in data and b"Length: 9\r" not in data:
                s.shutdown(socket.SHUT_WR)
        except OSError:
            pass  # the server may close first on a huge request
        return s.recv(200)


@pytest.mark.parametrize("data, status", [
    (b"GET /" + b"a" * 100000 + b" HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", (b"414", b"400", b"")),
    (b"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX: " + b"b" * 100000 + b"\r\n\r\n", (b"400", b"431", b"")),
    (b"\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03" + bytes(range(256)) * 4, (b"400", b"")),
    (b"GET /api/state HTTP/1.1\r\nHost: 127.0.0.1", (b"", b"400")),  # unterminated
    (b"POST /api/control HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
     b"Content-Length: 10000000\r\n\r\n{}", (b"413", b"400", b"")),
    (b"GET /api/state HTTP/1.1\r\nHost: attacker.example\r\n\r\n", (b"403",)),
    (b"GET /api/state HTTP/1.1\r\nHost: [::1].evil.example\r\n\r\n", (b"403",)),
    (b"GET /api/state HTTP/1.1\r\nHost: localhost%3a.evil.example\r\n\r\n", (b"403",)),
    (b"GET /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\nHost: evil.example\r\n\r\n", (b"400",)),
    (b"POST /api/control HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/plain\r\n"
     b"Content-Length: 2\r\n\r\n{}", (b"415",)),
    (b"POST /api/control HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
     b"Content-Length: 9\r\n\r\n{\"client\"", (b"400",)),
    (b"POST /api/control HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
     b"Transfer-Encoding: chunked\r\n\r\n2\r\n{}\r\n0\r\n\r\n", (b"411",)),  # unbounded by the library
    (b"GET /api/save?format=exe HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", (b"400",)),
    (b"GET /../../etc/passwd HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", (b"404", b"400")),
], ids=lambda v: repr(v)[:24] if isinstance(v, bytes) else "status")
def test_hostile_http_requests(server, data, status):
    answer = raw_http(server, data)
    assert answer[9:12] in status, answer[:80]
    assert server.get("/api/state")[0] == 200


def test_page_needs_the_token(guarded):
    def status(method, path, headers, body=None):
        c = http.client.HTTPConnection("127.0.0.1", guarded.http_port, timeout=10)
        c.request(method, path, body=body, headers={"Content-Type": "application/json", **headers})
        code = c.getresponse().status
        c.close()
        return code

    control = '{"client": "t", "set": [["trigger.level", 0.1]]}'
    assert status("GET", "/app.js", {}) == 200  # the page's files are no secret
    assert status("GET", "/api/state", {}) == 401
    assert status("GET", "/api/state?token=nope", {}) == 401
    assert status("POST", "/api/control", {"Authorization": "Bearer nope"}, control) == 401
    assert status("GET", f"/api/state?token={TOKEN}", {}) == 200
    assert status("POST", "/api/control", {"Authorization": f"Bearer {TOKEN}"}, control) == 200
    assert status("POST", "/api/control", {"Authorization": f"bEARER {TOKEN}"}, control) == 200
    # A second browser watches while the first controls, and may take over.
    assert status("POST", "/api/control", {"Authorization": f"Bearer {TOKEN}"},
                  '{"client": "other", "set": []}') == 409
    assert status("POST", "/api/control", {"Authorization": f"Bearer {TOKEN}"},
                  '{"client": "other", "take": true, "set": []}') == 200


def test_ctrl_c_closes_the_instrument(tmp_path):
    trace = tmp_path / "ports.txt"
    s = Server(env={"RU3_PORT_TRACE": str(trace)})
    session_socket, reader = session(s)
    with session_socket:
        assert query(session_socket, reader, b":OUTP:DAC1 2.5;:OUTP:MOT1 ON;:OUTP:DAC1?") == "2.5"
    assert s.stop(signal.SIGINT) == 0, s.output()
    decoded = subprocess.run([RU3, "trace", str(trace)], capture_output=True, text=True, check=True).stdout
    outputs = [line for line in decoded.splitlines() if "DAC output 1" in line or "motor outputs" in line]
    assert "code 2048" in outputs[-2] and "first off, second off" in outputs[-1]


def test_every_answer_forbids_framing_and_sniffing(server, guarded):
    def headers(s, path, extra=None):
        c = http.client.HTTPConnection("127.0.0.1", s.http_port, timeout=10)
        c.request("GET", path, headers=extra or {})
        answer = c.getresponse()
        answer.read()
        c.close()
        return answer.getheaders()

    for s, path, extra in [(server, "/", None), (server, "/app.js", None), (server, "/api/state", None),
                           (server, "/nowhere", None), (server, "/api/state", {"Host": "evil.example"}),
                           (guarded, "/api/state", None)]:
        got = {k.lower(): v for k, v in headers(s, path, extra)}
        assert got.get("x-frame-options") == "DENY", (path, got)
        assert "frame-ancestors 'none'" in got.get("content-security-policy", ""), (path, got)
        assert got.get("x-content-type-options") == "nosniff", (path, got)


def test_the_token_from_a_file_or_the_environment(tmp_path):
    token_file = tmp_path / "token"
    token_file.write_text(TOKEN + "\n")
    token_file.chmod(0o644)
    refused = subprocess.run([RU3, "--simulate", "serve", "--token-file", str(token_file)],
                             capture_output=True, text=True, timeout=20)
    assert refused.returncode == 2 and "readable" in refused.stderr, refused.stderr
    token_file.chmod(0o600)
    for s in (Server("--token-file", str(token_file)), Server(env={"RU3_SERVE_TOKEN": TOKEN})):
        try:
            with open(f"/proc/{s.process.pid}/cmdline", "rb") as cmdline:
                assert TOKEN.encode() not in cmdline.read()
            test_scpi_needs_the_token(s)
        finally:
            assert s.stop() == 0, s.output()
