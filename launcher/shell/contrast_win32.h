// High contrast: whether Windows reports it, and its colours as the
// toolkit's palette. The window reads them at start and again when the
// system says its settings or colours changed (window_win32.cpp).
#pragma once

#include <string>

#include "launcher/shell/cmdline.h"
#include "ui/kiln/style.h"

namespace ember::launcher {

struct ContrastMode {
    bool on = false;
    kiln::SystemColours colours;  // what the system colour keywords read as
};

bool sameContrast(const ContrastMode& a, const ContrastMode& b);

// HCF_HIGHCONTRASTON of SPI_GETHIGHCONTRAST; false with the error text
// when Windows does not answer.
bool systemHighContrast(bool& on, std::string& error);
// The system's colours (GetSysColor) by the keywords that name them.
kiln::SystemColours systemColours();
// What the window draws with: --high-contrast forces the mode on with the
// built-in black or white palette; otherwise Windows' setting and colours
// (off, with the error text, when the setting cannot be read).
ContrastMode contrastMode(HighContrastChoice choice, std::string& error);

}  // namespace ember::launcher
