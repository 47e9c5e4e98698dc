// The full-window refusal screens, one per blocker kind, and the helpers
// the forms share (forms.h).
#include <cinttypes>
#include <algorithm>
#include <cstdio>

#include "launcher/app/accounts.h"
#include "launcher/app/controller.h"
#include "launcher/app/pipeline.h"
#include "launcher/app/shell_actions.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/text.h"
#include "launcher/screens/forms.h"
#include "launcher/screens/screens.h"
#include "launcher/kit/widgets.h"
#include "ui/kiln/kiln.h"

namespace ember::launcher::view {

// ---------------------------------------------------------------------------
// Shared helpers

float columnWidth(float maxWidth, float padding) {
    const float scale = widgetScale();
    const kiln::Rect row = kiln::lastRect();
    const float room = (row.w > 0 ? row.w : kiln::ui().width) - padding * scale;
    return std::max(0.0f, std::min(maxWidth * scale, room));
}

std::string formatSize(uint64_t bytes) {
    char text[32];
    const double b = static_cast<double>(bytes);
    if (b >= 1024.0 * 1024 * 1024) {
        std::snprintf(text, sizeof text, "%.1f GB", b / (1024.0 * 1024 * 1024));
    } else if (b >= 1024.0 * 1024) {
        std::snprintf(text, sizeof text, "%.0f MB", b / (1024.0 * 1024));
    } else {
        std::snprintf(text, sizeof text, "%.0f KB", b / 1024.0);
    }
    return text;
}

namespace {

void paragraph(const std::string& text, const char* spec = "text.blocker__text") { kiln::textElement(text, spec); }

// The actions of a screen, one build's row of them: the first is the
// primary one, the second a plain button beside it, any further one a
// quieter link under them (three buttons in a row do not fit the column at
// the larger scales).
struct Actions {
    int count = 0;  // actions placed so far
    bool operator()(const std::string& label);
};
bool Actions::operator()(const std::string& label) {
    const int index = count++;
    if (index == 2) {
        kiln::closeElement();  // the row of the first two
        kiln::openElement("div.blocker__more");
    }
    ButtonOptions o;
    o.label = label;
    o.kind = index == 0 ? "primary" : index == 1 ? "secondary" : "ghost";
    o.tall = index < 2;
    if (index >= 2) o.extraClass = "blocker__link";
    kiln::pushKey("act:" + label);
    const bool clicked = button(o);
    kiln::popKey();
    return clicked;
}

std::string gameFolderOf(const app::AppState& state, const app::Blocker& b) {
    if (!b.path.empty()) return b.path;
    return state.gameFolder.empty() ? state.config.gamePath : state.gameFolder;
}

const std::vector<app::BlockedModFound>& modsOf(const app::AppState& state, const app::Blocker& b) {
    return b.mods.empty() ? state.blockedMods : b.mods;
}

// What the screen shows: the kind (an unsupported-version blocker that
// never received the supported list is really a connection problem) and
// the technical text of its details.
struct Shown {
    std::string kind;
    std::string details;
};

Shown shownFor(const app::AppState& state, const app::Blocker& b) {
    Shown s;
    s.kind = b.kind;
    s.details = b.detail;
    auto add = [&](const std::string& text) {
        if (text.empty()) return;
        if (!s.details.empty()) s.details += "\n";
        s.details += text;
    };
    if (b.kind == "unsupported-version" && b.supportedVersions.empty() && state.manifest.supportedVersions.empty()) {
        s.kind = "no-network";
        add("the supported version list was never received");
    } else if (b.kind == "game-not-found") {
        const std::vector<std::string>& searched = b.searched.empty() ? state.searched : b.searched;
        std::string text = "searched:";
        for (const std::string& place : searched) text += "\n" + place;
        if (searched.empty()) text += "\n(nothing recorded)";
        add(text);
    } else if (b.kind != "no-network" && b.kind != "disk-space" && b.kind != "blocked-mods" &&
               b.kind != "permission" && b.kind != "file-locked" && b.kind != "launcher-outdated" &&
               b.kind != "restarting" && !b.body.empty()) {
        // A kind without a screen of its own: the message is the detail.
        s.details = b.body + (b.detail.empty() ? "" : "\n" + b.detail);
    }
    return s;
}

// Two figures side by side; the one that is the problem stands out.
void comparison(const std::string& leftLabel, const std::string& left, const std::string& rightLabel,
                const std::string& right, bool leftIsTheProblem) {
    const char* plain = "text.blocker__value";
    const char* bad = "text.blocker__value.blocker__value--bad";
    kiln::openElement("div.blocker__compare");
    kiln::openElement("div.blocker__col");
    kiln::textElement(leftLabel, "text.t-label.blocker__label");
    kiln::textElement(left, leftIsTheProblem ? bad : plain);
    kiln::closeElement();
    kiln::openElement("div.blocker__col");
    kiln::textElement(rightLabel, "text.t-label.blocker__label");
    kiln::textElement(right, leftIsTheProblem ? plain : bad);
    kiln::closeElement();
    kiln::closeElement();
}

void hint(const std::string& text) {
    kiln::openElement("div.blocker__hint");
    kiln::textElement(text, "text.blocker__hinttext");
    kiln::closeElement();
}

void modList(const std::vector<app::BlockedModFound>& mods) {
    kiln::openElement("div.blocker__mods");
    for (const app::BlockedModFound& mod : mods) {
        kiln::openElement("div.blocker__mod");
        kiln::textElement(mod.path, "text.blocker__modpath");
        if (!mod.reason.empty()) kiln::textElement(mod.reason, "text.blocker__modwhy");
        kiln::closeElement();
    }
    kiln::closeElement();
}

}  // namespace

void blockerScreen(app::AppState& state, const app::Blocker& blocker) {
    const Shown shown = shownFor(state, blocker);
    const std::string& kind = shown.kind;
    app::BlockerView& view = state.view.blocker;
    if (view.kind != blocker.kind || view.details != shown.details) {
        view = app::BlockerView();
        view.kind = blocker.kind;
        view.details = shown.details;
        view.noticeMark = state.notices.size();
    }
    if (view.noticeMark > state.notices.size()) view.noticeMark = state.notices.size();
    const std::string host = siteHost(state);

    kiln::openElement("div.content");
    kiln::scrollBegin("blocker", "div.blocker__scroll");
    kiln::openElement("div.blocker__row");
    const float width = columnWidth(640, 64);
    kiln::openElement(kind == "restarting" ? "div.blocker.blocker--calm" : "div.blocker");
    kiln::setSize(width, -1);

    // The mark above the title.
    kiln::openElement("div.blocker__mark");
    if (kind == "restarting") {
        spinner();
    } else {
        seal(kind == "error" || kind.empty() ? "err" : "warn", "!");
    }
    kiln::closeElement();

    // Title and body by kind.
    std::string title;
    if (kind == "game-not-found") {
        title = "Oblivion Remastered not found";
    } else if (kind == "unsupported-version") {
        title = "This Oblivion Remastered version isn't supported yet";
    } else if (kind == "no-network") {
        title = "Can't reach Emberlane";
    } else if (kind == "disk-space") {
        title = "Not enough space on " + (blocker.drive.empty() ? std::string("the game drive") : blocker.drive);
    } else if (kind == "blocked-mods") {
        title = modsOf(state, blocker).size() == 1 ? "That mod is not allowed here" : "These mods are not allowed here";
    } else if (kind == "permission") {
        title = "Can't write to the Oblivion Remastered folder";
    } else if (kind == "file-locked") {
        title = "A file is in use";
    } else if (kind == "launcher-outdated") {
        title = "This launcher is out of date";
    } else if (kind == "restarting") {
        title = "Restarting the launcher\xE2\x80\xA6";
    } else {
        title = "Something went wrong";
    }
    kiln::textElement(title, "text.t-h1.blocker__title");

    kiln::openElement("div.blocker__body");
    if (kind == "game-not-found") {
        paragraph("The launcher looked in every Steam library on this PC and didn\xE2\x80\x99t find "
                  "OblivionRemastered.exe.");
        if (view.hintOpen)
            hint("Steam keeps it in <library>\\steamapps\\common\\Oblivion Remastered, for example "
                 "C:\\Program Files (x86)\\Steam\\steamapps\\common\\Oblivion Remastered. In Steam, right-click "
                 "the game, then Manage \xE2\x86\x92 Browse local files opens it.");
    } else if (kind == "unsupported-version") {
        const std::vector<std::string>& supported =
            blocker.supportedVersions.empty() ? state.manifest.supportedVersions : blocker.supportedVersions;
        std::string version = blocker.version.empty() ? state.gameVersion : blocker.version;
        if (version.empty()) version = "unknown";
        comparison("Your game:", version, "Emberlane needs:", joined(supported, ", "), true);
        paragraph("Steam updated your game. Emberlane has to be rebuilt against each new Oblivion Remastered before "
                  "it can run on it.");
        paragraph("You don\xE2\x80\x99t have to downgrade \xE2\x80\x94 support moves forward, usually within days.",
                  "text.blocker__text.blocker__text--strong");
    } else if (kind == "no-network") {
        paragraph("This PC can't reach " + host +
                  ", and Emberlane isn't installed yet \xE2\x80\x94 so there's nothing to play offline.");
        paragraph("Check that you\xE2\x80\x99re online, then choose Try again. If the rest of the web works, the server "
                  "may be down for a few minutes.");
    } else if (kind == "disk-space") {
        comparison("Needed:", formatSize(blocker.neededBytes), "Free now:", formatSize(blocker.freeBytes), false);
        paragraph("Emberlane needs " + formatSize(blocker.neededBytes) + " free to install.");
        const uint64_t shortBy =
            blocker.neededBytes > blocker.freeBytes ? blocker.neededBytes - blocker.freeBytes : 0;
        paragraph(shortBy > 0 ? "Free up about " + formatSize(shortBy) +
                                    ", or move Oblivion Remastered to another drive."
                              : "Free up some space, or move Oblivion Remastered to another drive.");
    } else if (kind == "blocked-mods") {
        paragraph("Mods that give a player an advantage over others are not allowed.");
        modList(modsOf(state, blocker));
        paragraph("Disabling renames the file to .disabled-by-emberlane and leaves it in your Oblivion Remastered "
                  "folder. Nothing is deleted, and renaming it back undoes this. Your other mods are untouched.");
    } else if (kind == "permission") {
        kiln::openElement("div.blocker__path");
        kiln::textElement(gameFolderOf(state, blocker), "text.blocker__pathtext");
        kiln::closeElement();
        paragraph("Windows is blocking the launcher from changing files there.");
        paragraph("Restarting as administrator is a one-off \xE2\x80\x94 Windows will ask you to confirm. Moving "
                  "Oblivion Remastered out of Program Files fixes it for good.");
        if (view.hintOpen)
            hint("Windows protects Program Files: a program may only change files there with an administrator's "
                 "permission. A Steam library in a folder of its own, such as D:\\SteamLibrary, has no such "
                 "limit. Steam can move the game: Properties \xE2\x86\x92 Installed Files \xE2\x86\x92 Move "
                 "install folder.");
    } else if (kind == "file-locked") {
        paragraph("A file the update needs is open in another program, so it could not be replaced.");
        paragraph("Close Oblivion Remastered if it is running, wait for your antivirus to finish scanning, then try "
                  "again. Your existing files are unchanged.");
    } else if (kind == "launcher-outdated") {
        paragraph("A newer launcher is required (you have " + (state.version.empty() ? std::string(app::kLauncherVersion)
                                                                                    : state.version) +
                  "). This one can no longer read what the server publishes.");
        paragraph("Updating takes a few seconds. If the update will not install, download the launcher again from " +
                  host + ".");
    } else if (kind == "restarting") {
        paragraph("The update is installed. This window closes and reopens in a moment.");
    } else {
        paragraph("The launcher hit an error it could not recover from.");
    }
    kiln::closeElement();  // body

    // Actions.
    if (kind != "restarting") {
        kiln::openElement("div.blocker__actions");
        Actions action;
        const std::string folder = gameFolderOf(state, blocker);
        if (kind == "game-not-found") {
            if (action("Choose the folder\xE2\x80\xA6")) state.view.pickFolderRequested = true;
            if (action("Where is it usually?")) view.hintOpen = !view.hintOpen;
        } else if (kind == "unsupported-version") {
            const std::string help = blocker.helpUrl.empty() ? state.manifest.helpUrl : blocker.helpUrl;
            if (action("What to do")) app::openWebPage(help.empty() ? app::helpUrl() : help);
            if (action("Check again")) app::preflight();
        } else if (kind == "no-network") {
            if (action("Try again")) app::preflight();
            if (action("Open " + host)) app::openWebPage(app::siteUrl());
        } else if (kind == "disk-space") {
            if (action("Check again")) app::preflight();
            if (action("Open")) app::openFolder(folder);
        } else if (kind == "blocked-mods") {
            if (action(modsOf(state, blocker).size() == 1 ? "Disable it and play" : "Disable them and play"))
                app::disableBlockedMods();
            if (action("Open the folder")) app::openFolder(folder);
            if (action("Check again")) app::preflight();
        } else if (kind == "permission") {
            if (action("Restart as administrator")) app::restartAsAdministrator();
            if (action("Choose a different folder\xE2\x80\xA6")) state.view.pickFolderRequested = true;
            if (action("Why does this happen?")) view.hintOpen = !view.hintOpen;
        } else if (kind == "file-locked") {
            if (action("Try again")) app::preflight();
            if (action("Open logs folder")) app::openFolder(configDir());
        } else if (kind == "launcher-outdated") {
            if (action("Update & restart")) app::applyLauncherUpdate();
            if (action("Open " + host)) app::openWebPage(app::siteUrl());
        } else {
            if (action("Try again")) app::preflight();
            if (action("Open logs folder")) app::openFolder(configDir());
        }
        kiln::closeElement();
    }

    // What went wrong with an action of this screen.
    for (size_t i = view.noticeMark; i < state.notices.size(); ++i) {
        const app::Notice& n = state.notices[i];
        if (n.tone == "error") kiln::textElement(n.title, "text.blocker__err");
    }

    if (!shown.details.empty()) {
        kiln::openElement("div.blocker__details");
        details(shown.details, view.detailsOpen, state.view.copiedUntil["blocker:details"]);
        kiln::closeElement();
    }

    kiln::closeElement();  // blocker
    kiln::closeElement();  // row
    kiln::scrollEnd();
    kiln::closeElement();  // content
}

}  // namespace ember::launcher::view
