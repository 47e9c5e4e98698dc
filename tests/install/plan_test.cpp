// Planning: the fast path reads nothing, the hash fallback refreshes records,
// retired records are removed unless they alias a kept file or leave the
// folder, strays go only in a full check; and pruning.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/paths.h"
#include "launcher/install/apply.h"
#include "launcher/install/plan.h"
#include "launcher/net/sha256.h"
#include "tests/install/file_time.h"
#include "tests/support/scratch.h"

namespace ember::launcher {
namespace {

using testing::ScopedEnv;
using testing::ScratchDir;
using testing::putFile;


ManifestFile entryFor(const std::string& path, const std::string& bytes) {
    return ManifestFile{path, sha256Hex(bytes), static_cast<int64_t>(bytes.size())};
}

void touchLater(const std::string& path) {
    ASSERT_TRUE(testing::setLastWriteTime(path, lastWriteTime(path) + 36000000000ULL));
}

// A game folder holding `files` and a manifest listing them.
struct Game {
    ScratchDir dir;
    Manifest manifest;
    std::string folder() const { return dir.path(); }
    void add(const std::string& path, const std::string& bytes, bool onDisk = true) {
        manifest.files.push_back(entryFor(path, bytes));
        if (onDisk) {
            createDirectories(parentDir(joinPath(folder(), path)));
            ASSERT_TRUE(putFile(joinPath(folder(), path), bytes));
        }
    }
};

TEST(Plan, UpToDateClientTakesTheFastPathAfterOneHashingPlan) {
    Game game;
    game.add("Emberlane/Emberlane.dll", "dll bytes");
    game.add("Emberlane/EmberlaneLoader.exe", "loader");
    game.add("OblivionRemastered/Content/Paks/ember.pak", std::string(70000, 'p'));
    Config config;

    // First plan over files put in place by hand: each hashed once, records made.
    uint64_t before = plannerFilesHashed();
    Plan first = makePlan(game.manifest, game.folder(), config, false, Reporter());
    EXPECT_TRUE(first.upToDate);
    EXPECT_EQ(plannerFilesHashed() - before, 3u);
    EXPECT_EQ(config.installed.size(), 3u);

    // Second plan: nothing read.
    before = plannerFilesHashed();
    EXPECT_TRUE(makePlan(game.manifest, game.folder(), config, false, Reporter()).upToDate);
    EXPECT_EQ(plannerFilesHashed() - before, 0u);

    // A changed time with the same content: hashed once, then fast again.
    const std::string pak = joinPath(game.folder(), "OblivionRemastered/Content/Paks/ember.pak");
    touchLater(pak);
    before = plannerFilesHashed();
    EXPECT_TRUE(makePlan(game.manifest, game.folder(), config, false, Reporter()).upToDate);
    EXPECT_EQ(plannerFilesHashed() - before, 1u);
    EXPECT_EQ(static_cast<uint64_t>(config.installed["OblivionRemastered/Content/Paks/ember.pak"].mtime),
              lastWriteTime(pak));
    before = plannerFilesHashed();
    makePlan(game.manifest, game.folder(), config, false, Reporter());
    EXPECT_EQ(plannerFilesHashed() - before, 0u);

    // A full check reads every file.
    before = plannerFilesHashed();
    EXPECT_TRUE(makePlan(game.manifest, game.folder(), config, true, Reporter()).upToDate);
    EXPECT_EQ(plannerFilesHashed() - before, 3u);
}

TEST(Plan, WhatIsDownloadedAndWhatIsRead) {
    Game game;
    game.add("a.txt", "right");
    game.add("missing.txt", "never written", false);
    game.add("tampered.txt", "original");
    game.add("short.txt", "long enough");
    Config config;
    makePlan(game.manifest, game.folder(), config, false, Reporter());  // records for a, tampered, short

    // Same size, other bytes, time kept: the fast path trusts it; a full check does not.
    const std::string tampered = joinPath(game.folder(), "tampered.txt");
    const uint64_t time = lastWriteTime(tampered);
    ASSERT_TRUE(putFile(tampered, "ORIGINAL"));
    ASSERT_TRUE(testing::setLastWriteTime(tampered, time));
    ASSERT_TRUE(putFile(joinPath(game.folder(), "short.txt"), "short"));

    Plan quick = makePlan(game.manifest, game.folder(), config, false, Reporter());
    ASSERT_EQ(quick.download.size(), 2u);
    EXPECT_EQ(quick.download[0].path, "missing.txt");
    EXPECT_EQ(quick.download[1].path, "short.txt");
    EXPECT_EQ(quick.downloadBytes, 13u + 11u);

    uint64_t before = plannerFilesHashed();
    Plan full = makePlan(game.manifest, game.folder(), config, true, Reporter());
    ASSERT_EQ(full.download.size(), 3u);
    EXPECT_EQ(full.download[1].path, "tampered.txt");
    // A wrong size (short.txt) or a missing file is never read, even now.
    EXPECT_EQ(plannerFilesHashed() - before, 2u);
    EXPECT_FALSE(full.upToDate);
}

TEST(Plan, RetiredRecordsAndStrays) {
    Game game;
    game.add("Client/A.pak", "kept");
    game.add("Emberlane/Emberlane.dll", "dll");
    Config config;
    makePlan(game.manifest, game.folder(), config, false, Reporter());
    config.installed["old/retired.txt"] = {"00", 1, 1};
    config.installed["client/a.pak"] = {"00", 4, 1};   // an older manifest's spelling of the kept file
    game.add("Client/\xC3\x84.pak", "umlaut");
    config.installed["client/\xC3\xA4.PAK"] = {"00", 6, 1};  // letter case beyond ASCII: the same file
    config.installed["../outside.txt"] = {"00", 1, 1};  // a record that would leave the folder
    config.installed["CON"] = {"00", 1, 1};
    config.installed["Emberlane/ember.ini"] = {"00", 1, 1};  // an older manifest listed the settings file

    // Strays: files directly in the client folder, never the settings file
    // nor what the client keeps in its subfolders.
    ASSERT_TRUE(putFile(joinPath(game.folder(), "Emberlane/old.dll"), "x"));
    ASSERT_TRUE(putFile(joinPath(game.folder(), "Emberlane/EMBER.INI"), "x"));
    ASSERT_TRUE(putFile(joinPath(game.folder(), "Emberlane/EMBERLANE.DLL"), "dll"));
    createDirectories(joinPath(game.folder(), "Emberlane/logs"));
    ASSERT_TRUE(putFile(joinPath(game.folder(), "Emberlane/logs/today.log"), "x"));
    // Part files: kept (with the record beside) for a file still to
    // download, orphans otherwise, and never strays of the walk.
    game.add("Client/B.pak", "to come", false);
    const auto partName = [&](const std::string& path) {
        const std::string part = partPathFor(game.folder(), path);
        return part.substr(part.find_last_of("\\/") + 1);
    };
    createDirectories(joinPath(game.folder(), kPartsFolder));
    for (const std::string& name : {partName("Client/B.pak"), partName("Client/B.pak") + ".resume",
                                    partName("client/a.PAK"), std::string("stray.tmp")}) {
        ASSERT_TRUE(putFile(joinPath(joinPath(game.folder(), kPartsFolder), name), "x"));
    }

    Config quickConfig = config;
    Plan quick = makePlan(game.manifest, game.folder(), quickConfig, false, Reporter());
    EXPECT_EQ(quick.remove, std::vector<std::string>{"old/retired.txt"});
    // Case-only and unsafe records are forgotten rather than acted on.
    EXPECT_EQ(quickConfig.installed.count("client/a.pak"), 0u);
    EXPECT_EQ(quickConfig.installed.count("client/\xC3\xA4.PAK"), 0u);
    EXPECT_EQ(quickConfig.installed.count("../outside.txt"), 0u);
    EXPECT_EQ(quickConfig.installed.count("CON"), 0u);
    EXPECT_EQ(quickConfig.installed.count("Emberlane/ember.ini"), 0u);
    EXPECT_EQ(quickConfig.installed.count("old/retired.txt"), 1u);

    Plan full = makePlan(game.manifest, game.folder(), config, true, Reporter());
    // EMBERLANE.DLL is the listed Emberlane.dll on Windows: kept.
    EXPECT_EQ(full.remove,
              (std::vector<std::string>{"old/retired.txt", "Emberlane/old.dll",
                                        "Emberlane/.parts/" + partName("Client/A.pak"), "Emberlane/.parts/stray.tmp"}));

    // Pruning deletes what the plan says, keeps the file the manifest lists
    // under another spelling, and saves the records.
    ScratchDir configDir;
    ScopedEnv env("EMBERLANE_CONFIG_DIR", configDir.path());
    ASSERT_TRUE(createDirectories(joinPath(game.folder(), "old")));
    ASSERT_TRUE(putFile(joinPath(game.folder(), "old/retired.txt"), "x"));
    Plan prune;
    prune.remove = {"old/retired.txt", "Emberlane/old.dll", "gone/already.txt", "../outside.txt",
                    "Emberlane/EMBER.INI"};
    const std::string outside = joinPath(parentDir(game.folder()), "outside.txt");
    ASSERT_TRUE(putFile(outside, "not ours"));
    config.installed["gone/already.txt"] = {"00", 1, 1};
    pruneRetired(game.folder(), config, prune, Reporter());
    EXPECT_FALSE(fileExists(joinPath(game.folder(), "old/retired.txt")));
    EXPECT_FALSE(fileExists(joinPath(game.folder(), "Emberlane/old.dll")));
    EXPECT_TRUE(fileExists(joinPath(game.folder(), "Client/A.pak")));
    EXPECT_TRUE(fileExists(joinPath(game.folder(), "Emberlane/EMBER.INI"))) << "the settings file was pruned";
    EXPECT_TRUE(fileExists(outside)) << "a path outside the game folder was deleted";
    removeFile(outside);
    EXPECT_EQ(config.installed.count("old/retired.txt") + config.installed.count("gone/already.txt") +
                  config.installed.count("../outside.txt"),
              0u);
    EXPECT_EQ(loadConfig().installed.size(), config.installed.size()) << "records not saved after pruning";
}

#ifndef _WIN32
// Links made with the host's own symlink(); the Win32 road (links as Wine
// shows them) is in apply_win32_test.cpp.
TEST(Plan, VerifyNeverDeletesThroughOrRemovesALink) {
    Game game;
    game.add("Emberlane/Emberlane.dll", "dll");
    ScratchDir documents;
    ASSERT_TRUE(putFile(documents.file("letter.txt"), "mine"));
    std::filesystem::create_directory_symlink(documents.path(), game.folder() + "/Emberlane/docs");
    std::filesystem::create_symlink(documents.file("letter.txt"), game.folder() + "/Emberlane/letter.lnk");
    Config config;
    config.installed["Emberlane/docs/letter.txt"] = {"00", 4, 1};
    Plan plan = makePlan(game.manifest, game.folder(), config, true, Reporter());
    EXPECT_TRUE(plan.remove.empty()) << plan.remove.front();
    EXPECT_EQ(config.installed.count("Emberlane/docs/letter.txt"), 0u);

    // The whole client folder a link: nothing in it is a stray, and a prune
    // handed a path through it deletes nothing.
    ScratchDir other;
    const std::string linked = other.path() + "/game";
    ASSERT_TRUE(createDirectories(linked));
    std::filesystem::create_directory_symlink(documents.path(), linked + "/Emberlane");
    EXPECT_TRUE(makePlan(Manifest(), linked, config, true, Reporter()).remove.empty());
    ScratchDir configDir;
    ScopedEnv env("EMBERLANE_CONFIG_DIR", configDir.path());
    Plan prune;
    prune.remove = {"Emberlane/letter.txt", "Emberlane/docs/letter.txt", "Emberlane/letter.lnk"};
    pruneRetired(linked, config, prune, Reporter());
    pruneRetired(game.folder(), config, prune, Reporter());
    EXPECT_EQ(testing::fileText(documents.file("letter.txt")), "mine");
    EXPECT_TRUE(isLink(game.folder() + "/Emberlane/letter.lnk"));
}
#endif

TEST(Plan, UnsafeManifestPathsAreNeverTouchedAndEmptyIsUpToDate) {
    Game game;
    Config config;
    EXPECT_TRUE(makePlan(game.manifest, game.folder(), config, true, Reporter()).upToDate);

    game.add("nul.txt", "x", false);
    game.add("C:evil.dll", "x", false);
    uint64_t before = plannerFilesHashed();
    Plan plan = makePlan(game.manifest, game.folder(), config, true, Reporter());
    EXPECT_EQ(plan.download.size(), 2u);
    EXPECT_EQ(plannerFilesHashed(), before);
}

TEST(Plan, CancellingStopsCheckingAndReportsProgress) {
    Game game;
    for (int i = 0; i < 5; ++i) game.add("f" + std::to_string(i), "x", false);
    Config config;
    std::vector<int> steps;
    Phase phase = Phase::manifest;
    Reporter reporter;
    reporter.phase = [&](Phase which, const std::string&) { phase = which; };
    reporter.progress = [&](int step, int total, uint64_t, uint64_t) {
        EXPECT_EQ(total, 5);
        steps.push_back(step);
    };
    reporter.cancelled = [&] { return steps.size() >= 2; };
    Plan plan = makePlan(game.manifest, game.folder(), config, false, reporter);
    EXPECT_EQ(phase, Phase::verify);
    EXPECT_EQ(steps, (std::vector<int>{1, 2}));
    EXPECT_EQ(plan.download.size(), 2u);
}

TEST(PlanSummary, Texts) {
    struct Case {
        uint64_t bytes;
        size_t downloads;
        size_t removals;
        const char* text;
    };
    const Case cases[] = {
        {1610612736ULL, 3, 0, "1.5 GB to download"},
        {1536, 1, 0, "2 KB to download"},
        {1023, 1, 0, "1023 B to download"},
        {1048576, 1, 0, "1.0 MB to download"},
        {1048575, 1, 0, "1024 KB to download"},
        {0, 1, 0, "1 file to update"},
        {0, 2, 5, "2 files to update"},
        {0, 0, 3, "3 files to tidy up"},
        {0, 0, 1, "1 file to tidy up"},
        {0, 0, 0, "Finishing an unfinished update"},
    };
    for (const Case& c : cases) EXPECT_EQ(planSummary(c.bytes, c.downloads, c.removals), c.text);
}

TEST(ApplyChecks, DriveLabelsAndTheWriteTest) {
    EXPECT_EQ(driveLabel("D:\\Games\\Oblivion"), "D:");
    EXPECT_EQ(spaceFolder("D:\\Games\\Oblivion"), "D:\\");
    EXPECT_EQ(driveLabel("\\\\nas\\games\\Oblivion"), "the game drive");
    EXPECT_EQ(spaceFolder("\\\\nas\\games\\Oblivion"), "\\\\nas\\games\\Oblivion");
    EXPECT_EQ(requiredBytes(100ULL << 20), 120ULL << 20);
    // Saturated, never wrapped to a small need.
    EXPECT_EQ(requiredBytes(1ULL << 62), (1ULL << 62) + (1ULL << 62) / 5);
    EXPECT_EQ(requiredBytes(~0ULL), ~0ULL);

    ScratchDir dir;
    EXPECT_TRUE(canWriteGameFolder(dir.path()));
    EXPECT_FALSE(fileExists(dir.file("Emberlane/.write-test")));
    ASSERT_TRUE(putFile(dir.file("a-file"), "x"));
    EXPECT_FALSE(canWriteGameFolder(dir.file("a-file")));
    EXPECT_GT(freeBytes(dir.path()), 0u);
}

}  // namespace
}  // namespace ember::launcher
