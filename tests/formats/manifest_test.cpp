// Client manifest: reading every field, every refusal with its exact text,
// and the queries the launcher builds on it.
#include "launcher/formats/manifest.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace ember::launcher {
namespace {

const std::string kDigestA = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
const std::string kDigestB = "fedcba9876543210fedcba9876543210fedcba9876543210fedcba9876543210";

// A complete, valid document as top-level members (raw JSON texts), so that a
// test can replace or drop one member and keep the rest.
using Members = std::vector<std::pair<std::string, std::string>>;

Members baseMembers() {
    return {
        {"schema", "1"},
        {"launcher", R"({"version": "2.2.0", "url": "https://example.test/Emberlane-2.2.0.exe", "sha256": ")" +
                         kDigestB + R"("})"},
        {"channel", R"("stable")"},
        {"clientVersion", R"("1.4.2")"},
        {"generatedAt", R"("2025-05-01T12:00:00Z")"},
        {"baseUrl", R"("https://cdn.example.test/client/1.4.2/")"},
        {"server", R"({"name": "Ashfall", "host": "play.example.test", "ip": "203.0.113.7", "port": 7777})"},
        {"game", R"({"supportedVersions": ["0.411.140.0", "0.412.3.0"], "helpUrl": "https://example.test/help"})"},
        {"client", R"({"0.412.3.0": {"version": "1.4.2b", "dll": "Emberlane/Emberlane.dll", "loader": "ember-loader.exe"},
                       "0.411.140.0": {"version": "1.4.2a", "dll": "Emberlane/EmberlaneOld.dll", "loader": "ember-loader-old.exe"}})"},
        {"clientSettings", R"({"autoload": true, "scale": 2.5, "region": "eu"})"},
        {"files", R"([{"path": "Emberlane/Emberlane.dll", "sha256": ")" + kDigestA +
                      R"(", "size": 1048576},
                     {"path": "ember-loader.exe", "sha256": ")" + kDigestB + R"(", "size": 524288}])"},
        {"accounts", R"({"enabled": true, "mode": "password", "apiBase": "https://accounts.example.test/api/",
                         "serverKey": "ashfall", "registerUrl": "https://example.test/join"})"},
        {"blocked", R"([{"file": "BadMod.esp", "sha256": "ABCDEF", "severity": "block", "reason": "crashes the realm"}])"},
        {"news", R"([{"id": "n1", "tag": "patch", "title": "Patch 1.4", "body": "Fixes.", "url": "https://example.test/n1", "at": "2025-05-01"},
                     {"id": "n2", "tag": "event", "title": "Fair", "body": "Come.", "url": "", "at": "2025-05-02"}])"},
    };
}

// The base document with members replaced (or added), and members whose
// replacement is empty dropped.
std::string document(const Members& changes = {}) {
    Members members = baseMembers();
    for (const auto& [key, raw] : changes) {
        bool found = false;
        for (auto& member : members) {
            if (member.first == key) {
                member.second = raw;
                found = true;
            }
        }
        if (!found) members.emplace_back(key, raw);
    }
    std::string text = "{";
    bool first = true;
    for (const auto& [key, raw] : members) {
        if (raw.empty()) continue;
        if (!first) text += ",\n";
        text += "\"" + key + "\": " + raw;
        first = false;
    }
    return text + "}";
}

std::string filesWith(const std::string& path, const std::string& sha256, const std::string& size = "1") {
    return R"([{"path": ")" + path + R"(", "sha256": ")" + sha256 + R"(", "size": )" + size + "}]";
}

