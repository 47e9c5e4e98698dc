// The --check-manifest report, independent of the console and the network.
#include "launcher/shell/check_report.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "base/text.h"
#include "launcher/formats/manifest.h"
#include "launcher/trust/signature.h"

#if defined(__MINGW32__)
#define EMBER_PRINTF_LIKE(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define EMBER_PRINTF_LIKE(f, a) __attribute__((format(printf, f, a)))
#endif

namespace ember::launcher {

namespace {

// The manifest this report is about, and where it came from.
struct CheckArgs {
    std::string source;
    bool hasSource = false;
    std::string gameVersion;
    bool hasGame = false;
};

// Appends one printf-formatted piece of any length.
void appendf(std::string& out, const char* format, ...) EMBER_PRINTF_LIKE(2, 3);
void appendf(std::string& out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (length > 0) {
        const size_t at = out.size();
        out.resize(at + static_cast<size_t>(length) + 1);
        std::vsnprintf(&out[at], static_cast<size_t>(length) + 1, format, again);
        out.resize(at + static_cast<size_t>(length));
    }
    va_end(again);
}

// Texts from the manifest, the server or the command line reach a terminal:
// control bytes (escape sequences, line breaks, NUL) become '?' so that a
// hostile document can neither drive the terminal nor fake report lines.
std::string printable(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) c = '?';
    }
    return out;
}

// From argument 2 on: "--game X" pairs set the game version; anything else,
// a trailing "--game" included, is the source (the last one wins).
CheckArgs readArgs(const std::vector<std::string>& args) {
    CheckArgs parsed;
    for (size_t i = 2; i < args.size(); ++i) {
        if (args[i] == "--game" && i + 1 < args.size()) {
            parsed.gameVersion = args[++i];
            parsed.hasGame = true;
        } else {
            parsed.source = args[i];
            parsed.hasSource = true;
        }
    }
    return parsed;
}

bool isUrl(const std::string& source) { return isWebAddress(source); }

void rejected(std::string& out, const std::string& source, const std::string& reason) {
    appendf(out, "REJECTED  %s\n          %s\n", printable(source).c_str(), printable(reason).c_str());
}

// Loads the manifest text; on failure writes the REJECTED lines and returns
// false.
bool loadText(const CheckArgs& args, const CheckSources& sources, std::string& text, std::string& out) {
    if (isUrl(args.source)) {
        http::Response reply;
        if (sources.fetch) {
            reply = sources.fetch(manifestCheckRequest(args.source));
        } else {
            reply.error = check_text::kNoNetwork;
        }
        // A transfer cut short (too large, dropped) keeps its 2xx status but
        // reports an error: its partial body is not the manifest.
        if (!reply.error.empty()) {
            rejected(out, args.source, reply.error);
            return false;
        }
        if (reply.status < 200 || reply.status > 299) {
            rejected(out, args.source, "HTTP " + std::to_string(reply.status));
            return false;
        }
        text = reply.body;
        return true;
    }
    // A file is held to the same limit as a download, and reading stops
    // there, so a huge file or an endless device is never loaded whole.
    const FileRead read =
        sources.readFile ? sources.readFile(args.source, kMaxManifestBytes, text) : FileRead::CannotRead;
    switch (read) {
        case FileRead::Ok:
            break;
        case FileRead::TooLarge:
            rejected(out, args.source, check_text::kTooLarge);
            return false;
        case FileRead::CannotRead:
        default:
            rejected(out, args.source, check_text::kCannotRead);
            return false;
    }
    return true;
}



// The signature's lines, after the rest of the report. True when it passes
// (or, for a local file, when there is none: a publisher checks a manifest
// before signing it).
bool describeSignature(const CheckArgs& args, const CheckSources& sources, const std::string& text,
                       std::string& out) {
    const bool url = isUrl(args.source);
    std::string sigText;
    std::string sigSource = url ? trust::signatureUrlFor(args.source) : args.source + ".minisig";
    bool present = false;
    std::string fetchError;
    if (url) {
        http::Request request = manifestCheckRequest(sigSource);
        request.accept = "*/*";
        request.maxBytes = trust::kMaxSignatureBytes;
        http::Response reply = sources.fetch ? sources.fetch(request) : http::Response{};
        if (reply.error.empty() && reply.status >= 200 && reply.status <= 299) {
            sigText = reply.body;
            present = true;
        } else {
            fetchError = !reply.error.empty() ? reply.error : "HTTP " + std::to_string(reply.status);
        }
    } else {
        present = sources.readFile &&
                  sources.readFile(sigSource, trust::kMaxSignatureBytes + 1, sigText) == FileRead::Ok;
    }
    if (trust::trustsTestKey()) out += check_text::kTrustsTestKey;
    if (!present && !url) {
        appendf(out, "signature not signed (no %s beside it)\n", printable(sigSource).c_str());
        return true;
    }
    trust::Verified verified;
    trust::Failure failure;
    if (!present) {
        failure.kind = trust::FailureKind::missing;
        failure.message = "no signature at " + sigSource + " (" + fetchError + ")";
    } else {
        failure = trust::verifyManifest(text, sigText, trust::pinnedKeys(), verified);
    }
    if (!failure.failed()) {
        const int64_t now = static_cast<int64_t>(std::time(nullptr));
        failure = trust::checkTerms(verified, trust::AcceptedRecord(), now, true);
    }
    if (failure.failed()) {
        appendf(out, "signature REFUSED (%s): %s\n", trust::kindName(failure.kind), printable(failure.message).c_str());
        return false;
    }
    appendf(out, "signature key %s (%s%s), sequence %llu, expires %s\n",
            trust::keyIdText(verified.key.id).c_str(), trust::spelling(verified.key.role),
            verified.key.role == trust::KeyRole::test ? ": the test key" : "",
            static_cast<unsigned long long>(verified.terms.sequence), verified.terms.expiresText.c_str());
    return true;
}

