"""A figure for every kind of result: spectra as lines, maps as images on their
real coordinates, series as heatmaps, multi-region maps as their points.

Axis titles, units and value names come from the data model
(``kestrel_tools.model``): "Raman shift / cm⁻¹" for a Raman spectrum, map
coordinates in µm, a series' time in its own unit. matplotlib is an optional
extra (``kestrel-opus[plot]``); figures are made without pyplot, so nothing here
needs a display or touches pyplot's global state.
"""

from __future__ import annotations

import re
import textwrap
from typing import Any

import numpy as np

from kestrel_tools import model
from kestrel_tools._layout import MAP_KINDS, result_kind
from kestrel_tools._optional import require

FIGURE_SIZE = (7.5, 4.8)  # inches
# About this many characters of a title fit across the figure at its font size.
_TITLE_WIDTH = 72

_SUPERSCRIPT = str.maketrans("-0123456789", "⁻⁰¹²³⁴⁵⁶⁷⁸⁹")


def pretty_unit(unit: str | None) -> str:
    """A unit text of the model as it is printed: "cm-1" -> "cm⁻¹", "um" -> "µm".

    >>> pretty_unit("cm-1"), pretty_unit("um"), pretty_unit("log(cm-1)")
    ('cm⁻¹', 'µm', 'log(cm⁻¹)')
    """
    if not unit:
        return ""
    text = re.sub(r"(?<=[A-Za-z])(-?\d+)\b", lambda m: m.group(1).translate(_SUPERSCRIPT), unit)
    return re.sub(r"\bum\b", "µm", text)


def axis_title(axis: model.Axis) -> str:
    """"Wavenumber / cm⁻¹": the model's label and unit, printed."""
    return f"{axis.label} / {pretty_unit(axis.unit)}" if axis.unit else axis.label


def plot_result(result: Any, *, at: float | None = None, band: tuple[float, float] | None = None,
                trace: int | str | None = None, title: str | None = None) -> Any:
    """A matplotlib Figure of a result of ``kestrel.getOpusData``.

    Spectra and traces are drawn against x (wavenumbers run from high to low,
    as spectra are read). A map is drawn as an image on its map coordinates, of
    the values at the x nearest to `at`, or integrated over `band` (low, high),
    or integrated over the whole x range when neither is given; a trace map
    shows trace number or label `trace` (the first by default). A series is a
    heatmap of time against x; multi-region points are drawn as cells at their
    map coordinates. Save it with ``figure.savefig("plot.png")``.

    >>> import kestrel, kestrel_tools
    >>> m = kestrel.getOpusData(str(kestrel_tools.DEMO_FILE), ("AB", "3D", "NONE"))
    >>> figure = plot_result(m, band=(2800.0, 3000.0))
    >>> figure.axes[0].get_xlabel(), figure.axes[1].get_ylabel()
    ('Map x / µm', 'Absorbance, ∫ 2800–3000 cm⁻¹')
    """
    if at is not None and band is not None:
        raise ValueError("give either one x value (at) or a band, not both")
    require("matplotlib", "plot")
    from matplotlib.figure import Figure

    kind = result_kind(result)
    if kind is None:
        raise TypeError("plot_result draws one result of kestrel.getOpusData; plot a Collection's rows with its own x")
    layout = model.layout_of(kind, result.parameters, result.dataType)
    figure = Figure(figsize=FIGURE_SIZE, layout="constrained")
    axes = figure.add_subplot()
    value = layout.value.label
    subtitle = ""
    if kind == "spectrum":
        axes.plot(result.x, result.y, linewidth=0.9)
        _spectral_axis(axes, result, layout)
        axes.set_ylabel(value)
    elif kind == "trace_series":
        for label, values in zip(result.labels, result.traces):
            axes.plot(result.x, values, linewidth=0.9, label=str(label))
        _spectral_axis(axes, result, layout)
        axes.set_ylabel("Trace value")
        if len(result.labels):
            axes.legend(fontsize="small")
    elif kind == "series":
        z = np.asarray(result.z, np.float64)
        mesh = axes.pcolormesh(_edges(result.x), _edges(z), np.asarray(result.spectra), shading="flat")
        _spectral_axis(axes, result, layout)
        axes.set_ylabel(axis_title(layout.coords["time"]))
        figure.colorbar(mesh, ax=axes, label=value)
        subtitle = f"{len(z)} spectra"
    elif kind in MAP_KINDS:
        if kind == "image_map":
            values, what = _spectral_slice(result.spectra, result.x, at, band, layout)
            what = f"{value}, {what}"
        else:
            index = _trace_index(result.labels, trace)
            values, what = np.asarray(result.traces)[:, :, index], _trace_name(result.labels, index)
        mesh = axes.pcolormesh(_edges(result.mapX), _edges(result.mapY), values, shading="flat")
        _map_axes(axes, layout)
        figure.colorbar(mesh, ax=axes, label=what)
        subtitle = f"{len(result.mapX)} x {len(result.mapY)} positions"
    else:
        what = _draw_regions(figure, axes, result, kind, layout, at, band, trace)
        subtitle = f"{len(result.regions)} region{'s' if len(result.regions) != 1 else ''}, {what}"
    text = title if title is not None else _title(result, subtitle)
    if axes in figure.axes:
        axes.set_title(text, fontsize="medium")
    else:  # one panel per region: the title goes above them all
        figure.suptitle(text, fontsize="medium")
    return figure


