// The preflight: its worker half (the manifest, the game, the quiet plan),
// its UI-thread half, and start-up, which restores the last good manifest
// and runs the first one.
#include "launcher/app/pipeline.h"

#include <algorithm>
#include <chrono>
#include <memory>

#include "launcher/app/accounts.h"
#include "launcher/app/controller.h"
#include "launcher/app/pipeline_parts.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/text.h"
#include "launcher/install/apply.h"
#include "launcher/install/blocked_mods.h"
#include "launcher/install/self_update.h"
#include "launcher/trust/signature.h"

namespace ember::launcher::app {

Manifest launcherBlockOf(const Manifest& m) {
    Manifest block;
    block.launcherVersion = m.launcherVersion;
    block.launcherUrl = m.launcherUrl;
    block.launcherSha256 = m.launcherSha256;
    return block;
}

bool offerFor(const Manifest& build, const Config& config, const std::string& digest) {
    return !build.launcherUrl.empty() && pipelineSteps().offerLauncherUpdate &&
           pipelineSteps().offerLauncherUpdate(build, config, digest);
}

namespace {

int64_t unixNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

trust::AcceptedRecord acceptedAt(const Config& config, const std::string& url) {
    trust::AcceptedRecord record;
    auto found = config.acceptedManifests.find(url);
    if (found != config.acceptedManifests.end()) {
        record.sequence = found->second.sequence;
        record.digest = found->second.digest;
    }
    return record;
}

// The cached copy, checked again each time it is used: the pinned key, the
// signature, and that it is not older than what its address gave since. It
// may have expired: it only plays what is installed.
bool restoreCachedManifest(const Config& config, Manifest& manifest, std::string& error) {
    if (config.lastManifest.empty()) return false;
    trust::Verified verified;
    trust::Failure f =
        trust::verifyManifest(config.lastManifest, config.lastManifestSignature, trust::pinnedKeys(), verified);
    if (!f.failed()) f = trust::checkTerms(verified, acceptedAt(config, config.lastManifestUrl), 0, false);
    if (f.failed()) {
        error = "the saved manifest: " + f.message;
        return false;
    }
    return parseManifest(config.lastManifest, manifest, error);
}

}  // namespace

PreflightResult runPreflight(const std::string& url, Config config, const PipelineSteps& steps) {
    PreflightResult result;
    result.manifestUrl = url;

    // The manifest: fresh, else the last good copy (never for a schema this
    // launcher is too old for: an old copy would hide that it must update).
    http::Request request;
    request.url = url;
    request.accept = "application/json";
    request.timeoutMs = 15000;
    request.maxBytes = 0x800000;
    request.throttled = true;  // the manifest keeps to the speed limit too
    http::Response response = steps.fetch ? steps.fetch(request) : http::Response{};
    // A reply cut short may be the connection's doing; any other answer is
    // the service's.
    result.served = response.status != 0 && response.error != http::kReplyCutShort;
    // The signature beside it, checked before a byte of the manifest is read.
    trust::Verified verified;
    trust::Failure refusal;
    bool signatureFetched = true;
    if (response.error.empty() && response.status >= 200 && response.status <= 299) {
        http::Request sigRequest = request;
        sigRequest.url = trust::signatureUrlFor(url);
        sigRequest.accept = "*/*";
        sigRequest.maxBytes = trust::kMaxSignatureBytes;
        http::Response sig = steps.fetch ? steps.fetch(sigRequest) : http::Response{};
        if (sig.status == 0) {
            // No answer at all: the connection, not the manifest.
            signatureFetched = false;
            response.error = sig.error.empty() ? std::string("no reply for the signature") : sig.error;
            result.served = false;
        } else if (!sig.error.empty() || sig.status < 200 || sig.status > 299) {
            refusal.kind = trust::FailureKind::missing;
            refusal.message = "no signature could be fetched from " + sigRequest.url + " (" +
                              (sig.error.empty() ? http::kHttpStatus + std::to_string(sig.status) : sig.error) + ")";
        } else {
            refusal = trust::verifyManifest(response.body, sig.body, trust::pinnedKeys(), verified);
            if (!refusal.failed()) refusal = trust::checkTerms(verified, acceptedAt(config, url), unixNow(), true);
            if (!refusal.failed()) result.manifestSignature = sig.body;
        }
    }
    if (signatureFetched && refusal.failed()) {
        result.refused = true;
        result.error = text::kManifestRefused + refusal.message;
    } else if (response.error.empty() && response.status >= 200 && response.status <= 299) {
        std::string error;
        bool newer = false;
        if (parseManifest(response.body, result.manifest, error, &newer)) {
            result.ok = true;
            result.manifestText = response.body;
            result.accepted.sequence = verified.terms.sequence;
            result.accepted.digest = verified.digest;
            // Recorded on disk before anything acts on it.
            const trust::AcceptedRecord before = acceptedAt(config, url);
            if (before.sequence != verified.terms.sequence || before.digest != verified.digest ||
                config.lastManifestUrl != url) {
                if (!recordAcceptedManifest(url, result.accepted, response.body, result.manifestSignature)) {
                    logLine("manifest: could not record the accepted manifest in " + configPath());
                }
            }
        } else {
            result.error = error;
            result.schemaTooNew = newer;
            // Nothing asks for compression, but a server may send it anyway.
            auto encoding = response.headers.find("content-encoding");
            if (encoding != response.headers.end() && !encoding->second.empty() &&
                !equalsIgnoreCase(encoding->second, "identity")) {
                result.error = text::kManifestCompressed + encoding->second;
            } else if (response.body.size() >= 2 && response.body.compare(0, 2, "\x1f\x8b") == 0) {
                result.error = std::string(text::kManifestCompressed) + "gzip";
            }
        }
    } else if (!response.error.empty()) {
        result.error = response.error;
    } else {
        result.error = http::kHttpStatus + std::to_string(response.status);
    }
    if (!result.ok && !result.schemaTooNew && !config.lastManifest.empty()) {
        Manifest cached;
        std::string why;
        if (restoreCachedManifest(config, cached, why)) {
            result.manifest = cached;
            result.ok = true;
            result.fromCache = true;
        } else {
            logLine("manifest: " + why);
        }
    }

    // The game.
    if (steps.findCandidates) result.candidates = steps.findCandidates(config.gamePath);
    if (steps.searchedFolders) result.searched = steps.searchedFolders(config.gamePath);
    if (!result.candidates.empty() && steps.canWrite) result.writable = steps.canWrite(result.candidates[0].path);

    // The launcher's own build, only when there is one to compare with (a
    // refused newer schema keeps its launcher block for the update).
    if ((result.ok || result.schemaTooNew) && !result.manifest.launcherUrl.empty() && steps.launcherDigest) {
        result.ownDigest = steps.launcherDigest();
    }

    // A quiet plan from the records: no client file is read when they match.
    if (result.ok && !result.fromCache && !result.candidates.empty()) {
        Plan plan = makePlan(result.manifest, result.candidates[0].path, config, false, quietReporter());
        result.plan.known = true;
        result.plan.upToDate = plan.upToDate;
        result.plan.downloadBytes = plan.downloadBytes;
        result.plan.downloadCount = plan.download.size();
        result.plan.removeCount = plan.remove.size();
        result.plan.downloadList = plan.download;
    }
    return result;
}


void preflight() {
    AppState& s = state();
    if (s.demo) {
        s.preflightRunning = false;
        return;
    }
    if (s.busy) return;
    if (s.preflightRunning) {
        s.preflightWanted = true;
        return;
    }
    s.preflightRunning = true;
    std::string url = effectiveManifestUrl(s.config);
    Config config = s.config;
    PipelineSteps steps = pipelineSteps();
    runInstallTask([url, config, steps] {
        auto result = std::make_shared<PreflightResult>(runPreflight(url, config, steps));
        postToUi([result] { applyPreflightResult(*result); });
    });
}

void applyPreflightResult(const PreflightResult& r) {
    AppState& s = state();
    s.preflightRunning = false;
    s.preflightDone = true;
    if (s.blocker.kind != BlockerKind::restarting) {
        s.blocker = Blocker();
        // The refusal behind a cleared blocker is decided afresh below.
        if (s.fault.blocker.kind != BlockerKind::none) s.fault = Fault();
    }
    std::string site = urlHost(effectiveManifestUrl(s.config));
    bool configChanged = false;

    // The manifest.
    // What went wrong, as the details show it: a reply that came but was no
    // use is the service's doing, not the connection's.
    const std::string failure = r.served && !r.refused ? text::kManifestUnusable + r.error : r.error;
    s.manifestRefused = r.refused;
    if (!r.ok) {
        s.manifestFailed = true;
        s.manifestError = failure;
        // A launcher too old for the published manifest must not go on
        // playing from the copy restored at start-up.
        if (r.schemaTooNew) {
            s.manifestLoaded = false;
            s.offline = false;
        }
        logLine("manifest: " + r.error);
    } else {
        s.manifestLoaded = true;
        s.manifestFailed = false;
        s.manifest = r.manifest;
        s.offline = r.fromCache;
        s.manifestError = r.fromCache ? failure : "";
        if (!r.fromCache && (s.config.lastManifest != r.manifestText ||
                             s.config.lastManifestSignature != r.manifestSignature)) {
            s.config.lastManifest = r.manifestText;
            s.config.lastManifestSignature = r.manifestSignature;
            s.config.lastManifestUrl = r.manifestUrl;
            s.config.lastManifestSequence = r.accepted.sequence;
            configChanged = true;
        }
        if (!r.fromCache) {
            AcceptedManifest& record = s.config.acceptedManifests[r.manifestUrl];
            if (record.sequence < r.accepted.sequence || record.digest != r.accepted.digest) {
                record = r.accepted;
                configChanged = true;
            }
        }
        logLine(r.fromCache ? "manifest: offline, using the cached one (" + r.manifest.clientVersion + "): " + r.error
                            : "manifest: client " + r.manifest.clientVersion);
    }

    // The launcher update offer, also from a document refused as too new.
    s.launcherDigest = r.ownDigest;
    if (r.ok || r.schemaTooNew) {
        s.launcherBuild = launcherBlockOf(r.manifest);
    } else if (!s.manifestLoaded) {
        s.launcherBuild = Manifest();
    }
    s.launcherUpdateOffered = offerFor(s.launcherBuild, s.config, r.ownDigest);

    // The game.
    s.searched = r.searched;
    if (r.candidates.empty()) {
        s.gameFolder.clear();
        s.gameVersion.clear();
        s.supported = false;
        s.gameWritable = false;
    } else {
        const GameCandidate& game = r.candidates[0];
        s.gameFolder = game.path;
        s.gameVersion = game.version.empty() ? "unknown" : game.version;
        s.gameWritable = r.writable;
        s.supported = s.manifestLoaded && isSupportedGameVersion(s.manifest, s.gameVersion);
        if (!equalsIgnoreCase(game.path, s.config.gamePath)) {
            s.config.gamePath = game.path;
            configChanged = true;
        }
    }

    // The quiet plan.
    s.plan = r.plan;

    // The first fault that stops play.
    if (r.schemaTooNew) {
        showFault(makeFault(FaultKind::launcherOutdated, text::kOutdated, r.error));
    } else if (!r.ok && r.refused) {
        std::string body = text::kManifestRefusedBlocker;
        body.replace(body.find("%s"), 2, site);
        showFault(makeFault(FaultKind::manifestRefused, body, r.error));
    } else if (!r.ok) {
        showFault(makeFault(FaultKind::noNetwork,
                            "Can't reach " + site +
                                ", and there's nothing installed yet to play. Check your internet connection, then "
                                "choose Try again.",
                            s.manifestError));
    } else if (!r.candidates.empty() && !r.writable) {
        Fault f = makeFault(FaultKind::notWritable, text::kNotWritable, s.gameFolder);
        f.blocker.path = s.gameFolder;
        showFault(f);
    } else if (r.candidates.empty()) {
        Fault f = makeFault(FaultKind::gameNotFound, text::kGameNotFound);
        f.blocker.searched = r.searched;
        showFault(f);
    }

    // An unchanged check (the usual case) leaves config.json alone: writing
    // a client's worth of records for nothing is most of the check's time.
    if (configChanged) saveSettings();
    accountStartUp();
    if (s.preflightWanted) {
        s.preflightWanted = false;
        preflight();
    }
}

void startUp() {
    AppState& s = state();
    s.config = loadConfig();
    if (s.config.settingsWereReset) logLine(kConfigResetLog);
    http::setSpeedLimit(downloadLimitBytes(s.config.downloadLimitTenths));
    // The last good manifest stands in until the first check answers.
    if (!s.config.lastManifest.empty()) {
        Manifest cached;
        std::string why;
        if (!restoreCachedManifest(s.config, cached, why)) {
            logLine("manifest: " + why);
        } else {
            s.manifest = cached;
            s.manifestLoaded = true;
            s.offline = true;
            s.launcherBuild = launcherBlockOf(cached);
        }
    }
    applyAccountsManifest();
    logLine(std::string("launcher ") + kLauncherVersion + " started" +
            (trust::trustsTestKey() ? " (this build trusts the stand-in's test signing key)" : ""));
    preflight();
}

}  // namespace ember::launcher::app
