// selfupdate_driver: plays the old launcher's side of a self-update for
// tests/shell/selfupdate_e2e.sh, through the same library calls.
//   update <manifest URL> <launcher path>   fetch the manifest, run the
//       self-update for that executable (this process is the one the swap
//       waits for); exit 0 when the new build was started
//   version <exe path>                      print its version resource
//   close <exe path>                        close the window of the launcher
//       running from that file and wait for it to go; exit 1 when there was
//       none or it stayed
#include <windows.h>

#include <cstdio>
#include <string>

#include "base/paths.h"
#include "launcher/formats/config.h"
#include "launcher/formats/manifest.h"
#include "launcher/install/game.h"
#include "launcher/install/self_update.h"
#include "launcher/net/http.h"

using namespace ember::launcher;

namespace {

struct WindowSearch {
    std::wstring exePath;
    HWND found = nullptr;
};

// The launcher window whose process runs from the given file (other tests'
// launcher windows may be open on the same display).
BOOL CALLBACK matchWindow(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<WindowSearch*>(data);
    wchar_t className[64];
    if (!GetClassNameW(window, className, 64) || std::wstring(className) != L"EmberlaneLauncher") return TRUE;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process) return TRUE;
    wchar_t image[MAX_PATH * 2];
    DWORD size = MAX_PATH * 2;
    const bool ours = QueryFullProcessImageNameW(process, 0, image, &size) && lstrcmpiW(image, search->exePath.c_str()) == 0;
    CloseHandle(process);
    if (!ours) return TRUE;
    search->found = window;
    return FALSE;
}

HWND launcherWindowOf(const std::wstring& exePath) {
    WindowSearch search{exePath};
    EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::string mode = argc > 1 ? toUtf8(argv[1]) : "";
    if (mode == "update" && argc > 3) {
        http::Request request;
        request.url = toUtf8(argv[2]);
        http::Response reply = http::request(request);
        Manifest manifest;
        std::string error;
        if (!reply.error.empty() || !parseManifest(reply.body, manifest, error)) {
            std::printf("manifest: %s%s\n", reply.error.c_str(), error.c_str());
            return 2;
        }
        Config config = loadConfig();
        const bool started = selfUpdateExecutable(manifest, config, toUtf8(argv[3]), Reporter(), error);
        std::printf("%s\n", started ? "started" : error.c_str());
        return started ? 0 : 1;
    }
    if (mode == "version" && argc > 2) {
        std::printf("%s\n", readGameVersion(toUtf8(argv[2])).c_str());
        return 0;
    }
    if (mode == "close" && argc > 2) {
        wchar_t full[MAX_PATH * 2];
        if (!GetFullPathNameW(argv[2], MAX_PATH * 2, full, nullptr)) return 2;
        HWND window = launcherWindowOf(full);
        if (!window) {
            std::printf("no launcher window runs from that file\n");
            return 1;
        }
        PostMessageW(window, WM_CLOSE, 0, 0);
        for (int i = 0; i < 100 && IsWindow(window); ++i) Sleep(100);
        return IsWindow(window) ? 1 : 0;
    }
    return 2;
}