def _title(result: Any, subtitle: str) -> str:
    """The sample's name (wrapped to at most two lines) and the block, so that it fits above the plot."""
    block = f"{result.dataType} {result.dimension} {result.derivative}"
    sample = result.parameters.get("SNM")
    tail = f"{block}, {subtitle}" if subtitle else block
    if not (isinstance(sample, str) and sample.strip()):
        return tail
    lines = textwrap.wrap(sample.strip(), _TITLE_WIDTH, break_long_words=True, break_on_hyphens=False)
    if len(lines) > 2:
        lines = [lines[0], lines[1][:_TITLE_WIDTH - 1] + "…"]
    return "\n".join(lines + [tail])


def _spectral_axis(axes: Any, result: Any, layout: model.Layout) -> None:
    axes.set_xlabel(axis_title(layout.x_axis))
    x = np.asarray(result.x, np.float64)
    finite = x[np.isfinite(x)]
    if len(finite) > 1 and finite.min() != finite.max():
        low, high = float(finite.min()), float(finite.max())
        # Wavenumbers are read from high to low; every other unit from low to high.
        axes.set_xlim((high, low) if layout.x.code == "WN" else (low, high))


def _map_axes(axes: Any, layout: model.Layout) -> None:
    axes.set_xlabel(axis_title(layout.coords["x"]))
    axes.set_ylabel(axis_title(layout.coords["y"]))
    axes.set_aspect("equal", adjustable="box")


def _edges(centres: Any) -> np.ndarray:
    """Cell edges around evenly or unevenly spaced centres, in their own order."""
    c = np.asarray(centres, np.float64)
    if len(c) == 0:
        return np.array([0.0])
    if len(c) == 1:
        return np.array([c[0] - 0.5, c[0] + 0.5])
    middle = (c[:-1] + c[1:]) / 2
    return np.concatenate([[c[0] - (middle[0] - c[0])], middle, [c[-1] + (c[-1] - middle[-1])]])


