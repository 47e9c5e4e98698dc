// The swap door: a swap request runs the swap of the install module.
#include "launcher/shell/selfupdate.h"

#include "base/paths.h"
#include "launcher/install/self_update.h"

namespace ember::launcher {

bool offerSwap(const std::vector<std::string>& args) {
    SwapRequest request;
    if (readSwapRequest(args, request)) {
        runSwap(request.targetPath, request.processId);
        return true;
    }
    // Any other start of a left-over X.new or X.old finishes or undoes the
    // swap it belongs to instead of running as a launcher of its own.
    return resumeInterruptedSwap(executablePath());
}

}  // namespace ember::launcher
