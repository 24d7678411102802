"""Files that are not on a local disk: bytes, buffers, file objects, and URLs served by real servers on
loopback (nginx for HTTP, moto's S3 server), read exactly as the local file; a window fetches about its own
bytes; every bad source ends in an error that names it, never a hang or a partial result."""

import io
import socket
import threading

import numpy as np
import pytest

import kestrel
from kind_files import image_map_file
import servers

pytest.importorskip("fsspec")
pytest.importorskip("aiohttp")

from kestrel_tools import _native  # noqa: E402
from kestrel_tools.byte_sources import opened  # noqa: E402

BLOCK = ("AB", "3D", "NONE")


@pytest.fixture(scope="module")
def s3(tmp_path_factory):
    """moto's S3 server on 127.0.0.1 with a bucket, and the storage options that reach it."""
    pytest.importorskip("s3fs")
    pytest.importorskip("moto")
    server = servers.start_moto(tmp_path_factory.mktemp("moto"))
    options = {"endpoint_url": server.base, "key": "testing", "secret": "testing"}
    import s3fs

    s3fs.S3FileSystem(**options).mkdir("maps")
    yield server, options
    server.stop()


def read_all(source, options=None, block=BLOCK):
    with opened(source, options) as native:
        plan = _native.plan(native, block)
        out = np.empty(plan["shape"], np.float32)
        _native.read_window(native, block, [(0, n) for n in plan["shape"]], out)
    return out


class ShortReads(io.RawIOBase):
    """A raw file that hands out at most 5 bytes per call."""

    def __init__(self, data):
        self.inner = io.BytesIO(data)

    def readable(self):
        return True

    def seek(self, offset, whence=0):
        return self.inner.seek(offset, whence)

    def readinto(self, buffer):
        return self.inner.readinto(memoryview(buffer)[:5])


class ReadOnly:
    """Only seek and read, no readinto."""

    def __init__(self, data):
        self.inner = io.BytesIO(data)
        self.seek, self.read = self.inner.seek, self.inner.read


@pytest.mark.parametrize("kind", ["bytes", "bytearray", "memoryview", "numpy", "BytesIO", "open file", "short reads",
                                  "read only", "file URL", "http", "s3"])
def test_every_source_reads_what_the_local_file_reads(kind, write, request):
    data = image_map_file(npy=6, npx=5, npt=40)[0]
    path = write(data, "map.0")
    options = None
    if kind == "http":
        server = request.getfixturevalue("served")
        (server.root / "map.0").write_bytes(data)
        source = f"{server.base}/map.0"
    elif kind == "s3":
        server, options = request.getfixturevalue("s3")
        import s3fs

        s3fs.S3FileSystem(**options).pipe("maps/map.0", data)
        source = "s3://maps/map.0"
    else:
        source = {"bytes": lambda: data, "bytearray": lambda: bytearray(data), "memoryview": lambda: memoryview(data),
                  "numpy": lambda: np.frombuffer(data, np.uint8), "BytesIO": lambda: io.BytesIO(data),
                  "open file": lambda: open(path, "rb"), "short reads": lambda: ShortReads(data),
                  "read only": lambda: ReadOnly(data), "file URL": lambda: "file://" + path}[kind]()
    assert np.array_equal(read_all(source, options), kestrel.getOpusData(path, BLOCK).spectra)


@pytest.mark.parametrize("remote", ["http", "s3"])
def test_a_window_fetches_about_its_own_bytes(remote, request):
    """A 1/16 window of a map fetches its spectra and the small blocks the plan reads, not the file."""
    data = image_map_file(npy=32, npx=32, npt=512)[0]
    if remote == "http":
        server = request.getfixturevalue("served")
        (server.root / "big.0").write_bytes(data)
        source, options = f"{server.base}/big.0", None
    else:
        server, options = request.getfixturevalue("s3")
        import s3fs

        s3fs.S3FileSystem(**options).pipe("maps/big.0", data)
        source = "s3://maps/big.0"
    server.reset()
    out = np.empty((8, 8, 512), np.float32)
    with opened(source, options) as native:
        _native.read_window(native, BLOCK, [(8, 16), (8, 16), (0, 512)], out)
    assert np.array_equal(out, kestrel.getOpusData(data and write_tmp(request, data), BLOCK).spectra[8:16, 8:16])
    # the directory, the parameters, then one request per row of the window
    assert out.nbytes <= server.sent() < len(data) / 8 and len(server.requests()) <= 2 + 1 + 8


