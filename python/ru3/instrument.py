"""The RU3 as a Python object: open and close, the acquisition settings as
properties in SI units, measuring (block style and timer-driven), the
auxiliary outputs and the instrument's identity.

The driver keeps one instrument per process, so one :class:`Instrument` can
be open at a time. Its calls are serialised by the library and release the
GIL while they run.
"""

from __future__ import annotations

import ctypes
import datetime
import math
import threading
import time
from collections.abc import Iterable, Iterator

import numpy as np

from . import _native, _settle
from ._native import library
from ._opening import opened_quietly, simulator_environment
from .errors import NoInstrument, check
from .channel import TRIGGER_KINDS, Channel, Channels, _code_of, _name_of
from .record import Record, Trigger, codes_to_volts


class Instrument:
    """The instrument, opened on construction and closed by :meth:`close` or
    at the end of a ``with`` block.

    ``simulate``: None leaves the choice to the environment (``RU3_SIMULATOR``);
    True selects the simulator with its defaults, a string with that
    configuration (``"ch1=sine,1,1000;noise=0.01"``); False the printer ports. ``unit`` selects a unit
    1..4 on the port after opening. ``full_pretrigger`` (see the property)
    holds the trigger off until each record's pre-trigger part is sampled.
    """

    _open_instance: Instrument | None = None
    _open_lock = threading.Lock()

    def __init__(
        self, simulate: bool | str | None = None, *, unit: int | None = None, full_pretrigger: bool = True
    ):
        self._lib = library()
        self._is_open = False
        self._started = False
        self._unit_checked = True  # no unit chosen: unit 1, which identification found
        self._levels: dict[int, float] = {}
        self._hysteresis: dict[int, float] = {}
        self.channels = Channels(self)
        self._open(simulate)
        try:
            self.full_pretrigger = full_pretrigger
            if unit is not None:
                self.unit = unit
        except BaseException:
            self.close()
            raise

    # ---- opening and closing ------------------------------------------------

    def _open(self, simulate: bool | str | None) -> None:
        with Instrument._open_lock:
            if Instrument._open_instance is not None:
                raise RuntimeError("an ru3.Instrument is already open in this process; close it first")
            with simulator_environment(simulate):
                status, notices = opened_quietly(self._lib)
            if status != 0:
                # The library keeps an object that failed to open; closing it
                # lets the next attempt try afresh.
                self._lib.ExitInstrument()
                reason = notices.strip().splitlines()
                if any("RU3_SIMULATOR" in line for line in reason):
                    raise ValueError(next(line for line in reason if "RU3_SIMULATOR" in line))
                why = "; ".join(reason) if reason else "nothing answering on the printer ports"
                raise NoInstrument(status, "InitInstrument", message=f"no instrument found: {why}")
            self._is_open = True
            Instrument._open_instance = self

    def close(self) -> None:
        """Stops measuring, sets the DAC outputs to 0 V and the motors off,
        and releases the port. Closing twice does nothing."""
        with Instrument._open_lock:
            if not self._is_open:
                return
            self._is_open = False
            Instrument._open_instance = None
            self._lib.ExitInstrument()

    @property
    def is_open(self) -> bool:
        return self._is_open

    def __enter__(self) -> Instrument:
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def __repr__(self) -> str:
        if not self._is_open:
            return "<ru3.Instrument closed>"
        return f"<ru3.Instrument serial {self.serial_number}, {self.variant} variant>"

    def _require_open(self, name: str) -> None:
        if not self._is_open:
            raise NoInstrument(1, name, message="the instrument is closed (ru3.Instrument.close was called)")

    def _call(self, name: str, *args) -> None:
        self._require_open(name)
        check(getattr(self._lib, name)(*args), name)

    def _value(self, name: str, ctype):
        value = ctype()
        self._call(name, ctypes.byref(value))
        return value.value

    # ---- identity -------------------------------------------------------------

    @property
    def serial_number(self) -> int:
        return self._value("GetSerialNumber", ctypes.c_int32)

    @property
    def calibration_date(self) -> datetime.datetime:
        """The date of the factory calibration (the library reports no time of
        day: midnight)."""
        packed = self._value("GetCalibrationDate", ctypes.c_int32) & 0xFFFFFFFF
        return datetime.datetime(packed & 0xFFFF, (packed >> 16) & 0xFF, packed >> 24)

    @property
    def max_sample_rate(self) -> float:
        """Hz: 200 kHz, or 400 kHz on the faster variant."""
        self._require_open("GetMaxSampleFrequencyF")
        return self._lib.GetMaxSampleFrequencyF()

    @property
    def variant(self) -> str:
        """"200 kHz" or "400 kHz": the model, by its fastest sample clock."""
        return "400 kHz" if self.max_sample_rate > 200000 else "200 kHz"

    @property
    def max_record_length(self) -> int:
        self._require_open("GetMaxRecordLength")
        return self._lib.GetMaxRecordLength()

    @property
    def channel_count(self) -> int:
        return self._value("GetNrChannels", ctypes.c_uint16)

    @property
    def ranges(self) -> tuple[float, ...]:
        """The input ranges in volts full scale, smallest first."""
        values = (ctypes.c_double * 20)()
        self._call("GetAvailableSensitivities", values)
        return tuple(sorted(v for v in values if v > 0))

    @property
    def resolution(self) -> int:
        """Bits per sample."""
        return self._value("GetResolution", ctypes.c_uint8)


    # ---- timebase and record ----------------------------------------------------

    @property
    def sample_rate(self) -> float:
        """Hz. Setting takes the nearest rate the sample clock can make; read
        it back to see which."""
        self._require_open("GetSampleFrequencyF")
        return self._lib.GetSampleFrequencyF()

    @sample_rate.setter
    def sample_rate(self, hertz: float) -> None:
        if not (math.isfinite(hertz) and 0 < hertz <= self.max_sample_rate):
            raise ValueError(f"sample rate {hertz!r} Hz: above 0 and at most {self.max_sample_rate:g} Hz")
        self._call("SetSampleFrequencyF", ctypes.byref(ctypes.c_double(hertz)))

    @property
    def record_length(self) -> int:
        """Samples per channel, 1 to ``max_record_length``. The pre-trigger
        share is kept when the length changes."""
        self._require_open("GetRecordLength")
        return self._lib.GetRecordLength()

    @record_length.setter
    def record_length(self, samples: int) -> None:
        if not 1 <= samples <= self.max_record_length:
            raise ValueError(f"record length {samples!r}: 1 to {self.max_record_length} samples")
        share = self.pre_trigger
        self._call("SetRecordLength", int(samples))
        self.pre_trigger = share

    @property
    def pre_trigger(self) -> float:
        """The share of the record before the trigger, 0 to 1."""
        length = self.record_length
        return (length - self._lib.GetPostSamples()) / length

    @pre_trigger.setter
    def pre_trigger(self, share: float) -> None:
        if not 0 <= share <= 1:
            raise ValueError(f"pre-trigger share {share!r}: 0 to 1")
        length = self.record_length
        self._call("SetPostSamples", length - round(share * length))

    @property
    def active_channels(self) -> tuple[int, ...]:
        """The channels measured: (1,), (2,) or (1, 2). Set with a channel
        number or a sequence of them."""
        mode = self._value("GetMeasureMode", ctypes.c_uint8)
        return tuple(ch for ch in (1, 2) if mode & (1 << (ch - 1)))

    @active_channels.setter
    def active_channels(self, channels: int | Iterable[int]) -> None:
        wanted = {channels} if isinstance(channels, int) else set(channels)
        if not wanted or not wanted <= {1, 2}:
            raise ValueError(f"channels {channels!r}: 1, 2 or both")
        self._call("SetMeasureMode", sum(1 << (ch - 1) for ch in wanted))

    # ---- trigger ------------------------------------------------------------------

    @property
    def trigger_source(self) -> int | None:
        """The channel that triggers, 1 or 2; None to measure free-running."""
        source = self._value("GetTriggerSource", ctypes.c_uint8)
        return source + 1 if source in (_native.TRIG_CH1, _native.TRIG_CH2) else None

    @trigger_source.setter
    def trigger_source(self, channel: int | None) -> None:
        if channel not in (1, 2, None):
            raise ValueError(f"trigger source {channel!r}: 1, 2 or None")
        self._call("SetTriggerSource", _native.TRIG_NONE if channel is None else channel - 1)

    def _trigger_channel(self) -> Channel:
        source = self.trigger_source
        if source is None:
            raise ValueError("no trigger source is set (trigger_source is None)")
        return self.channels[source]

    def _reapply_trigger(self, number: int) -> None:
        """The trigger level and hysteresis set in volts, again on the channel's
        range as it is now (the instrument keeps them in steps of the range);
        a level beyond the range is limited to it."""
        channel = self.channels[number]
        if number in self._levels:
            full = channel.range
            self._call("SetTriggerLevel", number, min(max(self._levels[number], -full), full))
        if number in self._hysteresis:
            self._call("SetTriggerHys", number, self._hysteresis[number])

    def settle_ranges(self) -> dict[int, float]:
        """Sets the range of every auto-ranged channel that is measured or
        triggers, in two short free-running captures (:attr:`Channel.auto_range`);
        :meth:`measure` and :meth:`records` do this first. Returns the ranges
        chosen."""
        self._require_open("settle_ranges")
        source = self.trigger_source
        wanted = [ch for ch in (1, 2) if self.channels[ch].auto_range and (ch in self.active_channels or ch == source)]
        if not wanted:
            return {}
        self._check_unit()
        for ch in (1, 2):
            self._lib.SetAutoRanging(ch, 0)
        chosen = _settle.settle(self._lib, wanted, self.ranges, self.max_sample_rate)
        for ch in wanted:
            self._reapply_trigger(ch)
        return chosen

    def _check_unit(self) -> None:
        if self._unit_checked:
            return
        if not _settle.unit_answers(self._lib):
            number = self.unit
            raise NoInstrument(
                1,
                "ADC_Start",
                message=f"unit {number} does not answer: its status never changes when a record is armed on it "
                f"(is a unit {number} on this port? unit 1 answers)",
            )
        self._unit_checked = True

    @property
    def trigger_level(self) -> float | None:
        """Volts, on the trigger source's channel; None when free-running."""
        return None if self.trigger_source is None else self._trigger_channel().trigger_level

    @trigger_level.setter
    def trigger_level(self, volts: float) -> None:
        self._trigger_channel().trigger_level = volts

    @property
    def trigger_hysteresis(self) -> float | None:
        """Volts, on the trigger source's channel; None when free-running."""
        return None if self.trigger_source is None else self._trigger_channel().trigger_hysteresis

    @trigger_hysteresis.setter
    def trigger_hysteresis(self, volts: float) -> None:
        self._trigger_channel().trigger_hysteresis = volts

    @property
    def trigger_kind(self) -> str:
        """"rising" (through the level, re-armed below level - hysteresis),
        "falling" (re-armed above level + hysteresis), "falling-below" (the
        hysteresis below the level) or "either" slope; the numbers 0..3 too."""
        mode = ctypes.c_uint8()
        self._call("GetTriggerModeCh", 1, ctypes.byref(mode))
        return _name_of(TRIGGER_KINDS, mode.value)

    @trigger_kind.setter
    def trigger_kind(self, kind: str | int) -> None:
        self._call("SetTriggerMode", _code_of(TRIGGER_KINDS, kind, "trigger kind"))

    @property
    def trigger_timeout(self) -> float | None:
        """Seconds to wait for the trigger before :meth:`measure` forces it;
        None waits for ever. Millisecond steps."""
        self._require_open("GetTriggerTimeOut")
        ms = self._lib.GetTriggerTimeOut()
        return None if ms == -1 else ms / 1000.0

    @trigger_timeout.setter
    def trigger_timeout(self, seconds: float | None) -> None:
        if seconds is None:
            self._call("SetTriggerTimeOut", _native.TIMEOUT_NONE)
            return
        ms = round(seconds * 1000)
        if not 0 <= ms < _native.TIMEOUT_NONE:
            raise ValueError(f"trigger time-out {seconds!r} s: not negative (None: no time-out)")
        self._call("SetTriggerTimeOut", ms)

    @property
    def full_pretrigger(self) -> bool:
        """True: the trigger is held off until the record's pre-trigger part
        is sampled, so every record is full (the default). False: it may fire
        from the arming on, as the instrument does, and a record whose
        trigger came early starts with positions that hold no sample."""
        return self._value("Ext_GetFullPreTrigger", ctypes.c_uint8) == 1

    @full_pretrigger.setter
    def full_pretrigger(self, on: bool) -> None:
        self._call("Ext_SetFullPreTrigger", 1 if on else 0)

    # ---- block-style measuring ------------------------------------------------------

    def start(self) -> None:
        """Arms one measurement and returns at once (with the ranges as they
        stand: :meth:`measure` settles auto ranges first)."""
        self._require_open("ADC_Start")
        self._check_unit()
        self._call("ADC_Start")
        self._started = True

    @property
    def ready(self) -> bool:
        """True once the armed measurement is complete (reads the instrument)."""
        self._require_open("ADC_Ready")
        return self._lib.ADC_Ready() == 1

    @property
    def triggered(self) -> bool:
        """True once the armed measurement has triggered (reads the instrument)."""
        self._require_open("ADC_Triggered")
        return self._lib.ADC_Triggered() != 0

    def force_trigger(self) -> None:
        """Triggers the armed measurement now. The trigger time-out does not
        do this in block style: the host does."""
        self._call("ADC_ForceTrig")

    def read(self) -> Record:
        """The record of the measurement started last; the first read after
        :meth:`start` fetches it from the instrument (call it once
        :attr:`ready`). Before any :meth:`start` nothing was measured: an error."""
        self._require_open("ADC_GetDataCh")
        if not self._started:
            raise RuntimeError("nothing measured yet: start() a measurement (or measure()) first")
        channels = self.active_channels
        length = self.record_length
        codes = {}
        for ch in channels:
            buffer = np.empty(length, dtype=np.uint16)
            self._call("ADC_GetDataCh", ch, buffer.ctypes.data_as(ctypes.POINTER(ctypes.c_uint16)))
            codes[ch] = buffer
        return self._record(codes)

    def measure(self, *, poll_interval: float = 0.001, settle: bool = True) -> Record:
        """One measurement in block style: settle the auto ranges
        (:meth:`settle_ranges`, unless ``settle`` is False), start, wait until
        it is complete, forcing the trigger once ``trigger_timeout`` has passed
        (and again every second until done), and read it. Ctrl-C interrupts
        the wait."""
        if settle:
            self.settle_ranges()
        timeout = self.trigger_timeout
        self.start()
        started = time.monotonic()
        last_force = None
        while not self.ready:
            now = time.monotonic()
            if timeout is not None and now - started >= timeout and (last_force is None or now - last_force >= 1):
                self.force_trigger()
                last_force = now
            time.sleep(poll_interval)
        return self.read()

    # ---- timer-driven measuring -------------------------------------------------------

    def records(self, interval: float = 0.1, count: int | None = None) -> Iterator[Record]:
        """A new record every ``interval`` seconds (``count`` of them, or until
        the loop ends), each measured as :meth:`measure` does, so each is one
        record of its own and says whether its trigger was ``forced``. The
        auto ranges are settled once, before the first."""
        self.settle_ranges()
        produced = 0
        next_at = time.monotonic()
        while count is None or produced < count:
            wait = next_at - time.monotonic()
            if produced and wait > 0:
                time.sleep(wait)
            next_at = time.monotonic() + interval
            yield self.measure(settle=False)
            produced += 1

    def current_record(self) -> Record:
        """The record in the library's buffers as it stands (timer-driven
        measuring: ``ru3.library().DoMeasure(-1)``), read in one call so it is
        never a mixture of two. The one place the package reads a
        timer-driven record and what it was measured with."""
        length = self.record_length
        codes = [np.empty(length, dtype=np.uint16) for _ in (1, 2)]
        pointer = ctypes.POINTER(ctypes.c_uint16)
        self._call("GetMeasurementRaw", codes[0].ctypes.data_as(pointer), codes[1].ctypes.data_as(pointer))
        return self._record({ch: codes[ch - 1] for ch in self.active_channels})

    def _record(self, codes: dict[int, np.ndarray]) -> Record:
        # The record's own facts, as the library read it: not the settings of now.
        facts = _native.record_info(self._lib)
        ranges = {ch: facts.range[ch - 1] for ch in codes}
        trigger = Trigger(
            source=self.trigger_source,
            level=self.trigger_level,
            hysteresis=self.trigger_hysteresis,
            kind=self.trigger_kind,
            timeout=self.trigger_timeout,
        )
        return Record(
            sample_rate=facts.sample_rate,
            pre_samples=facts.trigger_position,
            channels=tuple(codes),
            volts={ch: codes_to_volts(c, ranges[ch]) for ch, c in codes.items()},
            codes=codes,
            ranges=ranges,
            trigger=trigger,
            forced=trigger.source is not None and facts.forced != 0,
            sequence=facts.sequence,
            first_sample=facts.first_sample,
        )

    # ---- auxiliary outputs ---------------------------------------------------------------

    def set_dac(self, ch1: float, ch2: float) -> None:
        """Sets the two DAC outputs in volts, -10 to +10, in 12-bit steps.
        They hold until changed or the instrument is closed (0 V)."""
        for number, volts in ((1, ch1), (2, ch2)):
            if not -10 <= volts <= 10:
                raise ValueError(f"DAC output {number}: {volts!r} V is outside -10 to +10 V")
        self._call("SetDAC7394", float(ch1), float(ch2))

    def set_motors(self, first: bool, second: bool) -> None:
        """Switches the two motor outputs on or off (off again at closing)."""
        self._call("SetMotorOn", 1 if first else 0, 1 if second else 0)

    @property
    def unit(self) -> int:
        """The unit on the port that calls address, 1 to 4 (0 before one was
        selected: unit 1)."""
        return self._value("GetActiveRU3", ctypes.c_uint8)

    @unit.setter
    def unit(self, number: int) -> None:
        if number not in (1, 2, 3, 4):
            raise ValueError(f"unit {number!r}: 1 to 4")
        self._call("SetActiveRU3", number)
        # Measuring on it first checks that it answers.
        self._unit_checked = False
