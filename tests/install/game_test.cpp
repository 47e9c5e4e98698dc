// Finding the game from libraryfolders.vdf files, the environment override,
// the configured folder, and a picked folder.
#include <gtest/gtest.h>

#include "base/paths.h"
#include "launcher/install/game.h"
#include "tests/support/scratch.h"

namespace ember::launcher {
namespace {

using testing::ScopedEnv;
using testing::ScratchDir;
using testing::putFile;

void makeGame(const std::string& folder) {
    const std::string exe = joinPath(folder, kGameExeRelative);
    ASSERT_TRUE(createDirectories(parentDir(exe)));
    ASSERT_TRUE(putFile(exe, "MZ"));
}

TEST(SteamLibraries, VdfPathsThenTheRootWithoutCaseDuplicates) {
    EXPECT_EQ(parseLibraryFolders("\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"C:\\\\Program Files (x86)\\\\Steam\"\n"
                                  "\t\t\"label\"\t\t\"\"\n\t}\n\t\"1\" { \"path\" \"D:/Games/SteamLibrary\" }\n"
                                  "\"PATH\" \"ignored\" \"path\" \"\" \"path\" \"SteamLibrary\" \"path\" \"E:lib\"\n"
                                  "\"path\" \"unclosed"),
              (std::vector<std::string>{"C:\\Program Files (x86)\\Steam", "D:\\Games\\SteamLibrary"}));

    ScratchDir dir;
    const std::string rootA = dir.file("steamA");
    const std::string rootB = dir.file("steamB");
    ASSERT_TRUE(createDirectories(joinPath(rootA, "steamapps")));
    ASSERT_TRUE(createDirectories(joinPath(rootB, "steamapps")));
    ASSERT_TRUE(putFile(joinPath(rootA, "steamapps\\libraryfolders.vdf"),
                        "\"path\" \"D:/Games/SteamLibrary\" \"path\" \"E:\\\\Lib\""));
    ASSERT_TRUE(putFile(joinPath(rootB, "steamapps\\libraryfolders.vdf"), "\"path\" \"d:\\\\games\\\\steamlibrary\""));
    // rootA again in another case (the other hive), and a root without a file.
    std::string rootAUpper = rootA;
    rootAUpper.back() = 'A';
    std::vector<std::string> libraries = steamLibrariesFrom({"", rootA, rootB, rootAUpper, "Q:/nowhere", "steam"});
    auto windowsSpelling = [](std::string path) {
        for (char& c : path) c = (c == '/') ? '\\' : c;
        return path;
    };
    std::vector<std::string> expected = {"D:\\Games\\SteamLibrary", "E:\\Lib", windowsSpelling(rootA),
                                         windowsSpelling(rootB), "Q:\\nowhere"};
    EXPECT_EQ(libraries, expected);
    // An empty or relative root is never read relative to the current folder.
    EXPECT_TRUE(steamLibrariesFrom({"", "steamA"}).empty());
}

TEST(GameCandidates, EnvironmentReplacesTheSearchAndConfigComesFirst) {
    ScratchDir dir;
    const std::string game = dir.file("Oblivion Remastered");
    makeGame(game);
    {
        ScopedEnv env("EMBERLANE_GAME_DIR", dir.file("not-a-game"));
        EXPECT_TRUE(findGameCandidates(game).empty());
        EXPECT_EQ(searchedGameFolders(game), std::vector<std::string>{dir.file("not-a-game")});
    }
    ScopedEnv noEnv("EMBERLANE_GAME_DIR", std::nullopt);
    ScopedEnv version("EMBERLANE_GAME_VERSION", "1.2.3.4");
    std::vector<GameCandidate> found = findGameCandidates(game);
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found[0].path, game);
    EXPECT_EQ(found[0].source, "config");
    EXPECT_EQ(found[0].version, "1.2.3.4") << "an executable without a version resource uses the variable";
    EXPECT_TRUE(findGameCandidates("").empty() || findGameCandidates("")[0].source == "steam");
}

TEST(PickedFolder, QuotesAreStrippedAndTheGameMustBeThere) {
    ScratchDir dir;
    makeGame(dir.path());
    struct Case {
        std::string text;
        std::string folder;
        std::string error;
    };
    const Case cases[] = {
        {"\"" + dir.path() + "\"", dir.path(), ""},
        {dir.path(), dir.path(), ""},
        {"", "", ""},
        {"\"", "\"", kPickedFolderNotGame},
        {dir.file("elsewhere"), dir.file("elsewhere"), kPickedFolderNotGame},
    };
    for (const Case& c : cases) {
        std::string folder = c.text;
        EXPECT_EQ(checkPickedFolder(folder), c.error) << c.text;
        EXPECT_EQ(folder, c.folder);
    }
}

}  // namespace
}  // namespace ember::launcher
