#include "launcher/app/kinds.h"

namespace ember::launcher::app {

namespace {

template <class Kind>
struct Spelled {
    Kind kind;
    std::string_view text;
};

template <class Kind, size_t N>
std::string_view textOf(const Spelled<Kind> (&table)[N], Kind kind) {
    for (const Spelled<Kind>& row : table) {
        if (row.kind == kind) return row.text;
    }
    return "?";
}

template <class Kind, size_t N>
bool kindOf(const Spelled<Kind> (&table)[N], std::string_view text, Kind& out) {
    for (const Spelled<Kind>& row : table) {
        if (row.text == text) {
            out = row.kind;
            return true;
        }
    }
    return false;
}

constexpr Spelled<FaultKind> kFaultKinds[] = {
    {FaultKind::none, ""},
    {FaultKind::blockedMods, "blocked-mods"},
    {FaultKind::boot, "boot"},
    {FaultKind::cancelled, "cancelled"},
    {FaultKind::characterGone, "character-gone"},
    {FaultKind::download, "download"},
    {FaultKind::fileLocked, "file-locked"},
    {FaultKind::gameNotFound, "game-not-found"},
    {FaultKind::gameRunning, "game-running"},
    {FaultKind::internal, "internal"},
    {FaultKind::launcherOutdated, "launcher-outdated"},
    {FaultKind::loginRequired, "login-required"},
    {FaultKind::manifestRefused, "manifest-refused"},
    {FaultKind::noNetwork, "no-network"},
    {FaultKind::noSpace, "no-space"},
    {FaultKind::notWritable, "not-writable"},
    {FaultKind::offline, "offline"},
    {FaultKind::unsupportedVersion, "unsupported-version"},
};

constexpr Spelled<BlockerKind> kBlockerKinds[] = {
    {BlockerKind::none, ""},
    {BlockerKind::blockedMods, "blocked-mods"},
    {BlockerKind::diskSpace, "disk-space"},
    {BlockerKind::error, "error"},
    {BlockerKind::fileLocked, "file-locked"},
    {BlockerKind::gameNotFound, "game-not-found"},
    {BlockerKind::launcherOutdated, "launcher-outdated"},
    {BlockerKind::manifestRefused, "manifest-refused"},
    {BlockerKind::noNetwork, "no-network"},
    {BlockerKind::permission, "permission"},
    {BlockerKind::restarting, "restarting"},
    {BlockerKind::unsupportedVersion, "unsupported-version"},
};

constexpr Spelled<Tone> kTones[] = {
    {Tone::info, "info"},   {Tone::success, "success"},     {Tone::warning, "warning"},
    {Tone::error, "error"}, {Tone::countdown, "countdown"},
};

constexpr Spelled<NoticeAction> kNoticeActions[] = {
    {NoticeAction::none, ""},
    {NoticeAction::play, "Play"},
    {NoticeAction::preflight, "Preflight"},
    {NoticeAction::showUnsupported, "ShowUnsupported"},
    {NoticeAction::openLogFolder, "OpenLogFolder"},
};

constexpr Spelled<FormAction> kFormActions[] = {
    {FormAction::none, ""},         {FormAction::retry, "Retry"},      {FormAction::restore, "Restore"},
    {FormAction::resend, "Resend"}, {FormAction::openSite, "OpenSite"},
};

constexpr Spelled<ModalKind> kModalKinds[] = {
    {ModalKind::none, ""},
    {ModalKind::create, "create"},
    {ModalKind::remove, "delete"},
    {ModalKind::logout, "logout"},
    {ModalKind::ignoreVersion, "ignore-version"},
    {ModalKind::reset, "reset"},
    {ModalKind::changeId, "change-id"},
    {ModalKind::stopUpdate, "stop-update"},
};

constexpr Spelled<Tab> kTabs[] = {
    {Tab::none, ""}, {Tab::home, "home"}, {Tab::settings, "settings"}, {Tab::login, "login"}, {Tab::reg, "register"},
};

constexpr Spelled<PlayState> kPlayStates[] = {
    {PlayState::checking, "checking"},
    {PlayState::install, "install"},
    {PlayState::update, "update"},
    {PlayState::updating, "updating"},
    {PlayState::repairing, "repairing"},
    {PlayState::launching, "launching"},
    {PlayState::running, "running"},
    {PlayState::unsupported, "unsupported"},
    {PlayState::offline, "offline"},
    {PlayState::ready, "ready"},
    {PlayState::blocked, "blocked"},
};

constexpr Spelled<Pause> kPauses[] = {
    {Pause::none, "none"},
    {Pause::pausing, "pausing"},
    {Pause::paused, "paused"},
};

}  // namespace

std::string_view spelling(FaultKind kind) { return textOf(kFaultKinds, kind); }
std::string_view spelling(BlockerKind kind) { return textOf(kBlockerKinds, kind); }
std::string_view spelling(Tone tone) { return textOf(kTones, tone); }
std::string_view spelling(NoticeAction action) { return textOf(kNoticeActions, action); }
std::string_view spelling(FormAction action) { return textOf(kFormActions, action); }
std::string_view spelling(ModalKind kind) { return textOf(kModalKinds, kind); }
std::string_view spelling(Tab tab) { return textOf(kTabs, tab); }
std::string_view spelling(PlayState state) { return textOf(kPlayStates, state); }
std::string_view spelling(Pause pause) { return textOf(kPauses, pause); }

bool parseKind(std::string_view text, FaultKind& out) { return kindOf(kFaultKinds, text, out); }
bool parseKind(std::string_view text, BlockerKind& out) { return kindOf(kBlockerKinds, text, out); }
bool parseKind(std::string_view text, ModalKind& out) { return kindOf(kModalKinds, text, out); }
bool parseKind(std::string_view text, Tab& out) { return kindOf(kTabs, text, out); }

}  // namespace ember::launcher::app
