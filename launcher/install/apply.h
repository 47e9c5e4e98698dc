// Carrying out a plan in the game folder, and the checks around it: the
// write test, free space, whether the game runs, and the texts the update
// pipeline classifies a failed apply by.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "launcher/formats/config.h"
#include "launcher/formats/manifest.h"
#include "launcher/install/plan.h"
#include "launcher/install/reporter.h"

namespace ember::launcher {

// Deletes the plan's retired files, drops their records and saves
// config.json (the prune step of applyClient). A missing file is not an
// error; a file that could not be deleted keeps its record until it is
// gone. A path that fails isSafeGamePath, passes through a link or is the
// settings file is never deleted (its record is dropped all the same).
// No-op for an empty list.
void pruneRetired(const std::string& gameFolder, Config& config, const Plan& plan, const Reporter& reporter);

// Why an apply stopped, for the pipeline to act on; the text says it for
// the log and the details ("<path>: <reason>", or kApplyCancelled).
enum class ApplyFault : uint8_t {
    none,
    cancelled,     // the player cancelled between files
    interrupted,   // a transfer was stopped part way (a cancel, or the exit)
    fileLocked,    // a file in place is held open (http::kCannotReplace)
    diskFull,      // the disk would not take the bytes (http::kDiskWriteFailed)
    unsafeTarget,  // a planned path leaves the game folder (kUnsafeTarget)
    failed,        // anything else: a refused path, a link, the network, a digest
};
struct ApplyError {
    ApplyFault kind = ApplyFault::none;
    std::string text;
};

// Downloads kept in flight at once (the per-host habit of browsers).
inline constexpr int kParallelDownloads = 6;

// Deletes orphanParts and prunes, then downloads the planned files through http::download (digest
// checked, replaced in one rename), several at once in plan order
// (downloadPlanned, kParallelDownloads), recording each; config.json is saved after the first
// file, then at most once a second, and before returning. Returns the
// number of files installed; `error` has kind none on success, else its
// kind and text: kApplyCancelled, or the first failing file's path + ": " +
// the download's error. A plan
// naming a file outside the game folder or among the part files, or one
// whose folder (or the part files' folder) is a link, is refused before
// anything changes (a link: linkRefusal, after the first file it stands in
// the way of); a folder made a link later stops the file it is the folder
// of. Windows only (WinHTTP).
int applyClient(const Manifest& manifest, const std::string& gameFolder, Config& config, const Plan& plan,
                const Reporter& reporter, ApplyError& error);
// The same with another number of transfers at once (1: one after another).
int applyClientInFlight(const Manifest& manifest, const std::string& gameFolder, Config& config, const Plan& plan,
                        const Reporter& reporter, ApplyError& error, int inFlight);

// One file's transfer into place, as the download loop sees it: `progress`
// gets the bytes received so far (any thread), `cancelled` may be asked from
// any thread and, once true, must end the transfer promptly. Kind none on
// success, else the kind and the reason (http::download's texts).
using FetchFile = std::function<ApplyError(const ManifestFile& entry, const std::string& target,
                                            const std::string& partPath,
                                            const std::function<void(uint64_t received)>& progress,
                                            const std::function<bool()>& cancelled)>;

// The download loop of applyClient over any transfer: up to `inFlight`
// transfers at once, started in plan order from worker threads, while the
// calling thread alone talks to the reporter and records finished files.
// A cancel or the first failure stops new starts and ends those in flight;
// the first failure is the one reported; every file that landed is recorded.
// With `inFlight` 1 it fetches one file after another.
int downloadPlanned(const std::string& gameFolder, Config& config, const Plan& plan, const Reporter& reporter,
                    const FetchFile& fetch, int inFlight, ApplyError& error);

// Where the bytes of a planned file gather before they are moved into place:
// a folder of the launcher's own, under a name made from the file's path.
// No planned path may lie in that folder (kReservedTarget).
std::string partPathFor(const std::string& gameFolder, const std::string& path);
inline constexpr const char kPartsFolder[] = "Emberlane\\.parts";
// The same folder as planned paths spell it.
inline constexpr const char kPartsFolderPath[] = "Emberlane/.parts";
// The files in kPartsFolder that belong to none of `planned` (a part file
// and its record are kept only for a file still to download), as paths
// relative to the game folder (kPartsFolderPath + "/<name>").
std::vector<std::string> orphanParts(const std::string& gameFolder, const std::vector<ManifestFile>& planned);

// Writes and deletes Emberlane\.write-test below the game folder.
bool canWriteGameFolder(const std::string& gameFolder);
// Bytes the user may still write on the folder's volume; 0 when unknown.
uint64_t freeBytes(const std::string& folder);
// Whether a process named OblivionRemastered-Win64-Shipping.exe runs (any
// letter case); false when processes cannot be listed.
bool isGameRunning();

// "D:" for a folder on a drive letter, else "the game drive".
std::string driveLabel(const std::string& gameFolder);
// The folder to open for a space problem: the drive's root or the folder.
std::string spaceFolder(const std::string& gameFolder);
// Bytes needed on the game drive: the download plus 20 % headroom, at most
// the largest count (never wrapped to a small one).
inline uint64_t requiredBytes(uint64_t downloadBytes) {
    constexpr uint64_t kMax = ~uint64_t(0);
    if (downloadBytes <= kMax / 12) return downloadBytes * 12 / 10;
    const uint64_t headroom = downloadBytes / 5;
    return downloadBytes > kMax - headroom ? kMax : downloadBytes + headroom;
}

inline constexpr const char kGameExeName[] = "OblivionRemastered-Win64-Shipping.exe";
inline constexpr const char kWriteTestPath[] = "Emberlane\\.write-test";
inline constexpr const char kApplyCancelled[] = "cancelled";
// After a planned file's path and ": ": that path leaves the game folder.
inline constexpr const char kUnsafeTarget[] = "refused: the path leaves the game folder";
// After a planned file's path and ": ": that path is in kPartsFolder.
inline constexpr const char kReservedTarget[] = "refused: the path is in the launcher's download folder";
inline constexpr const char kSettingsTarget[] = "refused: the path is the client's settings file, which holds the "
                                                 "player's own lines";

}  // namespace ember::launcher
