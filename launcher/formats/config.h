// config.json: the launcher's memory between runs.
//
// The game folder, the player id, the chosen channel, realm and character,
// the last manifest and client version, a record of every installed client
// file (so unchanged files are not hashed again), the pending self-update,
// the signed-in account's public details and a few preferences. Loaded once
// at start, written back whole and atomically after every change. A file
// that cannot be parsed is set aside as config.json.corrupt, never lost.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace ember::launcher {

// What the launcher installed at one manifest path.
struct InstalledFile {
    std::string sha256;
    int64_t size = 0;
    // Raw Windows file time of the last write; carried as an exact 64-bit
    // whole number so the fast path survives a restart.
    int64_t mtime = 0;
};

// The newest signed manifest accepted from one address: its sequence and a
// digest of its bytes (the same sequence with other bytes is refused).
struct AcceptedManifest {
    uint64_t sequence = 0;
    std::string digest;
};

struct Config {
    // Where and what the player plays.
    std::string gamePath;
    std::string channel;
    std::string characterId;
    std::string realm;

    // The last accepted manifest and the client version installed from it.
    std::string lastClientVersion;
    std::string lastManifest;
    // Its signature file, the address it came from and its sequence: the
    // copy is checked again whenever it is used.
    std::string lastManifestSignature;
    std::string lastManifestUrl;
    uint64_t lastManifestSequence = 0;
    // Manifest address -> the newest accepted there (never lowered).
    std::map<std::string, AcceptedManifest> acceptedManifests;

    // The player id (0: not yet assigned).
    int64_t profileId = 0;

    // Manifest path (exactly as published) -> what was installed there.
    std::map<std::string, InstalledFile> installed;

    // Pending launcher self-update.
    std::string selfUpdateTarget;
    int32_t selfUpdateAttempts = 0;
    int64_t selfUpdateAt = 0;

    // The signed-in account's public details.
    std::string accountEmail;
    std::string accountId;
    std::string accountDisplayName;

    // Preferences.
    std::string manifestUrl;
    bool ignoreVersion = false;
    // The download speed limit in tenths of a MB/s (MiB, as the progress
    // block counts them); 0: off. Kept as "downloadLimitMBps": 2.5.
    uint32_t downloadLimitTenths = 0;
    bool rememberEmail = true;
    bool seenFirstRunNote = false;
    bool seenPlayerIdIntro = false;

    // Set by loadConfig when an unreadable file was set aside; never stored.
    bool settingsWereReset = false;
};

// The limit's range, in tenths of a MB/s: 0.1 to 1000.
inline constexpr uint32_t kLowestLimitTenths = 1;
inline constexpr uint32_t kHighestLimitTenths = 10000;
// The limit in bytes a second (0: off).
inline uint64_t downloadLimitBytes(uint32_t tenths) { return static_cast<uint64_t>(tenths) * 1048576 / 10; }

// joinPath(configDir(), "config.json").
std::string configPath();
// Defaults when the file is missing; an unparseable file is renamed to
// config.json.corrupt and the defaults come back with settingsWereReset set.
Config loadConfig();
// Writes the whole record atomically; false leaves the previous file intact.
// What the file on disk has accepted is never lowered: a newer accepted
// manifest there (recorded by the worker that accepted it) is kept, and
// with it the cached copy when that is the newer one.
bool saveConfig(const Config& config);
// The merge saveConfig makes: `config` keeps the higher of each address's
// accepted sequence, and `onDisk`'s cached manifest when it is newer.
void keepNewerAcceptance(Config& config, const Config& onDisk);

// Records a manifest just accepted (its address, sequence and digest, and
// the manifest with its signature as the cached copy) in config.json on
// disk, keeping everything else there as it is. The worker that accepted it
// calls this before anything acts on the manifest, so a launcher stopped at
// any point never forgets an acceptance it acted on. False: not written.
bool recordAcceptedManifest(const std::string& url, const AcceptedManifest& accepted, const std::string& text,
                            const std::string& signature);

// The pure halves of load and save, for tests and tools.
Config configFromText(const std::string& text, bool& unparseable);
std::string configToText(const Config& config);

// A fresh player id from the wall clock (ms since 1970) and the tick count:
// (ms mod 10^9) * 1000 + tick mod 1000 -- positive, at most twelve digits.
int64_t makeProfileId(uint64_t unixMs, uint64_t tickMs);

// What the log and the notice say after a set-aside.
inline constexpr const char kConfigResetLog[] = "config.json was unreadable and has been set aside";

}  // namespace ember::launcher
