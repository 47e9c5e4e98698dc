// A fixture for tests that build the demo scenes with the launcher's own
// stylesheet as the program loads it: a fresh toolkit, the fonts of the
// build (GDI under Wine, the fixed-metrics test font natively) and a
// stylesheet road to res/launcher.css in scratch folders.
#pragma once

#include <gtest/gtest.h>

#include <string>

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
