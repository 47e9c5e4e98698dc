// Finding the game through the test prefix's registry, reading the stand-in
// game builds' versions, and starting the stand-in loader, under Wine.
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <thread>

#include "base/paths.h"
#include "launcher/install/apply.h"
#include "launcher/install/client_settings.h"
#include "launcher/install/game.h"
#include "launcher/install/plan.h"
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

const std::string kFixtures = EMBER_FIXTURES_DIR;

std::string gameBuild(const std::string& variant) {
    return joinPath(kFixtures, "game-" + variant + "/OblivionRemastered-Win64-Shipping.exe");
}

// A game folder holding a copy of one stand-in game build.
void makeGame(const std::string& folder, const std::string& variant = "product") {
    const std::string exe = joinPath(folder, kGameExeRelative);
    ASSERT_TRUE(createDirectories(parentDir(exe)));
    ASSERT_TRUE(CopyFileW(toWide(gameBuild(variant)).c_str(), toWide(exe).c_str(), FALSE)) << gameBuild(variant);
}

// Steam keys in the prefix's registry, removed again afterwards.
class SteamKeys {
public:
    ~SteamKeys() {
        for (auto& [hive, key] : made_) RegDeleteTreeW(hive, key.c_str());
    }
    void set(HKEY hive, const std::wstring& key, const wchar_t* name, const std::string& value, DWORD type = REG_SZ) {
        HKEY handle;
        ASSERT_EQ(RegCreateKeyExW(hive, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &handle,
                                  nullptr),
                  ERROR_SUCCESS);
        std::wstring wide = toWide(value);
        RegSetValueExW(handle, name, 0, type, reinterpret_cast<const BYTE*>(wide.c_str()),
                       static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(handle);
        made_.emplace_back(hive, key);
    }

private:
    std::vector<std::pair<HKEY, std::wstring>> made_;
};

TEST(SteamDiscovery, BothHivesBothKeysAndTheirLibraries) {
    ScopedEnv noEnv("EMBERLANE_GAME_DIR", std::nullopt);
    ScratchDir dir;
    // Four Steam roots, one per hive and key; each root's vdf names libraries.
    const std::string cuRoot = dir.file("cu-steam");
    const std::string cuWowRoot = dir.file("cu-wow");
    const std::string lmRoot = dir.file("lm-steam");
    const std::string lmWowRoot = dir.file("lm-wow");
    const std::string libD = dir.file("LibD");
    const std::string libE = dir.file("libE");
    for (const std::string& root : {cuRoot, cuWowRoot, lmRoot, lmWowRoot}) {
        ASSERT_TRUE(createDirectories(joinPath(root, "steamapps")));
    }
    std::string doubled;
    for (char c : libD) doubled += (c == '\\') ? std::string("\\\\") : std::string(1, c);
    std::string forward = libE;
    for (char& c : forward) c = (c == '\\') ? '/' : c;
    std::string upper = libD;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ASSERT_TRUE(putFile(joinPath(cuRoot, "steamapps\\libraryfolders.vdf"),
                        "\"libraryfolders\" { \"0\" { \"path\" \"" + doubled + "\" } \"1\" { \"path\" \"" + forward +
                            "\" } }"));
    // The same library again in upper case: listed once, first spelling.
    ASSERT_TRUE(putFile(joinPath(lmRoot, "steamapps\\libraryfolders.vdf"), "\"path\" \"" + upper + "\""));

    SteamKeys keys;
    keys.set(HKEY_CURRENT_USER, L"Software\\Valve\\Steam", L"SteamPath", cuRoot);
    keys.set(HKEY_CURRENT_USER, L"SOFTWARE\\WOW6432Node\\Valve\\Steam", L"InstallPath", cuWowRoot);
    keys.set(HKEY_LOCAL_MACHINE, L"Software\\Valve\\Steam", L"InstallPath", lmRoot);
    keys.set(HKEY_LOCAL_MACHINE, L"SOFTWARE\\WOW6432Node\\Valve\\Steam", L"SteamPath", lmWowRoot);
    // Not a string: ignored.
    keys.set(HKEY_LOCAL_MACHINE, L"SOFTWARE\\WOW6432Node\\Valve\\Steam", L"InstallPath", "x", REG_BINARY);

    EXPECT_EQ(steamRegistryRoots(), (std::vector<std::string>{cuRoot, cuWowRoot, lmRoot, lmWowRoot}));
    EXPECT_EQ(steamLibraries(), (std::vector<std::string>{libD, libE, cuRoot, cuWowRoot, lmRoot, lmWowRoot}));

    // The game in the second library and in the configured folder: the
    // configured one first, the Steam one after it.
    const std::string steamGame = joinPath(libE, kSteamGameRelative);
    const std::string configured = dir.file("Configured Game");
    makeGame(steamGame);
    makeGame(configured, "nuls");
    std::vector<GameCandidate> found = findGameCandidates(configured);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].path, configured);
    EXPECT_EQ(found[0].source, "config");
    EXPECT_EQ(found[0].version, "0.412.3.0");
    EXPECT_EQ(found[1].path, steamGame);
    EXPECT_EQ(found[1].source, "steam");
    EXPECT_EQ(found[1].version, "0.411.140.0");
    // The Steam folder given again as the configured one (other case): one candidate.
    std::string steamUpper = steamGame;
    for (char& c : steamUpper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    found = findGameCandidates(steamUpper);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].source, "config");
    EXPECT_EQ(searchedGameFolders("").size(), 6u);

    // The environment replaces the whole search.
    ScopedEnv env("EMBERLANE_GAME_DIR", configured);
    found = findGameCandidates(steamGame);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].source, "env");
    EXPECT_EQ(searchedGameFolders(steamGame), std::vector<std::string>{configured});
}

