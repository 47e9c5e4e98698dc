// The account client's rules that need no service: escaping, the error
// table, and the requests it builds (seen through a transport that records
// them and answers from a table).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/account/challenge.h"
#include "launcher/account/client.h"

using namespace ember::launcher;
using namespace ember::launcher::account;

TEST(AccountClient, UrlEncodeKeepsOnlyUnreservedBytes) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"", ""},
        {"AZaz09-._~", "AZaz09-._~"},
        {"Jo Ann", "Jo%20Ann"},
        {"J\xC3\xB8rn", "J%C3%B8rn"},
        {"a&b=c/d?e+f%", "a%26b%3Dc%2Fd%3Fe%2Bf%25"},
        {std::string("\x00\xFF", 2), "%00%FF"},
    };
    for (const auto& c : cases) EXPECT_EQ(urlEncode(c.in), c.out) << c.in;
}

TEST(AccountClient, ClassifyByCodeThenStatus) {
    struct Case {
        const char* code;
        int32_t status;
        ErrorKind kind;
    } cases[] = {
        {"invalid_credentials", 401, ErrorKind::invalid_credentials},
        {"captcha_required", 400, ErrorKind::captcha_required},
        {"captcha_failed", 400, ErrorKind::captcha_failed},
        {"rate_limited", 400, ErrorKind::rate_limited},
        {"account_locked", 403, ErrorKind::account_locked},
        {"account_banned", 401, ErrorKind::banned},
        {"banned", 400, ErrorKind::banned},
        {"account_pending", 403, ErrorKind::account_pending},
        {"registration_closed", 403, ErrorKind::registration_closed},
        {"email_taken", 409, ErrorKind::email_taken},
        {"display_name_taken", 409, ErrorKind::display_name_taken},
        {"weak_password", 400, ErrorKind::weak_password},
        {"character_limit", 409, ErrorKind::character_limit},
        {"database_unavailable", 500, ErrorKind::service_unavailable},
        {"busy", 500, ErrorKind::service_unavailable},
        {"registration_paused", 500, ErrorKind::service_unavailable},
        {"draining", 500, ErrorKind::service_unavailable},
        {"refresh_reused", 401, ErrorKind::unauthorized},
        {"refresh_reused", 400, ErrorKind::unauthorized},
        {"challenge_expired", 400, ErrorKind::challenge_expired},
        {"", 401, ErrorKind::unauthorized},
        {"", 403, ErrorKind::banned},
        {"", 404, ErrorKind::not_found},
        {"", 409, ErrorKind::bad_request},
        {"", 423, ErrorKind::account_locked},
        {"", 428, ErrorKind::captcha_required},
        {"", 429, ErrorKind::rate_limited},
        {"", 503, ErrorKind::service_unavailable},
        {"unknown", 400, ErrorKind::bad_request},
        {"", 302, ErrorKind::protocol},
        {"", 100, ErrorKind::protocol},
        {"", 418, ErrorKind::bad_request},
        {"", 500, ErrorKind::server_error},
        {"", 502, ErrorKind::server_error},
        {"Captcha_Required", 500, ErrorKind::server_error},  // codes are exact
    };
    for (const auto& c : cases) {
        EXPECT_EQ(classify(c.code, c.status), c.kind) << c.code << " " << c.status;
    }
}

namespace {

// Answers every request with one canned response and keeps what was sent.
struct Recorder {
    std::vector<http::Request> sent;
    http::Response answer;
    Transport transport() {
        return [this](const http::Request& r) {
            sent.push_back(r);
            return answer;
        };
    }
};

http::Response reply(int32_t status, std::string body, std::map<std::string, std::string> headers = {}) {
    http::Response r;
    r.status = status;
    r.body = std::move(body);
    r.headers = std::move(headers);
    return r;
}

}  // namespace

