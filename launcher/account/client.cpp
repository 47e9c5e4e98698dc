// The account service client: one blocking exchange per call through the
// transport (http::request in the program), JSON both ways, and every
// failure turned into an Error the controller can act on.
#include "launcher/account/client.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <utility>

#include "launcher/account/challenge.h"
#include "launcher/account/json_read.h"
#include "base/log.h"
#include "base/text.h"

namespace ember::launcher::account {

namespace {

constexpr uint32_t kTimeoutMs = 20000;
constexpr uint64_t kMaxReply = 1048576;  // account replies are small; 1 MiB is plenty

// Client-made messages, for replies that arrived but say nothing usable.
constexpr const char kUnreadableSignIn[] = "the account service sent a reply this launcher could not read";
constexpr const char kNoAccessToken[] = "the account service returned no access token";
constexpr const char kUnreadable[] = "unreadable reply";
constexpr const char kNoSavedSignIn[] = "no saved sign-in";
constexpr const char kNoPlaySession[] = "the account service returned no play session";
constexpr const char kEmptyChallenge[] = "the account service returned an empty challenge";
constexpr const char kPendingMessage[] =
    "Check your email for the activation link. The account works once you have followed it.";
constexpr const char kResendMessage[] =
    "If that email has an account waiting for activation, a new link is on its way.";
constexpr const char kTransportPrefix[] = "could not reach the account service (";

constexpr const char kApi[] = "/api/v1/";

struct Call {
    const char* method = "GET";
    std::string path;   // after /api/v1/
    std::string query;  // without '?'
    bool hasBody = false;
    JsonValue body;
    std::string bearer;
    bool image = false;
};

std::string emailForm(const std::string& email) { return asciiLower(trim(email)); }

// A wait the player will see counted down: a finite number of seconds, never
// negative (a hostile "retryAfter": -5 or a header of "inf" reads as none).
double sanePause(double seconds) { return std::isfinite(seconds) && seconds > 0 ? seconds : 0; }

Error clientError(ErrorKind kind, const char* message) {
    Error error;
    error.kind = kind;
    error.message = message;
    return error;
}

// The common call: sends the request and classifies anything but a 2xx
// reply. On success `reply` holds the body.
Error call(const std::string& baseUrl, const Transport& transport, const Call& spec, std::string& reply) {
    // A password or a token never goes over plain http to another machine.
    if (!isSecureServiceUrl(baseUrl)) return clientError(ErrorKind::protocol, kInsecureService);
    http::Request request;
    request.method = spec.method;
    request.url = baseUrl + kApi + spec.path;
    if (!spec.query.empty()) request.url += "?" + spec.query;
    if (spec.hasBody) request.body = writeJson(spec.body, 0);
    request.contentType = "application/json";
    request.accept = spec.image ? "image/png" : "application/json";
    request.bearer = spec.bearer;
    request.timeoutMs = kTimeoutMs;
    request.maxBytes = kMaxReply;
    http::Response response = transport(request);

    Error error;
    // Not sent because a field would have broken its header line: the
    // request was at fault (a token the service sent), not the network.
    if (response.status == 0 && response.error.rfind(http::kBadHeaderField, 0) == 0) {
        error.kind = ErrorKind::protocol;
        error.message = kRequestRefused + response.error + ")";
        return error;
    }
    // No answer at all.
    if (!response.error.empty() && response.status == 0) {
        error.kind = ErrorKind::transport;
        error.message = kTransportPrefix + response.error + ")";
        return error;
    }
    // Any 2xx is success; the operation reads the body (a reply cut at the
    // size cap then fails to parse there).
    if (response.status >= 200 && response.status <= 299) {
        reply = std::move(response.body);
        return error;
    }

    // A refusal: the service's code and message when it sent JSON, else the
    // status alone.
    error.status = response.status;
    JsonValue doc;
    std::string parseError;
    bool parsed = parseJson(response.body, doc, parseError);
    if (parsed) {
        error.code = getString(doc, "error");
        error.message = getString(doc, "message");
    }
    error.kind = classify(error.code, response.status);
    if (error.kind == ErrorKind::captcha_required) {
        const JsonValue& captcha = member(doc, "captcha");
        for (const JsonValue& layer : member(captcha, "required").items) {
            error.demand.required.push_back(layer.asString());
        }
        error.demand.widgetUrl = getString(captcha, "widgetUrl");
        error.demand.challenge = challengeFromJson(member(captcha, "challenge"));
    }
    if (error.kind == ErrorKind::banned) {
        error.reason = getString(doc, "reason");
        if (error.reason.empty()) error.reason = error.message;
        error.until = getString(doc, "expiresAt");
    }
    // The body's figure is the precise one; the header (whole seconds, or a
    // date that reads as 0) only stands in when the body has none.
    error.retryAfter = sanePause(getNumber(doc, "retryAfter"));
    if (error.retryAfter == 0) {
        auto header = response.headers.find("retry-after");
        if (header != response.headers.end()) error.retryAfter = sanePause(std::atof(header->second.c_str()));
    }
    if (error.message.empty()) error.message = defaultMessage(error.kind);
    return error;
}

bool parseReply(const std::string& text, JsonValue& doc) {
    std::string parseError;
    return parseJson(text, doc, parseError);
}

// The common call for a reply that must be JSON: "unreadable reply" when a
// successful reply is not.
Error callForJson(const std::string& baseUrl, const Transport& transport, const Call& spec, JsonValue& doc) {
    std::string reply;
    Error error = call(baseUrl, transport, spec, reply);
    if (!error.ok()) return error;
    if (!parseReply(reply, doc)) return clientError(ErrorKind::protocol, kUnreadable);
    return {};
}

Account accountFrom(const JsonValue& object) {
    Account account;
    account.publicId = getString(object, "publicId");
    account.displayName = getString(object, "displayName");
    account.status = getString(object, "status");
    account.profileId = getInt(object, "profileId");
    return account;
}

Tokens tokensFrom(const JsonValue& root) {
    Tokens tokens;
    tokens.accessToken = getString(root, "accessToken");
    tokens.refreshToken = getString(root, "refreshToken");
    tokens.accessExpiresIn = getInt(root, "accessExpiresIn");
    tokens.refreshExpiresIn = getInt(root, "refreshExpiresIn");
    return tokens;
}

uint32_t getU32(const JsonValue& object, const char* key) {
    return static_cast<uint32_t>(getUnsigned(object, key, std::numeric_limits<uint32_t>::max()));
}

std::vector<Character> charactersFrom(const JsonValue& array) {
    std::vector<Character> out;
    for (const JsonValue& item : array.items) {
        Character c;
        c.id = getString(item, "id");
        c.name = getString(item, "name");
        c.slot = getU32(item, "slot");
        out.push_back(std::move(c));
    }
    return out;
}

CharacterList characterListFrom(const JsonValue& root) {
    CharacterList list;
    list.characters = charactersFrom(member(root, "characters"));
    if (member(root, "maxSlots").isNumber()) list.maxSlots = getU32(root, "maxSlots");
    list.used = getU32(root, "used");
    return list;
}

// A token goes into a header line and into account.json: printable ASCII
// without spaces, as bearer tokens are.
bool wellFormedToken(const std::string& token) {
    for (char c : token) {
        auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F) return false;
    }
    return true;
}

// The checks every reply carrying tokens passes.
Error checkTokens(const Tokens& got) {
    if (got.accessToken.empty()) return clientError(ErrorKind::protocol, kNoAccessToken);
    if (!wellFormedToken(got.accessToken) || !wellFormedToken(got.refreshToken)) {
        return clientError(ErrorKind::protocol, kMalformedToken);
    }
    return {};
}

// Sign-in and registration share the reply: the account and its tokens.
Error signedIn(const std::string& reply, Account& account, Tokens& tokens) {
    JsonValue doc;
    if (!parseReply(reply, doc)) return clientError(ErrorKind::protocol, kUnreadableSignIn);
    Tokens got = tokensFrom(doc);
    if (Error bad = checkTokens(got); !bad.ok()) return bad;
    account = accountFrom(member(doc, "account"));
    tokens = std::move(got);
    return {};
}

void setCaptcha(JsonValue& body, const Solution* solution) {
    if (solution && hasAnyPart(*solution)) set(body, "captcha", solutionToJson(*solution));
}

JsonValue text(const std::string& value) { return JsonValue::makeString(value); }

}  // namespace

