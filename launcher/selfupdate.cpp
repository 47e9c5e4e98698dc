// Self-update doors at start-up: recognising the swap request and cleaning up
// after an update.
#include "launcher/selfupdate.h"

#include <limits>

#include "launcher/cmdline.h"
#include "launcher/base/paths.h"

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

// Placeholder until the self-update module brings the swap itself (wait for
// the old process, rename it to .old, copy this build over it, start it with
// --updated). Until then a swap request ends the process without touching
// any file, so the old launcher stays exactly as it was.
void finishSwapNotYetAvailable(const SwapRequest&) {}

}  // namespace

bool readSwapRequest(const std::vector<std::string>& args, SwapRequest& out) {
    if (startMode(args) != StartMode::Swap) return false;
    out.targetPath = args[2];
    out.processId = readProcessId(args[3]);
    return true;
}

bool offerSwap(const std::vector<std::string>& args) {
    SwapRequest request;
    if (!readSwapRequest(args, request)) return false;
    finishSwapNotYetAvailable(request);
    return true;
}

void postUpdateCleanup(const std::string& executablePath) {
    if (executablePath.empty()) return;
    removeFile(executablePath + ".old");
    removeFile(executablePath + ".new");
}

}  // namespace ember::launcher
