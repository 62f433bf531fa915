#!/usr/bin/env python3
"""Loopback HTTP server for the tests, the benchmark and the demo.

Command line:
  http_server.py --port PORT [--lifetime SECONDS] [--root DIR] [--pid-file FILE]
                 [--log FILE] [--background]
      Serves on 127.0.0.1:PORT and exits by itself after SECONDS (default 600).
      --root DIR     serves the files of DIR by name (GET /tarvik.exe -> DIR/tarvik.exe).
      --root-rate R  sends those files at R bytes per second (the demo, to show progress).
      --pid-file F   writes the server's process id to F (removed on exit). A server
                     still running from an earlier run with the same pid file is stopped.
      --background   returns once the port is bound; the server runs on, detached.
      A port that cannot be bound fails at once with exit status 2.
  http_server.py --stop [--port PORT] [--pid-file FILE]
      Stops the server named by the pid file, or asks the one on PORT to stop.

Paths (N, SIZE, RATE are decimal numbers; KEY is any word):
  /file/SIZE                     SIZE bytes of the test pattern; answers Range with 206
  /nolength/SIZE                 the same without Content-Length (the client cannot know the size)
  /status/CODE                   that status with a small HTML page
  /short/SIZE/SENT               Content-Length SIZE but only SENT bytes, then the connection closes
  /redirect/PATH                 302 to /PATH (nest for several hops)
  /goto/SCHEME/HOST/PATH         302 to SCHEME://HOST/PATH (through the https front, a downgrade)
  /loop/KEY                      302 to itself, for ever
  /encoded/KEY/NAME/SIZE         the file with Content-Encoding NAME whatever was asked for:
                                 gzip, x-gzip and deflate compress it, any other name sends the
                                 plain bytes under that name; notes the request's Accept-Encoding
  /wrongpart/KEY/SIZE            loses the connection halfway; a Range request then gets a 206
                                 with a Content-Range from byte 0 (not the part asked for)
  /busy/KEY/N/CODE/SECS/SIZE[/date]
                                 the first N requests of KEY answer CODE with Retry-After SECS
                                 (as an HTTP date with /date), later ones the file
  /auth/USER/PASSWORD/SIZE       401 with Basic authentication unless the request signs in
  /drop/KEY/N/SIZE               the first N requests of KEY lose the connection halfway
  /drop-norange/KEY/N/SIZE       the same, but Range is ignored (always 200 from byte 0)
  /fail/KEY/N/CODE/SIZE          the first N requests of KEY answer CODE, later ones the file
  /slow/SIZE/RATE[/nolength]     the file at RATE bytes per second (without Content-Length)
  /stall/SIZE/SENT               Content-Length SIZE, SENT bytes, then nothing (up to 120 s)
  /hang                          accepts the request and never answers (up to 120 s)
  /requests/KEY                  the Range header of each request of KEY so far, one a line
                                 ("-" for none); the Accept-Encoding header for /encoded
  /stop                          ends the server

The test pattern is made of 1 MiB blocks: block m starts with m as an 8-byte little-endian
number; every other byte at offset o of its block is (o * 131 + (o >> 10)) & 0xFF.
"""

import argparse
import base64
import email.utils
import http.server
import os
import re
import signal
import socket
import socketserver
import struct
import sys
import threading
import time
import urllib.request
import zlib

BLOCK = 1 << 20
HEADER = 8
FILLER = bytes(((o * 131 + (o >> 10)) & 0xFF) for o in range(BLOCK))
STALL_LIMIT = 120.0

counts = {}
range_log = {}
state_lock = threading.Lock()
stopping = threading.Event()


def pattern(start, end):
    """Bytes [start, end) of the test pattern."""
    parts = []
    pos = start
    while pos < end:
        block, offset = divmod(pos, BLOCK)
        stop = min(BLOCK, offset + end - pos)
        if offset < HEADER:
            part = struct.pack("<Q", block)[offset:min(stop, HEADER)]
        else:
            part = FILLER[offset:stop]
        parts.append(part)
        pos += len(part)
    return b"".join(parts)


