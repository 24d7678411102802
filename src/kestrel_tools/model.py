"""The data model: what every result is called, in every output.

One room holds each fact that several outputs share, and pandas, xarray, CSV,
Parquet, netCDF, JCAMP-DX, plots and ``kestrel info`` all read it here:

- one table of x units (the parameter DXU): the dimension an x axis is called
  by, its unit text, its axis label and its JCAMP-DX name;
- one table of data block types: what a block holds (a result spectrum, a
  single channel, an interferogram, a phase, a power spectrum, traces), whose
  channel it is (sample or reference), what its values are called, and how it
  ranks when a file's primary block is chosen;
- per result kind: the dimensions in order, the coordinates with their names
  and units, the name of the data variable, and the columns of the flat tables
  (wide and long).

A name means one thing everywhere: a map's coordinates are ``x`` and ``y``, a
series' time is ``time``, the spectral axis is named after its unit
(``wavenumber``, ``wavelength``, ...), so the long table's spectral column never
clashes with a map's ``x``.

>>> layout = layout_of("image_map", {"DXU": "WN"}, "AB")
>>> layout.dims, layout.variable, layout.value.name
(('y', 'x', 'wavenumber'), 'spectra', 'absorbance')
>>> layout.wide_keys, layout.long_columns
(('x', 'y'), ('x', 'y', 'wavenumber', 'value'))
>>> x_unit("MSC").unit, x_unit("WN", "RAM").label
('ms', 'Raman shift')
>>> rows = layout_of("collection", {"DXU": "WN"}, "AB")
>>> rows.wide_keys[:4], rows.coords["scans"].type, rows.coords["resolution"].unit
(('file', 'block', 'acquired', 'acquired_from'), 'count', 'cm-1')

Everything here is plain data and small functions: importing it costs nothing.
"""

from __future__ import annotations

from collections.abc import Iterable, Mapping, Sequence
from dataclasses import dataclass
from typing import Any, Literal

__all__ = [
    "BLOCK_TYPES", "KINDS", "MAP_UNIT", "VALUE_COLUMN", "VALUE_KINDS", "X_UNITS",
    "Axis", "BlockType", "KindSpec", "Layout", "ResultKind", "ValueKind", "ValueType", "XUnit",
    "block_rank", "block_type", "is_reference", "layout_of", "ranked_blocks", "result_title", "value_kind",
    "x_unit",
]

ResultKind = Literal["spectrum", "image_map", "trace_map", "series", "trace_series", "multi_region",
                     "multi_region_trace", "collection"]

# ----------------------------------------------------------------- x units


@dataclass(frozen=True)
class XUnit:
    """The x axis of a block, from its DXU code.

    `dim` names the dimension (and the long table's spectral column), `unit`
    is the unit text used by every output, `label` the quantity an axis title
    shows, `jcamp` the JCAMP-DX XUNITS.
    """

    code: str
    dim: str
    unit: str
    label: str
    jcamp: str

    @property
    def title(self) -> str:
        """An axis title: "Wavenumber / cm-1"; a plain count of points has no unit shown.

        >>> x_unit("WN").title, x_unit("PNT").title
        ('Wavenumber / cm-1', 'Data point')
        """
        if not self.unit or self.unit == "points":
            return self.label
        return f"{self.label} / {self.unit}"


X_UNITS: dict[str, XUnit] = {u.code: u for u in (
    XUnit("WN", "wavenumber", "cm-1", "Wavenumber", "1/CM"),
    XUnit("MI", "wavelength", "um", "Wavelength", "MICROMETERS"),
    XUnit("NM", "wavelength", "nm", "Wavelength", "NANOMETERS"),
    XUnit("LGW", "log_wavenumber", "log(cm-1)", "log(wavenumber)", "LOG(1/CM)"),
    XUnit("HZ", "frequency", "Hz", "Frequency", "HZ"),
    XUnit("SEC", "time", "s", "Time", "SECONDS"),
    XUnit("MSC", "time", "ms", "Time", "MILLISECONDS"),
    XUnit("MIN", "time", "min", "Time", "MINUTES"),
    XUnit("PNT", "data_point", "points", "Data point", "POINTS"),
)}

