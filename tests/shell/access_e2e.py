#!/usr/bin/env python3
"""What a screen reader finds in the real Emberlane.exe window under Wine.

For a sign-in, a home page and a dialog (demo scenes), the launcher runs
with its UI trace listing the frame's targets; uia_walk reads the window's
UI Automation tree from another process through the flat client API. The
tree must hold every target once, in the target list's order, with the
control type of its kind, the name a person would say (a symbol button's
word, a field's label even when it holds text), an automation id that is
the same in a second walk, the secret field marked as a password, the
focused field as the one with keyboard focus, and the realms and the
characters each as one list of items. The window itself answers its name
and type (Wine has no default provider for it). A press posted for an
automation id (what a screen reader's Invoke makes) does what a click does.

usage: access_e2e.py <wine-run> <Emberlane.exe> <uia_walk.exe>
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

WINE_RUN, EXE, WALK = sys.argv[1], sys.argv[2], sys.argv[3]
TYPES = {"button": 50000, "check": 50002, "field": 50004, "link": 50005, "item": 50000, "realm": 50007,
         "row": 50007, "radio": 50013, "tab": 50019, "text": 50020, "dialog": 50032}
LIST, WINDOW = 50008, 50032
SYMBOL_NAMES = {"tbtn--close": "Close", "tbtn": "Minimize"}
TARGET = re.compile(r"^target (\S+) -?\d+ -?\d+ \d+ \d+ (\S+) (\S+) :: (.*)$")
failures = []


def fail(message):
    failures.append(message)
    print("FAIL: " + message, flush=True)


def one_line(text):
    """The trace's form of a label: one line, at most 120 bytes."""
    data = re.sub(r"[\n\r\t]", " ", text).encode("utf-8")[:120]
    return data.decode("utf-8", errors="ignore")


def last_targets(config):
    """The last target list the trace wrote: [(kind, state, spec, label)]."""
    path = os.path.join(config, "ui-trace.log")
    if not os.path.exists(path):
        return []
    found = []
    for line in open(path, encoding="utf-8", errors="replace"):
        stamped = re.match(r"^\s*\d+ (.*)$", line.rstrip("\n"))
        text = stamped.group(1) if stamped else ""
        if text.startswith("targets "):
            found = []
        m = TARGET.match(text)
        if m:
            found.append(m.groups())
    return found


def traced_after(config, first, then):
    """Whether the trace has the line `then` after the line `first`."""
    seen = False
    for line in open(os.path.join(config, "ui-trace.log"), encoding="utf-8", errors="replace"):
        stamped = re.match(r"^\s*\d+ (.*)$", line.rstrip("\n"))
        text = stamped.group(1) if stamped else ""
        seen = seen or text == first
        if seen and text == then:
            return True
    return False


def walk(program):
    try:
        result = subprocess.run([WINE_RUN, WALK, "--exe", program], capture_output=True, timeout=120)
    except subprocess.TimeoutExpired:
        fail("uia_walk: no answer within 120 s")
        return []
    nodes = []
    for line in result.stdout.decode("utf-8", errors="replace").splitlines():
        parts = line.split("\t", 6)
        if len(parts) == 7:
            depth, kind, ident, focus, enabled, secret, name = parts
            nodes.append(dict(depth=int(depth), type=int(kind), id=ident, focus=focus == "1",
                              enabled=enabled == "1", secret=secret == "1", name=name))
    if result.returncode != 0:
        fail("uia_walk: exit %d: %s" % (result.returncode, result.stderr.decode(errors="replace").strip()))
    return nodes


def expected_type(kind, spec):
    if kind == "button" and ".btn--link" in spec:
        return TYPES["link"]
    return TYPES[kind]


