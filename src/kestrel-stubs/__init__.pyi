"""Read OPUS spectroscopy files into numpy arrays.

``kestrel`` lists the data blocks of an OPUS file, reads one block with its
parameters into a result object, and extracts the visible-light pictures a file
carries. Every call opens the file named by its path, reads what it needs and
closes it again; nothing is cached between calls.

Example:
    >>> import kestrel
    >>> from kestrel_tools.data import DEMO_FILE
    >>> path = str(DEMO_FILE)
    >>> kestrel.listContents(path)[0]
    ('AB', '2D', 'NONE')
    >>> r = kestrel.getOpusData(path, ("AB", "2D", "NONE"))
    >>> r.y.dtype
    dtype('float32')
"""

import array as array
import struct
import warnings as warnings
from collections.abc import Iterable, Sequence
from dataclasses import dataclass as dataclass
from os import PathLike
from struct import unpack as unpack
from typing import Any, Literal, TypeAlias, overload

import numpy as np
import numpy.typing as npt

struct_error = struct.error
"""The :class:`struct.error` class, raised when a file ends inside a field that a read needs."""

_OpenablePath: TypeAlias = str | bytes | PathLike[str] | PathLike[bytes] | int
_ParameterValue: TypeAlias = int | float | str
_Float32Array: TypeAlias = npt.NDArray[np.float32]
_Float64Array: TypeAlias = npt.NDArray[np.float64]

class BaseDataReturn:
    """Base class of every result of :func:`getOpusData`.

    It holds what every data block has: the three strings that name the block,
    its parameters, its x axis and the range of its y values. ``str()`` and
    ``repr()`` both return :attr:`description`, read at the time of the call.
    The constructor copies and checks nothing: each attribute is the very object
    that was passed.
    """

    dimension: str
    """Dimensions of the data block: ``"2D"`` or ``"3D"``."""
    dataType: str
    """Data block type, such as ``"AB"``, ``"TR"`` or ``"SSC"``."""
    derivative: str
    """Derivative of the block: ``"NONE"``, ``"1DER"``, ``"2DER"`` or ``"NDER"``."""
    parameters: dict[str, _ParameterValue]
    """Parameter key (``"NPT"``, ``"RES"``, ...) to value: the data, sample and instrument parameters of the block."""
    x: _Float64Array
    """The x axis (of the spectra, or of the traces for trace results), one dimension."""
    minY: float
    """Minimum y value, as the file records it."""
    maxY: float
    """Maximum y value, as the file records it."""
    description: str
    """A text listing the attributes this object holds."""
    def __init__(
        self,
        dimension: str,
        dataType: str,
        deriv: str,
        parameters: dict[str, _ParameterValue],
        x: _Float64Array,
        minY: float,
        maxY: float,
    ) -> None:
        """Sets the attributes in order; ``deriv`` fills :attr:`derivative`."""

class SingleDataReturn(BaseDataReturn):
    """A single spectrum: the result for a 2D data block.

    Example:
        >>> r = kestrel.getOpusData(path, ("AB", "2D", "NONE"))
        >>> r.x.shape == r.y.shape
        True
    """

    y: _Float32Array
    """The y values, one for each entry of :attr:`~BaseDataReturn.x`."""
    def __init__(self, y: _Float32Array, **kwds: Any) -> None:
        """Sets ``y``; the seven base values come as keywords only."""

class ImageDataReturn(BaseDataReturn):
    """A hyperspectral map: one spectrum at every position of an X-Y grid.

    ``spectra[row][column]`` is the spectrum at ``mapY[row]``, ``mapX[column]``.
    """

    mapX: _Float64Array
    """X map coordinates, one per map column."""
    mapY: _Float64Array
    """Y map coordinates, one per map row."""
    spectra: _Float32Array
    """The map, shape (rows, columns, points); the last axis runs along ``x``."""
    def __init__(self, mapX: _Float64Array, mapY: _Float64Array, spectra: _Float32Array, **kwds: Any) -> None:
        """Sets the map attributes; the base values come as keywords."""

class ImageTRCDataReturn(BaseDataReturn):
    """Maps of traces (a spectral feature, an integral or a calculation per position).

    ``traces[:, :, i]`` is the map of the trace named ``labels[i]``.
    """

    mapX: _Float64Array
    """X map coordinates, one per map column."""
    mapY: _Float64Array
    """Y map coordinates, one per map row."""
    labels: list[str]
    """The names of the traces."""
    traces: _Float32Array
    """The trace maps, shape (rows, columns, traces)."""
    def __init__(
        self, mapX: _Float64Array, mapY: _Float64Array, labels: list[str], traces: _Float32Array, **kwds: Any
    ) -> None:
        """Sets the map attributes; the base values come as keywords."""

class TimeResolvedDataReturn(BaseDataReturn):
    """A time-resolved series of spectra: ``spectra[i]`` was measured at ``z[i]``.

    The unit of ``z`` is ``parameters["ZTX"]``.
    """

    z: _Float64Array
    """The z (time) coordinate of each spectrum."""
    spectra: _Float32Array
    """The series, shape (records, points)."""
    def __init__(self, z: _Float64Array, spectra: _Float32Array, **kwds: Any) -> None:
        """Sets the series attributes; the base values come as keywords."""

class TimeResolvedTRCDataReturn(BaseDataReturn):
    """Traces of a time-resolved measurement: ``traces[i]`` is the trace named ``labels[i]``.

    The unit of ``x`` is ``parameters["DXU"]``.
    """

    labels: list[str]
    """The names of the traces."""
    traces: _Float32Array
    """The traces, shape (traces, points)."""
    def __init__(self, labels: list[str], traces: _Float32Array, **kwds: Any) -> None:
        """Sets the trace attributes; the base values come as keywords."""

