"""The kestrel command lists the pictures of a file and saves them."""

import pytest

from kestrel_tools.cli.__main__ import main
from opusfile import ImageDir, Picture, bmp, image_block, jpeg, opus, spectrum


def test_lists_and_saves_pictures(write, tmp_path, capsys):
    path = write(opus(spectrum("AB", [1.0, 2.0]), image_block(
        Picture(jpeg(), title="Overview", attrs={"Pos. X:": 10.5, "Pos. Y:": -3.0}),
        Picture(bmp(), title="Notes", T00=0),
        Picture(b"\0raw", title="Odd"))), name="scan.0")
    assert main([path, "--save-images", str(tmp_path / "out")]) == 0
    lines = capsys.readouterr().out.splitlines()
    assert lines[2] == "3 pictures"
    assert lines[3].split() == ["1", "Overview", "jpeg", str(len(jpeg())), "bytes", "Pos.", "X", "10.5",
                                "Pos.", "Y", "-3.0"]
    assert lines[4].split() == ["2", "Notes", "no", "data"]
    assert sorted(p.name for p in (tmp_path / "out").iterdir()) == ["scan_picture001.jpg", "scan_picture003.bin"]
    assert (tmp_path / "out" / "scan_picture001.jpg").read_bytes() == jpeg()


def test_damaged_image_block_is_reported(write, capsys):
    path = write(opus(image_block(ImageDir(entries={"Z00": None}), Picture(bmp()))))
    assert main([path]) == 1
    assert capsys.readouterr().err.endswith("its pictures cannot be read: the file is damaged: "
                                            "the entry Z00 that the block needs is missing\n")


@pytest.mark.parametrize("content, message", [
    (b"root:x:0:0:root:/root:/bin/bash\n", "not an OPUS file"), (b"", "not an OPUS file"),
    (None, "no such file"),
])
def test_a_file_that_cannot_be_read_is_a_failure(write, tmp_path, capsys, content, message):
    """A file that is not an OPUS file fails the command like a missing one, with nothing on standard output."""
    path = write(content) if content is not None else str(tmp_path / "absent.0")
    assert main([path]) == 1
    captured = capsys.readouterr()
    assert captured.out == "" and captured.err.startswith(f"kestrel: {path}: {message}")