TEST(Manifest, ReadsEveryFieldOfACompleteDocument) {
    Manifest m;
    std::string error;
    bool newer = true;
    ASSERT_TRUE(parseManifest(document(), m, error, &newer)) << error;
    EXPECT_FALSE(newer) << "a valid document is not a newer schema";

    EXPECT_EQ(m.schema, 1);
    EXPECT_EQ(m.channel, "stable");
    EXPECT_EQ(m.clientVersion, "1.4.2");
    EXPECT_EQ(m.generatedAt, "2025-05-01T12:00:00Z");
    EXPECT_EQ(m.baseUrl, "https://cdn.example.test/client/1.4.2/");
    EXPECT_EQ(m.serverName, "Ashfall");
    EXPECT_EQ(m.serverHost, "play.example.test");
    EXPECT_EQ(m.serverIp, "203.0.113.7");
    EXPECT_EQ(m.serverPort, 7777);
    EXPECT_EQ(m.supportedVersions, (std::vector<std::string>{"0.411.140.0", "0.412.3.0"}));
    EXPECT_EQ(m.helpUrl, "https://example.test/help");

    ASSERT_EQ(m.clientBuilds.size(), 2u);
    EXPECT_EQ(m.clientBuilds.begin()->first, "0.411.140.0") << "builds are ordered by key bytes";
    const ClientBuild& build = m.clientBuilds.at("0.412.3.0");
    EXPECT_EQ(build.version, "1.4.2b");
    EXPECT_EQ(build.dll, "Emberlane/Emberlane.dll");
    EXPECT_EQ(build.loader, "ember-loader.exe");

    EXPECT_EQ(m.launcherVersion, "2.2.0");
    EXPECT_EQ(m.launcherUrl, "https://example.test/Emberlane-2.2.0.exe");
    EXPECT_EQ(m.launcherSha256, kDigestB);

    ASSERT_EQ(m.files.size(), 2u);
    EXPECT_EQ(m.files[0].path, "Emberlane/Emberlane.dll");
    EXPECT_EQ(m.files[0].sha256, kDigestA);
    EXPECT_EQ(m.files[0].size, 1048576);
    EXPECT_EQ(m.files[1].path, "ember-loader.exe");

    EXPECT_TRUE(m.accountsEnabled);
    EXPECT_EQ(m.accountsMode, "password");
    EXPECT_EQ(m.accountsApiBase, "https://accounts.example.test/api/");
    EXPECT_EQ(m.accountsRealmKey, "ashfall");
    EXPECT_TRUE(m.registerOpen);
    EXPECT_EQ(m.registerUrl, "https://example.test/join");

    ASSERT_EQ(m.blocked.size(), 1u);
    EXPECT_EQ(m.blocked[0].file, "BadMod.esp");
    EXPECT_EQ(m.blocked[0].sha256, "abcdef") << "blocked digests are lower-cased";
    EXPECT_EQ(m.blocked[0].severity, "block");
    EXPECT_EQ(m.blocked[0].reason, "crashes the realm");

    ASSERT_EQ(m.news.size(), 2u);
    EXPECT_EQ(m.news[0].id, "n1");
    EXPECT_EQ(m.news[0].tag, "patch");
    EXPECT_EQ(m.news[0].title, "Patch 1.4");
    EXPECT_EQ(m.news[0].body, "Fixes.");
    EXPECT_EQ(m.news[0].url, "https://example.test/n1");
    EXPECT_EQ(m.news[0].at, "2025-05-01");
    EXPECT_EQ(m.news[1].id, "n2") << "news keep document order";
}

TEST(Manifest, MembersOfTheWrongKindReadAsDefaults) {
    Manifest m;
    std::string error;
    ASSERT_TRUE(parseManifest(document({{"channel", "5"},
                                        {"generatedAt", "null"},
                                        {"game", R"({"supportedVersions": ["a", 3, null, "b"], "helpUrl": 1})"},
                                        {"client", "[1, 2]"},
                                        {"files", R"({"path": "x"})"},
                                        {"accounts", R"("on")"},
                                        {"blocked", "{}"},
                                        {"news", R"("none")"}}),
                              m, error))
        << error;
    EXPECT_EQ(m.channel, "");
    EXPECT_EQ(m.generatedAt, "");
    EXPECT_EQ(m.supportedVersions, (std::vector<std::string>{"a", "", "", "b"}))
        << "non-string versions become empty strings in place";
    EXPECT_EQ(m.helpUrl, "");
    EXPECT_TRUE(m.clientBuilds.empty());
    EXPECT_TRUE(m.files.empty());
    EXPECT_FALSE(m.accountsEnabled);
    EXPECT_TRUE(m.registerOpen);
    EXPECT_TRUE(m.blocked.empty());
    EXPECT_TRUE(m.news.empty());
}

