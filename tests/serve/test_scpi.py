"""The SCPI port driven by a real VISA client (pyvisa with the pyvisa-py
back end) over TCPIP::127.0.0.1::<port>::SOCKET against the simulator."""
import math
import re

import pytest
import pyvisa


@pytest.fixture(scope="module")
def scope(server):
    rm = pyvisa.ResourceManager("@py")
    inst = rm.open_resource(f"TCPIP::127.0.0.1::{server.scpi_port}::SOCKET",
                            read_termination="\n", write_termination="\n", timeout=20000)
    inst.write("*RST;*CLS")
    yield inst
    inst.close()
    rm.close()


def errors(inst):
    found = []
    for _ in range(20):
        code, _, text = inst.query(":SYSTem:ERRor?").partition(",")
        if int(code) == 0:
            return found
        found.append((int(code), text))
    raise AssertionError("error queue does not empty")


def waveform(inst, fmt):
    inst.write(f":WAVeform:FORMat {fmt}")
    pre = [float(v) for v in inst.query(":WAVeform:PREamble?").split(",")]
    if fmt == "ASCii":  # bare comma-separated volts, as SCPI.md says
        values = inst.query_ascii_values(":WAVeform:DATA?")
    else:
        values = inst.query_binary_values(":WAVeform:DATA?", datatype="B" if fmt == "BYTE" else "H",
                                          is_big_endian=True)
    yinc, yorig, yref = pre[7], pre[8], pre[9]
    return pre, [(v - yref) * yinc + yorig for v in values]


def test_identity_and_settings_round_trip(scope):
    maker, model, serial, firmware = scope.query("*IDN?").split(",")
    start_range = scope.query(":CHAN1:RANG?")
    assert (model, serial) == ("RU3", "10001") and maker and firmware
    scope.write(":ACQuire:SRATe 50000;:CHANnel1:RANGe 2;:chan2:rang 4;coup ac")
    scope.write(":TRIGger:SOURce CHANnel1;:TRIG:LEV 0.25;SLOPe NEG;:TRIG:TIMeout 0.5")
    scope.write(":OUTPut:DAC1 2.5;:OUTP:MOT2 ON")
    assert float(scope.query(":acquire:srate?")) == 50000
    assert float(scope.query(":CHAN1:RANGE?")) == 2
    assert scope.query(":CHANNEL2:RANGE?;:CHAN2:COUPLING?") == "4;AC"
    assert scope.query(":TRIG:SOUR?;SLOP?;TIM?") == "CHAN1;NEG;0.5"
    assert abs(float(scope.query(":TRIG:LEV?")) - 0.25) <= 2 / 128
    assert scope.query(":OUTP:DAC1?;:OUTP:MOT2?;:OUTP:MOT1?") == "2.5;1;0"
    assert errors(scope) == []
    scope.write("*RST")
    assert scope.query(":CHAN1:RANG?") == start_range and scope.query(":OUTP:DAC1?") == "0"


def test_waveform_is_the_simulated_sine_in_volts(scope):
    scope.write("*RST;:ACQ:SRAT 50000;:ACQ:POIN 2000;:ACQ:PRETrigger 0;:CHAN1:RANG 2")
    scope.write(":TRIG:SOUR CHAN1;:TRIG:LEV 0.1;:TRIG:SLOP POS;:WAV:SOUR CHAN1")
    scope.write(":SINGle")
    assert scope.query("*OPC?") == "1"
    assert scope.query(":ACQ:STAT?") == "STOP"
    pre, volts = waveform(scope, "WORD")
    assert pre[2] == len(volts) == 2000 and pre[4] == pytest.approx(1 / 50000)
    # The 1 V, 1 kHz sine: 40 periods, amplitude to a few codes of 2 V / 2048.
    assert max(volts) == pytest.approx(1, abs=0.01) and min(volts) == pytest.approx(-1, abs=0.01)
    rising = sum(1 for a, b in zip(volts, volts[1:]) if a < 0 <= b)
    assert rising in (39, 40, 41)
    # Triggered on the rising slope through 0.1 V: the record starts near it.
    assert volts[0] == pytest.approx(0.1, abs=0.15) and volts[5] > volts[0]
    for fmt, step in (("BYTE", 2 / 128), ("ASCii", 1e-9)):
        _, other = waveform(scope, fmt)
        assert len(other) == 2000
        assert max(abs(a - b) for a, b in zip(volts, other)) <= step + 1e-12
    assert float(scope.query(":MEAS:FREQ? CHAN1")) == pytest.approx(1000, rel=0.01)
    assert float(scope.query(":MEASure:VPP?")) == pytest.approx(2, abs=0.02)
    assert errors(scope) == []


