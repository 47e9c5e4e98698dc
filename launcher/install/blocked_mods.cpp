// The blocked-mod scan and moving mods aside.
#include "launcher/install/blocked_mods.h"

#include "base/paths.h"
#include "base/safe_path.h"
#include "base/text.h"
#include "launcher/net/sha256.h"

namespace ember::launcher {

namespace {

// Two spellings of one file on Windows: letter case and the separator do
// not matter there.
bool sameSpelling(std::string a, std::string b) {
    for (std::string* name : {&a, &b}) {
        for (char& c : *name) c = c == '\\' ? '/' : c;
    }
    return fileNameFold(a) == fileNameFold(b);
}

}  // namespace

std::vector<FoundMod> findBlockedMods(const std::string& gameFolder, const std::vector<BlockedMod>& entries) {
    std::vector<FoundMod> found;
    for (const BlockedMod& entry : entries) {
        // Nothing to look for, or a path that could leave the game folder
        // (it is neither hashed nor reported).
        if (entry.file.empty() || !isSafeGamePath(entry.file)) continue;
        // Entries that differ only in letter case (beyond ASCII too) or
        // separators name one file on Windows: one mod, found once. The file
        // system has the last word on whether two found names are one file.
        bool seen = false;
        for (const FoundMod& mod : found) seen = seen || sameSpelling(mod.file, entry.file);
        if (seen) continue;
        // Only a file counts, not a folder of that name.
        const std::string path = joinPath(gameFolder, entry.file);
        if (!fileExists(path)) continue;
        for (const FoundMod& mod : found) seen = seen || sameFile(joinPath(gameFolder, mod.file), path);
        if (seen) continue;
        // With a digest only that exact content is the mod.
        if (!entry.sha256.empty()) {
            std::string digest;
            if (!sha256File(path, digest) || !sameDigest(digest, entry.sha256)) continue;
        }
        // Present (and the right content where a digest says which): a blocked mod.
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
    std::vector<std::string> moved;
    for (const std::string& file : files) {
        // The same file under another spelling has just been moved aside.
        bool done = false;
        for (const std::string& earlier : moved) done = done || sameSpelling(earlier, file);
        if (done) continue;
        // A failure stops here: the files after it stay where they are and
        // the next scan finds them again.
        if (!disableMod(gameFolder, file)) {
            outcome.failedFile = file;
            return outcome;
        }
        reporter.sayLog("disabled " + file);
        moved.push_back(file);
        ++outcome.disabled;
    }
    return outcome;
}

}  // namespace ember::launcher
