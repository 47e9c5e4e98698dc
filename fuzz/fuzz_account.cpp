// Fuzz entry point: what the account service sends back, and account.json.
// The first byte picks the reader, the rest is the reply body (or the
// file's text). Besides not crashing, an accepted reply must hold what the
// launcher relies on: tokens that fit in a header line, a play session with
// a token, a challenge with a token, and every refusal a kind with a
// message.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "launcher/account/challenge.h"
#include "launcher/account/client.h"
#include "launcher/account/signin.h"

using namespace ember::launcher;
using namespace ember::launcher::account;

namespace {

void require(bool condition) {
    if (!condition) std::abort();
}

bool fitsAHeader(const std::string& token) {
    for (char c : token) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F) return false;
    }
    return true;
}

// Every refusal has a kind with a name and a message to show.
void checkError(const Error& e) {
    if (e.ok()) return;
    require(static_cast<int>(e.kind) >= 1 && static_cast<int>(e.kind) <= 20);
    require(!e.message.empty());
    require(e.retryAfter >= 0 && e.retryAfter == e.retryAfter);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t selector = data[0];
    const std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);

    // account.json.
    if (selector % 8 == 7) {
        SavedSignIn record;
        if (readSignIn(body, record)) require(!record.refreshToken.empty());
        (void)base64Decode(body);
        require(base64Decode(base64Encode(body)) == body);
        return 0;
    }

    // A reply: the status from the selector's high bits, so refusals of
    // every class are read too.
    static const int32_t kStatuses[] = {200, 201, 400, 401, 403, 428, 429, 503};
    http::Response response;
    response.status = kStatuses[(selector >> 3) % 8];
    response.body = body;
    if (selector & 0x40) response.headers["retry-after"] = body.substr(0, 12);
    Client client("https://accounts.test", [&response](const http::Request&) { return response; });

    switch (selector % 8) {
        case 0: {
            Challenge challenge;
            Error e = client.challenge("login", challenge);
            checkError(e);
            if (e.ok()) {
                require(!challenge.token.empty() && !challenge.purpose.empty());
                // A hostile demand ends within its budget or the time limit.
                Challenge bounded = challenge;
                if (bounded.maxIters == 0 || bounded.maxIters > 4096) bounded.maxIters = 4096;
                uint64_t n = 0;
                (void)solvePow(bounded, n);
            }
            break;
        }
        case 1: {
            Account account;
            Tokens tokens;
            Error e = client.login("a@b.test", "pw", nullptr, account, tokens);
            checkError(e);
            if (e.ok()) require(!tokens.accessToken.empty() && fitsAHeader(tokens.accessToken) &&
                                fitsAHeader(tokens.refreshToken));
            if (e.kind == ErrorKind::captcha_required) (void)solutionToJson(Solution{});
            break;
        }
        case 2: {
            std::vector<Realm> realms;
            checkError(client.realms(realms));
            break;
        }
        case 3: {
            CharacterList list;
            checkError(client.characters("token", "realm", list));
            CharacterList kept;
            checkError(client.deleteCharacter("token", "id", kept));
            break;
        }
        case 4: {
            PlaySession session;
            Error e = client.playSession("token", "realm", "c1", session);
            checkError(e);
            if (e.ok()) require(!session.session.empty());
            break;
        }
        case 5: {
            Identity identity;
            checkError(client.whoami("token", identity));
            NameCheck check;
            checkError(client.checkName("realm", "Name", check));
            break;
        }
        case 6: {
            Tokens tokens;
            Error e = client.refresh("saved", tokens);
            checkError(e);
            if (e.ok()) require(fitsAHeader(tokens.accessToken) && fitsAHeader(tokens.refreshToken));
            Account account;
            checkError(client.registerAccount("a@b.test", "pw", "Name", nullptr, 1, account, tokens));
            break;
        }
        default: break;
    }
    return 0;
}
