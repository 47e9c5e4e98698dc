// The element tree: specs, identities, memory and eviction, buttons, scroll
// containers, hit testing and the over-painted flag.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "tests/kiln/kiln_fixture.h"

// Counts heap allocations while a test asks for it, to hold the frame to
// its no-allocation promise in the steady state.
namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};
}  // namespace

// Through pointers, so the compiler does not pair new with free itself.
void* (*volatile g_malloc)(std::size_t) = std::malloc;
void (*volatile g_free)(void*) = std::free;

void* operator new(std::size_t size) {
    if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = g_malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { g_free(p); }
void operator delete(void* p, std::size_t) noexcept { g_free(p); }

namespace kiln {
namespace {

uint64_t positional(uint64_t parent, std::vector<uint32_t> keys, const char* spec, uint64_t position) {
    uint64_t c = parent;
    for (uint32_t k : keys) c = combineIdentity(c, k);
    c = combineIdentity(c, nameHash(spec));
    return combineIdentity(c, position);
}

uint64_t withId(std::vector<uint32_t> keys, const char* id) {
    uint64_t c = 0x100000001B3ull;
    for (uint32_t k : keys) c = combineIdentity(c, k);
    return combineIdentity(c, nameHash(id));
}

// ---------------------------------------------------------------------------
// Specs

TEST(NodeSpecTest, ParsesNamesIdsAndClasses) {
    struct Case {
        const char* spec;
        const char* tag;  // nullptr: none
        const char* id;   // nullptr: none
        std::vector<const char*> classes;
    };
    const Case cases[] = {
        {"div.btn.btn--play", "div", nullptr, {"btn", "btn--play"}},
        {"text.t-h1", "text", nullptr, {"t-h1"}},
        {"#title.big", nullptr, "title", {"big"}},
        {".a.b", nullptr, nullptr, {"a", "b"}},
        {"div#a#b", "div", "b", {}},              // the last id wins
        {"my_el-2", "my_el-2", nullptr, {}},      // digits, '-' and '_' are name characters
        {"div > .x", "div", nullptr, {"x"}},      // other characters are skipped
        {"div..x.#", "div", nullptr, {"x"}},      // empty names add nothing
        {"", nullptr, nullptr, {}},
    };
    for (const Case& c : cases) {
        NodeSpec s = parseNodeSpec(c.spec);
        EXPECT_EQ(s.tag, c.tag ? nameHash(c.tag) : 0u) << c.spec;
        EXPECT_EQ(s.id, c.id ? nameHash(c.id) : 0u) << c.spec;
        std::vector<uint32_t> want;
        for (const char* cls : c.classes) want.push_back(nameHash(cls));
        EXPECT_EQ(s.classes, want) << c.spec;
        EXPECT_EQ(s.textHash, nameHash(c.spec)) << c.spec;
    }
}

class TreeTest : public KilnTest {};

TEST_F(TreeTest, ElementsWithoutANameBecomeDivOrText) {
    int32_t box = -1, text = -1, root = -1;
    frame([&] {
        root = here();
        openElement(".card");
        box = here();
        textElement("hi", ".label");
        text = here();
        closeElement();
    });
    EXPECT_EQ(node(root).tag, nameHash("root"));
    EXPECT_EQ(node(box).tag, nameHash("div"));
    EXPECT_EQ(node(text).tag, nameHash("text"));
    EXPECT_EQ(nodeText(node(text)), "hi");
}

// ---------------------------------------------------------------------------
// Identities

TEST_F(TreeTest, IdentitiesFollowTheCombineRules) {
    uint64_t root = 0, a = 0, b = 0, nested = 0, keyed = 0, numberKeyed = 0, titled = 0, titledKeyed = 0;
    frame([&] {
        root = currentId();
        openElement("div.a");
        a = currentId();
        closeElement();
        openElement("div.a");
        b = currentId();
        textElement("x");
        nested = currentId();
        closeElement();
        pushKey("realm-1");
        openElement("div.row");
        keyed = currentId();
        closeElement();
        popKey();
        pushKey(uint64_t(42));
        openElement("div.row");
        numberKeyed = currentId();
        openElement("div#title");
        titled = currentId();
        closeElement();
        pushKey("x");
        openElement("div#title");
        titledKeyed = currentId();
        closeElement();
        popKey();
        closeElement();
        popKey();
    });
    uint64_t number = 42;
    unsigned char bytes[8];
    std::memcpy(bytes, &number, 8);
    uint32_t numberKey = nameHash(bytes, 8);

    EXPECT_EQ(root, 1u);
    EXPECT_EQ(a, positional(1, {}, "div.a", 0));
    EXPECT_EQ(b, positional(1, {}, "div.a", 1)) << "siblings with one spec differ by position";
    EXPECT_NE(a, b);
    EXPECT_EQ(nested, positional(b, {}, "text", 0));
    EXPECT_EQ(keyed, positional(1, {nameHash("realm-1")}, "div.row", 2));
    EXPECT_EQ(numberKeyed, positional(1, {numberKey}, "div.row", 3));
    EXPECT_EQ(titled, withId({numberKey}, "title")) << "an #id starts from its own seed";
    EXPECT_EQ(titledKeyed, withId({numberKey, nameHash("x")}, "title"));
}

TEST_F(TreeTest, AnIdKeepsItsIdentityUnderAnotherParent) {
    uint64_t first = 0, second = 0, plainFirst = 0, plainSecond = 0;
    frame([&] {
        openElement("div.left");
        openElement("div#status");
        first = currentId();
        closeElement();
        openElement("div.plain");
        plainFirst = currentId();
        closeElement();
        closeElement();
    });
    frame([&] {
        openElement("div.right");
        openElement("div.spacer");
        closeElement();
        openElement("div.spacer");
        closeElement();
        openElement("div#status");
        second = currentId();
        closeElement();
        openElement("div.plain");
        plainSecond = currentId();
        closeElement();
        closeElement();
    });
    EXPECT_EQ(first, second);
    EXPECT_NE(plainFirst, plainSecond);
}

TEST_F(TreeTest, KeyedIdItemsKeepTheirIdentitiesWhenOneIsInserted) {
    // Repeated items carry an #id and a key each; an item and everything in
    // it keeps its identity when another is inserted before it. Plain
    // siblings still count their position, so those move.
    struct Ids {
        std::vector<uint64_t> item, body, plain;
    };
    auto list = [&](std::vector<const char*> names) {
        Ids ids;
        frame([&] {
            for (const char* name : names) {
                pushKey(name);
                openElement("div#item");
                ids.item.push_back(currentId());
                openElement("div.body");
                ids.body.push_back(currentId());
                closeElement();
                closeElement();
                openElement("div.plain");
                ids.plain.push_back(currentId());
                closeElement();
                popKey();
            }
        });
        return ids;
    };
    Ids before = list({"b", "c"});
    Ids after = list({"a", "b", "c"});
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(before.item[i], after.item[i + 1]);
        EXPECT_EQ(before.body[i], after.body[i + 1]);
        EXPECT_NE(before.plain[i], after.plain[i + 1]);
    }
    EXPECT_NE(after.item[0], after.item[1]);
}

// ---------------------------------------------------------------------------
// Buttons, hover and presses

TEST_F(TreeTest, SwappingTwoLikeSiblingsSwapsTheirHoverState) {
    // Siblings with one spec are told apart by position only, so hover stays
    // with the position and moves to whichever item stands there.
    css(".b { height: 50; }");
    std::vector<const char*> order = {"save", "cancel"};
    std::vector<std::pair<std::string, bool>> seen;
    auto build = [&] {
        seen.clear();
        for (const char* label : order) {
            buttonElement("div.b");
            seen.emplace_back(label, (currentState() & StateHover) != 0);
            textElement(label);
            closeElement();
        }
    };
    setMouseInWindow(true);
    frame(build);
    mouseTo(10, 10);  // over the first
    frame(build);
    EXPECT_EQ(seen[0], std::make_pair(std::string("save"), true));
    EXPECT_EQ(seen[1], std::make_pair(std::string("cancel"), false));
    order = {"cancel", "save"};
    frame(build);
    EXPECT_EQ(seen[0], std::make_pair(std::string("cancel"), true));
    EXPECT_EQ(seen[1], std::make_pair(std::string("save"), false));
}

TEST_F(TreeTest, OnlyTheHotButtonTakesAPressAndOnlyOncePerFrame) {
    css(".outer { height: 200; } .inner { height: 50; margin: 20; }");
    bool outer = false, inner = false, twinA = false, twinB = false;
    auto build = [&] {
        outer = buttonElement("div.outer");
        inner = buttonElement("div.inner");
        closeElement();
        closeElement();
        // Two elements with one #id share the identity: only the first
        // reports the press.
        twinA = buttonElement("div#twin.outer");
        closeElement();
        twinB = buttonElement("div#twin.outer");
        closeElement();
    };
    setMouseInWindow(true);
    frame(build);

    struct Case {
        float x, y;
        bool outer, inner, twinA, twinB;
    };
    const Case cases[] = {
        {30, 30, false, true, false, false},   // on the nested button: painted later, it wins
        {5, 5, true, false, false, false},     // on the outer one only
        {5, 205, false, false, true, false},   // on the twins: the first takes it
    };
    for (const Case& c : cases) {
        mouseTo(c.x, c.y);
        button(EventButtonDown);
        button(EventButtonUp);
        frame(build);
        EXPECT_EQ(outer, c.outer) << c.x << "," << c.y;
        EXPECT_EQ(inner, c.inner) << c.x << "," << c.y;
        EXPECT_EQ(twinA, c.twinA) << c.x << "," << c.y;
        EXPECT_EQ(twinB, c.twinB) << c.x << "," << c.y;
    }
    // No press without a button event, and none when the mouse left the window.
    frame(build);
    EXPECT_FALSE(outer || inner);
    setMouseInWindow(false);
    mouseTo(5, 5);
    button(EventButtonDown);
    frame(build);
    EXPECT_FALSE(outer || inner);
}

TEST_F(TreeTest, AnAbsoluteOverlayPaintedLaterTakesTheClick) {
    css(".overlay { position: absolute; left: 0; top: 0; width: 100; height: 100; }"
        ".under { height: 100; }");
    bool overlay = false, under = false;
    auto build = [&] {
        overlay = buttonElement("div.overlay");  // created first, painted last
        closeElement();
        under = buttonElement("div.under");
        closeElement();
    };
    setMouseInWindow(true);
    frame(build);
    mouseTo(50, 50);
    button(EventButtonDown);
    frame(build);
    EXPECT_TRUE(overlay);
    EXPECT_FALSE(under);
    EXPECT_EQ(activeId(), node(1).identity);
    // The active id lasts while the button stays down and ends on release.
    frame(build);
    EXPECT_EQ(activeId(), node(1).identity);
    button(EventButtonUp);
    frame(build);
    EXPECT_EQ(activeId(), 0u);
}

TEST_F(TreeTest, LastRectIsZeroUntilAFrameHasEnded) {
    css(".box { width: 120; height: 40; margin-top: 10; }");
    Rect seen[3];
    for (Rect& r : seen) {
        frame([&] {
            openElement("div.box");
            r = lastRect();
            closeElement();
        });
    }
    EXPECT_EQ(seen[0].w, 0);
    EXPECT_EQ(seen[0].h, 0);
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ(seen[i].x, 0);
        EXPECT_EQ(seen[i].y, 10);
        EXPECT_EQ(seen[i].w, 120);
        EXPECT_EQ(seen[i].h, 40);
    }
    resetContext();
    EXPECT_EQ(lastRect().w, 0) << "no element yet";
}

TEST_F(TreeTest, ClosingTheRootDoesNothing) {
    beginFrame(100, 100, 1);
    EXPECT_EQ(closeElement(), -1);
    openElement("div");
    EXPECT_EQ(closeElement(), 1);
    EXPECT_EQ(closeElement(), -1);
    EXPECT_EQ(ui().openStack.size(), 1u);
    endFrame();
}

// ---------------------------------------------------------------------------
// Memory and eviction

TEST_F(TreeTest, EvictionDropsEntriesUnseenForMoreThan600Frames) {
    css(".s { height: 100; } .tall { height: 500; }");
    // Last seen 601 frames before the eviction frame 1024: gone; 599: kept.
    struct Case {
        uint64_t lastSeen;
        bool kept;
    };
    const Case cases[] = {{1024 - 601, false}, {1024 - 599, true}, {1024 - 600, true}};
    // The layers above keep memory by identity under the same rule (each
    // type apart), and their frame records are never evicted.
    struct Builds {
        uint64_t count = 0;
    };
    struct Other {
        uint64_t count = 0;
    };
    for (const Case& c : cases) {
        resetContext();
        setStylesheet(&sheet_);
        setMouseInWindow(true);
        frameRecord<Builds>().count = 5;
        uint64_t id = 0, builds = 0, remembered = 0;
        auto withScroller = [&] {
            scrollBegin("log", "scroll.s");
            id = currentId();
            remembered = ++memoryFor<Builds>(id).count;
            ++builds;
            openElement("div.tall");
            closeElement();
            scrollEnd();
        };
        frame(withScroller);
        mouseTo(10, 10);
        wheel(-1);
        frame(withScroller);
        ASSERT_EQ(ui().memory.at(id).scrollOffset, 60);
        while (frameCounter() < c.lastSeen) frame(withScroller);
        while (frameCounter() < 1023) frame([] {});
        EXPECT_EQ(ui().memory.count(id), 1u) << "only every 256th frame evicts";
        frame([] {});
        ASSERT_EQ(frameCounter(), 1024u);
        EXPECT_EQ(ui().memory.count(id), c.kept ? 1u : 0u) << "last seen at " << c.lastSeen;
        // Back on screen, the scroll position is what memory kept.
        float offset = -1;
        frame([&] {
            withScroller();
            offset = node(1).scrollOffset;
        });
        EXPECT_EQ(offset, c.kept ? 60 : 0);
        EXPECT_EQ(remembered, c.kept ? builds : 1u) << "last seen at " << c.lastSeen;
        EXPECT_EQ(memoryFor<Other>(id).count, 0u) << "another type's entry is its own";
        EXPECT_EQ(frameRecord<Builds>().count, 5u);
    }
    resetContext();
    EXPECT_EQ(frameRecord<Builds>().count, 0u) << "the reset drops the records";
}

TEST_F(TreeTest, MemoryRecordsRectHoverAndScrollRange) {
    css(".b { width: 100; height: 30; } .s { height: 300; } .c { height: 500; }");
    setMouseInWindow(true);
    uint64_t b = 0, s = 0;
    auto build = [&] {
        buttonElement("div.b");
        b = currentId();
        closeElement();
        scrollBegin("k", "scroll.s");
        s = currentId();
        openElement("div.c");
        closeElement();
        scrollEnd();
    };
    frame(build);
    mouseTo(10, 10);
    frame(build);
    const NodeMemory& mb = ui().memory.at(b);
    EXPECT_TRUE(mb.hovered);
    EXPECT_EQ(mb.lastSeen, 2u);
    EXPECT_EQ(mb.rect.w, 100);
    EXPECT_EQ(ui().memory.at(s).scrollRange, 200);
    EXPECT_FALSE(ui().memory.at(s).hovered) << "not clickable, so never hot";
}

// ---------------------------------------------------------------------------
// Scroll containers

TEST_F(TreeTest, OneWheelNotchScrollsOnlyTheOutermostContainerUnderTheMouse) {
    css(".outer { height: 300; } .inner { height: 200; } .tall { height: 1000; }");
    setMouseInWindow(true);
    int32_t outer = -1, inner = -1;
    auto build = [&] {
        scrollBegin("outer", "scroll.outer");
        outer = here();
        scrollBegin("inner", "scroll.inner");
        inner = here();
        openElement("div.tall");
        closeElement();
        scrollEnd();
        openElement("div.tall");
        closeElement();
        scrollEnd();
    };
    frame(build);
    EXPECT_EQ(ui().memory.at(node(outer).identity).scrollRange, 900);  // 200 + 1000 - 300
    EXPECT_EQ(ui().memory.at(node(inner).identity).scrollRange, 800);

    struct Step {
        float notches;
        float outer, inner;
    };
    const Step steps[] = {
        {-1, 60, 0},     // one notch down: 60 px, the outer container only
        {-2.5f, 210, 0}, // wheel amounts are summed and scaled
        {1, 150, 0},     // up
        {5, 0, 0},       // clamped at the top
        {-100, 900, 0},  // and at the range
    };
    for (const Step& s : steps) {
        mouseTo(50, 50);  // over both containers
        wheel(s.notches);
        frame(build);
        EXPECT_EQ(node(outer).scrollOffset, s.outer) << s.notches;
        EXPECT_EQ(node(inner).scrollOffset, s.inner) << s.notches;
    }
    EXPECT_EQ(ui().wheel, 0) << "the outer container used the wheel up";
}

TEST_F(TreeTest, ScrollToEndShowsTheEndInTheNextFrame) {
    css(".s { height: 100; } .row { height: 40; }");
    int rows = 3;
    float offset = -1;
    bool ask = false;
    auto build = [&] {
        scrollBegin("log", "scroll.s");
        offset = node(here()).scrollOffset;
        for (int i = 0; i < rows; ++i) {
            openElement("div.row");
            closeElement();
        }
        if (ask) scrollToEnd();
        scrollEnd();
    };
    frame(build);
    EXPECT_EQ(offset, 0);
    rows = 5;  // the log grew to 200 px
    ask = true;
    frame(build);
    EXPECT_EQ(offset, 0) << "asked during this frame: the jump comes with the next";
    ask = false;
    frame(build);
    EXPECT_EQ(offset, 100);
    frame(build);
    EXPECT_EQ(offset, 100) << "the flag is used once";
    rows = 2;
    frame(build);
    frame(build);
    EXPECT_EQ(offset, 0) << "a shorter content clamps the stored offset";
}

// ---------------------------------------------------------------------------
// Hit testing

TEST(HitTestTest, EdgesClipsOrderAndRings) {
    HitRecord a;  // 10..110 x 10..60, clipped to x < 80
    a.identity = 1;
    a.rect = {10, 10, 100, 50};
    a.clip = {0, 0, 80, 600};
    a.paintOrder = 5;
    HitRecord b;  // overlaps a on the right half, painted later
    b.identity = 2;
    b.rect = {50, 10, 100, 50};
    b.clip = {0, 0, 800, 600};
    b.paintOrder = 7;
    HitRecord tie = b;  // same paint order as b, listed later
    tie.identity = 3;
    HitRecord ring;  // a quarter ring from straight up to the right, centre (300, 300)
    ring.identity = 4;
    ring.rect = {200, 200, 200, 200};
    ring.clip = {0, 0, 800, 600};
    ring.paintOrder = 1;
    ring.hasRing = true;
    ring.cx = 300;
    ring.cy = 300;
    ring.inner = 10;
    ring.outer = 50;
    ring.start = 0;
    ring.end = 90;
    HitRecord wrap = ring;  // a sweep across straight up: 350 to 370 degrees
    wrap.identity = 5;
    wrap.rect = {500, 200, 200, 200};
    wrap.cx = 600;
    wrap.start = 350;
    wrap.end = 370;
    HitRecord full = ring;  // a whole ring
    full.identity = 6;
    full.rect = {200, 400, 200, 200};
    full.cy = 500;
    full.end = 360;
    std::vector<HitRecord> hits = {a, b, tie, ring, wrap, full};

    struct Case {
        float x, y;
        uint64_t want;
    };
    const Case cases[] = {
        {10, 10, 1},     // top-left edge inclusive
        {9.9f, 10, 0},   // just outside
        {49, 59.9f, 1},  // bottom edge is exclusive: 59.9 is in
        {30, 60, 0},     // y = 60 is out
        {60, 30, 2},     // overlap: the later paint order wins
        {149.9f, 30, 2}, // the equal-order record later in the list loses
        {150, 30, 0},    // right edge exclusive
        {300, 270, 4},   // straight up, d = 30
        {321, 279, 4},   // 45 degrees
        {330, 300, 0},   // 90 degrees: the sweep ends before it
        {279, 279, 0},   // -45 degrees
        {300, 290, 4},   // d = 10: inner edge inclusive
        {300, 295, 0},   // inside the hole
        {300, 250, 0},   // d = 50: outer edge exclusive
        {600, 270, 5},   // straight up lies in 350..370
        {605, 270, 5},   // a little clockwise: still in
        {596, 270, 5},   // 352 degrees
        {590, 270, 0},   // 342 degrees: before the start
        {300, 470, 6},   // whole ring: any angle
        {270, 500, 6},
    };
    for (const Case& c : cases) EXPECT_EQ(hitTest(hits, c.x, c.y), c.want) << c.x << "," << c.y;
}

TEST_F(TreeTest, RingSegmentsLimitWhereAButtonIsHit) {
    css(".dial { position: absolute; left: 100; top: 100; width: 100; height: 100; }");
    bool pressed = false;
    auto build = [&] {
        pressed = buttonElement("div.dial");
        setRing(20, 50, 90, 180);  // the lower-right quarter
        closeElement();
    };
    setMouseInWindow(true);
    frame(build);
    // Centre (150, 150): 135 and 90 degrees are in, 315 and 180 out, the hole out.
    const float points[][3] = {{180, 180, 1}, {185, 150, 1}, {120, 120, 0}, {150, 185, 0}, {150, 150, 0}};
    for (const auto& p : points) {
        mouseTo(p[0], p[1]);
        button(EventButtonDown);
        button(EventButtonUp);
        frame(build);
        EXPECT_EQ(pressed, p[2] != 0) << p[0] << "," << p[1];
    }
}

// ---------------------------------------------------------------------------
// Over-painted flag

TEST_F(TreeTest, OverPaintedWhenTheMouseIsOnSomethingDrawn) {
    css(".clear { height: 50; }"
        ".faint { height: 50; background: rgba(0, 0, 0, 0.05); }"
        ".solid { height: 50; background: rgba(0, 0, 0, 0.06); }"
        ".pic { height: 50; background: url(a.png); }"
        ".frame { height: 50; border-image: url(b.png) 12; }"
        ".clipper { height: 50; overflow: hidden; }"
        ".spill { height: 100; background: #fff; }");
    auto build = [] {
        const char* specs[] = {"div.clear", "div.faint", "div.solid", "div.pic", "div.frame"};
        for (const char* spec : specs) {
            openElement(spec);
            closeElement();
        }
        openElement("div.clipper");  // 250..300; its child spills to 350
        openElement("div.spill");
        closeElement();
        closeElement();
    };
    const float ys[][2] = {{25, 0}, {75, 0}, {125, 1}, {175, 1}, {225, 1}, {275, 1}, {325, 0}, {700, 0}};
    setMouseInWindow(true);
    for (const auto& y : ys) {
        mouseTo(10, y[0]);
        frame(build);
        EXPECT_EQ(overPainted(), y[1] != 0) << "y " << y[0];
    }
}

// ---------------------------------------------------------------------------
// Steady state

TEST_F(TreeTest, ASteadyFrameAllocatesNothing) {
    css(".row { display: flex; flex-direction: row; gap: 4; } .t { font-size: 20; } .b:hover { opacity: 0.5; }");
    setMouseInWindow(true);
    auto build = [] {
        for (int i = 0; i < 50; ++i) {
            pushKey(uint64_t(i));
            openElement("div.row");
            if (buttonElement("div.b")) {
                // pressed
            }
            textElement("some words that wrap around", "text.t");
            closeElement();
            scrollBegin("list", "scroll");
            textElement("inside");
            scrollEnd();
            closeElement();
            popKey();
        }
    };
    for (int i = 0; i < 3; ++i) {
        mouseTo(10, float(i));
        frame(build);
    }
    mouseTo(10, 5);
    g_allocations = 0;
    g_counting = true;
    frame(build);
    g_counting = false;
    EXPECT_EQ(g_allocations.load(), 0);

    // The counter itself sees allocations.
    g_allocations = 0;
    g_counting = true;
    auto* probe = new std::vector<int>(8);
    g_counting = false;
    delete probe;
    EXPECT_GE(g_allocations.load(), 1);
}

}  // namespace
}  // namespace kiln
