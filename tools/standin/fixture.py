#!/usr/bin/env python3
"""Starts and stops the stand-in web service for a test run.

  fixture.py start --state FILE [--wine-trust] [-- SERVICE ARGS...]
  fixture.py stop  --state FILE

start: makes the test CA if it is missing (tools/make-test-ca), with
--wine-trust also makes sure the test Wine prefix trusts it (the hook
tools/wine-prefix.d/50-test-ca.sh, a no-op once done), stops a service left
over from an earlier run with the same state file, starts standin.py in the
background on free loopback ports (HTTP, HTTPS and an untrusted HTTPS
listener), waits until it answers, and returns. The ports are in FILE (see
standin.py); the service's log is FILE with ".log" in place of ".json".

stop: ends the service named by FILE and removes FILE.

Used by the ctest fixture "standin_service" (tests/net/standin_fixture.cmake);
also handy by hand.
"""

import json
import os
import signal
import subprocess
import sys
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(os.path.dirname(HERE))
START_TIMEOUT = 30.0


def alive(pid):
    try:
        os.kill(pid, 0)
        return True
    except OSError:
        return False


def stop(state_path):
    try:
        with open(state_path) as f:
            pid = int(json.load(f)["pid"])
    except (OSError, ValueError, KeyError):
        pid = 0
    if pid > 0 and alive(pid):
        os.kill(pid, signal.SIGTERM)
        for _ in range(50):
            if not alive(pid):
                break
            time.sleep(0.1)
        else:
            os.kill(pid, signal.SIGKILL)
    for path in (state_path, state_path + ".tmp"):
        try:
            os.remove(path)
        except OSError:
            pass
    return 0


def start(state_path, wine_trust, service_args):
    state_path = os.path.abspath(state_path)
    os.makedirs(os.path.dirname(state_path), exist_ok=True)
    stop(state_path)
    ca_dir = os.environ.get("EMBER_TESTCA_DIR", os.path.join(TOP, "build", "testca"))

    # The CA first, then (for Windows tests) its trust in the Wine prefix.
    subprocess.run([os.path.join(TOP, "tools", "make-test-ca"), ca_dir], check=True)
    if wine_trust:
        env = dict(os.environ, EMBER_HOOK_WINE=os.path.join(TOP, "tools", "wine-run"), EMBER_TESTCA_DIR=ca_dir)
        # The prefix's set-up first, in the open: on a fresh machine it takes
        # a while and says so, where the hook would run it silently.
        subprocess.run([os.path.join(TOP, "tools", "wine-run"), "--init"], check=True, env=env,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        subprocess.run(["bash", os.path.join(TOP, "tools", "wine-prefix.d", "50-test-ca.sh")], check=True, env=env)

    # The service, detached from this process so ctest can move on.
    log_path = os.path.splitext(state_path)[0] + ".log"
    log = open(log_path, "a")
    cmd = [sys.executable, os.path.join(HERE, "standin.py"), "--state", state_path, "--ca-dir", ca_dir,
           "--http-port", "0", "--https-port", "0", "--untrusted-https-port", "0",
           "--max-lifetime", "7200", "--log", log_path] + service_args
    proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)

    # Ready when the state file names our process and /health answers.
    deadline = time.monotonic() + START_TIMEOUT
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            sys.stderr.write("standin fixture: the service exited with %d (see %s)\n" % (proc.returncode, log_path))
            return 1
        try:
            with open(state_path) as f:
                state = json.load(f)
            if state.get("pid") == proc.pid:
                with urllib.request.urlopen(state["http_base"] + "health", timeout=2) as r:
                    if r.read() == b"ok":
                        print("standin fixture: service %d at %s and %s" % (proc.pid, state["http_base"],
                                                                            state["https_base"]))
                        return 0
        except (OSError, ValueError, KeyError):
            pass
        time.sleep(0.1)
    sys.stderr.write("standin fixture: the service did not answer within %gs\n" % START_TIMEOUT)
    proc.kill()
    return 1


def main(argv):
    if len(argv) < 1 or argv[0] not in ("start", "stop"):
        sys.stderr.write(__doc__)
        return 2
    service_args = []
    if "--" in argv:
        cut = argv.index("--")
        argv, service_args = argv[:cut], argv[cut + 1:]
    state = None
    wine_trust = False
    i = 1
    while i < len(argv):
        if argv[i] == "--state" and i + 1 < len(argv):
            state = argv[i + 1]
            i += 2
        elif argv[i] == "--wine-trust":
            wine_trust = True
            i += 1
        else:
            sys.stderr.write("standin fixture: unknown argument %s\n" % argv[i])
            return 2
    if not state:
        sys.stderr.write("standin fixture: --state FILE is required\n")
        return 2
    return start(state, wine_trust, service_args) if argv[0] == "start" else stop(state)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
