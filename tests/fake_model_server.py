"""The fake chat-completions server of every test that needs a model endpoint.

``FakeModel`` listens on 127.0.0.1 only (a thread running http.server),
records every request it gets and answers each with the next scripted reply,
or, when none is scripted, with what ``respond(request)`` returns.  A reply
is ``(status, body bytes)`` or a callable ``f(handler, request)`` that writes
the whole response itself (for slow, stalled, endless or dropped replies).

A test driving a child process can tell the server which of its cases comes
next with a GET of ``/set/<n>``; ``FakeModel.case`` then holds n.
"""

import collections
import json
import socket
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

PATH = "/v1/chat/completions"


class Request:
    def __init__(self, method, path, headers, body):
        self.method = method
        self.path = path
        self.headers = headers  # {lower-cased name: value}
        self.body = body  # bytes as received

    def json(self):
        return json.loads(self.body.decode("ascii"))

    @property
    def content(self):
        return self.json()["messages"][0]["content"]


def envelope(content, encoding="utf-8", ensure_ascii=True):
    """A reply body whose choices[0].message.content is ``content``."""
    doc = {
        "id": "x",
        "object": "chat.completion",
        "choices": [{"index": 0, "message": {"role": "assistant", "content": content}, "finish_reason": "stop"}],
    }
    return json.dumps(doc, ensure_ascii=ensure_ascii).encode(encoding)


def answer(units, **kw):
    """A reply body whose content is the JSON text of {"units": units}."""
    return envelope(json.dumps({"units": units}), **kw)


def _read_body(handler):
    """The request body, sent with a Content-Length or in chunks."""
    if handler.headers.get("Transfer-Encoding", "").lower() == "chunked":
        data = b""
        while True:
            size = int(handler.rfile.readline().strip().split(b";")[0], 16)
            if size == 0:
                handler.rfile.readline()
                return data
            data += handler.rfile.read(size)
            handler.rfile.readline()
    return handler.rfile.read(int(handler.headers.get("Content-Length", "0")))


class FakeModel:
    def __init__(self):
        self.requests = []
        self.replies = collections.deque()
        self.respond = None  # request -> reply, when no reply is scripted
        self.case = None  # set by GET /set/<n>
        self.gate = threading.Event()  # stalled handlers wait on it
        self.in_handler = threading.Event()  # set when a request has been read
        server = self

        class Handler(BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def do_GET(self):
                if self.path.startswith("/set/"):
                    server.case = int(self.path[5:])
                self.send_response(200)
                self.send_header("Content-Length", "0")
                self.end_headers()

            def do_POST(self):
                body = _read_body(self)
                req = Request("POST", self.path, {k.lower(): v for k, v in self.headers.items()}, body)
                server.requests.append(req)
                server.in_handler.set()
                if server.replies:
                    reply = server.replies.popleft()
                elif server.respond is not None:
                    reply = server.respond(req)
                else:
                    reply = (599, b"no scripted reply")
                if callable(reply):
                    reply(self, req)
                    return
                status, data = reply
                self.send_response(status)
                self.send_header("Content-Type", "application/json")
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data)

        self.httpd = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.httpd.daemon_threads = True
        self.thread = threading.Thread(target=self.httpd.serve_forever, kwargs={"poll_interval": 0.02}, daemon=True)
        self.thread.start()
        self.base = "http://127.0.0.1:%d" % self.httpd.server_address[1]
        self.url = self.base + PATH

    def reply(self, body, status=200):
        self.replies.append((status, body))

    def script(self, fn):
        self.replies.append(fn)

    def close(self):
        self.gate.set()
        self.httpd.shutdown()
        self.httpd.server_close()


# Scripted behaviours -------------------------------------------------------


def stalled_after_head(gate, length=100, first=b'{"choices": '):
    """Sends the status line, the headers and a first piece of the body,
    then stops sending until ``gate`` (an Event) is set."""

    def run(handler, req):
        handler.send_response(200)
        handler.send_header("Content-Type", "application/json")
        handler.send_header("Content-Length", str(length))
        handler.end_headers()
        handler.wfile.write(first)
        handler.wfile.flush()
        gate.wait(30)

    return run


def trickle(body, pieces, pause):
    """Sends ``body`` in ``pieces`` parts with ``pause`` seconds between."""

    def run(handler, req):
        handler.send_response(200)
        handler.send_header("Content-Type", "application/json")
        handler.send_header("Content-Length", str(len(body)))
        handler.end_headers()
        step = -(-len(body) // pieces)
        for k in range(0, len(body), step):
            time.sleep(pause)
            handler.wfile.write(body[k : k + step])
            handler.wfile.flush()

    return run


def drip(gate, every=0.2, byte=b" "):
    """A 200 response of unannounced length (HTTP/1.0, read until the
    connection closes) that sends one ``byte`` every ``every`` seconds until
    the client goes away or ``gate`` (an Event) is set: never silent for
    long, never finished."""

    def run(handler, req):
        handler.send_response(200)
        handler.send_header("Content-Type", "application/json")
        handler.end_headers()
        handler.wfile.flush()
        try:
            while not gate.wait(every):
                handler.wfile.write(byte)
                handler.wfile.flush()
        except OSError:  # the client closed the connection
            pass

    return run


def flood(size, announce=True, piece=b" " * 65536):
    """A 200 response of ``size`` bytes of white space, with its length
    announced in Content-Length or not (then read until the connection
    closes); stops early when the client goes away."""

    def run(handler, req):
        handler.send_response(200)
        handler.send_header("Content-Type", "application/json")
        if announce:
            handler.send_header("Content-Length", str(size))
        handler.end_headers()
        sent = 0
        try:
            while sent < size:
                chunk = piece[: size - sent]
                handler.wfile.write(chunk)
                sent += len(chunk)
        except OSError:
            pass
        server_sent.append(sent)

    server_sent = []
    run.sent = server_sent
    return run


def held(gate, status, body):
    """Answers only once ``gate`` (an Event) is set."""

    def run(handler, req):
        gate.wait(30)
        handler.send_response(status)
        handler.send_header("Content-Type", "application/json")
        handler.send_header("Content-Length", str(len(body)))
        handler.end_headers()
        handler.wfile.write(body)

    return run


def hang_up(handler, req):
    """Closes the connection without any response."""
    handler.close_connection = True
    handler.wfile.flush()
    handler.connection.shutdown(socket.SHUT_RDWR)


def refused_url():
    """A loopback URL on which nothing listens (connection refused)."""
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return "http://127.0.0.1:%d%s" % (port, PATH)


class SilentListener:
    """A socket that completes TCP handshakes (kernel backlog) but never
    reads or answers: a server that accepts and never replies."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(8)
        self.url = "http://127.0.0.1:%d%s" % (self.sock.getsockname()[1], PATH)

    def close(self):
        self.sock.close()
