// The UI trace end to end, in its own process: the switch is read once and
// the file is opened once, so the order of events here matters.
#include "base/log.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "base/paths.h"
#include "tests/support/scratch.h"

namespace ember::launcher {
namespace {

using testing::fileText;
using testing::ScopedEnv;
using testing::ScratchDir;

TEST(Trace, WritesFormattedLinesToOneFileOpenedOnce) {
    ScratchDir scratch;
    ScopedEnv folder("EMBERLANE_CONFIG_DIR", scratch.file("first"));
    ScopedEnv on("EMBERLANE_UI_TRACE", std::string("yes"));
    ASSERT_TRUE(traceEnabled());
    trace("WM_PAINT");

    // Neither the switch nor the file follows later changes.
    ScopedEnv off("EMBERLANE_UI_TRACE", std::string("0"));
    ScopedEnv elsewhere("EMBERLANE_CONFIG_DIR", scratch.file("second"));
    EXPECT_TRUE(traceEnabled());
    trace("frame 1 (owed 2)");

    std::string text = fileText(joinPath(scratch.file("first"), "ui-trace.log"));
    unsigned long long first = 0;
    unsigned long long second = 0;
    char rest[64] = {};
    ASSERT_EQ(std::sscanf(text.c_str(), "%llu WM_PAINT\n%llu %63[^\n]", &first, &second, rest), 3) << text;
    // Rebuilt from the ticks read back, the file must match byte for byte.
    EXPECT_EQ(text, formatTraceLine(first, "WM_PAINT") + formatTraceLine(second, "frame 1 (owed 2)"));
    EXPECT_LE(first, second);
    EXPECT_FALSE(fileExists(joinPath(scratch.file("second"), "ui-trace.log")));
}

}  // namespace
}  // namespace ember::launcher
