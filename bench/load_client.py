"""The service benchmark's load: prepared HTTP requests sent over a fixed number
of concurrent connections, one new connection per request, from one process
with one thread and non-blocking sockets, so that the client costs as little
of the shared cores as it can. Prints one JSON object: the wall time, each
request's latency, the client's own CPU time and what came back.

    load_client.py PORT CONCURRENCY REQUESTS_FILE [MARKER]

REQUESTS_FILE is a pickled list of whole requests (bytes); each is sent once,
in order. MARKER (text) counts the answers whose body holds it.
"""

import errno
import json
import pickle
import resource
import selectors
import socket
import sys
import time

READ_SIZE = 65536


class Exchange:
    """One request on its own connection, from connect() to the server's close."""

    def __init__(self, port, request):
        self.request = request
        self.received = []
        self.started = time.perf_counter()
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.setblocking(False)
        error = self.sock.connect_ex(("127.0.0.1", port))
        if error not in (0, errno.EINPROGRESS):
            raise OSError(error, "connect: %s" % errno.errorcode.get(error, error))


def answer_parts(data):
    """-> (HTTP status, body) of a whole answer as it arrived."""
    head, _, body = data.partition(b"\r\n\r\n")
    status_line = head.split(b"\r\n", 1)[0].split()
    status = int(status_line[1]) if len(status_line) > 1 and status_line[1].isdigit() else 0
    return status, body


def cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def run(port, concurrency, requests, marker):
    selector = selectors.DefaultSelector()
    pending = iter(requests)
    latencies = []
    statuses = {}
    marked = 0
    body_bytes = 0
    errors = []

    def start_next():
        request = next(pending, None)
        if request is not None:
            exchange = Exchange(port, request)
            selector.register(exchange.sock, selectors.EVENT_WRITE, exchange)

    cpu_start = cpu_seconds()
    wall_start = time.perf_counter()
    for _ in range(concurrency):
        start_next()
    while selector.get_map():
        for key, events in selector.select():
            exchange = key.data
            if events & selectors.EVENT_WRITE:
                error = exchange.sock.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR)
                if error:
                    errors.append("connect: %s" % errno.errorcode.get(error, error))
                    selector.unregister(exchange.sock)
                    exchange.sock.close()
                    start_next()
                    continue
                # A request is a few KiB: the socket's buffer takes it at once.
                exchange.sock.sendall(exchange.request)
                selector.modify(exchange.sock, selectors.EVENT_READ, exchange)
                continue
            try:
                data = exchange.sock.recv(READ_SIZE)
            except ConnectionResetError:
                data = b""
                errors.append("reset")
            if data:
                exchange.received.append(data)
                continue
            # The server closed: the answer is whole (each request says Connection: close).
            latencies.append(time.perf_counter() - exchange.started)
            selector.unregister(exchange.sock)
            exchange.sock.close()
            status, body = answer_parts(b"".join(exchange.received))
            statuses[status] = statuses.get(status, 0) + 1
            body_bytes += len(body)
            if marker and marker in body:
                marked += 1
            start_next()
    wall = time.perf_counter() - wall_start
    cpu = cpu_seconds() - cpu_start
    return {
        "requests": len(latencies),
        "seconds": wall,
        "client_cpu_seconds": cpu,
        "latencies_ms": [round(1000 * latency, 3) for latency in latencies],
        "statuses": {str(k): v for k, v in sorted(statuses.items())},
        "marked": marked,
        "body_bytes": body_bytes,
        "errors": errors[:10],
        "error_count": len(errors),
    }


def main():
    port, concurrency, path = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    marker = sys.argv[4].encode("ascii") if len(sys.argv) > 4 else b""
    with open(path, "rb") as f:
        requests = pickle.load(f)
    print(json.dumps(run(port, concurrency, requests, marker)))


if __name__ == "__main__":
    main()
