// The account client over WinHTTP against the stand-in account service
// (tools/standin/accounts.py): every call's success, every error kind the
// service sends, and what broken or missing replies become. Each test uses
// an account space of its own, reset first, so it meets no other test.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "launcher/account/challenge.h"
#include "launcher/account/client.h"
#include "launcher/formats/json.h"
#include "launcher/net/http.h"
#include "launcher/net/sha256.h"
#include "tests/install/standin_client.h"
#include "ui/kiln/png.h"

using namespace ember::launcher;
using namespace ember::launcher::account;
using ember::launcher::testing::standinHttps;

namespace {

constexpr const char kDemoEmail[] = "demo@emberlane.test";
constexpr const char kDemoPassword[] = "ember-demo-1";

JsonValue parsed(const std::string& text) {
    JsonValue doc;
    std::string error;
    EXPECT_TRUE(parseJson(text, doc, error)) << error << ": " << text;
    return doc;
}

// One account space of the stand-in, reset when made.
struct Space {
    std::string name;
    explicit Space(const std::string& test) : name("client-" + test) { control(R"({"reset": true})"); }

    std::string api() const { return standinHttps() + "s/" + name; }

    // POST /control/accounts with this space; the service's description back.
    JsonValue control(const std::string& json) const {
        JsonValue doc = parsed(json);
        set(doc, "space", JsonValue::makeString(name));
        http::Request request;
        request.method = "POST";
        request.url = standinHttps() + "control/accounts";
        request.body = writeJson(doc, 0);
        http::Response reply = http::request(request);
        EXPECT_EQ(reply.status, 200) << reply.error << reply.body;
        return parsed(reply.body);
    }

    // A fault on the next call below an API path ("realms", "auth/login").
    void fault(const std::string& apiPath, const std::string& fault) const {
        ember::launcher::testing::standinFault("/s/" + name + "/api/v1/" + apiPath, fault, 1);
    }

    // The picture code the service issued for a challenge (never sent to
    // the client).
    std::string code(const std::string& token) const {
        for (const JsonValue& issued : member(control("{}"), "captchas").items) {
            if (getString(issued, "token") == token) return getString(issued, "code");
        }
        ADD_FAILURE() << "no code issued for " << token;
        return "";
    }
};

std::string testName() { return ::testing::UnitTest::GetInstance()->current_test_info()->name(); }

Tokens signIn(const Client& client) {
    Account account;
    Tokens tokens;
    Error e = client.login(kDemoEmail, kDemoPassword, nullptr, account, tokens);
    EXPECT_TRUE(e.ok()) << errorKindName(e.kind) << ": " << e.message;
    return tokens;
}

}  // namespace

