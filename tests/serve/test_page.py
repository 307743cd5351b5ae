"""The scope page in headless Chromium: traces that move, controls that
the instrument follows, the level marker dragged, a CSV saved, and a
screenshot that shows both traces; a sigrok session file saved over HTTP
and read back by sigrok-cli."""
import json
import math
import os
import struct
import subprocess
import time

import pytest
from PIL import Image

from conftest import connect


def settings(server):
    return server.state()["settings"]


def change(browser, element, value):
    browser.eval(f"""(() => {{ const el = document.getElementById('{element}');
        el.value = '{value}'; el.dispatchEvent(new Event('change')); }})()""")


def wait_until(condition, timeout=20, message=lambda: ""):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.1)
    raise AssertionError(f"timed out {message()}")


def test_page_shows_and_controls_the_scope(server, browser, tmp_path):
    browser.call("Page.navigate", url=server.url + "/")
    browser.wait_for("window.ru3 && window.ru3.frames > 3")

    # Free-running, the traces change between frames.
    change(browser, "source", "none")
    wait_until(lambda: settings(server)["source"] == "none")
    first = browser.eval("(async () => { const n = ru3.frames; while (ru3.frames < n + 2)"
                         " await new Promise(r => setTimeout(r, 20)); return JSON.stringify(ru3.data); })()")
    second = browser.eval("(async () => { const n = ru3.frames; while (ru3.frames < n + 2)"
                          " await new Promise(r => setTimeout(r, 20)); return JSON.stringify(ru3.data); })()")
    assert first != second

    # Range and trigger level through the controls.
    change(browser, "source", "ch1")
    change(browser, "ch1-range", "2")
    change(browser, "level", "0.5")
    wait_until(lambda: settings(server)["channels"][0]["range"] == 2 and abs(settings(server)["level"] - 0.5) < 2 / 128)
    assert browser.wait_for("ru3.header.settings.channels[0].range === 2 && Math.abs(ru3.header.settings.level - 0.5) < 0.02")

    # Drag the level marker from 0.5 V down to about -0.5 V.
    box = browser.eval("(() => { const r = document.querySelector('.u-over').getBoundingClientRect();"
                       " return [r.left, r.top, r.width, r.height]; })()")
    left, top, width, height = box
    to_y = lambda volts: top + height * (2 - volts) / 4  # CH1 spans -2..2 V top to bottom
    x = left + width * 0.8
    browser.call("Input.dispatchMouseEvent", type="mousePressed", x=x, y=to_y(0.5), button="left", clickCount=1)
    for step in range(1, 11):
        browser.call("Input.dispatchMouseEvent", type="mouseMoved", x=x, y=to_y(0.5 - step * 0.1), button="left")
    browser.call("Input.dispatchMouseEvent", type="mouseReleased", x=x, y=to_y(-0.5), button="left", clickCount=1)
    wait_until(lambda: abs(settings(server)["level"] + 0.5) < 0.1, message=lambda: settings(server))

    # Both traces on the screen, in their colours.
    browser.wait_for("ru3.frames > 0 && ru3.header.traces.length === 2")
    shot = tmp_path / "page.png"
    browser.screenshot(str(shot))
    image = Image.open(shot).convert("RGB")
    # Inside the plot area only: the axis labels are in the channels' colours too.
    pixels = list(image.crop((int(left), int(top), int(left + width), int(top + height))).getdata())
    yellow = sum(1 for r, g, b in pixels if r > 200 and 170 < g < 230 and b < 60)
    cyan = sum(1 for r, g, b in pixels if r < 80 and g > 170 and b > 220)
    assert yellow > 300 and cyan > 300, (yellow, cyan)
    if os.environ.get("RU3_SCREENSHOT"):
        image.save(os.environ["RU3_SCREENSHOT"])

    # Save the record shown as CSV.
    change(browser, "save-format", "csv")
    browser.eval("document.getElementById('save').click()")
    wait_until(lambda: any(n.endswith(".csv") for n in os.listdir(browser.downloads)))
    name = next(n for n in os.listdir(browser.downloads) if n.endswith(".csv"))
    lines = open(os.path.join(browser.downloads, name)).read().splitlines()
    assert lines[0].startswith("time (s; ") and "CH1 (V; range 2 V)" in lines[0]
    assert len(lines) == 1 + settings(server)["length"]
    print("page:", browser.eval("document.getElementById('fps').textContent"))


