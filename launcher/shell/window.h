// The main window's rules that need no Windows: hit testing of the drawn
// edges and title bar, the minimum size, the owed-frames table, the closing
// rule and the screenshot automation's schedule. window_win32.cpp applies
// them to real messages; tests check them natively.
#pragma once

#include <cstdint>
#include <string>

#include "ui/kiln/kiln.h"

namespace ember::launcher {

// Window message numbers used by the rules below (the Windows values); the
// input messages are the toolkit's (kiln::kWm*).
enum : uint32_t {
    kMsgSize = 0x0005,
    kMsgActivate = 0x0006,
    kMsgPaint = 0x000F,
    kMsgClose = 0x0010,
    kMsgSysColorChange = 0x0015,
    kMsgSettingChange = 0x001A,
    kMsgNcMouseMove = 0x00A0,
    kMsgExitSizeMove = 0x0232,
    kMsgMouseLeave = 0x02A3,
    kMsgDpiChanged = 0x02E0,
    kMsgThemeChanged = 0x031A,
    kMsgApp1 = 0x8001,  // WM_APP + 1: a worker's completion
    kMsgApp2 = 0x8002,  // WM_APP + 2: a screen reader presses an element (wParam: its identity)
    kMsgApp3 = 0x8003,  // WM_APP + 3: a screen reader sets a field's text (wParam: its identity)
};

// Hit codes (the Windows values).
enum HitCode : int {
    kHitClient = 1,
    kHitCaption = 2,
    kHitLeft = 10,
    kHitRight = 11,
    kHitTop = 12,
    kHitTopLeft = 13,
    kHitTopRight = 14,
    kHitBottom = 15,
    kHitBottomLeft = 16,
    kHitBottomRight = 17,
};

// The default client size at scale 1, and the smallest one.
inline constexpr int kDefaultWidth = 1000, kDefaultHeight = 640;
inline constexpr int kMinimumWidth = 900, kMinimumHeight = 580;
// The drawn resize border at scale 1.
inline constexpr float kResizeBorder = 6.0f;
// A second close within this long of a close made while busy quits at once.
inline constexpr uint64_t kSecondCloseMs = 30000;

// WM_NCHITTEST for a client point (x, y) of a W x H client area: the
// resize edges and corners (not when maximised), then the title bar's drag
// area, else the client.
int hitTestWindow(int x, int y, int width, int height, float scale, bool maximised, bool onTitleBar);

// The minimum tracking size at a scale (truncated).
void minimumTrackSize(float scale, int& width, int& height);

// The owed-frames counter after handling `message` (the table of the frame
// loop: some messages raise it to at least a level, some set it, the rest
// leave it). `activated` is the low word of WM_ACTIVATE's wParam.
int owedAfter(uint32_t message, int owed, bool activated = true);
// The message's name in trace lines ("WM_LBUTTONDOWN"), empty for others.
// Every message that owes frames has one, so the trace explains each frame.
const char* messageName(uint32_t message);

// The closing rule. Busy: the controller is updating or repairing.
enum class CloseAction {
    Quit,        // quit at once (second close within 30 s of a busy one)
    AskScreens,  // hand the close to the screens (they ask or quit)
};
struct CloseState {
    uint64_t firstBusyClose = 0;  // tick of a close made while busy, 0: none
};
CloseAction onClose(CloseState& state, bool busy, uint64_t now);

// What the screenshot automation does before the frame with `framesDrawn`
// frames already drawn (0 before the first).
struct AutomationStep {
    bool placePointer = false;  // move the pointer to (x, y)
    bool wheel = false;         // deliver one wheel event of `delta` notches at (x, y)
    float x = 0, y = 0, delta = 0;
};
struct AutomationSettings {
    bool mouseSet = false;
    float mouseX = 0, mouseY = 0;
    float wheelX = 0, wheelY = 0, wheelDelta = 0;
};
// Each frame may need two steps (a wheel and then a move); they come back in order.
int automationSteps(const AutomationSettings& settings, int framesDrawn, AutomationStep out[2]);

// The frame-loop trace line for a frame with owed frames.
std::string frameTraceLine(int frameNumber, int owed);

}  // namespace ember::launcher
