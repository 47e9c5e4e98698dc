// A fixture for tests that build the demo scenes with the launcher's own
// stylesheet as the program loads it: a fresh toolkit, the fonts of the
// build (GDI under Wine, the fixed-metrics test font natively) and a
// stylesheet road to res/launcher.css in scratch folders.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/paths.h"
#include "launcher/shell/stylesheet_road.h"
#include "tests/support/scratch.h"
#include "ui/kiln/kiln.h"
#include "ui/kiln/registry.h"
#ifdef _WIN32
#include "ui/win32/backend_win32.h"
#else
#include "tests/support/test_font.h"
#endif

namespace ember::launcher::view {

// The looks every scene is checked in: the usual one (the window clears to
// #0A1628) and high contrast in a black and a white palette (clearing to
// the palette's Canvas).
struct Look {
    const char* what;
    bool forced;
    kiln::SystemColours colours;
    kiln::Colour clear() const { return forced ? colours.canvas : kiln::Colour{10 / 255.0f, 22 / 255.0f, 40 / 255.0f, 1}; }
};
inline std::vector<Look> looks() {
    return {{"usual", false, kiln::SystemColours{}},
            {"high contrast black", true, kiln::blackSystemColours()},
            {"high contrast white", true, kiln::whiteSystemColours()}};
}

class LauncherStylesTest : public ::testing::Test {
protected:
    void SetUp() override {
        kiln::resetContext();
        kiln::resetRegistry();
#ifdef _WIN32
        std::string error;
        ASSERT_TRUE(kiln::startGdiFonts(error)) << error;
#else
        kiln::setFontProvider(&fonts_);
#endif
        kiln::setStylesheet(nullptr);
        road_.exeFolder = exe_.path();
        road_.configDir = config_.path();
        road_.resourceText = testing::fileText(joinPath(EMBER_SOURCE_DIR, "res/launcher.css"));
        road_.highContrastText = testing::fileText(joinPath(EMBER_SOURCE_DIR, "res/high-contrast.css"));
        ASSERT_FALSE(road_.resourceText.empty());
        ASSERT_FALSE(road_.highContrastText.empty());
    }
    void TearDown() override {
        kiln::resetContext();
#ifdef _WIN32
        kiln::stopGdiFonts();
#else
        kiln::setFontProvider(nullptr);
#endif
    }

#ifndef _WIN32
    kiln::TestFontProvider fonts_;
#endif
    testing::ScratchDir exe_, config_;
    StylesheetRoad road_;
};

}  // namespace ember::launcher::view
