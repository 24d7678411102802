"""Numbers and strings as text that reads back to the same values."""

from __future__ import annotations

import numpy as np

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


def text_column(values: np.ndarray) -> np.ndarray:
    """A key column as CSV text: numbers in shortest form, strings quoted where needed."""
    array = np.asarray(values)
    if array.dtype.kind in "fiub":
        return shortest_text(array)
    # Few distinct strings (file names, region titles): quote each once.
    unique, inverse = np.unique(array.astype(str), return_inverse=True)
    quoted = np.array([csv_field(s) for s in unique.tolist()], dtype=_STRING)
    return quoted[inverse.reshape(-1)] if len(unique) else np.empty(0, _STRING)
