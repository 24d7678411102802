"""file_info and primary_block: acquisition times, units and the primary-block rule."""

import math
import pathlib
import pickle
import re
import warnings
from datetime import datetime, timedelta, timezone

import pytest

import kestrel
from kestrel_tools import DEMO_FILE, FileInfo, MetadataWarning, file_info, primary_block
from opusfile import ACQUISITION, opus, params, spectrum

SAMPLES = pathlib.Path(__file__).resolve().parents[3] / "shared" / "opus-samples"
REAL = sorted(p for p in SAMPLES.rglob("*") if p.is_file() and p.suffix != ".md") if SAMPLES.is_dir() else []


def spectrum_file(write, **fields):
    return write(opus(spectrum("AB", [1.0, 2.0, 3.0], FXV=4000.0, LXV=400.0, **fields)))


def tz(hours, minutes=0):
    return timezone(timedelta(hours=hours, minutes=minutes))


@pytest.mark.parametrize("fields, acquired, source, warns", [
    (dict(DAT="09/04/2022", TIM="11:39:48.716 (UTC+0)"), datetime(2022, 4, 9, 11, 39, 48, 716000, tz(0)), "DAT/TIM", False),
    (dict(DAT="03/05/2019", TIM="13:34:44.641 (GMT-4)"), datetime(2019, 5, 3, 13, 34, 44, 641000, tz(-4)), "DAT/TIM", False),
    (dict(DAT="2012/11/09", TIM="11:45:34 (GMT-6)"), datetime(2012, 11, 9, 11, 45, 34, 0, tz(-6)), "DAT/TIM", False),
    (dict(DAT="11/05/2020", TIM="09:09:55.5 (GMT+10.5)"), datetime(2020, 5, 11, 9, 9, 55, 500000, tz(10, 30)), "DAT/TIM", False),
    (dict(DAT="11/05/2020", TIM="09:09:55 (GMT+05:30)"), datetime(2020, 5, 11, 9, 9, 55, 0, tz(5, 30)), "DAT/TIM", False),
    (dict(DAT="11/05/2020", TIM="09:09:55 (GMT-3.5)"), datetime(2020, 5, 11, 9, 9, 55, 0, tz(-3, -30)), "DAT/TIM", False),
    (dict(DAT="11.05.2020", TIM="09:09:55 UTC+2"), datetime(2020, 5, 11, 9, 9, 55, 0, tz(2)), "DAT/TIM", False),
    # a fraction that is not digits: the whole seconds are kept, with a warning
    (dict(DAT="11/05/2020", TIM="10:31:19.-70 (GMT+1)"), datetime(2020, 5, 11, 10, 31, 19, 0, tz(1)), "DAT/TIM", True),
    (dict(DAT="11/05/2020", TIM="10:31:19.\u00b2\u00b3 (GMT+1)"), datetime(2020, 5, 11, 10, 31, 19, 0, tz(1)), "DAT/TIM",
     True),
    (dict(DAT="11/05/2020", TIM="  10:31:19.25(GMT+1  "), datetime(2020, 5, 11, 10, 31, 19, 250000, tz(1)), "DAT/TIM",
     False),
    # no offset: DAT/TIM cannot be placed in time, SRT can
    (dict(DAT="11/05/2020", TIM="10:31:19", SRT=1589188195.5),
     datetime(2020, 5, 11, 9, 9, 55, 500000, timezone.utc), "SRT", True),
    (dict(DAT="31/02/2020", TIM="10:00:00 (GMT+1)"), None, None, True),
    (dict(DAT="yesterday", TIM="10:00:00 (GMT+1)", SRT=0.0), None, None, True),
    (dict(SRT=0.0), None, None, True),
])
def test_acquisition_time(write, fields, acquired, source, warns):
    """DAT + TIM with TIM's offset; SRT only as a marked fallback; bad fields warn and never raise."""
    path = spectrum_file(write, SNM="s", SFM="f", CNM="o", INS="i", RES=4.0, ASS=8, **fields)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        info = file_info(path)
    assert info.acquired == acquired and info.acquired_from == source
    if acquired is not None:
        assert info.acquired.utcoffset() == acquired.utcoffset()
    messages = [str(w.message) for w in caught if issubclass(w.category, MetadataWarning)]
    assert bool(messages) == warns
    assert all(m.startswith(f"{path}: acquired: ") for m in messages)