def test_bad_commands_land_in_the_error_queue(scope):
    scope.write("*CLS")
    for line in (":FOO:BAR", ":CHAN3:RANG 2", ":ACQ:SRAT abc,def", ":ACQ:SRAT fast", ":TRIG:LEV 100",
                 "*IDN", ":ACQ:POIN", ":TRIG:SOUR CHAN7"):
        scope.write(line)
    assert int(scope.query("*STB?")) & 0x04  # the error queue is not empty
    assert int(scope.query("*ESR?")) & 0x30 == 0x30  # command and execution errors
    codes = [code for code, _ in errors(scope)]
    assert codes == [-113, -114, -108, -104, -222, -113, -109, -224]
    assert scope.query("*ESR?") == "0" and scope.query("*STB?") == "0"
    # The session goes on, and so does the instrument.
    assert scope.query("*IDN?").split(",")[1] == "RU3"
    assert math.isfinite(float(scope.query(":MEAS:VRMS? CHAN1")))


def test_autoscale_finds_the_ranges_and_keeps_the_timing(scope):
    # CH1 a 1 V sine, CH2 a 0.5 V square: from the largest ranges down to the
    # smallest that hold them, the record's rate, length, share before the
    # trigger and trigger level as they were.
    scope.write("*RST")
    scope.write(":ACQuire:SRATe 50000;:CHANnel1:RANGe 20;:CHANnel2:RANGe 20;:TRIGger:SOURce CHANnel1")
    scope.write(":ACQuire:PRETrigger 0.25;:TRIGger:LEVel 0.3")
    timing = ":ACQuire:SRATe?;:ACQuire:POINts?;:ACQuire:PRETrigger?;:TRIGger:LEVel?"
    before = scope.query(timing)
    assert float(scope.query("*OPC?")) == 1
    scope.write(":AUToscale")
    assert scope.query(":CHAN1:RANG?;:CHAN2:RANG?") == "2;0.8"
    assert scope.query(timing) == before
    # The instrument measures with that share before the trigger, as reported.
    scope.write(":SINGle")
    assert scope.query("*OPC?") == "1"
    pre, _ = waveform(scope, "WORD")
    assert pre[5] == pytest.approx(-0.25 * 512 / 50000)
    assert errors(scope) == []
    scope.write("*RST")


def test_every_query_is_answered_and_errors_speak_plainly(scope):
    scope.write("*RST;*CLS")
    # An unknown query, a failed unit before a query, a bad parameter to a
    # query: each line that asks gets one answer line, the error, which
    # stays in the queue too.
    for line, code in ((":FOO?", -113), (":FOO 1;:CHAN1:RANG?", -113), (":MEAS:VPP? CHAN7", -224),
                       (":CHAN3:SCAL?", -114), (":DISP:DATA? BMP", -224)):
        answer = scope.query(line)
        assert answer.startswith(f"{code},"), line
        assert errors(scope) == [(code, answer.partition(",")[2])]
    # Refusals name the setting as the scope's user knows it.
    for line in (":CHAN1:RANG 100", ":CHAN2:SCAL 21", ":ACQ:POIN 0", ":ACQ:SRAT 1e9", ":TRIG:LEV 100",
                 ":CHAN1:PROB 0", ":ACQ:PRET 2", ":OUTP:DAC2 11", ":CHAN1:DISP maybe", ":TIM:SCAL 1e-9"):
        scope.write(line)
        [(code, text)] = errors(scope)
        assert code in (-104, -222) and not re.search(r"; (ch[12]\.\w+|length|pre|rate|dac2):", text), (line, text)
    assert scope.query("*IDN?").startswith("Zevizezave,RU3,")


