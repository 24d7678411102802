"""The data model's tables: every block type and unit code the reader knows has an entry."""

import pytest

pytest.importorskip("kestrel_tools")

from kestrel_tools import model  # noqa: E402


def test_every_readable_block_type_has_an_entry_and_a_rank():
    import kestrel

    try:
        kestrel.getOpusData("/nonexistent", ("XX", "2D", "NONE"))
    except ValueError as error:
        listed = str(error).split("following: ")[1].split(", ")
    assert sorted(model.BLOCK_TYPES) == sorted(listed)
    for name in listed:
        for full in (name, name + "-CH2"):
            assert model.block_rank((full, "2D", "NONE")) is not None
            assert model.value_kind(full) is not None


@pytest.mark.parametrize("name, reference", [
    ("RSC", True), ("RIFG-CH2", True), ("RPH", True), ("RPOW", True),
    ("REFL", False), ("RAM", False), ("SSC", False), ("AB", False), ("TRC", False),
])
def test_reference_channel_is_the_type_not_its_first_letter(name, reference):
    assert model.is_reference(name) is reference


@pytest.mark.parametrize("kind", list(model.KINDS))
def test_every_name_of_a_layout_is_unique(kind):
    lay = model.layout_of(kind, {"DXU": "SEC", "ZTX": "s"}, "AB")
    assert len(set(lay.dims)) == len(lay.dims)
    assert len(set(lay.long_columns)) == len(lay.long_columns)
    assert set(lay.dims) <= set(lay.coords) | {"point"}
    assert all(set(c.dims) <= set(lay.dims) for c in lay.coords.values())
