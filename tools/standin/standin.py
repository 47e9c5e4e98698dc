#!/usr/bin/env python3
"""Stand-in for the Emberlane project web service, for tests and local runs.

Python 3 standard library only. Serves, on loopback, over HTTP and HTTPS:

  GET  /client/manifest.json            the stable channel's client manifest
  GET  /client/manifest-<channel>.json  another channel: stable, beta, and
                                        bulk (only with --manifest-files N)
  GET  /client/files/<path>             the client files the manifests list
  GET  /client/r<N>/manifest[-<ch>].json
       /client/r<N>/files/<path>        the same for client release N, pinned
                                        by the URL (so parallel tests can
                                        update from one release to another
                                        without switching the service's)
                                        ?launcherFault=SPEC puts fault=SPEC
                                        on the manifest's launcher URL;
                                        ?schema=N and ?supported=V1,V2 publish
                                        that schema and those game versions
  GET  /launcher/Emberlane-<ver>.exe    the launcher build named by the
                                        manifests' launcher block (a random
                                        262 KiB "MZ" file, or --launcher-file)
  ANY  /echo                            the request as JSON: method, path,
                                        query, headers (wire order and case)
                                        and body; with format=text as lines
                                        "method M", "path P", "query Q",
                                        "header Name: value"..., "body", then
                                        the body bytes
  GET  /headers?set=Name:Value&...      a reply carrying each given header
                                        line exactly as given (spaces kept)
  GET  /bytes?n=N[&chunked=1]           exactly N deterministic bytes
  GET  /status/<code>                   an empty reply with that status
  GET  /health                          "ok"
  /api/v1/..., /s/<space>/api/v1/...   the account service (accounts.py:
                                        sign-in, tokens, realms, characters,
                                        play sessions, challenges); a
                                        manifest fetched with
                                        ?accountSpace=NAME has its apiBase
                                        at /s/NAME, a service of its own
  /control/...                          test control, see below

The manifests' baseUrl, launcher URL and accounts apiBase point back at the
listener (scheme, host and port) that served the manifest. Every manifest is
signed with the test key (fixtures/signing) by running minisign; its
signature is at the manifest's path + ".minisig" (same query), its sequence
100 + the release; ?sig=FAULT (or a signing space, see /control/signing)
spoils it the ways signing.py lists.

Faults, per request, with one or more query parameters fault=SPEC (or
several specs separated by commas):
  status:N      answer with status N instead (429 and 503 add Retry-After: 1)
  redirect      302 with a Location naming the same URL without the fault
  slow:MS       wait MS milliseconds before the first byte of the reply
  stall:MS      send the status and headers, then wait MS before the body
  trickle:MS    send the body one byte every MS milliseconds
  truncate      announce the full Content-Length, send half, then close
  halt:MS       send half the body, then wait MS before the rest
  hold:MS       send half the body, then one byte every half second for MS
                (a transfer under way that no read time-out ends), then the
                rest; a client that closes the connection ends it at once
  overlong      announce a Content-Length 16 bytes short of the body sent
  drop          close the connection without any reply (a TCP reset)
  garbage       answer with bytes that are not HTTP
  big:N         replace the body with N deterministic bytes
  corrupt       change the body's last byte (an empty body becomes one
                byte), so its digest no longer matches
  chunked       send the body with chunked transfer coding, no Content-Length
  badjson       keep the status, but send only the first half of the body
                (an empty body becomes '{"'), so it is not JSON
  norange       ignore a Range header: the whole file, 200
  range416      answer any Range header with 416
  etag:TAG      serve the file under the ETag "TAG" (another version, as
                far as If-Range can tell)
Client files carry an ETag and answer a single Range (206, 416, If-Range);
--delay-ms N waits before every reply and --rate-cap N paces each
connection to N bytes a second.

Test control (JSON bodies and replies):
  POST   /control/fault     {"path": "/client/files/...", "fault": "status:404",
                             "times": 1}: apply a fault to every request whose
                             path starts with "path" (only the next "times"
                             ones when given); for clients that build their
                             URLs themselves
  DELETE /control/fault     remove every such fault
  GET    /control/faults    list them
  POST   /control/signing   {"space": S, "fault": NAME}: the signature fault
                             (signing.py lists them; "" for none) of every
                             manifest fetched with ?sigspace=S
  POST   /control/release   {"release": 2}: publish another client release
                             (new client version, changed files, one file
                             retired and one added)
  GET    /control/sent      with --count-sent: the body bytes the client
                             acknowledged in each 100 ms since the start
                             (or the last DELETE; replies to /control/
                             not counted),
                             {"bucketMs": 100, "buckets": [[n, bytes]...]},
                             n counting from an arbitrary zero; DELETE
                             answers {"bucket": n} for the present one
  GET    /control/requests  the last 4000 requests (method, path, query,
                             headers, the reply's status, the body bytes
                             sent and "seq", numbering them from 1) and
                             "last", the newest seq; ?since=N gives those
                             after seq N; DELETE clears the list
  POST   /control/accounts  change an account space: settings, demanded
                             challenge layers, proof-of-work difficulty,
                             locks, bans, realms, forced refusals; GET (or
                             any POST) returns its settings, files, the mails
                             sent and the picture codes issued (accounts.py)

Command line:
  standin.py [--host 127.0.0.1] [--http-port N] [--https-port N]
             [--untrusted-https-port N] [--ca-dir DIR] [--state FILE]
             [--release N] [--manifest-files N] [--bench-channels]
             [--launcher-version V]
             [--launcher-file PATH] [--client-file PATH=LOCALFILE]...
             [--accounts password|none] [--account-state DIR]
             [--fault PATH=SPEC]...
             [--max-lifetime SECONDS] [--log FILE] [--count-sent]

  A port of 0 picks a free one; -1 disables that listener (HTTPS is off by
  default when the CA directory holds no certificate). The untrusted listener
  (off unless asked for) serves the same content with a certificate from a
  CA that nobody trusts. The chosen ports are printed and, with --state,
  written to a JSON file: pid, host, http_port, https_port,
  untrusted_https_port, http_base, https_base, untrusted_https_base, ca_pem,
  account_state (the account service's state folder: a fresh temporary
  one unless --account-state names one).
  The CA comes from tools/make-test-ca (build/testca by default).

See docs/standin-service.md for how the tests start it and how HTTPS is
trusted in the test Wine prefix.
"""

