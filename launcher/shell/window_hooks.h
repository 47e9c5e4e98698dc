// The UI hand-off over a real window (Windows only): posted closures travel
// as PostMessageW(window, kPostedTaskMessage, 0, pointer), and quit destroys
// the window. The window procedure passes the message's lParam to
// runPostedTask and owes two more frames.
#pragma once

#include "launcher/app/controller.h"

namespace ember::launcher::app {

UiHooks uiHooksForWindow(void* window);

}  // namespace ember::launcher::app
