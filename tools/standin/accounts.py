"""The stand-in account service: the REST API the launcher signs in to.

A working service, kept small: accounts with salted PBKDF2 password hashes,
activation by mail (the mails go to a file), access and refresh tokens with
lifetimes and refresh rotation, realms with population, three character
slots per account and realm, play sessions, and the anti-abuse challenge (a
SHA-256 proof-of-work and a PNG picture of a six-digit code).

Every account service lives in a "space" with its own accounts, settings
and files, so tests running side by side against one stand-in do not meet:
the default space answers under /api/v1/, a named one under
/s/<name>/api/v1/ (a manifest fetched with ?accountSpace=<name> points its
apiBase there). A space keeps its files in <state dir>/<name or "default">/:

  accounts.json   accounts, characters, tokens and sessions (rewritten
                  atomically after every change)
  mail.jsonl      one JSON line per activation mail: to, subject, token, link
  captcha.jsonl   one JSON line per picture code issued: token, purpose, code

Endpoints (under <space>/api/v1/):
  POST   auth/register            email, password, displayName, captcha,
                                  hp, formLoadedAt -> pending (a mail) or,
                                  with autoActivate, signed in
  GET    auth/activate?token=T    the activation link of the mail
  POST   auth/activation/resend   email -> a new mail for a pending account
  POST   auth/login               email, password, captcha -> account+tokens
  POST   auth/refresh             refreshToken -> new tokens (rotation; a
                                  used refresh token gives refresh_reused
                                  and ends its whole family)
  POST   auth/logout              Bearer; refreshToken -> revoked
  GET    auth/whoami              Bearer -> account, email, characters
  GET    realms                   realms with players/maxPlayers/online
  GET    characters?realm=K       Bearer -> characters, maxSlots, used
  POST   characters               Bearer; name, realm -> the new list (201)
  DELETE characters/<id>          Bearer -> 204 (or the list, see control)
  GET    characters/available?name=N&realm=K   valid, available, reason
  POST   play/sessions            Bearer; serverKey, characterId
  GET    captcha/challenge?purpose=login|register
  GET    captcha/image?token=T    the challenge's picture (PNG)

Errors are {"error": code, "message": text} with the codes the launcher
knows. Control: POST /control/accounts (see handle_control).
"""

import datetime
import hashlib
import hmac
import json
import os
import random
import re
import secrets
import struct
import tempfile
import threading
import time
import zlib
from urllib.parse import parse_qs, unquote

API_PREFIX = "/api/v1/"
SPACE_PREFIX = "/s/"
SPACE_NAME = re.compile(r"^[A-Za-z0-9_.-]{1,64}$")
CHARACTER_SLOTS = 3
PBKDF2_ROUNDS = 20000
LAYERS = ("pow", "visual")

DEFAULT_SETTINGS = {
    "powDifficulty": 10,           # leading zero bits asked for
    "challengeLifetime": 120,      # seconds
    "layers": {"login": [], "register": []},  # what each purpose demands
    "autoActivate": False,         # registration signs in at once
    "registrationOpen": True,
    "unavailable": "",             # an error code: every call answers 503
    "accessLifetime": 900,
    "refreshLifetime": 30 * 86400,
    "sessionLifetime": 300,
    "lockAfter": 5,                # failed sign-ins before a lock (0: never)
    "lockSeconds": 300,
    # action -> {"max": attempts per window, "window": seconds}; "report" says
    # where the wait goes: "both" (JSON and header), "json", "header", "none"
    "rateLimits": {"login": {"max": 30, "window": 60}, "register": {"max": 30, "window": 60},
                   "resend": {"max": 10, "window": 60}, "checkName": {"max": 120, "window": 60}},
    "rateReport": "both",
    "deleteReply": "empty",        # "empty" (204) or "list" (200 + the list)
}

DEFAULT_REALMS = [
    {"key": "test-realm", "name": "Emberlane Test Realm", "host": "127.0.0.1", "port": 7777,
     "basePlayers": 12, "maxPlayers": 100, "online": True},
    {"key": "westreach", "name": "Westreach", "host": "127.0.0.1", "port": 7778,
     "basePlayers": 0, "maxPlayers": 60, "online": False},
]

# A seeded account in every space, active, for local runs and quick tests.
DEMO_EMAIL = "demo@emberlane.test"
DEMO_PASSWORD = "ember-demo-1"
DEMO_NAME = "Demo"

EMAIL = re.compile(r"^[^@\s]+@[^@\s]+\.[^@\s]+$")
DISPLAY_NAME = re.compile(r"^[A-Za-z0-9 _-]{3,24}$")
CHARACTER_NAME = re.compile(r"^[A-Za-z]+(?:[ '-][A-Za-z]+)*$")
RESERVED_NAMES = {"admin", "gm", "moderator", "system", "emberlane"}


