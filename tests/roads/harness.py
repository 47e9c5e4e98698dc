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
import ssl
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
        # Xvfb picks a free display number itself and says which (two roads
        # starting at once never race for one).
        read, write = os.pipe()
        self.proc = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1920x1080x24",
                                      "-nolisten", "tcp"], pass_fds=(write,), stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        os.close(write)
        number = b""
        end = time.time() + 20
        while not number.endswith(b"\n") and time.time() < end:
            part = os.read(read, 16)
            if not part:
                break
            number += part
        os.close(read)
        if not number.strip().isdigit():
            self.stop()
            raise RoadFailed("Xvfb did not start")
        self.name = ":" + number.strip().decode()

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
        self.tls = ssl.create_default_context(cafile=self.state["ca_pem"])

    def get(self, url):
        """GET a URL of the service (https under the test CA); (status, body)."""
        with urllib.request.urlopen(url, timeout=10, context=self.tls if url.startswith("https:") else None) as r:
            return r.status, r.read()

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


class InputLock:
    """Mouse and keyboard input, one road at a time: the launchers share one
    wineserver, hence one active window, and a click in another road's
    window takes the keyboard away. Re-entrant within a road."""

    def __init__(self, path):
        self.lock = PlayLock(path)
        self.depth = 0

    def __enter__(self):
        if self.depth == 0:
            self.lock.__enter__()
        self.depth += 1
        return self

    def __exit__(self, *exc):
        self.depth -= 1
        if self.depth == 0:
            self.lock.__exit__(*exc)


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
        # On a Wine desktop of the road's own: a desktop has one foreground
        # window, where Wine sends the keys, and the roads' launchers share
        # one wineserver; on one desktop a window that opens in one road (a
        # launcher starting, a game's process) takes the keyboard from the
        # others.
        desktop = "/desktop=roads-%s,%dx%d" % (road.name, size[0] + 100, size[1] + 120)
        cmd = [road.wine_run, "explorer", desktop, road.exe, "--size", "%dx%d" % size, "--scale", "1",
               "--warp"] + (args or [])
        self.out = open(os.path.join(road.work, "launcher-%d.out" % len(road.runs)), "w")
        self.window = None
        # A new window takes the keyboard from every other: no road types
        # while one starts.
        with road.input_lock:
            self.proc = subprocess.Popen(cmd, env=env, stdout=self.out, stderr=subprocess.STDOUT)
            road.runs.append(self)
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

    def scroll_to(self, label=None, spec=None, kind=None, seconds=30):
        """The target, scrolling the page under the window's middle when it
        is not in view (a form that grew pushes its button down)."""
        end = time.time() + seconds
        notches = 0
        while True:
            found = self.targets().find(label, spec, kind)
            if found:
                return found[0]
            if time.time() >= end:
                return self.wait_target(label, spec, kind, 0.1)  # fails with the list
            time.sleep(0.2)
            found = self.targets().find(label, spec, kind)
            if found:
                return found[0]
            if notches < 12 and time.time() > end - seconds + 2:
                # Down in steps, then back up to the top.
                button = 5 if notches < 6 else 4
                with self.road.input_lock:
                    self.xdotool("mousemove", "--window", self.window, self.size[0] * 2 // 3, self.size[1] // 2)
                    self.xdotool("click", button)
                notches += 1
                time.sleep(0.3)

    def click(self, label=None, spec=None, kind=None, seconds=30):
        """Presses the element found by label (or spec) at its centre; returns the target."""
        t = self.scroll_to(label, spec, kind, seconds)
        x, y = t["x"] + t["w"] // 2, t["y"] + t["h"] // 2
        with self.road.input_lock:
            for attempt in (1, 2, 3):
                self.read()
                since = len(self.trace)
                self.xdotool("mousemove", "--window", self.window, x, y)
                self.xdotool("click", "1")
                # The press reached the window (and where); a window that has
                # only just appeared may miss the first one.
                try:
                    pressed = self.wait_trace(r"^WM_LBUTTONUP -?\d+,-?\d+$", 6 if attempt == 1 else 10, since)
                    break
                except RoadFailed:
                    if attempt == 3 or self.saw(r"^WM_LBUTTONDOWN ", since):
                        raise
                    self.road.note("the click at %d,%d went nowhere; again" % (x, y))
        px, py = [int(v) for v in pressed.split(" ")[1].split(",")]
        if abs(px - x) > 2 or abs(py - y) > 2:
            raise RoadFailed("the click meant for %d,%d reached the window at %d,%d" % (x, y, px, py))
        self.road.note("clicked %s '%s' at %d,%d" % (t["kind"], t["label"] or t["spec"], x, y))
        return t

    def focus_window(self):
        try:
            self.xdotool("windowfocus", "--sync", self.window)
        except RoadFailed as e:
            # Not viewable this moment (Wine remaps a window it moved): the
            # keys then go where Wine's foreground window is anyway.
            self.road.note("no X focus for the window: %s" % str(e).splitlines()[0])

    def type_into(self, label, text):
        """Clicks the field labelled `label` and types `text` into it."""
        with self.road.input_lock:
            self._type_into(label, text)

    def _type_into(self, label, text):
        self.activate()
        self.click(label, kind="field")
        wait_until(lambda: "focus" in (self.targets().find(label, kind="field", usable=False) or [{"state": ""}])[0][
            "state"], 10, "the field '%s' to take the focus" % label)
        self.key("ctrl+a", activate=False)  # typing then replaces whatever the field held
        self.type_text(text)

    def type_text(self, text):
        want = len(text.encode("utf-16-le")) // 2
        for attempt in (1, 2):
            self.read()
            since = len(self.trace)
            self.focus_window()
            self.xdotool("type", "--delay", "40", text)
            typed = lambda: sum(1 for _, s in self.trace[since:] if s.startswith("WM_CHAR "))  # noqa: E731
            try:
                wait_until(lambda: self.read() or typed() >= want, 5 if attempt == 1 else 15,
                           "%d typed characters to reach the window" % want)
                return
            except RoadFailed:
                if attempt == 2 or typed() > 0:
                    raise
                self.road.note("the typing went nowhere; the window forward and again")
                self.press_caption()

    def activate(self):
        """Makes the window the foreground one, where Wine sends the keys: all
        launchers share one wineserver desktop, so a click in another road's
        window (or a game that starts) takes the keyboard away. The X focus
        leaves the window and comes back: Wine brings a window that gains the
        X focus forward."""
        self.read()
        since = len(self.trace)
        try:
            self.xdotool("windowfocus", "--sync", xshot.root_window(self.road.display.name))
        except RoadFailed:
            pass
        self.focus_window()
        try:
            self.wait_trace(r"^WM_ACTIVATE$", 2, since)
        except RoadFailed:
            pass  # it may have been in front already

    def press_caption(self):
        """A press on the drawn title bar's empty part: the system's caption
        handling brings the window forward (after a game started, the X focus
        alone does not)."""
        items = [t for t in self.targets().items if t["y"] < 40]
        left = max([t["x"] + t["w"] for t in items if t["x"] < self.size[0] // 2] + [160])
        right = min([t["x"] for t in items if t["x"] >= self.size[0] // 2] + [self.size[0] - 100])
        x, y = left + min(40, (right - left) // 2), 22
        self.read()
        since = len(self.trace)
        self.xdotool("mousemove", "--window", self.window, x, y)
        self.xdotool("click", "1")
        self.wait_trace(r"^WM_EXITSIZEMOVE$", 10, since)
        time.sleep(0.3)
        self.window = self.find_window() or self.window

    def key(self, name, activate=True):
        with self.road.input_lock:
            self._key(name, activate)

    def _key(self, name, activate):
        if activate:
            self.activate()
        # Now and then the first key after a click goes nowhere: once more.
        for attempt in (1, 2):
            self.read()
            since = len(self.trace)
            self.focus_window()
            self.xdotool("key", name)
            try:
                self.wait_trace(r"^WM_KEYDOWN ", 6 if attempt == 1 else 10, since)
                return
            except RoadFailed:
                if attempt == 2:
                    raise
                self.road.note("the key %s went nowhere; the window forward and again" % name)
                self.press_caption()

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
        with self.road.input_lock:
            self._pick_folder(title, folder)

    def _pick_folder(self, title, folder):
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
            x, y = xshot.window_origin(self.road.display.name, self.window)
            xshot.shoot(self.road.display.name, x, y, int(g["WIDTH"]), int(g["HEIGHT"]), path)
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
    """The project's version, which the build gives the roads (roads.cmake)."""
    version = os.environ.get("EMBER_LAUNCHER_VERSION", "")
    if not version:
        raise RoadFailed("EMBER_LAUNCHER_VERSION is not set (ctest sets it from the project's version)")
    return version


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
        self.input_lock = InputLock(os.path.join(artefacts, "roads-input.lock"))

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
        last = os.path.join(self.work, "last-screen.png")
        if self.runs and self.runs[-1].proc.poll() is None:
            self.runs[-1].shot(last)
        if not os.path.exists(last):
            # The launcher closed itself: its last screen is the last picture taken.
            shots = sorted((os.path.getmtime(os.path.join(self.work, f)), f) for f in os.listdir(self.work)
                           if f.endswith(".png"))
            if shots:
                shutil.copy(os.path.join(self.work, shots[-1][1]), last)
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
