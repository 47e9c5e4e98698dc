// The Play button's state, label and line under it, and the notices on
// the home page, all read from the state a frame is built from.
#include "launcher/app/pipeline.h"

#include "launcher/app/controller.h"
#include "base/dates.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/text.h"
#include "launcher/install/plan.h"

namespace ember::launcher::app {

PlayState playState() { return playState(state()); }

PlayState playState(const AppState& s) {
    if (s.gameWatch.running) return PlayState::running;
    if (s.busy) {
        if (s.repair) return PlayState::repairing;
        const Phase phase = s.operation ? s.operation->phase : Phase::manifest;
        if (phase == Phase::download || phase == Phase::verify || phase == Phase::prune || phase == Phase::selfUpdate)
            return PlayState::updating;
        return PlayState::launching;
    }
    if (s.fault.kind == FaultKind::unsupportedVersion) return PlayState::unsupported;
    // Every fault with a screen of its own blocks the button (a launcher too
    // old for the manifest, or a locked file, must not leave it "checking").
    if (s.fault.blocker.kind != BlockerKind::none) return PlayState::blocked;
    if (!s.gameFolder.empty() && !s.supported && !s.manifest.supportedVersions.empty() && !s.config.ignoreVersion) {
        return PlayState::unsupported;
    }
    if (s.offline) return PlayState::offline;
    if (!s.plan.known) return PlayState::checking;
    if (!s.plan.upToDate) return s.config.lastClientVersion.empty() ? PlayState::install : PlayState::update;
    return PlayState::ready;
}

std::string playLabel(PlayState st) {
    switch (st) {
        case PlayState::checking: return "Checking for updates…";
        case PlayState::install: return "INSTALL & PLAY";
        case PlayState::update: return "UPDATE & PLAY";
        case PlayState::updating: return "UPDATING…";
        case PlayState::repairing: return "REPAIRING…";
        case PlayState::launching: return "STARTING…";
        case PlayState::running: return "GAME RUNNING";
        case PlayState::unsupported: return "WHAT DO I DO?";
        case PlayState::offline: return "PLAY OFFLINE";
        case PlayState::ready:
        case PlayState::blocked: return "PLAY";
    }
    return "PLAY";
}

std::string playSubline(uint64_t t) { return playSubline(state(), t); }

std::string playSubline(const AppState& s, uint64_t t) {
    const PlayState st = playState(s);
    std::string line;
    if (st == PlayState::install || st == PlayState::update) {
        line = planSummary(s.plan.downloadBytes, s.plan.downloadCount, s.plan.removeCount);
    } else if (st == PlayState::running) {
        // In the screens' relative form, from the tick clock's seconds.
        line = s.gameWatch.launchedAt != 0
                   ? "Launched " + relativeDate(static_cast<int64_t>(s.gameWatch.launchedAt / 1000),
                                                static_cast<int64_t>(t / 1000))
                   : "Oblivion Remastered is running";
    } else if (st == PlayState::unsupported) {
        if (s.gameVersion.empty() || s.gameVersion == "unknown") {
            line = "Emberlane can't run on this Oblivion Remastered yet";
        } else {
            line = "Your Oblivion Remastered is " + s.gameVersion + " — Emberlane needs " +
                   (s.manifest.supportedVersions.empty() ? "a different version"
                                                         : joined(s.manifest.supportedVersions, " or "));
        }
    } else if (st == PlayState::offline) {
        line = "Using the client you already have" +
               (s.config.lastClientVersion.empty() ? "" : " (" + s.config.lastClientVersion + ")");
    } else if (st == PlayState::blocked) {
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
    } else if (st == PlayState::ready) {
        line = std::string(text::kUpToDate) +
               (s.manifest.clientVersion.empty() ? "" : " · client " + s.manifest.clientVersion);
    }
    if (needsCharacter(s)) line = "Create a character on this realm first";
    return line;
}

bool needsCharacter(const AppState& s) {
    const PlayState st = playState(s);
    const bool usable =
        st == PlayState::install || st == PlayState::update || st == PlayState::ready || st == PlayState::offline;
    return usable && s.signedIn && !s.playWithoutAccount && s.charactersStatus == CharactersStatus::ok &&
           s.characterCount == 0;
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
    if (s.offline && s.manifestRefused) {
        add("refused", Tone::warning,
            "The update from " + urlHost(effectiveManifestUrl(s.config)) +
                " failed the launcher's signature check, so it was not installed — using the client you already "
                "have" +
                (s.config.lastClientVersion.empty() ? "." : " (" + s.config.lastClientVersion + ")."),
            s.manifestError, "Retry", NoticeAction::preflight);
    } else if (s.offline) {
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
        if (!s.demo && pipelineSteps().openFolder) pipelineSteps().openFolder(configDir());
    }
}


}  // namespace ember::launcher::app