class Region:
    """One region of a multi-region point map.

    The points of a region need not lie on a grid, so each carries its own
    coordinates: ``spectra[row]`` was measured at ``(mapX[row], mapY[row])``.
    ``repr()`` returns :attr:`title`.
    """

    title: str
    """Name of the region, such as ``"Region 1 (2 x 2)"`` or ``"Region 2 (3 points)"``."""
    mapX: _Float64Array
    """X coordinate of each point."""
    mapY: _Float64Array
    """Y coordinate of each point."""
    start_time: _Float64Array | None
    """Acquisition time of each spectrum; None in the regions of trace results."""
    spectra: _Float32Array
    """One row per point: its spectrum, or its trace values in the order of ``labels``."""
    def __init__(
        self,
        title: str,
        mapX: _Float64Array,
        mapY: _Float64Array,
        start_time: _Float64Array | None,
        spectra: _Float32Array,
    ) -> None:
        """Sets the five attributes in order."""

class MultiRegionDataReturn(BaseDataReturn):
    """A multi-region point map of spectra: a list of :class:`Region` objects."""

    regions: list[Region]
    """The regions, in the order the file stores them."""
    def __init__(self, regions: list[Region], **kwds: Any) -> None:
        """Sets ``regions``; the base values come as keywords."""

class MultiRegionTRCDataReturn(BaseDataReturn):
    """A multi-region point map of traces; each region's rows follow ``labels``."""

    labels: list[str]
    """The names of the traces."""
    regions: list[Region]
    """The regions, in the order the file stores them."""
    def __init__(self, labels: list[str], regions: list[Region], **kwds: Any) -> None:
        """Sets ``labels`` and ``regions``; the base values come as keywords."""

def help() -> None:
    """Prints a short usage text to standard output."""

def listContents(path: _OpenablePath) -> list[tuple[str, str, str]]:
    """Lists the data blocks of a file.

    Args:
        path: The file, as :func:`open` accepts it.

    Returns:
        One ``(data block type, dimensions, derivative)`` triple per data block,
        for example ``("AB", "2D", "NONE")``; each can be passed to
        :func:`getOpusData` unchanged.

    Raises:
        ValueError: The file is not an OPUS file.
        OSError: The file cannot be opened or read.
    """

def isOpusFile(path: _OpenablePath) -> bool:
    """Tells whether a file starts with the OPUS magic number.

    Args:
        path: The file, as :func:`open` accepts it.

    Returns:
        True for an OPUS file; False for other bytes or a file shorter than four bytes.
    """

def decode_string(s: bytes | bytearray, encodings: Iterable[str] = ("ascii", "utf8", "latin1")) -> str:
    """Decodes text stored in a file, trying each encoding in turn.

    Args:
        s: The bytes, decoded unchanged (NUL bytes stay).
        encodings: Encoding names tried in order; when all fail, the bytes below
            0x80 are decoded as ASCII and the others dropped.

    Returns:
        The text.

    Example:
        >>> kestrel.decode_string(b"\\xe9")
        'é'
    """

# The kind of result depends on what the file holds, not on the call, except that
# a 2D block is always a single spectrum. Other requests return Any rather than a
# union, so callers use the result they know they asked for without narrowing it.
@overload
def getOpusData(path: str, datablock: tuple[str, Literal["2D"], str]) -> SingleDataReturn: ...
@overload
def getOpusData(path: str, datablock: Sequence[str]) -> Any:
    """Reads one data block of a file with its parameters.

    Args:
        path: The file's path.
        datablock: ``(data block type, dimensions, derivative)`` as
            :func:`listContents` returns it; case does not matter.

    Returns:
        A :class:`SingleDataReturn` for a 2D block; for a 3D block an
        :class:`ImageDataReturn` or :class:`ImageTRCDataReturn` (maps), a
        :class:`TimeResolvedDataReturn` or :class:`TimeResolvedTRCDataReturn`
        (series), or a :class:`MultiRegionDataReturn` or
        :class:`MultiRegionTRCDataReturn` (multi-region point maps).

    Raises:
        ValueError: The request is malformed, the block is not in the file, or
            the file is not an OPUS file.
        struct.error: The file ends inside a field it needs.
        KeyError: A parameter the block needs is missing.
        OSError: The file cannot be opened or read.
    """

def imghdr_what(h: bytes | bytearray) -> str | None:
    """Names the type of an image from its first bytes.

    Returns:
        ``"jpeg"``, ``"png"``, ``"gif"`` or ``"bmp"``, or None for anything else.
    """

def getVisImages(path: str) -> list[dict[str, Any]]:
    """Extracts the visible-light pictures stored in a file.

    Args:
        path: The file's path.

    Returns:
        A list with one dict per picture, holding ``"image"`` (the bytes),
        ``"imgext"`` (the type as :func:`imghdr_what` names it), ``"Title"`` and
        the picture's other attributes (``"Pos. X"``, ...); an empty list when
        the file has no pictures.
    """

paramDict: dict[str, str]
"""Display names of 34 common parameter keys, such as ``"RES": "Resolution"``."""

def OpusDict() -> dict[str, str]:
    """Returns a new dict that translates parameter keys into readable names.

    Example:
        >>> kestrel.OpusDict()["RES"]
        'resolution'
    """
