// Sample state for the sign-in, registration, modal and blocker scenes.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "launcher/app/controller.h"
#include "launcher/app/pipeline.h"
#include "base/paths.h"
#include "launcher/demo/demo.h"
#include "launcher/screens/screens.h"
#include "launcher/kit/textfield.h"

namespace ember::launcher::view {

namespace {

// ---------------------------------------------------------------------------
// A sample picture challenge: six digits on speckled paper, as the service
// draws them, written as a PNG the toolkit loads like the real one.

uint32_t crc32(const std::string& bytes, size_t from) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = from; i < bytes.size(); ++i) {
        c ^= static_cast<uint8_t>(bytes[i]);
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

void put32(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

void chunk(std::string& png, const char* type, const std::string& data) {
    put32(png, static_cast<uint32_t>(data.size()));
    const size_t start = png.size();
    png += type;
    png += data;
    put32(png, crc32(png, start));
}

// RGB rows (already filtered with type 0) in stored DEFLATE blocks.
std::string encodeRgbPng(int width, int height, const std::vector<uint8_t>& rgb) {
    std::string raw;
    for (int y = 0; y < height; ++y) {
        raw += '\0';
        raw.append(reinterpret_cast<const char*>(rgb.data()) + static_cast<size_t>(y) * width * 3,
                   static_cast<size_t>(width) * 3);
    }
    std::string z = "\x78\x01";
    for (size_t at = 0; at < raw.size() || at == 0;) {
        const size_t n = std::min<size_t>(65535, raw.size() - at);
        const bool last = at + n >= raw.size();
        z += static_cast<char>(last ? 1 : 0);
        z += static_cast<char>(n & 0xFF);
        z += static_cast<char>(n >> 8);
        z += static_cast<char>(~n & 0xFF);
        z += static_cast<char>((~n >> 8) & 0xFF);
        z.append(raw, at, n);
        at += n;
        if (last) break;
    }
    uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    put32(z, (b << 16) | a);

    std::string png = "\x89PNG\r\n\x1a\n";
    std::string header;
    put32(header, static_cast<uint32_t>(width));
    put32(header, static_cast<uint32_t>(height));
    header += std::string("\x08\x02\x00\x00\x00", 5);
    chunk(png, "IHDR", header);
    chunk(png, "IDAT", z);
    chunk(png, "IEND", "");
    return png;
}

std::string samplePicture(const std::string& code) {
    static const char* const kFont[10][7] = {
        {" ### ", "#   #", "#  ##", "# # #", "##  #", "#   #", " ### "},
        {"  #  ", " ##  ", "  #  ", "  #  ", "  #  ", "  #  ", " ### "},
        {" ### ", "#   #", "    #", "   # ", "  #  ", " #   ", "#####"},
        {"#####", "   # ", "  #  ", "   # ", "    #", "#   #", " ### "},
        {"   # ", "  ## ", " # # ", "#  # ", "#####", "   # ", "   # "},
        {"#####", "#    ", "#### ", "    #", "    #", "#   #", " ### "},
        {"  ## ", " #   ", "#    ", "#### ", "#   #", "#   #", " ### "},
        {"#####", "    #", "   # ", "  #  ", " #   ", " #   ", " #   "},
        {" ### ", "#   #", "#   #", " ### ", "#   #", "#   #", " ### "},
        {" ### ", "#   #", "#   #", " ####", "    #", "   # ", " ##  "},
    };
    const int w = 220, h = 80, cell = 5;
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
    uint32_t seed = 0x2545F491u;
    auto rnd = [&](uint32_t n) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        return seed % n;
    };
    auto put = [&](int x, int y, uint8_t r, uint8_t g, uint8_t b) {
        if (x < 0 || y < 0 || x >= w || y >= h) return;
        uint8_t* p = &rgb[(static_cast<size_t>(y) * w + x) * 3];
        p[0] = r;
        p[1] = g;
        p[2] = b;
    };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t shade = static_cast<uint8_t>(225 + rnd(30));
            put(x, y, shade, static_cast<uint8_t>(shade - rnd(12)), static_cast<uint8_t>(shade - rnd(20)));
        }
    const int pitch = (w - 20) / static_cast<int>(code.size());
    for (size_t i = 0; i < code.size(); ++i) {
        const int digit = code[i] - '0';
        if (digit < 0 || digit > 9) continue;
        const uint8_t r = static_cast<uint8_t>(rnd(90)), g = static_cast<uint8_t>(rnd(60)),
                      b = static_cast<uint8_t>(60 + rnd(100));
        const int left = 10 + static_cast<int>(i) * pitch + static_cast<int>(rnd(7)) - 3;
        const int top = (h - 7 * cell) / 2 + static_cast<int>(rnd(17)) - 8;
        for (int row = 0; row < 7; ++row)
            for (int col = 0; col < 5; ++col) {
                if (kFont[digit][row][col] != '#') continue;
                for (int dy = 0; dy < cell; ++dy)
                    for (int dx = 0; dx < cell; ++dx) put(left + col * cell + dx, top + row * cell + dy, r, g, b);
            }
    }
    for (int line = 0; line < 4; ++line) {
        const int y0 = static_cast<int>(rnd(h)), y1 = static_cast<int>(rnd(h));
        const uint8_t r = static_cast<uint8_t>(rnd(160)), g = static_cast<uint8_t>(rnd(160)),
                      b = static_cast<uint8_t>(rnd(160));
        for (int x = 0; x < w; ++x) put(x, y0 + (y1 - y0) * x / w, r, g, b);
    }
    for (int i = 0; i < w * h / 40; ++i) {
        const uint8_t v = static_cast<uint8_t>(rnd(256));
        put(static_cast<int>(rnd(w)), static_cast<int>(rnd(h)), v, v, v);
    }
    return encodeRgbPng(w, h, rgb);
}

// ---------------------------------------------------------------------------
// Pieces of the scenes

void signedOut(app::AppState& s, app::Tab tab) {
    s.accountsActive = true;
    s.signedIn = false;
    s.playWithoutAccount = false;
    s.tab = tab;
    s.blocker = app::Blocker();
    s.fault = app::Fault();
}

void typed(app::AppState& s, bool registering) {
    setFieldText(s, "auth:email", "ada.lovelace@example.com");
    setFieldText(s, "auth:password", "correct horse battery");
    if (registering) {
        setFieldText(s, "auth:confirm", "correct horse battery");
        setFieldText(s, "auth:name", "Ada of Anvil");
    }
}

void message(app::AppState& s, app::Tone tone, const std::string& title, const std::string& detail,
             const std::string& actionLabel = "", app::FormAction action = app::FormAction::none) {
    s.form.message = app::FormMessage();
    s.form.message.tone = tone;
    s.form.message.title = title;
    s.form.message.detail = detail;
    s.form.message.actionLabel = actionLabel;
    s.form.message.action = action;
}

// A realm and characters for the dialogs when the common world has none.
void ensureRealmAndCharacters(app::AppState& s) {
    if (s.realms.empty()) {
        account::Realm anvil;
        anvil.key = "anvil";
        anvil.name = "Anvil";
        anvil.online = true;
        anvil.players = 38;
        anvil.maxPlayers = 200;
        s.realms.push_back(anvil);
    }
    if (s.realmKey.empty()) s.realmKey = s.realms.front().key;
    if (s.characters.characters.empty()) {
        account::Character c;
        c.id = "381402557264";
        c.name = "Brenna Stormhold";
        c.slot = 1;
        s.characters.characters.push_back(c);
        s.characters.used = 1;
        s.charactersStatus = app::CharactersStatus::ok;
        s.characterCount = 1;
    }
    bool chosen = false;
    for (const account::Character& c : s.characters.characters) chosen = chosen || c.id == s.config.characterId;
    if (!chosen) s.config.characterId = s.characters.characters.front().id;
}

app::Blocker blockerFor(const app::AppState& s, app::BlockerKind kind) {
    app::Blocker b;
    b.kind = kind;
    const std::string folder = "C:\\Program Files (x86)\\Steam\\steamapps\\common\\Oblivion Remastered";
    if (kind == app::BlockerKind::gameNotFound) {
        b.body = "The launcher couldn't find Oblivion Remastered on this PC.";
        b.searched = {"C:\\Program Files (x86)\\Steam\\steamapps\\common\\Oblivion Remastered",
                      "D:\\SteamLibrary\\steamapps\\common\\Oblivion Remastered",
                      "E:\\Games\\steamapps\\common\\Oblivion Remastered"};
    } else if (kind == app::BlockerKind::unsupportedVersion) {
        b.version = "1.2.0.31";
        b.supportedVersions = s.manifest.supportedVersions.empty() ? std::vector<std::string>{"1.1.0.0", "1.1.1.0"}
                                                                   : s.manifest.supportedVersions;
        b.helpUrl = "https://emberlane.example/help/game-version";
        b.body = "Your Oblivion Remastered is 1.2.0.31.";
    } else if (kind == app::BlockerKind::noNetwork) {
        b.body = "Can't reach emberlane.example, and there's nothing installed yet to play.";
        b.detail = "manifest: could not connect to the server (WinHTTP error 12029)";
    } else if (kind == app::BlockerKind::diskSpace) {
        b.drive = "D:";
        b.path = "D:\\SteamLibrary\\steamapps\\common\\Oblivion Remastered";
        b.neededBytes = 2576980378ull;  // 2.4 GB
        b.freeBytes = 1181116006ull;    // 1.1 GB
        b.detail = "needed 2576980378 bytes, 1181116006 free";
    } else if (kind == app::BlockerKind::blockedMods) {
        b.path = folder;
        b.mods = {{"OblivionRemastered\\Content\\Paks\\~mods\\SpeedHack_P.pak", "changes movement speed"},
                  {"OBSE\\Plugins\\InfiniteCarry.dll", "removes the carry-weight limit"}};
        b.body = "This server does not allow SpeedHack_P.pak, InfiniteCarry.dll.";
    } else if (kind == app::BlockerKind::permission) {
        b.path = folder;
        b.body = "Windows is blocking the launcher from changing files in your Oblivion Remastered folder.";
        b.detail = "write test failed: access denied (" + folder + "\\Emberlane\\.write-test)";
    } else if (kind == app::BlockerKind::fileLocked) {
        b.body = "A file the update needs is open in another program.";
        b.detail = "replace Emberlane\\emberlane_client.dll: the process cannot access the file because it is being "
                   "used by another process";
    } else if (kind == app::BlockerKind::launcherOutdated) {
        b.body = "This launcher is out of date. Update it to keep playing.";
        b.detail = "manifest schema 3 is newer than this launcher understands";
    } else if (kind == app::BlockerKind::manifestRefused) {
        b.body = app::text::kManifestRefusedBlocker;
        b.body.replace(b.body.find("%s"), 2, "emberlane.example");
        b.detail = "manifest refused: the manifest is not what key AAF801633C66F4C4 signed";
    } else if (kind == app::BlockerKind::restarting) {
        b.body = "";
    }
    return b;
}

}  // namespace

