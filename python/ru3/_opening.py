"""Opening the instrument: the simulator choice while the library opens, and
what the library says on standard error meanwhile (a malformed simulator
configuration, why the printer ports cannot be used), kept so that the
exception can name the cause."""

from __future__ import annotations

import contextlib
import os
import sys
import tempfile


@contextlib.contextmanager
def simulator_environment(simulate: bool | str | None):
    """RU3_SIMULATOR as ``simulate`` asks while the library opens (it reads the
    environment then), restored afterwards. False unsets it."""
    if simulate is None:
        yield
        return
    previous = os.environ.pop("RU3_SIMULATOR", None)
    if simulate is not False:
        os.environ["RU3_SIMULATOR"] = "" if simulate is True else str(simulate)
    try:
        yield
    finally:
        os.environ.pop("RU3_SIMULATOR", None)
        if previous is not None:
            os.environ["RU3_SIMULATOR"] = previous


def opened_quietly(lib) -> tuple[int, str]:
    """InitInstrument with the process's standard error caught: its status and
    what was written there. On success the notices go on to standard error
    as they would have."""
    sys.stderr.flush()
    with tempfile.TemporaryFile() as caught:
        saved = os.dup(2)
        try:
            os.dup2(caught.fileno(), 2)
            status = lib.InitInstrument(0)
        finally:
            os.dup2(saved, 2)
            os.close(saved)
        caught.seek(0)
        notices = caught.read().decode("utf-8", "replace")
    if status == 0 and notices:
        sys.stderr.write(notices)
    return status, notices
