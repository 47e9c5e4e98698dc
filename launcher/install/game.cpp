// The portable half of finding the game: libraryfolders.vdf, candidates and
// the searched list.
#include "launcher/install/game.h"

#include <set>

#include "base/paths.h"
#include "base/text.h"

namespace ember::launcher {

namespace {

std::string withBackslashes(std::string text) {
    for (char& c : text) {
        if (c == '/') c = '\\';
    }
    return text;
}

// A path that names the same folder whatever the current folder is: rooted
// ("\\x", "\\\\server\\share") or on a drive ("C:\\x"). Anything else
// ("", "lib", "C:lib") would be read relative to wherever the launcher runs.
bool isAnchoredPath(const std::string& path) {
    if (path.empty()) return false;
    if (path[0] == '\\' || path[0] == '/') return true;
    return path.size() >= 3 && isAsciiLetter(path[0]) && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

void appendNew(std::vector<std::string>& list, std::set<std::string>& seen, const std::string& path) {
    if (seen.insert(asciiLower(path)).second) list.push_back(path);
}

}  // namespace

bool isGameFolder(const std::string& path) { return !path.empty() && fileExists(joinPath(path, kGameExeRelative)); }

std::vector<std::string> parseLibraryFolders(const std::string& text) {
    // Only the "path" values matter; no other structure is read.
    std::vector<std::string> out;
    static const std::string kKey = "\"path\"";
    size_t at = 0;
    for (;;) {
        size_t key = text.find(kKey, at);
        if (key == std::string::npos) break;
        size_t open = text.find('"', key + kKey.size());
        if (open == std::string::npos) break;
        size_t close = text.find('"', open + 1);
        if (close == std::string::npos) break;
        std::string value = text.substr(open + 1, close - open - 1);
        std::string single;
        for (size_t i = 0; i < value.size(); ++i) {
            single += value[i];
            if (value[i] == '\\' && i + 1 < value.size() && value[i + 1] == '\\') ++i;
        }
        if (isAnchoredPath(single)) out.push_back(withBackslashes(single));
        at = close + 1;
    }
    return out;
}

std::vector<std::string> steamLibrariesFrom(const std::vector<std::string>& roots) {
    std::vector<std::string> libraries;
    std::set<std::string> seen;
    for (const std::string& root : roots) {
        if (!isAnchoredPath(root)) continue;
        std::string vdf;
        if (readWholeFile(joinPath(root, "steamapps\\libraryfolders.vdf"), vdf)) {
            for (const std::string& library : parseLibraryFolders(vdf)) appendNew(libraries, seen, library);
        }
        appendNew(libraries, seen, withBackslashes(root));
    }
    return libraries;
}

std::vector<std::string> steamLibraries() { return steamLibrariesFrom(steamRegistryRoots()); }

std::vector<GameCandidate> findGameCandidates(const std::string& configGamePath) {
    // What is offered, in priority order.
    std::vector<GameCandidate> offered;
    std::optional<std::string> env = environmentVariable("EMBERLANE_GAME_DIR");
    if (env) {
        offered.push_back({*env, "", "env"});
    } else {
        offered.push_back({configGamePath, "", "config"});
        for (const std::string& library : steamLibraries()) {
            offered.push_back({joinPath(library, kSteamGameRelative), "", "steam"});
        }
    }
    // Real game folders, first spelling wins.
    std::vector<GameCandidate> kept;
    std::set<std::string> seen;
    for (GameCandidate& candidate : offered) {
        if (candidate.path.empty() || !isGameFolder(candidate.path)) continue;
        if (!seen.insert(asciiLower(candidate.path)).second) continue;
        candidate.version = readGameVersion(joinPath(candidate.path, kGameExeRelative));
        kept.push_back(std::move(candidate));
    }
    return kept;
}

std::vector<std::string> searchedGameFolders(const std::string& configGamePath) {
    std::optional<std::string> env = environmentVariable("EMBERLANE_GAME_DIR");
    if (env) return {*env};
    std::vector<std::string> searched;
    if (!configGamePath.empty()) searched.push_back(configGamePath);
    for (const std::string& library : steamLibraries()) searched.push_back(joinPath(library, kSteamGameRelative));
    return searched;
}

std::string checkPickedFolder(std::string& folder) {
    if (folder.size() > 1 && folder.front() == '"' && folder.back() == '"') folder = folder.substr(1, folder.size() - 2);
    if (folder.empty()) return std::string();
    return isGameFolder(folder) ? std::string() : kPickedFolderNotGame;
}

}  // namespace ember::launcher
