// Planning the client files: fast path, hash fallback, retired records and
// strays.
#include "launcher/install/plan.h"

#include <atomic>
#include <cstdio>
#include <set>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "base/paths.h"
#include "base/text.h"
#include "base/safe_path.h"
#include "launcher/install/apply.h"
#include "launcher/net/sha256.h"

namespace ember::launcher {

namespace {

std::atomic<uint64_t> g_filesHashed{0};

struct FileFacts {
    int64_t size = -1;
    uint64_t lastWrite = 0;
};

// Sizes and times of the files in the folders a plan touches, one listing
// per folder. Names are matched ignoring ASCII case on Windows, where the
// file system does too; a name the listing does not show (another case
// rule, an unlistable folder) is asked about on its own.
class FolderFacts {
public:
    FileFacts lookup(const std::string& path) {
        // Manifests list a folder's files together: the last folder is
        // usually the one asked about again.
        const size_t cut = path.find_last_of("\\/");
        const std::string_view folder(path.data(), cut == std::string::npos ? 0 : cut);
        if (!last_ || lastFolder_ != folder) {
            lastFolder_.assign(folder);
            auto it = folders_.find(lastFolder_);
            if (it == folders_.end()) it = folders_.emplace(lastFolder_, load(lastFolder_)).first;
            last_ = &it->second;
        }
        name_.assign(path, cut == std::string::npos ? 0 : cut + 1, std::string::npos);
        auto found = last_->files.find(key(name_));
        if (found != last_->files.end()) return found->second;
        // A folder that was listed, or that does not exist, answers for a
        // missing file too: asking Wine about a name that is not there costs
        // a scan of the whole folder (its names are matched ignoring case).
        if (last_->listed || last_->missing) return FileFacts{};
        return FileFacts{fileSize(path), lastWriteTime(path)};
    }

private:
    struct Listing {
        std::unordered_map<std::string, FileFacts> files;
        bool listed = false;   // the folder's listing is complete
        bool missing = false;  // there is no such folder
    };

    static const std::string& key(std::string& name) {
#ifdef _WIN32
        name = fileNameFold(name);
#endif
        return name;
    }

    static Listing load(const std::string& folder) {
        Listing listing;
        std::vector<DirEntry> entries;
        if (folder.empty()) return listing;
        if (!listDirectory(folder, entries)) {
            listing.missing = !isDirectory(folder) && !fileExists(folder);
            return listing;
        }
        listing.listed = true;
        for (const DirEntry& entry : entries) {
            // Two names that differ only in case (a case-sensitive folder):
            // neither is trusted, both are asked about on their own.
            std::string name = entry.name;
            auto [it, fresh] = listing.files.emplace(key(name), FileFacts{entry.size, entry.lastWrite});
            if (!fresh) {
                it->second = FileFacts{-2, 0};
                listing.listed = false;
            }
        }
        for (auto it = listing.files.begin(); it != listing.files.end();) {
            it = (it->second.size == -2) ? listing.files.erase(it) : std::next(it);
        }
        return listing;
    }