class ApiError(Exception):
    """One refusal: status, code, message and extra members."""

    def __init__(self, status, code, message, **extra):
        super().__init__(code)
        self.status = status
        self.code = code
        self.message = message
        self.extra = extra
        self.headers = []


def iso(t):
    return datetime.datetime.fromtimestamp(int(t), datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")


def hash_password(password, salt=None, rounds=PBKDF2_ROUNDS):
    salt = salt or secrets.token_bytes(16)
    digest = hashlib.pbkdf2_hmac("sha256", password.encode("utf-8"), salt, rounds)
    return "pbkdf2_sha256$%d$%s$%s" % (rounds, salt.hex(), digest.hex())


def check_password(password, stored):
    try:
        kind, rounds, salt, digest = stored.split("$")
        if kind != "pbkdf2_sha256":
            return False
        again = hashlib.pbkdf2_hmac("sha256", password.encode("utf-8"), bytes.fromhex(salt), int(rounds))
        return hmac.compare_digest(again.hex(), digest)
    except ValueError:
        return False


def leading_zero_bits(digest):
    count = 0
    for byte in digest:
        if byte == 0:
            count += 8
            continue
        count += 8 - byte.bit_length()
        break
    return count


def pow_ok(salt_hex, nonce, difficulty):
    """The proof-of-work rule: SHA-256 over the salt's bytes followed by the
    nonce in decimal ASCII must start with `difficulty` zero bits."""
    if isinstance(nonce, float) and nonce.is_integer():
        nonce = int(nonce)
    if not isinstance(nonce, int) or isinstance(nonce, bool) or nonce < 0:
        return False
    digest = hashlib.sha256(bytes.fromhex(salt_hex) + str(nonce).encode("ascii")).digest()
    return leading_zero_bits(digest) >= difficulty


# --- Picture of a code ------------------------------------------------------

# 5 x 7 digits, one string per row, '#' set.
FONT = {
    "0": [" ### ", "#   #", "#  ##", "# # #", "##  #", "#   #", " ### "],
    "1": ["  #  ", " ##  ", "  #  ", "  #  ", "  #  ", "  #  ", " ### "],
    "2": [" ### ", "#   #", "    #", "   # ", "  #  ", " #   ", "#####"],
    "3": ["#####", "   # ", "  #  ", "   # ", "    #", "#   #", " ### "],
    "4": ["   # ", "  ## ", " # # ", "#  # ", "#####", "   # ", "   # "],
    "5": ["#####", "#    ", "#### ", "    #", "    #", "#   #", " ### "],
    "6": ["  ## ", " #   ", "#    ", "#### ", "#   #", "#   #", " ### "],
    "7": ["#####", "    #", "   # ", "  #  ", " #   ", " #   ", " #   "],
    "8": [" ### ", "#   #", "#   #", " ### ", "#   #", "#   #", " ### "],
    "9": [" ### ", "#   #", "#   #", " ####", "    #", "   # ", " ##  "],
}
PICTURE_W, PICTURE_H, SCALE = 220, 80, 5


def png_bytes(width, height, rows):
    """A truecolour PNG from rows of RGB bytes."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    raw = b"".join(b"\x00" + bytes(row) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))


def draw_code(code, seed=None):
    """The code's digits, scaled and jittered, on a speckled background with
    a few crossing lines: a PNG."""
    rng = random.Random(seed)
    rows = [bytearray(PICTURE_W * 3) for _ in range(PICTURE_H)]

    def put(x, y, rgb):
        if 0 <= x < PICTURE_W and 0 <= y < PICTURE_H:
            rows[y][x * 3:x * 3 + 3] = bytes(rgb)

    for y in range(PICTURE_H):
        for x in range(PICTURE_W):
            shade = 225 + rng.randrange(30)
            put(x, y, (shade, shade - rng.randrange(12), shade - rng.randrange(20)))
    pitch = (PICTURE_W - 20) // len(code)
    for i, digit in enumerate(code):
        colour = (rng.randrange(90), rng.randrange(60), 60 + rng.randrange(100))
        left = 10 + i * pitch + rng.randrange(-3, 4)
        top = (PICTURE_H - 7 * SCALE) // 2 + rng.randrange(-8, 9)
        for r, line in enumerate(FONT[digit]):
            for c, cell in enumerate(line):
                if cell != "#":
                    continue
                for dy in range(SCALE):
                    for dx in range(SCALE):
                        put(left + c * SCALE + dx, top + r * SCALE + dy, colour)
    for _ in range(4):
        y0, y1 = rng.randrange(PICTURE_H), rng.randrange(PICTURE_H)
        colour = (rng.randrange(160), rng.randrange(160), rng.randrange(160))
        for x in range(PICTURE_W):
            put(x, y0 + (y1 - y0) * x // PICTURE_W, colour)
    for _ in range(PICTURE_W * PICTURE_H // 40):
        put(rng.randrange(PICTURE_W), rng.randrange(PICTURE_H), (rng.randrange(256),) * 3)
    return png_bytes(PICTURE_W, PICTURE_H, rows)


# --- One account service ----------------------------------------------------

class Space:
    """Accounts, tokens, characters, challenges and settings of one account
    service, with its files in `folder`. Every method runs under self.lock."""

    def __init__(self, name, folder):
        self.name = name
        self.folder = folder
        self.lock = threading.RLock()
        os.makedirs(folder, exist_ok=True)
        self.state_path = os.path.join(folder, "accounts.json")
        self.mail_path = os.path.join(folder, "mail.jsonl")
        self.captcha_path = os.path.join(folder, "captcha.jsonl")
        self.settings = json.loads(json.dumps(DEFAULT_SETTINGS))
        self.challenges = {}   # token -> challenge record (short-lived, in memory)
        self.attempts = {}     # (action, key) -> [times]
        self.forced = []       # forced refusals: dicts with path, status, error, times
        self.data = None
        if os.path.exists(self.state_path):
            with open(self.state_path) as f:
                self.data = json.load(f)
        if not self.data:
            self.reset()

    def reset(self):
        self.data = {"nextProfileId": 1001, "accounts": {}, "characters": [], "access": {}, "refresh": {},
                     "sessions": {}, "activations": {},
                     "realms": [dict(r, lastSeen=iso(time.time())) for r in DEFAULT_REALMS]}
        self.settings = json.loads(json.dumps(DEFAULT_SETTINGS))
        self.challenges = {}
        self.attempts = {}
        self.forced = []
        for path in (self.mail_path, self.captcha_path):
            if os.path.exists(path):
                os.remove(path)
        self.create_account(DEMO_EMAIL, DEMO_PASSWORD, DEMO_NAME, "active")
        self.save()

    def save(self):
        fd, tmp = tempfile.mkstemp(dir=self.folder, prefix="accounts.", suffix=".tmp")
        with os.fdopen(fd, "w") as f:
            json.dump(self.data, f, indent=2)
        os.replace(tmp, self.state_path)

    def append_line(self, path, record):
        with open(path, "a") as f:
            f.write(json.dumps(record) + "\n")

    # Accounts ----------------------------------------------------------------

    def create_account(self, email, password, display_name, status):
        profile_id = self.data["nextProfileId"]
        self.data["nextProfileId"] += 1
        account = {"publicId": "acc_" + secrets.token_hex(8), "email": email, "displayName": display_name,
                   "status": status, "profileId": profile_id, "password": hash_password(password),
                   "createdAt": int(time.time()), "failures": 0, "lockedUntil": 0, "ban": None}
        self.data["accounts"][email] = account
        return account

    def account_json(self, account):
        return {"publicId": account["publicId"], "displayName": account["displayName"],
                "status": account["status"], "profileId": account["profileId"]}

    def find_by_display_name(self, name):
        for account in self.data["accounts"].values():
            if account["displayName"].lower() == name.lower():
                return account
        return None

    def issue_tokens(self, account, family=None):
        now = time.time()
        # Expired tokens go; used refresh tokens stay until then, to catch reuse.
        for table in ("access", "refresh"):
            self.data[table] = {t: r for t, r in self.data[table].items() if r["expires"] > now}
        access = "at_" + secrets.token_urlsafe(24)
        refresh = "rt_" + secrets.token_urlsafe(32)
        s = self.settings
        self.data["access"][access] = {"email": account["email"], "expires": now + s["accessLifetime"],
                                       "family": family or secrets.token_hex(8)}
        family = self.data["access"][access]["family"]
        self.data["refresh"][refresh] = {"email": account["email"], "expires": now + s["refreshLifetime"],
                                         "family": family, "used": False}
        return {"accessToken": access, "refreshToken": refresh, "tokenType": "Bearer",
                "accessExpiresIn": int(s["accessLifetime"]), "refreshExpiresIn": int(s["refreshLifetime"])}

    def end_family(self, family):
        for table in ("access", "refresh"):
            for token in [t for t, r in self.data[table].items() if r["family"] == family]:
                del self.data[table][token]

    def bearer_account(self, req):
        header = req.headers.get("Authorization", "")
        if not header.startswith("Bearer "):
            raise ApiError(401, "unauthorized", "sign in first")
        record = self.data["access"].get(header[len("Bearer "):].strip())
        if record is None:
            raise ApiError(401, "invalid_token", "that sign-in is not known; sign in again")
        if record["expires"] < time.time():
            raise ApiError(401, "token_expired", "that sign-in has expired")
        account = self.data["accounts"].get(record["email"])
        if account is None:
            raise ApiError(401, "invalid_token", "that account is gone")
        self.check_standing(account)
        return account, record

    def check_standing(self, account):
        now = time.time()
        ban = account.get("ban")
        if ban and (not ban.get("until") or ban["until"] > now):
            raise ApiError(403, "account_banned", "this account is banned", reason=ban.get("reason", ""),
                           expiresAt=iso(ban["until"]) if ban.get("until") else "")
        if account["lockedUntil"] > now:
            error = ApiError(423, "account_locked", "this account is locked after too many failed sign-ins",
                             lockedUntil=iso(account["lockedUntil"]))
            raise error

    # Limits and challenges ---------------------------------------------------

    def rate_limit(self, action, key):
        rule = self.settings["rateLimits"].get(action)
        if not rule:
            return
        now = time.time()
        window = float(rule.get("window", 60))
        seen = [t for t in self.attempts.get((action, key), []) if t > now - window]
        if len(seen) >= int(rule.get("max", 0)):
            wait = (seen[0] + window - now) if seen else window
            wait = max(round(wait, 1), 0.1)
            report = rule.get("report", self.settings["rateReport"])
            extra = {"retryAfter": wait} if report in ("both", "json") else {}
            error = ApiError(429, "rate_limited", "too many attempts; wait a moment", **extra)
            if report in ("both", "header"):
                error.headers.append(("Retry-After", str(int(-(-wait // 1)))))
            self.attempts[(action, key)] = seen
            raise error
        seen.append(now)
        self.attempts[(action, key)] = seen

    def new_challenge(self, purpose, base):
        layers = [layer for layer in self.settings["layers"].get(purpose, []) if layer in LAYERS]
        token = "ch_" + secrets.token_urlsafe(18)
        record = {"token": token, "alg": "sha256", "salt": secrets.token_hex(16), "purpose": purpose,
                  "answerMode": "digits", "difficulty": int(self.settings["powDifficulty"]), "maxIters": 0,
                  "expiresAt": int(time.time() + self.settings["challengeLifetime"]), "layers": layers}
        code = None
        if "visual" in layers:
            code = "%06d" % secrets.randbelow(1000000)
            self.append_line(self.captcha_path, {"token": token, "purpose": purpose, "code": code})
        self.challenges[token] = dict(record, code=code, used=False)
        if len(self.challenges) > 5000:
            for old in sorted(self.challenges, key=lambda t: self.challenges[t]["expiresAt"])[:1000]:
                del self.challenges[old]
        return record, base + API_PREFIX + "captcha/image?token=" + token

    def demand(self, purpose, layers, base, message="complete the check to continue"):
        challenge, widget = self.new_challenge(purpose, base)
        return ApiError(428, "captcha_required", message,
                        captcha={"required": list(layers), "widgetUrl": widget, "challenge": challenge})

    def check_captcha(self, purpose, answer, base):
        """Passes when the answer covers every layer the purpose demands;
        raises captcha_required (with a fresh challenge) or captcha_failed."""
        required = [layer for layer in self.settings["layers"].get(purpose, []) if layer in LAYERS]
        if not required:
            return
        answer = answer if isinstance(answer, dict) else {}
        parts = {layer: answer.get(layer) for layer in required if isinstance(answer.get(layer), dict)}
        if len(parts) < len(required):
            raise self.demand(purpose, required, base)
        # Each challenge answers once: a second try needs a new one.
        now = time.time()
        records = {}
        for layer, part in parts.items():
            record = self.challenges.get(str(part.get("token", "")))
            if record is None or record["purpose"] != purpose or layer not in record["layers"]:
                raise ApiError(400, "captcha_failed", "that check is not known; try the new one")
            records[record["token"]] = record
        for record in records.values():
            if record["expiresAt"] < now:
                raise self.demand(purpose, required, base, "the check expired; here is a new one")
            if record["used"]:
                raise ApiError(400, "captcha_failed", "that check was already used; try the new one")
        for record in records.values():
            record["used"] = True
        for layer, part in parts.items():
            record = self.challenges[str(part["token"])]
            if layer == "pow" and not pow_ok(record["salt"], part.get("n"), record["difficulty"]):
                raise ApiError(400, "captcha_failed", "the proof-of-work does not check out")
            if layer == "visual" and str(part.get("answer", "")).strip() != record["code"]:
                raise ApiError(400, "captcha_failed", "that code does not match the picture")

    # Realms and characters ---------------------------------------------------

    def realm(self, key):
        for realm in self.data["realms"]:
            if realm["key"] == key:
                return realm
        return None

    def realm_json(self, realm):
        now = time.time()
        active = {s["characterId"] or s["email"] for s in self.data["sessions"].values()
                  if s["realm"] == realm["key"] and s["expires"] > now}
        players = min(realm["basePlayers"] + len(active), realm["maxPlayers"]) if realm["online"] else 0
        return {"key": realm["key"], "name": realm["name"], "host": realm["host"], "port": realm["port"],
                "players": players, "maxPlayers": realm["maxPlayers"], "online": bool(realm["online"]),
                "lastSeen": iso(now) if realm["online"] else realm["lastSeen"]}

    def character_list(self, account, realm_key):
        mine = sorted((c for c in self.data["characters"]
                       if c["email"] == account["email"] and c["realm"] == realm_key), key=lambda c: c["slot"])
        return {"characters": [self.character_json(c) for c in mine], "maxSlots": CHARACTER_SLOTS,
                "used": len(mine), "realm": realm_key}

    def character_json(self, c):
        return {"id": c["id"], "name": c["name"], "slot": c["slot"], "realm": c["realm"]}

    def name_check(self, name, realm_key):
        name = name.strip()
        if len(name) < 3:
            return False, False, "at least 3 letters"
        if len(name) > 16:
            return False, False, "at most 16 characters"
        if not CHARACTER_NAME.match(name):
            return False, False, "letters, with single spaces, apostrophes or hyphens between them"
        if name.lower() in RESERVED_NAMES:
            return True, False, "that name is reserved"
        for c in self.data["characters"]:
            if c["realm"] == realm_key and c["name"].lower() == name.lower():
                return True, False, "that name is taken on this realm"
        return True, True, ""


class Accounts:
    """Every space of the stand-in's account service, and the endpoints."""

    def __init__(self, state_dir):
        self.state_dir = state_dir or tempfile.mkdtemp(prefix="standin-accounts-")
        os.makedirs(self.state_dir, exist_ok=True)
        self.spaces = {}
        self.lock = threading.Lock()

    def space(self, name):
        name = name or "default"
        if not SPACE_NAME.match(name) or name in (".", ".."):
            return None
        with self.lock:
            space = self.spaces.get(name)
            if space is None:
                space = self.spaces[name] = Space(name, os.path.join(self.state_dir, name))
            return space

    # Routing -------------------------------------------------------------------

    def split(self, path):
        """(space name, API path after /api/v1/, base URL path) or None."""
        if path.startswith(API_PREFIX):
            return "", path[len(API_PREFIX):], ""
        if path.startswith(SPACE_PREFIX):
            name, _, rest = path[len(SPACE_PREFIX):].partition("/")
            if ("/" + rest).startswith(API_PREFIX):
                return name, ("/" + rest)[len(API_PREFIX):], SPACE_PREFIX + name
        return None

    def handle(self, req):
        """(status, JSON object or bytes, content type, extra headers)."""
        parts = self.split(req.path_only)
        if parts is None:
            return 404, {"error": "not_found", "message": "no such endpoint"}, None, []
        name, path, base_path = parts
        space = self.space(name)
        if space is None:
            return 404, {"error": "not_found", "message": "no such account space"}, None, []
        base = req.origin + base_path
        with space.lock:
            try:
                return self.endpoint(space, req, path, base)
            except ApiError as e:
                body = {"error": e.code, "message": e.message}
                body.update(e.extra)
                return e.status, body, None, e.headers

    def endpoint(self, space, req, path, base):
        s = space.settings
        for rule in space.forced:
            if path.startswith(rule["path"]) and rule["times"] != 0:
                rule["times"] -= 1
                error = ApiError(int(rule.get("status", 400)), rule.get("error", "bad_request"),
                                 rule.get("message", ""), **rule.get("extra", {}))
                if rule.get("retryAfterHeader"):
                    error.headers.append(("Retry-After", str(rule["retryAfterHeader"])))
                space.forced = [r for r in space.forced if r["times"] != 0]
                raise error
        if s["unavailable"]:
            error = ApiError(503, s["unavailable"], "the account service is down for maintenance")
            error.headers.append(("Retry-After", "30"))
            raise error
        method = req.command
        body = {}
        if method in ("POST", "DELETE"):
            kind = req.headers.get("Content-Type", "").split(";")[0].strip().lower()
            if kind != "application/json":
                raise ApiError(415, "unsupported_media_type", "send JSON with Content-Type application/json")
            if req.body:
                try:
                    body = json.loads(req.body.decode("utf-8"))
                except (ValueError, UnicodeDecodeError):
                    raise ApiError(400, "bad_json", "the request body is not JSON")
                if not isinstance(body, dict):
                    raise ApiError(400, "bad_json", "the request body must be a JSON object")
        query = {k: v[0] for k, v in parse_qs(req.query_text, keep_blank_values=True).items()}
        route = (method, path)
        if route == ("POST", "auth/register"):
            return self.register(space, req, body, base)
        if route == ("GET", "auth/activate"):
            return self.activate(space, query.get("token", ""))
        if route == ("POST", "auth/activation/resend"):
            return self.resend(space, req, body, base)
        if route == ("POST", "auth/login"):
            return self.login(space, req, body, base)
        if route == ("POST", "auth/refresh"):
            return self.refresh(space, body)
        if route == ("POST", "auth/logout"):
            return self.logout(space, req, body)
        if route == ("GET", "auth/whoami"):
            account, _ = space.bearer_account(req)
            doc = {"account": space.account_json(account), "displayName": account["displayName"],
                   "email": account["email"], "emailVerified": account["status"] == "active",
                   "characters": [space.character_json(c) for c in space.data["characters"]
                                  if c["email"] == account["email"]]}
            return 200, doc, None, []
        if route == ("GET", "realms"):
            return 200, {"realms": [space.realm_json(r) for r in space.data["realms"]]}, None, []
        if route == ("GET", "characters"):
            account, _ = space.bearer_account(req)
            realm = self.realm_of(space, query.get("realm", ""))
            return 200, space.character_list(account, realm["key"]), None, []
        if route == ("POST", "characters"):
            return self.create_character(space, req, body)
        if method == "DELETE" and path.startswith("characters/"):
            return self.delete_character(space, req, path[len("characters/"):])
        if route == ("GET", "characters/available"):
            space.rate_limit("checkName", req.client_address[0])
            realm = self.realm_of(space, query.get("realm", ""))
            valid, available, reason = space.name_check(query.get("name", ""), realm["key"])
            return 200, {"valid": valid, "available": available, "reason": reason}, None, []
        if route == ("POST", "play/sessions"):
            return self.play_session(space, req, body)
        if route == ("GET", "captcha/challenge"):
            purpose = query.get("purpose", "")
            if purpose not in ("login", "register"):
                raise ApiError(400, "bad_purpose", "purpose must be login or register")
            challenge, _ = space.new_challenge(purpose, base)
            return 200, challenge, None, []
        if route == ("GET", "captcha/image"):
            record = space.challenges.get(query.get("token", ""))
            if record is None or not record.get("code"):
                raise ApiError(404, "not_found", "no picture for that challenge")
            return 200, draw_code(record["code"]), "image/png", []
        raise ApiError(404, "not_found", "no such endpoint")

    def realm_of(self, space, key):
        realm = space.realm(key) if key else space.data["realms"][0]
        if realm is None:
            raise ApiError(404, "unknown_realm", "there is no realm " + key)
        return realm

    # Endpoints -------------------------------------------------------------------

    def register(self, space, req, body, base):
        s = space.settings
        if not s["registrationOpen"]:
            raise ApiError(403, "registration_closed", "registration is closed right now")
        space.rate_limit("register", req.client_address[0])
        email = str(body.get("email", "")).strip().lower()
        password = body.get("password", "")
        display_name = str(body.get("displayName", "")).strip()
        if body.get("hp"):
            raise ApiError(400, "bad_request", "the form was filled in by a robot")
        space.check_captcha("register", body.get("captcha"), base)
        if not EMAIL.match(email):
            raise ApiError(400, "invalid_email", "that is not an email address")
        if not isinstance(password, str) or len(password) < 8:
            raise ApiError(400, "weak_password", "choose a password of at least 8 characters")
        if not DISPLAY_NAME.match(display_name):
            raise ApiError(400, "invalid_display_name", "a display name has 3 to 24 letters, digits, spaces, - or _")
        if email in space.data["accounts"]:
            raise ApiError(409, "email_taken", "that email already has an account")
        if space.find_by_display_name(display_name):
            raise ApiError(409, "display_name_taken", "that display name is taken")
        account = space.create_account(email, password, display_name, "active" if s["autoActivate"] else "pending")
        if account["status"] == "active":
            doc = {"account": space.account_json(account)}
            doc.update(space.issue_tokens(account))
            space.save()
            return 201, doc, None, []
        self.send_activation(space, account, base)
        space.save()
        return 201, {"status": "pending", "account": space.account_json(account),
                     "message": "We sent an activation link to %s." % email}, None, []

    def send_activation(self, space, account, base):
        token = "act_" + secrets.token_urlsafe(18)
        space.data["activations"][token] = account["email"]
        link = base + API_PREFIX + "auth/activate?token=" + token
        space.append_line(space.mail_path, {"to": account["email"], "subject": "Activate your Emberlane account",
                                            "token": token, "link": link, "at": iso(time.time())})

    def activate(self, space, token):
        email = space.data["activations"].pop(token, None)
        account = space.data["accounts"].get(email) if email else None
        if account is None:
            raise ApiError(404, "not_found", "that activation link is not valid (any more)")
        account["status"] = "active"
        space.save()
        return 200, {"ok": True, "message": "Your account is active; sign in from the launcher.",
                     "account": space.account_json(account)}, None, []

    def resend(self, space, req, body, base):
        email = str(body.get("email", "")).strip().lower()
        space.rate_limit("resend", email)
        account = space.data["accounts"].get(email)
        if account is not None and account["status"] == "pending":
            self.send_activation(space, account, base)
            space.save()
        # The same answer either way: the reply tells nobody which emails exist.
        return 200, {"message": "If that email has an account waiting for activation, a new link is on its way."}, \
            None, []

    def login(self, space, req, body, base):
        s = space.settings
        email = str(body.get("email", "")).strip().lower()
        space.rate_limit("login", email)
        space.check_captcha("login", body.get("captcha"), base)
        account = space.data["accounts"].get(email)
        password = body.get("password", "")
        if account is None or not isinstance(password, str):
            raise ApiError(401, "invalid_credentials", "that email and password do not match")
        if account["lockedUntil"] > time.time():
            space.check_standing(account)
        if not check_password(password, account["password"]):
            account["failures"] += 1
            if s["lockAfter"] and account["failures"] >= s["lockAfter"]:
                account["failures"] = 0
                account["lockedUntil"] = time.time() + s["lockSeconds"]
            space.save()
            raise ApiError(401, "invalid_credentials", "that email and password do not match")
        space.check_standing(account)
        if account["status"] == "pending":
            raise ApiError(403, "account_pending", "follow the link in the activation mail first")
        account["failures"] = 0
        doc = {"account": space.account_json(account)}
        doc.update(space.issue_tokens(account))
        space.save()
        return 200, doc, None, []

    def refresh(self, space, body):
        token = str(body.get("refreshToken", ""))
        record = space.data["refresh"].get(token)
        if record is None:
            raise ApiError(401, "invalid_token", "that sign-in is not known; sign in again")
        if record["used"]:
            # A refresh token works once; seeing it again means someone else
            # holds a copy, so the whole chain of sign-ins ends.
            space.end_family(record["family"])
            space.save()
            raise ApiError(401, "refresh_reused", "this sign-in was used elsewhere; sign in again")
        if record["expires"] < time.time():
            raise ApiError(401, "token_expired", "that sign-in has expired; sign in again")
        account = space.data["accounts"].get(record["email"])
        if account is None:
            raise ApiError(401, "invalid_token", "that account is gone")
        space.check_standing(account)
        record["used"] = True
        tokens = space.issue_tokens(account, record["family"])
        space.save()
        return 200, tokens, None, []

    def logout(self, space, req, body):
        _, record = space.bearer_account(req)
        space.end_family(record["family"])
        refresh = space.data["refresh"].get(str(body.get("refreshToken", "")))
        if refresh is not None:
            space.end_family(refresh["family"])
        space.save()
        return 200, {"ok": True}, None, []

    def create_character(self, space, req, body):
        account, _ = space.bearer_account(req)
        realm = self.realm_of(space, str(body.get("realm", "")))
        name = str(body.get("name", "")).strip()
        valid, available, reason = space.name_check(name, realm["key"])
        if not valid:
            raise ApiError(400, "invalid_name", reason)
        if not available:
            raise ApiError(409, "name_taken", reason)
        mine = space.character_list(account, realm["key"])
        if mine["used"] >= CHARACTER_SLOTS:
            raise ApiError(409, "character_limit", "all three character slots are used on this realm")
        taken = {c["slot"] for c in mine["characters"]}
        slot = min(set(range(1, CHARACTER_SLOTS + 1)) - taken)
        space.data["characters"].append({"id": "ch-" + secrets.token_hex(6), "name": name, "slot": slot,
                                         "realm": realm["key"], "email": account["email"]})
        space.save()
        return 201, space.character_list(account, realm["key"]), None, []

    def delete_character(self, space, req, character_id):
        account, _ = space.bearer_account(req)
        character_id = unquote(character_id)
        for c in space.data["characters"]:
            if c["id"] == character_id and c["email"] == account["email"]:
                space.data["characters"].remove(c)
                space.save()
                if space.settings["deleteReply"] == "list":
                    return 200, space.character_list(account, c["realm"]), None, []
                return 204, b"", "application/json", []
        raise ApiError(404, "not_found", "no such character on this account")

    def play_session(self, space, req, body):
        account, _ = space.bearer_account(req)
        realm = space.realm(str(body.get("serverKey", "")))
        if realm is None:
            raise ApiError(404, "unknown_realm", "there is no such realm")
        if not realm["online"]:
            raise ApiError(503, "realm_offline", "that realm is offline")
        character_id = str(body.get("characterId", ""))
        name = account["displayName"]
        if character_id:
            found = [c for c in space.data["characters"]
                     if c["id"] == character_id and c["email"] == account["email"] and c["realm"] == realm["key"]]
            if not found:
                raise ApiError(404, "not_found", "no such character on this realm")
            name = found[0]["name"]
        now = time.time()
        space.data["sessions"] = {k: v for k, v in space.data["sessions"].items() if v["expires"] > now}
        session = "ps_" + secrets.token_urlsafe(24)
        expires = now + space.settings["sessionLifetime"]
        space.data["sessions"][session] = {"email": account["email"], "realm": realm["key"],
                                           "characterId": character_id, "expires": expires}
        space.save()
        return 201, {"session": session, "characterId": character_id, "displayName": name,
                     "server": {"host": realm["host"], "port": realm["port"]}, "expiresAt": iso(expires)}, None, []

    # Control -----------------------------------------------------------------------

    def control(self, doc, query):
        """POST /control/accounts: changes one space (doc "space", default
        the default space); GET reads it. Members, each optional:
          reset: true                          a fresh space (demo account only)
          settings: {name: value}              any of DEFAULT_SETTINGS, merged
          layers: {"login": [...], "register": [...]}   demanded layers
          powDifficulty: N
          lock: {"email", "seconds"}           unlock with seconds 0
          ban: {"email", "reason", "seconds"}  no seconds: for ever; unban with
                                               "reason": null
          activate: email                      mark an account active
          realm: {"key", "name", "host", "port", "players", "maxPlayers",
                  "online"}                    change or add a realm
          force: {"path": "auth/login", "status", "error", "message",
                  "extra": {...}, "retryAfterHeader", "times"}  the next
                                               calls below that API path are
                                               refused with exactly that
        The reply: settings, state folder and files, mails, picture codes."""
        space = self.space(str(doc.get("space", query.get("space", [""])[0])))
        if space is None:
            return 400, {"error": "bad space name"}
        with space.lock:
            if doc.get("reset"):
                space.reset()
            for key, value in (doc.get("settings") or {}).items():
                if key not in DEFAULT_SETTINGS:
                    return 400, {"error": "unknown setting " + key}
                if isinstance(space.settings[key], dict) and isinstance(value, dict):
                    space.settings[key].update(value)
                else:
                    space.settings[key] = value
            if "layers" in doc:
                space.settings["layers"].update(doc["layers"])
            if "powDifficulty" in doc:
                space.settings["powDifficulty"] = int(doc["powDifficulty"])
            accounts = space.data["accounts"]
            for what in ("lock", "ban", "activate"):
                if what not in doc:
                    continue
                arg = doc[what] if isinstance(doc[what], dict) else {"email": str(doc[what])}
                email = str(arg.get("email", "")).strip().lower()
                account = accounts.get(email)
                if account is None:
                    return 404, {"error": "no account " + email}
                if what == "lock":
                    seconds = float(arg.get("seconds", 300))
                    account["lockedUntil"] = time.time() + seconds if seconds > 0 else 0
                elif what == "ban":
                    if arg.get("reason", "") is None:
                        account["ban"] = None
                    else:
                        seconds = arg.get("seconds")
                        account["ban"] = {"reason": str(arg.get("reason", "")),
                                          "until": time.time() + float(seconds) if seconds else 0}
                else:
                    account["status"] = "active"
            if "realm" in doc:
                r = doc["realm"]
                realm = space.realm(str(r.get("key", "")))
                if realm is None:
                    realm = {"key": str(r.get("key")), "name": str(r.get("key")), "host": "127.0.0.1",
                             "port": 7779, "basePlayers": 0, "maxPlayers": 50, "online": True,
                             "lastSeen": iso(time.time())}
                    space.data["realms"].append(realm)
                for name in ("name", "host", "port", "maxPlayers"):
                    if name in r:
                        realm[name] = r[name]
                if "players" in r:
                    realm["basePlayers"] = int(r["players"])
                if "online" in r:
                    if realm["online"] and not r["online"]:
                        realm["lastSeen"] = iso(time.time())
                    realm["online"] = bool(r["online"])
            if "force" in doc:
                rule = dict(doc["force"])
                rule["path"] = str(rule.get("path", ""))
                rule["times"] = int(rule.get("times", 1))
                space.forced.append(rule)
            space.save()
            return 200, self.describe(space)

    def describe(self, space):
        def lines(path):
            if not os.path.exists(path):
                return []
            with open(path) as f:
                return [json.loads(line) for line in f if line.strip()]
        return {"space": space.name, "settings": space.settings, "folder": space.folder,
                "files": {"accounts": space.state_path, "mail": space.mail_path, "captcha": space.captcha_path},
                "mails": lines(space.mail_path), "captchas": lines(space.captcha_path),
                "accounts": [dict(space.account_json(a), email=a["email"]) for a in space.data["accounts"].values()]}


def encode_body(doc):
    if isinstance(doc, bytes):
        return doc
    return json.dumps(doc, indent=2).encode("utf-8")