def _draw_regions(figure: Any, axes: Any, result: Any, kind: str, layout: model.Layout, at: float | None,
                  band: tuple[float, float] | None, trace: int | str | None) -> str:
    """Each point as a cell at its coordinates, a cell as wide and high as the closest steps
    between its region's points. Up to six regions get a panel each, whose limits hug the region's points, on one colour
    scale; more share one panel. Returns what the title says of the points."""
    from matplotlib.collections import PatchCollection
    from matplotlib.colors import Normalize
    from matplotlib.patches import Rectangle

    regions = result.regions
    width = len(result.x) if kind == "multi_region" else len(result.labels)
    table = np.concatenate([np.asarray(r.spectra, np.float64).reshape(-1, width) for r in regions]) \
        if regions else np.empty((0, width))
    if kind == "multi_region":
        values, what = _spectral_slice(table, result.x, at, band, layout)
        what = f"{layout.value.label}, {what}"
    else:
        index = _trace_index(result.labels, trace)
        values, what = table[:, index], _trace_name(result.labels, index)
    values = np.asarray(values, np.float64)
    finite = values[np.isfinite(values)]
    norm = Normalize(float(finite.min()), float(finite.max())) if len(finite) else Normalize(0.0, 1.0)
    points, start = [], 0
    for region in regions:
        rx, ry = np.asarray(region.mapX, np.float64), np.asarray(region.mapY, np.float64)
        keep = np.isfinite(rx) & np.isfinite(ry)
        points.append((str(region.title), rx[keep], ry[keep], values[start:start + len(rx)][keep]))
        start += len(rx)
    points = [p for p in points if len(p[1])]
    every = _cell_size(np.concatenate([p[1] for p in points]), np.concatenate([p[2] for p in points])) \
        if points else (1.0, 1.0)
    groups = [[p] for p in points] if 1 < len(points) <= 6 else [points]
    panels = [axes]
    if len(groups) > 1:
        figure.delaxes(axes)
        rows = 1 if len(groups) <= 3 else 2
        columns = -(-len(groups) // rows)
        panels = [figure.add_subplot(rows, columns, n + 1) for n in range(len(groups))]
    mappable = None
    for panel, group in zip(panels, groups):
        xs = np.concatenate([p[1] for p in group]) if group else np.empty(0)
        ys = np.concatenate([p[2] for p in group]) if group else np.empty(0)
        w, h = _cell_size(xs, ys) if len(group) == 1 and len(xs) > 1 else every
        cells = PatchCollection([Rectangle((x - w / 2, y - h / 2), w, h) for x, y in zip(xs, ys)],
                                edgecolor="none", norm=norm)
        cells.set_array(np.concatenate([p[3] for p in group]) if group else np.empty(0))
        panel.add_collection(cells)
        mappable = cells
        if len(xs):
            panel.set_xlim(float(xs.min()) - w, float(xs.max()) + w)
            panel.set_ylim(float(ys.min()) - h, float(ys.max()) + h * (1 if len(groups) > 1 else 2))
        _map_axes(panel, layout)
        if len(groups) > 1:
            panel.set_title(group[0][0], fontsize="small")
            panel.tick_params(labelsize="small")
        else:
            for title, rx, ry, _ in group:
                panel.annotate(title, (float(np.mean(rx)), float(np.max(ry)) + h / 2), xytext=(0, 3),
                               textcoords="offset points", ha="center", va="bottom", fontsize="small")
    if mappable is not None:
        figure.colorbar(mappable, ax=panels, label=what, shrink=0.9)
    return f"{sum(len(p[1]) for p in points)} points"


def _cell_size(xs: np.ndarray, ys: np.ndarray) -> tuple[float, float]:
    """Width and height of a point's cell: the smallest step between distinct x (and y) values,
    so that points on a grid touch and no two cells overlap."""
    steps = []
    for values in (xs, ys):
        gaps = np.diff(np.unique(values[np.isfinite(values)]))
        steps.append(float(gaps.min()) if len(gaps) else 0.0)
    width, height = steps
    if width == 0.0 and height == 0.0:
        return 1.0, 1.0
    return width or height, height or width


def _spectral_slice(spectra: Any, x: Any, at: float | None, band: tuple[float, float] | None,
                    layout: model.Layout) -> tuple[np.ndarray, str]:
    """Per position: the value at the x nearest `at`, or the integral over `band` (or over all x)."""
    values = np.asarray(spectra)
    axis = np.asarray(x, np.float64)
    unit = pretty_unit(layout.x.unit)
    if len(axis) == 0:
        raise ValueError("the block has no x values")
    if at is not None:
        if not axis.min() <= at <= axis.max():
            raise ValueError(f"x = {at:g} lies outside the block's x range {axis.min():g} .. {axis.max():g}")
        index = int(np.argmin(np.abs(axis - at)))
        return values[..., index].astype(np.float64), f"at {axis[index]:.6g} {unit}".rstrip()
    low, high = (float(axis.min()), float(axis.max())) if band is None else sorted(band)
    inside = (axis >= low) & (axis <= high)
    if not inside.any():
        raise ValueError(f"no x value lies in {low:g} .. {high:g} (the block's x runs {axis.min():g} .. "
                         f"{axis.max():g})")
    order = np.argsort(axis[inside])
    picked = values[..., inside][..., order].astype(np.float64)
    total = np.trapezoid(picked, axis[inside][order], axis=-1) if inside.sum() > 1 else picked[..., 0]
    return np.asarray(total), f"∫ {low:g}–{high:g} {unit}".rstrip()


def _trace_index(labels: list[Any], trace: int | str | None) -> int:
    if not len(labels):
        raise ValueError("the block holds no traces")
    if trace is None:
        return 0
    names = [str(label) for label in labels]
    if isinstance(trace, str) and trace in names:
        return names.index(trace)
    try:
        index = int(trace)
    except ValueError:
        raise ValueError(f"no trace {trace!r}; the traces are {', '.join(names)}") from None
    if not 0 <= index < len(names):
        raise ValueError(f"trace number {index} is out of range (0 .. {len(names) - 1})")
    return index


def _trace_name(labels: list[Any], index: int) -> str:
    return str(labels[index]).strip() or f"Trace {index}"
