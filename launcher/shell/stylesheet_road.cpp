// The stylesheet's loading road (see stylesheet_road.h).
#include "launcher/shell/stylesheet_road.h"

#include "base/paths.h"
#include "ui/kiln/registry.h"
#include "ui/kiln/style.h"

namespace ember::launcher {

bool stylesheetSource(const StylesheetRoad& road, std::string& text, std::string& error) {
    if (!road.exeFolder.empty()) {
        std::string override;
        if (readWholeFile(joinPath(road.exeFolder, "ui\\launcher.css"), override) && !override.empty()) {
            text = std::move(override);
            return true;
        }
    }
    if (!road.resourceText.empty()) {
        text = road.resourceText;
        return true;
    }
    error = "the stylesheet is missing from the launcher";
    return false;
}

std::string highContrastSource(const StylesheetRoad& road) {
    std::string text;
    if (!road.exeFolder.empty() && readWholeFile(joinPath(road.exeFolder, "ui\\high-contrast.css"), text) &&
        !text.empty()) {
        return text;
    }
    return road.highContrastText;
}

bool loadLauncherStylesheet(const StylesheetRoad& road, float scale, std::string& reason) {
    std::string text;
    if (!stylesheetSource(road, text, reason)) return false;
    const std::string layer = highContrastSource(road);
    if (!layer.empty()) text += "\n" + layer;
    const std::string folder = joinPath(road.configDir, "ui");
    const std::string path = joinPath(folder, "launcher.css");
    createDirectories(folder);
    if (!writeFileAtomic(path, kiln::scaleStylesheet(text, scale))) {
        reason = "cannot write " + path;
        return false;
    }
    kiln::setResourceFolder(folder);
    return kiln::loadStylesheet(path, reason, road.colours);
}

}  // namespace ember::launcher
