// The settings page and its Advanced section.
#include "launcher/app/accounts.h"
#include "launcher/app/controller.h"
#include "launcher/app/pipeline.h"
#include "launcher/app/shell_actions.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/text.h"
#include "launcher/screens/screens.h"
#include "launcher/kit/textfield.h"
#include "launcher/kit/widgets.h"
#include "ui/kiln/draw.h"
#include "ui/kiln/kiln.h"

namespace ember::launcher::view {

namespace {

constexpr const char kFolderField[] = "settings:folder";
constexpr const char kManifestField[] = "settings:manifest";
constexpr const char kLimitField[] = "settings:limit";

void beginGroup(std::string_view title) {
    kiln::openElement("div.sgroup");
    kiln::textElement(title, "text.t-label.sgroup__title");
}
void endGroup() { kiln::closeElement(); }

// A line of the page: text on the left, its buttons on the right.
void beginLine() { kiln::openElement("div.sline"); }
void lineText() { kiln::openElement("div.sline__text"); }
void endLine() { kiln::closeElement(); }

bool smallButton(const std::string& key, const std::string& label, const std::string& kind, bool disabled = false,
                 const std::string& icon = "") {
    ButtonOptions o;
    o.label = label;
    o.kind = kind;
    o.disabled = disabled;
    o.icon = icon;
    kiln::pushKey(key);
    const bool clicked = button(o);
    kiln::popKey();
    return clicked;
}

void folderGroup(app::AppState& state) {
    beginGroup("Oblivion Remastered folder");
    // The path field shows what the last check found; it is read-only, so
    // it follows the state every frame.
    if (fieldText(state, kFolderField) != state.gameFolder) setFieldText(state, kFolderField, state.gameFolder);
    kiln::openElement("div.sline.sline--field");
    FieldOptions folder;
    folder.id = kFolderField;
    folder.text = state.gameFolder;
    folder.placeholder = "No folder chosen";
    folder.readOnly = true;
    folder.inputClass = "input--path";
    editField(state, folder);
    if (smallButton("folder:browse", "Browse\xE2\x80\xA6", "secondary", false)) state.view.pickFolderRequested = true;
    kiln::closeElement();

    // What the last check says about it.
    const std::string& picked = state.view.fieldNotes[kFolderField];
    kiln::openElement("div.snote");
    if (!picked.empty()) {
        kiln::textElement(picked, "text.snote__text.snote--error");
    } else if (state.gameFolder.empty()) {
        kiln::textElement("Not found \xE2\x80\x94 choose the folder that holds OblivionRemastered.exe.",
                          "text.snote__text.snote--error");
    } else {
        const std::string version = state.gameVersion.empty() ? "unknown" : state.gameVersion;
        const std::string head = "Oblivion Remastered " + version + " ";
        if (!state.manifestLoaded || state.offline) {
            kiln::textElement(head + "\xE2\x80\x94 couldn't check (no connection to " + siteHost(state) + ")",
                              "text.snote__text.snote--warn");
        } else if (state.supported) {
            kiln::textElement(head + "\xE2\x80\x94 supported", "text.snote__text.snote--ok");
        } else {
            kiln::textElement(head + "\xE2\x80\x94 not supported yet", "text.snote__text.snote--warn");
            ButtonOptions what;
            what.label = "What does this mean?";
            what.kind = "ghost";
            what.extraClass = "btn--link";
            kiln::pushKey("folder:what");
            if (button(what)) {
                app::noticeAction(app::NoticeAction::showUnsupported);
                app::showTab(app::Tab::home);
            }
            kiln::popKey();
        }
    }
    kiln::closeElement();
    kiln::openElement("div.sactions.sactions--lead");
    if (smallButton("folder:open", "Open the game folder", "ghost", state.gameFolder.empty()))
        app::openFolder(state.gameFolder);
    kiln::closeElement();
    endGroup();
}

void clientGroup(app::AppState& state) {
    beginGroup("Client");
    kiln::textElement("Update channel", "text.sline__label");
    const bool dev = state.config.channel == "dev";
    kiln::openElement("div.sradios");
    kiln::pushKey("channel:stable");
    if (radio("Stable", !dev)) app::setChannel("stable");
    kiln::popKey();
    kiln::pushKey("channel:dev");
    if (radio("Development", dev)) app::setChannel("dev");
    kiln::popKey();
    kiln::closeElement();
    if (dev) kiln::textElement("Dev builds can break. You can switch back any time.", "text.snote__text.snote--warn");

    // The download speed limit: checked here first so the refusal stands
    // under the field; the controller applies it (and refuses the same way).
    kiln::openElement("div.srule");
    kiln::closeElement();
    std::string& limitNote = state.view.fieldNotes[kLimitField];
    const std::string limitNow = app::formatSpeedLimit(state.config.downloadLimitTenths);
    kiln::openElement("div.sline.sline--field.sline--labelled.sline--limit");
    FieldOptions limit;
    limit.id = kLimitField;
    limit.label = "Download speed limit";
    limit.text = limitNow;
    limit.placeholder = "Off";
    limit.hint = limitNote.empty() ? (limitNow.empty() ? "Off: downloads run as fast as your connection allows."
                                                       : "All downloads together keep to " + limitNow + " MB/s.")
                                   : std::string();
    limit.error = limitNote;
    limit.maxLength = 8;
    editField(state, limit);
    kiln::textElement("MB/s", "text.sline__unit");
    const bool applyLimit =
        smallButton("client:limit", "Apply", "secondary") || state.view.submitted == kLimitField;
    kiln::closeElement();
    if (applyLimit) {
        const std::string typed = fieldText(state, kLimitField);
        uint32_t tenths = 0;
        limitNote = app::speedLimitProblem(typed, tenths);
        if (limitNote.empty()) {
            if (state.demo) {
                trace("demo: speed limit " + typed);
                state.config.downloadLimitTenths = tenths;
            } else {
                app::setSpeedLimit(typed);
            }
            setFieldText(state, kLimitField, app::formatSpeedLimit(tenths));
        }
    }

    kiln::openElement("div.srule");
    kiln::closeElement();
    beginLine();
    lineText();
    const size_t files = state.config.installed.size();
    const std::string client = state.config.lastClientVersion;
    std::string installed = files == 0 ? "No client files installed yet"
                                       : std::to_string(files) + (files == 1 ? " file installed" : " files installed");
    if (!client.empty()) installed += " \xC2\xB7 client " + client;
    kiln::textElement(installed, "text.sline__head");
    kiln::textElement("Re-checks every Emberlane file against the server, replaces anything wrong, and removes "
                      "leftovers from older versions. Your Oblivion Remastered, your saves and your other mods are "
                      "left alone.",
                      "text.sline__hint");
    kiln::closeElement();
    kiln::openElement("div.sline__btns");
    if (smallButton("client:repair", "Verify & repair files", "secondary", state.busy)) {
        if (state.demo) {
            trace("demo: verify & repair");
        } else {
            app::startPipeline(true);
        }
    }
    kiln::closeElement();
    endLine();
    endGroup();
}

void accountGroup(app::AppState& state) {
    beginGroup("Account");
    if (state.accountsActive && state.signedIn && !state.playWithoutAccount) {
        beginLine();
        const std::string& name = state.account.displayName.empty() ? state.email : state.account.displayName;
        avatar(name.empty() ? "?" : name.substr(0, 1));
        lineText();
        kiln::textElement(name, "text.sline__head");
        if (!state.email.empty()) kiln::textElement(state.email, "text.sline__hint");
        kiln::closeElement();
        kiln::openElement("div.sline__btns");
        if (smallButton("account:logout", "Log out", "ghost")) state.view.openModal = app::ModalKind::logout;
        kiln::closeElement();
        endLine();
    } else {
        beginLine();
        const std::string id = state.config.profileId > 0 ? std::to_string(state.config.profileId) : "";
        lineText();
        kiln::textElement("Character id", "text.sline__head");
        kiln::textElement("This id is your character. Write it down \xE2\x80\x94 entering it on another PC keeps your "
                          "progress.",
                          "text.sline__hint");
        kiln::closeElement();
        endLine();
        kiln::openElement("div.sactions");
        if (!id.empty()) {
            playerId(id);
            ButtonOptions copy;
            copy.label = "Copy id";
            kiln::pushKey("account:copy");
            copyButton(copy, id, state.view.copiedUntil["account:copy"]);
            kiln::popKey();
        } else {
            kiln::textElement("Your character is created the first time you play.", "text.sline__hint");
        }
        if (smallButton("account:change", "Use a different id\xE2\x80\xA6", "ghost")) state.view.openModal = app::ModalKind::changeId;
        kiln::closeElement();
    }
    endGroup();
}

void versionGroup(app::AppState& state) {
    beginGroup("Version");
    beginLine();
    lineText();
    kiln::textElement("Launcher " + state.version +
                          (state.launcherUpdateOffered ? " \xC2\xB7 update ready" : " \xC2\xB7 up to date"),
                      state.launcherUpdateOffered ? "text.sline__head.sline__head--update" : "text.sline__head");
    kiln::closeElement();
    kiln::openElement("div.sline__btns");
    {
        ButtonOptions check;
        check.label = state.preflightRunning ? "Checking" : "Check now";
        check.kind = "ghost";
        check.busy = state.preflightRunning;
        check.disabled = state.busy;
        kiln::pushKey("version:check");
        if (button(check)) app::preflight();
        kiln::popKey();
    }
    if (state.launcherUpdateOffered && smallButton("version:update", "Update & restart", "secondary", state.busy)) {
        if (state.demo) {
            trace("demo: update the launcher");
        } else {
            app::applyLauncherUpdate();
        }
    }
    if (smallButton("version:logs", "Open logs folder", "ghost")) app::openFolder(configDir());
    kiln::closeElement();
    endLine();
    endGroup();
}

void advancedSection(app::AppState& state) {
    // Opening the section scrolls the page down to it.
    if (state.view.advancedOpen && !state.view.advancedWasOpen) kiln::scrollToEnd();
    state.view.advancedWasOpen = state.view.advancedOpen;
    kiln::openElement(state.view.advancedOpen ? "div.advanced.is-open" : "div.advanced");
    kiln::pushKey("advanced:toggle");
    if (kiln::buttonElement("div.advanced__sum")) {
        state.view.advancedOpen = !state.view.advancedOpen;
        trace("click advanced");
    }
    kiln::arrowElement(state.view.advancedOpen ? kiln::ArrowDown : kiln::ArrowRight, 10 * widgetScale(),
                       "arrow.advanced__arrow");
    kiln::textElement("Advanced", "text.t-label.advanced__title");
    kiln::openElement("div.sechead__rule.sechead__rule--grow");
    kiln::closeElement();
    kiln::closeElement();
    kiln::popKey();
    if (!state.view.advancedOpen) {
        kiln::closeElement();
        return;
    }
    kiln::openElement("div.advanced__body");

    // The manifest override: checked here first so the refusal stands under
    // the field; the controller applies it (and refuses the same way).
    std::string& note = state.view.fieldNotes[kManifestField];
    kiln::openElement("div.sline.sline--field.sline--labelled");
    FieldOptions url;
    url.id = kManifestField;
    url.label = "Manifest URL override";
    url.text = state.config.manifestUrl;
    url.placeholder = app::kDefaultManifestUrl;
    url.hint = "Leave blank to use the channel default.";
    url.error = note;
    url.maxLength = 2048;
    editField(state, url);
    const bool apply = smallButton("advanced:apply", "Apply", "secondary") || state.view.submitted == kManifestField;
    kiln::closeElement();
    if (apply) {
        const std::string text = fieldText(state, kManifestField);
        note = app::manifestUrlProblem(text);
        if (note.empty()) app::setManifestUrl(text);
    }

    // The version check: turning it off asks first.
    bool ignore = state.config.ignoreVersion;
    kiln::pushKey("advanced:ignore");
    if (checkbox("Ignore the game version check", ignore)) {
        if (ignore) {
            state.view.openModal = app::ModalKind::ignoreVersion;
        } else {
            app::setIgnoreVersion(false);
        }
    }
    kiln::popKey();

    kiln::openElement("div.sactions.sactions--lead");
    if (smallButton("advanced:reset", "Reset launcher", "danger-ghost")) state.view.openModal = app::ModalKind::reset;
    kiln::closeElement();
    kiln::closeElement();
    kiln::closeElement();
}

}  // namespace

void settingsScreen(app::AppState& state) {
    kiln::openElement("div.content");
    kiln::scrollBegin("settings", "div.settings");
    sectionHead("Settings");
    folderGroup(state);
    clientGroup(state);
    accountGroup(state);
    versionGroup(state);
    advancedSection(state);
    kiln::scrollEnd();
    kiln::closeElement();
}

}  // namespace ember::launcher::view