struct Refusal {
    const char* name;
    Members changes;
    std::string message;
};

TEST(Manifest, EveryRefusalHasItsExactMessage) {
    const std::string newer2 =
        "manifest schema 2 is newer than this launcher understands - the launcher needs updating";
    const std::string parts =
        "manifest: Emberlane\\.parts is the launcher's folder for downloads in progress, yet the manifest lists ";
    const std::vector<Refusal> cases = {
        {"schema 2", {{"schema", "2"}}, newer2},
        {"no schema", {{"schema", ""}}, manifestSchemaMessage(0)},
        {"schema of the wrong kind", {{"schema", R"("1")"}}, manifestSchemaMessage(0)},
        {"schema -3", {{"schema", "-3"}}, manifestSchemaMessage(-3)},
        {"path with ..", {{"files", filesWith("a/../b", kDigestA)}}, "manifest: unsafe path a/../b"},
        {"absolute path", {{"files", filesWith("/abs", kDigestA)}}, "manifest: unsafe path /abs"},
        {"backslash path", {{"files", filesWith(R"(a\\b)", kDigestA)}}, "manifest: unsafe path a\\b"},
        {"empty path", {{"files", filesWith("", kDigestA)}}, "manifest: unsafe path "},
        {"dots inside a name", {{"files", filesWith("a..b", kDigestA)}}, "manifest: unsafe path a..b"},
        {"file entry that is not an object", {{"files", "[7]"}}, "manifest: unsafe path "},
        {"digest of 63 characters", {{"files", filesWith("a", kDigestA.substr(1))}}, "manifest: bad sha256 for a"},
        {"digest of 65 characters", {{"files", filesWith("a", kDigestA + "0")}}, "manifest: bad sha256 for a"},
        {"digest with a non-hex letter", {{"files", filesWith("a", "g" + kDigestA.substr(1))}},
         "manifest: bad sha256 for a"},
        {"missing digest", {{"files", R"([{"path": "a", "size": 1}])"}}, "manifest: bad sha256 for a"},
        {"negative size", {{"files", filesWith("a", kDigestA, "-1")}}, "manifest: bad size for a"},
        {"the part files' folder", {{"files", filesWith("Emberlane/.parts", kDigestA)}},
         parts + "Emberlane/.parts"},
        {"a file in the part files' folder, other case", {{"files", filesWith("emberlane/.PARTS/x.part", kDigestA)}},
         parts + "emberlane/.PARTS/x.part"},
        {"the part files' folder as Windows resolves it", {{"files", filesWith("./Emberlane//.parts. /x", kDigestA)}},
         parts + "./Emberlane//.parts. /x"},
        {"the client's settings file, as Windows resolves it", {{"files", filesWith("emberlane/./EMBER.INI.", kDigestA)}},
         std::string(manifest_error::kSettingsFile) + "emberlane/./EMBER.INI."},
        {"paths that differ only in case",
         {{"files", R"([{"path": "Emberlane/A.dll", "sha256": ")" + kDigestA + R"(", "size": 1},
                        {"path": "emberlane/a.DLL", "sha256": ")" + kDigestA + R"(", "size": 2}])"}},
         "manifest: another file differs only in letter case from emberlane/a.DLL"},
        {"paths that differ only in letter case beyond ASCII",
         {{"files", R"([{"path": "Emberlane/u/\u00d6.bin", "sha256": ")" + kDigestA + R"(", "size": 1},
                        {"path": "Emberlane/u/\u00f6.bin", "sha256": ")" + kDigestA + R"(", "size": 2}])"}},
         "manifest: another file differs only in letter case from Emberlane/u/\xC3\xB6.bin"},
        {"sizes whose sum overflows",
         {{"files", R"([{"path": "a", "sha256": ")" + kDigestA + R"(", "size": 9223372036854775807},
                        {"path": "b", "sha256": ")" + kDigestA + R"(", "size": 1}])"}},
         "manifest: the file sizes add up to more than 8 EiB at b"},
        {"port 0", {{"server", R"({"host": "h", "port": 0})"}}, "manifest: server address missing"},
        {"no port", {{"server", R"({"host": "h"})"}}, "manifest: server address missing"},
        {"port above 65535", {{"server", R"({"host": "h", "port": 70000})"}}, "manifest: server address missing"},
        {"port that narrows to 7777", {{"server", R"({"host": "h", "port": 4294975073})"}},
         "manifest: server address missing"},
        {"negative port", {{"server", R"({"host": "h", "port": -7777})"}}, "manifest: server address missing"},
        {"no host and no ip", {{"server", R"({"name": "n", "port": 7777})"}}, "manifest: server address missing"},
        {"no server", {{"server", ""}}, "manifest: server address missing"},
        {"empty baseUrl", {{"baseUrl", R"("")"}}, "manifest: baseUrl must end with /"},
        {"baseUrl without final slash", {{"baseUrl", R"("https://cdn.example.test/c")"}},
         "manifest: baseUrl must end with /"},
        {"launcher url without digest", {{"launcher", R"({"version": "2.2.0", "url": "https://x.test/l.exe"})"}},
         "manifest: launcher.url without a valid launcher.sha256"},
        {"launcher url with a short digest",
         {{"launcher", R"({"url": "https://x.test/l.exe", "sha256": ")" + kDigestA.substr(2) + R"("})"}},
         "manifest: launcher.url without a valid launcher.sha256"},
    };
    for (const Refusal& c : cases) {
        Manifest m;
        std::string error;
        EXPECT_FALSE(parseManifest(document(c.changes), m, error)) << c.name << ": accepted";
        EXPECT_EQ(error, c.message) << c.name;
    }
}

TEST(Manifest, BadJsonCarriesTheParserMessageAndLeavesTheRecordAlone) {
    Manifest m;
    m.channel = "kept";
    std::string error;
    EXPECT_FALSE(parseManifest("[1 2]", m, error));
    EXPECT_EQ(error, "manifest: bad JSON: expected ',' or ']' at offset 3");
    EXPECT_EQ(m.channel, "kept");
    EXPECT_FALSE(parseManifest("", m, error));
    EXPECT_EQ(error, "manifest: bad JSON: unexpected end at offset 0");
}

TEST(Manifest, TheFirstFaultInDocumentOrderWins) {
    Manifest m;
    std::string error;
    // A bad file comes before the server check, and the server check before
    // the base URL check.
    EXPECT_FALSE(parseManifest(
        document({{"files", filesWith("/x", kDigestA)}, {"server", ""}, {"baseUrl", R"("nope")"}}), m, error));
    EXPECT_EQ(error, "manifest: unsafe path /x");
    EXPECT_FALSE(parseManifest(document({{"server", ""}, {"baseUrl", R"("nope")"}}), m, error));
    EXPECT_EQ(error, "manifest: server address missing");
    // The schema is checked before anything else in the document.
    EXPECT_FALSE(parseManifest(document({{"schema", "3"}, {"server", ""}}), m, error));
    EXPECT_EQ(error, manifestSchemaMessage(3));
}

TEST(Manifest, ANewerSchemaKeepsTheLauncherBlockAndSaysSo) {
    Manifest m;
    std::string error;
    bool newer = false;
    EXPECT_FALSE(parseManifest(document({{"schema", "2"}}), m, error, &newer));
    EXPECT_TRUE(newer);
    EXPECT_EQ(m.schema, 2);
    EXPECT_EQ(m.launcherVersion, "2.2.0");
    EXPECT_EQ(m.launcherUrl, "https://example.test/Emberlane-2.2.0.exe");
    EXPECT_EQ(m.launcherSha256, kDigestB);
    EXPECT_EQ(m.channel, "") << "nothing after the schema check is read";
    EXPECT_TRUE(m.files.empty());
}

TEST(Manifest, TheNewerFlagIsOnlyForSchemasAboveOne) {
    struct Case {
        Members changes;
        bool newer;
    };
    const std::vector<Case> cases = {
        {{{"schema", ""}}, false},
        {{{"schema", "0"}}, false},
        {{{"schema", "-1"}}, false},
        {{{"schema", "7"}}, true},
        {{{"baseUrl", R"("x")"}}, false},  // another refusal clears the flag
        {{}, false},
    };
    for (const Case& c : cases) {
        Manifest m;
        std::string error;
        bool newer = !c.newer;
        parseManifest(document(c.changes), m, error, &newer);
        EXPECT_EQ(newer, c.newer) << document(c.changes).substr(0, 40);
    }
}

TEST(Manifest, FilesReadBeforeARefusedEntryStayInTheRecord) {
    Manifest m;
    std::string error;
    const std::string files = R"([{"path": "good", "sha256": ")" + kDigestA +
                              R"(", "size": 1}, {"path": "C:\\x", "sha256": ")" + kDigestA + R"(", "size": 1}])";
    EXPECT_FALSE(parseManifest(document({{"files", files}}), m, error));
    EXPECT_EQ(error, "manifest: unsafe path C:\\x");
    ASSERT_EQ(m.files.size(), 1u);
    EXPECT_EQ(m.files[0].path, "good");
    EXPECT_EQ(m.clientVersion, "1.4.2") << "fields read before the files stay too";
}

TEST(Manifest, PathSafety) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"a/b/c.dll", true},
        {"C:x", true},
        {"./a", true},
        {"a.b/c", true},
        {"", false},
        {"/abs", false},
        {"a/../b", false},
        {"..", false},
        {"a..", false},
        {"a\\b", false},
        {std::string("a\0b", 3), false},
    };
    for (const auto& [path, safe] : cases) {
        EXPECT_EQ(isSafeManifestPath(path), safe) << "path '" << path << "'";
    }
}

