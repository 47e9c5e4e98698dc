// The portable steps of applying: pruning, the download loop over any
// transfer, the write test and the drive label. The transfer itself and the
// checks before the loop are in apply_win32.cpp.
#include "launcher/install/apply.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_set>
#include <vector>

#include "base/paths.h"
#include "base/safe_path.h"
#include "base/text.h"
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
// How often the loop looks at the reporter while transfers run.
constexpr auto kTick = std::chrono::milliseconds(50);

struct Finished {
    size_t index;
    std::string failure;
};

}  // namespace

int downloadPlanned(const std::string& gameFolder, Config& config, const Plan& plan, const Reporter& reporter,
                    const FetchFile& fetch, int inFlight, std::string& error) {
    error.clear();
    const size_t count = plan.download.size();
    if (count == 0) return 0;
    const size_t workers = std::min<size_t>(count, static_cast<size_t>(std::max(inFlight, 1)));

    // Shared with the workers, under `lock`: how many files may have started
    // (only this thread raises it, after asking the reporter), the next to
    // start, the queue of finished ones and the workers still running. The
    // stop flag and each transfer's bytes so far are read without the lock.
    std::mutex lock;
    std::condition_variable wake;
    size_t allowed = 0;
    size_t next = 0;
    size_t running = workers;
    std::deque<Finished> finished;
    std::atomic<bool> stop{false};
    std::unique_ptr<std::atomic<uint64_t>[]> flowing(new std::atomic<uint64_t>[workers]);
    for (size_t i = 0; i < workers; ++i) flowing[i] = 0;
    const std::function<bool()> stopped = [&stop] { return stop.load(); };

    auto work = [&](size_t slot) {
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            wake.wait(guard, [&] { return stop || next >= count || next < allowed; });
            if (stop || next >= count) break;
            const size_t index = next++;
            guard.unlock();
            const ManifestFile& entry = plan.download[index];
            std::string failure =
                fetch(entry, joinPath(gameFolder, entry.path), partPathFor(gameFolder, entry.path),
                      [&flowing, slot](uint64_t received) { flowing[slot] = received; }, stopped);
            flowing[slot] = 0;
            guard.lock();
            finished.push_back(Finished{index, failure});
            wake.notify_all();
        }
        --running;
        wake.notify_all();
    };

    // config.json is saved after the first file, then at most once a second,
    // and always before returning: rewriting (and syncing) a file that holds
    // every record after each of thousands of small files would cost more
    // than the downloads. A file that landed after the last save has the
    // right size and content, so after a crash the next plan hashes it,
    // records it and does not fetch it again.
    reporter.sayPhase("download", "Updating client files");
    const int steps = static_cast<int>(count);
    int done = 0;
    size_t settled = 0;
    uint64_t bytesDone = 0;
    std::chrono::steady_clock::time_point lastSave{};
    bool saved = false;
    bool unsaved = false;
    bool cancelled = false;
    auto saveNow = [&] {
        saveConfig(config);
        lastSave = std::chrono::steady_clock::now();
        saved = true;
        unsaved = false;
    };

    std::vector<std::thread> threads;
    for (size_t slot = 0; slot < workers; ++slot) threads.emplace_back(work, slot);
    std::deque<Finished> landed;
    for (bool last = false; !last;) {
        // Files that landed are recorded in the order they finished; the
        // first failure is the one reported, later ones are transfers that
        // it ended. After a cancel, the transfers it ended are no failures.
        for (const Finished& f : landed) {
            ++settled;
            const ManifestFile& entry = plan.download[f.index];
            if (!f.failure.empty()) {
                if (error.empty() && !cancelled) error = entry.path + ": " + f.failure;
                stop = true;
                continue;
            }
            const std::string target = joinPath(gameFolder, entry.path);
            bytesDone += static_cast<uint64_t>(entry.size);
            config.installed[entry.path] =
                InstalledFile{entry.sha256, fileSize(target), static_cast<int64_t>(lastWriteTime(target))};
            ++done;
            reporter.sayProgress(done, steps, bytesDone, plan.downloadBytes);
            reporter.sayLog(entry.path);
            unsaved = true;
            if (!saved || std::chrono::steady_clock::now() - lastSave >= kSaveInterval) saveNow();
        }
        landed.clear();

        // A cancel stops new starts and, through `stopped`, ends every
        // transfer in flight.
        if (!stop && reporter.isCancelled()) {
            cancelled = true;
            stop = true;
        }
        if (!stop) {
            uint64_t partial = 0;
            for (size_t i = 0; i < workers; ++i) partial += flowing[i];
            if (partial > 0) reporter.sayProgress(done, steps, bytesDone + partial, plan.downloadBytes);
        }

        std::unique_lock<std::mutex> guard(lock);
        if (!stop) allowed = settled + workers;
        wake.notify_all();
        wake.wait_for(guard, kTick, [&] { return !finished.empty() || running == 0; });
        landed.swap(finished);
        last = running == 0 && landed.empty();
    }
    for (std::thread& t : threads) t.join();
    if (unsaved) saveNow();
    if (cancelled && error.empty()) error = kApplyCancelled;
    return done;
}

void pruneRetired(const std::string& gameFolder, Config& config, const Plan& plan, const Reporter& reporter) {
    if (plan.remove.empty()) return;
    reporter.sayPhase("prune", "Removing " + std::to_string(plan.remove.size()) + " old file(s)");
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
