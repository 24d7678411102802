"""_native.contents and _native.directory read the block directory of any source alike: a path, a buffer or a
file object; a source that is not OPUS fails with listContents' message, a file object's failed read with its own
error."""

import io

import pytest

import kestrel
from kestrel_tools import DEMO_FILE, _native

DATA = DEMO_FILE.read_bytes()


class FailsAfterMagic(io.BytesIO):
    """Holds only the magic number; reading past it fails."""

    def readinto(self, buffer):
        if self.tell() + len(buffer) > 4:
            raise ConnectionResetError("the peer went away")
        return super().readinto(buffer)


@pytest.mark.parametrize("name", ["contents", "directory"])
@pytest.mark.parametrize("source", [lambda: str(DEMO_FILE), lambda: memoryview(DATA), lambda: io.BytesIO(DATA)],
                         ids=["path", "buffer", "file object"])
def test_every_source_lists_the_same(name, source):
    listed = getattr(_native, name)(source())
    assert listed == getattr(_native, name)(str(DEMO_FILE))
    if name == "contents":
        assert listed == kestrel.listContents(str(DEMO_FILE))
    else:
        assert {entry[1] for entry in listed if entry[0] == "data"} == set(kestrel.listContents(str(DEMO_FILE)))


@pytest.mark.parametrize("name", ["contents", "directory"])
def test_failures(name):
    function = getattr(_native, name)
    with pytest.raises(ValueError, match="^Can't process a non-Opus file$"):
        function(memoryview(b"not an OPUS file"))
    with pytest.raises(ConnectionResetError, match="went away"):
        function(FailsAfterMagic(DATA))
    with pytest.raises(TypeError, match=rf"^{name}\(source\) takes exactly 1 argument$"):
        function()
