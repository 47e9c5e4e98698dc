#!/usr/bin/env python3
"""End-to-end test of `Emberlane.exe --check-manifest` under Wine.

Runs the real executable through tools/wine-run against manifest files
(tests/data/manifests and a few made here) and against the stand-in web
service over HTTP and HTTPS, and compares standard output byte for byte and
the exit code with what the report must print.

  check_manifest_e2e.py --exe Emberlane.exe --wine-run tools/wine-run
                        --data tests/data/manifests --work DIR
                        [--standin-state state.json] [-k NAME]

Without --standin-state only the file cases run. Standard library only.
Prints one line per case and a closing "N passed, N failed" line; exits 1
when a case failed.
"""

import argparse
import concurrent.futures
import json
import os
import re
import shutil
import socket
import ssl
import subprocess
import sys
import urllib.request

USAGE = "usage: Emberlane.exe --check-manifest <url|path> [--game VERSION]\n"
NOT_SUPPORTED = "NOT SUPPORTED - the launcher shows the version screen"
PAD = " " * 10
SIGNATURE_REFUSED = "the signature does not pass: the launcher would refuse it"
RUN_TIMEOUT = 90
# The builds the tests run trust the stand-in's test key, and say so.
TRUST = "trust     this build trusts the stand-in's test signing key\n"
TEST_KEY_ID = "AAF801633C66F4C4"
TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


class Case:
    """One run of the executable and what it must produce. `expected` is the
    exact output, or a function of the output returning an error text (None
    when the output is right) for replies whose wording belongs to Wine."""

    def __init__(self, name, args, exit_code, expected, cwd=None, no_stdout=False):
        self.name = name
        self.args = args
        self.exit_code = exit_code
        self.expected = expected
        self.cwd = cwd
        self.no_stdout = no_stdout


def windows_path(path):
    """A host path as the Windows program sees it (the host root is Z:)."""
    return "Z:" + os.path.abspath(path)


def rejected(source, reason):
    return "REJECTED  %s\n%s%s\n" % (source, PAD, reason)


def one_of(source, reasons):
    """Accepts a REJECTED block whose reason is any of `reasons` (the texts
    for one failure differ between WinHTTP implementations)."""
    def check(out):
        for reason in reasons:
            if out == rejected(source, reason):
                return None
        return "expected one of the reasons %r" % (reasons,)
    return check


def transport_failure(source):
    """Accepts a REJECTED block whose reason is a transport error: how a
    reset or a garbled reply is worded depends on when WinHTTP notices it."""
    def check(out):
        head = "REJECTED  %s\n%s" % (source, PAD)
        reason = out[len(head):-1] if out.startswith(head) and out.endswith("\n") else None
        if reason is not None and (reason in ("connection error", "timed out") or
                                   re.fullmatch(r"WinHTTP error [0-9]+", reason)):
            return None
        return "expected a REJECTED block with a transport error"
    return check


def unsigned(source):
    """The signature lines for a local file with no signature beside it."""
    return TRUST + "signature not signed (no %s.minisig beside it)\n" % source


def signed_by_test_key(signature):
    """The signature lines for a good signature by the test key."""
    comment = re.search(r"^trusted comment: emberlane-manifest sequence=(\d+) expires=(\S+)$", signature, re.M)
    return TRUST + "signature key %s (test: the test key), sequence %s, expires %s\n" % (
        TEST_KEY_ID, comment.group(1), comment.group(2))


def report(source, text, game=None, signature=None):
    """What the report prints for a manifest that validates: an oracle
    written from the report's format, independent of the C++ code. The
    signature's lines come last (a local file's by default: unsigned)."""
    out, code = report_body(source, text, game)
    return out + (unsigned(source) if signature is None else signature), code


