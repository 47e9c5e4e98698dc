// The portable steps of applying: pruning, the write test and the drive
// label. The download loop is in apply_win32.cpp.
#include "launcher/install/apply.h"

#include "launcher/base/paths.h"
#include "launcher/base/safe_path.h"
#include "launcher/base/text.h"

namespace ember::launcher {

void pruneRetired(const std::string& gameFolder, Config& config, const Plan& plan, const Reporter& reporter) {
    if (plan.remove.empty()) return;
    reporter.sayPhase("prune", "Removing " + std::to_string(plan.remove.size()) + " old file(s)");
    for (const std::string& path : plan.remove) {
        // A failed deletion is not fatal: the record stays, so the next plan
        // tries again. A path that leaves the game folder, passes through a
        // link or is the settings file is never deleted; its record goes.
        const std::string target = joinPath(gameFolder, path);
        if (!isSafeGamePath(path) || equalsIgnoreCase(path, kClientSettingsPath) ||
            passesThroughLink(gameFolder, path)) {
            config.installed.erase(path);
            continue;
        }
        if (removeFile(target) || !fileExists(target)) config.installed.erase(path);
    }
    saveConfig(config);
}

bool canWriteGameFolder(const std::string& gameFolder) {
    if (gameFolder.empty()) return false;
    const std::string path = joinPath(gameFolder, kWriteTestPath);
    createDirectories(parentDir(path));
    if (!writeFileAtomic(path, "ok")) return false;
    removeFile(path);
    return true;
}

std::string driveLabel(const std::string& gameFolder) {
    if (gameFolder.size() >= 2 && gameFolder[1] == ':') return gameFolder.substr(0, 2);
    return "the game drive";
}

std::string spaceFolder(const std::string& gameFolder) {
    if (gameFolder.size() >= 2 && gameFolder[1] == ':') return gameFolder.substr(0, 2) + "\\";
    return gameFolder;
}

}  // namespace ember::launcher
