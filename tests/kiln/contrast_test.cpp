// Text contrast: the ratio itself, and a frame's texts judged against what
// is painted under them.
#include <gtest/gtest.h>

#include "tests/kiln/kiln_fixture.h"
#include "ui/kiln/contrast.h"

namespace kiln {
namespace {

class ContrastTest : public KilnTest {};

TEST_F(ContrastTest, RatioOfTheGuidelines) {
    EXPECT_NEAR(contrastRatio({1, 1, 1, 1}, {0, 0, 0, 1}), 21.0f, 0.01f);
    EXPECT_NEAR(contrastRatio({0, 0, 0, 1}, {1, 1, 1, 1}), 21.0f, 0.01f);  // either way round
    EXPECT_NEAR(contrastRatio({0.5f, 0.5f, 0.5f, 1}, {0.5f, 0.5f, 0.5f, 1}), 1.0f, 0.001f);
    // #767676 on white is the classic 4.54:1.
    const float grey = 0x76 / 255.0f;
    EXPECT_NEAR(contrastRatio({grey, grey, grey, 1}, {1, 1, 1, 1}), 4.54f, 0.01f);
}

// Each row: a stylesheet, and whether its text must be reported.
TEST_F(ContrastTest, EachTextAgainstWhatIsPaintedUnderIt) {
    struct Row {
        const char* what;
        const char* css;
        bool low;
    } rows[] = {
        {"light text on the dark window", "text { color: #E8DFC8; font-size: 14 }", false},
        {"grey on grey", "div { background: #888888 } text { color: #777777; font-size: 14 }", true},
        {"a pair below 4.5 in small text", "div { background: #000000 } text { color: #595959; font-size: 14 }", true},
        {"the same pair in large text passes 3:1", "div { background: #000000 } text { color: #595959; font-size: 24 }",
         false},
        {"bold large at 18.66", "div { background: #000000 } text { color: #595959; font-size: 19; font-weight: 700 }",
         false},
        {"opacity fades the text with its panel",
         "div { background: #FFFFFF; opacity: 0.1 } text { color: #E8DFC8; font-size: 14 }", true},
        {"a see-through light layer under dark text",
         "div { background: rgba(255, 255, 255, 0.2) } text { color: #101010; font-size: 14 }", true},
        {"a disabled control is exempt",
         "div.is-disabled { background: #888888 } text { color: #777777; font-size: 14 }", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        css(row.css);
        const bool disabled = std::string(row.css).find("is-disabled") != std::string::npos;
        frame([&] {
            openElement(disabled ? "div.is-disabled" : "div");
            textElement("Play", "text");
            closeElement();
        });
        size_t judged = 0;
        const auto low = lowContrastTexts(ui(), {0.0392f, 0.0863f, 0.1569f, 1}, "is-disabled", &judged);
        EXPECT_EQ(!low.empty(), row.low) << (low.empty() ? 0.0f : low[0].ratio);
        EXPECT_EQ(judged, disabled ? 0u : 1u);
    }
}

}  // namespace
}  // namespace kiln
