// The screens' errands outside the window (see shell_actions.h).
#include "launcher/app/shell_actions.h"

#include "launcher/app/controller.h"
#include "launcher/app/pipeline.h"
#include "base/log.h"
#include "base/text.h"

namespace ember::launcher::app {

void chooseGameFolder(const std::function<void(const std::string& error)>& done) {
    const PipelineSteps& steps = pipelineSteps();
    if (!steps.pickFolder) {
        if (done) done("");
        return;
    }
    const std::string current = state().gameFolder.empty() ? state().config.gamePath : state().gameFolder;
    steps.pickFolder(current, [&done](const std::string& folder, const std::string& error) {
        if (!error.empty() || folder.empty()) {
            if (done) done(error);
            return;
        }
        AppState& s = state();
        s.config.gamePath = folder;
        saveSettings();
        logLine("game folder chosen: " + folder);
        if (done) done("");
        preflight();
    });
}

void openFolder(const std::string& folder) {
    if (folder.empty()) return;
    trace("open " + folder);
    if (state().demo) return;
    const PipelineSteps& steps = pipelineSteps();
    if (steps.openFolder) steps.openFolder(folder);
}

void openWebPage(const std::string& url) {
    // Only web addresses go to the shell, never a path or a program.
    if (!isWebAddress(url)) return;
    openFolder(url);
}

std::string siteUrl() { return "https://" + urlHost(effectiveManifestUrl(state().config)) + "/"; }

std::string helpUrl() {
    const std::string& help = state().manifest.helpUrl;
    return help.empty() ? siteUrl() : help;
}

void dismissFirstRunCard(FirstRunCard card) {
    AppState& s = state();
    if (card == FirstRunCard::playerId) s.config.seenPlayerIdIntro = true;
    if (card == FirstRunCard::firstDownload) s.config.seenFirstRunNote = true;
    saveSettings();
}

void showTab(Tab tab) { state().tab = tab; }

void setRememberEmail(bool on) {
    state().config.rememberEmail = on;
    saveSettings();
}

}  // namespace ember::launcher::app