TEST(AccountClient, ErrorRepliesFillTheRecord) {
    Recorder rec;
    Client client("https://accounts.example///", rec.transport());
    EXPECT_EQ(client.baseUrl(), "https://accounts.example");
    std::vector<Realm> realms;
    struct Case {
        http::Response answer;
        ErrorKind kind;
        double retryAfter;
        std::string message, reason, until;
    } cases[] = {
        {reply(429, "{\"error\":\"rate_limited\",\"retryAfter\":12}", {{"retry-after", "30"}}),
         ErrorKind::rate_limited, 12, "too many attempts; wait a moment", "", ""},
        {reply(429, "{}", {{"retry-after", "30"}}), ErrorKind::rate_limited, 30, "too many attempts; wait a moment",
         "", ""},
        {reply(429, "{}", {{"retry-after", "Wed, 21 Oct 2026 07:28:00 GMT"}}), ErrorKind::rate_limited, 0,
         "too many attempts; wait a moment", "", ""},
        {reply(429, "{\"retryAfter\":-7}", {{"retry-after", "inf"}}), ErrorKind::rate_limited, 0,
         "too many attempts; wait a moment", "", ""},
        {reply(403, "{\"error\":\"account_banned\",\"message\":\"x\",\"expiresAt\":\"2027-01-01\"}"), ErrorKind::banned,
         0, "x", "x", "2027-01-01"},
        {reply(403, "{\"error\":\"banned\",\"reason\":\"cheating\"}"), ErrorKind::banned, 0, "this account is banned",
         "cheating", ""},
        {reply(500, "<html>oops</html>"), ErrorKind::server_error, 0, "the account service had an error", "", ""},
        {reply(302, ""), ErrorKind::protocol, 0, "the account service refused the request", "", ""},
    };
    for (const auto& c : cases) {
        rec.answer = c.answer;
        Error e = client.realms(realms);
        EXPECT_EQ(e.kind, c.kind) << c.answer.body;
        EXPECT_EQ(e.status, c.answer.status);
        EXPECT_EQ(e.retryAfter, c.retryAfter) << c.answer.body;
        EXPECT_EQ(e.message, c.message) << c.answer.body;
        EXPECT_EQ(e.reason, c.reason);
        EXPECT_EQ(e.until, c.until);
    }
    EXPECT_EQ(rec.sent.back().url, "https://accounts.example/api/v1/realms");

    rec.answer = http::Response{};
    rec.answer.error = "timed out";
    Error e = client.realms(realms);
    EXPECT_EQ(e.kind, ErrorKind::transport);
    EXPECT_EQ(e.message, "could not reach the account service (timed out)");
}

TEST(AccountClient, CaptchaDemandIsRead) {
    Recorder rec;
    Client client("https://x", rec.transport());
    rec.answer = reply(428, R"({"error":"captcha_required","captcha":{"required":["pow","visual",7],
        "widgetUrl":"http://x/w","challenge":{"token":"t1","alg":"SHA-256","salt":"abcd","difficulty":12.9,
        "maxIters":1e300,"expiresAt":1700000000,"layers":["pow","visual"]}}})");
    Account account;
    Tokens tokens;
    Error e = client.login("a@b.c", "pw", nullptr, account, tokens);
    ASSERT_EQ(e.kind, ErrorKind::captcha_required);
    EXPECT_EQ(e.demand.required, (std::vector<std::string>{"pow", "visual", ""}));
    EXPECT_EQ(e.demand.widgetUrl, "http://x/w");
    EXPECT_EQ(e.demand.challenge.token, "t1");
    EXPECT_EQ(e.demand.challenge.difficulty, 12u);
    EXPECT_EQ(e.demand.challenge.maxIters, UINT64_MAX);
    EXPECT_EQ(e.demand.challenge.expiresAt, 1700000000);
    EXPECT_EQ(e.demand.challenge.layers.size(), 2u);
}

