"""Writers for standard formats: CSV, JCAMP-DX, netCDF and Parquet.

Each takes a result of ``kestrel.getOpusData`` (any kind; JCAMP-DX single
spectra only) or a Collection, and a path; the file appears whole or not at all.

>>> import kestrel, kestrel_tools, tempfile, pathlib
>>> from kestrel_tools.export import write_csv
>>> r = kestrel.getOpusData(str(kestrel_tools.DEMO_FILE), ("AB", "3D", "NONE"))
>>> out = pathlib.Path(tempfile.mkdtemp()) / "map.csv"
>>> write_csv(r, out)
>>> out.read_text().splitlines()[0][:32]
'x,y,3100.0,3097.9899497487436,30'
"""

from kestrel_tools.export.csv import write_csv
from kestrel_tools.export.jcamp import write_jcamp
from kestrel_tools.export.netcdf import write_netcdf
from kestrel_tools.export.parquet import write_parquet

__all__ = ["write_csv", "write_jcamp", "write_netcdf", "write_parquet"]