TEST(AccountClientService, EveryCallSucceeds) {
    Space space(testName());
    // The base URL may end in slashes: the service only answers one '/'.
    Client client(space.api() + "//");

    // Registration waits for the mail's link.
    Account account;
    Tokens tokens;
    Error e = client.registerAccount(" New@Example.COM", "long enough", "  Newcomer ", nullptr, 0, account, tokens);
    ASSERT_TRUE(e.ok()) << e.message;
    EXPECT_EQ(account.status, "pending");
    EXPECT_EQ(account.displayName, "Newcomer");
    EXPECT_EQ(account.message, "We sent an activation link to new@example.com.");
    EXPECT_EQ(tokens.accessToken, "");
    std::string message;
    ASSERT_TRUE(client.resendActivation("new@example.com", message).ok());
    EXPECT_EQ(message, "If that email has an account waiting for activation, a new link is on its way.");
    JsonValue mails = member(space.control("{}"), "mails");
    ASSERT_EQ(mails.items.size(), 2u);
    EXPECT_EQ(getString(mails.items[1], "to"), "new@example.com");
    http::Request follow;
    follow.url = getString(mails.items[1], "link");
    EXPECT_EQ(http::request(follow).status, 200);

    // Sign-in, identity, refresh.
    ASSERT_TRUE(client.login("new@example.com", "long enough", nullptr, account, tokens).ok());
    EXPECT_EQ(account.displayName, "Newcomer");
    EXPECT_EQ(account.status, "active");
    EXPECT_GT(account.profileId, 1000);
    EXPECT_EQ(tokens.accessExpiresIn, 900);
    EXPECT_EQ(tokens.refreshExpiresIn, 30 * 86400);
    Identity me;
    ASSERT_TRUE(client.whoami(tokens.accessToken, me).ok());
    EXPECT_EQ(me.email, "new@example.com");
    EXPECT_TRUE(me.emailVerified);
    EXPECT_EQ(me.account.publicId, account.publicId);
    Tokens next;
    ASSERT_TRUE(client.refresh(tokens.refreshToken, next).ok());
    EXPECT_NE(next.refreshToken, tokens.refreshToken);
    tokens = next;

    // Realms with their population.
    std::vector<Realm> realms;
    ASSERT_TRUE(client.realms(realms).ok());
    ASSERT_EQ(realms.size(), 2u);
    EXPECT_EQ(realms[0].key, "test-realm");
    EXPECT_EQ(realms[0].port, 7777u);
    EXPECT_EQ(realms[0].players, 12u);
    EXPECT_EQ(realms[0].maxPlayers, 100u);
    EXPECT_TRUE(realms[0].online);
    EXPECT_FALSE(realms[1].online);
    EXPECT_NE(realms[1].lastSeen, "");

    // Names, characters, a play session.
    NameCheck check;
    ASSERT_TRUE(client.checkName("test-realm", " J\xC3\xB8rn ", check).ok());
    EXPECT_FALSE(check.valid);
    ASSERT_TRUE(client.checkName("test-realm", "Jo Ann", check).ok());
    EXPECT_TRUE(check.valid && check.available) << check.reason;
    CharacterList list;
    ASSERT_TRUE(client.createCharacter(tokens.accessToken, "test-realm", " Jo Ann ", list).ok());
    ASSERT_TRUE(client.createCharacter(tokens.accessToken, "test-realm", "Brynn", list).ok());
    ASSERT_TRUE(client.characters(tokens.accessToken, "test-realm", list).ok());
    ASSERT_EQ(list.characters.size(), 2u);
    EXPECT_EQ(list.characters[0].name, "Jo Ann");
    EXPECT_EQ(list.characters[1].slot, 2u);
    EXPECT_EQ(list.used, 2u);
    EXPECT_EQ(list.maxSlots, 3u);
    ASSERT_TRUE(client.checkName("test-realm", "jo ann", check).ok());
    EXPECT_TRUE(check.valid && !check.available);
    PlaySession session;
    ASSERT_TRUE(client.playSession(tokens.accessToken, "test-realm", list.characters[1].id, session).ok());
    EXPECT_NE(session.session, "");
    EXPECT_EQ(session.displayName, "Brynn");
    EXPECT_EQ(session.characterId, list.characters[1].id);
    EXPECT_EQ(session.host, "127.0.0.1");
    EXPECT_EQ(session.port, 7777);
    EXPECT_NE(session.expiresAt, "");
    ASSERT_TRUE(client.realms(realms).ok());
    EXPECT_EQ(realms[0].players, 13u) << "the play session counts";

    // Deletion: an empty 204 keeps the caller's list; a JSON reply replaces it.
    CharacterList kept = list;
    ASSERT_TRUE(client.deleteCharacter(tokens.accessToken, list.characters[0].id, kept).ok());
    EXPECT_EQ(kept.characters.size(), 2u);
    space.control(R"({"settings": {"deleteReply": "list"}})");
    ASSERT_TRUE(client.deleteCharacter(tokens.accessToken, list.characters[1].id, kept).ok());
    EXPECT_EQ(kept.characters.size(), 0u);
    EXPECT_EQ(kept.used, 0u);

    // A challenge and its picture: a PNG the launcher's decoder reads.
    space.control(R"({"layers": {"register": ["pow", "visual"]}, "powDifficulty": 9})");
    Challenge challenge;
    ASSERT_TRUE(client.challenge("register", challenge).ok());
    EXPECT_EQ(challenge.purpose, "register");
    EXPECT_EQ(challenge.difficulty, 9u);
    EXPECT_EQ(challenge.layers, (std::vector<std::string>{"pow", "visual"}));
    EXPECT_GT(challenge.expiresAt, 0);
    std::string png;
    ASSERT_TRUE(client.challengeImage(challenge.token, png).ok());
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;
    std::string error;
    EXPECT_TRUE(kiln::decodePng(reinterpret_cast<const uint8_t*>(png.data()), png.size(), width, height, pixels,
                                error))
        << error;
    EXPECT_GT(width, 100);

    // Registration that signs in at once.
    space.control(R"({"settings": {"autoActivate": true}, "layers": {"register": []}})");
    Tokens direct;
    e = client.registerAccount("now@example.com", "long enough", "Nowadays", nullptr, 0, account, direct);
    ASSERT_TRUE(e.ok()) << e.message;
    EXPECT_EQ(account.status, "active");
    EXPECT_NE(direct.accessToken, "");

    // Sign-out ends the session.
    ASSERT_TRUE(client.logout(tokens.accessToken, tokens.refreshToken).ok());
    EXPECT_EQ(client.whoami(tokens.accessToken, me).kind, ErrorKind::unauthorized);
    EXPECT_EQ(client.refresh(tokens.refreshToken, next).kind, ErrorKind::unauthorized);
}