TEST(AccountClient, RequestsCarryTheirShape) {
    Recorder rec;
    Client client("https://x/", rec.transport());
    rec.answer = reply(200, "{}");
    Solution both;
    both.hasPow = true;
    both.powToken = "tok";
    both.powN = 4242;
    both.hasVisual = true;
    both.visualToken = "tok";
    both.visualAnswer = "012345";
    Solution none;
    Account account;
    Tokens tokens;
    client.login("  Mixed@Case.COM ", " pw ", &both, account, tokens);
    client.login("a@b.c", "pw", &none, account, tokens);
    client.registerAccount("A@B.C", "pw", "  Name ", nullptr, 1700000000, account, tokens);
    Tokens refreshed;
    Error e = client.refresh("", refreshed);
    EXPECT_EQ((e.kind == ErrorKind::unauthorized && e.message == "no saved sign-in"), true);
    client.logout("acc", "");
    CharacterList list;
    client.characters("acc", "", list);
    client.deleteCharacter("acc", "id/1 2", list);
    NameCheck check;
    client.checkName("", " J\xC3\xB8rn Ann ", check);
    PlaySession session;
    client.playSession("acc", "realm", "", session);

    struct Want {
        const char* method;
        const char* url;
        const char* body;
        const char* bearer;
    } want[] = {
        {"POST", "https://x/api/v1/auth/login",
         R"({"email":"mixed@case.com","password":" pw ","captcha":{"pow":{"token":"tok","n":4242},"visual":{"token":"tok","answer":"012345"}}})",
         ""},
        {"POST", "https://x/api/v1/auth/login", R"({"email":"a@b.c","password":"pw"})", ""},
        {"POST", "https://x/api/v1/auth/register",
         R"({"email":"a@b.c","password":"pw","displayName":"Name","hp":"","formLoadedAt":1700000000})", ""},
        {"POST", "https://x/api/v1/auth/logout", "{}", "acc"},
        {"GET", "https://x/api/v1/characters", "", "acc"},
        {"DELETE", "https://x/api/v1/characters/id%2F1%202", "", "acc"},
        {"GET", "https://x/api/v1/characters/available?name=J%C3%B8rn%20Ann", "", ""},
        {"POST", "https://x/api/v1/play/sessions", R"({"serverKey":"realm"})", "acc"},
    };
    ASSERT_EQ(rec.sent.size(), sizeof want / sizeof want[0]);
    for (size_t i = 0; i < rec.sent.size(); ++i) {
        const http::Request& r = rec.sent[i];
        EXPECT_EQ(r.method, want[i].method) << i;
        EXPECT_EQ(r.url, want[i].url) << i;
        EXPECT_EQ(r.body, want[i].body) << i;
        EXPECT_EQ(r.bearer, want[i].bearer) << i;
        EXPECT_EQ(r.maxBytes, 1048576u);
        EXPECT_EQ(r.timeoutMs, 20000u);
        EXPECT_EQ(r.contentType, "application/json");
    }
}

TEST(AccountClient, PlainHttpIsRefusedOffThisPcBeforeAnythingIsSent) {
    struct Case {
        const char* base;
        bool sent;
    } cases[] = {
        {"https://accounts.example", true},
        {"HTTPS://accounts.example", true},
        {"http://127.0.0.1:8080", true},
        {"http://127.5.6.7/", true},
        {"http://localhost:9000/x", true},
        {"HTTP://LOCALHOST", true},
        {"http://[::1]:8080", true},
        {"http://accounts.example", false},
        {"http://127.0.0.1.evil.example", false},
        {"http://127.0.0.1@evil.example", false},
        // The connection takes the host after the last '@' before the first
        // '/': these go to evil.example, not to this PC.
        {"http://127.0.0.1#@evil.example/", false},
        {"http://127.0.0.1?@evil.example/", false},
        {"http://127.0.0.1#@2130706433:19110/m/ok", false},
        {"http://127.0.0.1\\@evil.example/", false},
        {"http://localhost.evil.example/", false},
        {"http://128.0.0.1", false},
        {"http://127.0.0.256", false},
        {"http://[::1].evil.example", false},
        {"ftp://127.0.0.1", false},
        {"accounts.example", false},
    };
    for (const auto& c : cases) {
        Recorder rec;
        rec.answer = reply(200, R"({"accessToken":"a","refreshToken":"r"})");
        Client client(c.base, rec.transport());
        EXPECT_EQ(client.secure(), c.sent) << c.base;
        Account account;
        Tokens tokens;
        Error e = client.login("a@b.c", "secret", nullptr, account, tokens);
        Error r = client.refresh("saved-token", tokens);
        EXPECT_EQ(rec.sent.size(), c.sent ? 2u : 0u) << c.base << ": the password or token went out";
        if (!c.sent) {
            for (const Error& refused : {e, r}) {
                EXPECT_EQ(refused.kind, ErrorKind::protocol) << c.base;
                EXPECT_EQ(refused.message, kInsecureService) << c.base;
            }
        }
    }
}

