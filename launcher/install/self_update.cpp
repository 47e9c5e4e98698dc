// Self-update: the offer rule, the checks before a download, and the file
// steps of the swap. The download, the process start and the swap mode are
// in self_update_win32.cpp.
#include "launcher/install/self_update.h"

#include <chrono>
#include <thread>

#include "base/paths.h"
#include "base/text.h"
#include "launcher/net/sha256.h"

namespace ember::launcher {

namespace {

void pause(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Tries `step` up to `attempts` times with a pause between tries.
template <typename Step>
bool retry(const SwapTiming& timing, Step step) {
    for (int attempt = 0; attempt < timing.attempts; ++attempt) {
        if (attempt > 0) pause(timing.retryDelayMs);
        if (step()) return true;
    }
    return false;
}

}  // namespace

bool launcherUpdateOffered(const Manifest& manifest, const Config& config, const std::string& ownDigest) {
    if (manifest.launcherUrl.empty() || ownDigest.empty()) return false;
    if (!isSha256Hex(manifest.launcherSha256) || sameDigest(ownDigest, manifest.launcherSha256)) return false;
    return !(sameDigest(config.selfUpdateTarget, manifest.launcherSha256) && config.selfUpdateAttempts >= 2);
}

std::string launcherOfferLabel(const Manifest& manifest, const std::string& runningVersion) {
    return manifest.launcherVersion == runningVersion ? std::string() : manifest.launcherVersion;
}

SelfUpdateDecision decideSelfUpdate(const Manifest& manifest, const Config& config, const std::string& ownDigest,
                                    const std::string& runningVersion, std::string& error) {
    error.clear();
    // Nothing published.
    if (manifest.launcherUrl.empty() || manifest.launcherVersion.empty()) return SelfUpdateDecision::Skip;
    // Only a build fetched over TLS and checked against a digest is run.
    if (!startsWith(manifest.launcherUrl, "https://") || !isSha256Hex(manifest.launcherSha256)) {
        error = kNoVerifiableDigest;
        return SelfUpdateDecision::Refused;
    }
    // Already this build.
    if (!ownDigest.empty() && sameDigest(ownDigest, manifest.launcherSha256)) return SelfUpdateDecision::Skip;
    // Two failed attempts at this build are enough.
    const bool sameTarget = sameDigest(config.selfUpdateTarget, manifest.launcherSha256);
    if (sameTarget && config.selfUpdateAttempts >= 2) {
        error = kBuildNotInstallable + runningVersion;
        return SelfUpdateDecision::Refused;
    }
    return SelfUpdateDecision::Attempt;
}

void bookSelfUpdateAttempt(const Manifest& manifest, Config& config, int64_t nowUnix) {
    // A new build starts its own count.
    if (!sameDigest(config.selfUpdateTarget, manifest.launcherSha256)) {
        config.selfUpdateTarget = asciiLower(manifest.launcherSha256);
        config.selfUpdateAttempts = 0;
    }
    ++config.selfUpdateAttempts;
    config.selfUpdateAt = nowUnix;
}

std::string ownDigest() {
    std::string digest;
    const std::string path = executablePath();
    if (path.empty() || !sha256File(path, digest)) return std::string();
    return digest;
}

SwapOutcome replaceExecutable(const std::string& target, const std::string& newBuild, const SwapTiming& timing) {
    // The new build is read before anything changes: if it cannot be read
    // (or is empty) there is nothing to put in X's place, so X stays.
    std::string bytes;
    if (!readWholeFile(newBuild, bytes) || bytes.empty()) return SwapOutcome::Unchanged;
    const std::string old = target + ".old";

    if (!fileExists(target)) {
        // Nothing to replace: the swap does not put a launcher where none
        // was. But X missing beside X.old is a swap that was cut short
        // after moving X aside: the new build takes its place, X.old stays.
        if (!fileExists(old)) return SwapOutcome::Unchanged;
        return retry(timing, [&] { return writeFileAtomic(target, bytes); }) ? SwapOutcome::Replaced
                                                                             : SwapOutcome::Unchanged;
    }

    // A whole copy of the old build as X.old; X itself stays in place.
    // The old process may still hold X for a moment after it ended (or
    // never ended), hence the retries.
    std::string current;
    if (!retry(timing, [&] { return readWholeFile(target, current) && !current.empty(); }) ||
        !retry(timing, [&] { return writeFileAtomic(old, current); })) {
        return SwapOutcome::Unchanged;
    }

    // The new build, written whole beside X and renamed over it in one
    // step: at every moment X is one complete launcher or the other.
    if (retry(timing, [&] { return writeFileAtomic(target, bytes); })) return SwapOutcome::Replaced;

    // The player keeps the old launcher, which never moved.
    removeFile(old);
    return SwapOutcome::Restored;
}

std::string interruptedSwapTarget(const std::string& exePath, bool& isNewBuild) {
    isNewBuild = false;
    const size_t cut = exePath.size() >= 4 ? exePath.size() - 4 : std::string::npos;
    if (cut == std::string::npos || cut == 0 || exePath[cut - 1] == '\\' || exePath[cut - 1] == '/') return {};
    const std::string suffix = exePath.substr(cut);
    isNewBuild = equalsIgnoreCase(suffix, ".new");
    if (!isNewBuild && !equalsIgnoreCase(suffix, ".old")) return {};
    return exePath.substr(0, cut);
}

SwapOutcome restoreFromOldBuild(const std::string& target, const std::string& oldBuild, const SwapTiming& timing) {
    if (fileExists(target)) return SwapOutcome::Unchanged;
    std::string bytes;
    if (!readWholeFile(oldBuild, bytes) || bytes.empty()) return SwapOutcome::Unchanged;
    return retry(timing, [&] { return writeFileAtomic(target, bytes); }) ? SwapOutcome::Restored
                                                                         : SwapOutcome::Unchanged;
}

void cleanUpAfterUpdate(const std::string& exePath) {
    if (exePath.empty()) return;
    removeFile(exePath + ".old");
    // The halves of the atomic writes of a swap that was cut short.
    removeFile(exePath + ".tmp");
    removeFile(exePath + ".old.tmp");
    // The swap process runs from X.new and ends just after starting us.
    const std::string leftover = exePath + ".new";
    for (int attempt = 0; attempt < 20 && fileExists(leftover) && !removeFile(leftover); ++attempt) pause(100);
}

}  // namespace ember::launcher
