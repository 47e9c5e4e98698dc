// The native build has no per-user secret store that stands in for the Data
// Protection API. Writing the refresh token readable would be worse than not
// keeping it, so protection fails: nothing is saved, the player stays signed
// in for the run only, and a protected file reads as "no saved sign-in". The
// file format and its reading rules are still exercised by the native tests.
#include "launcher/account/signin.h"

namespace ember::launcher::account {

bool protectForUser(const std::string&, std::string&) { return false; }

bool unprotectForUser(const std::string&, std::string&) { return false; }

}  // namespace ember::launcher::account
