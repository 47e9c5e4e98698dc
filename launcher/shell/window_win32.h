// The main window, its message handling and the frame loop: start-up from
// the window to the end of the loop (register the class, create and size
// the window, the device and renderer, the stylesheet, the frame shell,
// show, loop, release).
#pragma once

#include <string>

#include "launcher/shell/cmdline.h"

namespace ember::launcher {

// What tests replace: the fatal message box, and where the stylesheet
// override is looked for.
struct WindowHooks {
    // Shows a fatal start-up message (title "Emberlane", error icon); null:
    // the real MessageBoxW.
    void (*messageBox)(const std::string& text) = nullptr;
    // Folder searched for ui\launcher.css; empty: the executable's folder.
    std::string exeFolder;
};

// Workers hand results to the UI thread with PostMessageW(window, WM_APP + 1,
// 0, lParam), lParam a `new std::function<void()>`; the window procedure
// runs it on the UI thread and deletes it.
//
// Runs the window phase; its result is the process exit code (0 after the
// window was destroyed, 1 when the window, device, renderer or stylesheet
// could not be made).
int runWindowPhase(const StartupSettings& settings, const WindowHooks& hooks = WindowHooks());

// The fatal texts (log line and message box) of the start-up failures.
std::string drawFailureLog(const std::string& reason);
std::string drawFailureBox(const std::string& reason);
std::string stylesheetFailureLog(const std::string& reason);
std::string stylesheetFailureBox(const std::string& reason);

}  // namespace ember::launcher
