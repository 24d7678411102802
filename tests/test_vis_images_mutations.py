"""getVisImages on damaged image blocks, against a plain Python reading of the format.

The model reads the file through an unbuffered file object with struct, so every
error it meets (and the order in which it meets them) is Python's own. Mutations
only touch the image block, so the header and the 12-byte directory stay simple.
"""

import random
import struct

import kestrel
import pytest
from opusfile import ImageDir, Picture, bmp, gif, image_block, jpeg, opus, png, spectrum, suffix


def get_params(f, offset):
    params = {}
    f.seek(offset)
    while True:
        key = f.read(4).decode().strip("\0")
        if key == "END":
            return params
        type_code = struct.unpack("<h", f.read(2))[0]
        size = struct.unpack("<h", f.read(2))[0]
        if type_code == 0:
            value = struct.unpack("<i", f.read(4))[0]
        elif type_code == 1:
            value = struct.unpack("<d", f.read(8))[0]
        elif type_code in (2, 3, 4):
            value = kestrel.decode_string(f.read(size * 2).partition(b"\0")[0])
        else:
            raise ValueError(f"Unexpected value for reading parameter type: {type_code}")
        params[key] = value


def extended(word):
    return (word >> 19) & 127


def model(path):
    with open(path, "rb", buffering=0) as f:
        f.seek(12)
        at, _, count = struct.unpack("<iii", f.read(12))
        f.seek(at)
        entries = [struct.unpack("<iii", f.read(12)) for _ in range(count)]
        block = next((e for e in entries if extended(e[0]) == 20), None)
        if block is None:
            return []
        offset, block_size = block[2], block[1] * 4
        param_dir, scanned = {}, set()
        f.seek(offset)
        while f.seek(0, 1) != offset + block_size:
            cur_offset = f.seek(0, 1)
            if cur_offset in scanned:  # the scan came back to where it was: a cycle
                break
            scanned.add(cur_offset)
            try:
                param_offset = cur_offset + f.read(16).index(b"BID")
            except ValueError:
                break
            for p in (get_params(f, param_offset), None):
                if p is None:
                    p = get_params(f, offset + param_dir["F00"])
                if "BID" in p and extended(p["BID"]) == 20:
                    param_dir.update(p)
            last = [suffix(i) for i in range(param_dir["NRP"] - 1, param_dir["NRP"])][0]
            end = offset + param_dir["F" + last] + param_dir["Z" + last]
            if cur_offset == end:
                break
            f.seek(end)
        images = []
        for index in (suffix(i) for i in range(0, param_dir["NRP"])):
            image = {}
            p_img_offset = param_dir["F" + index]
            param_img = get_params(f, offset + p_img_offset)
            for h in [h for h in param_img if h[0] == "H"]:
                if h == "H00":
                    image["Title"] = param_img["H00"]
                else:
                    new_key = param_img[h].rstrip(":")
                    image[new_key] = param_img[h.replace("H", "V")]
            anno_offset = offset + p_img_offset + param_img["SIZ"]
            f.seek(anno_offset)
            if param_img["T00"] == 9:
                f.seek(anno_offset + param_img["F00"])
                image["image"] = f.read(image["Bytes"])
                if image["Type"] == 258:
                    image["image"] = image["image"][14:]
                image["imgext"] = kestrel.imghdr_what(image["image"])
            images.append(image)
        return images


def outcome(fn, path):
    try:
        return "ok", fn(path)
    except Exception as error:  # noqa: BLE001: the outcome is the exception itself
        return type(error).__name__, str(error)


def base_file(rng):
    payloads = [bmp(), png(), gif(), jpeg(), b"raw"]
    pictures = [Picture(rng.choice(payloads), title=f"p{i}", attrs={"Pos. X:": float(i), "Note": "n"},
                        T00=rng.choice([9, 9, 9, 0]), lead=b"\0" * rng.randrange(3))
                for i in range(rng.randrange(1, 5))]
    cut = rng.randrange(1, len(pictures) + 1)
    parts = [ImageDir(lead=b"\0" * rng.randrange(4))] + pictures[:cut] + [ImageDir()] + pictures[cut:]
    return opus(spectrum("AB", [1.0, 2.0]), image_block(parts))


def mutate(rng, data):
    data = bytearray(data)
    start = data.index(b"BID") - 3  # the image block is the last block; its first BID sits near its start
    for _ in range(rng.randrange(1, 4)):
        i = rng.randrange(start, len(data))
        data[i] = rng.choice([0, 1, 2, 0xFF, 0x80, data[i] ^ (1 << rng.randrange(8)), ord("H"), ord("V")])
    return bytes(data) + (b"BID\0" if rng.random() < 0.1 else b"")


@pytest.mark.parametrize("seed", range(40))
def test_damaged_image_blocks_match_the_model(write, seed):
    """Results and the first error met agree with a plain Python reading, case by case."""
    rng = random.Random(seed)
    for _ in range(10):
        path = write(mutate(rng, base_file(rng)))
        assert outcome(kestrel.getVisImages, path) == outcome(model, path)


def test_undamaged_files_match_the_model(write):
    rng = random.Random(99)
    for _ in range(20):
        path = write(base_file(rng))
        got = outcome(kestrel.getVisImages, path)
        assert got[0] == "ok" and got == outcome(model, path)
