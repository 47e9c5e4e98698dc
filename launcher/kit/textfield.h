// Single-line text fields and the keyboard: the editing rules applied to
// the focused field once a frame before the screens are built, the global
// keys (F5 and Ctrl+R, Tab, Enter and Escape), and the field widget the
// screens draw (text or placeholder, password dots, select-all, the caret
// and its blink). Field state (text, caret, selection, the reveal eye)
// lives in AppState::view.fields; the order a build drew its fields in, in
// the kit's record of the frame (WidgetFrame::tabOrder, widgets.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "launcher/app/state.h"
#include "launcher/kit/widgets.h"

namespace ember::launcher::view {

struct KeyEvent {
    uint32_t key = 0;  // Windows virtual-key code
    bool ctrl = false;
    bool shift = false;
};

// Joins typed UTF-16 code units into code points: a surrogate pair gives
// one, a lone surrogate U+FFFD.
std::vector<uint32_t> joinUtf16(const std::vector<uint32_t>& units);

// Applies the frame's keys and typed characters (Unicode code points) to
// view.fields / view.focus and sets view.submitted, view.enterPressed and
// view.escapePressed. `now` is the frame time in ms. F5 and Ctrl+R start a
// preflight (not while one runs, nor in demo mode); Tab, Shift+Tab, the
// arrows, Space and Enter on what is no field go to the focus order
// (focus.h), in which the fields keep their draw order.
void runFieldPass(app::AppState& state, const std::vector<KeyEvent>& keys, const std::vector<uint32_t>& chars,
                  uint64_t now);

// The field widget: label, input, error or hint, drawn from
// view.fields[options.id] (options.text only seeds a field never seen
// before). A click focuses it; it joins this frame's Tab order. True when
// the field was clicked this frame.
bool editField(app::AppState& state, const FieldOptions& options);
// The same; `buttonClicked` says whether the in-field button was clicked
// (a reveal eye toggles itself).
bool editField(app::AppState& state, const FieldOptions& options, bool& buttonClicked);

// The text of a field ("" for one never seen).
const std::string& fieldText(const app::AppState& state, const std::string& id);
// Replaces a field's text (caret to the end, select-all off).
void setFieldText(app::AppState& state, const std::string& id, const std::string& text);
// A screen reader's new value for the field whose input has `identity` in
// the last build, as a paste over all of it would give (no line breaks or
// controls, at most the field's length). False, changing nothing, for a
// field that is gone, read-only or secret.
bool setFieldValue(app::AppState& state, uint64_t identity, const std::string& text);

}  // namespace ember::launcher::view