def write_tmp(request, data):
    return request.getfixturevalue("write")(data)


class Cutting:
    """An HTTP server on loopback that answers HEAD fully and cuts every ranged GET halfway."""

    def __init__(self, data):
        self.data = data
        self.sock = socket.create_server(("127.0.0.1", 0))
        self.sock.settimeout(10)
        self.url = f"http://127.0.0.1:{self.sock.getsockname()[1]}/cut.0"
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        for _ in range(20):  # bounded: the client gives up long before
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            with conn:
                request = conn.recv(65536).decode("latin-1")
                head = f"Content-Length: {len(self.data)}\r\nAccept-Ranges: bytes\r\n"
                if request.startswith("HEAD"):
                    conn.sendall(f"HTTP/1.1 200 OK\r\n{head}Connection: close\r\n\r\n".encode())
                    continue
                rng = [line for line in request.split("\r\n") if line.lower().startswith("range:")]
                start, stop = (int(v) for v in rng[0].split("=")[1].split("-")) if rng else (0, len(self.data) - 1)
                body = self.data[start:stop + 1]
                conn.sendall(f"HTTP/1.1 206 Partial Content\r\nContent-Length: {len(body)}\r\n"
                             f"Content-Range: bytes {start}-{stop}/{len(self.data)}\r\nConnection: close\r\n\r\n"
                             .encode() + body[: len(body) // 2])

    def close(self):
        self.sock.close()
        self.thread.join(10)


class Raising(io.BytesIO):
    def readinto(self, buffer):
        if self.tell() + len(buffer) > len(self.getbuffer()) // 2:
            raise ConnectionResetError("the peer went away")
        return super().readinto(buffer)


class Shrunk(io.BytesIO):
    """Claims more bytes than it has."""

    def seek(self, offset, whence=0):
        return super().seek(offset, whence) + (4096 if whence == 2 else 0)


def test_bad_sources_fail_naming_the_source(served, write):
    data = image_map_file(npy=6, npx=5, npt=40)[0]
    missing = f"{served.base}/missing.0"
    with pytest.raises(FileNotFoundError) as caught:
        read_all(missing)
    assert missing in str(caught.value) + " ".join(getattr(caught.value, "__notes__", []))

    cut = Cutting(data)
    try:
        with pytest.raises(Exception) as caught:
            read_all(cut.url)
        assert any(cut.url in note for note in caught.value.__notes__)
    finally:
        cut.close()

    with pytest.raises(ConnectionResetError, match="went away"):
        read_all(Raising(data))
    with pytest.raises(EOFError, match="ended at byte"):
        read_all(Shrunk(data[:-100]))
    with pytest.raises(TypeError, match="a path, bytes, a binary file object or a URL"):
        read_all(42.0)


def test_a_file_shortened_on_the_server_after_opening_fails_with_416(served, write):
    """The plan was made against the whole file; a later range past its new end is refused, not zero-filled."""
    data = image_map_file(npy=6, npx=5, npt=40)[0]
    (served.root / "shrinks.0").write_bytes(data)
    url = f"{served.base}/shrinks.0"
    with pytest.raises(EOFError, match="ended at byte 100") as caught:
        with opened(url) as native:
            plan = _native.plan(native, BLOCK)
            (served.root / "shrinks.0").write_bytes(data[:100])
            _native.read_window(native, BLOCK, [(0, n) for n in plan["shape"]], np.empty(plan["shape"], np.float32))
    assert caught.value.__notes__ == [f"while reading {url}"]
    assert any(line.startswith("416 ") for line in served.requests())


@pytest.mark.filterwarnings("ignore::kestrel_tools.metadata.MetadataWarning")
@pytest.mark.parametrize("kind", ["bytes", "BytesIO", "http", "s3"])
def test_every_entry_point_takes_the_source(kind, write, request):
    """file_info, primary_block, open_dataset (and its chunks), read_collection: as for the local file."""
    pytest.importorskip("xarray")
    from kestrel_tools import file_info, open_dataset, primary_block, read_collection

    data = image_map_file(npy=4, npx=3, npt=16)[0]
    path = write(data, "m.0")
    spectrum = write(open(kestrel_tools_demo(), "rb").read(), "s.0")
    options = None
    if kind in ("bytes", "BytesIO"):
        make = (lambda b: b) if kind == "bytes" else io.BytesIO
        source, single = make(data), make(open(spectrum, "rb").read())
    elif kind == "http":
        server = request.getfixturevalue("served")
        (server.root / "m.0").write_bytes(data)
        (server.root / "s.0").write_bytes(open(spectrum, "rb").read())
        source, single = f"{server.base}/m.0", f"{server.base}/s.0"
    else:
        server, options = request.getfixturevalue("s3")
        import s3fs

        fs = s3fs.S3FileSystem(**options)
        fs.pipe("maps/m.0", data)
        fs.pipe("maps/s.0", open(spectrum, "rb").read())
        source, single = "s3://maps/m.0", "s3://maps/s.0"
    assert primary_block(source, storage_options=options) == BLOCK
    assert file_info(source, storage_options=options).parameters == file_info(path).parameters
    chunked = open_dataset(source, storage_options=options, chunks={"y": 2}).spectra.values
    assert np.array_equal(chunked, kestrel.getOpusData(path, BLOCK).spectra)
    collected = read_collection([spectrum, single], storage_options=options)
    assert collected.failed == [] and np.array_equal(collected.spectra[0], collected.spectra[1])
    # The rows' metadata is read again from each source (a URL with the collection's storage options).
    rows = collected.to_pandas().iloc[:, 1:12]
    assert rows.iloc[1].equals(rows.iloc[0]) and rows["scans"].iloc[1] > 0


def kestrel_tools_demo():
    from kestrel_tools import DEMO_FILE

    return str(DEMO_FILE)


def test_the_engine_claims_urls_by_extension_and_other_sources_by_magic():
    pytest.importorskip("xarray")
    from kestrel_tools import DEMO_FILE
    from kestrel_tools.xarray_backend.entrypoint import KestrelBackendEntrypoint

    engine, data = KestrelBackendEntrypoint(), DEMO_FILE.read_bytes()
    claims = {name: engine.guess_can_open(source) for name, source in [
        ("bytes", data), ("not opus", b"\x89HDF\r\n"), ("file object", io.BytesIO(data)),
        ("numbered URL", "https://example.org/m.0003?x=1"), ("netCDF URL", "s3://bucket/data.nc"),
        ("zarr URL", "https://example.org/store.zarr")]}
    assert claims == {"bytes": True, "not opus": False, "file object": True, "numbered URL": True,
                      "netCDF URL": False, "zarr URL": False}


@pytest.mark.filterwarnings("ignore::UserWarning")  # the test map has no sample or instrument fields
def test_requests_over_http_are_what_the_read_needs(served):
    """file_info: the size and each block of the file it needs once (the listing and the parameters from
    one opening); a whole map of tens of megabytes: its values in one request besides the plans'."""
    from kestrel_tools import file_info

    data = image_map_file(npy=90, npx=90, npt=540)[0]
    assert len(data) > 16 << 20
    (served.root / "whole.0").write_bytes(data)
    url = f"{served.base}/whole.0"
    served.reset()
    assert file_info(url).block == BLOCK
    ranges = [line.split()[2] for line in served.requests() if line.startswith("206")]
    assert len(served.requests()) <= 3 and len(ranges) == len(set(ranges))  # no block of the file twice
    served.reset()
    read_all(url)
    values = [line for line in served.requests() if line.startswith("206") and int(line.split()[1]) > 1 << 20]
    assert len(values) == 1 and int(values[0].split()[1]) >= 90 * 90 * 540 * 4
