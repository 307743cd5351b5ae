#!/usr/bin/env python3
"""Captures one record of both channels and plots it with matplotlib.

    python3 plot_capture.py [FILE.png] [--simulate CONFIG]

Without --simulate it measures whatever RU3_SIMULATOR (or the real
instrument) gives. Positions that received no sample are NaN and leave gaps
in the traces.
"""

import argparse

import matplotlib

matplotlib.use("Agg")  # files only, no display needed
import matplotlib.pyplot as plt  # noqa: E402

import ru3  # noqa: E402


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", nargs="?", default="capture.png")
    parser.add_argument("--simulate", metavar="CONFIG", help="use the simulator with this configuration")
    args = parser.parse_args()

    with ru3.Instrument(simulate=args.simulate) as scope:
        scope.sample_rate = 100e3
        scope.record_length = 2000
        scope.pre_trigger = 0.25
        for channel, volts in zip(scope.channels, (2.0, 0.8)):
            channel.auto_range = False
            channel.range = volts
        scope.trigger_source = 1
        scope.trigger_kind = "rising"
        scope.trigger_level = 0.0
        scope.trigger_timeout = 0.5
        record = scope.measure()

    figure, axes = plt.subplots(figsize=(10, 5))
    for ch in record.channels:
        axes.plot(record.time * 1e3, record.volts[ch], label=f"CH{ch} (range {record.ranges[ch]:g} V)")
    axes.axvline(0, color="grey", linestyle=":", label="trigger" + (" (forced)" if record.forced else ""))
    axes.set_xlabel("time from the trigger (ms)")
    axes.set_ylabel("V")
    axes.set_title(f"RU3, {record.sample_rate:g} Hz, {len(record)} samples")
    axes.grid(True, alpha=0.3)
    axes.legend(loc="upper right")
    figure.tight_layout()
    figure.savefig(args.output)
    print(f"{args.output}: {len(record)} samples of channels {record.channels}, trigger {'forced' if record.forced else 'came'}")


if __name__ == "__main__":
    main()
