// The launcher's own version, for every floor that needs it (the user
// agent, the start-up log line, the application state, self-update) and the
// executable's version block. Its one source is the project's version in
// CMakeLists.txt, which the build passes to every compiler as
// EMBER_VERSION_TEXT ("2.1.0") and EMBER_VERSION_NUMBERS (2,1,0,0).
#pragma once

#ifndef EMBER_VERSION_TEXT
#error "EMBER_VERSION_TEXT comes from the build (CMakeLists.txt's project version)"
#endif

namespace ember::launcher {

inline constexpr const char kLauncherVersion[] = EMBER_VERSION_TEXT;

}  // namespace ember::launcher
