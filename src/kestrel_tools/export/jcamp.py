"""Single spectra as JCAMP-DX 5.01 files (##XYDATA=(X++(Y..Y)), plain numbers)."""

from __future__ import annotations

import datetime as dt
import math
from typing import Any

import numpy as np

from kestrel_tools.export._files import PathLike, replacing
from kestrel_tools import model
from kestrel_tools._flat import kind_of
from kestrel_tools.export._units import jcamp_data_type
from kestrel_tools.metadata import info_from_parameters

# Integers never need more bits than float64 holds exactly, so a reader that
# parses them as floats gets them back unchanged.
_MAX_BITS = 53
_FLOAT32_MANTISSA = 24
_LINE_WIDTH = 80


def write_jcamp(result: Any, path: PathLike, *, info: Any = None, title: str | None = None,
                origin: str | None = None, owner: str | None = None) -> None:
    """Write a single spectrum to `path` as a JCAMP-DX 5.01 file.

    The y values are stored as integers times YFACTOR, a power of two chosen so
    that every float32 value down to 2**-29 of the largest comes back exactly
    (smaller ones to within that quantum); non-finite values are written "?".
    FIRSTX and LASTX are exact, so a reader's evenly spaced x axis matches.

    `info` is the file's metadata (a FileInfo); without it the title, the
    acquisition time (##LONGDATE), the instrument and the operator come from the
    result's parameters. `origin` and `owner` default to the operator.

    >>> import kestrel, kestrel_tools, tempfile, pathlib
    >>> r = kestrel.getOpusData(str(kestrel_tools.DEMO_FILE), ("AB", "2D", "NONE"))
    >>> out = pathlib.Path(tempfile.mkdtemp()) / "demo.jdx"
    >>> write_jcamp(r, out)
    >>> [l for l in out.read_text().splitlines() if l.startswith(("##DATA TYPE", "##XUNITS", "##LONGDATE"))]
    ['##DATA TYPE=INFRARED SPECTRUM', '##LONGDATE=2026/12/09 10:15:00 +0100', '##XUNITS=1/CM']
    """
    kind = kind_of(result)
    if kind != "spectrum":
        raise TypeError(f"JCAMP-DX takes single spectra, not {model.KINDS[kind].noun}")
    x = np.asarray(result.x, dtype=np.float64)
    y = np.asarray(result.y)
    if len(x) != len(y) or len(x) < 2:
        raise ValueError(f"a spectrum needs at least 2 points with one x each (x: {len(x)}, y: {len(y)})")
    if not np.all(np.isfinite(x)):
        raise ValueError("the x axis holds values that are not finite")
    block = (str(result.dataType), str(result.dimension), str(result.derivative))
    meta = info if info is not None else info_from_parameters("", [], block, result.parameters, quiet=True)
    text = "".join(line + "\n" for line in _header(result, meta, x, y, title, origin, owner))
    with replacing(path) as temporary, open(temporary, "w", encoding="utf-8", newline="\n") as out:
        out.write(text)
        out.write(_xydata(x, y))
        out.write("##END=\n")


def _clean(value: object) -> str:
    # A label's value ends at the line; a value that starts a new label would break the file.
    return " ".join(str(value).split()).replace("##", "#")


def _longdate(moment: dt.datetime | None) -> str | None:
    if moment is None:
        return None
    text = moment.strftime("%Y/%m/%d %H:%M:%S")
    return text + moment.strftime(" %z") if moment.utcoffset() is not None else text


def _header(result: Any, meta: Any, x: np.ndarray, y: np.ndarray, title: str | None,
            origin: str | None, owner: str | None) -> list[str]:
    parameters = result.parameters
    dxu = parameters.get("DXU")
    person = _clean(getattr(meta, "operator", None) or "") or "unknown"
    name = title or _clean(getattr(meta, "sample_name", None) or "") or f"{result.dataType} spectrum"
    finite = y[np.isfinite(y)].astype(np.float64)
    yfactor = _factor(finite)
    labels: list[tuple[str, object | None]] = [
        ("TITLE", name),
        ("JCAMP-DX", "5.01"),
        ("DATA TYPE", jcamp_data_type(result.dataType, dxu)),
        ("DATA CLASS", "XYDATA"),
        ("ORIGIN", origin or person),
        ("OWNER", owner or person),
        ("LONGDATE", _longdate(getattr(meta, "acquired", None))),
        ("SPECTROMETER/DATA SYSTEM", getattr(meta, "instrument", None)),
        ("RESOLUTION", _number(getattr(meta, "resolution", None))),
        ("$OPUS BLOCK", f"{result.dataType} {result.dimension} {result.derivative}"),
        ("XUNITS", model.x_unit(dxu).jcamp),
        ("YUNITS", (model.value_kind(result.dataType) or model.UNKNOWN_VALUE).jcamp),
        ("XFACTOR", "1.0"),
        ("YFACTOR", repr(yfactor)),
        ("FIRSTX", repr(float(x[0]))),
        ("LASTX", repr(float(x[-1]))),
        ("DELTAX", repr(float((x[-1] - x[0]) / (len(x) - 1)))),
        ("MAXY", repr(float(finite.max())) if len(finite) else None),
        ("MINY", repr(float(finite.min())) if len(finite) else None),
        ("NPOINTS", str(len(x))),
        ("FIRSTY", repr(float(y[0])) if math.isfinite(float(y[0])) else "?"),
    ]
    return [f"##{label}={_clean(value)}" for label, value in labels if value is not None] + ["##XYDATA=(X++(Y..Y))"]


def _number(value: object) -> str | None:
    return repr(float(value)) if isinstance(value, (int, float)) and not isinstance(value, bool) else None


def _factor(values: np.ndarray) -> float:
    """The power of two that turns `values` into integers without losing float32 precision.

    Every float32 value is an integer multiple of 2**(e - 23) for its exponent e,
    so the smallest exponent in the data fixes a quantum that represents all of
    them exactly; it is coarsened only as far as the largest value requires to
    keep the integers within float64's exact range.
    """
    magnitudes = np.abs(values[values != 0])
    if not len(magnitudes):
        return 1.0
    smallest = math.frexp(float(magnitudes.min()))[1]   # value < 2**exponent
    largest = math.frexp(float(magnitudes.max()))[1]
    exponent = max(smallest - _FLOAT32_MANTISSA, largest - _MAX_BITS)
    return math.ldexp(1.0, exponent)


def _xydata(x: np.ndarray, y: np.ndarray) -> str:
    """The data lines: each starts with the x of its first value, then as many y integers as fit.

    Each line takes as many y words as fit beside its own x, counting every word
    as wide as the widest, so the values are cut by slicing rather than measured
    one by one.
    """
    finite = np.isfinite(y)
    scaled = np.where(finite, y.astype(np.float64), 0.0) / _factor(y[finite].astype(np.float64))
    words = np.where(finite, np.rint(scaled).astype(np.int64).astype(np.dtypes.StringDType()), "?")
    widest_y = int(np.strings.str_len(words).max())
    lines = []
    start = 0
    while start < len(words):
        first = _x_text(float(x[start]))
        count = max(1, (_LINE_WIDTH - len(first)) // (widest_y + 1))
        lines.append(" ".join([first] + words[start:start + count].tolist()))
        start += count
    return "\n".join(lines) + "\n"


def _x_text(value: float) -> str:
    # Plain decimals: some readers take an exponent in the x column for compressed y digits.
    return np.format_float_positional(value, unique=True, trim="-")
