// The UI hand-off over a real window (Windows only): posted closures travel
// as PostMessageW(window, kPostedTaskMessage, 0, pointer), and quit destroys
// the window. The window procedure passes the message's lParam to
// runPostedTask and owes two more frames.
//
// The shell the screens reach out to: opening a folder or a web address in
// the program Windows picks for it, and the game-folder picker. The real
// ones are the defaults; tests swap in their own to see what a button did.
#pragma once

#include <functional>
#include <string>

#include "launcher/app/controller.h"

namespace ember::launcher::app {

UiHooks uiHooksForWindow(void* window);

struct ShellHooks {
    // A folder in the file browser, or an http(s) address in the browser.
    std::function<void(const std::string& target)> open;
    // The folder picker, starting at `current`; `done` gets the checked
    // folder and an error text (both empty when the player cancelled).
    std::function<void(const std::string& current,
                       const std::function<void(const std::string& folder, const std::string& error)>& done)>
        pickFolder;
};
// The hooks in use (UI thread).
ShellHooks& shellHooks();

}  // namespace ember::launcher::app