# The dimension of an x axis whose unit code is missing or unknown.
UNKNOWN_DIM = "abscissa"


def x_unit(dxu: object, data_type: str | None = None) -> XUnit:
    """The x unit of a DXU value; `data_type` is the block's type ("RAM", "AB", ...).

    A Raman block's wavenumber axis is labelled "Raman shift" (its dimension
    stays ``wavenumber``: the axis is in cm-1 like any other, and selections
    by ``wavenumber`` work for both). An unknown code keeps its text as the
    unit, under the dimension ``abscissa``.

    >>> x_unit(" wn ").dim, x_unit("XYZ").unit, x_unit(None).dim
    ('wavenumber', 'XYZ', 'abscissa')
    """
    text = dxu.strip() if isinstance(dxu, str) else ""
    unit = X_UNITS.get(text.upper())
    if unit is None:
        return XUnit(text, UNKNOWN_DIM, text, "x", text.upper() or "ARBITRARY UNITS")
    if data_type is not None and unit.code == "WN" and _base_name(data_type) == "RAM":
        return XUnit(unit.code, unit.dim, unit.unit, "Raman shift", unit.jcamp)
    return unit


# Map coordinates (AOX/DDX, the annotation table's positions) are stage positions in micrometres.
MAP_UNIT = "um"

# ----------------------------------------------------------------- block types

Role = Literal["result", "single_channel", "interferogram", "phase", "power", "trace"]
Channel = Literal["sample", "reference"]


@dataclass(frozen=True)
class ValueKind:
    """What the values of a block are: `name` ("absorbance") as FileInfo.y_kind
    and the attributes give it, `label` for axis titles, `jcamp` the YUNITS,
    `noun` what a message calls one result of it ("Raman spectrum")."""

    name: str
    label: str
    jcamp: str
    noun: str

    @property
    def one(self) -> str:
        """One result of the kind, with its article: "an absorbance spectrum", "a Raman spectrum".

        >>> value_kind("ATR").one, value_kind("RSC").one, value_kind("SIFG").many
        ('an ATR spectrum', 'a single channel', 'interferograms')
        """
        return ("an " if self.noun[:1].lower() in "aeiou" else "a ") + self.noun

    @property
    def many(self) -> str:
        """Several results of the kind: "absorbance spectra", "single channels"."""
        if self.noun.endswith(" spectrum"):
            return self.noun.removesuffix("spectrum") + "spectra"
        return self.noun + "s"


@dataclass(frozen=True)
class BlockType:
    """One data block type: what it holds, whose channel it is, what its values are."""

    name: str
    role: Role
    channel: Channel | None
    value: ValueKind


def _v(name: str, label: str, jcamp: str = "ARBITRARY UNITS", noun: str | None = None) -> ValueKind:
    return ValueKind(name, label, jcamp, noun or f"{name} spectrum")


_ABSORBANCE = _v("absorbance", "Absorbance", "ABSORBANCE")
_TRANSMITTANCE = _v("transmittance", "Transmittance", "TRANSMITTANCE")
_REFLECTANCE = _v("reflectance", "Reflectance", "REFLECTANCE")
_SINGLE = _v("single channel", "Single channel", noun="single channel")
_IFG = _v("interferogram", "Interferogram", noun="interferogram")
_PHASE = _v("phase", "Phase")
_POWER = _v("power", "Power spectrum")