def test_channel_scale_range_probe_and_offset(scope):
    # The smallest range that holds the value (SCALe: 8 divisions, so a
    # quarter of the full scale); beyond the largest, -222.
    scope.write("*RST;*CLS")
    for command, value, range_ in ((":CHAN1:RANG", "1.5", 2), (":CHAN1:RANG", "50mV", 0.1),
                                   (":CHAN1:SCAL", "0.3", 2), (":CHAN1:SCAL", "20", 80), (":CHAN1:RANG", "80", 80)):
        scope.write(f"{command} {value}")
        assert float(scope.query(":CHAN1:RANG?")) == range_ and float(scope.query(":CHAN1:SCAL?")) == range_ / 4
    scope.write(":CHAN1:SCAL 20.5;:CHAN1:RANG 80.1")
    assert [code for code, _ in errors(scope)] == [-222, -222]
    # A 10:1 probe: volts at its tip, ranges and measurements alike.
    scope.write(":CHAN1:RANG 2;:CHAN1:PROB 10")
    assert scope.query(":CHAN1:PROB?;:CHAN1:RANG?;:CHAN1:SCAL?") == "10;20;5"
    scope.write(":CHAN1:RANG 15;:TRIG:SOUR CHAN1;:TRIG:LEV 1")
    assert scope.query(":CHAN1:RANG?") == "20" and float(scope.query(":MEAS:VPP? CHAN1")) == pytest.approx(20, abs=0.2)
    # No offset: 0 is taken, anything else refused as the instrument lacks it.
    scope.write(":CHAN1:PROB 1;:CHAN1:OFFS 0;:CHAN2:OFFSet 0.5")
    assert errors(scope)[0][0] == -221 and scope.query(":CHAN2:OFFS?") == "0"
    assert errors(scope) == []


def test_timebase_gives_rate_and_length(scope):
    scope.write("*RST;*CLS;:ACQ:POIN 512")
    # 10 divisions: the rate that spans them with the record as it is, as the
    # clock makes it, then the length that spans them at that rate.
    for scale, rate, points in (("1ms", 50000, 500), ("100us", 200000, 200), ("1", 20, 200), ("20us", 200000, 40)):
        scope.write(f":TIMebase:SCALe {scale}")
        assert (float(scope.query(":ACQ:SRAT?")), int(scope.query(":WAV:POIN?"))) == (rate, points), scale
    scope.write(":WAV:POIN 1000")
    assert scope.query(":TIM:SCAL?;:TIM:RANG?") == "0.0005;0.005"
    # The trigger's place: 0 s is the centre, +5 divisions the left edge.
    assert scope.query(":TIM:POS?;:ACQ:PRET?") == "0;0.5"
    scope.write(":TIM:POS 2.5ms")
    assert scope.query(":TIM:POS?;:ACQ:PRET?") == "0.0025;0"
    scope.write(":TIM:POS -3ms;:WAV:POIN 0;:TIM:SCAL 0.1us")
    assert [code for code, _ in errors(scope)] == [-222, -222, -222]
    scope.write(":WAV:POIN 1")  # the tool's shortest record
    assert scope.query(":ACQ:POIN?") == "1" and errors(scope) == []


def test_waveform_part_trigger_status_and_averaging(scope):
    scope.write("*RST;*CLS;:ACQ:SRAT 50000;:ACQ:POIN 1000;:ACQ:PRET 0;:CHAN1:RANG 2;:TRIG:SWE NORM")
    assert scope.query(":TRIG:TIM?;:TRIG:SWE?") == "INF;NORM"
    scope.write(":SINGle")
    assert scope.query("*OPC?") == "1"
    assert scope.query(":TRIG:STAT?;:TER?;:TER?") == "STOP;1;0"
    pre, whole = waveform(scope, "WORD")
    scope.write(":WAV:STAR 101;:WAV:STOP 150")
    for fmt in ("WORD", "BYTE", "ASCii"):
        part_pre, part = waveform(scope, fmt)
        assert part_pre[2] == len(part) == 50 and part_pre[5] == pytest.approx(pre[5] + 100 * pre[4])
        assert part == pytest.approx(whole[100:150], abs=2 / 128)
    assert scope.query(":WAV:STAR?;:WAV:STOP?") == "101;150"
    scope.write(":WAV:STOP 2000")
    assert len(waveform(scope, "WORD")[1]) == 900  # to the end of the record
    scope.write(":TRIGger:EDGE:SOURce EXTernal;:TRIG:SWE AUTO")
    assert errors(scope)[0][0] == -221 and scope.query(":TRIG:TIM?;:TRIG:EDGE:SOUR?") == "1;CHAN1"
    # AVERage: each record is the mean of COUNt records, a single one too.
    scope.write(":WAV:STAR 1;:ACQ:TYPE AVER;:ACQ:COUN 4;:SINGle")
    assert scope.query("*OPC?") == "1"
    pre, volts = waveform(scope, "WORD")
    assert pre[1:4] == [2, 1000, 4] and scope.query(":ACQ:TYPE?;:ACQ:COUN?") == "AVER;4"
    assert max(volts) == pytest.approx(1, abs=0.02)
    scope.write(":ACQ:TYPE NORM")
    assert errors(scope) == []
