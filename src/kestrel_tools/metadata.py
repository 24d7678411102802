"""What a file says about its measurement: when, what, with which instrument.

`file_info(path)` reads the primary block of a file (see `primary_block`) with
its parameters and turns the raw parameter keys into named, typed fields:

>>> from kestrel_tools import DEMO_FILE, file_info
>>> info = file_info(DEMO_FILE)
>>> info.block, info.x_unit, info.y_kind
(('AB', '3D', 'NONE'), 'cm-1', 'absorbance')
>>> info.acquired.isoformat(), info.acquired_from
('2026-12-09T10:32:40+01:00', 'DAT/TIM')

Acquisition time
    DAT holds the date ("dd/mm/yyyy", or "yyyy/mm/dd" when the first field has
    four digits) and TIM the local time with its offset from UTC in a suffix:
    "hh:mm:ss[.fff] (GMT+h)", "(UTC+0)", half hours as "GMT+10.5" or
    "GMT+05:30", negative offsets as "GMT-4". The result is a timezone-aware
    datetime with that offset. A fraction that is not digits ("10:31:19.-70")
    is dropped, keeping the whole seconds, with a MetadataWarning: the seconds
    are clear, the fraction is not. SRT (an epoch in seconds) is used only when
    DAT/TIM are missing or unreadable (some instruments store the local wall
    clock in it as if it were UTC), and `acquired_from` says "SRT" then.

Units and kinds
    `x_unit` names DXU ("WN" -> "cm-1", "MI" -> "um", "PNT" -> "points", ...).
    `y_kind` says what the values are, from the block type ("AB" ->
    "absorbance", "SSC" -> "single channel", "SIFG" -> "interferogram"); PLF,
    the result spectrum the acquisition was set to compute, decides only where
    the block type does not: a file converted afterwards keeps the old setting.

Missing or malformed fields never make `file_info` fail: the field is None and a
`MetadataWarning` names the file and the field.
"""

from __future__ import annotations

import os
import re
import sys
import warnings
from collections.abc import Sequence
from dataclasses import dataclass, field, fields
from datetime import datetime, timedelta, timezone
from typing import Any, Literal, Protocol

import kestrel

from kestrel_tools import model

Triple = tuple[str, str, str]
ParamValue = int | float | str

__all__ = [
    "FileInfo",
    "MetadataWarning",
    "acquisition",
    "file_info",
    "primary_block",
    "ranked_blocks",
    "x_unit_name",
    "y_kind_name",
]


class MetadataWarning(UserWarning):
    """A metadata field of a file is missing or unreadable; the field is None."""


# ----------------------------------------------------------------- primary block
#
# The ranking of block types lives in the data model (kestrel_tools.model).
TYPE_ORDER = model.TYPE_ORDER
_rank = model.block_rank
ranked_blocks = model.ranked_blocks


def primary_block(path: str | os.PathLike[str], *, blocks: Sequence[Sequence[str]] | None = None) -> Triple:
    """The block a scientist means by "the spectrum of this file".

    Result spectra (AB, TR, REFL, KM, ATR, RAM, EMIS, PAS, LREFL, ABARI, TRARI)
    come first, then single channels (SSC, RSC) and power spectra, then
    interferograms (SIFG, RIFG), then phases and traces; second-channel blocks
    follow their first-channel twins. Within one type a 3D block comes before
    the 2D block, and the underived block before its derivatives. `blocks` is
    the file's listing when the caller already has it.

    >>> from kestrel_tools import DEMO_FILE
    >>> primary_block(DEMO_FILE)
    ('AB', '3D', 'NONE')

    Raises ValueError naming the file when it holds no block getOpusData reads.
    """
    listing = kestrel.listContents(os.fspath(path)) if blocks is None else blocks
    ranked = [(rank, tuple(b)) for b in listing if (rank := _rank(b)) is not None]
    if not ranked:
        raise ValueError(f"{os.fspath(path)}: the file holds no data block that can be read")
    best = min(ranked, key=lambda item: item[0])[1]
    return (best[0], best[1], best[2])


# ----------------------------------------------------------------- units and kinds


def x_unit_name(dxu: str) -> str:
    """The unit text of an x unit code (DXU): "WN" -> "cm-1", "MI" -> "um", "PNT" -> "points".

    Unknown codes come back unchanged.

    >>> x_unit_name("WN"), x_unit_name("MSC"), x_unit_name("XYZ")
    ('cm-1', 'ms', 'XYZ')
    """
    unit = model.X_UNITS.get(dxu.strip().upper())
    return dxu if unit is None else unit.unit


def y_kind_name(code: str) -> str | None:
    """What y values are, from a block type or a PLF code ("AB" -> "absorbance").

    >>> y_kind_name("RFL"), y_kind_name("SSC"), y_kind_name("??")
    ('reflectance', 'single channel', None)
    """
    kind = model.value_kind(code, code)
    return None if kind is None else kind.name


# ----------------------------------------------------------------- acquisition time

