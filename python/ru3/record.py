"""One measured record: the samples of each measured channel in volts, the
time axis, and what the record was measured with."""

from __future__ import annotations

from dataclasses import dataclass, field

import numpy as np

from ._native import NO_SAMPLE


def codes_to_volts(codes: np.ndarray, full_scale: float) -> np.ndarray:
    """Raw codes of one channel to volts, NaN where a position holds no sample.

    The same arithmetic as the library's own conversion: (code - 32768) times
    range / 32768, multiplied in extended precision and rounded to double,
    so the values equal those of its ``ADC_GetDataVolt`` and ``GetMeasurement``.
    """
    factor = np.longdouble(full_scale / 32768.0)
    volts = ((codes.astype(np.int32) - 32768).astype(np.longdouble) * factor).astype(np.float64)
    volts[codes == NO_SAMPLE] = np.nan
    return volts


@dataclass(frozen=True)
class Trigger:
    """The trigger a record was measured with."""

    source: int | None  #: trigger channel, 1 or 2; None when free-running
    level: float | None  #: volts, on the source channel's range
    hysteresis: float | None  #: volts
    kind: str  #: "rising", "falling", "falling-below" or "either"
    timeout: float | None  #: seconds; None: wait for ever


@dataclass(frozen=True)
class Record:
    """A record of ``len(record)`` samples per measured channel.

    ``volts[ch]`` and ``codes[ch]`` are indexed by the channel number (1, 2)
    of each channel in ``channels``. Positions before ``first_sample`` (a
    trigger that came before the pre-trigger share was sampled, possible only
    with ``full_pretrigger=False``) are NaN in ``volts`` and ``NO_SAMPLE`` in
    ``codes``.
    """

    sample_rate: float  #: Hz
    pre_samples: int  #: positions before the trigger position
    channels: tuple[int, ...]
    volts: dict[int, np.ndarray]
    codes: dict[int, np.ndarray]
    ranges: dict[int, float]  #: full scale in volts, per channel
    trigger: Trigger
    #: True when the trigger was forced (it did not come), False when it came
    #: or none was used.
    forced: bool | None
    #: The library's number of the record: a new one has a new number.
    sequence: int = 0
    #: First position holding a sample (0 for a full record).
    first_sample: int = 0
    time: np.ndarray = field(init=False, repr=False)

    def __post_init__(self):
        length = len(next(iter(self.codes.values()))) if self.codes else 0
        t = (np.arange(length, dtype=np.float64) - self.pre_samples) / self.sample_rate
        object.__setattr__(self, "time", t)

    def __len__(self) -> int:
        return len(self.time)

    def missing(self, channel: int) -> int:
        """The number of positions of ``channel`` that hold no sample."""
        return int(np.count_nonzero(self.codes[channel] == NO_SAMPLE))

    def __repr__(self) -> str:
        return (
            f"<ru3.Record {len(self)} samples at {self.sample_rate:g} Hz, channels {self.channels}, "
            f"ranges {self.ranges}, trigger {self.trigger.source}{', forced' if self.forced else ''}>"
        )
