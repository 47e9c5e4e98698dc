// The main window's portable rules: hit codes of the drawn edges and title
// bar, the minimum size, the owed-frames table, the closing rule and the
// screenshot automation's schedule.
#include <gtest/gtest.h>

#include "launcher/shell/window.h"

namespace ember::launcher {
namespace {

TEST(WindowHitTest, EdgesCornersAndTitleBarAtEachScale) {
    struct Case {
        float scale;
        bool maximised, title;
        int x, y, want;
    };
    // A 1000 x 640 client; the border is 6 px at scale 1, 9 px at 1.5.
    const Case cases[] = {
        {1.0f, false, false, 0, 0, kHitTopLeft},         {1.0f, false, false, 999, 0, kHitTopRight},
        {1.0f, false, false, 0, 639, kHitBottomLeft},    {1.0f, false, false, 999, 639, kHitBottomRight},
        {1.0f, false, false, 500, 639, kHitBottom},      {1.0f, false, false, 500, 634, kHitBottom},
        {1.0f, false, false, 500, 633, kHitClient},      {1.0f, false, false, 5, 300, kHitLeft},
        {1.0f, false, false, 6, 300, kHitClient},        {1.0f, false, false, 994, 300, kHitRight},
        {1.0f, false, false, 993, 300, kHitClient},      {1.0f, false, false, 500, 5, kHitTop},
        {1.0f, false, true, 500, 5, kHitTop},            {1.0f, false, true, 500, 20, kHitCaption},
        {1.0f, false, false, 500, 20, kHitClient},       {1.5f, false, false, 8, 300, kHitLeft},
        {1.5f, false, false, 9, 300, kHitClient},        {1.5f, false, false, 991, 300, kHitRight},
        {1.5f, false, false, 990, 300, kHitClient},      {1.5f, false, false, 8, 8, kHitTopLeft},
        {1.5f, false, true, 500, 8, kHitTop},            {1.5f, false, true, 500, 9, kHitCaption},
        // Maximised: no edges at all, the title bar still drags.
        {1.0f, true, false, 0, 0, kHitClient},           {1.0f, true, false, 999, 639, kHitClient},
        {1.0f, true, true, 0, 0, kHitCaption},           {1.5f, true, true, 500, 3, kHitCaption},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(hitTestWindow(c.x, c.y, 1000, 640, c.scale, c.maximised, c.title), c.want)
            << "(" << c.x << ", " << c.y << ") at scale " << c.scale << (c.maximised ? " maximised" : "")
            << (c.title ? " on the title bar" : "");
    }
}

TEST(WindowHitTest, MinimumTrackSizeFollowsTheScale) {
    const struct {
        float scale;
        int w, h;
    } cases[] = {{1.0f, 900, 580}, {1.5f, 1350, 870}, {1.25f, 1125, 725}, {1.33f, 1197, 771}};
    for (const auto& c : cases) {
        int w = 0, h = 0;
        minimumTrackSize(c.scale, w, h);
        EXPECT_EQ(w, c.w) << c.scale;
        EXPECT_EQ(h, c.h) << c.scale;
    }
}

TEST(OwedFrames, EachMessageRaisesSetsOrKeeps) {
    struct Case {
        uint32_t message;
        int before;
        int after;
    };
    const Case cases[] = {
        {kMsgPaint, 0, 1},        {kMsgPaint, 2, 2},          {kiln::kWmMouseMove, 0, 1},     {kiln::kWmMouseMove, 3, 3},
        {kMsgMouseLeave, 0, 1},   {kMsgNcMouseMove, 0, 1},    {kMsgSize, 3, 2},          {kMsgSize, 0, 2},
        {kMsgExitSizeMove, 3, 2}, {kMsgDpiChanged, 0, 2},     {kMsgClose, 0, 3},         {kiln::kWmLButtonDown, 1, 3},
        {kiln::kWmLButtonDblClk, 0, 3}, {kiln::kWmLButtonUp, 0, 3},     {kiln::kWmRButtonDown, 0, 3},   {kiln::kWmRButtonUp, 0, 3},
        {kiln::kWmMouseWheel, 0, 3},   {kiln::kWmKeyDown, 0, 3},        {kiln::kWmSysKeyDown, 0, 3},    {kiln::kWmChar, 0, 3},
        {kMsgApp1, 0, 2},         {kMsgApp1, 3, 3},           {0x0113 /* WM_TIMER */, 1, 1},
        {kMsgSysColorChange, 0, 2}, {kMsgSettingChange, 3, 3}, {kMsgThemeChanged, 1, 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(owedAfter(c.message, c.before), c.after) << "message 0x" << std::hex << c.message;
    }
    EXPECT_EQ(owedAfter(kMsgActivate, 0, true), 1);
    EXPECT_EQ(owedAfter(kMsgActivate, 0, false), 0) << "deactivation owes nothing";
}

TEST(Closing, SecondCloseWithinThirtySecondsOfABusyOneQuits) {
    CloseState state;
    // Not busy: the screens decide (they quit), nothing recorded.
    EXPECT_EQ(onClose(state, false, 1000), CloseAction::AskScreens);
    EXPECT_EQ(state.firstBusyClose, 0u);
    // Busy: the confirmation; a second close within 30 s quits at once.
    EXPECT_EQ(onClose(state, true, 5000), CloseAction::AskScreens);
    EXPECT_EQ(onClose(state, true, 5000 + kSecondCloseMs), CloseAction::Quit);
    // After 30 s the confirmation comes back, and the clock starts again.
    CloseState late;
    EXPECT_EQ(onClose(late, true, 5000), CloseAction::AskScreens);
    EXPECT_EQ(onClose(late, true, 5001 + kSecondCloseMs), CloseAction::AskScreens);
    EXPECT_EQ(onClose(late, true, 5002 + kSecondCloseMs), CloseAction::Quit);
}

TEST(ScreenshotAutomation, MouseOnTheThirdFrameWheelOnTheFourthBackOnTheFifth) {
    AutomationSettings both{true, 10, 20, 30, 40, -2};
    AutomationStep steps[2];
    EXPECT_EQ(automationSteps(both, 0, steps), 0);
    EXPECT_EQ(automationSteps(both, 1, steps), 0);
    ASSERT_EQ(automationSteps(both, 2, steps), 1);
    EXPECT_TRUE(steps[0].placePointer && !steps[0].wheel);
    EXPECT_EQ(steps[0].x, 10);
    ASSERT_EQ(automationSteps(both, 3, steps), 1);
    EXPECT_TRUE(steps[0].wheel);
    EXPECT_EQ(steps[0].x, 30);
    EXPECT_EQ(steps[0].delta, -2);
    ASSERT_EQ(automationSteps(both, 4, steps), 1);
    EXPECT_EQ(steps[0].x, 10) << "the pointer goes back to --mouse";
    EXPECT_EQ(automationSteps(both, 5, steps), 0);

    AutomationSettings wheelOnly{false, 0, 0, 30, 40, 1};
    EXPECT_EQ(automationSteps(wheelOnly, 2, steps), 0);
    ASSERT_EQ(automationSteps(wheelOnly, 4, steps), 1);
    EXPECT_EQ(steps[0].x, -10000) << "without --mouse the pointer leaves the window";

    AutomationSettings none;
    for (int frame = 0; frame < 6; ++frame) EXPECT_EQ(automationSteps(none, frame, steps), 0);
}

}  // namespace
}  // namespace ember::launcher
