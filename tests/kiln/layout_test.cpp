// Layout: measuring and arranging rows and columns, absolute placement,
// text wrapping through the test font (advance 10 px and line height 25 px
// at font-size 20), scrolling, clipping and paint order.
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "tests/kiln/kiln_fixture.h"

namespace kiln {
namespace {

class LayoutTest : public KilnTest {};

// One container `.p` directly under the root with children `.c0`, `.c1`,
// ... ; the children's border boxes are compared.
struct ChildrenCase {
    const char* what;
    const char* css;
    std::vector<Rect> children;
};

TEST_F(LayoutTest, RowsAndColumnsPlaceTheirChildren) {
    const ChildrenCase cases[] = {
        // Growing, shrinking, gaps
        {"flex:1 twice with a 10 px gap in 210", ".p { display: flex; flex-direction: row; width: 210; height: 50; gap: 10; }"
         ".c0, .c1 { flex: 1; }", {{0, 0, 100, 50}, {110, 0, 100, 50}}},
        {"grow factors share the free room", ".p { display: flex; flex-direction: row; width: 400; }"
         ".c0 { flex: 1; } .c1 { flex: 3; }", {{0, 0, 100, 0}, {100, 0, 300, 0}}},
        {"fixed children overflow and keep their widths", ".p { display: flex; flex-direction: row; width: 300; }"
         ".c0 { width: 200; } .c1 { width: 150; }", {{0, 0, 200, 0}, {200, 0, 150, 0}}},
        {"a grower next to fixed ones takes what is left", ".p { display: flex; flex-direction: row; width: 300; }"
         ".c0 { width: 100; } .c1 { flex: 1; } .c2 { width: 50; }", {{0, 0, 100, 0}, {100, 0, 150, 0}, {250, 0, 50, 0}}},
        // Justify
        {"space-between with one child is start", ".p { display: flex; flex-direction: row; width: 300; justify-content: space-between; }"
         ".c0 { width: 50; }", {{0, 0, 50, 0}}},
        {"space-between spreads three", ".p { display: flex; flex-direction: row; width: 300; justify-content: space-between; }"
         ".c0, .c1, .c2 { width: 50; }", {{0, 0, 50, 0}, {125, 0, 50, 0}, {250, 0, 50, 0}}},
        {"center with a gap", ".p { display: flex; flex-direction: row; width: 300; gap: 10; justify-content: center; }"
         ".c0, .c1 { width: 50; }", {{95, 0, 50, 0}, {155, 0, 50, 0}}},
        {"flex-end", ".p { display: flex; flex-direction: row; width: 300; gap: 10; justify-content: flex-end; }"
         ".c0, .c1 { width: 50; }", {{190, 0, 50, 0}, {250, 0, 50, 0}}},
        {"a grower cancels justify", ".p { display: flex; flex-direction: row; width: 300; justify-content: center; }"
         ".c0 { width: 50; } .c1 { flex: 1; }", {{0, 0, 50, 0}, {50, 0, 250, 0}}},
        {"no free room: justify does nothing", ".p { display: flex; flex-direction: row; width: 100; justify-content: center; }"
         ".c0 { width: 150; }", {{0, 0, 150, 0}}},
        // Align
        {"stretch an auto height, keep an explicit one", ".p { display: flex; flex-direction: row; width: 300; height: 100; }"
         ".c0 { width: 10; } .c1 { width: 10; height: 40; }", {{0, 0, 10, 100}, {10, 0, 10, 40}}},
        {"center and its margins", ".p { display: flex; flex-direction: row; width: 300; height: 100; align-items: center; }"
         ".c0 { width: 10; height: 40; } .c1 { width: 10; height: 40; margin-top: 10; }", {{0, 30, 10, 40}, {10, 35, 10, 40}}},
        {"flex-end", ".p { display: flex; flex-direction: row; width: 300; height: 100; align-items: flex-end; }"
         ".c0 { width: 10; height: 40; }", {{0, 60, 10, 40}}},
        {"an overflowing child is not moved above the start", ".p { display: flex; flex-direction: row; width: 300; height: 100; align-items: center; }"
         ".c0 { width: 10; height: 150; }", {{0, 0, 10, 150}}},
        {"stretch minus margins", ".p { display: flex; flex-direction: row; width: 300; height: 100; }"
         ".c0 { width: 10; margin: 10; }", {{10, 10, 10, 80}}},
        {"column stretches widths", ".p { width: 300; gap: 10; } .c0, .c1 { height: 50; } .c1 { width: 100; }",
         {{0, 0, 300, 50}, {0, 60, 100, 50}}},
        {"column centred on the cross axis", ".p { width: 300; align-items: center; } .c0 { width: 100; height: 20; }",
         {{100, 0, 100, 20}}},
        {"column justify center", ".p { height: 300; justify-content: center; } .c0 { height: 100; }",
         {{0, 100, 800, 100}}},
        // Margins, padding, border
        {"margins between row children", ".p { display: flex; flex-direction: row; width: 300; }"
         ".c0 { width: 50; margin: 0 10; } .c1 { width: 50; }", {{10, 0, 50, 0}, {70, 0, 50, 0}}},
        {"padding and border inset the content", ".p { width: 300; padding: 5 7; border-width: 2; } .c0 { height: 10; }",
         {{9, 7, 282, 10}}},
        // Sizes
        {"percent width of the parent's content", ".p { display: flex; flex-direction: row; width: 300; padding: 0 50; }"
         ".c0 { width: 50%; }", {{50, 0, 100, 0}}},
        {"percent height of the window height", ".p { height: 100; } .c0 { height: 50%; }", {{0, 0, 800, 300}}},
        {"min-width raises", ".p { display: flex; flex-direction: row; } .c0 { width: 50; min-width: 80; }", {{0, 0, 80, 0}}},
        {"max-width wins over min-width", ".p { display: flex; flex-direction: row; } .c0 { width: 50; min-width: 80; max-width: 60; }",
         {{0, 0, 60, 0}}},
        {"max-height lowers, in percent", ".p { width: 10; } .c0 { height: 500; max-height: 50%; }", {{0, 0, 10, 300}}},
        {"min-height raises an empty box", ".p { width: 10; } .c0 { min-height: 30; }", {{0, 0, 10, 30}}},
        // Out of the flow
        {"display none takes no room and gets a zero box", ".p { display: flex; flex-direction: row; }"
         ".c0 { display: none; width: 50; } .c1 { width: 50; }", {{0, 0, 0, 0}, {0, 0, 50, 0}}},
        {"an absolute child takes no room", ".p { display: flex; flex-direction: row; gap: 10; }"
         ".c0 { position: absolute; width: 50; } .c1 { width: 50; }", {{0, 0, 50, 0}, {0, 0, 50, 0}}},
        {"translate moves an in-flow box not at all", ".p { width: 300; } .c0 { height: 10; transform: translate(-50%, 10); }",
         {{0, 0, 300, 10}}},
    };
    for (const ChildrenCase& c : cases) {
        css(c.css);
        std::vector<int32_t> kids;
        frame([&] {
            openElement("div.p");
            for (size_t i = 0; i < c.children.size(); ++i) {
                std::string spec = "div.c" + std::to_string(i);
                openElement(spec);
                kids.push_back(closeElement());
            }
            closeElement();
        });
        for (size_t i = 0; i < c.children.size(); ++i) {
            EXPECT_TRUE(sameRect(node(kids[i]).box, c.children[i])) << c.what << ", child " << i;
        }
    }
}

TEST_F(LayoutTest, ContainersMeasureTheirChildrenWithGapsAndMargins) {
    const ChildrenCase cases[] = {
        {"a row sums widths and takes the tallest, with gaps", ".p { display: flex; flex-direction: row; gap: 5; align-items: flex-start; }"
         ".c0 { width: 10; height: 20; margin: 1; } .c1 { width: 30; height: 5; }", {{0, 0, 52, 22}}},
        {"a column sums heights and takes the widest", ".p { gap: 5; align-items: flex-start; padding: 3; }"
         ".c0 { width: 10; height: 20; } .c1 { width: 30; height: 5; margin-left: 4; }", {{0, 0, 40, 41}}},
        {"hidden and absolute children do not count", ".p { gap: 5; align-items: flex-start; }"
         ".c0 { height: 20; width: 10; } .c1 { display: none; height: 99; } .c2 { position: absolute; height: 99; width: 99; }",
         {{0, 0, 10, 20}}},
    };
    for (const ChildrenCase& c : cases) {
        css(std::string(c.css) + " root { align-items: flex-start; }");
        int32_t p = -1;
        frame([&] {
            openElement("div.p");
            p = here();
            openElement("div.c0");
            closeElement();
            openElement("div.c1");
            closeElement();
            openElement("div.c2");
            closeElement();
            closeElement();
        });
        EXPECT_TRUE(sameRect(node(p).box, c.children[0])) << c.what;
    }
}

TEST_F(LayoutTest, AbsoluteBoxesArePlacedInTheirContainingRectangle) {
    struct Case {
        const char* what;
        const char* css;
        Rect want;
    };
    const Case cases[] = {
        {"left and right span the parent", ".x { left: 0; right: 0; }", {50, 20, 300, 0}},
        {"an explicit width stays at the left", ".x { left: 0; right: 0; width: 100; }", {50, 20, 100, 0}},
        {"right only", ".x { right: 10; width: 40; }", {300, 20, 40, 0}},
        {"top and bottom span the height", ".x { top: 10; bottom: 10; }", {50, 30, 0, 180}},
        {"bottom only", ".x { bottom: 0; height: 30; }", {50, 190, 0, 30}},
        {"percent offsets of the parent", ".x { left: 10%; top: 50%; }", {80, 120, 0, 0}},
        {"percent right", ".x { right: 10%; width: 30; }", {290, 20, 30, 0}},
        {"no offsets: the corner", ".x { width: 5; height: 5; }", {50, 20, 5, 5}},
        {"translate by half its width", ".x { left: 100; width: 40; transform: translate(-50%, 0); }", {130, 20, 40, 0}},
        {"translate in px and percent", ".x { width: 40; height: 20; transform: translate(10, -50%); }", {60, 10, 40, 20}},
        {"margins do not move an absolute box", ".x { left: 0; top: 0; width: 10; height: 10; margin: 7; }", {50, 20, 10, 10}},
    };
    for (const Case& c : cases) {
        css(std::string(".p { position: absolute; left: 50; top: 20; width: 300; height: 200; }"
                        ".x { position: absolute; }") + c.css);
        int32_t x = -1;
        frame([&] {
            openElement("div.p");
            openElement("div.mid");  // an in-flow box between: the parent still contains
            openElement("div.x");
            x = closeElement();
            closeElement();
            closeElement();
        });
        EXPECT_TRUE(sameRect(node(x).box, c.want)) << c.what;
    }
}

TEST_F(LayoutTest, AbsoluteBoxesOutsideAbsoluteParentsUseTheWindow) {
    css(".m { margin-left: 100; margin-top: 40; height: 10; } .x { position: absolute; right: 0; bottom: 0; width: 20; height: 20; }");
    int32_t x = -1;
    frame([&] {
        openElement("div.m");
        openElement("div.x");
        x = closeElement();
        closeElement();
    });
    EXPECT_TRUE(sameRect(node(x).box, {780, 580, 20, 20}));
}

TEST_F(LayoutTest, AbsoluteTextSpannedToANewWidthWrapsForIt) {
    css("root { font-size: 20; } .p { position: absolute; left: 0; top: 0; width: 300; height: 200; }"
        ".x { position: absolute; left: 0; right: 220; }");
    int32_t x = -1;
    frame([&] {
        openElement("div.p");
        textElement("aaaa bbbb cccc", "text.x");
        x = here();
        closeElement();
    });
    // 80 px wide: "aaaa" "bbbb" "cccc" on three lines of 25 px.
    EXPECT_TRUE(sameRect(node(x).box, {0, 0, 80, 75}));
    EXPECT_EQ(nodeLines(node(x)).size(), 3u);
}

// ---------------------------------------------------------------------------
// Text

TEST_F(LayoutTest, TextIsMeasuredAndWrappedWithTheElementsFont) {
    struct Case {
        const char* what;
        const char* css;
        const char* text;
        Rect want;
        std::vector<std::pair<uint32_t, uint32_t>> lines;  // byte ranges
    };
    const Case cases[] = {
        {"fits on one line", ".p { width: 300; }", "aaaa bbbb", {0, 0, 300, 25}, {{0, 9}}},
        {"wraps at the last space", ".p { width: 100; }", "aaaa bbbb cccc", {0, 0, 100, 50}, {{0, 9}, {10, 14}}},
        {"nowrap keeps one line", ".p { width: 100; } .t { white-space: nowrap; }", "aaaa bbbb cccc", {0, 0, 100, 25}, {{0, 14}}},
        {"a trailing line feed adds an empty line", ".p { width: 300; }", "ab\n", {0, 0, 300, 50}, {{0, 2}, {3, 3}}},
        {"padding and border count", ".p { width: 100; } .t { padding: 5; border-width: 1; }", "aaaa bbbb", {0, 0, 100, 62}, {{0, 4}, {5, 9}}},
        {"font size and line height", ".p { width: 300; } .t { font-size: 40; line-height: 1.5; }", "ab", {0, 0, 300, 60}, {{0, 2}}},
        {"centred text is as wide as its widest line", ".p { width: 300; align-items: center; }", "aaaa bbbb cccc",
         {80, 0, 140, 25}, {{0, 14}}},
    };
    for (const Case& c : cases) {
        css(std::string("root { font-size: 20; }") + c.css);
        int32_t t = -1;
        frame([&] {
            openElement("div.p");
            textElement(c.text, "text.t");
            t = here();
            closeElement();
        });
        EXPECT_TRUE(sameRect(node(t).box, c.want)) << c.what;
        std::vector<std::pair<uint32_t, uint32_t>> got;
        for (const TextLine& l : nodeLines(node(t))) got.emplace_back(l.begin, l.end);
        EXPECT_EQ(got, c.lines) << c.what;
        EXPECT_NE(node(t).font, nullptr);
    }
}

TEST_F(LayoutTest, ARowChildOfANewWidthIsMeasuredAgain) {
    // The text is 140 px on one line; squeezed to 50 px it wraps to three
    // lines, and its height follows (the row does not stretch it here).
    css("root { font-size: 20; } .p { display: flex; flex-direction: row; width: 300; align-items: flex-start; }"
        ".a { width: 200; } .t { flex: 1; } .b { width: 50; }");
    int32_t a = -1, t = -1, b = -1;
    frame([&] {
        openElement("div.p");
        openElement("div.a");
        a = closeElement();
        textElement("aaaa bbbb cccc", "text.t");
        t = here();
        openElement("div.b");
        b = closeElement();
        closeElement();
    });
    EXPECT_TRUE(sameRect(node(a).box, {0, 0, 200, 0})) << "not a grower: keeps its width";
    EXPECT_TRUE(sameRect(node(t).box, {200, 0, 50, 75}));
    EXPECT_TRUE(sameRect(node(b).box, {250, 0, 50, 0}));
    EXPECT_EQ(nodeLines(node(t)).size(), 3u);

    // A word wider than its share is cut at characters to fit it.
    css("root { font-size: 20; } .p { display: flex; flex-direction: row; width: 300; align-items: flex-start; }"
        ".a { width: 280; } .t { flex: 1; }");
    frame([&] {
        openElement("div.p");
        openElement("div.a");
        closeElement();
        textElement("abcdef", "text.t");
        t = here();
        closeElement();
    });
    EXPECT_TRUE(sameRect(node(t).box, {280, 0, 20, 75}));
}

TEST_F(LayoutTest, WrappingTextBesideFixedChildrenIsMeasuredAtTheWidthLeft) {
    // A 300 px row with 5 px padding and 10 px gaps: a 40 px icon, the text
    // (240 px on one line) and an 80 px button. The text gets what the icon
    // and the button leave and wraps there in the very first layout, and the
    // row is as tall as the wrapped text.
    struct Case {
        const char* what;
        const char* css;
        bool inColumn;  // the text inside a growing column rather than growing itself
        Rect text, row;
    };
    const Case cases[] = {
        {"the text grows itself: 150 px, two lines", ".t { flex: 1; }", false, {55, 5, 150, 50}, {0, 0, 300, 60}},
        {"the text in a growing column", ".col { flex: 1; display: flex; flex-direction: column; }", true,
         {55, 5, 150, 50}, {0, 0, 300, 60}},
        {"an icon's margin is taken too: 130 px, three lines",
         ".col { flex: 1; display: flex; flex-direction: column; } .icon { margin-right: 20; }", true,
         {75, 5, 130, 75}, {0, 0, 300, 85}},
    };
    for (const Case& c : cases) {
        css(std::string("root { font-size: 20; align-items: flex-start; }"
                        ".p { display: flex; flex-direction: row; align-items: center; width: 300; padding: 5; gap: 10; }"
                        ".icon { width: 40; height: 40; } .btn { width: 80; height: 30; }") +
            c.css);
        int32_t p = -1, t = -1;
        frame([&] {
            openElement("div.p");
            p = here();
            openElement("div.icon");
            closeElement();
            if (c.inColumn) openElement("div.col");
            textElement("aaaa bbbb cccc dddd eeee", "text.t");
            t = here();
            if (c.inColumn) closeElement();
            openElement("div.btn");
            closeElement();
            closeElement();
        });
        EXPECT_TRUE(sameRect(node(t).box, c.text)) << c.what;
        EXPECT_TRUE(sameRect(node(p).box, c.row)) << c.what;
    }
}

// ---------------------------------------------------------------------------
// Scrolling and clipping

TEST_F(LayoutTest, AScrollColumnHasARangeAndAGutter) {
    struct Case {
        const char* what;
        const char* css;
        float range, contentWidth;
    };
    const Case cases[] = {
        {"500 px in 300: range 200, gutter 16", ".s { height: 300; }", 200, 784},
        {"a thin scrollbar still leaves 10", ".s { height: 300; scrollbar-width: 2; }", 200, 790},
        {"a wide one", ".s { height: 300; scrollbar-width: 20; }", 200, 773},
        {"padding shrinks the visible height", ".s { height: 300; padding: 10; }", 220, 764},
        {"content that fits: range 0", ".s { height: 600; }", 0, 784},
    };
    for (const Case& c : cases) {
        css(std::string(c.css) + " .row { height: 100; }");
        int32_t s = -1;
        frame([&] {
            scrollBegin("list", "scroll.s");
            s = here();
            for (int i = 0; i < 5; ++i) {
                openElement("div.row");
                closeElement();
            }
            scrollEnd();
        });
        EXPECT_EQ(node(s).contentExtent, 500) << c.what;
        EXPECT_EQ(ui().memory.at(node(s).identity).scrollRange, c.range) << c.what;
        EXPECT_EQ(node(s).content.w, c.contentWidth) << c.what;
    }
}

TEST_F(LayoutTest, ScrolledContentMovesUpAndIsClipped) {
    css(".s { height: 200; margin-top: 50; } .inner { height: 100; } .row { height: 100; }"
        ".pin { position: absolute; left: 0; top: 0; width: 10; height: 10; }");
    setMouseInWindow(true);
    int32_t s = -1, row0 = -1, inner = -1, deep = -1, pin = -1;
    auto build = [&] {
        scrollBegin("outer", "scroll.s");
        s = here();
        openElement("div.row");
        row0 = closeElement();
        scrollBegin("inner", "scroll.inner");
        inner = here();
        for (int i = 0; i < 3; ++i) {
            openElement("div.row");
            deep = closeElement();
        }
        scrollEnd();
        for (int i = 0; i < 3; ++i) {
            openElement("div.row");
            closeElement();
        }
        openElement("div.pin");
        pin = closeElement();
        scrollEnd();
    };
    frame(build);
    // Outer: 100 + 100 + 300 = 500 in 200 (range 300). Two notches, the
    // second with the mouse over the inner container: the outer takes both.
    mouseTo(5, 60);
    wheel(-1);
    frame(build);
    mouseTo(5, 120);  // over the inner container, but the outer takes it first
    wheel(-1);
    frame(build);
    EXPECT_EQ(node(s).scrollOffset, 120);
    EXPECT_TRUE(sameRect(node(s).box, {0, 50, 800, 200})) << "the container itself does not move";
    EXPECT_TRUE(sameRect(node(row0).box, {0, -70, 784, 100}));
    EXPECT_TRUE(sameRect(node(row0).content, {0, -70, 784, 100}));
    EXPECT_TRUE(sameRect(node(pin).box, {0, -120, 10, 10})) << "absolute descendants scroll too";
    EXPECT_TRUE(sameRect(node(row0).clip, {0, 50, 800, 200}));
    EXPECT_TRUE(sameRect(node(inner).clip, {0, 50, 800, 200}));
    // The last inner row: at 50 + 100 + 200 = 350 unscrolled, 120 up.
    EXPECT_TRUE(sameRect(node(deep).box, {0, 230, 768, 100}));
    EXPECT_TRUE(sameRect(node(deep).clip, {0, 50, 784, 80})) << "inner box 30..130 within the outer clip";
}

TEST_F(LayoutTest, HiddenAndScrollingBoxesClipTheirSubtrees) {
    css(".h { overflow: hidden; margin-left: 10; width: 100; height: 50; }"
        ".v { height: 80; } .a { position: absolute; left: 0; top: 0; width: 500; height: 500; }");
    int32_t h = -1, v = -1, a = -1, root = -1;
    frame([&] {
        root = here();
        openElement("div.h");
        h = here();
        openElement("div.v");
        v = here();
        openElement("div.a");
        a = closeElement();
        closeElement();
        closeElement();
    });
    EXPECT_TRUE(sameRect(node(root).clip, {0, 0, 800, 600}));
    EXPECT_TRUE(sameRect(node(h).clip, {0, 0, 800, 600}));
    EXPECT_TRUE(sameRect(node(v).clip, {10, 0, 100, 50}));
    EXPECT_TRUE(sameRect(node(a).clip, {10, 0, 100, 50})) << "absolute boxes are clipped by tree ancestors";
}

// ---------------------------------------------------------------------------
// Paint order and hidden subtrees

TEST_F(LayoutTest, PaintOrderIsTheFlowThenAbsoluteSubtreesByZIndex) {
    css(".abs { position: absolute; } .z2 { z-index: 2; } .z1 { z-index: 1; } .zm { z-index: -5; }"
        ".gone { display: none; } .flowz { z-index: 9; }");
    std::vector<std::pair<const char*, int32_t>> made;
    auto el = [&](const char* name, const char* spec, bool open) {
        openElement(spec);
        made.emplace_back(name, here());
        if (!open) closeElement();
    };
    frame([&] {
        made.emplace_back("root", 0);
        el("A", "div.flowz", true);
        el("A1", "div.abs.z2", true);
        el("A1a", "div", false);
        el("A1b", "div.abs.zm", false);  // nested absolute: z-index has no effect
        el("A1c", "div", false);
        closeElement();
        el("A2", "div", false);
        closeElement();
        el("B", "div.abs.z1", false);
        el("C", "div", false);
        el("D", "div.abs.z1", false);
        el("E", "div.gone", true);
        el("E1", "div.abs", false);
        closeElement();
    });
    std::vector<std::string> order;
    for (int32_t i : ui().paintList) {
        for (auto& m : made) {
            if (m.second == i) order.push_back(m.first);
        }
    }
    EXPECT_EQ(order, (std::vector<std::string>{"root", "A", "A2", "C", "B", "D", "A1", "A1a", "A1c", "A1b"}));
    for (size_t k = 0; k < ui().paintList.size(); ++k) EXPECT_EQ(node(ui().paintList[k]).paintOrder, int32_t(k));
    for (auto& m : made) {
        if (std::string(m.first)[0] == 'E') {
            EXPECT_EQ(node(m.second).paintOrder, -1) << m.first;
        }
    }
}

TEST_F(LayoutTest, AHiddenSubtreeIsStyledButTakesNoRoom) {
    css(".gone { display: none; height: 100; } .kid { color: #ff0000; height: 40; } .next { height: 10; }");
    int32_t gone = -1, kid = -1, next = -1;
    frame([&] {
        openElement("div.gone");
        gone = here();
        openElement("div.kid");
        kid = closeElement();
        closeElement();
        openElement("div.next");
        next = closeElement();
    });
    EXPECT_TRUE(sameRect(node(gone).box, {0, 0, 0, 0}));
    EXPECT_TRUE(sameRect(node(kid).box, {0, 0, 0, 0}));
    EXPECT_EQ(node(kid).computed.color.r, 1.0f) << "children of a hidden box are still styled";
    EXPECT_TRUE(sameRect(node(next).box, {0, 0, 800, 10}));
}

TEST_F(LayoutTest, AColumnRecordsItsContentExtent) {
    struct Case {
        const char* what;
        const char* css;
        int children;
        float extent;
    };
    const Case cases[] = {
        {"three rows and two gaps", ".p { gap: 10; }", 3, 170},
        {"margins count", ".p { gap: 10; } .c { margin: 5 0; }", 3, 200},
        {"empty column", ".p { gap: 10; }", 0, 0},
        {"space-between leaves no room after the last", ".p { height: 400; justify-content: space-between; }", 3, 400},
        {"a row records nothing", ".p { display: flex; flex-direction: row; }", 3, 0},
    };
    for (const Case& c : cases) {
        css(std::string(".c { height: 50; width: 20; }") + c.css);
        int32_t p = -1;
        frame([&] {
            openElement("div.p");
            p = here();
            for (int i = 0; i < c.children; ++i) {
                openElement("div.c");
                closeElement();
            }
            closeElement();
        });
        EXPECT_EQ(node(p).contentExtent, c.extent) << c.what;
    }
}

TEST_F(LayoutTest, TheRootSpansTheWindowWhateverTheStylesheetSays) {
    css("root { width: 10; height: 10; padding: 4; }");
    frame([] {}, 640, 480);
    EXPECT_TRUE(sameRect(node(0).box, {0, 0, 640, 480}));
    EXPECT_TRUE(sameRect(node(0).content, {4, 4, 632, 472}));
}

}  // namespace
}  // namespace kiln
