// The demo scenes: sample state for each scene of --demo.
#include "launcher/view/screens.h"

namespace ember::launcher::view {

const std::vector<std::string>& demoScenes() {
    static const std::vector<std::string> scenes = {
        "login", "register", "login-error", "login-busy", "login-captcha", "login-wait", "register-error",
        "login-pending", "login-activate", "register-closed", "home", "home-progress", "home-verify",
        "home-install", "home-update", "home-empty", "home-loading", "home-chars-error", "home-offline",
        "home-local", "home-unsupported", "home-running", "home-error", "realms-many", "settings",
        "settings-advanced", "settings-dev", "modal:create", "modal:delete", "modal:logout", "modal:change-id",
        "modal:stop-update", "advanced,modal:ignore-version", "advanced,modal:reset", "game-not-found",
        "unsupported-version", "no-network", "disk-space", "blocked-mods", "permission", "file-locked",
        "launcher-outdated", "restarting"};
    return scenes;
}

void fillDemoBase(app::AppState&) {}

bool fillDemoScene(app::AppState& state, const std::string& scene) {
    state.view.scene = scene;
    fillDemoBase(state);
    if (scene == "kit") return true;
    if (fillFormsDemoScene(state, scene)) return true;
    for (const std::string& s : demoScenes())
        if (s == scene) return true;
    return false;
}

}  // namespace ember::launcher::view
