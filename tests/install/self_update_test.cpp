// Self-update decisions (the offer, the checks before a download, the
// two-attempt cap) and the file steps of the swap, which must always leave a
// working launcher at X.
#include "launcher/install/self_update.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

#include "base/paths.h"
#include "tests/support/scratch.h"

namespace ember::launcher {
namespace {

using testing::fileText;
using testing::putFile;
using testing::ScratchDir;

const std::string kDigestA(64, 'a');
const std::string kDigestB(64, 'b');

Manifest published(const std::string& url, const std::string& digest, const std::string& version = "2.2.0") {
    Manifest m;
    m.launcherVersion = version;
    m.launcherUrl = url;
    m.launcherSha256 = digest;
    return m;
}

TEST(DecideSelfUpdate, RefusesUnverifiableBuildsAndCapsAttemptsPerDigest) {
    const std::string https = "https://example.invalid/Emberlane.exe";
    const std::string notInstallable = "this launcher build could not be installed on this PC; continuing on 2.1.0";
    struct Case {
        const char* what;
        Manifest manifest;
        std::string own;
        std::string target;  // config before
        int attempts;
        SelfUpdateDecision decision;
        std::string error;
        std::string targetAfter;
        int attemptsAfter;
    };
    const Case cases[] = {
        {"nothing published", published("", kDigestA), kDigestB, "", 0, SelfUpdateDecision::Skip, "", "", 0},
        {"no version", published(https, kDigestA, ""), kDigestB, "", 0, SelfUpdateDecision::Skip, "", "", 0},
        {"http even with a digest", published("http://example.invalid/E.exe", kDigestA), kDigestB, "", 0,
         SelfUpdateDecision::Refused, kNoVerifiableDigest, "", 0},
        {"short digest", published(https, std::string(63, 'a')), kDigestB, "", 0, SelfUpdateDecision::Refused,
         kNoVerifiableDigest, "", 0},
        {"already current (case ignored)", published(https, std::string(64, 'A')), kDigestA, "", 0,
         SelfUpdateDecision::Skip, "", "", 0},
        {"first attempt", published(https, kDigestA), kDigestB, "", 0, SelfUpdateDecision::Attempt, "", kDigestA, 1},
        {"unreadable own build still updates", published(https, kDigestA), "", "", 0, SelfUpdateDecision::Attempt,
         "", kDigestA, 1},
        {"second attempt", published(https, kDigestA), kDigestB, kDigestA, 1, SelfUpdateDecision::Attempt, "",
         kDigestA, 2},
        {"third attempt refused", published(https, kDigestA), kDigestB, kDigestA, 2, SelfUpdateDecision::Refused,
         notInstallable, kDigestA, 2},
        {"upper-case target is the same build", published(https, kDigestA), kDigestB, std::string(64, 'A'), 2,
         SelfUpdateDecision::Refused, notInstallable, std::string(64, 'A'), 2},
        {"a new digest resets the count", published(https, std::string(64, 'C')), kDigestB, kDigestA, 2,
         SelfUpdateDecision::Attempt, "", std::string(64, 'c'), 1},
    };
    for (const Case& c : cases) {
        Config config;
        config.selfUpdateTarget = c.target;
        config.selfUpdateAttempts = c.attempts;
        std::string error = "stale";
        const SelfUpdateDecision decision = decideSelfUpdate(c.manifest, config, c.own, "2.1.0", error);
        EXPECT_EQ(decision, c.decision) << c.what;
        EXPECT_EQ(error, c.error) << c.what;
        EXPECT_EQ(config.selfUpdateAttempts, c.attempts) << c.what << ": counted before anything was started";
        // The attempt is counted once the new build has been started.
        if (decision == SelfUpdateDecision::Attempt) bookSelfUpdateAttempt(c.manifest, config, 1700000000);
        EXPECT_EQ(config.selfUpdateTarget, c.targetAfter) << c.what;
        EXPECT_EQ(config.selfUpdateAttempts, c.attemptsAfter) << c.what;
        EXPECT_EQ(config.selfUpdateAt, c.decision == SelfUpdateDecision::Attempt ? 1700000000 : 0) << c.what;
    }
}

TEST(LauncherUpdateOffer, NeedsOwnDigestAValidOtherDigestAndAttemptsLeft) {
    const std::string https = "https://example.invalid/Emberlane.exe";
    struct Case {
        const char* what;
        Manifest manifest;
        std::string own;
        int attemptsAtA;
        bool offered;
    };
    const Case cases[] = {
        {"another build", published(https, kDigestA), kDigestB, 0, true},
        {"one failed attempt", published(https, kDigestA), kDigestB, 1, true},
        {"two failed attempts", published(https, kDigestA), kDigestB, 2, false},
        {"own digest unknown", published(https, kDigestA), "", 0, false},
        {"same build", published(https, std::string(64, 'B')), kDigestB, 0, false},
        {"bad digest", published(https, "xyz"), kDigestB, 0, false},
        {"no URL", published("", kDigestA), kDigestB, 0, false},
    };
    for (const Case& c : cases) {
        Config config;
        config.selfUpdateTarget = kDigestA;
        config.selfUpdateAttempts = c.attemptsAtA;
        EXPECT_EQ(launcherUpdateOffered(c.manifest, config, c.own), c.offered) << c.what;
    }
    EXPECT_EQ(launcherOfferLabel(published(https, kDigestA, "2.2.0"), "2.1.0"), "2.2.0");
    EXPECT_EQ(launcherOfferLabel(published(https, kDigestA, "2.1.0"), "2.1.0"), "");
}

// The swap's file steps, quickly (a few retries, 10 ms apart).
TEST(ReplaceExecutable, AlwaysLeavesAWorkingLauncherAtTheTarget) {
    const SwapTiming quick{0, 3, 10};
    enum Setup { Plain, StaleOld, NoNewBuild, EmptyNewBuild, CopyFails, NoTarget, OnlyOld, TargetHeldOpen };
    struct Case {
        const char* what;
        Setup setup;
        SwapOutcome outcome;
        const char* targetAfter;  // nullptr: no file
        const char* oldAfter;
    };
    const Case cases[] = {
        {"replaced", Plain, SwapOutcome::Replaced, "new build", "old build"},
        {"an earlier .old is replaced", StaleOld, SwapOutcome::Replaced, "new build", "old build"},
        {"unreadable new build changes nothing", NoNewBuild, SwapOutcome::Unchanged, "old build", nullptr},
        {"empty new build changes nothing", EmptyNewBuild, SwapOutcome::Unchanged, "old build", nullptr},
        {"failed copy restores the old build", CopyFails, SwapOutcome::Restored, "old build", nullptr},
        {"no launcher to replace", NoTarget, SwapOutcome::Unchanged, nullptr, nullptr},
        {"a swap cut short after moving X aside is finished", OnlyOld, SwapOutcome::Replaced, "new build",
         "old build"},
#ifdef _WIN32
        {"target held open without sharing stays", TargetHeldOpen, SwapOutcome::Unchanged, "old build", nullptr},
#endif
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        const std::string target = dir.file("Emberlane.exe");
        const std::string newBuild = dir.file("Emberlane.exe.new");
        if (c.setup != NoTarget && c.setup != OnlyOld) {
            ASSERT_TRUE(putFile(target, "old build"));
        }
        if (c.setup == OnlyOld) {
            ASSERT_TRUE(putFile(target + ".old", "old build"));
        }
        if (c.setup != NoNewBuild) {
            ASSERT_TRUE(putFile(newBuild, c.setup == EmptyNewBuild ? "" : "new build"));
        }
        if (c.setup == StaleOld) {
            ASSERT_TRUE(putFile(target + ".old", "an older build"));
        }
        // Writing the new build goes through X.tmp: a folder there makes every copy fail.
        if (c.setup == CopyFails) {
            ASSERT_TRUE(createDirectories(joinPath(target + ".tmp", "x")));
        }
#ifdef _WIN32
        HANDLE held = INVALID_HANDLE_VALUE;
        if (c.setup == TargetHeldOpen) {
            held = CreateFileW(toWide(target).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(held, INVALID_HANDLE_VALUE);
        }
#endif
        EXPECT_EQ(static_cast<int>(replaceExecutable(target, newBuild, quick)), static_cast<int>(c.outcome)) << c.what;
#ifdef _WIN32
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
#endif
        if (c.targetAfter) {
            EXPECT_EQ(fileText(target), c.targetAfter) << c.what;
        } else {
            EXPECT_FALSE(fileExists(target)) << c.what;
        }
        if (c.oldAfter) {
            EXPECT_EQ(fileText(target + ".old"), c.oldAfter) << c.what;
        } else {
            EXPECT_FALSE(fileExists(target + ".old")) << c.what;
        }
    }
}

// A process killed at any moment of the swap must leave a launcher at X: X
// is watched while the write of the new build keeps failing (a folder where
// it is written first), then the obstacle goes and the swap ends.
TEST(ReplaceExecutable, ThereIsNoMomentWithoutALauncher) {
    ScratchDir dir;
    const std::string target = dir.file("Emberlane.exe");
    ASSERT_TRUE(putFile(target, "old build"));
    ASSERT_TRUE(putFile(target + ".new", "new build"));
    const std::string obstacle = target + ".tmp";
    ASSERT_TRUE(createDirectories(joinPath(obstacle, "x")));
    std::atomic<bool> done{false};
    SwapOutcome outcome = SwapOutcome::Unchanged;
    std::thread swap([&] {
        outcome = replaceExecutable(target, target + ".new", SwapTiming{0, 400, 5});
        done = true;
    });
    int missing = 0;
    for (int i = 0; i < 100 && !done; ++i) {
        if (!fileExists(target)) ++missing;
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
    std::string native = obstacle;
#ifndef _WIN32
    std::replace(native.begin(), native.end(), '\\', '/');
#endif
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::u8path(native), ignored);
    EXPECT_FALSE(isDirectory(obstacle));
    while (!done) {
        if (!fileExists(target)) ++missing;
        std::this_thread::yield();
    }
    swap.join();
    EXPECT_EQ(missing, 0) << "X was missing while the swap ran";
    EXPECT_EQ(static_cast<int>(outcome), static_cast<int>(SwapOutcome::Replaced));
    EXPECT_EQ(fileText(target), "new build");
    EXPECT_EQ(fileText(target + ".old"), "old build");
}

// A start of a left-over X.new or X.old: which X it belongs to, and X.old
// putting itself back where X went missing.
TEST(InterruptedSwap, LeftoversKnowTheirLauncherAndTheOldBuildComesBack) {
    struct Case {
        const char* path;
        const char* target;
        bool isNew;
    };
    const Case cases[] = {
        {"C:\\G\\Emberlane.exe.new", "C:\\G\\Emberlane.exe", true},
        {"C:\\G\\Emberlane.exe.OLD", "C:\\G\\Emberlane.exe", false},
        {"C:\\G\\Emberlane.exe", "", false},
        {"C:\\G\\.new", "", false},
        {".old", "", false},
        {"", "", false},
    };
    for (const Case& c : cases) {
        bool isNew = !c.isNew;
        EXPECT_EQ(interruptedSwapTarget(c.path, isNew), c.target) << c.path;
        EXPECT_EQ(isNew, c.isNew) << c.path;
    }
    ScratchDir dir;
    const std::string target = dir.file("Emberlane.exe");
    const SwapTiming quick{0, 3, 10};
    ASSERT_TRUE(putFile(target + ".old", "old build"));
    EXPECT_EQ(static_cast<int>(restoreFromOldBuild(target, target + ".old", quick)),
              static_cast<int>(SwapOutcome::Restored));
    EXPECT_EQ(fileText(target), "old build");
    ASSERT_TRUE(putFile(target, "new build"));
    EXPECT_EQ(static_cast<int>(restoreFromOldBuild(target, target + ".old", quick)),
              static_cast<int>(SwapOutcome::Unchanged));
    EXPECT_EQ(fileText(target), "new build") << "X was there: nothing to undo";
}

}  // namespace
}  // namespace ember::launcher
