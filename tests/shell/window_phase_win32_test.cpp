// Start-up failures of the window phase, through its message-box seam: a
// stylesheet override with no usable rules ends the start with exit code 1,
// the fixed message box text and the log line, after the real window,
// device and renderer were made.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/paths.h"
#include "launcher/shell/window_win32.h"
#include "tests/support/scratch.h"

namespace ember::launcher {
namespace {

std::vector<std::string> g_boxes;
void recordBox(const std::string& text) { g_boxes.push_back(text); }

TEST(WindowPhase, AStylesheetWithNoUsableRulesEndsTheStart) {
    testing::ScratchDir exe, config;
    testing::ScopedEnv configDir("EMBERLANE_CONFIG_DIR", config.path());
    ASSERT_TRUE(createDirectories(exe.file("ui")));
    ASSERT_TRUE(testing::putFile(joinPath(exe.file("ui"), "launcher.css"), "no rules { here"));

    StartupSettings settings;
    settings.warp = true;
    WindowHooks hooks;
    hooks.messageBox = &recordBox;
    hooks.exeFolder = exe.path();
    g_boxes.clear();
    EXPECT_EQ(runWindowPhase(settings, hooks), 1);

    const std::string reason = "the stylesheet " + joinPath(joinPath(config.path(), "ui"), "launcher.css") +
                               " has no usable rules: the stylesheet has no usable rules\n";
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].rfind("Emberlane's stylesheet could not be loaded.\n\n" + reason, 0), 0u) << g_boxes[0];
    const std::string log = testing::fileText(joinPath(config.path(), "launcher.log"));
    EXPECT_NE(log.find("stylesheet: " + reason), std::string::npos) << log;
}

TEST(WindowPhase, FatalTextsAreFixed) {
    EXPECT_EQ(drawFailureLog("no DXGI 1.2 factory"), "the window could not be drawn: no DXGI 1.2 factory");
    EXPECT_EQ(drawFailureBox("no DXGI 1.2 factory"),
              "Emberlane's window could not be drawn on this PC.\n\nno DXGI 1.2 factory");
    EXPECT_EQ(stylesheetFailureLog("x"), "stylesheet: x");
    EXPECT_EQ(stylesheetFailureBox("x"), "Emberlane's stylesheet could not be loaded.\n\nx");
}

}  // namespace
}  // namespace ember::launcher
