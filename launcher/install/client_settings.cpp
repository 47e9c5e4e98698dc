// ember.ini merge, client builds, the loader's command line, the game watch.
#include "launcher/install/client_settings.h"

#include <utility>
#include <vector>

#include "base/log.h"
#include "base/paths.h"
#include "base/text.h"
#include "launcher/install/plan.h"

namespace ember::launcher {

namespace {

using KeyValues = std::vector<std::pair<std::string, std::string>>;

std::string trimmed(const std::string& text) { return std::string(trim(text)); }

// Cut to the first `count` characters, never inside a UTF-8 sequence.
std::string firstCharacters(const std::string& text, size_t count) {
    size_t i = 0;
    for (size_t n = 0; n < count && i < text.size(); ++n) decodeUtf8(text, i);
    return text.substr(0, i);
}

bool holdsLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// Why a manifest setting cannot be written as one "key = value" line inside
// [client], or null when it can. A key with '=' or blanks at its ends would
// not be read back as itself (and be added again on every write), one
// starting with '[' would end the section, one starting with '#' or ';' is a
// comment.
const char* unwritableSetting(const std::string& key, const std::string& value) {
    if (key.empty()) return "no key";
    if (holdsLineBreakOrNul(key) || holdsLineBreakOrNul(value)) return "a line break or NUL";
    if (key.find('=') != std::string::npos) return "'=' in the key";
    if (key[0] == '[' || key[0] == '#' || key[0] == ';') return "the key starts a section or comment";
    if (isAsciiSpace(key.front()) || isAsciiSpace(key.back())) return "blanks around the key";
    return nullptr;
}

KeyValues keysToWrite(const ClientSettings& s, std::vector<std::string>* dropped) {
    std::string name = trimmed(s.name);
    if (name.empty()) name = trimmed(s.account);
    KeyValues keys = {
        {"server", trimmed(s.host)},
        {"port", std::to_string(s.port)},
        {"account", trimmed(s.account)},
        {"name", firstCharacters(name, 32)},
        {"realm_key", trimmed(s.realmKey)},
        {"realm_name", trimmed(s.realmName)},
        {"character_slot", std::to_string(s.characterSlot)},
        {"character_mode", s.create ? "create" : "play"},
        {"session", trimmed(s.session)},
        {"autoload", s.create ? "newgame" : "continue"},
    };
    const size_t own = keys.size();
    for (const auto& [key, value] : s.extra) {
        if (const char* why = unwritableSetting(key, value)) {
            if (dropped) dropped->push_back(key + " (" + why + ")");
            continue;
        }
        // An own key must not be overridden. Keys are read back without
        // regard to case, so of two settings differing only in case the
        // first is written: two such lines would become one on the next write.
        auto clashes = [&keys](const std::string& name, size_t from, size_t to) {
            for (size_t i = from; i < to; ++i)
                if (equalsIgnoreCase(keys[i].first, name)) return true;
            return false;
        };
        if (clashes(key, 0, own)) continue;
        if (clashes(key, own, keys.size())) {
            if (dropped) dropped->push_back(key + " (another setting differs from it only in case)");
            continue;
        }
        keys.emplace_back(asciiLower(key), value);
    }
    return keys;
}

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

// UTF-16 text (after its byte-order mark) as UTF-8; false for a broken one
// (an odd length, a lone surrogate, a NUL).
bool utf16ToUtf8(std::string_view bytes, bool bigEndian, std::string& out) {
    if (bytes.size() % 2 != 0) return false;
    out.clear();
    auto unit = [&](size_t i) {
        const auto a = static_cast<uint8_t>(bytes[i]), b = static_cast<uint8_t>(bytes[i + 1]);
        return static_cast<uint32_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
    };
    for (size_t i = 0; i < bytes.size(); i += 2) {
        uint32_t c = unit(i);
        if (c == 0 || (c >= 0xDC00 && c <= 0xDFFF)) return false;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 2 >= bytes.size()) return false;
            const uint32_t low = unit(i + 2);
            if (low < 0xDC00 || low > 0xDFFF) return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        }
        appendUtf8(out, c);
    }
    return true;
}

