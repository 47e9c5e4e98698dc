// front_window: looks at and moves the front window for
// tests/shell/single_instance_e2e.sh.
//   front        prints the class of the foreground window ("none" without one)
//   count        prints how many launcher windows (class "EmberlaneLauncher") exist
//   cover MS     opens a window of its own and brings it to the front, for
//                MS milliseconds or until another window takes the front
//                (another program in front)
//   close        asks every launcher window to close
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const wchar_t kLauncherClass[] = L"EmberlaneLauncher";

BOOL CALLBACK countLauncher(HWND window, LPARAM data) {
    wchar_t name[64];
    if (GetClassNameW(window, name, 64) && lstrcmpW(name, kLauncherClass) == 0) {
        ++*reinterpret_cast<int*>(data);
    }
    return TRUE;
}

BOOL CALLBACK closeLauncher(HWND window, LPARAM) {
    wchar_t name[64];
    if (GetClassNameW(window, name, 64) && lstrcmpW(name, kLauncherClass) == 0) PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "";
    if (std::strcmp(mode, "front") == 0) {
        HWND front = GetForegroundWindow();
        char name[64] = "none";
        if (front) GetClassNameA(front, name, sizeof name);
        std::printf("%s\n", name);
        return 0;
    }
    if (std::strcmp(mode, "count") == 0) {
        int n = 0;
        EnumWindows(countLauncher, reinterpret_cast<LPARAM>(&n));
        std::printf("%d\n", n);
        return 0;
    }
    if (std::strcmp(mode, "close") == 0) {
        EnumWindows(closeLauncher, 0);
        return 0;
    }
    if (std::strcmp(mode, "cover") == 0 && argc > 2) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"FrontWindowCover";
        RegisterClassW(&wc);
        HWND window = CreateWindowExW(0, wc.lpszClassName, L"cover", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200,
                                      nullptr, nullptr, wc.hInstance, nullptr);
        if (!window) return 1;
        SetForegroundWindow(window);
        // Until another window takes the front, or the time is up.
        bool wasInFront = false;
        const ULONGLONG end = GetTickCount64() + std::strtoul(argv[2], nullptr, 10);
        while (GetTickCount64() < end) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            const bool inFront = GetForegroundWindow() == window;
            if (wasInFront && !inFront) break;
            wasInFront = wasInFront || inFront;
            Sleep(20);
        }
        return 0;
    }
    return 2;
}
