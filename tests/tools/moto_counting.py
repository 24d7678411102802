"""moto's standalone S3 server with a request log that counts the body bytes of
each response: python moto_counting.py PORT LOG. Started by servers.start_moto."""

import os
import sys

from moto.moto_server.werkzeug_app import DomainDispatcherApplication, create_backend_app
from werkzeug.serving import run_simple


def counting(app, log):
    def wrapped(environ, start_response):
        status = []

        def start(code, headers, exc_info=None):
            status.append(code.split()[0])
            return start_response(code, headers, exc_info)

        # Logged before the first byte goes out: a client that has its answer
        # finds the request in the log (a test's reset() counts it as earlier).
        chunks = list(app(environ, start))
        with open(log, "a") as f:
            f.write(f"{status[0]} {sum(len(c) for c in chunks)} {environ['REQUEST_METHOD']} "
                    f"{environ.get('HTTP_RANGE', '-')} {environ['PATH_INFO']}\n")
        yield from chunks
    return wrapped


if __name__ == "__main__":
    port, log = int(sys.argv[1]), sys.argv[2]
    os.environ.setdefault("MOTO_PORT", str(port))
    run_simple("127.0.0.1", port, counting(DomainDispatcherApplication(create_backend_app), log), threaded=True)