import argparse
import base64
import collections
import fcntl
import json
import os
import random
import re
import select
import socket
import ssl
import struct
import sys
import termios
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit, urlencode, unquote

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import accounts  # noqa: E402
import catalog  # noqa: E402
import signing  # noqa: E402

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
MAX_REQUEST_BODY = 16 * 1024 * 1024
CHUNK = 65536


class Reply:
    """One answer: status, extra header lines, and a body given either as
    bytes or as a length plus a function producing it in pieces."""

    def __init__(self, status=200, body=b"", content_type="application/octet-stream", headers=None,
                 raw_headers=None, stream=None, length=None):
        self.status = status
        self.body = body
        self.content_type = content_type
        self.headers = headers or []          # (name, value) pairs
        self.raw_headers = raw_headers or []  # complete lines, sent verbatim
        self.stream = stream                  # callable yielding bytes, or None
        self.length = len(body) if stream is None else length


def json_reply(obj, status=200):
    return Reply(status, json.dumps(obj, indent=2).encode("utf-8"), "application/json")


def pattern_bytes(n):
    """N bytes of a fixed pattern, produced in 64 KiB pieces."""
    block = bytes(random.Random("bytes").randbytes(CHUNK))

    def stream():
        left = n
        while left > 0:
            piece = block[:min(left, CHUNK)]
            left -= len(piece)
            yield piece
    return stream


class Service:
    """State shared by every request thread: the catalog (replaced whole on a
    release change), path faults, and the request log."""

    def __init__(self, args):
        self.args = args
        self.lock = threading.Lock()
        self.pinned = {}       # release -> Catalog, for /client/r<N>/
        self.catalog = self._build(args.release)
        self.path_faults = []  # dicts: path, fault, times (None = always)
        self.requests = collections.deque(maxlen=4000)
        self.logged = 0        # seq of the newest request
        self.routes = []       # (prefix, handler), longest prefix first
        self.accounts = accounts.Accounts(args.account_state)
        self.signer = signing.Signer()
        self.sent = collections.Counter()  # 100 ms bucket -> body bytes (--count-sent)
        self.counts = set()                # WireCount of each body being sent
        if args.count_sent:
            threading.Thread(target=self._count_sent, daemon=True).start()
        for spec in args.fault:
            path, _, fault = spec.partition("=")
            self.path_faults.append({"path": path, "fault": fault, "times": None})

    def counting(self, count, on):
        with self.lock:
            if on:
                self.counts.add(count)
            else:
                self.counts.discard(count)

    def _count_sent(self):
        while True:
            time.sleep(0.01)
            with self.lock:
                counts = list(self.counts)
            for count in counts:
                if not count.look():
                    self.counting(count, False)

    def pinned_catalog(self, release):
        """The catalog of a release named in the URL, built once."""
        with self.lock:
            if release == self.catalog.release:
                return self.catalog
            built = self.pinned.get(release)
        if built is None:
            built = self._build(release)
            with self.lock:
                built = self.pinned.setdefault(release, built)
        return built

    def _build(self, release):
        a = self.args
        client_files = {}
        for spec in a.client_file:
            path, _, local = spec.partition("=")
            client_files[path] = local
        return catalog.Catalog(release=release, launcher_version=a.launcher_version,
                               launcher_file=a.launcher_file, client_files=client_files,
                               bulk_files=a.manifest_files, accounts=a.accounts,
                               bench_channels=a.bench_channels)

    def route(self, prefix, handler):
        """Registers a handler for every path starting with `prefix`; the
        account service (/api/) plugs in here."""
        self.routes.append((prefix, handler))
        self.routes.sort(key=lambda r: -len(r[0]))

    def take_path_faults(self, path):
        out = []
        with self.lock:
            for f in self.path_faults:
                if path.startswith(f["path"]) and (f["times"] is None or f["times"] > 0):
                    out.append(f["fault"])
                    if f["times"] is not None:
                        f["times"] -= 1
            self.path_faults = [f for f in self.path_faults if f["times"] is None or f["times"] > 0]
        return out


