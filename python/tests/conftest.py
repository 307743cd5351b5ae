"""The tests run against the simulator, through the library that
RU3_LIBRARY names (the build tree's) or else the installed one."""

import pytest

import ru3

# Channel 1 a 1.5 V sine of 1 kHz, channel 2 a 0.5 V square of 250 Hz.
SIGNALS = "ch1=sine,1.5,1000;ch2=square,0.5,250"


@pytest.fixture
def scope():
    with ru3.Instrument(simulate=SIGNALS) as instrument:
        instrument.sample_rate = 100e3
        instrument.record_length = 2000
        for channel, volts in zip(instrument.channels, (2.0, 0.8)):
            channel.auto_range = False
            channel.range = volts
        instrument.trigger_source = 1
        instrument.trigger_level = 0.0
        instrument.trigger_timeout = 1.0
        yield instrument
