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
    app::BlockerKind kind = app::BlockerKind::none;
    std::string details;
};

// The refusals whose screen explains the message in words of its own; for
// the others the message itself goes into the details.
bool explainsItself(app::BlockerKind kind) {
    switch (kind) {
        case app::BlockerKind::noNetwork:
        case app::BlockerKind::diskSpace:
        case app::BlockerKind::blockedMods:
        case app::BlockerKind::permission:
        case app::BlockerKind::fileLocked:
        case app::BlockerKind::launcherOutdated:
        case app::BlockerKind::manifestRefused:
        case app::BlockerKind::restarting: return true;
        default: return false;
    }
}

Shown shownFor(const app::AppState& state, const app::Blocker& b) {
    Shown s;
    s.kind = b.kind;
    s.details = b.detail;
    auto add = [&](const std::string& text) {
        if (text.empty()) return;
        if (!s.details.empty()) s.details += "\n";
        s.details += text;
    };
    if (b.kind == app::BlockerKind::unsupportedVersion && b.supportedVersions.empty() &&
        state.manifest.supportedVersions.empty()) {
        s.kind = app::BlockerKind::noNetwork;
        add("the supported version list was never received");
    } else if (b.kind == app::BlockerKind::gameNotFound) {
        const std::vector<std::string>& searched = b.searched.empty() ? state.searched : b.searched;
        std::string text = "searched:";
        for (const std::string& place : searched) text += "\n" + place;
        if (searched.empty()) text += "\n(nothing recorded)";
        add(text);
    } else if (!explainsItself(b.kind) && !b.body.empty()) {
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

// What one refusal screen is drawn from.
struct Page {
    app::AppState& state;
    const app::Blocker& blocker;
    app::BlockerView& view;
    std::string host;    // the project's web host
    std::string folder;  // the game folder the refusal is about
};

// One refusal screen: its title, its explanation and its actions.
struct Screen {
    app::BlockerKind kind;
    std::string (*title)(const Page&);
    void (*body)(const Page&);
    void (*actions)(Page&, Actions&);
};

std::string fixedTitle(const char* text) { return text; }

const Screen kScreens[] = {
    {app::BlockerKind::gameNotFound, [](const Page&) { return fixedTitle("Oblivion Remastered not found"); },
     [](const Page& p) {
         paragraph("The launcher looked in every Steam library on this PC and didn\xE2\x80\x99t find "
                   "OblivionRemastered.exe.");
         if (p.view.hintOpen)
             hint("Steam keeps it in <library>\\steamapps\\common\\Oblivion Remastered, for example "
                  "C:\\Program Files (x86)\\Steam\\steamapps\\common\\Oblivion Remastered. In Steam, right-click "
                  "the game, then Manage \xE2\x86\x92 Browse local files opens it.");
     },
     [](Page& p, Actions& action) {
         if (action("Choose the folder\xE2\x80\xA6")) p.state.view.pickFolderRequested = true;
         if (action("Where is it usually?")) p.view.hintOpen = !p.view.hintOpen;
     }},
    {app::BlockerKind::unsupportedVersion,
     [](const Page&) { return fixedTitle("This Oblivion Remastered version isn't supported yet"); },
     [](const Page& p) {
         const std::vector<std::string>& supported = p.blocker.supportedVersions.empty()
                                                         ? p.state.manifest.supportedVersions
                                                         : p.blocker.supportedVersions;
         std::string version = p.blocker.version.empty() ? p.state.gameVersion : p.blocker.version;
         if (version.empty()) version = "unknown";
         comparison("Your game:", version, "Emberlane needs:", joined(supported, ", "), true);
         paragraph("Steam updated your game. Emberlane has to be rebuilt against each new Oblivion Remastered "
                   "before it can run on it.");
         paragraph("You don\xE2\x80\x99t have to downgrade \xE2\x80\x94 support moves forward, usually within days.",
                   "text.blocker__text.blocker__text--strong");
     },
     [](Page& p, Actions& action) {
         const std::string help = p.blocker.helpUrl.empty() ? p.state.manifest.helpUrl : p.blocker.helpUrl;
         if (action("What to do")) app::openWebPage(help.empty() ? app::helpUrl() : help);
         if (action("Check again")) app::preflight();
     }},
    {app::BlockerKind::noNetwork, [](const Page&) { return fixedTitle("Can't reach Emberlane"); },
     [](const Page& p) {
         paragraph("This PC can't reach " + p.host +
                   ", and Emberlane isn't installed yet \xE2\x80\x94 so there's nothing to play offline.");
         paragraph("Check that you\xE2\x80\x99re online, then choose Try again. If the rest of the web works, the "
                   "server may be down for a few minutes.");
     },
     [](Page& p, Actions& action) {
         if (action("Try again")) app::preflight();
         if (action("Open " + p.host)) app::openWebPage(app::siteUrl());
     }},
    {app::BlockerKind::diskSpace,
     [](const Page& p) {
         return "Not enough space on " + (p.blocker.drive.empty() ? std::string("the game drive") : p.blocker.drive);
     },
     [](const Page& p) {
         const app::Blocker& b = p.blocker;
         comparison("Needed:", formatBytes(b.neededBytes, ByteStyle::size), "Free now:", formatBytes(b.freeBytes, ByteStyle::size), false);
         paragraph("Emberlane needs " + formatBytes(b.neededBytes, ByteStyle::size) + " free to install.");
         const uint64_t shortBy = b.neededBytes > b.freeBytes ? b.neededBytes - b.freeBytes : 0;
         paragraph(shortBy > 0 ? "Free up about " + formatBytes(shortBy, ByteStyle::size) +
                                     ", or move Oblivion Remastered to another drive."
                               : "Free up some space, or move Oblivion Remastered to another drive.");
     },
     [](Page& p, Actions& action) {
         if (action("Check again")) app::preflight();
         if (action("Open")) app::openFolder(p.folder);
     }},
    {app::BlockerKind::blockedMods,
     [](const Page& p) {
         return fixedTitle(modsOf(p.state, p.blocker).size() == 1 ? "That mod is not allowed here"
                                                                  : "These mods are not allowed here");
     },
     [](const Page& p) {
         paragraph("Mods that give a player an advantage over others are not allowed.");
         modList(modsOf(p.state, p.blocker));
         paragraph("Disabling renames the file to .disabled-by-emberlane and leaves it in your Oblivion Remastered "
                   "folder. Nothing is deleted, and renaming it back undoes this. Your other mods are untouched.");
     },
     [](Page& p, Actions& action) {
         if (action(modsOf(p.state, p.blocker).size() == 1 ? "Disable it and play" : "Disable them and play"))
             app::disableBlockedMods();
         if (action("Open the folder")) app::openFolder(p.folder);
         if (action("Check again")) app::preflight();
     }},
    {app::BlockerKind::permission, [](const Page&) { return fixedTitle("Can't write to the Oblivion Remastered folder"); },
     [](const Page& p) {
         kiln::openElement("div.blocker__path");
         kiln::textElement(p.folder, "text.blocker__pathtext");
         kiln::closeElement();
         paragraph("Windows is blocking the launcher from changing files there.");
         paragraph("Restarting as administrator is a one-off \xE2\x80\x94 Windows will ask you to confirm. Moving "
                   "Oblivion Remastered out of Program Files fixes it for good.");
         if (p.view.hintOpen)
             hint("Windows protects Program Files: a program may only change files there with an administrator's "
                  "permission. A Steam library in a folder of its own, such as D:\\SteamLibrary, has no such "
                  "limit. Steam can move the game: Properties \xE2\x86\x92 Installed Files \xE2\x86\x92 Move "
                  "install folder.");
     },
     [](Page& p, Actions& action) {
         if (action("Restart as administrator")) app::restartAsAdministrator();
         if (action("Choose a different folder\xE2\x80\xA6")) p.state.view.pickFolderRequested = true;
         if (action("Why does this happen?")) p.view.hintOpen = !p.view.hintOpen;
     }},
    {app::BlockerKind::fileLocked, [](const Page&) { return fixedTitle("A file is in use"); },
     [](const Page&) {
         paragraph("A file the update needs is open in another program, so it could not be replaced.");
         paragraph("Close Oblivion Remastered if it is running, wait for your antivirus to finish scanning, then "
                   "try again. Your existing files are unchanged.");
     },
     [](Page&, Actions& action) {
         if (action("Try again")) app::preflight();
         if (action("Open logs folder")) app::openFolder(configDir());
     }},
    {app::BlockerKind::launcherOutdated, [](const Page&) { return fixedTitle("This launcher is out of date"); },
     [](const Page& p) {
         paragraph("A newer launcher is required (you have " +
                   (p.state.version.empty() ? std::string(app::kLauncherVersion) : p.state.version) +
                   "). This one can no longer read what the server publishes.");
         paragraph("Updating takes a few seconds. If the update will not install, download the launcher again from " +
                   p.host + ".");
     },
     [](Page& p, Actions& action) {
         if (action("Update & restart")) app::applyLauncherUpdate();
         if (action("Open " + p.host)) app::openWebPage(app::siteUrl());
     }},
    {app::BlockerKind::manifestRefused, [](const Page&) { return fixedTitle("This update can't be trusted"); },
     [](const Page& p) { paragraph(p.blocker.body); },
     [](Page&, Actions& action) {
         if (action("Try again")) app::preflight();
     }},
    {app::BlockerKind::restarting, [](const Page&) { return fixedTitle("Restarting the launcher\xE2\x80\xA6"); },
     [](const Page&) { paragraph("The update is installed. This window closes and reopens in a moment."); },
     nullptr},
};

// A refusal without a screen of its own.
const Screen kSomethingWrong = {
    app::BlockerKind::error, [](const Page&) { return fixedTitle("Something went wrong"); },
    [](const Page&) { paragraph("The launcher hit an error it could not recover from."); },
    [](Page&, Actions& action) {
        if (action("Try again")) app::preflight();
        if (action("Open logs folder")) app::openFolder(configDir());
    }};

const Screen& screenFor(app::BlockerKind kind) {
    for (const Screen& screen : kScreens) {
        if (screen.kind == kind) return screen;
    }
    return kSomethingWrong;
}

}  // namespace

void blockerScreen(app::AppState& state, const app::Blocker& blocker) {
    const Shown shown = shownFor(state, blocker);
    app::BlockerView& view = state.view.blocker;
    if (view.kind != blocker.kind || view.details != shown.details) {
        view = app::BlockerView();
        view.kind = blocker.kind;
        view.details = shown.details;
        view.noticeMark = state.notices.size();
    }
    if (view.noticeMark > state.notices.size()) view.noticeMark = state.notices.size();
    const Screen& screen = screenFor(shown.kind);
    const bool restarting = shown.kind == app::BlockerKind::restarting;
    Page page{state, blocker, view, siteHost(state), gameFolderOf(state, blocker)};

    kiln::openElement("div.content");
    kiln::scrollBegin("blocker", "div.blocker__scroll");
    kiln::openElement("div.blocker__row");
    const float width = columnWidth(640, 64);
    kiln::openElement(restarting ? "div.blocker.blocker--calm" : "div.blocker");
    kiln::setSize(width, -1);

    // The mark above the title.
    kiln::openElement("div.blocker__mark");
    if (restarting) {
        spinner();
    } else {
        seal(shown.kind == app::BlockerKind::error || shown.kind == app::BlockerKind::none ? "err" : "warn", "!");
    }
    kiln::closeElement();

    kiln::textElement(screen.title(page), "text.t-h1.blocker__title");
    kiln::openElement("div.blocker__body");
    screen.body(page);
    kiln::closeElement();  // body

    if (screen.actions != nullptr) {
        kiln::openElement("div.blocker__actions");
        Actions action;
        screen.actions(page, action);
        kiln::closeElement();
    }

    // What went wrong with an action of this screen.
    for (size_t i = view.noticeMark; i < state.notices.size(); ++i) {
        const app::Notice& n = state.notices[i];
        if (n.tone == app::Tone::error) kiln::textElement(n.title, "text.blocker__err");
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
