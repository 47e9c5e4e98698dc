// The launcher updating itself.
//
// The manifest names the newest launcher build (version, https URL, SHA-256).
// When the running executable X differs from it, the build is downloaded to
// "X.new" (never over X), digest checked, and started as
// `"X.new" --swap "X" <pid>`; that process waits for this one to end, copies
// X whole to "X.old", writes itself whole beside X and renames that over X in
// one step, and starts X with --updated, which removes the leftovers. There
// is never a moment without a runnable X; a swap cut short is finished (or
// undone) by the next start of X.new or X.old. A build gets at most two attempts (counted in
// config.json when the new build was started), so one that keeps failing on a PC is not tried forever.
//
// Every failure leaves a working launcher in place: see replaceExecutable.
#pragma once

#include <cstdint>
#include <string>

#include "launcher/formats/config.h"
#include "launcher/formats/manifest.h"
#include "launcher/install/reporter.h"

namespace ember::launcher {

// ---- Deciding ---------------------------------------------------------------

// Whether the home screen offers "Update & restart": a digest of our own
// build is known, the published digest is well formed and differs, and that
// build has not already failed twice.
bool launcherUpdateOffered(const Manifest& manifest, const Config& config, const std::string& ownDigest);
// The version shown with the offer: the published one, or empty when it is
// the running launcher's own version text.
std::string launcherOfferLabel(const Manifest& manifest, const std::string& runningVersion);

enum class SelfUpdateDecision {
    Skip,     // nothing published, or already current: no message
    Refused,  // `error` says why; the launcher carries on with this build
    Attempt,  // download it
};
// The checks before a download. Nothing is counted here: a download that
// fails (the network, a cancel) says nothing about whether the build runs
// on this PC.
SelfUpdateDecision decideSelfUpdate(const Manifest& manifest, const Config& config, const std::string& ownDigest,
                                    const std::string& runningVersion, std::string& error);
// Counts one attempt at the published build, once it has been started: a
// new target resets the count, the time is set to `nowUnix`.
void bookSelfUpdateAttempt(const Manifest& manifest, Config& config, int64_t nowUnix);

// ---- Doing (Windows) ----------------------------------------------------------

// The whole update for the executable at `exePath`: decide, download to
// exePath + ".new" with the published digest (progress as
// progress(0, 1, received, total), stops when cancelled), start the swap,
// and count the attempt in config.json.
// True when the new launcher was started and this process must close; false
// with `error` empty (nothing to do) or holding the reason.
bool selfUpdateExecutable(const Manifest& manifest, Config& config, const std::string& exePath,
                          const Reporter& reporter, std::string& error);
// The same for the running executable.
bool selfUpdate(const Manifest& manifest, Config& config, const Reporter& reporter, std::string& error);

// SHA-256 of the running executable; empty when it cannot be read.
std::string ownDigest();

// ---- The swap and the clean-up ----------------------------------------------------

struct SwapTiming {
    uint32_t waitForExitMs = 30000;  // for the old process
    int attempts = 50;               // for each rename and copy
    uint32_t retryDelayMs = 100;
};

enum class SwapOutcome {
    Replaced,   // X holds the new build, the old one is X.old
    Unchanged,  // the new build could not be read, or X could not be copied: X untouched
    Restored,   // X holds the old build again: the new one could not be written
                // (X never changed), or X was put back from X.old
};

// Steps of the swap that touch files: read the new build whole first (an
// unreadable one changes nothing), copy X whole to X.old (retried), write
// the new build beside X and rename it over X (retried; on failure X is the
// old build as it was and the copy goes). With X missing but X.old there
// (a swap cut short after moving X aside) the new build is put at X.
SwapOutcome replaceExecutable(const std::string& target, const std::string& newBuild, const SwapTiming& timing);

// For a launcher started from "X.new" or "X.old" (either letter case): X,
// with `isNewBuild` saying which; empty for any other path.
std::string interruptedSwapTarget(const std::string& exePath, bool& isNewBuild);
// Puts the old build back at X when X is missing (Restored); Unchanged when
// X is there or cannot be written.
SwapOutcome restoreFromOldBuild(const std::string& target, const std::string& oldBuild, const SwapTiming& timing);

// The swap mode (Windows): waits for `processId` (0: no wait) to end, then
// replaceExecutable(target, running executable), then starts
// `"target" --updated` in the target's folder. Returns what the files did;
// the caller ends the process with 0 whatever happened.
SwapOutcome runSwap(const std::string& target, uint32_t processId, const SwapTiming& timing = SwapTiming());

// A start from X.new or X.old outside the swap mode (Windows): X.new finishes
// the swap (runSwap without a process to wait for); X.old puts itself back
// at X when X is missing, then starts X. False, doing nothing, for any
// other executable; true means this process must end.
bool resumeInterruptedSwap(const std::string& exePath, const SwapTiming& timing = SwapTiming());

// After --updated: deletes X.old and X.new beside `exePath`, and the X.tmp
// and X.old.tmp a swap cut short between its writes leaves. The swap
// process that started us may still be ending, and Windows does not delete
// a running program's file, so X.new is retried for a short while; other
// failures are ignored.
void cleanUpAfterUpdate(const std::string& exePath);

// Texts (the variable part is appended where the comment says).
inline constexpr const char kSelfUpdateTitle[] = "Updating the launcher";
inline constexpr const char kNoVerifiableDigest[] = "launcher update has no verifiable digest; ignored";
inline constexpr const char kBuildNotInstallable[] =
    "this launcher build could not be installed on this PC; continuing on ";  // + running version
inline constexpr const char kSelfUpdateFailed[] = "launcher self-update failed: ";  // + download error
inline constexpr const char kCannotStartNewLauncher[] = "could not start the new launcher";
// The UI action behind "Update & restart".
inline constexpr const char kLauncherUpdateNotInstalled[] = "The launcher update could not be installed.";
inline constexpr const char kLauncherAlreadyPublished[] = "This launcher is already the published one.";
inline constexpr const char kSwapArgument[] = "--swap";
inline constexpr const char kUpdatedArgument[] = "--updated";

}  // namespace ember::launcher
