// The full-window refusal screens, one per blocker kind.
#include "launcher/view/screens.h"
#include "launcher/view/widgets.h"
#include "ui/kiln.h"

namespace ember::launcher::view {

void blockerScreen(app::AppState&, const app::Blocker&) {
    kiln::openElement("div.content");
    kiln::scrollBegin("blocker", "div.blocker__scroll");
    kiln::textElement("Something went wrong", "text.t-h1.blocker__title");
    kiln::scrollEnd();
    kiln::closeElement();
}

}  // namespace ember::launcher::view
