// Entry point of Emberlane.exe (filled in by the start-up work).
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return 0;
}
