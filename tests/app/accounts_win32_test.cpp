// The account actions under Wine against the stand-in account service:
// one player's whole road (register, activate, sign in through both checks,
// restart, realms, a character made and deleted, sign out), then the ways
// it goes wrong. Each test takes an account space of its own.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "launcher/account/signin.h"
#include "launcher/app/accounts.h"
#include "launcher/app/controller.h"
#include "launcher/app/pipeline.h"
#include "base/paths.h"
#include "launcher/formats/json.h"
#include "tests/app/ui_loop.h"
#include "tests/install/standin_client.h"
#include "tests/support/scratch.h"

namespace ember::launcher {
namespace {

using testing::fileText;
using testing::ScopedEnv;
using testing::ScratchDir;
using testing::UiLoop;

app::AppState& S() { return app::state(); }

// One account space of the stand-in service and its control.
struct Space {
    std::string name;
    explicit Space(std::string n) : name(std::move(n)) { control("{\"reset\": true}"); }

    JsonValue control(const std::string& members) {
        http::Request request;
        request.method = "POST";
        request.url = testing::standinHttps() + "control/accounts";
        request.body = "{\"space\": \"" + name + "\"" + (members.size() > 2 ? ", " + members.substr(1) : "}");
        http::Response reply = http::request(request);
        JsonValue doc;
        std::string error;
        EXPECT_EQ(reply.status, 200) << reply.error << reply.body;
        EXPECT_TRUE(parseJson(reply.body, doc, error)) << error;
        return doc;
    }
    // The lines of one of the service's record files (mail or captcha),
    // read from disk as the service wrote them.
    std::vector<JsonValue> records(const char* file) {
        std::string path = "Z:" + getString(member(control("{}"), "files"), file);
        std::string text = fileText(path), line;
        std::vector<JsonValue> out;
        for (size_t start = 0; start < text.size();) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            JsonValue doc;
            std::string error;
            if (parseJson(text.substr(start, end - start), doc, error)) out.push_back(doc);
            start = end + 1;
        }
        return out;
    }
    std::string pictureCode(const std::string& token) {
        for (const JsonValue& r : records("captcha")) {
            if (getString(r, "token") == token) return getString(r, "code");
        }
        return "";
    }
    // How many requests the service saw below the space's API `path`.
    size_t requestsTo(const std::string& path) {
        http::Request request;
        request.url = testing::standinHttps() + "control/requests";
        http::Response reply = http::request(request);
        JsonValue doc;
        std::string error;
        EXPECT_TRUE(parseJson(reply.body, doc, error)) << error;
        size_t n = 0;
        for (const JsonValue& r : member(doc, "requests").items) n += getString(r, "path") == apiPath(path);
        return n;
    }
    // A refusal path relative to the space's API, for /control/fault.
    std::string apiPath(const std::string& path) { return "/s/" + name + "/api/v1/" + path; }
};

// A launcher: its own config folder, no game, the controller started and
// the first check done against the space's manifest.
struct Launcher {
    ScratchDir config, game;
    ScopedEnv configEnv{"EMBERLANE_CONFIG_DIR", config.path()};
    ScopedEnv gameEnv{"EMBERLANE_GAME_DIR", game.path()};
    UiLoop ui;
    std::string space;
    uint64_t fakeNow = 0;
    bool fakeClock = false;

    explicit Launcher(std::string accountSpace) : space(std::move(accountSpace)) { start(); }
    ~Launcher() { stop(); }

