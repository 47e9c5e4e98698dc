// POSIX-only behaviour of the file layer's twin: Windows-spelled paths on a
// Unix file system, a write cut short by a full disk, and the fallbacks of
// the configuration folder.
#include "base/paths.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/scratch.h"

namespace ember::launcher {
namespace {

using testing::fileText;
using testing::makeHostLink;
using testing::putFile;
using testing::ScopedEnv;
using testing::ScratchDir;

TEST(PathsPosix, BackslashesAreFolderSeparatorsOnDisk) {
    ScratchDir scratch;
    ASSERT_TRUE(writeFileAtomic(joinPath(scratch.path(), "sub\\file.txt"), "x"));
    struct stat info;
    EXPECT_EQ(::stat((scratch.path() + "/sub/file.txt").c_str(), &info), 0);
}

TEST(PathsPosix, AFullDiskLeavesThePreviousFileIntact) {
    ScratchDir scratch;
    std::string path = scratch.file("config.json");
    ASSERT_TRUE(putFile(path, "previous"));
    // A file-size limit makes the write fall short exactly as a full disk
    // would (EFBIG instead of ENOSPC).
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    sighandler_t oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool written = writeFileAtomic(path, std::string(5000, 'n'));
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(fileText(path), "previous");
    EXPECT_FALSE(fileExists(path + ".tmp"));  // the short temporary is removed
}

// A write never goes through a link: one at the temporary is removed and
// the file made anew, one at the file itself is replaced by the rename, and
// what either names keeps its bytes (or, naming nothing, stays nothing).
TEST(PathsPosix, AnAtomicWriteNeverGoesThroughALink) {
    struct Row {
        const char* name;
        const char* at;
        bool hard;
        bool victimThere;
    };
    const Row rows[] = {
        {"the temporary a symbolic link", "ember.ini.tmp", false, true},
        {"the temporary a symbolic link naming nothing", "ember.ini.tmp", false, false},
        {"the temporary a hard link", "ember.ini.tmp", true, true},
        {"the file a symbolic link", "ember.ini", false, true},
        {"the file a hard link", "ember.ini", true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchDir scratch;
        ScratchDir elsewhere;
        const std::string victim = elsewhere.file("letter.txt");
        if (row.victimThere) {
            ASSERT_TRUE(putFile(victim, "mine"));
        }
        const std::string link = scratch.file(row.at);
        ASSERT_TRUE(makeHostLink(link, victim, row.hard));
        EXPECT_TRUE(isLinkedFile(link));
        bool linked = false;
        EXPECT_EQ(openOwnFile(link, "ab", &linked), nullptr);
        EXPECT_TRUE(linked);
        EXPECT_TRUE(writeFileAtomic(scratch.file("ember.ini"), "ours"));
        EXPECT_EQ(fileText(scratch.file("ember.ini")), "ours");
        EXPECT_FALSE(isLinkedFile(scratch.file("ember.ini")));
        if (row.victimThere) {
            EXPECT_EQ(fileText(victim), "mine");
        } else {
            EXPECT_FALSE(fileExists(victim));
        }
    }
}

TEST(ConfigDirPosix, FallsBackFromXdgToHomeToLocalAppDataToARelativeFolder) {
    ScratchDir scratch;
    ScopedEnv noExplicit("EMBERLANE_CONFIG_DIR", std::nullopt);
    ScopedEnv noXdg("XDG_DATA_HOME", std::nullopt);
    {
        ScopedEnv home("HOME", scratch.file("home"));
        EXPECT_EQ(configDir(), scratch.file("home") + "/.local/share\\Emberlane");
        EXPECT_TRUE(isDirectory(scratch.file("home/.local/share/Emberlane")));
    }
    ScopedEnv noHome("HOME", std::nullopt);
    {
        ScopedEnv local("LOCALAPPDATA", scratch.file("local"));
        EXPECT_EQ(configDir(), joinPath(scratch.file("local"), "Emberlane"));
    }
    // Nothing at all: "Emberlane" relative to the working folder.
    ScopedEnv noLocal("LOCALAPPDATA", std::nullopt);
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(scratch.path().c_str()), 0);
    std::string dir = configDir();
    bool created = isDirectory(scratch.file("Emberlane"));
    ASSERT_EQ(chdir(previous), 0);
    EXPECT_EQ(dir, "Emberlane");
    EXPECT_TRUE(created);
}

}  // namespace
}  // namespace ember::launcher
