// The closed sets of kinds the application state is made of: what a fault
// is, which refusal screen stands, a notice's tone and button, the open
// dialog, the tab. Inside the program each is its enum; its text (what the
// log, the UI trace, the stylesheet's modifier classes, element keys and
// tests read) is written once, in the spelling table of kinds.cpp.
//
//     Fault f = makeFault(FaultKind::noSpace, ...);
//     logLine(std::string("fault ") + std::string(spelling(f.kind)));   // "fault no-space"
//     BlockerKind k;
//     if (parseKind("disk-space", k)) ...                               // k == BlockerKind::diskSpace
#pragma once

#include <cstdint>
#include <string_view>

namespace ember::launcher::app {

// Why an install, a launch or a check did not go on ("" when it did).
enum class FaultKind : uint8_t {
    none,
    blockedMods,
    boot,  // the launcher itself could not start
    cancelled,
    characterGone,
    download,
    fileLocked,
    gameNotFound,
    gameRunning,
    internal,
    launcherOutdated,
    loginRequired,
    // The fresh manifest failed its signature check, and nothing is installed.
    manifestRefused,
    noNetwork,
    noSpace,
    notWritable,
    offline,
    unsupportedVersion,
};

// Which full-window refusal screen stands ("" when none does); `error` is
// the screen for a fault without one of its own.
enum class BlockerKind : uint8_t {
    none,
    blockedMods,
    diskSpace,
    error,
    fileLocked,
    gameNotFound,
    launcherOutdated,
    manifestRefused,
    noNetwork,
    permission,
    restarting,
    unsupportedVersion,
};

// The colour of a notice strip or a form message; `countdown` is the form
// message during a wait.
enum class Tone : uint8_t { info, success, warning, error, countdown };

// What a notice's button does.
enum class NoticeAction : uint8_t { none, play, preflight, showUnsupported, openLogFolder };

// What a form message's button does.
enum class FormAction : uint8_t { none, retry, restore, resend, openSite };

// The dialog on top of everything.
enum class ModalKind : uint8_t { none, create, remove, logout, ignoreVersion, reset, changeId, stopUpdate };

// What the Play button stands for (its label, whether it is pressable).
enum class PlayState : uint8_t {
    checking,
    install,
    update,
    updating,
    repairing,
    launching,
    running,
    unsupported,
    offline,
    ready,
    blocked,
};

// A download the player paused: `pausing` until the pipeline has stopped
// its transfers, then `paused` (nothing runs) until Resume, Play or Cancel.
enum class Pause : uint8_t { none, pausing, paused };

// The page the player chose; `none` before any choice.
enum class Tab : uint8_t { none, home, settings, login, reg };

std::string_view spelling(FaultKind kind);
std::string_view spelling(BlockerKind kind);
std::string_view spelling(Tone tone);
std::string_view spelling(NoticeAction action);
std::string_view spelling(FormAction action);
std::string_view spelling(ModalKind kind);
std::string_view spelling(Tab tab);
std::string_view spelling(PlayState state);
std::string_view spelling(Pause pause);

// The kind a text spells; false (and `out` untouched) for any other text.
bool parseKind(std::string_view text, FaultKind& out);
bool parseKind(std::string_view text, BlockerKind& out);
bool parseKind(std::string_view text, ModalKind& out);
bool parseKind(std::string_view text, Tab& out);

}  // namespace ember::launcher::app
