// The client's settings file (Emberlane\ember.ini), the client build for the
// game version, starting the game through the loader, and the game watch.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "launcher/formats/manifest.h"

namespace ember::launcher {

struct ClientSettings {
    std::string host;
    int64_t port = 0;  // wide, so that no caller's value is narrowed before the check
    std::string account;
    std::string name;
    std::string realmKey;
    std::string realmName;
    std::string session;
    int32_t characterSlot = 1;
    bool create = false;
    std::map<std::string, std::string> extra;  // the manifest's clientSettings
};

// Validates, merges the launcher's [client] keys into the existing file
// (every other line kept) and writes it atomically with CR LF. False with
// one of the texts below, "cannot write " + path, or linkRefusal when the
// client folder is a link; nothing is written then. Manifest settings that cannot be written as one line are left out
// and logged.
bool writeClientSettings(const std::string& gameFolder, const ClientSettings& settings, std::string& error);
// The pure merge: `existing` file text in, new file text out; empty `error`
// on success. Every value written must be free of CR, LF and NUL. The
// existing file may be UTF-8 (with or without its byte-order mark, kept)
// or UTF-16 with a mark (rewritten as UTF-8); lines end in LF, CR LF or a
// lone CR. `dropped` gets each manifest setting left out, with the reason.
std::string mergeClientSettings(const std::string& existing, const ClientSettings& settings, std::string& error,
                                std::vector<std::string>* dropped = nullptr);

inline constexpr const char kNoRealmHost[] = "no realm host";
inline constexpr const char kBadPort[] = "realm port is not a port";
inline constexpr const char kBadSlot[] = "character slot is not 1..3";
inline constexpr const char kNoAccount[] = "no account";
inline constexpr const char kSettingHasLineBreak[] = "a value holds a line break or NUL: ";  // + key
inline constexpr const char kSettingsUnreadable[] =
    "Emberlane\\ember.ini is in an encoding the launcher cannot read; save it as UTF-8 and try again";
inline constexpr const char kSettingDroppedLog[] = "ember.ini: manifest setting left out: ";  // + key (why)
inline constexpr const char kClientIniPath[] = "Emberlane\\ember.ini";

// One argument as the C runtime's command-line parser will read it back:
// in double quotes, with backslashes doubled where they precede a quote
// (so "D:\" arrives as D:\, not as D:" plus the rest of the line).
std::string quoteArgument(const std::string& text);
// "<loader path>" --game "<game folder>", each quoted as above.
std::string loaderCommandLine(const std::string& loaderPath, const std::string& gameFolder);
// Starts the loader detached, in its own folder. False with the error text;
// a loader path that is not a plain path below the game folder is refused
// (kLoaderOutsideGame + the path) before anything is looked at, and one
// through a link, or a loader that is one, is refused (linkRefusal).
bool launchGame(const std::string& gameFolder, const std::string& loaderPath, std::string& error);
inline constexpr const char kLoaderOutsideGame[] = "refused: the loader is not inside the game folder: ";

// The game watch after a launch (UI thread, asked every frame).
struct GameWatch {
    bool running = false;      // the state says the game runs
    bool seenRunning = false;  // its process has been seen since the launch
    uint64_t launchedAt = 0;   // tick of the launch
    uint64_t lastCheck = 0;    // tick of the last process check
    bool looking = false;      // a look at the process list is under way
};
inline constexpr uint64_t kGameCheckIntervalMs = 3000;
inline constexpr uint64_t kGameStartGraceMs = 90000;
void startGameWatch(GameWatch& watch, uint64_t now);
// Checks at most every 3 s; true once, when the game is found closed (it was
// seen running, or 90 s passed without it ever appearing).
bool gameWatchStep(GameWatch& watch, uint64_t now, const std::function<bool()>& isRunning);
// The same in two halves, for a look at the process list made elsewhere:
// whether a look is due (none under way, 3 s since the last), and what its
// answer means (true once, as above). The caller sets lastCheck and
// looking when it starts a look.
bool gameWatchDue(const GameWatch& watch, uint64_t now);
bool gameWatchAnswer(GameWatch& watch, uint64_t now, bool running);

}  // namespace ember::launcher
