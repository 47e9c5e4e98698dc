#include "launcher/account/records.h"

namespace ember::launcher::account {

namespace {

struct KindText {
    const char* name;
    const char* message;
};

constexpr KindText kKinds[] = {
    {"ok", ""},
    {"transport", "could not reach the account service"},
    {"protocol", "the account service refused the request"},
    {"unauthorized", "you need to sign in again"},
    {"invalid_credentials", "that email and password do not match"},
    {"captcha_required", "please complete the check below"},
    {"captcha_failed", "that answer was not right; try the new one"},
    {"rate_limited", "too many attempts; wait a moment"},
    {"account_locked", "this account is locked for now"},
    {"banned", "this account is banned"},
    {"email_taken", "that email already has an account"},
    {"display_name_taken", "that name is taken"},
    {"weak_password", "choose a longer password"},
    {"character_limit", "all three character slots are used"},
    {"service_unavailable", "the account service is busy; try again shortly"},
    {"server_error", "the account service had an error"},
    {"not_found", "not found"},
    {"bad_request", "the account service refused the request"},
    {"challenge_expired", "the check expired; try again"},
    {"account_pending", "this account is waiting for its email to be activated"},
    {"registration_closed", "registration is closed right now"},
};

const KindText* lookUp(ErrorKind kind) {
    auto index = static_cast<int32_t>(kind);
    if (index < 0 || index >= static_cast<int32_t>(sizeof kKinds / sizeof kKinds[0])) return nullptr;
    return &kKinds[index];
}

}  // namespace

const char* errorKindName(ErrorKind kind) {
    const KindText* found = lookUp(kind);
    return found ? found->name : "?";
}

const char* defaultMessage(ErrorKind kind) {
    const KindText* found = lookUp(kind);
    return found ? found->message : "";
}

}  // namespace ember::launcher::account
