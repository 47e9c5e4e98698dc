// High contrast from Windows (see contrast_win32.h).
#include "launcher/shell/contrast_win32.h"

#include <windows.h>

#include <cstring>

namespace ember::launcher {

namespace {

kiln::Colour fromColorRef(DWORD c) {
    return kiln::Colour{static_cast<float>(GetRValue(c)) / 255.0f, static_cast<float>(GetGValue(c)) / 255.0f,
                        static_cast<float>(GetBValue(c)) / 255.0f, 1.0f};
}

kiln::Colour sysColour(int index) { return fromColorRef(GetSysColor(index)); }

}  // namespace

bool sameContrast(const ContrastMode& a, const ContrastMode& b) {
    return a.on == b.on && kiln::samePalette(a.colours, b.colours);
}

bool systemHighContrast(bool& on, std::string& error) {
    HIGHCONTRASTW contrast;
    std::memset(&contrast, 0, sizeof contrast);
    contrast.cbSize = sizeof contrast;
    if (!SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0)) {
        error = "Windows did not say whether high contrast is on (error " + std::to_string(GetLastError()) + ")";
        on = false;
        return false;
    }
    on = (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
    return true;
}

kiln::SystemColours systemColours() {
    kiln::SystemColours c;
    c.canvas = c.field = sysColour(COLOR_WINDOW);
    c.canvasText = c.fieldText = sysColour(COLOR_WINDOWTEXT);
    c.linkText = sysColour(COLOR_HOTLIGHT);
    c.buttonFace = sysColour(COLOR_BTNFACE);
    c.buttonText = c.buttonBorder = sysColour(COLOR_BTNTEXT);
    c.highlight = c.accentColor = sysColour(COLOR_HIGHLIGHT);
    c.highlightText = c.accentColorText = sysColour(COLOR_HIGHLIGHTTEXT);
    c.grayText = sysColour(COLOR_GRAYTEXT);
    return c;
}

ContrastMode contrastMode(HighContrastChoice choice, std::string& error) {
    ContrastMode mode;
    switch (choice) {
        case HighContrastChoice::Black:
            mode.on = true;
            mode.colours = kiln::blackSystemColours();
            return mode;
        case HighContrastChoice::White:
            mode.on = true;
            mode.colours = kiln::whiteSystemColours();
            return mode;
        case HighContrastChoice::System: break;
    }
    systemHighContrast(mode.on, error);
    mode.colours = systemColours();
    return mode;
}

}  // namespace ember::launcher
