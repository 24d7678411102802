"""What reading one OPUS file can raise: the module's own errors and those of the file system.

A command or a collection that reads many files catches exactly these for one
file and goes on with the next; anything else is a fault of ours and surfaces.
"""

from __future__ import annotations

import kestrel

READ_ERRORS: tuple[type[BaseException], ...] = (
    OSError, ValueError, KeyError, IndexError, TypeError, AttributeError, ZeroDivisionError, MemoryError,
    kestrel.struct_error,
)
