// The --check-manifest report: every line byte for byte and every exit code,
// over in-memory files and canned HTTP replies (the real console, WinHTTP and
// files are exercised end to end under Wine in tests/e2e).
#include "launcher/shell/check_report.h"
#include "tests/support/signing.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace ember::launcher {
namespace {

const std::string kDigest = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

// A valid manifest: two builds, three files of 1.5 MiB in all, a launcher.
const std::string kValid = R"({
  "schema": 1,
  "launcher": {"version": "2.2.0", "url": "https://example.test/Emberlane-2.2.0.exe", "sha256": ")" +
                           kDigest + R"("},
  "channel": "beta",
  "clientVersion": "1.4.2",
  "generatedAt": "2025-05-01T12:00:00Z",
  "baseUrl": "https://cdn.example.test/c/",
  "server": {"name": "Ashfall", "host": "play.example.test", "ip": "203.0.113.7", "port": 7777},
  "game": {"supportedVersions": ["0.411.140.0", "0.412.3.0"]},
  "client": {
    "0.412.3.0": {"version": "1.4.2b", "dll": "Emberlane/Emberlane.dll", "loader": "ember-loader.exe"},
    "0.411.140.0": {"version": "1.4.2a", "dll": "Emberlane/Old.dll", "loader": "old-loader.exe"}
  },
  "files": [
    {"path": "Emberlane/Emberlane.dll", "sha256": ")" + kDigest + R"(", "size": 1048576},
    {"path": "ember-loader.exe", "sha256": ")" + kDigest + R"(", "size": 262144},
    {"path": "Emberlane/data.pak", "sha256": ")" + kDigest + R"(", "size": 262144}
  ],
  "accounts": {"enabled": false, "mode": "password", "apiBase": "https://accounts.example.test/", "masterKey": "ash"}
})";

// Minimal valid manifest: IP only, no launcher, no builds, no versions.
const std::string kBare = R"({"schema": 1, "baseUrl": "http://h/", "server": {"ip": "10.0.0.1", "port": 1}})";

const std::string kValidReport =
    "OK        m.json  (" + std::to_string(kValid.size()) +
    " bytes)\n"
    "channel   beta, client 1.4.2, generated 2025-05-01T12:00:00Z\n"
    "realm     Ashfall -> play.example.test:7777\n"
    "accounts  mode=\"password\" enabled=true apiBase=\"https://accounts.example.test/\" realm=\"ash\"\n"
    "files     3, 1.5 MB total, baseUrl https://cdn.example.test/c/\n"
    "launcher  2.2.0  https://example.test/Emberlane-2.2.0.exe\n"
    "supports  0.411.140.0, 0.412.3.0\n";

// What a local manifest without a signature file adds.
std::string unsignedLines(const std::string& source) {
    return std::string(check_text::kTrustsTestKey) + "signature not signed (no " + source + ".minisig beside it)\n";
}
const std::string kSignedLine = "signature key AAF801633C66F4C4 (test: the test key), sequence 1042, expires "
                                "2099-01-01T00:00:00Z\n";

const testing::TestSigner& signer() {
    static const testing::TestSigner key = testing::TestSigner::standinKey();
    return key;
}

// In-memory files and canned replies; remembers what was asked for.
struct Sources {
    std::map<std::string, std::string> files;
    std::map<std::string, http::Response> replies;
    std::vector<http::Request> requests;
    std::vector<std::string> reads;
    std::vector<uint64_t> limits;

    CheckSources bind() {
        CheckSources s;
        s.fetch = [this](const http::Request& request) {
            requests.push_back(request);
            const auto found = replies.find(request.url);
            if (found != replies.end()) return found->second;
            http::Response refused;
            refused.error = "cannot connect";
            return refused;
        };
        s.readFile = [this](const std::string& path, uint64_t maxBytes, std::string& out) {
            reads.push_back(path);
            limits.push_back(maxBytes);
            const auto found = files.find(path);
            if (found == files.end()) return FileRead::CannotRead;
            if (found->second.size() > maxBytes) return FileRead::TooLarge;
            out = found->second;
            return FileRead::Ok;
        };
        return s;
    }
};

CheckOutcome run(Sources& sources, std::vector<std::string> args) {
    args.insert(args.begin(), {"Emberlane.exe", "--check-manifest"});
    return checkManifestReport(args, sources.bind());
}

http::Response reply(int32_t status, const std::string& body, const std::string& error = "") {
    http::Response r;
    r.status = status;
    r.body = body;
    r.error = error;
    return r;
}

