// Client manifest: reading, validation and the small queries callers share.
#include "launcher/formats/manifest.h"

#include <cstdio>
#include <limits>
#include <set>
#include <vector>

#include "base/safe_path.h"
#include "base/text.h"
#include "launcher/formats/json.h"

namespace ember::launcher {

namespace {

// Only the manifest schema this launcher was written for.
constexpr int64_t kSupportedSchema = 1;

// A client setting as the text written to the client settings file; false
// for kinds that have no text form (null, arrays, objects).
bool settingText(const JsonValue& value, std::string& out) {
    switch (value.kind) {
        case JsonValue::Kind::String:
            out = value.text;
            return true;
        case JsonValue::Kind::Bool:
            out = value.boolean ? "1" : "0";
            return true;
        case JsonValue::Kind::Number: {
            char buffer[64];
            std::snprintf(buffer, sizeof buffer, "%g", value.number);
            out = buffer;
            return true;
        }
        default:
            return false;
    }
}

void readServer(const JsonValue& server, Manifest& manifest) {
    manifest.serverName = getString(server, "name");
    manifest.serverHost = getString(server, "host");
    manifest.serverIp = getString(server, "ip");
    // A port outside 1..65535 is no port at all: keep 0 so that the final
    // check refuses the address instead of narrowing 4294975073 to 7777.
    const int64_t port = getInt(server, "port");
    manifest.serverPort = (port >= 1 && port <= 65535) ? static_cast<int32_t>(port) : 0;
}

void readGame(const JsonValue& game, Manifest& manifest) {
    for (const JsonValue& item : member(game, "supportedVersions").items) {
        manifest.supportedVersions.push_back(item.asString());
    }
    manifest.helpUrl = getString(game, "helpUrl");
}

void readClientBuilds(const JsonValue& client, Manifest& manifest) {
    if (!client.isObject()) return;
    for (const auto& [key, value] : client.members()) {
        ClientBuild build;
        build.version = getString(value, "version");
        build.dll = getString(value, "dll");
        build.loader = getString(value, "loader");
        manifest.clientBuilds[key] = build;
    }
}

void readClientSettings(const JsonValue& settings, Manifest& manifest) {
    if (!settings.isObject()) return;
    for (const auto& [key, value] : settings.members()) {
        std::string text;
        if (settingText(value, text)) manifest.clientSettings[key] = text;
    }
}

// A listed path's names as Windows would resolve them: empty and "." steps
// skipped, and dots and blanks at the end of a name dropped.
std::vector<std::string_view> resolvedNames(const std::string& path) {
    std::vector<std::string_view> names;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string_view name(path.data() + start, end - start);
        start = end + 1;
        if (name.empty() || name == ".") continue;
        while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.remove_suffix(1);
        names.push_back(name);
    }
    return names;
}

// Whether the path starts with these two names (letter case ignored), and
// whether it is exactly they.
bool startsWithNames(const std::vector<std::string_view>& names, const char* first, const char* second) {
    return names.size() >= 2 && equalsIgnoreCase(names[0], first) && equalsIgnoreCase(names[1], second);
}

// The launcher's folder of part files, or a path in it.
bool inPartsFolder(const std::string& path) { return startsWithNames(resolvedNames(path), "emberlane", ".parts"); }

// The client's settings file, which holds the player's own lines.
bool isSettingsFile(const std::string& path) {
    const std::vector<std::string_view> names = resolvedNames(path);
    return names.size() == 2 && startsWithNames(names, "emberlane", "ember.ini");
}

// Each entry is checked before it is added, so a refused document keeps
// only the entries that came before the bad one.
bool readFiles(const JsonValue& files, Manifest& manifest, std::string& error) {
    // Paths seen so far as Windows compares them, and the sizes so far.
    std::set<std::string> seen;
    uint64_t total = 0;
    for (const JsonValue& item : files.items) {
        ManifestFile file;
        file.path = getString(item, "path");
        file.sha256 = asciiLower(getString(item, "sha256"));
        file.size = getInt(item, "size");
        if (!isSafeManifestPath(file.path)) {
            error = manifest_error::kUnsafePath + file.path;
            return false;
        }
        // The launcher keeps its downloads in progress there: a listed file
        // would be taken for one of them.
        if (inPartsFolder(file.path)) {
            error = manifest_error::kInPartsFolder + file.path;
            return false;
        }
        // The launcher writes it around the player's own lines; a listed
        // copy would replace them, and be fetched again after every write.
        if (isSettingsFile(file.path)) {
            error = manifest_error::kSettingsFile + file.path;
            return false;
        }
        if (!isSha256Hex(file.sha256)) {
            error = manifest_error::kBadSha256 + file.path;
            return false;
        }
        // A negative size matches no file and would wrap every byte count
        // computed from it.
        if (file.size < 0) {
            error = manifest_error::kBadSize + file.path;
            return false;
        }
        // Windows ignores letter case: two such paths are one file whose
        // content would change on every check.
        if (!seen.insert(fileNameFold(file.path)).second) {
            error = manifest_error::kCaseClash + file.path;
            return false;
        }
        // Every byte count is a signed 64-bit number somewhere.
        total += static_cast<uint64_t>(file.size);
        if (total > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
            error = manifest_error::kSizesTooLarge + file.path;
            return false;
        }
        manifest.files.push_back(std::move(file));
    }
    return true;
}

void readAccounts(const JsonValue& accounts, Manifest& manifest) {
    manifest.accountsEnabled = getBool(accounts, "enabled", false);
    manifest.accountsMode = getString(accounts, "mode");
    manifest.accountsApiBase = getString(accounts, "apiBase");
    // Older documents name this server's key "masterKey".
    manifest.accountsRealmKey = getString(accounts, "serverKey");
    if (manifest.accountsRealmKey.empty()) manifest.accountsRealmKey = getString(accounts, "masterKey");
    // Registration is open unless the document says otherwise; anything but
    // a boolean counts as "no".
    manifest.registerOpen = has(accounts, "registerOpen") ? getBool(accounts, "registerOpen", false) : true;
    manifest.registerUrl = getString(accounts, "registerUrl");
}

void readBlocked(const JsonValue& blocked, Manifest& manifest) {
    for (const JsonValue& item : blocked.items) {
        BlockedMod mod;
        mod.file = getString(item, "file");
        mod.sha256 = asciiLower(getString(item, "sha256"));
        mod.severity = getString(item, "severity");
        mod.reason = getString(item, "reason");
        manifest.blocked.push_back(std::move(mod));
    }
}

void readNews(const JsonValue& news, Manifest& manifest) {
    for (const JsonValue& item : news.items) {
        NewsItem entry;
        entry.id = getString(item, "id");
        entry.tag = getString(item, "tag");
        entry.title = getString(item, "title");
        entry.body = getString(item, "body");
        entry.url = getString(item, "url");
        entry.at = getString(item, "at");
        manifest.news.push_back(std::move(entry));
    }
}

bool endsWith(const std::string& text, char c) { return !text.empty() && text.back() == c; }

}  // namespace

