// Installing, updating and repairing the client from the stand-in web
// service over HTTPS, under Wine; and the faults that must lose nothing.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "base/paths.h"
#include "launcher/formats/config.h"
#include "launcher/install/apply.h"
#include "launcher/install/plan.h"
#include "launcher/net/sha256.h"
#include "tests/install/standin_client.h"
#include "tests/install/file_time.h"
#include "tests/install/links.h"
#include "tests/support/scratch.h"

namespace ember::launcher {
namespace {

using testing::ScopedEnv;
using testing::ScratchDir;
using testing::fileText;
using testing::makeHardLink;
using testing::makeLink;
using testing::putFile;
using testing::standinFault;
using testing::standinManifest;
using testing::standinMark;
using testing::standinRequests;

// A game folder and a configuration folder of its own.
struct Install {
    ScratchDir game;
    ScratchDir configDir;
    ScopedEnv env{"EMBERLANE_CONFIG_DIR", configDir.path()};
    Config config;

    ApplyFault lastFault = ApplyFault::none;

    std::string folder() const { return game.path(); }
    std::string path(const std::string& rel) const { return joinPath(game.path(), rel); }
    Plan plan(const Manifest& m, bool full = false) { return makePlan(m, folder(), config, full, Reporter()); }
    // One file after another unless told otherwise: the order the faults
    // below rely on.
    // The apply's text in `error`, its kind in `lastFault`.
    int apply(const Manifest& m, const Plan& p, std::string& error, const Reporter& r = Reporter(), int inFlight = 1) {
        ApplyError got;
        const int done = applyClientInFlight(m, folder(), config, p, r, got, inFlight);
        error = got.text;
        lastFault = got.kind;
        return done;
    }
};

std::string digestOfFile(const std::string& path) {
    std::string digest;
    sha256File(path, digest);
    return digest;
}

void expectMatchesManifest(const Install& install, const Manifest& m) {
    for (const ManifestFile& f : m.files) {
        EXPECT_EQ(digestOfFile(install.path(f.path)), f.sha256) << f.path;
        EXPECT_FALSE(fileExists(install.path(f.path) + ".part")) << f.path;
    }
}

TEST(ApplyClient, InstallUpdateAndRepair) {
    Install install;
    const Manifest r1 = standinManifest(1);
    ASSERT_FALSE(r1.files.empty());

    // A fresh install downloads everything and records it on disk.
    Plan first = install.plan(r1);
    EXPECT_EQ(first.download.size(), r1.files.size());
    std::string error;
    EXPECT_EQ(install.apply(r1, first, error, Reporter(), kParallelDownloads), static_cast<int>(r1.files.size()));
    EXPECT_EQ(error, "");
    expectMatchesManifest(install, r1);
    Config saved = loadConfig();
    EXPECT_EQ(saved.installed.size(), r1.files.size());
    EXPECT_EQ(configToText(saved), configToText(install.config));

    // Up to date without reading a single file.
    uint64_t hashed = plannerFilesHashed();
    EXPECT_TRUE(install.plan(r1).upToDate);
    EXPECT_EQ(plannerFilesHashed(), hashed) << "the fast path read files";

    // Release 2: changed files replaced, the retired one removed, one added.
    const Manifest r2 = standinManifest(2);
    Plan update = install.plan(r2);
    EXPECT_EQ(update.remove, std::vector<std::string>{"Emberlane/plugins/legacy.dll"});
    std::vector<std::string> changed;
    for (const ManifestFile& f : update.download) changed.push_back(f.path);
    EXPECT_EQ(changed, (std::vector<std::string>{"Emberlane/Emberlane.dll", "Emberlane/data/realms.dat",
                                                 "Emberlane/plugins/voice.dll"}));
    EXPECT_EQ(install.apply(r2, update, error, Reporter(), kParallelDownloads), 3);
    EXPECT_EQ(error, "");
    expectMatchesManifest(install, r2);
    EXPECT_FALSE(fileExists(install.path("Emberlane/plugins/legacy.dll")));
    saved = loadConfig();
    EXPECT_EQ(saved.installed.count("Emberlane/plugins/legacy.dll"), 0u);
    EXPECT_EQ(saved.installed["Emberlane/Emberlane.dll"].sha256, r2.files[1].sha256);
    hashed = plannerFilesHashed();
    EXPECT_TRUE(install.plan(r2).upToDate);
    EXPECT_EQ(plannerFilesHashed(), hashed);

    // Tampered with (same size, same time): only a full check notices; a
    // stray in the client folder goes, the settings file stays.
    const std::string readme = install.path("Emberlane/README.txt");
    const uint64_t time = lastWriteTime(readme);
    std::string text = fileText(readme);
    text[0] ^= 1;
    ASSERT_TRUE(putFile(readme, text));
    ASSERT_TRUE(testing::setLastWriteTime(readme, time));
    ASSERT_TRUE(putFile(install.path("Emberlane/old.dll"), "stray"));
    ASSERT_TRUE(putFile(install.path("Emberlane/EMBER.INI"), "[client]\r\n"));
    EXPECT_TRUE(install.plan(r2).upToDate);
    Plan repair = install.plan(r2, true);
    ASSERT_EQ(repair.download.size(), 1u);
    EXPECT_EQ(repair.download[0].path, "Emberlane/README.txt");
    EXPECT_EQ(repair.remove, std::vector<std::string>{"Emberlane/old.dll"});
    EXPECT_EQ(install.apply(r2, repair, error), 1);
    EXPECT_EQ(error, "");
    expectMatchesManifest(install, r2);
    EXPECT_FALSE(fileExists(install.path("Emberlane/old.dll")));
    EXPECT_EQ(fileText(install.path("Emberlane/EMBER.INI")), "[client]\r\n");
}

// Faults use release 3's URLs, which no other test fetches.
TEST(ApplyClient, DigestMismatchAndLockedFileKeepTheOldFile) {
    Install install;
    const Manifest r3 = standinManifest(3);
    ASSERT_GE(r3.files.size(), 3u);
    Manifest three = r3;
    three.files.resize(3);  // loader, dll, README
    for (const ManifestFile& f : three.files) {
        createDirectories(parentDir(install.path(f.path)));
        ASSERT_TRUE(putFile(install.path(f.path), "old " + f.path));
    }

    // The first file arrives corrupted: the apply stops at it.
    standinFault("/client/r3/files/Emberlane/EmberlaneLoader.exe", "corrupt", 1);
    std::string error;
    EXPECT_EQ(install.apply(three, install.plan(three), error), 0);
    EXPECT_EQ(error.rfind("Emberlane/EmberlaneLoader.exe: checksum mismatch (got ", 0), 0u) << error;
    EXPECT_EQ(fileText(install.path("Emberlane/EmberlaneLoader.exe")), "old Emberlane/EmberlaneLoader.exe");
    EXPECT_FALSE(fileExists(install.path("Emberlane/EmberlaneLoader.exe.part")));

    // The second is open without sharing: "cannot replace", nothing lost.
    const std::string dll = install.path("Emberlane/Emberlane.dll");
    HANDLE held = CreateFileW(toWide(dll).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(install.apply(three, install.plan(three), error), 1);
    CloseHandle(held);
    EXPECT_EQ(error, "Emberlane/Emberlane.dll: cannot replace " + dll + " (is the game running?)");
    EXPECT_EQ(install.lastFault, ApplyFault::fileLocked);
    EXPECT_EQ(fileText(dll), "old Emberlane/Emberlane.dll");
    EXPECT_FALSE(fileExists(dll + ".part"));
    EXPECT_EQ(loadConfig().installed.size(), 1u) << "the file installed before the failure stays recorded";

    // Released, the next plan holds only what is still missing.
    Plan rest = install.plan(three);
    EXPECT_EQ(rest.download.size(), 2u);
    EXPECT_EQ(install.apply(three, rest, error), 2);
    EXPECT_EQ(error, "");
    expectMatchesManifest(install, three);
}

TEST(ApplyClient, CancelDuringTheThirdOfFiveKeepsTwo) {
    Install install;
    Manifest five = standinManifest(3);
    five.files.resize(5);
    const std::string third = install.path(five.files[2].path);
    createDirectories(parentDir(third));
    ASSERT_TRUE(putFile(third, "old third"));

    int filesDone = 0;
    bool sawThird = false;
    Reporter reporter;
    reporter.progress = [&](int done, int steps, uint64_t, uint64_t) {
        EXPECT_EQ(steps, 5);
        filesDone = done;
    };
    reporter.log = [&](const std::string&) {};
    reporter.cancelled = [&] {
        // Asked inside the third transfer once its bytes flow.
        if (filesDone == 2) sawThird = true;
        return filesDone == 2;
    };
    std::string error;
    Plan plan = install.plan(five);
    EXPECT_EQ(install.apply(five, plan, error, reporter), 2);
    EXPECT_EQ(error, "cancelled");
    EXPECT_EQ(install.lastFault, ApplyFault::cancelled);
    EXPECT_TRUE(sawThird);
    EXPECT_EQ(fileText(third), "old third");
    EXPECT_FALSE(fileExists(third + ".part"));
    Config saved = loadConfig();
    EXPECT_EQ(saved.installed.size(), 2u);
    EXPECT_EQ(saved.installed.count(five.files[0].path) + saved.installed.count(five.files[1].path), 2u);
}

// Six transfers in flight when the player cancels: no seventh starts, the
// file that landed is recorded, each cut file keeps its part with a record,
// and the next apply asks only for the rest of each.
TEST(ApplyClient, ACancelWithSixInFlightKeepsTheirBytesForTheNextTry) {
    Install install;
    const Manifest m = standinManifest(8);  // release 8's URLs are this test's own
    ASSERT_EQ(m.files.size(), 8u);
    ASSERT_EQ(m.files[5].size, 0) << "the sixth file is the empty one, which lands at once";
    const std::string prefix = "/client/r8/files/";
    // Every reply sends half its body, then goes quiet (the empty file has
    // no half); seven requests: the first six, then one in the empty one's slot.
    standinFault(prefix, "halt:60000", 7);
    // The cancel comes once every half is in.
    uint64_t halves = 0;
    for (size_t i = 0; i < 7; ++i) halves += static_cast<uint64_t>(m.files[i].size / 2);
    uint64_t received = 0;
    Reporter reporter;
    reporter.progress = [&](int, int, uint64_t bytes, uint64_t) { received = std::max(received, bytes); };
    reporter.cancelled = [&] { return received >= halves; };
    std::string error;
    const int64_t beforeTheCancel = standinMark();
    // Had the cancel waited on the server, the halted transfers would have
    // ended whole a minute later: only the empty file may land.
    EXPECT_EQ(install.apply(m, install.plan(m), error, reporter, kParallelDownloads), 1);
    EXPECT_EQ(error, "cancelled");
    EXPECT_EQ(standinRequests(prefix, beforeTheCancel).size(), 7u) << "a transfer started after the cancel";

    Config saved = loadConfig();
    ASSERT_EQ(saved.installed.size(), 1u);
    EXPECT_EQ(saved.installed.begin()->first, m.files[5].path);
    std::vector<std::string> expected;
    for (size_t i = 0; i < 7; ++i) {
        if (i == 5) continue;
        const std::string part = partPathFor(install.folder(), m.files[i].path);
        expected.push_back(part.substr(part.find_last_of('\\') + 1));
        expected.push_back(expected.back() + http::kPartRecordSuffix);
        EXPECT_EQ(fileSize(part), m.files[i].size / 2) << m.files[i].path;
    }
    std::sort(expected.begin(), expected.end());
    std::vector<DirEntry> entries;
    ASSERT_TRUE(listDirectory(install.path(kPartsFolder), entries));
    std::vector<std::string> names;
    for (const DirEntry& e : entries) names.push_back(e.name);
    EXPECT_EQ(names, expected);

    // The next Play: the rest of each cut file, the untouched one whole.
    const int64_t beforeThePlay = standinMark();
    install.config = saved;
    EXPECT_EQ(install.apply(m, install.plan(m), error, Reporter(), kParallelDownloads), 7);
    EXPECT_EQ(error, "");
    expectMatchesManifest(install, m);
    const auto later = standinRequests(prefix, beforeThePlay);
    ASSERT_EQ(later.size(), 7u);
    for (size_t i = 0; i < later.size(); ++i) {
        const bool untouched = later[i].path == prefix + m.files[7].path;
        EXPECT_EQ(later[i].range.empty(), untouched) << later[i].path;
        EXPECT_EQ(later[i].status, untouched ? 200 : 206) << later[i].path;
    }
    entries.clear();
    ASSERT_TRUE(listDirectory(install.path(kPartsFolder), entries));
    EXPECT_TRUE(entries.empty());

    // Parts of files a newer manifest no longer lists go even when that
    // manifest has nothing else to do.
    const std::string orphan = joinPath(install.path(kPartsFolder), "0123456789abcdef0123456789abcdef.part");
    ASSERT_TRUE(writeFileAtomic(orphan, "half"));
    ASSERT_TRUE(writeFileAtomic(orphan + http::kPartRecordSuffix, "record"));
    const Plan upToDate = install.plan(m);
    ASSERT_TRUE(upToDate.download.empty() && upToDate.remove.empty());
    EXPECT_EQ(install.apply(m, upToDate, error, Reporter(), kParallelDownloads), 0);
    EXPECT_EQ(error, "");
    entries.clear();
    ASSERT_TRUE(listDirectory(install.path(kPartsFolder), entries));
    EXPECT_TRUE(entries.empty()) << "an orphaned part file stayed";
}

// Run as a child by KilledMidDownloadResumes: installs release 3 with the
// fourth file trickling in, so the parent can kill it in the middle.
TEST(ApplyChild, InstallUntilKilled) {
    const auto game = environmentVariable("EMBER_TEST_CHILD_GAME");
    if (!game) GTEST_SKIP() << "only run as a child process";
    Config config;
    Manifest m = standinManifest(3);
    Plan plan = makePlan(m, *game, config, false, Reporter());
    ApplyError error;
    applyClientInFlight(m, *game, config, plan, Reporter(), error, 1);
}

TEST(ApplyClient, KilledMidDownloadLeavesValidConfigAndResumes) {
    Install install;
    const Manifest r3 = standinManifest(3);
    const std::string fourth = "/client/r3/files/" + r3.files[3].path;
    standinFault(fourth, "trickle:20", 1);

    // The child installs into our folders, using our configuration folder.
    ScopedEnv childGame("EMBER_TEST_CHILD_GAME", install.folder());
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring commandLine = L"\"" + std::wstring(self) + L"\" --gtest_filter=ApplyChild.InstallUntilKilled";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    ASSERT_TRUE(CreateProcessW(self, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child));

    // Kill it once the first save is in and the fourth file's first bytes
    // are on disk (three files have landed; later ones may not be recorded
    // yet).
    const std::string fourthPart = partPathFor(install.folder(), r3.files[3].path);
    bool recorded = false, under = false;
    for (int i = 0; i < 600 && !(recorded && under); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        recorded = recorded || !loadConfig().installed.empty();
        under = fileSize(fourthPart) > 0;
    }
    TerminateProcess(child.hProcess, 9);
    WaitForSingleObject(child.hProcess, 10000);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    ASSERT_TRUE(recorded);
    ASSERT_TRUE(under) << "the fourth file never started";

    // config.json is whole; the next plan fetches only from the fourth file
    // on, reading just the landed files that were not recorded yet.
    install.config = loadConfig();
    EXPECT_FALSE(install.config.settingsWereReset);
    const size_t saved = install.config.installed.size();
    EXPECT_GE(saved, 1u);
    EXPECT_LE(saved, 3u);
    uint64_t hashed = plannerFilesHashed();
    Plan rest = install.plan(r3);
    EXPECT_EQ(plannerFilesHashed() - hashed, 3 - saved);
    EXPECT_EQ(rest.download.size(), r3.files.size() - 3);
    EXPECT_EQ(rest.download[0].path, r3.files[3].path);
    std::string error;
    const int64_t beforeTheRest = standinMark();
    EXPECT_EQ(install.apply(r3, rest, error), static_cast<int>(r3.files.size() - 3));
    EXPECT_EQ(error, "");
    expectMatchesManifest(install, r3);
    // The fourth file's bytes from before the kill were kept: nothing asks
    // for it from the start. (A retry the child sent just before the kill
    // may reach the busy service's log only now.)
    const auto after = standinRequests(fourth, beforeTheRest);
    ASSERT_FALSE(after.empty());
    for (const auto& r : after) EXPECT_NE(r.range, "") << "the killed transfer's bytes were fetched again";
    EXPECT_EQ(after.back().status, 206);
}

// Run by install_disk_full with a 2 MiB drive: the download of a 1 MiB file
// onto a nearly full disk fails and the old file stays.
TEST(DiskFull, WriteFailureKeepsTheOldFile) {
    const auto drive = environmentVariable("EMBER_TEST_FULL_DRIVE");
    if (!drive) GTEST_SKIP() << "run by the install_disk_full test";
    ScratchDir configDir;
    ScopedEnv env("EMBERLANE_CONFIG_DIR", configDir.path());
    const std::string game = *drive + "\\game";
    // Every file of the release at once; Emberlane.dll, a little over
    // 1 MiB, can never fit.
    Manifest m = standinManifest(3);
    ASSERT_EQ(m.files[1].path, "Emberlane/Emberlane.dll");
    ASSERT_GT(m.files[1].size, 1 << 20);
    const std::string dll = joinPath(game, m.files[1].path);
    ASSERT_TRUE(createDirectories(parentDir(dll)));
    ASSERT_TRUE(putFile(dll, "old dll"));
    // Leave about half a MiB free.
    const uint64_t free = freeBytes(game);
    ASSERT_GT(free, 600000u);
    ASSERT_TRUE(putFile(joinPath(game, "filler.bin"), std::string(free - 500000, 'f')));
    Config config;
    Plan plan = makePlan(m, game, config, false, Reporter());
    ApplyError error;
    applyClient(m, game, config, plan, Reporter(), error);
    // Whichever write met the full disk first is the one reported.
    bool named = false;
    for (const ManifestFile& f : m.files) {
        named = named || error.text == f.path + ": disk write failed for " + joinPath(game, f.path);
    }
    EXPECT_TRUE(named) << error.text;
    EXPECT_EQ(error.kind, ApplyFault::diskFull);
    EXPECT_EQ(fileText(dll), "old dll");
    // What landed is recorded and whole; a part file is kept only with its
    // record (a transfer the failure ended, to continue next time).
    for (const auto& [path, record] : loadConfig().installed) {
        std::string digest;
        EXPECT_TRUE(sha256File(joinPath(game, path), digest) && digest == record.sha256) << path;
    }
    std::vector<DirEntry> parts;
    listDirectory(joinPath(game, kPartsFolder), parts);
    for (const DirEntry& e : parts) {
        const bool record = e.name.size() > 7 && e.name.compare(e.name.size() - 7, 7, http::kPartRecordSuffix) == 0;
        if (!record) {
            EXPECT_TRUE(fileExists(joinPath(joinPath(game, kPartsFolder), e.name + ".resume"))) << e.name;
        }
    }
    removeFile(joinPath(game, "filler.bin"));
}

TEST(ApplyClient, AnUnsafePathIsRefusedBeforeAnythingChanges) {
    Install install;
    Manifest m = standinManifest(3);
    m.files.resize(1);
    m.files.push_back(ManifestFile{"nul.txt", m.files[0].sha256, m.files[0].size});
    Plan plan = install.plan(m);
    plan.remove = {"Emberlane/keep.txt"};
    ASSERT_TRUE(createDirectories(install.path("Emberlane")));
    ASSERT_TRUE(putFile(install.path("Emberlane/keep.txt"), "x"));
    std::string error;
    EXPECT_EQ(install.apply(m, plan, error), 0);
    EXPECT_EQ(error, std::string("nul.txt: ") + kUnsafeTarget);
    EXPECT_EQ(install.lastFault, ApplyFault::unsafeTarget);
    EXPECT_FALSE(fileExists(install.path(m.files[0].path)));
    EXPECT_TRUE(fileExists(install.path("Emberlane/keep.txt")));

    // A path among the part files could be taken by another file's partial
    // bytes (and theirs by it): refused the same way.
    m.files.back().path = "emberlane/.PARTS/x.part";
    plan = install.plan(m);
    EXPECT_EQ(install.apply(m, plan, error), 0);
    EXPECT_EQ(error, std::string("emberlane/.PARTS/x.part: ") + kReservedTarget);
    EXPECT_FALSE(fileExists(install.path(m.files[0].path)));
}

TEST(VerifyAndRepair, NeverDeletesThroughALinkNorRemovesIt) {
    Install install;
    ScratchDir documents;
    ASSERT_TRUE(putFile(documents.file("letter.txt"), "mine"));
    ASSERT_TRUE(createDirectories(install.path("Emberlane")));
    ASSERT_TRUE(putFile(install.path("Emberlane/old.dll"), "stray"));
    ASSERT_TRUE(makeLink(install.path("Emberlane\\docs"), documents.path()));
    install.config.installed["Emberlane/docs/letter.txt"] = {"00", 4, 1};
    const Manifest none;
    std::string error;
    Plan plan = install.plan(none, true);
    EXPECT_EQ(plan.remove, std::vector<std::string>{"Emberlane/old.dll"});
    EXPECT_EQ(install.apply(none, plan, error), 0);
    EXPECT_FALSE(fileExists(install.path("Emberlane/old.dll")));
    EXPECT_TRUE(isLink(install.path("Emberlane\\docs")));

    // The whole client folder a link: nothing behind it is a stray, and a
    // removal handed a path through it deletes nothing.
    ScratchDir linked;
    ASSERT_TRUE(makeLink(linked.file("Emberlane"), documents.path()));
    EXPECT_TRUE(makePlan(none, linked.path(), install.config, true, Reporter()).remove.empty());
    Plan through;
    through.remove = {"Emberlane/letter.txt"};
    pruneRetired(linked.path(), install.config, through, Reporter());
    EXPECT_EQ(fileText(documents.file("letter.txt")), "mine");
}

// Nothing is written through a link below the game folder. A part file
// that is one is dropped (never what it names) and fetched anew; a link
// where a planned file's folder or the part files' folder should be stops
// the apply before anything is written. (Wine shows a host link to a file
// as the file itself, so symbolic links to files are the native test's.)
TEST(ApplyClient, NeverWritesThroughALink) {
    const Manifest r1 = standinManifest(1);
    auto deep = std::find_if(r1.files.begin(), r1.files.end(), [](const ManifestFile& f) {
        return f.path.find('/') != f.path.rfind('/');
    });
    ASSERT_NE(deep, r1.files.end()) << "no file two folders down";
    Manifest one = r1;
    one.files = {*deep};
    const std::string& rel = deep->path;
    using Plant = bool (*)(const Install&, const std::string& rel, const ScratchDir& elsewhere);
    struct Row {
        const char* name;
        Plant plant;
        std::string link;  // the refused link, "" when the file lands
    };
    const Row rows[] = {
        {"the part file a hard link to a file elsewhere",
         [](const Install& in, const std::string& r, const ScratchDir& e) {
             return createDirectories(in.path(kPartsFolder)) &&
                    makeHardLink(partPathFor(in.folder(), r), e.file("letter.txt"));
         },
         ""},
        {"the part files' folder a link",
         [](const Install& in, const std::string&, const ScratchDir& e) {
             return makeLink(in.path(kPartsFolder), e.path());
         },
         kPartsFolder},
        {"a planned file's folder a link",
         [](const Install& in, const std::string& r, const ScratchDir& e) {
             return makeLink(in.path(parentDir(r)), e.path());
         },
         parentDir(rel)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Install install;
        ScratchDir elsewhere;
        ASSERT_TRUE(putFile(elsewhere.file("letter.txt"), "mine"));
        ASSERT_TRUE(createDirectories(install.path(parentDir(parentDir(rel)))));
        ASSERT_TRUE(row.plant(install, rel, elsewhere));
        std::string error;
        const int landed = install.apply(one, install.plan(one), error);
        EXPECT_TRUE(fileText(elsewhere.file("letter.txt")) == "mine") << "the file behind the link was written";
        std::vector<DirEntry> there;
        ASSERT_TRUE(listDirectory(elsewhere.path(), there));
        EXPECT_EQ(there.size(), 1u) << "a file was added behind the link";
        if (row.link.empty()) {
            EXPECT_EQ(error, "");
            EXPECT_EQ(landed, 1);
            EXPECT_EQ(digestOfFile(install.path(rel)), deep->sha256);
            EXPECT_FALSE(isLinkedFile(install.path(rel)));
            EXPECT_FALSE(fileExists(partPathFor(install.folder(), rel)));
        } else {
            EXPECT_EQ(error, rel + ": " + linkRefusal(row.link));
            EXPECT_EQ(landed, 0);
            EXPECT_TRUE(isLink(install.path(row.link)));
        }
    }
}

TEST(ApplyClient, TheSettingsFileIsNeverDeletedNorReplacedInAnySpelling) {
    Install install;
    const std::string ini = install.path("Emberlane\\ember.ini");
    ASSERT_TRUE(createDirectories(install.path("Emberlane")));
    ASSERT_TRUE(putFile(ini, "[client]\r\nmine = 1\r\n"));
    wchar_t shortPath[MAX_PATH];
    ASSERT_GT(GetShortPathNameW(toWide(install.path("Emberlane")).c_str(), shortPath, MAX_PATH), 0u);
    // The short name of the client folder alone (every folder above has one too).
    const std::string shortFull = toUtf8(shortPath);
    const std::string shortFolder = shortFull.substr(shortFull.find_last_of("\\/") + 1);
    ASSERT_NE(shortFolder, "Emberlane") << "no short name to test with";
    const std::vector<std::string> spellings = {"Emberlane\\ember.ini", shortFolder + "/ember.ini",
                                                "emberlane\\EMBER.INI"};
    for (const std::string& spelling : spellings) {
        SCOPED_TRACE(spelling);
        EXPECT_TRUE(isClientSettingsFile(install.folder(), spelling));
        // An older manifest's record under that spelling: forgotten, the
        // file kept.
        install.config.installed[spelling] = {"00", 1, 1};
        std::string error;
        const Manifest none;
        Plan plan = install.plan(none, true);
        EXPECT_TRUE(plan.remove.empty()) << plan.remove.front();
        EXPECT_EQ(install.config.installed.count(spelling), 0u);
        Plan prune;
        prune.remove = {spelling};
        pruneRetired(install.folder(), install.config, prune, Reporter());
        EXPECT_EQ(fileText(ini), "[client]\r\nmine = 1\r\n");
        // A manifest that lists it: refused before anything is written.
        Manifest listed = standinManifest(3);
        listed.files.push_back(ManifestFile{spelling, std::string(64, 'a'), 3});
        Plan download;
        download.download = {listed.files.back()};
        EXPECT_EQ(install.apply(listed, download, error), 0);
        EXPECT_EQ(error, spelling + ": " + kSettingsTarget);
        EXPECT_EQ(fileText(ini), "[client]\r\nmine = 1\r\n");
    }
    EXPECT_FALSE(isClientSettingsFile(install.folder(), "Emberlane/ember.ini.bak"));
}

TEST(PruneRetired, AFileThatCouldNotBeDeletedKeepsItsRecordUntilItIsGone) {
    Install install;
    ASSERT_TRUE(createDirectories(install.path("Emberlane")));
    const std::string retired = install.path("Emberlane/old.dll");
    ASSERT_TRUE(putFile(retired, "old"));
    install.config.installed["Emberlane/old.dll"] = {"00", 3, 1};
    const Manifest none;
    // Held open by another program, without delete sharing.
    HANDLE held = CreateFileW(toWide(retired).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    pruneRetired(install.folder(), install.config, install.plan(none), Reporter());
    EXPECT_TRUE(fileExists(retired));
    EXPECT_EQ(loadConfig().installed.count("Emberlane/old.dll"), 1u) << "the record of a file still there was dropped";
    CloseHandle(held);
    // Released, the next plan still holds it and the prune ends it.
    Plan next = install.plan(none);
    EXPECT_EQ(next.remove, std::vector<std::string>{"Emberlane/old.dll"});
    pruneRetired(install.folder(), install.config, next, Reporter());
    EXPECT_FALSE(fileExists(retired));
    EXPECT_EQ(loadConfig().installed.count("Emberlane/old.dll"), 0u);
}

}  // namespace
}  // namespace ember::launcher
