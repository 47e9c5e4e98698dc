// Where the launcher's stylesheet comes from and how it is loaded: a file
// ui\launcher.css beside the executable when it exists and is not empty,
// else the LAUNCHER_CSS resource; then the high-contrast layer the same way
// (ui\high-contrast.css beside it, else the HIGH_CONTRAST_CSS resource)
// after it; the two scaled for the UI scale, written to ui\launcher.css
// under the configuration folder (which becomes the toolkit's resource
// folder) and loaded from there with the system's colours.
#pragma once

#include <string>

#include "ui/kiln/style.h"

namespace ember::launcher {

struct StylesheetRoad {
    std::string exeFolder;         // folder of the executable (the overrides beside it)
    std::string resourceText;      // the carried stylesheet; empty: none
    std::string highContrastText;  // the carried high-contrast layer; empty: none
    std::string configDir;         // where the scaled copy goes
    kiln::SystemColours colours;   // what the system colour keywords read as
};

// The stylesheet's text: the override, else the resource. False with
// "the stylesheet is missing from the launcher" when there is neither.
bool stylesheetSource(const StylesheetRoad& road, std::string& text, std::string& error);
// The high-contrast layer's text: the override, else the resource, else
// nothing (the launcher then draws the same in high contrast).
std::string highContrastSource(const StylesheetRoad& road);
// Source, scale, write, load. `reason` is the loader's status (its success
// line too); false leaves the styles in force.
bool loadLauncherStylesheet(const StylesheetRoad& road, float scale, std::string& reason);

}  // namespace ember::launcher
