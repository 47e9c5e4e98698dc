// The settings the player changes: each is saved to config.json (on the
// install worker, a failed write shown as a notice) and, where it changes
// what the launcher installs, followed by a preflight.
#include "launcher/app/pipeline.h"

#include "launcher/app/controller.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/text.h"

namespace ember::launcher::app {

void saveSettings() {
    AppState& s = state();
    if (s.demo) return;
    writeSettings(s.config, [] {
        logLine("settings: could not write " + configPath());
        // One notice says it while it is shown, however often it happens again.
        for (const Notice& n : state().notices) {
            if (n.title == text::kLauncherSettingsNotSaved) return;
        }
        pushError(text::kLauncherSettingsNotSaved, configPath());
    });
}


void setIgnoreVersion(bool on) {
    AppState& s = state();
    s.config.ignoreVersion = on;
    saveSettings();
    logLine(on ? "the game version check is off" : "the game version check is on");
}


void setChannel(const std::string& channel) {
    AppState& s = state();
    std::string wanted = channel == "dev" ? "dev" : "";
    if (wanted == s.config.channel) return;
    s.config.channel = wanted;
    saveSettings();
    logLine("channel: " + (wanted.empty() ? std::string("stable") : wanted));
    preflight();
}

std::string manifestUrlProblem(std::string_view input) {
    const std::string_view url = trim(input);
    return url.empty() || isWebAddress(url) ? std::string() : std::string(text::kNotAWebAddress);
}

void setManifestUrl(const std::string& input) {
    AppState& s = state();
    const std::string problem = manifestUrlProblem(input);
    if (!problem.empty()) {
        pushError(problem, "");
        return;
    }
    const std::string url(trim(input));
    s.config.manifestUrl = url;
    saveSettings();
    preflight();
}

void resetLauncher() {
    AppState& s = state();
    // The old file goes first, on the worker that writes the new one.
    if (!s.demo) runInstallTask([] { removeFile(configPath()); });
    // What was accepted is not a setting: a reset must not let an older
    // manifest back in.
    std::map<std::string, AcceptedManifest> accepted = s.config.acceptedManifests;
    s.config = Config();
    s.config.acceptedManifests = accepted;
    s.fault = Fault();
    s.blocker = Blocker();
    s.notices.clear();
    saveSettings();
    logLine("the launcher was reset");
    preflight();
}

void restartAsAdministrator() {
    if (pipelineSteps().restartElevated && pipelineSteps().restartElevated()) {
        logLine("restarting as administrator");
        quit();
        return;
    }
    pushError(text::kRestartRefused, "");
}


}  // namespace ember::launcher::app
