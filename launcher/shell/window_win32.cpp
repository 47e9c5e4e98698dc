// The main window and the frame loop (see window_win32.h; the portable
// rules are in window.h).
//
// Sections:
//   - Window state and helpers
//   - Drawing one frame (with the screenshot automation)
//   - The window procedure
//   - The frame loop
//   - The window phase (start-up steps from the window on)
#include "launcher/shell/window_win32.h"

#include <windows.h>
#include <windowsx.h>
#include <dwmapi.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "base/log.h"
#include "base/paths.h"
#include "launcher/shell/access_win32.h"
#include "launcher/shell/contrast_win32.h"
#include "launcher/shell/device_win32.h"
#include "ui/kiln/png_write.h"
#include "launcher/shell/version.h"
#include "launcher/shell/stylesheet_road.h"
#include "launcher/demo/demo.h"
#include "launcher/screens/screens.h"
#include "launcher/kit/access.h"
#include "launcher/kit/focus.h"
#include "launcher/kit/targets.h"
#include "launcher/kit/textfield.h"
#include "launcher/app/controller.h"
#include "launcher/app/pipeline.h"
#include "launcher/shell/window_hooks.h"
#include "launcher/shell/window.h"
#include "ui/win32/backend_win32.h"
#include "ui/kiln/kiln.h"

