"""The "kestrel" engine of ``xarray.open_dataset``, registered under the
entry-point group "xarray.backends".

xarray loads this module itself when it looks for engines. It also imports
without xarray (then `available` is False and opening raises ImportError naming
the extra to install), so nothing that merely lists entry points breaks.
"""

from __future__ import annotations

import os
import re
from collections.abc import Iterable, Mapping, Sequence
from typing import TYPE_CHECKING, Any, ClassVar

import kestrel

if TYPE_CHECKING:
    import xarray
    from xarray.backends import BackendEntrypoint
else:
    try:
        from xarray.backends import BackendEntrypoint
    except ImportError:
        BackendEntrypoint = object


# The names instruments give their files: name.0, name.1, name.0003.
_NUMBERED = re.compile(r"\.\d+$")


class KestrelBackendEntrypoint(BackendEntrypoint):
    """Opens one data block of an OPUS file as a lazy Dataset.

    ``xarray.open_dataset("map.0", engine="kestrel", block=("AB", "3D", "NONE"))``;
    `block` defaults to "auto" (the file's primary block). Local files, bytes and
    file objects are recognised by their magic number, whatever their extension;
    a URL only by an instrument's numbered extension (.0, .1, ...), so that the
    engine never claims (or fetches) every remote file. `storage_options` go
    to fsspec for URLs.
    """

    open_dataset_parameters: ClassVar[tuple[str, ...] | None] = ("filename_or_obj", "drop_variables", "block",
                                                                  "storage_options")
    description: ClassVar[str] = "OPUS spectroscopy files (spectra, maps, series) read lazily by kestrel"
    url: ClassVar[str] = "https://pypi.org/project/kestrel/"
    available: ClassVar[bool] = BackendEntrypoint is not object

    def open_dataset(
        self,
        filename_or_obj: str | os.PathLike[Any] | Any,
        *,
        drop_variables: str | Iterable[str] | None = None,
        block: str | Sequence[str] = "auto",
        storage_options: Mapping[str, Any] | None = None,
    ) -> xarray.Dataset:
        """The Dataset of `block`, its data variable read window by window."""
        from kestrel_tools.xarray_backend.dataset import lazy_dataset

        return lazy_dataset(filename_or_obj, block, drop_variables, storage_options)

    def guess_can_open(self, filename_or_obj: Any) -> bool:
        """True for a local file, bytes or a file object that starts with the OPUS
        magic number, and for a URL whose name ends in .0, .1, ..."""
        from kestrel_tools.byte_sources import has_opus_magic, is_url, local_path

        if is_url(filename_or_obj) and local_path(filename_or_obj) is None:
            return _NUMBERED.search(filename_or_obj.split("?", 1)[0]) is not None
        try:
            path = local_path(filename_or_obj)
            if path is not None:
                return os.path.isfile(path) and bool(kestrel.isOpusFile(path))
        except (OSError, ValueError, TypeError):
            return False
        return has_opus_magic(filename_or_obj)
