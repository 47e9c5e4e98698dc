// The main window's portable rules (see window.h).
#include "launcher/shell/window.h"

#include <algorithm>

namespace ember::launcher {

int hitTestWindow(int x, int y, int width, int height, float scale, bool maximised, bool onTitleBar) {
    if (!maximised) {
        const int b = static_cast<int>(scale * kResizeBorder);
        const bool left = x < b, right = x >= width - b, top = y < b, bottom = y >= height - b;
        if (top && left) return kHitTopLeft;
        if (top && right) return kHitTopRight;
        if (bottom && left) return kHitBottomLeft;
        if (bottom && right) return kHitBottomRight;
        if (bottom) return kHitBottom;
        if (left) return kHitLeft;
        if (right) return kHitRight;
        if (top) return kHitTop;
    }
    return onTitleBar ? kHitCaption : kHitClient;
}

void minimumTrackSize(float scale, int& width, int& height) {
    width = static_cast<int>(scale * kMinimumWidth);
    height = static_cast<int>(scale * kMinimumHeight);
}

int owedAfter(uint32_t message, int owed, bool activated) {
    auto atLeast = [owed](int level) { return std::max(owed, level); };
    switch (message) {
    case kMsgPaint:
    case kiln::kWmMouseMove:
    case kMsgMouseLeave:
    case kMsgNcMouseMove:
        return atLeast(1);
    case kMsgActivate:
        return activated ? atLeast(1) : owed;
    case kMsgSize:
    case kMsgExitSizeMove:
    case kMsgDpiChanged:
        return 2;
    case kMsgClose:
    case kiln::kWmLButtonDown:
    case kiln::kWmLButtonDblClk:
    case kiln::kWmLButtonUp:
    case kiln::kWmRButtonDown:
    case kiln::kWmRButtonUp:
    case kiln::kWmMouseWheel:
    case kiln::kWmKeyDown:
    case kiln::kWmSysKeyDown:
    case kiln::kWmChar:
    case kMsgApp2:
    case kMsgApp3:
        return 3;
    case kMsgApp1:
    case kMsgSysColorChange:  // high contrast and the system's colours
    case kMsgSettingChange:
    case kMsgThemeChanged:
        return atLeast(2);
    default:
        return owed;
    }
}

const char* messageName(uint32_t message) {
    switch (message) {
    case kiln::kWmMouseMove: return "WM_MOUSEMOVE";
    case kiln::kWmLButtonDown:
    case kiln::kWmLButtonDblClk: return "WM_LBUTTONDOWN";
    case kiln::kWmLButtonUp: return "WM_LBUTTONUP";
    case kMsgMouseLeave: return "WM_MOUSELEAVE";
    case kMsgNcMouseMove: return "WM_NCMOUSEMOVE";
    case kiln::kWmKeyDown:
    case kiln::kWmSysKeyDown: return "WM_KEYDOWN";
    case kiln::kWmChar: return "WM_CHAR";
    case kMsgPaint: return "WM_PAINT";
    case kMsgSize: return "WM_SIZE";
    case kMsgExitSizeMove: return "WM_EXITSIZEMOVE";
    case kMsgDpiChanged: return "WM_DPICHANGED";
    case kMsgActivate: return "WM_ACTIVATE";
    case kMsgClose: return "WM_CLOSE";
    case kMsgSysColorChange: return "WM_SYSCOLORCHANGE";
    case kMsgSettingChange: return "WM_SETTINGCHANGE";
    case kMsgThemeChanged: return "WM_THEMECHANGED";
    case kiln::kWmRButtonDown: return "WM_RBUTTONDOWN";
    case kiln::kWmRButtonUp: return "WM_RBUTTONUP";
    case kiln::kWmMouseWheel: return "WM_MOUSEWHEEL";
    case kMsgApp1: return "WM_APP+1";
    case kMsgApp2: return "WM_APP+2";
    case kMsgApp3: return "WM_APP+3";
    default: return "";
    }
}

CloseAction onClose(CloseState& state, bool busy, uint64_t now) {
    if (state.firstBusyClose != 0 && now - state.firstBusyClose <= kSecondCloseMs) return CloseAction::Quit;
    if (busy) state.firstBusyClose = now;
    return CloseAction::AskScreens;
}

int automationSteps(const AutomationSettings& s, int framesDrawn, AutomationStep out[2]) {
    int n = 0;
    if (framesDrawn == 2 && s.mouseSet) out[n++] = AutomationStep{true, false, s.mouseX, s.mouseY, 0};
    if (s.wheelDelta != 0) {
        if (framesDrawn == 3) out[n++] = AutomationStep{true, true, s.wheelX, s.wheelY, s.wheelDelta};
        if (framesDrawn == 4) {
            out[n++] = s.mouseSet ? AutomationStep{true, false, s.mouseX, s.mouseY, 0}
                                  : AutomationStep{true, false, -10000, -10000, 0};
        }
    }
    return n;
}

std::string frameTraceLine(int frameNumber, int owed) {
    return "frame " + std::to_string(frameNumber) + " (owed " + std::to_string(owed) + ")";
}

}  // namespace ember::launcher