def report_body(source, text, game):
    doc = json.loads(text)
    server = doc.get("server", {})
    accounts = doc.get("accounts", {})
    mode = accounts.get("mode", "")
    api = accounts.get("apiBase", "")
    enabled = accounts.get("enabled") is True
    usable = bool(api) and mode != "none" and (enabled or mode == "password")
    realm_key = accounts.get("serverKey") or accounts.get("masterKey") or ""
    files = doc.get("files", [])
    total = sum(int(f["size"]) for f in files)
    launcher = doc.get("launcher", {})
    versions = doc.get("game", {}).get("supportedVersions", [])
    out = "OK        %s  (%d bytes)\n" % (source, len(text))
    out += "channel   %s, client %s, generated %s\n" % (
        doc.get("channel", ""), doc.get("clientVersion", ""), doc.get("generatedAt", ""))
    out += "realm     %s -> %s:%d\n" % (
        server.get("name", ""), server.get("host") or server.get("ip", ""), server["port"])
    out += 'accounts  mode="%s" enabled=%s apiBase="%s" realm="%s"\n' % (
        mode, "true" if usable else "false", api, realm_key)
    out += "files     %d, %.1f MB total, baseUrl %s\n" % (len(files), total / 1048576.0, doc["baseUrl"])
    if launcher.get("url"):
        out += "launcher  %s  %s\n" % (launcher.get("version", ""), launcher["url"])
    else:
        out += "launcher  none published - self-update cannot run\n"
    out += "supports  %s\n" % ", ".join(versions)
    if game is None:
        return out, 0
    out += "\nas a player on game %s:\n" % game
    out += "  version   %s\n" % ("supported" if game in versions else NOT_SUPPORTED)
    builds = doc.get("client", {})
    if game in builds:
        build, how = builds[game], "exact"
    elif builds:
        build, how = builds[min(builds, key=lambda k: k.encode("utf-8"))], "another version's build"
    else:
        build, how = {}, None
    if not build.get("version"):
        return out + "  client    NONE published for this version\n", 1
    out += "  client    %s (%s)  loader=%s  dll=%s\n" % (build["version"], how, build["loader"], build["dll"])
    return out, 0


