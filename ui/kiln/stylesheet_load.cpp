// Loading the stylesheet from a file and reloading it: the current
// stylesheet is replaced only by one with usable rules, and every attempt
// leaves a status line saying what happened.
#include <string>

#include "base/paths.h"
#include "ui/kiln/registry.h"
#include "ui/kiln/style.h"

namespace kiln {

namespace {

const char* const kNoStylesheetYet = "there is no stylesheet to reload";

std::string unreadableStatus(const std::string& path) { return "the stylesheet " + path + " could not be read"; }
std::string tooLargeStatus(const std::string& path) { return "the stylesheet " + path + " is larger than 4 MiB"; }
std::string unusableStatus(const std::string& path, const std::string& error, const std::string& warnings) {
    return "the stylesheet " + path + " has no usable rules: " + error + "\n" + warnings;
}
std::string loadedStatus(size_t count, const std::string& path, const std::string& warnings) {
    std::string status = std::to_string(count) + " rules from " + path;
    if (!warnings.empty()) status += "\n" + warnings;
    return status;
}

// A hand-written stylesheet is a few tens of kilobytes; the cap only stops a
// hostile file from costing gigabytes.
constexpr size_t kMaxStylesheetBytes = 4u << 20;

struct LoadState {
    Stylesheet current;
    std::string path;  // as given to loadStylesheet, for reloads
    bool havePath = false;
    SystemColours colours;  // as given to loadStylesheet, for reloads
    std::string status;
};

LoadState& loadState() {
    static LoadState instance;
    return instance;
}

}  // namespace

bool loadStylesheet(const std::string& path, std::string& status, const SystemColours& colours) {
    LoadState& s = loadState();
    s.path = path;
    s.havePath = true;
    s.colours = colours;
    const std::string resolved = resolveResourcePath(path);

    // Read the file; a failure keeps the rules in force.
    std::string text;
    bool ok = false;
    if (!ember::launcher::readWholeFile(resolved, text)) {
        status = unreadableStatus(resolved);
    } else if (text.size() > kMaxStylesheetBytes) {
        status = tooLargeStatus(resolved);
    } else {
        // Parse; only a stylesheet with usable rules replaces the current one.
        Stylesheet sheet;
        std::string error;
        if (!parseStylesheet(text, sheet, error, colours)) {
            status = unusableStatus(resolved, error, sheet.warnings);
        } else {
            status = loadedStatus(sheet.rules.size(), resolved, sheet.warnings);
            s.current = std::move(sheet);
            ok = true;
        }
    }
    s.status = status;
    return ok;
}

bool reloadStylesheet(std::string& status) {
    LoadState& s = loadState();
    if (!s.havePath) {
        status = kNoStylesheetYet;
        s.status = status;
        return false;
    }
    std::string path = s.path;
    const SystemColours colours = s.colours;
    return loadStylesheet(path, status, colours);
}

const Stylesheet& currentStylesheet() { return loadState().current; }
const std::string& lastStylesheetStatus() { return loadState().status; }

void resetStylesheet() { loadState() = LoadState(); }

}  // namespace kiln
