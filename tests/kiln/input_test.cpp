// Input: window messages to events, the bounded queue, draining into the
// frame's state, UTF-16 joining and what feedMessage tells the window.
#include <thread>
#include <vector>

#include "tests/kiln/kiln_fixture.h"

namespace kiln {
namespace {

int64_t coords(int x, int y) { return int64_t((uint32_t(uint16_t(int16_t(y))) << 16) | uint16_t(int16_t(x))); }
uint64_t wheelDelta(int delta) { return uint64_t(uint16_t(int16_t(delta))) << 16; }

TEST(MapMessageTest, EveryTakenMessageAndSomeThatAreNot) {
    struct Case {
        const char* what;
        uint32_t message;
        uint64_t wParam;
        int64_t lParam;
        bool ctrl;
        bool mapped;
        InputEvent want;
    };
    auto ev = [](uint32_t kind, float x, float y, uint32_t button, float wheel, uint32_t code) {
        InputEvent e;
        e.kind = kind;
        e.x = x;
        e.y = y;
        e.button = button;
        e.wheel = wheel;
        e.code = code;
        return e;
    };
    const Case cases[] = {
        {"move", 0x0200, 0, coords(120, 45), false, true, ev(EventMove, 120, 45, 0, 0, 0)},
        {"move with negative words", 0x0200, 0, coords(-5, -10), false, true, ev(EventMove, -5, -10, 0, 0, 0)},
        {"left down", 0x0201, 1, coords(3, 4), false, true, ev(EventButtonDown, 3, 4, 0, 0, 0)},
        {"left up", 0x0202, 0, coords(3, 4), false, true, ev(EventButtonUp, 3, 4, 0, 0, 0)},
        {"left double-click is a press", 0x0203, 1, coords(3, 4), false, true, ev(EventButtonDown, 3, 4, 0, 0, 0)},
        {"right down", 0x0204, 2, coords(7, 8), false, true, ev(EventButtonDown, 7, 8, 1, 0, 0)},
        {"right up", 0x0205, 0, coords(7, 8), false, true, ev(EventButtonUp, 7, 8, 1, 0, 0)},
        {"right double-click is a press", 0x0206, 2, coords(7, 8), false, true, ev(EventButtonDown, 7, 8, 1, 0, 0)},
        {"wheel up", 0x020A, wheelDelta(120), 0, false, true, ev(EventWheel, 0, 0, 0, 1, 0)},
        {"wheel down two notches", 0x020A, wheelDelta(-240) | 0x0008, 0, false, true, ev(EventWheel, 0, 0, 0, -2, 0)},
        {"wheel half notch", 0x020A, wheelDelta(60), 0, false, true, ev(EventWheel, 0, 0, 0, 0.5f, 0)},
        {"key down", 0x0100, 0x41, 0, false, true, ev(EventKeyDown, 0, 0, 0, 0, 0x41)},
        {"V", 0x0100, 0x56, 0, false, true, ev(EventKeyDown, 0, 0, 0, 0, 0x56)},
        {"Ctrl+V is the paste chord", 0x0100, 0x56, 0, true, true, ev(EventKeyDown, 0, 0, 0, 0, 0x10056)},
        {"Ctrl+C stays C", 0x0100, 0x43, 0, true, true, ev(EventKeyDown, 0, 0, 0, 0, 0x43)},
        {"system key down", 0x0104, 0x73, 0, false, true, ev(EventKeyDown, 0, 0, 0, 0, 0x73)},
        {"system Ctrl+V", 0x0104, 0x56, 0, true, true, ev(EventKeyDown, 0, 0, 0, 0, 0x10056)},
        {"key up", 0x0101, 0x56, 0, true, true, ev(EventKeyUp, 0, 0, 0, 0, 0x56)},
        {"system key up", 0x0105, 0x12, 0, false, true, ev(EventKeyUp, 0, 0, 0, 0, 0x12)},
        {"character", 0x0102, 0xE9, 0, false, true, ev(EventChar, 0, 0, 0, 0, 0xE9)},
        {"surrogate unit", 0x0102, 0xD83D, 0, false, true, ev(EventChar, 0, 0, 0, 0, 0xD83D)},
        {"WM_CLOSE", 0x0010, 0, 0, false, false, InputEvent{}},
        {"horizontal wheel", 0x020E, wheelDelta(120), 0, false, false, InputEvent{}},
        {"middle button", 0x0207, 0, 0, false, false, InputEvent{}},
        {"WM_MOUSELEAVE", 0x02A3, 0, 0, false, false, InputEvent{}},
    };
    for (const Case& c : cases) {
        InputEvent got;
        got.code = 999;
        ASSERT_EQ(mapMessage(c.message, c.wParam, c.lParam, c.ctrl, got), c.mapped) << c.what;
        if (!c.mapped) continue;
        EXPECT_EQ(got.kind, c.want.kind) << c.what;
        EXPECT_EQ(got.x, c.want.x) << c.what;
        EXPECT_EQ(got.y, c.want.y) << c.what;
        EXPECT_EQ(got.button, c.want.button) << c.what;
        EXPECT_EQ(got.wheel, c.want.wheel) << c.what;
        EXPECT_EQ(got.code, c.want.code) << c.what;
    }
}

class InputTest : public KilnTest {};

TEST_F(InputTest, FeedMessageSaysWhetherTheToolkitTookIt) {
    css(".solid { height: 100; background: #123456; }");
    uint64_t focus = 0;
    setFocusIdPointer(&focus);

    // Before the toolkit has started nothing is taken or queued.
    EXPECT_FALSE(feedMessage(0x0201, 0, coords(10, 10), false));
    EXPECT_EQ(ui().queued, 0u);
    setToolkitStarted(true);

    // A frame with the mouse over the drawn box sets the over-painted flag.
    setMouseInWindow(true);
    mouseTo(10, 10);
    frame([] {
        openElement("div.solid");
        closeElement();
    });
    ASSERT_TRUE(overPainted());

    struct Case {
        const char* what;
        bool inWindow, capture;
        uint64_t focus;
        uint32_t message;
        bool taken;
    };
    const Case cases[] = {
        {"move", true, true, 5, 0x0200, false},
        {"press on something drawn", true, false, 0, 0x0201, true},
        {"release on something drawn", true, false, 0, 0x0202, true},
        {"wheel on something drawn", true, false, 0, 0x020A, true},
        {"right press", true, false, 0, 0x0204, true},
        {"press with the mouse outside", false, false, 0, 0x0201, false},
        {"key with capture and focus", true, true, 5, 0x0100, true},
        {"character with capture and focus", true, true, 5, 0x0102, true},
        {"key up with capture and focus", true, true, 5, 0x0101, true},
        {"key without capture", true, false, 5, 0x0100, false},
        {"key without focus", true, true, 0, 0x0100, false},
        {"unknown message", true, true, 5, 0x0010, false},
    };
    for (const Case& c : cases) {
        ui().mouseInWindow = c.inWindow;  // keep the frame's flags as they are
        setKeyboardCapture(c.capture);
        focus = c.focus;
        size_t before = ui().queued;
        EXPECT_EQ(feedMessage(c.message, 0, 0, false), c.taken) << c.what;
        EXPECT_EQ(ui().queued, before + (c.message == 0x0010 ? 0 : 1)) << c.what;
    }
    // Over nothing drawn, a press belongs to the window (a drag).
    mouseTo(10, 300);
    setMouseInWindow(true);
    frame([] {
        openElement("div.solid");
        closeElement();
    });
    EXPECT_FALSE(overPainted());
    EXPECT_FALSE(feedMessage(0x0201, 0, coords(10, 300), false));
    setFocusIdPointer(nullptr);
    setKeyboardCapture(true);
    EXPECT_FALSE(feedMessage(0x0100, 0x41, 0, false)) << "no focus pointer at all";
}

TEST_F(InputTest, TheQueueKeepsTheFirst256EventsOfAFrame) {
    int accepted = 0;
    for (int i = 0; i < 300; ++i) {
        InputEvent e;
        e.kind = EventMove;
        e.x = float(i);
        e.y = float(2 * i);
        accepted += queueEvent(e) ? 1 : 0;
    }
    EXPECT_EQ(accepted, 256);
    frame([] {});
    EXPECT_EQ(mouseX(), 255);
    EXPECT_EQ(mouseY(), 510);
    // The next frame has room again.
    mouseTo(1, 2);
    frame([] {});
    EXPECT_EQ(mouseX(), 1);
}

TEST_F(InputTest, DrainingFillsTheFrameState) {
    struct Case {
        const char* what;
        std::vector<InputEvent> events;
        bool down, pressed, released;
        bool rightDown;
        float wheel;
        std::vector<uint32_t> keys;
    };
    auto e = [](uint32_t kind, uint32_t button = 0, float wheel = 0, uint32_t code = 0) {
        InputEvent ev;
        ev.kind = kind;
        ev.button = button;
        ev.wheel = wheel;
        ev.code = code;
        return ev;
    };
    // Cases run in order: the button state carries from frame to frame.
    const Case cases[] = {
        {"press", {e(EventButtonDown)}, true, true, false, false, 0, {}},
        {"held", {}, true, false, false, false, 0, {}},
        {"release", {e(EventButtonUp)}, false, false, true, false, 0, {}},
        {"click within one frame", {e(EventButtonDown), e(EventButtonUp)}, false, true, true, false, 0, {}},
        {"right button is separate", {e(EventButtonDown, 1)}, false, false, false, true, 0, {}},
        {"unknown button ignored", {e(EventButtonUp, 7)}, false, false, false, true, 0, {}},
        {"wheel sums", {e(EventWheel, 0, 1), e(EventWheel, 0, 0.5f), e(EventWheel, 0, -2)}, false, false, false, true,
         -0.5f, {}},
        {"keys in order, key ups ignored",
         {e(EventKeyDown, 0, 0, 0x25), e(EventKeyUp, 0, 0, 0x25), e(EventKeyDown, 0, 0, kPasteChord)},
         false, false, false, true, 0, {0x25, kPasteChord}},
    };
    for (const Case& c : cases) {
        for (const InputEvent& ev : c.events) queueEvent(ev);
        frame([] {});
        EXPECT_EQ(mouseDown(0), c.down) << c.what;
        EXPECT_EQ(mousePressed(0), c.pressed) << c.what;
        EXPECT_EQ(mouseReleased(0), c.released) << c.what;
        EXPECT_EQ(mouseDown(1), c.rightDown) << c.what;
        EXPECT_EQ(frameKeys(), c.keys) << c.what;
        EXPECT_EQ(ui().wheel, c.wheel) << c.what;  // no scroll container used it
    }
}

TEST_F(InputTest, Utf16UnitsJoinIntoCodePoints) {
    struct Case {
        const char* what;
        std::vector<std::vector<uint32_t>> frames;  // units queued before each frame
        std::vector<std::vector<uint32_t>> chars;   // code points each frame saw
    };
    const Case cases[] = {
        {"plain units", {{0x41, 0xE9, 0x20AC}}, {{0x41, 0xE9, 0x20AC}}},
        {"a surrogate pair", {{0xD83D, 0xDE00}}, {{0x1F600}}},
        {"a stray low surrogate", {{0x41, 0xDE00, 0x42}}, {{0x41, 0xFFFD, 0x42}}},
        {"a high surrogate broken by a letter", {{0xD83D, 0x41}}, {{0xFFFD, 0x41}}},
        {"two highs, then a low", {{0xD83D, 0xD83D, 0xDE00}}, {{0xFFFD, 0x1F600}}},
        {"a pair split across frames", {{0x41, 0xD83D}, {0xDE00}}, {{0x41}, {0x1F600}}},
        {"the highest pair", {{0xDBFF, 0xDFFF}}, {{0x10FFFF}}},
    };
    for (const Case& c : cases) {
        resetContext();
        setStylesheet(&sheet_);
        for (size_t f = 0; f < c.frames.size(); ++f) {
            for (uint32_t unit : c.frames[f]) {
                InputEvent ev;
                ev.kind = EventChar;
                ev.code = unit;
                queueEvent(ev);
            }
            frame([] {});
            EXPECT_EQ(frameChars(), c.chars[f]) << c.what << ", frame " << f;
        }
    }
}

TEST_F(InputTest, ADoubleClickGivesTwoPresses) {
    css(".b { height: 40; }");
    setToolkitStarted(true);
    setMouseInWindow(true);
    bool pressed = false;
    auto build = [&] {
        pressed = buttonElement("div.b");
        closeElement();
    };
    feedMessage(0x0200, 0, coords(10, 10), false);
    frame(build);
    // What Windows sends for a double-click, one frame per click.
    const uint32_t clicks[][2] = {{0x0201, 0x0202}, {0x0203, 0x0202}};
    for (const auto& click : clicks) {
        feedMessage(click[0], 1, coords(10, 10), false);
        feedMessage(click[1], 0, coords(10, 10), false);
        frame(build);
        EXPECT_TRUE(pressed) << std::hex << click[0];
    }
}

TEST_F(InputTest, LeavingTheWindowClearsHotAndActive) {
    css(".b { height: 40; }");
    setMouseInWindow(true);
    auto build = [] {
        buttonElement("div.b");
        closeElement();
    };
    frame(build);
    mouseTo(5, 5);
    button(EventButtonDown);
    frame(build);
    EXPECT_NE(hotId(), 0u);
    EXPECT_EQ(activeId(), hotId());
    setMouseInWindow(false);
    EXPECT_EQ(hotId(), 0u);
    EXPECT_EQ(activeId(), 0u);
    frame(build);
    EXPECT_EQ(hotId(), 0u) << "outside the window nothing is hot";
}

TEST_F(InputTest, EventsFromAnotherThreadArriveInOrderOrAreDropped) {
    constexpr uint32_t kTotal = 20000;
    std::vector<uint32_t> seen;
    uint32_t dropped = 0;
    std::thread producer([&] {
        for (uint32_t i = 0; i < kTotal; ++i) {
            InputEvent ev;
            ev.kind = EventKeyDown;
            ev.code = i;
            if (!queueEvent(ev)) ++dropped;
        }
    });
    // Drain while the other thread queues; a final drain after it ends.
    for (int f = 0; f < 200; ++f) {
        frame([] {});
        seen.insert(seen.end(), frameKeys().begin(), frameKeys().end());
    }
    producer.join();
    frame([] {});
    seen.insert(seen.end(), frameKeys().begin(), frameKeys().end());
    EXPECT_EQ(seen.size() + dropped, kTotal);
    for (size_t i = 1; i < seen.size(); ++i) ASSERT_LT(seen[i - 1], seen[i]) << "at " << i;
}

}  // namespace
}  // namespace kiln
