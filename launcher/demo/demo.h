// The demo scenes: sample states for every screen, drawn by
// `--demo <scene>` and by the scene sweep in the tests. Nothing here runs a
// worker or touches the disk.
#pragma once

#include <string>
#include <vector>

#include "launcher/app/state.h"
#include "launcher/screens/screens.h"

namespace ember::launcher::view {

// Every demo scene name, in the documented order ("kit" is the developers'
// widget scene and not in the list).
const std::vector<std::string>& demoScenes();
// Fills the state with sample data for one scene (demo mode: no worker
// runs). False for an unknown scene name.
bool fillDemoScene(app::AppState& state, const std::string& scene);

// The sample world every scene starts from: an installed, up-to-date
// client, a signed-in player with realms, characters and news.
void fillDemoBase(app::AppState& state);
// The forms' share of fillDemoScene (sign-in and registration, modals,
// blockers); false when the scene is not one of theirs.
bool fillFormsDemoScene(app::AppState& state, const std::string& scene);

// The developers' widget scene.
void kitScene(app::AppState& state);
// What fills the window's body for this state: the widget scene when the
// demo shows "kit", otherwise nothing (the routed screens).
BodyBuilder demoBody(const app::AppState& state);

}  // namespace ember::launcher::view
