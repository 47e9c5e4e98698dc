// The widget kit: small functions that open KilnUI elements with the
// stylesheet's class specs, fill them, and say whether they were activated
// this frame. Widgets keep no state in variables of their own: what must
// outlive a frame lives in the caller's state (AppState::view, values
// handed in by reference), in the toolkit's per-identity memory
// (kiln::memoryFor: an input's measured text)
// or in the kit's record of the frame (WidgetFrame, kept in the toolkit
// context).
//
// Animated widgets ask for their next frame through requestFrameIn; the
// frame loop sleeps until the earliest request (nextFrameDelay).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ui/kiln/kiln.h"
#include "ui/kiln/style.h"

namespace ember::launcher::view {

// ---------------------------------------------------------------------------
// Frame clock and scheduling

// What the kit records about the frame it builds, kept in the toolkit
// context (kiln::frameRecord). beginWidgets clears it, so between frames it
// describes the last build: the window asks it when to draw next and what
// lies under the pointer, the next frame's field pass for the Tab order.
struct WidgetFrame {
    uint64_t now = 0;  // the frame's clock, ms
    float scale = 1;
    int64_t next = -1;                   // the earliest next-frame request, ms; -1: none
    std::vector<kiln::Rect> textFields;  // editable inputs, where the frame before laid them out
    std::vector<std::string> tabOrder;   // the editable fields' ids, in draw order
    // Names a screen reader says instead of what is drawn: a field's label
    // (else its placeholder, which is not drawn once it holds text, with
    // whether it is secret), a symbol button's word.
    struct ElementName {
        uint64_t identity = 0;
        std::string name;
        bool secret = false;
        std::string value;  // a field's text (never a secret one's)
    };
    std::vector<ElementName> names;
};
WidgetFrame& widgetFrame();
// Names the current element for screen readers when what it draws is no
// word (an icon, a symbol).
void nameElement(std::string name);

// Starts a frame's widget pass: the clock (ms) and the scale, and forgets
// the previous frame's record (requests, fields, Tab order).
void beginWidgets(uint64_t nowMs, float scale);
uint64_t widgetClock();
float widgetScale();
// Asks for another frame within `ms` milliseconds (0: as soon as possible).
void requestFrameIn(int64_t ms);
// The earliest request of the last build: milliseconds, or -1 for none.
int64_t nextFrameDelay();
// Whether a point lies on an editable text field of the last build (the
// window shows the text cursor there).
bool overTextField(float x, float y);

// ---------------------------------------------------------------------------
// Animation formulas

// Spinner dot i (0..7) at time t: 1 - 0.11 x ((step - i) mod 8), step = floor(t / 88) mod 8.
float spinnerDotOpacity(uint64_t t, int dot);
// Milliseconds until the spinner's next step.
int64_t spinnerNextStep(uint64_t t);
// The sweep of an indeterminate bar of inner width W at scale s: the segment
// [left, right) in px from the bar's inner left edge.
struct Segment {
    float left = 0, right = 0;
};
Segment indeterminateSegment(uint64_t t, float innerWidth, float scale);
// The fraction shown by a determinate bar (clamped to 0..1; NaN is 0).
float fillFraction(float fraction);
// Band i (0..31) of a progress fill: (1 + 78f, 140 + 76f, 219 + 36f) / 255, f = i / 31.
kiln::Colour bandColour(int band);
inline constexpr int kBandCount = 32;
// The skeleton's shine: its left edge as a fraction of the row's width
// (from -0.4 to 1.0 over one 1400 ms period).
float skeletonShinePosition(uint64_t t);

// ---------------------------------------------------------------------------
// Widgets

struct ButtonOptions {
    std::string label;
    std::string kind = "secondary";  // primary, secondary, ghost, danger, danger-ghost, playalt
    bool tall = false;
    std::string extraClass;  // without the dot
    bool disabled = false;
    bool busy = false;
    std::string icon;  // a glyph icon name (check, plus, refresh, ...), empty: none
};
// The button's element spec ("div.btn.btn--primary.btn--tall.is-disabled").
std::string buttonSpec(const ButtonOptions& options);
// True when clicked this frame (never when disabled or busy).
bool button(const ButtonOptions& options);

// A button that puts `text` on the clipboard; for 1.5 s after a click
// (`copiedUntil`, kept by the caller) it reads "Copied" with a tick.
inline constexpr uint64_t kCopiedMs = 1500;
bool copyButton(const ButtonOptions& options, const std::string& text, uint64_t& copiedUntil);

// A card: "div.card__in" (".card--flush"), closed by endCard; its foot
// "div.card__foot" is opened and closed by the caller between them.
void beginCard(bool flush = false);
void endCard();

bool checkbox(std::string_view label, bool& value);
bool radio(std::string_view label, bool selected);

struct FieldOptions {
    std::string label, text, placeholder, error, hint;
    std::string inputClass;  // extra input class without the dot (input--path, input--num, input--id)
    bool focused = false, readOnly = false, compact = false, busy = false, secret = false;
    std::string id;  // the field's id for the trace line
    // What the text-field pass (textfield.h) keeps; the defaults draw a
    // caret after the text that blinks from time 0.
    int32_t maxLength = INT32_MAX;     // code points
    size_t caret = std::string::npos;  // byte offset of the caret in text; npos: after it
    bool selectAll = false;            // the whole text is selected ("div.input__sel" behind it)
    uint64_t lastActivity = 0;         // the caret blinks from this time on
    std::string buttonLabel;           // an in-field button ("div.field__in-btn"); empty: none
    bool eye = false;                  // a reveal eye for a secret field (an in-field button too)
    bool revealed = false;             // the eye is open: the secret text shows
};
// A labelled one-line field (display and focus; editing comes with the
// text-field pass). True when clicked this frame.
bool field(const FieldOptions& options);
// The same; `buttonClicked` says whether its in-field button or eye was.
bool field(const FieldOptions& options, bool& buttonClicked);
// The width an input of `inputWidth` px leaves its text: minus (40 + 14) px
// times the scale with an in-field button or eye, else minus (12 + 14).
float fieldTextWidth(float inputWidth, bool inFieldButton, float scale);
// Whether a focused field's caret is drawn at `now`: floor((now - last
// activity) / 500) even, so it shows right after every edit.
bool caretShown(uint64_t now, uint64_t lastActivity);
// Milliseconds until the caret's next blink step.
int64_t caretNextBlink(uint64_t now, uint64_t lastActivity);

void spinner(bool small = false);
// A determinate bar shows the clamped fraction; an indeterminate one sweeps.
void progressBar(float fraction, bool error = false, bool indeterminate = false);
void skeleton(bool gap = false);
// tone: error, warning, success. Returns the index of the action clicked, or -1.
int strip(std::string_view tone, std::string_view title, std::string_view body,
          std::initializer_list<std::string_view> actions = {}, bool gap = false);
void sectionHead(std::string_view title, bool label = false, bool grow = true);
// True when clicked.
bool tab(std::string_view label, bool current);
bool playButton(std::string_view label, bool disabled);
// Realm status chip; state: on, down, checking.
void chip(std::string_view state, std::string_view name, std::string_view count, std::string_view sub);
// The same chip with a "Retry" link under it when `retry` (in
// "div.chip__retryrow") and its halo at `haloOpacity` (the pulse while a
// realm is being checked). True when Retry was clicked.
bool chip(std::string_view state, std::string_view name, std::string_view count, std::string_view sub, bool retry,
          float haloOpacity);
// The pulse of a halo while something is being checked: 0.35..1 over 1200 ms.
float haloPulse(uint64_t t);
// Collapsible technical text; `open` toggles on a click of the summary; its
// copy button keeps its "Copied" time in `copiedUntil`.
void details(std::string_view text, bool& open, uint64_t& copiedUntil);
// A glyph icon ("text.ico__g.ig-" + name).
void glyphIcon(std::string_view name);
// An icon drawn from boxes: "div.ico.ico-" + name (folder, trash, eye, ok)
// with its parts, ".ico-line" or ".ico-fill".
void boxIcon(std::string_view name, bool fill = false);
// Decoration drawn from boxes.
void avatar(std::string_view letter, bool small = false);
void seal(std::string_view tone, std::string_view letter);
void badge(std::string_view text);
void playerId(std::string_view id);
void rivetRule();

// The proof-of-work bar: a pulsing dot, a text and a bar (id "powbar").
void powBar(std::string_view text, float fraction);
// The picture challenge: the picture on a plinth, "New challenge" and the
// digits field. Returns true when "New challenge" was clicked.
bool captcha(const std::string& picturePath, float width, float height, const FieldOptions& digits);

// The glyph shown for a glyph icon name.
std::string_view iconGlyph(std::string_view name);

}  // namespace ember::launcher::view