TEST(CheckReport, UsageWithoutASource) {
    const std::string usage = "usage: Emberlane.exe --check-manifest <url|path> [--game VERSION]\n";
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--game", "1.0"},
        {"--game", "1.0", "--game", "2.0"},
    };
    for (const auto& args : cases) {
        Sources sources;
        const CheckOutcome outcome = run(sources, args);
        EXPECT_EQ(outcome.output, usage) << args.size() << " arguments";
        EXPECT_EQ(outcome.exitCode, 2);
        EXPECT_TRUE(sources.reads.empty() && sources.requests.empty()) << "nothing is read without a source";
    }
    // Fewer than three arguments in all, whatever they are.
    Sources sources;
    EXPECT_EQ(checkManifestReport({"Emberlane.exe", "--check-manifest"}, sources.bind()).exitCode, 2);
    EXPECT_EQ(checkManifestReport({}, sources.bind()).exitCode, 2);
}

TEST(CheckReport, AValidManifestFromAFile) {
    Sources sources;
    sources.files["m.json"] = kValid;
    const CheckOutcome outcome = run(sources, {"m.json"});
    EXPECT_EQ(outcome.output, kValidReport + unsignedLines("m.json"));
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_TRUE(sources.requests.empty());
}

TEST(CheckReport, ABareManifestShowsTheIpNoLauncherAndNoVersions) {
    Sources sources;
    sources.files["bare.json"] = kBare;
    const CheckOutcome outcome = run(sources, {"bare.json"});
    EXPECT_EQ(outcome.output, "OK        bare.json  (" + std::to_string(kBare.size()) +
                                  " bytes)\n"
                                  "channel   , client , generated \n"
                                  "realm      -> 10.0.0.1:1\n"
                                  "accounts  mode=\"\" enabled=false apiBase=\"\" realm=\"\"\n"
                                  "files     0, 0.0 MB total, baseUrl http://h/\n"
                                  "launcher  none published - self-update cannot run\n"
                                  "supports  \n" +
                                  unsignedLines("bare.json"));
    EXPECT_EQ(outcome.exitCode, 0);
}

TEST(CheckReport, WhichArgumentIsTheSource) {
    struct Case {
        std::vector<std::string> args;
        std::string read;  // the path that was read
        int exitCode;
    };
    const std::vector<Case> cases = {
        {{"a.json", "m.json"}, "m.json", 0},            // the last one wins
        {{"--game", "0.412.3.0", "m.json"}, "m.json", 0},  // a pair before the source
        {{"m.json", "--game"}, "--game", 1},              // a trailing --game is the source
        {{"m.json", "--game", "--game"}, "m.json", 0},   // --game takes "--game" as its version
        {{"m.json", "--other"}, "--other", 1},            // unknown options are sources too
    };
    for (const Case& c : cases) {
        Sources sources;
        sources.files["m.json"] = kValid;
        const CheckOutcome outcome = run(sources, c.args);
        ASSERT_FALSE(sources.reads.empty());
        EXPECT_EQ(sources.reads.front(), c.read) << c.args.back();
        EXPECT_EQ(outcome.exitCode, c.exitCode) << c.args.back() << "\n" << outcome.output;
    }
}

TEST(CheckReport, AMissingFile) {
    Sources sources;
    sources.files["m.json"] = kValid;
    const CheckOutcome outcome = run(sources, {"m.json", "--game"});
    EXPECT_EQ(outcome.output, "REJECTED  --game\n          cannot read the file\n");
    EXPECT_EQ(outcome.exitCode, 1);
}

TEST(CheckReport, FilesAreHeldToTheDownloadLimit) {
    Sources sources;
    sources.files["big.json"] = std::string(8388609, ' ');
    sources.files["limit.json"] = std::string(8388608, ' ');
    EXPECT_EQ(run(sources, {"big.json"}).output,
              "REJECTED  big.json\n          the file is larger than the 8 MiB a launcher accepts\n");
    // Exactly the limit is read and judged on its content.
    EXPECT_EQ(run(sources, {"limit.json"}).output,
              "REJECTED  limit.json\n          manifest: bad JSON: unexpected end at offset 8388608\n");
    EXPECT_EQ(sources.limits, (std::vector<uint64_t>{8388608, 8388608}));
}

