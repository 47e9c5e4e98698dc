// The portable steps of applying: pruning, the download loop over any
// transfer, the write test and the drive label. The transfer itself and the
// checks before the loop are in apply_win32.cpp.
#include "launcher/install/apply.h"

#include <chrono>
#include <unordered_set>
#include <vector>

#include "base/paths.h"
#include "base/safe_path.h"
#include "base/text.h"
#include "launcher/install/transfer_pool.h"
#include "launcher/net/http.h"
#include "launcher/net/sha256.h"

namespace ember::launcher {

std::string partPathFor(const std::string& gameFolder, const std::string& path) {
    // Two spellings of one path (letter case, either slash) share a name.
    std::string key = asciiLower(path);
    for (char& c : key) {
        if (c == '\\') c = '/';
    }
    Sha256 hash;
    hash.update(key.data(), key.size());
    return joinPath(gameFolder, std::string(kPartsFolder) + "\\" + toHex(hash.final()).substr(0, 32) + ".part");
}

std::vector<std::string> orphanParts(const std::string& gameFolder, const std::vector<ManifestFile>& planned) {
    std::vector<std::string> orphans;
    const std::string folder = joinPath(gameFolder, kPartsFolder);
    std::vector<DirEntry> entries;
    if (passesThroughLink(gameFolder, kPartsFolder) || !listDirectory(folder, entries) || entries.empty()) {
        return orphans;
    }
    std::unordered_set<std::string> wanted;
    for (const ManifestFile& entry : planned) {
        const std::string part = partPathFor(gameFolder, entry.path);
        const std::string name = part.substr(folder.size() + 1);
        wanted.insert(name);
        wanted.insert(name + http::kPartRecordSuffix);
    }
    for (const DirEntry& entry : entries) {
        if (entry.isDirectory || entry.isLink || wanted.count(asciiLower(entry.name))) continue;
        orphans.push_back(std::string(kPartsFolderPath) + "/" + entry.name);
    }
    return orphans;
}

namespace {

constexpr auto kSaveInterval = std::chrono::milliseconds(1000);

}  // namespace

int downloadPlanned(const std::string& gameFolder, Config& config, const Plan& plan, const Reporter& reporter,
                    const FetchFile& fetch, int inFlight, ApplyError& error) {
    error = ApplyError();
    const size_t count = plan.download.size();
    if (count == 0) return 0;

    // One job per planned file, fetched into its part file and moved into
    // place. Each job keeps the kind of its ending in a slot of its own,
    // read after the pool has joined its workers.
    TransferPool pool(inFlight);
    std::vector<ApplyFault> endings(count, ApplyFault::none);
    for (size_t i = 0; i < count; ++i) {
        const ManifestFile& entry = plan.download[i];
        ApplyFault& ending = endings[i];
        pool.add([&fetch, &gameFolder, &entry, &ending](const TransferPool::Progress& progress,
                                                        const TransferPool::Stopped& stopped) {
            ApplyError got =
                fetch(entry, joinPath(gameFolder, entry.path), partPathFor(gameFolder, entry.path), progress, stopped);
            ending = got.kind;
            return got.kind == ApplyFault::none ? std::string() : got.text;
        });
    }

    // config.json is saved after the first file, then at most once a second,
    // and always before returning: rewriting (and syncing) a file that holds
    // every record after each of thousands of small files would cost more
    // than the downloads. A file that landed after the last save has the
    // right size and content, so after a crash the next plan hashes it,
    // records it and does not fetch it again.
    reporter.sayPhase(Phase::download, "Updating client files");
    const int steps = static_cast<int>(count);
    int done = 0;
    uint64_t bytesDone = 0;
    std::chrono::steady_clock::time_point lastSave{};
    bool saved = false;
    bool unsaved = false;
    auto saveNow = [&] {
        saveConfig(config);
        lastSave = std::chrono::steady_clock::now();
        saved = true;
        unsaved = false;
    };

    // This thread alone talks to the reporter and records the files that
    // landed, in the order they finished.
    TransferPool::Watch watch;
    watch.landed = [&](size_t job) {
        const ManifestFile& entry = plan.download[job];
        const std::string target = joinPath(gameFolder, entry.path);
        bytesDone += static_cast<uint64_t>(entry.size);
        config.installed[entry.path] =
            InstalledFile{entry.sha256, fileSize(target), static_cast<int64_t>(lastWriteTime(target))};
        ++done;
        reporter.sayProgress(done, steps, bytesDone, plan.downloadBytes);
        reporter.sayLog(entry.path);
        unsaved = true;
        if (!saved || std::chrono::steady_clock::now() - lastSave >= kSaveInterval) saveNow();
    };
    watch.cancelled = [&reporter] { return reporter.isCancelled(); };
    watch.flowing = [&](uint64_t received) {
        if (received > 0) reporter.sayProgress(done, steps, bytesDone + received, plan.downloadBytes);
    };
    const TransferPool::Result result = pool.run(watch);

    if (unsaved) saveNow();
    if (!result.failure.empty()) {
        const ApplyFault kind = endings[result.failed];
        error = {kind == ApplyFault::none ? ApplyFault::failed : kind,
                 plan.download[result.failed].path + ": " + result.failure};
    } else if (result.cancelled) {
        error = {ApplyFault::cancelled, kApplyCancelled};
    }
    return done;
}

void pruneRetired(const std::string& gameFolder, Config& config, const Plan& plan, const Reporter& reporter) {
    if (plan.remove.empty()) return;
    reporter.sayPhase(Phase::prune, "Removing " + std::to_string(plan.remove.size()) + " old file(s)");
    for (const std::string& path : plan.remove) {
        // A failed deletion is not fatal: the record stays, so the next plan
        // tries again. A path that leaves the game folder, passes through a
        // link or is the settings file is never deleted; its record goes.
        const std::string target = joinPath(gameFolder, path);
        if (!isSafeGamePath(path) || isClientSettingsFile(gameFolder, path) ||
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
