// ember.ini: validation, the merge that keeps foreign lines byte for byte; the
// loader's command line; the game watch.
#include <gtest/gtest.h>

#include "launcher/install/client_settings.h"
#include "tests/support/scratch.h"

namespace ember::launcher {
namespace {

using testing::ScratchDir;
using testing::fileText;
using testing::putFile;

ClientSettings sample() {
    ClientSettings s;
    s.host = " realm.example ";
    s.port = 7777;
    s.account = "acc-1";
    s.name = "Hero";
    s.realmKey = "eu";
    s.realmName = "Europe";
    s.session = "tok";
    s.characterSlot = 2;
    return s;
}

const char kOwnKeys[] =
    "server = realm.example\r\nport = 7777\r\naccount = acc-1\r\nname = Hero\r\nrealm_key = eu\r\n"
    "realm_name = Europe\r\ncharacter_slot = 2\r\ncharacter_mode = play\r\nsession = tok\r\nautoload = continue\r\n";

// The own keys after "port", as appended behind a replaced port line.
const std::string kAfterPort = std::string(kOwnKeys).replace(0, std::string(kOwnKeys).find("account"), "");
const std::string kServerAndRest = "server = realm.example\r\n" + kAfterPort;

std::string utf16(const std::string& ascii, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : ascii) {
        out += bigEndian ? std::string(1, '\0') + c : std::string(1, c) + '\0';
    }
    return out;
}

TEST(ClientSettings, MergeCases) {
    struct Case {
        const char* name;
        std::string existing;
        std::string expected;
        const char* error = "";
    };
    const Case cases[] = {
        {"new file", "",
         "# Emberlane client configuration (lives next to Emberlane.dll)\r\n\r\n[client]\r\n" + std::string(kOwnKeys)},
        {"other case header, comment kept, key replaced, rest before the next section, LF kept on foreign lines",
         "[Client]\n; port = 1\nPORT=1\nmine = keep\n[other]\nserver = untouched\n",
         "[Client]\n; port = 1\nport = 7777\r\nmine = keep\n"
         "server = realm.example\r\naccount = acc-1\r\nname = Hero\r\nrealm_key = eu\r\nrealm_name = Europe\r\n"
         "character_slot = 2\r\ncharacter_mode = play\r\nsession = tok\r\nautoload = continue\r\n"
         "[other]\nserver = untouched\n"},
        {"no client section: appended at the end, CR LF input, trailing blank lines dropped",
         "[video]\r\nvsync = 1\r\n\r\n\r\n", "[video]\r\nvsync = 1\r\n\r\n[client]\r\n" + std::string(kOwnKeys)},
        {"a key twice is replaced twice; '=x' is not a key line",
         "[client]\nserver=a\n=x\n  Server =b\n",
         "[client]\nserver = realm.example\r\n=x\nserver = realm.example\r\nport = 7777\r\n"
         "account = acc-1\r\nname = Hero\r\nrealm_key = eu\r\nrealm_name = Europe\r\ncharacter_slot = 2\r\n"
         "character_mode = play\r\nsession = tok\r\nautoload = continue\r\n"},
        {"a last line without an end gets one", "[client]\n[x]\nfoo",
         "[client]\n" + std::string(kOwnKeys) + "[x]\nfoo\r\n"},
        {"UTF-8 mark kept, its section found", "\xEF\xBB\xBF[client]\nport=1\n",
         "\xEF\xBB\xBF[client]\nport = 7777\r\n" + kServerAndRest},
        {"lone CR line ends", "[client]\rport=1\rmine = keep\r",
         "[client]\rport = 7777\r\nmine = keep\r" + kServerAndRest},
        {"a lone CR inside a foreign line of a CR LF file comes back as it was",
         "[client]\r\n" + std::string(kOwnKeys) + "[mods]\r\nodd\rcr = 1\r\n",
         "[client]\r\n" + std::string(kOwnKeys) + "[mods]\r\nodd\rcr = 1\r\n"},
        {"UTF-16 LE becomes UTF-8",
         utf16("[client]\r\nport=1\r\n", false) + std::string("\xE9\0=\0\x3D\xD8\x00\xDE", 8),
         "[client]\r\nport = 7777\r\n\xC3\xA9=\xF0\x9F\x98\x80\r\n" + kServerAndRest},
        {"UTF-16 BE becomes UTF-8", utf16("[client]\nport=1", true),
         "[client]\nport = 7777\r\n" + kServerAndRest},
        {"UTF-16 with a lone surrogate is refused", utf16("[client]", false) + std::string("\x00\xD8", 2), "",
         kSettingsUnreadable},
        {"a doubled mark is one mark: UTF-16", "\xFF\xFE" + utf16("[client]\nport=1", false),
         "[client]\nport = 7777\r\n" + kServerAndRest},
        {"a doubled mark is one mark: UTF-8", "\xEF\xBB\xBF\xEF\xBB\xBF[client]\nport=1\n",
         "\xEF\xBB\xBF[client]\nport = 7777\r\n" + kServerAndRest},
        {"UTF-16 without a mark is refused", std::string("[\0c\0]\0", 6), "", kSettingsUnreadable},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_EQ(mergeClientSettings(c.existing, sample(), error), c.expected) << c.name;
        EXPECT_EQ(error, c.error) << c.name;
    }
}

TEST(ClientSettings, ValuesExtrasAndValidation) {
    ClientSettings s = sample();
    s.name = std::string(40, 'n');
    s.create = true;
    s.extra = {{"Server", "evil"}, {"Lang", "de"}, {"bad", "a\nb"}, {"", "x"},        {"zeta", "1"},
               {"k=v", "1"},      {"[game]", "1"}, {" pad", "1"},    {"pad ", "1"}, {"nul", std::string("a\0b", 3)},
               {"LANG", "fr"}};
    std::string error;
    std::vector<std::string> dropped;
    std::string text = mergeClientSettings("", s, error, &dropped);
    EXPECT_EQ(dropped.size(), 8u);
    // Written again, the file does not grow.
    EXPECT_EQ(mergeClientSettings(text, s, error), text);
    EXPECT_NE(text.find("name = " + std::string(32, 'n') + "\r\n"), std::string::npos);
    EXPECT_NE(text.find("character_mode = create\r\n"), std::string::npos);
    EXPECT_NE(text.find("autoload = newgame\r\nlang = fr\r\nzeta = 1\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("evil"), std::string::npos);
    EXPECT_EQ(text.find("bad"), std::string::npos);
    s.name = "  ";
    EXPECT_NE(mergeClientSettings("", s, error).find("name = acc-1\r\n"), std::string::npos);

    struct Bad {
        void (*change)(ClientSettings&);
        std::string error;
    };
    const std::string breaks = kSettingHasLineBreak;
    const Bad bad[] = {
        {[](ClientSettings& c) { c.host = " \t"; }, kNoRealmHost},
        {[](ClientSettings& c) { c.port = 0; }, kBadPort},
        {[](ClientSettings& c) { c.port = 65536; }, kBadPort},
        {[](ClientSettings& c) { c.characterSlot = 4; }, kBadSlot},
        {[](ClientSettings& c) { c.characterSlot = 0; }, kBadSlot},
        {[](ClientSettings& c) { c.account = ""; }, kNoAccount},
        {[](ClientSettings& c) { c.host = ""; c.port = 0; }, kNoRealmHost},
        {[](ClientSettings& c) { c.port = 65536 + 7777; }, kBadPort},
        {[](ClientSettings& c) { c.realmName = "Europe\r\nserver = evil.example"; }, breaks + "realm_name"},
        {[](ClientSettings& c) { c.realmName = "Europe\rport = 6666"; }, breaks + "realm_name"},
        {[](ClientSettings& c) { c.session = "tok\nautoload = newgame"; }, breaks + "session"},
        {[](ClientSettings& c) { c.account = std::string("acc\0x", 5); }, breaks + "account"},
        {[](ClientSettings& c) { c.host = "realm\n.example"; }, breaks + "server"},
        {[](ClientSettings& c) { c.realmKey = "eu\n"; c.name = "H\nero"; }, breaks + "name"},
    };
    ScratchDir dir;
    const std::string ini = dir.file("Emberlane/ember.ini");
    ASSERT_TRUE(writeClientSettings(dir.path(), sample(), error)) << error;
    const std::string before = fileText(ini);
    for (const Bad& b : bad) {
        ClientSettings c = sample();
        b.change(c);
        EXPECT_FALSE(writeClientSettings(dir.path(), c, error));
        EXPECT_EQ(error, b.error);
        EXPECT_EQ(fileText(ini), before) << "a refused write changed the file";
    }
}

TEST(LoaderCommandLine, EveryFolderArrivesIntact) {
    struct Case {
        const char* folder;
        const char* quoted;
    };
    const Case cases[] = {
        {"D:\\Games\\Oblivion Remastered", "\"D:\\Games\\Oblivion Remastered\""},
        {"D:\\", "\"D:\\\\\""},
        {"D:\\Games\\", "\"D:\\Games\\\\\""},
        {"\\\\nas\\share\\", "\"\\\\nas\\share\\\\\""},
        {"a\\\"b", "\"a\\\\\\\"b\""},
    };
    for (const Case& c : cases) EXPECT_EQ(quoteArgument(c.folder), c.quoted) << c.folder;
    EXPECT_EQ(loaderCommandLine("D:\\G\\Emberlane\\Loader.exe", "D:\\"),
              "\"D:\\G\\Emberlane\\Loader.exe\" --game \"D:\\\\\"");
}

TEST(GameWatch, EndsAfterTheGameClosesOrNeverAppears) {
    bool running = false;
    auto probe = [&] { return running; };
    GameWatch watch;
    startGameWatch(watch, 1000);
    // The loader is still starting: no process for 90 s is fine.
    EXPECT_FALSE(gameWatchStep(watch, 4000, probe));
    EXPECT_FALSE(gameWatchStep(watch, 91000, probe));
    EXPECT_TRUE(watch.running);
    EXPECT_TRUE(gameWatchStep(watch, 94001, probe));
    EXPECT_FALSE(watch.running);

    // Seen running for an hour, then closed: noticed at the next check.
    startGameWatch(watch, 0);
    running = true;
    uint64_t now = 0;
    for (; now < 3600000; now += 16) EXPECT_FALSE(gameWatchStep(watch, now, probe));
    running = false;
    uint64_t closedAt = now;
    while (!gameWatchStep(watch, now, probe)) now += 16;
    EXPECT_LE(now - closedAt, kGameCheckIntervalMs);
}

}  // namespace
}  // namespace ember::launcher
