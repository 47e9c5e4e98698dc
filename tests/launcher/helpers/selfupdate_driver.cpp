// selfupdate_driver: plays the old launcher's side of a self-update for
// tests/launcher/selfupdate_e2e.sh, through the same library calls.
//   update <manifest URL> <launcher path>   fetch the manifest, run the
//       self-update for that executable (this process is the one the swap
//       waits for); exit 0 when the new build was started
//   version <exe path>                      print its version resource
//   close                                   close the launcher's window and
//       wait for it to go; exit 1 when there was none or it stayed
#include <windows.h>

#include <cstdio>
#include <string>

#include "launcher/base/paths.h"
#include "launcher/formats/config.h"
#include "launcher/formats/manifest.h"
#include "launcher/install/game.h"
#include "launcher/install/self_update.h"
#include "launcher/net/http.h"

using namespace ember::launcher;

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
    if (mode == "close") {
        HWND window = FindWindowW(L"EmberlaneLauncher", L"Emberlane");
        if (!window) return 1;
        PostMessageW(window, WM_CLOSE, 0, 0);
        for (int i = 0; i < 100 && FindWindowW(L"EmberlaneLauncher", L"Emberlane"); ++i) Sleep(100);
        return FindWindowW(L"EmberlaneLauncher", L"Emberlane") ? 1 : 0;
    }
    return 2;
}
