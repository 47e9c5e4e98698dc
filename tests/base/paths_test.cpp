// The file layer, natively against the POSIX twin and under Wine against
// Win32: path text, the directory walk, the configuration folder, reading,
// atomic writes and the small primitives.
#include "base/paths.h"

#include <gtest/gtest.h>

#include <ctime>

#include "tests/support/scratch.h"

namespace ember::launcher {
namespace {

using testing::fileText;
using testing::putFile;
using testing::ScopedEnv;
using testing::ScratchDir;

TEST(JoinPath, JoinsWithOneBackslashAndTurnsSlashesInTheSecondPart) {
    struct Case {
        const char* a;
        const char* b;
        const char* expected;
    };
    const Case cases[] = {
        {"C:\\a\\", "b/c", "C:\\a\\b\\c"},
        {"", "b/c", "b/c"},  // an empty first part leaves the second untouched
        {"C:\\a", "b", "C:\\a\\b"},
        {"C:/a/", "b", "C:/a/b"},  // the first part is kept as written
        {"a", "x/y\\z", "a\\x\\y\\z"},
        {"a", "", "a\\"},
    };
    for (const Case& c : cases) EXPECT_EQ(joinPath(c.a, c.b), c.expected) << c.a << " + " << c.b;
}

TEST(ParentDir, IsTheTextBeforeTheLastSeparator) {
    struct Case {
        const char* path;
        const char* expected;
    };
    const Case cases[] = {
        {"launcher.log", ""}, {"C:\\a\\b.txt", "C:\\a"}, {"a/b\\c", "a/b"}, {"a\\b/c", "a\\b"},
        {"a\\", "a"},         {"\\x", ""},               {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(parentDir(c.path), c.expected) << c.path;
}

TEST(CreateDirectories, AnEmptyPathCreatesNothingAndFails) {
    EXPECT_FALSE(createDirectories(""));
}

TEST(CreateDirectories, CreatesEveryMissingLevelWithEitherSeparator) {
    ScratchDir scratch;
    std::string deep = scratch.path() + "/one\\two/three";
    EXPECT_TRUE(createDirectories(deep));
    EXPECT_TRUE(isDirectory(scratch.file("one")));
    EXPECT_TRUE(isDirectory(scratch.file("one/two/three")));
    // Already there: still true; a trailing separator changes nothing.
    EXPECT_TRUE(createDirectories(deep + "\\"));
}

TEST(CreateDirectories, FailsWhenAFileIsInTheWay) {
    ScratchDir scratch;
    ASSERT_TRUE(putFile(scratch.file("blocker"), "x"));
    EXPECT_FALSE(createDirectories(scratch.file("blocker/below")));
    EXPECT_TRUE(fileExists(scratch.file("blocker")));
}

TEST(ConfigDir, AnExplicitFolderIsCreatedAndReturnedExactlyAsGiven) {
    ScratchDir scratch;
    std::string wanted = scratch.path() + "/x/y";  // forward slashes stay
    ScopedEnv env("EMBERLANE_CONFIG_DIR", wanted);
    EXPECT_EQ(configDir(), wanted);
    EXPECT_TRUE(isDirectory(scratch.file("x/y")));
}

TEST(ConfigDir, IsReadAgainOnEveryCall) {
    ScratchDir scratch;
    ScopedEnv first("EMBERLANE_CONFIG_DIR", scratch.file("first"));
    EXPECT_EQ(configDir(), scratch.file("first"));
    ScopedEnv second("EMBERLANE_CONFIG_DIR", scratch.file("second"));
    EXPECT_EQ(configDir(), scratch.file("second"));
}

TEST(ConfigDir, AnEmptyVariableFallsBackToLocalAppData) {
    ScratchDir scratch;
    ScopedEnv empty("EMBERLANE_CONFIG_DIR", std::string());
#ifdef _WIN32
    // The known folder of the Wine user; its name is the prefix's business.
    std::string dir = configDir();
    ASSERT_GT(dir.size(), std::string("\\Emberlane").size());
    EXPECT_EQ(dir.substr(dir.size() - 10), "\\Emberlane");
    EXPECT_EQ(parentDir(dir), platformLocalAppData());
#else
    ScopedEnv xdg("XDG_DATA_HOME", scratch.path());
    std::string dir = configDir();
    EXPECT_EQ(dir, joinPath(scratch.path(), "Emberlane"));
#endif
    EXPECT_TRUE(isDirectory(dir));
}

TEST(ReadWholeFile, AnEmptyFileIsReadAsEmpty) {
    ScratchDir scratch;
    ASSERT_TRUE(putFile(scratch.file("empty"), ""));
    std::string out = "old";
    EXPECT_TRUE(readWholeFile(scratch.file("empty"), out));
    EXPECT_EQ(out, "");
}

TEST(ReadWholeFile, AMissingFileFailsAndLeavesTheOutputAlone) {
    ScratchDir scratch;
    std::string out = "old";
    EXPECT_FALSE(readWholeFile(scratch.file("missing"), out));
    EXPECT_EQ(out, "old");
    EXPECT_FALSE(readWholeFile("", out));
}

TEST(ReadWholeFile, ReadsBinaryContentAcrossPieceBoundaries) {
    ScratchDir scratch;
    // Sizes around the 64 KiB piece: one short, exact, one over, several.
    for (size_t size : {size_t(65535), size_t(65536), size_t(65537), size_t(200000)}) {
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7) % 256);
        bytes[0] = '\r';
        bytes[1] = '\n';  // no text-mode translation may happen
        ASSERT_TRUE(putFile(scratch.file("blob"), bytes));
        std::string out;
        ASSERT_TRUE(readWholeFile(scratch.file("blob"), out)) << size;
        EXPECT_EQ(out.size(), size);
        EXPECT_TRUE(out == bytes) << "content differs for size " << size;
    }
}

TEST(WriteFileAtomic, CreatesTheMissingFolderAndWritesExactBytes) {
    ScratchDir scratch;
    std::string path = scratch.file("new/deeper/config.json");
    const std::string bytes("{\r\n\"a\": 1}\n\0tail", 16);
    EXPECT_TRUE(writeFileAtomic(path, bytes));
    EXPECT_EQ(fileText(path), bytes);
    EXPECT_FALSE(fileExists(path + ".tmp"));
}

TEST(WriteFileAtomic, ReplacesAnEarlierFileAndAStaleTemporary) {
    ScratchDir scratch;
    std::string path = scratch.file("config.json");
    ASSERT_TRUE(putFile(path, "old content that is longer"));
    ASSERT_TRUE(putFile(path + ".tmp", "stale temporary from a crash, even longer"));
    EXPECT_TRUE(writeFileAtomic(path, "new"));
    EXPECT_EQ(fileText(path), "new");
    EXPECT_FALSE(fileExists(path + ".tmp"));
    EXPECT_TRUE(writeFileAtomic(path, ""));
    EXPECT_EQ(fileSize(path), 0);
}

TEST(WriteFileAtomic, AnUnopenableTemporaryLeavesThePreviousFileIntact) {
    ScratchDir scratch;
    std::string path = scratch.file("config.json");
    ASSERT_TRUE(putFile(path, "previous"));
    // A folder where the temporary file would go cannot be opened for writing.
    ASSERT_TRUE(createDirectories(path + ".tmp"));
    EXPECT_FALSE(writeFileAtomic(path, "replacement"));
    EXPECT_EQ(fileText(path), "previous");
}

TEST(WriteFileAtomic, AFolderAtTheTargetIsNotReplaced) {
    ScratchDir scratch;
    std::string path = scratch.file("target");
    ASSERT_TRUE(createDirectories(joinPath(path, "inside")));
    EXPECT_FALSE(writeFileAtomic(path, "bytes"));
    EXPECT_TRUE(isDirectory(joinPath(path, "inside")));
}

TEST(FileLayer, NonAsciiNamesRoundTrip) {
    ScratchDir scratch;
    const std::string name = "Gr\xC3\xBC\xC3\x9F" "e \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80.txt";
    std::string path = scratch.file("d\xC3\xA9j\xC3\xA0/" + name);
    ASSERT_TRUE(writeFileAtomic(path, "content"));
    EXPECT_TRUE(fileExists(path));
    EXPECT_EQ(fileText(path), "content");
    std::vector<DirEntry> entries;
    ASSERT_TRUE(listDirectory(parentDir(path), entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, name);
}

TEST(Conversion, Utf8AndWideRoundTrip) {
    const std::string texts[] = {
        "plain", "caf\xC3\xA9", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", "\xF0\x9F\x98\x80 emoji", "a\\b/c",
    };
    for (const std::string& text : texts) EXPECT_EQ(toUtf8(toWide(text)), text) << text;
    EXPECT_EQ(toWide("caf\xC3\xA9"), L"caf\u00E9");
    EXPECT_EQ(toWide(""), L"");
    EXPECT_EQ(toUtf8(L""), "");
}

TEST(Conversion, InvalidUtf8BecomesTheReplacementCharacter) {
    EXPECT_EQ(toWide("a\xFF" "b"), L"a\uFFFDb");
    EXPECT_EQ(toUtf8(toWide("\xC3")), "\xEF\xBF\xBD");  // cut-off sequence
}

TEST(FileLayer, SizeAndLastWriteTime) {
    ScratchDir scratch;
    std::string path = scratch.file("five");
    ASSERT_TRUE(putFile(path, "12345"));
    EXPECT_EQ(fileSize(path), 5);
    EXPECT_EQ(fileSize(scratch.file("missing")), -1);
    EXPECT_EQ(fileSize(scratch.path()), -1);
    EXPECT_EQ(lastWriteTime(scratch.file("missing")), 0u);
    // A Windows file time: 100 ns units since 1601, so "now" in Unix seconds.
    uint64_t fileTime = lastWriteTime(path);
    int64_t unixSeconds = static_cast<int64_t>(fileTime / 10000000ULL) - 11644473600LL;
    EXPECT_LT(std::llabs(unixSeconds - static_cast<int64_t>(std::time(nullptr))), 600) << fileTime;
}

TEST(FileLayer, ListsADirectorySortedWithKinds) {
    ScratchDir scratch;
    ASSERT_TRUE(putFile(scratch.file("b.txt"), "b"));
    ASSERT_TRUE(putFile(scratch.file("a.txt"), "a"));
    ASSERT_TRUE(createDirectories(scratch.file("c")));
    std::vector<DirEntry> entries;
    ASSERT_TRUE(listDirectory(scratch.path(), entries));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "a.txt");
    EXPECT_FALSE(entries[0].isDirectory);
    EXPECT_EQ(entries[1].name, "b.txt");
    EXPECT_EQ(entries[2].name, "c");
    EXPECT_TRUE(entries[2].isDirectory);
    EXPECT_FALSE(listDirectory(scratch.file("missing"), entries));
    EXPECT_EQ(entries.size(), 3u);  // untouched on failure
}

TEST(FileLayer, RemoveAndRename) {
    ScratchDir scratch;
    ASSERT_TRUE(putFile(scratch.file("from"), "new"));
    ASSERT_TRUE(putFile(scratch.file("to"), "old"));
    EXPECT_TRUE(renameReplace(scratch.file("from"), scratch.file("to")));
    EXPECT_EQ(fileText(scratch.file("to")), "new");
    EXPECT_FALSE(fileExists(scratch.file("from")));
    EXPECT_FALSE(renameReplace(scratch.file("from"), scratch.file("to")));
    EXPECT_TRUE(removeFile(scratch.file("to")));
    EXPECT_FALSE(fileExists(scratch.file("to")));
    EXPECT_FALSE(removeFile(scratch.file("to")));
}

TEST(FileLayer, AppendAddsToTheEnd) {
    ScratchDir scratch;
    std::string path = scratch.file("log");
    EXPECT_TRUE(appendToFile(path, "one\n"));
    EXPECT_TRUE(appendToFile(path, "two\n"));
    EXPECT_EQ(fileText(path), "one\ntwo\n");
    EXPECT_FALSE(appendToFile(scratch.file("missing/log"), "x"));
}

TEST(FileLayer, KnowsItsOwnExecutable) {
    std::string self = executablePath();
    EXPECT_TRUE(fileExists(self)) << self;
    EXPECT_NE(self.find("base_paths_test"), std::string::npos) << self;
}

}  // namespace
}  // namespace ember::launcher
