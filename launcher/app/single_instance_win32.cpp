// One launcher per configuration folder over Win32: a named shared memory
// block holding the running launcher's process id. It lives as long as a
// handle to it is open, so it goes away with the launcher, even one that
// was killed.
#include "launcher/app/single_instance.h"

#include <windows.h>

#include <cstdio>

#include "base/paths.h"
#include "base/text.h"

namespace ember::launcher::app {

namespace {

// The main window's class (launcher/shell/window_win32.cpp).
constexpr wchar_t kWindowClass[] = L"EmberlaneLauncher";

// Held until the process ends: the claim.
HANDLE gClaim = nullptr;

std::wstring instanceObjectName(const std::string& configFolder) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(fnv1a(asciiLower(configFolder))));
    return toWide(std::string("Local\\EmberlaneLauncher-") + hex);
}

struct WindowSearch {
    DWORD processId = 0;
    HWND found = nullptr;
};

BOOL CALLBACK matchWindow(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<WindowSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId) return TRUE;
    wchar_t name[64];
    if (!GetClassNameW(window, name, 64) || lstrcmpW(name, kWindowClass) != 0) return TRUE;
    search->found = window;
    return FALSE;
}

}  // namespace

bool claimLauncherInstance(const std::string& configFolder, bool takeOver) {
    if (gClaim) return true;
    const std::wstring name = instanceObjectName(configFolder);
    HANDLE block = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(DWORD), name.c_str());
    // Without the object the launcher cannot tell; it never locks the
    // player out for that.
    if (!block) return true;
    if (GetLastError() == ERROR_ALREADY_EXISTS && !takeOver) {
        CloseHandle(block);
        return false;
    }
    if (void* view = MapViewOfFile(block, FILE_MAP_WRITE, 0, 0, sizeof(DWORD))) {
        *static_cast<volatile DWORD*>(view) = GetCurrentProcessId();
        UnmapViewOfFile(view);
    }
    gClaim = block;
    return true;
}

void releaseLauncherInstance() {
    if (gClaim) CloseHandle(gClaim);
    gClaim = nullptr;
}

bool showRunningLauncher(const std::string& configFolder, uint32_t waitMs) {
    const std::wstring name = instanceObjectName(configFolder);
    const ULONGLONG deadline = GetTickCount64() + waitMs;
    for (;;) {
        // The process id is read again each time: the restart after a swap
        // takes the claim over.
        DWORD processId = 0;
        if (HANDLE block = OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str())) {
            if (const void* view = MapViewOfFile(block, FILE_MAP_READ, 0, 0, sizeof(DWORD))) {
                processId = *static_cast<const volatile DWORD*>(view);
                UnmapViewOfFile(view);
            }
            CloseHandle(block);
        }
        WindowSearch search;
        search.processId = processId;
        if (processId != 0) EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            if (IsIconic(search.found)) ShowWindow(search.found, SW_RESTORE);
            AllowSetForegroundWindow(processId);
            SetForegroundWindow(search.found);
            return true;
        }
        // A launcher that is still starting has no window yet.
        if (GetTickCount64() >= deadline) return false;
        Sleep(100);
    }
}

}  // namespace ember::launcher::app
