// Finding forbidden mods in the game folder and moving them aside; paths
// from a hostile manifest never reach a file outside the game folder.
#include "launcher/install/blocked_mods.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include "base/paths.h"
#include "launcher/net/sha256.h"
#include "tests/install/file_time.h"
#include "tests/support/scratch.h"

namespace ember::launcher {
namespace {

using testing::fileText;
using testing::putFile;
using testing::ScratchDir;


std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return text;
}

std::vector<std::string> files(const std::vector<FoundMod>& found) {
    std::vector<std::string> out;
    for (const FoundMod& mod : found) out.push_back(mod.file);
    return out;
}

TEST(FindBlockedMods, MatchesByPresenceOrExactContentInManifestOrder) {
    ScratchDir game;
    const std::string mods = game.file("Mods");
    ASSERT_TRUE(createDirectories(joinPath(mods, "dir.pak")));
    ASSERT_TRUE(putFile(joinPath(mods, "a.pak"), "A"));
    ASSERT_TRUE(putFile(joinPath(mods, "b.pak"), "B"));
    ASSERT_TRUE(putFile(joinPath(mods, "c.pak"), "not C"));
    ASSERT_TRUE(putFile(joinPath(mods, "warn.pak"), "W"));
    ASSERT_TRUE(putFile(joinPath(mods, "case.pak"), "K"));

    const std::vector<BlockedMod> entries = {
        {"Mods/warn.pak", "", "warn", "looks odd"},           // found, never blocks
        {"Mods/a.pak", "", "block", "any content"},           // presence alone
        {"Mods/b.pak", upper(sha256Hex("B")), "block", "b"},   // digest case ignored
        {"Mods/c.pak", sha256Hex("C"), "block", "c"},          // same name, other content
        {"Mods/dir.pak", "", "block", "a folder"},            // a folder does not count
        {"Mods/missing.pak", "", "block", "gone"},
        {"", "", "block", "no file"},
        {"Mods/case.pak", "", "Block", "severity is case-sensitive"},
        {"Mods\\a.pak", "", "block", "backslash separator: the same file"},
        {"MODS/A.PAK", "", "block", "letter case: the same file"},
        {"Mods/Warn.pak", "", "block", "the same file, found already"},
    };
    const std::vector<FoundMod> found = findBlockedMods(game.path(), entries);
    EXPECT_EQ(files(found),
              (std::vector<std::string>{"Mods/warn.pak", "Mods/a.pak", "Mods/b.pak", "Mods/case.pak"}));
    ASSERT_EQ(found.size(), 4u);
    EXPECT_EQ(found[1].entry.reason, "any content");

    const std::vector<FoundMod> blocking = blockingMods(found);
    EXPECT_EQ(files(blocking), (std::vector<std::string>{"Mods/a.pak", "Mods/b.pak"}));
    EXPECT_EQ(blockedModsMessage(blocking), "This server does not allow Mods/a.pak, Mods/b.pak.");

#ifdef _WIN32
    // Windows folds letter case beyond ASCII too: one file, found once.
    ASSERT_TRUE(putFile(joinPath(mods, "\xC3\x96" "cheat.pak"), "O"));
    const std::vector<FoundMod> folded =
        findBlockedMods(game.path(), {{"Mods/\xC3\x96" "cheat.pak", "", "block", "upper"},
                                      {"Mods/\xC3\xB6" "cheat.pak", "", "block", "lower"}});
    EXPECT_EQ(files(folded), std::vector<std::string>{"Mods/\xC3\x96" "cheat.pak"});
#endif
}

TEST(DisableBlockedMods, RenamesInOrderAndStopsAtTheFirstFailure) {
    ScratchDir game;
    std::vector<std::string> logged;
    Reporter reporter;
    reporter.log = [&](const std::string& line) { logged.push_back(line); };

    // An earlier disabled copy is replaced.
    ASSERT_TRUE(putFile(game.file("first.pak"), "first"));
    ASSERT_TRUE(putFile(game.file("first.pak") + kDisabledSuffix, "older"));
    // The second cannot be moved: its disabled name is taken by a folder.
    ASSERT_TRUE(putFile(game.file("second.pak"), "second"));
    ASSERT_TRUE(createDirectories(joinPath(game.file("second.pak") + kDisabledSuffix, "inside")));
    ASSERT_TRUE(putFile(game.file("third.pak"), "third"));

    DisableOutcome outcome = disableBlockedMods(game.path(), {"first.pak", "second.pak", "third.pak"}, reporter);
    EXPECT_EQ(outcome.disabled, 1);
    EXPECT_EQ(outcome.failedFile, "second.pak");
    EXPECT_EQ(logged, std::vector<std::string>{"disabled first.pak"});
    EXPECT_FALSE(fileExists(game.file("first.pak")));
    EXPECT_EQ(fileText(game.file("first.pak") + kDisabledSuffix), "first");
    EXPECT_EQ(fileText(game.file("second.pak")), "second");
    EXPECT_EQ(fileText(game.file("third.pak")), "third") << "a file after the failure was tried";

    // One file under two spellings is moved once, and that is no failure.
    ASSERT_TRUE(putFile(game.file("Twice.pak"), "twice"));
    outcome = disableBlockedMods(game.path(), {"Twice.pak", "twice.PAK"}, reporter);
    EXPECT_EQ(outcome.disabled, 1);
    EXPECT_EQ(outcome.failedFile, "");
    EXPECT_EQ(fileText(game.file("Twice.pak") + kDisabledSuffix), "twice");

    // Gone already, or never there: nothing to move.
    EXPECT_FALSE(disableMod(game.path(), "first.pak"));
    outcome = disableBlockedMods(game.path(), {"third.pak"}, reporter);
    EXPECT_EQ(outcome.disabled, 1);
    EXPECT_EQ(outcome.failedFile, "");
    EXPECT_EQ(fileText(game.file("third.pak") + kDisabledSuffix), "third");

#ifdef _WIN32
    // A mod held open by the game (no sharing) stays where it is.
    ASSERT_TRUE(putFile(game.file("open.pak"), "open"));
    HANDLE held = CreateFileW(toWide(game.file("open.pak")).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(disableMod(game.path(), "open.pak"));
    CloseHandle(held);
    EXPECT_EQ(fileText(game.file("open.pak")), "open");
    EXPECT_FALSE(fileExists(game.file("open.pak") + kDisabledSuffix));
#endif
}

// A manifest naming files outside the game folder, in every spelling that
// could get there: nothing outside is hashed into a match, renamed or changed.
TEST(BlockedModsFromAHostileManifest, NeverTouchAFileOutsideTheGameFolder) {
    ScratchDir root;
    const std::string gameFolder = root.file("game");
    ASSERT_TRUE(createDirectories(joinPath(gameFolder, "sub")));
    const std::string outside = root.file("outside.dll");
    const std::string bytes = "a file of the player's, not the game's";
    ASSERT_TRUE(putFile(outside, bytes));
    const uint64_t stamp = 132000000000000000ULL;  // a fixed time in 2019
    ASSERT_TRUE(testing::setLastWriteTime(outside, stamp));

    const std::string hostile[] = {
        "../outside.dll",
        "..\\outside.dll",
        "sub/../../outside.dll",
        "./../outside.dll",
        outside,                          // absolute
        "\\\\?\\" + outside,              // device-path form
        "\\\\.\\" + outside,
        "/" + outside,
        "C:..\\outside.dll",              // drive-relative
        "..",
        "sub/..",
        "outside.dll::$DATA",
        "NUL",
        "con.dll",
        "sub/.. ",
        "sub/...",
    };
    std::vector<BlockedMod> entries;
    for (const std::string& file : hostile) {
        entries.push_back(BlockedMod{file, "", "block", "hostile"});
        entries.push_back(BlockedMod{file, sha256Hex(bytes), "block", "hostile, with the outside file's digest"});
    }
    EXPECT_EQ(files(findBlockedMods(gameFolder, entries)), std::vector<std::string>{});
    std::vector<std::string> list(std::begin(hostile), std::end(hostile));
    for (const std::string& file : hostile) EXPECT_FALSE(disableMod(gameFolder, file)) << file;
    DisableOutcome outcome = disableBlockedMods(gameFolder, list, Reporter());
    EXPECT_EQ(outcome.disabled, 0);
    EXPECT_EQ(outcome.failedFile, hostile[0]);

    EXPECT_EQ(fileText(outside), bytes);
    EXPECT_EQ(lastWriteTime(outside), stamp);
    std::vector<DirEntry> rootEntries;
    ASSERT_TRUE(listDirectory(root.path(), rootEntries));
    ASSERT_EQ(rootEntries.size(), 2u) << "something appeared beside the game folder";
    EXPECT_EQ(rootEntries[0].name, "game");
    EXPECT_EQ(rootEntries[1].name, "outside.dll");
    EXPECT_TRUE(isDirectory(joinPath(gameFolder, "sub")));
}

}  // namespace
}  // namespace ember::launcher
