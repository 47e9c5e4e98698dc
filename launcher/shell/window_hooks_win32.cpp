// PostMessageW as the UI hand-off.
#include "launcher/shell/window_hooks.h"

#include <windows.h>

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

}  // namespace ember::launcher::app
