// The swap door: a swap request runs the swap of the install module.
#include "launcher/selfupdate.h"

#include "launcher/install/self_update.h"

namespace ember::launcher {

bool offerSwap(const std::vector<std::string>& args) {
    SwapRequest request;
    if (!readSwapRequest(args, request)) return false;
    runSwap(request.targetPath, request.processId);
    return true;
}

}  // namespace ember::launcher
