"""What the stand-in web service publishes: channel manifests, client files
and the launcher build.

Every byte is generated from a seed (the file's path and, for files that
change between client releases, the release number), so two runs of the
service publish identical files and digests. Contents are generated when a
file is requested; only sizes and digests are kept, computed when the
catalog is built.
"""

import hashlib
import json
import random
import threading

# Client files of the sample realm: (path, size, changes with each release,
# first release that has it, last release that has it or None). The sizes
# cover an empty file, exactly one and one byte more than one 64 KiB chunk,
# and a file of more than a MiB, in sub-folders.
BASE_FILES = [
    ("Emberlane/EmberlaneLoader.exe", 180224, False, 1, None),
    ("Emberlane/Emberlane.dll", 1048583, True, 1, None),
    ("Emberlane/README.txt", 700, False, 1, None),
    ("Emberlane/data/realms.dat", 4096, True, 1, None),
    ("Emberlane/data/locale/en-US.txt", 2345, False, 1, None),
    ("Emberlane/data/empty.bin", 0, False, 1, None),
    ("Emberlane/plugins/bridge.dll", 65536, False, 1, None),
    ("Emberlane/plugins/legacy.dll", 65537, False, 1, 1),
    ("Emberlane/plugins/voice.dll", 32768, True, 2, None),
]
# Files only the beta channel carries.
BETA_FILES = [
    ("Emberlane/data/beta-notes.txt", 1200, True, 1, None),
]

LOADER_PATH = "Emberlane/EmberlaneLoader.exe"
DLL_PATH = "Emberlane/Emberlane.dll"
FILES_PREFIX = "/client/files/"
LAUNCHER_PREFIX = "/launcher/"
BULK_CHANNEL = "bulk"
# Channels for download benchmarks (only with --bench-channels): 20 files of
# 10 MiB, 5,000 files of 10 KiB in one folder ("small") or in folders of
# 100 ("spread"), 2,000 files of 16 KiB in folders of 100 ("many") and one
# file of 200 MiB ("single", for a download cut off and resumed): name,
# count, size, files per folder.
BENCH_CHANNELS = [("large", 20, 10 << 20, 20), ("small", 5000, 10 << 10, 5000), ("spread", 5000, 10 << 10, 100),
                  ("many", 2000, 16 << 10, 100), ("single", 1, 200 << 20, 1)]
GENERATED_AT = "2025-06-01T12:00:00Z"


def generate(path, size, seed):
    """The deterministic content of one file."""
    rng = random.Random("%s|%s" % (seed, path))
    if not path.endswith(".txt"):
        return rng.randbytes(size)
    # Text files hold readable lines, so a look into the game folder makes sense.
    words = ["ember", "lane", "realm", "client", "oblivion", "test", "file", "data", "line"]
    out = []
    length = 0
    n = 0
    while length < size:
        n += 1
        line = "%s line %d: %s\r\n" % (path, n, " ".join(rng.choice(words) for _ in range(8)))
        out.append(line)
        length += len(line)
    return "".join(out).encode("ascii")[:size]


class Entry:
    """One published file: where it lives, how big it is, its digest, and how
    to make its bytes again (a seed, or a local file given on the command line)."""

    __slots__ = ("path", "size", "sha256", "seed", "local", "data")

    def __init__(self, path, size, seed, local=None, data=None):
        self.path = path
        self.seed = seed
        self.local = local
        self.data = data
        if data is not None:
            self.size = len(data)
        elif local is not None:
            with open(local, "rb") as f:
                data = f.read()
            self.size = len(data)
        else:
            self.size = size
            data = generate(path, size, seed)
        self.sha256 = hashlib.sha256(data).hexdigest()

    def content(self):
        if self.data is not None:
            return self.data
        if self.local is not None:
            with open(self.local, "rb") as f:
                return f.read()
        return generate(self.path, self.size, self.seed)


