// Routes, the frame's composition and the title bar (see screens.h).
#include "launcher/screens/screens.h"

#include <algorithm>

#include "launcher/app/accounts.h"
#include "launcher/app/controller.h"
#include "launcher/app/pipeline.h"
#include "launcher/app/shell_actions.h"
#include "base/log.h"
#include "launcher/kit/widgets.h"
#include "ui/kiln/kiln.h"

namespace ember::launcher::view {

namespace {

// What the screens record about the frame they build, kept in the toolkit
// context: the title bar's rectangle (as the frame before laid it out), for
// the window's drag-area question between frames.
struct ScreensFrame {
    kiln::Rect titleBar;
};

void disc(const char* spec, float cx, float cy, float diameter) {
    kiln::openElement(spec);
    kiln::placeAt(cx - diameter / 2, cy - diameter / 2);
    kiln::setSize(diameter, diameter);
    kiln::Style s;
    s.borderRadius = diameter / 2;
    kiln::setStyle(s, kiln::bit(kiln::BitBorderRadius));
    kiln::closeElement();
}

void aurora(float width, float height, float scale) {
    static const char* const teal[8] = {"div.aurora__ring.au-teal.au-8", "div.aurora__ring.au-teal.au-7",
                                        "div.aurora__ring.au-teal.au-6", "div.aurora__ring.au-teal.au-5",
                                        "div.aurora__ring.au-teal.au-4", "div.aurora__ring.au-teal.au-3",
                                        "div.aurora__ring.au-teal.au-2", "div.aurora__ring.au-teal.au-1"};
    static const char* const blue[8] = {"div.aurora__ring.au-blue.au-8", "div.aurora__ring.au-blue.au-7",
                                        "div.aurora__ring.au-blue.au-6", "div.aurora__ring.au-blue.au-5",
                                        "div.aurora__ring.au-blue.au-4", "div.aurora__ring.au-blue.au-3",
                                        "div.aurora__ring.au-blue.au-2", "div.aurora__ring.au-blue.au-1"};
    kiln::openElement("aurora");
    for (int i = 0; i < 8; ++i) disc(teal[i], 230 * scale, 130 * scale, kAuroraDiameters[i] * scale);
    const float bx = width - 190 * scale, by = height - kTitleBarHeight * scale - 90 * scale;
    for (int i = 0; i < 8; ++i) disc(blue[i], bx, by, kAuroraDiameters[i] * scale);
    kiln::closeElement();
}

}  // namespace

// The controller keeps the blocker shown in state.blocker: a pipeline's
// refusal replaces the preflight's, and a finished preflight sets its own.
const app::Blocker* activeBlocker(const app::AppState& state) {
    return state.blocker.kind == app::BlockerKind::none ? nullptr : &state.blocker;
}

std::string siteHost(const app::AppState& state) {
    std::string host = app::urlHost(app::effectiveManifestUrl(state.config));
    return host.empty() ? "emberlane.example" : host;
}

Route route(const app::AppState& state) {
    const app::Blocker* blocker = activeBlocker(state);
    if (blocker != nullptr && blocker->kind == app::BlockerKind::restarting) return {Body::blocker, blocker->kind};
    // Until a manifest (fresh or saved) says whether accounts are on, no
    // screen may claim what the launcher does not know yet.
    const bool accountsKnown = state.manifestLoaded || state.preflightDone || state.accountsActive;
    if (!accountsKnown && blocker == nullptr && state.tab != app::Tab::settings) {
        return {Body::checking};
    }
    if (state.accountsActive && !state.signedIn && !state.playWithoutAccount)
        return {state.tab == app::Tab::reg ? Body::reg : Body::login};
    if (blocker != nullptr && (state.tab == app::Tab::none || state.tab == app::Tab::home))
        return {Body::blocker, blocker->kind};
    if (state.tab == app::Tab::settings) return {Body::settings};
    return {Body::home};
}

std::string spelling(const Route& route) {
    switch (route.screen) {
    case Body::checking: return "checking";
    case Body::login: return "login";
    case Body::reg: return "register";
    case Body::blocker: return "blocker:" + std::string(app::spelling(route.blocker));
    case Body::settings: return "settings";
    case Body::home: return "home";
    }
    return "home";
}

void titleBar(app::AppState& state) {
    kiln::openElement("titlebar");
    kiln::frameRecord<ScreensFrame>().titleBar = kiln::lastRect();
    kiln::textElement("EMBERLANE", "text.titlebar__word");
    kiln::openElement("div.tabs");
    kiln::pushKey("tab:home");
    if (tab("Play", state.tab != app::Tab::settings)) app::showTab(app::Tab::home);
    kiln::popKey();
    kiln::pushKey("tab:settings");
    if (tab("Settings", state.tab == app::Tab::settings)) app::showTab(app::Tab::settings);
    kiln::popKey();
    kiln::closeElement();
    kiln::openElement("div.titlebar__spacer");
    kiln::closeElement();
    kiln::openElement(state.launcherUpdateOffered ? "div.titlebar__ver.is-update" : "div.titlebar__ver");
    kiln::textElement("v" + state.version, "text.titlebar__vertext");
    kiln::closeElement();
    if (kiln::buttonElement("div.tbtn")) {
        trace("click minimise");
        state.view.minimiseRequested = true;
    }
    nameElement("Minimize");
    kiln::openElement("div.ico-min");
    kiln::closeElement();
    kiln::closeElement();
    if (kiln::buttonElement("div.tbtn.tbtn--close")) {
        trace("click close");
        requestClose(state);
    }
    nameElement("Close");
    kiln::textElement("\xC3\x97", "text.tbtn__x");
    kiln::closeElement();
    kiln::closeElement();
}

void buildFrame(app::AppState& state, float width, float height, float scale, uint64_t nowMs, BodyBuilder body) {
    beginWidgets(nowMs, scale);
    // High contrast draws no decoration behind the window's content.
    if (!kiln::forcedColours()) aurora(width, height, scale);
    kiln::openElement("win");
    titleBar(state);
    kiln::openElement("body");
    if (body != nullptr) {
        body(state);
    } else {
        const Route r = route(state);
        if (r.screen == Body::checking) {
            kiln::openElement("div.checking");
            kiln::textElement(app::playLabel(app::PlayState::checking), "text.checking__title");
            kiln::closeElement();
        } else if (r.screen == Body::login || r.screen == Body::reg) {
            authScreen(state, r.screen == Body::reg);
        } else {
            realmRail(state);
            const app::Blocker* blocker = activeBlocker(state);
            if (r.screen == Body::blocker && blocker != nullptr) {
                blockerScreen(state, *blocker);
            } else if (r.screen == Body::settings) {
                settingsScreen(state);
            } else {
                homePage(state, nowMs);
            }
        }
    }
    kiln::closeElement();
    kiln::closeElement();
    if (state.view.openModal != app::ModalKind::none) modal(state);
}

void afterFrame(app::AppState& state) {
    if (state.view.pickFolderRequested) {
        state.view.pickFolderRequested = false;
        trace("folder picker");
        app::chooseGameFolder([](const std::string& error) {
            app::state().view.fieldNotes["settings:folder"] = error;
            if (!error.empty()) app::pushError(error, "");
        });
    }
}

bool closeNeedsConfirmation(const app::AppState& state) { return state.busy; }

void requestClose(app::AppState& state) {
    if (closeNeedsConfirmation(state)) {
        state.view.openModal = app::ModalKind::stopUpdate;
    } else {
        state.view.quitRequested = true;
    }
}

bool onTitleBarDragArea(float x, float y) {
    return kiln::frameRecord<ScreensFrame>().titleBar.contains(x, y) && kiln::hitTest(kiln::ui().hits, x, y) == 0;
}

int cursorAt(float x, float y) {
    if (overTextField(x, y)) return 2;
    return kiln::hitTest(kiln::ui().hits, x, y) != 0 ? 1 : 0;
}

int64_t msUntilNextFrame() { return nextFrameDelay(); }

}  // namespace ember::launcher::view