# --- Endpoints -------------------------------------------------------------
# Each takes (service, request) and returns a Reply; `request` is the handler
# with .path_only, .query, .body, .origin.

PINNED_RELEASE = re.compile(r"^/client/r([0-9]{1,3})/")


def handle_client(svc, req):
    cat = svc.catalog
    path = req.path_only
    files_prefix = catalog.FILES_PREFIX
    pinned = PINNED_RELEASE.match(path)
    if pinned:
        release = int(pinned.group(1))
        if release < 1:
            return json_reply({"error": "release must be at least 1"}, 404)
        cat = svc.pinned_catalog(release)
        path = "/client/" + path[pinned.end():]
        files_prefix = pinned.group(0) + "files/"
    if path.startswith(catalog.FILES_PREFIX):
        entry = cat.files.get(unquote(path[len(catalog.FILES_PREFIX):]))
        if entry is None:
            return json_reply({"error": "no such file"}, 404)
        return Reply(200, entry.content(), headers=[("ETag", '"%s"' % entry.sha256[:20]),
                                                    ("Accept-Ranges", "bytes")])
    name = path[len("/client/"):]
    # A manifest's signature lives beside it, at its path + ".minisig".
    signature = name.endswith(".minisig")
    if signature:
        name = name[:-len(".minisig")]
    channel = None
    if name == "manifest.json":
        channel = "stable"
    elif name.startswith("manifest-") and name.endswith(".json"):
        channel = name[len("manifest-"):-len(".json")]
    launcher_fault = req.query.get("launcherFault", [""])[0]
    if not re.fullmatch(r"[a-z0-9:,]*", launcher_fault):
        return json_reply({"error": "bad launcherFault"}, 400)
    schema = req.query.get("schema", ["1"])[0]
    supported = req.query.get("supported", [""])[0]
    if not schema.isdigit() or not re.fullmatch(r"[0-9.,]*", supported):
        return json_reply({"error": "bad schema or supported"}, 400)
    supported = [v for v in supported.split(",") if v]
    text = (cat.manifest(channel, req.origin, files_prefix, launcher_fault, int(schema), supported)
            if channel else None)
    if text is None:
        return json_reply({"error": "no such manifest"}, 404)
    space = req.query.get("accountSpace", [""])[0]
    if space:
        # A test's own account service, apart from everyone else's.
        if not accounts.SPACE_NAME.match(space):
            return json_reply({"error": "bad accountSpace"}, 400)
        doc = json.loads(text)
        doc["accounts"]["apiBase"] = req.origin + accounts.SPACE_PREFIX + space
        text = json.dumps(doc, indent=2).encode("utf-8")
    # Every manifest is signed; a release's sequence grows with the release.
    fault = svc.signer.fault_for(req.query)
    if fault and fault not in signing.FAULTS:
        return json_reply({"error": "unknown signature fault"}, 400)
    if signature:
        other = svc.pinned_catalog(cat.release + 1).manifest(channel, req.origin, files_prefix, launcher_fault,
                                                             int(schema), supported)
        sig = svc.signer.signature(text, 100 + cat.release, fault, other)
        if sig is None:
            return json_reply({"error": "no signature published"}, 404)
        return Reply(200, sig, "text/plain")
    return Reply(200, svc.signer.served_manifest(text, fault), "application/json")


def handle_launcher(svc, req):
    cat = svc.catalog
    if req.path_only != catalog.LAUNCHER_PREFIX + cat.launcher_name:
        return json_reply({"error": "no such launcher build"}, 404)
    return Reply(200, cat.launcher.content())


