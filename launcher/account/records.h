// What the account service sends and what the launcher answers with: the
// reply records, the challenge records and the error every call returns.
// Missing or wrongly typed JSON members give empty strings, 0 or false.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ember::launcher::account {

struct Account {
    std::string publicId;
    std::string displayName;
    std::string status;
    std::string message;  // filled only by registration
    int64_t profileId = 0;
};

struct Tokens {
    std::string accessToken;
    std::string refreshToken;
    int64_t accessExpiresIn = 0;   // seconds
    int64_t refreshExpiresIn = 0;  // seconds
};

struct Realm {
    std::string key;
    std::string name;
    std::string host;
    uint32_t port = 0;
    uint32_t players = 0;
    uint32_t maxPlayers = 0;
    bool online = false;
    std::string lastSeen;
};

struct Character {
    std::string id;
    std::string name;
    uint32_t slot = 0;
};

struct CharacterList {
    std::vector<Character> characters;
    uint32_t maxSlots = 3;
    uint32_t used = 0;
};

struct NameCheck {
    bool valid = false;
    bool available = false;
    std::string reason;
};

struct Identity {
    Account account;
    std::string email;
    bool emailVerified = false;
    std::vector<Character> characters;
};

struct PlaySession {
    std::string session;
    std::string characterId;
    std::string displayName;
    std::string host;
    int64_t port = 0;
    std::string expiresAt;
};

// An anti-abuse challenge: a proof-of-work ("pow") and/or a picture code
// ("visual") under one token.
struct Challenge {
    std::string token;
    std::string alg;
    std::string salt;  // hex
    std::string purpose;
    std::string answerMode;
    uint32_t difficulty = 0;  // leading zero bits wanted
    uint64_t maxIters = 0;    // 0: 16 << difficulty
    int64_t expiresAt = 0;    // Unix seconds; 0: no limit
    std::vector<std::string> layers;
};

// What the service wants before it will go on.
struct Demand {
    std::vector<std::string> required;  // "pow" and/or "visual"
    std::string widgetUrl;
    Challenge challenge;
    // Whether the demand names that layer ("pow", "visual").
    bool needs(const char* layer) const {
        for (const std::string& r : required) {
            if (r == layer) return true;
        }
        return false;
    }
};

// The answer, sent as the "captcha" member of a sign-in or registration.
struct Solution {
    bool hasPow = false;
    std::string powToken;
    uint64_t powN = 0;
    bool hasVisual = false;
    std::string visualToken;
    std::string visualAnswer;
};

enum class ErrorKind : int32_t {
    ok = 0,
    transport = 1,
    protocol = 2,
    unauthorized = 3,
    invalid_credentials = 4,
    captcha_required = 5,
    captcha_failed = 6,
    rate_limited = 7,
    account_locked = 8,
    banned = 9,
    email_taken = 10,
    display_name_taken = 11,
    weak_password = 12,
    character_limit = 13,
    service_unavailable = 14,
    server_error = 15,
    not_found = 16,
    bad_request = 17,
    challenge_expired = 18,
    account_pending = 19,
    registration_closed = 20,
};

// "ok", "transport", ...; "?" outside the table.
const char* errorKindName(ErrorKind kind);
// The text shown when the reply carries no "message".
const char* defaultMessage(ErrorKind kind);

struct Error {
    ErrorKind kind = ErrorKind::ok;
    int32_t status = 0;       // HTTP status of a non-2xx reply
    std::string code;         // the reply's "error"
    std::string message;
    Demand demand;            // captcha_required only
    double retryAfter = 0;    // seconds; 0 when absent
    std::string reason;       // banned only
    std::string until;        // banned only
    bool ok() const { return kind == ErrorKind::ok; }
};

}  // namespace ember::launcher::account
