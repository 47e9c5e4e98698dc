// The account actions' local rules: character names, the local character
// id, and when the account client is made or replaced.
#include "launcher/app/accounts.h"

#include <gtest/gtest.h>

#include "launcher/account/client.h"
#include "launcher/account/signin.h"
#include "launcher/app/controller.h"
#include "base/paths.h"
#include "launcher/formats/config.h"
#include "tests/app/ui_loop.h"
#include "tests/support/scratch.h"

namespace ember::launcher {
namespace {

using testing::Started;


TEST(CharacterNames, FirstBrokenRuleIsTheAnswer) {
    struct Case {
        const char* name;
        const char* message;  // "" = valid
    } cases[] = {
        {"Bob", ""},
        {"Jo'an Mc-Rae", ""},
        {"Abcdefghijklmnopqrstu", ""},  // 21
        {" Bob", "A name cannot start or end with a space."},
        {"Bob\t", "A name cannot start or end with a space."},
        {"", "A name needs at least 2 characters."},
        {"B", "A name needs at least 2 characters."},
        {"B\xC3\xA9la", "A name can only use English letters."},
        {"Bo_b", "A name can only use letters, apostrophes, hyphens and spaces."},
        // The character rule comes before the length rule.
        {"Abcdefghijklmnopqrstu_", "A name can only use letters, apostrophes, hyphens and spaces."},
        {"Abcdefghijklmnopqrstuv", "A name can be at most 21 characters, including any apostrophe or space."},
        {"Bob1", "A name cannot contain numbers."},
        {"A'b'c'd", "A name can have at most 2 apostrophes."},
        {"A b c d", "A name can have at most 2 spaces."},
        {"Jean-Luc-Paul", "A name can have at most 1 hyphen."},
        {"Ab  Cd", "A name cannot have two spaces in a row."},
        {"Ba''b", "A name cannot have two apostrophes in a row."},
        {"'Bob", "A name must start with a letter."},
        {"-Bob", "A name must start with a letter."},
        {"Bob-", "A name must end with a letter."},
    };
    for (const Case& c : cases) EXPECT_EQ(app::validateName(c.name), c.message) << "[" << c.name << "]";
}

TEST(LocalCharacterId, AcceptedIdsAreKeptAndSaved) {
    Started c;
    struct Case {
        const char* typed;
        int64_t stored;  // 0: refused
    } cases[] = {
        {"7", 7},
        {" 381402557264 ", 381402557264},
        {"123456789012345", 123456789012345},
        {"1234567890123456", 0},
        {"0", 0},
        {"0123", 0},
        {"12a", 0},
        {"-5", 0},
        {"", 0},
    };
    for (const Case& k : cases) {
        app::state().config.profileId = 99;
        std::string message = app::setLocalCharacterId(k.typed);
        if (k.stored == 0) {
            EXPECT_EQ(message, app::kBadCharacterId) << k.typed;
            EXPECT_EQ(app::state().config.profileId, 99) << k.typed;
        } else {
            EXPECT_EQ(message, "") << k.typed;
            EXPECT_EQ(app::state().config.profileId, k.stored);
            EXPECT_EQ(testing::savedConfig().profileId, k.stored) << "not saved: " << k.typed;
        }
    }
}

TEST(AccountClient, MadeForActiveAccountsAndReplacedWhenTheAddressChanges) {
    Started c;
    app::AppState& s = app::state();
    s.manifestLoaded = true;
    s.manifest.accountsApiBase = "https://a.example/";
    s.manifest.accountsMode = "password";
    app::applyAccountsManifest();
    ASSERT_TRUE(s.accountsActive);
    ASSERT_TRUE(s.client);
    EXPECT_EQ(s.client->baseUrl(), "https://a.example");
    auto first = s.client;

    // The same address (trailing slashes aside) keeps the client.
    s.manifest.accountsApiBase = "https://a.example//";
    app::applyAccountsManifest();
    EXPECT_EQ(s.client, first);

    s.manifest.accountsApiBase = "https://b.example";
    app::applyAccountsManifest();
    ASSERT_TRUE(s.client);
    EXPECT_NE(s.client, first);
    EXPECT_EQ(s.client->baseUrl(), "https://b.example");

    // Which manifests turn accounts on.
    struct Case {
        const char* apiBase;
        const char* mode;
        bool enabled;
        bool active;
    } cases[] = {
        {"https://a.example", "password", false, true},
        {"https://a.example", "oauth", true, true},
        {"https://a.example", "oauth", false, false},
        {"https://a.example", "NONE", true, false},
        {"", "password", true, false},
    };
    for (const Case& k : cases) {
        s.manifest.accountsApiBase = k.apiBase;
        s.manifest.accountsMode = k.mode;
        s.manifest.accountsEnabled = k.enabled;
        app::applyAccountsManifest();
        EXPECT_EQ(s.accountsActive, k.active) << k.apiBase << " " << k.mode << " " << k.enabled;
        EXPECT_EQ(static_cast<bool>(s.client), k.active);
    }
}

TEST(AccountActions, RefusedWithoutAServiceOrWhileBusy) {
    Started c;
    app::AppState& s = app::state();
    app::login("a@b.example", "pw", "");
    EXPECT_FALSE(s.accountBusy);
    EXPECT_EQ(s.form.message.title, "This realm has no account service. Play without an account instead.");
    app::registerAccount("a@b.example", "pw", "Name", "");
    EXPECT_EQ(s.form.message.title, "This realm has no account service.");

    // Busy: a second sign-in does nothing at all.
    s.accountBusy = true;
    s.form.message = app::FormMessage();
    uint64_t generation = s.accountGeneration;
    app::login("a@b.example", "pw", "");
    EXPECT_EQ(s.accountGeneration, generation);
    EXPECT_EQ(s.form.message.title, "");
}

TEST(AccountActions, APlainHttpServiceOffThisPcIsRefusedAndTheSavedSignInKept) {
    Started c;
    app::AppState& s = app::state();
    s.manifestLoaded = true;
    s.manifest.accountsApiBase = "http://accounts.example";
    s.manifest.accountsMode = "password";
    // A saved sign-in in the clear scheme, which this build can read.
    const std::string saved = "{\"v\": 1, \"enc\": \"none\", \"data\": \"" +
                              account::base64Encode("{\"refreshToken\":\"r1\"}") + "\"}";
    ASSERT_TRUE(writeFileAtomic(account::signInPath(), saved));

    app::accountStartUp();
    EXPECT_FALSE(s.accountBusy) << "the saved sign-in was sent";
    EXPECT_EQ(s.form.message.title, account::kInsecureService);
    account::SavedSignIn kept;
    EXPECT_TRUE(account::loadSignIn(kept)) << "the saved sign-in was thrown away";

    app::login("a@b.example", "secret", "");
    ASSERT_TRUE(c.ui.runUntil([&] { return !s.accountBusy; }));
    EXPECT_FALSE(s.signedIn);
    EXPECT_EQ(s.form.message.title, account::kInsecureService);
}

}  // namespace
}  // namespace ember::launcher
