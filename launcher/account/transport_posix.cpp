// The native build has no WinHTTP: its tests hand the client a transport of
// their own, and anything that forgets to gets a clear failure instead of a
// link error.
#include "launcher/account/client.h"

namespace ember::launcher::account {

Transport defaultTransport() {
    return [](const http::Request&) {
        http::Response response;
        response.error = kNoNetwork;
        return response;
    };
}

}  // namespace ember::launcher::account