def file_cases(data, work):
    valid = os.path.join(data, "valid.json")
    valid_win = windows_path(valid)
    valid_size = os.path.getsize(valid)
    with open(os.path.join(data, "invalid.json"), "rb") as f:
        invalid_text = f.read()
    invalid_offset = invalid_text.index(b"  ]") + 2

    # Files made for this run: a copy under a non-ASCII name, a manifest one
    # byte over the 8 MiB a launcher accepts, a folder where a file is
    # expected, and a pipe.
    os.makedirs(work, exist_ok=True)
    unicode_copy = os.path.join(work, "m\u00e4nifest \u00fc.json")
    shutil.copyfile(os.path.join(data, "no-builds.json"), unicode_copy)
    big = os.path.join(work, "big.json")
    with open(big, "wb") as f:
        f.write(b" " * (8 * 1024 * 1024 + 1))
    folder = os.path.join(work, "a-folder.json")
    os.makedirs(folder, exist_ok=True)
    fifo = os.path.join(work, "fifo.json")
    if not os.path.exists(fifo):
        os.mkfifo(fifo)

    valid_body = (
        "OK        %s  (%d bytes)\n" % (valid_win, valid_size) +
        "channel   stable, client 1.4.2, generated 2025-05-01T12:00:00Z\n"
        "realm     Ashfall -> play.example.test:7777\n"
        'accounts  mode="password" enabled=true apiBase="https://accounts.example.test/api/" realm="ashfall"\n'
        "files     3, 2.2 MB total, baseUrl https://cdn.example.test/client/1.4.2/\n"
        "launcher  2.2.0  https://example.test/launcher/Emberlane-2.2.0.exe\n"
        "supports  0.411.140.0, 0.412.3.0\n")
    valid_report = valid_body + unsigned(valid_win)
    # A publisher's signature beside a copy, made by minisign with the test
    # key; and a copy whose signature is another file's.
    signed = os.path.join(work, "signed.json")
    shutil.copyfile(valid, signed)
    subprocess.run(["minisign", "-S", "-s", os.path.join(TOP, "fixtures", "signing", "test.key"), "-m", signed,
                    "-t", "emberlane-manifest sequence=7 expires=2099-01-01T00:00:00Z"],
                   check=True, capture_output=True, stdin=subprocess.DEVNULL)
    with open(signed + ".minisig") as f:
        signed_lines = signed_by_test_key(f.read())
    mismatched = os.path.join(work, "mismatched.json")
    shutil.copyfile(os.path.join(data, "no-builds.json"), mismatched)
    shutil.copyfile(signed + ".minisig", mismatched + ".minisig")
    schema2 = windows_path(os.path.join(data, "schema2.json"))
    no_builds = windows_path(os.path.join(data, "no-builds.json"))
    with open(os.path.join(data, "no-builds.json"), "rb") as f:
        no_builds_text = f.read()
    unicode_win = windows_path(unicode_copy)

    return [
        Case("file: valid manifest", [valid_win], 0, valid_report),
        Case("file: valid, backslash path", [valid_win.replace("/", "\\")], 0,
             valid_report.replace(valid_win, valid_win.replace("/", "\\"))),
        Case("file: valid, path relative to the working folder", ["valid.json"], 0,
             valid_report.replace(valid_win, "valid.json"), cwd=data),
        Case("file: --game with its exact build", [valid_win, "--game", "0.411.140.0"], 0,
             valid_body + "\nas a player on game 0.411.140.0:\n  version   supported\n"
             "  client    1.4.2a (exact)  loader=Emberlane/EmberlaneLoaderOld.exe  dll=Emberlane/EmberlaneOld.dll\n" +
             unsigned(valid_win)),
        Case("file: --game first, unsupported version", ["--game", "0.500.1.0", valid_win], 0,
             valid_body + "\nas a player on game 0.500.1.0:\n  version   " + NOT_SUPPORTED + "\n"
             "  client    1.4.2a (another version's build)  loader=Emberlane/EmberlaneLoaderOld.exe"
             "  dll=Emberlane/EmberlaneOld.dll\n" + unsigned(valid_win)),
        Case("file: signed by the publisher", [windows_path(signed)], 0,
             report_body(windows_path(signed), open(signed).read(), None)[0] + signed_lines),
        Case("file: a signature that is another file's fails", [windows_path(mismatched)], 1,
             report_body(windows_path(mismatched), no_builds_text.decode("utf-8"), None)[0] + TRUST +
             "signature REFUSED (bad-signature): the manifest is not what key %s signed\n" % TEST_KEY_ID),
        Case("file: no client builds with --game", [no_builds, "--game", "0.411.140.0"], 1,
             report(no_builds, no_builds_text.decode("utf-8"), "0.411.140.0")[0]),
        Case("file: non-ASCII path and version", [unicode_win, "--game", "1.0-\u00e9"], 1,
             report(unicode_win, no_builds_text.decode("utf-8"), "1.0-\u00e9")[0]),
        Case("file: invalid JSON", [windows_path(os.path.join(data, "invalid.json"))], 1,
             rejected(windows_path(os.path.join(data, "invalid.json")),
                      "manifest: bad JSON: expected a number at offset %d" % invalid_offset)),
        Case("file: schema 2 keeps the launcher block", [schema2], 1,
             rejected(schema2, "manifest schema 2 is newer than this launcher understands - the launcher "
                      "needs updating") +
             PAD + "(the launcher block still reads: 3.0.0 https://example.test/launcher/Emberlane-3.0.0.exe)\n"),
        Case("file: unsafe path", [windows_path(os.path.join(data, "unsafe-path.json"))], 1,
             rejected(windows_path(os.path.join(data, "unsafe-path.json")),
                      "manifest: unsafe path Emberlane/../../Windows/evil.dll")),
        Case("file: missing", [windows_path(os.path.join(work, "missing.json"))], 1,
             rejected(windows_path(os.path.join(work, "missing.json")), "cannot read the file")),
        Case("file: a folder is unreadable", [windows_path(folder)], 1,
             rejected(windows_path(folder), "cannot read the file")),
        Case("file: larger than a launcher accepts", [windows_path(big)], 1,
             rejected(windows_path(big), "the file is larger than the 8 MiB a launcher accepts")),
        # Devices and pipes are not files: reading them could block or
        # never end.
        Case("device: endless", ["Z:/dev/zero"], 1, rejected("Z:/dev/zero", "cannot read the file")),
        Case("device: NUL", ["NUL"], 1, rejected("NUL", "cannot read the file")),
        Case("device: the console", ["CON"], 1, rejected("CON", "cannot read the file")),
        Case("device: a named pipe with no writer", [windows_path(fifo)], 1,
             rejected(windows_path(fifo), "cannot read the file")),
        Case("usage: no source", [], 2, USAGE),
        Case("usage: only a --game pair", ["--game", "1.0"], 2, USAGE),
        Case("a trailing --game is the source", [valid_win, "--game"], 1, rejected("--game", "cannot read the file")),
        Case("the last source wins", [windows_path(os.path.join(work, "missing.json")), valid_win], 0, valid_report),
        Case("upper-case scheme is a file name", ["HTTP://127.0.0.1/m.json"], 1,
             rejected("HTTP://127.0.0.1/m.json", "cannot read the file")),
        Case("no standard output: valid keeps exit 0", [valid_win], 0, "", no_stdout=True),
        Case("no standard output: missing keeps exit 1", ["missing.json"], 1, "", no_stdout=True),
    ]


