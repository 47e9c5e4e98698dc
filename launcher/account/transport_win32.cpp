#include "launcher/account/client.h"

namespace ember::launcher::account {

Transport defaultTransport() { return [](const http::Request& request) { return http::request(request); }; }

}  // namespace ember::launcher::account
