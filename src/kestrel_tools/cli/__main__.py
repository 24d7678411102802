"""kestrel [FILE ...] | kestrel COMMAND ... — OPUS files from the shell.

With no FILE it looks at the bundled demo file. `kestrel COMMAND ...` runs a
subcommand (`kestrel COMMAND --help` tells more); the grammar of all of them is
in grammar.py, and each runs from a module of its own.
"""

from __future__ import annotations

import importlib
import os
import sys

from kestrel_tools.cli.grammar import COMMANDS, OK, UsageError, parse_command, usage_error


def main(argv: list[str] | None = None) -> int:
    argv = sys.argv[1:] if argv is None else list(argv)
    name = argv[0] if argv and argv[0] in COMMANDS and argv[0] else ""
    rest = argv[1:] if name else argv
    try:
        args = parse_command(name, rest)
    except UsageError as error:
        return usage_error(name, str(error))
    except SystemExit as stop:  # --help exits through argparse
        return stop.code if isinstance(stop.code, int) else OK
    if getattr(args, "version", False):
        print(version_text())
        return OK
    module = importlib.import_module(COMMANDS[name].module)
    try:
        status: int = module.run(args)
    except UsageError as error:
        return usage_error(name, str(error))
    except BrokenPipeError:
        # The reader of our output went away (| head): not a failure of ours.
        # Standard output is pointed at nothing so that closing it says nothing either.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        os.close(devnull)
        return OK
    return status


def version_text() -> str:
    """"kestrel 0.1.0 (numpy 2.2.1, Python 3.13.1)": the installed distribution's version."""
    import platform
    from importlib import metadata

    import numpy

    names = metadata.packages_distributions().get("kestrel_tools") or []
    try:
        version = metadata.version(names[0]) if names else "unknown"
    except metadata.PackageNotFoundError:
        version = "unknown"
    return f"kestrel {version} (numpy {numpy.__version__}, Python {platform.python_version()})"


if __name__ == "__main__":
    sys.exit(main())
