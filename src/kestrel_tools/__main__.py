"""`python -m kestrel_tools` runs the `kestrel` command."""

import sys

from kestrel_tools.cli.__main__ import main

sys.exit(main())