// The file's text as UTF-8 without a byte-order mark; `bom` says whether the
// rewritten file starts with the UTF-8 mark again. False for a file in an
// encoding that cannot be read back faithfully.
bool decodeExisting(const std::string& existing, std::string& text, bool& bom) {
    bom = false;
    const std::string_view bytes(existing);
    if (bytes.substr(0, 3) == kUtf8Bom) {
        bom = true;
        text.assign(existing, 3, std::string::npos);
    } else if (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF") {
        // UTF-16 (Notepad's "Unicode") is rewritten as UTF-8.
        if (!utf16ToUtf8(bytes.substr(2), bytes[0] == '\xFE', text)) return false;
    } else {
        text = existing;
    }
    // A mark written twice (a tool that adds one to a file that had one) is a
    // mark, not part of the first line: left there it would hide the first
    // section header from the game and from the next start, which would then
    // write the file differently.
    while (std::string_view(text).substr(0, 3) == kUtf8Bom) text.erase(0, 3);
    // NUL bytes: UTF-16 without a mark, or no text at all.
    return text.find('\0') == std::string::npos;
}

}  // namespace

std::string mergeClientSettings(const std::string& existing, const ClientSettings& settings, std::string& error,
                                std::vector<std::string>* dropped) {
    // Validation, in this order.
    error.clear();
    if (trim(settings.host).empty()) error = kNoRealmHost;
    else if (settings.port < 1 || settings.port > 65535) error = kBadPort;
    else if (settings.characterSlot < 1 || settings.characterSlot > 3) error = kBadSlot;
    else if (trim(settings.account).empty()) error = kNoAccount;
    if (!error.empty()) return std::string();

    // The keys (none may break its line), and the old file as lines
    // (LF, CR LF or a lone CR).
    const KeyValues keys = keysToWrite(settings, dropped);
    for (const auto& [key, value] : keys) {
        if (holdsLineBreakOrNul(value)) {
            error = kSettingHasLineBreak + key;
            return std::string();
        }
    }
    std::string decoded;
    bool bom = false;
    if (!decodeExisting(existing, decoded, bom)) {
        error = kSettingsUnreadable;
        return std::string();
    }
    // Each line with its own end ("\r\n", "\n", a lone "\r", or none for
    // the last): a line the launcher does not write goes back byte for byte.
    std::vector<std::string> lines, ends;
    bool hadSection = false;
    if (decoded.empty()) {
        lines = {"# Emberlane client configuration (lives next to Emberlane.dll)", "", "[client]"};
        ends.assign(lines.size(), "\r\n");
    } else {
        size_t start = 0;
        for (;;) {
            const size_t end = decoded.find_first_of("\r\n", start);
            if (end == std::string::npos) {
                lines.push_back(decoded.substr(start));
                ends.emplace_back();
                break;
            }
            const size_t endLength = decoded.compare(end, 2, "\r\n") == 0 ? 2 : 1;
            lines.push_back(decoded.substr(start, end - start));
            ends.push_back(decoded.substr(end, endLength));
            start = end + endLength;
        }
        while (!lines.empty() && lines.back().empty()) {
            lines.pop_back();
            ends.pop_back();
        }
    }

    // Replace our keys inside [client]; remember where the section ends.
    std::vector<bool> written(keys.size(), false);
    bool inClient = false;
    size_t insertAt = std::string::npos;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string_view t = trim(lines[i]);
        if (!t.empty() && t[0] == '[') {
            inClient = equalsIgnoreCase(t, "[client]");
            hadSection = hadSection || inClient;
            if (inClient) insertAt = i + 1;
            continue;
        }
        if (!inClient) continue;
        insertAt = i + 1;
        if (t.empty() || t[0] == '#' || t[0] == ';') continue;
        const size_t eq = lines[i].find('=');
        if (eq == std::string::npos || eq == 0) continue;
        const std::string_view key = trim(std::string_view(lines[i]).substr(0, eq));
        for (size_t k = 0; k < keys.size(); ++k) {
            if (equalsIgnoreCase(key, keys[k].first)) {
                lines[i] = keys[k].first + " = " + keys[k].second;
                ends[i] = "\r\n";
                written[k] = true;
                break;
            }
        }
    }

    // The rest at the end of the section (a new section at the end).
    if (!hadSection) {
        lines.push_back("");
        lines.push_back("[client]");
        ends.resize(lines.size(), "\r\n");
        insertAt = lines.size();
    }
    std::vector<std::string> added;
    for (size_t k = 0; k < keys.size(); ++k) {
        if (!written[k]) added.push_back(keys[k].first + " = " + keys[k].second);
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), added.begin(), added.end());
    ends.insert(ends.begin() + static_cast<std::ptrdiff_t>(insertAt), added.size(), "\r\n");

    // After the mark the file started with, every line with its end: CR LF
    // for the lines written here and for an old last line that had none
    // (the file always ends with a line end).
    std::string out = bom ? kUtf8Bom : "";
    for (size_t i = 0; i < lines.size(); ++i) {
        out += lines[i];
        out += ends[i].empty() ? "\r\n" : ends[i];
    }
    return out;
}