class Catalog:
    """Everything the service publishes for one client release. Rebuilt (not
    changed in place) when the release changes, so readers need no lock."""

    def __init__(self, release=1, game_versions=("0.411.140.0", "0.412.3.0"),
                 launcher_version="2.2.0", launcher_file=None, client_files=None,
                 bulk_files=0, accounts="password", server_port=7777, bench_channels=False):
        self.release = release
        self.game_versions = list(game_versions)
        self.launcher_version = launcher_version
        self.accounts = accounts
        self.server_port = server_port
        self.client_version = "1.4.%d" % release
        client_files = client_files or {}

        # Client files of each channel, in manifest order.
        def entries(specs):
            out = []
            for path, size, changes, first, last in specs:
                if release < first or (last is not None and release > last):
                    continue
                seed = "r%d" % release if changes else "r0"
                out.append(Entry(path, size, seed, client_files.get(path)))
            return out

        stable = entries(BASE_FILES)
        self.channels = {"stable": stable, "beta": stable + entries(BETA_FILES)}
        if bulk_files > 0:
            self.channels[BULK_CHANNEL] = stable + self._bulk(bulk_files)
        if bench_channels:
            for name, count, size, per_folder in BENCH_CHANNELS:
                self.channels[name] = [Entry("Emberlane/%s/d%02d/f%04d.bin" % (name, i // per_folder, i), size, "bench")
                                       for i in range(count)]
            # A whole client with eight files of 512 KiB more, for downloads
            # that run long enough under a speed limit to be paused.
            self.channels["paced"] = stable + [Entry("Emberlane/paced/f%02d.bin" % i, 512 << 10, "bench")
                                               for i in range(8)]
        self.files = {}
        for files in self.channels.values():
            for entry in files:
                self.files[entry.path] = entry

        # The launcher build offered for self-update.
        self.launcher_name = "Emberlane-%s.exe" % launcher_version
        if launcher_file:
            self.launcher = Entry(self.launcher_name, 0, "", local=launcher_file)
        else:
            data = b"MZ" + random.Random("launcher|" + launcher_version).randbytes(262144 - 2)
            self.launcher = Entry(self.launcher_name, 0, "", data=data)

        self._manifest_cache = {}
        self._cache_lock = threading.Lock()

    @staticmethod
    def _bulk(count):
        # Many small files (0..2047 bytes) in folders of 500, for benchmarks
        # of the manifest, the plan and the check report.
        rng = random.Random("bulk-sizes")
        out = []
        for i in range(count):
            path = "Emberlane/bulk/d%03d/f%05d.dat" % (i // 500, i)
            out.append(Entry(path, rng.randrange(2048), "bulk"))
        return out

    def manifest(self, channel, origin, files_prefix=FILES_PREFIX, launcher_fault="", schema=1,
                 supported=None):
        """The manifest text of a channel as seen from `origin`
        ("http://127.0.0.1:8080"), or None for an unknown channel. Its
        baseUrl is origin + files_prefix; with `launcher_fault` the launcher
        URL carries that fault (fault=SPEC), so one test can spoil its own
        build download without touching anyone else's. `schema` and
        `supported` (a list of game versions) publish what a newer service
        or another game build would."""
        files = self.channels.get(channel)
        if files is None:
            return None
        games = list(supported) if supported else self.game_versions
        key = (channel, origin, files_prefix, launcher_fault, schema, tuple(games))
        with self._cache_lock:
            text = self._manifest_cache.get(key)
        if text is not None:
            return text
        doc = {
            "schema": schema,
            "channel": channel,
            "clientVersion": self.client_version + ("-beta" if channel == "beta" else ""),
            "generatedAt": GENERATED_AT,
            "baseUrl": origin + files_prefix,
            "server": {"name": "Emberlane Test Realm", "host": "localhost", "ip": "127.0.0.1",
                       "port": self.server_port},
            "game": {"supportedVersions": games,
                     "helpUrl": origin + "/help/game-version"},
            "client": {v: {"version": self.client_version, "dll": DLL_PATH, "loader": LOADER_PATH}
                       for v in games},
            "clientSettings": {"tickRate": 30, "voiceChat": True, "motd": "Welcome to the test realm",
                               "interpolation": 0.25},
            "files": [{"path": e.path, "sha256": e.sha256, "size": e.size} for e in files],
            "accounts": {"enabled": self.accounts != "none", "mode": self.accounts,
                         "apiBase": origin, "serverKey": "test-realm", "registerOpen": True,
                         "registerUrl": origin + "/register"},
            "blocked": [
                {"file": "OblivionRemastered/Binaries/Win64/dinput8.dll", "sha256": "",
                 "severity": "block", "reason": "loads code the realm does not allow"},
                {"file": "OblivionRemastered/Content/Paks/~mods/NoClip.pak",
                 "sha256": hashlib.sha256(b"NoClip").hexdigest(), "severity": "block",
                 "reason": "walks through walls"},
                {"file": "OblivionRemastered/Content/Paks/~mods/BrightNights.pak", "sha256": "",
                 "severity": "warn", "reason": "may look odd on this realm"},
            ],
            "news": [
                {"id": "n3", "tag": "patch", "title": "Client %s" % self.client_version,
                 "body": "Fixes and a new realm map.", "url": origin + "/news/n3", "at": "2025-05-30"},
                {"id": "n2", "tag": "event", "title": "Harvest festival",
                 "body": "Double experience all weekend.", "url": origin + "/news/n2", "at": "2025-05-20"},
            ],
            "launcher": {"version": self.launcher_version,
                         "url": origin + LAUNCHER_PREFIX + self.launcher_name +
                                ("?fault=" + launcher_fault if launcher_fault else ""),
                         "sha256": self.launcher.sha256,
                         "size": self.launcher.size},
        }
        text = json.dumps(doc, indent=2).encode("utf-8")
        with self._cache_lock:
            self._manifest_cache[key] = text
        return text
