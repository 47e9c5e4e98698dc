// Carrying out a plan in the game folder, and the checks around it: the
// write test, free space, whether the game runs, and the texts the update
// pipeline classifies a failed apply by.
#pragma once

#include <cstdint>
#include <string>

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

// Prunes, then downloads every planned file through http::download (digest
// checked, replaced in one rename), recording each; config.json is saved
// after the first file, then at most once a second, and before returning.
// Returns the number of files installed; `error` is empty on success,
// "cancelled", or the failing file's path + ": " + the download's error.
// A plan naming a file outside the game folder is refused before anything
// changes. Windows only (WinHTTP).
int applyClient(const Manifest& manifest, const std::string& gameFolder, Config& config, const Plan& plan,
                const Reporter& reporter, std::string& error);

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

}  // namespace ember::launcher
