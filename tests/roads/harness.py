"""Drives the real Emberlane.exe window under Wine like a player does.

Each road gets its own X display (a private Xvfb), its own stand-in web
service, configuration folder and game folder. The launcher runs with the UI
trace and its target list on (EMBERLANE_UI_TRACE, EMBERLANE_UI_TARGETS): every
frame whose clickable elements changed writes them, with their rectangles in
client pixels and their labels, into ui-trace.log. The road finds what it
presses there by label or element spec, and presses it with xdotool at that
element's centre (window-relative), types with xdotool, and waits for trace
and log lines.
"""
import fcntl
import json
import os
import re
import shutil
import subprocess
import sys
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)
import xshot  # noqa: E402

TRACE_LINE = re.compile(r"^\s*(\d+) (.*)$")
TARGET_LINE = re.compile(r"^target (\S+) (-?\d+) (-?\d+) (\d+) (\d+) (\S+) (\S+) :: ?(.*)$")
SKIP = 77  # the exit code ctest counts as skipped


class RoadFailed(Exception):
    pass


class RoadSkipped(Exception):
    pass


def winpath(path):
    return "Z:" + path.replace("/", "\\")


def wait_until(predicate, seconds, what, step=0.1):
    end = time.time() + seconds
    while True:
        value = predicate()
        if value:
            return value
        if time.time() >= end:
            raise RoadFailed("timed out after %gs waiting for %s" % (seconds, what))
        time.sleep(step)


