// What runs once a frame beside the screens: the housekeeping, the game
// watch's look at the process list (on the install worker), the realm
// refresh, and when the next of them is due.
#include "launcher/app/pipeline.h"

#include <functional>

#include "launcher/app/accounts.h"
#include "launcher/app/controller.h"
#include "base/log.h"

namespace ember::launcher::app {

void gameWatchFrame(uint64_t t) {
    GameWatch& watch = state().gameWatch;
    if (!gameWatchDue(watch, t)) return;
    // The look at the process list takes milliseconds (tens under Wine):
    // the install worker makes it, and its answer, posted back, owes the
    // frame that shows the game's end.
    watch.lastCheck = t;
    watch.looking = true;
    std::function<bool()> probe = pipelineSteps().gameRunning;
    runInstallTask([probe] {
        const bool running = probe && probe();
        postToUi([running] {
            if (gameWatchAnswer(state().gameWatch, now(), running)) logLine("the game has closed");
        });
    });
}

int64_t msUntilNextTick(uint64_t t) {
    const AppState& s = state();
    int64_t wait = -1;
    auto at = [&](uint64_t when) {
        const int64_t in = when > t ? static_cast<int64_t>(when - t) : 0;
        if (wait < 0 || in < wait) wait = in;
    };
    if (s.closeAt != 0) at(s.closeAt);
    if (s.accountWaitUntil != 0) at(s.accountWaitUntil);
    if (s.operation && s.operation->finished && !s.busy) at(s.operation->finishedAt + kOperationLingerMs);
    if (s.gameWatch.running && !s.gameWatch.looking) at(s.gameWatch.lastCheck + kGameCheckIntervalMs);
    if (!s.demo && s.preflightDone && s.accountsActive && !s.realmsInFlight) at(s.realmsFetchedAt + kRealmRefreshMs);
    return wait;
}

bool tick(uint64_t t) {
    const bool housekeeping = frameHousekeeping(t);
    gameWatchFrame(t);
    const bool refreshing = accountFrame(t);
    return housekeeping || refreshing;
}
}  // namespace ember::launcher::app