def test_fields_units_kinds_and_missing_values(write):
    """Named fields from their keys; the block type, not PLF, says what y is; missing fields warn by name."""
    blocks = spectrum("SIFG", [0.0, 1.0], FXV=0.0, LXV=1.0, DXU="PNT", DAT="01/02/2003", TIM="04:05:06 (GMT+0)")
    blocks += spectrum("AB", [1.0, 2.0], FXV=10.0, LXV=5.0, DXU="MI")
    blocks.append(params(kind=ACQUISITION, PLF="TR", RES="high", NSS=16, SNM="x"))
    path = write(opus(blocks))
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        ifg = file_info(path, ("sifg", "2d", "none"))
        ab = file_info(path)
    assert ifg.block == ("SIFG", "2D", "NONE")
    assert (ifg.x_unit, ifg.y_kind, ifg.scans, ifg.resolution) == ("points", "interferogram", 16, None)
    assert (ab.block, ab.x_unit, ab.y_kind) == (("AB", "2D", "NONE"), "um", "absorbance")
    assert ab.as_dict()["block"] == "AB 2D NONE" and "parameters" not in ab.as_dict()
    assert ab.as_dict(parameters=True)["PLF"] == "TR"
    fields = {str(w.message).split(": ")[1] for w in caught}
    assert {"resolution", "instrument", "operator", "sample_form"} <= fields and "sample_name" not in fields


@pytest.mark.parametrize("listing, expected", [
    ([("SSC", "2D", "NONE"), ("AB", "2D", "NONE")], ("AB", "2D", "NONE")),
    ([("AB", "2D", "NONE"), ("AB", "3D", "NONE")], ("AB", "3D", "NONE")),
    ([("RIFG", "2D", "NONE"), ("RSC", "2D", "NONE")], ("RSC", "2D", "NONE")),
    ([("SIFG-CH2", "2D", "NONE"), ("SIFG", "2D", "NONE")], ("SIFG", "2D", "NONE")),
    ([("AB", "2D", "1DER"), ("SSC", "3D", "NONE"), ("AB", "2D", "NONE")], ("AB", "2D", "NONE")),
    ([("SAB", "2D", "NONE"), ("TRC", "3D", "NONE")], ("TRC", "3D", "NONE")),
    ([("RAM", "2D", "NONE"), ("REFL", "2D", "NONE")], ("REFL", "2D", "NONE")),
    ([("SAB", "2D", "NONE")], None),
])
def test_primary_block_rule(listing, expected):
    """Result spectra before single channels before interferograms; 3D first; unreadable names skipped."""
    if expected is None:
        with pytest.raises(ValueError, match="^f.0: the file holds no data block that can be read$"):
            primary_block("f.0", blocks=listing)
    else:
        assert primary_block("f.0", blocks=listing) == expected


# What a scientist expects of some of the real files.
EXPECTED_PRIMARY = {
    "examples/file.0": ("AB", "2D", "NONE"),
    "history-root/file.0": ("REFL", "2D", "NONE"),
    "background.0": ("RSC", "2D", "NONE"),
    "so20170608.ifg.000": ("SSC", "2D", "NONE"),
    "md20220409s0e00a.0199": ("SIFG", "2D", "NONE"),
    "test_opus.0": ("RAM", "2D", "NONE"),
    "peach_juice.0": ("REFL", "2D", "NONE"),
}
TIM_OFFSET = re.compile(r"\((?:GMT|UTC)([+-]\d+)\)$")


def test_demo_file_is_complete():
    """The documentation's first example reads the bundled demo file: nothing may be missing from it."""
    with warnings.catch_warnings():
        warnings.simplefilter("error", MetadataWarning)
        info = file_info(DEMO_FILE)
    assert (info.acquired, info.acquired_from) == (datetime(2026, 12, 9, 10, 32, 40, tzinfo=tz(1)), "DAT/TIM")


@pytest.mark.skipif(not REAL, reason="no sample files")
def test_real_files():
    """Every readable real file: its primary block, a DAT/TIM time with TIM's offset that agrees with SRT
    (an epoch, or the local wall clock stored as if UTC), units, and a FileInfo that pickles."""
    readable = [p for p in REAL if kestrel.isOpusFile(str(p)) and kestrel.listContents(str(p))]
    assert len(readable) >= 26
    wall_clock = 0
    for path in readable:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", MetadataWarning)
            info = file_info(path)
        key = next((k for k in EXPECTED_PRIMARY if str(path).endswith(k)), None)
        if key:
            assert info.block == EXPECTED_PRIMARY[key], path
        assert info.block in info.blocks and info.acquired_from == "DAT/TIM", path
        offset = int(TIM_OFFSET.search(info.parameters["TIM"]).group(1))
        assert info.acquired.utcoffset() == timedelta(hours=offset), path
        srt = info.parameters.get("SRT")
        if srt:
            local_as_utc = info.acquired.replace(tzinfo=timezone.utc).timestamp()
            assert min(abs(info.acquired.timestamp() - srt), abs(local_as_utc - srt)) < 120.0, path  # SRT starts the scans
            wall_clock += abs(local_as_utc - srt) < 120.0 and offset != 0
        assert info.x_unit in ("cm-1", "points") and info.resolution > 0, path
        assert pickle.loads(pickle.dumps(info)) == info and isinstance(info, FileInfo)
    assert wall_clock >= 14  # SRT is not a reliable epoch: why DAT/TIM come first