// The block printed for a manifest that passed validation.
void describe(const Manifest& manifest, const std::string& source, size_t textBytes, std::string& out) {
    const std::string& host = manifest.serverHost.empty() ? manifest.serverIp : manifest.serverHost;
    appendf(out, "OK        %s  (%zu bytes)\n", printable(source).c_str(), textBytes);
    appendf(out, "channel   %s, client %s, generated %s\n", printable(manifest.channel).c_str(),
            printable(manifest.clientVersion).c_str(), printable(manifest.generatedAt).c_str());
    appendf(out, "realm     %s -> %s:%d\n", printable(manifest.serverName).c_str(), printable(host).c_str(),
            static_cast<int>(manifest.serverPort));
    appendf(out, "accounts  mode=\"%s\" enabled=%s apiBase=\"%s\" realm=\"%s\"\n",
            printable(manifest.accountsMode).c_str(), accountsUsable(manifest) ? "true" : "false",
            printable(manifest.accountsApiBase).c_str(), printable(manifest.accountsRealmKey).c_str());
    appendf(out, "files     %zu, %s MB total, baseUrl %s\n", manifest.files.size(),
            formatBytes(totalFileBytes(manifest), ByteStyle::tenthsMiB).c_str(), printable(manifest.baseUrl).c_str());
    if (!manifest.launcherUrl.empty()) {
        appendf(out, "launcher  %s  %s\n", printable(manifest.launcherVersion).c_str(),
                printable(manifest.launcherUrl).c_str());
    } else {
        out += check_text::kNoLauncher;
    }
    appendf(out, "supports  %s\n", printable(joined(manifest.supportedVersions, ", ")).c_str());
}

// The block for one game version; true when a client build exists for it.
bool describeForGame(const Manifest& manifest, const std::string& version, std::string& out) {
    appendf(out, "\nas a player on game %s:\n", printable(version).c_str());
    appendf(out, "  version   %s\n",
            isSupportedGameVersion(manifest, version) ? check_text::kSupported : check_text::kNotSupported);
    bool exact = false;
    const ClientBuild build = clientBuildFor(manifest, version, exact);
    if (build.version.empty()) {
        out += check_text::kNoBuild;
        return false;
    }
    appendf(out, "  client    %s (%s)  loader=%s  dll=%s\n", printable(build.version).c_str(),
            exact ? check_text::kExactBuild : check_text::kOtherBuild, printable(build.loader).c_str(),
            printable(build.dll).c_str());
    return true;
}

}  // namespace

http::Request manifestCheckRequest(const std::string& url) {
    http::Request request;
    request.method = "GET";
    request.url = url;
    request.accept = "application/json";
    request.timeoutMs = 20000;
    request.maxBytes = kMaxManifestBytes;
    return request;
}

CheckOutcome checkManifestReport(const std::vector<std::string>& args, const CheckSources& sources) {
    CheckOutcome outcome;

    // A source is required.
    const CheckArgs parsed = readArgs(args);
    if (args.size() < 3 || !parsed.hasSource) {
        outcome.output = check_text::kUsage;
        outcome.exitCode = kCheckUsage;
        return outcome;
    }

    // Fetch or read the text.
    std::string text;
    if (!loadText(parsed, sources, text, outcome.output)) {
        outcome.exitCode = kCheckRejected;
        return outcome;
    }

    // A fetched manifest is checked as the launcher checks it: its signature
    // first, before the document is read.
    std::string signatureLines;
    bool signedWell = true;
    if (isUrl(parsed.source)) signedWell = describeSignature(parsed, sources, text, signatureLines);
    if (!signedWell) {
        rejected(outcome.output, parsed.source, check_text::kSignatureRefused);
        outcome.output += signatureLines;
        outcome.exitCode = kCheckRejected;
        return outcome;
    }

    // Validate exactly as the launcher does; the launcher block is worth
    // showing even for a refused document, since old launchers use it.
    Manifest manifest;
    std::string error;
    if (!parseManifest(text, manifest, error)) {
        rejected(outcome.output, parsed.source, error);
        if (!manifest.launcherUrl.empty()) {
            appendf(outcome.output, "          (the launcher block still reads: %s %s)\n",
                    printable(manifest.launcherVersion).c_str(), printable(manifest.launcherUrl).c_str());
        }
        outcome.exitCode = kCheckRejected;
        return outcome;
    }

    // What a launcher would see.
    describe(manifest, parsed.source, text.size(), outcome.output);

    // And, when asked, what a player on one game version would get.
    const bool built = !parsed.hasGame || describeForGame(manifest, parsed.gameVersion, outcome.output);

    // Then the signature (a local file's is read only now).
    if (!isUrl(parsed.source)) signedWell = describeSignature(parsed, sources, text, signatureLines);
    outcome.output += signatureLines;
    outcome.exitCode = built && signedWell ? kCheckValid : kCheckRejected;
    return outcome;
}

}  // namespace ember::launcher
