"""Progress on long work, one way for the whole package.

Every function that takes ``progress=`` accepts:

- False or None: nothing is shown;
- True: a bar on stderr (tqdm when installed, else a one-line counter);
- a callable ``(done, total)``: called as work completes.

>>> seen = []
>>> with Progress(lambda done, total: seen.append((done, total)), total=3, label="files") as bar:
...     bar.advance(2)
...     bar.advance(1)
>>> seen
[(0, 3), (2, 3), (3, 3)]
"""

from __future__ import annotations

import importlib.util
import sys
import time
from collections.abc import Callable
from types import TracebackType
from typing import Any, TextIO

ProgressArg = bool | Callable[[int, int], object] | None

__all__ = ["Progress", "ProgressArg"]


class _Counter:
    """A one-line counter on a stream, redrawn at most every 0.1 s."""

    def __init__(self, total: int, label: str, stream: TextIO) -> None:
        self.total, self.label, self.stream = total, label, stream
        self.last = 0.0

    def show(self, done: int, final: bool = False) -> None:
        now = time.monotonic()
        if not final and now - self.last < 0.1:
            return
        self.last = now
        percent = 100 * done // self.total if self.total else 100
        self.stream.write(f"\r{self.label}: {done}/{self.total} ({percent}%)")
        if final:
            self.stream.write("\n")
        self.stream.flush()


class Progress:
    """Reports `done` out of `total` the way `progress` asks; a context manager.

    Not thread-safe by itself: advance it from the thread that waits on the work.
    """

    def __init__(self, progress: ProgressArg, *, total: int, label: str = "",
                 stream: TextIO | None = None) -> None:
        self.total = total
        self.done = 0
        self._callback: Callable[[int, int], object] | None = None
        self._bar: Any = None
        self._counter: _Counter | None = None
        out = sys.stderr if stream is None else stream
        if callable(progress):
            self._callback = progress
            progress(0, total)
        elif progress:
            if importlib.util.find_spec("tqdm") is not None:
                from tqdm import tqdm  # type: ignore[import-untyped,unused-ignore]

                self._bar = tqdm(total=total, desc=label or None, file=out, unit="file")
            else:
                self._counter = _Counter(total, label or "progress", out)
                self._counter.show(0)

    def advance(self, n: int = 1) -> None:
        """Counts `n` more units of work as done."""
        if n <= 0:
            return
        self.done += n
        if self._callback is not None:
            self._callback(self.done, self.total)
        elif self._bar is not None:
            self._bar.update(n)
        elif self._counter is not None:
            self._counter.show(self.done)

    def close(self) -> None:
        """Ends the display (the bar or counter line is finished)."""
        if self._bar is not None:
            self._bar.close()
            self._bar = None
        elif self._counter is not None:
            self._counter.show(self.done, final=True)
            self._counter = None

    def __enter__(self) -> Progress:
        return self

    def __exit__(self, kind: type[BaseException] | None, value: BaseException | None,
                 traceback: TracebackType | None) -> None:
        self.close()
