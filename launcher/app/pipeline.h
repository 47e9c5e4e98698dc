// What the Play button can do, decided before it is pressed (preflight),
// and carrying it out (the update pipeline).
//
// Both run on the install worker with copies of what they need and post one
// result back; the UI-thread halves (apply*) merge it into AppState. Every
// refusal is a Fault; its kind picks the blocker screen by a fixed table.
// The platform and the parts built elsewhere (network, game process, apply,
// launch, self-update, blocked mods, play sessions) are reached through the
// PipelineSteps seam, so the decisions test natively.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/account/records.h"
#include "launcher/app/state.h"
#include "launcher/formats/config.h"
#include "launcher/formats/manifest.h"
#include "launcher/install/apply.h"
#include "launcher/install/game.h"
#include "launcher/install/plan.h"
#include "launcher/install/reporter.h"
#include "launcher/net/http.h"

namespace ember::launcher::app {

// The realm chosen for play (filled by the account actions; empty fields
// fall back to the manifest's server).
struct RealmChoice {
    std::string key;
    std::string name;
    std::string host;
    int32_t port = 0;
};

struct CharacterEntry {
    std::string id;
    int32_t slot = 0;
};

// The account service's answer to a play-session request: ok, transport
// (unreachable), unauthorized (sign-in needed), not_found (the character is
// gone); any other kind is a refusal, as is a session no step asked for.
struct PlaySession {
    account::ErrorKind code = account::ErrorKind::protocol;
    std::string accountId;
    std::string name;
    std::string token;
    std::string host;  // optional server override
    int32_t port = 0;
};

// The calls the preflight and the pipeline make outside this module.
// defaultPipelineSteps() fills each with the real one; where a build has
// no real one (the POSIX build has no self-update) the member is empty or
// says why it cannot, as the comments say.
struct PipelineSteps {
    std::function<http::Response(const http::Request&)> fetch;
    std::function<std::vector<GameCandidate>(const std::string& gamePath)> findCandidates;
    std::function<std::vector<std::string>(const std::string& gamePath)> searchedFolders;
    std::function<bool(const std::string& gameFolder)> canWrite;
    std::function<bool()> gameRunning;
    std::function<uint64_t(const std::string& folder)> freeSpace;
    std::function<int(const Manifest&, const std::string& gameFolder, Config&, const Plan&, const Reporter&,
                      ApplyError& error)>
        apply;
    std::function<bool(const std::string& gameFolder, const std::string& loader, std::string& error)> launch;