HOSTILE_NUMBERS = [math.nan, math.inf, -math.inf, -4.0, 0.0, 1e300, "text", "\u0661\u0662\u0668", "\u00b2", "",
                   "nan", "1e999"]
HOSTILE_TEXTS = [math.nan, math.inf, -4, 1e300, "", "   "]
HOSTILE_TIMES = [math.nan, "", "\u0661\u0660:31:19 (GMT+1)", "99:99:99 (GMT+1)", "10:00:00 (GMT+99)", "10:00:00 (GMT+x)",
                 "10:00:00" + " " * 65_000 + "x", "10:00:00.5" + "\t" * 65_000 + "(GMT+1) x",
                 "1" * 65_000]
HOSTILE_DATES = [math.nan, "", "\u0660\u0661/\u0660\u0662/\u0662\u0660\u0662\u0660", "99/99/9999", "0/0/0000",
                 "01/02/" + "2" * 65_000]
HOSTILE = ([("resolution", "RES", v) for v in HOSTILE_NUMBERS] + [("scans", "NSS", v) for v in HOSTILE_NUMBERS + [12.5]]
           + [(field, key, v) for field, key in (("sample_name", "SNM"), ("sample_form", "SFM"), ("operator", "CNM"),
                                                 ("instrument", "INS")) for v in HOSTILE_TEXTS]
           + [("x_unit", "DXU", v) for v in (math.nan, "", " ")]
           + [("acquired", "TIM", v) for v in HOSTILE_TIMES] + [("acquired", "DAT", v) for v in HOSTILE_DATES])


@pytest.mark.parametrize("field, key, value", HOSTILE, ids=lambda v: repr(v)[:20] if isinstance(v, (str, float)) else None)
def test_hostile_field_is_none_with_a_warning(write, field, key, value):
    """A malformed field never fails file_info (nor takes seconds on a 64 KB text): None, and a warning naming it."""
    good = dict(DAT="01/02/2020", TIM="10:00:00 (GMT+1)", SNM="s", SFM="f", CNM="o", INS="i", RES=4.0, NSS=8)
    good[key] = value
    dxu = good.pop("DXU", "WN")
    path = write(opus(spectrum("AB", [1.0, 2.0, 3.0], FXV=4000.0, LXV=400.0, **good)))
    if key == "DXU":
        path = write(opus(spectrum("AB", [1.0, 2.0, 3.0], FXV=4000.0, LXV=400.0, DXU=dxu, **good)))
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        info = finishes(lambda: file_info(path))
    assert getattr(info, field) is None
    assert any(str(w.message).startswith(f"{path}: {field}: ") for w in caught if w.category is MetadataWarning)
    assert all(len(str(w.message)) < 400 for w in caught)  # a 64 KB text is not quoted whole


def finishes(call, seconds=60.0):
    """call() in a thread; fails (instead of hanging the run) when it takes longer than a generous bound."""
    import threading
    result = []
    thread = threading.Thread(target=lambda: result.append(call()), daemon=True)
    thread.start()
    thread.join(seconds)
    assert result, "did not finish"
    return result[0]


def test_file_info_reads_a_fifo_once(tmp_path):
    """A valid stream arriving through a FIFO gives the same FileInfo as the file it was written from."""
    import os
    import threading
    data = opus(spectrum("AB", [1.0, 2.0, 3.0], FXV=4000.0, LXV=400.0, DAT="01/02/2020", TIM="10:00:00 (GMT+1)",
                         SNM="s", SFM="f", CNM="o", INS="i", RES=4.0, NSS=8))
    (tmp_path / "a.0").write_bytes(data)
    fifo = tmp_path / "pipe.0"
    os.mkfifo(fifo)
    writer = threading.Thread(target=fifo.write_bytes, args=(data,), daemon=True)
    writer.start()
    info = finishes(lambda: file_info(fifo))
    writer.join()
    expected = file_info(tmp_path / "a.0")
    assert info.path == str(fifo) and info.scans == 8 and info.acquired == expected.acquired
