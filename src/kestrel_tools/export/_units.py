"""Names of x units and y kinds: for JCAMP-DX labels and for axis titles."""

from __future__ import annotations

from typing import NamedTuple


class Unit(NamedTuple):
    jcamp: str   # the JCAMP-DX name (XUNITS / YUNITS)
    label: str   # an axis title


# DXU parameter -> unit of x
X_UNITS: dict[str, Unit] = {
    "WN": Unit("1/CM", "Wavenumber / cm⁻¹"),
    "MI": Unit("MICROMETERS", "Wavelength / µm"),
    "NM": Unit("NANOMETERS", "Wavelength / nm"),
    "LGW": Unit("LOG(1/CM)", "log(wavenumber / cm⁻¹)"),
    "MIN": Unit("MINUTES", "Time / min"),
    "SEC": Unit("SECONDS", "Time / s"),
    "PNT": Unit("POINTS", "Data point"),
    "HZ": Unit("HZ", "Frequency / Hz"),
}

# data block type (without the S/R prefix) -> what its values are
Y_KINDS: dict[str, Unit] = {
    "AB": Unit("ABSORBANCE", "Absorbance"),
    "TR": Unit("TRANSMITTANCE", "Transmittance"),
    "KM": Unit("KUBELKA-MUNK", "Kubelka-Munk"),
    "REFL": Unit("REFLECTANCE", "Reflectance"),
    "LREFL": Unit("LOG(1/R)", "log(1/R)"),
    "ATR": Unit("ARBITRARY UNITS", "ATR units"),
    "RAM": Unit("ARBITRARY UNITS", "Raman intensity"),
    "EMIS": Unit("ARBITRARY UNITS", "Emission"),
    "PAS": Unit("ARBITRARY UNITS", "Photoacoustic signal"),
    "SC": Unit("ARBITRARY UNITS", "Single channel"),
    "IFG": Unit("ARBITRARY UNITS", "Interferogram"),
    "PH": Unit("ARBITRARY UNITS", "Phase"),
    "POW": Unit("ARBITRARY UNITS", "Power spectrum"),
    "TRC": Unit("ARBITRARY UNITS", "Trace"),
    "ABARI": Unit("ABSORBANCE", "Absorbance"),
    "TRARI": Unit("TRANSMITTANCE", "Transmittance"),
}


def base_type(data_type: str) -> str:
    """The data block type without its sample/reference prefix and channel suffix: "SSC" -> "SC"."""
    name = data_type.upper().removesuffix("-CH2")
    if name not in Y_KINDS and name[:1] in ("S", "R") and name[1:] in Y_KINDS:
        return name[1:]
    return name


def x_unit(dxu: object) -> Unit:
    """The unit of x for a DXU value; unknown values are passed through."""
    text = str(dxu).strip() if dxu is not None else ""
    return X_UNITS.get(text.upper(), Unit(text.upper() or "ARBITRARY UNITS", text or "x"))


def y_kind(data_type: str) -> Unit:
    """What the values of a block of this type are."""
    return Y_KINDS.get(base_type(data_type), Unit("ARBITRARY UNITS", "Intensity"))


def jcamp_data_type(data_type: str, dxu: object) -> str:
    """The JCAMP-DX DATA TYPE of a spectrum."""
    name = base_type(data_type)
    if name == "RAM":
        return "RAMAN SPECTRUM"
    if name == "IFG":
        return "INFRARED INTERFEROGRAM"
    if str(dxu).upper() == "NM":
        return "UV/VIS SPECTRUM"
    return "INFRARED SPECTRUM"
