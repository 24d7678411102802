"""How read_collection reads its files: the native batch fill on a thread pool,
and the public API for the rare file the native path leaves open.

A first pass (`survey`) reads every file once. The first readable file sets the
row width; every file of that width lands in its row of one matrix, and every
file's status, block, axis and x unit are noted in a few arrays, so that what
the collection holds can be decided afterwards with array operations. Files of
another width are read again only if the collection takes them (`read_rows`).
"""

from __future__ import annotations

import math
from collections.abc import Sequence
from concurrent.futures import ThreadPoolExecutor
from typing import Any, Literal

import numpy as np
import numpy.typing as npt

import kestrel
from kestrel_tools import _native
from kestrel_tools.metadata import Triple, primary_block, ranked_blocks, read_parameters
from kestrel_tools.progress import Progress
from kestrel_tools.byte_sources import StorageOptions, contents, is_url, opened, source_name
from kestrel_tools.sources import is_stream, readable_copy

OnError = Literal["collect", "raise", "skip"]
FloatArray = npt.NDArray[np.float64]
Matrix = npt.NDArray[np.float32]

# Status codes the native fill writes into column 0 of its meta array; HELD is
# ours: the file was read through the public API and its values are in `held`.
OK, ERROR, NO_BLOCK, WIDTH, SHORT, REDO, STREAM = range(7)
HELD = 7
# The x unit column when the block has no DXU, or one that does not fit.
NO_UNIT, ODD_UNIT = -1.0, -2.0


def no_block_error(path: str | None = None) -> ValueError:
    """No single spectrum in the file; when it holds maps or series, where to read them."""
    if path is not None:
        try:
            deeper = [" ".join(b) for b in kestrel.listContents(path) if b[1] == "3D"]
        except Exception:  # noqa: BLE001 - the plain reason then
            deeper = []
        if deeper:
            return ValueError(f"the file holds no 2D data block, only maps or series ({', '.join(deeper)}): "
                              "a collection holds one spectrum per file; xarray.open_mfdataset(paths, "
                              "engine='kestrel', combine='nested', concat_dim='file') stacks maps of one shape")
    return ValueError("the file holds no 2D data block that can be read")


def short_error(got: int, npt_: int) -> ValueError:
    return ValueError(f"the data block ends after {got} of {npt_} values (the file is cut short)")


class _Spectrum:
    """What a collection takes of a single spectrum read through the native plan."""

    def __init__(self, x: Any, y: Any, parameters: dict[str, Any]) -> None:
        self.x, self.y, self.parameters = x, y, parameters


def _read_source(source: Any, block: Triple | None, storage_options: StorageOptions) -> tuple[Triple, Any]:
    """A source that is no local path (bytes, a file object, a URL): its listing,
    plan and values read as byte ranges, opened once."""
    with opened(source, storage_options) as native:
        if block is None:
            listing = [b for b in contents(native) if b[1] == "2D"]
            try:
                block = primary_block(source_name(source), blocks=listing)
            except ValueError:
                raise no_block_error() from None
        plan = _native.plan(native, block)
        if plan["kind"] != "spectrum":
            raise ValueError(f"{block} is not a single spectrum")
        y = np.empty(plan["shape"], np.float32)
        _native.read_window(native, block, [(0, plan["shape"][0])], y)
    return block, _Spectrum(plan["x"], y, plan["parameters"])


def _not_local(path: Any, storage_options: StorageOptions = None) -> bool:
    return not isinstance(path, str) or is_url(path)


def read_single(path: Any, block: Triple | None, storage_options: StorageOptions = None) -> tuple[Triple, Any]:
    """One file through the public API: (block, SingleDataReturn); raises what that raises.

    A FIFO or a device is read once and both looks work from what was read.
    """
    if _not_local(path, storage_options):
        return _read_source(path, block, storage_options)
    with readable_copy(path) as name:
        if block is None:
            listing = [b for b in kestrel.listContents(name) if b[1] == "2D"]
            try:
                block = primary_block(name, blocks=listing)
            except ValueError:
                raise no_block_error(name) from None
        with np.errstate(all="ignore"):  # an axis that is not finite is reported as such
            result = kestrel.getOpusData(name, block)
    npt_ = result.parameters["NPT"]
    if len(result.y) < npt_:
        # getOpusData returns what is there; in a matrix a short row would be corrupt data.
        raise short_error(len(result.y), npt_)
    return block, result


