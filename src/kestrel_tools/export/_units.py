"""x units and y kinds as JCAMP-DX names and axis titles, read from the data model
(kestrel_tools.model holds the one table of each)."""

from __future__ import annotations

from typing import NamedTuple

from kestrel_tools import model


class Unit(NamedTuple):
    jcamp: str   # the JCAMP-DX name (XUNITS / YUNITS)
    label: str   # an axis title


def x_unit(dxu: object, data_type: str | None = None) -> Unit:
    """The unit of x for a DXU value (its axis title, e.g. "Wavenumber / cm-1")."""
    unit = model.x_unit(dxu, data_type)
    return Unit(unit.jcamp, unit.title)


def y_kind(data_type: str) -> Unit:
    """What the values of a block of this type are."""
    value = model.value_kind(data_type) or model.UNKNOWN_VALUE
    return Unit(value.jcamp, value.label)


def jcamp_data_type(data_type: str, dxu: object) -> str:
    """The JCAMP-DX DATA TYPE of a spectrum."""
    entry = model.block_type(data_type)
    if entry is not None and entry.name == "RAM":
        return "RAMAN SPECTRUM"
    if entry is not None and entry.role == "interferogram":
        return "INFRARED INTERFEROGRAM"
    if model.x_unit(dxu).code == "NM":
        return "UV/VIS SPECTRUM"
    return "INFRARED SPECTRUM"
