// The user agent, made from the launcher's one version (base/version.h).
#pragma once

#include <string>

#include "base/version.h"

namespace ember::launcher {

// "EmberlaneLauncher/2.1.0 (windows)", sent with every HTTP request.
inline std::string launcherUserAgent() {
    return std::string("EmberlaneLauncher/") + kLauncherVersion + " (windows)";
}

}  // namespace ember::launcher
