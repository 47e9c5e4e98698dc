"""Checks of the stand-in web service (tools/standin) from the outside: what
it publishes must be a manifest the launcher accepts, the files must hash to
their digests, and every fault must do what the network tests rely on."""

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

    def get(self, url, method="GET", body=None):
        """(status, headers, body) of one request; HTTP errors are answers too."""
        req = urllib.request.Request(url, data=body, method=method)
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

    def test_account_api_is_reserved(self):
        self.assertEqual(self.svc.get(self.svc.http + "api/v1/realms")[0], 404)


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
        self.svc.get(self.svc.http + "control/requests", "DELETE")
        self.svc.get(self.svc.http + "echo?marker=1")
        log = json.loads(self.svc.get(self.svc.http + "control/requests")[2])["requests"]
        self.assertEqual([r["query"] for r in log if r["path"] == "/echo"], ["marker=1"])


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


if __name__ == "__main__":
    unittest.main()