Client::Client(std::string baseUrl, Transport transport)
    : baseUrl_(std::move(baseUrl)), transport_(transport ? std::move(transport) : defaultTransport()) {
    // Paths start with exactly one '/'.
    while (!baseUrl_.empty() && baseUrl_.back() == '/') baseUrl_.pop_back();
    secure_ = isSecureServiceUrl(baseUrl_);
}

Error Client::login(const std::string& email, const std::string& password, const Solution* solution,
                    Account& account, Tokens& tokens) const {
    Call spec;
    spec.method = "POST";
    spec.path = "auth/login";
    spec.hasBody = true;
    set(spec.body, "email", text(emailForm(email)));
    set(spec.body, "password", text(password));
    setCaptcha(spec.body, solution);
    std::string reply;
    Error error = call(baseUrl_, transport_, spec, reply);
    return error.ok() ? signedIn(reply, account, tokens) : error;
}

Error Client::registerAccount(const std::string& email, const std::string& password, const std::string& displayName,
                              const Solution* solution, int64_t formLoadedAt, Account& account,
                              Tokens& tokens) const {
    std::string name(trim(displayName));
    Call spec;
    spec.method = "POST";
    spec.path = "auth/register";
    spec.hasBody = true;
    set(spec.body, "email", text(emailForm(email)));
    set(spec.body, "password", text(password));
    set(spec.body, "displayName", text(name));
    setCaptcha(spec.body, solution);
    // The honeypot a person never fills in, and when the form appeared.
    set(spec.body, "hp", text(""));
    set(spec.body, "formLoadedAt", JsonValue::makeInt(formLoadedAt != 0 ? formLoadedAt
                                                                        : unixSeconds()));
    std::string reply;
    Error error = call(baseUrl_, transport_, spec, reply);
    if (!error.ok()) return error;
    JsonValue doc;
    if (!parseReply(reply, doc)) return clientError(ErrorKind::protocol, kUnreadableSignIn);
    if (getString(doc, "status") == "pending") {
        // Waiting for the activation mail: no tokens yet.
        account = Account{};
        account.status = "pending";
        account.displayName = name;
        account.message = getString(doc, "message");
        if (account.message.empty()) account.message = kPendingMessage;
        tokens = Tokens{};
        return {};
    }
    return signedIn(reply, account, tokens);
}

