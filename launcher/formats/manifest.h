// The client manifest: what the web service tells launchers to install.
//
// One JSON document per update channel lists the supported game versions, the
// client build (loader and DLL) for each game version, every client file with
// its SHA-256 digest and size, where to download them, the game server's
// address, the client settings to write, the account service, blocked mods,
// news and the newest launcher build.
//
// parseManifest reads and validates the document in a fixed order and stops
// at the first fault with one of the messages below. The launcher block is
// read before the schema check, so a launcher too old for a document can
// still find its own update.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ember::launcher {

// Loader and DLL to use for one game version.
struct ClientBuild {
    std::string version;
    std::string dll;     // path inside the game folder
    std::string loader;  // path inside the game folder
};

// One client file below the game folder.
struct ManifestFile {
    std::string path;    // relative, '/'-separated, checked safe
    std::string sha256;  // 64 lower-case hex characters
    int64_t size = 0;    // bytes, never negative
};

// A mod that must be disabled before play.
struct BlockedMod {
    std::string file;
    std::string sha256;  // optional, lower-cased
    std::string severity;
    std::string reason;
};

struct NewsItem {
    std::string id;
    std::string tag;
    std::string title;
    std::string body;
    std::string url;
    std::string at;
};

struct Manifest {
    // Document version; this launcher understands 1.
    int64_t schema = 0;

    // What the document describes and where its files come from.
    std::string channel;
    std::string clientVersion;
    std::string generatedAt;
    std::string baseUrl;  // ends with '/'

    // The game server (the IP is used when the host is empty).
    std::string serverName;
    std::string serverHost;
    std::string serverIp;
    int32_t serverPort = 0;

    // Game versions the client runs on, and the page for everyone else.
    std::vector<std::string> supportedVersions;
    std::string helpUrl;

    // Game version -> client build, ordered by key bytes.
    std::map<std::string, ClientBuild> clientBuilds;

    // Newest launcher build (self-update); an empty URL means none published.
    std::string launcherVersion;
    std::string launcherUrl;
    std::string launcherSha256;
    // Its length in bytes (launcher.size, optional; -1: not published), so
    // that its download is bounded by what was signed too.
    int64_t launcherSize = -1;

    // Setting name -> text, written to the client settings file.
    std::map<std::string, std::string> clientSettings;

    // The complete list of client files, in document order.
    std::vector<ManifestFile> files;

    // The account service.
    bool accountsEnabled = false;
    std::string accountsMode;
    std::string accountsApiBase;
    std::string accountsRealmKey;
    bool registerOpen = true;
    std::string registerUrl;

    // Mods to disable, and news, in document order.
    std::vector<BlockedMod> blocked;
    std::vector<NewsItem> news;
};

// Failure texts of parseManifest (the variable part is appended where the
// text ends in a space; the schema text is built by manifestSchemaMessage).
namespace manifest_error {
inline constexpr const char* kBadJson = "manifest: bad JSON: ";
inline constexpr const char* kUnsafePath = "manifest: unsafe path ";
inline constexpr const char* kInPartsFolder =
    "manifest: Emberlane\\.parts is the launcher's folder for downloads in progress, yet the manifest lists ";
inline constexpr const char* kSettingsFile =
    "manifest: Emberlane\\ember.ini holds the player's own client settings and is written by the launcher, yet "
    "the manifest lists ";
inline constexpr const char* kBadSha256 = "manifest: bad sha256 for ";
inline constexpr const char* kBadSize = "manifest: bad size for ";
inline constexpr const char* kCaseClash = "manifest: another file differs only in letter case from ";
inline constexpr const char* kSizesTooLarge = "manifest: the file sizes add up to more than 8 EiB at ";
inline constexpr const char* kServerMissing = "manifest: server address missing";
inline constexpr const char* kBaseUrl = "manifest: baseUrl must end with /";
inline constexpr const char* kLauncherDigest = "manifest: launcher.url without a valid launcher.sha256";
}  // namespace manifest_error

// "manifest schema N is newer than this launcher understands - ..."
std::string manifestSchemaMessage(int64_t schema);

// Parses and validates `text` into `manifest`. On failure returns false with
// `error` set; the record then holds what was read before the fault (the
// launcher block survives a schema refusal). `newerSchema`, when given, is
// set when the refusal is a schema above 1 and cleared otherwise.
bool parseManifest(const std::string& text, Manifest& manifest, std::string& error, bool* newerSchema = nullptr);

// Exact, case-sensitive membership in the supported game versions.
bool isSupportedGameVersion(const Manifest& manifest, const std::string& version);

// The build published for `gameVersion` (exact = true); otherwise the build
// with the smallest key (exact = false); an empty build when there are none.
// A build whose loader or library path fails isSafeClientBuildPath comes
// back with both emptied, as if no client were published.
ClientBuild clientBuildFor(const Manifest& manifest, const std::string& gameVersion, bool& exact);

// Whether the account service can be used at all.
bool accountsUsable(const Manifest& manifest);

// Sum of all file sizes (saturates instead of wrapping).
uint64_t totalFileBytes(const Manifest& manifest);

// The manifest address of a release channel: the last "manifest.json" in
// `url` becomes "manifest-<channel>.json" (what followed it is dropped);
// empty and "stable" channels, and URLs without "manifest.json", unchanged.
std::string manifestUrlForChannel(const std::string& url, const std::string& channel);

// Whether a published file path may be joined to the game folder.
bool isSafeManifestPath(const std::string& path);

}  // namespace ember::launcher