TEST(CheckReport, RejectedManifests) {
    struct Case {
        const char* name;
        std::string text;
        std::string output;
    };
    const std::string newer =
        "manifest schema 2 is newer than this launcher understands - the launcher needs updating";
    std::string schema2 = kValid;
    schema2.replace(schema2.find("\"schema\": 1"), 11, "\"schema\": 2");
    const std::vector<Case> cases = {
        {"bad JSON", "{\"schema\": 1,}",
         "REJECTED  m.json\n          manifest: bad JSON: expected a string at offset 13\n"},
        {"schema 2 with a launcher block", schema2,
         "REJECTED  m.json\n          " + newer +
             "\n          (the launcher block still reads: 2.2.0 https://example.test/Emberlane-2.2.0.exe)\n"},
        {"schema 2 without a launcher block", R"({"schema": 2, "launcher": {"version": "2.2.0"}})",
         "REJECTED  m.json\n          " + newer + "\n"},
        {"a launcher URL without a digest",
         R"({"schema": 1, "launcher": {"version": "3", "url": "https://x.test/l.exe"}, "baseUrl": "h/",
             "server": {"ip": "1.2.3.4", "port": 1}})",
         "REJECTED  m.json\n          manifest: launcher.url without a valid launcher.sha256\n"
         "          (the launcher block still reads: 3 https://x.test/l.exe)\n"},
        {"no server", R"({"schema": 1})", "REJECTED  m.json\n          manifest: server address missing\n"},
        {"two paths that differ only in case",
         R"({"schema": 1, "files": [{"path": "a.pak", "size": 1, "sha256": ")" + std::string(64, 'a') +
             R"("}, {"path": "A.pak", "size": 1, "sha256": ")" + std::string(64, 'b') + R"("}]})",
         "REJECTED  m.json\n          manifest: another file differs only in letter case from A.pak\n"},
    };
    for (const Case& c : cases) {
        Sources sources;
        sources.files["m.json"] = c.text;
        const CheckOutcome outcome = run(sources, {"m.json"});
        EXPECT_EQ(outcome.output, c.output) << c.name;
        EXPECT_EQ(outcome.exitCode, 1) << c.name;
    }
}

TEST(CheckReport, AsAPlayerOnAGameVersion) {
    struct Case {
        const char* version;
        std::string tail;
        int exitCode;
    };
    const std::vector<Case> cases = {
        {"0.412.3.0",
         "\nas a player on game 0.412.3.0:\n"
         "  version   supported\n"
         "  client    1.4.2b (exact)  loader=ember-loader.exe  dll=Emberlane/Emberlane.dll\n",
         0},
        {"0.500.0.0",
         "\nas a player on game 0.500.0.0:\n"
         "  version   NOT SUPPORTED - the launcher shows the version screen\n"
         "  client    1.4.2a (another version's build)  loader=old-loader.exe  dll=Emberlane/Old.dll\n",
         0},
        {"",
         "\nas a player on game :\n"
         "  version   NOT SUPPORTED - the launcher shows the version screen\n"
         "  client    1.4.2a (another version's build)  loader=old-loader.exe  dll=Emberlane/Old.dll\n",
         0},
    };
    for (const Case& c : cases) {
        Sources sources;
        sources.files["m.json"] = kValid;
        const CheckOutcome outcome = run(sources, {"m.json", "--game", c.version});
        EXPECT_EQ(outcome.output, kValidReport + c.tail + unsignedLines("m.json")) << c.version;
        EXPECT_EQ(outcome.exitCode, c.exitCode) << c.version;
    }
}

TEST(CheckReport, NoClientBuildForTheGameFails) {
    Sources sources;
    sources.files["bare.json"] = kBare;
    const CheckOutcome outcome = run(sources, {"--game", "0.412.3.0", "bare.json"});
    const std::string tail =
        "\nas a player on game 0.412.3.0:\n"
        "  version   NOT SUPPORTED - the launcher shows the version screen\n"
        "  client    NONE published for this version\n";
    EXPECT_NE(outcome.output.find(tail + check_text::kTrustsTestKey), std::string::npos) << outcome.output;
    EXPECT_EQ(outcome.exitCode, 1);
}

TEST(CheckReport, ABuildWithoutAVersionCountsAsNone) {
    Sources sources;
    sources.files["m.json"] =
        R"({"schema": 1, "baseUrl": "h/", "server": {"ip": "1.2.3.4", "port": 1},
            "game": {"supportedVersions": ["1"]}, "client": {"1": {"dll": "x.dll"}}})";
    const CheckOutcome outcome = run(sources, {"m.json", "--game", "1"});
    EXPECT_NE(outcome.output.find("  version   supported\n  client    NONE published for this version\n"),
              std::string::npos)
        << outcome.output;
    EXPECT_EQ(outcome.exitCode, 1);
}

