"""Signing the stand-in's manifests the way the publisher does: `minisign`
with a key kept apart (here the test key in fixtures/signing, made once with
`minisign -G -W`, no password), the launcher's terms in the trusted comment.

Signature faults, by name (a manifest URL's `sig=NAME`, or for every request
of a signing space, POST /control/signing {"space": S, "fault": NAME} with
the URL carrying `sigspace=S`, so a test switches faults without changing
the manifest's address):
  unsigned        no signature published (404 for the .minisig)
  unknownkey      signed by a key no launcher trusts
  bodychanged     the manifest served differs from the bytes signed
  commentchanged  the trusted comment edited after signing
  othermanifest   the signature of another manifest
  lowerseq        the same manifest signed with a lower sequence
  expired         the terms expired a year ago
  huge            a 1 MiB signature file
  malformed       a signature file that is not one
"""

import hashlib
import os
import subprocess
import tempfile
import threading
import time

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TEST_KEY = os.path.join(TOP, "fixtures", "signing", "test.key")
FAULTS = ("unsigned", "unknownkey", "bodychanged", "commentchanged", "othermanifest", "lowerseq", "expired",
          "huge", "malformed")
# How long a freshly signed manifest is valid.
VALID_SECONDS = 30 * 86400


def utc(seconds):
    return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(seconds))


def terms(sequence, expires):
    return "emberlane-manifest sequence=%d expires=%s" % (sequence, expires)


class Signer:
    """Runs minisign, once per distinct (bytes, comment, key): signing is
    deterministic, so the same request gets the same file."""

    def __init__(self):
        self.lock = threading.Lock()
        self.cache = {}
        self.spaces = {}        # signing space -> fault name
        self.work = tempfile.mkdtemp(prefix="standin-signing-")
        self.other_key = None   # made on first use
        # One expiry for the whole run, so repeated fetches sign alike.
        self.expires = utc(time.time() + VALID_SECONDS)

    def _unknown_key(self):
        with self.lock:
            if self.other_key is None:
                key = os.path.join(self.work, "other.key")
                subprocess.run(["minisign", "-G", "-W", "-p", os.path.join(self.work, "other.pub"), "-s", key],
                               check=True, capture_output=True)
                self.other_key = key
            return self.other_key

    def sign(self, data, comment, key=TEST_KEY):
        cache_key = (hashlib.sha256(data).hexdigest(), comment, key)
        with self.lock:
            hit = self.cache.get(cache_key)
        if hit is not None:
            return hit
        fd, path = tempfile.mkstemp(dir=self.work)
        with os.fdopen(fd, "wb") as f:
            f.write(data)
        try:
            subprocess.run(["minisign", "-S", "-s", key, "-m", path, "-x", path + ".minisig", "-t", comment],
                           check=True, capture_output=True, stdin=subprocess.DEVNULL)
            with open(path + ".minisig", "rb") as f:
                sig = f.read()
        finally:
            for p in (path, path + ".minisig"):
                if os.path.exists(p):
                    os.remove(p)
        with self.lock:
            self.cache[cache_key] = sig
        return sig

    def fault_for(self, query):
        """The signature fault a request asks for (its sig= or its space's)."""
        fault = query.get("sig", [""])[0]
        space = query.get("sigspace", [""])[0]
        if not fault and space:
            with self.lock:
                fault = self.spaces.get(space, "")
        return fault

    def set_space(self, space, fault):
        with self.lock:
            if fault:
                self.spaces[space] = fault
            else:
                self.spaces.pop(space, None)

    def served_manifest(self, text, fault):
        """The manifest bytes as served (changed after signing for bodychanged)."""
        if fault == "bodychanged":
            return text.replace(b'"clientVersion": "', b'"clientVersion": "x', 1)
        return text

    def signature(self, text, sequence, fault, other_text):
        """The .minisig for the manifest `text` (as signed), or None: 404."""
        if fault == "unsigned":
            return None
        if fault == "huge":
            return b"untrusted comment: " + b"A" * (1 << 20) + b"\n"
        if fault == "malformed":
            return b"<html><body>this is not a signature</body></html>\n"
        expires = utc(time.time() - 365 * 86400) if fault == "expired" else self.expires
        if fault == "lowerseq":
            sequence -= 1
        comment = terms(sequence, expires)
        if fault == "unknownkey":
            return self.sign(text, comment, self._unknown_key())
        if fault == "othermanifest":
            return self.sign(other_text, comment)
        sig = self.sign(text, comment)
        if fault == "commentchanged":
            sig = sig.replace(b"trusted comment: " + comment.encode(),
                              b"trusted comment: " + terms(sequence + 1000, expires).encode())
        return sig
