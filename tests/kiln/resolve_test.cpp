// Style resolution: defaults, inheritance, selector matching, rule order and
// the inline style, plus a cross-check of the indexed resolution against
// trying every rule on every element.
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/kiln/kiln_fixture.h"

namespace kiln {
namespace {

class ResolveTest : public KilnTest {
protected:
    // root > div#main.page > div.list > (div.item.odd > text.label), div.item (hovered)
    std::map<std::string, int32_t> buildSample() {
        std::map<std::string, int32_t> at;
        beginFrame(800, 600, 1);
        at["root"] = 0;
        openElement("div#main.page");
        at["main"] = here();
        openElement("div.list");
        at["list"] = here();
        openElement("div.item.odd");
        at["item1"] = here();
        textElement("x", "text.label");
        at["label"] = here();
        closeElement();
        openElement("div.item");
        at["item2"] = here();
        closeElement();
        closeElement();
        closeElement();
        ui().nodes[size_t(at["item2"])].state = StateHover;
        return at;
    }
};

TEST_F(ResolveTest, SelectorsMatchTheElementAndItsAncestors) {
    struct Case {
        const char* selector;
        std::set<std::string> matches;
    };
    const Case cases[] = {
        {".item", {"item1", "item2"}},
        {".list .item", {"item1", "item2"}},
        {".page .item.odd", {"item1"}},
        {"#main .label", {"label"}},
        {"root .label", {"label"}},
        {".page .list .item .label", {"label"}},
        {"div div div .label", {"label"}},
        {"div div div div .label", {}},     // only three div ancestors
        {".list .page .label", {}},         // steps must go upwards in order
        {".item .item", {}},                // a sibling is no ancestor
        {".label .label", {}},              // nor is the element itself
        {"div.item:hover", {"item2"}},
        {".item:hover .label", {}},
        {":hover", {"item2"}},
        {".x:focus", {}},
        {"text", {"label"}},
        {"#main", {"main"}},
        {"div#main.page", {"main"}},
        {"span#main", {}},
        {"#main.list", {}},
        {".odd.item", {"item1"}},
        {"*", {"root", "main", "list", "item1", "label", "item2"}},
        {"* .list", {"list"}},
    };
    for (const Case& c : cases) {
        css(std::string(c.selector) + " { background: #ff0000; }");
        auto at = buildSample();
        resolveStyles(ui(), sheet_);
        std::set<std::string> got;
        for (auto& [name, index] : at) {
            if (node(index).computed.mask & bit(BitBackground)) got.insert(name);
        }
        EXPECT_EQ(got, c.matches) << c.selector;
        endFrame();
    }
}

TEST_F(ResolveTest, LaterAndMoreSpecificRulesWinBitByBit) {
    struct Case {
        const char* what;
        const char* css;
        const char* spec;
        bool hover;
        float inlineWidth;  // < 0: none
        float width, height;
        float padding[4];
    };
    const Case cases[] = {
        {"equal specificity: the later one", ".a { width: 1; } .a { width: 2; }", "div.a", false, -1, 2, 0, {0, 0, 0, 0}},
        {"two classes beat one wherever they stand", ".a.b { width: 1; } .b { width: 2; }", "div.a.b", false, -1, 1, 0, {0, 0, 0, 0}},
        {"an id beats three classes", "#i { width: 1; } .a.b.c { width: 2; }", "div#i.a.b.c", false, -1, 1, 0, {0, 0, 0, 0}},
        {"a state counts like a class", ".btn:hover { width: 1; } .btn--primary { width: 2; }", "div.btn.btn--primary", true, -1, 1, 0, {0, 0, 0, 0}},
        {"a state that is not there", ".btn:hover { width: 1; } .btn--primary { width: 2; }", "div.btn.btn--primary", false, -1, 2, 0, {0, 0, 0, 0}},
        {"inline wins over every rule", "#i { width: 1; }", "div#i", false, 5, 5, 0, {0, 0, 0, 0}},
        {"only the bits a rule sets", ".a { width: 1; height: 3; } .b { width: 2; }", "div.a.b", false, -1, 2, 3, {0, 0, 0, 0}},
        {"one side sets all four", ".a { padding: 4; } .b { padding-right: 40; }", "div.a.b", false, -1, 0, 0, {0, 40, 0, 0}},
        {"a descendant step adds specificity", ".p .a { width: 1; } .a { width: 2; }", "div.a", false, -1, 1, 0, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        css(c.css);
        beginFrame(800, 600, 1);
        openElement("div.p");
        openElement(c.spec);
        int32_t at = here();
        if (c.inlineWidth >= 0) setSize(c.inlineWidth, -1);
        ui().nodes[size_t(at)].state = c.hover ? StateHover : 0;
        resolveStyles(ui(), sheet_);
        const Style& s = node(at).computed;
        EXPECT_EQ(s.width.value, c.width) << c.what;
        EXPECT_EQ(s.height.value, c.height) << c.what;
        for (int k = 0; k < 4; ++k) EXPECT_EQ(s.padding[k], c.padding[k]) << c.what << ", side " << k;
        endFrame();
    }
}

// System colour keywords read as the palette the stylesheet was parsed with;
// the forced-colours layer applies only while the mode is on, and then wins
// over more specific usual rules and the inline style.
TEST_F(ResolveTest, TheForcedColoursLayerWinsWhileTheModeIsOn) {
    const SystemColours black = blackSystemColours(), white = whiteSystemColours();
    const Colour navy{0x10 / 255.0f, 0x20 / 255.0f, 0x30 / 255.0f, 1};
    const char* const overSpecific = "#i.a.b { color: #102030 } @media (forced-colors: active) { * { color: LinkText } }";
    const char* const overInline = "@media ( Forced-Colors : active ) { .a { background: ButtonFace } }";
    const char* const afterBlock = "@media (forced-colors: active) { .a { color: Highlight } } .a.b { color: #102030 }";
    struct Case {
        const char* what;
        const char* css;
        const SystemColours& palette;
        bool forced, inlineBackground, background;  // background: check it instead of the colour
        Colour want;
    };
    const Case cases[] = {
        {"a keyword reads as the palette's colour", ".a { color: CanvasText }", black, false, false, false,
         black.canvasText},
        {"the same keyword in the other palette", ".a { color: CanvasText }", white, false, false, false,
         white.canvasText},
        {"in any case, in every colour property", ".a { border: 1 highlighttext; color: GRAYTEXT }", black, false,
         false, false, black.grayText},
        {"the layer wins over a more specific rule", overSpecific, black, true, false, false, black.linkText},
        {"nothing changes while the mode is off", overSpecific, black, false, false, false, navy},
        {"the layer wins over the inline style", overInline, white, true, true, true, white.buttonFace},
        {"the inline style stays while the mode is off", overInline, white, false, true, true, navy},
        {"rules after the block are usual ones", afterBlock, black, false, false, false, navy},
        {"and lose to the layer's", afterBlock, black, true, false, false, black.highlight},
        {"inside the layer specificity orders", "@media (forced-colors: active) { .a.b { color: Highlight } .a { color: Canvas } }",
         white, true, false, false, white.highlight},
        {"another condition's rules are left out", "@media (prefers-color-scheme: dark) { .a { color: Canvas } } .b { width: 1 }",
         black, true, false, false, Style{}.color},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string error;
        ASSERT_TRUE(parseStylesheet(c.css, sheet_, error, c.palette)) << error;
        setForcedColours(c.forced);
        beginFrame(800, 600, 1);
        openElement("div#i.a.b");
        const int32_t at = here();
        if (c.inlineBackground) setBackground(navy);
        resolveStyles(ui(), sheet_);
        const Colour got = c.background ? node(at).computed.background : node(at).computed.color;
        EXPECT_TRUE(got.r == c.want.r && got.g == c.want.g && got.b == c.want.b && got.a == c.want.a)
            << got.r << " " << got.g << " " << got.b << " " << got.a;
        endFrame();
    }
}

TEST_F(ResolveTest, OnlyTheTextPropertiesAreInherited) {
    css(".p { color: #102030; font-family: Consolas; font-size: 30; font-weight: bold; font-style: italic;"
        " line-height: 2; letter-spacing: 3; text-align: center; white-space: nowrap;"
        " text-shadow: #ff0000 2 3; text-outline: #00ff00 4;"
        " background: #ffffff; opacity: 0.5; glow: #0000ff 6; margin: 7; padding: 8; border-width: 9;"
        " width: 10; display: flex; overflow: hidden; position: absolute; z-index: 4; gap: 5; }");
    beginFrame(800, 600, 1);
    openElement("div.p");
    int32_t p = here();
    openElement("div");
    int32_t kid = here();
    resolveStyles(ui(), sheet_);
    const Style& ps = node(p).computed;
    const Style& ks = node(kid).computed;
    const Style defaults;

    EXPECT_EQ(ks.color.r, ps.color.r);
    EXPECT_EQ(ks.color.b, ps.color.b);
    EXPECT_EQ(ks.fontFamily, ps.fontFamily);
    EXPECT_NE(ks.fontFamily, 0);
    EXPECT_EQ(ks.fontSize, 30);
    EXPECT_EQ(ks.fontWeight, 700);
    EXPECT_TRUE(ks.italic);
    EXPECT_EQ(ks.lineHeight, 2);
    EXPECT_EQ(ks.letterSpacing, 3);
    EXPECT_EQ(ks.textAlign, TextCenter);
    EXPECT_TRUE(ks.nowrap);
    EXPECT_EQ(ks.shadowColour.r, 1);
    EXPECT_EQ(ks.shadowDx, 2);
    EXPECT_EQ(ks.shadowDy, 3);
    EXPECT_EQ(ks.outlineColour.g, 1);
    EXPECT_EQ(ks.outlineWidth, 4);

    EXPECT_EQ(ks.background.a, defaults.background.a);
    EXPECT_EQ(ks.opacity, 1);
    EXPECT_EQ(ks.glowRadius, 0);
    EXPECT_EQ(ks.margin[0], 0);
    EXPECT_EQ(ks.padding[0], 0);
    EXPECT_EQ(ks.border[0], 0);
    EXPECT_TRUE(ks.width.isAuto());
    EXPECT_EQ(ks.display, DisplayBlock);
    EXPECT_EQ(ks.overflow, OverflowVisible);
    EXPECT_EQ(ks.position, PositionStatic);
    EXPECT_EQ(ks.zIndex, 0);
    EXPECT_EQ(ks.gap, 0);
    EXPECT_EQ(ks.mask, 0u) << "inherited values set no bits";
    EXPECT_EQ(node(0).computed.fontSize, defaults.fontSize) << "the root inherits nothing";
    endFrame();
}

TEST_F(ResolveTest, ANewStylesheetInTheSameRecordIsIndexedAgain) {
    auto widthOf = [&](const char* spec) {
        beginFrame(800, 600, 1);
        openElement(spec);
        int32_t at = here();
        resolveStyles(ui(), sheet_);
        float w = node(at).computed.width.value;
        endFrame();
        return w;
    };
    css(".a { width: 1; }");
    EXPECT_EQ(widthOf("div.a"), 1);
    EXPECT_EQ(widthOf("div#a"), 0);
    css("#a { width: 2; }");  // same rule count, filed under another key
    EXPECT_EQ(widthOf("div.a"), 0);
    EXPECT_EQ(widthOf("div#a"), 2);
    Stylesheet other;
    std::string error;
    ASSERT_TRUE(parseStylesheet("div { width: 3; }", other, error));
    beginFrame(800, 600, 1);
    openElement("div#a");
    resolveStyles(ui(), other);
    EXPECT_EQ(node(1).computed.width.value, 3);
    endFrame();
}

// Elements keep candidate lists and ancestor filters made from the rules'
// selectors: a selector edited in place (its filing key unchanged) must be
// read again on the next resolution.
TEST_F(ResolveTest, SelectorsEditedInPlaceAreReadAgain) {
    struct Case {
        const char* what;
        const char* css;
        void (*edit)(Stylesheet&);
        float before, after;
    };
    const Case cases[] = {
        {"a class added to the last step", ".a { width: 1; }",
         [](Stylesheet& s) { s.rules[0].selector.back().classes.push_back(nameHash("zz")); }, 1, 0},
        {"a class the element lacks taken away", ".a.zz { width: 1; }",
         [](Stylesheet& s) { s.rules[0].selector.back().classes.pop_back(); }, 0, 1},
        {"an element name set", ".a { width: 1; }", [](Stylesheet& s) { s.rules[0].selector.back().tag = nameHash("span"); }, 1, 0},
        {"a state added", ".a { width: 1; }", [](Stylesheet& s) { s.rules[0].selector.back().states = StateFocus; }, 1, 0},
        {"an ancestor step changed", ".p .a { width: 1; }",
         [](Stylesheet& s) { s.rules[0].selector.front().classes[0] = nameHash("q"); }, 1, 0},
        {"an ancestor step now present", ".q .a { width: 1; }",
         [](Stylesheet& s) { s.rules[0].selector.front().classes[0] = nameHash("p"); }, 0, 1},
        {"an ancestor step added", ".a { width: 1; }",
         [](Stylesheet& s) {
             CompoundSelector step;
             step.classes.push_back(nameHash("q"));
             s.rules[0].selector.insert(s.rules[0].selector.begin(), step);
         },
         1, 0},
    };
    auto width = [&] {
        beginFrame(800, 600, 1);
        openElement("div.p");
        openElement("div.a");
        int32_t at = here();
        resolveStyles(ui(), sheet_);
        float w = node(at).computed.width.value;
        endFrame();
        return w;
    };
    for (const Case& c : cases) {
        css(c.css);
        EXPECT_EQ(width(), c.before) << c.what;
        c.edit(sheet_);
        EXPECT_EQ(width(), c.after) << c.what;
    }
}

// ---------------------------------------------------------------------------
// The index against the plain way: every rule, in order, with a matcher
// that backtracks over ancestors instead of taking the nearest.

bool stepMatchesRef(const CompoundSelector& step, const Node& n) {
    if (step.tag != 0 && step.tag != n.tag) return false;
    if (step.id != 0 && step.id != n.id) return false;
    if ((step.states & n.state) != step.states) return false;
    for (uint32_t c : step.classes) {
        bool found = false;
        for (uint32_t k = 0; k < n.classCount; ++k) found = found || n.classes[k] == c;
        if (!found) return false;
    }
    return true;
}

bool ancestorsMatchRef(const std::vector<CompoundSelector>& steps, int step, int32_t from) {
    if (step < 0) return true;
    for (int32_t a = from; a >= 0; a = ui().nodes[size_t(a)].parent) {
        if (stepMatchesRef(steps[size_t(step)], ui().nodes[size_t(a)]) &&
            ancestorsMatchRef(steps, step - 1, ui().nodes[size_t(a)].parent)) {
            return true;
        }
    }
    return false;
}

TEST_F(ResolveTest, IndexedResolutionEqualsTryingEveryRule) {
    std::mt19937 rng(12345);
    auto pick = [&rng](int n) { return int(rng() % uint32_t(n)); };
    const char* tags[] = {"div", "text", "row", "root"};
    const char* ids[] = {"a", "b", "c"};
    const char* classes[] = {"x", "y", "z", "w", "v", "u"};

    auto randomStep = [&](bool allowEmpty) {
        std::string step;
        if (pick(3) == 0) step += tags[pick(4)];
        if (pick(6) == 0) step += std::string("#") + ids[pick(3)];
        int n = pick(3);
        for (int i = 0; i < n; ++i) step += std::string(".") + classes[pick(6)];
        if (pick(5) == 0) step += ":hover";
        if (step.empty()) step = allowEmpty && pick(2) == 0 ? "*" : std::string(".") + classes[pick(6)];
        return step;
    };

    for (int round = 0; round < 20; ++round) {
        // 1. A stylesheet of 150 rules, each with its own width and colour
        std::string text;
        for (int r = 0; r < 150; ++r) {
            int steps = 1 + pick(3);
            for (int s = 0; s < steps; ++s) text += randomStep(true) + (s + 1 < steps ? " " : "");
            text += " { width: " + std::to_string(r + 1) + "; ";
            if (pick(2) == 0) text += "height: " + std::to_string(r + 1) + "; ";
            if (pick(3) == 0) text += "color: #" + std::string(pick(2) ? "ff0000" : "00ff00") + "; ";
            text += "}\n";
        }
        css(text);

        // 2. A random tree of 120 elements, some hovered
        beginFrame(800, 600, 1);
        int open = 0;
        for (int e = 0; e < 120; ++e) {
            if (open > 0 && pick(3) == 0) {
                closeElement();
                --open;
            }
            std::string spec = randomStep(false);
            if (spec.find(":hover") != std::string::npos) spec.erase(spec.find(":hover"));
            openElement(spec);
            ++open;
            if (pick(4) == 0) ui().nodes[size_t(here())].state = StateHover;
        }
        resolveStyles(ui(), sheet_);

        // 3. The plain way, element by element
        for (size_t i = 0; i < ui().nodes.size(); ++i) {
            const Node& n = ui().nodes[i];
            Style want;
            if (n.parent >= 0) {
                want.color = ui().nodes[size_t(n.parent)].computed.color;
            }
            for (const Rule& rule : sheet_.rules) {
                const auto& steps = rule.selector;
                if (stepMatchesRef(steps.back(), n) && ancestorsMatchRef(steps, int(steps.size()) - 2, n.parent)) {
                    applyStyleBits(want, rule.style, rule.style.mask);
                }
            }
            applyStyleBits(want, n.inlineStyle, n.inlineStyle.mask);
            ASSERT_EQ(n.computed.width.value, want.width.value) << "round " << round << ", element " << i;
            ASSERT_EQ(n.computed.height.value, want.height.value) << "round " << round << ", element " << i;
            ASSERT_EQ(n.computed.color.r, want.color.r) << "round " << round << ", element " << i;
            ASSERT_EQ(n.computed.mask, want.mask) << "round " << round << ", element " << i;
        }
        endFrame();
    }
}

}  // namespace
}  // namespace kiln
