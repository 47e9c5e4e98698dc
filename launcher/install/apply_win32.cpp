// The download loop, free space and the process check over Win32.
#include "launcher/install/apply.h"

#include <windows.h>
#include <tlhelp32.h>

#include "launcher/base/paths.h"
#include "launcher/base/text.h"
#include "launcher/base/safe_path.h"
#include "launcher/net/http.h"

namespace ember::launcher {

namespace {

constexpr uint64_t kSaveIntervalMs = 1000;

}  // namespace

int applyClient(const Manifest& manifest, const std::string& gameFolder, Config& config, const Plan& plan,
                const Reporter& reporter, std::string& error) {
    error.clear();
    // 1. Nothing to do.
    if (plan.remove.empty() && plan.download.empty()) return 0;

    // A file that would land outside the game folder stops the whole apply
    // before anything is deleted or written.
    for (const ManifestFile& entry : plan.download) {
        if (!isSafeGamePath(entry.path)) {
            error = entry.path + ": " + kUnsafeTarget;
            return 0;
        }
    }

    // 2-3. Retired files first.
    pruneRetired(gameFolder, config, plan, reporter);
    if (plan.download.empty()) return 0;

    // 4-5. Each file in plan order, recorded as it lands. config.json is
    //      saved after the first file, then at most once a second, and
    //      always before returning: rewriting (and syncing) a file that holds
    //      every record after each of thousands of small files would cost
    //      more than the downloads. A file that landed after the last save
    //      has the right size and content, so after a crash the next plan
    //      hashes it, records it and does not fetch it again.
    reporter.sayPhase("download", "Updating client files");
    const int steps = static_cast<int>(plan.download.size());
    int done = 0;
    uint64_t bytesDone = 0;
    uint64_t lastSave = 0;
    bool unsaved = false;
    auto saveNow = [&] {
        saveConfig(config);
        lastSave = GetTickCount64();
        unsaved = false;
    };
    for (const ManifestFile& entry : plan.download) {
        if (reporter.isCancelled()) {
            if (unsaved) saveNow();
            error = kApplyCancelled;
            return done;
        }
        const std::string url = manifest.baseUrl + entry.path;
        const std::string target = joinPath(gameFolder, entry.path);
        std::string failure = http::download(url, target, entry.sha256, [&](uint64_t received, uint64_t) {
            reporter.sayProgress(done, steps, bytesDone + received, plan.downloadBytes);
            return !reporter.isCancelled();
        });
        if (!failure.empty()) {
            if (unsaved) saveNow();
            error = entry.path + ": " + failure;
            return done;
        }
        bytesDone += static_cast<uint64_t>(entry.size);
        config.installed[entry.path] =
            InstalledFile{entry.sha256, fileSize(target), static_cast<int64_t>(lastWriteTime(target))};
        ++done;
        reporter.sayProgress(done, steps, bytesDone, plan.downloadBytes);
        reporter.sayLog(entry.path);
        unsaved = true;
        if (lastSave == 0 || GetTickCount64() - lastSave >= kSaveIntervalMs) saveNow();
    }
    if (unsaved) saveNow();
    return done;
}

uint64_t freeBytes(const std::string& folder) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(toWide(folder).c_str(), &available, nullptr, nullptr)) return 0;
    return available.QuadPart;
}

bool isGameRunning() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32W process;
    process.dwSize = sizeof process;
    bool running = false;
    for (BOOL more = Process32FirstW(snapshot, &process); more && !running;
         more = Process32NextW(snapshot, &process)) {
        running = equalsIgnoreCase(toUtf8(process.szExeFile), kGameExeName);
    }
    CloseHandle(snapshot);
    return running;
}

}  // namespace ember::launcher