def handle_echo(svc, req):
    if req.query.get("format", [""])[0] == "text":
        # A line-based form for clients without a JSON parser at hand.
        lines = ["method " + req.command, "path " + req.path_only, "query " + req.query_text]
        lines += ["header %s: %s" % (k, v) for k, v in req.headers.items()]
        text = "\n".join(lines).encode("utf-8") + b"\nbody\n" + req.body
        return Reply(200, text, "text/plain; charset=utf-8")
    return json_reply({
        "method": req.command,
        "path": req.path_only,
        "query": req.query_text,
        "headers": [[k, v] for k, v in req.headers.items()],
        "body": req.body.decode("utf-8", "replace"),
        "bodyBase64": base64.b64encode(req.body).decode("ascii"),
        "bodyLength": len(req.body),
    })


def handle_headers(svc, req):
    # The lines go out byte for byte, so tests can check how the client trims
    # and folds names and values.
    lines = req.query.get("set", [])
    return Reply(200, b"ok", "text/plain", raw_headers=lines)


def handle_bytes(svc, req):
    try:
        n = int(req.query.get("n", ["0"])[0])
    except ValueError:
        return json_reply({"error": "n must be a number"}, 400)
    if n < 0 or n > 1 << 34:
        return json_reply({"error": "n out of range"}, 400)
    reply = Reply(200, stream=pattern_bytes(n), length=n)
    if req.query.get("chunked", ["0"])[0] == "1":
        reply.headers.append(("X-Standin-Chunked", "1"))
    return reply


def handle_status(svc, req):
    try:
        code = int(req.path_only[len("/status/"):])
    except ValueError:
        return json_reply({"error": "bad status"}, 400)
    if code < 100 or code > 999:
        return json_reply({"error": "bad status"}, 400)
    return Reply(code, b"", "text/plain")


def handle_health(svc, req):
    return Reply(200, b"ok", "text/plain")


def handle_api(svc, req):
    status, doc, content_type, headers = svc.accounts.handle(req)
    return Reply(status, accounts.encode_body(doc), content_type or "application/json", headers=list(headers))


def handle_control(svc, req):
    what = req.path_only[len("/control/"):]
    try:
        doc = json.loads(req.body.decode("utf-8")) if req.body else {}
    except ValueError:
        return json_reply({"error": "bad JSON"}, 400)
    if what == "fault" and req.command == "POST":
        times = doc.get("times")
        with svc.lock:
            svc.path_faults.append({"path": str(doc.get("path", "/")), "fault": str(doc.get("fault", "")),
                                    "times": int(times) if times is not None else None})
        return json_reply({"ok": True})
    if what == "fault" and req.command == "DELETE":
        with svc.lock:
            svc.path_faults = []
        return json_reply({"ok": True})
    if what == "faults":
        with svc.lock:
            return json_reply({"faults": list(svc.path_faults)})
    if what == "release" and req.command == "POST":
        release = int(doc.get("release", 1))
        if release < 1:
            return json_reply({"error": "release must be at least 1"}, 400)
        built = svc._build(release)
        svc.catalog = built
        return json_reply({"ok": True, "clientVersion": built.client_version})
    if what == "signing" and req.command == "POST":
        fault = str(doc.get("fault", ""))
        space = str(doc.get("space", ""))
        if not space or (fault and fault not in signing.FAULTS):
            return json_reply({"error": "need a space and a known fault (or none)"}, 400)
        svc.signer.set_space(space, fault)
        return json_reply({"ok": True})
    if what == "sent" and req.command == "DELETE":
        with svc.lock:
            svc.sent.clear()
        return json_reply({"ok": True, "bucket": int(time.monotonic() * 10)})
    if what == "sent":
        with svc.lock:
            buckets = sorted(svc.sent.items())
        return json_reply({"bucketMs": 100, "buckets": [[n, b] for n, b in buckets]})
    if what == "requests" and req.command == "DELETE":
        with svc.lock:
            svc.requests.clear()
        return json_reply({"ok": True})
    if what == "requests":
        try:
            since = int(req.query.get("since", ["0"])[0])
        except ValueError:
            return json_reply({"error": "since must be a number"}, 400)
        with svc.lock:
            seen = [r for r in svc.requests if r["seq"] > since]
            last = svc.logged
        return json_reply({"requests": seen, "last": last})
    if what == "accounts":
        status, reply = svc.accounts.control(doc if isinstance(doc, dict) else {}, req.query)
        return json_reply(reply, status)
    return json_reply({"error": "unknown control"}, 404)


def default_routes(svc):
    svc.route("/client/", handle_client)
    svc.route(catalog.LAUNCHER_PREFIX, handle_launcher)
    svc.route("/echo", handle_echo)
    svc.route("/headers", handle_headers)
    svc.route("/bytes", handle_bytes)
    svc.route("/status/", handle_status)
    svc.route("/health", handle_health)
    svc.route(accounts.API_PREFIX, handle_api)
    svc.route(accounts.SPACE_PREFIX, handle_api)
    svc.route("/control/", handle_control)


# --- HTTP handling ---------------------------------------------------------

