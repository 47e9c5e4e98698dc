// ember.ini merge, client builds, the loader's command line, the game watch.
#include "launcher/install/client_settings.h"

#include <utility>
#include <vector>

#include "launcher/base/paths.h"
#include "launcher/base/text.h"

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

KeyValues keysToWrite(const ClientSettings& s) {
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
        // A value with a line break would write a second line of its own
        // choosing; an own key must not be overridden.
        if (key.empty() || value.find_first_of("\r\n") != std::string::npos) continue;
        bool clash = false;
        for (size_t i = 0; i < own; ++i) clash = clash || equalsIgnoreCase(keys[i].first, key);
        if (!clash) keys.emplace_back(asciiLower(key), value);
    }
    return keys;
}

}  // namespace

std::string mergeClientSettings(const std::string& existing, const ClientSettings& settings, std::string& error) {
    // 1. Validation, in this order.
    error.clear();
    if (trim(settings.host).empty()) error = kNoRealmHost;
    else if (settings.port < 1 || settings.port > 65535) error = kBadPort;
    else if (settings.characterSlot < 1 || settings.characterSlot > 3) error = kBadSlot;
    else if (trim(settings.account).empty()) error = kNoAccount;
    if (!error.empty()) return std::string();

    // 2-4. The keys, and the old file as lines (LF or CR LF).
    const KeyValues keys = keysToWrite(settings);
    std::vector<std::string> lines;
    bool hadSection = false;
    if (existing.empty()) {
        lines = {"# Emberlane client configuration (lives next to Emberlane.dll)", "", "[client]"};
    } else {
        std::string text;
        text.reserve(existing.size());
        for (size_t i = 0; i < existing.size(); ++i) {
            if (existing[i] == '\r' && i + 1 < existing.size() && existing[i + 1] == '\n') continue;
            text += existing[i];
        }
        size_t start = 0;
        for (;;) {
            size_t end = text.find('\n', start);
            lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
            if (end == std::string::npos) break;
            start = end + 1;
        }
        while (!lines.empty() && lines.back().empty()) lines.pop_back();
    }

    // 5. Replace our keys inside [client]; remember where the section ends.
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
                written[k] = true;
                break;
            }
        }
    }

    // 6. The rest at the end of the section (a new section at the end).
    if (!hadSection) {
        lines.push_back("");
        lines.push_back("[client]");
        insertAt = lines.size();
    }
    std::vector<std::string> added;
    for (size_t k = 0; k < keys.size(); ++k) {
        if (!written[k]) added.push_back(keys[k].first + " = " + keys[k].second);
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), added.begin(), added.end());

    // 7. CR LF after every line.
    std::string out;
    for (const std::string& line : lines) out += line + "\r\n";
    return out;
}

bool writeClientSettings(const std::string& gameFolder, const ClientSettings& settings, std::string& error) {
    const std::string path = joinPath(gameFolder, kClientIniPath);
    std::string existing;
    if (!readWholeFile(path, existing)) existing.clear();
    const std::string text = mergeClientSettings(existing, settings, error);
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
    watch.launchedAt = now;
    watch.lastCheck = now;
}

bool gameWatchStep(GameWatch& watch, uint64_t now, const std::function<bool()>& isRunning) {
    if (!watch.running || now - watch.lastCheck < kGameCheckIntervalMs) return false;
    watch.lastCheck = now;
    if (isRunning()) {
        watch.seenRunning = true;
        return false;
    }
    if (watch.seenRunning || now - watch.launchedAt > kGameStartGraceMs) {
        watch.running = false;
        return true;
    }
    return false;
}

}  // namespace ember::launcher
