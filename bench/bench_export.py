"""Writers on a full-size image map (64 x 64 positions of 1000 points, 4.1 M float32 values), each
measured side by side in one run against what a user would otherwise write:
  - CSV: pandas.to_csv of the same matrix (x values as the header);
  - Parquet: pyarrow from a DataFrame made by pandas;
  - netCDF: xarray's to_netcdf of the same Dataset (the writer adds only attribute cleaning);
and checks that each output reads back to the same values.
"""

import pathlib
import tempfile

import numpy as np
from common import best_time

import kestrel
from kestrel_tools.export import write_csv, write_netcdf, write_parquet

RNG = np.random.default_rng(3)


def big_map():
    rows, columns, npt = 64, 64, 1000
    cube = RNG.standard_normal((rows, columns, npt)).astype(np.float32)
    return kestrel.ImageDataReturn(np.arange(columns, dtype=np.float64), np.arange(rows, dtype=np.float64), cube,
                                   dimension="3D", dataType="AB", deriv="NONE", parameters={"DXU": "WN"},
                                   x=np.linspace(4000.0, 400.0, npt), minY=-5.0, maxY=5.0)


def main():
    import pandas as pd
    import pyarrow.parquet as pq
    import xarray as xr

    m = big_map()
    flat = m.spectra.reshape(-1, m.spectra.shape[-1])
    folder = pathlib.Path(tempfile.mkdtemp())
    print(f"{flat.size / 1e6:.1f} M values, {flat.nbytes / 2**20:.0f} MiB")

    ours = best_time(lambda: write_csv(m, folder / "a.csv"), repeat=2)
    frame = pd.DataFrame(flat, columns=[repr(v) for v in m.x.tolist()])
    theirs = best_time(lambda: frame.to_csv(folder / "b.csv", index=False), repeat=2)
    back = pd.read_csv(folder / "a.csv", dtype=np.float32).to_numpy()[:, 2:]
    assert np.array_equal(back, flat)
    print(f"csv wide     write_csv {ours:6.2f} s   pandas.to_csv {theirs:6.2f} s   ratio {theirs / ours:5.2f}")

    ours = best_time(lambda: write_csv(m, folder / "l.csv", layout="long"), repeat=1)
    print(f"csv long     write_csv {ours:6.2f} s   ({flat.size / ours / 1e6:.1f} M values/s)")

    ours = best_time(lambda: write_parquet(m, folder / "a.parquet"), repeat=3)
    theirs = best_time(lambda: frame.to_parquet(folder / "b.parquet"), repeat=3)
    table = pq.read_table(folder / "a.parquet")
    values = table.column("value").combine_chunks().flatten().to_numpy()  # one list of values per spectrum
    assert np.array_equal(values.reshape(flat.shape), flat)
    print(f"parquet wide write_parquet {ours:6.2f} s   pandas.to_parquet {theirs:6.2f} s   ratio {theirs / ours:5.2f}")

    ours = best_time(lambda: write_netcdf(m, folder / "a.nc"), repeat=3)
    dataset = xr.Dataset({"spectra": (("map_y", "map_x", "x"), m.spectra)}, coords={"x": m.x})
    theirs = best_time(lambda: dataset.to_netcdf(folder / "b.nc", engine="h5netcdf"), repeat=3)
    with xr.open_dataset(folder / "a.nc") as ds:
        assert np.array_equal(ds["spectra"].values, m.spectra)
    print(f"netcdf       write_netcdf {ours:6.2f} s   xarray.to_netcdf {theirs:6.2f} s   ratio {theirs / ours:5.2f}")


if __name__ == "__main__":
    main()
