// Starting the loader.
#include <windows.h>

#include "base/paths.h"
#include "base/safe_path.h"
#include "launcher/install/client_settings.h"
#include "launcher/install/plan.h"

namespace ember::launcher {

bool launchGame(const std::string& gameFolder, const std::string& loaderPath, std::string& error) {
    // The loader must be a file below the game folder, and be there.
    if (gameFolder.empty() || !isSafeGamePath(loaderPath)) {
        error = kLoaderOutsideGame + loaderPath;
        return false;
    }
    // Nor started through a link: every folder on its way, and the loader
    // itself, must be what it says.
    const std::string path = joinPath(gameFolder, loaderPath);
    const std::string link = linkOnPath(gameFolder, loaderPath);
    if (!link.empty()) {
        error = linkRefusal(link);
        return false;
    }
    if (!fileExists(path)) {
        error = "the client is not installed (missing " + loaderPath + ") - use Verify & repair";
        return false;
    }
    // Held open, without letting anyone write, rename or delete it, while it
    // starts; the opened file itself (the link, were it one) is asked too.
    HANDLE held = CreateFileW(toWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    BY_HANDLE_FILE_INFORMATION info;
    if (held != INVALID_HANDLE_VALUE && GetFileInformationByHandle(held, &info) &&
        ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || info.nNumberOfLinks > 1)) {
        CloseHandle(held);
        error = linkRefusal(loaderPath);
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
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    return true;
}

}  // namespace ember::launcher
