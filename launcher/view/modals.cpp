// The dialogs: a scrim and one modal on top of everything.
#include "launcher/view/screens.h"
#include "launcher/view/widgets.h"
#include "ui/kiln.h"

namespace ember::launcher::view {

void modal(app::AppState& state) {
    if (kiln::buttonElement("scrim")) state.view.openModal.clear();
    kiln::closeElement();
}

}  // namespace ember::launcher::view
