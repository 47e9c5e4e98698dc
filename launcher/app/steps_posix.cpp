// The POSIX build has no network client, game process or shell: the steps
// that need them say so instead of pretending to succeed.
#include "launcher/app/steps_internal.h"

namespace ember::launcher::app {

void addPlatformSteps(PipelineSteps& steps) {
    steps.fetch = [](const http::Request&) {
        http::Response response;
        response.error = "no network in this build";
        return response;
    };
    steps.gameRunning = [] { return false; };
    steps.launch = [](const std::string&, const std::string&, std::string& error) {
        error = "no way to start programs in this build";
        return false;
    };
    steps.restartElevated = [] { return false; };
    steps.openFolder = [](const std::string&) {};
}

}  // namespace ember::launcher::app