class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "EmberlaneStandin/1.0"
    service = None  # set on the class before serving

    def log_message(self, fmt, *args):
        log = self.service.args.log_file
        if log:
            log.write("%s %s\n" % (self.server.scheme, fmt % args))
            log.flush()

    def setup(self):
        super().setup()
        # Headers and body go out in separate writes; on a kept connection
        # Nagle's rule would hold the body back until the client's delayed
        # acknowledgement (tens of milliseconds per reply).
        try:
            self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        except OSError:
            pass

    def handle(self):
        # A client that gives up (time-outs, TLS refusal of an untrusted
        # certificate, cancelled downloads) is ordinary here, not an error.
        try:
            super().handle()
        except (ConnectionError, ssl.SSLError, socket.timeout, OSError):
            pass

    def do_GET(self):
        self.dispatch()

    do_POST = do_PUT = do_DELETE = do_PATCH = do_HEAD = do_GET

    def __getattr__(self, name):
        # Any other verb (even "post" in lower case) reaches the endpoints,
        # so clients' verbs can be checked as sent.
        if name.startswith("do_"):
            return self.dispatch
        raise AttributeError(name)

    def dispatch(self):
        svc = self.service
        parts = urlsplit(self.path)
        self.path_only = parts.path
        self.query_text = parts.query
        self.query = parse_qs(parts.query, keep_blank_values=True)
        # The manifest points back at the address the client used.
        host = self.headers.get("Host", "")
        if not host or any(c in host for c in "/ \t@?#"):
            host = "%s:%d" % (svc.args.host, self.server.server_address[1])
        self.origin = "%s://%s" % (self.server.scheme, host)
        # Client files and manifests are served on a kept connection, as a
        # real web server does, so downloaders can reuse it; everything else
        # (and every fault) closes it after the reply.
        self.close_connection = not (self.path_only.startswith(("/client/", catalog.LAUNCHER_PREFIX)) and
                                     self.command in ("GET", "HEAD") and
                                     self.headers.get("Connection", "").lower() != "close")

        # Request body (capped: input from the network is hostile even here).
        length = int(self.headers.get("Content-Length", "0") or "0")
        if length > MAX_REQUEST_BODY:
            self.send_reply(json_reply({"error": "request too large"}, 413))
            return
        self.body = self.rfile.read(length) if length > 0 else b""
        self.log_entry = {"method": self.command, "path": self.path_only, "query": self.query_text,
                             "scheme": self.server.scheme, "headers": [[k, v] for k, v in self.headers.items()],
                          "bodyLength": len(self.body), "bytesSent": 0}
        with svc.lock:
            svc.logged += 1
            self.log_entry["seq"] = svc.logged
            svc.requests.append(self.log_entry)

        # Faults asked for by the URL, then faults set on the path.
        faults = []
        for value in self.query.get("fault", []):
            faults += [f for f in value.split(",") if f]
        for value in svc.take_path_faults(self.path_only):
            faults += [f for f in value.split(",") if f]
        opts = {}
        for f in faults:
            name, _, arg = f.partition(":")
            opts[name] = arg
        if faults:
            self.close_connection = True

        # A round trip's worth of waiting before every reply (--delay-ms).
        if svc.args.delay_ms > 0:
            time.sleep(svc.args.delay_ms / 1000.0)
        # Faults that replace the whole exchange.
        if "drop" in opts:
            self.reset_connection()
            return
        if "garbage" in opts:
            self.wfile.write(b"\x16\x03 this is not HTTP \x00\xff\r\n\r\n")
            return
        if "slow" in opts:
            time.sleep(int(opts["slow"] or "1000") / 1000.0)
        # A status or redirect in place of the endpoint, or the endpoint itself.
        if "status" in opts:
            code = int(opts["status"] or "500")
            reply = json_reply({"error": "injected", "status": code}, code)
            if code in (429, 503):
                reply.headers.append(("Retry-After", "1"))
        elif "redirect" in opts:
            query = [(k, v) for k, vs in self.query.items() for v in vs if k != "fault"]
            target = self.origin + self.path_only + ("?" + urlencode(query) if query else "")
            reply = Reply(302, b"moved", "text/plain", headers=[("Location", target)])
        else:
            handler = None
            for prefix, h in svc.routes:
                if self.path_only == prefix.rstrip("/") or self.path_only.startswith(prefix):
                    handler = h
                    break
            reply = handler(svc, self) if handler else json_reply({"error": "not found"}, 404)

        if "etag" in opts:
            reply.headers = [(n, '"%s"' % opts["etag"] if n == "ETag" else v) for n, v in reply.headers]
        if "range416" in opts and self.headers.get("Range"):
            reply = Reply(416, b"", reply.content_type, [("Content-Range", "bytes */%d" % reply.length)])
        elif "norange" not in opts:
            reply = byte_range(self, reply)
        # Faults that change the body.
        if "big" in opts:
            n = int(opts["big"] or "0")
            reply = Reply(reply.status, stream=pattern_bytes(n), length=n, content_type=reply.content_type)
        if "badjson" in opts:
            body = reply.body if reply.stream is None else b"".join(reply.stream())
            body = body[:len(body) // 2] if len(body) > 1 else b'{"'
            reply = Reply(reply.status, body, reply.content_type, reply.headers)
        if "corrupt" in opts:
            body = reply.body if reply.stream is None else b"".join(reply.stream())
            body = body[:-1] + bytes([body[-1] ^ 0xFF]) if body else b"X"
            reply = Reply(reply.status, body, reply.content_type, reply.headers)
        self.send_reply(reply, opts)

    def reset_connection(self):
        # SO_LINGER with a zero time-out turns close() into a reset.
        try:
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        except OSError:
            pass
        self.close_connection = True
        try:
            self.connection.close()
        except OSError:
            pass

    def send_reply(self, reply, opts=None):
        opts = opts or {}
        if getattr(self, "log_entry", None) is not None:
            self.log_entry["status"] = reply.status
        chunked = "chunked" in opts or any(n == "X-Standin-Chunked" for n, _ in reply.headers)
        length = reply.length
        announced = length
        if "overlong" in opts:
            announced = max(0, length - 16)
        head = ["HTTP/1.1 %d %s" % (reply.status, self.responses.get(reply.status, ("Status",))[0]),
                "Server: " + self.version_string(),
                "Date: " + self.date_time_string(),
                "Content-Type: " + reply.content_type]
        if self.close_connection:
            head.append("Connection: close")
        head.append("Transfer-Encoding: chunked" if chunked else "Content-Length: %d" % announced)
        head += ["%s: %s" % (n, v) for n, v in reply.headers if n != "X-Standin-Chunked"]
        head += reply.raw_headers
        self.wfile.write(("\r\n".join(head) + "\r\n\r\n").encode("latin-1"))
        self.wfile.flush()
        if self.command == "HEAD":
            return
        if "stall" in opts:
            time.sleep(int(opts["stall"] or "1000") / 1000.0)

        # The body, in pieces; a truncated one stops half-way and resets.
        pieces = reply.stream() if reply.stream is not None else iter([reply.body])
        limit = length // 2 if "truncate" in opts else None
        if "trickle" in opts:
            pieces = trickled(pieces, int(opts["trickle"] or "1000") / 1000.0)
        if "halt" in opts:
            pieces = halted(pieces, length // 2, int(opts["halt"] or "1000") / 1000.0)
        if "hold" in opts:
            pieces = held(pieces, length // 2, int(opts["hold"] or "1000") / 1000.0, self.connection)
        rate = Handler.service.args.rate_cap if Handler.service else 0
        if rate > 0:
            pieces = paced(pieces, rate)
        svc = Handler.service
        # The count is of what the service serves, not of its own reports.
        counted = svc is not None and svc.args.count_sent and not self.path.startswith("/control/")
        wire = WireCount(self.connection, svc) if counted else None
        if wire:
            pieces = sliced(pieces, 16384)
        sent = 0
        for piece in pieces:
            if limit is not None and sent + len(piece) > limit:
                piece = piece[:limit - sent]
            if piece:
                if chunked:
                    self.wfile.write(b"%x\r\n" % len(piece) + piece + b"\r\n")
                else:
                    self.wfile.write(piece)
            sent += len(piece)
            if wire:
                wire.written(len(piece))
            if getattr(self, "log_entry", None) is not None:
                self.log_entry["bytesSent"] = wire.delivered if wire else sent
            if limit is not None and sent >= limit:
                if wire:
                    wire.drain(getattr(self, "log_entry", None))
                # An orderly close (FIN) after the partial body: the client
                # sees the end of the stream before the announced length.
                self.wfile.flush()
                try:
                    self.connection.shutdown(socket.SHUT_WR)
                except OSError:
                    pass
                return
        if wire:
            wire.drain(getattr(self, "log_entry", None))
        if chunked:
            self.wfile.write(b"0\r\n\r\n")
        self.wfile.flush()


class WireCount:
    """Body bytes that reached the client, counted per 100 ms (--count-sent).

    What a write hands the system is not yet sent: the system keeps it until
    the client's window takes it, megabytes ahead of the client's reads. So
    the count goes by what the client has acknowledged (written, less what
    the socket still holds), looked at every 10 ms by the service's counting
    thread and, once the body is written, until the socket is empty. The
    send buffer stays the system's own size: a small one would make the
    client wait on this program for every few KiB, and the client's system
    takes such waits for a long round trip and grows its receive buffer."""

    def __init__(self, connection, service):
        self.connection = connection
        self.service = service
        self.lock = threading.Lock()
        self.total = 0      # body bytes written
        self.delivered = 0  # of them acknowledged, as last looked at
        service.counting(self, True)

    def _held(self):
        try:
            raw = fcntl.ioctl(self.connection.fileno(), termios.TIOCOUTQ, b"\0\0\0\0")
            return struct.unpack("i", raw)[0]
        except (OSError, ValueError):
            return None

    def look(self):
        """False once the socket is gone."""
        with self.lock:
            held = self._held()
            if held is None:
                return False
            now = min(self.total, max(self.delivered, self.total - held))
            if now > self.delivered:
                bucket = int(time.monotonic() * 10)
                with self.service.lock:
                    self.service.sent[bucket] += now - self.delivered
                self.delivered = now
            return True

    def written(self, n):
        with self.lock:
            self.total += n

    def drain(self, log_entry, longest=60.0):
        """Counts the rest as the client takes it; stops early when the
        client closes (or speaks: it has all it will take)."""
        end = time.monotonic() + longest
        while self.delivered < self.total and time.monotonic() < end:
            try:
                readable, _, _ = select.select([self.connection], [], [], 0.005)
            except (OSError, ValueError):
                break
            if not self.look() or readable:
                break
        self.service.counting(self, False)
        if log_entry is not None:
            log_entry["bytesSent"] = self.delivered


RANGE = re.compile(r"bytes=(\d+)-(\d*)")


def byte_range(req, reply):
    """A 200 reply carrying an ETag cut down to the one range asked for:
    206 with Content-Range, the whole file when If-Range names another
    version, 416 for a start at or past the end. Other range forms get the
    whole file, as a server may answer."""
    etag = next((v for n, v in reply.headers if n == "ETag"), None)
    asked = RANGE.fullmatch(req.headers.get("Range", "").strip())
    if reply.status != 200 or etag is None or reply.stream is not None or not asked:
        return reply
    if_range = req.headers.get("If-Range")
    if if_range is not None and if_range.strip() != etag:
        return reply
    size = len(reply.body)
    start = int(asked.group(1))
    end = min(int(asked.group(2)), size - 1) if asked.group(2) else size - 1
    if start >= size or end < start:
        return Reply(416, b"", reply.content_type, [("Content-Range", "bytes */%d" % size), ("ETag", etag)])
    return Reply(206, reply.body[start:end + 1], reply.content_type,
                 [("Content-Range", "bytes %d-%d/%d" % (start, end, size)), ("ETag", etag)])


def paced(pieces, rate):
    """The same bytes in 16 KiB pieces, no faster than `rate` bytes a
    second (per connection: each reply paces itself)."""
    start = time.monotonic()
    sent = 0
    for piece in pieces:
        for i in range(0, len(piece), 16384):
            part = piece[i:i + 16384]
            ahead = (sent + len(part)) / rate - (time.monotonic() - start)
            if ahead > 0:
                time.sleep(ahead)
            sent += len(part)
            yield part


def sliced(pieces, size):
    """The same bytes in pieces of at most `size` (so the log's count of a
    body follows it closely)."""
    for piece in pieces:
        for i in range(0, len(piece), size):
            yield piece[i:i + size]


def halted(pieces, at, pause):
    """The same bytes with a pause once `at` of them have gone (a
    connection that goes quiet part-way)."""
    sent = 0
    for piece in pieces:
        if sent < at <= sent + len(piece):
            yield piece[:at - sent]
            time.sleep(pause)
            yield piece[at - sent:]
        else:
            yield piece
        sent += len(piece)


def held(pieces, at, hold, connection):
    """The same bytes, but once `at` of them have gone, one byte each half
    second for `hold` seconds before the rest. Ends early, without the rest,
    when the client has closed the connection (nothing more is written to
    it, so the log's count stays what the client was sent)."""
    data = b"".join(pieces)
    yield data[:at]
    rest = data[at:]
    end = time.monotonic() + hold
    while rest and time.monotonic() < end:
        time.sleep(0.5)
        # Mid-reply, the client sends nothing: a readable socket is a close.
        readable, _, _ = select.select([connection], [], [], 0)
        if readable:
            return
        yield rest[:1]
        rest = rest[1:]
    yield rest


def trickled(pieces, pause):
    """The same bytes one at a time, each after a pause (a server that
    keeps a connection alive with almost nothing)."""
    for piece in pieces:
        for i in range(len(piece)):
            time.sleep(pause)
            yield piece[i:i + 1]


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def __init__(self, address, scheme, tls=None):
        self.scheme = scheme
        self.tls = tls
        super().__init__(address, Handler)

    def handle_error(self, request, client_address):
        # Broken connections are part of the job (faults, cancelled clients).
        log = Handler.service.args.log_file if Handler.service else None
        if log:
            log.write("%s error from %s: %s\n" % (self.scheme, client_address, sys.exc_info()[1]))
            log.flush()

    def server_bind(self):
        # Loopback's segments are 64 KiB, so a client's receive window opens
        # in steps of that size and the bytes sent come in lumps no real
        # line shows; counting them wants segments of an ordinary network.
        if Handler.service and Handler.service.args.count_sent:
            try:
                self.socket.setsockopt(socket.IPPROTO_TCP, socket.TCP_MAXSEG, 1448)
            except OSError:
                pass
        super().server_bind()

    def get_request(self):
        sock, addr = super().get_request()
        if self.tls is not None:
            # The handshake runs in the request's own thread (on first read),
            # so a client that stalls it cannot hold up the accept loop.
            sock = self.tls.wrap_socket(sock, server_side=True, do_handshake_on_connect=False)
        return sock, addr


def tls_context(cert, key):
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.minimum_version = ssl.TLSVersion.TLSv1_2
    ctx.load_cert_chain(cert, key)
    return ctx


def parse_args(argv):
    p = argparse.ArgumentParser(description="Stand-in for the Emberlane web service (see the module text).")
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--http-port", type=int, default=0)
    p.add_argument("--https-port", type=int, default=0)
    p.add_argument("--untrusted-https-port", type=int, default=-1)
    p.add_argument("--ca-dir", default=os.path.join(TOP, "build", "testca"))
    p.add_argument("--state", help="write the chosen ports here (JSON)")
    p.add_argument("--release", type=int, default=1)
    p.add_argument("--bench-channels", action="store_true",
                   help="publish the channels large (20 x 10 MiB) and small (5000 x 10 KiB)")
    p.add_argument("--manifest-files", type=int, default=0,
                   help="also publish channel 'bulk' with this many extra small files")
    p.add_argument("--launcher-version", default="2.2.0")
    p.add_argument("--launcher-file", help="serve this file as the launcher build")
    p.add_argument("--client-file", action="append", default=[], metavar="PATH=LOCALFILE",
                   help="publish a local file at this manifest path")
    p.add_argument("--accounts", default="password", choices=["password", "none"])
    p.add_argument("--delay-ms", type=int, default=0, help="wait this long before every reply (a round trip)")
    p.add_argument("--rate-cap", type=int, default=0, help="bytes a second at most per connection (0: no cap)")
    p.add_argument("--account-state", help="the account service's state folder (default: a fresh temporary one)")
    p.add_argument("--fault", action="append", default=[], metavar="PATH=SPEC",
                   help="apply a fault to every request below PATH")
    p.add_argument("--max-lifetime", type=float, default=0,
                   help="exit after this many seconds (a safety net for forgotten services)")
    p.add_argument("--log", help="append one line per request to this file")
    p.add_argument("--count-sent", action="store_true",
                   help="count body bytes the client has acknowledged per 100 ms (GET /control/sent)")
    return p.parse_args(argv)


def write_state(path, state):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        json.dump(state, f, indent=2)
        f.write("\n")
    os.replace(tmp, path)


def main(argv=None):
    args = parse_args(argv if argv is not None else sys.argv[1:])
    args.log_file = open(args.log, "a") if args.log else None
    svc = Service(args)
    default_routes(svc)
    Handler.service = svc

    # Listeners: plain, trusted TLS, untrusted TLS.
    servers = []
    state = {"pid": os.getpid(), "host": args.host, "ca_pem": os.path.join(args.ca_dir, "ca.pem"),
             "account_state": svc.accounts.state_dir}
    have_cert = os.path.exists(os.path.join(args.ca_dir, "server.pem"))
    plan = [("http", args.http_port, None),
            ("https", args.https_port if have_cert else -1, ("server.pem", "server.key")),
            ("untrusted_https", args.untrusted_https_port if have_cert else -1,
             ("untrusted-server.pem", "untrusted-server.key"))]
    for name, port, files in plan:
        if port < 0:
            state[name + "_port"] = 0
            state[name + "_base"] = ""
            continue
        tls = tls_context(*[os.path.join(args.ca_dir, f) for f in files]) if files else None
        server = Server((args.host, port), "https" if files else "http", tls)
        servers.append(server)
        state[name + "_port"] = server.server_address[1]
        state[name + "_base"] = "%s://%s:%d/" % (server.scheme, args.host, server.server_address[1])

    for server in servers:
        threading.Thread(target=server.serve_forever, daemon=True).start()
    if args.state:
        write_state(args.state, state)
    print(json.dumps(state), flush=True)

    # Serve until stopped (SIGTERM/SIGINT) or the lifetime ends.
    deadline = time.monotonic() + args.max_lifetime if args.max_lifetime > 0 else None
    try:
        while deadline is None or time.monotonic() < deadline:
            time.sleep(0.5)
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    import signal
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    sys.exit(main())
