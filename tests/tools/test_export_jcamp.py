"""JCAMP-DX files read back with the jcamp package: y exact to float32, x exact, labels from the block."""

import datetime as dt
import pathlib

import numpy as np
import pytest

import kestrel
from kestrel_tools import DEMO_FILE, write_jcamp
from kestrel_tools.metadata import acquisition, primary_block
from opusfile import ACQUISITION, opus, params, spectrum

jcamp = pytest.importorskip("jcamp")

SAMPLES = pathlib.Path(__file__).resolve().parents[3] / "shared" / "opus-samples"


def read_back(result, tmp_path, **kw):
    out = tmp_path / "s.jdx"
    write_jcamp(result, out, **kw)
    return jcamp.readfile(str(out)), out


def spectra_of_samples():
    """The main block of every real sample file that has a single spectrum."""
    files = sorted(p for p in SAMPLES.rglob("*") if p.is_file() and p.suffix != ".md") if SAMPLES.is_dir() else []
    for path in files:
        try:
            block = primary_block(str(path))
            if block[1] == "2D":
                yield pytest.param(str(path), block, id=path.name)
        except Exception:
            continue


@pytest.mark.parametrize("path, block", [(str(DEMO_FILE), ("AB", "2D", "NONE"))] + list(spectra_of_samples()))
def test_real_spectra_read_back_exactly(tmp_path, path, block):
    """Every y value comes back as the same float32, x as the same evenly spaced float64 axis."""
    r = kestrel.getOpusData(path, block)
    back, _ = read_back(r, tmp_path)
    assert back["npoints"] == len(r.y)
    np.testing.assert_array_equal(back["y"].astype(np.float32), r.y)
    np.testing.assert_array_equal(back["x"], r.x)
    acquired, _ = acquisition(r.parameters)
    if acquired is not None:
        assert back["longdate"] == acquired.replace(microsecond=0)


@pytest.mark.parametrize("name, dxu, data_type, xunits, yunits", [
    ("AB", "WN", "INFRARED SPECTRUM", "1/CM", "ABSORBANCE"),
    ("TR", "MI", "INFRARED SPECTRUM", "MICROMETERS", "TRANSMITTANCE"),
    ("RAM", "WN", "RAMAN SPECTRUM", "1/CM", "ARBITRARY UNITS"),
    ("SSC", "WN", "INFRARED SPECTRUM", "1/CM", "ARBITRARY UNITS"),
    ("SIFG", "PNT", "INFRARED INTERFEROGRAM", "POINTS", "ARBITRARY UNITS"),
    ("KM", "NM", "UV/VIS SPECTRUM", "NANOMETERS", "KUBELKA-MUNK"),
])
def test_labels_follow_the_block(write, tmp_path, name, dxu, data_type, xunits, yunits):
    path = write(opus(spectrum(name, [1.0, 2.0, 3.0], DXU=dxu),
                      params(kind=ACQUISITION, DAT="24/04/2014", TIM="08:44:51.193 (GMT+2)", CNM="Ann Lee",
                             SNM="Colza")))
    back, text = read_back(kestrel.getOpusData(path, (name, "2D", "NONE")), tmp_path)
    assert (back["data type"], back["xunits"], back["yunits"]) == (data_type, xunits, yunits)
    assert back["jcamp-dx"] == 5.01 and back["title"] == "Colza" and back["owner"] == back["origin"] == "Ann Lee"
    assert back["longdate"] == dt.datetime(2014, 4, 24, 8, 44, 51, tzinfo=dt.timezone(dt.timedelta(hours=2)))
    assert text.read_text().splitlines()[-1] == "##END="


def test_wide_dynamic_range_and_missing_values(write, tmp_path):
    """Values down to 2**-29 of the largest are exact; nan is written '?' as the format has it."""
    values = np.array([1e6, 3e-3, -7.5, 0.0, 2.0**-9, 123.456, 1e-30], dtype=np.float32)
    r = kestrel.SingleDataReturn(y=values, dimension="2D", dataType="AB", deriv="NONE", parameters={"DXU": "WN"},
                                 x=np.linspace(10.0, 4.0, len(values)), minY=0.0, maxY=1e6)
    back, text = read_back(r, tmp_path)
    exact = np.abs(values) >= 1e6 * 2.0**-29
    np.testing.assert_array_equal(back["y"].astype(np.float32)[exact], values[exact])
    assert abs(back["y"][-1]) < 1e6 * 2.0**-52
    r.y = np.array([1.0, np.nan, 2.0], dtype=np.float32)
    r.x = np.array([3.0, 2.0, 1.0])
    write_jcamp(r, text)
    lines = text.read_text().splitlines()
    factor = float(next(line for line in lines if line.startswith("##YFACTOR=")).split("=")[1])
    assert lines[-2].split() == ["3", str(round(1 / factor)), "?", str(round(2 / factor))]


def test_lines_stay_within_80_columns(tmp_path):
    r = kestrel.getOpusData(str(DEMO_FILE), ("AB", "2D", "NONE"))
    _, text = read_back(r, tmp_path)
    assert max(len(line) for line in text.read_text().splitlines()) <= 80


@pytest.mark.parametrize("block", [("AB", "3D", "NONE"), ("TR", "3D", "NONE")])
def test_only_single_spectra(tmp_path, block):
    with pytest.raises(TypeError, match="JCAMP-DX takes single spectra"):
        write_jcamp(kestrel.getOpusData(str(DEMO_FILE), block), tmp_path / "m.jdx")
    assert not list(pathlib.Path(tmp_path).iterdir())

