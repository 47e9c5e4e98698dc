// The launcher's own version: the user agent, the start-up log line and the
// application state all use this one constant.
#pragma once

#include <string>

#include "base/version.h"

namespace ember::launcher {

// "EmberlaneLauncher/2.1.0 (windows)", sent with every HTTP request.
inline std::string launcherUserAgent() {
    return std::string("EmberlaneLauncher/") + kLauncherVersion + " (windows)";
}

}  // namespace ember::launcher
