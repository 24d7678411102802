"""Sphinx configuration of the kestrel documentation (built by scripts/docs.sh)."""

from __future__ import annotations

import pathlib
import sys
import tomllib

sys.path.insert(0, str(pathlib.Path(__file__).parent / "_ext"))

project = "kestrel"
author = "the kestrel developers"
copyright = "2026, the kestrel developers"
# The version is the one pyproject.toml gives the distribution.
with open(pathlib.Path(__file__).parents[1] / "pyproject.toml", "rb") as _pyproject:
    release = tomllib.load(_pyproject)["project"]["version"]
version = release

extensions = [
    "sphinx.ext.autodoc",
    "sphinx.ext.doctest",
    "sphinx.ext.napoleon",
    "matplotlib.sphinxext.plot_directive",
    "kestrel_api",
]

# The modules of kestrel_tools that get an API section, in this order. A module
# that is not in the installed package is skipped, so planned ones may stand here.
kestrel_tools_api_modules = [
    "kestrel_tools.model",
    "kestrel_tools.metadata",
    "kestrel_tools.collection",
    "kestrel_tools.sources",
    "kestrel_tools.byte_sources",
    "kestrel_tools.references",
    "kestrel_tools.tables",
    "kestrel_tools.xarray_backend",
    "kestrel_tools.export",
    "kestrel_tools.plot",
    "kestrel_tools.progress",
    "kestrel_tools.data",
]

autodoc_member_order = "bysource"
autodoc_typehints = "signature"
napoleon_google_docstring = True
napoleon_numpy_docstring = False
# "Attributes:" sections as fields, so a documented property is not described twice.
napoleon_use_ivar = True

# Figures are drawn from the bundled demo files while the pages are built.
plot_include_source = True
plot_html_show_source_link = False
plot_html_show_formats = False
plot_formats = [("png", 110)]
plot_rcparams = {"figure.figsize": (6.4, 3.6), "figure.autolayout": True}
plot_pre_code = "import numpy as np\nimport matplotlib.pyplot as plt\nimport kestrel\nfrom kestrel_tools.data import DEMO_FILE, DEMO_REGIONS_FILE\n"

# The guide's `.. doctest::` examples run against the installed kestrel (scripts/docs.sh).
# Examples in docstrings are left to the tests: they rely on their module's globals.
doctest_test_doctest_blocks = ""
# A MetadataWarning in an example fails the build: examples show files that say what they are.
doctest_global_setup = (
    "import kestrel, warnings\nfrom kestrel_tools import MetadataWarning\n"
    "from kestrel_tools.data import DEMO_FILE, DEMO_REGIONS_FILE\npath = str(DEMO_FILE)\n"
    "warnings.simplefilter(\"error\", MetadataWarning)\n"
)
doctest_default_flags = __import__("doctest").ELLIPSIS | __import__("doctest").NORMALIZE_WHITESPACE

html_theme = "furo"
# The title (the sidebar's heading and each page's <title>) carries the version.
html_title = f"kestrel {release}"
exclude_patterns = ["_build"]