namespace ember::launcher {

std::string drawFailureLog(const std::string& reason) { return "the window could not be drawn: " + reason; }
std::string drawFailureBox(const std::string& reason) {
    return "Emberlane's window could not be drawn on this PC.\n\n" + reason;
}
std::string stylesheetFailureLog(const std::string& reason) { return "stylesheet: " + reason; }
std::string stylesheetFailureBox(const std::string& reason) {
    return "Emberlane's stylesheet could not be loaded.\n\n" + reason;
}

namespace {

// ---------------------------------------------------------------------------
// Window state (UI thread only)

const wchar_t kWindowClass[] = L"EmberlaneLauncher";
// The clear colour, #0A1628.
const float kClearColour[4] = {0.0392f, 0.0863f, 0.1569f, 1.0f};

struct WindowState {
    HWND window = nullptr;
    StartupSettings settings;
    float scale = 1.0f;
    bool scaleExplicit = false;
    Device device;
    int owed = 2;
    int framesDrawn = 0;
    bool inSizeMove = false;
    uint64_t lastFrame = 0;
    CloseState close;
    StylesheetRoad road;
    // High contrast as last read (or as --high-contrast forces it).
    ContrastMode contrast;
    // What the screens read later (the text-field pass): key presses and typed units.
    std::vector<view::KeyEvent> keys;
    std::vector<uint32_t> typed;
    // Frame times (build + layout + draw list + render + present) and the
    // build and render parts, for the trace.
    std::vector<double> frameMs, buildMs, renderMs;
    bool firstPresented = false;
    // What screen readers read, kept once one has asked, and the elements
    // they pressed (one a frame, as a click is).
    AccessTree access;
    std::vector<uint64_t> readerPresses;
};

WindowState* g_state = nullptr;

double ticksToMs(LONGLONG ticks) {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    return static_cast<double>(ticks) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

LONGLONG perfNow() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

// Milliseconds since this process was created.
double msSinceProcessStart() {
    FILETIME created, exited, kernel, user, now;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return -1;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER a{{created.dwLowDateTime, created.dwHighDateTime}}, b{{now.dwLowDateTime, now.dwHighDateTime}};
    return static_cast<double>(b.QuadPart - a.QuadPart) / 10000.0;
}

bool isMaximised(HWND window) { return IsZoomed(window) != FALSE; }

// The forced quit: the controller raises its stop flags, then the window
// is destroyed (the loop then ends).
void quitNow(WindowState&) { app::quit(); }

void placePointer(float x, float y) {
    kiln::InputEvent move;
    move.kind = kiln::EventMove;
    move.x = x;
    move.y = y;
    kiln::queueEvent(move);
    kiln::setMouseInWindow(x > -10000 && y > -10000);
}

// The UI trace's target list (EMBERLANE_UI_TARGETS=1 with the trace on):
// what can be pressed and where, written when it differs from the last one.
void traceTargets(const app::AppState& a) {
    static const bool wanted = [] {
        wchar_t value[4] = {};
        const DWORD n = GetEnvironmentVariableW(L"EMBERLANE_UI_TARGETS", value, 4);
        return n > 0 && n < 4 && value[0] != L'0' && traceEnabled();
    }();
    if (!wanted) return;
    static std::vector<std::string> last;
    std::vector<std::string> lines =
        view::targetLines(view::frameTargets(kiln::ui()), view::spelling(view::route(a)), a.view.focus);
    if (lines == last) return;
    for (const std::string& line : lines) trace(line);
    last = std::move(lines);
}

// The screen-reader tree of the frame just built.
void updateAccess(WindowState& s) {
    wchar_t title[128] = {};
    GetWindowTextW(s.window, title, 128);
    s.access.update(s.window, view::accessTree(view::frameTargets(kiln::ui())), title);
}

// ---------------------------------------------------------------------------
// Drawing one frame

void drawFrame(WindowState& s) {
    Device& d = s.device;
    if (d.target == nullptr || d.width < 1 || d.height < 1 || IsIconic(s.window)) return;
    const LONGLONG started = perfNow();

    // The clock.
    const uint64_t now = GetTickCount64();
    s.lastFrame = now;

    // Screenshot automation.
    AutomationSettings automation{s.settings.mouseSet, s.settings.mouseX, s.settings.mouseY,
                                  s.settings.wheelX,   s.settings.wheelY, s.settings.wheelDelta};
    AutomationStep steps[2];
    const int stepCount = automationSteps(automation, s.framesDrawn, steps);
    for (int i = 0; i < stepCount; ++i) {
        placePointer(steps[i].x, steps[i].y);
        if (steps[i].wheel) {
            kiln::InputEvent wheel;
            wheel.kind = kiln::EventWheel;
            wheel.x = steps[i].x;
            wheel.y = steps[i].y;
            wheel.wheel = steps[i].delta;
            kiln::queueEvent(wheel);
        }
    }

    // Build, style, lay out, record drawing.
    const float w = static_cast<float>(d.width), h = static_cast<float>(d.height);
    kiln::beginFrame(w, h, s.scale);
    app::AppState& a = app::state();
    if (s.framesDrawn == 2) {
        // --tab n: the keyboard's focus for a screenshot
        for (int32_t i = 0; i < s.settings.tabPresses; ++i) s.keys.push_back(view::KeyEvent{VK_TAB, false, false});
    }
    view::runFieldPass(a, s.keys, view::joinUtf16(s.typed), now);
    for (const AccessTree::NewValue& value : s.access.takeValues()) view::setFieldValue(a, value.id, value.text);
    if (!s.readerPresses.empty()) {
        kiln::activateByKeyboard(s.readerPresses.front());
        s.readerPresses.erase(s.readerPresses.begin());
        if (!s.readerPresses.empty()) s.owed = std::max(s.owed, 1);
    }
    view::buildFrame(a, w, h, s.scale, now, view::demoBody(a));
    kiln::endFrame();
    view::settleFocus(a);
    const LONGLONG built = perfNow();
    traceTargets(a);
    if (s.access.wanted()) updateAccess(s);
    s.keys.clear();
    s.typed.clear();

    // Clear and draw.
    d.context->OMSetRenderTargets(1, &d.target, nullptr);
    const kiln::Colour& canvas = s.contrast.colours.canvas;
    const float highContrastClear[4] = {canvas.r, canvas.g, canvas.b, 1.0f};
    d.context->ClearRenderTargetView(d.target, s.contrast.on ? highContrastClear : kClearColour);
    kiln::renderFrame(d.target, d.width, d.height);
    const LONGLONG rendered = perfNow();

    // Screenshot: the frame asked for, or, while the update check still
    // runs, the first frame after it (the screen the player meets, not
    // "Checking for updates…"). Frames keep coming while a shot is pending.
    ++s.framesDrawn;
    const bool settled = s.settings.demo || !app::state().preflightRunning;
    if (!s.settings.shotPath.empty() && s.framesDrawn >= s.settings.shotFrames && settled) {
        std::vector<uint8_t> pixels;
        int pw = 0, ph = 0;
        const bool ok = captureBackBuffer(d, pixels, pw, ph) && writePng(s.settings.shotPath, pixels.data(), pw, ph);
        logLine((ok ? "shot: " : "shot FAILED: ") + s.settings.shotPath);
        s.settings.shotPath.clear();
        PostQuitMessage(0);
    }

    // Present on the next vertical blank.
    d.swapChain->Present(1, 0);
    s.frameMs.push_back(ticksToMs(perfNow() - started));
    s.buildMs.push_back(ticksToMs(built - started));
    s.renderMs.push_back(ticksToMs(rendered - built));
    if (!s.firstPresented) {
        s.firstPresented = true;
        if (traceEnabled()) {
            char line[96];
            std::snprintf(line, sizeof line, "first frame presented %.1f ms after start", msSinceProcessStart());
            trace(line);
        }
    }

    // Requests of the frame's screens.
    if (a.view.minimiseRequested) {
        a.view.minimiseRequested = false;
        ShowWindow(s.window, SW_MINIMIZE);
    }
    if (a.view.pickFolderRequested) {
        view::afterFrame(a);
        s.owed = std::max(s.owed, 2);
    }
    if (a.view.quitRequested) {
        a.view.quitRequested = false;
        quitNow(s);
    }
}

void reloadStylesheetAt(WindowState& s, float scale, const char* prefix) {
    std::string reason;
    if (!loadLauncherStylesheet(s.road, scale, reason)) logLine(prefix + reason);
}

// Reads high contrast again (unless the command line forces it); a change
// reloads the stylesheet with the new colours and switches the toolkit's
// forced-colours layer.
void followContrast(WindowState& s) {
    if (s.settings.highContrast != HighContrastChoice::System) return;
    std::string error;
    const ContrastMode now = contrastMode(s.settings.highContrast, error);
    if (!error.empty()) logLine("high contrast: " + error);
    if (sameContrast(now, s.contrast)) return;
    s.contrast = now;
    s.road.colours = now.colours;
    logLine(std::string("high contrast: ") + (now.on ? "on" : "off"));
    reloadStylesheetAt(s, s.scale, "stylesheet: ");
    kiln::setForcedColours(now.on);
}

// ---------------------------------------------------------------------------
// The window procedure

// The trace line of a message that owes frames: its name, with the client
// point of a mouse move or left button and the code of a key or character.
std::string owingTraceLine(const char* name, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_LBUTTONUP:
        return std::string(name) + " " + std::to_string(GET_X_LPARAM(lParam)) + "," +
               std::to_string(GET_Y_LPARAM(lParam));
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_CHAR: return std::string(name) + " " + std::to_string(static_cast<unsigned>(wParam));
    default: return name;
    }
}

// What a message owes, done in one place for every message before it is
// handled: its trace line, so that every drawn frame can be explained from
// the trace, then its frames by the message table (window.h). Messages
// outside the table have no name and owe nothing; so does a deactivation.
void oweFrames(WindowState& s, UINT message, WPARAM wParam, LPARAM lParam) {
    const bool activated = message != WM_ACTIVATE || LOWORD(wParam) != 0;
    const char* name = messageName(message);
    if (traceEnabled() && name[0] != '\0' && activated) trace(owingTraceLine(name, message, wParam, lParam));
    s.owed = owedAfter(message, s.owed, activated);
}

LRESULT handle(WindowState& s, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    oweFrames(s, message, wParam, lParam);
    switch (message) {
    case WM_NCCALCSIZE:
        if (wParam == TRUE) {
            if (isMaximised(window)) {
                // A maximised window hangs its frame off the screen: keep the
                // client inside the monitor.
                auto* params = reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam);
                const int padded = GetSystemMetrics(SM_CXPADDEDBORDER);
                const int dx = padded + GetSystemMetrics(SM_CXFRAME);
                const int dy = padded + GetSystemMetrics(SM_CYFRAME);
                params->rgrc[0].left += dx;
                params->rgrc[0].right -= dx;
                params->rgrc[0].top += dy;
                params->rgrc[0].bottom -= dy;
            }
            return 0;
        }
        break;
    case WM_NCHITTEST: {
        POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ScreenToClient(window, &p);
        RECT client{};
        GetClientRect(window, &client);
        const bool title = view::onTitleBarDragArea(static_cast<float>(p.x), static_cast<float>(p.y));
        return hitTestWindow(p.x, p.y, client.right, client.bottom, s.scale, isMaximised(window), title);
    }
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        int w = 0, h = 0;
        minimumTrackSize(s.scale, w, h);
        info->ptMinTrackSize.x = w;
        info->ptMinTrackSize.y = h;
        return 0;
    }
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT) {
            POINT p{};
            GetCursorPos(&p);
            ScreenToClient(window, &p);
            const int kind = view::cursorAt(static_cast<float>(p.x), static_cast<float>(p.y));
            SetCursor(LoadCursorW(nullptr, kind == 1 ? IDC_HAND : kind == 2 ? IDC_IBEAM : IDC_ARROW));
            return TRUE;
        }
        break;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        if (s.inSizeMove) drawFrame(s);
        return 0;
    }
    case WM_SIZE: {
        const int w = LOWORD(lParam), h = HIWORD(lParam);
        if (s.device.swapChain != nullptr && w > 0 && h > 0 && (w != s.device.width || h != s.device.height)) {
            resizeDevice(s.device, w, h);
            if (s.inSizeMove) drawFrame(s);
        }
        return 0;
    }
    case WM_ENTERSIZEMOVE:
        s.inSizeMove = true;
        return 0;
    case WM_EXITSIZEMOVE:
        s.inSizeMove = false;
        return 0;
    case WM_DPICHANGED: {
        if (!s.scaleExplicit) {
            s.scale = static_cast<float>(HIWORD(wParam)) / 96.0f;
            reloadStylesheetAt(s, s.scale, "stylesheet: ");
        }
        const RECT* r = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(window, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
    case WM_THEMECHANGED:
        followContrast(s);
        break;
    case WM_ACTIVATE:
        // The owed frame runs the controller's tick, which refreshes the
        // realm list when its 10 s are up.
        break;
    case WM_CLOSE:
        if (onClose(s.close, view::closeNeedsConfirmation(app::state()), GetTickCount64()) == CloseAction::Quit) {
            quitNow(s);
        } else {
            app::AppState& a = app::state();
            view::requestClose(a);
            if (a.view.quitRequested) {
                a.view.quitRequested = false;
                quitNow(s);
            }
        }
        return 0;
    case WM_GETOBJECT:
        if (AccessTree::isRootRequest(lParam)) {
            // The first question: the tree of the frame on screen, at once.
            if (traceEnabled()) trace("WM_GETOBJECT");
            if (!s.access.wanted() && s.framesDrawn > 0) updateAccess(s);
            LRESULT result = 0;
            if (s.access.answer(window, wParam, lParam, result)) return result;
        }
        break;
    case WM_DESTROY:
        s.access.disconnect(window);
        PostQuitMessage(0);
        return 0;
    case WM_MOUSEMOVE: {
        TRACKMOUSEEVENT track{sizeof(TRACKMOUSEEVENT), TME_LEAVE, window, 0};
        TrackMouseEvent(&track);
        kiln::setMouseInWindow(true);
        kiln::feedWindowMessage(message, wParam, lParam);
        return 0;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        placePointer(static_cast<float>(GET_X_LPARAM(lParam)), static_cast<float>(GET_Y_LPARAM(lParam)));
        SetCapture(window);
        kiln::feedWindowMessage(message, wParam, lParam);
        return 0;
    case WM_LBUTTONUP:
        ReleaseCapture();
        kiln::feedWindowMessage(message, wParam, lParam);
        return 0;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
        kiln::feedWindowMessage(message, wParam, lParam);
        return 0;
    case WM_MOUSEWHEEL: {
        POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ScreenToClient(window, &p);
        placePointer(static_cast<float>(p.x), static_cast<float>(p.y));
        kiln::feedWindowMessage(message, wParam, lParam);
        return 0;
    }
    case WM_MOUSELEAVE:
    case WM_NCMOUSEMOVE:
        placePointer(-10000, -10000);
        break;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: {
        const bool ctrl = (GetKeyState(VK_CONTROL) & 0x8000) != 0, shift = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
        kiln::feedWindowMessage(message, wParam, lParam);
        if (ctrl && shift && wParam == VK_F5) {
            // The whole road again, so that an edited override beside the
            // executable shows; a broken edit keeps the last good styles.
            reloadStylesheetAt(s, s.scale, "stylesheet reload: ");
        } else {
            s.keys.push_back(view::KeyEvent{static_cast<uint32_t>(wParam), ctrl, shift});
        }
        if (message == WM_SYSKEYDOWN) break;  // Alt+F4 and the system menu
        return 0;
    }
    case WM_KEYUP:
    case WM_SYSKEYUP:
        kiln::feedWindowMessage(message, wParam, lParam);
        break;
    case WM_CHAR:
        if (wParam >= 32 || wParam == 8) {
            s.typed.push_back(static_cast<uint32_t>(wParam));
            kiln::feedWindowMessage(message, wParam, lParam);
        }
        return 0;
    case kMsgApp2:
        // A screen reader pressed an element (Invoke, Toggle, Select).
        s.readerPresses.push_back(static_cast<uint64_t>(wParam));
        return 0;
    case kMsgApp3:
        // A screen reader set a field's text: the frame takes it from the tree.
        return 0;
    case app::kPostedTaskMessage:
        // A worker's completion: run on this thread, then freed.
        app::runPostedTask(static_cast<uintptr_t>(lParam));
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (g_state == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    return handle(*g_state, window, message, wParam, lParam);
}

// ---------------------------------------------------------------------------
// The frame loop

void frameLoop(WindowState& s) {
    for (;;) {
        // Every waiting message.
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) return;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        // The controller's tick; what it changed is drawn at once.
        const uint64_t now = GetTickCount64();
        if (app::tick(now)) s.owed = std::max(s.owed, 1);
        // The screens' wait, shortened to the controller's next deadline.
        // The screens asked relative to their last build; messages that owe
        // no frame must not push that deadline (a caret's blink) back.
        int64_t wait = view::msUntilNextFrame();
        if (wait > 0 && s.lastFrame != 0) wait = std::max<int64_t>(0, wait - static_cast<int64_t>(now - s.lastFrame));
        const int64_t controllerWait = app::msUntilNextTick(now);
        if (controllerWait >= 0 && (wait < 0 || controllerWait < wait)) wait = controllerWait;
        // Sleep unless owed, animating or photographing.
        if (s.owed <= 0) {
            const bool shotPending = !s.settings.shotPath.empty();
            if (wait != 0 && !shotPending) {
                const DWORD timeout = wait < 0 ? INFINITE : static_cast<DWORD>(std::min<int64_t>(wait, 0x7FFFFFFF));
                const DWORD result = MsgWaitForMultipleObjectsEx(0, nullptr, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
                if (result == WAIT_TIMEOUT) s.owed = 1;
                continue;
            }
            // The screens' time came while messages were handled: a timer
            // frame, traced like one.
            if (wait == 0) s.owed = 1;
        }
        // Draw.
        if (s.owed > 0 && traceEnabled()) trace(frameTraceLine(s.framesDrawn + 1, s.owed));
        drawFrame(s);
        if (s.owed >= 1) --s.owed;
    }
}

// ---------------------------------------------------------------------------
// The window phase

void showFatal(const WindowHooks& hooks, const std::string& text) {
    if (hooks.messageBox != nullptr) {
        hooks.messageBox(text);
        return;
    }
    MessageBoxW(nullptr, toWide(text).c_str(), L"Emberlane", MB_OK | MB_ICONERROR);
}

std::string carriedText(const wchar_t* name) {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(self, name, MAKEINTRESOURCEW(10));  // RT_RCDATA
    if (found == nullptr) return {};
    HGLOBAL loaded = LoadResource(self, found);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) return {};
    return std::string(static_cast<const char*>(bytes), SizeofResource(self, found));
}

float dpiScale(HWND window) {
    using GetDpiFn = UINT(WINAPI*)(HWND);
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    FARPROC found = user32 != nullptr ? GetProcAddress(user32, "GetDpiForWindow") : nullptr;
    auto getDpi = reinterpret_cast<GetDpiFn>(reinterpret_cast<void*>(found));
    const UINT dpi = getDpi != nullptr ? getDpi(window) : 0;
    return dpi != 0 ? static_cast<float>(dpi) / 96.0f : 1.0f;
}

// Size (default scaled and clamped to the work area; --size as given) and
// centre in the work area.
void placeWindow(WindowState& s) {
    MONITORINFO monitor{sizeof(MONITORINFO), {}, {}, 0};
    GetMonitorInfoW(MonitorFromWindow(s.window, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT work = monitor.rcWork;
    const int workW = work.right - work.left, workH = work.bottom - work.top;
    int w = std::min(static_cast<int>(kDefaultWidth * s.scale), workW);
    int h = std::min(static_cast<int>(kDefaultHeight * s.scale), workH);
    if (s.settings.width >= 1) w = s.settings.width;
    if (s.settings.height >= 1) h = s.settings.height;
    const int x = work.left + (workW - w) / 2, y = work.top + (workH - h) / 2;
    SetWindowPos(s.window, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    const MARGINS margins{0, 0, 0, 1};
    DwmExtendFrameIntoClientArea(s.window, &margins);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void traceFrameTimes(const WindowState& s) {
    if (!traceEnabled() || s.frameMs.empty()) return;
    char line[192];
    std::snprintf(line, sizeof line,
                  "frame times: median %.2f ms (build, layout and draw list %.2f, render %.2f), slowest %.2f ms "
                  "over %zu frames",
                  median(s.frameMs), median(s.buildMs), median(s.renderMs),
                  *std::max_element(s.frameMs.begin(), s.frameMs.end()), s.frameMs.size());
    trace(line);
}

}  // namespace

int runWindowPhase(const StartupSettings& settings, const WindowHooks& hooks) {
    WindowState s;
    s.settings = settings;
    s.scale = settings.uiScale;
    s.scaleExplicit = settings.scaleExplicit;
    s.road.exeFolder = hooks.exeFolder.empty() ? parentDir(executablePath()) : hooks.exeFolder;
    s.road.resourceText = carriedText(L"LAUNCHER_CSS");
    s.road.highContrastText = carriedText(L"HIGH_CONTRAST_CSS");
    {
        std::string error;
        s.contrast = contrastMode(settings.highContrast, error);
        if (!error.empty()) logLine("high contrast: " + error);
        s.road.colours = s.contrast.colours;
    }
    s.road.configDir = configDir();
    g_state = &s;

    // Window class and window.
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = windowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    wc.hIconSm = wc.hIcon;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kWindowClass;
    RegisterClassExW(&wc);  // already registered (a second phase in tests) is fine
    s.window = CreateWindowExW(WS_EX_APPWINDOW, kWindowClass, L"Emberlane",
                               WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX, CW_USEDEFAULT, CW_USEDEFAULT,
                               kDefaultWidth, kDefaultHeight, nullptr, nullptr, instance, nullptr);
    if (s.window == nullptr) {
        g_state = nullptr;
        return 1;
    }

    // Scale, size, centre, frame.
    if (!s.scaleExplicit) s.scale = dpiScale(s.window);
    placeWindow(s);

    auto fail = [&](const std::string& log, const std::string& box) {
        logLine(log);
        kiln::shutdownRenderer();
        releaseDevice(s.device);
        DestroyWindow(s.window);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
        g_state = nullptr;
        showFatal(hooks, box);
        return 1;
    };

    // Device, swap chain, renderer.
    std::string error;
    if (!createDevice(s.window, settings.warp, s.device, error) || !kiln::initRenderer(s.device.device, error))
        return fail(drawFailureLog(error), drawFailureBox(error));

    // The stylesheet.
    std::string reason;
    if (!loadLauncherStylesheet(s.road, s.scale, reason))
        return fail(stylesheetFailureLog(reason), stylesheetFailureBox(reason));
    logLine("stylesheet: " + reason);

    // The toolkit's switches.
    if (s.contrast.on) logLine("high contrast: on");
    kiln::setForcedColours(s.contrast.on);
    kiln::setKeyboardCapture(false);
    kiln::setPointerDrawing(false);

    // The controller: its workers (none in demo mode), and the hand-off
    // of their results to this window.
    app::init(app::uiHooksForWindow(s.window), settings.demo);
    // Settings, the cached manifest, the first check.
    if (!settings.demo) {
        app::startUp();
    } else if (!view::fillDemoScene(app::state(), settings.demoScene)) {
        logLine("demo: no scene named " + settings.demoScene);
    }

    // Show and run.
    ShowWindow(s.window, SW_SHOWNORMAL);
    UpdateWindow(s.window);
    frameLoop(s);
    traceFrameTimes(s);
    app::forgetWindow();
    if (const int left = app::shutdownWorkers()) {
        logLine("exit: " + std::to_string(left) + " worker(s) left behind, still in a blocking call");
    }

    // Release.
    if (IsWindow(s.window)) DestroyWindow(s.window);
    kiln::shutdownRenderer();
    releaseDevice(s.device);
    g_state = nullptr;
    return 0;
}

}  // namespace ember::launcher
