// The screens' errands outside the window: the folder picker, opening
// folders and web pages through the shell, the first-run cards the player
// has put away, and the page and preferences the player picks on them.
// All run on the UI thread and reach the platform only
// through the pipeline steps (so tests can watch them); in demo mode nothing
// leaves the process.
#pragma once

#include <functional>
#include <string>

#include "launcher/app/kinds.h"

namespace ember::launcher::app {

// "Choose the folder…" and "Browse…": the folder picker, then the game
// folder saved, logged ("game folder chosen: " + path) and a new check
// started. `done` gets the refusal ("OblivionRemastered.exe isn't in that
// folder."), or "" on success and on cancel. The picker runs its own message
// loop, so call this between frames, never while one is being built.
void chooseGameFolder(const std::function<void(const std::string& error)>& done);

// Opens a folder in the file browser, or a web address in the browser
// (not in demo mode; nothing for an empty target).
void openFolder(const std::string& folder);
void openWebPage(const std::string& url);
// The project's site ("https://" + the manifest host) and the page for
// players whose game version is not supported (the manifest's help page,
// else the site).
std::string siteUrl();
std::string helpUrl();

// The first-run cards, put away for good (saved to config.json).
enum class FirstRunCard : uint8_t {
    playerId,       // the character id intro
    firstDownload,  // the note before the first download
};
void dismissFirstRunCard(FirstRunCard card);

// The tab the player picked (the route decides what stands there).
void showTab(Tab tab);
// "Remember me" on the sign-in form. Saved to config.json.
void setRememberEmail(bool on);

}  // namespace ember::launcher::app
