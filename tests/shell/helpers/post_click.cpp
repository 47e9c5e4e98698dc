// post_click X Y: posts a mouse move, a left press and a release at client
// point (X, Y) to the launcher's window (class "EmberlaneLauncher"), as
// Windows would queue them for a click. Exit code 1 when there is no window.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    HWND window = FindWindowW(L"EmberlaneLauncher", L"Emberlane");
    if (window == nullptr) return 1;
    const LPARAM at = MAKELPARAM(std::atoi(argv[1]), std::atoi(argv[2]));
    PostMessageW(window, WM_MOUSEMOVE, 0, at);
    Sleep(200);  // the move draws its frame before the press, like a real pointer
    PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(window, WM_LBUTTONUP, 0, at);
    return 0;
}