def pack_unit(dxu: object) -> float:
    """An x unit code as the native fill packs it (first byte lowest)."""
    if dxu is None:
        return NO_UNIT
    if not isinstance(dxu, str) or len(dxu.encode("utf-8")) > 6:
        return ODD_UNIT
    return float(int.from_bytes(dxu.encode("utf-8"), "little"))


def unpack_unit(code: float) -> str | None:
    """The DXU text of a packed code; None when the block has none."""
    if code < 0:
        return None
    number = int(code)
    return number.to_bytes((number.bit_length() + 7) // 8, "little").decode("utf-8", "replace")


class Survey:
    """What the first pass learned: per file i, status[i], block_index[i] into
    `candidates`, npt/fxv/lxv[i], unit[i] (packed DXU); row i of `out` holds the
    values when status[i] is OK, `held[i]` the public API's result when HELD."""

    def __init__(self, paths: list[Any], block: Triple | None, storage_options: StorageOptions = None) -> None:
        n = len(paths)
        self.paths = paths
        self.block = block
        self.storage_options = storage_options
        self.candidates: list[Triple] = ranked_blocks(("2D",)) if block is None else [block]
        self.failures: dict[int, BaseException] = {}
        self.held: dict[int, Any] = {}
        self.meta = np.zeros((n, 6), dtype=np.float64)
        self.meta[:, 0] = ERROR
        self.meta[:, 1] = -1
        self.out: Matrix = np.empty((0, 0), np.float32)
        self.unit_text: dict[int, str] = {}  # DXU of the blocks the native fill could not pack

    def block_of(self, i: int) -> Triple:
        return self.candidates[int(self.meta[i, 1])]

    def fail(self, i: int, error: BaseException) -> None:
        self.meta[i, 0] = ERROR
        self.failures[i] = error

    def hold(self, i: int, block: Triple, result: Any) -> None:
        """A file read through the public API: its values wait in `held`."""
        params = result.parameters
        self.meta[i] = (HELD, self.candidates.index(block), len(result.y), _number(params.get("FXV")),
                        _number(params.get("LXV")), pack_unit(params.get("DXU")))
        self.held[i] = result

    def read_public(self, i: int) -> None:
        try:
            block, result = read_single(self.paths[i], self.block, self.storage_options)
        except Exception as error:  # noqa: BLE001 - any failure of a file is that file's
            self.fail(i, error)
            return
        self.hold(i, block, result)

    def odd_units(self) -> None:
        """The few blocks whose DXU the native fill could not pack: asked of the plan."""
        for i in np.flatnonzero((self.meta[:, 5] == ODD_UNIT) & (self.meta[:, 0] != ERROR)):
            try:
                parameters = read_parameters(self.paths[i], self.block_of(int(i)))
            except Exception:  # noqa: BLE001 - the unit stays unknown; the fill decides the file
                continue
            self.unit_text[int(i)] = str(parameters.get("DXU"))

    def unit_of(self, i: int) -> str | None:
        """The DXU of file i's block (None when it has none)."""
        text = self.unit_text.get(i)
        return text if text is not None else unpack_unit(float(self.meta[i, 5]))


def _number(value: object) -> float:
    return float(value) if isinstance(value, (int, float)) else math.nan


def _batches(total: int, workers: int) -> list[tuple[int, int]]:
    size = max(1, min(256, math.ceil(total / (workers * 8))))
    return [(s, min(s + size, total)) for s in range(0, total, size)]


def native_fill(paths: Sequence[str], candidates: list[Triple], automatic: bool, out: Matrix,
                meta: FloatArray, rows: Sequence[int], workers: int, bar: Progress | None) -> dict[int, object]:
    """Files paths[k] into out[rows[k]] (rows ascending and contiguous per batch
    is not required: each batch writes a scratch block that is scattered)."""
    details: dict[int, object] = {}
    if not len(paths):
        return details
    contiguous = all(b - a == 1 for a, b in zip(rows, rows[1:]))
    first = rows[0]

    def batch(start: int, stop: int) -> dict[int, object]:
        if contiguous:
            found: dict[int, object] = _native.fill_spectra(list(paths[start:stop]), candidates, out,
                                                             first + start, automatic, meta)
            return {start + k: v for k, v in found.items()}
        scratch = np.empty((stop - start, out.shape[1]), np.float32)
        scratch_meta = np.zeros((stop - start, meta.shape[1]), np.float64)
        found = _native.fill_spectra(list(paths[start:stop]), candidates, scratch, 0, automatic, scratch_meta)
        picked = list(rows[start:stop])
        out[picked] = scratch
        meta[picked] = scratch_meta
        return {start + k: v for k, v in found.items()}

    spans = _batches(len(paths), workers)
    executor = ThreadPoolExecutor(workers) if workers > 1 and len(spans) > 1 else None
    try:
        futures = [executor.submit(batch, *span) for span in spans] if executor is not None else []
        for n, span in enumerate(spans):
            details.update(futures[n].result() if executor is not None else batch(*span))
            if bar is not None:
                bar.advance(span[1] - span[0])
    finally:
        if executor is not None:
            executor.shutdown(wait=True, cancel_futures=True)
    return details


def _settle(survey: Survey, indices: Sequence[int], details: dict[int, object]) -> None:
    """Reasons for what the native fill refused; the public API for what it left open."""
    for k, i in enumerate(indices):
        status = int(survey.meta[i, 0])
        detail = details.get(k)
        if status == ERROR:
            assert isinstance(detail, BaseException)
            survey.failures[i] = detail
        elif status == NO_BLOCK:
            survey.fail(i, no_block_error(survey.paths[i]))
        elif status == SHORT:
            assert isinstance(detail, int)
            survey.fail(i, short_error(detail, int(survey.meta[i, 2])))
        elif status in (REDO, STREAM):
            survey.read_public(i)


def survey(paths: list[Any], block: Triple | None, workers: int, bar: Progress,
           storage_options: StorageOptions = None) -> Survey:
    """Reads every file once (see the module's docstring)."""
    found = Survey(paths, block, storage_options)
    first = None
    for i, path in enumerate(paths):
        # The first readable file sets the row width. A stream is never the first:
        # it is read once, later, with the others the native fill leaves open.
        if not is_stream(path):
            found.read_public(i)
            first = i if i not in found.failures else None
        else:
            found.meta[i, 0] = STREAM
        bar.advance()
        if first is not None:
            break
    if first is None:
        for stream in np.flatnonzero(found.meta[:, 0] == STREAM):
            found.read_public(int(stream))
        return found
    width = int(found.meta[first, 2])
    found.out = np.empty((len(paths), width), dtype=np.float32)
    held = found.held.pop(first)
    found.out[first] = held.y
    found.meta[first, 0] = OK
    # Sources that are no local path (bytes, file objects, URLs) take their own route, once.
    # A FIFO after the first file is kept from the native fill too: opening it there
    # (even without waiting) would let its writer write into a pipe that is then closed.
    elsewhere = [i for i in range(first + 1, len(paths))
                 if _not_local(paths[i], found.storage_options) or is_stream(paths[i])]
    taken_apart = set(elsewhere)
    rest = [i for i in range(first + 1, len(paths)) if i not in taken_apart]
    streams = [int(i) for i in np.flatnonzero(found.meta[:first, 0] == STREAM)] + elsewhere
    details = native_fill([paths[i] for i in rest], found.candidates, block is None, found.out, found.meta,
                          rest, workers, bar)
    _settle(found, rest, details)
    for i in streams:
        found.read_public(i)
    found.odd_units()
    return found


def read_rows(found: Survey, indices: Sequence[int], width: int, workers: int) -> tuple[Matrix, list[int]]:
    """The files `indices` (all of one width) read again into a new matrix, in order;
    held results copied. Returns the matrix and the indices that failed this time."""
    out = np.empty((len(indices), width), dtype=np.float32)
    native = [k for k, i in enumerate(indices) if i not in found.held]
    for k, i in enumerate(indices):
        if i in found.held:
            out[k] = found.held[i].y
    meta = np.zeros((len(indices), 6), dtype=np.float64)
    details = native_fill([found.paths[indices[k]] for k in native], found.candidates, found.block is None, out,
                          meta, native, workers, None)
    lost = []
    for n, k in enumerate(native):
        m = meta[k]
        i = indices[k]
        if int(m[0]) != OK or int(m[2]) != width or m[3] != found.meta[i, 3] or m[4] != found.meta[i, 4]:
            # The file changed between the two reads: it is not taken.
            detail = details.get(n)
            found.fail(i, detail if isinstance(detail, BaseException)
                       else ValueError("the file changed while the collection was read"))
            lost.append(i)
    return out, lost