def check_scene(scene, work):
    config = tempfile.mkdtemp(dir=work, prefix=scene.replace(":", "-") + "-")
    env = dict(os.environ, EMBERLANE_CONFIG_DIR="Z:" + config.replace("/", "\\"), EMBERLANE_UI_TRACE="1",
               EMBERLANE_UI_TARGETS="1")
    # A name of its own, so that the walk reads this scene's window and no
    # other launcher's (one still closing, or another test's).
    program = "Emberlane-access-%s.exe" % scene.replace(":", "-")
    exe = os.path.join(config, program)
    shutil.copy(EXE, exe)
    process = subprocess.Popen([WINE_RUN, exe, "--demo", scene, "--size", "1000x640", "--scale", "1"], env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        end = time.time() + 60
        while time.time() < end and not last_targets(config):
            time.sleep(0.2)
        targets = last_targets(config)
        if not targets:
            fail("%s: the trace lists no targets" % scene)
            return
        tree = walk(program)
        if not tree:
            fail("%s: no tree was read" % scene)
            return
        root = tree[0]
        if (root["depth"], root["type"], root["name"]) != (0, WINDOW, "Emberlane"):
            fail("%s: the root is %r, not the window named Emberlane" % (scene, root))
        # The window's own elements in the targets' order, then each list's
        # items in theirs.
        top, items, lists = [], [], {}
        parent = None
        for node in tree[1:]:
            if node["depth"] == 1:
                parent = node
                if node["type"] == LIST:
                    lists[node["name"]] = node
                else:
                    top.append(node)
            elif node["depth"] == 2:
                if parent is None or parent["type"] != LIST:
                    fail("%s: %r is nested under %r, which is no list" % (scene, node["name"], parent))
                node["list"] = parent["name"]
                items.append(node)
        items.sort(key=lambda node: node["list"] != "Realms")
        elements = top + items
        targets = [t for t in targets if t[0] not in ("realm", "row")] + \
            [t for t in targets if t[0] == "realm"] + [t for t in targets if t[0] == "row"]
        if len(elements) != len(targets):
            fail("%s: %d elements in the tree, %d targets:\n  %s\n  %s" % (
                scene, len(elements), len(targets), [e["name"] for e in elements], [t[3] for t in targets]))
        for node, (kind, state, spec, label) in zip(elements, targets):
            what = "%s: %s %r" % (scene, kind, label)
            symbol = [name for cls, name in SYMBOL_NAMES.items() if spec.endswith("." + cls)]
            want = symbol[0] if symbol else label
            if one_line(node["name"]) != want or node["type"] != expected_type(kind, spec):
                fail("%s: read as type %d %r" % (what, node["type"], node["name"]))
            if kind == "field" and not node["name"]:
                fail("%s: a field without a name" % what)
            if node["secret"] != (kind == "field" and "password" in label.lower()):
                fail("%s: IsPassword %r" % (what, node["secret"]))
            if node["focus"] != ("focus" in state.split(",") or "keyboard" in state.split(",")):
                fail("%s: HasKeyboardFocus %r, state %s" % (what, node["focus"], state))
            if node["enabled"] == ("disabled" in state.split(",") or "covered" in state.split(",")):
                fail("%s: IsEnabled %r, state %s" % (what, node["enabled"], state))
            if kind in ("realm", "row") and node.get("list") != ("Realms" if kind == "realm" else "Characters"):
                fail("%s: not an item of its list (%r)" % (what, node.get("list")))
        ids = [node["id"] for node in tree[1:]]
        if len(set(ids)) != len(ids) or "" in ids:
            fail("%s: automation ids are missing or repeated: %s" % (scene, ids))
        again = [node["id"] for node in walk(program)[1:]]
        if again != ids:
            fail("%s: the automation ids changed between two walks" % scene)
        print("ok: %s: %d elements, %d lists" % (scene, len(elements), len(lists)), flush=True)
        if scene == "login":
            # A screen reader's press on the Settings tab does what a click does.
            tab = [n for n in tree if n["name"] == "Settings" and n["type"] == TYPES["tab"]]
            subprocess.run([WINE_RUN, WALK, "--exe", program, "press", tab[0]["id"]], capture_output=True, timeout=60)
            def settings_current():
                return any(t[0] == "tab" and t[3] == "Settings" and "current" in t[1].split(",")
                           for t in last_targets(config))
            end = time.time() + 30
            while time.time() < end and not settings_current():
                time.sleep(0.2)
            if not settings_current() or not traced_after(config, "WM_APP+2", "click tab"):
                fail("login: pressing the Settings tab by its automation id did not do what a click does")
    finally:
        # The window closes itself; the Windows process outlives a killed
        # wine-run, so it is found by its own copy's name if it does not.
        subprocess.run([WINE_RUN, WALK, "--exe", program, "close"], capture_output=True, timeout=60)
        try:
            process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            subprocess.run(["pkill", "-f", exe])
            process.kill()
            process.wait()


def main():
    work = tempfile.mkdtemp(prefix="access-e2e-")
    for scene in ("login", "home", "modal:create"):
        check_scene(scene, work)
    print("access: %d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
