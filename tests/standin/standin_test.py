"""Checks of the stand-in web service (tools/standin) from the outside: what
it publishes must be a manifest the launcher accepts, the files must hash to
their digests, and every fault must do what the network tests rely on."""

import calendar
import hashlib
import http.client
import json
import os
import re
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.request

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
FIXTURE = os.path.join(TOP, "tools", "standin", "fixture.py")


class Service:
    """One service started through the fixture script, for a test class."""

    def __init__(self, *extra):
        self.dir = tempfile.mkdtemp(prefix="standin-test-")
        self.state_path = os.path.join(self.dir, "state.json")
        args = [sys.executable, FIXTURE, "start", "--state", self.state_path]
        if extra:
            args += ["--"] + list(extra)
        subprocess.run(args, check=True, stdout=subprocess.DEVNULL)
        with open(self.state_path) as f:
            self.state = json.load(f)
        self.http = self.state["http_base"]
        self.https = self.state["https_base"]
        self.untrusted = self.state["untrusted_https_base"]
        self.tls = ssl.create_default_context(cafile=self.state["ca_pem"])

    def stop(self):
        subprocess.run([sys.executable, FIXTURE, "stop", "--state", self.state_path], check=True)

    def get(self, url, method="GET", body=None, headers=None):
        """(status, headers, body) of one request; HTTP errors are answers too."""
        req = urllib.request.Request(url, data=body, method=method, headers=headers or {})
        ctx = self.tls if url.startswith("https:") else None
        try:
            with urllib.request.urlopen(req, timeout=10, context=ctx) as r:
                return r.status, r.headers, r.read()
        except urllib.error.HTTPError as e:
            return e.code, e.headers, e.read()

    def raw(self, path, port=None):
        """The raw bytes a plain socket receives for a GET, until the server closes."""
        port = port or self.state["http_port"]
        s = socket.create_connection(("127.0.0.1", port), timeout=10)
        s.sendall(b"GET %s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n" % (path.encode(), port))
        data = b""
        try:
            while True:
                piece = s.recv(65536)
                if not piece:
                    break
                data += piece
        finally:
            s.close()
        return data


def split_reply(raw):
    head, _, body = raw.partition(b"\r\n\r\n")
    length = re.search(rb"Content-Length: (\d+)", head)
    return head, int(length.group(1)) if length else None, body


