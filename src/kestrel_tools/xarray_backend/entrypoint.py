"""The "kestrel" engine of ``xarray.open_dataset``, registered under the
entry-point group "xarray.backends".

xarray loads this module itself when it looks for engines. It also imports
without xarray (then `available` is False and opening raises ImportError naming
the extra to install), so nothing that merely lists entry points breaks.
"""

from __future__ import annotations

import os
from collections.abc import Iterable, Sequence
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


class KestrelBackendEntrypoint(BackendEntrypoint):
    """Opens one data block of an OPUS file as a lazy Dataset.

    ``xarray.open_dataset("map.0", engine="kestrel", block=("AB", "3D", "NONE"))``;
    `block` defaults to "auto" (the file's primary block). Files are recognised
    by their magic number, whatever their extension (OPUS files end in .0, .1, ...).
    """

    open_dataset_parameters: ClassVar[tuple[str, ...] | None] = ("filename_or_obj", "drop_variables", "block")
    description: ClassVar[str] = "OPUS spectroscopy files (spectra, maps, series) read lazily by kestrel"
    url: ClassVar[str] = "https://pypi.org/project/kestrel/"
    available: ClassVar[bool] = BackendEntrypoint is not object

    def open_dataset(
        self,
        filename_or_obj: str | os.PathLike[Any] | Any,
        *,
        drop_variables: str | Iterable[str] | None = None,
        block: str | Sequence[str] = "auto",
    ) -> xarray.Dataset:
        """The Dataset of `block`, its data variable read window by window."""
        from kestrel_tools.xarray_backend.dataset import lazy_dataset

        if not isinstance(filename_or_obj, (str, os.PathLike)):
            raise TypeError(f"the kestrel engine reads files by path, not {type(filename_or_obj).__name__}")
        return lazy_dataset(filename_or_obj, block, drop_variables)

    def guess_can_open(self, filename_or_obj: Any) -> bool:
        """True for a path to a file that starts with the OPUS magic number."""
        if not isinstance(filename_or_obj, (str, os.PathLike)):
            return False
        try:
            path = os.fspath(filename_or_obj)
            return isinstance(path, str) and os.path.isfile(path) and bool(kestrel.isOpusFile(path))
        except (OSError, ValueError, TypeError):
            return False
