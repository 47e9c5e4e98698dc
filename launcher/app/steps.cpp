// The default pipeline steps: the install module's own functions, plus the
// platform's network, process and shell calls.
#include "launcher/app/pipeline.h"
#include "launcher/app/steps_internal.h"
#include "launcher/install/apply.h"
#include "launcher/install/blocked_mods.h"
#include "launcher/install/self_update.h"

namespace ember::launcher::app {

PipelineSteps defaultPipelineSteps() {
    PipelineSteps steps;
    steps.findCandidates = findGameCandidates;
    steps.searchedFolders = searchedGameFolders;
    steps.canWrite = canWriteGameFolder;
    steps.freeSpace = freeBytes;
    // The platform's half fills selfUpdate (Windows only); the offer rule is
    // portable.
    steps.offerLauncherUpdate = launcherUpdateOffered;
    // The listed mods present in the game folder that stop the game (those
    // of severity "block"; the others are ignored).
    steps.findBlockedMods = [](const std::string& gameFolder, const Manifest& manifest, bool& refuse) {
        std::vector<FoundMod> blocking = blockingMods(findBlockedMods(gameFolder, manifest.blocked));
        refuse = !blocking.empty();
        std::vector<BlockedModFound> out;
        out.reserve(blocking.size());
        for (const FoundMod& mod : blocking) out.push_back(BlockedModFound{mod.file, mod.entry.reason});
        return out;
    };
    // Joined in with the account actions: until then the service refuses
    // every play session (and no one is signed in to ask for one).
    steps.playSession = [](const RealmChoice&, const std::string&) { return PlaySession{}; };
    steps.pickFolder = pickGameFolder;
    addPlatformSteps(steps);
    return steps;
}

}  // namespace ember::launcher::app
