"""Settings in SI units, identity, auxiliary outputs, status codes as
exceptions, and the typing of every export."""

import datetime
import re
from pathlib import Path

import pytest

import ru3
from ru3 import _native

HEADER = Path(__file__).resolve().parents[2] / "include" / "ru3" / "ru3.h"
CODES = HEADER.with_name("ru3_codes.h")


def test_settings_read_back_what_the_instrument_took(scope):
    scope.sample_rate = 120e3
    assert scope.sample_rate == ru3.library().GetSampleFrequencyF() <= scope.max_sample_rate
    scope.pre_trigger = 0.25
    scope.record_length = 1000
    assert (scope.record_length, scope.pre_trigger) == (1000, 0.25)
    channel = scope.channels[2]
    channel.range = 1.0
    assert channel.range == 2.0  # the smallest range that holds 1 V
    channel.coupling = "ac"
    assert channel.coupling == "ac"
    scope.trigger_kind = "either"
    assert scope.trigger_kind == "either"
    scope.trigger_kind = 1
    assert scope.trigger_kind == "falling"
    scope.trigger_timeout = None
    assert scope.trigger_timeout is None and ru3.library().GetTriggerTimeOut() == -1
    scope.trigger_timeout = 0.25
    assert scope.trigger_timeout == 0.25
    scope.active_channels = [2, 1]
    assert scope.active_channels == (1, 2)
    scope.trigger_source = None
    assert scope.trigger_level is None
    with pytest.raises(ValueError):
        scope.trigger_level = 0.1


def test_refusals_raise_the_status_by_name(scope):
    with pytest.raises(ru3.BadValue) as refused:
        scope.channels[1].trigger_level = 2.5  # beyond the 2 V range
    assert (refused.value.status, refused.value.name, refused.value.function) == (32, "BAD_VALUE", "SetTriggerLevel")
    assert isinstance(refused.value, ru3.Error) and isinstance(refused.value, ValueError)
    with pytest.raises(ru3.BadValue):
        scope.channels[1].trigger_hysteresis = -0.1
    with pytest.raises(RuntimeError):
        ru3.Instrument(simulate=True)  # one instrument per process
    with pytest.raises(ValueError):
        scope.set_dac(10.5, 0)
    with pytest.raises(ValueError):
        scope.trigger_kind = "sideways"


def test_opening_fails_cleanly_naming_the_cause_and_can_be_retried():
    with pytest.raises(ru3.NoInstrument) as failed:
        ru3.Instrument(simulate="port=none")
    assert failed.value.name == "NO_INSTRUMENT"
    # A malformed configuration is a bad value, said in the exception.
    with pytest.raises(ValueError, match="no_such_key") as malformed:
        ru3.Instrument(simulate="no_such_key=1")
    assert not isinstance(malformed.value, ru3.NoInstrument)
    # Why the ports cannot be used is in the exception, not only on standard error.
    with pytest.raises(ru3.NoInstrument, match="no instrument found: .*giveio|no instrument found: .*driver"):
        ru3.Instrument(simulate="driver=missing")
    scope = ru3.Instrument(simulate=True)
    scope.close()
    scope.close()
    assert not scope.is_open
    with pytest.raises(ru3.NoInstrument, match="closed") as closed:
        _ = scope.sample_rate
    assert "GetSampleFrequencyF" not in str(closed.value)


def test_identity_and_auxiliary_outputs():
    config = "variant=0x11;serial=12345;caldate=2003-03-15T10:30"
    with ru3.Instrument(simulate=config, unit=2) as scope:
        assert scope.serial_number == 12345
        assert scope.calibration_date == datetime.datetime(2003, 3, 15)
        assert (scope.variant, scope.max_sample_rate) == ("400 kHz", 400000.0)
        assert (scope.channel_count, scope.max_record_length, scope.resolution) == (2, 32760, 12)
        assert scope.ranges == (0.1, 0.2, 0.4, 0.8, 2, 4, 8, 20, 40, 80)
        assert scope.unit == 2
        scope.set_dac(2.5, -1)
        scope.set_motors(True, False)
        scope.unit = 1  # the unit that identification addresses when the next test opens


def test_every_export_is_typed_as_the_header_declares_it():
    if not HEADER.exists():
        pytest.skip("no header beside the tests")
    text = re.sub(r"/\*.*?\*/", "", HEADER.read_text(), flags=re.S)
    names = {"uint8_t": "u8", "uint16_t": "u16", "uint32_t": "u32", "int32_t": "i32", "double": "f64"}
    declared = {}
    for result, name, args in re.findall(r"RU3_API\s+(\w+)\s+RU3_CALL\s+(\w+)\(([^)]*)\)", text):
        types = []
        for arg in filter(None, (a.strip() for a in args.split(","))):
            if arg != "void":
                base = arg.replace("const ", "").replace("*", " ").split()[0]
                types.append(names[base] + ("*" if "*" in arg else ""))
        declared[name] = (names[result], types)
    assert len(declared) == 115
    assert _native.parse_prototypes() == declared


def test_the_codes_the_package_names_are_the_headers():
    if not HEADER.exists():
        pytest.skip("no header beside the tests")
    defines = dict(re.findall(r"#define RU3_(\w+) (0x[0-9A-Fa-f]+|\d+)u?\b", CODES.read_text()))
    for name in ("NO_SAMPLE", "MODE_CH1", "TRIG_CH1", "TRIG_CH2", "TRIG_NONE", "TIMEOUT_NONE", "KIND_RISING", "KIND_FALLING",
                 "KIND_FALLING_BELOW", "KIND_EITHER", "COUPLING_DC", "COUPLING_AC"):
        assert getattr(_native, name) == int(defines[name], 0), name