TEST(AccountClientService, SignInAnswersTheServicesChallenge) {
    Space space(testName());
    Client client(space.api());
    space.control(R"({"layers": {"login": ["pow", "visual"]}, "powDifficulty": 8})");
    Account account;
    Tokens tokens;
    Error e = client.login(kDemoEmail, kDemoPassword, nullptr, account, tokens);
    ASSERT_EQ(e.kind, ErrorKind::captcha_required) << e.message;
    EXPECT_EQ(e.status, 428);
    EXPECT_EQ(e.demand.required, (std::vector<std::string>{"pow", "visual"}));
    EXPECT_NE(e.demand.widgetUrl, "");
    const Challenge& challenge = e.demand.challenge;
    ASSERT_NE(challenge.token, "");

    // The proof-of-work searched here by its plain rule, so this test does
    // not lean on the launcher's own solver.
    Solution solution;
    solution.hasPow = true;
    solution.powToken = challenge.token;
    solution.hasVisual = true;
    solution.visualToken = challenge.token;
    solution.visualAnswer = space.code(challenge.token);
    std::string salt;
    for (size_t i = 0; i + 1 < challenge.salt.size(); i += 2) {
        salt += static_cast<char>(std::stoul(challenge.salt.substr(i, 2), nullptr, 16));
    }
    for (uint64_t n = 0;; ++n) {
        Sha256 sha;
        std::string message = salt + std::to_string(n);
        sha.update(message.data(), message.size());
        auto digest = sha.final();
        if (digest[0] == 0) {
            solution.powN = n;
            break;
        }
    }
    ASSERT_TRUE(client.login(kDemoEmail, kDemoPassword, &solution, account, tokens).ok());
    EXPECT_NE(tokens.accessToken, "");
}

