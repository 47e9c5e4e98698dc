// WinHTTP, the process list, applying, the loader and the shell as the
// pipeline's steps.
#include <windows.h>
#include <shellapi.h>

#include "launcher/app/single_instance.h"
#include "launcher/app/steps_internal.h"
#include "base/paths.h"
#include "launcher/install/apply.h"
#include "launcher/install/client_settings.h"
#include "launcher/install/self_update.h"

namespace ember::launcher::app {

void addPlatformSteps(PipelineSteps& steps) {
    steps.fetch = http::request;
    steps.gameRunning = isGameRunning;
    steps.apply = applyClient;
    steps.launch = launchGame;
    steps.launcherDigest = ownDigest;
    steps.selfUpdate = [](const Manifest& manifest, Config& config, const Reporter& reporter, std::string& error) {
        return selfUpdate(manifest, config, reporter, error);
    };
    steps.restartElevated = [] {
        std::wstring exe = toWide(executablePath());
        SHELLEXECUTEINFOW info = {};
        info.cbSize = sizeof info;
        info.lpVerb = L"runas";
        info.lpFile = exe.c_str();
        info.nShow = SW_SHOWNORMAL;
        // The new launcher starts while this one is still closing: it must
        // not find this one in its way.
        releaseLauncherInstance();
        if (ShellExecuteExW(&info)) return true;
        claimLauncherInstance(configDir(), true);
        return false;
    };
    steps.openFolder = [](const std::string& folder) {
        ShellExecuteW(nullptr, L"open", toWide(folder).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    };
}

}  // namespace ember::launcher::app