class PublishedContent(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.svc = Service()

    @classmethod
    def tearDownClass(cls):
        cls.svc.stop()

    def manifest(self, base, name="manifest.json"):
        status, _, body = self.svc.get(base + "client/" + name)
        self.assertEqual(status, 200, name)
        return json.loads(body)

    def test_manifest_follows_the_published_schema(self):
        for base in (self.svc.http, self.svc.https):
            doc = self.manifest(base)
            self.assertEqual(doc["schema"], 1)
            self.assertEqual(doc["channel"], "stable")
            self.assertEqual(doc["baseUrl"], base + "client/files/")
            self.assertTrue(doc["server"]["port"] > 0 and doc["server"]["ip"])
            for version in doc["game"]["supportedVersions"]:
                build = doc["client"][version]
                self.assertTrue(build["loader"] and build["dll"])
            paths = [f["path"] for f in doc["files"]]
            self.assertIn(doc["client"][version]["loader"], paths)
            self.assertIn(doc["client"][version]["dll"], paths)
            for f in doc["files"]:
                self.assertFalse(f["path"].startswith("/") or ".." in f["path"] or "\\" in f["path"], f)
                self.assertRegex(f["sha256"], "^[0-9a-f]{64}$")
            self.assertTrue(doc["launcher"]["url"].startswith(base))
            self.assertEqual(doc["accounts"]["apiBase"] + "/", base)

    def test_every_listed_file_hashes_to_its_digest(self):
        doc = self.manifest(self.svc.http, "manifest-beta.json")
        sizes = set()
        for f in doc["files"]:
            status, _, body = self.svc.get(doc["baseUrl"] + f["path"])
            self.assertEqual((status, len(body)), (200, f["size"]), f["path"])
            self.assertEqual(hashlib.sha256(body).hexdigest(), f["sha256"], f["path"])
            sizes.add(f["size"])
        self.assertTrue({0, 65536, 65537} <= sizes)
        status, _, body = self.svc.get(doc["launcher"]["url"])
        self.assertEqual(hashlib.sha256(body).hexdigest(), doc["launcher"]["sha256"])

    def test_launcher_fault_spoils_only_that_manifests_build_download(self):
        clean = self.manifest(self.svc.http)["launcher"]
        spoilt = self.manifest(self.svc.http, "manifest.json?launcherFault=corrupt")["launcher"]
        self.assertEqual(spoilt["sha256"], clean["sha256"])
        self.assertEqual(spoilt["url"], clean["url"] + "?fault=corrupt")
        body = self.svc.get(spoilt["url"])[2]
        self.assertNotEqual(hashlib.sha256(body).hexdigest(), spoilt["sha256"])
        self.assertEqual(hashlib.sha256(self.svc.get(clean["url"])[2]).hexdigest(), clean["sha256"])
        self.assertEqual(self.svc.get(self.svc.http + "client/manifest.json?launcherFault=a%20b")[0], 400)

    def test_manifests_are_signed_and_each_signature_fault_spoils_it(self):
        """minisign itself (not the launcher's reader) judges what is served."""
        work = tempfile.mkdtemp(prefix="standin-sig-")
        public = os.path.join(TOP, "fixtures", "signing", "test.pub")

        def fetched(query):
            base = self.svc.http + "client/manifest.json"
            status, _, body = self.svc.get(base + query)
            sig_status, _, sig = self.svc.get(base + ".minisig" + query)
            return body, sig_status, sig

        def minisign_accepts(body, sig):
            with open(os.path.join(work, "m.json"), "wb") as f:
                f.write(body)
            with open(os.path.join(work, "m.json.minisig"), "wb") as f:
                f.write(sig)
            return subprocess.run(["minisign", "-Vq", "-p", public, "-m", os.path.join(work, "m.json")],
                                  capture_output=True).returncode == 0

        def terms(sig):
            found = re.search(rb"^trusted comment: emberlane-manifest sequence=(\d+) expires=(\S+)$", sig, re.M)
            self.assertTrue(found, sig[:200])
            expires = calendar.timegm(time.strptime(found.group(2).decode(), "%Y-%m-%dT%H:%M:%SZ"))
            return int(found.group(1)), expires

        body, status, sig = fetched("")
        self.assertEqual(status, 200)
        self.assertTrue(minisign_accepts(body, sig))
        sequence, expires = terms(sig)
        self.assertEqual(sequence, 101)
        self.assertGreater(expires, time.time() + 86400)
        rows = [  # fault, .minisig status, minisign accepts it, sequence, expired
            ("unsigned", 404, False, None, None),
            ("unknownkey", 200, False, None, None),
            ("bodychanged", 200, False, None, None),
            ("commentchanged", 200, False, None, None),
            ("othermanifest", 200, False, None, None),
            ("lowerseq", 200, True, 100, False),
            ("expired", 200, True, 101, True),
            ("huge", 200, False, None, None),
            ("malformed", 200, False, None, None),
        ]
        for fault, want_status, accepted, want_sequence, expired in rows:
            with self.subTest(fault=fault):
                body, status, sig = fetched("?sig=" + fault)
                self.assertEqual(status, want_status)
                if status != 200:
                    continue
                self.assertEqual(minisign_accepts(body, sig), accepted)
                if fault == "huge":
                    self.assertGreater(len(sig), 1 << 20)
                if want_sequence is not None:
                    sequence, expires = terms(sig)
                    self.assertEqual(sequence, want_sequence)
                    self.assertEqual(expires < time.time(), expired)
        # A signing space switches the fault for its manifest's address.
        self.assertEqual(self.svc.get(self.svc.http + "control/signing", "POST",
                                      json.dumps({"space": "t1", "fault": "bodychanged"}).encode())[0], 200)
        body, _, sig = fetched("?sigspace=t1")
        self.assertFalse(minisign_accepts(body, sig))
        self.svc.get(self.svc.http + "control/signing", "POST", json.dumps({"space": "t1", "fault": ""}).encode())
        body, _, sig = fetched("?sigspace=t1")
        self.assertTrue(minisign_accepts(body, sig))

    def test_channels(self):
        stable = self.manifest(self.svc.http)
        beta = self.manifest(self.svc.http, "manifest-beta.json")
        self.assertEqual(beta["channel"], "beta")
        self.assertEqual(len(beta["files"]), len(stable["files"]) + 1)
        self.assertEqual(self.svc.get(self.svc.http + "client/manifest-nightly.json")[0], 404)

    def test_content_is_the_same_in_every_run(self):
        other = Service()
        try:
            ours = self.manifest(self.svc.http)["files"]
            theirs = json.loads(other.get(other.http + "client/manifest.json")[2])["files"]
            self.assertEqual(ours, theirs)
        finally:
            other.stop()

    def test_release_switch_changes_retires_and_adds_files(self):
        before = {f["path"]: f["sha256"] for f in self.manifest(self.svc.http)["files"]}
        status, _, _ = self.svc.get(self.svc.http + "control/release", "POST", b'{"release": 2}')
        self.assertEqual(status, 200)
        try:
            doc = self.manifest(self.svc.http)
            after = {f["path"]: f["sha256"] for f in doc["files"]}
            self.assertEqual(doc["clientVersion"], "1.4.2")
            self.assertNotIn("Emberlane/plugins/legacy.dll", after)
            self.assertIn("Emberlane/plugins/voice.dll", after)
            self.assertNotEqual(before["Emberlane/Emberlane.dll"], after["Emberlane/Emberlane.dll"])
            self.assertEqual(before["Emberlane/EmberlaneLoader.exe"], after["Emberlane/EmberlaneLoader.exe"])
        finally:
            self.svc.get(self.svc.http + "control/release", "POST", b'{"release": 1}')

    def test_https_needs_the_test_ca(self):
        self.assertEqual(self.svc.get(self.svc.https + "health")[2], b"ok")
        with self.assertRaises(urllib.error.URLError):
            self.svc.get(self.svc.untrusted + "health")

    def test_echo_reports_method_headers_and_body(self):
        status, _, body = self.svc.get(self.svc.http + "echo?x=1", "DELETE", b"{}")
        doc = json.loads(body)
        self.assertEqual((doc["method"], doc["query"], doc["body"]), ("DELETE", "x=1", "{}"))
        self.assertIn(["Content-Length", "2"], doc["headers"])

    def test_account_space_gets_its_own_api_base(self):
        doc = self.manifest(self.svc.http, "manifest.json?accountSpace=t-1")
        self.assertEqual(doc["accounts"]["apiBase"], self.svc.http + "s/t-1")
        self.assertEqual(self.svc.get(self.svc.http + "client/manifest.json?accountSpace=a/b")[0], 400)


class Faults(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.svc = Service("--fault", "/client/files/Emberlane/README.txt=status:410")

    @classmethod
    def tearDownClass(cls):
        cls.svc.stop()

    def test_status_and_retry_after(self):
        status, headers, _ = self.svc.get(self.svc.http + "client/manifest.json?fault=status:503")
        self.assertEqual((status, headers["Retry-After"]), (503, "1"))

    def test_redirect_names_the_clean_url(self):
        head, _, _ = split_reply(self.svc.raw("/client/manifest.json?fault=redirect&x=1"))
        self.assertIn(b"HTTP/1.1 302", head)
        self.assertIn(b"Location: %sclient/manifest.json?x=1" % self.svc.http.encode(), head)

    def test_body_faults(self):
        # (query, check on announced length and received body)
        cases = [
            ("n=1000&fault=truncate", lambda n, body: n == 1000 and len(body) == 500),
            ("n=1000&fault=overlong", lambda n, body: n == 984 and len(body) == 1000),
            ("n=10&fault=big:70000", lambda n, body: n == 70000 and len(body) == 70000),
            ("n=0&fault=corrupt", lambda n, body: n == 1 and body == b"X"),
        ]
        for query, check in cases:
            _, n, body = split_reply(self.svc.raw("/bytes?" + query))
            self.assertTrue(check(n, body), "%s: announced %s, got %d bytes" % (query, n, len(body)))

    def test_chunked_reply_has_no_length(self):
        head, n, body = split_reply(self.svc.raw("/bytes?n=70000&fault=chunked"))
        self.assertIsNone(n)
        self.assertIn(b"Transfer-Encoding: chunked", head)
        self.assertEqual(len(self.svc.get(self.svc.http + "bytes?n=70000&chunked=1")[2]), 70000)

    def test_drop_and_garbage(self):
        try:
            data = self.svc.raw("/health?fault=drop")
        except ConnectionResetError:
            data = b""
        self.assertEqual(data, b"")
        self.assertNotIn(b"HTTP/1.1", self.svc.raw("/health?fault=garbage"))

    def test_byte_ranges_of_client_files(self):
        url = self.svc.http + "client/files/Emberlane/data/realms.dat"
        _, headers, whole = self.svc.get(url)
        etag, n = headers["ETag"], len(whole)
        cases = [
            ({"Range": "bytes=100-"}, 206, whole[100:], "bytes 100-%d/%d" % (n - 1, n)),
            ({"Range": "bytes=10-19", "If-Range": etag}, 206, whole[10:20], "bytes 10-19/%d" % n),
            ({"Range": "bytes=10-", "If-Range": '"another"'}, 200, whole, None),
            ({"Range": "bytes=%d-" % n}, 416, b"", "bytes */%d" % n),
            ({"Range": "bytes=-5"}, 200, whole, None),
        ]
        for sent, status, body, content_range in cases:
            got_status, got_headers, got_body = self.svc.get(url, headers=sent)
            self.assertEqual((got_status, got_body), (status, body), sent)
            self.assertEqual(got_headers.get("Content-Range"), content_range, sent)

    def test_trickle_sends_a_byte_at_a_time(self):
        start = time.monotonic()
        self.assertEqual(len(self.svc.get(self.svc.http + "bytes?n=4&fault=trickle:150")[2]), 4)
        self.assertGreaterEqual(time.monotonic() - start, 0.6)

    def test_hold_keeps_a_transfer_under_way_and_ends_with_the_client(self):
        # A reader that waits gets the whole body, a byte each half second
        # after the first half.
        _, _, body = self.svc.get(self.svc.http + "bytes?n=8&fault=hold:1200")
        self.assertEqual(len(body), 8)
        # A client that hangs up mid-hold: the service writes no more.
        self.svc.get(self.svc.http + "control/requests", "DELETE")
        port = self.svc.state["http_port"]
        s = socket.create_connection(("127.0.0.1", port), timeout=10)
        s.sendall(b"GET /bytes?n=4000&fault=hold:20000 HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n" % port)
        time.sleep(1.3)
        s.close()
        time.sleep(1.5)

        def sent():
            log = json.loads(self.svc.get(self.svc.http + "control/requests")[2])["requests"]
            return [r.get("bytesSent") for r in log if r["path"] == "/bytes"]
        first = sent()
        time.sleep(1.5)
        self.assertEqual(sent(), first)
        self.assertTrue(first and 2000 <= first[0] <= 2004, first)

    def test_slow_first_byte(self):
        start = time.monotonic()
        self.assertEqual(self.svc.get(self.svc.http + "health?fault=slow:600")[2], b"ok")
        self.assertGreaterEqual(time.monotonic() - start, 0.6)

    def test_raw_headers_keep_their_spacing(self):
        head, _, _ = split_reply(self.svc.raw("/headers?set=X-Mixed-Case%20%20:%20v%20&set=x-dup:a&set=X-Dup:b"))
        self.assertIn(b"\r\nX-Mixed-Case  : v \r\nx-dup:a\r\nX-Dup:b", head)

    def test_path_faults_from_the_command_line_and_control(self):
        self.assertEqual(self.svc.get(self.svc.http + "client/files/Emberlane/README.txt")[0], 410)
        rule = json.dumps({"path": "/client/files/Emberlane/data/", "fault": "status:404", "times": 1}).encode()
        self.assertEqual(self.svc.get(self.svc.http + "control/fault", "POST", rule)[0], 200)
        url = self.svc.http + "client/files/Emberlane/data/realms.dat"
        self.assertEqual([self.svc.get(url)[0], self.svc.get(url)[0]], [404, 200])

    def test_request_log(self):
        def log(since=None):
            url = self.svc.http + "control/requests" + ("" if since is None else "?since=%s" % since)
            return json.loads(self.svc.get(url)[2])
        self.svc.get(self.svc.http + "control/requests", "DELETE")
        self.svc.get(self.svc.http + "echo?marker=1")
        self.assertEqual([r["query"] for r in log()["requests"] if r["path"] == "/echo"], ["marker=1"])
        # A mark: only what came after it, whatever came before.
        mark = log(since=2 ** 63 - 1)
        self.assertEqual(mark["requests"], [])
        self.svc.get(self.svc.http + "echo?marker=2")
        after = log(since=mark["last"])
        self.assertEqual([r["query"] for r in after["requests"] if r["path"] == "/echo"], ["marker=2"])
        self.assertEqual([r["seq"] for r in after["requests"]][:1], [mark["last"] + 1])
        self.assertEqual(self.svc.get(self.svc.http + "control/requests?since=x")[0], 400)


class NetworkSwitches(unittest.TestCase):
    def test_delay_before_every_reply_and_rate_cap_per_connection(self):
        svc = Service("--delay-ms", "200", "--rate-cap", "200000")
        try:
            start = time.monotonic()
            self.assertEqual(svc.get(svc.http + "health")[2], b"ok")
            self.assertGreaterEqual(time.monotonic() - start, 0.2)
            start = time.monotonic()
            self.assertEqual(len(svc.get(svc.http + "bytes?n=100000")[2]), 100000)
            self.assertGreaterEqual(time.monotonic() - start, 0.2 + 0.4)
            log = json.loads(svc.get(svc.http + "control/requests")[2])
            sent = [r.get("bytesSent") for r in log["requests"] if r["path"] == "/bytes"]
            self.assertEqual(sent, [100000])
        finally:
            svc.stop()

    def test_count_sent_goes_by_what_the_client_took(self):
        # A client that stops reading: the system would take megabytes of
        # writes ahead of it, but the count stays near what it has read,
        # and comes to the whole body once it reads the rest.
        svc = Service("--count-sent", "--accounts", "none")
        n = 8 << 20
        try:
            svc.get(svc.http + "control/sent", method="DELETE")
            port = svc.state["http_port"]
            s = socket.create_connection(("127.0.0.1", port), timeout=10)
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 65536)
            s.sendall(b"GET /bytes?n=%d HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n" % (n, port))
            got = 0
            while got < 256 << 10:
                got += len(s.recv(65536))
            time.sleep(0.5)

            def counted():
                doc = json.loads(svc.get(svc.http + "control/sent")[2])
                return sum(b for _, b in doc["buckets"])
            early = counted()
            self.assertGreater(early, 0)
            self.assertLess(early, got + (1 << 20))
            while got < n + 40:  # the head is some 100 bytes
                piece = s.recv(65536)
                if not piece:
                    break
                got += len(piece)
                if got >= n and counted() >= n:
                    break
            s.close()
            deadline = time.monotonic() + 5
            while counted() < n and time.monotonic() < deadline:
                time.sleep(0.05)
            self.assertEqual(counted(), n)
            log = json.loads(svc.get(svc.http + "control/requests")[2])
            self.assertEqual([r.get("bytesSent") for r in log["requests"] if r["path"] == "/bytes"], [n])
        finally:
            svc.stop()


class BulkManifest(unittest.TestCase):
    def test_bulk_channel_lists_the_extra_files(self):
        svc = Service("--manifest-files", "3000")
        try:
            doc = json.loads(svc.get(svc.http + "client/manifest-bulk.json")[2])
            stable = json.loads(svc.get(svc.http + "client/manifest.json")[2])
            self.assertEqual(len(doc["files"]), len(stable["files"]) + 3000)
            last = doc["files"][-1]
            status, _, body = svc.get(doc["baseUrl"] + last["path"])
            self.assertEqual(hashlib.sha256(body).hexdigest(), last["sha256"])
        finally:
            svc.stop()


def png_pixels(data):
    """(width, height, RGB rows) of a truecolour PNG, checking every CRC."""
    import struct
    import zlib
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "no PNG signature"
    pos, chunks = 8, []
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        crc = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])[0]
        assert zlib.crc32(kind + body) & 0xFFFFFFFF == crc, "bad CRC in " + kind.decode()
        chunks.append((kind, body))
        pos += 12 + length
    assert [k for k, _ in chunks][0] == b"IHDR" and chunks[-1][0] == b"IEND"
    width, height, depth, colour = struct.unpack(">IIBB", chunks[0][1][:10])
    assert (depth, colour) == (8, 2)
    raw = zlib.decompress(b"".join(b for k, b in chunks if k == b"IDAT"))
    stride = 1 + width * 3
    assert len(raw) == height * stride
    rows = [raw[y * stride + 1:(y + 1) * stride] for y in range(height)]
    assert all(raw[y * stride] == 0 for y in range(height)), "rows use filter 0"
    return width, height, rows


