// POSIX twin: no registry and no version resources, so Steam is never found
// and only the environment fallback gives a version.
#include "launcher/install/game.h"

#include "base/paths.h"

namespace ember::launcher {

std::vector<std::string> steamRegistryRoots() { return {}; }

std::string readGameVersion(const std::string&) {
    return environmentVariable("EMBERLANE_GAME_VERSION").value_or(std::string());
}

void pickGameFolder(const std::string&, const std::function<void(const std::string&, const std::string&)>& done) {
    done(std::string(), std::string());
}

}  // namespace ember::launcher
