#!/usr/bin/env python3
"""The real Emberlane.exe's window under Wine and Xvfb.

1. Screenshots (--shot) of the widget kit and of the start screen at UI scales
   1 and 1.5 and at 900x580 and 1600x1000: the PNG has the window's size, the
   kit's body shows the clear colour where nothing is drawn, the title bar and
   the widgets have drawn pixels where they stand, and the start screen shows one.
2. The owed-frames rule, read from the UI trace: every traced frame is owed
   by the messages traced before it (replayed through the window's table);
   after start and after a synthetic click the window draws what is owed and
   then sleeps; an animating spinner keeps drawing.
3. Idle CPU: the process's CPU time over 5 s of an idle window (reported,
   and it must stay under 1 % of a core).

usage: window_e2e.py <wine-run> <Emberlane.exe> <post_click.exe>
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zlib

WINE_RUN, EXE, POST_CLICK = sys.argv[1], sys.argv[2], sys.argv[3]
CLEAR = (0x0A, 0x16, 0x28)
failures = []


def fail(message):
    failures.append(message)
    print("FAIL: " + message, flush=True)


def read_png(path):
    """(width, height, rows of RGB(A) bytes) of an 8-bit, non-interlaced PNG."""
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour = header[:4]
    channels = {2: 3, 6: 4}[colour]
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, prev = [], bytearray(stride)
    for y in range(height):
        ftype = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = prev[i]
            c = prev[i - channels] if i >= channels else 0
            if ftype == 1:
                line[i] = (line[i] + a) & 255
            elif ftype == 2:
                line[i] = (line[i] + b) & 255
            elif ftype == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif ftype == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        prev = line
    return width, height, channels, rows


def pixel(png, x, y):
    _, _, channels, rows = png
    return tuple(rows[y][x * channels:x * channels + 3])


def bright_pixels(png, x0, y0, x1, y1, level=150):
    """Pixels in the box whose brightest channel reaches `level` (text, widgets)."""
    count = 0
    for y in range(int(y0), int(y1)):
        for x in range(int(x0), int(x1)):
            if max(pixel(png, x, y)) >= level:
                count += 1
    return count


def run(work, args, env=None, timeout=120):
    return subprocess.run([WINE_RUN, os.path.join(work, "Emberlane.exe")] + args, env=env, timeout=timeout,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


def winpath(path):
    return "Z:" + path.replace("/", "\\")


def check_screenshots(work, env):
    for scene in ("kit", "start"):
        for scale in (1.0, 1.5):
            for width, height in ((900, 580), (1600, 1000)):
                what = "%s at scale %g, %dx%d" % (scene, scale, width, height)
                shot = os.path.join(work, "shot-%s-%g-%d.png" % (scene, scale, width))
                args = ["--scale", str(scale), "--size", "%dx%d" % (width, height), "--shot", winpath(shot),
                        "--frames", "3", "--warp"]
                if scene == "kit":
                    args = ["--demo", "kit"] + args
                result = run(work, args, env)
                if result.returncode != 0 or not os.path.exists(shot):
                    fail("%s: exit code %d, no picture\n%s" % (what, result.returncode, result.stdout))
                    continue
                png = read_png(shot)
                # The window keeps its minimum size, 900 x 580 times the scale.
                want = (max(width, int(900 * scale)), max(height, int(580 * scale)))
                if png[:2] != want:
                    fail("%s: the picture is %dx%d, not %dx%d" % (what, png[0], png[1], want[0], want[1]))
                    continue
                width, height = want
                # The clear colour: the bottom-left corner lies outside both
                # aurora groups and, in the kit, inside the scene's padding.
                if scene == "kit" and pixel(png, 3, height - 3) != CLEAR:
                    fail("%s: the body's corner is %s, not the clear colour" % (what, pixel(png, 3, height - 3)))
                s = scale
                # The title bar's word mark and its close button.
                if bright_pixels(png, 14 * s, 8 * s, 160 * s, 36 * s) < 30:
                    fail("%s: no word mark drawn in the title bar" % what)
                if bright_pixels(png, width - 40 * s, 8 * s, width - 6 * s, 36 * s) < 5:
                    fail("%s: no close button drawn" % what)
                if scene == "kit":
                    # The first row of buttons under the "Buttons" head.
                    if bright_pixels(png, 28 * s, 80 * s, 400 * s, 130 * s) < 300:
                        fail("%s: no buttons drawn where the kit starts" % what)
                else:
                    # Without a demo the real screens fill the body (here,
                    # with no service to reach, a refusal screen and the rail).
                    lit = bright_pixels(png, 0, 50 * s, width, height, level=150)
                    if lit < 500:
                        fail("%s: only %d bright pixels: the body shows no screen" % (what, lit))
                print("ok: screenshot " + what, flush=True)


# The owed-frames table of the window: (raise to at least, or set) per message.
RAISE, SET = "raise", "set"
TABLE = {
    "WM_PAINT": (RAISE, 1), "WM_MOUSEMOVE": (RAISE, 1), "WM_MOUSELEAVE": (RAISE, 1), "WM_NCMOUSEMOVE": (RAISE, 1),
    "WM_ACTIVATE": (RAISE, 1), "WM_APP+1": (RAISE, 2), "WM_APP+2": (SET, 3), "WM_APP+3": (SET, 3),
    "WM_SIZE": (SET, 2), "WM_EXITSIZEMOVE": (SET, 2), "WM_DPICHANGED": (SET, 2),
    "WM_CLOSE": (SET, 3), "WM_LBUTTONDOWN": (SET, 3), "WM_LBUTTONUP": (SET, 3), "WM_RBUTTONDOWN": (SET, 3),
    "WM_RBUTTONUP": (SET, 3), "WM_MOUSEWHEEL": (SET, 3), "WM_KEYDOWN": (SET, 3), "WM_CHAR": (SET, 3),
    # The system's colours and settings (high contrast): any program in the
    # Wine prefix may send these while a test runs.
    "WM_SYSCOLORCHANGE": (RAISE, 2), "WM_SETTINGCHANGE": (RAISE, 2), "WM_THEMECHANGED": (RAISE, 2),
}
TRACE_LINE = re.compile(r"^\s*(\d+) (.*)$")
FRAME = re.compile(r"^frame (\d+) \(owed (\d+)\)$")


def read_trace(config):
    path = os.path.join(config, "ui-trace.log")
    lines = []
    if os.path.exists(path):
        for line in open(path, encoding="utf-8", errors="replace"):
            m = TRACE_LINE.match(line.rstrip("\n"))
            if m:
                lines.append((int(m.group(1)), m.group(2)))
    return lines


def replay(lines, what):
    """Checks every traced frame against the table; returns (frames, timer frames, owed at the end)."""
    owed, frames, timed = 2, 0, 0
    for i, (tick, text) in enumerate(lines):
        m = FRAME.match(text)
        if m:
            shown = int(m.group(2))
            if shown != owed:
                if owed == 0 and shown == 1:
                    timed += 1  # a timer the screens asked for
                else:
                    before = "; ".join("%d %s" % line for line in lines[max(0, i - 8):i])
                    fail("%s: '%s' at %d, but the messages before it owe %d (the trace before it: %s)"
                         % (what, text, tick, owed, before))
                    owed = shown
            else:
                frames += 1
            owed = max(0, (owed if owed else shown) - 1)
            continue
        name = text.split(" ")[0]
        if name in TABLE:
            kind, level = TABLE[name]
            owed = max(owed, level) if kind == RAISE else level
    return frames, timed, owed


def find_process(marker):
    """The Linux pid of the Windows process whose command line names `marker`."""
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            cmdline = open("/proc/%s/cmdline" % pid, "rb").read()
        except OSError:
            continue
        if marker.encode() in cmdline and b"wine-run" not in cmdline and b"start.exe" not in cmdline:
            return int(pid)
    return None


def cpu_seconds(pid):
    fields = open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def wait_for(predicate, seconds):
    end = time.time() + seconds
    while time.time() < end:
        if predicate():
            return True
        time.sleep(0.1)
    return False


def click(env, x, y):
    """Posts a move, a press and a release at client (x, y) to the launcher's window."""
    result = subprocess.run([WINE_RUN, POST_CLICK, str(x), str(y)], env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, timeout=60)
    if result.returncode != 0:
        fail("post_click found no launcher window (exit code %d)" % result.returncode)


