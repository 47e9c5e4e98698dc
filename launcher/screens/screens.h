// The launcher's screens: every frame they turn the application state into
// the element tree. A frame reads only the state it is built from. What
// the screens remember between frames lives in AppState::view (the view
// flags and each screen's memory: the sign-in form's complaints, the open
// dialog's, the refusal screen's); what they record about a frame (the
// title bar's place) in the toolkit context. Every other change is an
// action: a controller operation (app/), such as picking a tab.
//
// Files: screens.cpp (routes, the frame, the title bar), home.cpp (the home
// page and its footer), rail.cpp (the realm rail), settings.cpp (the
// settings page), blocker.cpp (the refusal screens), modals.cpp (the
// dialogs), auth.cpp (sign-in and registration), demo.cpp (the demo
// scenes' sample state), textfield.cpp (editing and keys).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "launcher/app/state.h"

namespace ember::launcher::view {

// ---------------------------------------------------------------------------
// Routes

// The blocker that stops play: the pipeline's wins; otherwise the
// preflight's once the preflight has finished. Null when none.
const app::Blocker* activeBlocker(const app::AppState& state);
// Which screen the body shows, computed from the state every frame:
// checking (no manifest, fresh or saved, has answered yet), sign-in,
// registration, a blocker's full-window page, settings or home.
enum class Body : uint8_t { checking, login, reg, blocker, settings, home };
struct Route {
    Body screen = Body::home;
    app::BlockerKind blocker = app::BlockerKind::none;  // Body::blocker's kind
};
Route route(const app::AppState& state);
// As the trace writes it: "checking", "login", "register", "blocker:" +
// kind, "settings" or "home".
std::string spelling(const Route& route);

// ---------------------------------------------------------------------------
// The frame

// Builds the whole tree for the current state (the toolkit frame has
// begun). `state` is the controller's AppState: the screens read it and
// write only state.view; their actions go through the controller (in a
// running launcher the two are one). `body`, when given, fills the
// window's body in place of the routed screens (the developers' widget
// scene).
using BodyBuilder = void (*)(app::AppState& state);
void buildFrame(app::AppState& state, float width, float height, float scale, uint64_t nowMs,
                BodyBuilder body = nullptr);

// Whether closing now opens "Stop the update?" (an update or repair runs).
bool closeNeedsConfirmation(const app::AppState& state);
// The window's close request: while an update or repair runs the
// stop-update dialog opens, otherwise view.quitRequested is set.
void requestClose(app::AppState& state);

// The frame's requests that must wait until the frame is built (the folder
// picker runs a message loop of its own). The window calls it after each
// frame.
void afterFrame(app::AppState& state);

// The wall clock the screens date things with (Unix seconds); demo scenes
// use a fixed one so their pictures do not change from run to run.
int64_t unixNow(const app::AppState& state);
inline constexpr int64_t kDemoUnixNow = 1773921600;  // 19 Mar 2026, 12:00 UTC

// Window questions, answered from the last frame.
bool onTitleBarDragArea(float x, float y);
// 0 arrow, 1 hand (over something clickable), 2 text I-beam (over an editable field).
int cursorAt(float x, float y);
// Milliseconds until the screens need a frame (0: now), -1: nothing scheduled.
int64_t msUntilNextFrame();

// ---------------------------------------------------------------------------
// Screen pieces (each builds into the open element)

void titleBar(app::AppState& state);
void realmRail(app::AppState& state);
void homePage(app::AppState& state, uint64_t nowMs);
// The bar under the home page: the launcher update line or the progress
// block, Cancel or Close launcher, and the Play button with its line.
void footerBar(app::AppState& state, uint64_t nowMs);
void firstRunCards(app::AppState& state);
void notices(app::AppState& state);
void characterPanel(app::AppState& state);
void settingsScreen(app::AppState& state);
void blockerScreen(app::AppState& state, const app::Blocker& blocker);
void authScreen(app::AppState& state, bool registering);
// The open modal (state.view.openModal), on top of everything.
void modal(app::AppState& state);

// "Oblivion Remastered" wording helpers shared by the screens.
// The host shown in messages ("emberlane.example" unless the manifest's
// site says otherwise).
std::string siteHost(const app::AppState& state);

// The aurora's disc diameters at scale 1, largest first.
inline constexpr float kAuroraDiameters[8] = {570, 499, 428, 356, 285, 214, 142, 71};
inline constexpr float kTitleBarHeight = 44;

}  // namespace ember::launcher::view