def fetch(url, ca_pem):
    context = ssl.create_default_context(cafile=ca_pem) if url.startswith("https:") else None
    with urllib.request.urlopen(url, timeout=30, context=context) as reply:
        return reply.read().decode("utf-8")


def closed_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def service_cases(state_path):
    with open(state_path) as f:
        state = json.load(f)
    http_base = state["http_base"].rstrip("/")
    https_base = state["https_base"].rstrip("/")
    ca_pem = state["ca_pem"]
    cases = []
    for base, scheme in ((http_base, "http"), (https_base, "https")):
        for name in ("manifest.json", "manifest-beta.json"):
            url = base + "/client/" + name
            text = fetch(url, ca_pem)
            out, code = report(url, text, signature=signed_by_test_key(fetch(url + ".minisig", ca_pem)))
            cases.append(Case("%s: %s" % (scheme, name), [url], code, out))
        url = base + "/client/manifest.json"
        text = fetch(url, ca_pem)
        lines = signed_by_test_key(fetch(url + ".minisig", ca_pem))
        out, code = report(url, text, "0.412.3.0", lines)
        cases.append(Case("%s: --game with its exact build" % scheme, [url, "--game", "0.412.3.0"], code, out))
        out, code = report(url, text, "0.300.0.0", lines)
        cases.append(Case("%s: --game unsupported" % scheme, ["--game", "0.300.0.0", url], code, out))

    m = http_base + "/client/manifest.json"
    s = https_base + "/client/manifest.json"
    refused = "http://127.0.0.1:%d/client/manifest.json" % closed_port()
    m_signed = signed_by_test_key(fetch(m + ".minisig", ca_pem))
    spoiled = rejected(m + "?sig=bodychanged", SIGNATURE_REFUSED) + TRUST + \
        "signature REFUSED (bad-signature): the manifest is not what key %s signed\n" % TEST_KEY_ID
    cases += [
        Case("http: 404", [http_base + "/client/nothing.json"], 1, rejected(http_base + "/client/nothing.json",
                                                                              "HTTP 404")),
        Case("https: 404 by fault", [s + "?fault=status:404"], 1, rejected(s + "?fault=status:404", "HTTP 404")),
        Case("http: 503", [m + "?fault=status:503"], 1, rejected(m + "?fault=status:503", "HTTP 503")),
        Case("http: a redirect is not followed", [m + "?fault=redirect"], 1,
             rejected(m + "?fault=redirect", "HTTP 302")),
        Case("http: refused port", [refused], 1, rejected(refused, "cannot connect")),
        Case("http: no host", ["http://"], 1, rejected("http://", "bad URL")),
        Case("http: reply one byte over 8 MiB", [m + "?fault=big:8388609"], 1,
             rejected(m + "?fault=big:8388609", "reply too large")),
        Case("https: reply one byte over 8 MiB", [s + "?fault=big:8388609"], 1,
             rejected(s + "?fault=big:8388609", "reply too large")),
        # Read whole, then judged: by its signature first, which the same
        # fault makes 8 MiB too.
        Case("http: reply of exactly 8 MiB is read and judged", [m + "?fault=big:8388608"], 1,
             rejected(m + "?fault=big:8388608", SIGNATURE_REFUSED) + TRUST +
             "signature REFUSED (missing): no signature at %s.minisig?fault=big:8388608 (reply too large)\n" % m),
        Case("http: chunked reply", [m + "?fault=chunked"], 0, report(m + "?fault=chunked", fetch(m, ca_pem), signature=m_signed)[0]),
        Case("http: dropped connection", [m + "?fault=drop"], 1,
             transport_failure(m + "?fault=drop")),
        Case("http: not HTTP at all", [m + "?fault=garbage"], 1, transport_failure(m + "?fault=garbage")),
        # A reply 40 s away is given up on (had it been waited for, the
        # manifest would pass); one 5 s away is waited for.
        Case("http: a silent server times out", [m + "?fault=slow:40000"], 1,
             rejected(m + "?fault=slow:40000", "timed out")),
        Case("http: a slow server is waited for", [m + "?fault=slow:5000"], 0,
             report(m + "?fault=slow:5000", fetch(m, ca_pem), signature=m_signed)[0]),
        # What the launcher would refuse fails the check, before the
        # document is read.
        Case("http: a manifest changed after signing", [m + "?sig=bodychanged"], 1, spoiled),
        Case("http: truncated body", [m + "?fault=truncate"], 1,
             lambda out: None if out.startswith("REJECTED  %s?fault=truncate\n%s" % (m, PAD)) and
             out.count("\n") == 2 else "expected a REJECTED block"),
    ]
    untrusted = state.get("untrusted_https_base")
    if untrusted:
        u = untrusted.rstrip("/") + "/client/manifest.json"
        cases.append(Case("https: untrusted certificate", [u], 1,
                          one_of(u, ["TLS failure", "WinHTTP error 12157", "WinHTTP error 12175"])))
    return cases


