// Self-update against the stand-in web service under Wine: what reaches the
// disk when the published build is refused, corrupted on the way, or not a
// program, and the cap after two attempts. (The whole road with the real
// executables is tests/shell/selfupdate_e2e.sh.)
#include <gtest/gtest.h>

#include "base/paths.h"
#include "launcher/formats/config.h"
#include "launcher/install/self_update.h"
#include "launcher/net/sha256.h"
#include "tests/install/standin_client.h"
#include "tests/support/scratch.h"

namespace ember::launcher {
namespace {

using testing::fileText;
using testing::putFile;
using testing::ScopedEnv;
using testing::ScratchDir;
using testing::standinFault;
using testing::standinManifest;

TEST(SelfUpdateFromTheStandin, NeverTouchesTheRunningBuildAndStopsAfterTwoAttempts) {
    ScratchDir folder;
    ScratchDir configDir;
    ScopedEnv env("EMBERLANE_CONFIG_DIR", configDir.path());
    const std::string exe = folder.file("Emberlane.exe");
    ASSERT_TRUE(putFile(exe, "the old launcher"));
    const Manifest manifest = standinManifest(1);
    ASSERT_EQ(manifest.launcherUrl.rfind("https://", 0), 0u) << manifest.launcherUrl;
    Config config;
    std::string error;
    std::vector<Phase> phases;
    Reporter reporter;
    reporter.phase = [&](Phase which, const std::string&) { phases.push_back(which); };

    auto expectOldBuildOnly = [&](const char* when) {
        EXPECT_EQ(fileText(exe), "the old launcher") << when;
        EXPECT_FALSE(fileExists(exe + ".part")) << when;
        EXPECT_FALSE(fileExists(exe + ".new.part")) << when;
    };

    // An http:// build is refused even with a digest, before anything is fetched.
    Manifest plain = manifest;
    plain.launcherUrl = "http://" + plain.launcherUrl.substr(8);
    EXPECT_FALSE(selfUpdateExecutable(plain, config, exe, reporter, error));
    EXPECT_EQ(error, kNoVerifiableDigest);
    EXPECT_EQ(config.selfUpdateAttempts, 0);
    EXPECT_TRUE(phases.empty());
    expectOldBuildOnly("http");
    EXPECT_FALSE(fileExists(exe + ".new"));

    // The build arrives with a changed byte, twice; the connection drops
    // once. X stays, no X.new, and none of it uses up the build's attempts:
    // nothing was started.
    for (const char* fault : {"corrupt", "drop", "corrupt"}) {
        standinFault("/launcher/", fault, 1);
        EXPECT_FALSE(selfUpdateExecutable(manifest, config, exe, reporter, error));
        EXPECT_EQ(error.rfind(kSelfUpdateFailed, 0), 0u) << error;
        expectOldBuildOnly(fault);
        EXPECT_FALSE(fileExists(exe + ".new"));
        EXPECT_EQ(config.selfUpdateAttempts, 0) << fault << " counted as an attempt";
    }
    EXPECT_EQ(phases, std::vector<Phase>(3, Phase::selfUpdate));
    EXPECT_EQ(loadConfig().selfUpdateAttempts, 0);

    // The stand-in's default build is checked and lands as X.new, but it is
    // no program, so the swap cannot start: still no attempt.
    EXPECT_FALSE(selfUpdateExecutable(manifest, config, exe, reporter, error));
    EXPECT_EQ(error, kCannotStartNewLauncher);
    expectOldBuildOnly("not a program");
    std::string digest;
    ASSERT_TRUE(sha256File(exe + ".new", digest));
    EXPECT_EQ(digest, manifest.launcherSha256);
    EXPECT_EQ(config.selfUpdateAttempts, 0);

    // A build that was started twice (tests/shell/selfupdate_e2e.sh starts
    // a real one) is not tried a third time, without a download.
    config.selfUpdateTarget = manifest.launcherSha256;
    config.selfUpdateAttempts = 2;
    ASSERT_TRUE(removeFile(exe + ".new"));
    EXPECT_FALSE(selfUpdateExecutable(manifest, config, exe, reporter, error));
    EXPECT_EQ(error, "this launcher build could not be installed on this PC; continuing on 2.1.0");
    EXPECT_FALSE(fileExists(exe + ".new"));
    EXPECT_EQ(config.selfUpdateAttempts, 2);
    expectOldBuildOnly("third attempt");

    // The running build already being the published one is no update.
    Manifest current = manifest;
    ASSERT_TRUE(sha256File(exe, current.launcherSha256));
    EXPECT_FALSE(selfUpdateExecutable(current, config, exe, reporter, error));
    EXPECT_EQ(error, "");
}

}  // namespace
}  // namespace ember::launcher
