// Self-update over Win32: the download, starting the new build in swap
// mode, and the swap mode itself.
#include "launcher/install/self_update.h"

#include <windows.h>


#include "base/log.h"
#include "base/paths.h"
#include "base/version.h"
#include "launcher/net/http.h"
#include "launcher/net/sha256.h"

namespace ember::launcher {

namespace {

// Starts `program` with `arguments` (already quoted as needed) in `folder`
// (empty: ours); the handles are closed at once.
bool startProgram(const std::string& program, const std::string& arguments, const std::string& folder) {
    std::wstring commandLine = toWide("\"" + program + "\"" + arguments);
    std::wstring directory = toWide(folder);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(toWide(program).c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : directory.c_str(), &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

}  // namespace

bool selfUpdateExecutable(const Manifest& manifest, Config& config, const std::string& exePath,
                          const Reporter& reporter, std::string& error) {
    error.clear();
    // Whether to try.
    std::string own;
    if (!manifest.launcherUrl.empty() && !sha256File(exePath, own)) own.clear();
    const SelfUpdateDecision decision = decideSelfUpdate(manifest, config, own, kLauncherVersion, error);
    if (decision != SelfUpdateDecision::Attempt) return false;

    // The build goes to X.new, never over X; http::download renames it
    // into place only when its digest matches.
    reporter.sayPhase(Phase::selfUpdate, kSelfUpdateTitle);
    const std::string newPath = exePath + ".new";
    http::Download job;
    job.url = manifest.launcherUrl;
    job.destPath = newPath;
    job.sha256Hex = manifest.launcherSha256;
    // A signed size bounds the download; without one the deadline and the
    // minimum rate do.
    job.size = manifest.launcherSize;
    job.progress = [&](uint64_t received, uint64_t total) {
        reporter.sayProgress(0, 1, received, total);
        return !reporter.isCancelled();
    };
    const std::string failure = http::download(job).error;
    if (!failure.empty()) {
        error = kSelfUpdateFailed + failure;
        return false;
    }

    // The new build finishes the job once this process has ended.
    const std::string arguments =
        std::string(" ") + kSwapArgument + " \"" + exePath + "\" " + std::to_string(GetCurrentProcessId());
    if (!startProgram(newPath, arguments, std::string())) {
        error = kCannotStartNewLauncher;
        return false;
    }
    // Only a build that was started has had its chance on this PC: if
    // it cannot take over, the next try is its second and last.
    bookSelfUpdateAttempt(manifest, config, unixSeconds());
    saveConfig(config);
    return true;
}

bool selfUpdate(const Manifest& manifest, Config& config, const Reporter& reporter, std::string& error) {
    return selfUpdateExecutable(manifest, config, executablePath(), reporter, error);
}

SwapOutcome runSwap(const std::string& target, uint32_t processId, const SwapTiming& timing) {
    // Let the old launcher end (it closes its window 1.5 s after starting
    // us); if it does not, the rename retries still give it time.
    if (processId != 0) {
        HANDLE old = OpenProcess(SYNCHRONIZE, FALSE, processId);
        if (old) {
            WaitForSingleObject(old, timing.waitForExitMs);
            CloseHandle(old);
        }
    }
    // This program (X.new) over X, or X as it was.
    const SwapOutcome outcome = replaceExecutable(target, executablePath(), timing);
    // The swap has no window: launcher.log is where a failure can be read.
    switch (outcome) {
        case SwapOutcome::Replaced: logLine("self-update: the new launcher is in place"); break;
        case SwapOutcome::Unchanged: logLine("self-update: " + target + " could not be replaced; it is kept"); break;
        case SwapOutcome::Restored: logLine("self-update: writing the new launcher failed; the old one is kept"); break;
    }
    // Whatever is at X now is started, so the player always gets a launcher back.
    startProgram(target, std::string(" ") + kUpdatedArgument, parentDir(target));
    return outcome;
}

bool resumeInterruptedSwap(const std::string& exePath, const SwapTiming& timing) {
    bool isNewBuild = false;
    const std::string target = interruptedSwapTarget(exePath, isNewBuild);
    if (target.empty()) return false;
    if (isNewBuild) {
        logLine("self-update: started as " + exePath + "; finishing the swap");
        runSwap(target, 0, timing);
        return true;
    }
    if (restoreFromOldBuild(target, exePath, timing) == SwapOutcome::Restored) {
        logLine("self-update: " + target + " was missing; the old launcher is back");
    }
    startProgram(target, std::string(), parentDir(target));
    return true;
}

}  // namespace ember::launcher
