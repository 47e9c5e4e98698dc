// The account service's REST client. Every call is one blocking exchange
// (JSON in, JSON out) and returns an Error; out-parameters are filled only
// on success. The client keeps no session: tokens are passed in. It is
// immutable once made and may be shared between threads.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "launcher/account/records.h"
#include "launcher/net/http.h"

namespace ember::launcher::account {

using Transport = std::function<http::Response(const http::Request&)>;

class Client {
public:
    // `baseUrl` loses its trailing '/'s. The transport defaults to
    // http::request.
    explicit Client(std::string baseUrl, Transport transport = {});

    const std::string& baseUrl() const { return baseUrl_; }
    // False for a plain-http address off this PC: every call is then
    // refused with kInsecureService before anything is sent.
    bool secure() const { return secure_; }

    Error login(const std::string& email, const std::string& password, const Solution* solution, Account& account,
                Tokens& tokens) const;
    // formLoadedAt: Unix seconds; 0 sends the current time.
    Error registerAccount(const std::string& email, const std::string& password, const std::string& displayName,
                          const Solution* solution, int64_t formLoadedAt, Account& account, Tokens& tokens) const;
    Error refresh(const std::string& refreshToken, Tokens& tokens) const;
    Error logout(const std::string& accessToken, const std::string& refreshToken) const;
    Error whoami(const std::string& accessToken, Identity& identity) const;
    Error resendActivation(const std::string& email, std::string& message) const;
    Error realms(std::vector<Realm>& realms) const;
    Error characters(const std::string& accessToken, const std::string& realmKey, CharacterList& list) const;
    Error createCharacter(const std::string& accessToken, const std::string& realmKey, const std::string& name,
                          CharacterList& list) const;
    Error deleteCharacter(const std::string& accessToken, const std::string& characterId, CharacterList& list) const;
    Error checkName(const std::string& realmKey, const std::string& name, NameCheck& check) const;
    Error playSession(const std::string& accessToken, const std::string& serverKey, const std::string& characterId,
                      PlaySession& session) const;
    Error challenge(const std::string& purpose, Challenge& challenge) const;
    Error challengeImage(const std::string& token, std::string& bytes) const;

private:
    std::string baseUrl_;
    bool secure_ = true;
    Transport transport_;
};

// What a Client uses when given no transport: http::request in the Windows
// build; in the native build (which has no WinHTTP) a transport that
// answers every request with Response::error kNoNetwork.
Transport defaultTransport();
inline constexpr const char kNoNetwork[] = "no network in this build";

// Whether a service address may carry a password or a sign-in: https, or
// plain http to this PC only (127.0.0.0/8, localhost, [::1]).
bool isSecureServiceUrl(const std::string& url);

// Whether a failed call says only that the service is out of reach for a
// moment: no answer, the service busy (503 and its codes), or a proxy's
// 502/504 in front of it. A saved sign-in outlives such a failure.
bool isPassingOutage(const Error& error);

// Client-made refusals (kind protocol) for what is not the network's fault.
inline constexpr const char kInsecureService[] =
    "the account service address is not https, and the launcher does not send passwords or sign-ins in clear";
inline constexpr const char kMalformedToken[] = "the account service sent a malformed token";
inline constexpr const char kBadSessionPort[] = "the account service sent a play session with an unusable port";
inline constexpr const char kRequestRefused[] = "the launcher refused to send the request (";  // + reason + ")"

// Keeps A-Z a-z 0-9 - . _ ~; every other byte becomes %XX (upper-case hex).
std::string urlEncode(const std::string& text);
// The error kind for a reply's "error" code and HTTP status.
ErrorKind classify(const std::string& code, int32_t status);

}  // namespace ember::launcher::account