class Running:
    """One launcher run with the UI trace on, ended by its own close button."""

    def __init__(self, work, env, name, args):
        self.config = os.path.join(work, name)
        os.makedirs(self.config)
        self.env = dict(env, EMBERLANE_CONFIG_DIR=winpath(self.config), EMBERLANE_UI_TRACE="1")
        self.exe = os.path.join(work, name + ".exe")
        shutil.copy(os.path.join(work, "Emberlane.exe"), self.exe)
        self.process = subprocess.Popen([WINE_RUN, self.exe, "--size", "1000x640", "--scale", "1", "--warp"] + args,
                                        env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.pid = None

    def started(self):
        if not wait_for(lambda: any(t.startswith("first frame") for _, t in read_trace(self.config)), 60):
            return False
        self.pid = find_process(os.path.basename(self.exe))
        return True

    def close(self):
        click(self.env, 1000 - 23, 22)
        try:
            return self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            return None


def check_wheel_automation(work, env):
    """--wheel scrolls the kit on the fourth frame: the picture's body moves up."""
    rows = {}
    for name, extra in (("still", []), ("wheeled", ["--wheel", "400,400,-3"])):
        shot = os.path.join(work, "wheel-%s.png" % name)
        result = run(work, ["--demo", "kit", "--size", "1000x640", "--scale", "1", "--shot", winpath(shot),
                            "--frames", "6", "--warp"] + extra, env)
        if result.returncode != 0 or not os.path.exists(shot):
            fail("wheel: the %s run wrote no picture" % name)
            return
        png = read_png(shot)
        # The left column's rows of lit pixels, below the title bar.
        rows[name] = [y for y in range(60, 600) if bright_pixels(png, 28, y, 460, y + 1) > 0]
    still, wheeled = rows["still"], rows["wheeled"]
    # Three notches of 60 px: what stood at row y now stands at y - 180.
    moved = sum(1 for y in wheeled if y + 180 in set(still))
    if not wheeled or moved < len(wheeled) // 2:
        fail("wheel: the kit did not scroll by three notches (%d of %d rows moved)" % (moved, len(wheeled)))
    else:
        print("ok: --wheel scrolled the kit", flush=True)


def check_owed_frames_and_idle(work, env):
    run_ = Running(work, env, "idle", [])
    try:
        if not run_.started():
            fail("the idle window never drew its first frame")
            return
        # Start-up: the frames its messages owe, then sleep.
        pid = run_.pid
        time.sleep(1.0)
        before = cpu_seconds(pid) if pid else None
        time.sleep(5.0)
        after = cpu_seconds(pid) if pid else None
        lines = read_trace(run_.config)
        frames, timed, owed = replay(lines, "start-up")
        if frames < 2 or timed or owed:
            fail("start-up: %d owed frames, %d timer frames, %d still owed" % (frames, timed, owed))
        print("ok: start-up drew %d owed frames, then slept" % frames, flush=True)
        if pid is None:
            fail("idle CPU: the launcher's process was not found")
        else:
            share = (after - before) / 5.0 * 100
            print("figure: idle CPU %.2f %% of a core over 5 s" % share, flush=True)
            if share >= 1.0:
                fail("idle CPU: %.2f %% of a core over 5 s" % share)
        count_before = sum(1 for _, text in read_trace(run_.config) if FRAME.match(text))
        if count_before != frames:
            fail("frames were drawn while idle (%d, owed %d)" % (count_before, frames))

        # A click on the body where nothing is clickable: the frames the click's messages owe, then sleep.
        click(run_.env, 500, 300)
        time.sleep(3.0)
        lines = read_trace(run_.config)
        frames_after, timed, owed = replay(lines, "click")
        clicked = frames_after - frames
        if not any(text.startswith("WM_LBUTTONUP") for _, text in lines):
            fail("click: no WM_LBUTTONUP reached the window; the trace ends with:\n    %s" %
                 "\n    ".join("%d %s" % line for line in lines[-12:]))
        elif clicked < 3 or timed or owed:
            fail("click: %d owed frames, %d timer frames, %d still owed" % (clicked, timed, owed))
        else:
            print("ok: the click drew %d owed frames, then slept" % clicked, flush=True)
    finally:
        code = run_.close()
        if code != 0:
            fail("the close button did not end the launcher with 0 (got %s)" % code)


def check_spinner_keeps_drawing(work, env):
    run_ = Running(work, env, "spinner", ["--demo", "kit"])
    try:
        if not run_.started():
            fail("the kit never drew its first frame")
            return
        time.sleep(1.0)
        first = sum(1 for _, text in read_trace(run_.config) if FRAME.match(text))
        time.sleep(2.0)
        lines = read_trace(run_.config)
        _, timed, _ = replay(lines, "spinner")
        drawn = sum(1 for _, text in lines if FRAME.match(text)) - first
        if drawn < 6:
            fail("spinner: only %d frames in 2 s while animating" % drawn)
        else:
            print("ok: the spinner kept drawing (%d frames in 2 s)" % drawn, flush=True)
    finally:
        code = run_.close()
        if code != 0:
            fail("the kit's close button did not end the launcher with 0 (got %s)" % code)


def main():
    work = tempfile.mkdtemp(prefix="ember-window-")
    try:
        shutil.copy(EXE, os.path.join(work, "Emberlane.exe"))
        env = dict(os.environ, EMBERLANE_CONFIG_DIR=winpath(os.path.join(work, "config")))
        check_screenshots(work, env)
        check_wheel_automation(work, env)
        check_owed_frames_and_idle(work, env)
        check_spinner_keeps_drawing(work, env)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