Error Client::refresh(const std::string& refreshToken, Tokens& tokens) const {
    if (refreshToken.empty()) return clientError(ErrorKind::unauthorized, kNoSavedSignIn);
    Call spec;
    spec.method = "POST";
    spec.path = "auth/refresh";
    spec.hasBody = true;
    set(spec.body, "refreshToken", text(refreshToken));
    std::string reply;
    Error error = call(baseUrl_, transport_, spec, reply);
    if (!error.ok()) return error;
    JsonValue doc;
    parseReply(reply, doc);
    Tokens got = tokensFrom(doc);
    if (Error bad = checkTokens(got); !bad.ok()) return bad;
    tokens = std::move(got);
    return {};
}

Error Client::logout(const std::string& accessToken, const std::string& refreshToken) const {
    Call spec;
    spec.method = "POST";
    spec.path = "auth/logout";
    spec.hasBody = true;
    spec.body = JsonValue::makeObject();
    if (!refreshToken.empty()) set(spec.body, "refreshToken", text(refreshToken));
    spec.bearer = accessToken;
    std::string reply;
    return call(baseUrl_, transport_, spec, reply);
}

Error Client::whoami(const std::string& accessToken, Identity& identity) const {
    Call spec;
    spec.path = "auth/whoami";
    spec.bearer = accessToken;
    JsonValue doc;
    Error error = callForJson(baseUrl_, transport_, spec, doc);
    if (!error.ok()) return error;
    Identity got;
    got.account = accountFrom(member(doc, "account"));
    if (got.account.displayName.empty()) got.account.displayName = getString(doc, "displayName");
    got.email = getString(doc, "email");
    got.emailVerified = getBool(doc, "emailVerified");
    got.characters = charactersFrom(member(doc, "characters"));
    identity = std::move(got);
    return {};
}

Error Client::resendActivation(const std::string& email, std::string& message) const {
    Call spec;
    spec.method = "POST";
    spec.path = "auth/activation/resend";
    spec.hasBody = true;
    set(spec.body, "email", text(emailForm(email)));
    std::string reply;
    Error error = call(baseUrl_, transport_, spec, reply);
    if (!error.ok()) return error;
    JsonValue doc;
    parseReply(reply, doc);
    message = getString(doc, "message");
    if (message.empty()) message = kResendMessage;
    return {};
}

