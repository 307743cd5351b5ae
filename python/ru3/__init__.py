"""The RU3 two-channel oscilloscope from Python, over its driver library
(libru3, through ctypes) with numpy arrays.

    import ru3
    with ru3.Instrument(simulate="ch1=sine,1,1000") as scope:
        scope.sample_rate = 100e3
        scope.record_length = 2000
        scope.channels[1].range = 2.0
        scope.trigger_source = 1
        record = scope.measure()
        print(record.time[:3], record.volts[1][:3], record.forced)

``ru3.library()`` is the loaded library itself, every export typed, for what
the class does not cover.
"""

from ._native import library
from .errors import BadChannel, BadValue, Error, NoGenerator, NoInstrument, NotAvailable, NotInitialised
from .channel import COUPLINGS, TRIGGER_KINDS, Channel, Channels
from .instrument import Instrument
from .record import NO_SAMPLE, Record, Trigger, codes_to_volts

__version__ = "1.0.0"

__all__ = [
    "BadChannel",
    "BadValue",
    "COUPLINGS",
    "Channel",
    "Channels",
    "Error",
    "Instrument",
    "NO_SAMPLE",
    "NoGenerator",
    "NoInstrument",
    "NotAvailable",
    "NotInitialised",
    "Record",
    "TRIGGER_KINDS",
    "Trigger",
    "codes_to_volts",
    "library",
]
