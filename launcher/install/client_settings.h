// The client's settings file (Emberlane\ember.ini), the client build for the
// game version, starting the game through the loader, and the game watch.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "launcher/formats/manifest.h"

namespace ember::launcher {

struct ClientSettings {
    std::string host;
    int32_t port = 0;
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
// one of the texts below, or "cannot write " + path.
bool writeClientSettings(const std::string& gameFolder, const ClientSettings& settings, std::string& error);
// The pure merge: `existing` file text in, new file text out; empty `error`
// on success.
std::string mergeClientSettings(const std::string& existing, const ClientSettings& settings, std::string& error);

inline constexpr const char kNoRealmHost[] = "no realm host";
inline constexpr const char kBadPort[] = "realm port is not a port";
inline constexpr const char kBadSlot[] = "character slot is not 1..3";
inline constexpr const char kNoAccount[] = "no account";
inline constexpr const char kClientIniPath[] = "Emberlane\\ember.ini";

// One argument as the C runtime's command-line parser will read it back:
// in double quotes, with backslashes doubled where they precede a quote
// (so "D:\" arrives as D:\, not as D:" plus the rest of the line).
std::string quoteArgument(const std::string& text);
// "<loader path>" --game "<game folder>", each quoted as above.
std::string loaderCommandLine(const std::string& loaderPath, const std::string& gameFolder);
// Starts the loader detached, in its own folder. False with the error text.
bool launchGame(const std::string& gameFolder, const std::string& loaderPath, std::string& error);

// The game watch after a launch (UI thread, asked every frame).
struct GameWatch {
    bool running = false;      // the state says the game runs
    bool seenRunning = false;  // its process has been seen since the launch
    uint64_t launchedAt = 0;   // tick of the launch
    uint64_t lastCheck = 0;    // tick of the last process check
};
inline constexpr uint64_t kGameCheckIntervalMs = 3000;
inline constexpr uint64_t kGameStartGraceMs = 90000;
void startGameWatch(GameWatch& watch, uint64_t now);
// Checks at most every 3 s; true once, when the game is found closed (it was
// seen running, or 90 s passed without it ever appearing).
bool gameWatchStep(GameWatch& watch, uint64_t now, const std::function<bool()>& isRunning);

}  // namespace ember::launcher
