// A process-local clipboard for the native build (see clipboard.h).
#include "launcher/kit/clipboard.h"

namespace ember::launcher::view {

namespace {
// The stand-in for the operating system's clipboard, which on Windows is
// the system's state and not the program's: one per process, shared by
// every window and frame, like the real one. No screen or widget state.
std::string g_text;
bool g_has = false;
}  // namespace

bool copyToClipboard(const std::string& text) {
    g_text = text;
    g_has = true;
    return true;
}

bool clipboardText(std::string& out) {
    if (!g_has) return false;
    out = g_text;
    return true;
}

}  // namespace ember::launcher::view