std::string manifestSchemaMessage(int64_t schema) {
    return "manifest schema " + std::to_string(schema) +
           " is newer than this launcher understands - the launcher needs updating";
}

bool isSafeManifestPath(const std::string& path) {
    if (path.empty() || path[0] == '/') return false;
    if (path.find("..") != std::string::npos) return false;
    if (path.find('\\') != std::string::npos) return false;
    // Windows paths end at a NUL: the file written would not be the one listed.
    if (path.find('\0') != std::string::npos) return false;
    return true;
}

bool parseManifest(const std::string& text, Manifest& manifest, std::string& error, bool* newerSchema) {
    if (newerSchema) *newerSchema = false;

    // The text must be JSON; the record is left alone otherwise.
    JsonValue doc;
    std::string jsonError;
    if (!parseJson(text, doc, jsonError)) {
        error = manifest_error::kBadJson + jsonError;
        return false;
    }

    // Start from defaults; the launcher block comes before the schema
    // check so that an outdated launcher can still update itself.
    manifest = Manifest();
    manifest.schema = getInt(doc, "schema", 0);
    const JsonValue& launcher = member(doc, "launcher");
    manifest.launcherVersion = getString(launcher, "version");
    manifest.launcherUrl = getString(launcher, "url");
    manifest.launcherSha256 = getString(launcher, "sha256");
    const JsonValue& size = member(launcher, "size");
    if (size.isNumber() && size.number >= 1 && size.number <= 9.0e15) manifest.launcherSize = getInt(launcher, "size", -1);

    // Only schema 1 is understood.
    if (manifest.schema != kSupportedSchema) {
        if (newerSchema) *newerSchema = manifest.schema > kSupportedSchema;
        error = manifestSchemaMessage(manifest.schema);
        return false;
    }

    // Descriptive fields, the server and the game.
    manifest.channel = getString(doc, "channel");
    manifest.clientVersion = getString(doc, "clientVersion");
    manifest.generatedAt = getString(doc, "generatedAt");
    manifest.baseUrl = getString(doc, "baseUrl");
    readServer(member(doc, "server"), manifest);
    readGame(member(doc, "game"), manifest);

    // Client builds and client settings.
    readClientBuilds(member(doc, "client"), manifest);
    readClientSettings(member(doc, "clientSettings"), manifest);

    // Files, each checked as it is read.
    if (!readFiles(member(doc, "files"), manifest, error)) return false;

    // Accounts, blocked mods and news.
    readAccounts(member(doc, "accounts"), manifest);
    readBlocked(member(doc, "blocked"), manifest);
    readNews(member(doc, "news"), manifest);

    // Whole-document checks.
    if (manifest.serverPort == 0 || (manifest.serverHost.empty() && manifest.serverIp.empty())) {
        error = manifest_error::kServerMissing;
        return false;
    }
    if (!endsWith(manifest.baseUrl, '/')) {
        error = manifest_error::kBaseUrl;
        return false;
    }
    if (!manifest.launcherUrl.empty() && !isSha256Hex(manifest.launcherSha256)) {
        error = manifest_error::kLauncherDigest;
        return false;
    }
    return true;
}

