// The forms as a player meets them, through the real stylesheet and real
// clicks: what each refusal screen says and offers, the delete dialog's
// guard, the checks the sign-in form makes before it sends anything, and
// "Stop and close" waiting for the update to hand back what it installed,
// and no password left in the form after a sign-out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/app/controller.h"
#include "base/paths.h"
#include "launcher/screens/screens.h"
#include "launcher/kit/textfield.h"
#include "tests/kiln/kiln_fixture.h"

namespace ember::launcher::view {
namespace {

class FormsTest : public kiln::KilnTest {
protected:
    void SetUp() override {
        KilnTest::SetUp();
        std::string text;
        ASSERT_TRUE(readWholeFile(std::string(EMBER_SOURCE_DIR) + "/res/launcher.css", text));
        css(text);
        kiln::setToolkitStarted(true);
        kiln::setMouseInWindow(true);
        app::state() = app::AppState();
        app::state().version = "2.1.0";
        app::cancelRequested = false;
    }

    void build() {
        kiln::beginFrame(1280, 800, 1);
        buildFrame(app::state(), 1280, 800, 1, 1000);
        kiln::endFrame();
    }

    // Presses what holds `label`, then builds once more to show the outcome.
    void click(const std::string& label) {
        KilnTest::click(label, [this] { build(); });
    }
};

TEST_F(FormsTest, EachRefusalScreenSaysWhatIsWrongAndOffersItsWayOut) {
    const app::BlockedModFound speed{"Paks\\~mods\\SpeedHack_P.pak", "changes movement speed"};
    const app::BlockedModFound carry{"OBSE\\Plugins\\InfiniteCarry.dll", "removes the carry-weight limit"};
    struct Case {
        const char* name;
        app::Blocker blocker;
        const char* title;
        std::vector<const char*> actions;  // the first is the primary one
        const char* detail;                // in the details once opened; "" when there are none
    };
    app::Blocker noList;
    noList.kind = app::BlockerKind::unsupportedVersion;
    noList.version = "1.2.0.31";
    app::Blocker withList = noList;
    withList.supportedVersions = {"1.1.0.14", "1.1.0.9"};
    app::Blocker notFound;
    notFound.kind = app::BlockerKind::gameNotFound;
    app::Blocker notFoundSearched = notFound;
    notFoundSearched.searched = {"C:\\Steam\\steamapps\\common\\Oblivion Remastered"};
    app::Blocker oneMod;
    oneMod.kind = app::BlockerKind::blockedMods;
    oneMod.mods = {speed};
    app::Blocker twoMods = oneMod;
    twoMods.mods = {speed, carry};
    app::Blocker space;
    space.kind = app::BlockerKind::diskSpace;
    space.drive = "D:";
    space.neededBytes = 2576980378ull;
    space.freeBytes = 1181116006ull;
    app::Blocker locked;
    locked.kind = app::BlockerKind::fileLocked;
    app::Blocker outdated;
    outdated.kind = app::BlockerKind::launcherOutdated;
    app::Blocker odd;
    odd.kind = app::BlockerKind::error;
    odd.body = "boot failed";

    const Case cases[] = {
        {"no supported list is a connection problem", noList, "Can't reach Emberlane",
         {"Try again", "Open emberlane.example"}, "the supported version list was never received"},
        {"a supported list compares versions", withList, "This Oblivion Remastered version isn't supported yet",
         {"What to do", "Check again"}, ""},
        {"nothing searched", notFound, "Oblivion Remastered not found",
         {"Choose the folder\xE2\x80\xA6", "Where is it usually?"}, "searched:\n(nothing recorded)"},
        {"searched folders listed", notFoundSearched, "Oblivion Remastered not found",
         {"Choose the folder\xE2\x80\xA6", "Where is it usually?"},
         "searched:\nC:\\Steam\\steamapps\\common\\Oblivion Remastered"},
        {"one mod", oneMod, "That mod is not allowed here", {"Disable it and play", "Open the folder", "Check again"},
         ""},
        {"two mods", twoMods, "These mods are not allowed here",
         {"Disable them and play", "Open the folder", "Check again"}, ""},
        {"disk space", space, "Not enough space on D:", {"Check again", "Open"}, ""},
        {"file locked", locked, "A file is in use", {"Try again", "Open logs folder"}, ""},
        {"outdated", outdated, "This launcher is out of date", {"Update & restart", "Open emberlane.example"}, ""},
        {"another kind", odd, "Something went wrong", {"Try again", "Open logs folder"}, "boot failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        app::state().blocker = c.blocker;
        build();
        EXPECT_TRUE(shows(c.title));
        for (size_t i = 0; i < c.actions.size(); ++i) {
            const int32_t at = holderOf(c.actions[i]);
            ASSERT_GE(at, 0) << "no action '" << c.actions[i] << "'";
            EXPECT_EQ(hasClass(at, "btn--primary"), i == 0) << c.actions[i];
        }
        if (std::string(c.detail).empty()) continue;
        click("Details");
        EXPECT_TRUE(shows(c.detail)) << "details of " << c.name;
    }

    // The figures the player needs to act on.
    SetUp();
    app::state().blocker = withList;
    build();
    EXPECT_TRUE(shows("1.2.0.31"));
    EXPECT_TRUE(shows("1.1.0.14, 1.1.0.9"));
    app::state().blocker = space;
    build();
    EXPECT_TRUE(shows("Emberlane needs 2.4 GB free to install."));
    EXPECT_TRUE(shows("Free up about 1.3 GB, or move Oblivion Remastered to another drive."));
}

TEST_F(FormsTest, DeleteIsOnlyPossibleForExactlyDELETE) {
    app::AppState& s = app::state();
    s.config.characterId = "381402557264";
    s.view.openModal = app::ModalKind::remove;
    for (const char* typed : {"", "delete", "DELETE ", " DELETE", "DELET", "DELETE"}) {
        setFieldText(s, "modal:delete", typed);
        build();
        const int32_t confirm = holderOf("Delete character");
        ASSERT_GE(confirm, 0);
        EXPECT_EQ(hasClass(confirm, "is-disabled"), std::string(typed) != "DELETE") << "'" << typed << "'";
    }
    EXPECT_TRUE(shows("Character id 381402557264 is retired and will not be reused."));
    // A disabled confirm is not pressed, and Enter does not confirm either.
    setFieldText(s, "modal:delete", "delete");
    build();
    click("Delete character");
    s.view.enterPressed = true;
    build();
    s.view.enterPressed = false;
    EXPECT_EQ(app::spelling(s.view.openModal), "delete");
    EXPECT_FALSE(showsPart("Could not delete")) << "the delete was asked for";
    // Exactly DELETE asks (and, signed out, is refused in the dialog).
    setFieldText(s, "modal:delete", "DELETE");
    build();
    click("Delete character");
    EXPECT_TRUE(shows("Could not delete that character."));
    // Escape closes it and forgets what was typed.
    s.view.escapePressed = true;
    build();
    s.view.escapePressed = false;
    EXPECT_EQ(app::spelling(s.view.openModal), "");
    EXPECT_EQ(fieldText(s, "modal:delete"), "");
}

TEST_F(FormsTest, SignInChecksTheFormBeforeSendingAnything) {
    app::AppState& s = app::state();
    s.accountsActive = true;
    build();
    click("LOG IN");
    EXPECT_TRUE(shows("Enter your email address"));
    EXPECT_TRUE(shows("Enter your password"));
    EXPECT_TRUE(s.form.message.title.empty()) << "nothing may be sent: " << s.form.message.title;

    // Typing into a field clears its complaint; a complete form is sent (and
    // here refused, as the realm has no account service).
    setFieldText(s, "auth:email", "ada@example.com");
    build();
    EXPECT_FALSE(shows("Enter your email address"));
    EXPECT_TRUE(shows("Enter your password"));
    setFieldText(s, "auth:password", "hunter22");
    build();
    click("LOG IN");
    EXPECT_EQ(s.form.message.title, "This realm has no account service. Play without an account instead.");

    // Registration has more to check: the repeat, the name and the age.
    s.form.message = app::FormMessage();
    click("Create account");
    EXPECT_EQ(app::spelling(s.tab), "register");
    setFieldText(s, "auth:confirm", "hunter2");
    build();
    click("CREATE ACCOUNT");
    EXPECT_TRUE(shows("Those passwords don't match"));
    EXPECT_TRUE(shows("Choose a display name"));
    EXPECT_TRUE(shows("You have to confirm you are 13 or older."));
    EXPECT_TRUE(s.form.message.title.empty());

    // Signed in and out again: the password is not waiting in the form.
    s.signedIn = true;
    build();
    s.signedIn = false;
    build();
    EXPECT_EQ(fieldText(s, "auth:password"), "");
    EXPECT_EQ(fieldText(s, "auth:confirm"), "");
    EXPECT_EQ(fieldText(s, "auth:email"), "ada@example.com");
}

TEST_F(FormsTest, StopAndCloseWaitsForTheUpdateToHandBackItsFiles) {
    app::AppState& s = app::state();
    s.busy = true;
    s.view.openModal = app::ModalKind::stopUpdate;
    build();
    EXPECT_TRUE(shows("Keep downloading"));
    click("Stop and close");
    EXPECT_TRUE(app::cancelRequested.load());
    EXPECT_FALSE(s.view.quitRequested) << "the update's result would be lost";
    s.busy = false;  // the cancelled pipeline's result was applied
    build();
    EXPECT_TRUE(s.view.quitRequested);
}

}  // namespace
}  // namespace ember::launcher::view
