// The self-update doors at start-up: which arguments are a swap request, and
// the clean-up after an update.
#include "launcher/shell/selfupdate.h"

#include <gtest/gtest.h>

#include "base/paths.h"
#include "tests/support/scratch.h"

namespace ember::launcher {
namespace {

using testing::putFile;
using testing::ScratchDir;

TEST(SwapRequest, NeedsSwapFirstWithTargetAndProcessId) {
    struct Case {
        std::vector<std::string> args;
        bool isSwap;
        const char* target;
        uint32_t processId;
    };
    const Case cases[] = {
        {{"E.new", "--swap", "C:\\Games\\Emberlane.exe", "4242"}, true, "C:\\Games\\Emberlane.exe", 4242},
        {{"E.new", "--swap", "C:\\E.exe", "4294967295"}, true, "C:\\E.exe", 4294967295u},
        {{"E.new", "--swap", "C:\\E.exe", "4294967296"}, true, "C:\\E.exe", 0},  // beyond 32 bits
        {{"E.new", "--swap", "C:\\E.exe", "12ab"}, true, "C:\\E.exe", 0},
        {{"E.new", "--swap", "C:\\E.exe", "-1"}, true, "C:\\E.exe", 0},
        {{"E.new", "--swap", "C:\\E.exe"}, false, "", 0},
        {{"E.new", "--demo", "--swap", "C:\\E.exe", "1"}, false, "", 0},
        {{"E.new", "--SWAP", "C:\\E.exe", "1"}, false, "", 0},
        {{"E.new"}, false, "", 0},
    };
    for (const Case& c : cases) {
        SwapRequest request;
        EXPECT_EQ(readSwapRequest(c.args, request), c.isSwap) << c.args.size() << " arguments";
        if (!c.isSwap) continue;
        EXPECT_EQ(request.targetPath, c.target);
        EXPECT_EQ(request.processId, c.processId) << c.args[3];
    }
}

TEST(PostUpdateCleanup, RemovesTheOldAndNewBuildsBesideTheExecutable) {
    ScratchDir scratch;
    std::string exe = scratch.file("Emberlane.exe");
    for (const char* name : {"Emberlane.exe", "Emberlane.exe.old", "Emberlane.exe.new", "Emberlane.exe.tmp",
                             "Emberlane.exe.old.tmp", "Other.exe.old"})
        ASSERT_TRUE(putFile(scratch.file(name), name));
    postUpdateCleanup(exe);
    EXPECT_TRUE(fileExists(exe));
    for (const char* leftover : {".old", ".new", ".tmp", ".old.tmp"}) {
        EXPECT_FALSE(fileExists(exe + leftover)) << leftover;
    }
    EXPECT_TRUE(fileExists(scratch.file("Other.exe.old")));
    // Nothing left to remove (or no path at all) is not a problem.
    postUpdateCleanup(exe);
    postUpdateCleanup("");
    EXPECT_TRUE(fileExists(exe));
}

}  // namespace
}  // namespace ember::launcher
