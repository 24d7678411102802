"""The `kestrel` command: a look inside OPUS files from the shell."""

import pathlib

DEMO_FILE = pathlib.Path(__file__).with_name("demo.0")
