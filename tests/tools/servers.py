"""Real servers on loopback for the tests of remote reads: nginx serving a
folder over HTTP, and moto's standalone S3 server. Each is started on a free
port of 127.0.0.1, waited for with a bounded loop, and counts the body bytes
it sent (nginx from its access log, moto from the request log its launcher keeps)."""

import os
import shutil
import socket
import subprocess
import sys
import time
from pathlib import Path

NGINX_CONF = """\
daemon off;
master_process off;
worker_processes 1;
pid {dir}/nginx.pid;
error_log {dir}/error.log warn;
events {{ worker_connections 64; }}
http {{
    log_format sent '$status $body_bytes_sent "$http_range" $request_uri';
    access_log {dir}/access.log sent;
    client_body_temp_path {dir}/body;
    proxy_temp_path {dir}/proxy;
    fastcgi_temp_path {dir}/fastcgi;
    uwsgi_temp_path {dir}/uwsgi;
    scgi_temp_path {dir}/scgi;
    default_type application/octet-stream;
    sendfile on;
    server {{
        listen 127.0.0.1:{port};
        root {root};
        location / {{ }}
    }}
}}
"""


def nginx_binary():
    return shutil.which("nginx") or next((p for p in ("/usr/sbin/nginx",) if os.path.exists(p)), None)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, process, seconds=15.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if process.poll() is not None:
            raise RuntimeError(f"the server exited with {process.returncode} before listening")
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError(f"nothing listened on 127.0.0.1:{port} within {seconds} s")


class Server:
    """A started server: its base URL, the bytes it sent, stop()."""

    def __init__(self, process, port, log, root=None):
        self.process, self.port, self.log, self.root = process, port, Path(log), root
        self.base = f"http://127.0.0.1:{port}"
        self._start = 0

    def _lines(self):
        return self.log.read_text(errors="replace").splitlines() if self.log.exists() else []

    def reset(self):
        """Counts from here on."""
        self._start = len(self._lines())

    def requests(self):
        return self._lines()[self._start:]

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(10)


class Nginx(Server):
    def sent(self):
        """Body bytes sent since reset()."""
        total = 0
        for line in self.requests():
            parts = line.split(" ", 2)
            total += int(parts[1])
        return total


def start_nginx(root, workdir):
    binary = nginx_binary()
    if binary is None:
        return None
    workdir = Path(workdir)
    workdir.mkdir(parents=True, exist_ok=True)
    port = free_port()
    conf = workdir / "nginx.conf"
    conf.write_text(NGINX_CONF.format(dir=workdir, port=port, root=root))
    process = subprocess.Popen([binary, "-p", str(workdir), "-e", str(workdir / "error.log"), "-c", str(conf)],
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        wait_for_port(port, process)
    except RuntimeError:
        process.kill()
        process.wait(10)
        raise
    return Nginx(process, port, workdir / "access.log", root)


class Moto(Server):
    def sent(self):
        """Body bytes of the GETs since reset() (other requests carry metadata only)."""
        return sum(int(line.split()[1]) for line in self.requests() if line.split()[2] == "GET")


def start_moto(workdir):
    workdir = Path(workdir)
    workdir.mkdir(parents=True, exist_ok=True)
    port = free_port()
    log = workdir / "requests.log"
    env = dict(os.environ, AWS_ACCESS_KEY_ID="testing", AWS_SECRET_ACCESS_KEY="testing")
    launcher = Path(__file__).with_name("moto_counting.py")
    process = subprocess.Popen([sys.executable, str(launcher), str(port), str(log)], stdin=subprocess.DEVNULL,
                               stdout=(workdir / "moto.out").open("w"), stderr=subprocess.STDOUT, env=env)
    try:
        wait_for_port(port, process, seconds=60.0)
    except RuntimeError:
        process.kill()
        process.wait(10)
        raise
    return Moto(process, port, log)