    void start() {
        app::init(ui.hooks(), false);
        S().config.manifestUrl = testing::standinHttps() + "client/r1/manifest.json?accountSpace=" + space;
        app::preflight();
        ASSERT_TRUE(ui.runUntil([] { return S().preflightDone && !S().preflightRunning && !S().accountBusy; }));
        ASSERT_TRUE(ui.runUntil([] { return S().realmsLoaded && !S().realmsInFlight; }));
    }
    void stop() {
        app::shutdownWorkers();
        app::setClock(nullptr);
    }
    // A restart: the controller again from nothing but its files.
    void restart() {
        stop();
        start();
    }
    void useFakeClock() {
        fakeNow = app::now();  // on from the real ticks already recorded
        app::setClock([this] { return fakeNow; });
    }
    bool idle() { return ui.runUntil([] { return !S().accountBusy; }); }
};

bool exists(const std::string& path) { return GetFileAttributesW(toWide(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

TEST(AccountRoad, RegisterActivateSignInRestartCharactersSignOut) {
    Space space("road");
    space.control("{\"layers\": {\"register\": [\"pow\"], \"login\": [\"pow\", \"visual\"]}, \"powDifficulty\": 8}");
    Launcher l("road");
    ASSERT_TRUE(S().accountsActive);
    ASSERT_TRUE(S().client);
    EXPECT_EQ(S().realmKey, "test-realm");
    ASSERT_EQ(S().realms.size(), 2u);
    EXPECT_FALSE(S().signedIn);

    // Registration: the proof-of-work fetched and solved before the first
    // try; the account then waits for its mail.
    const std::string email = "road@emberlane.test", password = "long enough 1";
    app::registerAccount(email, password, "Road Tester", "");
    EXPECT_EQ(S().accountBusyLabel, "CREATING…");
    ASSERT_TRUE(l.idle());
    EXPECT_EQ(S().form.message.title, "Account created") << S().form.message.title << S().form.fieldError;
    EXPECT_EQ(app::spelling(S().form.message.action), "Resend");
    EXPECT_EQ(S().pendingActivationEmail, email);
    EXPECT_EQ(app::spelling(S().tab), "login");
    app::resendActivation();
    ASSERT_TRUE(l.idle());
    EXPECT_EQ(S().form.message.title, "Link sent");
    std::vector<JsonValue> mails = space.records("mail");
    ASSERT_EQ(mails.size(), 2u);
    EXPECT_EQ(getString(mails.back(), "to"), email);
    http::Request click;
    click.url = getString(mails.back(), "link");
    EXPECT_EQ(http::request(click).status, 200);

    // Sign-in: the service asks for the picture as well; a wrong code gets a
    // new picture and the right one signs in.
    app::login(email, password, "");
    ASSERT_TRUE(l.idle());
    ASSERT_TRUE(l.ui.runUntil([] { return !S().form.captchaFile.empty(); }));
    ASSERT_TRUE(S().form.hasDemand);
    std::string firstPicture = S().form.captchaFile;
    EXPECT_EQ(fileText(firstPicture).substr(1, 3), "PNG");
    std::string code = space.pictureCode(S().form.demand.challenge.token);
    ASSERT_EQ(code.size(), 6u);
    app::login(email, password, code == "000000" ? "111111" : "000000");
    ASSERT_TRUE(l.idle());
    EXPECT_EQ(S().form.message.title,
              "The code you typed does not match the image. A new code is shown; type it and try again.");
    ASSERT_TRUE(l.ui.runUntil([&] { return !S().form.captchaFile.empty() && S().form.captchaFile != firstPicture; }));
    EXPECT_FALSE(exists(firstPicture)) << "the previous picture was left behind";
    code = space.pictureCode(S().form.demand.challenge.token);
    app::login(email, password, code);
    ASSERT_TRUE(l.idle());
    ASSERT_TRUE(S().signedIn) << S().form.message.title << S().form.fieldError;
    EXPECT_EQ(S().account.displayName, "Road Tester");
    EXPECT_EQ(app::spelling(S().tab), "home");
    EXPECT_FALSE(S().form.hasDemand);
    account::SavedSignIn saved;
    ASSERT_TRUE(account::loadSignIn(saved));
    EXPECT_EQ(saved.refreshToken, S().tokens.refreshToken);
    EXPECT_EQ(saved.email, email);
    ASSERT_TRUE(l.ui.runUntil([] { return S().charactersStatus == app::CharactersStatus::ok; }));
    EXPECT_TRUE(S().characters.characters.empty());

    // A restart signs in again from account.json, with a new refresh token.
    std::string oldRefresh = saved.refreshToken;
    l.restart();
    ASSERT_TRUE(l.idle());
    ASSERT_TRUE(S().signedIn) << S().form.message.title;
    EXPECT_EQ(S().account.displayName, "Road Tester");
    EXPECT_EQ(S().email, email);
    ASSERT_TRUE(account::loadSignIn(saved));
    EXPECT_NE(saved.refreshToken, oldRefresh);

    // A character: the local rules, then the service's answer.
    std::string said;
    bool free = true;
    const auto answer = [&](bool f, const std::string& t) {
        free = f;
        said = t;
    };
    app::checkName("Al1", answer);
    EXPECT_EQ(said, "A name cannot contain numbers.");
    EXPECT_FALSE(free);
    said.clear();
    app::checkName("Aldric", answer);
    ASSERT_TRUE(l.ui.runUntil([&] { return !said.empty(); }));
    EXPECT_EQ(said, "Aldric is free.");
    EXPECT_TRUE(free);
    bool created = false, answered = false;
    app::createCharacter(" Aldric", [&](bool ok, const std::string& m) {
        created = ok;
        answered = true;
        said = m;
    });
    ASSERT_TRUE(l.ui.runUntil([&] { return answered; }));
    ASSERT_TRUE(created) << said;
    ASSERT_EQ(S().characters.characters.size(), 1u);
    std::string id = S().characters.characters[0].id;
    EXPECT_EQ(S().config.characterId, id);
    EXPECT_EQ(testing::savedConfig().characterId, id);
    said.clear();
    app::checkName("aldric", answer);
    ASSERT_TRUE(l.ui.runUntil([&] { return !said.empty(); }));
    EXPECT_EQ(said, "aldric is taken.");
    EXPECT_FALSE(free);

    // The pipeline's play session for it, from the account service.
    app::PipelineInput in;
    in.characterId = id;
    app::PipelineSteps steps;
    app::addAccountToPipeline(in, steps);
    ASSERT_TRUE(in.useAccount);
    EXPECT_EQ(in.realm.key, "test-realm");
    EXPECT_EQ(in.realm.port, 7777);
    ASSERT_EQ(in.characters.size(), 1u);
    ASSERT_TRUE(steps.playSession);
    app::PlaySession session = steps.playSession(in.realm, id);
    EXPECT_EQ(session.code, account::ErrorKind::ok);
    EXPECT_FALSE(session.token.empty());
    EXPECT_EQ(steps.playSession(in.realm, "no-such-character").code, account::ErrorKind::not_found);

    answered = false;
    app::deleteCharacter(id, [&](bool ok, const std::string& m) {
        created = ok;
        answered = true;
        said = m;
    });
    ASSERT_TRUE(l.ui.runUntil([&] { return answered; }));
    EXPECT_TRUE(created) << said;
    ASSERT_TRUE(l.ui.runUntil([] { return !S().charactersInFlight && S().charactersStatus == app::CharactersStatus::ok; }));
    EXPECT_TRUE(S().characters.characters.empty());
    EXPECT_EQ(S().config.characterId, "");

    // Signing out forgets the saved sign-in.
    app::logout();
    EXPECT_FALSE(S().signedIn);
    EXPECT_EQ(app::spelling(S().tab), "login");
    EXPECT_FALSE(exists(account::signInPath()));

    // A service that wants only the proof-of-work: solved and sent again
    // without the player seeing a thing.
    space.control("{\"layers\": {\"login\": [\"pow\"]}}");
    app::login(email, password, "");
    ASSERT_TRUE(l.idle());
    EXPECT_TRUE(S().signedIn) << S().form.message.title;
    EXPECT_FALSE(S().form.hasDemand);
}

// The ways signing in and staying signed in go wrong, each in a space of
// its own with the seeded account.
TEST(AccountRoad, FailuresEndVisiblyAndSafely) {
    const std::string email = "demo@emberlane.test", password = "ember-demo-1";
    struct Case {
        const char* name;
        std::function<void(Space&, Launcher&)> run;
    } cases[] = {
        {"rate limit: a wait that ends by itself",
         [&](Space& space, Launcher& l) {
             space.control("{\"settings\": {\"rateLimits\": {\"login\": {\"max\": 0, \"window\": 30}}, "
                           "\"rateReport\": \"header\"}}");
             l.useFakeClock();
             app::login(email, password, "");
             ASSERT_TRUE(l.ui.runUntil([] { return S().accountBusyLabel == "WAITING"; }));
             EXPECT_EQ(app::spelling(S().form.message.tone), "countdown");
             EXPECT_EQ(S().accountWaitUntil, l.fakeNow + 30000);
             app::cancelAccountTask();  // no effect during a wait
             EXPECT_TRUE(S().accountBusy);
             l.fakeNow += 29999;
             app::frameHousekeeping(app::now());
             EXPECT_TRUE(S().accountBusy);
             l.fakeNow += 1;
             app::frameHousekeeping(app::now());
             EXPECT_FALSE(S().accountBusy);
             EXPECT_EQ(S().accountBusyLabel, "");
         }},
        {"locked account: a 60 s wait",
         [&](Space& space, Launcher& l) {
             space.control("{\"lock\": {\"email\": \"" + email + "\", \"seconds\": 300}}");
             l.useFakeClock();
             app::login(email, password, "");
             ASSERT_TRUE(l.ui.runUntil([] { return S().accountBusyLabel == "WAITING"; }));
             EXPECT_EQ(S().accountWaitUntil, l.fakeNow + 60000);
             EXPECT_FALSE(S().signedIn);
         }},
        {"a cancelled sign-in's late answer is ignored",
         [&](Space& space, Launcher& l) {
             testing::standinFault(space.apiPath("auth/login"), "slow:1500", 1);
             app::login(email, password, "");
             uint64_t first = S().accountGeneration;
             app::cancelAccountTask();
             EXPECT_FALSE(S().accountBusy);
             app::login(email, "wrong password", "");
             EXPECT_NE(S().accountGeneration, first);
             ASSERT_TRUE(l.idle());
             // The worker ran the slow success first: it changed nothing.
             EXPECT_FALSE(S().signedIn);
             EXPECT_EQ(S().form.fieldKey, "password");
             EXPECT_EQ(S().form.fieldError, "That email and password don't match.");
         }},
        {"the character list refused: signed out",
         [&](Space& space, Launcher& l) {
             app::login(email, password, "");
             ASSERT_TRUE(l.idle());
             ASSERT_TRUE(S().signedIn);
             ASSERT_TRUE(l.ui.runUntil([] { return S().charactersStatus == app::CharactersStatus::ok; }));
             space.control("{\"force\": {\"path\": \"characters\", \"status\": 401, \"error\": \"invalid_token\", "
                           "\"times\": 1}}");
             app::fetchCharactersNow();
             ASSERT_TRUE(l.ui.runUntil([] { return !S().signedIn; }));
             EXPECT_EQ(S().form.message.title, "Please sign in again.");
             EXPECT_FALSE(exists(account::signInPath()));
         }},
        {"the service goes away: the realm list stays, marked stale",
         [&](Space& space, Launcher& l) {
             l.useFakeClock();
             std::vector<account::Realm> shown = S().realms;
             ASSERT_FALSE(shown.empty());
             // A slow answer: no second request while it is on its way.
             size_t asked = space.requestsTo("realms");
             testing::standinFault(space.apiPath("realms"), "slow:800", 1);
             // The ten seconds count from the last answer, not from when the
             // fake clock took over: a slow machine lets real time pass between.
             l.fakeNow = S().realmsFetchedAt + 9999;
             app::accountFrame(app::now());
             EXPECT_FALSE(S().realmsInFlight) << "refreshed before 10 s";
             l.fakeNow += 1;
             app::accountFrame(app::now());
             l.fakeNow += 10000;
             app::accountFrame(app::now());
             ASSERT_TRUE(l.ui.runUntil([] { return !S().realmsInFlight; }));
             EXPECT_EQ(space.requestsTo("realms"), asked + 1);
             EXPECT_FALSE(S().realmsStale);
             // Gone: the list stays and is marked stale.
             testing::standinFault(space.apiPath("realms"), "drop", 3);
             l.fakeNow += 10000;
             app::accountFrame(app::now());
             ASSERT_TRUE(S().realmsInFlight);
             ASSERT_TRUE(l.ui.runUntil([] { return !S().realmsInFlight; }));
             EXPECT_TRUE(S().realmsStale);
             EXPECT_EQ(S().realms.size(), shown.size());
             // The saved sign-in is kept when the service cannot be reached.
             account::SavedSignIn saved{"some-refresh-token", email, "Demo", "", 0};
             ASSERT_TRUE(account::saveSignIn(saved));
             testing::standinFault(space.apiPath("auth/refresh"), "drop", 1);
             S().restoreAttempted = false;
             app::restoreSession();
             ASSERT_TRUE(l.idle());
             EXPECT_EQ(app::spelling(S().form.message.action), "Restore");
             EXPECT_TRUE(exists(account::signInPath()));
             // A refused one is deleted.
             app::restoreSession();
             ASSERT_TRUE(l.idle());
             EXPECT_FALSE(S().signedIn);
             EXPECT_FALSE(exists(account::signInPath()));
         }},
        {"a brief outage after the refresh keeps the rotated refresh token",
         [&](Space& space, Launcher& l) {
             app::login(email, password, "");
             ASSERT_TRUE(l.idle());
             ASSERT_TRUE(S().signedIn);
             // The next start: the refresh works (and ends the old token),
             // then the service is busy for a moment, or a gateway in front
             // of it cannot reach it.
             const char* outages[] = {"\"status\": 503, \"error\": \"busy\"",
                                      "\"status\": 502, \"error\": \"bad_gateway\"",
                                      "\"status\": 504, \"error\": \"gateway_timeout\""};
             for (const char* outage : outages) {
                 SCOPED_TRACE(outage);
                 account::SavedSignIn first;
                 ASSERT_TRUE(account::loadSignIn(first));
                 space.control(std::string("{\"force\": {\"path\": \"auth/whoami\", ") + outage +
                               ", \"times\": 1}}");
                 l.restart();
                 EXPECT_FALSE(S().signedIn);
                 EXPECT_EQ(app::spelling(S().form.message.action), "Restore");
                 account::SavedSignIn kept;
                 ASSERT_TRUE(account::loadSignIn(kept)) << "the saved sign-in is gone";
                 EXPECT_NE(kept.refreshToken, first.refreshToken) << "the used refresh token was kept";
                 // Retry: signed in again, not "refresh reused".
                 S().restoreAttempted = false;
                 app::restoreSession();
                 ASSERT_TRUE(l.idle());
                 EXPECT_TRUE(S().signedIn) << S().form.message.title << " "
                                           << fileText(joinPath(l.config.path(), "launcher.log"));
                 EXPECT_TRUE(exists(account::signInPath()));
             }
         }},
        {"an expired challenge fetches a new one",
         [&](Space& space, Launcher& l) {
             space.control("{\"layers\": {\"login\": [\"visual\"]}, \"force\": {\"path\": \"auth/login\", "
                           "\"status\": 400, \"error\": \"challenge_expired\", \"times\": 1}}");
             size_t asked = space.requestsTo("captcha/challenge");
             app::login(email, password, "");
             ASSERT_TRUE(l.idle());
             ASSERT_TRUE(l.ui.runUntil([] { return !S().form.captchaFile.empty(); }));
             EXPECT_EQ(space.requestsTo("captcha/challenge"), asked + 1);
             EXPECT_EQ(S().form.message.title,
                       "The code you typed does not match the image. A new code is shown; type it and try again.");
             EXPECT_TRUE(S().form.hasDemand);
         }},
        {"a malformed token from the service is its fault, not the network's",
         [&](Space& space, Launcher& l) {
             space.control("{\"force\": {\"path\": \"auth/login\", \"status\": 200, \"extra\": "
                           "{\"accessToken\": \"a\\r\\nX-Injected: 1\", \"refreshToken\": \"r\", "
                           "\"account\": {\"displayName\": \"Demo\"}}, \"times\": 1}}");
             app::login(email, password, "");
             ASSERT_TRUE(l.idle());
             EXPECT_FALSE(S().signedIn);
             EXPECT_EQ(S().form.message.title, "the account service sent a malformed token");
             EXPECT_FALSE(exists(account::signInPath()));
         }},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Space space("fail" + std::to_string(++n));
        Launcher l(space.name);
        c.run(space, l);
    }
}

}  // namespace
}  // namespace ember::launcher