TEST(CheckReport, AUrlIsFetchedWithTheManifestRequest) {
    Sources sources;
    const std::string url = "https://example.test/client/manifest.json";
    sources.replies[url] = reply(200, kValid);
    sources.replies[url + ".minisig"] = reply(200, signer().sign(kValid, testing::manifestTerms(1042)));
    const CheckOutcome outcome = run(sources, {url});
    std::string expected = kValidReport;
    expected.replace(10, 6, url);
    EXPECT_EQ(outcome.output, expected + check_text::kTrustsTestKey + kSignedLine);
    EXPECT_EQ(outcome.exitCode, 0);
    ASSERT_EQ(sources.requests.size(), 2u);
    EXPECT_EQ(sources.requests[1].url, url + ".minisig");
    const http::Request& sent = sources.requests[0];
    EXPECT_EQ(sent.method, "GET");
    EXPECT_EQ(sent.url, url);
    EXPECT_EQ(sent.accept, "application/json");
    EXPECT_EQ(sent.timeoutMs, 20000u);
    EXPECT_EQ(sent.maxBytes, 8388608u);
    EXPECT_TRUE(sent.body.empty());
    EXPECT_TRUE(sent.bearer.empty());
    EXPECT_FALSE(sent.sink);
    EXPECT_TRUE(sources.reads.empty());
}

TEST(CheckReport, FetchFailures) {
    struct Case {
        http::Response reply;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {reply(404, "not here"), "HTTP 404"},
        {reply(500, ""), "HTTP 500"},
        {reply(302, ""), "HTTP 302"},
        {reply(199, kValid), "HTTP 199"},
        {reply(300, kValid), "HTTP 300"},
        {reply(0, "", "cannot connect"), "cannot connect"},
        {reply(0, "", "timed out"), "timed out"},
        {reply(0, "", "bad URL"), "bad URL"},
        // Cut short after a 200: the partial body is not judged.
        {reply(200, "{\"schema\": 1", "reply too large"), "reply too large"},
        {reply(404, "", "connection error"), "connection error"},
    };
    for (const Case& c : cases) {
        Sources sources;
        sources.replies["http://127.0.0.1:1/m.json"] = c.reply;
        const CheckOutcome outcome = run(sources, {"http://127.0.0.1:1/m.json"});
        EXPECT_EQ(outcome.output, "REJECTED  http://127.0.0.1:1/m.json\n          " + c.reason + "\n") << c.reason;
        EXPECT_EQ(outcome.exitCode, 1) << c.reason;
    }
}

TEST(CheckReport, AnyTwoHundredStatusCarriesTheManifest) {
    for (int32_t status : {200, 203, 299}) {
        Sources sources;
        sources.replies["http://h/m.json"] = reply(status, kBare);
        sources.replies["http://h/m.json.minisig"] = reply(status, signer().sign(kBare, testing::manifestTerms(1)));
        EXPECT_EQ(run(sources, {"http://h/m.json"}).exitCode, 0) << status;
    }
}

TEST(CheckReport, MissingSourcesAreRefusalsNotCrashes) {
    const CheckSources none;
    EXPECT_EQ(checkManifestReport({"e", "--check-manifest", "http://h/m.json"}, none).output,
              "REJECTED  http://h/m.json\n          no HTTP client in this build\n");
    EXPECT_EQ(checkManifestReport({"e", "--check-manifest", "m.json"}, none).output,
              "REJECTED  m.json\n          cannot read the file\n");
}

TEST(CheckReport, OnlyLowerCaseSchemesAreUrls) {
    for (const char* source : {"HTTP://h/m.json", "Https://h/m.json", "ftp://h/m.json", "http:/h/m.json"}) {
        Sources sources;
        const CheckOutcome outcome = run(sources, {source});
        EXPECT_TRUE(sources.requests.empty()) << source;
        ASSERT_EQ(sources.reads.size(), 1u) << source;
        EXPECT_EQ(outcome.output, std::string("REJECTED  ") + source + "\n          cannot read the file\n");
    }
}

