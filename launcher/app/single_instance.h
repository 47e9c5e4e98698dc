// One launcher at a time per configuration folder: a second start in the
// normal mode brings the running launcher's window to the front and ends,
// so two launchers never update the same game folder or write the same
// config.json at once. The console report, the swap and the restart after
// a swap are not normal starts and are never refused (launcher/shell/cmdline.h
// says which start is which).
#pragma once

#include <cstdint>
#include <string>

namespace ember::launcher::app {

// All Windows only. The launcher is marked per configuration folder (its
// case ignored), so test runs with folders of their own never meet.

// Claims the launcher for `configFolder` for the rest of the
// process. False when another process holds it and `takeOver` is off.
bool claimLauncherInstance(const std::string& configFolder, bool takeOver);
// Gives the claim up (the restart as administrator hands over to
// a new process while this one is still closing).
void releaseLauncherInstance();
// Brings the window of the launcher holding the claim to the
// front, waiting up to `waitMs` for a launcher still starting to show it.
bool showRunningLauncher(const std::string& configFolder, uint32_t waitMs);

inline constexpr uint32_t kRunningLauncherWaitMs = 5000;
inline constexpr const char kSecondStartLog[] = "another launcher is already running for these settings";
inline constexpr const char kBroughtToFront[] = "; its window was brought to the front";

}  // namespace ember::launcher::app
