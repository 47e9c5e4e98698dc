// High contrast as Windows reports it: the system's colours reach the
// toolkit's palette keyword by keyword (set here with SetSysColors and put
// back), the setting is read (and followed when it can be switched, which
// Wine's SPI_SETHIGHCONTRAST cannot), and --high-contrast forces the mode
// with its own palette whatever the system says.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "launcher/shell/contrast_win32.h"

namespace ember::launcher {
namespace {

kiln::Colour fromRgb(COLORREF c) {
    return kiln::Colour{GetRValue(c) / 255.0f, GetGValue(c) / 255.0f, GetBValue(c) / 255.0f, 1.0f};
}

// Each system colour, the keywords that read it, and a value no theme has.
struct Row {
    int index;
    std::vector<kiln::Colour kiln::SystemColours::*> keywords;
    COLORREF test;
};
const std::vector<Row>& rows() {
    using S = kiln::SystemColours;
    static const std::vector<Row> table = {
        {COLOR_WINDOW, {&S::canvas, &S::field}, RGB(1, 2, 3)},
        {COLOR_WINDOWTEXT, {&S::canvasText, &S::fieldText}, RGB(251, 252, 253)},
        {COLOR_HOTLIGHT, {&S::linkText}, RGB(250, 240, 5)},
        {COLOR_BTNFACE, {&S::buttonFace}, RGB(7, 8, 9)},
        {COLOR_BTNTEXT, {&S::buttonText, &S::buttonBorder}, RGB(240, 241, 242)},
        {COLOR_HIGHLIGHT, {&S::highlight, &S::accentColor}, RGB(20, 230, 250)},
        {COLOR_HIGHLIGHTTEXT, {&S::highlightText, &S::accentColorText}, RGB(4, 5, 6)},
        {COLOR_GRAYTEXT, {&S::grayText}, RGB(60, 240, 60)},
    };
    return table;
}

class ContrastWin32Test : public ::testing::Test {
protected:
    void SetUp() override {
        for (const Row& r : rows()) {
            indices_.push_back(r.index);
            saved_.push_back(GetSysColor(r.index));
        }
    }
    void TearDown() override { SetSysColors(static_cast<int>(indices_.size()), indices_.data(), saved_.data()); }

    std::vector<INT> indices_;
    std::vector<COLORREF> saved_;
};

TEST_F(ContrastWin32Test, EachSystemColourReachesItsKeywords) {
    std::vector<COLORREF> values;
    for (const Row& r : rows()) values.push_back(r.test);
    ASSERT_TRUE(SetSysColors(static_cast<int>(indices_.size()), indices_.data(), values.data()));
    std::string error;
    const ContrastMode fromSystem = contrastMode(HighContrastChoice::System, error);
    EXPECT_EQ(error, "");
    for (const kiln::SystemColours& palette : {systemColours(), fromSystem.colours}) {
        for (const Row& r : rows()) {
            for (auto keyword : r.keywords) {
                EXPECT_TRUE(kiln::sameColour(palette.*keyword, fromRgb(r.test))) << "system colour " << r.index;
            }
        }
    }
    EXPECT_FALSE(sameContrast(fromSystem, ContrastMode{fromSystem.on, kiln::SystemColours{}}));
}

TEST_F(ContrastWin32Test, TheCommandLineForcesTheModeWithItsPalette) {
    std::vector<COLORREF> values;
    for (const Row& r : rows()) values.push_back(r.test);
    ASSERT_TRUE(SetSysColors(static_cast<int>(indices_.size()), indices_.data(), values.data()));
    const struct {
        HighContrastChoice choice;
        kiln::SystemColours want;
    } cases[] = {
        {HighContrastChoice::Black, kiln::blackSystemColours()},
        {HighContrastChoice::White, kiln::whiteSystemColours()},
    };
    for (const auto& c : cases) {
        std::string error;
        const ContrastMode mode = contrastMode(c.choice, error);
        EXPECT_TRUE(sameContrast(mode, ContrastMode{true, c.want})) << static_cast<int>(c.choice);
        EXPECT_EQ(error, "");
    }
}

TEST_F(ContrastWin32Test, TheSettingIsReadAndFollowedWhenItCanBeSwitched) {
    bool on = true;
    std::string error;
    ASSERT_TRUE(systemHighContrast(on, error)) << error;
    HIGHCONTRASTW before{sizeof(HIGHCONTRASTW), 0, nullptr};
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof before, &before, 0));
    EXPECT_EQ(on, (before.dwFlags & HCF_HIGHCONTRASTON) != 0);

    HIGHCONTRASTW flipped = before;
    flipped.dwFlags ^= HCF_HIGHCONTRASTON;
    if (!SystemParametersInfoW(SPI_SETHIGHCONTRAST, sizeof flipped, &flipped, 0)) {
        GTEST_SKIP() << "this system cannot switch high contrast (error " << GetLastError() << ")";
    }
    bool now = on;
    EXPECT_TRUE(systemHighContrast(now, error)) << error;
    EXPECT_NE(now, on);
    EXPECT_EQ(contrastMode(HighContrastChoice::System, error).on, now);
    SystemParametersInfoW(SPI_SETHIGHCONTRAST, sizeof before, &before, 0);
}

}  // namespace
}  // namespace ember::launcher
