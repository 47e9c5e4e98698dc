// Preflight and the update pipeline: the worker halves, the UI-thread
// halves, the Play button and the notices.
#include "launcher/app/pipeline.h"

#include <algorithm>
#include <chrono>
#include <memory>

#include "launcher/app/accounts.h"
#include "launcher/app/controller.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/dates.h"
#include "base/text.h"
#include "launcher/install/apply.h"
#include "launcher/install/blocked_mods.h"
#include "launcher/install/client_settings.h"
#include "launcher/install/self_update.h"

namespace ember::launcher::app {

namespace {

PipelineSteps gSteps = defaultPipelineSteps();

// An install operation starts: busy, a fresh progress block, no cancel.
void beginOperation(const std::string& key, const std::string& title) {
    AppState& s = state();
    s.busy = true;
    cancelRequested = false;
    Operation op;
    op.key = key;
    op.title = title;
    op.startedAt = now();
    op.indeterminate = true;
    s.operation = op;
}

// The launcher block alone: what self-update needs from a manifest.
Manifest launcherBlockOf(const Manifest& m) {
    Manifest block;
    block.launcherVersion = m.launcherVersion;
    block.launcherUrl = m.launcherUrl;
    block.launcherSha256 = m.launcherSha256;
    return block;
}

bool offerFor(const Manifest& build, const Config& config, const std::string& digest) {
    return !build.launcherUrl.empty() && gSteps.offerLauncherUpdate &&
           gSteps.offerLauncherUpdate(build, config, digest);
}

// A task's self-update bookkeeping (the attempt it booked), and the offer
// that follows from it: a build that failed twice is no longer offered.
void takeSelfUpdateBookkeeping(const Config& from) {
    AppState& s = state();
    s.config.selfUpdateTarget = from.selfUpdateTarget;
    s.config.selfUpdateAttempts = from.selfUpdateAttempts;
    s.config.selfUpdateAt = from.selfUpdateAt;
    s.launcherUpdateOffered = offerFor(s.launcherBuild, s.config, s.launcherDigest);
}

// The fault for a client whose files could not be brought up to date.
Fault applyFault(const std::string& error, const std::string& gameFolder, uint64_t downloadBytes,
                 const PipelineSteps& steps, bool cancelled) {
    // A cancel between files says "cancelled"; one inside a download says
    // "<path>: cancelled". Both are the player's choice, not a failure.
    const std::string insideDownload = std::string(": ") + http::kCancelled;
    bool endsInCancel = error.size() >= insideDownload.size() &&
                        error.compare(error.size() - insideDownload.size(), insideDownload.size(), insideDownload) == 0;
    if (error == kApplyCancelled || (cancelled && endsInCancel)) return makeFault(FaultKind::cancelled, "cancelled");
    if (error.find("cannot replace") != std::string::npos) return makeFault(FaultKind::fileLocked, text::kFileLocked, error);
    if (error.find(kUnsafeTarget) != std::string::npos) return makeFault(FaultKind::download, text::kUnsafeFileRefused, error);
    if (error.find("disk write failed") != std::string::npos) {
        Fault f = makeFault(FaultKind::noSpace, text::kRanOutOfSpace, error);
        f.blocker.drive = driveLabel(gameFolder);
        f.blocker.path = spaceFolder(gameFolder);
        f.blocker.freeBytes = steps.freeSpace ? steps.freeSpace(gameFolder) : 0;
        f.blocker.neededBytes = f.blocker.freeBytes + downloadBytes;
        return f;
    }
    return makeFault(FaultKind::download, text::kDownloadFailed, error);
}

// The player id for playing without an account: kept in config.json, made
// from the clocks the first time.
int64_t localCharacterId(Config& config) {
    if (config.profileId == 0) {
        uint64_t unixMs = static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
                .count());
        config.profileId = makeProfileId(unixMs, tickCount());
    }
    return config.profileId;
}

// What moving the blocking mods aside came to: what moved is no longer in
// the way, even if a later one failed; once all moved, Play goes on.
void afterModsMoved(const std::vector<std::string>& files, const DisableOutcome& outcome) {
    AppState& s = state();
    s.movingMods = false;
    for (const std::string& file : files) {
        if (file == outcome.failedFile) break;
        auto drop = [&](std::vector<BlockedModFound>& list) {
            list.erase(std::remove_if(list.begin(), list.end(),
                                      [&](const BlockedModFound& m) { return m.path == file; }),
                       list.end());
        };
        drop(s.blockedMods);
        drop(s.blocker.mods);
    }
    if (!outcome.failedFile.empty()) {
        pushError(text::kCouldNotMoveMod, "");
        return;
    }
    s.blockedMods.clear();
    s.blocker = Blocker();
    s.fault = Fault();
    s.notices.clear();
    startPipeline(false);
}

}  // namespace

