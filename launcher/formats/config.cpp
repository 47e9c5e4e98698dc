// Reading and writing config.json in its fixed key order.
#include "launcher/formats/config.h"

#include <cmath>

#include "base/paths.h"
#include "launcher/formats/json.h"

namespace ember::launcher {

namespace {

// Booleans count only when the member is a JSON boolean.
bool strictBool(const JsonValue& object, const char* key) {
    const JsonValue& value = member(object, key);
    return value.isBool() && value.boolean;
}

void putIfNotEmpty(JsonValue& object, const char* key, const std::string& text) {
    if (!text.empty()) set(object, key, JsonValue::makeString(text));
}

// Sequences are written as decimal text: a JSON number would round above 2^53.
uint64_t sequenceOf(const std::string& text) {
    if (text.empty() || text.size() > 19) return 0;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value;
}

}  // namespace

std::string configPath() { return joinPath(configDir(), "config.json"); }

Config configFromText(const std::string& rawText, bool& unparseable) {
    unparseable = false;
    Config config;

    // A UTF-8 byte-order mark some editors add is not part of the JSON.
    std::string text = rawText;
    if (text.size() >= 3 && static_cast<unsigned char>(text[0]) == 0xEF) text.erase(0, 3);

    JsonValue doc;
    std::string error;
    if (!parseJson(text, doc, error)) {
        unparseable = true;
        return config;
    }
    // Any other top-level value simply gives the defaults.
    if (!doc.isObject()) return config;

    config.gamePath = getString(doc, "gamePath");
    config.channel = getString(doc, "channel");
    config.characterId = getString(doc, "characterId");
    config.realm = getString(doc, "realm");
    config.lastClientVersion = getString(doc, "lastClientVersion");
    config.lastManifest = getString(doc, "lastManifest");
    config.lastManifestSignature = getString(doc, "lastManifestSignature");
    config.lastManifestUrl = getString(doc, "lastManifestUrl");
    config.lastManifestSequence = sequenceOf(getString(doc, "lastManifestSequence"));
    for (const JsonValue::Member& entry : member(doc, "acceptedManifests").members()) {
        AcceptedManifest accepted;
        accepted.sequence = sequenceOf(getString(entry.second, "sequence"));
        accepted.digest = getString(entry.second, "digest");
        if (!accepted.digest.empty()) config.acceptedManifests[entry.first] = accepted;
    }
    config.profileId = getInt(doc, "profileId", 0);

    for (const JsonValue::Member& entry : member(doc, "installed").members()) {
        InstalledFile file;
        file.sha256 = getString(entry.second, "sha256");
        file.size = getInt(entry.second, "size", 0);
        file.mtime = getInt(entry.second, "mtime", 0);
        config.installed[entry.first] = file;
    }

    const JsonValue& selfUpdate = member(doc, "selfUpdate");
    config.selfUpdateTarget = getString(selfUpdate, "target");
    config.selfUpdateAttempts = static_cast<int32_t>(getInt(selfUpdate, "attempts", 0));
    config.selfUpdateAt = getInt(selfUpdate, "at", 0);

    const JsonValue& account = member(doc, "account");
    config.accountEmail = getString(account, "email");
    config.accountId = getString(account, "accountId");
    config.accountDisplayName = getString(account, "displayName");

    const JsonValue& settings = member(doc, "settings");
    config.manifestUrl = getString(settings, "manifestUrl");
    config.ignoreVersion = strictBool(settings, "ignoreVersion");
    // A limit outside the range (or not a number) is no limit.
    const double limit = getNumber(settings, "downloadLimitMBps", 0.0);
    if (limit >= kLowestLimitTenths / 10.0 - 1e-9 && limit <= kHighestLimitTenths / 10.0 + 1e-9) {
        config.downloadLimitTenths = static_cast<uint32_t>(std::lround(limit * 10.0));
    }
    config.rememberEmail = has(settings, "rememberEmail") ? strictBool(settings, "rememberEmail") : true;
    config.seenFirstRunNote = strictBool(settings, "seenFirstRunNote");
    config.seenPlayerIdIntro = strictBool(settings, "seenPlayerIdIntro");
    return config;
}

std::string configToText(const Config& config) {
    JsonValue doc = JsonValue::makeObject();
    // Always present.
    set(doc, "gamePath", JsonValue::makeString(config.gamePath));
    set(doc, "profileId", JsonValue::makeInt(config.profileId));
    // Only when chosen.
    putIfNotEmpty(doc, "channel", config.channel);
    putIfNotEmpty(doc, "characterId", config.characterId);
    putIfNotEmpty(doc, "realm", config.realm);
    // The installed records in path order (the map's order).
    JsonValue installed = JsonValue::makeObject();
    for (const auto& [path, file] : config.installed) {
        JsonValue record = JsonValue::makeObject();
        set(record, "sha256", JsonValue::makeString(file.sha256));
        set(record, "size", JsonValue::makeInt(file.size));
        set(record, "mtime", JsonValue::makeInt(file.mtime));
        set(installed, path, std::move(record));
    }
    set(doc, "installed", std::move(installed));
    // The client version last installed and the manifest it came from.
    set(doc, "lastClientVersion", JsonValue::makeString(config.lastClientVersion));
    set(doc, "lastManifest", JsonValue::makeString(config.lastManifest));
    putIfNotEmpty(doc, "lastManifestSignature", config.lastManifestSignature);
    putIfNotEmpty(doc, "lastManifestUrl", config.lastManifestUrl);
    if (!config.lastManifestSignature.empty()) {
        set(doc, "lastManifestSequence", JsonValue::makeString(std::to_string(config.lastManifestSequence)));
    }
    if (!config.acceptedManifests.empty()) {
        JsonValue accepted = JsonValue::makeObject();
        for (const auto& [url, record] : config.acceptedManifests) {
            JsonValue entry = JsonValue::makeObject();
            set(entry, "sequence", JsonValue::makeString(std::to_string(record.sequence)));
            set(entry, "digest", JsonValue::makeString(record.digest));
            set(accepted, url, std::move(entry));
        }
        set(doc, "acceptedManifests", std::move(accepted));
    }
    // Only while a self-update is pending.
    if (!config.selfUpdateTarget.empty()) {
        JsonValue selfUpdate = JsonValue::makeObject();
        set(selfUpdate, "target", JsonValue::makeString(config.selfUpdateTarget));
        set(selfUpdate, "attempts", JsonValue::makeInt(config.selfUpdateAttempts));
        set(selfUpdate, "at", JsonValue::makeInt(config.selfUpdateAt));
        set(doc, "selfUpdate", std::move(selfUpdate));
    }
    // Possibly empty.
    JsonValue account = JsonValue::makeObject();
    putIfNotEmpty(account, "email", config.accountEmail);
    putIfNotEmpty(account, "accountId", config.accountId);
    putIfNotEmpty(account, "displayName", config.accountDisplayName);
    set(doc, "account", std::move(account));
    // Preferences: rememberEmail always, the rest only when they differ
    // from their defaults.
    JsonValue settings = JsonValue::makeObject();
    putIfNotEmpty(settings, "manifestUrl", config.manifestUrl);
    if (config.ignoreVersion) set(settings, "ignoreVersion", JsonValue::makeBool(true));
    if (config.downloadLimitTenths != 0) {
        set(settings, "downloadLimitMBps", JsonValue::makeNumber(config.downloadLimitTenths / 10.0));
    }
    set(settings, "rememberEmail", JsonValue::makeBool(config.rememberEmail));
    if (config.seenFirstRunNote) set(settings, "seenFirstRunNote", JsonValue::makeBool(true));
    if (config.seenPlayerIdIntro) set(settings, "seenPlayerIdIntro", JsonValue::makeBool(true));
    set(doc, "settings", std::move(settings));
    return writeJson(doc, 2);
}

Config loadConfig() {
    const std::string path = configPath();
    std::string text;
    // First run: nothing to read.
    if (!readWholeFile(path, text)) return Config();
    bool unparseable = false;
    Config config = configFromText(text, unparseable);
    if (unparseable) {
        // Keep the player's file for inspection; an older one is replaced.
        renameReplace(path, path + ".corrupt");
        config = Config();
        config.settingsWereReset = true;
    }
    return config;
}

void keepNewerAcceptance(Config& config, const Config& onDisk) {
    for (const auto& [url, record] : onDisk.acceptedManifests) {
        auto mine = config.acceptedManifests.find(url);
        if (mine == config.acceptedManifests.end() || mine->second.sequence < record.sequence) {
            config.acceptedManifests[url] = record;
        }
    }
    if (!onDisk.lastManifestSignature.empty() &&
        (config.lastManifestSignature.empty() ||
         (onDisk.lastManifestUrl == config.lastManifestUrl &&
          onDisk.lastManifestSequence > config.lastManifestSequence))) {
        config.lastManifest = onDisk.lastManifest;
        config.lastManifestSignature = onDisk.lastManifestSignature;
        config.lastManifestUrl = onDisk.lastManifestUrl;
        config.lastManifestSequence = onDisk.lastManifestSequence;
    }
}

bool saveConfig(const Config& config) {
    const std::string path = configPath();
    std::string text;
    bool unparseable = false;
    Config onDisk;
    if (readWholeFile(path, text)) onDisk = configFromText(text, unparseable);
    if (onDisk.acceptedManifests.empty() && onDisk.lastManifestSignature.empty()) {
        return writeFileAtomic(path, configToText(config));
    }
    Config merged = config;
    keepNewerAcceptance(merged, onDisk);
    return writeFileAtomic(path, configToText(merged));
}

bool recordAcceptedManifest(const std::string& url, const AcceptedManifest& accepted, const std::string& manifest,
                            const std::string& signature) {
    const std::string path = configPath();
    std::string text;
    bool unparseable = false;
    Config config;
    if (readWholeFile(path, text)) config = configFromText(text, unparseable);
    // An unreadable file is the start-up's to set aside, not this write's to replace.
    if (unparseable) return false;
    AcceptedManifest& record = config.acceptedManifests[url];
    if (record.sequence > accepted.sequence) return false;
    record = accepted;
    config.lastManifest = manifest;
    config.lastManifestSignature = signature;
    config.lastManifestUrl = url;
    config.lastManifestSequence = accepted.sequence;
    return writeFileAtomic(path, configToText(config));
}

int64_t makeProfileId(uint64_t unixMs, uint64_t tickMs) {
    return static_cast<int64_t>((unixMs % 1000000000ULL) * 1000ULL + tickMs % 1000ULL);
}

}  // namespace ember::launcher
