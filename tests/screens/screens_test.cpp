// The frame: the route decided from the state (and the frame composed for
// it: the sign-in screen alone, everything else beside the realm rail),
// news dates, the aurora's discs stand where the frame composition puts them
// at every scale, a close while updating opens the stop-update confirmation instead of
// quitting, and a frame shows the Play button and notices of the state it is
// built from, not the controller's.
#include <gtest/gtest.h>

#include <cmath>

#include "launcher/app/controller.h"
#include "launcher/screens/screens.h"
#include "tests/kiln/kiln_fixture.h"

namespace ember::launcher::view {
namespace {

class ScreensTest : public kiln::KilnTest {};

TEST_F(ScreensTest, AuroraDiscsAreCentredOnTheirGroups) {
    css(".aurora__ring { position: absolute } win { position: absolute }");
    const struct {
        float scale, width, height;
    } cases[] = {{1.0f, 1000, 640}, {1.5f, 1600, 1000}};
    for (const auto& c : cases) {
        app::AppState state;
        kiln::beginFrame(c.width, c.height, c.scale);
        buildFrame(state, c.width, c.height, c.scale, 0);
        kiln::endFrame();
        const uint32_t teal = kiln::nameHash("au-teal"), blue = kiln::nameHash("au-blue");
        int seen[2] = {0, 0};
        for (int32_t i = 0; i < count(); ++i) {
            const kiln::Node& n = node(i);
            for (uint32_t k = 0; k < n.classCount; ++k) {
                if (n.classes[k] != teal && n.classes[k] != blue) continue;
                const bool isTeal = n.classes[k] == teal;
                const float cx = isTeal ? 230 * c.scale : c.width - 190 * c.scale;
                const float cy = isTeal ? 130 * c.scale : c.height - (44 + 90) * c.scale;
                const float d = kAuroraDiameters[seen[isTeal ? 0 : 1]++] * c.scale;
                EXPECT_NEAR(n.box.w, d, 0.01) << "scale " << c.scale;
                EXPECT_NEAR(n.box.x + n.box.w / 2, cx, 0.01) << "scale " << c.scale;
                EXPECT_NEAR(n.box.y + n.box.h / 2, cy, 0.01) << "scale " << c.scale;
            }
        }
        EXPECT_EQ(seen[0], 8);
        EXPECT_EQ(seen[1], 8);
    }
}

TEST_F(ScreensTest, ClosingWhileUpdatingAsksFirst) {
    for (const bool busy : {true, false}) {
        app::AppState state;
        state.busy = busy;
        requestClose(state);
        EXPECT_EQ(state.view.openModal == app::ModalKind::stopUpdate, busy) << busy;
        EXPECT_EQ(state.view.quitRequested, !busy) << busy;
    }
}

TEST_F(ScreensTest, TheRouteFollowsTheRulesInOrder) {
    css("div { display: flex }");
    const struct {
        const char* tab;
        bool accounts, signedIn, withoutAccount;
        const char* blocker;
        const char* route;
        bool nothingKnown = false;  // no manifest, fresh or saved, has answered yet
    } cases[] = {
        {"", false, false, false, "", "home"},
        {"home", false, false, false, "", "home"},
        {"settings", false, false, false, "", "settings"},
        {"", false, false, false, "game-not-found", "blocker:game-not-found"},
        {"home", true, true, false, "blocked-mods", "blocker:blocked-mods"},
        // A blocker replaces the home page only: Settings stays reachable.
        {"settings", false, false, false, "game-not-found", "settings"},
        {"settings", true, true, false, "disk-space", "settings"},
        // "restarting" wins over the Settings tab and over sign-in.
        {"settings", false, false, false, "restarting", "blocker:restarting"},
        {"", true, false, false, "restarting", "blocker:restarting"},
        {"register", true, false, false, "restarting", "blocker:restarting"},
        // Sign-in comes before any other blocker and any tab.
        {"", true, false, false, "", "login"},
        {"settings", true, false, false, "game-not-found", "login"},
        {"register", true, false, false, "", "register"},
        {"login", true, false, false, "", "login"},
        // Playing without an account skips it.
        {"", true, false, true, "", "home"},
        {"register", true, false, true, "permission", "home"},
        // A realm without an account service never shows it, whatever the tab says.
        {"login", false, false, false, "", "home"},
        {"register", false, false, false, "", "home"},
        {"register", false, false, false, "no-network", "home"},
        // Signed in: a left-over sign-in tab is the home page.
        {"login", true, true, false, "", "home"},
        // Before the first manifest neither the home page nor sign-in: a
        // neutral check, beside no rail. Settings and blockers stay.
        {"", false, false, false, "", "checking", true},
        {"home", false, false, false, "", "checking", true},
        {"settings", false, false, false, "", "settings", true},
        {"", false, false, false, "game-not-found", "blocker:game-not-found", true},
    };
    for (const auto& c : cases) {
        app::AppState& state = app::state();
        state = app::AppState();
        state.demo = true;
        ASSERT_TRUE(app::parseKind(c.tab, state.tab)) << c.tab;
        state.accountsActive = c.accounts;
        state.signedIn = c.signedIn;
        state.playWithoutAccount = c.withoutAccount;
        ASSERT_TRUE(app::parseKind(c.blocker, state.blocker.kind)) << c.blocker;
        state.manifestLoaded = state.preflightDone = !c.nothingKnown;
        const std::string label = std::string("tab '") + c.tab + "' blocker '" + c.blocker + "' accounts " +
                                  (c.accounts ? "on" : "off") + (c.signedIn ? " signed in" : "") +
                                  (c.withoutAccount ? " without account" : "");
        EXPECT_EQ(spelling(route(state)), c.route) << label;

        kiln::beginFrame(1000, 640, 1);
        buildFrame(state, 1000, 640, 1, 0);
        kiln::endFrame();
        int rails = 0;
        for (int32_t i = 0; i < count(); ++i)
            for (uint32_t k = 0; k < node(i).classCount; ++k)
                if (node(i).classes[k] == kiln::nameHash("rail")) ++rails;
        const bool alone = std::string(c.route) == "login" || std::string(c.route) == "register" ||
                           std::string(c.route) == "checking";
        EXPECT_EQ(rails, alone ? 0 : 1) << label
                                        << ": the sign-in and checking screens stand alone, every other beside the rail";
    }
    app::state() = app::AppState();
}

TEST_F(ScreensTest, AFrameShowsThePlayButtonAndNoticesOfTheStateItIsBuiltFrom) {
    css("div { display: flex }");
    auto home = [](app::AppState& s) {
        s.demo = true;
        s.version = "2.1.0";
        s.manifestLoaded = s.preflightDone = true;
        s.plan.known = true;
    };
    // The controller's own state plays offline (and says so in a strip);
    // the two built beside it must not borrow its button or its strip.
    app::AppState& controller = app::state();
    controller = app::AppState();
    home(controller);
    controller.offline = true;
    app::AppState ready, running;
    home(ready);
    ready.plan.upToDate = true;
    ready.manifest.clientVersion = "1.4.2";
    home(running);
    running.plan.upToDate = true;
    running.gameWatch.running = true;
    const struct {
        const char* name;
        app::AppState* state;
        const char* label;
        const char* sub;
        bool offlineStrip;
    } cases[] = {
        {"ready", &ready, "PLAY", "Up to date \xC2\xB7 client 1.4.2", false},
        {"running", &running, "GAME RUNNING", "Oblivion Remastered is running", false},
        {"the controller's", &controller, "PLAY OFFLINE", "Using the client you already have", true},
    };
    const uint32_t labelClass = kiln::nameHash("play__text"), subClass = kiln::nameHash("play__sub"),
                   stripClass = kiln::nameHash("strip__title");
    for (const auto& c : cases) {
        kiln::beginFrame(1000, 640, 1);
        buildFrame(*c.state, 1000, 640, 1, 0);
        kiln::endFrame();
        std::string label, sub;
        bool offlineStrip = false;
        for (int32_t i = 0; i < count(); ++i) {
            const kiln::Node& n = node(i);
            if (n.kind != kiln::KindText) continue;
            const std::string text(kiln::nodeText(n));
            for (uint32_t k = 0; k < n.classCount; ++k) {
                if (n.classes[k] == labelClass) label = text;
                if (n.classes[k] == subClass) sub = text;
                if (n.classes[k] == stripClass && text.rfind("Can't reach", 0) == 0) offlineStrip = true;
            }
        }
        EXPECT_EQ(label, c.label) << c.name;
        EXPECT_EQ(sub, c.sub) << c.name;
        EXPECT_EQ(offlineStrip, c.offlineStrip) << c.name;
    }
    app::state() = app::AppState();
}

}  // namespace
}  // namespace ember::launcher::view