TEST(AccountClientService, EveryErrorKindTheServiceSends) {
    Space space(testName());
    Client client(space.api());
    Tokens demo = signIn(client);
    Account account;
    Tokens tokens;
    CharacterList list;
    Identity me;
    std::vector<Realm> realms;
    auto login = [&](const char* email, const char* password) {
        return client.login(email, password, nullptr, account, tokens);
    };
    auto registerAs = [&](const char* email, const char* password, const char* name) {
        return client.registerAccount(email, password, name, nullptr, 0, account, tokens);
    };
    ASSERT_TRUE(registerAs("pending@example.com", "long enough", "Waiting").ok());

    struct Case {
        const char* what;
        const char* control;  // sent to the space first; "" for none
        std::function<Error()> call;
        ErrorKind kind;
        int32_t status;
        const char* code;
    } cases[] = {
        {"wrong password", "", [&] { return login(kDemoEmail, "wrong"); }, ErrorKind::invalid_credentials, 401,
         "invalid_credentials"},
        {"pending account", "", [&] { return login("pending@example.com", "long enough"); },
         ErrorKind::account_pending, 403, "account_pending"},
        {"email taken", "", [&] { return registerAs(kDemoEmail, "long enough", "Other"); }, ErrorKind::email_taken,
         409, "email_taken"},
        {"name taken", "", [&] { return registerAs("x@example.com", "long enough", "demo"); },
         ErrorKind::display_name_taken, 409, "display_name_taken"},
        {"weak password", "", [&] { return registerAs("x@example.com", "short", "Other"); },
         ErrorKind::weak_password, 400, "weak_password"},
        {"bad character name", "", [&] { return client.createCharacter(demo.accessToken, "test-realm", "x1", list); },
         ErrorKind::bad_request, 400, "invalid_name"},
        {"unknown character", "", [&] { return client.deleteCharacter(demo.accessToken, "ch-none", list); },
         ErrorKind::not_found, 404, "not_found"},
        {"unknown token", "", [&] { return client.whoami("at_nobody", me); }, ErrorKind::unauthorized, 401,
         "invalid_token"},
        {"locked", R"({"lock": {"email": "demo@emberlane.test", "seconds": 60}})",
         [&] { return login(kDemoEmail, kDemoPassword); }, ErrorKind::account_locked, 423, "account_locked"},
        {"unlocked, banned", R"({"lock": {"email": "demo@emberlane.test", "seconds": 0},
           "ban": {"email": "demo@emberlane.test", "reason": "cheating", "seconds": 3600}})",
         [&] { return login(kDemoEmail, kDemoPassword); }, ErrorKind::banned, 403, "account_banned"},
        {"registration closed", R"({"settings": {"registrationOpen": false}})",
         [&] { return registerAs("y@example.com", "long enough", "Yonder"); }, ErrorKind::registration_closed, 403,
         "registration_closed"},
        {"picture code wrong", R"({"settings": {"registrationOpen": true}, "layers": {"register": ["visual"]}})",
         [&] {
             Challenge challenge;
             client.challenge("register", challenge);
             Solution wrong;
             wrong.hasVisual = true;
             wrong.visualToken = challenge.token;
             wrong.visualAnswer = "abcdef";
             return client.registerAccount("y@example.com", "long enough", "Yonder", &wrong, 0, account, tokens);
         },
         ErrorKind::captcha_failed, 400, "captcha_failed"},
        {"draining", R"({"settings": {"unavailable": "draining"}})", [&] { return client.realms(realms); },
         ErrorKind::service_unavailable, 503, "draining"},
        {"realm offline", R"({"settings": {"unavailable": ""},
           "ban": {"email": "demo@emberlane.test", "reason": null}})",
         [&] {
             PlaySession session;
             return client.playSession(demo.accessToken, "westreach", "", session);
         },
         ErrorKind::service_unavailable, 503, "realm_offline"},
    };
    for (const Case& c : cases) {
        if (*c.control) space.control(c.control);
        Error e = c.call();
        EXPECT_EQ(errorKindName(e.kind), std::string(errorKindName(c.kind))) << c.what << ": " << e.message;
        EXPECT_EQ(e.status, c.status) << c.what;
        EXPECT_EQ(e.code, c.code) << c.what;
        EXPECT_NE(e.message, "") << c.what;
        if (c.kind == ErrorKind::banned) {
            EXPECT_EQ(e.reason, "cheating");
            EXPECT_NE(e.until, "");
        }
        if (e.code == "draining") {
            EXPECT_EQ(e.retryAfter, 30);
        }
    }

    // The last slot, then one too many.
    for (const char* name : {"Alda", "Brynn", "Cato"}) {
        ASSERT_TRUE(client.createCharacter(demo.accessToken, "test-realm", name, list).ok()) << name;
    }
    Error full = client.createCharacter(demo.accessToken, "test-realm", "Dagny", list);
    EXPECT_EQ(full.kind, ErrorKind::character_limit);
    EXPECT_EQ(full.message, "all three character slots are used on this realm");

    // A refresh token works once.
    Tokens fresh = signIn(client);
    Tokens rotated;
    ASSERT_TRUE(client.refresh(fresh.refreshToken, rotated).ok());
    Error reused = client.refresh(fresh.refreshToken, rotated);
    EXPECT_EQ(reused.kind, ErrorKind::unauthorized);
    EXPECT_EQ(reused.code, "refresh_reused");
}

