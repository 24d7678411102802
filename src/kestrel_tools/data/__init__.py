"""The bundled demo files: a small FT-IR file with a spectrum, an image map, a
time-resolved series and two pictures, and a file with a multi-region map."""

import pathlib

DEMO_FILE = pathlib.Path(__file__).with_name("demo.0")
DEMO_REGIONS_FILE = pathlib.Path(__file__).with_name("demo_regions.0")

__all__ = ["DEMO_FILE", "DEMO_REGIONS_FILE"]