bool writeClientSettings(const std::string& gameFolder, const ClientSettings& settings, std::string& error) {
    const std::string path = joinPath(gameFolder, kClientIniPath);
    // Its folder a link, the file would land elsewhere.
    const std::string link = linkOnPath(gameFolder, parentDir(kClientIniPath));
    if (!link.empty()) {
        error = linkRefusal(link);
        return false;
    }
    std::string existing;
    if (!readWholeFile(path, existing)) existing.clear();
    std::vector<std::string> dropped;
    const std::string text = mergeClientSettings(existing, settings, error, &dropped);
    for (std::string key : dropped) {
        for (char& c : key) c = (static_cast<unsigned char>(c) < 0x20) ? '?' : c;
        logLine(kSettingDroppedLog + key);
    }
    if (!error.empty()) return false;
    if (!writeFileAtomic(path, text)) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

std::string quoteArgument(const std::string& text) {
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : text) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled and the quote escaped;
        // elsewhere they stand for themselves.
        if (c == '"') {
            out.append(backslashes * 2 + 1, '\\');
        } else {
            out.append(backslashes, '\\');
        }
        backslashes = 0;
        out += c;
    }
    // Before the closing quote every backslash is doubled.
    out.append(backslashes * 2, '\\');
    out += '"';
    return out;
}

std::string loaderCommandLine(const std::string& loaderPath, const std::string& gameFolder) {
    return quoteArgument(loaderPath) + " --game " + quoteArgument(gameFolder);
}

void startGameWatch(GameWatch& watch, uint64_t now) {
    watch.running = true;
    watch.seenRunning = false;
    watch.looking = false;
    watch.launchedAt = now;
    watch.lastCheck = now;
}

bool gameWatchDue(const GameWatch& watch, uint64_t now) {
    return watch.running && !watch.looking && now - watch.lastCheck >= kGameCheckIntervalMs;
}

bool gameWatchAnswer(GameWatch& watch, uint64_t now, bool running) {
    watch.looking = false;
    if (!watch.running) return false;
    if (running) {
        watch.seenRunning = true;
        return false;
    }
    if (watch.seenRunning || now - watch.launchedAt > kGameStartGraceMs) {
        watch.running = false;
        return true;
    }
    return false;
}

bool gameWatchStep(GameWatch& watch, uint64_t now, const std::function<bool()>& isRunning) {
    if (!gameWatchDue(watch, now)) return false;
    watch.lastCheck = now;
    return gameWatchAnswer(watch, now, isRunning());
}

}  // namespace ember::launcher
