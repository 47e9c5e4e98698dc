// Fuzz entry point: the client manifest parser and the check report on
// arbitrary bytes. Besides not crashing, an accepted manifest must hold what
// the launcher relies on (safe paths, lower-case digests, a usable address),
// and the report must end in a line break with a known exit code.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "launcher/shell/check_report.h"
#include "launcher/formats/manifest.h"
#include "launcher/net/sha256.h"

using namespace ember::launcher;

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

void checkAccepted(const Manifest& m) {
    require(m.schema == 1);
    require(m.serverPort >= 1 && m.serverPort <= 65535);
    require(!m.serverHost.empty() || !m.serverIp.empty());
    require(!m.baseUrl.empty() && m.baseUrl.back() == '/');
    require(m.launcherUrl.empty() || isSha256Hex(m.launcherSha256));
    for (const ManifestFile& file : m.files) {
        require(isSafeManifestPath(file.path));
        require(isSha256Hex(file.sha256));
        for (char c : file.sha256) require(!(c >= 'A' && c <= 'F'));
        require(file.size >= 0);
    }
    // The queries must cope with whatever was accepted.
    bool exact = false;
    const std::string version = m.supportedVersions.empty() ? std::string() : m.supportedVersions.front();
    const ClientBuild build = clientBuildFor(m, version, exact);
    require(!exact || m.clientBuilds.count(version) == 1);
    (void)build;
    (void)isSupportedGameVersion(m, version);
    (void)accountsUsable(m);
    (void)totalFileBytes(m);
    (void)manifestUrlForChannel("https://x.test/client/manifest.json", m.channel);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    Manifest manifest;
    std::string error;
    bool newer = false;
    if (parseManifest(text, manifest, error, &newer)) {
        require(!newer);
        checkAccepted(manifest);
    } else {
        require(!error.empty());
        require(!newer || manifest.schema > 1);
    }

    // The report over the same bytes as a file, as a player on game "1".
    CheckSources sources;
    sources.readFile = [&text](const std::string&, uint64_t maxBytes, std::string& out) {
        if (text.size() > maxBytes) return FileRead::TooLarge;
        out = text;
        return FileRead::Ok;
    };
    sources.fetch = [](const http::Request&) {
        http::Response none;
        none.error = "cannot connect";
        return none;
    };
    const CheckOutcome outcome = checkManifestReport({"Emberlane.exe", "--check-manifest", "m.json", "--game", "1"},
                                                     sources);
    require(outcome.exitCode == 0 || outcome.exitCode == 1);
    require(!outcome.output.empty() && outcome.output.back() == '\n');
    for (char c : outcome.output) {
        const unsigned char byte = static_cast<unsigned char>(c);
        require(byte == '\n' || (byte >= 0x20 && byte != 0x7F));
    }
    return 0;
}
