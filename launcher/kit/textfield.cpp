// Text fields and the keyboard (see textfield.h).
#include "launcher/kit/textfield.h"

#include <algorithm>

#include "launcher/app/pipeline.h"
#include "base/text.h"
#include "launcher/kit/clipboard.h"
#include "launcher/kit/focus.h"
#include "ui/kiln/kiln.h"

namespace ember::launcher::view {

namespace {

const std::string kEmpty;

// Virtual-key codes the pass reads.
enum : uint32_t {
    kVkTab = 0x09,
    kVkReturn = 0x0D,
    kVkEscape = 0x1B,
    kVkEnd = 0x23,
    kVkHome = 0x24,
    kVkLeft = 0x25,
    kVkRight = 0x27,
    kVkDelete = 0x2E,
    kVkF5 = 0x74,
};

bool continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

size_t previousBoundary(const std::string& text, size_t at) {
    if (at == 0) return 0;
    size_t i = std::min(at, text.size()) - 1;
    while (i > 0 && continuation(text[i])) --i;
    return i;
}

size_t nextBoundary(const std::string& text, size_t at) {
    if (at >= text.size()) return text.size();
    size_t i = at + 1;
    while (i < text.size() && continuation(text[i])) ++i;
    return i;
}

int64_t codePoints(const std::string& text) {
    int64_t n = 0;
    for (char c : text) n += !continuation(c);
    return n;
}

void clearText(app::FieldState& f) {
    f.text.clear();
    f.caret = 0;
    f.selectAll = false;
}

// Pasted or set text loses its line breaks, tabs and other controls.
std::string withoutControls(const std::string& text) {
    std::string clean;
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 32 && c != 127) clean += c;
    return clean;
}

// Typing and paste alike: a selection is replaced; then code point by code
// point at the caret until the field holds its maximum.
void insertText(app::FieldState& f, const std::string& utf8) {
    if (f.selectAll) clearText(f);
    f.caret = std::min(f.caret, f.text.size());
    int64_t count = codePoints(f.text);
    size_t i = 0;
    while (i < utf8.size() && count < f.maxLength) {
        const size_t end = nextBoundary(utf8, i);
        f.text.insert(f.caret, utf8, i, end - i);
        f.caret += end - i;
        i = end;
        ++count;
    }
}

void focusField(app::AppState& state, const std::string& id, uint64_t now) {
    state.view.focus = id;
    state.view.lastActivity = now;
    app::FieldState& f = state.view.fields[id];
    f.caret = f.text.size();
    f.selectAll = false;
}

void tabKey(app::AppState& state, const std::vector<std::string>& order, bool back, uint64_t now) {
    const auto at = std::find(order.begin(), order.end(), state.view.focus);
    size_t next;
    if (at == order.end()) {
        next = back ? order.size() - 1 : 0;
    } else {
        const size_t i = static_cast<size_t>(at - order.begin());
        next = back ? (i + order.size() - 1) % order.size() : (i + 1) % order.size();
    }
    focusField(state, order[next], now);
}

// One key of the table, applied to the focused field.
void fieldKey(app::AppState& state, const KeyEvent& k) {
    app::FieldState& f = state.view.fields[state.view.focus];
    f.caret = std::min(f.caret, f.text.size());
    if (k.ctrl || k.key == kiln::kPasteChord) {
        switch (k.key) {
        case 'A':
            if (!f.text.empty()) f.selectAll = true;
            break;
        case 'C':
            if (!f.secret && f.selectAll) copyToClipboard(f.text);
            break;
        case 'V':
        case kiln::kPasteChord: {
            if (f.readOnly) break;
            std::string pasted;
            if (!clipboardText(pasted)) break;
            insertText(f, withoutControls(pasted));
            break;
        }
        case 'X':
            if (f.secret || f.readOnly || !f.selectAll) break;
            copyToClipboard(f.text);
            clearText(f);
            break;
        default:
            break;
        }
        return;
    }
    switch (k.key) {
    case kVkReturn:
        state.view.submitted = state.view.focus;
        break;
    case kVkEscape:
        state.view.focus.clear();
        state.view.escapePressed = true;
        break;
    case kVkEnd:
        f.selectAll = false;
        f.caret = f.text.size();
        break;
    case kVkHome:
        f.selectAll = false;
        f.caret = 0;
        break;
    case kVkLeft:
        f.selectAll = false;
        f.caret = previousBoundary(f.text, f.caret);
        break;
    case kVkRight:
        f.selectAll = false;
        f.caret = nextBoundary(f.text, f.caret);
        break;
    case kVkDelete:
        if (f.readOnly) break;
        if (f.selectAll) {
            clearText(f);
        } else if (f.caret < f.text.size()) {
            f.text.erase(f.caret, nextBoundary(f.text, f.caret) - f.caret);
        }
        break;
    default:
        break;
    }
}

void typeCharacter(app::FieldState& f, uint32_t c) {
    f.caret = std::min(f.caret, f.text.size());
    if (c == 8) {
        if (f.selectAll) {
            clearText(f);
        } else if (f.caret > 0) {
            const size_t start = previousBoundary(f.text, f.caret);
            f.text.erase(start, f.caret - start);
            f.caret = start;
        }
        return;
    }
    if (c < 32 || c == 127) return;
    std::string utf8;
    appendUtf8(utf8, c);
    insertText(f, utf8);
}

}  // namespace

