// KilnUI input: the bounded event queue shared with the window procedure,
// the mapping of window messages to events, and the draining of the queue
// into the frame's input state (buttons, wheel, keys, typed characters).
#include <mutex>

#include "ui/kiln/kiln.h"

namespace kiln {

namespace {

constexpr uint32_t kReplacement = 0xFFFD;
constexpr uint32_t kVirtualKeyV = 0x56;

float signedLow(int64_t value) { return float(int16_t(uint16_t(uint64_t(value) & 0xFFFF))); }
float signedHigh(int64_t value) { return float(int16_t(uint16_t((uint64_t(value) >> 16) & 0xFFFF))); }

InputEvent buttonEvent(EventKind kind, uint32_t button, int64_t lParam) {
    InputEvent e;
    e.kind = kind;
    e.button = button;
    e.x = signedLow(lParam);
    e.y = signedHigh(lParam);
    return e;
}

// Joins UTF-16 units into code points. A high surrogate waits for its low
// one (across frames, too); a unit that breaks a pair becomes U+FFFD and the
// unit after it is handled on its own.
void addCodeUnit(UiContext& c, uint32_t unit) {
    bool high = unit >= 0xD800 && unit <= 0xDBFF;
    bool low = unit >= 0xDC00 && unit <= 0xDFFF;
    if (high) {
        if (c.pendingHighSurrogate != 0) c.chars.push_back(kReplacement);
        c.pendingHighSurrogate = unit;
        return;
    }
    if (low) {
        if (c.pendingHighSurrogate != 0) {
            c.chars.push_back(0x10000 + ((c.pendingHighSurrogate - 0xD800) << 10) + (unit - 0xDC00));
            c.pendingHighSurrogate = 0;
        } else {
            c.chars.push_back(kReplacement);
        }
        return;
    }
    if (c.pendingHighSurrogate != 0) {
        c.chars.push_back(kReplacement);
        c.pendingHighSurrogate = 0;
    }
    // Synthetic events may carry whole code points; anything past Unicode is broken.
    c.chars.push_back(unit <= 0x10FFFF ? unit : kReplacement);
}

}  // namespace

bool queueEvent(const InputEvent& event) {
    UiContext& c = ui();
    std::lock_guard<std::mutex> lock(c.queueLock);
    if (c.queued >= c.queue.size()) return false;  // full until the next frame
    c.queue[c.queued++] = event;
    return true;
}

bool mapMessage(uint32_t message, uint64_t wParam, int64_t lParam, bool ctrlHeld, InputEvent& out) {
    switch (message) {
    case kWmMouseMove:
        out = buttonEvent(EventMove, 0, lParam);
        return true;
    case kWmLButtonDown:
    case kWmLButtonDblClk:  // the second press of a double-click
        out = buttonEvent(EventButtonDown, 0, lParam);
        return true;
    case kWmLButtonUp:
        out = buttonEvent(EventButtonUp, 0, lParam);
        return true;
    case kWmRButtonDown:
    case kWmRButtonDblClk:  // the window class asks for double-clicks, so this replaces a press
        out = buttonEvent(EventButtonDown, 1, lParam);
        return true;
    case kWmRButtonUp:
        out = buttonEvent(EventButtonUp, 1, lParam);
        return true;
    case kWmMouseWheel:
        out = InputEvent{};
        out.kind = EventWheel;
        out.wheel = float(int16_t(uint16_t((wParam >> 16) & 0xFFFF))) / 120.0f;
        return true;
    case kWmKeyDown:
    case kWmSysKeyDown:
        out = InputEvent{};
        out.kind = EventKeyDown;
        out.code = uint32_t(wParam & 0xFFFF);
        if (ctrlHeld && out.code == kVirtualKeyV) out.code = kPasteChord;
        return true;
    case kWmKeyUp:
    case kWmSysKeyUp:
        out = InputEvent{};
        out.kind = EventKeyUp;
        out.code = uint32_t(wParam & 0xFFFF);
        return true;
    case kWmChar:
        out = InputEvent{};
        out.kind = EventChar;
        out.code = uint32_t(wParam & 0xFFFF);
        return true;
    default:
        return false;
    }
}

bool feedMessage(uint32_t message, uint64_t wParam, int64_t lParam, bool ctrlHeld) {
    UiContext& c = ui();
    if (!c.started) return false;
    InputEvent event;
    if (!mapMessage(message, wParam, lParam, ctrlHeld, event)) return false;
    queueEvent(event);
    switch (event.kind) {
    case EventButtonDown:
    case EventButtonUp:
    case EventWheel:
        // A press on something the toolkit drew is not a drag of the window.
        return c.mouseInWindow && c.overPainted;
    case EventKeyDown:
    case EventKeyUp:
    case EventChar:
        return c.keyboardCapture && c.focusId != nullptr && *c.focusId != 0;
    default:
        return false;
    }
}

void drainEvents(UiContext& c) {
    std::lock_guard<std::mutex> lock(c.queueLock);
    for (size_t i = 0; i < c.queued; ++i) {
        const InputEvent& e = c.queue[i];
        switch (e.kind) {
        case EventMove:
            c.mouseX = e.x;
            c.mouseY = e.y;
            break;
        case EventButtonDown:
            if (e.button < 2) {
                c.buttonDown[e.button] = true;
                c.buttonPressed[e.button] = true;
            }
            break;
        case EventButtonUp:
            if (e.button < 2) {
                c.buttonDown[e.button] = false;
                c.buttonReleased[e.button] = true;
            }
            break;
        case EventWheel:
            c.wheel += e.wheel;
            break;
        case EventKeyDown:
            c.keys.push_back(e.code);
            break;
        case EventChar:
            addCodeUnit(c, e.code);
            break;
        default:  // key up and unknown kinds
            break;
        }
    }
    c.queued = 0;
}

}  // namespace kiln
