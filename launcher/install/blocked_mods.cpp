// The blocked-mod scan and moving mods aside.
#include "launcher/install/blocked_mods.h"

#include "launcher/base/paths.h"
#include "launcher/base/safe_path.h"
#include "launcher/base/text.h"
#include "launcher/net/sha256.h"

namespace ember::launcher {

std::vector<FoundMod> findBlockedMods(const std::string& gameFolder, const std::vector<BlockedMod>& entries) {
    std::vector<FoundMod> found;
    for (const BlockedMod& entry : entries) {
        // 1. Nothing to look for, or a path that could leave the game folder
        //    (it is neither hashed nor reported).
        if (entry.file.empty() || !isSafeGamePath(entry.file)) continue;
        // 2. Only a file counts, not a folder of that name.
        const std::string path = joinPath(gameFolder, entry.file);
        if (!fileExists(path)) continue;
        // 3. With a digest only that exact content is the mod.
        if (!entry.sha256.empty()) {
            std::string digest;
            if (!sha256File(path, digest) || !sameDigest(digest, entry.sha256)) continue;
        }
        // 4.
        found.push_back(FoundMod{entry.file, entry});
    }
    return found;
}

std::vector<FoundMod> blockingMods(const std::vector<FoundMod>& found) {
    std::vector<FoundMod> blocking;
    for (const FoundMod& mod : found) {
        if (mod.entry.severity == kBlockingSeverity) blocking.push_back(mod);
    }
    return blocking;
}

std::string blockedModsMessage(const std::vector<FoundMod>& blocking) {
    std::string names;
    for (const FoundMod& mod : blocking) {
        if (!names.empty()) names += ", ";
        names += mod.file;
    }
    return kBlockedModsMessage + names + ".";
}

bool disableMod(const std::string& gameFolder, const std::string& file) {
    if (!isSafeGamePath(file)) return false;
    const std::string path = joinPath(gameFolder, file);
    if (!fileExists(path)) return false;
    return renameReplace(path, path + kDisabledSuffix);
}

DisableOutcome disableBlockedMods(const std::string& gameFolder, const std::vector<std::string>& files,
                                  const Reporter& reporter) {
    DisableOutcome outcome;
    for (const std::string& file : files) {
        // A failure stops here: the files after it stay where they are and
        // the next scan finds them again.
        if (!disableMod(gameFolder, file)) {
            outcome.failedFile = file;
            return outcome;
        }
        reporter.sayLog("disabled " + file);
        ++outcome.disabled;
    }
    return outcome;
}

}  // namespace ember::launcher
