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

import math
import os
import sys
import warnings
from collections.abc import Callable, Sequence
from dataclasses import dataclass, field, fields
from datetime import datetime
from typing import Any, Literal


from kestrel_tools import model
from kestrel_tools._acquisition import Silent as _Silent
from kestrel_tools._acquisition import Warner as _Warner
from kestrel_tools._acquisition import acquisition
from kestrel_tools.byte_sources import Source, StorageOptions, contents, opened, source_name

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


def primary_block(path: Source, *, blocks: Sequence[Sequence[str]] | None = None,
                  storage_options: StorageOptions = None) -> Triple:
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
    listing = contents(path, storage_options) if blocks is None else blocks
    ranked = [(rank, tuple(b)) for b in listing if (rank := _rank(b)) is not None]
    if not ranked:
        raise ValueError(f"{source_name(path)}: the file holds no data block that can be read")
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
    if not value.strip():
        fields.warn(name, f"{key} is empty")
        return None
    return value


def _as_number(value: object) -> float | None:
    """A parameter as a number: ints and floats as they are, text of ASCII digits; None otherwise."""
    if isinstance(value, bool):
        return None
    if isinstance(value, (int, float)):
        return float(value)
    if isinstance(value, str) and value.isascii():
        try:
            return float(value.strip())
        except ValueError:
            return None
    return None


def _number(params: dict[str, ParamValue], keys: Sequence[str], name: str, fields: _Warner, *,
            whole: bool, high: float) -> float | None:
    """The first of `keys` that holds a finite number in (0, high] (whole when asked);
    a malformed one warns and the next key is tried."""
    for key in keys:
        value = params.get(key)
        if value is None:
            continue
        number = _as_number(value)
        # Written so that NaN fails every test.
        if number is not None and 0 < number <= high and (not whole or number == math.floor(number)):
            return number
        shown = repr(value) if not isinstance(value, str) or len(value) <= 40 else repr(value[:37] + "...")
        fields.warn(name, f"{key} is {shown}, not {'a whole number' if whole else 'a number'} from "
                          f"{'1' if whole else '0'} to {high:g}")
    if not any(params.get(key) is not None for key in keys):
        fields.warn(name, f"{' and '.join(keys)} missing")
    return None


# Past these a value is not a measurement's: scans are counted in 32 bits, a
# resolution above this many x units is no resolution.
_MAX_SCANS = 2.0**31 - 1
_MAX_RESOLUTION = 1e6


def read_parameters(path: Any, block: Triple) -> dict[str, ParamValue]:
    """The parameters of `block` of the file, without its values: from the
    directory and the parameter blocks alone (file_info reads them with the
    listing, from the same opening)."""
    from kestrel_tools import _native

    parameters: dict[str, ParamValue] = _native.parameters(path, block)
    return parameters


def info_from_parameters(path: str, blocks: list[Triple], block: Triple,
                         params: dict[str, ParamValue], *, quiet: bool = False) -> FileInfo:
    """A FileInfo from parameters already read (collections and writers given a
    result reuse this); with quiet=True missing fields warn nothing."""
    fields: _Warner = _Silent() if quiet else _Fields(path)
    acquired, acquired_from = acquisition(params, fields)
    # A reference channel's raw data counts the reference scans (REFL and RAM are sample results).
    reference = model.is_reference(block[0])
    scans = _number(params, ("ARS", "NSR") if reference else ("ASS", "NSS"), "scans", fields, whole=True,
                    high=_MAX_SCANS)
    dxu = params.get("DXU")
    x_unit = x_unit_name(dxu) if isinstance(dxu, str) and dxu.strip() else None
    if x_unit is None:
        fields.warn("x_unit", "DXU is missing, empty or not text")
    # The stored block says what its values are. PLF is the result spectrum the
    # acquisition was set to compute; a file converted afterwards keeps the old
    # setting (a real AB block of absorbances up to 6 carries PLF=TR), so PLF
    # decides only where the block type does not.
    value = model.value_kind(block[0], params.get("PLF"))
    kind = None if value is None else value.name
    resolution = _number(params, ("RES",), "resolution", fields, whole=False, high=_MAX_RESOLUTION)
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


def file_info(path: Source, block: Sequence[str] | None = None, *,
              storage_options: StorageOptions = None) -> FileInfo:
    """The metadata of `block` of the file (None: its primary block).

    `path` may also be the file's bytes, a binary file object or a URL opened
    through fsspec with `storage_options`; only the directory and the
    parameters are read.

    >>> from kestrel_tools import DEMO_FILE
    >>> info = file_info(DEMO_FILE, ("AB", "2D", "NONE"))
    >>> info.acquired.isoformat(), info.instrument
    ('2026-12-09T10:15:00+01:00', 'Demo FT-IR')

    A file whose listing or parameters cannot be read raises what listContents
    or getOpusData raise for it (values past the parameters are not needed, and
    where the native plan is built they are not read); a missing or malformed
    field only sets that field to None with a MetadataWarning.
    """
    from kestrel_tools import _native

    name = source_name(path)
    # The block, or what chooses it from the listing.
    choose: Triple | Callable[[list[Triple]], Triple] = (
        (block[0].upper(), block[1].upper(), block[2].upper()) if block is not None
        else lambda listing: primary_block(name, blocks=listing))
    # One opening of the source: the listing, the block and its parameters (a
    # FIFO is read once).
    with opened(path, storage_options) as native:
        blocks, chosen, parameters = _native.describe(native, choose)
    return info_from_parameters(name, blocks, chosen, parameters)