    // Self-update: true when a new launcher was started and this one must
    // close; a message in `error` is logged and the pipeline goes on.
    // Empty in the POSIX build.
    std::function<bool(const Manifest&, Config&, const Reporter&, std::string& error)> selfUpdate;
    // The running launcher's digest; empty: no offer is made.
    std::function<std::string()> launcherDigest;
    // Whether to offer the published launcher build.
    std::function<bool(const Manifest&, const Config&, const std::string& ownDigest)> offerLauncherUpdate;
    // The blocking mods present in the game folder; `refuse` says whether
    // any stops the game.
    std::function<std::vector<BlockedModFound>(const std::string& gameFolder, const Manifest&, bool& refuse)>
        findBlockedMods;
    // A play session for the chosen character; default: the service refuses.
    std::function<PlaySession(const RealmChoice&, const std::string& characterId)> playSession;
    // Starts this launcher elevated ("runas"); false when Windows refused.
    std::function<bool()> restartElevated;
    // Opens a folder in the system's file browser (or a web address in the
    // browser: the shell's "open" takes both).
    std::function<void(const std::string& folder)> openFolder;
    // The system folder picker for the game folder, starting at `current`;
    // `done` gets the checked folder and an error text (both empty on cancel).
    std::function<void(const std::string& current,
                       const std::function<void(const std::string& folder, const std::string& error)>& done)>
        pickFolder;
};
PipelineSteps defaultPipelineSteps();
// The steps the controller's tasks use (UI thread; tasks take a copy).
void setPipelineSteps(const PipelineSteps& steps);
const PipelineSteps& pipelineSteps();

struct PreflightResult {
    bool ok = false;
    bool fromCache = false;
    bool schemaTooNew = false;
    Manifest manifest;
    std::string manifestText;
    std::string error;
    bool served = false;  // the service answered (the connection is not at fault)
    // The fresh manifest failed its signature check (error says why); a
    // cached copy may still be in use.
    bool refused = false;
    // The signature of a fresh manifest, and what its acceptance recorded.
    std::string manifestSignature;
    std::string manifestUrl;
    AcceptedManifest accepted;
    std::vector<GameCandidate> candidates;
    std::vector<std::string> searched;
    bool writable = false;
    std::string ownDigest;
    // The quiet plan.
    QuietPlan plan;
};

struct PipelineInput {
    Config config;
    bool offline = false;
    bool repair = false;
    Manifest manifest;
    std::string gameFolder;
    bool ignoreVersion = false;
    std::string gameVersion;
    RealmChoice realm;
    bool useAccount = false;
    std::string characterId;
    std::vector<CharacterEntry> characters;
};

struct PipelineResult {
    Config config;
    Fault fault;
    bool restarting = false;
    bool launched = false;
    bool loginRequired = false;
    bool characterGone = false;
    std::vector<BlockedModFound> blockedMods;
    std::string progressText;
};

// The default manifest address, and the one in effect for a config.
inline constexpr const char kDefaultManifestUrl[] = "https://emberlane.example/client/manifest.json";
std::string effectiveManifestUrl(const Config& config);
// "host" of "https://host:port/path"; the text itself when it has no scheme.
std::string urlHost(const std::string& url);

// Fault kind -> blocker kind (empty: shown as a notice).
BlockerKind blockerKindFor(FaultKind kind);
Fault makeFault(FaultKind kind, const std::string& message, const std::string& detail = "");

// The worker halves.
PreflightResult runPreflight(const std::string& url, Config config, const PipelineSteps& steps);
PipelineResult runPipeline(PipelineInput input, const PipelineSteps& steps, const Reporter& reporter);

// The UI-thread halves.
void preflight();
void applyPreflightResult(const PreflightResult& result);
void startPipeline(bool repair);
// Resume on a paused download: the pipeline again, each file going on from
// its kept bytes (Play does the same).
void resumeOperation();
void applyPipelineResult(const PipelineResult& result);
void showFault(const Fault& fault);
// "Update & restart": the launcher's self-update as an operation of its own.
void applyLauncherUpdate();
// "Disable it and play": moves the blocking mods aside (stopping at the
// first that cannot be moved) and, when all moved, plays again.
void disableBlockedMods();
void setIgnoreVersion(bool on);

// The Play button: its state, label and the line under it, for the given
// state (the screens pass the one they build from) or the controller's.
PlayState playState(const AppState& state);
PlayState playState();
std::string playLabel(PlayState state);
std::string playSubline(const AppState& state, uint64_t now);
std::string playSubline(uint64_t now);
// Play could go ahead but the signed-in player has no character on the
// chosen realm (the line under the button asks for one, as a warning).
bool needsCharacter(const AppState& state);
// The notices derived from the state this frame, then the pushed ones.
std::vector<Notice> currentNotices(const AppState& state);
std::vector<Notice> currentNotices();
// Runs a notice button's action.
void noticeAction(NoticeAction action);
// The game watch, every frame after a launch: every 3 s it has the install
// worker look at the process list; the answer, posted back (which owes a
// frame), ends the watch when the game has closed.
void gameWatchFrame(uint64_t now);
// The frame loop's controller tick: housekeeping, the game watch and the
// realm list's refresh. True when it changed what the screens show, so the
// loop draws a frame at once instead of sleeping to its next deadline (the
// game watch's answer arrives as a posted closure, which owes its own).
bool tick(uint64_t now);
// Milliseconds until the tick has something to do (a close, the end of a
// wait, a progress block to remove, the game watch's next look, the next
// realm refresh); -1: nothing.
int64_t msUntilNextTick(uint64_t now);

// Hands AppState's settings to the install worker to write to config.json
// (writeSettings), except in demo mode; a failed write becomes a notice
// (once while it is shown) and a log line (each time).
void saveSettings();

// Settings actions (each saves config.json unless in demo mode).
void setChannel(const std::string& channel);
// What is wrong with a manifest address the player typed ("" when nothing
// is: a web address, or blank for the channel's default).
std::string manifestUrlProblem(std::string_view input);
void setManifestUrl(const std::string& text);
// What is wrong with a download speed limit the player typed ("" when
// nothing is: blank for no limit, or 0.1 to 1000 MB/s with at most one
// decimal); `tenths` gets the limit in tenths of a MB/s (0: off).
std::string speedLimitProblem(std::string_view input, uint32_t& tenths);
// Sets the limit (refused the same way); running transfers follow at once.
void setSpeedLimit(const std::string& text);
// The limit as the field shows it: "2", "2.5"; "" when off.
std::string formatSpeedLimit(uint32_t tenths);
void resetLauncher();
void restartAsAdministrator();

// Start-up after init: config.json, the cached manifest, the first preflight.
void startUp();

// The texts the player sees.
namespace text {
inline constexpr const char kGameNotFound[] = "The launcher couldn't find Oblivion Remastered on this PC.";
inline constexpr const char kOutdated[] = "This launcher is out of date. Update it to keep playing.";
inline constexpr const char kNotWritable[] =
    "Windows is blocking the launcher from changing files in your Oblivion Remastered folder.";
inline constexpr const char kGameRunningPipeline[] =
    "Oblivion Remastered is already running. Close it, then press Play again.";
inline constexpr const char kGameRunningPlay[] =
    "Oblivion Remastered is already running. Close it first, then press Play again.";
inline constexpr const char kFileLocked[] =
    "A file the update needs is open in another program. Close Oblivion Remastered, and let your antivirus finish "
    "scanning, then press Play again.";
inline constexpr const char kRanOutOfSpace[] =
    "Your drive ran out of space part-way through the update. Free some space and press Play again.";
inline constexpr const char kDownloadFailed[] =
    "The client files could not be updated. Check your connection and press Play again.";
inline constexpr const char kUnsafeFileRefused[] =
    "The client files could not be updated: this realm's update names a file outside your game folder, and the "
    "launcher will not write it.";
// Details that name what went wrong when it was not the connection.
inline constexpr const char kManifestUnusable[] =
    "the connection works, but the service sent no manifest this launcher can use: ";  // + the reason
inline constexpr const char kManifestCompressed[] =
    "manifest: the reply is compressed, which this launcher does not read: ";  // + the encoding
// A manifest whose signature did not pass (+ the reason).
inline constexpr const char kManifestRefused[] = "manifest refused: ";
inline constexpr const char kManifestRefusedBlocker[] =
    "The update published at %s did not pass the launcher's signature check, so nothing was installed. This is not "
    "your connection: the file on the server is not the one the Emberlane team signed. Choose Try again in a while; "
    "if it keeps happening, tell the Emberlane team.";
inline constexpr const char kNoClientForVersion[] = "This realm published no client for your game version.";
inline constexpr const char kClientNotInstalled[] = "The client is not installed. Use Verify & repair in Settings.";
inline constexpr const char kLoginToPlay[] = "Log in to play.";
inline constexpr const char kCharacterGone[] =
    "The character you chose is not on this realm any more. The choice has been cleared: press Play again, or pick "
    "a character in the list.";
inline constexpr const char kCannotReachEmberlane[] = "Can't reach Emberlane. Check your connection and try again.";
inline constexpr const char kNoSession[] = "The account service would not start a session.";
inline constexpr const char kCreateCharacterFirst[] = "Create a character on this realm first.";
inline constexpr const char kSettingsNotWritten[] = "The client's settings could not be written.";
inline constexpr const char kLauncherSettingsNotSaved[] =
    "The launcher could not save your settings. They hold until you close it.";  // detail: the file
inline constexpr const char kCouldNotStart[] = "Oblivion Remastered could not be started.";
inline constexpr const char kRepairDone[] = "Your client files are complete and correct";
inline constexpr const char kUpToDate[] = "Up to date";
inline constexpr const char kStarting[] = "Oblivion Remastered is starting";
inline constexpr const char kSpeedLimitNotANumber[] = "Enter the limit in MB/s as a number, such as 2 or 2.5.";
inline constexpr const char kSpeedLimitTooLow[] = "The lowest limit is 0.1 MB/s. Leave the field blank for no limit.";
inline constexpr const char kSpeedLimitTooHigh[] = "The highest limit is 1000 MB/s.";
inline constexpr const char kNotAWebAddress[] = "That is not a web address (it starts with https://).";
inline constexpr const char kRestartRefused[] =
    "Windows didn't allow the restart. Choose Yes on the Windows prompt, or move Oblivion Remastered out of Program "
    "Files.";
inline constexpr const char kPleaseSignIn[] = "Please sign in again.";
inline constexpr const char kCouldNotMoveMod[] =
    "Could not move that file aside. Close Oblivion Remastered and any mod manager, then try again.";
}  // namespace text

}  // namespace ember::launcher::app
