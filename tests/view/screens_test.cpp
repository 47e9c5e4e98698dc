// The frame: the aurora's discs stand where the frame composition puts them
// at every scale, the cursor and drag area follow what is under the point,
// and a close while updating opens the stop-update confirmation instead of
// quitting.
#include <gtest/gtest.h>

#include <cmath>

#include "launcher/view/screens.h"
#include "tests/ui/kiln_fixture.h"

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

TEST_F(ScreensTest, CursorAndDragAreaFollowWhatIsUnderThePoint) {
    css("win { position: absolute; left: 0; top: 0; right: 0; bottom: 0; display: flex; flex-direction: column } "
        "titlebar { display: flex; flex-direction: row; height: 44 } body { flex: 1 } "
        ".tabs { display: flex; flex-direction: row } .tabs__item { width: 80; height: 44 } "
        ".kit__row { display: flex; flex-direction: row } .input { width: 200; height: 30 }");
    app::AppState state;
    state.demo = true;
    state.view.scene = "kit";
    for (int i = 0; i < 2; ++i) {  // the second build sees the first one's rectangles
        kiln::beginFrame(1000, 640, 1);
        buildFrame(state, 1000, 640, 1, 0);
        kiln::endFrame();
    }
    kiln::Rect input, readOnly, tabRect;
    for (int32_t i = 0; i < count(); ++i) {
        const kiln::Node& n = node(i);
        for (uint32_t k = 0; k < n.classCount; ++k) {
            if (n.classes[k] == kiln::nameHash("is-readonly")) readOnly = n.box;
            if (n.classes[k] == kiln::nameHash("tabs__item") && tabRect.w == 0) tabRect = n.box;
        }
        if (n.classCount == 1 && n.classes[0] == kiln::nameHash("input") && input.w == 0) input = n.box;
    }
    ASSERT_GT(input.w, 0);
    ASSERT_GT(readOnly.w, 0);
    ASSERT_GT(tabRect.w, 0);
    EXPECT_EQ(cursorAt(input.x + 5, input.y + 5), 2) << "an editable field";
    EXPECT_EQ(cursorAt(readOnly.x + 5, readOnly.y + 5), 1) << "a read-only field is only clickable";
    EXPECT_EQ(cursorAt(tabRect.x + 5, tabRect.y + 5), 1) << "a tab";
    EXPECT_FALSE(onTitleBarDragArea(tabRect.x + 5, tabRect.y + 5)) << "tabs are not for dragging";
    EXPECT_TRUE(onTitleBarDragArea(990, 5)) << "the title bar's empty end drags";
    EXPECT_FALSE(onTitleBarDragArea(500, 300)) << "the body does not drag";
}

TEST_F(ScreensTest, ClosingWhileUpdatingAsksFirst) {
    for (const bool busy : {true, false}) {
        app::AppState state;
        state.busy = busy;
        requestClose(state);
        EXPECT_EQ(state.view.openModal == "stop-update", busy) << busy;
        EXPECT_EQ(state.view.quitRequested, !busy) << busy;
    }
}

}  // namespace
}  // namespace ember::launcher::view