TEST(CheckReport, ControlBytesFromTheDocumentCannotDriveTheTerminal) {
    Sources sources;
    sources.files["m.json"] =
        R"({"schema": 1, "channel": "a\u001b[2Jb\nOK", "baseUrl": "h/", "server": {"ip": "1.2.3.4", "port": 1},
            "game": {"supportedVersions": ["x\ry", "z\u007f"]}})";
    const std::string out = run(sources, {"m.json"}).output;
    EXPECT_NE(out.find("channel   a?[2Jb?OK, client , generated \n"), std::string::npos) << out;
    EXPECT_NE(out.find("supports  x?y, z?\n"), std::string::npos) << out;

    Sources bad;
    bad.files["m.json"] = R"({"schema": 1, "files": [{"path": "/\u001b]0;pwned\u0007", "sha256": ""}]})";
    EXPECT_EQ(run(bad, {"m.json"}).output, "REJECTED  m.json\n          manifest: unsafe path /?]0;pwned?\n");
}

TEST(CheckReport, TextsOutsideAsciiPassUnchanged) {
    Sources sources;
    sources.files["m.json"] =
        R"({"schema": 1, "baseUrl": "h/", "server": {"name": "Cyrodiil \u00e9t\u00e9", "ip": "1.2.3.4", "port": 1}})";
    const std::string out = run(sources, {"m.json"}).output;
    EXPECT_NE(out.find("realm     Cyrodiil \xc3\xa9t\xc3\xa9 -> 1.2.3.4:1\n"), std::string::npos) << out;
}


// The signature's verdict: a URL must be signed by a pinned key; a local
// file may be unsigned (checked before signing) but not badly signed.
TEST(CheckReport, SignatureVerdicts) {
    const std::string url = "https://example.test/client/manifest.json";
    const std::string good = signer().sign(kValid, testing::manifestTerms(1042));
    const std::string refusedHead = "REJECTED  " + url + "\n          " + check_text::kSignatureRefused + "\n" +
                                    check_text::kTrustsTestKey + "signature REFUSED (";
    struct Row {
        const char* name;
        bool local;
        bool published;  // a signature file is there
        std::string signature;
        int exitCode;
        std::string ending;  // how the report ends
    } rows[] = {
        {"URL, signed", false, true, good, 0, kSignedLine},
        {"URL, unsigned", false, false, "", 1, "(HTTP 404)\n"},
        {"URL, body changed after signing", false, true, signer().sign(kValid + " ", testing::manifestTerms(1042)),
         1, "bad-signature): the manifest is not what key AAF801633C66F4C4 signed\n"},
        {"URL, an unknown key", false, true, testing::TestSigner::freshKey().sign(kValid, testing::manifestTerms(1)),
         1, ", which this launcher does not trust\n"},
        {"URL, expired", false, true, signer().sign(kValid, testing::manifestTerms(7, "2001-01-01T00:00:00Z")), 1,
         "expired): the manifest expired at 2001-01-01T00:00:00Z\n"},
        {"URL, malformed", false, true, "<html>no</html>", 1,
         "malformed): the signature file does not have the four lines of a minisign signature\n"},
        {"file, signed", true, true, good, 0, kSignedLine},
        {"file, unsigned", true, false, "", 0, "signature not signed (no m.json.minisig beside it)\n"},
        {"file, badly signed", true, true, signer().sign("{}", testing::manifestTerms(1)), 1,
         "bad-signature): the manifest is not what key AAF801633C66F4C4 signed\n"},
    };
    for (const Row& row : rows) {
        Sources sources;
        std::string source = row.local ? "m.json" : url;
        if (row.local) {
            sources.files["m.json"] = kValid;
            if (row.published) sources.files["m.json.minisig"] = row.signature;
        } else {
            sources.replies[url] = reply(200, kValid);
            sources.replies[url + ".minisig"] = row.published ? reply(200, row.signature) : reply(404, "not here");
        }
        const CheckOutcome outcome = run(sources, {source});
        EXPECT_EQ(outcome.exitCode, row.exitCode) << row.name << "\n" << outcome.output;
        ASSERT_GE(outcome.output.size(), row.ending.size()) << row.name;
        EXPECT_EQ(outcome.output.substr(outcome.output.size() - row.ending.size()), row.ending) << row.name;
        if (row.local || row.exitCode == 0) {
            // Every line of the report is there before the signature's.
            std::string before = kValidReport;
            before.replace(10, 6, source);
            EXPECT_EQ(outcome.output.compare(0, before.size(), before), 0) << row.name << "\n" << outcome.output;
        } else {
            // The launcher would refuse it before reading it: so does the report.
            EXPECT_EQ(outcome.output.compare(0, refusedHead.size(), refusedHead), 0) << row.name << "\n"
                                                                                     << outcome.output;
        }
    }
}

}  // namespace
}  // namespace ember::launcher
