// Sample state for the sign-in, registration, modal and blocker scenes.
#include "launcher/view/screens.h"

namespace ember::launcher::view {

bool fillFormsDemoScene(app::AppState&, const std::string&) { return false; }

}  // namespace ember::launcher::view
