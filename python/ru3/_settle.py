"""Settling the auto-ranged channels before a measurement, by the same rule
as the ru3 tool: a free-running capture on the largest range gives each
input's peak, a second on the smallest range that holds it confirms it.
Both span the record's own duration (the slowest signal a record shows has
a period as long as the record) in at most 2000 samples, and the settings
are put back afterwards. Also the check that a selected unit answers.
"""

from __future__ import annotations

import ctypes
import time

import numpy as np

from . import _native
from .record import codes_to_volts

FILL = 0.9  #: share of a range a peak may fill
MIN_SAMPLES = 100
MAX_SAMPLES = 2000
LONGEST = 2.0  #: s; longer records are settled on this much of their time
MIN_RATE = 4000.0  #: Hz; settling runs at least this fast when it can
#: Sample words at the ends of the converter's scale: the input went beyond the range.
LOWEST_WORD, HIGHEST_WORD = 0x0000, 0xFFF0


def range_for(volts: float, ranges: tuple[float, ...]) -> float:
    """The smallest range that holds ``volts``; ValueError when none does."""
    for r in ranges:
        if volts <= r * (1 + 1e-9):
            return r
    raise ValueError(f"range {volts!r} V: beyond the instrument's largest range (it has {', '.join(f'{r:g}' for r in ranges)} V)")


class _Saved:
    """The timing and trigger source as they stand, put back by restore()."""

    def __init__(self, lib):
        self.lib = lib
        mode, source = ctypes.c_uint8(), ctypes.c_uint8()
        lib.GetMeasureMode(ctypes.byref(mode))
        lib.GetTriggerSource(ctypes.byref(source))
        self.mode, self.source = mode.value, source.value
        self.rate = lib.GetSampleFrequencyF()
        self.length = lib.GetRecordLength()
        self.post = lib.GetPostSamples()

    def timing(self, mode: int, rate: float, length: int) -> float:
        """Free-running, `length` samples after arming at `rate`; the rate made."""
        lib = self.lib
        lib.SetMeasureMode(mode)
        lib.SetTriggerSource(_native.TRIG_NONE)
        lib.SetSampleFrequencyF(ctypes.byref(ctypes.c_double(rate)))
        lib.SetRecordLength(length)
        lib.SetPostSamples(length)
        return lib.GetSampleFrequencyF()

    def restore(self) -> None:
        lib = self.lib
        lib.SetMeasureMode(self.mode)
        lib.SetTriggerSource(self.source)
        lib.SetSampleFrequencyF(ctypes.byref(ctypes.c_double(self.rate)))
        lib.SetRecordLength(self.length)
        lib.SetPostSamples(self.post)


def _peaks(lib, channels: list[int], length: int, ranges: dict[int, float]) -> dict[int, tuple[float, bool]]:
    """One free-running capture: each channel's largest magnitude and whether it clipped."""
    if lib.ADC_Start() != 0:
        raise RuntimeError("settling the ranges: the measurement would not start")
    while lib.ADC_Ready() != 1:
        time.sleep(0.001)
    peaks = {}
    for ch in channels:
        codes = np.empty(length, dtype=np.uint16)
        lib.ADC_GetDataCh(ch, codes.ctypes.data_as(ctypes.POINTER(ctypes.c_uint16)))
        taken = codes[codes != _native.NO_SAMPLE]
        volts = codes_to_volts(taken, ranges[ch])
        clipped = bool(np.any((taken == LOWEST_WORD) | (taken >= HIGHEST_WORD)))
        peaks[ch] = (float(np.max(np.abs(volts))) if volts.size else 0.0, clipped)
    return peaks


def settle(lib, channels: list[int], available: tuple[float, ...], max_rate: float) -> dict[int, float]:
    """Chooses and sets the range of each of ``channels``; returns them."""
    largest = available[-1]
    saved = _Saved(lib)
    try:
        window = min(saved.length / saved.rate, LONGEST)
        rate = min(max(saved.rate, MIN_RATE), max_rate)
        if window * rate > MAX_SAMPLES:
            rate = MAX_SAMPLES / window
        mode = sum(1 << (ch - 1) for ch in channels)
        # The rate asked for may come out a little faster: room for a tenth more samples.
        made = saved.timing(mode, rate, 1)
        length = int(min(max(round(window * made), MIN_SAMPLES), MAX_SAMPLES + MAX_SAMPLES // 10))
        saved.timing(mode, made, length)

        def set_range(ch: int, volts: float) -> None:
            lib.SetSensitivity(ch, ctypes.byref(ctypes.c_double(volts)))

        for ch in channels:
            set_range(ch, largest)
        coarse = _peaks(lib, channels, length, {ch: largest for ch in channels})
        # A 12-bit step of the largest range, twice, is how well the first peak is known.
        step = 2 * 2 * largest / 4096
        chosen = {}
        for ch, (peak, clipped) in coarse.items():
            chosen[ch] = largest if clipped else next((r for r in available if peak + step <= FILL * r), largest)
        smaller = [ch for ch in channels if chosen[ch] < largest]
        if smaller:
            for ch in channels:
                set_range(ch, chosen[ch])
            fine = _peaks(lib, channels, length, chosen)
            for ch in smaller:
                peak, clipped = fine[ch]
                if clipped:
                    chosen[ch] = available[available.index(chosen[ch]) + 1]
                else:
                    chosen[ch] = next((r for r in available if peak <= FILL * r), largest)
        for ch in channels:
            set_range(ch, chosen[ch])
        return chosen
    finally:
        saved.restore()


def unit_answers(lib) -> bool:
    """Whether the selected unit answers: a free-running record armed on it
    shows the busy status first and the record complete after. A unit that
    does not hang on the port leaves the status lines floating (busy for
    ever); one without a sample memory is never busy: its status never
    changes either way. The settings are put back."""
    saved = _Saved(lib)
    answers = False
    try:
        # 500 samples at 10 kHz: busy for 50 ms, far longer than the first poll.
        saved.timing(_native.MODE_CH1, 10000.0, 500)
        for _ in range(2):  # a busy status missed once (the host paused) gets a second try
            if lib.ADC_Start() != 0:
                break
            if lib.ADC_Ready() == 1:
                continue
            until = time.monotonic() + 0.6
            while not answers and time.monotonic() < until:
                answers = lib.ADC_Ready() == 1
                if not answers:
                    time.sleep(0.002)
            break
        if not answers:
            lib.ADC_Abort()
    finally:
        saved.restore()
    return answers