class Display:
    """A private Xvfb display for one road (so that its pointer and keyboard
    focus are its own)."""

    def __init__(self):
        self.proc = None
        for n in range(160, 260):
            if os.path.exists("/tmp/.X11-unix/X%d" % n) or os.path.exists("/tmp/.X%d-lock" % n):
                continue
            proc = subprocess.Popen(["Xvfb", ":%d" % n, "-screen", "0", "1920x1080x24", "-nolisten", "tcp"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            for _ in range(50):
                if os.path.exists("/tmp/.X11-unix/X%d" % n) or proc.poll() is not None:
                    break
                time.sleep(0.1)
            if proc.poll() is None:
                self.proc, self.name = proc, ":%d" % n
                return
        raise RoadFailed("no free X display for Xvfb")

    def stop(self):
        if self.proc is not None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()


class Service:
    """The road's own stand-in web service (tools/standin/fixture.py)."""

    def __init__(self, work, args):
        self.state_path = os.path.join(work, "standin.json")
        fixture = os.path.join(TOP, "tools", "standin", "fixture.py")
        result = subprocess.run([sys.executable, fixture, "start", "--state", self.state_path, "--"] + args,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=120)
        if result.returncode != 0:
            raise RoadFailed("the stand-in service did not start:\n" + result.stdout)
        with open(self.state_path) as f:
            self.state = json.load(f)
        self.http = self.state["http_base"]
        self.https = self.state["https_base"]

    def control(self, path, body=None, method=None):
        data = json.dumps(body).encode() if body is not None else None
        request = urllib.request.Request(self.http + path.lstrip("/"), data=data, method=method or (
            "POST" if data is not None else "GET"), headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=10) as reply:
            text = reply.read()
        return json.loads(text) if text else None

    def fault(self, path, fault, times=None):
        body = {"path": path, "fault": fault}
        if times is not None:
            body["times"] = times
        return self.control("control/fault", body)

    def requests(self):
        return self.control("control/requests")

    def stop(self):
        fixture = os.path.join(TOP, "tools", "standin", "fixture.py")
        subprocess.run([sys.executable, fixture, "stop", "--state", self.state_path], timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class PlayLock:
    """Only one road's game runs at a time: every launcher under the shared
    wineserver sees every game process, and a game that runs refuses Play."""

    def __init__(self, path):
        self.path = path
        self.file = None

    def __enter__(self):
        self.file = open(self.path, "w")
        fcntl.flock(self.file, fcntl.LOCK_EX)
        return self

    def __exit__(self, *exc):
        fcntl.flock(self.file, fcntl.LOCK_UN)
        self.file.close()


class Targets:
    """One frame's target list."""

    def __init__(self, route, focus, items):
        self.route, self.focus, self.items = route, focus, items

    def find(self, label=None, spec=None, kind=None, usable=True):
        found = []
        for t in self.items:
            if kind is not None and t["kind"] != kind:
                continue
            if label is not None:
                if isinstance(label, re.Pattern):
                    if not label.search(t["label"]):
                        continue
                elif t["label"] != label:
                    continue
            if spec is not None and spec not in t["spec"]:
                continue
            if usable and ("disabled" in t["state"] or "covered" in t["state"]):
                continue
            found.append(t)
        return found

    def describe(self):
        return "route %s, focus '%s':\n    %s" % (self.route, self.focus, "\n    ".join(
            "%s %s [%s] %s '%s' at %d,%d %dx%d" % (t["kind"], t["state"], t["spec"], "", t["label"], t["x"], t["y"],
                                                 t["w"], t["h"]) for t in self.items))


class Launcher:
    """One run of the real Emberlane.exe on the road's display."""

    def __init__(self, road, extra_env=None, args=None, size=(1000, 640)):
        self.road = road
        self.size = size
        self.trace_path = os.path.join(road.config, "ui-trace.log")
        self.log_path = os.path.join(road.config, "launcher.log")
        self.trace_offset = 0
        self.trace = []       # (tick, text)
        self.blocks = []      # Targets, in order
        self.partial = None
        env = dict(os.environ, DISPLAY=road.display.name, EMBERLANE_CONFIG_DIR=winpath(road.config),
                   EMBERLANE_UI_TRACE="1", EMBERLANE_UI_TARGETS="1", EMBER_STANDIN_GAME_MS="8000")
        if road.game_env:
            env["EMBERLANE_GAME_DIR"] = winpath(road.game)
        env.update(extra_env or {})
        self.env = env
        cmd = [road.wine_run, road.exe, "--size", "%dx%d" % size, "--scale", "1", "--warp"] + (args or [])
        self.out = open(os.path.join(road.work, "launcher-%d.out" % len(road.runs)), "w")
        self.proc = subprocess.Popen(cmd, env=env, stdout=self.out, stderr=subprocess.STDOUT)
        road.runs.append(self)
        self.window = None
        wait_until(lambda: self.saw(r"^first frame presented"), 90, "the launcher's first frame")
        self.window = wait_until(self.find_window, 20, "the launcher's X window")

    # -- reading the trace and the log

    def read(self):
        try:
            with open(self.trace_path, "rb") as f:
                f.seek(self.trace_offset)
                data = f.read()
        except OSError:
            return
        cut = data.rfind(b"\n")
        if cut < 0:
            return
        self.trace_offset += cut + 1
        for raw in data[:cut].split(b"\n"):
            m = TRACE_LINE.match(raw.decode("utf-8", "replace"))
            if not m:
                continue
            tick, text = int(m.group(1)), m.group(2)
            self.trace.append((tick, text))
            if text.startswith("targets "):
                parts = text.split(" ")
                self.partial = (parts[1], int(parts[2]), text.split(" focus=", 1)[1] if " focus=" in text else "",
                                [])
            elif text.startswith("target ") and self.partial is not None:
                t = TARGET_LINE.match(text)
                if t:
                    self.partial[3].append({"kind": t.group(1), "x": int(t.group(2)), "y": int(t.group(3)),
                                            "w": int(t.group(4)), "h": int(t.group(5)), "state": t.group(6),
                                            "spec": t.group(7), "label": t.group(8)})
                if len(self.partial[3]) == self.partial[1]:
                    self.blocks.append(Targets(self.partial[0], self.partial[2], self.partial[3]))
                    self.partial = None
            if text.startswith("targets ") and self.partial is not None and self.partial[1] == 0:
                self.blocks.append(Targets(self.partial[0], self.partial[2], []))
                self.partial = None

    def saw(self, pattern, since=0):
        self.read()
        rx = re.compile(pattern)
        for tick, text in self.trace[since:]:
            if rx.search(text):
                return text
        return None

    def wait_trace(self, pattern, seconds=30, since=0):
        return wait_until(lambda: self.saw(pattern, since), seconds, "the trace line /%s/" % pattern)

    def log(self):
        try:
            with open(self.log_path, encoding="utf-8", errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def log_count(self, pattern):
        return len(re.findall(pattern, self.log(), re.M))

    def wait_log(self, pattern, seconds=30, after=0):
        """Waits until the log holds more than `after` lines matching `pattern`."""
        return wait_until(lambda: self.log_count(pattern) > after, seconds,
                          "the log line /%s/ (seen %d times before)" % (pattern, after))

    def targets(self):
        self.read()
        return self.blocks[-1] if self.blocks else Targets("?", "", [])

    def wait_route(self, route, seconds=60):
        return wait_until(lambda: self.targets().route == route and self.targets(), seconds,
                          "route %s (now %s)" % (route, self.targets().route))

    def wait_target(self, label=None, spec=None, kind=None, seconds=30, usable=True):
        def look():
            self.check_alive()
            found = self.targets().find(label, spec, kind, usable)
            return found[0] if found else None
        try:
            return wait_until(look, seconds, "a %s%s%s" % (kind or "target", " labelled '%s'" % (
                label.pattern if isinstance(label, re.Pattern) else label) if label is not None else "",
                " with spec %s" % spec if spec else ""))
        except RoadFailed as e:
            raise RoadFailed("%s; the last list: %s" % (e, self.targets().describe()))

    def has(self, label=None, spec=None, kind=None, usable=True):
        return bool(self.targets().find(label, spec, kind, usable))

    def check_alive(self):
        if self.proc.poll() is not None:
            raise RoadFailed("the launcher exited with %s; log:\n%s" % (self.proc.returncode, self.log()[-3000:]))

    # -- input

    def xdotool(self, *args):
        result = subprocess.run(["xdotool"] + [str(a) for a in args], env=dict(os.environ, DISPLAY=self.road.display.name),
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=30)
        if result.returncode != 0:
            raise RoadFailed("xdotool %s: %s" % (" ".join(str(a) for a in args), result.stdout.strip()))
        return result.stdout

    def find_window(self):
        try:
            out = self.xdotool("search", "--onlyvisible", "--name", "^Emberlane$")
        except RoadFailed:
            return None
        ids = [int(x) for x in out.split()]
        return ids[-1] if ids else None

    def click(self, label=None, spec=None, kind=None, seconds=30):
        """Presses the element found by label (or spec) at its centre; returns the target."""
        t = self.wait_target(label, spec, kind, seconds)
        x, y = t["x"] + t["w"] // 2, t["y"] + t["h"] // 2
        since = len(self.trace)
        self.xdotool("mousemove", "--window", self.window, x, y)
        self.xdotool("click", "1")
        # The press reached the window (and where).
        pressed = self.wait_trace(r"^WM_LBUTTONUP -?\d+,-?\d+$", 10, since)
        px, py = [int(v) for v in pressed.split(" ")[1].split(",")]
        if abs(px - x) > 2 or abs(py - y) > 2:
            raise RoadFailed("the click meant for %d,%d reached the window at %d,%d" % (x, y, px, py))
        self.road.note("clicked %s '%s' at %d,%d" % (t["kind"], t["label"] or t["spec"], x, y))
        return t

    def focus_window(self):
        self.xdotool("windowfocus", "--sync", self.window)

    def type_into(self, label, text):
        """Clicks the field labelled `label` and types `text` into it."""
        self.click(label, kind="field")
        wait_until(lambda: "focus" in (self.targets().find(label, kind="field", usable=False) or [{"state": ""}])[0][
            "state"], 10, "the field '%s' to take the focus" % label)
        self.key("ctrl+a", activate=False)  # typing then replaces whatever the field held
        self.type_text(text)

    def type_text(self, text):
        since = len(self.trace)
        self.focus_window()
        self.xdotool("type", "--delay", "40", text)
        want = len(text.encode("utf-16-le")) // 2
        wait_until(lambda: sum(1 for _, s in self.trace[since:] if s.startswith("WM_CHAR ")) >= want or self.read(),
                   15, "%d typed characters to reach the window" % want)

    def activate(self):
        """Clicks a spot of the body where nothing is, so that the window is
        the active one (after the game ran, Wine leaves no window active and
        keys go nowhere)."""
        items = self.targets().items
        w, h = self.size
        for y in range(80, h - 20, 20):
            for x in range(20, w - 20, 20):
                if not any(t["x"] - 4 <= x < t["x"] + t["w"] + 4 and t["y"] - 4 <= y < t["y"] + t["h"] + 4
                           for t in items):
                    since = len(self.trace)
                    self.xdotool("mousemove", "--window", self.window, x, y)
                    self.xdotool("click", "1")
                    self.wait_trace(r"^WM_LBUTTONUP ", 10, since)
                    return
        raise RoadFailed("no empty spot to click in the window")

    def key(self, name, activate=True):
        if activate:
            self.activate()
        since = len(self.trace)
        self.focus_window()
        self.xdotool("key", name)
        self.wait_trace(r"^WM_KEYDOWN ", 10, since)

    def x_window(self, title, seconds=30):
        """The X id of a visible window whose title matches `title` (a dialog)."""
        def look():
            try:
                found = self.xdotool("search", "--onlyvisible", "--name", title).split()
            except RoadFailed:
                return None
            return int(found[-1]) if found else None
        return wait_until(look, seconds, "a window titled /%s/" % title)

    def pick_folder(self, title, folder):
        """Answers the system folder picker titled `title` with `folder` (typed
        into its name box, then Enter) and waits for it to close."""
        dialog = self.x_window(title)
        self.xdotool("windowfocus", "--sync", dialog)
        self.xdotool("type", "--delay", "30", winpath(folder))
        self.xdotool("key", "Return")

        def gone():
            try:
                return not self.xdotool("search", "--onlyvisible", "--name", title).split()
            except RoadFailed:
                return True
        wait_until(gone, 20, "the folder picker to close")
        self.road.note("answered the folder picker with %s" % winpath(folder))

    # -- the end

    def shot(self, path):
        if self.window is None or self.proc.poll() is not None:
            return False
        # The window shows a frame late under Wine: two fresh frames first
        # (the pointer onto the frame's edge, where it hovers nothing).
        for corner in (1, 2):
            since = len(self.trace)
            try:
                self.xdotool("mousemove", "--window", self.window, corner, corner)
                self.wait_trace(r"^frame \d+", 5, since)
            except RoadFailed:
                pass
        time.sleep(0.3)
        geometry = ""
        try:
            geometry = self.xdotool("getwindowgeometry", "--shell", self.window)
            g = dict(line.split("=", 1) for line in geometry.split())
            xshot.shoot(self.road.display.name, int(g["X"]), int(g["Y"]), int(g["WIDTH"]), int(g["HEIGHT"]), path)
            return True
        except (OSError, RoadFailed) as e:
            self.road.note("screenshot of %s failed: %s" % (geometry.split(), e))
            return False

    def wait_exit(self, seconds=30):
        try:
            return self.proc.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            raise RoadFailed("the launcher did not exit within %gs" % seconds)

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
        # wine-run's child may outlive it: end the Windows process by its window.
        if self.window is not None:
            try:
                self.xdotool("windowkill", self.window)
            except RoadFailed:
                pass
        self.out.close()


def launcher_version():
    with open(os.path.join(TOP, "launcher", "base", "version.h")) as f:
        return re.search(r'kLauncherVersion\[\] = "([^"]+)"', f.read()).group(1)


class Road:
    """A road's folders, display, service and launcher runs."""

    def __init__(self, name, wine_run, exe, fixtures, artefacts, service_args=(), game=True, game_env=True):
        self.name = name
        self.wine_run, self.fixtures = wine_run, fixtures
        self.artefacts = artefacts
        self.work = os.path.join(artefacts, name)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.config = os.path.join(self.work, "config")
        self.game = os.path.join(self.work, "game")
        os.makedirs(self.config)
        os.makedirs(self.game)
        self.exe = os.path.join(self.work, "Emberlane.exe")
        shutil.copy(exe, self.exe)
        self.game_env = game_env  # EMBERLANE_GAME_DIR names the game folder
        self.runs = []
        self.notes = []
        if game:
            self.place_game()
        self.display = Display()
        self.service = None
        loader = os.path.join(fixtures, "loader", "EmberlaneLoader.exe")
        # The service publishes this very launcher build (so no self-update)
        # and the real stand-in loader.
        self.service = Service(self.work, ["--launcher-version", launcher_version(), "--launcher-file", self.exe,
                                           "--client-file", "Emberlane/EmberlaneLoader.exe=" + loader] +
                               list(service_args))
        self.play_lock = PlayLock(os.path.join(artefacts, "roads-play.lock"))

    def note(self, text):
        line = "[%s] %s" % (self.name, text)
        self.notes.append(line)
        print(line, flush=True)

    def place_game(self, variant="product"):
        folder = os.path.join(self.game, "OblivionRemastered", "Binaries", "Win64")
        os.makedirs(folder, exist_ok=True)
        shutil.copy(os.path.join(self.fixtures, "game-" + variant, "OblivionRemastered-Win64-Shipping.exe"), folder)

    def write_config(self, doc):
        with open(os.path.join(self.config, "config.json"), "w", encoding="utf-8") as f:
            json.dump(doc, f, indent=2)

    def config_json(self):
        with open(os.path.join(self.config, "config.json"), encoding="utf-8-sig") as f:
            return json.load(f)

    def manifest_url(self, release=None, query=""):
        base = self.service.https + "client/"
        if release is not None:
            base += "r%d/" % release
        return base + "manifest.json" + query

    def game_file(self, relative):
        return os.path.join(self.game, *relative.replace("\\", "/").split("/"))

    def launch(self, **kw):
        return Launcher(self, **kw)

    def finish(self, outcome):
        if self.runs and self.runs[-1].proc.poll() is None:
            self.runs[-1].shot(os.path.join(self.work, "last-screen.png"))
        for run in self.runs:
            run.kill()
        if self.service is not None:
            self.service.stop()
        self.display.stop()
        with open(os.path.join(self.work, "road.txt"), "w") as f:
            f.write("\n".join(self.notes) + "\n" + outcome + "\n")


def trust_test_ca(wine_run, artefacts):
    """The test CA (tools/make-test-ca) trusted by the Wine prefix, as the
    stand-in fixture does it (idempotent; one road at a time)."""
    ca_dir = os.environ.get("EMBER_TESTCA_DIR", os.path.join(TOP, "build", "testca"))
    with PlayLock(os.path.join(artefacts, "roads-setup.lock")):
        subprocess.run([os.path.join(TOP, "tools", "make-test-ca"), ca_dir], check=True, stdout=subprocess.DEVNULL)
        env = dict(os.environ, EMBER_HOOK_WINE=wine_run, EMBER_TESTCA_DIR=ca_dir)
        subprocess.run(["bash", os.path.join(TOP, "tools", "wine-prefix.d", "50-test-ca.sh")], check=True, env=env,
                       stdout=subprocess.DEVNULL)


def main(roads, argv, pending=None):
    """roads: {name: function(road_maker)}; pending: {name: why it is skipped}.
    argv: wine-run exe fixtures artefacts name."""
    pending = pending or {}
    wine_run, exe, fixtures, artefacts, name = argv[1:6]
    if name not in roads and name not in pending:
        sys.stderr.write("unknown road %s (roads: %s)\n" % (name, ", ".join(sorted(roads))))
        return 2
    os.makedirs(artefacts, exist_ok=True)
    # The shared Wine server and its services start on wine-run's own
    # display, never on this road's private one.
    subprocess.run([wine_run, "--init"], stdout=subprocess.DEVNULL, timeout=600)
    trust_test_ca(wine_run, artefacts)
    if name in pending and not os.environ.get("EMBER_ROADS_PENDING"):
        print("SKIPPED: %s" % pending[name], flush=True)
        return SKIP
    made = []

    def make(**kw):
        road = Road(name, wine_run, exe, fixtures, artefacts, **kw)
        made.append(road)
        return road

    began = time.time()
    outcome = "FAILED"
    try:
        roads[name](make)
        outcome = "passed"
    except RoadSkipped as e:
        outcome = "SKIPPED"
        print("SKIPPED: %s" % e, flush=True)
    except RoadFailed as e:
        print("FAIL: %s" % e, flush=True)
    finally:
        for road in made:
            road.finish(outcome)
    print("road %s %s in %.1f s; artefacts in %s" % (name, outcome, time.time() - began, os.path.join(artefacts, name)),
          flush=True)
    return {"passed": 0, "SKIPPED": SKIP}.get(outcome, 1)
