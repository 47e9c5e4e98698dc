// POSIX twin of the shell: nothing to open, and the picker is the install
// library's stand-in (it reports a cancel).
#include "launcher/app/window_hooks.h"

#include "launcher/install/game.h"

namespace ember::launcher::app {

ShellHooks& shellHooks() {
    static ShellHooks hooks = [] {
        ShellHooks h;
        h.open = [](const std::string&) {};
        h.pickFolder = pickGameFolder;
        return h;
    }();
    return hooks;
}

}  // namespace ember::launcher::app
