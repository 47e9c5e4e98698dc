// The download loop, free space and the process check over Win32.
#include "launcher/install/apply.h"

#include <windows.h>
#include <tlhelp32.h>

#include <unordered_set>

#include "base/paths.h"
#include "base/text.h"
#include "base/safe_path.h"
#include "launcher/net/http.h"

namespace ember::launcher {

namespace {

// Whether a planned path lies in the launcher's own folder of part files.
bool inPartsFolder(const std::string& path) {
    const std::string folder = asciiLower(kPartsFolder);
    std::string lower = asciiLower(path);
    for (char& c : lower) {
        if (c == '/') c = '\\';
    }
    return lower.size() > folder.size() && lower.compare(0, folder.size(), folder) == 0 &&
           lower[folder.size()] == '\\';
}

ApplyFault faultOf(http::DownloadEnd end) {
    switch (end) {
        case http::DownloadEnd::landed: return ApplyFault::none;
        case http::DownloadEnd::writeFailed: return ApplyFault::diskFull;
        case http::DownloadEnd::cannotReplace: return ApplyFault::fileLocked;
        case http::DownloadEnd::stopped: return ApplyFault::interrupted;
        case http::DownloadEnd::failed: return ApplyFault::failed;
    }
    return ApplyFault::failed;
}

}  // namespace

int applyClient(const Manifest& manifest, const std::string& gameFolder, Config& config, const Plan& plan,
                const Reporter& reporter, ApplyError& error) {
    return applyClientInFlight(manifest, gameFolder, config, plan, reporter, error, kParallelDownloads);
}

int applyClientInFlight(const Manifest& manifest, const std::string& gameFolder, Config& config, const Plan& plan,
                        const Reporter& reporter, ApplyError& error, int inFlight) {
    error = ApplyError();

    // A file that would land outside the game folder, or among the part
    // files, stops the whole apply before anything is deleted or written.
    for (const ManifestFile& entry : plan.download) {
        if (!isSafeGamePath(entry.path)) {
            error = {ApplyFault::unsafeTarget, entry.path + ": " + kUnsafeTarget};
            return 0;
        }
        if (inPartsFolder(entry.path)) {
            error = {ApplyFault::failed, entry.path + ": " + kReservedTarget};
            return 0;
        }
        if (isClientSettingsFile(gameFolder, entry.path)) {
            error = {ApplyFault::failed, entry.path + ": " + kSettingsTarget};
            return 0;
        }
    }

    // A link where a planned file's folder, or the part files' folder,
    // should be would take the bytes elsewhere: refused, each folder asked
    // once.
    std::unordered_set<std::string> asked;
    for (const ManifestFile& entry : plan.download) {
        const std::string folder = parentDir(entry.path);
        if (folder.empty() || !asked.insert(fileNameFold(folder)).second) continue;
        const std::string link = linkOnPath(gameFolder, folder);
        if (!link.empty()) {
            error = {ApplyFault::failed, entry.path + ": " + linkRefusal(link)};
            return 0;
        }
    }
    const std::string partsLink = linkOnPath(gameFolder, kPartsFolder);
    if (!partsLink.empty() && !plan.download.empty()) {
        error = {ApplyFault::failed, plan.download.front().path + ": " + linkRefusal(partsLink)};
        return 0;
    }

    // Part files of files no longer planned (even when nothing else is to
    // be done), and retired files, first.
    for (const std::string& orphan : orphanParts(gameFolder, plan.download)) removeFile(joinPath(gameFolder, orphan));
    pruneRetired(gameFolder, config, plan, reporter);
    if (plan.download.empty()) return 0;

    // The files, several at once, each recorded as it lands. They share the
    // line, so a slow line slows each without failing them.
    http::SharedLine line(inFlight);
    const FetchFile fetch = [&manifest, &gameFolder, &line, &reporter](const ManifestFile& entry, const std::string& target,
                                                            const std::string& partPath,
                                                            const std::function<void(uint64_t)>& progress,
                                                            const std::function<bool()>& cancelled) {
        // Asked again right before the folders are made and written: a
        // link may have been put in place while other files came.
        std::string link = linkOnPath(gameFolder, parentDir(entry.path));
        if (link.empty()) link = linkOnPath(gameFolder, kPartsFolder);
        if (!link.empty()) return ApplyError{ApplyFault::failed, linkRefusal(link)};
        http::Download job;
        job.url = manifest.baseUrl + http::encodePath(entry.path);
        job.destPath = target;
        job.partPath = partPath;
        job.sha256Hex = entry.sha256;
        job.size = entry.size;
        job.cancelled = cancelled;
        job.resumable = true;
        job.line = &line;
        job.resumed = [&reporter](uint64_t kept) { reporter.sayKept(kept); };
        job.progress = [&](uint64_t received, uint64_t) {
            progress(received);
            return !cancelled();
        };
        http::DownloadResult got = http::download(job);
        return ApplyError{faultOf(got.end), std::move(got.error)};
    };
    return downloadPlanned(gameFolder, config, plan, reporter, fetch, inFlight, error);
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
