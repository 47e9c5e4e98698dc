// The stylesheet's road: the override beside the executable wins when it is
// not empty, else the carried text; the scaled copy lands in the
// configuration folder and is what gets loaded; a text with no usable rules
// fails with the loader's status and leaves the styles in force.
#include <gtest/gtest.h>

#include "launcher/shell/stylesheet_road.h"
#include "tests/support/scratch.h"
#include "ui/kiln/registry.h"
#include "ui/kiln/style.h"

namespace ember::launcher {
namespace {

using testing::fileText;
using testing::putFile;
using testing::ScratchDir;

class StylesheetRoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        kiln::resetStylesheet();
        kiln::resetRegistry();
        createDirectories(exe.file("ui"));
        road.exeFolder = exe.path();
        road.configDir = config.path();
        road.resourceText = ".carried { width: 10 }";
    }
    void TearDown() override {
        kiln::resetStylesheet();
        kiln::resetRegistry();
    }
    std::string scaledCopy() { return fileText(joinPath(joinPath(config.path(), "ui"), "launcher.css")); }

    ScratchDir exe, config;
    StylesheetRoad road;
};

TEST_F(StylesheetRoadTest, SourceIsTheOverrideWhenNotEmptyElseTheResource) {
    const struct {
        const char* override;  // null: no file
        const char* resource;
        bool ok;
        const char* want;
    } cases[] = {
        {".file { width: 1 }", ".res { width: 2 }", true, ".file { width: 1 }"},
        {"", ".res { width: 2 }", true, ".res { width: 2 }"},
        {nullptr, ".res { width: 2 }", true, ".res { width: 2 }"},
        {nullptr, "", false, "the stylesheet is missing from the launcher"},
        {"", "", false, "the stylesheet is missing from the launcher"},
    };
    const std::string file = joinPath(exe.file("ui"), "launcher.css");
    for (const auto& c : cases) {
        removeFile(file);
        if (c.override != nullptr) {
            ASSERT_TRUE(putFile(file, c.override));
        }
        road.resourceText = c.resource;
        std::string text, error;
        EXPECT_EQ(stylesheetSource(road, text, error), c.ok);
        EXPECT_EQ(c.ok ? text : error, c.want);
    }
}

TEST_F(StylesheetRoadTest, TheScaledCopyIsWrittenAndLoaded) {
    road.resourceText = "/* note */ .a { width: 14; padding: 2 } .b { opacity: 0.5 }";
    std::string reason;
    ASSERT_TRUE(loadLauncherStylesheet(road, 1.5f, reason)) << reason;
    EXPECT_EQ(scaledCopy(), " .a { width: 21; padding: 3 } .b { opacity: 0.5 }");
    EXPECT_EQ(reason.rfind("2 rules from ", 0), 0u) << reason;
    EXPECT_EQ(kiln::currentStylesheet().rules.size(), 2u);
    EXPECT_EQ(kiln::resourceFolder(), joinPath(config.path(), "ui"));
}

// The high-contrast layer follows the stylesheet (its override beside the
// executable before the carried one), scaled with it, its keywords read as
// the road's colours.
TEST_F(StylesheetRoadTest, TheHighContrastLayerComesAfterWithTheRoadsColours) {
    const char* const layer = "@media (forced-colors: active) { .a { border: 2 Highlight } }";
    const struct {
        const char* override;  // null: no file
        const char* carried;
        size_t rules;
        float border;
    } cases[] = {
        {nullptr, layer, 2, 3},
        {"@media (forced-colors: active) { .a { border: 4 Highlight } }", layer, 2, 6},
        {"", layer, 2, 3},
        {nullptr, "", 1, 0},
    };
    road.resourceText = ".a { width: 14 }";
    road.colours = kiln::blackSystemColours();
    const std::string file = joinPath(exe.file("ui"), "high-contrast.css");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.override != nullptr ? c.override : "no override");
        removeFile(file);
        if (c.override != nullptr) {
            ASSERT_TRUE(putFile(file, c.override));
        }
        road.highContrastText = c.carried;
        std::string reason;
        ASSERT_TRUE(loadLauncherStylesheet(road, 1.5f, reason)) << reason;
        const std::vector<kiln::Rule>& rules = kiln::currentStylesheet().rules;
        ASSERT_EQ(rules.size(), c.rules);
        EXPECT_EQ(rules[0].layer, kiln::LayerUsual);
        if (c.rules < 2) continue;
        EXPECT_EQ(rules[1].layer, kiln::LayerForcedColours);
        EXPECT_EQ(rules[1].style.border[0], c.border);
        EXPECT_EQ(rules[1].style.borderColor.g, road.colours.highlight.g);
    }
}

TEST_F(StylesheetRoadTest, AnOverrideWithNoUsableRulesFailsAndKeepsTheStyles) {
    std::string reason;
    ASSERT_TRUE(loadLauncherStylesheet(road, 1.0f, reason)) << reason;
    ASSERT_TRUE(putFile(joinPath(exe.file("ui"), "launcher.css"), "this is { not: css"));
    EXPECT_FALSE(loadLauncherStylesheet(road, 1.0f, reason));
    const std::string path = joinPath(joinPath(config.path(), "ui"), "launcher.css");
    EXPECT_EQ(reason.rfind("the stylesheet " + path + " has no usable rules: the stylesheet has no usable rules\n", 0),
              0u)
        << reason;
    EXPECT_EQ(kiln::currentStylesheet().rules.size(), 1u) << "the carried rule stays in force";
}

}  // namespace
}  // namespace ember::launcher
