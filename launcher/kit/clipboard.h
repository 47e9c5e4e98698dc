// The clipboard as the widgets use it: whole texts in and out, UTF-8.
#pragma once

#include <string>

namespace ember::launcher::view {

// Puts `text` on the clipboard; false when the clipboard cannot be opened.
bool copyToClipboard(const std::string& text);
// The clipboard's text; false (and nothing) when it holds none.
bool clipboardText(std::string& out);

}  // namespace ember::launcher::view