# The twenty types a block can be read as; each also has a second-channel twin, NAME-CH2.
BLOCK_TYPES: dict[str, BlockType] = {b.name: b for b in (
    BlockType("AB", "result", None, _ABSORBANCE),
    BlockType("TR", "result", None, _TRANSMITTANCE),
    BlockType("REFL", "result", None, _REFLECTANCE),
    BlockType("KM", "result", None, _v("kubelka-munk", "Kubelka-Munk", "KUBELKA-MUNK", "Kubelka-Munk spectrum")),
    BlockType("ATR", "result", None, _v("atr", "ATR units", noun="ATR spectrum")),
    BlockType("RAM", "result", None, _v("raman", "Raman intensity", noun="Raman spectrum")),
    BlockType("EMIS", "result", None, _v("emission", "Emission")),
    BlockType("PAS", "result", None, _v("photoacoustic", "Photoacoustic signal")),
    BlockType("LREFL", "result", None, _v("log reflectance", "log(1/R)", "LOG(1/R)")),
    BlockType("ABARI", "result", None, _ABSORBANCE),
    BlockType("TRARI", "result", None, _TRANSMITTANCE),
    BlockType("SSC", "single_channel", "sample", _SINGLE),
    BlockType("RSC", "single_channel", "reference", _SINGLE),
    BlockType("SPOW", "power", "sample", _POWER),
    BlockType("RPOW", "power", "reference", _POWER),
    BlockType("SIFG", "interferogram", "sample", _IFG),
    BlockType("RIFG", "interferogram", "reference", _IFG),
    BlockType("SPH", "phase", "sample", _PHASE),
    BlockType("RPH", "phase", "reference", _PHASE),
    BlockType("TRC", "trace", None, _v("trace", "Trace", noun="trace")),
)}

# PLF, the result spectrum an acquisition was set to compute -> what its values are.
# Asked only where the block type says nothing.
PLF_KINDS: dict[str, ValueKind] = {
    "AB": _ABSORBANCE, "TR": _TRANSMITTANCE, "RFL": _REFLECTANCE, "REFL": _REFLECTANCE,
    "KM": BLOCK_TYPES["KM"].value, "ATR": BLOCK_TYPES["ATR"].value, "RAM": BLOCK_TYPES["RAM"].value,
    "EMI": BLOCK_TYPES["EMIS"].value, "EMIS": BLOCK_TYPES["EMIS"].value, "PAS": BLOCK_TYPES["PAS"].value,
    "LRF": BLOCK_TYPES["LREFL"].value, "LREFL": BLOCK_TYPES["LREFL"].value, "SC": _SINGLE, "IGM": _IFG,
    "IFG": _IFG, "PH": _PHASE, "PW": _POWER, "POW": _POWER, "TRC": BLOCK_TYPES["TRC"].value,
}

# Values of a block whose type and PLF say nothing.
UNKNOWN_VALUE = _v("intensity", "Intensity")

# Every kind of values by its name ("absorbance" -> its entry).
VALUE_KINDS: dict[str, ValueKind] = {v.name: v for v in (*(b.value for b in BLOCK_TYPES.values()), UNKNOWN_VALUE)}


def _base_name(data_type: str) -> str:
    return data_type.strip().upper().removesuffix("-CH2")


def block_type(data_type: str) -> BlockType | None:
    """The entry of a data block type, second-channel names ("SSC-CH2") included.

    >>> block_type("RSC-CH2").channel, block_type("REFL").channel, block_type("XX")
    ('reference', None, None)
    """
    return BLOCK_TYPES.get(_base_name(data_type))


def is_reference(data_type: str) -> bool:
    """True for the reference channel's raw data (RSC, RIFG, RPH, RPOW and their
    second-channel twins); REFL and RAM are result spectra, not reference data."""
    entry = block_type(data_type)
    return entry is not None and entry.channel == "reference"


def value_kind(data_type: str | None, plf: object = None) -> ValueKind | None:
    """What a block's values are: from its type, from PLF only where the type says nothing.

    A file converted after its acquisition keeps the old PLF (a real AB block
    of absorbances carries PLF=TR), so the stored block type decides.

    >>> value_kind("AB", "TR").name, value_kind("SIFG").label, value_kind(None, "RFL").name
    ('absorbance', 'Interferogram', 'reflectance')
    """
    entry = block_type(data_type) if data_type else None
    if entry is not None:
        return entry.value
    if isinstance(plf, str):
        return PLF_KINDS.get(plf.strip().upper())
    return None


