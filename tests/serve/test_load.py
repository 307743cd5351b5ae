"""Load: five page viewers long-polling records and one SCPI client
changing settings and reading waveforms, for RU3_LOAD_SECONDS (60 by
default). No request may fail; the rates are printed, not asserted."""
import os
import socket
import threading
import time
import urllib.request

SECONDS = float(os.environ.get("RU3_LOAD_SECONDS", "60"))


def viewer(server, stop, results, index):
    seq, frames, failures, requests = 0, 0, [], 0
    while not stop.is_set():
        requests += 1
        try:
            with urllib.request.urlopen(f"{server.url}/api/frame?after={seq}&client=viewer{index}",
                                        timeout=10) as answer:
                body = answer.read()
            header_length = int.from_bytes(body[:4], "little")
            new_seq = int(body[4:4 + header_length].split(b'"seq":')[1].split(b",")[0])
            frames += new_seq > seq
            seq = new_seq
        except Exception as error:  # every failure is reported
            failures.append(repr(error))
    results[index] = (requests, frames, failures)


def scpi_client(server, stop, results):
    requests, failures = 0, []
    with socket.create_connection(("127.0.0.1", server.scpi_port), timeout=20) as s:
        reader = s.makefile("rb")

        def query(line):
            s.sendall(line.encode() + b"\n")
            return reader.readline()

        n = 0
        while not stop.is_set():
            n += 1
            rate = 100000 if n % 2 else 200000
            s.sendall(f":ACQ:SRAT {rate};:CHAN1:RANG {2 if n % 3 else 4}\n".encode())
            answers = [query("*IDN?"), query(":WAV:FORM BYTE;:WAV:DATA?"), query(":ACQ:SRAT?"), query("SYST:ERR?")]
            requests += 4
            if not answers[0].startswith(b"Zevizezave,") or not answers[1].startswith(b"#") or \
                    float(answers[2]) != rate or not answers[3].startswith(b"0,"):
                failures.append(repr(answers)[:200])
    results["scpi"] = (requests, failures)


def test_five_viewers_and_a_scpi_client(server):
    stop, results = threading.Event(), {}
    threads = [threading.Thread(target=viewer, args=(server, stop, results, i)) for i in range(5)]
    threads.append(threading.Thread(target=scpi_client, args=(server, stop, results)))
    start = time.monotonic()
    for t in threads:
        t.start()
    time.sleep(SECONDS)
    stop.set()
    for t in threads:
        t.join(timeout=30)
    elapsed = time.monotonic() - start
    for i in range(5):
        requests, frames, failures = results[i]
        print(f"viewer {i}: {requests} requests, {frames / elapsed:.1f} records/s, {len(failures)} failed")
        assert not failures, failures[:3]
        assert frames > 0
    requests, failures = results["scpi"]
    print(f"SCPI client: {requests / elapsed:.1f} queries/s, {len(failures)} failed")
    print(f"instrument: {server.state()['fps']:.1f} records/s at the end")
    assert not failures, failures[:3]
