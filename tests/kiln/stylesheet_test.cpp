// The stylesheet dialect: values, colours, declarations, selectors, warnings,
// rule order, the grouped style copy, and loading with its status texts.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>

#include "ui/kiln/registry.h"
#include "ui/kiln/style.h"

namespace kiln {
namespace {

bool nearColour(const Colour& a, const Colour& b) {
    return std::fabs(a.r - b.r) < 1e-4f && std::fabs(a.g - b.g) < 1e-4f && std::fabs(a.b - b.b) < 1e-4f &&
           std::fabs(a.a - b.a) < 1e-4f;
}

Style declare(const char* name, const char* value, std::string* warnings = nullptr) {
    Style style;
    std::string sink;
    DeclarationContext context{7, warnings ? warnings : &sink};
    applyDeclaration(style, name, value, context);
    return style;
}

std::string warningsOf(const std::string& text) {
    Stylesheet sheet;
    std::string error;
    parseStylesheet(text, sheet, error);
    return sheet.warnings;
}

TEST(NameHash, IsFnv1aOverTheBytes) {
    EXPECT_EQ(nameHash(""), 0x811C9DC5u);
    EXPECT_EQ(nameHash("a"), 0xE40C292Cu);
    EXPECT_EQ(nameHash("foobar"), 0xBF9CF968u);
    EXPECT_NE(nameHash("btn"), nameHash("Btn"));
}

TEST(ParseColour, ReadsTheFourForms) {
    struct Case {
        const char* text;
        bool ok;
        Colour want;
    } cases[] = {
        {"transparent", true, {0, 0, 0, 0}},
        {"none", true, {0, 0, 0, 0}},
        {"white", true, {1, 1, 1, 1}},
        {"black", true, {0, 0, 0, 1}},
        {"#f00", true, {1, 0, 0, 1}},
        {"#FfF", true, {1, 1, 1, 1}},
        {"#336699", true, {0.2f, 0.4f, 0.6f, 1}},
        {"#33669980", true, {0.2f, 0.4f, 0.6f, 128 / 255.0f}},
        {"#abcd", false, {}},
        {"#", false, {}},
        {"#12345", false, {}},
        {"#ggg", false, {}},
        {"rgba(255, 0, 0)", true, {1, 0, 0, 1}},
        {"rgb(0,0,0,0.5)", true, {0, 0, 0, 0.5f}},
        {"rgba(0, 203, 175, 0.0088)", true, {0, 203 / 255.0f, 175 / 255.0f, 0.0088f}},
        {"rgb(51)", true, {0.2f, 0, 0, 1}},
        {"rgb(1,2,3,0.5,9)", true, {1 / 255.0f, 2 / 255.0f, 3 / 255.0f, 0.5f}},
        {"rgb(300, -5, 0, 2)", true, {1, 0, 0, 1}},  // channels stay within 0..1
        {"rgb 1 2 3", false, {}},
        {"rgb(1, 2", false, {}},
        {"red", false, {}},
        {"White", false, {}},
        {"", false, {}},
        {"hsl(0, 50%, 50%)", false, {}},
        // System colours, in any case, as the default (white) palette has them.
        {"Canvas", true, {1, 1, 1, 1}},
        {"canvastext", true, {0, 0, 0, 1}},
        {"GrayText", true, {0x60 / 255.0f, 0, 0, 1}},
        {"Canvas2", false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Colour got{9, 9, 9, 9};
        EXPECT_EQ(parseColour(c.text, got), c.ok);
        if (c.ok) {
            EXPECT_TRUE(nearColour(got, c.want)) << got.r << " " << got.g << " " << got.b << " " << got.a;
        }
    }
}

TEST(SplitValue, CutsAtWhiteSpaceOutsideParentheses) {
    struct Case {
        const char* text;
        std::vector<std::string> want;
    } cases[] = {
        {"1px solid #1d3853", {"1px", "solid", "#1d3853"}},
        {"  0 2px\t4px\nrgba(0, 0, 0, 0.85) ", {"0", "2px", "4px", "rgba(0, 0, 0, 0.85)"}},
        {"url(a b.png) 12", {"url(a b.png)", "12"}},
        {"f(g(1 2) 3) x", {"f(g(1 2) 3)", "x"}},
        {") a b", {")", "a", "b"}},
        {"(unclosed a b", {"(unclosed a b"}},
        {"", {}},
        {" \t ", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(splitValue(c.text), c.want);
    }
}

TEST(ApplyDeclaration, ReadsEveryProperty) {
    const Colour red{1, 0, 0, 1};
    struct Case {
        const char* name;
        const char* value;
        StyleMask mask;
        std::function<void(const Style&)> check;
    } cases[] = {
        // Colours and pictures
        {"color", "#f00", bit(BitColor), [&](const Style& s) { EXPECT_TRUE(nearColour(s.color, red)); }},
        {"background", "#f00", bit(BitBackground), [&](const Style& s) { EXPECT_TRUE(nearColour(s.background, red)); }},
        {"background-color", "black", bit(BitBackground), [](const Style& s) { EXPECT_EQ(s.background.a, 1); }},
        {"background", "url( \"art/a b.png\" )", bit(BitBackgroundImage),
         [](const Style& s) { EXPECT_EQ(imagePath(s.backgroundImage), "art/a b.png"); }},
        {"background-color", "url('x.png')", bit(BitBackgroundImage),
         [](const Style& s) { EXPECT_EQ(imagePath(s.backgroundImage), "x.png"); }},
        {"background-image", "url(y.png) no-repeat", bit(BitBackgroundImage),
         [](const Style& s) { EXPECT_EQ(imagePath(s.backgroundImage), "y.png"); }},
        {"background-image", "none", bit(BitBackgroundImage), [](const Style& s) { EXPECT_EQ(s.backgroundImage, -1); }},
        {"background-image", "url()", bit(BitBackgroundImage), [](const Style& s) { EXPECT_EQ(s.backgroundImage, -1); }},
        {"background-size", "32px", bit(BitBackgroundSize),
         [](const Style& s) { EXPECT_EQ(s.backgroundWidth, 32); EXPECT_EQ(s.backgroundHeight, 32); }},
        {"background-size", "32 16 8", bit(BitBackgroundSize),
         [](const Style& s) { EXPECT_EQ(s.backgroundWidth, 32); EXPECT_EQ(s.backgroundHeight, 16); }},
        {"background-size", "cover", bit(BitBackgroundSize),
         [](const Style& s) { EXPECT_EQ(s.backgroundWidth, -1); EXPECT_EQ(s.backgroundHeight, -1); }},
        // Borders: `solid` is a width of 0 and the last width wins.
        {"border", "1px solid #1d3853", bit(BitBorderWidth) | bit(BitBorderColor),
         [](const Style& s) {
             for (float w : s.border) EXPECT_EQ(w, 0);
             EXPECT_TRUE(nearColour(s.borderColor, Colour{0x1d / 255.f, 0x38 / 255.f, 0x53 / 255.f, 1}));
         }},
        {"border", "1px #1d3853", bit(BitBorderWidth) | bit(BitBorderColor),
         [](const Style& s) {
             for (float w : s.border) EXPECT_EQ(w, 1);
         }},
        {"border", "#000", bit(BitBorderColor), [](const Style& s) { EXPECT_EQ(s.border[0], 0); }},
        {"border-width", "1 2", bit(BitBorderWidth),
         [](const Style& s) { EXPECT_EQ(std::vector<float>(s.border, s.border + 4), (std::vector<float>{1, 2, 1, 2})); }},
        {"border-color", "red", 0, nullptr},
        {"border-color", "#f00", bit(BitBorderColor), [&](const Style& s) { EXPECT_TRUE(nearColour(s.borderColor, red)); }},
        {"border-image", "url(frame.png) 12px", bit(BitBorderImage) | bit(BitBorderSlice),
         [](const Style& s) {
             EXPECT_EQ(imagePath(s.borderImage), "frame.png");
             EXPECT_EQ(s.borderSlice, 12);
         }},
        {"border-image", "9", bit(BitBorderImage) | bit(BitBorderSlice),
         [](const Style& s) { EXPECT_EQ(s.borderImage, -1); EXPECT_EQ(s.borderSlice, 9); }},
        {"border-radius", "6px 2px", bit(BitBorderRadius), [](const Style& s) { EXPECT_EQ(s.borderRadius, 6); }},
        // Box values: 1 to 4 words, words after the fourth ignored.
        {"padding", "4", bit(BitPadding),
         [](const Style& s) { EXPECT_EQ(std::vector<float>(s.padding, s.padding + 4), (std::vector<float>{4, 4, 4, 4})); }},
        {"padding", "1 2 3", bit(BitPadding),
         [](const Style& s) { EXPECT_EQ(std::vector<float>(s.padding, s.padding + 4), (std::vector<float>{1, 2, 3, 2})); }},
        {"padding", "1 2 3 4 5", bit(BitPadding),
         [](const Style& s) { EXPECT_EQ(std::vector<float>(s.padding, s.padding + 4), (std::vector<float>{1, 2, 3, 4})); }},
        {"padding-right", "40", bit(BitPadding),
         [](const Style& s) { EXPECT_EQ(std::vector<float>(s.padding, s.padding + 4), (std::vector<float>{0, 40, 0, 0})); }},
        {"margin", "-4px auto", bit(BitMargin),
         [](const Style& s) { EXPECT_EQ(std::vector<float>(s.margin, s.margin + 4), (std::vector<float>{-4, 0, -4, 0})); }},
        {"margin-bottom", "0.22em", bit(BitMargin), [](const Style& s) { EXPECT_FLOAT_EQ(s.margin[SideBottom], 0.22f); }},
        // Lengths
        {"width", "120px", bit(BitWidth),
         [](const Style& s) { EXPECT_EQ(s.width.unit, LengthPx); EXPECT_EQ(s.width.value, 120); }},
        {"height", "50%", bit(BitHeight),
         [](const Style& s) { EXPECT_EQ(s.height.unit, LengthPercent); EXPECT_EQ(s.height.value, 50); }},
        {"min-width", "auto", bit(BitMinWidth), [](const Style& s) { EXPECT_TRUE(s.minWidth.isAuto()); }},
        {"max-width", "px12", bit(BitMaxWidth), [](const Style& s) { EXPECT_TRUE(s.maxWidth.isAuto()); }},
        {"min-height", "nan", bit(BitMinHeight), [](const Style& s) { EXPECT_TRUE(s.minHeight.isAuto()); }},
        {"max-height", ".5", bit(BitMaxHeight), [](const Style& s) { EXPECT_EQ(s.maxHeight.value, 0.5f); }},
        {"left", "-10%", bit(BitLeft),
         [](const Style& s) { EXPECT_EQ(s.left.unit, LengthPercent); EXPECT_EQ(s.left.value, -10); }},
        {"top", "4", bit(BitTop), [](const Style& s) { EXPECT_EQ(s.top.unit, LengthPx); }},
        {"right", "0", bit(BitRight), [](const Style& s) { EXPECT_EQ(s.right.unit, LengthPx); }},
        {"bottom", "auto", bit(BitBottom), [](const Style& s) { EXPECT_TRUE(s.bottom.isAuto()); }},
        // Keywords, compared exactly
        {"display", "flex", bit(BitDisplay), [](const Style& s) { EXPECT_EQ(s.display, DisplayFlex); }},
        {"display", "none", bit(BitDisplay), [](const Style& s) { EXPECT_EQ(s.display, DisplayNone); }},
        {"display", "Flex", bit(BitDisplay), [](const Style& s) { EXPECT_EQ(s.display, DisplayBlock); }},
        {"flex-direction", "row", bit(BitFlexDirection), [](const Style& s) { EXPECT_EQ(s.direction, DirectionRow); }},
        {"flex-direction", "row-reverse", bit(BitFlexDirection),
         [](const Style& s) { EXPECT_EQ(s.direction, DirectionColumn); }},
        {"justify-content", "center", bit(BitJustify), [](const Style& s) { EXPECT_EQ(s.justify, JustifyCenter); }},
        {"justify-content", "end", bit(BitJustify), [](const Style& s) { EXPECT_EQ(s.justify, JustifyEnd); }},
        {"justify-content", "flex-end", bit(BitJustify), [](const Style& s) { EXPECT_EQ(s.justify, JustifyEnd); }},
        {"justify-content", "space-between", bit(BitJustify),
         [](const Style& s) { EXPECT_EQ(s.justify, JustifySpaceBetween); }},
        {"justify-content", "space-around", bit(BitJustify), [](const Style& s) { EXPECT_EQ(s.justify, JustifyStart); }},
        {"align-items", "center", bit(BitAlign), [](const Style& s) { EXPECT_EQ(s.align, AlignCenter); }},
        {"align-items", "end", bit(BitAlign), [](const Style& s) { EXPECT_EQ(s.align, AlignEnd); }},
        {"align-items", "start", bit(BitAlign), [](const Style& s) { EXPECT_EQ(s.align, AlignStart); }},
        {"align-items", "flex-start", bit(BitAlign), [](const Style& s) { EXPECT_EQ(s.align, AlignStart); }},
        {"align-items", "baseline", bit(BitAlign), [](const Style& s) { EXPECT_EQ(s.align, AlignStretch); }},
        {"gap", "12px", bit(BitGap), [](const Style& s) { EXPECT_EQ(s.gap, 12); }},
        {"flex", "1 1 0", bit(BitFlexGrow), [](const Style& s) { EXPECT_EQ(s.grow, 1); }},
        {"flex-grow", "2", bit(BitFlexGrow), [](const Style& s) { EXPECT_EQ(s.grow, 2); }},
        {"overflow", "hidden", bit(BitOverflow), [](const Style& s) { EXPECT_EQ(s.overflow, OverflowHidden); }},
        {"overflow", "auto", bit(BitOverflow), [](const Style& s) { EXPECT_EQ(s.overflow, OverflowScroll); }},
        {"overflow-y", "scroll", bit(BitOverflow), [](const Style& s) { EXPECT_EQ(s.overflow, OverflowScroll); }},
        {"overflow", "clip", bit(BitOverflow), [](const Style& s) { EXPECT_EQ(s.overflow, OverflowVisible); }},
        {"position", "fixed", bit(BitPosition), [](const Style& s) { EXPECT_EQ(s.position, PositionAbsolute); }},
        {"position", "relative", bit(BitPosition), [](const Style& s) { EXPECT_EQ(s.position, PositionStatic); }},
        {"z-index", "3.9", bit(BitZIndex), [](const Style& s) { EXPECT_EQ(s.zIndex, 3); }},
        {"z-index", "-2.5", bit(BitZIndex), [](const Style& s) { EXPECT_EQ(s.zIndex, -2); }},
        {"z-index", "1e30", bit(BitZIndex), [](const Style& s) { EXPECT_EQ(s.zIndex, 1000000000); }},
        // Transform: translate only, percent per part.
        {"transform", "translate(-50%, 10px)", bit(BitTransform),
         [](const Style& s) {
             EXPECT_EQ(s.tx, -50); EXPECT_TRUE(s.txPercent);
             EXPECT_EQ(s.ty, 10); EXPECT_FALSE(s.tyPercent);
         }},
        {"transform", "translate(7px)", bit(BitTransform),
         [](const Style& s) { EXPECT_EQ(s.tx, 7); EXPECT_EQ(s.ty, 0); EXPECT_FALSE(s.tyPercent); }},
        {"transform", "rotate(4deg)", 0, nullptr},
        // Text
        {"font-family", "Trajan Pro, serif", bit(BitFontFamily),
         [](const Style& s) { EXPECT_EQ(familyText(s.fontFamily), "Trajan Pro, serif"); }},
        {"font-size", "14px", bit(BitFontSize), [](const Style& s) { EXPECT_EQ(s.fontSize, 14); }},
        {"font-size", "inf", bit(BitFontSize), [](const Style& s) { EXPECT_EQ(s.fontSize, 0); }},
        {"font-weight", "bold", bit(BitFontWeight), [](const Style& s) { EXPECT_EQ(s.fontWeight, 700); }},
        {"font-weight", "normal", bit(BitFontWeight), [](const Style& s) { EXPECT_EQ(s.fontWeight, 400); }},
        {"font-weight", "600", bit(BitFontWeight), [](const Style& s) { EXPECT_EQ(s.fontWeight, 600); }},
        {"font-weight", "350.7", bit(BitFontWeight), [](const Style& s) { EXPECT_EQ(s.fontWeight, 350); }},
        {"font-weight", "lighter", bit(BitFontWeight), [](const Style& s) { EXPECT_EQ(s.fontWeight, 400); }},
        {"font-weight", "-5", bit(BitFontWeight), [](const Style& s) { EXPECT_EQ(s.fontWeight, 400); }},
        {"font-weight", "5000000000", bit(BitFontWeight), [](const Style& s) { EXPECT_EQ(s.fontWeight, 1000); }},
        {"font-style", "italic", bit(BitFontStyle), [](const Style& s) { EXPECT_TRUE(s.italic); }},
        {"font-style", "oblique", bit(BitFontStyle), [](const Style& s) { EXPECT_TRUE(s.italic); }},
        {"font-style", "Italic", bit(BitFontStyle), [](const Style& s) { EXPECT_FALSE(s.italic); }},
        {"text-align", "center", bit(BitTextAlign), [](const Style& s) { EXPECT_EQ(s.textAlign, TextCenter); }},
        {"text-align", "right", bit(BitTextAlign), [](const Style& s) { EXPECT_EQ(s.textAlign, TextRight); }},
        {"text-align", "justify", bit(BitTextAlign), [](const Style& s) { EXPECT_EQ(s.textAlign, TextLeft); }},
        {"line-height", "0", bit(BitLineHeight), [](const Style& s) { EXPECT_EQ(s.lineHeight, 1.25f); }},
        {"line-height", "-1", bit(BitLineHeight), [](const Style& s) { EXPECT_EQ(s.lineHeight, 1.25f); }},
        {"line-height", "1.5", bit(BitLineHeight), [](const Style& s) { EXPECT_EQ(s.lineHeight, 1.5f); }},
        {"white-space", "nowrap", bit(BitWhiteSpace), [](const Style& s) { EXPECT_TRUE(s.nowrap); }},
        {"white-space", "pre", bit(BitWhiteSpace), [](const Style& s) { EXPECT_FALSE(s.nowrap); }},
        {"letter-spacing", "0.5px", bit(BitLetterSpacing), [](const Style& s) { EXPECT_EQ(s.letterSpacing, 0.5f); }},
        {"text-shadow", "0 2px 4px rgba(0, 0, 0, 0.5)", bit(BitTextShadow),
         [](const Style& s) {
             EXPECT_EQ(s.shadowDx, 0); EXPECT_EQ(s.shadowDy, 2);
             EXPECT_TRUE(nearColour(s.shadowColour, Colour{0, 0, 0, 0.5f}));
         }},
        {"text-shadow", "#000", bit(BitTextShadow),
         [](const Style& s) { EXPECT_EQ(s.shadowDx, 1); EXPECT_EQ(s.shadowDy, 1); EXPECT_EQ(s.shadowColour.a, 1); }},
        {"text-shadow", "3px black", bit(BitTextShadow),
         [](const Style& s) { EXPECT_EQ(s.shadowDx, 3); EXPECT_EQ(s.shadowDy, 1); }},
        {"text-outline", "2px #f00", bit(BitTextOutline),
         [&](const Style& s) { EXPECT_EQ(s.outlineWidth, 2); EXPECT_TRUE(nearColour(s.outlineColour, red)); }},
        // Effects
        {"opacity", ".5", bit(BitOpacity), [](const Style& s) { EXPECT_EQ(s.opacity, 0.5f); }},
        {"glow", "#f00 8px", bit(BitGlow),
         [&](const Style& s) { EXPECT_EQ(s.glowRadius, 8); EXPECT_TRUE(nearColour(s.glowColour, red)); }},
        {"focus-ring", "2px 3px #f00 #00f", bit(BitFocusRing),
         [&](const Style& s) {
             EXPECT_EQ(s.ringWidth, 2); EXPECT_EQ(s.ringGap, 3); EXPECT_TRUE(nearColour(s.ringColour, red));
             EXPECT_TRUE(nearColour(s.ringGapColour, Colour{0, 0, 1, 1}));
         }},
        {"focus-ring", "-2 #f00", bit(BitFocusRing),
         [](const Style& s) { EXPECT_EQ(s.ringWidth, 0) << "no negative ring"; EXPECT_EQ(s.ringGapColour.a, 0); }},
        {"scrollbar-width", "2", bit(BitScrollbarWidth), [](const Style& s) { EXPECT_EQ(s.scrollbarWidth, 2); }},
        {"scrollbar-track", "#f00", bit(BitScrollbarTrack),
         [&](const Style& s) { EXPECT_TRUE(nearColour(s.scrollbarTrack, red)); }},
        {"scrollbar-track", "dark", 0, nullptr},
        {"scrollbar-thumb", "white", bit(BitScrollbarThumb), [](const Style& s) { EXPECT_EQ(s.scrollbarThumb.g, 1); }},
        {"scrollbar-thumb", "rgb", 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ": " + c.value);
        Style style = declare(c.name, c.value);
        EXPECT_EQ(style.mask, c.mask);
        if (c.check) c.check(style);
    }
}

TEST(ApplyDeclaration, LaterDeclarationsInOneRuleBuildOnEarlierOnes) {
    Style style;
    std::string warnings;
    DeclarationContext context{1, &warnings};
    applyDeclaration(style, "padding", "10", context);
    applyDeclaration(style, "padding-right", "40", context);
    EXPECT_EQ(std::vector<float>(style.padding, style.padding + 4), (std::vector<float>{10, 40, 10, 10}));
    EXPECT_EQ(warnings, "");
}

TEST(ApplyDeclaration, WarnsWithTheLineNumber) {
    struct Case {
        const char* name;
        const char* value;
        const char* warning;
    } cases[] = {
        {"color", "red", "  line 7: color: red is not a colour\n"},
        {"background", "gold", "  line 7: background: gold is not a colour or url()\n"},
        {"background-color", "x url(a.png)", "  line 7: background: x url(a.png) is not a colour or url()\n"},
        {"transform", "scale(2)", "  line 7: transform: only translate() is supported\n"},
        {"colour", "#fff", "  line 7: unknown property 'colour'\n"},
        {"Color", "#fff", "  line 7: unknown property 'Color'\n"},
        {"border-color", "gold", ""},
        {"scrollbar-track", "gold", ""},
        {"scrollbar-thumb", "gold", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string warnings;
        Style style = declare(c.name, c.value, &warnings);
        EXPECT_EQ(warnings, c.warning);
        EXPECT_EQ(style.mask, 0u);
    }
}

TEST(ParseStylesheet, WarnsAboutEveryProblem) {
    struct Case {
        const char* text;
        const char* warnings;
    } cases[] = {
        {".x { colr: red; }", "  line 1: unknown property 'colr'\n"},
        {".x {\n  color: red;\n}", "  line 2: color: red is not a colour\n"},
        {".x { color:\n  red; }", "  line 2: color: red is not a colour\n"},
        {".x { color #fff; }", "  line 1: ' color #fff' is not a declaration\n"},
        {".x {\n  color #fff\n}", "  line 3: '\n  color #fff\n' is not a declaration\n"},
        {".x { ; ;\n\t; }", ""},
        {".x { : red; }", ""},
        // Comments and multi-line selectors count their lines.
        {"/* a\n b */\n.x,\n.y {\n color: bad; }", "  line 5: color: bad is not a colour\n"},
        {".a{}\n\n.b { z: 1 }\n.c {\n\n q: 2 }", "  line 3: unknown property 'z'\n  line 6: unknown property 'q'\n"},
        // Inside braces a comment is part of the declaration.
        {".x { /* c */ color: #fff }", "  line 1: unknown property '/* c */ color'\n"},
        {".a, .b:bogus { color: red }",
         "  line 1: color: red is not a colour\n  bad selector '.b:bogus': unknown state ':bogus'\n"},
        {"div > p { }", "  bad selector '>': unexpected '>' in the selector\n"},
        {".y {} .x { color: #fff", "  a rule with no '}'\n"},
        {".y {} .x", "  a selector with no '{' at the end of the file\n"},
        {".y {} /* trailing comment", ""},
        {"a:hover:nope, b.c:bogus {}",
         "  bad selector 'a:hover:nope': unknown state ':nope'\n  bad selector 'b.c:bogus': unknown state ':bogus'\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(warningsOf(c.text), c.warnings);
    }
}

TEST(ParseStylesheet, FailsWithoutUsableRules) {
    const char* texts[] = {"", "/* only a comment */", "  \n\t ", ".x { color: #fff", "div > p { color: #fff }", "{ }"};
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        Stylesheet sheet;
        sheet.rules.resize(3);
        std::string error;
        EXPECT_FALSE(parseStylesheet(text, sheet, error));
        EXPECT_EQ(error, "the stylesheet has no usable rules");
        EXPECT_TRUE(sheet.rules.empty());
    }
}

TEST(ParseStylesheet, AFailedSelectorUsesUpItsOrderNumber) {
    Stylesheet sheet;
    std::string error;
    ASSERT_TRUE(parseStylesheet(".a, .b:bogus { color: red }\n.c { color: #fff }", sheet, error));
    ASSERT_EQ(sheet.rules.size(), 2u);
    EXPECT_EQ(sheet.rules[0].order, 0u);
    EXPECT_EQ(sheet.rules[0].style.mask, 0u);  // `red` is not a colour
    EXPECT_EQ(sheet.rules[1].order, 2u);
    EXPECT_EQ(sheet.rules[1].style.mask, bit(BitColor));
    EXPECT_EQ(error, "");
}

TEST(ParseStylesheet, EverySelectorOfARuleGetsTheBody) {
    Stylesheet sheet;
    std::string error;
    ASSERT_TRUE(parseStylesheet(".a, , .b { gap: 4 }", sheet, error));
    ASSERT_EQ(sheet.rules.size(), 2u);
    for (const Rule& r : sheet.rules) EXPECT_EQ(r.style.gap, 4);
    EXPECT_EQ(sheet.rules[1].order, 1u);  // the empty piece takes no number
}

TEST(Selectors, ParseIntoCompoundStepsWithSpecificity) {
    struct Case {
        const char* selector;
        std::vector<CompoundSelector> steps;
        int32_t specificity;
    } cases[] = {
        {"div", {{nameHash("div"), 0, {}, 0}}, 1},
        {"*", {{0, 0, {}, 0}}, 0},
        {"div*", {{nameHash("div"), 0, {}, 0}}, 1},
        {"#main", {{0, nameHash("main"), {}, 0}}, 100},
        {"#a#b", {{0, nameHash("b"), {}, 0}}, 100},
        {".a.b", {{0, 0, {nameHash("a"), nameHash("b")}, 0}}, 20},
        {".btn:hover:focus", {{0, 0, {nameHash("btn")}, StateHover | StateFocus}}, 20},
        {":disabled:checked:active", {{0, 0, {}, StateDisabled | StateChecked | StateActive}}, 10},
        {"div#x.y_1:active", {{nameHash("div"), nameHash("x"), {nameHash("y_1")}, StateActive}}, 121},
        {"win  .a\ttext",
         {{nameHash("win"), 0, {}, 0}, {0, 0, {nameHash("a")}, 0}, {nameHash("text"), 0, {}, 0}},
         12},
        {"*.btn--play", {{0, 0, {nameHash("btn--play")}, 0}}, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.selector);
        Stylesheet sheet;
        std::string error;
        ASSERT_TRUE(parseStylesheet(std::string(c.selector) + " {}", sheet, error));
        ASSERT_EQ(sheet.rules.size(), 1u);
        const Rule& rule = sheet.rules[0];
        EXPECT_EQ(rule.specificity, c.specificity);
        ASSERT_EQ(rule.selector.size(), c.steps.size());
        for (size_t i = 0; i < c.steps.size(); ++i) {
            EXPECT_EQ(rule.selector[i].tag, c.steps[i].tag) << i;
            EXPECT_EQ(rule.selector[i].id, c.steps[i].id) << i;
            EXPECT_EQ(rule.selector[i].classes, c.steps[i].classes) << i;
            EXPECT_EQ(rule.selector[i].states, c.steps[i].states) << i;
        }
    }
}

TEST(Selectors, RefuseWhatTheDialectDoesNotHave) {
    struct Case {
        const char* selector;
        const char* warning;
    } cases[] = {
        {"a:bogus", "  bad selector 'a:bogus': unknown state ':bogus'\n"},
        {"a:", "  bad selector 'a:': unknown state ':'\n"},
        {"a::before", "  bad selector 'a::before': unknown state ':'\n"},
        {"a:Hover", "  bad selector 'a:Hover': unknown state ':Hover'\n"},
        {"a>b", "  bad selector 'a>b': unexpected '>' in the selector\n"},
        {"a.", "  bad selector 'a.': unexpected '.' in the selector\n"},
        {"#", "  bad selector '#': unexpected '#' in the selector\n"},
        {"*div", "  bad selector '*div': unexpected 'd' in the selector\n"},
        {"input[type]", "  bad selector 'input[type]': unexpected '[' in the selector\n"},
        {"div p+q", "  bad selector 'p+q': unexpected '+' in the selector\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.selector);
        EXPECT_EQ(warningsOf(std::string(c.selector) + " {}"), c.warning);
    }
}

TEST(ParseStylesheet, SortsBySpecificityThenSourceOrder) {
    Stylesheet sheet;
    std::string error;
    ASSERT_TRUE(parseStylesheet(".b {} .a.b {} .b {} .btn--primary {} .btn:hover {} div {} #x {}", sheet, error));
    std::vector<std::pair<int32_t, uint32_t>> got;
    for (const Rule& r : sheet.rules) got.emplace_back(r.specificity, r.order);
    std::vector<std::pair<int32_t, uint32_t>> want = {{1, 5}, {10, 0}, {10, 2}, {10, 3}, {20, 1}, {20, 4}, {100, 6}};
    EXPECT_EQ(got, want);
}

TEST(ParseStylesheet, SortsLongStylesheetsTheSameWay) {
    // Past 32 rules the order must still be (specificity, order).
    std::string text;
    for (int i = 0; i < 100; ++i) text += (i % 3 == 0 ? ".a.b" : i % 3 == 1 ? "div" : ".c") + std::string(" { }\n");
    Stylesheet sheet;
    std::string error;
    ASSERT_TRUE(parseStylesheet(text, sheet, error));
    ASSERT_EQ(sheet.rules.size(), 100u);
    for (size_t i = 1; i < sheet.rules.size(); ++i) {
        const Rule& a = sheet.rules[i - 1];
        const Rule& b = sheet.rules[i];
        EXPECT_TRUE(a.specificity < b.specificity || (a.specificity == b.specificity && a.order < b.order)) << i;
    }
}

TEST(ParseStylesheet, KeepsAtMostTenThousandRules) {
    std::string text;
    for (int i = 0; i < 10002; ++i) text += "a{}";
    Stylesheet sheet;
    std::string error;
    ASSERT_TRUE(parseStylesheet(text, sheet, error));
    EXPECT_EQ(sheet.rules.size(), 10000u);
    EXPECT_EQ(sheet.warnings, "  more than 10000 rules; the rest of the stylesheet is ignored\n");
}

// ---------------------------------------------------------------------------
// The grouped copy used by style resolution

// A style whose every field differs from the defaults.
Style unusualStyle() {
    Style s;
    s.color = {0.1f, 0.2f, 0.3f, 0.4f};
    s.background = {0.5f, 0.5f, 0.5f, 0.5f};
    s.backgroundImage = 3;
    s.backgroundWidth = 10, s.backgroundHeight = 11;
    for (int i = 0; i < 4; ++i) s.border[i] = 1.0f + i, s.padding[i] = 5.0f + i, s.margin[i] = -1.0f - i;
    s.borderColor = {1, 0, 1, 1};
    s.borderImage = 4;
    s.borderSlice = 6;
    s.borderRadius = 7;
    s.width = {1, LengthPx}, s.height = {2, LengthPercent}, s.minWidth = {3, LengthPx};
    s.minHeight = {4, LengthPx}, s.maxWidth = {5, LengthPx}, s.maxHeight = {6, LengthPx};
    s.display = DisplayFlex, s.direction = DirectionRow, s.justify = JustifyEnd, s.align = AlignCenter;
    s.overflow = OverflowScroll, s.position = PositionAbsolute, s.gap = 3, s.grow = 2;
    s.left = {1, LengthPx}, s.top = {2, LengthPx}, s.right = {3, LengthPx}, s.bottom = {4, LengthPx};
    s.tx = 5, s.ty = 6, s.txPercent = true, s.tyPercent = true;
    s.zIndex = 9;
    s.fontFamily = 2, s.fontSize = 30, s.fontWeight = 700, s.italic = true, s.textAlign = TextRight;
    s.nowrap = true, s.lineHeight = 2, s.letterSpacing = 1;
    s.shadowColour = {1, 1, 0, 1}, s.shadowDx = 3, s.shadowDy = 4;
    s.outlineColour = {0, 1, 1, 1}, s.outlineWidth = 2;
    s.opacity = 0.5f, s.glowColour = {1, 0, 0, 1}, s.glowRadius = 8;
    s.scrollbarWidth = 2, s.scrollbarTrack = {1, 1, 1, 1}, s.scrollbarThumb = {0, 0, 0, 1};
    s.ringColour = {1, 1, 0, 1}, s.ringGapColour = {0, 0, 1, 1}, s.ringWidth = 3, s.ringGap = 1;
    s.mask = 0;
    return s;
}

bool eq(const Colour& a, const Colour& b) { return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a; }
bool eq(const Length& a, const Length& b) { return a.value == b.value && a.unit == b.unit; }
bool eq4(const float* a, const float* b) { return std::equal(a, a + 4, b); }

TEST(ApplyStyleBits, CopiesExactlyTheFieldsOfEachGroup) {
    // Every field, with the group that owns it.
    using Same = std::function<bool(const Style&, const Style&)>;
    const std::vector<std::pair<int, Same>> fields = {
        {BitColor, [](const Style& a, const Style& b) { return eq(a.color, b.color); }},
        {BitBackground, [](const Style& a, const Style& b) { return eq(a.background, b.background); }},
        {BitBackgroundImage, [](const Style& a, const Style& b) { return a.backgroundImage == b.backgroundImage; }},
        {BitBackgroundSize, [](const Style& a, const Style& b) { return a.backgroundWidth == b.backgroundWidth; }},
        {BitBackgroundSize, [](const Style& a, const Style& b) { return a.backgroundHeight == b.backgroundHeight; }},
        {BitBorderWidth, [](const Style& a, const Style& b) { return eq4(a.border, b.border); }},
        {BitBorderColor, [](const Style& a, const Style& b) { return eq(a.borderColor, b.borderColor); }},
        {BitBorderImage, [](const Style& a, const Style& b) { return a.borderImage == b.borderImage; }},
        {BitBorderSlice, [](const Style& a, const Style& b) { return a.borderSlice == b.borderSlice; }},
        {BitPadding, [](const Style& a, const Style& b) { return eq4(a.padding, b.padding); }},
        {BitMargin, [](const Style& a, const Style& b) { return eq4(a.margin, b.margin); }},
        {BitBorderRadius, [](const Style& a, const Style& b) { return a.borderRadius == b.borderRadius; }},
        {BitWidth, [](const Style& a, const Style& b) { return eq(a.width, b.width); }},
        {BitHeight, [](const Style& a, const Style& b) { return eq(a.height, b.height); }},
        {BitMinWidth, [](const Style& a, const Style& b) { return eq(a.minWidth, b.minWidth); }},
        {BitMinHeight, [](const Style& a, const Style& b) { return eq(a.minHeight, b.minHeight); }},
        {BitMaxWidth, [](const Style& a, const Style& b) { return eq(a.maxWidth, b.maxWidth); }},
        {BitMaxHeight, [](const Style& a, const Style& b) { return eq(a.maxHeight, b.maxHeight); }},
        {BitDisplay, [](const Style& a, const Style& b) { return a.display == b.display; }},
        {BitFlexDirection, [](const Style& a, const Style& b) { return a.direction == b.direction; }},
        {BitJustify, [](const Style& a, const Style& b) { return a.justify == b.justify; }},
        {BitAlign, [](const Style& a, const Style& b) { return a.align == b.align; }},
        {BitOverflow, [](const Style& a, const Style& b) { return a.overflow == b.overflow; }},
        {BitPosition, [](const Style& a, const Style& b) { return a.position == b.position; }},
        {BitGap, [](const Style& a, const Style& b) { return a.gap == b.gap; }},
        {BitFlexGrow, [](const Style& a, const Style& b) { return a.grow == b.grow; }},
        {BitLeft, [](const Style& a, const Style& b) { return eq(a.left, b.left); }},
        {BitTop, [](const Style& a, const Style& b) { return eq(a.top, b.top); }},
        {BitRight, [](const Style& a, const Style& b) { return eq(a.right, b.right); }},
        {BitBottom, [](const Style& a, const Style& b) { return eq(a.bottom, b.bottom); }},
        {BitTransform,
         [](const Style& a, const Style& b) {
             return a.tx == b.tx && a.ty == b.ty && a.txPercent == b.txPercent && a.tyPercent == b.tyPercent;
         }},
        {BitZIndex, [](const Style& a, const Style& b) { return a.zIndex == b.zIndex; }},
        {BitFontFamily, [](const Style& a, const Style& b) { return a.fontFamily == b.fontFamily; }},
        {BitFontSize, [](const Style& a, const Style& b) { return a.fontSize == b.fontSize; }},
        {BitFontWeight, [](const Style& a, const Style& b) { return a.fontWeight == b.fontWeight; }},
        {BitFontStyle, [](const Style& a, const Style& b) { return a.italic == b.italic; }},
        {BitTextAlign, [](const Style& a, const Style& b) { return a.textAlign == b.textAlign; }},
        {BitWhiteSpace, [](const Style& a, const Style& b) { return a.nowrap == b.nowrap; }},
        {BitLineHeight, [](const Style& a, const Style& b) { return a.lineHeight == b.lineHeight; }},
        {BitLetterSpacing, [](const Style& a, const Style& b) { return a.letterSpacing == b.letterSpacing; }},
        {BitTextShadow,
         [](const Style& a, const Style& b) {
             return eq(a.shadowColour, b.shadowColour) && a.shadowDx == b.shadowDx && a.shadowDy == b.shadowDy;
         }},
        {BitTextOutline,
         [](const Style& a, const Style& b) {
             return eq(a.outlineColour, b.outlineColour) && a.outlineWidth == b.outlineWidth;
         }},
        {BitOpacity, [](const Style& a, const Style& b) { return a.opacity == b.opacity; }},
        {BitGlow,
         [](const Style& a, const Style& b) { return eq(a.glowColour, b.glowColour) && a.glowRadius == b.glowRadius; }},
        {BitScrollbarWidth, [](const Style& a, const Style& b) { return a.scrollbarWidth == b.scrollbarWidth; }},
        {BitScrollbarTrack, [](const Style& a, const Style& b) { return eq(a.scrollbarTrack, b.scrollbarTrack); }},
        {BitScrollbarThumb, [](const Style& a, const Style& b) { return eq(a.scrollbarThumb, b.scrollbarThumb); }},
        {BitFocusRing,
         [](const Style& a, const Style& b) {
             return eq(a.ringColour, b.ringColour) && eq(a.ringGapColour, b.ringGapColour) &&
                    a.ringWidth == b.ringWidth && a.ringGap == b.ringGap;
         }},
    };
    const Style from = unusualStyle();
    const Style defaults;
    for (int group = 0; group < StyleBitCount; ++group) {
        Style to;
        to.mask = bit(BitColor);  // bits already set stay set
        applyStyleBits(to, from, bit(static_cast<StyleBit>(group)));
        EXPECT_EQ(to.mask, bit(BitColor) | bit(static_cast<StyleBit>(group))) << group;
        int owned = 0;
        for (size_t f = 0; f < fields.size(); ++f) {
            bool mine = fields[f].first == group;
            owned += mine;
            EXPECT_TRUE(fields[f].second(to, mine ? from : defaults)) << "group " << group << " field " << f;
        }
        EXPECT_GT(owned, 0) << "group " << group << " owns no field";
    }
    // All groups at once is a whole copy with the masks combined.
    Style to;
    to.mask = StyleMask(1) << 60;
    applyStyleBits(to, from, ~StyleMask(0));
    for (const auto& field : fields) EXPECT_TRUE(field.second(to, from));
    EXPECT_EQ(to.mask, (StyleMask(1) << 60) | ((StyleMask(1) << StyleBitCount) - 1));
    // No bits: nothing changes.
    Style untouched;
    applyStyleBits(untouched, from, 0);
    for (const auto& field : fields) EXPECT_TRUE(field.second(untouched, defaults));
    EXPECT_EQ(untouched.mask, 0u);
}

// ---------------------------------------------------------------------------
// Loading

class LoadStylesheet : public ::testing::Test {
protected:
    void SetUp() override {
        resetStylesheet();
        resetRegistry();
        dir_ = std::filesystem::temp_directory_path() /
               ("kiln-css-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_ / "sub");
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
        resetStylesheet();
        resetRegistry();
    }
    std::string write(const std::string& name, const std::string& text) {
        std::filesystem::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }
    std::filesystem::path dir_;
};

TEST_F(LoadStylesheet, ReportsEachOutcomeAndKeepsTheLastGoodRules) {
    std::string path = write("a.css", "a { color: #fff }\n.b { colr: 1 }\n");
    std::string status;
    ASSERT_TRUE(loadStylesheet(path, status));
    EXPECT_EQ(status, "2 rules from " + path + "\n  line 2: unknown property 'colr'\n");
    EXPECT_EQ(lastStylesheetStatus(), status);
    EXPECT_EQ(currentStylesheet().rules.size(), 2u);

    // A broken edit keeps the rules in force.
    write("a.css", "div > p { }");
    EXPECT_FALSE(reloadStylesheet(status));
    EXPECT_EQ(status, "the stylesheet " + path +
                          " has no usable rules: the stylesheet has no usable rules\n"
                          "  bad selector '>': unexpected '>' in the selector\n");
    EXPECT_EQ(currentStylesheet().rules.size(), 2u);

    write("a.css", "/* nothing */");
    EXPECT_FALSE(reloadStylesheet(status));
    EXPECT_EQ(status, "the stylesheet " + path + " has no usable rules: the stylesheet has no usable rules\n");

    // A good edit replaces them.
    write("a.css", "x {}");
    EXPECT_TRUE(reloadStylesheet(status));
    EXPECT_EQ(status, "1 rules from " + path);
    EXPECT_EQ(currentStylesheet().rules.size(), 1u);

    // A missing file keeps them too.
    std::string missing = (dir_ / "missing.css").string();
    EXPECT_FALSE(loadStylesheet(missing, status));
    EXPECT_EQ(status, "the stylesheet " + missing + " could not be read");
    EXPECT_EQ(lastStylesheetStatus(), status);
    EXPECT_EQ(currentStylesheet().rules.size(), 1u);
}

TEST_F(LoadStylesheet, TakesRelativePathsFromTheResourceFolder) {
    write("sub/b.css", ".b {} .c {}");
    setResourceFolder(dir_.string());
    std::string status;
    ASSERT_TRUE(loadStylesheet("sub/b.css", status));
    EXPECT_EQ(status, "2 rules from " + dir_.string() + "\\sub\\b.css");
}

TEST_F(LoadStylesheet, RefusesHugeFiles) {
    std::string path = write("big.css", std::string(4 * 1024 * 1024 + 1, ' '));
    std::string status;
    EXPECT_FALSE(loadStylesheet(path, status));
    EXPECT_EQ(status, "the stylesheet " + path + " is larger than 4 MiB");
}

TEST_F(LoadStylesheet, ReloadNeedsAnEarlierLoad) {
    std::string status;
    EXPECT_FALSE(reloadStylesheet(status));
    EXPECT_EQ(status, "there is no stylesheet to reload");
}

}  // namespace
}  // namespace kiln
