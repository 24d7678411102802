"""What a file is, which data blocks it holds, and what each block contains."""

from __future__ import annotations

from typing import Any

import kestrel

from kestrel_tools._read_errors import READ_ERRORS

# Parameters worth a glance, shown with their readable names.
KEY_PARAMETERS = ("SNM", "INS", "RES", "NSS", "APF", "DAT", "TIM")


class NotOpusFile(ValueError):
    """The file opened, but it is not an OPUS file: a failure to read it like any other."""

    def __init__(self, path: str) -> None:
        super().__init__("not an OPUS file")
        self.path = path


def print_listing(path: str) -> None:
    if not kestrel.isOpusFile(path):
        raise NotOpusFile(path)
    blocks = kestrel.listContents(path)
    print(f"{path}: OPUS file, {len(blocks)} data block{'s' if len(blocks) != 1 else ''}")
    names = kestrel.OpusDict()
    for triple in blocks:
        block_type, dimensions, derivative = triple
        print(f"  {block_type:<10} {dimensions}  {derivative:<5} {describe_block(path, triple, names)}")


def describe_block(path: str, triple: tuple[str, str, str], names: dict[str, str]) -> str:
    try:
        result = kestrel.getOpusData(path, triple)
    except READ_ERRORS as error:
        return f"(not readable: {type(error).__name__}: {error})"
    if triple[1] == "2D":
        return describe_spectrum(result, names)
    return describe_3d(result)


def x_range(result: Any) -> str:
    unit = result.parameters.get("DXU", "")
    if len(result.x) == 0:
        return "no x values"
    return f"x {result.x[0]:.6g} .. {result.x[-1]:.6g} {unit}".rstrip()


def describe_spectrum(result: Any, names: dict[str, str]) -> str:
    text = f"{len(result.y)} points, {x_range(result)}"
    extras = [f"{names.get(k, k)}={result.parameters[k]}" for k in KEY_PARAMETERS if k in result.parameters]
    return text + ("; " + ", ".join(extras) if extras else "")


def axis_span(values: Any) -> str:
    return f"{values[0]:.6g} .. {values[-1]:.6g}" if len(values) else "empty"


def plural(n: int, word: str) -> str:
    return f"{n} {word}{'' if n == 1 else 's'}"


def describe_3d(result: Any) -> str:
    """The kind of a 3D block, its grid or regions, how many spectra or traces it holds, and its x range."""
    kind = type(result).__name__
    if kind == "ImageDataReturn":
        rows, columns, points = result.spectra.shape
        text = (f"image map {columns} x {rows} (X {axis_span(result.mapX)}, Y {axis_span(result.mapY)}), "
                f"{plural(columns * rows, 'spectrum')} of {points} points")
    elif kind == "ImageTRCDataReturn":
        rows, columns, traces = result.traces.shape
        text = f"trace map {columns} x {rows}, {plural(traces, 'trace')}"
    elif kind == "TimeResolvedDataReturn":
        text = f"time-resolved series, {plural(len(result.spectra), 'spectrum')}"
        if len(result.z):
            text += f" (z {axis_span(result.z)} {result.parameters.get('ZTX', '')})".replace(" )", ")")
    elif kind == "TimeResolvedTRCDataReturn":
        text = f"trace series, {plural(len(result.traces), 'trace')}"
    elif kind in ("MultiRegionDataReturn", "MultiRegionTRCDataReturn"):
        sizes = ", ".join(str(len(region.spectra)) for region in result.regions)
        text = f"multi-region map, {plural(len(result.regions), 'region')} ({sizes} points)"
        if kind == "MultiRegionTRCDataReturn":
            text += f", {plural(len(result.labels), 'trace')}"
    else:
        text = kind
    return f"{text}, {x_range(result)}".replace("spectrums", "spectra")


def print_block(path: str, triple: tuple[str, str, str]) -> None:
    """One block: its description line, then the result's own description."""
    result = kestrel.getOpusData(path, triple)
    summary = describe_spectrum(result, kestrel.OpusDict()) if triple[1].upper() == "2D" else describe_3d(result)
    print(f"{' '.join(triple)}: {summary}")
    print(result.description)
