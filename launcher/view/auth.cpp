// The sign-in and registration screen.
#include "launcher/view/screens.h"
#include "launcher/view/widgets.h"
#include "ui/kiln.h"

namespace ember::launcher::view {

void authScreen(app::AppState&, bool registering) {
    kiln::openElement("div.solo");
    kiln::textElement("EMBERLANE", "text.t-h1");
    kiln::textElement(registering ? "Create your Emberlane account." : "Oblivion Remastered, together.", "text.solo__tag");
    kiln::closeElement();
}

}  // namespace ember::launcher::view
