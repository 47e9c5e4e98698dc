// The widget kit (see widgets.h).
#include "launcher/kit/widgets.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "base/log.h"
#include "launcher/kit/clipboard.h"
#include "ui/kiln/draw.h"
#include "ui/kiln/kiln.h"

namespace ember::launcher::view {

namespace {

void setWidthPercent(float percent) {
    kiln::Style s;
    s.width = kiln::Length{percent, kiln::LengthPercent};
    kiln::setStyle(s, kiln::bit(kiln::BitWidth));
}

void setWidthPx(float px) {
    kiln::Style s;
    s.width = kiln::Length{px, kiln::LengthPx};
    kiln::setStyle(s, kiln::bit(kiln::BitWidth));
}

void setColour(const kiln::Colour& colour) {
    kiln::Style s;
    s.background = colour;
    kiln::setStyle(s, kiln::bit(kiln::BitBackground));
}

}  // namespace

// ---------------------------------------------------------------------------
// Frame clock and scheduling

WidgetFrame& widgetFrame() { return kiln::frameRecord<WidgetFrame>(); }

void beginWidgets(uint64_t nowMs, float scale) {
    WidgetFrame& f = widgetFrame();
    f.now = nowMs;
    f.scale = scale;
    f.next = -1;
    f.textFields.clear();
    f.tabOrder.clear();
    f.fieldInputs.clear();
    f.names.clear();
}
void nameElement(std::string name) { widgetFrame().names.push_back({kiln::currentId(), std::move(name), false, ""}); }
uint64_t widgetClock() { return widgetFrame().now; }
float widgetScale() { return widgetFrame().scale; }
void requestFrameIn(int64_t ms) {
    WidgetFrame& f = widgetFrame();
    ms = std::max<int64_t>(0, ms);
    if (f.next < 0 || ms < f.next) f.next = ms;
}
int64_t nextFrameDelay() { return widgetFrame().next; }
bool overTextField(float x, float y) {
    for (const kiln::Rect& r : widgetFrame().textFields)
        if (r.contains(x, y)) return true;
    return false;
}

// ---------------------------------------------------------------------------
// Animation formulas

float spinnerDotOpacity(uint64_t t, int dot) {
    const int step = static_cast<int>((t / 88) % 8);
    const int behind = ((step - dot) % 8 + 8) % 8;
    return 1.0f - 0.11f * static_cast<float>(behind);
}

int64_t spinnerNextStep(uint64_t t) { return static_cast<int64_t>(88 - t % 88); }

Segment indeterminateSegment(uint64_t t, float innerWidth, float scale) {
    const float p = static_cast<float>(t % 1400) / 1400.0f;
    const float e = p < 0.5f ? 2 * p * p : 1 - (2 - 2 * p) * (2 - 2 * p) / 2;
    const float seg = 96.0f * scale;
    Segment s;
    s.left = std::max(0.0f, (seg + innerWidth) * e - seg);
    s.right = std::min(innerWidth, (seg + innerWidth) * e);
    return s;
}

float fillFraction(float fraction) {
    if (!(fraction > 0)) return 0;  // negative and NaN
    return std::min(fraction, 1.0f);
}

kiln::Colour bandColour(int band) {
    const float f = static_cast<float>(band) / 31.0f;
    return kiln::Colour{(1 + 78 * f) / 255.0f, (140 + 76 * f) / 255.0f, (219 + 36 * f) / 255.0f, 1.0f};
}

float skeletonShinePosition(uint64_t t) { return -0.4f + 1.4f * static_cast<float>(t % 1400) / 1400.0f; }

// ---------------------------------------------------------------------------
// Widgets

std::string_view iconGlyph(std::string_view name) {
    if (name == "check" || name == "check12" || name == "tick11") return "\xE2\x9C\x93";  // check mark
    if (name == "plus") return "+";
    if (name == "refresh") return "\xE2\x86\xBB";  // clockwise arrow
    if (name == "alert") return "!";
    if (name == "info") return "i";
    if (name == "error") return "\xC3\x97";  // multiplication sign
    if (name == "copy") return "\xE2\xA7\x89";
    return "?";
}

void glyphIcon(std::string_view name) {
    std::string spec = "text.ico__g.ig-";
    spec += name;
    kiln::textElement(iconGlyph(name), spec);
}

std::string buttonSpec(const ButtonOptions& o) {
    std::string spec = "div.btn.btn--" + o.kind;
    if (o.tall) spec += ".btn--tall";
    if (!o.extraClass.empty()) spec += "." + o.extraClass;
    if (o.disabled || o.busy) spec += ".is-disabled";
    return spec;
}

bool button(const ButtonOptions& o) {
    const std::string spec = buttonSpec(o);
    const bool inert = o.disabled || o.busy;
    bool clicked = false;
    // One identity whatever the button's state (its focus stays on it).
    if (inert) {
        kiln::openElement(spec, "div.btn");
    } else {
        clicked = kiln::buttonElement(spec, "div.btn");
    }
    if (o.busy) {
        spinner(true);
    } else if (!o.icon.empty()) {
        glyphIcon(o.icon);
    }
    kiln::textElement(o.label, "text.btn__lab");
    kiln::closeElement();
    if (clicked) trace("click button '" + o.label + "' (" + o.kind + ")");
    return clicked;
}

bool copyButton(const ButtonOptions& options, const std::string& text, uint64_t& copiedUntil) {
    const uint64_t now = widgetClock();
    const bool copied = now < copiedUntil;
    ButtonOptions shown = options;
    if (copied) {
        shown.label = "Copied";
        shown.icon = "tick11";
        shown.extraClass = options.extraClass.empty() ? "tick" : options.extraClass + ".tick";
        requestFrameIn(static_cast<int64_t>(copiedUntil - now));  // back to the label
    }
    const bool clicked = button(shown);
    if (clicked && copyToClipboard(text)) {
        copiedUntil = now + kCopiedMs;
        requestFrameIn(0);
    }
    return clicked;
}

void beginCard(bool flush) { kiln::openElement(flush ? "div.card__in.card--flush" : "div.card__in"); }
void endCard() { kiln::closeElement(); }

void boxIcon(std::string_view name, bool fill) {
    std::string spec = "div.ico.ico-";
    spec += name;
    spec += fill ? ".ico-fill" : ".ico-line";
    kiln::openElement(spec);
    // Each icon's parts, in drawing order (the stylesheet places them).
    static const struct {
        const char* icon;
        const char* parts[3];
    } kParts[] = {
        {"folder", {"div.ico__tab", "div.ico__body", nullptr}},
        {"trash", {"div.ico__lid", "div.ico__can", nullptr}},
        {"eye", {"div.ico__lens", "div.ico__pupil", nullptr}},
        {"ok", {"div.ico__disc", "div.ico__mark", nullptr}},
    };
    for (const auto& icon : kParts) {
        if (name != icon.icon) continue;
        for (const char* part : icon.parts) {
            if (part == nullptr) break;
            kiln::openElement(part);
            kiln::closeElement();
        }
    }
    kiln::closeElement();
}

bool checkbox(std::string_view label, bool& value) {
    const bool clicked = kiln::buttonElement(value ? "div.check.is-on" : "div.check", "div.check");
    kiln::openElement("div.check__box");
    if (value) kiln::textElement(iconGlyph("check12"), "text.ico__g.ig-check12");
    kiln::closeElement();
    kiln::textElement(label, "text.check__text");
    kiln::closeElement();
    if (clicked) {
        value = !value;
        trace("click checkbox");
    }
    return clicked;
}

bool radio(std::string_view label, bool selected) {
    const bool clicked = kiln::buttonElement(selected ? "div.radio.is-on" : "div.radio", "div.radio");
    kiln::openElement("div.radio__ring");
    kiln::openElement("div.radio__in");
    if (selected) {
        kiln::openElement("div.radio__dot");
        kiln::closeElement();
    }
    kiln::closeElement();
    kiln::closeElement();
    kiln::textElement(label, "text.check__text");
    kiln::closeElement();
    if (clicked) trace("click radio");
    return clicked;
}

float fieldTextWidth(float inputWidth, bool inFieldButton, float scale) {
    return std::max(0.0f, inputWidth - (inFieldButton ? 40.0f + 14.0f : 12.0f + 14.0f) * scale);
}

bool caretShown(uint64_t now, uint64_t lastActivity) {
    const uint64_t since = now > lastActivity ? now - lastActivity : 0;
    return (since / 500) % 2 == 0;
}

int64_t caretNextBlink(uint64_t now, uint64_t lastActivity) {
    const uint64_t since = now > lastActivity ? now - lastActivity : 0;
    return static_cast<int64_t>(500 - since % 500);
}

namespace {

// What an input remembers between frames for showing a text wider than its
// text area: the shown text's natural width (measured the frame it was
// shown whole) and the focused text's scroll.
struct InputMemory {
    uint32_t shownHash = 0;  // what the text element showed last frame
    uint32_t fullHash = 0;   // the text `fullWidth` belongs to
    float fullWidth = 0;
    float scroll = 0;  // px the focused text is moved left by
};

uint32_t textHash(std::string_view text) {
    uint32_t h = 2166136261u;
    for (char c : text) h = (h ^ static_cast<uint8_t>(c)) * 16777619u;
    return h;
}

size_t codePointCount(std::string_view text) {
    size_t n = 0;
    for (char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

// The first `count` code points of a text.
std::string_view codePointPrefix(std::string_view text, size_t count) {
    size_t i = 0;
    for (; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (count == 0) break;
            --count;
        }
    }
    return text.substr(0, i);
}

void setMarginLeft(float px) {
    kiln::Style s;
    s.margin[3] = px;
    kiln::setStyle(s, kiln::bit(kiln::BitMargin));
}

// The text area: the input's room beside its in-field button (it grows
// into what is left and never widens the input), clipping what is wider;
// its pieces in a row. Returns the width it had in the last frame.
float openTextArea() {
    kiln::openElement("div.input__area");
    kiln::Style s;
    s.display = kiln::DisplayFlex;
    s.direction = kiln::DirectionRow;
    s.align = kiln::AlignCenter;
    s.overflow = kiln::OverflowHidden;
    s.width = kiln::Length{0, kiln::LengthPx};
    s.grow = 1;
    kiln::setStyle(s, kiln::bit(kiln::BitDisplay) | kiln::bit(kiln::BitFlexDirection) | kiln::bit(kiln::BitAlign) |
                          kiln::bit(kiln::BitOverflow) | kiln::bit(kiln::BitWidth) | kiln::bit(kiln::BitFlexGrow));
    return kiln::lastRect().w;
}

void caretElement() {
    kiln::openElement("div.input__caret");
    kiln::closeElement();
}

// An unfocused text: whole when it fits, else cut short with an ellipsis
// (from the whole text's width, measured the frame it was shown whole): at
// the end, or in the middle for a path.
void restingText(InputMemory& m, const std::string& text, float area, bool selected, bool middle) {
    const uint32_t hash = textHash(text);
    std::string shown = text;
    if (area > 0 && m.fullHash == hash && m.fullWidth > area) {
        const size_t n = codePointCount(text);
        const float perCodePoint = m.fullWidth / static_cast<float>(n);
        // A margin for proportional faces: the kept part may be wider than average.
        const float room = area * 0.9f - perCodePoint;
        const size_t keep = room > 0 ? static_cast<size_t>(room / perCodePoint) : 0;
        if (middle) {
            // A path keeps its drive and its last folders.
            const size_t head = keep * 2 / 5, tail = keep - head;
            const std::string_view start = codePointPrefix(text, head);
            const std::string end = text.substr(codePointPrefix(text, n - std::min(n, tail)).size());
            shown = std::string(start) + "\xE2\x80\xA6" + end;
        } else {
            shown = std::string(codePointPrefix(text, keep)) + "\xE2\x80\xA6";
        }
    }
    if (selected) kiln::openElement("div.input__sel");
    kiln::textElement(shown, "text.input__text");
    const uint32_t shownHash = textHash(shown);
    if (shown == text && m.shownHash == shownHash) {
        const float w = kiln::lastRect().w;
        if (w > 0) {
            m.fullHash = hash;
            m.fullWidth = w;
        }
    }
    m.shownHash = shownHash;
    if (selected) kiln::closeElement();
}

// A focused text: the caret between the parts before and after it, the
// whole moved left as far as keeps the caret inside the area.
void focusedText(InputMemory& m, const std::string& text, size_t caret, float area, bool selected, bool caretOn) {
    caret = std::min(caret, text.size());
    if (selected) {
        kiln::openElement("div.input__sel");
        kiln::textElement(text, "text.input__text");
        setMarginLeft(-m.scroll);
        kiln::closeElement();
        if (caretOn) caretElement();
        const float w = kiln::lastRect().w;
        if (area > 0 && w > 0) m.scroll = std::max(0.0f, std::min(m.scroll, w));
        m.shownHash = 0;
        return;
    }
    const std::string_view before(text.data(), caret), after(text.data() + caret, text.size() - caret);
    float beforeWidth = 0;
    if (!before.empty()) {
        kiln::textElement(before, "text.input__text");
        setMarginLeft(-m.scroll);
        beforeWidth = kiln::lastRect().w;
    }
    if (caretOn) {
        caretElement();
        // The caret takes no room, so the text does not move as it blinks.
        kiln::Style s;
        s.margin[1] = -2.0f * widgetScale();
        kiln::setStyle(s, kiln::bit(kiln::BitMargin));
    }
    if (!after.empty()) kiln::textElement(after, "text.input__text");
    if (before.empty()) {
        m.scroll = 0;
    } else if (area > 0 && beforeWidth > 0) {
        const float caretRoom = 3.0f * widgetScale();
        if (beforeWidth - m.scroll > area - caretRoom) m.scroll = beforeWidth - area + caretRoom;
        if (beforeWidth < m.scroll) m.scroll = beforeWidth;
        m.scroll = std::max(0.0f, m.scroll);
    }
    m.shownHash = 0;
}

}  // namespace

bool field(const FieldOptions& o) {
    bool buttonClicked = false;
    return field(o, buttonClicked);
}

bool field(const FieldOptions& o, bool& buttonClicked) {
    buttonClicked = false;
    const bool inFieldButton = o.eye || !o.buttonLabel.empty();
    std::string spec = "div.field";
    if (o.compact) spec += ".is-compact";
    if (o.busy) spec += ".is-busy";
    kiln::openElement(spec);
    if (!o.label.empty()) kiln::textElement(o.label, "text.t-label.field__label");
    kiln::openElement("div.field__row");
    kiln::openElement("div.field__wrap");
    std::string input = "div.input";
    if (o.focused) input += ".is-focus";
    if (!o.error.empty()) input += ".is-invalid";
    if (o.readOnly) input += ".is-readonly";
    if (inFieldButton) input += ".input--btn";
    if (!o.inputClass.empty()) input += "." + o.inputClass;
    const bool clicked = kiln::buttonElement(input, "div.input");
    const kiln::Rect inputRect = kiln::lastRect();
    if (!o.id.empty()) widgetFrame().fieldInputs.push_back({kiln::currentId(), o.id});
    if (!o.readOnly) widgetFrame().textFields.push_back(inputRect);
    widgetFrame().names.push_back(
        {kiln::currentId(), o.label.empty() ? o.placeholder : o.label, o.secret, o.secret ? "" : o.text});
    InputMemory& memory = kiln::memoryFor<InputMemory>(kiln::currentId());
    float area = inputRect.w > 0 ? fieldTextWidth(inputRect.w, inFieldButton, widgetScale()) : 0;
    const float laidOut = openTextArea();
    if (laidOut > 0) area = area > 0 ? std::min(area, laidOut) : laidOut;
    const bool caretOn = o.focused && !o.readOnly && caretShown(widgetClock(), o.lastActivity);
    if (o.text.empty()) {
        // The caret stands where the first letter will go, before the hint,
        // and takes no room, so the hint does not move as it blinks.
        if (caretOn) {
            caretElement();
            kiln::Style s;
            s.margin[1] = -3.0f * widgetScale();
            kiln::setStyle(s, kiln::bit(kiln::BitMargin));
        }
        kiln::textElement(o.placeholder, "text.input__hint");
    } else {
        std::string shown = o.text;
        size_t caret = o.caret == std::string::npos ? o.text.size() : std::min(o.caret, o.text.size());
        if (o.secret && !o.revealed) {
            // One dot per code point; the caret after as many dots as code points before it.
            shown.clear();
            size_t dotsBefore = 0;
            for (size_t i = 0; i < o.text.size(); ++i) {
                if ((static_cast<unsigned char>(o.text[i]) & 0xC0) == 0x80) continue;
                shown += "\xE2\x80\xA2";
                if (i < caret) ++dotsBefore;
            }
            caret = dotsBefore * 3;
        }
        if (o.focused && !o.readOnly) {
            focusedText(memory, shown, caret, area, o.selectAll, caretOn);
        } else {
            restingText(memory, shown, area, o.selectAll, o.inputClass == "input--path");
        }
    }
    kiln::closeElement();  // area
    if (o.focused && !o.readOnly) requestFrameIn(caretNextBlink(widgetClock(), o.lastActivity));
    if (inFieldButton) {
        kiln::pushKey("in-btn");
        buttonClicked = kiln::buttonElement("div.field__in-btn");
        if (o.eye) nameElement(o.revealed ? "Hide the password" : "Show the password");
        if (o.eye) {
            boxIcon("eye", o.revealed);
        } else {
            kiln::textElement(o.buttonLabel, "text.field__in-btn-lab");
        }
        kiln::closeElement();
        kiln::popKey();
        if (buttonClicked) trace("click field button " + o.id);
    }
    kiln::closeElement();  // input
    kiln::closeElement();  // wrap
    kiln::closeElement();  // row
    if (!o.error.empty()) {
        kiln::textElement(o.error, "text.field__err");
    } else if (!o.hint.empty()) {
        kiln::textElement(o.hint, "text.field__hint");
    }
    kiln::closeElement();
    if (clicked && !o.readOnly) trace("click field " + o.id);
    return clicked && !o.readOnly;
}

void spinner(bool small) {
    kiln::openElement(small ? "div.spinner.spinner--sm" : "div.spinner");
    const uint64_t t = widgetClock();
    static const char* const dots[8] = {"div.sp-dot.sp-d0", "div.sp-dot.sp-d1", "div.sp-dot.sp-d2",
                                        "div.sp-dot.sp-d3", "div.sp-dot.sp-d4", "div.sp-dot.sp-d5",
                                        "div.sp-dot.sp-d6", "div.sp-dot.sp-d7"};
    for (int i = 0; i < 8; ++i) {
        kiln::openElement(dots[i]);
        kiln::setOpacity(spinnerDotOpacity(t, i));
        kiln::closeElement();
    }
    kiln::closeElement();
    requestFrameIn(spinnerNextStep(t));
}

void progressBar(float fraction, bool error, bool indeterminate) {
    kiln::openElement(error ? "div.bar.bar--error" : "div.bar");
    if (indeterminate) {
        // The bar's inner width from the last frame (the fill sweeps it).
        const kiln::Rect last = kiln::lastRect();
        const float inner = last.w;
        const Segment seg = indeterminateSegment(widgetClock(), inner, widgetScale());
        kiln::openElement("div.bar__spacer");
        setWidthPx(seg.left);
        kiln::closeElement();
        kiln::openElement("div.bar__fill");
        setWidthPx(std::max(0.0f, seg.right - seg.left));
        requestFrameIn(16);
    } else {
        kiln::openElement("div.bar__fill");
        setWidthPercent(fillFraction(fraction) * 100.0f);
    }
    if (!error) {
        kiln::openElement("div.bar__shine");
        kiln::closeElement();
        kiln::openElement("div.bar__bands");
        for (int i = 0; i < kBandCount; ++i) {
            kiln::openElement("div.bar__band");
            setColour(bandColour(i));
            kiln::closeElement();
        }
        kiln::closeElement();
    }
    kiln::closeElement();  // fill
    kiln::closeElement();  // bar
}

void skeleton(bool gap) {
    kiln::openElement(gap ? "div.skel.skel--gap" : "div.skel");
    // The shine moves across the row's width of the last frame.
    const float width = kiln::lastRect().w;
    kiln::openElement("div.skel__shine");
    kiln::Style s;
    s.margin[3] = skeletonShinePosition(widgetClock()) * width;
    kiln::setStyle(s, kiln::bit(kiln::BitMargin));
    kiln::closeElement();
    kiln::closeElement();
    requestFrameIn(33);
}

int strip(std::string_view tone, std::string_view title, std::string_view body,
          std::initializer_list<std::string_view> actions, bool gap) {
    std::string spec = "div.strip.strip--";
    spec += tone;
    if (gap) spec += ".strip--gap";
    kiln::pushKey(std::string("strip:") + std::string(title));
    kiln::openElement(spec);
    kiln::openElement("div.strip__in");
    kiln::openElement("div.strip__icon");
    glyphIcon(tone == "success" ? "check" : tone == "error" ? "error" : "alert");
    kiln::closeElement();
    kiln::openElement("div.strip__body");
    kiln::textElement(title, "text.t-h3.strip__title");
    if (!body.empty()) kiln::textElement(body, "text.strip__text");
    kiln::closeElement();
    int clicked = -1;
    if (actions.size() > 0) {
        kiln::openElement("div.strip__actions");
        int i = 0;
        for (std::string_view action : actions) {
            kiln::pushKey(std::string("stripact:") + std::string(action));
            ButtonOptions o;
            o.label = std::string(action);
            o.kind = i == 0 ? "secondary" : "ghost";
            if (button(o)) clicked = i;
            kiln::popKey();
            ++i;
        }
        kiln::closeElement();
    }
    kiln::closeElement();
    kiln::closeElement();
    kiln::popKey();
    return clicked;
}

void sectionHead(std::string_view title, bool label, bool grow) {
    kiln::openElement("div.sechead");
    kiln::textElement(title, label ? "text.t-label" : "text.t-h1");
    kiln::openElement(grow ? "div.sechead__rule.sechead__rule--grow" : "div.sechead__rule");
    kiln::closeElement();
    kiln::closeElement();
}

bool tab(std::string_view label, bool current) {
    const bool clicked = kiln::buttonElement(current ? "div.tabs__item.is-current" : "div.tabs__item", "div.tabs__item");
    kiln::openElement("div.tabs__lab");
    kiln::textElement(label, "text.tabs__text");
    kiln::closeElement();
    kiln::openElement("div.tabs__line");
    kiln::closeElement();
    kiln::closeElement();
    if (clicked) trace("click tab");
    return clicked;
}

bool playButton(std::string_view label, bool disabled) {
    bool clicked = false;
    if (disabled) {
        kiln::openElement("div.btn.btn--play.is-disabled", "div.btn.btn--play");
    } else {
        clicked = kiln::buttonElement("div.btn.btn--play");
        if (kiln::currentState() & kiln::StateHover) trace("play hover");
    }
    kiln::openElement("div.play__bands");
    for (int i = 0; i < 8; ++i) {
        kiln::openElement(i == 0 || i == 7 ? "div.play__band.play__band--edge" : "div.play__band");
        kiln::closeElement();
    }
    kiln::closeElement();
    kiln::openElement("div.play__edge");
    kiln::closeElement();
    kiln::openElement("div.play__shine");
    kiln::closeElement();
    kiln::openElement("div.play__label");
    kiln::textElement(label, "text.play__text");
    kiln::closeElement();
    kiln::closeElement();
    if (clicked) trace("click button '" + std::string(label) + "' (play)");
    return clicked;
}

void chip(std::string_view state, std::string_view name, std::string_view count, std::string_view sub) {
    chip(state, name, count, sub, false, 1.0f);
}

bool chip(std::string_view state, std::string_view name, std::string_view count, std::string_view sub, bool retry,
          float haloOpacity) {
    std::string spec = "div.chip.chip--";
    spec += state;
    kiln::openElement(spec);
    kiln::openElement("div.chip__line1");
    kiln::openElement("div.chip__halo");
    if (haloOpacity < 1.0f) kiln::setOpacity(haloOpacity);
    kiln::openElement("div.chip__dot");
    kiln::openElement("div.chip__hole");
    kiln::closeElement();
    kiln::closeElement();
    kiln::closeElement();
    kiln::textElement(name, "text.chip__name");
    kiln::textElement(count, "text.chip__count");
    kiln::closeElement();
    kiln::textElement(sub, "text.chip__sub");
    bool clicked = false;
    if (retry) {
        kiln::openElement("div.chip__retryrow");
        kiln::pushKey("chip:retry");
        ButtonOptions o;
        o.label = "Retry";
        o.kind = "ghost";
        o.extraClass = "btn--link";
        clicked = button(o);
        kiln::popKey();
        kiln::closeElement();
    }
    kiln::closeElement();
    return clicked;
}

float haloPulse(uint64_t t) {
    const float p = static_cast<float>(t % 1200) / 1200.0f;
    const float wave = p < 0.5f ? p * 2 : 2 - p * 2;  // 0 -> 1 -> 0
    return 0.35f + 0.65f * wave;
}

void details(std::string_view text, bool& open, uint64_t& copiedUntil) {
    kiln::openElement("div.details");
    if (kiln::buttonElement("div.details__sum")) {
        open = !open;
        trace(open ? "click details (open)" : "click details (close)");
    }
    kiln::textElement("Details", "text.details__text");
    kiln::arrowElement(open ? kiln::ArrowDown : kiln::ArrowRight, 10 * widgetScale(), "arrow.details__arrow");
    kiln::closeElement();
    if (open) {
        kiln::openElement("div.details__wrap");
        kiln::openElement("div.details__body");
        kiln::textElement(text, "text.details__mono");
        kiln::closeElement();
        kiln::pushKey(":copy");
        ButtonOptions copy;
        copy.label = "Copy";
        copy.kind = "ghost";
        copy.extraClass = "details__copy";
        copyButton(copy, std::string(text), copiedUntil);
        kiln::popKey();
        kiln::closeElement();
    }
    kiln::closeElement();
}

void avatar(std::string_view letter, bool small) {
    kiln::openElement(small ? "div.avatar.avatar--sm" : "div.avatar");
    kiln::openElement("div.avatar__in");
    kiln::textElement(letter, "text.avatar__l");
    kiln::closeElement();
    kiln::closeElement();
}

void seal(std::string_view tone, std::string_view letter) {
    std::string spec = "div.seal.seal--";
    spec += tone;
    kiln::openElement(spec);
    kiln::openElement("div.seal__gap");
    kiln::openElement("div.seal__ring");
    kiln::openElement("div.seal__core");
    kiln::textElement(letter, "text.seal__o");
    kiln::closeElement();
    kiln::closeElement();
    kiln::closeElement();
    kiln::closeElement();
}

void badge(std::string_view text) {
    kiln::openElement("div.badge");
    kiln::openElement("div.badge__in");
    kiln::textElement(text, "text.badge__text");
    kiln::closeElement();
    kiln::closeElement();
}

void playerId(std::string_view id) {
    kiln::openElement("div.playerid");
    kiln::openElement("div.playerid__in");
    kiln::textElement(id, "text.playerid__text");
    kiln::closeElement();
    kiln::closeElement();
}

void powBar(std::string_view text, float fraction) {
    kiln::openElement("div.pow");
    kiln::openElement("div.pow__in");
    kiln::openElement("div.pow__dot");
    // The dot breathes while the work runs (the spinner's clock, slower).
    kiln::setOpacity(0.55f + 0.45f * spinnerDotOpacity(widgetClock() / 2, 0));
    kiln::openElement("div.pow__hole");
    kiln::closeElement();
    kiln::closeElement();
    kiln::textElement(text, "text.pow__text");
    kiln::closeElement();
    kiln::pushKey("powbar");
    progressBar(fraction);
    kiln::popKey();
    kiln::closeElement();
    requestFrameIn(spinnerNextStep(widgetClock() / 2) * 2);
}

bool captcha(const std::string& picturePath, float width, float height, const FieldOptions& digits) {
    kiln::openElement("div.captcha");
    kiln::openElement("div.captcha__in");
    kiln::openElement("div.captcha__top");
    kiln::openElement("div.captcha__plinth");
    kiln::imageElement(picturePath, width * widgetScale(), height * widgetScale(), "img.captcha__img");
    kiln::closeElement();
    kiln::openElement("div.captcha__side");
    ButtonOptions fresh;
    fresh.label = "New challenge";
    fresh.kind = "ghost";
    fresh.icon = "refresh";
    const bool clicked = button(fresh);
    kiln::closeElement();
    kiln::closeElement();
    FieldOptions field_ = digits;
    if (field_.label.empty()) field_.label = "Enter the 6 digits";
    if (field_.inputClass.empty()) field_.inputClass = "input--num";
    field(field_);
    kiln::closeElement();
    kiln::closeElement();
    return clicked;
}

void rivetRule() {
    kiln::openElement("div.rule-rivets");
    kiln::openElement("div.rule-rivets__b");
    kiln::closeElement();
    kiln::openElement("div.rule-rivets__i");
    kiln::closeElement();
    kiln::openElement("div.rule-rivets__b");
    kiln::closeElement();
    kiln::closeElement();
}

}  // namespace ember::launcher::view
