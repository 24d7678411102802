"""A figure for every kind of result: spectra as lines, maps as images on their
real coordinates, series as heatmaps, multi-region maps as points.

matplotlib is an optional extra (``kestrel-opus[plot]``); figures are made without
pyplot, so nothing here needs a display or touches pyplot's global state.
"""

from __future__ import annotations

from typing import Any

import numpy as np

from kestrel_tools._optional import require
from kestrel_tools.export._table import flat_table, kind_of
from kestrel_tools.export._units import x_unit, y_kind


def plot_result(result: Any, *, at: float | None = None, band: tuple[float, float] | None = None,
                trace: int | str | None = None, title: str | None = None) -> Any:
    """A matplotlib Figure of a result of ``kestrel.getOpusData``.

    Spectra and traces are drawn against x (wavenumbers run from high to low,
    as spectra are read). A map is drawn as an image on its map coordinates, of
    the values at the x nearest to `at`, or integrated over `band` (low, high),
    or integrated over the whole x range when neither is given; a trace map
    shows trace number or label `trace` (the first by default). A series is a
    heatmap of time against x; multi-region points are drawn at their map
    coordinates. Save it with ``figure.savefig("plot.png")``.

    >>> import kestrel, kestrel_tools
    >>> m = kestrel.getOpusData(str(kestrel_tools.DEMO_FILE), ("AB", "3D", "NONE"))
    >>> figure = plot_result(m, band=(2800.0, 3000.0))
    >>> figure.axes[1].get_ylabel()
    'Absorbance, ∫ 2800–3000 cm-1'
    """
    if at is not None and band is not None:
        raise ValueError("give either one x value (at) or a band, not both")
    require("matplotlib", "plot")
    from matplotlib.figure import Figure

    kind = kind_of(result)
    if kind == "collection":
        raise TypeError("plot_result draws one result; plot a Collection's rows with its own x")
    figure = Figure(figsize=(7.5, 4.8), layout="constrained")
    axes = figure.add_subplot()
    xunit = x_unit(result.parameters.get("DXU"), result.dataType)
    ylabel = y_kind(result.dataType).label
    if kind == "spectrum":
        axes.plot(result.x, result.y, linewidth=0.9)
        _spectral_axis(axes, result, xunit.label)
        axes.set_ylabel(ylabel)
    elif kind == "trace_series":
        for label, values in zip(result.labels, result.traces):
            axes.plot(result.x, values, linewidth=0.9, label=str(label))
        _spectral_axis(axes, result, xunit.label)
        axes.set_ylabel("Trace value")
        if len(result.labels):
            axes.legend(fontsize="small")
    elif kind == "series":
        z = np.asarray(result.z, np.float64)
        mesh = axes.pcolormesh(_edges(result.x), _edges(z), np.asarray(result.spectra), shading="flat")
        _spectral_axis(axes, result, xunit.label)
        unit = str(result.parameters.get("ZTX", "") or "").strip()
        axes.set_ylabel(f"Time / {unit}" if unit else "Time")
        figure.colorbar(mesh, ax=axes, label=ylabel)
    elif kind in ("image_map", "trace_map"):
        if kind == "image_map":
            values, what = _spectral_slice(result.spectra, result.x, at, band, xunit)
            what = f"{ylabel}, {what}"
        else:
            index = _trace_index(result.labels, trace)
            values, what = np.asarray(result.traces)[:, :, index], _trace_name(result.labels, index)
        mesh = axes.pcolormesh(_edges(result.mapX), _edges(result.mapY), values, shading="flat")
        _map_axes(axes)
        figure.colorbar(mesh, ax=axes, label=what)
    else:
        regions = result.regions
        table = flat_table(result)
        if kind == "multi_region":
            values, what = _spectral_slice(table.values, result.x, at, band, xunit)
            what = f"{ylabel}, {what}"
        else:
            index = _trace_index(result.labels, trace)
            values, what = table.values[:, index], _trace_name(result.labels, index)
        xs, ys = table.keys["x"], table.keys["y"]
        points = axes.scatter(xs, ys, c=values, s=_marker_size(xs), marker="s", edgecolors="none")
        for region in regions:
            if len(region.mapX):
                axes.annotate(str(region.title), (float(np.mean(region.mapX)), float(np.max(region.mapY))),
                              xytext=(0, 6), textcoords="offset points", ha="center", fontsize="small")
        _map_axes(axes)
        axes.margins(0.12)
        figure.colorbar(points, ax=axes, label=what)
    block = f"{result.dataType} {result.dimension} {result.derivative}"
    sample = result.parameters.get("SNM")
    axes.set_title(title if title is not None else
                   f"{sample} ({block})" if isinstance(sample, str) and sample.strip() else block)
    return figure


def _spectral_axis(axes: Any, result: Any, label: str) -> None:
    axes.set_xlabel(label)
    x = np.asarray(result.x, np.float64)
    if len(x) > 1 and x[0] != x[-1]:
        low, high = float(x.min()), float(x.max())
        # Wavenumbers are read from high to low; every other unit from low to high.
        descending = str(result.parameters.get("DXU", "")).upper() == "WN"
        axes.set_xlim((high, low) if descending else (low, high))


def _map_axes(axes: Any) -> None:
    axes.set_xlabel("Map X")
    axes.set_ylabel("Map Y")
    axes.set_aspect("equal", adjustable="datalim")


def _edges(centres: Any) -> np.ndarray:
    """Cell edges around evenly or unevenly spaced centres, in their own order."""
    c = np.asarray(centres, np.float64)
    if len(c) == 0:
        return np.array([0.0])
    if len(c) == 1:
        return np.array([c[0] - 0.5, c[0] + 0.5])
    middle = (c[:-1] + c[1:]) / 2
    return np.concatenate([[c[0] - (middle[0] - c[0])], middle, [c[-1] + (c[-1] - middle[-1])]])


def _spectral_slice(spectra: Any, x: Any, at: float | None, band: tuple[float, float] | None,
                    unit: Any) -> tuple[np.ndarray, str]:
    """Per position: the value at the x nearest `at`, or the integral over `band` (or over all x)."""
    values = np.asarray(spectra)
    axis = np.asarray(x, np.float64)
    short = unit.label.split(" / ")[-1] if " / " in unit.label else ""
    if len(axis) == 0:
        raise ValueError("the block has no x values")
    if at is not None:
        if not axis.min() <= at <= axis.max():
            raise ValueError(f"x = {at:g} lies outside the block's x range {axis.min():g} .. {axis.max():g}")
        index = int(np.argmin(np.abs(axis - at)))
        return values[..., index].astype(np.float64), f"at {axis[index]:.6g} {short}".rstrip()
    low, high = (float(axis.min()), float(axis.max())) if band is None else sorted(band)
    inside = (axis >= low) & (axis <= high)
    if not inside.any():
        raise ValueError(f"no x value lies in {low:g} .. {high:g} (the block's x runs {axis.min():g} .. "
                         f"{axis.max():g})")
    order = np.argsort(axis[inside])
    picked = values[..., inside][..., order].astype(np.float64)
    total = np.trapezoid(picked, axis[inside][order], axis=-1) if inside.sum() > 1 else picked[..., 0]
    return np.asarray(total), f"∫ {low:g}–{high:g} {short}".rstrip()


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


def _marker_size(xs: np.ndarray) -> float:
    # Fewer points, larger markers: a few dozen points still fill their map.
    return float(np.clip(6000.0 / max(1, len(xs)), 12.0, 300.0))
