"""The SCPI port driven by a real VISA client (pyvisa with the pyvisa-py
back end) over TCPIP::127.0.0.1::<port>::SOCKET against the simulator."""
import math

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
    if fmt == "ASCii":
        values = [float(v) for v in inst.query(":WAVeform:DATA?").split(",")]
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