TEST(AccountClient, AMalformedTokenIsTheServicesFaultNotTheNetworks) {
    Recorder rec;
    Client client("https://x", rec.transport());
    const char* replies[] = {
        R"({"accessToken":"a\r\nX-Injected: 1","refreshToken":"r"})",
        R"({"accessToken":"a","refreshToken":"r\nX"})",
        R"({"accessToken":"a b","refreshToken":"r"})",
        R"({"accessToken":"a\u00e9","refreshToken":"r"})",
    };
    for (const char* body : replies) {
        rec.answer = reply(200, body);
        Account account;
        Tokens tokens;
        Error e = client.login("a@b.c", "pw", nullptr, account, tokens);
        EXPECT_EQ(e.kind, ErrorKind::protocol) << body;
        EXPECT_EQ(e.message, kMalformedToken) << body;
        EXPECT_EQ(tokens.accessToken, "") << body;
        e = client.refresh("saved", tokens);
        EXPECT_EQ(e.message, kMalformedToken) << body;
    }
    // A token that would break its header line is refused by the HTTP layer
    // before sending: still not "could not reach".
    rec.answer = http::Response{};
    rec.answer.error = std::string(http::kBadHeaderField) + "Authorization";
    Identity identity;
    Error e = client.whoami("x", identity);
    EXPECT_EQ(e.kind, ErrorKind::protocol);
    EXPECT_EQ(e.message, "the launcher refused to send the request (refused to send a request with a malformed "
                         "Authorization)");
}

TEST(AccountClient, APlaySessionPortIsCheckedAsSent) {
    Recorder rec;
    Client client("https://x", rec.transport());
    struct Case {
        const char* port;
        int64_t want;  // -1: refused
    } cases[] = {
        {"7790", 7790},       {"1", 1},           {"65535", 65535},     {"null", 0},
        {"4294977295", -1},   {"-4294957297", -1}, {"4294967296", -1},  {"9999.9", -1},
        {"0", -1},            {"65536", -1},      {"\"7790\"", -1},
    };
    for (const Case& c : cases) {
        rec.answer = reply(200, std::string(R"({"session":"s","server":{"host":"h","port":)") + c.port + "}}");
        PlaySession session;
        Error e = client.playSession("acc", "realm", "", session);
        if (c.want < 0) {
            EXPECT_EQ(e.kind, ErrorKind::protocol) << c.port;
            EXPECT_EQ(e.message, kBadSessionPort) << c.port;
            EXPECT_EQ(session.session, "") << c.port;
        } else {
            EXPECT_TRUE(e.ok()) << c.port << ": " << e.message;
            EXPECT_EQ(session.port, c.want) << c.port;
        }
    }
    // No port at all leaves the realm's own.
    rec.answer = reply(200, R"({"session":"s","server":{"host":"h"}})");
    PlaySession session;
    EXPECT_TRUE(client.playSession("acc", "realm", "", session).ok());
    EXPECT_EQ(session.port, 0);
}
