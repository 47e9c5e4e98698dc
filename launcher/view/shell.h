// The frame shell: the aurora, the title bar (word mark, tabs, version
// label, minimise and close), the body, and the developer scene "kit" that
// shows every widget in its states. It reads and writes a small shell state
// that stands in for the application state until the controller exists.
#pragma once

#include <cstdint>
#include <string>

namespace ember::launcher::view {

// What the frame shell needs of the application.
struct ShellState {
    bool demo = false;
    std::string scene;         // demo scene name ("kit" shows the widget kit)
    std::string version;       // the launcher's version, for the title bar
    std::string tab = "home";  // "home" or "settings"
    std::string activity;      // "updating" and "repairing" are busy
    bool updateReady = false;  // the version label's is-update
    std::string openModal;     // "stop-update" or empty
    // Requests the window carries out after the frame
    bool minimiseRequested = false;
    bool quitRequested = false;
    // The kit scene's own state
    bool kitCheck = true;
    int kitRadio = 0;
    bool kitDetailsOpen = true;
    uint64_t kitCopiedUntil = 0, kitCardCopiedUntil = 0;
};

bool isBusy(const ShellState& state);

// Builds the frame's tree (the toolkit frame has begun).
void buildFrame(ShellState& state, float width, float height, float scale, uint64_t nowMs);

// Window questions, answered from the last frame.
// The draggable title-bar area: on the title bar and on nothing clickable.
bool onTitleBarDragArea(float x, float y);
// The cursor for a client point: 0 arrow, 1 hand (over something clickable),
// 2 text I-beam (over an editable field).
int cursorAt(float x, float y);
// Milliseconds until the screens need a frame (0: now), -1: nothing scheduled.
int64_t msUntilNextFrame();
// The window's close request: while busy the stop-update confirmation opens,
// otherwise the application quits.
void requestClose(ShellState& state);

// The aurora's disc diameters at scale 1, largest first.
inline constexpr float kAuroraDiameters[8] = {570, 499, 428, 356, 285, 214, 142, 71};
inline constexpr float kTitleBarHeight = 44;

}  // namespace ember::launcher::view
