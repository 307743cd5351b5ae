"""The bench-scope script (bench_scope.py) against ru3 serve on the
simulator, unchanged, gets what the tool's own capture of the same simulated
signals gets: the same record and the same figures."""
import csv
import math
import subprocess

import pytest

import bench_scope
from conftest import RU3

SIGNALS = "ch1=sine,1,1000;ch2=square,0.5,250"


def capture(tmp_path, rate, points, ranges):
    out = tmp_path / "capture.csv"
    subprocess.run([RU3, f"--simulate={SIGNALS}", "capture", "--rate", str(rate), "--length", str(points),
                    "--pre", "0", "--range", ",".join(str(r) for r in ranges), "--coupling", "dc",
                    "--trigger", "ch1", "--level", "0.1", "--kind", "rising", "--timeout", "none",
                    "-q", "-o", str(out)], check=True)
    rows = list(csv.reader(open(out)))[1:]
    return [[float(r[1]) for r in rows], [float(r[2]) for r in rows]]


def test_bench_script_gets_what_the_tool_captures(server, tmp_path):
    report = bench_scope.run(f"TCPIP::127.0.0.1::{server.scpi_port}::SOCKET", str(tmp_path))
    # The one error is the hard-copy command the RU3 does not have.
    assert [e.split(",")[0] for e in report["errors"]] == ["-113"], report["errors"]
    assert report["png_magic"] == "89504e470d0a1a0a" and report["png"] > 10000
    # 1 ms/div over 10 divisions: 50 kHz, 500 samples; 500 and 200 mV/div: the 2 V and 0.8 V ranges.
    assert report["timebase"] == 1e-3 and report["rate"] == 50000
    ch1, ch2 = report["channels"][1], report["channels"][2]
    assert ch1["points"] == ch2["points"] == 500 and ch1["times"][0] == 0
    assert (ch1["scale"], ch2["scale"]) == (0.5, 0.2)

    tool = capture(tmp_path, 50000, 500, (2, 0.8))
    # The trigger comes at the first sample after the level is crossed, so
    # the sampling instants of two records differ by up to a sample: each
    # sample lies between the tool's neighbours of it, give or take a code.
    # The 250 Hz square is besides in any of four phases against the 1 kHz
    # trigger (50 samples apart), as the record was armed.
    def within(got, want, step, shift=0):
        inside = range(max(1, 1 - shift), min(499, 499 - shift))
        return all(min(want[i + shift - 1:i + shift + 2]) - step <= got[i] <= max(want[i + shift - 1:i + shift + 2]) + step
                   for i in inside)
    assert len(ch1["volts"]) == len(tool[0]) == 500
    assert within(ch1["volts"], tool[0], 2 / 2048)
    assert any(within(ch2["volts"], tool[1], 0.8 / 2048, shift) for shift in range(-150, 151, 50))
    # The figures: the square's levels, widths and duty cycle, the sine's period.
    square, sine = ch2["measure"], ch1["measure"]
    assert square["VPP"] == pytest.approx(max(tool[1]) - min(tool[1]), abs=1e-9)
    assert square["VTOP"] == pytest.approx(0.5, abs=0.8 / 2048) and square["VBASe"] == pytest.approx(-0.5, abs=0.8 / 2048)
    assert square["VAMPlitude"] == pytest.approx(1, abs=0.8 / 1024)
    assert square["PERiod"] == pytest.approx(4e-3, rel=1e-3) and square["DUTYcycle"] == pytest.approx(50, abs=1)
    assert square["PWIDth"] == pytest.approx(2e-3, abs=2e-5) and square["NWIDth"] == pytest.approx(2e-3, abs=2e-5)
    assert square["RISetime"] < 2e-5 and square["FALLtime"] < 2e-5  # within one sample
    assert sine["PERiod"] == pytest.approx(1e-3, rel=1e-3) and sine["FREQuency"] == pytest.approx(1000, rel=1e-3)
    # Its peaks fall between samples by up to half a sample: 1 - cos(pi f / rate) of the amplitude.
    assert sine["VPP"] == pytest.approx(max(tool[0]) - min(tool[0]), abs=2 * (1 - math.cos(math.pi / 50)) + 2 / 2048)
    # 10 % to 90 % of a sine: 2 asin(0.8) / (2 pi f).
    assert sine["RISetime"] == pytest.approx(math.asin(0.8) / math.pi / 1000, rel=0.03)
