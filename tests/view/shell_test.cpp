// The frame shell: the aurora's discs stand where the frame composition puts
// them at every scale, and a close while updating opens the stop-update
// confirmation instead of quitting.
#include <gtest/gtest.h>

#include <cmath>

#include "launcher/view/shell.h"
#include "tests/ui/kiln_fixture.h"

namespace ember::launcher::view {
namespace {

class ShellTest : public kiln::KilnTest {};

TEST_F(ShellTest, AuroraDiscsAreCentredOnTheirGroups) {
    css(".aurora__ring { position: absolute } win { position: absolute }");
    const struct {
        float scale, width, height;
    } cases[] = {{1.0f, 1000, 640}, {1.5f, 1600, 1000}};
    for (const auto& c : cases) {
        ShellState state;
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

TEST_F(ShellTest, ClosingWhileUpdatingAsksFirst) {
    const struct {
        const char* activity;
        bool asks;
    } cases[] = {{"updating", true}, {"repairing", true}, {"", false}, {"checking", false}};
    for (const auto& c : cases) {
        ShellState state;
        state.activity = c.activity;
        requestClose(state);
        EXPECT_EQ(state.openModal == "stop-update", c.asks) << c.activity;
        EXPECT_EQ(state.quitRequested, !c.asks) << c.activity;
    }
}

}  // namespace
}  // namespace ember::launcher::view
