// The launcher's own version, for every floor that needs it (the user
// agent, the start-up log line, the application state, self-update).
#pragma once

namespace ember::launcher {

inline constexpr const char kLauncherVersion[] = "2.1.0";

}  // namespace ember::launcher
