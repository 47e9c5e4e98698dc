// The account, realm and character actions behind the sign-in and
// registration forms, the realm list and the character panel.
//
// Every action runs on the UI thread: it checks the state, starts at most
// one task on the account worker with copies of what it needs, and applies
// the task's answer back on the UI thread. The busy-label actions (sign-in,
// registration, restore, resend) apply an answer only while their account
// generation is current, so a cancelled or superseded action changes
// nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "launcher/account/records.h"
#include "launcher/app/pipeline.h"

namespace ember::launcher::app {

// Sign-in and registration. `code` is the picture code typed for a pending
// challenge (empty when none is shown).
void login(const std::string& email, const std::string& password, const std::string& code);
void registerAccount(const std::string& email, const std::string& password, const std::string& displayName,
                     const std::string& code);
// The saved sign-in, once per run.
void restoreSession();
void logout();
void resendActivation();

// The picture challenge: shows the demand's picture, or fetches a fresh
// challenge for the form's purpose.
void askCaptcha(const account::Demand& demand, const std::string& purpose);
void newCaptcha();

// What a sign-in or registration answer does to the form and the session.
void onAuthAnswer(const account::Error& error, const account::Account& account, const account::Tokens& tokens,
                  const std::string& email, bool isRegistration);

// Realms and characters.
void fetchRealmsNow();
void fetchCharactersNow();
void chooseRealm(const std::string& key);
void chooseCharacter(const std::string& id);
void setPlayWithoutAccount(bool on);

// Name checks and character changes; the callbacks run on the UI thread.
// `free` is true only when the service said the name can be had.
void checkName(const std::string& name, std::function<void(bool free, const std::string& text)> done);
void createCharacter(const std::string& name, std::function<void(bool ok, const std::string& message)> done);
void deleteCharacter(const std::string& id, std::function<void(bool ok, const std::string& message)> done);

// The name rules of the creation dialog: empty when the name is fine, else
// the first broken rule's message.
std::string validateName(const std::string& name);
// Playing without an account: the id typed by the player. Empty on
// success (stored and saved), else the message to show.
std::string setLocalCharacterId(const std::string& text);
inline constexpr const char kBadCharacterId[] = "A character id is a number of up to 15 digits.";

// The manifest in AppState was (re)applied: whether accounts are in use,
// and a new client when the service's address changed.
void applyAccountsManifest();
// After each preflight result: realms, the saved sign-in, characters.
void accountStartUp();
// Every frame: the realm list's refresh every 10 s; true when one started.
bool accountFrame(uint64_t now);
inline constexpr uint64_t kRealmRefreshMs = 10000;

// startPipeline's share: the chosen realm, the character list and, when the
// player plays signed in, the play-session call bound to the account.
void addAccountToPipeline(PipelineInput& input, PipelineSteps& steps);

}  // namespace ember::launcher::app