# The block a scientist means by "the spectrum of this file": a result spectrum
# (what the instrument software computed and shows), then single channels and
# power spectra, then interferograms (raw data behind the result), then phases
# and traces. First-channel names come before their second-channel twins; within
# one type a 3D block comes before the 2D one (a map file's 2D block is usually
# one point of the map), and the underived block before its derivatives.
_RANK_TIERS: tuple[tuple[str, ...], ...] = (
    ("AB", "TR", "REFL", "KM", "ATR", "RAM", "EMIS", "PAS", "LREFL", "ABARI", "TRARI"),
    ("SSC", "RSC", "SPOW", "RPOW"),
    ("SIFG", "RIFG"),
    ("SPH", "RPH", "TRC"),
)
DERIVATIVES = ("NONE", "1DER", "2DER", "NDER")
TYPE_ORDER: tuple[str, ...] = tuple(
    name for tier in _RANK_TIERS for name in (*tier, *(t + "-CH2" for t in tier)))
_TYPE_RANK = {name: i for i, name in enumerate(TYPE_ORDER)}


def block_rank(triple: Sequence[str]) -> tuple[int, int, int] | None:
    """Where a block ranks as a file's primary block (lower is better), None
    for a block that cannot be read."""
    type_rank = _TYPE_RANK.get(triple[0])
    if type_rank is None or triple[2] not in DERIVATIVES:
        return None
    return type_rank, 0 if triple[1] == "3D" else 1, DERIVATIVES.index(triple[2])


def ranked_blocks(dimensions: Iterable[str] = ("3D", "2D")) -> list[tuple[str, str, str]]:
    """Every block name that can be read, best first by the primary-block rule.

    >>> ranked_blocks(("2D",))[:3]
    [('AB', '2D', 'NONE'), ('AB', '2D', '1DER'), ('AB', '2D', '2DER')]
    """
    dims = tuple(dimensions)
    triples = [(t, d, v) for t in TYPE_ORDER for d in ("3D", "2D") if d in dims for v in DERIVATIVES]
    return sorted(triples, key=lambda t: block_rank(t) or (0, 0, 0))


# ----------------------------------------------------------------- result kinds

# The name of the value column of a long table (and of a single spectrum's table).
VALUE_COLUMN = "value"
# What a table runs along when it runs along traces.
TRACE = "trace"
SPECTRAL = "<spectral>"  # stands for the spectral dimension in KindSpec.dims


# Units of coordinates that a block's parameters give.
UNIT_OF_DXU = "<DXU>"
UNIT_OF_ZTX = "<ZTX>"


# What a coordinate's values are: real numbers (float64, NaN where missing),
# counts (whole numbers; missing where the file does not say), text, or times
# (UTC; datetime64 in numpy and xarray, timezone-aware in pandas and Parquet).
ValueType = Literal["number", "count", "text", "time"]


@dataclass(frozen=True)
class CoordSpec:
    """A coordinate of a kind: its name and dimensions (SPECTRAL stands for the
    spectral dimension), its unit (a text, UNIT_OF_DXU or UNIT_OF_ZTX), its
    label (None: the x unit's label), where its values come from (see Axis)
    and what they are."""

    name: str
    dims: tuple[str, ...]
    unit: str | None
    label: str | None
    source: str
    type: ValueType = "number"


_SPECTRAL_AXIS = CoordSpec(SPECTRAL, (SPECTRAL,), UNIT_OF_DXU, None, "x")
_TRACES = CoordSpec(TRACE, (TRACE,), None, "Trace", "labels", "text")
_GRID = (CoordSpec("y", ("y",), MAP_UNIT, "Map y", "mapY"), CoordSpec("x", ("x",), MAP_UNIT, "Map x", "mapX"))
_POINTS = (CoordSpec("region", ("point",), None, "Region", "regions.title", "text"),
           CoordSpec("x", ("point",), MAP_UNIT, "Map x", "regions.mapX"),
           CoordSpec("y", ("point",), MAP_UNIT, "Map y", "regions.mapY"))


