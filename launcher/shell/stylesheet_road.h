// Where the launcher's stylesheet comes from and how it is loaded: a file
// ui\launcher.css beside the executable when it exists and is not empty,
// else the LAUNCHER_CSS resource; scaled for the UI scale, written to
// ui\launcher.css under the configuration folder (which becomes the
// toolkit's resource folder) and loaded from there.
#pragma once

#include <string>

namespace ember::launcher {

struct StylesheetRoad {
    std::string exeFolder;     // folder of the executable (the override beside it)
    std::string resourceText;  // the carried stylesheet; empty: none
    std::string configDir;     // where the scaled copy goes
};

// The stylesheet's text: the override, else the resource. False with
// "the stylesheet is missing from the launcher" when there is neither.
bool stylesheetSource(const StylesheetRoad& road, std::string& text, std::string& error);
// Source, scale, write, load. `reason` is the loader's status (its success
// line too); false leaves the styles in force.
bool loadLauncherStylesheet(const StylesheetRoad& road, float scale, std::string& reason);

}  // namespace ember::launcher