Error Client::realms(std::vector<Realm>& realms) const {
    Call spec;
    spec.path = "realms";
    JsonValue doc;
    Error error = callForJson(baseUrl_, transport_, spec, doc);
    if (!error.ok()) return error;
    std::vector<Realm> got;
    for (const JsonValue& item : member(doc, "realms").items) {
        Realm realm;
        realm.key = getString(item, "key");
        realm.name = getString(item, "name");
        realm.host = getString(item, "host");
        realm.port = getU32(item, "port");
        realm.players = getU32(item, "players");
        realm.maxPlayers = getU32(item, "maxPlayers");
        realm.online = getBool(item, "online");
        realm.lastSeen = getString(item, "lastSeen");
        got.push_back(std::move(realm));
    }
    realms = std::move(got);
    return {};
}

Error Client::characters(const std::string& accessToken, const std::string& realmKey, CharacterList& list) const {
    Call spec;
    spec.path = "characters";
    if (!realmKey.empty()) spec.query = "realm=" + urlEncode(realmKey);
    spec.bearer = accessToken;
    JsonValue doc;
    Error error = callForJson(baseUrl_, transport_, spec, doc);
    if (!error.ok()) return error;
    list = characterListFrom(doc);
    return {};
}

Error Client::createCharacter(const std::string& accessToken, const std::string& realmKey, const std::string& name,
                              CharacterList& list) const {
    Call spec;
    spec.method = "POST";
    spec.path = "characters";
    spec.hasBody = true;
    set(spec.body, "name", text(std::string(trim(name))));
    set(spec.body, "realm", text(realmKey));
    spec.bearer = accessToken;
    JsonValue doc;
    Error error = callForJson(baseUrl_, transport_, spec, doc);
    if (!error.ok()) return error;
    list = characterListFrom(doc);
    return {};
}

Error Client::deleteCharacter(const std::string& accessToken, const std::string& characterId,
                              CharacterList& list) const {
    Call spec;
    spec.method = "DELETE";
    spec.path = "characters/" + urlEncode(characterId);
    spec.bearer = accessToken;
    std::string reply;
    Error error = call(baseUrl_, transport_, spec, reply);
    if (!error.ok()) return error;
    // An empty 204 is success too; the caller's list then stays as it was.
    JsonValue doc;
    if (parseReply(reply, doc)) list = characterListFrom(doc);
    return {};
}

Error Client::checkName(const std::string& realmKey, const std::string& name, NameCheck& check) const {
    Call spec;
    spec.path = "characters/available";
    spec.query = "name=" + urlEncode(std::string(trim(name)));
    if (!realmKey.empty()) spec.query += "&realm=" + urlEncode(realmKey);
    JsonValue doc;
    Error error = callForJson(baseUrl_, transport_, spec, doc);
    if (!error.ok()) return error;
    check.valid = getBool(doc, "valid");
    check.available = getBool(doc, "available");
    check.reason = getString(doc, "reason");
    return {};
}

Error Client::playSession(const std::string& accessToken, const std::string& serverKey,
                          const std::string& characterId, PlaySession& session) const {
    Call spec;
    spec.method = "POST";
    spec.path = "play/sessions";
    spec.hasBody = true;
    set(spec.body, "serverKey", text(serverKey));
    if (!characterId.empty()) set(spec.body, "characterId", text(characterId));
    spec.bearer = accessToken;
    JsonValue doc;
    Error error = callForJson(baseUrl_, transport_, spec, doc);
    if (!error.ok()) return error;
    PlaySession got;
    got.session = getString(doc, "session");
    if (got.session.empty()) return clientError(ErrorKind::protocol, kNoPlaySession);
    got.characterId = getString(doc, "characterId");
    got.displayName = getString(doc, "displayName");
    const JsonValue& server = member(doc, "server");
    got.host = getString(server, "host");
    // The port as sent: a number that is not a whole 1-65535 is refused, not
    // narrowed into range. None (or null) leaves the realm's own.
    const JsonValue& port = member(server, "port");
    if (!port.isNull()) {
        if (!port.isNumber() || !port.isInteger || port.integer < 1 || port.integer > 65535) {
            return clientError(ErrorKind::protocol, kBadSessionPort);
        }
        got.port = port.integer;
    }
    got.expiresAt = getString(doc, "expiresAt");
    session = std::move(got);
    return {};
}

Error Client::challenge(const std::string& purpose, Challenge& challenge) const {
    Call spec;
    spec.path = "captcha/challenge";
    spec.query = "purpose=" + urlEncode(purpose);
    JsonValue doc;
    Error error = callForJson(baseUrl_, transport_, spec, doc);
    if (!error.ok()) return error;
    Challenge got = challengeFromJson(doc);
    if (got.token.empty()) return clientError(ErrorKind::protocol, kEmptyChallenge);
    if (got.purpose.empty()) got.purpose = purpose;
    challenge = std::move(got);
    return {};
}