def _row(name: str, label: str, source: str, kind: ValueType = "text", unit: str | None = None) -> CoordSpec:
    return CoordSpec(name, ("file",), unit, label, source, kind)


# What a Collection says of each row besides its values, in this order: the
# file, the block read from it, then what the file says about its measurement
# (the fields of FileInfo.as_dict(), the path aside). "info" values come from
# each row's FileInfo. A column stays when no file fills it.
_ROWS = (
    _row("file", "File", "files"),
    _row("block", "Block", "blocks"),
    _row("acquired", "Acquired (UTC)", "info", "time"),
    _row("acquired_from", "Acquisition time from", "info"),
    _row("sample_name", "Sample name", "info"),
    _row("sample_form", "Sample form", "info"),
    _row("operator", "Operator", "info"),
    _row("instrument", "Instrument", "info"),
    _row("resolution", "Resolution", "info", "number", "cm-1"),
    _row("scans", "Scans", "info", "count"),
    _row("x_unit", "x unit", "info"),
    _row("y_kind", "y kind", "info"),
)


@dataclass(frozen=True)
class KindSpec:
    """The fixed part of a kind's model; `layout_of` fills in the spectral axis.

    `dims` in order (SPECTRAL stands for the spectral dimension), `variable`
    the data variable's name, `wide_keys` the key columns of a flat table,
    `along` what the wide table's value columns run along (SPECTRAL or
    "trace"), `default_layout` the layout a flat file takes by default,
    `noun` what messages call a result of the kind, `coords` its coordinates,
    `stored` the order of the dimensions in the result's own array when it
    differs from `dims`.
    """

    dims: tuple[str, ...]
    variable: str
    wide_keys: tuple[str, ...]
    along: str
    default_layout: Literal["wide", "long"]
    noun: str
    coords: tuple[CoordSpec, ...]
    stored: tuple[str, ...] = ()


KINDS: dict[ResultKind, KindSpec] = {
    "spectrum": KindSpec((SPECTRAL,), "spectrum", (), SPECTRAL, "long", "a single spectrum", (_SPECTRAL_AXIS,)),
    "image_map": KindSpec(("y", "x", SPECTRAL), "spectra", ("x", "y"), SPECTRAL, "wide", "an image map",
                          (_SPECTRAL_AXIS, *_GRID)),
    "trace_map": KindSpec(("y", "x", TRACE), "traces", ("x", "y"), TRACE, "wide", "a trace map", (_TRACES, *_GRID)),
    "series": KindSpec(("time", SPECTRAL), "spectra", ("time",), SPECTRAL, "wide", "a time-resolved series",
                       (_SPECTRAL_AXIS, CoordSpec("time", ("time",), UNIT_OF_ZTX, "Time", "z"))),
    # A trace series' x axis is its time; its array holds one trace per row.
    "trace_series": KindSpec(("time", TRACE), "traces", ("time",), TRACE, "wide", "a trace series",
                             (_TRACES, CoordSpec("time", ("time",), UNIT_OF_DXU, "Time", "x")),
                             stored=(TRACE, "time")),
    "multi_region": KindSpec(("point", SPECTRAL), "spectra", ("region", "x", "y", "start_time"), SPECTRAL, "wide",
                             "a multi-region map", (_SPECTRAL_AXIS, *_POINTS, CoordSpec(
                                 "start_time", ("point",), None, "Start time", "regions.start_time"))),
    "multi_region_trace": KindSpec(("point", TRACE), "traces", ("region", "x", "y"), TRACE, "wide",
                                   "a multi-region trace map", (_TRACES, *_POINTS)),
    "collection": KindSpec(("file", SPECTRAL), "spectra", tuple(c.name for c in _ROWS), SPECTRAL, "wide",
                           "a Collection", (_SPECTRAL_AXIS, *_ROWS)),
}


