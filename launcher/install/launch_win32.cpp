// Starting the loader.
#include <windows.h>

#include "base/paths.h"
#include "base/safe_path.h"
#include "launcher/install/client_settings.h"

namespace ember::launcher {

bool launchGame(const std::string& gameFolder, const std::string& loaderPath, std::string& error) {
    // The loader must be a file below the game folder, and be there.
    if (gameFolder.empty() || !isSafeGamePath(loaderPath)) {
        error = kLoaderOutsideGame + loaderPath;
        return false;
    }
    const std::string path = joinPath(gameFolder, loaderPath);
    if (!fileExists(path)) {
        error = "the client is not installed (missing " + loaderPath + ") - use Verify & repair";
        return false;
    }
    // Detached, in a new process group, in the loader's own folder;
    // the launcher does not wait for it.
    std::wstring commandLine = toWide(loaderCommandLine(path, gameFolder));
    std::wstring folder = toWide(parentDir(path));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(toWide(path).c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                        DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP, nullptr, folder.c_str(), &startup, &process)) {
        // Windows refused to start it: say so with its error code.
        error = "could not start " + loaderPath + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

}  // namespace ember::launcher
