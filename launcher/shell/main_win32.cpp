// Entry point of Emberlane.exe (GUI subsystem, linked with -municode).
//
// Start-up runs in a fixed order, one function per phase: split the command
// line; hand --check-manifest to the console report; offer the arguments to
// the self-update swap; clean up after an update; read the developer options;
// leave the front to a launcher already running; set up the process (DPI awareness, COM, user agent); then the window phase,
// which owns everything from the window to the end of the frame loop.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "launcher/shell/check_report.h"
#include "launcher/shell/cmdline.h"
#include "launcher/net/http.h"
#include "base/log.h"
#include "base/paths.h"
#include "launcher/shell/selfupdate.h"
#include "launcher/app/single_instance.h"
#include "launcher/shell/version.h"
#include "launcher/shell/window_win32.h"

namespace {

using namespace ember::launcher;

// The command line as UTF-8 arguments, args[0] being the program.
std::vector<std::string> commandLineArguments() {
    std::vector<std::string> args;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return args;
    for (int i = 0; i < count; ++i) args.push_back(toUtf8(wide[i]));
    LocalFree(wide);
    return args;
}

// Per-monitor DPI awareness (version 2) where Windows has it; the older
// system-wide awareness otherwise. Looked up at run time because the newer
// call is missing before Windows 10 1703.
void becomeDpiAware() {
    using SetContextFn = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    FARPROC found = user32 ? GetProcAddress(user32, "SetProcessDpiAwarenessContext") : nullptr;
    auto setContext = reinterpret_cast<SetContextFn>(reinterpret_cast<void*>(found));
    if (setContext && setContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2)) return;
    SetProcessDPIAware();
}

// The process set-up every windowed run needs before its window exists.
// Returns whether COM was initialised (and must be uninitialised).
bool setUpProcess() {
    becomeDpiAware();
    bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    http::setUserAgent(launcherUserAgent());
    return com;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Split the command line.
    std::vector<std::string> args = commandLineArguments();

    // The console report ends the process with its own code before
    // anything else exists.
    if (startMode(args) == StartMode::CheckManifest) return runCheckManifest(args);

    // A self-update swap never continues into the launcher.
    if (offerSwap(args)) return 0;

    // The build that just replaced the old one removes the leftovers.
    if (startMode(args) == StartMode::Updated) postUpdateCleanup(executablePath());

    // Developer options, left to right.
    StartupSettings settings = parseCommandLine(args);

    // A second launcher for the same settings shows the first and ends.
    const InstanceRule rule = instanceRule(settings);
    if (rule != InstanceRule::None && !app::claimLauncherInstance(configDir(), rule == InstanceRule::TakeOver)) {
        const bool shown = app::showRunningLauncher(configDir(), app::kRunningLauncherWaitMs);
        logLine(std::string(app::kSecondStartLog) + (shown ? app::kBroughtToFront : ""));
        return 0;
    }

    // The process set-up: DPI awareness, COM, the HTTP user agent.
    bool com = setUpProcess();

    // The window phase: the window and its frame loop, to the end.
    int exitCode = runWindowPhase(settings);

    if (com) CoUninitialize();
    return exitCode;
}