@dataclass(frozen=True)
class Axis:
    """A coordinate: its name, the dimensions it runs along, its unit text
    (None when it has none), its label, and where its values come from: an
    entry of the block's plan ("x", "mapX", "z", "labels", ...; "regions.NAME"
    for a field of every region, stacked), or for a Collection "files",
    "blocks" or "info" (the row's FileInfo field of that name); and what the
    values are (see ValueType)."""

    name: str
    dims: tuple[str, ...]
    unit: str | None
    label: str
    source: str = ""
    type: ValueType = "number"

    @property
    def title(self) -> str:
        """An axis title: "Time / s", or the label alone when there is no unit."""
        return f"{self.label} / {self.unit}" if self.unit else self.label


@dataclass(frozen=True)
class Layout:
    """The model of one result: its kind's entry with the spectral axis and
    the value filled in from its parameters and block type."""

    kind: ResultKind
    dims: tuple[str, ...]
    coords: dict[str, Axis]
    variable: str
    value: ValueKind
    x: XUnit
    spectral_dim: str | None
    wide_keys: tuple[str, ...]
    along: str
    default_layout: Literal["wide", "long"]
    stored_dims: tuple[str, ...]

    @property
    def long_columns(self) -> tuple[str, ...]:
        """The long table's columns: the key columns, what values run along, the value."""
        return (*self.wide_keys, self.along, VALUE_COLUMN)

    @property
    def x_axis(self) -> Axis:
        """The coordinate of the result's x values (the spectral axis, or a trace series' time)."""
        if self.spectral_dim is not None:
            return self.coords[self.spectral_dim]
        return self.coords["time"]


def layout_of(kind: ResultKind, parameters: Mapping[str, Any], data_type: str | None = None) -> Layout:
    """The model of a result of `kind` whose block has these parameters and type.

    The spectral dimension is named after the DXU unit; if a kind already has
    a dimension of that name (a series whose spectra run along time) it moves
    aside as ``spectral_<name>``.

    >>> lay = layout_of("trace_series", {"DXU": "SEC"}, "TRC")
    >>> lay.dims, lay.coords["time"].unit, lay.long_columns
    (('time', 'trace'), 's', ('time', 'trace', 'value'))
    >>> layout_of("series", {"DXU": "MSC", "ZTX": "s"}).dims
    ('time', 'spectral_time')
    """
    entry = KINDS[kind]
    unit = x_unit(parameters.get("DXU"), data_type)
    value = value_kind(data_type, parameters.get("PLF")) or UNKNOWN_VALUE
    spectral: str | None = None
    if SPECTRAL in entry.dims:
        spectral = unit.dim if unit.dim not in entry.dims else "spectral_" + unit.dim

    def named(name: str) -> str:
        return spectral if name == SPECTRAL and spectral is not None else name

    dims = tuple(named(d) for d in entry.dims)
    ztx = parameters.get("ZTX")
    units = {UNIT_OF_DXU: unit.unit or None, UNIT_OF_ZTX: ztx.strip() or None if isinstance(ztx, str) else None}
    coords: dict[str, Axis] = {}
    for c in entry.coords:
        if c.name == SPECTRAL and spectral is None:
            continue
        coords[named(c.name)] = Axis(named(c.name), tuple(named(d) for d in c.dims),
                                     units.get(c.unit, c.unit) if c.unit else None,
                                     unit.label if c.label is None else c.label, c.source, c.type)
    along = named(entry.along)
    stored = tuple(named(d) for d in entry.stored) or dims
    return Layout(kind, dims, coords, entry.variable, value, unit, spectral, entry.wide_keys, along,
                  entry.default_layout, stored)


def result_title(parameters: Mapping[str, Any], block: Sequence[str]) -> str:
    """The title of a result in plots and listings: its sample name (SNM) and its block.

    >>> result_title({"SNM": "PS bead"}, ("AB", "3D", "NONE")), result_title({}, ("SSC", "2D", "NONE"))
    ('PS bead (AB 3D NONE)', 'SSC 2D NONE')
    """
    name = " ".join(str(part) for part in block[:3])
    sample = parameters.get("SNM")
    return f"{sample.strip()} ({name})" if isinstance(sample, str) and sample.strip() else name
