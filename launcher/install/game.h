// Finding the game: Steam libraries from the registry and libraryfolders.vdf,
// the candidate folders in priority order, the game's version from its
// executable, and the folder the player picks by hand. Read-only.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "launcher/formats/manifest.h"

namespace ember::launcher {

struct GameCandidate {
    std::string path;     // the game folder as given
    std::string version;  // from the executable; may be empty
    std::string source;   // "env", "config" or "steam"
};

// Below a game folder: the executable that makes it one.
inline constexpr const char kGameExeRelative[] = "OblivionRemastered\\Binaries\\Win64\\OblivionRemastered-Win64-Shipping.exe";
inline constexpr const char kSteamGameRelative[] = "steamapps\\common\\Oblivion Remastered";
inline constexpr const char kPickedFolderNotGame[] = "OblivionRemastered.exe isn't in that folder.";

bool isGameFolder(const std::string& path);

// Steam's install folders from the registry: HKCU then HKLM, each under
// Software\Valve\Steam then SOFTWARE\WOW6432Node\Valve\Steam, each value
// SteamPath then InstallPath (REG_SZ only). Empty natively.
std::vector<std::string> steamRegistryRoots();
// The library paths a libraryfolders.vdf lists, in file order, with doubled
// backslashes undone and '/' turned into '\'. Empty and relative paths
// (neither rooted nor on a drive) are left out.
std::vector<std::string> parseLibraryFolders(const std::string& vdfText);
// For each root: the libraries its libraryfolders.vdf lists, then the root
// itself; ASCII-case-insensitive duplicates dropped, first spelling kept. An
// empty or relative root is skipped.
std::vector<std::string> steamLibrariesFrom(const std::vector<std::string>& roots);
std::vector<std::string> steamLibraries();

// EMBERLANE_GAME_DIR alone when set; else the configured folder, then
// <library>\steamapps\common\Oblivion Remastered for every library. Kept
// only when it is a game folder not seen before (ASCII case ignored).
std::vector<GameCandidate> findGameCandidates(const std::string& configGamePath);
// The folders looked in, for the "not found" screen, whether they exist or not.
std::vector<std::string> searchedGameFolders(const std::string& configGamePath);

// ProductVersion of the executable's version resource (its translations,
// then 040904B0), else its fixed file version "a.b.c.d"; with no version
// resource at all, EMBERLANE_GAME_VERSION or "".
std::string readGameVersion(const std::string& exePath);

// The text a folder picker returned: quotes around it removed. Empty error
// when it is a game folder (or the text is empty: cancelled).
std::string checkPickedFolder(std::string& folder);
// Shows the system folder picker ("Where is Oblivion Remastered?") starting
// at `current`; `done` gets the checked folder and an error text (both empty
// on cancel). Windows only.
void pickGameFolder(const std::string& current,
                    const std::function<void(const std::string& folder, const std::string& error)>& done);

}  // namespace ember::launcher
