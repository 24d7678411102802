"""Numbers and strings as text that reads back to the same values."""

from __future__ import annotations

from typing import Literal

import numpy as np
import numpy.typing as npt

_STRING = np.dtypes.StringDType()


def shortest_text(values: np.ndarray) -> np.ndarray:
    """Each number as the shortest text that parses back to the same value in its own dtype.

    float32 values get the float32 shortest form ("0.1", not "0.10000000149011612"),
    float64 values the float64 one; nan and inf are written "nan", "inf", "-inf".
    The conversion runs in numpy, not per value in Python.

    >>> shortest_text(np.array([0.1, 1e20, -0.0], dtype=np.float32)).tolist()
    ['0.1', '1e+20', '-0.0']
    """
    array = np.asarray(values)
    if array.dtype.kind not in "fiub":
        raise TypeError(f"expected numbers, got an array of {array.dtype}")
    if array.dtype.kind == "f" and array.dtype.itemsize < 4:
        array = array.astype(np.float32)  # half floats: float32 text is exact for them
    return array.astype(_STRING)


def csv_field(text: str) -> str:
    """One CSV field: quoted when it holds a separator, a quote or a line break."""
    if any(c in text for c in ',"\r\n') or text != text.strip():
        return '"' + text.replace('"', '""') + '"'
    return text


def text_column(values: np.ndarray, kind: str = "number") -> np.ndarray:
    """A key column as CSV text: numbers in shortest form, strings quoted where
    needed; a missing text, count or time is an empty field.

    `kind` is the column's type in the data model: a count with missing values
    (float64, NaN) is written as whole numbers, a time (datetime64, UTC) in
    ISO 8601 with a "Z".

    >>> text_column(np.array([128.0, np.nan]), "count").tolist()
    ['128', '']
    >>> when = np.array(["2026-12-09T09:15", "NaT"], dtype="datetime64[us]")
    >>> text_column(when, "time").tolist(), text_column(np.array(["a,b", None], dtype=object), "text").tolist()
    (['2026-12-09T09:15:00Z', ''], ['"a,b"', ''])
    """
    array = np.asarray(values)
    if array.dtype.kind == "M":
        # One format for the whole column (readers guess a column's format from its first value):
        # whole seconds, or as many decimals as the finest value needs.
        units: tuple[Literal["s", "ms", "us"], ...] = ("s", "ms", "us")
        present = array[~np.isnat(array)]
        unit = next(u for u in units if u == "us" or (present.astype(f"datetime64[{u}]") == present).all())
        times: npt.NDArray[np.datetime64] = array.astype(f"datetime64[{unit}]")
        text = np.datetime_as_string(times, unit=unit, timezone="UTC")
        return np.where(np.isnat(array), "", text).astype(_STRING)
    if kind == "count" and array.dtype.kind == "f":
        missing = np.isnan(array)
        return np.where(missing, "", shortest_text(np.where(missing, 0, array).astype(np.int64))).astype(_STRING)
    if array.dtype.kind in "fiub":
        return shortest_text(array)
    missing = np.array([v is None for v in array.tolist()], dtype=bool)
    # Few distinct strings (file names, region titles): quote each once.
    unique, inverse = np.unique(np.where(missing, "", array).astype(str), return_inverse=True)
    quoted = np.array([csv_field(s) for s in unique.tolist()], dtype=_STRING)
    return quoted[inverse.reshape(-1)] if len(unique) else np.empty(0, _STRING)
