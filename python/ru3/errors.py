"""The library's status codes as exceptions.

Every exported function that reports a status returns exactly one of the
codes below; anything but OK is raised as the matching subclass of
:class:`Error`, which carries the code, its name and the function that
returned it.
"""

from __future__ import annotations

OK = 0

# code -> (name, meaning)
STATUSES = {
    1: ("NO_INSTRUMENT", "no instrument object, or it is not open"),
    2: ("NOT_INITIALISED", "the instrument was never opened"),
    4: ("NOT_AVAILABLE", "the instrument lacks the facility asked for"),
    8: ("NO_GENERATOR", "no function or square-wave generator"),
    16: ("BAD_CHANNEL", "channel 0 or above the number of channels"),
    32: ("BAD_VALUE", "argument out of range"),
}


class Error(Exception):
    """A status other than OK from the driver library."""

    status: int = -1

    def __init__(self, status: int, function: str = "", detail: str = "", *, message: str = ""):
        self.status = status
        self.function = function
        self.name, meaning = STATUSES.get(status, (f"STATUS_{status}", "unknown status"))
        text = f"{function}: {self.name} ({status}): {meaning}" if function else f"{self.name} ({status}): {meaning}"
        # `message` says the cause in the package's own words, in place of the status.
        super().__init__(message or (f"{text}; {detail}" if detail else text))


class NoInstrument(Error):
    status = 1


class NotInitialised(Error):
    status = 2


class NotAvailable(Error):
    status = 4


class NoGenerator(Error):
    status = 8


class BadChannel(Error):
    status = 16


class BadValue(Error, ValueError):
    status = 32


_CLASSES = {cls.status: cls for cls in (NoInstrument, NotInitialised, NotAvailable, NoGenerator, BadChannel, BadValue)}


def check(status: int, function: str, detail: str = "") -> None:
    """Raises the exception of a status other than OK."""
    if status != OK:
        raise _CLASSES.get(status, Error)(status, function, detail)