_DATE = re.compile(r"^\s*(\d{1,4})[/.-](\d{1,2})[/.-](\d{1,4})\s*$")
_TIME = re.compile(
    r"^\s*(\d{1,2}):(\d{1,2}):(\d{1,2})(?:\.(\S*?))?\s*"
    r"(?:\(?\s*(?:GMT|UTC)\s*([+-])\s*(\d{1,2})(?:(?:\.(\d+))|(?::(\d{2})))?\s*\)?)?\s*$",
    re.IGNORECASE,
)


class _Warner(Protocol):
    def warn(self, name: str, what: str) -> None: ...


class _Fields:
    """Collects the warnings of one file_info call, each naming file and field."""

    def __init__(self, path: str) -> None:
        self.path = path

    def warn(self, name: str, what: str) -> None:
        # Attributed to the caller's line, outside this package.
        message = f"{self.path}: {name}: {what}"
        package = os.path.dirname(__file__)
        if sys.version_info >= (3, 12):
            warnings.warn(message, MetadataWarning, skip_file_prefixes=(package,))
        else:
            warnings.warn(message, MetadataWarning, stacklevel=_level_outside(package))


def _level_outside(prefix: str) -> int:
    """The stacklevel, for its caller's warnings.warn, of the first frame whose file
    is not under prefix (what skip_file_prefixes does from Python 3.12 on)."""
    level, frame = 1, sys._getframe(1)
    while frame.f_back is not None and frame.f_code.co_filename.startswith(prefix):
        level, frame = level + 1, frame.f_back
    return level


def _parse_date(text: str) -> tuple[int, int, int] | None:
    match = _DATE.match(text)
    if match is None:
        return None
    a, b, c = match.groups()
    if len(a) == 4:  # yyyy/mm/dd
        return int(a), int(b), int(c)
    if len(c) == 4:  # dd/mm/yyyy
        return int(c), int(b), int(a)
    return None


def _parse_offset(sign: str, hours: str, decimal: str | None, minutes: str | None) -> timedelta:
    span = timedelta(hours=int(hours))
    if decimal is not None:
        span += timedelta(hours=float("0." + decimal))
    if minutes is not None:
        span += timedelta(minutes=int(minutes))
    return -span if sign == "-" else span


def acquisition_time(dat: object, tim: object, fields: _Warner) -> datetime | None:
    """DAT + TIM with TIM's UTC offset, or None with a warning saying why."""
    if not isinstance(dat, str) or not isinstance(tim, str):
        missing = "DAT" if not isinstance(dat, str) else "TIM"
        fields.warn("acquired", f"{missing} is missing or not text")
        return None
    date = _parse_date(dat)
    if date is None:
        fields.warn("acquired", f"DAT {dat!r} is not a date")
        return None
    match = _TIME.match(tim)
    if match is None:
        fields.warn("acquired", f"TIM {tim!r} is not a time")
        return None
    hh, mm, ss, fraction, sign, off_h, off_dec, off_min = match.groups()
    if sign is None:
        fields.warn("acquired", f"TIM {tim!r} has no UTC offset")
        return None
    micro = 0
    if fraction:
        if fraction.isdigit():
            micro = int(fraction[:6].ljust(6, "0"))
        else:
            fields.warn("acquired", f"fraction {fraction!r} of TIM {tim!r} is not digits; whole seconds kept")
    try:
        offset = _parse_offset(sign, off_h, off_dec, off_min)
        return datetime(*date, int(hh), int(mm), int(ss), micro, tzinfo=timezone(offset))
    except ValueError as error:
        fields.warn("acquired", f"DAT {dat!r} TIM {tim!r}: {error}")
        return None


def _from_srt(srt: object) -> datetime | None:
    # 0 and absurd values mean "not recorded".
    if isinstance(srt, (int, float)) and 0 < srt < 4102444800:
        return datetime.fromtimestamp(float(srt), tz=timezone.utc)
    return None


class _Silent:
    def warn(self, name: str, what: str) -> None:
        pass


def acquisition(parameters: dict[str, ParamValue], fields: _Warner | None = None,
                ) -> tuple[datetime | None, Literal["DAT/TIM", "SRT"] | None]:
    """(acquisition time, where it came from) from parameters already read.

    DAT/TIM first, SRT only when they give nothing. Silent unless `fields`
    (the warning collector of file_info) is given.

    >>> acquisition({"DAT": "03/05/2019", "TIM": "13:34:44.641 (GMT-4)"})[0].isoformat()
    '2019-05-03T13:34:44.641000-04:00'
    >>> acquisition({"TIM": "13:34:44", "SRT": 1556890484.5})
    (datetime.datetime(2019, 5, 3, 13, 34, 44, 500000, tzinfo=datetime.timezone.utc), 'SRT')
    """
    acquired = acquisition_time(parameters.get("DAT"), parameters.get("TIM"), fields or _Silent())
    if acquired is not None:
        return acquired, "DAT/TIM"
    acquired = _from_srt(parameters.get("SRT"))
    return acquired, ("SRT" if acquired is not None else None)


# ----------------------------------------------------------------- FileInfo


