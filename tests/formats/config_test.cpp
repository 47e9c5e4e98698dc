// config.json: key order and omissions, exact 64-bit numbers, the loader's
// tolerance of odd values, and the set-aside of an unreadable file.
#include <gtest/gtest.h>

#include "base/paths.h"
#include "launcher/formats/config.h"
#include "tests/support/scratch.h"

namespace ember::launcher {
namespace {

using testing::ScopedEnv;
using testing::ScratchDir;
using testing::fileText;
using testing::putFile;

TEST(ConfigText, DefaultsWriteOnlyTheAlwaysPresentKeysInOrder) {
    const std::string expected =
        "{\n"
        "  \"gamePath\": \"\",\n"
        "  \"profileId\": 0,\n"
        "  \"installed\": {},\n"
        "  \"lastClientVersion\": \"\",\n"
        "  \"lastManifest\": \"\",\n"
        "  \"account\": {},\n"
        "  \"settings\": {\n"
        "    \"rememberEmail\": true\n"
        "  }\n"
        "}";
    std::string text = configToText(Config());
    // The writer may or may not end with a line feed; the body must match.
    if (!text.empty() && text.back() == '\n') text.pop_back();
    EXPECT_EQ(text, expected);
}

TEST(ConfigText, EveryFieldRoundTripsWithExactLargeNumbers) {
    Config config;
    config.gamePath = "D:\\Games\\Oblivion Remastered";
    config.channel = "beta";
    config.characterId = "c1";
    config.realm = "r1";
    config.lastClientVersion = "1.4.2";
    config.lastManifest = "{\"schema\":1}";
    config.profileId = 123456789012;
    // Beyond 2^53: a double would round these.
    config.installed["Emberlane/Emberlane.dll"] = {"ab", 5, 133801234567891234};
    config.installed["A/b.pak"] = {"cd", 9007199254740993, 1};
    config.selfUpdateTarget = "ff";
    config.selfUpdateAttempts = 2;
    config.selfUpdateAt = 1700000000;
    config.accountEmail = "a@b.c";
    config.accountId = "acc";
    config.accountDisplayName = "Name";
    config.manifestUrl = "https://x/manifest.json";
    config.ignoreVersion = true;
    config.downloadLimitTenths = 25;
    config.rememberEmail = false;
    config.seenFirstRunNote = true;
    config.seenPlayerIdIntro = true;

    const std::string text = configToText(config);
    EXPECT_NE(text.find("\"profileId\": 123456789012,"), std::string::npos) << text;
    EXPECT_NE(text.find("\"mtime\": 133801234567891234"), std::string::npos) << text;
    EXPECT_NE(text.find("\"downloadLimitMBps\": 2.5"), std::string::npos) << text;
    // Keys in the documented order.
    const char* order[] = {"\"gamePath\"", "\"profileId\"", "\"channel\"", "\"characterId\"", "\"realm\"",
                           "\"installed\"", "\"lastClientVersion\"", "\"lastManifest\"", "\"selfUpdate\"",
                           "\"account\"", "\"settings\""};
    size_t last = 0;
    for (const char* key : order) {
        size_t at = text.find(key);
        ASSERT_NE(at, std::string::npos) << key;
        EXPECT_GT(at, last) << key << " out of order";
        last = at;
    }

    bool unparseable = true;
    Config back = configFromText(text, unparseable);
    EXPECT_FALSE(unparseable);
    EXPECT_EQ(configToText(back), text);
    EXPECT_EQ(back.installed["Emberlane/Emberlane.dll"].mtime, 133801234567891234);
    EXPECT_EQ(back.installed["A/b.pak"].size, 9007199254740993);
    EXPECT_EQ(back.profileId, 123456789012);
    EXPECT_FALSE(back.rememberEmail);
    EXPECT_EQ(back.downloadLimitTenths, 25u);
    EXPECT_EQ(configFromText("{\"settings\": {}}", unparseable).downloadLimitTenths, 0u);
}

TEST(ConfigText, OddValuesLoadAsDefaults) {
    struct Case {
        const char* name;
        std::string text;
        int64_t profileId;
        bool rememberEmail;
        bool ignoreVersion;
    };
    const Case cases[] = {
        {"byte-order mark", "\xEF\xBB\xBF{\"profileId\": 7}", 7, true, false},
        {"profile id as a string", "{\"profileId\": \"7\"}", 0, true, false},
        {"top level array", "[]", 0, true, false},
        {"rememberEmail missing", "{\"settings\": {}}", 0, true, false},
        {"rememberEmail as 1", "{\"settings\": {\"rememberEmail\": 1}}", 0, false, false},
        {"ignoreVersion as a string", "{\"settings\": {\"ignoreVersion\": \"true\"}}", 0, true, false},
        {"ignoreVersion true", "{\"settings\": {\"ignoreVersion\": true}}", 0, true, true},
    };
    for (const Case& c : cases) {
        bool unparseable = true;
        Config config = configFromText(c.text, unparseable);
        EXPECT_FALSE(unparseable) << c.name;
        EXPECT_EQ(config.profileId, c.profileId) << c.name;
        EXPECT_EQ(config.rememberEmail, c.rememberEmail) << c.name;
        EXPECT_EQ(config.ignoreVersion, c.ignoreVersion) << c.name;
    }
    // A record that is not an object is an empty record, not a lost key.
    bool unparseable = false;
    Config config = configFromText("{\"installed\": {\"a\": 3}}", unparseable);
    ASSERT_EQ(config.installed.count("a"), 1u);
    EXPECT_TRUE(config.installed["a"].sha256.empty());
}

TEST(ConfigFile, UnreadableFileIsSetAsideAndSavesLeaveNoTemporary) {
    ScratchDir dir;
    ScopedEnv env("EMBERLANE_CONFIG_DIR", dir.path());
    const std::string path = dir.file("config.json");

    // First run.
    Config fresh = loadConfig();
    EXPECT_FALSE(fresh.settingsWereReset);

    // An unparseable file moves aside (replacing an older one) byte for byte.
    ASSERT_TRUE(putFile(dir.file("config.json.corrupt"), "older"));
    ASSERT_TRUE(putFile(path, "{\"gamePath\": "));
    Config reset = loadConfig();
    EXPECT_TRUE(reset.settingsWereReset);
    EXPECT_EQ(fileText(dir.file("config.json.corrupt")), "{\"gamePath\": ");
    EXPECT_FALSE(fileExists(path));

    // "[]" is read as defaults and stays where it is.
    ASSERT_TRUE(putFile(path, "[]"));
    EXPECT_FALSE(loadConfig().settingsWereReset);
    EXPECT_EQ(fileText(path), "[]");

    Config config;
    config.profileId = 42;
    ASSERT_TRUE(saveConfig(config));
    ASSERT_TRUE(saveConfig(config));
    EXPECT_FALSE(fileExists(path + ".tmp"));
    EXPECT_EQ(loadConfig().profileId, 42);
}

TEST(ProfileId, TwelveDigitsAtMost) {
    EXPECT_EQ(makeProfileId(1700000123456ULL, 123456789ULL), 123456789LL);
    EXPECT_EQ(makeProfileId(1999999999999ULL, 999ULL), 999999999999LL);
}

}  // namespace
}  // namespace ember::launcher
