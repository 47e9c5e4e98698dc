// The saved sign-in: account.json in the configuration folder, holding the
// refresh token protected for the Windows user (never the password).
#pragma once

#include <cstdint>
#include <string>

namespace ember::launcher::account {

struct SavedSignIn {
    std::string refreshToken;
    std::string email;
    std::string displayName;
    std::string publicId;
    int64_t profileId = 0;
};

std::string signInPath();
// False (and any existing file untouched) when protecting or writing failed.
bool saveSignIn(const SavedSignIn& record);
// True only for a readable, current-version file with a refresh token;
// every failure reads as "no saved sign-in".
bool loadSignIn(SavedSignIn& record);
void forgetSignIn();
// loadSignIn's rules over the file's text (version, scheme, inner record).
bool readSignIn(const std::string& text, SavedSignIn& record);

// Standard Base64 (A-Z a-z 0-9 + /, '=' padding).
std::string base64Encode(const std::string& bytes);
// Skips every character outside the alphabet ('=', spaces, line breaks);
// incomplete trailing bits are dropped; never fails.
std::string base64Decode(const std::string& text);

// ---- Per-user protection (signin_win32.cpp / signin_posix.cpp) ----

// Encrypts `plain` so that only the current user can read it back; false
// when the platform cannot (then nothing is saved).
bool protectForUser(const std::string& plain, std::string& blob);
// False for a blob of another user, a damaged one or on failure.
bool unprotectForUser(const std::string& blob, std::string& plain);

}  // namespace ember::launcher::account
