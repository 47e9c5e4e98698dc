// Start-up entry points of the launcher's self-update: the swap mode
// ("--swap <target path> <process id>", run by the freshly downloaded build)
// and the clean-up after a finished update ("--updated").
//
// The download, the swap and the clean-up themselves are the install
// module's (launcher/install/self_update.h); these are only the doors the
// entry point opens at start-up.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ember::launcher {

// A swap request from the command line.
struct SwapRequest {
    std::string targetPath;  // the old executable, to be replaced by this one
    uint32_t processId = 0;  // the old process to wait for; 0 when unreadable
};

// Reads a swap request: argument 1 "--swap" and at least four arguments.
bool readSwapRequest(const std::vector<std::string>& args, SwapRequest& out);

// Returns false at once unless the arguments ask for a swap or the running
// executable is a left-over X.new or X.old. Otherwise it runs the swap, or
// finishes or undoes an interrupted one (Windows only), and returns true:
// the caller must then end the process with exit code 0 (the swap mode never
// reaches the window).
bool offerSwap(const std::vector<std::string>& args);

// After an update: deletes "<executable>.old", "<executable>.new" and the
// ".tmp" and ".old.tmp" halves of a cut-short swap beside the running
// executable. Missing files and failures are ignored.
void postUpdateCleanup(const std::string& executablePath);

}  // namespace ember::launcher