bool isSupportedGameVersion(const Manifest& manifest, const std::string& version) {
    for (const std::string& supported : manifest.supportedVersions) {
        if (supported == version) return true;
    }
    return false;
}

ClientBuild clientBuildFor(const Manifest& manifest, const std::string& gameVersion, bool& exact) {
    const auto found = manifest.clientBuilds.find(gameVersion);
    exact = found != manifest.clientBuilds.end();
    if (!exact && manifest.clientBuilds.empty()) return ClientBuild();
    ClientBuild build = exact ? found->second : manifest.clientBuilds.begin()->second;
    // The loader is started and both files are checked below the game
    // folder: a build naming either anywhere else counts as no build.
    if (!isSafeClientBuildPath(build.loader) || !isSafeClientBuildPath(build.dll)) {
        build.loader.clear();
        build.dll.clear();
    }
    return build;
}

bool accountsUsable(const Manifest& manifest) {
    // A publisher's "None" means the same as "none".
    if (manifest.accountsApiBase.empty() || equalsIgnoreCase(manifest.accountsMode, "none")) return false;
    return manifest.accountsEnabled || manifest.accountsMode == "password";
}

uint64_t totalFileBytes(const Manifest& manifest) {
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    uint64_t total = 0;
    for (const ManifestFile& file : manifest.files) {
        const uint64_t size = file.size > 0 ? static_cast<uint64_t>(file.size) : 0;
        total = (size > kMax - total) ? kMax : total + size;
    }
    return total;
}

std::string manifestUrlForChannel(const std::string& url, const std::string& channel) {
    if (channel.empty() || channel == "stable") return url;
    const std::string name = "manifest.json";
    const size_t at = url.rfind(name);
    if (at == std::string::npos) return url;
    return url.substr(0, at) + "manifest-" + channel + ".json";
}

}  // namespace ember::launcher