class AccountService(unittest.TestCase):
    """The account API: what a client can get wrong against it, and what the
    service itself must get right (the proof-of-work rule, the picture, the
    token chain, the rate limit's wait)."""

    @classmethod
    def setUpClass(cls):
        cls.svc = Service()

    @classmethod
    def tearDownClass(cls):
        cls.svc.stop()

    def setUp(self):
        self.space = self.id().rsplit(".", 1)[-1][:60]
        self.control({"reset": True})
        self.api = self.svc.http + "s/%s/api/v1/" % self.space

    def call(self, method, path, body=None, token=None):
        req = urllib.request.Request(self.api + path, method=method,
                                     data=json.dumps(body).encode() if body is not None else None)
        if body is not None or method in ("POST", "DELETE"):
            req.add_header("Content-Type", "application/json")
        if token:
            req.add_header("Authorization", "Bearer " + token)
        try:
            with urllib.request.urlopen(req, timeout=10) as r:
                data = r.read()
                return r.status, r.headers, json.loads(data) if r.headers["Content-Type"] == "application/json" \
                    and data else data
        except urllib.error.HTTPError as e:
            return e.code, e.headers, json.loads(e.read())

    def control(self, doc):
        doc = dict(doc, space=self.space)
        status, _, body = self.svc.get(self.svc.http + "control/accounts", "POST", json.dumps(doc).encode())
        self.assertEqual(status, 200, body)
        return json.loads(body)

    def solve(self, challenge):
        """An independent solver: the smallest nonce meeting the difficulty."""
        salt = bytes.fromhex(challenge["salt"])
        n = 0
        while True:
            digest = hashlib.sha256(salt + str(n).encode()).digest()
            bits = int.from_bytes(digest, "big")
            if bits >> (256 - challenge["difficulty"]) == 0:
                return n
            n += 1

    def login(self, captcha=None, email="demo@emberlane.test", password="ember-demo-1"):
        body = {"email": email, "password": password}
        if captcha:
            body["captcha"] = captcha
        return self.call("POST", "auth/login", body)

    def test_proof_of_work_is_checked_by_the_rule(self):
        self.control({"layers": {"login": ["pow"]}, "powDifficulty": 12})
        status, _, reply = self.login()
        self.assertEqual((status, reply["error"], reply["captcha"]["required"]), (428, "captcha_required", ["pow"]))
        challenge = reply["captcha"]["challenge"]
        self.assertEqual((challenge["alg"], challenge["difficulty"]), ("sha256", 12))
        n = self.solve(challenge)
        # A nonce one short of the first qualifying one fails (unless it
        # qualifies too, which the solver above rules out).
        if n > 0:
            self.assertEqual(self.login({"pow": {"token": challenge["token"], "n": n - 1}})[2]["error"],
                             "captcha_failed")
            challenge = self.login()[2]["captcha"]["challenge"]
            n = self.solve(challenge)
        status, _, reply = self.login({"pow": {"token": challenge["token"], "n": n}})
        self.assertEqual(status, 200, reply)
        # A challenge answers once.
        self.assertEqual(self.login({"pow": {"token": challenge["token"], "n": n}})[2]["error"], "captcha_failed")

    def test_picture_is_a_png_of_the_recorded_code_and_the_code_is_checked(self):
        self.control({"layers": {"register": ["visual"]}})
        status, _, challenge = self.call("GET", "captcha/challenge?purpose=register")
        self.assertEqual((status, challenge["layers"]), (200, ["visual"]))
        self.assertNotIn("code", json.dumps(challenge))
        status, headers, png = self.call("GET", "captcha/image?token=" + challenge["token"])
        self.assertEqual((status, headers["Content-Type"]), (200, "image/png"))
        width, height, rows = png_pixels(png)
        dark = sum(1 for row in rows for i in range(0, len(row), 3) if max(row[i:i + 3]) < 160)
        self.assertGreater(dark, 6 * 100, "the digits are drawn")
        code = [c for c in self.control({})["captchas"] if c["token"] == challenge["token"]][0]["code"]
        self.assertRegex(code, "^[0-9]{6}$")
        form = {"email": "new@example.com", "password": "long enough", "displayName": "Newcomer"}
        wrong = str((int(code) + 1) % 1000000).zfill(6)
        reply = self.call("POST", "auth/register", dict(form, captcha={"visual": {"token": challenge["token"],
                                                                                  "answer": wrong}}))
        self.assertEqual(reply[2]["error"], "captcha_failed")
        status, _, reply = self.call("POST", "auth/register", form)
        self.assertEqual(status, 428)
        fresh = reply["captcha"]["challenge"]["token"]
        code = [c for c in self.control({})["captchas"] if c["token"] == fresh][0]["code"]
        status, _, reply = self.call("POST", "auth/register", dict(form, captcha={"visual": {"token": fresh,
                                                                                           "answer": code}}))
        self.assertEqual((status, reply["status"]), (201, "pending"))
        # Pending until the mailed link is followed.
        self.assertEqual(self.login(None, "new@example.com", "long enough")[2]["error"], "account_pending")
        mail = self.control({})["mails"][-1]
        self.assertEqual(mail["to"], "new@example.com")
        self.assertEqual(self.svc.get(mail["link"])[0], 200)
        self.assertEqual(self.login(None, "new@example.com", "long enough")[0], 200)

    def test_refresh_rotates_and_a_reused_token_ends_the_chain(self):
        tokens = self.login()[2]
        status, _, second = self.call("POST", "auth/refresh", {"refreshToken": tokens["refreshToken"]})
        self.assertEqual(status, 200)
        self.assertNotEqual(second["refreshToken"], tokens["refreshToken"])
        status, _, reply = self.call("POST", "auth/refresh", {"refreshToken": tokens["refreshToken"]})
        self.assertEqual((status, reply["error"]), (401, "refresh_reused"))
        # The reuse ended the rotated tokens too.
        self.assertEqual(self.call("POST", "auth/refresh", {"refreshToken": second["refreshToken"]})[0], 401)
        self.assertEqual(self.call("GET", "auth/whoami", token=second["accessToken"])[0], 401)
        # Sign-out ends a session.
        third = self.login()[2]
        self.assertEqual(self.call("GET", "auth/whoami", token=third["accessToken"])[0], 200)
        self.assertEqual(self.call("POST", "auth/logout", {"refreshToken": third["refreshToken"]},
                                   third["accessToken"])[0], 200)
        self.assertEqual(self.call("GET", "auth/whoami", token=third["accessToken"])[0], 401)

    def test_rate_limit_reports_its_wait(self):
        # (where the wait is reported, JSON retryAfter expected, header expected)
        for report, in_json, in_header in (("both", True, True), ("json", True, False),
                                           ("header", False, True), ("none", False, False)):
            self.control({"reset": True, "settings": {"rateLimits": {"login": {"max": 1, "window": 30}},
                                                      "rateReport": report}})
            self.assertEqual(self.login()[0], 200)
            status, headers, reply = self.login()
            self.assertEqual((status, reply["error"]), (429, "rate_limited"), report)
            self.assertEqual("retryAfter" in reply, in_json, report)
            if in_json:
                self.assertTrue(29 <= reply["retryAfter"] <= 30, reply)
            self.assertEqual(headers["Retry-After"] is not None, in_header, report)
            if in_header:
                self.assertEqual(headers["Retry-After"], "30")

    def test_characters_fill_three_slots_per_realm(self):
        token = self.login()[2]["accessToken"]
        for name in ("Alda", "Brynn", "Cato"):
            self.assertEqual(self.call("POST", "characters", {"name": name, "realm": "test-realm"}, token)[0], 201)
        status, _, reply = self.call("POST", "characters", {"name": "Dagny", "realm": "test-realm"}, token)
        self.assertEqual((status, reply["error"]), (409, "character_limit"))
        check = self.call("GET", "characters/available?name=alda&realm=test-realm")[2]
        self.assertEqual((check["valid"], check["available"]), (True, False))
        listed = self.call("GET", "characters?realm=test-realm", token=token)[2]
        self.assertEqual([c["slot"] for c in listed["characters"]], [1, 2, 3])
        status, _, body = self.call("DELETE", "characters/" + listed["characters"][1]["id"], token=token)
        self.assertEqual((status, body), (204, b""))
        status, _, reply = self.call("POST", "characters", {"name": "Dagny", "realm": "test-realm"}, token)
        self.assertEqual([c["slot"] for c in reply["characters"]], [1, 2, 3])
        session = self.call("POST", "play/sessions", {"serverKey": "test-realm",
                                                      "characterId": reply["characters"][1]["id"]}, token)[2]
        self.assertEqual((session["displayName"], session["server"]["port"]), ("Dagny", 7777))
        realm = self.call("GET", "realms")[2]["realms"][0]
        self.assertEqual(realm["players"], 13, "the play session counts")

    def test_accounts_survive_a_restart_in_the_state_folder(self):
        folder = tempfile.mkdtemp(prefix="standin-accounts-test-")
        first = Service("--account-state", folder)
        try:
            self.assertEqual(first.state["account_state"], folder)
            body = json.dumps({"email": "keep@example.com", "password": "long enough",
                               "displayName": "Keeper"}).encode()
            req = urllib.request.Request(first.http + "api/v1/auth/register", data=body, method="POST",
                                         headers={"Content-Type": "application/json"})
            urllib.request.urlopen(req, timeout=10).read()
        finally:
            first.stop()
        with open(os.path.join(folder, "default", "accounts.json")) as f:
            stored = json.load(f)["accounts"]["keep@example.com"]
        self.assertTrue(stored["password"].startswith("pbkdf2_sha256$"))
        self.assertNotIn("long enough", json.dumps(stored))
        second = Service("--account-state", folder)
        try:
            body = json.dumps({"email": "keep@example.com", "password": "long enough"}).encode()
            req = urllib.request.Request(second.http + "api/v1/auth/login", data=body, method="POST",
                                         headers={"Content-Type": "application/json"})
            with self.assertRaises(urllib.error.HTTPError) as refused:
                urllib.request.urlopen(req, timeout=10)
            self.assertEqual(json.loads(refused.exception.read())["error"], "account_pending")
        finally:
            second.stop()


if __name__ == "__main__":
    unittest.main()
