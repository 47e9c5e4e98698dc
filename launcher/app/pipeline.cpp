// The update pipeline: its worker half (the game check, the client files,
// the loader, the play session, the launch), its UI-thread half, the
// launcher's own update, moving blocked mods aside, and the faults.
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
#include "launcher/install/client_settings.h"
#include "launcher/install/self_update.h"

namespace ember::launcher::app {

namespace {

PipelineSteps gSteps = defaultPipelineSteps();

// An install operation starts: busy, a fresh progress block, no cancel.
void beginOperation(Phase phase, const std::string& title) {
    AppState& s = state();
    s.busy = true;
    cancelRequested = false;
    Operation op;
    op.phase = phase;
    op.title = title;
    op.startedAt = now();
    op.indeterminate = true;
    s.operation = op;
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
Fault applyFault(const ApplyError& error, const std::string& gameFolder, uint64_t downloadBytes,
                 const PipelineSteps& steps, bool cancelled) {
    switch (error.kind) {
        // A cancel between files, or one that stopped a download part way,
        // is the player's choice, not a failure.
        case ApplyFault::cancelled: return makeFault(FaultKind::cancelled, "cancelled");
        case ApplyFault::interrupted:
            if (cancelled) return makeFault(FaultKind::cancelled, "cancelled");
            break;
        case ApplyFault::fileLocked: return makeFault(FaultKind::fileLocked, text::kFileLocked, error.text);
        case ApplyFault::unsafeTarget: return makeFault(FaultKind::download, text::kUnsafeFileRefused, error.text);
        case ApplyFault::diskFull: {
            Fault f = makeFault(FaultKind::noSpace, text::kRanOutOfSpace, error.text);
            f.blocker.drive = driveLabel(gameFolder);
            f.blocker.path = spaceFolder(gameFolder);
            f.blocker.freeBytes = steps.freeSpace ? steps.freeSpace(gameFolder) : 0;
            f.blocker.neededBytes = f.blocker.freeBytes + downloadBytes;
            return f;
        }
        case ApplyFault::none:
        case ApplyFault::failed: break;
    }
    return makeFault(FaultKind::download, text::kDownloadFailed, error.text);
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
        case FaultKind::manifestRefused: return BlockerKind::manifestRefused;
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

namespace {

// One run of the pipeline: what it was given, what it found so far, and
// whether it is done early (a launcher restart, a repair's end).
struct Run {
    PipelineInput& in;
    const PipelineSteps& steps;
    const Reporter& r;
    PipelineResult& result;
    ClientBuild build;
    ClientSettings settings;
    bool done = false;
};

// Each step returns its fault; an empty one lets the next step go on.
using Step = Fault (*)(Run&);

// The launcher itself, unless offline or repairing.
Fault updateLauncher(Run& run) {
    if (run.in.offline || run.in.repair || !run.steps.selfUpdate) return Fault();
    std::string error;
    if (run.steps.selfUpdate(run.in.manifest, run.in.config, run.r, error)) {
        run.result.restarting = true;
        run.done = true;
        return Fault();
    }
    if (!error.empty()) logLine(error);
    return Fault();
}

// The game folder, its version, the write test, the game process.
Fault checkGame(Run& run) {
    const PipelineInput& in = run.in;
    run.r.sayPhase(Phase::game, "Locating Oblivion Remastered");
    if (in.gameFolder.empty() || !isGameFolder(in.gameFolder)) {
        return makeFault(FaultKind::gameNotFound, text::kGameNotFound);
    }
    if (!in.ignoreVersion && !isSupportedGameVersion(in.manifest, in.gameVersion)) {
        Fault f = makeFault(FaultKind::unsupportedVersion, "Your Oblivion Remastered is " + in.gameVersion +
                                                               ". Emberlane needs " +
                                                               joined(in.manifest.supportedVersions, ", ") + ".");
        f.blocker.version = in.gameVersion;
        f.blocker.helpUrl = in.manifest.helpUrl;
        f.blocker.supportedVersions = in.manifest.supportedVersions;
        return f;
    }
    if (!(run.steps.canWrite && run.steps.canWrite(in.gameFolder))) {
        Fault f = makeFault(FaultKind::notWritable, text::kNotWritable, in.gameFolder);
        f.blocker.path = in.gameFolder;
        return f;
    }
    if (run.steps.gameRunning && run.steps.gameRunning()) {
        return makeFault(FaultKind::gameRunning, text::kGameRunningPipeline);
    }
    return Fault();
}

// The client files (offline plays what is installed).
Fault installClientFiles(Run& run) {
    const PipelineInput& in = run.in;
    if (in.offline) return Fault();
    Config& config = run.in.config;
    Plan plan = makePlan(in.manifest, in.gameFolder, config, in.repair, run.r);
    if (run.r.isCancelled()) return makeFault(FaultKind::cancelled, "cancelled");
    uint64_t required = requiredBytes(plan.downloadBytes);
    uint64_t free = run.steps.freeSpace ? run.steps.freeSpace(in.gameFolder) : 0;
    if (plan.downloadBytes >= 1 && free < required) {
        Fault f = makeFault(FaultKind::noSpace, "Not enough space in " + in.gameFolder + " — about " +
                                                    formatBytes(required, ByteStyle::floorMiB) + " MB is needed and " +
                                                    formatBytes(free, ByteStyle::floorMiB) + " MB is free.");
        f.blocker.drive = driveLabel(in.gameFolder);
        f.blocker.path = spaceFolder(in.gameFolder);
        f.blocker.neededBytes = required;
        f.blocker.freeBytes = free;
        return f;
    }
    ApplyError error;
    if (run.steps.apply) {
        run.steps.apply(in.manifest, in.gameFolder, config, plan, run.r, error);
    } else if (!plan.upToDate) {
        error = {ApplyFault::failed, "no way to install client files in this build"};
    }
    if (error.kind != ApplyFault::none) {
        return applyFault(error, in.gameFolder, plan.downloadBytes, run.steps, run.r.isCancelled());
    }
    config.lastClientVersion = in.manifest.clientVersion;
    return Fault();
}

// The client build for this game version, and its files.
Fault findClient(Run& run) {
    const PipelineInput& in = run.in;
    bool exact = false;
    run.build = clientBuildFor(in.manifest, in.gameVersion, exact);
    if (run.build.dll.empty() || run.build.loader.empty()) return makeFault(FaultKind::internal, text::kNoClientForVersion);
    for (const std::string& path : {run.build.loader, run.build.dll}) {
        if (!fileExists(joinPath(in.gameFolder, path))) {
            return makeFault(FaultKind::internal, text::kClientNotInstalled, "missing " + path);
        }
    }
    run.r.sayPhase(Phase::client,
                   "Client " + run.build.version + " ready" + (exact ? "" : " (built for another game version)"));
    return Fault();
}

// Mods this server does not allow.
Fault refuseBlockedMods(Run& run) {
    if (!run.steps.findBlockedMods) return Fault();
    bool refuse = false;
    run.result.blockedMods = run.steps.findBlockedMods(run.in.gameFolder, run.in.manifest, refuse);
    if (!refuse || run.result.blockedMods.empty()) return Fault();
    std::vector<std::string> names;
    for (const BlockedModFound& mod : run.result.blockedMods) names.push_back(mod.path);
    Fault f = makeFault(FaultKind::blockedMods, "This server does not allow " + joined(names, ", ") + ".");
    f.blocker.mods = run.result.blockedMods;
    return f;
}

// Verify & repair ends with the files checked.
Fault endRepair(Run& run) {
    if (!run.in.repair) return Fault();
    run.result.progressText = text::kRepairDone;
    run.done = true;
    return Fault();
}

// Who plays, and where: the realm's server, and the signed-in account's
// play session or the local character.
Fault choosePlayer(Run& run) {
    const PipelineInput& in = run.in;
    ClientSettings& settings = run.settings;
    run.r.sayPhase(Phase::account, "Preparing your character");
    settings.host = !in.realm.host.empty()             ? in.realm.host
                    : !in.manifest.serverHost.empty() ? in.manifest.serverHost
                                                      : in.manifest.serverIp;
    settings.port = in.realm.port != 0 ? in.realm.port : in.manifest.serverPort;
    settings.realmKey = !in.realm.key.empty() ? in.realm.key : in.manifest.accountsRealmKey;
    settings.realmName = !in.realm.name.empty() ? in.realm.name : in.manifest.serverName;
    settings.extra = in.manifest.clientSettings;
    if (!in.useAccount) {
        settings.account = std::to_string(localCharacterId(run.in.config));
        settings.name = in.config.accountDisplayName.empty() ? "Adventurer" : in.config.accountDisplayName;
        return Fault();
    }
    if (in.characterId.empty()) return makeFault(FaultKind::internal, text::kCreateCharacterFirst);
    PlaySession session = run.steps.playSession ? run.steps.playSession(in.realm, in.characterId) : PlaySession{};
    switch (session.code) {
        case account::ErrorKind::ok:
            break;
        case account::ErrorKind::unauthorized:
            run.result.loginRequired = true;
            return makeFault(FaultKind::loginRequired, text::kLoginToPlay);
        case account::ErrorKind::not_found:
            run.result.characterGone = true;
            return makeFault(FaultKind::characterGone, text::kCharacterGone);
        case account::ErrorKind::transport:
            return makeFault(FaultKind::offline, text::kCannotReachEmberlane);
        default:
            return makeFault(FaultKind::internal, text::kNoSession);
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
    return Fault();
}

// ember.ini, then the game through the loader.
Fault launchGame(Run& run) {
    const PipelineInput& in = run.in;
    const ClientSettings& settings = run.settings;
    run.r.sayPhase(Phase::settings, "Writing client settings");
    std::string error;
    if (!writeClientSettings(in.gameFolder, settings, error)) {
        return makeFault(FaultKind::internal, text::kSettingsNotWritten, error);
    }
    run.r.sayPhase(Phase::launch, "Starting Oblivion Remastered");
    logLine(run.build.loader + " -> " + settings.host + ":" + std::to_string(settings.port) + " as " + settings.name);
    if (!(run.steps.launch && run.steps.launch(in.gameFolder, run.build.loader, error))) {
        if (error.empty()) error = "no way to start programs in this build";
        return makeFault(FaultKind::internal, text::kCouldNotStart, error);
    }
    run.result.launched = true;
    run.result.progressText = text::kStarting;
    return Fault();
}

}  // namespace

PipelineResult runPipeline(PipelineInput in, const PipelineSteps& steps, const Reporter& r) {
    PipelineResult result;
    Run run{in, steps, r, result, {}, {}};
    constexpr Step kSteps[] = {updateLauncher,    checkGame, installClientFiles, findClient,
                               refuseBlockedMods, endRepair, choosePlayer,       launchGame};
    for (Step step : kSteps) {
        Fault fault = step(run);
        if (fault.kind != FaultKind::none) {
            result.fault = std::move(fault);
            break;
        }
        if (run.done) break;
    }
    result.config = in.config;
    return result;
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
    // A paused download goes on from where its block stood.
    s.resumeBytes = 0;
    s.resumeSteps = 0;
    if (s.pause == Pause::paused && s.operation) {
        s.resumeBytes = s.operation->bytesTotal;
        s.resumeSteps = s.operation->steps;
        logLine("resuming");
    }
    s.pause = Pause::none;
    // The refusal shown before is decided afresh by this run (a cancelled
    // run must not leave the last one's blocker standing).
    if (s.blocker.kind != BlockerKind::restarting) {
        s.blocker = Blocker();
        s.fault = Fault();
    }
    beginOperation(Phase::manifest, repair ? "Checking your client files" : "Checking for updates");
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

void resumeOperation() {
    AppState& s = state();
    if (s.pause != Pause::paused) return;
    startPipeline(s.pausedRepair);
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

    // A pause stopped the transfers: the block stays, with its bar where
    // it stood, until Resume, Play or Cancel. (A run that ended otherwise
    // before the pause took hold ends as it ended.)
    const bool pausing = s.pause == Pause::pausing;
    s.pause = Pause::none;
    if (pausing && r.fault.kind == FaultKind::cancelled && s.operation) {
        s.pause = Pause::paused;
        s.pausedRepair = repair;
        s.operation->bytesPerSecond = 0;
        s.operation->etaSeconds = 0;
        s.blockedMods = r.blockedMods;
        logLine("paused");
        return;
    }

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
    beginOperation(Phase::selfUpdate, kSelfUpdateTitle);

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

}  // namespace ember::launcher::app