std::vector<uint32_t> joinUtf16(const std::vector<uint32_t>& units) {
    std::vector<uint32_t> out;
    out.reserve(units.size());
    uint32_t high = 0;
    for (uint32_t u : units) {
        const bool isHigh = u >= 0xD800 && u <= 0xDBFF, isLow = u >= 0xDC00 && u <= 0xDFFF;
        if (high != 0) {
            if (isLow) {
                out.push_back(0x10000 + ((high - 0xD800) << 10) + (u - 0xDC00));
                high = 0;
                continue;
            }
            out.push_back(kReplacementCharacter);  // a high surrogate left alone
            high = 0;
        }
        if (isHigh) {
            high = u;
        } else {
            out.push_back(isLow ? kReplacementCharacter : u);
        }
    }
    if (high != 0) out.push_back(kReplacementCharacter);
    return out;
}

void runFieldPass(app::AppState& state, const std::vector<KeyEvent>& keys, const std::vector<uint32_t>& chars,
                  uint64_t now) {
    app::ViewState& v = state.view;
    v.submitted.clear();
    v.enterPressed = false;
    v.escapePressed = false;
    // The order the last build drew its fields in (the kit's record of the
    // frame; this build registers anew once its widget pass begins).
    const std::vector<std::string> order = widgetFrame().tabOrder;

    for (const KeyEvent& k : keys) {
        if (k.key == kVkF5 || (k.ctrl && k.key == 'R')) {
            if (!state.demo && !state.preflightRunning) app::preflight();
            continue;
        }
        if (k.key == kVkTab && !k.ctrl && focusFrame().stops.empty()) {
            // No frame settled its focus order yet: the fields the last build drew.
            if (!order.empty()) tabKey(state, order, k.shift, now);
            continue;
        }
        if (!k.ctrl && focusKey(state, k.key, k.shift, now)) continue;
        if (!v.focus.empty()) {
            v.lastActivity = now;
            fieldKey(state, k);
        } else if (k.key == kVkReturn && !k.ctrl) {
            v.enterPressed = true;
        } else if (k.key == kVkEscape && !k.ctrl) {
            v.escapePressed = true;
        }
    }
    focusBeforeBuild(state);
    if (!v.focus.empty()) {
        app::FieldState& f = v.fields[v.focus];
        if (!f.readOnly) {
            for (uint32_t c : chars) {
                v.lastActivity = now;
                typeCharacter(f, c);
            }
        }
    }
}

bool editField(app::AppState& state, const FieldOptions& options) {
    bool buttonClicked = false;
    return editField(state, options, buttonClicked);
}

bool editField(app::AppState& state, const FieldOptions& options, bool& buttonClicked) {
    auto it = state.view.fields.find(options.id);
    if (it == state.view.fields.end()) {
        it = state.view.fields.emplace(options.id, app::FieldState{}).first;
        it->second.text = options.text;
        it->second.caret = options.text.size();
    }
    app::FieldState& f = it->second;
    f.readOnly = options.readOnly;
    f.secret = options.secret;
    f.maxLength = options.maxLength;
    if (!options.readOnly) widgetFrame().tabOrder.push_back(options.id);

    FieldOptions shown = options;
    shown.text = f.text;
    shown.caret = f.caret;
    shown.selectAll = f.selectAll;
    shown.focused = state.view.focus == options.id;
    shown.lastActivity = state.view.lastActivity;
    shown.revealed = options.eye && f.revealed;
    const bool clicked = field(shown, buttonClicked);
    if (buttonClicked && options.eye) f.revealed = !f.revealed;
    if (clicked) focusField(state, options.id, widgetClock());
    return clicked;
}

const std::string& fieldText(const app::AppState& state, const std::string& id) {
    auto it = state.view.fields.find(id);
    return it == state.view.fields.end() ? kEmpty : it->second.text;
}

void setFieldText(app::AppState& state, const std::string& id, const std::string& text) {
    app::FieldState& f = state.view.fields[id];
    f.text = text;
    f.caret = text.size();
    f.selectAll = false;
}

bool setFieldValue(app::AppState& state, uint64_t identity, const std::string& text) {
    for (const WidgetFrame::FieldInput& input : widgetFrame().fieldInputs) {
        if (input.identity != identity) continue;
        auto at = state.view.fields.find(input.id);
        if (at == state.view.fields.end() || at->second.readOnly || at->second.secret) return false;
        clearText(at->second);
        insertText(at->second, withoutControls(text));
        return true;
    }
    return false;
}

}  // namespace ember::launcher::view
