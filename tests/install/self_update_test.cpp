// Self-update decisions (the offer, the checks before a download, the
// two-attempt cap) and the file steps of the swap, which must always leave a
// working launcher at X.
#include "launcher/install/self_update.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include "launcher/base/paths.h"
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
    enum Setup { Plain, StaleOld, NoNewBuild, EmptyNewBuild, CopyFails, NoTarget, TargetHeldOpen };
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
#ifdef _WIN32
        {"target held open without sharing stays", TargetHeldOpen, SwapOutcome::Unchanged, "old build", nullptr},
#endif
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        const std::string target = dir.file("Emberlane.exe");
        const std::string newBuild = dir.file("Emberlane.exe.new");
        if (c.setup != NoTarget) {
            ASSERT_TRUE(putFile(target, "old build"));
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

}  // namespace
}  // namespace ember::launcher