def run_case(case, exe, wine_run):
    cmd = [wine_run, exe, "--check-manifest"] + case.args
    env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8")
    kwargs = dict(cwd=case.cwd, env=env, timeout=RUN_TIMEOUT, stdin=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        if case.no_stdout:
            # Standard output closed outright: the report has nowhere to go
            # and is dropped, but the exit code must still come through.
            proc = subprocess.run(cmd, stdout=subprocess.DEVNULL, preexec_fn=lambda: os.close(1), **kwargs)
            out = b""
        else:
            proc = subprocess.run(cmd, stdout=subprocess.PIPE, **kwargs)
            out = proc.stdout
    except subprocess.TimeoutExpired:
        return "did not finish within %d s" % RUN_TIMEOUT
    problems = []
    if proc.returncode != case.exit_code:
        problems.append("exit code %d, expected %d" % (proc.returncode, case.exit_code))
    try:
        text = out.decode("utf-8")
    except UnicodeDecodeError:
        text = None
        problems.append("output is not UTF-8: %r" % out[:200])
    if text is not None:
        if callable(case.expected):
            problem = case.expected(text)
            if problem:
                problems.append("%s; got:\n%s" % (problem, text))
        elif text != case.expected:
            problems.append("output differs\n--- expected\n%r\n--- got\n%r" % (case.expected, text))
    if problems and proc.stderr:
        problems.append("stderr: %s" % proc.stderr.decode("utf-8", "replace")[-2000:])
    return "\n    ".join(problems) if problems else None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--data", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--standin-state")
    parser.add_argument("-k", dest="filter", default="")
    args = parser.parse_args()

    cases = file_cases(args.data, args.work)
    if args.standin_state:
        cases += service_cases(args.standin_state)
    cases = [c for c in cases if args.filter in c.name]

    failed = 0
    # Two at a time: the machine has two cores and Wine starts are cheap
    # once the shared wineserver is up.
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        results = list(pool.map(lambda c: run_case(c, os.path.abspath(args.exe), os.path.abspath(args.wine_run)), cases))
    for case, problem in zip(cases, results):
        if problem:
            failed += 1
            print("FAIL %s\n    %s" % (case.name, problem))
        else:
            print("ok   %s" % case.name)
    print("e2e: %d passed, %d failed" % (len(cases) - failed, failed))
    return 1 if failed or not cases else 0


if __name__ == "__main__":
    sys.exit(main())
