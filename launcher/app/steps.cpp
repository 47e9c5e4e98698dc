// The default pipeline steps: the install module's own functions, plus the
// platform's network, process and shell calls.
#include "launcher/app/pipeline.h"
#include "launcher/app/steps_internal.h"
#include "launcher/install/apply.h"
#include "launcher/install/blocked_mods.h"

namespace ember::launcher::app {

PipelineSteps defaultPipelineSteps() {
    PipelineSteps steps;
    steps.findCandidates = findGameCandidates;
    steps.searchedFolders = searchedGameFolders;
    steps.canWrite = canWriteGameFolder;
    steps.freeSpace = freeBytes;
    // Joined in with the self-update module: until then there is no
    // launcher update, and nothing is ever offered.
    steps.selfUpdate = [](const Manifest&, Config&, const Reporter&, std::string&) { return false; };
    steps.offerLauncherUpdate = [](const Manifest&, const Config&, const std::string&) { return false; };
    // The listed mods present in the game folder; any of severity "block"
    // refuses the game.
    steps.findBlockedMods = [](const std::string& gameFolder, const Manifest& manifest, bool& refuse) {
        std::vector<FoundMod> found = findBlockedMods(gameFolder, manifest.blocked);
        refuse = !blockingMods(found).empty();
        std::vector<BlockedModFound> out;
        out.reserve(found.size());
        for (const FoundMod& mod : found) out.push_back(BlockedModFound{mod.file, mod.entry.reason});
        return out;
    };
    // Joined in with the account actions: until then the service refuses
    // every play session (and no one is signed in to ask for one).
    steps.playSession = [](const RealmChoice&, const std::string&) { return PlaySession{}; };
    addPlatformSteps(steps);
    return steps;
}

}  // namespace ember::launcher::app