def test_saved_session_file_holds_the_record(server, tmp_path):
    """The .sr of a record, read back by sigrok-cli, gives the CSV's volts."""
    ok, answer = server.post("/api/control", {"client": "saver", "take": True, "set": [["state", "stop"]]})
    assert answer["settings"]["state"] == "stop"
    try:
        frame = server.get("/api/frame?after=0")[1]
        header = json.loads(frame[4:4 + struct.unpack("<I", frame[:4])[0]])
        seq = header["seq"]
        csv_lines = server.get(f"/api/save?format=csv&seq={seq}")[1].decode().splitlines()[1:]
        status, session = server.get(f"/api/save?format=sr&seq={seq}")
        assert status == 200 and session[:2] == b"PK"
        (tmp_path / "record.sr").write_bytes(session)
        read = subprocess.run(["sigrok-cli", "-i", str(tmp_path / "record.sr"), "-O", "csv"],
                              capture_output=True, text=True, check=True).stdout
        # The table: the units line, then a row of volts per sample ("nan"
        # where the record has no sample, an empty field in the CSV).
        table = [line.split(",") for line in read.splitlines() if line.count(",") == 1 and line[0] != ";"]
        assert table[0] == ["V DC", "V DC"]
        values = [[float(v) for v in row] for row in table[1:]]
        expected = [[float(v or "nan") for v in line.split(",")[1:3]] for line in csv_lines]
        assert len(values) == len(expected) == settings(server)["length"]
        for got, want in zip(values, expected):
            assert got == pytest.approx(want, abs=1e-4, nan_ok=True)
        # The simulated signals are in it: CH1 a 1 V sine, CH2 a 0.5 V square.
        ch1 = [v[0] for v in values if not math.isnan(v[0])]
        ch2 = [abs(v[1]) for v in values if not math.isnan(v[1])]
        assert len(ch1) > len(values) / 2 and max(ch1) > 0.9 and min(ch1) < -0.9
        assert max(ch2) == pytest.approx(0.5, abs=0.05)
    finally:
        server.post("/api/control", {"client": "saver", "take": True, "set": [["state", "run"]]})


def boxes_overlap(a, b):
    return a["x"] < b["x"] + b["w"] and b["x"] < a["x"] + a["w"] and a["y"] < b["y"] + b["h"] and b["y"] < a["y"] + a["h"]


@pytest.mark.parametrize("length", [512, 32760])
def test_axis_labels_are_readable_and_divisions_are_the_scopes(server, browser, tmp_path, length):
    """At 1280 x 800: every label on the canvas and clear of the others,
    negative ones signed, 10 x 8 divisions of the figures SCPI gives."""
    browser.call("Emulation.setDeviceMetricsOverride", width=1280, height=800, deviceScaleFactor=1, mobile=False)
    server.post("/api/control", {"client": "labels", "take": True, "set": [
        ["ch1.range", 2], ["ch2.range", 0.8], ["rate", 20000], ["length", length], ["pre", 0.5],
        ["trigger.source", "ch1"], ["state", "run"]]})
    browser.call("Page.navigate", url=server.url + "/")
    browser.wait_for(f"window.ru3 && ru3.header && ru3.header.length === {length} && ru3.frames > 1")
    labels, div = browser.eval("ru3.labels()"), browser.eval("ru3.divisions()")
    width, height = div["canvas"]
    for label in labels:
        assert 0 <= label["x"] and label["x"] + label["w"] <= width and 0 <= label["y"] <= height - label["h"], label
    for i, a in enumerate(labels):
        for b in labels[i + 1:]:
            assert not boxes_overlap(a, b), (a, b)
    texts = {axis: [l["text"] for l in labels if l["axis"] == axis] for axis in ("x", "v1", "v2")}
    assert texts["v1"][0] == "\u22122 V" and texts["v1"][-1] == "2 V" and texts["v2"][0] == "\u2212800 mV"
    assert len(texts["v1"]) == len(texts["v2"]) == 9 and texts["x"][0].startswith("\u2212")
    assert len(texts["x"]) >= 6  # every division, or every second one
    # The divisions and their figures, as SCPI's :TIMebase:SCALe? and :CHANnel<n>:SCALe? say.
    with connect(server.scpi_port) as s:
        s.sendall(b":TIM:SCAL?;:CHAN1:SCAL?;:CHAN2:SCAL?\n")
        scpi = [float(v) for v in s.makefile("rb").readline().split(b";")]
    assert (div["x"], div["y"]) == (10, 8)
    assert [div["time"], *div["volts"]] == pytest.approx(scpi, rel=1e-12)
    assert div["tdiv"] == ("2.560 ms" if length == 512 else "163.8 ms") and div["vdiv"] == ["500.0 mV", "200.0 mV"]
    shot = tmp_path / f"labels-{length}.png"
    browser.screenshot(str(shot))
    if os.environ.get("RU3_SCREENSHOT_DIR"):
        Image.open(shot).save(os.path.join(os.environ["RU3_SCREENSHOT_DIR"], shot.name))
