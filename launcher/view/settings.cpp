// The settings page and its Advanced section.
#include "launcher/view/screens.h"
#include "launcher/view/widgets.h"
#include "ui/kiln.h"

namespace ember::launcher::view {

void settingsScreen(app::AppState&) {
    kiln::openElement("div.content");
    kiln::scrollBegin("settings", "div.settings");
    sectionHead("Settings");
    kiln::scrollEnd();
    kiln::closeElement();
}

}  // namespace ember::launcher::view