def count_request(key, range_header):
    with state_lock:
        counts[key] = counts.get(key, 0) + 1
        range_log.setdefault(key, []).append(range_header or "-")
        return counts[key]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "RAVoduzaTest/1"
    root = None
    root_rate = None

    def log_message(self, *args):
        pass

    def do_HEAD(self):
        self.do_GET(head=True)

    def do_GET(self, head=False):
        self.close_connection = True
        self.head = head
        path = self.path.split("?", 1)[0]
        routes = [
            (r"/file/(\d+)", self.serve_file),
            (r"/nolength/(\d+)", self.serve_nolength),
            (r"/status/(\d+)", self.serve_status),
            (r"/short/(\d+)/(\d+)", self.serve_short),
            (r"/redirect/(.+)", self.serve_redirect),
            (r"/goto/(\w+)/([^/]+)/(.*)", self.serve_goto),
            (r"/loop/(\w+)", self.serve_loop),
            (r"/encoded/(\w+)/([\w-]+)/(\d+)", self.serve_encoded),
            (r"/wrongpart/(\w+)/(\d+)", self.serve_wrongpart),
            (r"/busy/(\w+)/(\d+)/(\d+)/(\d+)/(\d+)(/date)?", self.serve_busy),
            (r"/auth/(\w+)/(\w+)/(\d+)", self.serve_auth),
            (r"/drop/(\w+)/(\d+)/(\d+)", lambda k, n, s: self.serve_drop(k, n, s, True)),
            (r"/drop-norange/(\w+)/(\d+)/(\d+)", lambda k, n, s: self.serve_drop(k, n, s, False)),
            (r"/fail/(\w+)/(\d+)/(\d+)/(\d+)", self.serve_fail),
            (r"/slow/(\d+)/(\d+)(/nolength)?", self.serve_slow),
            (r"/stall/(\d+)/(\d+)", self.serve_stall),
            (r"/hang", self.serve_hang),
            (r"/requests/(\w+)", self.serve_requests),
            (r"/stop", self.serve_stop),
        ]
        try:
            for regex, action in routes:
                match = re.fullmatch(regex, path)
                if match:
                    action(*match.groups())
                    return
            self.serve_root(path)
        except (BrokenPipeError, ConnectionResetError):
            pass

    # Helpers

    def requested_range(self, size):
        """(start, end) of a satisfiable 'bytes=a-' or 'bytes=a-b' header, or None."""
        match = re.fullmatch(r"bytes=(\d+)-(\d*)", self.headers.get("Range", ""))
        if not match or int(match.group(1)) >= size:
            return None
        end = int(match.group(2)) + 1 if match.group(2) else size
        return int(match.group(1)), min(end, size)

    def start_body(self, status, length, extra=()):
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        if length is not None:
            self.send_header("Content-Length", str(length))
        self.send_header("Connection", "close")
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()

    def send_pattern(self, start, end, rate=None):
        if self.head:
            return
        chunk = 65536 if rate is None else max(1, min(65536, rate // 10))
        begun = time.monotonic()
        pos = start
        while pos < end:
            take = min(chunk, end - pos)
            self.wfile.write(pattern(pos, pos + take))
            pos += take
            if rate is not None:
                ahead = (pos - start) / rate - (time.monotonic() - begun)
                if ahead > 0:
                    time.sleep(ahead)

    def send_file_part(self, size, honour_range, stop_at=None):
        """The pattern file, from a requested range when honoured; stops at stop_at."""
        wanted = self.requested_range(size) if honour_range else None
        ranges = [("Accept-Ranges", "bytes" if honour_range else "none")]
        if wanted:
            start, end = wanted
            ranges.append(("Content-Range", "bytes %d-%d/%d" % (start, end - 1, size)))
            self.start_body(206, end - start, ranges)
        else:
            start, end = 0, size
            self.start_body(200, size, ranges)
        self.send_pattern(start, end if stop_at is None else min(end, stop_at(start, end)))

    def send_small(self, status, body, extra=(), content_type="text/html"):
        """A short answer with its body, for statuses, redirects and challenges."""
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        if not self.head:
            self.wfile.write(body)

    def stall(self):
        stopping.wait(STALL_LIMIT)

    # Behaviours

    def serve_file(self, size):
        self.send_file_part(int(size), True)

    def serve_nolength(self, size):
        self.start_body(200, None)
        self.send_pattern(0, int(size))

    def serve_status(self, code):
        self.send_small(int(code), b"<html><body><h1>Status %s</h1></body></html>" % code.encode())

    def serve_short(self, size, sent):
        self.start_body(200, int(size))
        self.send_pattern(0, min(int(sent), int(size)))

    def serve_redirect(self, target):
        self.send_small(302, b"", [("Location", "/" + target)])

    def serve_goto(self, scheme, host, path):
        self.send_small(302, b"", [("Location", "%s://%s/%s" % (scheme, host, path))])

    def serve_loop(self, key):
        count_request(key, None)
        self.serve_redirect("loop/" + key)

    def serve_encoded(self, key, name, size):
        count_request(key, self.headers.get("Accept-Encoding"))
        body = pattern(0, int(size))
        if name in ("gzip", "x-gzip"):
            packer = zlib.compressobj(wbits=31)
            body = packer.compress(body) + packer.flush()
        elif name == "deflate":
            # Raw, as most servers that send deflate do (and the only form Wine reads).
            packer = zlib.compressobj(wbits=-15)
            body = packer.compress(body) + packer.flush()
        self.start_body(200, len(body), [("Content-Encoding", name)])
        if not self.head:
            self.wfile.write(body)

    def serve_wrongpart(self, key, size):
        size = int(size)
        range_header = self.headers.get("Range")
        count_request(key, range_header)
        if range_header:
            self.start_body(206, size, [("Content-Range", "bytes 0-%d/%d" % (size - 1, size))])
            self.send_pattern(0, size)
            return
        self.start_body(200, size)
        self.send_pattern(0, size // 2)
        self.wfile.flush()
        self.connection.shutdown(socket.SHUT_RDWR)

    def serve_busy(self, key, times, code, seconds, size, as_date):
        wait = int(seconds)
        retry_after = (email.utils.formatdate(time.time() + wait, usegmt=True) if as_date
                       else str(wait))
        self.serve_fail(key, times, code, size, b"busy", [("Retry-After", retry_after)])

    def serve_auth(self, user, password, size):
        expected = "Basic " + base64.b64encode(("%s:%s" % (user, password)).encode()).decode()
        if self.headers.get("Authorization") == expected:
            self.serve_file(size)
            return
        self.send_small(401, b"sign in", [("WWW-Authenticate", 'Basic realm="RAVoduza test"')])

    def serve_drop(self, key, times, size, honour_range):
        number = count_request(key, self.headers.get("Range"))
        if number > int(times):
            self.send_file_part(int(size), honour_range)
            return
        self.send_file_part(int(size), honour_range, lambda start, end: (start + end) // 2)
        self.wfile.flush()
        self.connection.shutdown(socket.SHUT_RDWR)

    def serve_fail(self, key, times, code, size, body=None, extra=()):
        """The failures answer CODE with the status page, or with BODY and EXTRA headers."""
        if count_request(key, self.headers.get("Range")) > int(times):
            self.serve_file(size)
        elif body is None:
            self.serve_status(code)
        else:
            self.send_small(int(code), body, extra)

    def serve_slow(self, size, rate, nolength):
        self.start_body(200, None if nolength else int(size))
        self.send_pattern(0, int(size), max(1, int(rate)))

    def serve_stall(self, size, sent):
        self.start_body(200, int(size))
        self.send_pattern(0, min(int(sent), int(size)))
        self.wfile.flush()
        self.stall()

    def serve_hang(self):
        self.stall()

    def serve_requests(self, key):
        with state_lock:
            body = "".join(line + "\n" for line in range_log.get(key, [])).encode()
        self.send_small(200, body, content_type="text/plain")

    def serve_stop(self):
        self.serve_status("200")
        self.wfile.flush()
        stopping.set()

    def serve_root(self, path):
        name = path.lstrip("/")
        full = os.path.join(self.root, name) if self.root else None
        if not full or "/" in name or name.startswith(".") or not os.path.isfile(full):
            self.serve_status("404")
            return
        size = os.path.getsize(full)
        self.start_body(200, size)
        if self.head:
            return
        chunk = 1 << 20 if self.root_rate is None else max(1, self.root_rate // 10)
        begun = time.monotonic()
        sent = 0
        with open(full, "rb") as source:
            while True:
                data = source.read(chunk)
                if not data:
                    break
                self.wfile.write(data)
                sent += len(data)
                if self.root_rate is not None:
                    time.sleep(max(0.0, sent / self.root_rate - (time.monotonic() - begun)))


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64


def read_pid(pid_file):
    try:
        with open(pid_file) as f:
            return int(f.read().strip())
    except (OSError, ValueError):
        return None


def runs_program(pid, program):
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return program.encode() in f.read()
    except OSError:
        return False


def stop_by_pid(pid_file, program="http_server.py"):
    """Stops the process that PID_FILE names, if it still runs PROGRAM (and is
    no stranger that has got the pid since), then removes the file."""
    pid = read_pid(pid_file)
    if pid and runs_program(pid, program):
        try:
            os.kill(pid, signal.SIGTERM)
            for _ in range(100):
                if not runs_program(pid, program):
                    break
                time.sleep(0.05)
            else:
                os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    if pid_file and os.path.exists(pid_file):
        os.remove(pid_file)


def stop(args):
    if args.pid_file:
        stop_by_pid(args.pid_file)
    elif args.port:
        try:
            urllib.request.urlopen("http://127.0.0.1:%d/stop" % args.port, timeout=5).read()
        except OSError:
            pass


def serve(args):
    if args.pid_file:
        stop_by_pid(args.pid_file)
    Handler.root = os.path.abspath(args.root) if args.root else None
    Handler.root_rate = args.root_rate
    try:
        server = Server(("127.0.0.1", args.port), Handler)
    except OSError as error:
        sys.stderr.write("http_server.py: cannot listen on 127.0.0.1:%d: %s\n"
                         % (args.port, error))
        sys.exit(2)

    if args.background:
        if os.fork():
            os._exit(0)
        os.setsid()
        sink = os.open(args.log or os.devnull, os.O_WRONLY | os.O_CREAT | os.O_APPEND)
        null = os.open(os.devnull, os.O_RDONLY)
        os.dup2(null, 0)
        os.dup2(sink, 1)
        os.dup2(sink, 2)
    if args.pid_file:
        with open(args.pid_file, "w") as f:
            f.write("%d\n" % os.getpid())

    def finish(*_):
        stopping.set()

    signal.signal(signal.SIGTERM, finish)
    signal.signal(signal.SIGINT, finish)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    stopping.wait(args.lifetime)
    if args.pid_file and read_pid(args.pid_file) == os.getpid():
        os.remove(args.pid_file)
    # Stalled handler threads must not keep the process alive.
    os._exit(0)


def main():
    parser = argparse.ArgumentParser(description="Loopback HTTP server for the tests.")
    parser.add_argument("--port", type=int)
    parser.add_argument("--lifetime", type=float, default=600.0)
    parser.add_argument("--root")
    parser.add_argument("--root-rate", type=int)
    parser.add_argument("--pid-file")
    parser.add_argument("--log")
    parser.add_argument("--background", action="store_true")
    parser.add_argument("--stop", action="store_true")
    args = parser.parse_args()
    if args.stop:
        stop(args)
    elif args.port is None:
        parser.error("--port is required")
    else:
        serve(args)


if __name__ == "__main__":
    main()