void setPipelineSteps(const PipelineSteps& steps) { gSteps = steps; }
const PipelineSteps& pipelineSteps() { return gSteps; }

void saveSettings() {
    AppState& s = state();
    if (s.demo) return;
    writeSettings(s.config, [] {
        logLine("settings: could not write " + configPath());
        // One notice says it while it is shown, however often it happens again.
        for (const Notice& n : state().notices) {
            if (n.title == text::kLauncherSettingsNotSaved) return;
        }
        pushError(text::kLauncherSettingsNotSaved, configPath());
    });
}

std::string effectiveManifestUrl(const Config& config) {
    std::string base = config.manifestUrl.empty() ? std::string(kDefaultManifestUrl) : config.manifestUrl;
    return manifestUrlForChannel(base, config.channel);
}

std::string urlHost(const std::string& url) {
    size_t start = url.find("://");
    if (start == std::string::npos) return url;
    start += 3;
    size_t end = url.find_first_of(":/?#", start);
    return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

BlockerKind blockerKindFor(FaultKind kind) {
    switch (kind) {
        case FaultKind::gameNotFound: return BlockerKind::gameNotFound;
        case FaultKind::notWritable: return BlockerKind::permission;
        case FaultKind::noSpace: return BlockerKind::diskSpace;
        case FaultKind::noNetwork: return BlockerKind::noNetwork;
        case FaultKind::fileLocked: return BlockerKind::fileLocked;
        case FaultKind::launcherOutdated: return BlockerKind::launcherOutdated;
        case FaultKind::blockedMods: return BlockerKind::blockedMods;
        case FaultKind::unsupportedVersion: return BlockerKind::unsupportedVersion;
        case FaultKind::boot: return BlockerKind::error;
        default: return BlockerKind::none;
    }
}

Fault makeFault(FaultKind kind, const std::string& message, const std::string& detail) {
    Fault f;
    f.kind = kind;
    f.message = message;
    f.detail = detail;
    f.blocker.kind = blockerKindFor(kind);
    f.blocker.body = message;
    f.blocker.detail = detail;
    return f;
}

// ---------------------------------------------------------------------------
// Preflight, worker half

PreflightResult runPreflight(const std::string& url, Config config, const PipelineSteps& steps) {
    PreflightResult result;

    // The manifest: fresh, else the last good copy (never for a schema this
    // launcher is too old for: an old copy would hide that it must update).
    http::Request request;
    request.url = url;
    request.accept = "application/json";
    request.timeoutMs = 15000;
    request.maxBytes = 0x800000;
    http::Response response = steps.fetch ? steps.fetch(request) : http::Response{};
    // A reply cut short may be the connection's doing; any other answer is
    // the service's.
    result.served = response.status != 0 && response.error != http::kReplyCutShort;
    if (response.error.empty() && response.status >= 200 && response.status <= 299) {
        std::string error;
        bool newer = false;
        if (parseManifest(response.body, result.manifest, error, &newer)) {
            result.ok = true;
            result.manifestText = response.body;
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
        std::string ignored;
        if (parseManifest(config.lastManifest, cached, ignored)) {
            result.manifest = cached;
            result.ok = true;
            result.fromCache = true;
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

// ---------------------------------------------------------------------------
// Pipeline, worker half

PipelineResult runPipeline(PipelineInput in, const PipelineSteps& steps, const Reporter& r) {
    PipelineResult result;
    Config& config = in.config;
    auto finish = [&](Fault fault) {
        result.fault = std::move(fault);
        result.config = config;
        return result;
    };

    // The launcher itself, unless offline or repairing.
    if (!in.offline && !in.repair && steps.selfUpdate) {
        std::string error;
        if (steps.selfUpdate(in.manifest, config, r, error)) {
            result.restarting = true;
            return finish(Fault());
        }
        if (!error.empty()) logLine(error);
    }

    // The game folder, its version, the write test, the game process.
    r.sayPhase("game", "Locating Oblivion Remastered");
    if (in.gameFolder.empty() || !isGameFolder(in.gameFolder)) {
        return finish(makeFault(FaultKind::gameNotFound, text::kGameNotFound));
    }
    if (!in.ignoreVersion && !isSupportedGameVersion(in.manifest, in.gameVersion)) {
        Fault f = makeFault(FaultKind::unsupportedVersion, "Your Oblivion Remastered is " + in.gameVersion +
                                                       ". Emberlane needs " +
                                                       joined(in.manifest.supportedVersions, ", ") + ".");
        f.blocker.version = in.gameVersion;
        f.blocker.helpUrl = in.manifest.helpUrl;
        f.blocker.supportedVersions = in.manifest.supportedVersions;
        return finish(f);
    }
    if (!(steps.canWrite && steps.canWrite(in.gameFolder))) {
        Fault f = makeFault(FaultKind::notWritable, text::kNotWritable, in.gameFolder);
        f.blocker.path = in.gameFolder;
        return finish(f);
    }
    if (steps.gameRunning && steps.gameRunning()) {
        return finish(makeFault(FaultKind::gameRunning, text::kGameRunningPipeline));
    }

    // The client files (offline plays what is installed).
    if (!in.offline) {
        Plan plan = makePlan(in.manifest, in.gameFolder, config, in.repair, r);
        if (r.isCancelled()) return finish(makeFault(FaultKind::cancelled, "cancelled"));
        uint64_t required = requiredBytes(plan.downloadBytes);
        uint64_t free = steps.freeSpace ? steps.freeSpace(in.gameFolder) : 0;
        if (plan.downloadBytes >= 1 && free < required) {
            Fault f = makeFault(FaultKind::noSpace, "Not enough space in " + in.gameFolder + " — about " +
                                                    formatBytes(required, ByteStyle::floorMiB) + " MB is needed and " +
                                                    formatBytes(free, ByteStyle::floorMiB) + " MB is free.");
            f.blocker.drive = driveLabel(in.gameFolder);
            f.blocker.path = spaceFolder(in.gameFolder);
            f.blocker.neededBytes = required;
            f.blocker.freeBytes = free;
            return finish(f);
        }
        std::string error;
        if (steps.apply) {
            steps.apply(in.manifest, in.gameFolder, config, plan, r, error);
        } else if (!plan.upToDate) {
            error = "no way to install client files in this build";
        }
        if (!error.empty()) {
            return finish(applyFault(error, in.gameFolder, plan.downloadBytes, steps, r.isCancelled()));
        }
        config.lastClientVersion = in.manifest.clientVersion;
    }

    // The client build for this game version, and its files.
    bool exact = false;
    ClientBuild build = clientBuildFor(in.manifest, in.gameVersion, exact);
    if (build.dll.empty() || build.loader.empty()) return finish(makeFault(FaultKind::internal, text::kNoClientForVersion));
    for (const std::string& path : {build.loader, build.dll}) {
        if (!fileExists(joinPath(in.gameFolder, path))) {
            return finish(makeFault(FaultKind::internal, text::kClientNotInstalled, "missing " + path));
        }
    }
    r.sayPhase("client", "Client " + build.version + " ready" + (exact ? "" : " (built for another game version)"));

    // Mods this server does not allow.
    if (steps.findBlockedMods) {
        bool refuse = false;
        result.blockedMods = steps.findBlockedMods(in.gameFolder, in.manifest, refuse);
        if (refuse && !result.blockedMods.empty()) {
            std::vector<std::string> names;
            for (const BlockedModFound& mod : result.blockedMods) names.push_back(mod.path);
            Fault f = makeFault(FaultKind::blockedMods, "This server does not allow " + joined(names, ", ") + ".");
            f.blocker.mods = result.blockedMods;
            return finish(f);
        }
    }

    // Verify & repair ends with the files checked.
    if (in.repair) {
        result.progressText = text::kRepairDone;
        return finish(Fault());
    }

    // Who plays, and where.
    r.sayPhase("account", "Preparing your character");
    ClientSettings settings;
    settings.host = !in.realm.host.empty()             ? in.realm.host
                    : !in.manifest.serverHost.empty() ? in.manifest.serverHost
                                                      : in.manifest.serverIp;
    settings.port = in.realm.port != 0 ? in.realm.port : in.manifest.serverPort;
    settings.realmKey = !in.realm.key.empty() ? in.realm.key : in.manifest.accountsRealmKey;
    settings.realmName = !in.realm.name.empty() ? in.realm.name : in.manifest.serverName;
    settings.extra = in.manifest.clientSettings;
    if (in.useAccount) {
        if (in.characterId.empty()) return finish(makeFault(FaultKind::internal, text::kCreateCharacterFirst));
        PlaySession session = steps.playSession ? steps.playSession(in.realm, in.characterId) : PlaySession{};
        switch (session.code) {
            case account::ErrorKind::ok:
                break;
            case account::ErrorKind::unauthorized:
                result.loginRequired = true;
                return finish(makeFault(FaultKind::loginRequired, text::kLoginToPlay));
            case account::ErrorKind::not_found:
                result.characterGone = true;
                return finish(makeFault(FaultKind::characterGone, text::kCharacterGone));
            case account::ErrorKind::transport:
                return finish(makeFault(FaultKind::offline, text::kCannotReachEmberlane));
            default:
                return finish(makeFault(FaultKind::internal, text::kNoSession));
        }
        settings.account = session.accountId;
        settings.name = session.name;
        settings.session = session.token;
        if (!session.host.empty() && session.port != 0) {
            settings.host = session.host;
            settings.port = session.port;
        }
        settings.characterSlot = 1;
        for (const CharacterEntry& c : in.characters) {
            if (c.id == in.characterId) settings.characterSlot = c.slot < 1 ? 1 : c.slot;
        }
    } else {
        settings.account = std::to_string(localCharacterId(config));
        settings.name = config.accountDisplayName.empty() ? "Adventurer" : config.accountDisplayName;
    }

    // ember.ini.
    r.sayPhase("settings", "Writing client settings");
    std::string error;
    if (!writeClientSettings(in.gameFolder, settings, error)) {
        return finish(makeFault(FaultKind::internal, text::kSettingsNotWritten, error));
    }

    // The game, through the loader.
    r.sayPhase("launch", "Starting Oblivion Remastered");
    logLine(build.loader + " -> " + settings.host + ":" + std::to_string(settings.port) + " as " + settings.name);
    if (!(steps.launch && steps.launch(in.gameFolder, build.loader, error))) {
        if (error.empty()) error = "no way to start programs in this build";
        return finish(makeFault(FaultKind::internal, text::kCouldNotStart, error));
    }
    result.launched = true;
    result.progressText = text::kStarting;
    return finish(Fault());
}

// ---------------------------------------------------------------------------
// UI-thread halves

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
    PipelineSteps steps = gSteps;
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
    const std::string failure = r.served ? text::kManifestUnusable + r.error : r.error;
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
        if (!r.fromCache && s.config.lastManifest != r.manifestText) {
            s.config.lastManifest = r.manifestText;
            configChanged = true;
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

void startPipeline(bool repair) {
    AppState& s = state();
    if (s.busy) {
        pushError(kAlreadyWorking, "");
        return;
    }
    if (!s.manifestLoaded) {
        pushError(kNotCheckedYet, "");
        preflight();
        return;
    }
    if (s.gameWatch.running) {
        pushError(text::kGameRunningPlay, "");
        return;
    }
    // The refusal shown before is decided afresh by this run (a cancelled
    // run must not leave the last one's blocker standing).
    if (s.blocker.kind != BlockerKind::restarting) {
        s.blocker = Blocker();
        s.fault = Fault();
    }
    beginOperation("manifest", repair ? "Checking your client files" : "Checking for updates");
    s.repair = repair;

    PipelineInput in;
    in.config = s.config;
    in.offline = s.offline;
    in.repair = repair;
    in.manifest = s.manifest;
    in.gameFolder = s.gameFolder;
    in.ignoreVersion = s.config.ignoreVersion;
    in.gameVersion = s.gameVersion;
    in.useAccount = s.signedIn && !s.playWithoutAccount;
    in.characterId = s.config.characterId;
    PipelineSteps steps = gSteps;
    addAccountToPipeline(in, steps);
    runInstallTask([in, steps]() mutable {
        auto result = std::make_shared<PipelineResult>(runPipeline(std::move(in), steps, reporter()));
        postToUi([result] { applyPipelineResult(*result); });
    });
}

void applyPipelineResult(const PipelineResult& r) {
    AppState& s = state();

    // The task's copy of the settings is authoritative for what it changed.
    s.config.installed = r.config.installed;
    s.config.lastClientVersion = r.config.lastClientVersion;
    takeSelfUpdateBookkeeping(r.config);
    s.config.profileId = r.config.profileId;
    saveSettings();
    s.busy = false;
    bool repair = s.repair;
    s.repair = false;

    if (r.restarting) {
        s.blocker = Blocker();
        s.blocker.kind = BlockerKind::restarting;
        s.operation.reset();
        s.closeAt = now() + 1500;
        return;
    }

    if (r.fault.kind != FaultKind::none) {
        s.operation.reset();
        if (r.fault.kind == FaultKind::cancelled) {
            logLine("cancelled");
        } else {
            showFault(r.fault);
        }
        s.blockedMods = r.blockedMods;
        if (r.loginRequired) {
            logout();
            Notice n;
            n.id = "signin";
            n.tone = Tone::info;
            n.title = text::kPleaseSignIn;
            s.notices.push_back(n);
        }
        if (r.characterGone) {
            s.config.characterId.clear();
            saveSettings();
            fetchCharactersNow();
        }
        return;
    }

    // Success.
    s.fault = Fault();
    s.blockedMods = r.blockedMods;
    s.plan = QuietPlan();
    s.plan.known = true;
    s.plan.upToDate = true;
    if (!s.operation) s.operation = Operation();
    s.operation->finished = true;
    s.operation->finishedAt = now();
    s.operation->title = repair ? text::kRepairDone : r.launched ? text::kStarting : text::kUpToDate;
    if (r.launched) {
        startGameWatch(s.gameWatch, now());
        logLine("launched");
    }
}

void applyLauncherUpdate() {
    AppState& s = state();
    if (!s.manifestLoaded && s.launcherBuild.launcherUrl.empty()) {
        pushError(kNotCheckedYet, "");
        return;
    }
    if (s.busy) {
        pushError(kAlreadyWorking, "");
        return;
    }
    beginOperation(kSelfUpdatePhase, kSelfUpdateTitle);

    Manifest manifest = s.manifestLoaded ? s.manifest : s.launcherBuild;
    Config config = s.config;
    PipelineSteps steps = gSteps;
    runInstallTask([manifest, config, steps]() mutable {
        std::string error;
        bool restarting = steps.selfUpdate && steps.selfUpdate(manifest, config, reporter(), error);
        auto result = std::make_shared<PipelineResult>();
        result->config = config;
        result->restarting = restarting;
        postToUi([result, error] {
            if (!result->restarting) {
                if (!error.empty()) logLine(error);
                pushError(error.empty() ? kLauncherAlreadyPublished : kLauncherUpdateNotInstalled, "");
                // The attempt counter changed even though the update did not happen.
                takeSelfUpdateBookkeeping(result->config);
                saveSettings();
                state().busy = false;
                state().operation.reset();
                return;
            }
            applyPipelineResult(*result);
        });
    });
}

void disableBlockedMods() {
    AppState& s = state();
    if (s.demo || s.movingMods) return;
    std::vector<std::string> files;
    for (const BlockedModFound& mod : s.blockedMods.empty() ? s.blocker.mods : s.blockedMods) files.push_back(mod.path);
    s.movingMods = true;
    // The renames are the install worker's; the lists change when it is done.
    runInstallTask([folder = s.gameFolder, files] {
        Reporter log;
        log.log = [](const std::string& line) { logLine(line); };
        const DisableOutcome outcome = ember::launcher::disableBlockedMods(folder, files, log);
        postToUi([files, outcome] { afterModsMoved(files, outcome); });
    });
}

void showFault(const Fault& fault) {
    AppState& s = state();
    s.fault = fault;
    s.blocker = fault.blocker;
    logLine("fault " + std::string(spelling(fault.kind)) + ": " + fault.message + (fault.detail.empty() ? "" : " (" + fault.detail + ")"));
}

void setIgnoreVersion(bool on) {
    AppState& s = state();
    s.config.ignoreVersion = on;
    saveSettings();
    logLine(on ? "the game version check is off" : "the game version check is on");
}

// ---------------------------------------------------------------------------
// The Play button

std::string playState() { return playState(state()); }

std::string playState(const AppState& s) {
    if (s.gameWatch.running) return "running";
    if (s.busy) {
        if (s.repair) return "repairing";
        std::string key = s.operation ? s.operation->key : "";
        if (key == "download" || key == "verify" || key == "prune" || key == "selfupdate") return "updating";
        return "launching";
    }
    if (s.fault.kind == FaultKind::unsupportedVersion) return "unsupported";
    // Every fault with a screen of its own blocks the button (a launcher too
    // old for the manifest, or a locked file, must not leave it "checking").
    if (s.fault.blocker.kind != BlockerKind::none) return "blocked";
    if (!s.gameFolder.empty() && !s.supported && !s.manifest.supportedVersions.empty() && !s.config.ignoreVersion) {
        return "unsupported";
    }
    if (s.offline) return "offline";
    if (!s.plan.known) return "checking";
    if (!s.plan.upToDate) return s.config.lastClientVersion.empty() ? "install" : "update";
    return "ready";
}

std::string playLabel(const std::string& st) {
    static const char* const labels[][2] = {
        {"checking", "Checking for updates…"}, {"install", "INSTALL & PLAY"}, {"update", "UPDATE & PLAY"},
        {"updating", "UPDATING…"},             {"repairing", "REPAIRING…"},  {"launching", "STARTING…"},
        {"running", "GAME RUNNING"},           {"unsupported", "WHAT DO I DO?"}, {"offline", "PLAY OFFLINE"},
        {"ready", "PLAY"},                     {"blocked", "PLAY"},
    };
    for (const auto& row : labels) {
        if (st == row[0]) return row[1];
    }
    return "PLAY";
}

std::string playSubline(uint64_t t) { return playSubline(state(), t); }

std::string playSubline(const AppState& s, uint64_t t) {
    std::string st = playState(s);
    std::string line;
    if (st == "install" || st == "update") {
        line = planSummary(s.plan.downloadBytes, s.plan.downloadCount, s.plan.removeCount);
    } else if (st == "running") {
        // In the screens' relative form, from the tick clock's seconds.
        line = s.gameWatch.launchedAt != 0
                   ? "Launched " + relativeDate(static_cast<int64_t>(s.gameWatch.launchedAt / 1000),
                                                static_cast<int64_t>(t / 1000))
                   : "Oblivion Remastered is running";
    } else if (st == "unsupported") {
        if (s.gameVersion.empty() || s.gameVersion == "unknown") {
            line = "Emberlane can't run on this Oblivion Remastered yet";
        } else {
            line = "Your Oblivion Remastered is " + s.gameVersion + " — Emberlane needs " +
                   (s.manifest.supportedVersions.empty() ? "a different version"
                                                         : joined(s.manifest.supportedVersions, " or "));
        }
    } else if (st == "offline") {
        line = "Using the client you already have" +
               (s.config.lastClientVersion.empty() ? "" : " (" + s.config.lastClientVersion + ")");
    } else if (st == "blocked") {
        switch (s.blocker.kind) {
            case BlockerKind::gameNotFound: line = "Oblivion Remastered has not been found on this PC"; break;
            case BlockerKind::permission:
                line = "Windows won't let the launcher write to your Oblivion Remastered folder";
                break;
            case BlockerKind::diskSpace: line = "Not enough free space to install"; break;
            case BlockerKind::noNetwork: line = "Can't reach " + urlHost(effectiveManifestUrl(s.config)); break;
            case BlockerKind::fileLocked: line = "A file the update needs is open in another program"; break;
            case BlockerKind::launcherOutdated: line = "This launcher is out of date"; break;
            default: line = "Emberlane can't start yet — see above"; break;
        }
    } else if (st == "ready") {
        line = std::string(text::kUpToDate) +
               (s.manifest.clientVersion.empty() ? "" : " · client " + s.manifest.clientVersion);
    }
    bool usable = st == "install" || st == "update" || st == "ready" || st == "offline";
    if (usable && s.signedIn && !s.playWithoutAccount && s.charactersLoaded && s.characterCount == 0) {
        line = "Create a character on this realm first";
    }
    return line;
}

std::vector<Notice> currentNotices() { return currentNotices(state()); }

std::vector<Notice> currentNotices(const AppState& s) {
    std::vector<Notice> out;
    auto add = [&](const char* id, Tone tone, const std::string& title, const std::string& detail = "",
                   const char* label = "", NoticeAction action = NoticeAction::none) {
        Notice n;
        n.id = id;
        n.tone = tone;
        n.title = title;
        n.detail = detail;
        n.actionLabel = label;
        n.action = action;
        out.push_back(n);
    };
    if (s.offline) {
        add("offline", Tone::warning,
            "Can't reach " + urlHost(effectiveManifestUrl(s.config)) + " — using the client you already have" +
                (s.config.lastClientVersion.empty() ? "" : " (" + s.config.lastClientVersion + ")."),
            s.manifestError, "Retry", NoticeAction::preflight);
    }
    if (s.fault.kind != FaultKind::none && s.fault.kind != FaultKind::cancelled && s.blocker.kind == BlockerKind::none &&
        s.fault.blocker.kind == BlockerKind::none) {
        add("fault", Tone::error, s.fault.message, s.fault.detail);
    }
    if (!s.gameFolder.empty() && !s.supported && !s.manifest.supportedVersions.empty() && !s.config.ignoreVersion) {
        std::string version = s.gameVersion.empty() || s.gameVersion == "unknown" ? "an unknown version" : s.gameVersion;
        add("badversion", Tone::error,
            "Your Oblivion Remastered is " + version + ". Emberlane needs " +
                joined(s.manifest.supportedVersions, " or ") + ", so it can't start yet.",
            "", "What do I do?", NoticeAction::showUnsupported);
    }
    if (s.config.settingsWereReset) {
        add("configreset", Tone::warning,
            "The launcher's settings file couldn't be read, so it started fresh. If you had a player id, it has "
            "changed — the old file is kept next to it as config.json.corrupt.",
            "", "Open the folder", NoticeAction::openLogFolder);
    }
    if (s.config.ignoreVersion) add("force", Tone::warning, "The game version check is switched off in Settings → Advanced.");
    out.insert(out.end(), s.notices.begin(), s.notices.end());
    return out;
}

void noticeAction(NoticeAction action) {
    AppState& s = state();
    if (action == NoticeAction::play) {
        if (!s.demo) startPipeline(false);
    } else if (action == NoticeAction::preflight) {
        preflight();
    } else if (action == NoticeAction::showUnsupported) {
        Fault f = makeFault(FaultKind::unsupportedVersion, "Your Oblivion Remastered is " + s.gameVersion + ".");
        f.blocker.version = s.gameVersion;
        f.blocker.helpUrl = s.manifest.helpUrl;
        f.blocker.supportedVersions = s.manifest.supportedVersions;
        s.blocker = f.blocker;
    } else if (action == NoticeAction::openLogFolder) {
        if (!s.demo && gSteps.openFolder) gSteps.openFolder(configDir());
    }
}

void gameWatchFrame(uint64_t t) {
    GameWatch& watch = state().gameWatch;
    if (!gameWatchDue(watch, t)) return;
    // The look at the process list takes milliseconds (tens under Wine):
    // the install worker makes it, and its answer, posted back, owes the
    // frame that shows the game's end.
    watch.lastCheck = t;
    watch.looking = true;
    std::function<bool()> probe = gSteps.gameRunning;
    runInstallTask([probe] {
        const bool running = probe && probe();
        postToUi([running] {
            if (gameWatchAnswer(state().gameWatch, now(), running)) logLine("the game has closed");
        });
    });
}

int64_t msUntilNextTick(uint64_t t) {
    const AppState& s = state();
    int64_t wait = -1;
    auto at = [&](uint64_t when) {
        const int64_t in = when > t ? static_cast<int64_t>(when - t) : 0;
        if (wait < 0 || in < wait) wait = in;
    };
    if (s.closeAt != 0) at(s.closeAt);
    if (s.accountWaitUntil != 0) at(s.accountWaitUntil);
    if (s.operation && s.operation->finished && !s.busy) at(s.operation->finishedAt + kOperationLingerMs);
    if (s.gameWatch.running && !s.gameWatch.looking) at(s.gameWatch.lastCheck + kGameCheckIntervalMs);
    if (!s.demo && s.preflightDone && s.accountsActive && !s.realmsInFlight) at(s.realmsFetchedAt + kRealmRefreshMs);
    return wait;
}

bool tick(uint64_t t) {
    const bool housekeeping = frameHousekeeping(t);
    gameWatchFrame(t);
    const bool refreshing = accountFrame(t);
    return housekeeping || refreshing;
}

// ---------------------------------------------------------------------------
// Settings actions

void setChannel(const std::string& channel) {
    AppState& s = state();
    std::string wanted = channel == "dev" ? "dev" : "";
    if (wanted == s.config.channel) return;
    s.config.channel = wanted;
    saveSettings();
    logLine("channel: " + (wanted.empty() ? std::string("stable") : wanted));
    preflight();
}

std::string manifestUrlProblem(std::string_view input) {
    const std::string_view url = trim(input);
    return url.empty() || isWebAddress(url) ? std::string() : std::string(text::kNotAWebAddress);
}

void setManifestUrl(const std::string& input) {
    AppState& s = state();
    const std::string problem = manifestUrlProblem(input);
    if (!problem.empty()) {
        pushError(problem, "");
        return;
    }
    const std::string url(trim(input));
    s.config.manifestUrl = url;
    saveSettings();
    preflight();
}

void resetLauncher() {
    AppState& s = state();
    // The old file goes first, on the worker that writes the new one.
    if (!s.demo) runInstallTask([] { removeFile(configPath()); });
    s.config = Config();
    s.fault = Fault();
    s.blocker = Blocker();
    s.notices.clear();
    saveSettings();
    logLine("the launcher was reset");
    preflight();
}

void restartAsAdministrator() {
    if (gSteps.restartElevated && gSteps.restartElevated()) {
        logLine("restarting as administrator");
        quit();
        return;
    }
    pushError(text::kRestartRefused, "");
}

void startUp() {
    AppState& s = state();
    s.config = loadConfig();
    if (s.config.settingsWereReset) logLine(kConfigResetLog);
    // The last good manifest stands in until the first check answers.
    if (!s.config.lastManifest.empty()) {
        Manifest cached;
        std::string ignored;
        if (parseManifest(s.config.lastManifest, cached, ignored)) {
            s.manifest = cached;
            s.manifestLoaded = true;
            s.offline = true;
            s.launcherBuild = launcherBlockOf(cached);
        }
    }
    applyAccountsManifest();
    logLine(std::string("launcher ") + kLauncherVersion + " started");
    preflight();
}

}  // namespace ember::launcher::app
