"""A loopback HTTP server for the download scenarios (Python standard library
only). It listens on 127.0.0.1 on a port the system picks, serves files held
in memory with Content-Length and Last-Modified, answers Range requests with
206, and can misbehave on request, one mode per file:

  normal        the file, honouring Range
  ignore-range  the whole file with 200 whatever the Range header says
  drop          honours Range, but closes the connection after `drop_after`
                body bytes, for the first `drops` requests of the file
  html          an HTML error page with status 200 and a Content-Length
  zero          status 200 with Content-Length: 0
  slow          sends `chunk` bytes every `delay` seconds
  nolength      the file without Content-Length (the connection's end ends it)
  wrong-range   answers any Range request with a 206 from offset `start`
                (a server that gets ranges wrong)

Option stamp=False leaves out Last-Modified.

Every request is logged with its path, Range header, status and the body
bytes sent. Run it by hand with: python3 httpserver.py FILE... (serves the
files under their names until interrupted)."""
import email.utils
import http.server
import re
import sys
import threading
import time
from pathlib import Path

ERROR_PAGE = (b"<html><head><TITLE>404 Not Found</TITLE></head>\n"
              b"<body><h1>Not Found</h1><p>The requested URL was not found on this server.</p></body></html>\n")


class Entry:
    def __init__(self, data, mtime, mode, **options):
        self.data = data
        self.mtime = mtime
        self.mode = mode
        self.options = options
        self.requests = 0


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    server_version = "KorvanTestServer/1"

    def log_message(self, fmt, *args):  # the server keeps its own log
        pass

    def do_HEAD(self):
        self._serve(head=True)

    def do_GET(self):
        self._serve(head=False)

    def _serve(self, head):
        srv = self.server.owner
        name = self.path.split("?", 1)[0].lstrip("/")
        range_header = self.headers.get("Range")
        record = {"path": self.path, "range": range_header, "status": None, "sent": 0}
        with srv.lock:
            srv.log.append(record)
            entry = srv.files.get(name)
            if entry:
                entry.requests += 1
                count = entry.requests
        if entry is None:
            return self._send(record, 404, {"Content-Type": "text/html"}, ERROR_PAGE, head)

        if entry.mode == "html":
            return self._send(record, 200, {"Content-Type": "text/html"}, ERROR_PAGE, head)
        if entry.mode == "zero":
            return self._send(record, 200, {"Last-Modified": self._stamp(entry)}, b"", head)

        data = entry.data
        total = len(data)
        headers = {"Content-Type": "application/octet-stream", "Accept-Ranges": "bytes"}
        if entry.options.get("stamp", True):
            headers["Last-Modified"] = self._stamp(entry)
        status, body = 200, data
        if entry.mode == "wrong-range" and range_header:
            first = entry.options["start"]
            headers["Content-Range"] = f"bytes {first}-{total - 1}/{total}"
            return self._send(record, 206, headers, data[first:], head)
        match = re.fullmatch(r"\s*bytes=(\d*)-(\d*)\s*", range_header or "")
        if match and entry.mode != "ignore-range" and (match.group(1) or match.group(2)):
            if match.group(1):
                first = int(match.group(1))
                last = int(match.group(2)) if match.group(2) else total - 1
            else:  # a suffix: the last N bytes
                first, last = max(0, total - int(match.group(2))), total - 1
            last = min(last, total - 1)
            if first > last or first >= total:
                headers["Content-Range"] = f"bytes */{total}"
                return self._send(record, 416, headers, b"", head)
            status, body = 206, data[first:last + 1]
            headers["Content-Range"] = f"bytes {first}-{last}/{total}"
        limit = None
        if entry.mode == "drop" and count <= entry.options.get("drops", 1):
            limit = entry.options["drop_after"]
        chunk = entry.options.get("chunk") if entry.mode == "slow" else None
        delay = entry.options.get("delay", 0.1)
        self._send(record, status, headers, body, head, limit=limit, chunk=chunk, delay=delay,
                   length=entry.mode != "nolength")

    @staticmethod
    def _stamp(entry):
        return email.utils.formatdate(entry.mtime, usegmt=True)

    def _send(self, record, status, headers, body, head, limit=None, chunk=None, delay=0.1, length=True):
        record["status"] = status
        self.send_response(status)
        for key, value in headers.items():
            self.send_header(key, value)
        if length:
            self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        if head:
            return
        if limit is not None:
            body = body[:limit]
        step = chunk or 65536
        try:
            for pos in range(0, len(body), step):
                self.wfile.write(body[pos:pos + step])
                self.wfile.flush()
                record["sent"] += len(body[pos:pos + step])
                if chunk:
                    time.sleep(delay)
        except (BrokenPipeError, ConnectionResetError):
            pass
        if limit is not None:
            # Cut the connection short of the announced length.
            self.close_connection = True
            try:
                self.connection.shutdown(2)
            except OSError:
                pass


class _Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


class LoopbackServer:
    """server = LoopbackServer().start(); server.add("setup.exe", data);
    server.url -> "http://127.0.0.1:PORT"; server.log; server.stop()."""

    def __init__(self):
        self.files = {}
        self.log = []
        self.lock = threading.Lock()
        self._httpd = None
        self._thread = None

    def add(self, name, data, mtime=1700000000, mode="normal", **options):
        with self.lock:
            self.files[name] = Entry(bytes(data), mtime, mode, **options)

    def requests_for(self, name):
        with self.lock:
            return [r for r in self.log if r["path"].lstrip("/").split("?", 1)[0] == name]

    @property
    def url(self):
        host, port = self._httpd.server_address[:2]
        return f"http://{host}:{port}"

    def start(self):
        self._httpd = _Server(("127.0.0.1", 0), Handler)
        self._httpd.owner = self
        self._thread = threading.Thread(target=self._httpd.serve_forever, daemon=True)
        self._thread.start()
        return self

    def stop(self):
        if self._httpd:
            self._httpd.shutdown()
            self._httpd.server_close()
            self._httpd = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


if __name__ == "__main__":
    server = LoopbackServer().start()
    for arg in sys.argv[1:]:
        path = Path(arg)
        server.add(path.name, path.read_bytes(), mtime=int(path.stat().st_mtime))
    print(server.url, flush=True)
    try:
        while True:
            time.sleep(1)
    except KeyboardInterrupt:
        server.stop()
