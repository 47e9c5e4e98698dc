// The realm rail: heading, search, the realm list, its notes and the foot.
#include "launcher/view/screens.h"
#include "launcher/view/widgets.h"
#include "ui/kiln.h"

namespace ember::launcher::view {

void realmRail(app::AppState&) {
    kiln::openElement("div.rail");
    sectionHead("Realms", true);
    kiln::closeElement();
}

}  // namespace ember::launcher::view
