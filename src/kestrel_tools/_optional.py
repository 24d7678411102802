"""Optional dependencies: imported where they are used, with an ImportError that
names the extra to install when one is missing."""

from __future__ import annotations

import importlib
from types import ModuleType


def require(module: str, extra: str) -> ModuleType:
    """Import `module`, or raise ImportError naming the extra that brings it.

    >>> require("numpy", "core").__name__
    'numpy'
    """
    try:
        return importlib.import_module(module)
    except ImportError as error:
        raise ImportError(
            f"{module} is needed for this; install it with: pip install \"kestrel-opus[{extra}]\""
        ) from error
