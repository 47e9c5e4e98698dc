// Self-update doors at start-up: recognising the swap request and cleaning up
// after an update. The swap itself (selfupdate_win32.cpp) and the clean-up
// are the install module's.
#include "launcher/shell/selfupdate.h"

#include <limits>

#include "launcher/shell/cmdline.h"
#include "launcher/install/self_update.h"

namespace ember::launcher {

namespace {

// The old process id: plain decimal digits that fit 32 bits, else 0 (the
// swap then does not wait and relies on its rename retries).
uint32_t readProcessId(const std::string& text) {
    if (text.empty() || text.size() > 10) return 0;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value > std::numeric_limits<uint32_t>::max() ? 0 : static_cast<uint32_t>(value);
}

}  // namespace

bool readSwapRequest(const std::vector<std::string>& args, SwapRequest& out) {
    if (startMode(args) != StartMode::Swap) return false;
    out.targetPath = args[2];
    out.processId = readProcessId(args[3]);
    return true;
}

void postUpdateCleanup(const std::string& executablePath) {
    cleanUpAfterUpdate(executablePath);
}

}  // namespace ember::launcher
