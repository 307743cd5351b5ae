"""Measuring the simulator's signals: volts, time axis, trigger, forcing,
the no-sample positions, and timer-driven records."""

import ctypes
import time

import numpy as np
import pytest

import ru3

from conftest import SIGNALS


def rising_crossings(volts):
    v = volts[~np.isnan(volts)]
    return np.flatnonzero((v[:-1] < 0) & (v[1:] >= 0))


def test_measure_gives_the_signals_in_volts_on_a_time_axis(scope):
    record = scope.measure()
    assert record.channels == (1, 2)
    assert len(record) == 2000 and record.sample_rate == 100e3
    assert record.ranges == {1: 2.0, 2: 0.8}
    assert record.forced is False
    assert record.trigger.source == 1 and record.trigger.kind == "rising"
    # The time axis: sample steps, 0 at the trigger position.
    assert record.time[record.pre_samples] == 0
    assert np.allclose(np.diff(record.time), 1e-5)
    ch1, ch2 = record.volts[1], record.volts[2]
    lsb1 = 2.0 / 2048
    assert np.nanmax(ch1) == pytest.approx(1.5, abs=2 * lsb1)
    assert np.nanmin(ch1) == pytest.approx(-1.5, abs=2 * lsb1)
    assert (np.nanmax(ch2), np.nanmin(ch2)) == (0.5, -0.5)
    # 1 kHz: 100 samples a period, and the trigger position rises through 0 V.
    crossings = rising_crossings(ch1)
    assert np.diff(crossings) == pytest.approx(100, abs=1)
    assert ch1[record.pre_samples - 1] < 0 <= ch1[record.pre_samples + 1]


def test_records_are_full_unless_the_hold_off_is_off_and_carry_the_librarys_facts(scope):
    scope.pre_trigger = 0.9
    assert scope.full_pretrigger is True  # the default
    full = [scope.measure(), scope.measure()]
    assert [r.missing(1) + r.missing(2) for r in full] == [0, 0]
    assert full[1].sequence == full[0].sequence + 1 and full[0].first_sample == 0
    assert full[0].pre_samples == 1800 and full[0].forced is False
    scope.close()
    with ru3.Instrument(simulate=SIGNALS, full_pretrigger=False) as early:
        assert early.full_pretrigger is False
        early.sample_rate, early.record_length, early.pre_trigger = 100e3, 2000, 0.9
        assert early.measure().first_sample > 0


def test_no_sample_positions_are_nan_and_other_volts_equal_the_library(scope):
    scope.pre_trigger = 0.9
    scope.full_pretrigger = False  # a trigger that comes early leaves positions empty
    record = scope.measure()
    assert record.first_sample == np.argmax(record.codes[1] != ru3.NO_SAMPLE)
    lib = ru3.library()
    volts = [np.empty(2000) for _ in range(2)]
    pointer = ctypes.POINTER(ctypes.c_double)
    assert lib.ADC_GetDataVolt(*(v.ctypes.data_as(pointer) for v in volts)) == 0
    for ch in (1, 2):
        empty = record.codes[ch] == ru3.NO_SAMPLE
        assert empty.any() and record.missing(ch) == empty.sum()
        assert np.isnan(record.volts[ch][empty]).all()
        assert np.array_equal(record.volts[ch][~empty], volts[ch - 1][~empty])
        # The library's own conversion turns the no-sample code into -range/32768.
        assert (volts[ch - 1][empty] == -record.ranges[ch] / 32768).all()


def test_the_trigger_is_forced_after_the_time_out():
    with ru3.Instrument(simulate="ch1=dc,0.3") as scope:
        scope.channels[1].range = 0.8
        scope.trigger_source = 1
        scope.trigger_level = 0.6  # never reached
        scope.trigger_timeout = 0.05
        record = scope.measure()
        assert record.forced is True
        assert np.nanmean(record.volts[1]) == pytest.approx(0.3, abs=0.8 / 2048)


def test_block_style_step_by_step(scope):
    scope.active_channels = 2
    scope.trigger_source = 2
    scope.start()
    while not scope.ready:
        time.sleep(0.001)
    assert scope.triggered
    first, again = scope.read(), scope.read()
    assert first.channels == (2,) and first.trigger.source == 2
    assert np.array_equal(first.codes[2], again.codes[2])


def test_records_are_each_new_and_say_whether_forced():
    with ru3.Instrument(simulate="ch1=sine,1,1000;noise=0.05") as scope:
        scope.record_length = 500
        scope.trigger_source = None
        records = list(scope.records(interval=0.02, count=3))
        assert len(records) == 3
        assert all(r.forced is False and r.trigger.source is None and len(r) == 500 for r in records)
        assert not np.array_equal(records[0].codes[1], records[-1].codes[1])  # noise: new records
        scope.trigger_source = 1
        scope.trigger_level = 1.5  # never reached
        scope.trigger_timeout = 0.02
        assert [r.forced for r in scope.records(interval=0, count=2)] == [True, True]


def test_defaults_settle_the_ranges_in_one_call_and_the_trigger_fires():
    # The library's defaults (80 V, a 10-code hysteresis of 6.25 V there)
    # never trigger on a 1 V sine; settled first, they do.
    with ru3.Instrument(simulate="ch1=sine,1,1000;ch2=square,0.5,250") as scope:
        record = scope.measure()
        assert record.ranges == {1: 2.0, 2: 0.8}
        assert record.forced is False
        assert np.nanmax(record.volts[1]) == pytest.approx(1.0, abs=0.01)
        assert record.trigger.hysteresis < 0.2


def test_nothing_measured_is_nothing_and_ranges_follow_one_rule():
    with ru3.Instrument(simulate="units=1") as scope:
        with pytest.raises(RuntimeError, match="nothing measured"):
            scope.read()
        scope.channels[1].range = 3.0
        assert (scope.channels[1].range, scope.channels[1].auto_range) == (4.0, False)
        with pytest.raises(ValueError, match="largest range"):
            scope.channels[1].range = 1000
        with pytest.raises(IndexError, match="numbered 1 and 2"):
            scope.channels[0]
        # A unit that does not hang on the port: said, not measured.
        scope.unit = 2
        with pytest.raises(ru3.NoInstrument, match="unit 2 does not answer"):
            scope.measure()
        scope.unit = 1
        assert len(scope.measure()) == scope.record_length