Error Client::challengeImage(const std::string& token, std::string& bytes) const {
    Call spec;
    spec.path = "captcha/image";
    spec.query = "token=" + urlEncode(token);
    spec.image = true;
    std::string reply;
    Error error = call(baseUrl_, transport_, spec, reply);
    if (error.ok()) bytes = std::move(reply);
    return error;
}

bool isSecureServiceUrl(const std::string& url) {
    const std::string lower = asciiLower(url);
    if (startsWith(lower, "https://")) return true;
    if (!isWebAddress(lower)) return false;
    // Readers of an address disagree on where its host ends once it holds a
    // user part, a query or a fragment (the connection takes the host after
    // the last '@' before the first '/'), and the launcher appends paths to
    // the base: such a plain-http address is never taken for this PC.
    if (lower.find_first_of("@?#\\", 7) != std::string::npos) return false;
    const std::string authority = lower.substr(7, lower.find('/', 7) - 7);
    if (authority.rfind("[::1]", 0) == 0) return authority.size() == 5 || authority[5] == ':';
    std::string host = authority.substr(0, authority.find(':'));
    if (host == "localhost") return true;
    // 127.a.b.c, each part 0-255 in plain digits.
    int parts = 0;
    size_t start = 0;
    while (start <= host.size()) {
        size_t dot = host.find('.', start);
        if (dot == std::string::npos) dot = host.size();
        std::string part = host.substr(start, dot - start);
        if (part.empty() || part.size() > 3) return false;
        for (char c : part) {
            if (!isAsciiDigit(c)) return false;
        }
        int value = std::atoi(part.c_str());
        if (value > 255 || (parts == 0 && value != 127)) return false;
        ++parts;
        start = dot + 1;
    }
    return parts == 4;
}

bool isPassingOutage(const Error& error) {
    if (error.kind == ErrorKind::transport || error.kind == ErrorKind::service_unavailable) return true;
    return error.kind == ErrorKind::server_error && (error.status == 502 || error.status == 504);
}

std::string urlEncode(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        bool keep = isAsciiLetter(c) || isAsciiDigit(c) || c == '-' || c == '.' || c == '_' || c == '~';
        if (keep) {
            out += c;
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned>(static_cast<unsigned char>(c)));
            out += escaped;
        }
    }
    return out;
}

ErrorKind classify(const std::string& code, int32_t status) {
    // The service's own code first: it says more than the status.
    static const std::pair<const char*, ErrorKind> kCodes[] = {
        {"invalid_credentials", ErrorKind::invalid_credentials},
        {"captcha_required", ErrorKind::captcha_required},
        {"captcha_failed", ErrorKind::captcha_failed},
        {"rate_limited", ErrorKind::rate_limited},
        {"account_locked", ErrorKind::account_locked},
        {"account_banned", ErrorKind::banned},
        {"banned", ErrorKind::banned},
        {"account_pending", ErrorKind::account_pending},
        {"registration_closed", ErrorKind::registration_closed},
        {"email_taken", ErrorKind::email_taken},
        {"display_name_taken", ErrorKind::display_name_taken},
        {"weak_password", ErrorKind::weak_password},
        {"character_limit", ErrorKind::character_limit},
        {"database_unavailable", ErrorKind::service_unavailable},
        {"busy", ErrorKind::service_unavailable},
        {"registration_paused", ErrorKind::service_unavailable},
        {"draining", ErrorKind::service_unavailable},
        {"refresh_reused", ErrorKind::unauthorized},
        {"challenge_expired", ErrorKind::challenge_expired},
    };
    for (const auto& entry : kCodes) {
        if (code == entry.first) return entry.second;
    }
    switch (status) {
        case 401: return ErrorKind::unauthorized;
        case 403: return ErrorKind::banned;
        case 404: return ErrorKind::not_found;
        case 409: return ErrorKind::bad_request;
        case 423: return ErrorKind::account_locked;
        case 428: return ErrorKind::captcha_required;
        case 429: return ErrorKind::rate_limited;
        case 503: return ErrorKind::service_unavailable;
        default: break;
    }
    if (status < 400) return ErrorKind::protocol;
    if (status < 500) return ErrorKind::bad_request;
    return ErrorKind::server_error;
}

}  // namespace ember::launcher::account