TEST(Manifest, AcceptedPathsAndDigests) {
    const std::string upper = "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF";
    const std::string files = R"([{"path": "C:x", "sha256": ")" + upper + R"(", "size": 3},
                                  {"path": "./a", "sha256": ")" + kDigestA + R"(", "size": 0},
                                  {"path": "Emberlane/.parts.old", "sha256": ")" + kDigestA + R"(", "size": 0},
                                  {"path": "Emberlane/ember.ini.bak", "sha256": ")" + kDigestA + R"(", "size": 0}])";
    Manifest m;
    std::string error;
    ASSERT_TRUE(parseManifest(document({{"files", files}}), m, error)) << error;
    ASSERT_EQ(m.files.size(), 4u);
    EXPECT_EQ(m.files[0].path, "C:x");
    EXPECT_EQ(m.files[0].sha256, kDigestA) << "digests are stored lower-cased";
    EXPECT_EQ(m.files[1].path, "./a");
}

TEST(Manifest, ServerAddress) {
    struct Case {
        const char* server;
        bool valid;
        int32_t port;
    };
    const std::vector<Case> cases = {
        {R"({"host": "", "ip": "203.0.113.7", "port": 7777})", true, 7777},
        {R"({"host": "h", "port": 1})", true, 1},
        {R"({"ip": "::1", "port": 65535})", true, 65535},
        {R"({"host": "h", "port": 7777.9})", true, 7777},
        {R"({"host": "h", "port": "7777"})", false, 0},
        {R"({"host": "h", "port": 65536})", false, 0},
    };
    for (const Case& c : cases) {
        Manifest m;
        std::string error;
        EXPECT_EQ(parseManifest(document({{"server", c.server}}), m, error), c.valid) << c.server << ": " << error;
        if (c.valid) {
            EXPECT_EQ(m.serverPort, c.port) << c.server;
        }
    }
}

