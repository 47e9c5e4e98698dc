// PostMessageW as the UI hand-off; ShellExecuteW and the folder dialog as
// the shell.
#include "launcher/app/window_hooks.h"

#include <windows.h>
#include <shellapi.h>

#include "launcher/base/paths.h"
#include "launcher/install/game.h"

namespace ember::launcher::app {

UiHooks uiHooksForWindow(void* window) {
    HWND hwnd = static_cast<HWND>(window);
    UiHooks hooks;
    hooks.post = [hwnd](Task* task) {
        return PostMessageW(hwnd, kPostedTaskMessage, 0, reinterpret_cast<LPARAM>(task)) != 0;
    };
    hooks.close = [hwnd] { DestroyWindow(hwnd); };
    return hooks;
}

ShellHooks& shellHooks() {
    static ShellHooks hooks = [] {
        ShellHooks h;
        h.open = [](const std::string& target) {
            ShellExecuteW(nullptr, L"open", toWide(target).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        };
        h.pickFolder = pickGameFolder;
        return h;
    }();
    return hooks;
}

}  // namespace ember::launcher::app
