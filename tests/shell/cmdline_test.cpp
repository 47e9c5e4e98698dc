// The command line: modes from argument 1 and the developer options.
#include "launcher/shell/cmdline.h"

#include <gtest/gtest.h>

#include <limits>

namespace ember::launcher {
namespace {

using Args = std::vector<std::string>;

// The program name in front of the given arguments.
StartupSettings parse(Args rest) {
    rest.insert(rest.begin(), "Emberlane.exe");
    return parseCommandLine(rest);
}

std::string describe(const Args& args) {
    std::string out;
    for (const std::string& arg : args) out += "[" + arg + "] ";
    return out;
}

TEST(StartMode, OnlyArgumentOneSelectsAMode) {
    struct Case {
        Args args;
        StartMode mode;
    };
    const Case cases[] = {
        {{}, StartMode::Normal},
        {{"--check-manifest"}, StartMode::CheckManifest},  // the report prints its usage
        {{"--check-manifest", "https://example.org/m.json", "--game", "1.2"}, StartMode::CheckManifest},
        {{"--demo", "home", "--check-manifest", "m.json"}, StartMode::Normal},
        {{"--Check-Manifest", "m.json"}, StartMode::Normal},  // case-sensitive
        {{"--check-manifest=m.json"}, StartMode::Normal},     // whole strings only
        {{"--swap", "C:\\Games\\Emberlane.exe"}, StartMode::Normal},
        {{"--swap", "C:\\Games\\Emberlane.exe", "4242"}, StartMode::Swap},
        {{"--swap", "C:\\Games\\Emberlane.exe", "4242", "extra"}, StartMode::Swap},
        {{"--updated"}, StartMode::Updated},
        {{"--updated", "--demo", "home"}, StartMode::Updated},
        {{"--warp", "--updated"}, StartMode::Normal},
    };
    for (const Case& c : cases) {
        Args args = c.args;
        args.insert(args.begin(), "Emberlane.exe");
        EXPECT_EQ(startMode(args), c.mode) << describe(c.args);
        EXPECT_EQ(parseCommandLine(args).mode, c.mode) << describe(c.args);
    }
    EXPECT_EQ(startMode(Args{}), StartMode::Normal);  // no program name at all
}

TEST(CommandLine, FramesFollowWtoiAndNeverGoBelowTwo) {
    struct Case {
        const char* value;
        int32_t frames;
    };
    const Case cases[] = {
        {"0", 2},         {"1", 2},    {"abc", 2},   {"-5", 2},          {"2", 2},       {"3", 3},
        {"  12x", 12},    {"+7", 7},   {"\t40", 40}, {"4.9", 4},         {"- 4", 2},     {"", 2},
        {"99999999999", std::numeric_limits<int32_t>::max()},
    };
    for (const Case& c : cases) EXPECT_EQ(parse({"--frames", c.value}).shotFrames, c.frames) << c.value;
}

TEST(CommandLine, ScaleIsKeptOnlyAboveAQuarter) {
    struct Case {
        const char* value;
        float scale;
        bool explicitScale;
    };
    const Case cases[] = {
        {"0.25", 1.0f, false},  {"0.3", 0.3f, true},   {"1.5", 1.5f, true},   {" 2", 2.0f, true},
        {"1.5e0", 1.5f, true},  {".5", 0.5f, true},    {"1,5", 1.0f, true},   {"2x", 2.0f, true},
        {"abc", 1.0f, false},   {"-2", 1.0f, false},   {"0", 1.0f, false},    {"16", 16.0f, true},
        {"16.5", 1.0f, false},  {"inf", 1.0f, false},  {"nan", 1.0f, false},  {"1e999", 1.0f, false},
    };
    for (const Case& c : cases) {
        StartupSettings s = parse({"--scale", c.value});
        EXPECT_FLOAT_EQ(s.uiScale, c.scale) << c.value;
        EXPECT_EQ(s.scaleExplicit, c.explicitScale) << c.value;
    }
    // A later unusable value undoes an earlier good one.
    StartupSettings s = parse({"--scale", "2", "--scale", "0.1"});
    EXPECT_EQ(s.uiScale, 1.0f);
    EXPECT_FALSE(s.scaleExplicit);
}

TEST(CommandLine, SizeTakesEachDimensionOfAtLeastOne) {
    struct Case {
        const char* value;
        int32_t width;
        int32_t height;
    };
    const Case cases[] = {
        {"1280x720", 1280, 720}, {"4000x3000", 4000, 3000}, {"0x720", 0, 720},   {"1280x0", 1280, 0},
        {"1280", 1280, 0},       {"x720", 0, 0},            {"-5x-5", 0, 0},     {" 800x 600", 800, 600},
        {"800 x600", 800, 0},    {"800X600", 800, 0},       {"abc", 0, 0},
    };
    for (const Case& c : cases) {
        StartupSettings s = parse({"--size", c.value});
        EXPECT_EQ(s.width, c.width) << c.value;
        EXPECT_EQ(s.height, c.height) << c.value;
    }
}

TEST(CommandLine, MouseCountsOnlyWithTwoNumbers) {
    struct Case {
        const char* value;
        bool set;
        float x;
        float y;
    };
    const Case cases[] = {
        {"10,20", true, 10.0f, 20.0f},  {"1.5,-2.5", true, 1.5f, -2.5f}, {" 3, 4", true, 3.0f, 4.0f},
        {"10", false, 0, 0},            {"10,", false, 0, 0},            {"10,abc", false, 0, 0},
        {"10 ,20", false, 0, 0},        {"inf,1", false, 0, 0},          {"1,nan", false, 0, 0},
    };
    for (const Case& c : cases) {
        StartupSettings s = parse({"--mouse", c.value});
        EXPECT_EQ(s.mouseSet, c.set) << c.value;
        if (c.set) {
            EXPECT_EQ(s.mouseX, c.x) << c.value;
            EXPECT_EQ(s.mouseY, c.y) << c.value;
        }
    }
}

TEST(CommandLine, WheelNeedsThreeNumbers) {
    struct Case {
        const char* value;
        float x;
        float y;
        float delta;
    };
    const Case cases[] = {
        {"10,20,-1", 10.0f, 20.0f, -1.0f}, {"5,6,2.5", 5.0f, 6.0f, 2.5f}, {"10,20", 0, 0, 0},
        {"10,20,x", 0, 0, 0},              {"10;20;1", 0, 0, 0},          {"1,2,1e999", 0, 0, 0},
    };
    for (const Case& c : cases) {
        StartupSettings s = parse({"--wheel", c.value});
        EXPECT_EQ(s.wheelX, c.x) << c.value;
        EXPECT_EQ(s.wheelY, c.y) << c.value;
        EXPECT_EQ(s.wheelDelta, c.delta) << c.value;
    }
}

TEST(CommandLine, ValueOptionsAtTheEndAreIgnored) {
    const char* options[] = {"--demo", "--shot", "--frames", "--scale", "--size", "--mouse", "--wheel"};
    StartupSettings defaults = parse({});
    EXPECT_EQ(defaults.shotFrames, 8);
    for (const char* option : options) {
        StartupSettings s = parse({"--warp", option});
        EXPECT_TRUE(s.warp) << option;
        EXPECT_EQ(s.demo, defaults.demo) << option;
        EXPECT_EQ(s.shotPath, defaults.shotPath) << option;
        EXPECT_EQ(s.shotFrames, defaults.shotFrames) << option;
        EXPECT_EQ(s.uiScale, defaults.uiScale) << option;
        EXPECT_EQ(s.width, defaults.width) << option;
        EXPECT_EQ(s.mouseSet, defaults.mouseSet) << option;
        EXPECT_EQ(s.wheelDelta, defaults.wheelDelta) << option;
    }
}

TEST(CommandLine, AValueOptionTakesTheNextArgumentWhateverItIs) {
    StartupSettings s = parse({"--shot", "--warp"});
    EXPECT_EQ(s.shotPath, "--warp");
    EXPECT_FALSE(s.warp);
}

TEST(CommandLine, OptionsAreReadAnywhereAndUnknownOnesIgnored) {
    StartupSettings s = parse({"stray", "--warp", "--bogus", "--demo", "news", "--check-manifest", "--shot",
                               "C:\\shots\\news.png", "--frames", "5"});
    EXPECT_EQ(s.mode, StartMode::Normal);
    EXPECT_TRUE(s.warp);
    EXPECT_TRUE(s.demo);
    EXPECT_EQ(s.demoScene, "news");
    EXPECT_EQ(s.shotPath, "C:\\shots\\news.png");
    EXPECT_EQ(s.shotFrames, 5);
}

TEST(CommandLine, UpdatedStillHonoursTheOptions) {
    StartupSettings s = parse({"--updated", "--demo", "login", "--size", "1280x720", "--scale", "1.25"});
    EXPECT_EQ(s.mode, StartMode::Updated);
    EXPECT_TRUE(s.demo);
    EXPECT_EQ(s.demoScene, "login");
    EXPECT_EQ(s.width, 1280);
    EXPECT_EQ(s.height, 720);
    EXPECT_EQ(s.uiScale, 1.25f);
    EXPECT_TRUE(s.scaleExplicit);
}

TEST(CommandLine, HighContrastIsForcedBlackOrWhite) {
    const struct {
        Args args;
        HighContrastChoice want;
    } cases[] = {
        {{}, HighContrastChoice::System},
        {{"--high-contrast"}, HighContrastChoice::Black},
        {{"--high-contrast=black"}, HighContrastChoice::Black},
        {{"--high-contrast=white"}, HighContrastChoice::White},
        {{"--high-contrast=White"}, HighContrastChoice::System},  // compared exactly
        {{"--high-contrast=pink"}, HighContrastChoice::System},
        {{"--high-contrast", "white"}, HighContrastChoice::Black},  // no separate value
        {{"--high-contrast=white", "--high-contrast"}, HighContrastChoice::Black},  // the last one counts
        {{"--shot", "--high-contrast"}, HighContrastChoice::System},  // the shot's path
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse(c.args).highContrast, c.want) << describe(c.args);
    }
    const StartupSettings s = parse({"--demo", "home", "--high-contrast=white", "--shot", "a.png"});
    EXPECT_EQ(s.demoScene, "home");
    EXPECT_EQ(s.shotPath, "a.png");
}

TEST(CommandLine, AnEmptyDemoSceneMeansHome) {
    StartupSettings s = parse({"--demo", ""});
    EXPECT_TRUE(s.demo);
    EXPECT_EQ(s.demoScene, "home");
}

TEST(NumberReaders, FollowTheCRuntimeRules) {
    EXPECT_EQ(parseIntLikeWtoi(" -42abc"), -42);
    EXPECT_EQ(parseIntLikeWtoi("-99999999999"), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(parseIntLikeWtoi("x1"), 0);
    EXPECT_DOUBLE_EQ(parseDoubleLikeWtof("  -1.25e2xyz"), -125.0);
    EXPECT_DOUBLE_EQ(parseDoubleLikeWtof("3e"), 3.0);   // an 'e' without digits ends the number
    EXPECT_DOUBLE_EQ(parseDoubleLikeWtof("5."), 5.0);
    EXPECT_DOUBLE_EQ(parseDoubleLikeWtof("."), 0.0);
    EXPECT_DOUBLE_EQ(parseDoubleLikeWtof("0x10"), 0.0);  // no hexadecimal
}

}  // namespace
}  // namespace ember::launcher