    std::unordered_map<std::string, Listing> folders_;
    std::string lastFolder_;
    Listing* last_ = nullptr;
    std::string name_;
};

bool needsDownloadWith(const std::string& gameFolder, const ManifestFile& entry, Config& config, bool fullCheck,
                       FolderFacts* facts) {
    // Never touch what the path would really name (a device, another drive).
    if (!isSafeGamePath(entry.path)) return true;
    const std::string path = joinPath(gameFolder, entry.path);

    // The size decides without reading.
    FileFacts now = facts ? facts->lookup(path) : FileFacts{fileSize(path), lastWriteTime(path)};
    if (now.size < 0 || now.size != entry.size) return true;

    // The record vouches for the content while size and time are unchanged.
    auto record = config.installed.find(entry.path);
    if (!fullCheck && record != config.installed.end() && sameDigest(record->second.sha256, entry.sha256) &&
        record->second.size == now.size && static_cast<uint64_t>(record->second.mtime) == now.lastWrite) {
        return false;
    }

    // Otherwise read it; a right file becomes a fast-path file again.
    std::string digest;
    ++g_filesHashed;
    if (!sha256File(path, digest) || !sameDigest(digest, entry.sha256)) return true;
    config.installed[entry.path] = InstalledFile{entry.sha256, now.size, static_cast<int64_t>(now.lastWrite)};
    return false;
}

// Files directly in `folder` (relative to the game folder) that the
// manifest does not list, in listing order. Subfolders are the client's own
// (its logs, caches, the player's settings) and are not looked at; the part
// files' folder has its own rule. A link is neither followed nor removed:
// what it names is not the client's, wherever it points.
void addStrays(const std::string& gameFolder, const std::string& folder,
               const std::unordered_set<std::string>& listedLower, std::set<std::string>& removing,
               std::vector<std::string>& remove) {
    std::vector<DirEntry> entries;
    if (!listDirectory(joinPath(gameFolder, folder), entries)) return;
    for (const DirEntry& entry : entries) {
        if (entry.isLink || entry.isDirectory) continue;
        const std::string path = folder + "/" + entry.name;
        if (!isSafeGamePath(path)) continue;
        if (listedLower.count(fileNameFold(path)) || isClientSettingsFile(gameFolder, path)) continue;
        if (removing.insert(path).second) remove.push_back(path);
    }
}

}  // namespace

bool isClientSettingsFile(const std::string& gameFolder, const std::string& path) {
    // Only a name ember.ini can be the file (callers have checked the path
    // safe, so no name ends in a dot or a blank), which keeps the file
    // system out of every other path. Its folder may be spelled any way the
    // file system takes for the client folder: a short name only it knows.
    const size_t cut = path.find_last_of("/\\");
    if (cut == std::string::npos || !equalsIgnoreCase(std::string_view(path).substr(cut + 1), "ember.ini")) {
        return false;
    }
    if (equalsIgnoreCase(std::string_view(path).substr(0, cut), kClientFolder)) return true;
    return sameFile(joinPath(gameFolder, path), joinPath(gameFolder, kClientSettingsPath));
}

bool needsDownload(const std::string& gameFolder, const ManifestFile& entry, Config& config, bool fullCheck) {
    return needsDownloadWith(gameFolder, entry, config, fullCheck, nullptr);
}

Plan makePlan(const Manifest& manifest, const std::string& gameFolder, Config& config, bool fullCheck,
              const Reporter& reporter) {
    Plan plan;
    reporter.sayPhase(Phase::verify, "Checking your client files");

    // Every listed file, in manifest order.
    FolderFacts facts;
    const int total = static_cast<int>(manifest.files.size());
    int checked = 0;
    for (const ManifestFile& entry : manifest.files) {
        if (reporter.isCancelled()) break;
        if (needsDownloadWith(gameFolder, entry, config, fullCheck, &facts)) {
            plan.download.push_back(entry);
            // Saturates: a sum that wrapped would ask for almost no space.
            const uint64_t size = entry.size > 0 ? static_cast<uint64_t>(entry.size) : 0;
            plan.downloadBytes = size > ~uint64_t(0) - plan.downloadBytes ? ~uint64_t(0) : plan.downloadBytes + size;
        }
        ++checked;
        reporter.sayProgress(checked, total, 0, 0);
    }

    // Records the manifest no longer lists.
    std::unordered_set<std::string> listed;
    listed.reserve(manifest.files.size());
    for (const ManifestFile& entry : manifest.files) listed.insert(entry.path);
    // The forms Windows compares, only needed when something is not listed
    // exactly.
    std::unordered_set<std::string> listedLower;
    auto lowerListed = [&]() -> const std::unordered_set<std::string>& {
        if (listedLower.empty() && !manifest.files.empty()) {
            listedLower.reserve(manifest.files.size());
            for (const ManifestFile& entry : manifest.files) listedLower.insert(fileNameFold(entry.path));
        }
        return listedLower;
    };
    std::vector<std::string> forget;
    for (const auto& record : config.installed) {
        const std::string& path = record.first;
        if (listed.count(path)) continue;
        // A record that leaves the game folder is never acted on, and one
        // that differs from a listed path only in letter case names the
        // file the manifest keeps (Windows ignores case): deleting it would
        // delete that file. The settings file holds the player's own lines
        // whatever an older manifest said, and a path through a link names
        // a file somewhere else. All these records are simply dropped.
        if (!isSafeGamePath(path) || lowerListed().count(fileNameFold(path)) ||
            isClientSettingsFile(gameFolder, path) || passesThroughLink(gameFolder, path)) {
            forget.push_back(path);
            continue;
        }
        plan.remove.push_back(path);
    }
    for (const std::string& path : forget) config.installed.erase(path);

    // Strays directly in the client folder, only in a full check.
    if (fullCheck && !passesThroughLink(gameFolder, kClientFolder)) {
        std::set<std::string> removing(plan.remove.begin(), plan.remove.end());
        addStrays(gameFolder, kClientFolder, lowerListed(), removing, plan.remove);
        // Part files kept for a resume of a file that needs no download.
        for (const std::string& orphan : orphanParts(gameFolder, plan.download)) {
            if (removing.insert(orphan).second) plan.remove.push_back(orphan);
        }
    }

    plan.upToDate = plan.download.empty() && plan.remove.empty();
    return plan;
}

std::string planSummary(uint64_t downloadBytes, size_t downloadCount, size_t removeCount) {
    if (downloadBytes > 0) return formatBytes(downloadBytes, ByteStyle::plan) + " to download";
    auto count = [](size_t n) { return std::to_string(n) + (n == 1 ? " file" : " files"); };
    if (downloadCount > 0) return count(downloadCount) + " to update";
    if (removeCount > 0) return count(removeCount) + " to tidy up";
    return "Finishing an unfinished update";
}

uint64_t plannerFilesHashed() { return g_filesHashed.load(); }

}  // namespace ember::launcher
