// The home page: first-run cards, notices, the character panel, news, and
// the footer with the Play button and the progress block.
#include "launcher/view/screens.h"
#include "launcher/view/widgets.h"
#include "ui/kiln.h"

namespace ember::launcher::view {

void firstRunCards(app::AppState&) {}
void notices(app::AppState&) {}
void characterPanel(app::AppState&) {}

void homePage(app::AppState& state, uint64_t) {
    kiln::openElement("div.home");
    kiln::scrollBegin("home", "div.home__scroll");
    firstRunCards(state);
    notices(state);
    characterPanel(state);
    kiln::scrollEnd();
    kiln::closeElement();
}

std::string relativeDate(int64_t, int64_t) { return ""; }

}  // namespace ember::launcher::view