TEST(AccountClientService, RateLimitWaits) {
    Space space(testName());
    Client client(space.api());
    Account account;
    Tokens tokens;
    // (where the service reports the wait, the wait the client reads): the
    // body's precise figure wins over the header's whole seconds.
    struct Case {
        const char* report;
        double retryAfter;
    } cases[] = {{"both", 12.5}, {"json", 12.5}, {"header", 13}, {"none", 0}};
    for (const Case& c : cases) {
        space.control(std::string(R"({"settings": {"rateLimits": {"login": {"max": 0, "window": 12.5}},
                                      "rateReport": ")") + c.report + "\"}}");
        Error e = client.login(kDemoEmail, kDemoPassword, nullptr, account, tokens);
        EXPECT_EQ(e.kind, ErrorKind::rate_limited) << c.report;
        EXPECT_EQ(e.status, 429);
        EXPECT_EQ(e.retryAfter, c.retryAfter) << c.report;
        EXPECT_EQ(e.message, "too many attempts; wait a moment");
    }
}

TEST(AccountClientService, BrokenAndMissingReplies) {
    Space space(testName());
    Client client(space.api());
    Account account;
    Tokens tokens;
    std::vector<Realm> realms;
    auto realmsCall = [&] { return client.realms(realms); };
    auto loginCall = [&] { return client.login(kDemoEmail, kDemoPassword, nullptr, account, tokens); };
    // (API path, fault, call, kind, message or its start)
    struct Case {
        const char* path;
        const char* fault;
        std::function<Error()> call;
        ErrorKind kind;
        int32_t status;
        std::string message;
    } cases[] = {
        {"realms", "drop", realmsCall, ErrorKind::transport, 0, "could not reach the account service ("},
        {"realms", "garbage", realmsCall, ErrorKind::transport, 0, "could not reach the account service ("},
        {"realms", "status:500", realmsCall, ErrorKind::server_error, 500, "the account service had an error"},
        {"realms", "status:502,badjson", realmsCall, ErrorKind::server_error, 502, "the account service had an error"},
        {"realms", "redirect", realmsCall, ErrorKind::protocol, 302, "the account service refused the request"},
        {"realms", "badjson", realmsCall, ErrorKind::protocol, 0, "unreadable reply"},
        {"realms", "big:1100000", realmsCall, ErrorKind::protocol, 0, "unreadable reply"},
        {"auth/login", "badjson", loginCall, ErrorKind::protocol, 0,
         "the account service sent a reply this launcher could not read"},
        {"auth/login", "big:2000000", loginCall, ErrorKind::protocol, 0,
         "the account service sent a reply this launcher could not read"},
    };
    for (const Case& c : cases) {
        space.fault(c.path, c.fault);
        Error e = c.call();
        EXPECT_EQ(errorKindName(e.kind), std::string(errorKindName(c.kind))) << c.path << " " << c.fault;
        EXPECT_EQ(e.status, c.status) << c.fault;
        EXPECT_EQ(e.message.compare(0, c.message.size(), c.message), 0) << c.fault << ": " << e.message;
    }
    // A 2xx that lacks what the call is for.
    PlaySession session;
    Challenge challenge;
    struct Hollow {
        const char* path;
        std::function<Error()> call;
        const char* message;
    } hollow[] = {
        {"auth/login", loginCall, "the account service returned no access token"},
        {"auth/refresh", [&] { return client.refresh("rt_x", tokens); },
         "the account service returned no access token"},
        {"play/sessions", [&] { return client.playSession("at_x", "test-realm", "", session); },
         "the account service returned no play session"},
        {"captcha/challenge", [&] { return client.challenge("login", challenge); },
         "the account service returned an empty challenge"},
    };
    for (const Hollow& h : hollow) {
        space.control(std::string(R"({"force": {"status": 200, "error": "", "path": ")") + h.path + "\"}}");
        Error e = h.call();
        EXPECT_EQ(e.kind, ErrorKind::protocol) << h.path;
        EXPECT_EQ(e.message, h.message) << h.path;
    }

    // Nothing listens: a transport failure, not a hang.
    Client nowhere("http://127.0.0.1:1");
    Error e = nowhere.realms(realms);
    EXPECT_EQ(e.kind, ErrorKind::transport);
    EXPECT_EQ(e.status, 0);
    // Every fault was used up, and the service answers again.
    EXPECT_TRUE(client.realms(realms).ok());
}
