"""Fixtures the kestrel_tools tests share."""

import pytest

from kind_files import BUILDERS
import servers


@pytest.fixture
def kind_file(write):
    """Writes a small file with one kind of block: kind_file("image_map", npy=8) -> (path, block)."""
    def _make(kind, **kw):
        data, block = BUILDERS[kind](**kw)
        return write(data), block
    return _make


@pytest.fixture(scope="module")
def served(tmp_path_factory):
    """nginx on 127.0.0.1 serving a temporary folder (`served.root`), stopped after the module."""
    if servers.nginx_binary() is None:
        pytest.skip("nginx is not installed (scripts/setup.sh installs it)")
    server = servers.start_nginx(tmp_path_factory.mktemp("www"), tmp_path_factory.mktemp("nginx"))
    yield server
    server.stop()


@pytest.fixture(scope="module")
def client():
    """A dask.distributed client of two worker processes, loopback only, for the module."""
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, processes=True, threads_per_worker=1, host="127.0.0.1",
                                  dashboard_address=None, worker_dashboard_address=None) as cluster:
        with distributed.Client(cluster) as c:
            yield c
