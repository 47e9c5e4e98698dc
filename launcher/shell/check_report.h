// `Emberlane.exe --check-manifest <url|path> [--game VERSION]`: a console
// report for the people who publish manifests.
//
// The report fetches a manifest (http:// or https://) or reads it from a
// file, validates it exactly as the launcher does, and prints what a launcher
// would see, optionally as a player on one game version. Exit codes: 0 valid
// (and a client build exists for --game), 1 unreadable, invalid or no build,
// 2 usage error.
//
// checkManifestReport is the whole report as a pure function over a fetch
// and a file reader, so it tests natively; runCheckManifest (Windows) wires
// in WinHTTP and the file layer and writes the block to standard output.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "launcher/net/http.h"

namespace ember::launcher {

// Texts of the report that are not built from the manifest.
namespace check_text {
inline constexpr const char* kUsage = "usage: Emberlane.exe --check-manifest <url|path> [--game VERSION]\n";
inline constexpr const char* kCannotRead = "cannot read the file";
inline constexpr const char* kNoNetwork = "no HTTP client in this build";
inline constexpr const char* kTooLarge = "the file is larger than the 8 MiB a launcher accepts";
inline constexpr const char* kNoLauncher = "launcher  none published - self-update cannot run\n";
inline constexpr const char* kSupported = "supported";
inline constexpr const char* kNotSupported = "NOT SUPPORTED - the launcher shows the version screen";
inline constexpr const char* kExactBuild = "exact";
inline constexpr const char* kOtherBuild = "another version's build";
inline constexpr const char* kNoBuild = "  client    NONE published for this version\n";
inline constexpr const char* kSignatureRefused = "the signature does not pass: the launcher would refuse it";
inline constexpr const char* kTrustsTestKey = "trust     this build trusts the stand-in's test signing key\n";
}  // namespace check_text

// Exit codes of the report.
inline constexpr int kCheckValid = 0;
inline constexpr int kCheckRejected = 1;
inline constexpr int kCheckUsage = 2;

// How reading a manifest file ended.
enum class FileRead { Ok, CannotRead, TooLarge };

// Where the report gets its manifest text from.
struct CheckSources {
    // One HTTP exchange (http::request on Windows).
    std::function<http::Response(const http::Request&)> fetch;
    // Reads a whole file (binary) into `out`, but never more than
    // `maxBytes`: a longer file, or an endless device, is TooLarge.
    std::function<FileRead(const std::string& path, uint64_t maxBytes, std::string& out)> readFile;
};

// The largest manifest a launcher accepts (its reply limit).
inline constexpr uint64_t kMaxManifestBytes = 8388608;

struct CheckOutcome {
    std::string output;  // the whole report, written as one block
    int exitCode = kCheckUsage;
};

// The request the report sends for a manifest URL.
http::Request manifestCheckRequest(const std::string& url);

// The report for a full argument vector (args[0] the program, args[1]
// "--check-manifest"), all text UTF-8.
CheckOutcome checkManifestReport(const std::vector<std::string>& args, const CheckSources& sources);

// Windows: runs the report with WinHTTP and the file layer, writes it to
// standard output (attaching to the parent's console when the process has
// no usable output handle) and returns the exit code.
int runCheckManifest(const std::vector<std::string>& args);

}  // namespace ember::launcher
