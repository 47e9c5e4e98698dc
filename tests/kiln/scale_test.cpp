// Scaling a stylesheet for the monitor before it is loaded.
#include <gtest/gtest.h>

#include <cmath>

#include "ui/kiln/style.h"

namespace kiln {
namespace {

TEST(ScaleStylesheet, MultipliesTheLengthsOfSizeProperties) {
    struct Case {
        const char* text;
        float scale;
        const char* want;
    } cases[] = {
        // Printed with two decimals, trailing zeros and point removed.
        {"a { width: 14 }", 1.5f, "a { width: 21 }"},
        {"a { padding: 11.5px }", 1.25f, "a { padding: 14.38px }"},
        {"a { padding: 10px 20px 1.2px 0 }", 1.5f, "a { padding: 15px 30px 1.8px 0 }"},
        {"a { font-size: +4; letter-spacing: -.5 }", 1.5f, "a { font-size: 6; letter-spacing: -0.75 }"},
        {"a { gap: 0.001 }", 2, "a { gap: 0 }"},
        {"a { margin-top: -0.001 }", 2, "a { margin-top: 0 }"},
        // Borders: positive results are whole pixels, at least 1.
        {"a { border: 1 #000 }", 1.25f, "a { border: 1 #000 }"},
        {"a { border: 2px solid #123 }", 2, "a { border: 4px solid #123 }"},
        {"a { border-width: 0.2 3 }", 1.25f, "a { border-width: 1 4 }"},
        {"a { border: 0 }", 1.5f, "a { border: 0 }"},
        {"a { border: -2 }", 1.5f, "a { border: -3 }"},
        // Hairline sizes (above 0, at most 3) are whole pixels, at least 1.
        {"a { height: 2 }", 1.25f, "a { height: 3 }"},
        {"a { height: 3 }", 1.1f, "a { height: 3 }"},
        {"a { max-height: 0.4 }", 1.25f, "a { max-height: 1 }"},
        {"a { min-height: 4 }", 1.25f, "a { min-height: 5 }"},
        {"a { width: 1px }", 1.75f, "a { width: 2px }"},
        {"a { height: 0 }", 2, "a { height: 0 }"},
        {"a { min-width: 2; max-width: 2 }", 1.25f, "a { min-width: 2.5; max-width: 2.5 }"},
        // Untouched: percentages, colours in rgb()/rgba() and #hex.
        {"a { width: 50% }", 1.25f, "a { width: 50% }"},
        {"a { text-shadow: 0 2px 4px rgba(0, 203, 175, 0.0088) }", 1.25f,
         "a { text-shadow: 0 2.5px 5px rgba(0, 203, 175, 0.0088) }"},
        {"a { glow: #2e7d32 8 }", 2, "a { glow: #2e7d32 16 }"},
        {"a { text-outline: 1 rgb(0,0,0) }", 3, "a { text-outline: 3 rgb(0,0,0) }"},
        {"a { transform: translate(-50%, 10px) }", 2, "a { transform: translate(-50%, 20px) }"},
        {"a { background-size: 32 16; scrollbar-width: 9 }", 2, "a { background-size: 64 32; scrollbar-width: 18 }"},
        {"a { left: 3; top: 4; right: 5; bottom: 6; border-radius: 7 }", 2,
         "a { left: 6; top: 8; right: 10; bottom: 12; border-radius: 14 }"},
        // Other properties and selectors are copied as they are.
        {"a { line-height: 1.5; opacity: .5; z-index: 3; flex: 1; color: #123 }", 2,
         "a { line-height: 1.5; opacity: .5; z-index: 3; flex: 1; color: #123 }"},
        {"h1.w10, .p2 { top: 1 }\n.x2 {width:2}", 2, "h1.w10, .p2 { top: 2 }\n.x2 {width:4}"},
        {"a { Width: 10; widths: 10 }", 2, "a { Width: 10; widths: 10 }"},
        // Comments go first; an unclosed rule is still scaled.
        {"/* w */a { width: 10 /* 5 */ }", 2, "a { width: 20  }"},
        {"a { width: 10", 2, "a { width: 20"},
        {"a { width: 10 } b", 2, "a { width: 20 } b"},
        {"a { width: 10 /* open", 2, "a { width: 20 "},
        // An @media block: its prelude and closing brace as they are, its rules scaled.
        {"@media (forced-colors: active) { a { border: 2 Canvas } b { gap: 3 } } c { gap: 1 }", 2,
         "@media (forced-colors: active) { a { border: 4 Canvas } b { gap: 6 } } c { gap: 2 }"},
        // A number too large to print stays as written.
        {"a { width: 99999999999999999999 }", 2, "a { width: 99999999999999999999 }"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " at " + std::to_string(c.scale));
        EXPECT_EQ(scaleStylesheet(c.text, c.scale), c.want);
    }
}

TEST(ScaleStylesheet, LeavesTheTextAloneAtOneHundredPercent) {
    const std::string text = "/* c */a { width: 10; border: 1 }";
    for (float scale : {1.0f, 1.0009f, 0.9991f, 0.0f, -2.0f, NAN, INFINITY}) {
        SCOPED_TRACE(scale);
        EXPECT_EQ(scaleStylesheet(text, scale), "a { width: 10; border: 1 }");
    }
    EXPECT_EQ(scaleStylesheet(text, 1.002f), "a { width: 10.02; border: 1 }");
}

TEST(ScaleStylesheet, ScaledTextReadsBackToScaledStyles) {
    const std::string text =
        ".panel { width: 300; padding: 12 16; border: 1px solid #1d3853; font-size: 18; line-height: 1.4 }";
    Stylesheet sheet;
    std::string error;
    ASSERT_TRUE(parseStylesheet(scaleStylesheet(text, 1.5f), sheet, error)) << error;
    ASSERT_EQ(sheet.rules.size(), 1u);
    const Style& s = sheet.rules[0].style;
    EXPECT_EQ(s.width.value, 450);
    EXPECT_EQ(s.padding[SideTop], 18);
    EXPECT_EQ(s.padding[SideLeft], 24);
    EXPECT_EQ(s.fontSize, 27);
    EXPECT_FLOAT_EQ(s.lineHeight, 1.4f);
    EXPECT_EQ(sheet.warnings, "");
}

}  // namespace
}  // namespace kiln
