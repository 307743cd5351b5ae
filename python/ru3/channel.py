"""The channels of the RU3 as Python objects: range, auto-ranging, coupling
and trigger level and hysteresis per channel, numbered 1 and 2, and the
names of the trigger kinds and couplings.
"""

from __future__ import annotations

import ctypes
import math
from collections.abc import Iterator
from typing import TYPE_CHECKING

from . import _native, _settle

if TYPE_CHECKING:
    from .instrument import Instrument


#: Trigger kinds by name; the instrument applies channel 1's kind whichever
#: channel triggers.
TRIGGER_KINDS = {
    "rising": _native.KIND_RISING,
    "falling": _native.KIND_FALLING,
    "falling-below": _native.KIND_FALLING_BELOW,
    "either": _native.KIND_EITHER,
}
COUPLINGS = {"dc": _native.COUPLING_DC, "ac": _native.COUPLING_AC}


def _name_of(table: dict[str, int], code: int) -> str:
    return next((name for name, value in table.items() if value == code), str(code))


def _code_of(table: dict[str, int], value, what: str) -> int:
    if isinstance(value, str) and value.lower() in table:
        return table[value.lower()]
    if isinstance(value, int) and not isinstance(value, bool) and value in table.values():
        return value
    raise ValueError(f"{what} {value!r}: one of {', '.join(table)} (or {min(table.values())}..{max(table.values())})")


class Channel:
    """One input channel: ``scope.channels[1]`` is channel 1, as in
    ``record.volts[1]`` and ``record.ranges[1]``."""

    def __init__(self, instrument: Instrument, number: int):
        self._instrument = instrument
        self.number = number
        self._auto = True

    def __repr__(self) -> str:
        return f"<ru3.Channel {self.number}>"

    def _call(self, name: str, *args) -> None:
        self._instrument._call(name, self.number, *args)

    @property
    def range(self) -> float:
        """Full-scale input range in volts. Setting takes the smallest range
        the instrument has that holds the value (``Instrument.ranges``; 3 V
        gives 4 V), refuses one beyond the largest, and switches
        :attr:`auto_range` off."""
        value = ctypes.c_double()
        self._call("GetSensitivity", ctypes.byref(value))
        return value.value

    @range.setter
    def range(self, volts: float) -> None:
        if not (math.isfinite(volts) and volts > 0):
            raise ValueError(f"range {volts!r}: a positive number of volts")
        chosen = _settle.range_for(volts, self._instrument.ranges)
        self._call("SetSensitivity", ctypes.byref(ctypes.c_double(chosen)))
        self._auto = False
        self._instrument._reapply_trigger(self.number)

    @property
    def auto_range(self) -> bool:
        """Auto-ranging (on by default, as in the ru3 tool): :meth:`Instrument.measure`
        first settles the range in two short captures, the smallest range that
        holds the input's peaks. The library's own step-a-measurement
        auto-ranging stays off."""
        return self._auto

    @auto_range.setter
    def auto_range(self, on: bool) -> None:
        self._instrument._require_open("SetAutoRanging")
        self._auto = bool(on)

    @property
    def coupling(self) -> str:
        """"dc" or "ac"."""
        value = ctypes.c_uint8()
        self._call("GetCoupling", ctypes.byref(value))
        return _name_of(COUPLINGS, value.value)

    @coupling.setter
    def coupling(self, value: str | int) -> None:
        self._call("SetCoupling", _code_of(COUPLINGS, value, "coupling"))

    @property
    def trigger_level(self) -> float:
        """Trigger level in volts, within the channel's range (8-bit steps)."""
        value = ctypes.c_double()
        self._call("GetTriggerLevel", ctypes.byref(value))
        return value.value

    @trigger_level.setter
    def trigger_level(self, volts: float) -> None:
        self._call("SetTriggerLevel", float(volts))
        # Kept in volts: settling a new range sets it again on that range.
        self._instrument._levels[self.number] = float(volts)

    @property
    def trigger_hysteresis(self) -> float:
        """Trigger hysteresis in volts (not negative)."""
        value = ctypes.c_double()
        self._call("GetTriggerHys", ctypes.byref(value))
        return value.value

    @trigger_hysteresis.setter
    def trigger_hysteresis(self, volts: float) -> None:
        self._call("SetTriggerHys", float(volts))
        self._instrument._hysteresis[self.number] = float(volts)


class Channels:
    """The two channels by their numbers: ``channels[1]`` and ``channels[2]``;
    iterating gives channel 1, then 2."""

    def __init__(self, instrument: Instrument):
        self._channels = (Channel(instrument, 1), Channel(instrument, 2))

    def __getitem__(self, number: int) -> Channel:
        if number not in (1, 2):
            raise IndexError(f"channel {number!r}: channels are numbered 1 and 2")
        return self._channels[number - 1]

    def __iter__(self) -> Iterator[Channel]:
        return iter(self._channels)

    def __len__(self) -> int:
        return 2

    def __repr__(self) -> str:
        return "<ru3.Channels 1, 2>"
