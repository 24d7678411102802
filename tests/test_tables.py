"""paramDict and OpusDict: the fixed key tables."""

import kestrel


def test_param_dict():
    assert len(kestrel.paramDict) == 34
    keys = list(kestrel.paramDict)
    assert keys[0] == "SNM" and keys[-1] == "ZTX"
    assert kestrel.paramDict["HFQ"] == "High Frequency Cutofff (FT)"
    assert kestrel.paramDict["LWN"] == "Laser Wavenumber"


def test_opus_dict():
    d = kestrel.OpusDict()
    assert len(d) == 293 and len(set(d.values())) == 270
    assert list(d)[0] == "AOZ" and list(d)[-1] == "VSC"
    assert d["RES"] == "resolution" and d["AOZ"] == "Map_Origin_Z"
    assert d["ISP"] == "interleave_time_res._\u00e6sec" and d["IDL"] == "interleave_trigger_delay_\u00e6sec"
    assert d["SMD"] == "modulation_(0=off_1=mod_2=mod-demod_4=old_phase_8=ampl_)"
    assert d["FFT"] == "maximum_ft_size_in_k's"
    assert {k: d[k] for k in ("DAB", "CRR", "OIS")} == {"DAB": "dab", "CRR": "crr", "OIS": "ois"}
    assert "NRP" not in d


def test_opus_dict_is_new_each_call():
    d = kestrel.OpusDict()
    d["RES"] = "changed"
    d.clear()
    assert kestrel.OpusDict()["RES"] == "resolution"
    assert kestrel.OpusDict() is not kestrel.OpusDict()