bool fillFormsDemoScene(app::AppState& state, const std::string& scene) {
    app::AppState& s = state;

    // Sign-in and registration.
    if (scene == "login" || scene == "login-error" || scene == "login-busy" || scene == "login-captcha" ||
        scene == "login-wait" || scene == "login-pending" || scene == "login-activate") {
        signedOut(s, app::Tab::login);
        if (scene == "login") return true;
        typed(s, false);
        if (scene == "login-error") {
            s.form.fieldKey = "password";
            s.form.fieldError = "That email and password don't match.";
        } else if (scene == "login-busy") {
            s.accountBusy = true;
            s.accountBusyLabel = "LOGGING IN\xE2\x80\xA6";
            s.form.hasDemand = true;
            s.form.demand.required = {"pow"};
            s.form.purpose = "login";
        } else if (scene == "login-captcha") {
            s.form.hasDemand = true;
            s.form.demand.required = {"pow", "visual"};
            s.form.purpose = "login";
            const std::string path = joinPath(configDir(), "demo-captcha.png");
            if (createDirectories(configDir()) && writeFileAtomic(path, samplePicture("470913"))) {
                s.form.captchaFile = path;
            }
            setFieldText(s, "auth:code", "4709");
        } else if (scene == "login-wait") {
            s.accountBusy = true;
            s.accountBusyLabel = "WAITING";
            s.accountWaitUntil = app::now() + 47000;
            message(s, app::Tone::countdown, "Too many sign-in attempts from this PC.", "");
        } else if (scene == "login-pending") {
            s.pendingActivationEmail = "ada.lovelace@example.com";
            setFieldText(s, "auth:password", "");
            message(s, app::Tone::success, "Account created",
                    "We sent a link to ada.lovelace@example.com. Open it to activate your account, then log in here.",
                    "Send the link again", app::FormAction::resend);
        } else if (scene == "login-activate") {
            s.pendingActivationEmail = "ada.lovelace@example.com";
            message(s, app::Tone::warning, "Activate your account first", "Follow the link in the email we sent.",
                    "Send the link again", app::FormAction::resend);
        }
        return true;
    }
    if (scene == "register" || scene == "register-error" || scene == "register-closed") {
        signedOut(s, app::Tab::reg);
        if (scene == "register-error") {
            typed(s, true);
            s.form.fieldKey = "email";
            s.form.fieldError = "That email already has an account.";
        } else if (scene == "register-closed") {
            s.manifest.registerOpen = false;
        }
        return true;
    }

    // Dialogs (with the Advanced section open for the settings' ones).
    const size_t at = scene.find("modal:");
    if (at != std::string::npos) {
        // (The common world opened it, and the Advanced section with it.)
        app::ModalKind kind = app::ModalKind::none;
        app::parseKind(scene.substr(at + 6), kind);
        s.view.openModal = kind;
        if (kind == app::ModalKind::create) {
            ensureRealmAndCharacters(s);
            setFieldText(s, "modal:name", "Brenna Stormhold");
        } else if (kind == app::ModalKind::remove) {
            ensureRealmAndCharacters(s);
            setFieldText(s, "modal:delete", "DELETE");
        } else if (kind == app::ModalKind::changeId) {
            setFieldText(s, "modal:id", "520981337046");
        }
        return true;
    }

    // The refusal screens.
    app::BlockerKind kind = app::BlockerKind::none;
    if (app::parseKind(scene, kind) && kind != app::BlockerKind::none && kind != app::BlockerKind::error) {
        s.blocker = blockerFor(s, kind);
        s.tab = app::Tab::home;
        if (scene == "game-not-found") {
            s.gameFolder.clear();
            s.searched = s.blocker.searched;
        }
        if (scene == "unsupported-version") {
            s.gameVersion = s.blocker.version;
            s.supported = false;
        }
        if (scene == "blocked-mods") s.blockedMods = s.blocker.mods;
        return true;
    }
    return false;
}

}  // namespace ember::launcher::view