TEST(GameVersion, EachStandInBuild) {
    struct Case {
        const char* variant;
        const char* expected;
        const char* expectedWithEnv;
    };
    const Case cases[] = {
        {"product", "0.411.140.0", "0.411.140.0"},
        {"nuls", "0.412.3.0", "0.412.3.0"},
        {"fallback", "0.410.1.0", "0.410.1.0"},
        {"fixed", "1.2.3.4", "1.2.3.4"},
        {"none", "", "9.8.7.6"},
    };
    for (const Case& c : cases) {
        {
            ScopedEnv env("EMBERLANE_GAME_VERSION", std::nullopt);
            EXPECT_EQ(readGameVersion(gameBuild(c.variant)), c.expected) << c.variant;
        }
        ScopedEnv env("EMBERLANE_GAME_VERSION", "9.8.7.6");
        EXPECT_EQ(readGameVersion(gameBuild(c.variant)), c.expectedWithEnv) << c.variant;
    }
    ScopedEnv env("EMBERLANE_GAME_VERSION", "9.8.7.6");
    EXPECT_EQ(readGameVersion(joinPath(kFixtures, "missing.exe")), "9.8.7.6");
}

// Waits up to `ms` for `done`.
template <typename F>
bool waitFor(F done, int ms) {
    for (int waited = 0; waited < ms; waited += 50) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

TEST(LaunchGame, TheLoaderSeesTheFolderAndSettingsAndTheWatchSeesTheGame) {
    ScratchDir dir;
    // A folder given with a trailing backslash must arrive whole.
    const std::string game = dir.path() + "\\";
    makeGame(dir.path());
    const std::string loaderRel = "Emberlane/EmberlaneLoader.exe";
    ASSERT_TRUE(createDirectories(joinPath(dir.path(), "Emberlane")));
    ASSERT_TRUE(CopyFileW(toWide(joinPath(kFixtures, "loader/EmberlaneLoader.exe")).c_str(),
                          toWide(joinPath(dir.path(), loaderRel)).c_str(), FALSE));

    ClientSettings settings;
    settings.host = "127.0.0.1";
    settings.port = 7777;
    settings.account = "local-1";
    settings.extra = {{"standin_game_ms", "4000"}};
    // The player's file, saved by Notepad as "Unicode" (UTF-16 LE with its mark).
    const std::wstring own = L"[video]\r\nvsync = 1\r\n";
    ASSERT_TRUE(putFile(joinPath(dir.path(), "Emberlane/ember.ini"),
                        "\xFF\xFE" + std::string(reinterpret_cast<const char*>(own.data()), own.size() * 2)));
    std::string error;
    ASSERT_TRUE(writeClientSettings(game, settings, error)) << error;

    // Missing loader: the documented text.
    EXPECT_FALSE(launchGame(game, "Emberlane/Nope.exe", error));
    EXPECT_EQ(error, "the client is not installed (missing Emberlane/Nope.exe) - use Verify & repair");
    // A loader that is not a program: the system's error code in the text.
    ASSERT_TRUE(putFile(joinPath(dir.path(), "Emberlane/bad.exe"), "not a program"));
    EXPECT_FALSE(launchGame(game, "Emberlane/bad.exe", error));
    EXPECT_EQ(error.rfind("could not start Emberlane/bad.exe (error ", 0), 0u) << error;
    EXPECT_EQ(error.back(), ')');
    // A loader outside the game folder is refused, even one that is there.
    ScratchDir elsewhere;
    ASSERT_TRUE(CopyFileW(toWide(joinPath(kFixtures, "loader/EmberlaneLoader.exe")).c_str(),
                          toWide(elsewhere.file("EmberlaneLoader.exe")).c_str(), FALSE));
    const std::string sibling = "../" + elsewhere.path().substr(parentDir(elsewhere.path()).size() + 1);
    for (const std::string& outside : {sibling + "/EmberlaneLoader.exe", elsewhere.file("EmberlaneLoader.exe")}) {
        EXPECT_FALSE(launchGame(game, outside, error)) << outside;
        EXPECT_EQ(error, kLoaderOutsideGame + outside);
    }
    // Nor one reached through a folder link, or one that is a link itself;
    // and the settings are not written into a client folder that is a link.
    ASSERT_TRUE(makeLink(joinPath(dir.path(), "Emberlane\\lnk"), elsewhere.path()));
    EXPECT_FALSE(launchGame(game, "Emberlane/lnk/EmberlaneLoader.exe", error));
    EXPECT_EQ(error, linkRefusal("Emberlane/lnk"));
    ASSERT_TRUE(makeHardLink(joinPath(dir.path(), "Emberlane\\twin.exe"), elsewhere.file("EmberlaneLoader.exe")));
    EXPECT_FALSE(launchGame(game, "Emberlane/twin.exe", error));
    EXPECT_EQ(error, linkRefusal("Emberlane/twin.exe"));
    ScratchDir linkedGame;
    ASSERT_TRUE(makeLink(linkedGame.file("Emberlane"), elsewhere.path()));
    EXPECT_FALSE(writeClientSettings(linkedGame.path(), settings, error));
    EXPECT_EQ(error, linkRefusal("Emberlane"));
    EXPECT_FALSE(fileExists(elsewhere.file("ember.ini")));

    EXPECT_FALSE(isGameRunning());
    ASSERT_TRUE(launchGame(game, loaderRel, error)) << error;
    const std::string record = joinPath(dir.path(), "Emberlane/loader-record.txt");
    ASSERT_TRUE(waitFor([&] { return fileExists(record); }, 15000)) << "the loader never ran";
    const std::string seen = fileText(record);
    EXPECT_NE(seen.find("\narg --game\narg " + game + "\n"), std::string::npos) << seen;
    EXPECT_NE(seen.find("\ncwd " + joinPath(dir.path(), "Emberlane")), std::string::npos) << seen;
    const std::string converted =
        "[video]\r\nvsync = 1\r\n\r\n[client]\r\nserver = 127.0.0.1\r\nport = 7777\r\naccount = local-1\r\n";
    EXPECT_NE(seen.find(converted), std::string::npos) << seen;

    // The game process comes (the watch sees it) and goes (the watch ends).
    EXPECT_TRUE(waitFor([] { return isGameRunning(); }, 10000));
    GameWatch watch;
    startGameWatch(watch, 0);
    uint64_t now = 0;
    bool closed = false;
    for (int i = 0; i < 200 && !closed; ++i) {
        now += kGameCheckIntervalMs;
        closed = gameWatchStep(watch, now, [] { return isGameRunning(); });
        if (!closed) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(closed);
    EXPECT_TRUE(watch.seenRunning);
    EXPECT_FALSE(isGameRunning());
}

TEST(FreeSpace, TheScratchVolumeHasRoom) {
    ScratchDir dir;
    EXPECT_GT(freeBytes(dir.path()), 0u);
    EXPECT_EQ(freeBytes(dir.file("no/such/folder")), 0u);
}

}  // namespace
}  // namespace ember::launcher