TEST(Manifest, LauncherBlockRules) {
    const std::string digest = "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF";
    const std::vector<std::pair<std::string, bool>> cases = {
        {"", true},                                              // no launcher block
        {R"({"version": "2.2.0"})", true},                       // no URL: nothing to check
        {R"({"url": "", "sha256": "junk"})", true},              // empty URL: none published
        {R"({"url": "https://x.test/l.exe", "sha256": ")" + digest + R"("})", true},
    };
    for (const auto& [launcher, valid] : cases) {
        Manifest m;
        std::string error;
        EXPECT_EQ(parseManifest(document({{"launcher", launcher}}), m, error), valid) << launcher << ": " << error;
    }
}

TEST(Manifest, RegistrationIsOpenUnlessTheDocumentSaysOtherwise) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {R"({"mode": "password"})", true},
        {R"({"registerOpen": true})", true},
        {R"({"registerOpen": false})", false},
        {R"({"registerOpen": "yes"})", false},
        {R"({"registerOpen": 1})", false},
        {R"({"registerOpen": null})", false},
        {"", true},
    };
    for (const auto& [accounts, open] : cases) {
        Manifest m;
        std::string error;
        ASSERT_TRUE(parseManifest(document({{"accounts", accounts}}), m, error)) << error;
        EXPECT_EQ(m.registerOpen, open) << accounts;
    }
}