@dataclass(frozen=True)
class FileInfo:
    """The metadata of one block of one file.

    >>> from kestrel_tools import DEMO_FILE, file_info
    >>> info = file_info(DEMO_FILE, ("AB", "2D", "NONE"))
    >>> info.acquired_from, info.resolution, info.as_dict()["block"]
    ('DAT/TIM', 4.0, 'AB 2D NONE')
    """

    path: str
    blocks: list[Triple]
    block: Triple
    acquired: datetime | None
    acquired_from: Literal["DAT/TIM", "SRT"] | None
    sample_name: str | None
    sample_form: str | None
    operator: str | None
    instrument: str | None
    resolution: float | None
    scans: int | None
    x_unit: str | None
    y_kind: str | None
    parameters: dict[str, ParamValue] = field(repr=False)

    def as_dict(self, *, parameters: bool = False) -> dict[str, Any]:
        """One flat row: every field but `blocks` and `parameters`, the block as
        "AB 2D NONE"; with parameters=True the raw parameters follow under their keys."""
        row = {f.name: getattr(self, f.name) for f in fields(self) if f.name not in ("blocks", "parameters")}
        row["block"] = " ".join(self.block)
        if parameters:
            row.update(self.parameters)
        return row


def _text(params: dict[str, ParamValue], key: str, name: str, fields: _Warner) -> str | None:
    value = params.get(key)
    if value is None:
        fields.warn(name, f"{key} is missing")
        return None
    if not isinstance(value, str):
        fields.warn(name, f"{key} is {value!r}, not text")
        return None
    return value


def _number(params: dict[str, ParamValue], keys: Sequence[str], name: str, fields: _Warner) -> float | None:
    for key in keys:
        value = params.get(key)
        if value is None:
            continue
        if isinstance(value, (int, float)):
            return value
        try:
            return float(value)
        except ValueError:
            fields.warn(name, f"{key} is {value!r}, not a number")
            return None
    fields.warn(name, f"{' and '.join(keys)} missing")
    return None


def read_parameters(path: str, block: Triple) -> dict[str, ParamValue]:
    """The parameters of `block` of the file, without its values."""
    # The one place that reads a block's parameters: the native plan reads them
    # without the data.
    from kestrel_tools import _native

    parameters: dict[str, ParamValue] = _native.plan(path, block)["parameters"]
    return parameters


def info_from_parameters(path: str, blocks: list[Triple], block: Triple,
                         params: dict[str, ParamValue], *, quiet: bool = False) -> FileInfo:
    """A FileInfo from parameters already read (collections and writers given a
    result reuse this); with quiet=True missing fields warn nothing."""
    fields: _Warner = _Silent() if quiet else _Fields(path)
    acquired, acquired_from = acquisition(params, fields)
    # A reference channel's raw data counts the reference scans (REFL and RAM are sample results).
    reference = model.is_reference(block[0])
    scans = _number(params, ("ARS", "NSR") if reference else ("ASS", "NSS"), "scans", fields)
    dxu = params.get("DXU")
    x_unit = x_unit_name(dxu) if isinstance(dxu, str) else None
    if x_unit is None:
        fields.warn("x_unit", "DXU is missing or not text")
    # The stored block says what its values are. PLF is the result spectrum the
    # acquisition was set to compute; a file converted afterwards keeps the old
    # setting (a real AB block of absorbances up to 6 carries PLF=TR), so PLF
    # decides only where the block type does not.
    value = model.value_kind(block[0], params.get("PLF"))
    kind = None if value is None else value.name
    resolution = _number(params, ("RES",), "resolution", fields)
    return FileInfo(
        path=path,
        blocks=blocks,
        block=block,
        acquired=acquired,
        acquired_from=acquired_from,
        sample_name=_text(params, "SNM", "sample_name", fields),
        sample_form=_text(params, "SFM", "sample_form", fields),
        operator=_text(params, "CNM", "operator", fields),
        instrument=_text(params, "INS", "instrument", fields),
        resolution=None if resolution is None else float(resolution),
        scans=None if scans is None else int(scans),
        x_unit=x_unit,
        y_kind=kind,
        parameters=params,
    )


def file_info(path: str | os.PathLike[str], block: Sequence[str] | None = None) -> FileInfo:
    """The metadata of `block` of the file (None: its primary block).

    >>> from kestrel_tools import DEMO_FILE
    >>> info = file_info(DEMO_FILE, ("AB", "2D", "NONE"))
    >>> info.acquired.isoformat(), info.instrument
    ('2026-12-09T10:15:00+01:00', 'Demo FT-IR')

    A file whose listing or parameters cannot be read raises what listContents
    or getOpusData raise for it (values past the parameters are not needed, and
    where the native plan is built they are not read); a missing or malformed
    field only sets that field to None with a MetadataWarning.
    """
    name = os.fspath(path)
    blocks = [(b[0], b[1], b[2]) for b in kestrel.listContents(name)]
    chosen = primary_block(name, blocks=blocks) if block is None else (block[0].upper(), block[1].upper(),
                                                                        block[2].upper())
    return info_from_parameters(name, blocks, chosen, read_parameters(name, chosen))
