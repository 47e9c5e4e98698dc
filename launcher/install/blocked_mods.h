// Mods a realm forbids: finding them in the game folder and moving them
// aside.
//
// The manifest lists them ("blocked"); the update pipeline scans for them
// after the client files are in place and refuses to start the game while a
// blocking one is present. Moving aside is a rename to the same name plus
// ".disabled-by-emberlane" in the same folder, so the player can undo it by
// hand. A `file` comes from the network: one that fails isSafeGamePath is
// never hashed, never renamed.
#pragma once

#include <string>
#include <vector>

#include "launcher/formats/manifest.h"
#include "launcher/install/reporter.h"

namespace ember::launcher {

// A listed mod present in the game folder (with the right content when the
// entry carries a digest).
struct FoundMod {
    std::string file;  // the entry's file, as published
    BlockedMod entry;
};

// The entries present in the game folder, in manifest order. Skipped: an
// empty or unsafe file, a missing file or a directory, for an entry with a
// digest, a file that cannot be read or has other content, and an entry
// whose file differs from one already found only in letter case or in
// its separators.
std::vector<FoundMod> findBlockedMods(const std::string& gameFolder, const std::vector<BlockedMod>& entries);

// The found mods that stop the game: severity exactly "block".
std::vector<FoundMod> blockingMods(const std::vector<FoundMod>& found);

// "This server does not allow " + the files joined by ", " + ".".
std::string blockedModsMessage(const std::vector<FoundMod>& blocking);

// Renames the file to its name + ".disabled-by-emberlane", replacing an
// earlier file of that name. False when the rename failed, the file is
// missing or the path is unsafe.
bool disableMod(const std::string& gameFolder, const std::string& file);

struct DisableOutcome {
    int disabled = 0;        // files moved aside, from the front of the list
    std::string failedFile;  // the first file that could not be moved; empty when all were
};

// Moves each file aside in order and stops at the first failure: the rest
// are not tried. A file that differs from one already moved only in letter
// case or separators is the same file and skipped. Each success is logged as
// "disabled " + file.
DisableOutcome disableBlockedMods(const std::string& gameFolder, const std::vector<std::string>& files,
                                  const Reporter& reporter);

inline constexpr const char kBlockingSeverity[] = "block";
inline constexpr const char kDisabledSuffix[] = ".disabled-by-emberlane";
inline constexpr const char kBlockedModsMessage[] = "This server does not allow ";
// The notice after a failed disable.
inline constexpr const char kDisableFailedNotice[] =
    "Could not move that file aside. Close Oblivion Remastered and any mod manager, then try again.";

}  // namespace ember::launcher