TEST(Manifest, TheRealmKeyFallsBackToMasterKey) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"({"serverKey": "s", "masterKey": "m"})", "s"},
        {R"({"serverKey": "", "masterKey": "m"})", "m"},
        {R"({"masterKey": "m"})", "m"},
        {R"({"serverKey": 5, "masterKey": "m"})", "m"},
        {R"({"serverKey": "s"})", "s"},
        {R"({})", ""},
    };
    for (const auto& [accounts, key] : cases) {
        Manifest m;
        std::string error;
        ASSERT_TRUE(parseManifest(document({{"accounts", accounts}}), m, error)) << error;
        EXPECT_EQ(m.accountsRealmKey, key) << accounts;
    }
}

TEST(Manifest, ClientSettingsBecomeText) {
    Manifest m;
    std::string error;
    ASSERT_TRUE(parseManifest(
        document({{"clientSettings",
                   R"({"on": true, "off": false, "half": 2.5, "whole": 3, "big": 1e20, "tiny": 0.0001,
                       "name": "x", "empty": "", "nothing": null, "list": [1], "nested": {"a": 1}})"}}),
        m, error))
        << error;
    const std::map<std::string, std::string> expected = {
        {"on", "1"},     {"off", "0"},     {"half", "2.5"}, {"whole", "3"},
        {"big", "1e+20"}, {"tiny", "0.0001"}, {"name", "x"},   {"empty", ""},
    };
    EXPECT_EQ(m.clientSettings, expected);
}

TEST(Manifest, SupportedVersionsAreMatchedExactly) {
    Manifest m;
    m.supportedVersions = {"0.411.140.0", "1.0.A"};
    EXPECT_TRUE(isSupportedGameVersion(m, "0.411.140.0"));
    EXPECT_TRUE(isSupportedGameVersion(m, "1.0.A"));
    EXPECT_FALSE(isSupportedGameVersion(m, "1.0.a"));
    EXPECT_FALSE(isSupportedGameVersion(m, "0.411.140"));
    EXPECT_FALSE(isSupportedGameVersion(m, ""));
    m.supportedVersions.push_back("");
    EXPECT_TRUE(isSupportedGameVersion(m, "")) << "an empty entry matches an empty version";
}

TEST(Manifest, ClientBuildForPrefersTheExactKeyThenTheSmallest) {
    Manifest m;
    m.clientBuilds["0.412.3.0"] = {"b", "b.dll", "b.exe"};
    m.clientBuilds["0.411.140.0"] = {"a", "a.dll", "a.exe"};
    bool exact = false;
    EXPECT_EQ(clientBuildFor(m, "0.412.3.0", exact).version, "b");
    EXPECT_TRUE(exact);
    exact = true;
    const ClientBuild other = clientBuildFor(m, "9.9", exact);
    EXPECT_FALSE(exact);
    EXPECT_EQ(other.version, "a") << "0.411.140.0 sorts before 0.412.3.0";
    EXPECT_EQ(other.loader, "a.exe");

    Manifest none;
    exact = true;
    const ClientBuild empty = clientBuildFor(none, "0.412.3.0", exact);
    EXPECT_FALSE(exact);
    EXPECT_TRUE(empty.version.empty() && empty.dll.empty() && empty.loader.empty());
}

TEST(Manifest, AccountsUsable) {
    struct Case {
        bool enabled;
        const char* mode;
        const char* apiBase;
        bool usable;
    };
    const std::vector<Case> cases = {
        {true, "password", "https://a.test/", true},
        {true, "oauth", "https://a.test/", true},
        {false, "password", "https://a.test/", true},
        {false, "oauth", "https://a.test/", false},
        {false, "", "https://a.test/", false},
        {true, "none", "https://a.test/", false},
        {true, "None", "https://a.test/", false},
        {true, "password", "", false},
    };
    for (const Case& c : cases) {
        Manifest m;
        m.accountsEnabled = c.enabled;
        m.accountsMode = c.mode;
        m.accountsApiBase = c.apiBase;
        EXPECT_EQ(accountsUsable(m), c.usable) << c.enabled << " " << c.mode << " " << c.apiBase;
    }
}

TEST(Manifest, TotalFileBytesAddsSizesWithoutWrapping) {
    Manifest m;
    EXPECT_EQ(totalFileBytes(m), 0u);
    m.files = {{"a", kDigestA, 1048576}, {"b", kDigestA, 524288}};
    EXPECT_EQ(totalFileBytes(m), 1572864u);
    m.files = {{"a", kDigestA, INT64_MAX}, {"b", kDigestA, INT64_MAX}, {"c", kDigestA, INT64_MAX}};
    EXPECT_EQ(totalFileBytes(m), UINT64_MAX);
}

TEST(Manifest, ManifestUrlForChannel) {
    struct Case {
        const char* url;
        const char* channel;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"https://x.test/client/manifest.json?x=1", "beta", "https://x.test/client/manifest-beta.json"},
        {"https://x.test/client/manifest.json", "stable", "https://x.test/client/manifest.json"},
        {"https://x.test/client/manifest.json", "", "https://x.test/client/manifest.json"},
        {"https://x.test/manifest.json/client/manifest.json", "ptr",
         "https://x.test/manifest.json/client/manifest-ptr.json"},
        {"https://x.test/client/latest.json", "beta", "https://x.test/client/latest.json"},
        {"https://x.test/client/Manifest.json", "beta", "https://x.test/client/Manifest.json"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(manifestUrlForChannel(c.url, c.channel), c.expected) << c.url << " " << c.channel;
    }
}

// A client build whose DLL or loader would lie outside the game folder is no build.
TEST(ClientBuild, ABuildNamingAFileOutsideTheGameFolderIsNoBuild) {
    const char* unsafe[] = {"", "../evil.exe", "C:\\Windows\\evil.exe", "D:evil.exe", "Emberlane\\l.exe", "/l.exe"};
    for (const char* loader : unsafe) {
        for (bool loaderBad : {true, false}) {
            Manifest m;
            m.clientBuilds["1.0"] = loaderBad ? ClientBuild{"1", "Emberlane/Emberlane.dll", loader}
                                              : ClientBuild{"1", loader, "Emberlane/Loader.exe"};
            bool exact = false;
            ClientBuild build = clientBuildFor(m, "1.0", exact);
            EXPECT_TRUE(build.loader.empty() && build.dll.empty()) << loader;
            build = clientBuildFor(m, "2.0", exact);
            EXPECT_TRUE(build.loader.empty() && build.dll.empty()) << loader << " (fallback build)";
        }
    }
}

}  // namespace
}  // namespace ember::launcher
