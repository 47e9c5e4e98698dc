// What the sign-in half and the realm half of the account actions share
// inside the controller library (the screens use accounts.h).
#pragma once

#include <string>

#include "launcher/account/records.h"
#include "launcher/app/kinds.h"

namespace ember::launcher::app {

inline constexpr const char kNoServiceRegister[] = "This realm has no account service.";

// "kind: message" of an account error, for the log.
std::string errorText(const account::Error& e);
// Replaces the sign-in form's message.
void formMessage(Tone tone, const std::string& title, const std::string& detail = "",
                 const std::string& actionLabel = "", FormAction action = FormAction::none);
// The character list's status (the count follows the list unless it is in).
void setCharactersStatus(CharactersStatus status);

}  // namespace ember::launcher::app
