// The install plan: what must be downloaded and removed so that the client
// files in the game folder are exactly what the manifest lists.
//
// Planning reads sizes and times from folder listings (one call per folder),
// takes a file whose recorded digest, size and last-write time still match
// as up to date without reading it, and hashes only the rest. It changes
// nothing on disk; it only refreshes installed records of files it hashed
// and found right, and forgets records it will not act on (see makePlan).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "launcher/formats/config.h"
#include "launcher/formats/manifest.h"
#include "launcher/install/reporter.h"

namespace ember::launcher {

struct Plan {
    std::vector<ManifestFile> download;  // in manifest order
    std::vector<std::string> remove;     // relative paths, records' key order, then strays
    uint64_t downloadBytes = 0;
    bool upToDate = true;
};

// Whether one manifest file must be fetched. A wrong size never reads the
// file; the recorded fast path (off in a full check) reads nothing; otherwise
// the file is hashed and, when right, its record refreshed. A path that
// fails isSafeGamePath is never looked at and always "needs download" (the
// apply then refuses it).
bool needsDownload(const std::string& gameFolder, const ManifestFile& entry, Config& config, bool fullCheck);

// The whole plan; stops checking (leaving a partial plan) when the reporter
// says cancelled. Retired records are planned for removal, except records
// whose path leaves the game folder or passes through a link, records that
// differ from a manifest path only in letter case (the same file on
// Windows) and the settings file: all are forgotten, never deleted. A full
// check also removes stray files anywhere in the client folder (never
// ember.ini), without following or removing a link, and the launcher's
// part files of files that need no download (orphanParts).
Plan makePlan(const Manifest& manifest, const std::string& gameFolder, Config& config, bool fullCheck,
              const Reporter& reporter);

// The Play button's sub-line: "1.5 GB to download", "2 files to update",
// "3 files to tidy up", or "Finishing an unfinished update".
std::string planSummary(uint64_t downloadBytes, size_t downloadCount, size_t removeCount);

// How many files the planner has hashed in this process (tests prove the
// fast path with it).
uint64_t plannerFilesHashed();

// The client folder below the game folder, and its settings file.
inline constexpr const char kClientFolder[] = "Emberlane";
inline constexpr const char kClientSettingsPath[] = "Emberlane/ember.ini";
// Whether `path` (relative to the game folder, checked safe) is the settings
// file, in any spelling the file system takes for it: either slash, letter
// case, a short 8.3 name of the folder. Such a path is never deleted nor
// written.
bool isClientSettingsFile(const std::string& gameFolder, const std::string& path);

// Below the game folder nothing is written into, or started through, a link
// (a symbolic link, a junction, a file with another name elsewhere): a link
// where a folder of the client, or the loader, should be is refused as
// kLinkInTheWay + its path below the game folder + kRemoveTheLink.
inline constexpr const char kLinkInTheWay[] = "refused: a link to another place stands at ";
inline constexpr const char kRemoveTheLink[] = " - remove it, then use Verify & repair";
inline std::string linkRefusal(const std::string& link) {
    return kLinkInTheWay + link + kRemoveTheLink;
}

}  // namespace ember::launcher
