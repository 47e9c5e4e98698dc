// Helpers shared by the refusal screens, the dialogs and the sign-in form.
#pragma once

#include <string>

#include "launcher/app/state.h"

namespace ember::launcher::view {

// "https://" + the site host shown in messages.
std::string siteUrl(const app::AppState& state);
// Opens a folder or a web address through the shell (nothing in demo mode,
// where the scenes are only looked at); the trace says what was opened.
void openInShell(const app::AppState& state, const std::string& target);
// Asks for the game folder with the system picker, after the frame (the
// picker runs its own message loop, which must not run inside a build).
// A picked game folder becomes config.gamePath and a new check starts; a
// folder that is not a game folder leaves its message in `error`.
void chooseGameFolder(app::AppState& state, std::string* error);
// The width (px) for a centred column of at most `maxWidth` (scale 1) in
// the open row, whose side paddings add up to `padding` (scale 1): the
// row's width of the last frame decides, so text wraps at the width it is
// drawn at (max-width alone would measure it at the row's full width).
float columnWidth(float maxWidth, float padding);
// "2.4 GB", "640 MB", "12 KB".
std::string formatSize(uint64_t bytes);

}  // namespace ember::launcher::view
