// The developers' widget scene in the frame: the cursor and the title bar's
// drag area follow what is under the point.
#include <gtest/gtest.h>

#include "launcher/demo/demo.h"
#include "launcher/screens/screens.h"
#include "tests/kiln/kiln_fixture.h"

namespace ember::launcher::view {
namespace {

class KitSceneTest : public kiln::KilnTest {};

TEST_F(KitSceneTest, CursorAndDragAreaFollowWhatIsUnderThePoint) {
    css("win { position: absolute; left: 0; top: 0; right: 0; bottom: 0; display: flex; flex-direction: column } "
        "titlebar { display: flex; flex-direction: row; height: 44 } body { flex: 1 } "
        ".tabs { display: flex; flex-direction: row } .tabs__item { width: 80; height: 44 } "
        ".kit__row { display: flex; flex-direction: row } .input { width: 200; height: 30 }");
    app::AppState state;
    state.demo = true;
    state.view.scene = "kit";
    for (int i = 0; i < 2; ++i) {  // the second build sees the first one's rectangles
        kiln::beginFrame(1000, 640, 1);
        buildFrame(state, 1000, 640, 1, 0, demoBody(state));
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

}  // namespace
}  // namespace ember::launcher::view
