"""When a measurement was taken: DAT + TIM with TIM's offset from UTC, SRT as a
marked fallback (the rules are described in kestrel_tools.metadata).

Every parse here is linear in the length of the text, whatever the text holds:
a parameter text may be some 64 KB, and a pattern with adjacent optional runs
of blanks costs seconds on one. So the text is trimmed first and each part is
matched by a pattern anchored at both sides by literal characters. Only ASCII
digits are digits ("²" is not a digit of a time).
"""

from __future__ import annotations

import re
from datetime import datetime, timedelta, timezone
from typing import Literal, Protocol

ParamValue = int | float | str
Source = Literal["DAT/TIM", "SRT"]

_DATE = re.compile(r"(\d{1,4})[/.-](\d{1,2})[/.-](\d{1,4})", re.ASCII)
_CLOCK = re.compile(r"(\d{1,2}):(\d{1,2}):(\d{1,2})", re.ASCII)
_FRACTION = re.compile(r"\.([^\s(]*)")
_ZONE = re.compile(r"(?:GMT|UTC)[ \t]*([+-])[ \t]*(\d{1,2})(?:\.(\d+)|:(\d{2}))?", re.ASCII | re.IGNORECASE)
# SRT past this (2100-01-01) or at 0 means "not recorded".
_LAST_SRT = 4102444800


class Warner(Protocol):
    def warn(self, name: str, what: str) -> None: ...


class Silent:
    def warn(self, name: str, what: str) -> None:
        pass


def _short(text: str) -> str:
    """A text as a warning quotes it: at most 60 characters."""
    return repr(text if len(text) <= 60 else text[:57] + "...")


def parse_date(text: str) -> tuple[int, int, int] | None:
    match = _DATE.fullmatch(text.strip())
    if match is None:
        return None
    a, b, c = match.groups()
    if len(a) == 4:  # yyyy/mm/dd
        return int(a), int(b), int(c)
    if len(c) == 4:  # dd/mm/yyyy
        return int(c), int(b), int(a)
    return None


def _offset(sign: str, hours: str, decimal: str | None, minutes: str | None) -> timedelta:
    span = timedelta(hours=int(hours))
    if decimal is not None:
        span += timedelta(hours=float("0." + decimal))
    if minutes is not None:
        span += timedelta(minutes=int(minutes))
    return -span if sign == "-" else span


def acquisition_time(dat: object, tim: object, fields: Warner) -> datetime | None:
    """DAT + TIM with TIM's UTC offset, or None with a warning saying why."""
    if not isinstance(dat, str) or not isinstance(tim, str):
        missing = "DAT" if not isinstance(dat, str) else "TIM"
        fields.warn("acquired", f"{missing} is missing or not text")
        return None
    date = parse_date(dat)
    if date is None:
        fields.warn("acquired", f"DAT {_short(dat)} is not a date")
        return None
    text = tim.strip()
    clock = _CLOCK.match(text)
    if clock is None:
        fields.warn("acquired", f"TIM {_short(tim)} is not a time")
        return None
    rest = text[clock.end():]
    fraction = _FRACTION.match(rest)
    if fraction is not None:
        rest = rest[fraction.end():]
    # The offset, with or without its parentheses.
    zone_text = rest.strip().removeprefix("(").removesuffix(")").strip()
    zone = _ZONE.fullmatch(zone_text)
    if zone is None:
        fields.warn("acquired", f"TIM {_short(tim)} has no UTC offset" if not zone_text
                    else f"TIM {_short(tim)} is not a time with a UTC offset")
        return None
    micro = 0
    digits = fraction.group(1) if fraction is not None else ""
    if digits:
        if digits.isascii() and digits.isdigit():
            micro = int(digits[:6].ljust(6, "0"))
        else:
            fields.warn("acquired", f"fraction {_short(digits)} of TIM {_short(tim)} is not digits; "
                                    "whole seconds kept")
    try:
        offset = _offset(*zone.groups())  # type: ignore[arg-type]
        return datetime(*date, *(int(v) for v in clock.groups()), micro, tzinfo=timezone(offset))
    except (ValueError, OverflowError) as error:
        fields.warn("acquired", f"DAT {_short(dat)} TIM {_short(tim)}: {error}")
        return None


def from_srt(srt: object) -> datetime | None:
    """SRT (seconds since 1970 UTC) as a time, None when 0, absurd or not a number."""
    if isinstance(srt, (int, float)) and not isinstance(srt, bool) and 0 < srt < _LAST_SRT:
        return datetime.fromtimestamp(float(srt), tz=timezone.utc)
    return None


def acquisition(parameters: dict[str, ParamValue], fields: Warner | None = None,
                ) -> tuple[datetime | None, Source | None]:
    """(acquisition time, where it came from) from parameters already read.

    DAT/TIM first, SRT only when they give nothing. Silent unless `fields`
    (the warning collector of file_info) is given.

    >>> acquisition({"DAT": "03/05/2019", "TIM": "13:34:44.641 (GMT-4)"})[0].isoformat()
    '2019-05-03T13:34:44.641000-04:00'
    >>> acquisition({"TIM": "13:34:44", "SRT": 1556890484.5})
    (datetime.datetime(2019, 5, 3, 13, 34, 44, 500000, tzinfo=datetime.timezone.utc), 'SRT')
    """
    acquired = acquisition_time(parameters.get("DAT"), parameters.get("TIM"), fields or Silent())
    if acquired is not None:
        return acquired, "DAT/TIM"
    acquired = from_srt(parameters.get("SRT"))
    return acquired, ("SRT" if acquired is not None else None)
