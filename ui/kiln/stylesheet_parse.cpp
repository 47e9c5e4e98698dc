// KilnUI's stylesheet dialect: reading values, selectors and whole
// stylesheets. Scaling for the monitor is in stylesheet_scale.cpp, loading
// and reloading in stylesheet_load.cpp.
//
// Sections:
//   - Texts (every warning)
//   - Small readers: white space, numbers, words, colours, url()
//   - Declarations (applyDeclaration)
//   - Selectors and specificity
//   - Whole stylesheets (parseStylesheet)
//
// The dialect is deliberately literal: keywords are compared exactly, numbers
// are read from the start of a word so units are ignored, and a word that is
// not a number reads as 0 (so `border: 1px solid #333` has width 0).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "base/text.h"
#include "ui/kiln/registry.h"
#include "ui/kiln/style.h"

namespace kiln {

using ember::launcher::hexDigitValue;
using ember::launcher::isAsciiDigit;
using ember::launcher::isAsciiSpace;
using ember::launcher::startsWith;
using ember::launcher::trim;

// ---------------------------------------------------------------------------
// Texts

namespace {

const char* const kNoUsableRules = "the stylesheet has no usable rules";
const char* const kNoOpeningBrace = "  a selector with no '{' at the end of the file\n";
const char* const kNoClosingBrace = "  a rule with no '}'\n";
const char* const kTooManyRules = "  more than 10000 rules; the rest of the stylesheet is ignored\n";
const char* const kOnlyTranslate = "transform: only translate() is supported";

std::string badColourWarning(std::string_view value) { return "color: " + std::string(value) + " is not a colour"; }
std::string badBackgroundWarning(std::string_view value) {
    return "background: " + std::string(value) + " is not a colour or url()";
}
std::string unknownPropertyWarning(std::string_view name) { return "unknown property '" + std::string(name) + "'"; }
std::string notDeclarationWarning(std::string_view piece) { return "'" + std::string(piece) + "' is not a declaration"; }
std::string badSelectorWarning(std::string_view step, const std::string& reason) {
    return "  bad selector '" + std::string(step) + "': " + reason + "\n";
}
std::string unknownStateReason(std::string_view name) { return "unknown state ':" + std::string(name) + "'"; }
std::string unexpectedCharReason(char c) { return std::string("unexpected '") + c + "' in the selector"; }

// A hand-written stylesheet has a few hundred rules; this cap only stops a
// hostile file from costing gigabytes (each rule carries a whole Style).
constexpr size_t kMaxRules = 10000;

// ---------------------------------------------------------------------------
// Small readers



int countNewlines(std::string_view text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

// Reads a float from the start of `word` with the C library; `used` says
// whether any of it was a number. Infinities and NaN ("inf", "nan", 1e99)
// read as 0: layout arithmetic must never see them.
float readNumber(std::string_view word, bool* used = nullptr) {
    char small[64];
    std::string large;
    const char* start;
    if (word.size() < sizeof small) {
        if (!word.empty()) std::memcpy(small, word.data(), word.size());
        small[word.size()] = '\0';
        start = small;
    } else {
        large.assign(word);
        start = large.c_str();
    }
    char* end = nullptr;
    float value = std::strtof(start, &end);
    bool ok = end != start && std::isfinite(value);
    if (used) *used = ok;
    return ok ? value : 0.0f;
}

// Truncates towards zero into an int, saturating instead of overflowing.
int32_t toInt(float value, int32_t low, int32_t high) {
    if (value <= static_cast<float>(low)) return low;
    if (value >= static_cast<float>(high)) return high;
    return static_cast<int32_t>(value);
}

Length readLength(std::string_view word) {
    Length length;
    if (word == "auto") return length;
    bool used = false;
    float value = readNumber(word, &used);
    if (!used) return length;  // a word that does not start with a number is auto
    length.value = value;
    length.unit = word.find('%') != std::string_view::npos ? LengthPercent : LengthPx;
    return length;
}

// The text between the first "url(" and the next ")", without quotes and
// spaces at either end. Empty when there is none.
std::string readUrl(std::string_view value) {
    size_t open = value.find("url(");
    if (open == std::string_view::npos) return std::string();
    size_t start = open + 4;
    size_t close = value.find(')', start);
    std::string_view inner = value.substr(start, close == std::string_view::npos ? std::string_view::npos : close - start);
    auto strip = [](char c) { return c == '"' || c == '\'' || c == ' ' || c == '\t'; };
    while (!inner.empty() && strip(inner.front())) inner.remove_prefix(1);
    while (!inner.empty() && strip(inner.back())) inner.remove_suffix(1);
    return std::string(inner);
}

int32_t internUrl(std::string_view value) {
    std::string path = readUrl(value);
    return path.empty() ? -1 : internImage(path);
}

float channel(float v) { return std::clamp(v, 0.0f, 1.0f); }

}  // namespace

std::vector<std::string> splitValue(std::string_view text) {
    std::vector<std::string> words;
    int depth = 0;
    size_t start = std::string_view::npos;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '(') ++depth;
        if (c == ')' && depth > 0) --depth;
        if (isAsciiSpace(c) && depth == 0) {
            if (start != std::string_view::npos) words.emplace_back(text.substr(start, i - start));
            start = std::string_view::npos;
        } else if (start == std::string_view::npos) {
            start = i;
        }
    }
    if (start != std::string_view::npos) words.emplace_back(text.substr(start));
    return words;
}

bool parseColour(std::string_view text, Colour& out) {
    text = trim(text);
    // Names
    if (text == "transparent" || text == "none") {
        out = Colour{0, 0, 0, 0};
        return true;
    }
    if (text == "white") {
        out = Colour{1, 1, 1, 1};
        return true;
    }
    if (text == "black") {
        out = Colour{0, 0, 0, 1};
        return true;
    }
    // #rgb, #rrggbb, #rrggbbaa
    if (!text.empty() && text[0] == '#') {
        std::string_view hex = text.substr(1);
        int digits[8];
        if (hex.size() != 3 && hex.size() != 6 && hex.size() != 8) return false;
        for (size_t i = 0; i < hex.size(); ++i) {
            digits[i] = hexDigitValue(hex[i]);
            if (digits[i] < 0) return false;
        }
        if (hex.size() == 3) {
            out = Colour{digits[0] / 15.0f, digits[1] / 15.0f, digits[2] / 15.0f, 1.0f};
            return true;
        }
        auto pair = [&](int i) { return static_cast<float>(digits[2 * i] * 16 + digits[2 * i + 1]) / 255.0f; };
        out = Colour{pair(0), pair(1), pair(2), hex.size() == 8 ? pair(3) : 1.0f};
        return true;
    }
    // rgb(...) and rgba(...): up to four numbers, the fourth is the alpha.
    if (startsWith(text, "rgb")) {
        size_t open = text.find('(');
        size_t close = text.rfind(')');
        if (open == std::string_view::npos || close == std::string_view::npos || close < open) return false;
        std::string_view inner = text.substr(open + 1, close - open - 1);
        float values[4] = {0, 0, 0, 1};
        size_t start = 0;
        for (int k = 0; k < 4 && start <= inner.size(); ++k) {
            size_t comma = inner.find(',', start);
            if (comma == std::string_view::npos) comma = inner.size();
            values[k] = readNumber(trim(inner.substr(start, comma - start)));
            start = comma + 1;
        }
        out = Colour{channel(values[0] / 255.0f), channel(values[1] / 255.0f), channel(values[2] / 255.0f),
                     channel(values[3])};
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Declarations

namespace {

enum class Property {
    Color,
    Background,
    BackgroundImage,
    BorderWidth,
    Border,
    BorderColor,
    BorderImage,
    Padding,
    PaddingSide,
    Margin,
    MarginSide,
    Width,
    Height,
    MinWidth,
    MinHeight,
    MaxWidth,
    MaxHeight,
    Display,
    FlexDirection,
    Justify,
    Align,
    Gap,
    Flex,
    FontFamily,
    FontSize,
    FontWeight,
    FontStyle,
    TextAlign,
    LineHeight,
    WhiteSpace,
    Overflow,
    Opacity,
    BorderRadius,
    Position,
    Left,
    Top,
    Right,
    Bottom,
    Transform,
    TextShadow,
    LetterSpacing,
    ZIndex,
    BackgroundSize,
    Glow,
    TextOutline,
    ScrollbarWidth,
    ScrollbarTrack,
    ScrollbarThumb,
};

struct PropertyName {
    Property property;
    int side;  // for the one-side padding and margin names
};

const std::unordered_map<std::string_view, PropertyName>& propertyNames() {
    static const std::unordered_map<std::string_view, PropertyName> names = {
        {"color", {Property::Color, 0}},
        {"background", {Property::Background, 0}},
        {"background-color", {Property::Background, 0}},
        {"background-image", {Property::BackgroundImage, 0}},
        {"border-width", {Property::BorderWidth, 0}},
        {"border", {Property::Border, 0}},
        {"border-color", {Property::BorderColor, 0}},
        {"border-image", {Property::BorderImage, 0}},
        {"padding", {Property::Padding, 0}},
        {"padding-top", {Property::PaddingSide, SideTop}},
        {"padding-right", {Property::PaddingSide, SideRight}},
        {"padding-bottom", {Property::PaddingSide, SideBottom}},
        {"padding-left", {Property::PaddingSide, SideLeft}},
        {"margin", {Property::Margin, 0}},
        {"margin-top", {Property::MarginSide, SideTop}},
        {"margin-right", {Property::MarginSide, SideRight}},
        {"margin-bottom", {Property::MarginSide, SideBottom}},
        {"margin-left", {Property::MarginSide, SideLeft}},
        {"width", {Property::Width, 0}},
        {"height", {Property::Height, 0}},
        {"min-width", {Property::MinWidth, 0}},
        {"min-height", {Property::MinHeight, 0}},
        {"max-width", {Property::MaxWidth, 0}},
        {"max-height", {Property::MaxHeight, 0}},
        {"display", {Property::Display, 0}},
        {"flex-direction", {Property::FlexDirection, 0}},
        {"justify-content", {Property::Justify, 0}},
        {"align-items", {Property::Align, 0}},
        {"gap", {Property::Gap, 0}},
        {"flex", {Property::Flex, 0}},
        {"flex-grow", {Property::Flex, 0}},
        {"font-family", {Property::FontFamily, 0}},
        {"font-size", {Property::FontSize, 0}},
        {"font-weight", {Property::FontWeight, 0}},
        {"font-style", {Property::FontStyle, 0}},
        {"text-align", {Property::TextAlign, 0}},
        {"line-height", {Property::LineHeight, 0}},
        {"white-space", {Property::WhiteSpace, 0}},
        {"overflow", {Property::Overflow, 0}},
        {"overflow-y", {Property::Overflow, 0}},
        {"opacity", {Property::Opacity, 0}},
        {"border-radius", {Property::BorderRadius, 0}},
        {"position", {Property::Position, 0}},
        {"left", {Property::Left, 0}},
        {"top", {Property::Top, 0}},
        {"right", {Property::Right, 0}},
        {"bottom", {Property::Bottom, 0}},
        {"transform", {Property::Transform, 0}},
        {"text-shadow", {Property::TextShadow, 0}},
        {"letter-spacing", {Property::LetterSpacing, 0}},
        {"z-index", {Property::ZIndex, 0}},
        {"background-size", {Property::BackgroundSize, 0}},
        {"glow", {Property::Glow, 0}},
        {"text-outline", {Property::TextOutline, 0}},
        {"scrollbar-width", {Property::ScrollbarWidth, 0}},
        {"scrollbar-track", {Property::ScrollbarTrack, 0}},
        {"scrollbar-thumb", {Property::ScrollbarThumb, 0}},
    };
    return names;
}

void warn(DeclarationContext& context, const std::string& message) {
    if (!context.warnings) return;
    *context.warnings += "  line " + std::to_string(context.line) + ": " + message + "\n";
}

// A box value: one word for all sides; two for (top and bottom, left and
// right); three for (top, left and right, bottom); four clockwise from top.
void readBox(std::string_view value, float sides[4]) {
    std::vector<std::string> words = splitValue(value);
    float v[4] = {0, 0, 0, 0};
    size_t count = std::min<size_t>(words.size(), 4);
    for (size_t i = 0; i < count; ++i) v[i] = readNumber(words[i]);
    switch (count) {
        case 0:
        case 1: sides[0] = sides[1] = sides[2] = sides[3] = v[0]; break;
        case 2:
            sides[SideTop] = sides[SideBottom] = v[0];
            sides[SideRight] = sides[SideLeft] = v[1];
            break;
        case 3:
            sides[SideTop] = v[0];
            sides[SideRight] = sides[SideLeft] = v[1];
            sides[SideBottom] = v[2];
            break;
        default:
            for (int i = 0; i < 4; ++i) sides[i] = v[i];
            break;
    }
}

// Words where a colour sets `colour` and every other word is a number handed
// to `number` (border, glow, text-outline, text-shadow).
template <typename OnColour, typename OnNumber>
void readColourAndNumbers(std::string_view value, OnColour onColour, OnNumber onNumber) {
    for (const std::string& word : splitValue(value)) {
        Colour colour;
        if (parseColour(word, colour)) {
            onColour(colour);
        } else {
            onNumber(readNumber(word));
        }
    }
}

void readTranslate(Style& style, std::string_view value) {
    size_t open = value.find("translate(");
    size_t start = open + 10;
    size_t close = value.find(')', start);
    std::string_view inner = value.substr(start, close == std::string_view::npos ? std::string_view::npos : close - start);
    size_t comma = inner.find(',');
    std::string_view x = trim(inner.substr(0, comma));
    std::string_view y = comma == std::string_view::npos ? std::string_view() : trim(inner.substr(comma + 1));
    style.tx = readNumber(x);
    style.txPercent = x.find('%') != std::string_view::npos;
    style.ty = readNumber(y);
    style.tyPercent = y.find('%') != std::string_view::npos;
}

}  // namespace

void applyDeclaration(Style& style, std::string_view name, std::string_view value, DeclarationContext& context) {
    value = trim(value);
    const auto& names = propertyNames();
    auto found = names.find(name);
    if (found == names.end()) {
        warn(context, unknownPropertyWarning(name));
        return;
    }
    const int side = found->second.side;
    StyleMask set = 0;
    Colour colour;
    switch (found->second.property) {
        // Colours and pictures
        case Property::Color:
            if (!parseColour(value, colour)) {
                warn(context, badColourWarning(value));
                break;
            }
            style.color = colour;
            set = bit(BitColor);
            break;
        case Property::Background:
            if (startsWith(value, "url(")) {
                style.backgroundImage = internUrl(value);
                set = bit(BitBackgroundImage);
            } else if (parseColour(value, colour)) {
                style.background = colour;
                set = bit(BitBackground);
            } else {
                warn(context, badBackgroundWarning(value));
            }
            break;
        case Property::BackgroundImage:
            // Anything without url() (`none`) takes an earlier picture away.
            style.backgroundImage = internUrl(value);
            set = bit(BitBackgroundImage);
            break;
        case Property::BackgroundSize: {
            style.backgroundWidth = style.backgroundHeight = -1;
            int numbers = 0;
            for (const std::string& word : splitValue(value)) {
                bool used = false;
                float v = readNumber(word, &used);
                if (!used) continue;
                if (numbers == 0) style.backgroundWidth = style.backgroundHeight = v;
                if (numbers == 1) style.backgroundHeight = v;
                if (++numbers == 2) break;
            }
            set = bit(BitBackgroundSize);
            break;
        }
        // Borders
        case Property::BorderWidth:
            readBox(value, style.border);
            set = bit(BitBorderWidth);
            break;
        case Property::Border:
            readColourAndNumbers(
                value,
                [&](const Colour& c) {
                    style.borderColor = c;
                    set |= bit(BitBorderColor);
                },
                [&](float v) {
                    for (float& w : style.border) w = v;
                    set |= bit(BitBorderWidth);
                });
            break;
        case Property::BorderColor:
            if (parseColour(value, colour)) {
                style.borderColor = colour;
                set = bit(BitBorderColor);
            }
            break;
        case Property::BorderImage:
            for (const std::string& word : splitValue(value)) {
                if (startsWith(word, "url(")) {
                    style.borderImage = internUrl(word);
                } else {
                    style.borderSlice = readNumber(word);
                }
            }
            set = bit(BitBorderImage) | bit(BitBorderSlice);
            break;
        case Property::BorderRadius:
            style.borderRadius = readNumber(value);
            set = bit(BitBorderRadius);
            break;
        // Box
        case Property::Padding:
            readBox(value, style.padding);
            set = bit(BitPadding);
            break;
        case Property::PaddingSide:
            style.padding[side] = readNumber(value);
            set = bit(BitPadding);
            break;
        case Property::Margin:
            readBox(value, style.margin);
            set = bit(BitMargin);
            break;
        case Property::MarginSide:
            style.margin[side] = readNumber(value);
            set = bit(BitMargin);
            break;
        case Property::Width: style.width = readLength(value), set = bit(BitWidth); break;
        case Property::Height: style.height = readLength(value), set = bit(BitHeight); break;
        case Property::MinWidth: style.minWidth = readLength(value), set = bit(BitMinWidth); break;
        case Property::MinHeight: style.minHeight = readLength(value), set = bit(BitMinHeight); break;
        case Property::MaxWidth: style.maxWidth = readLength(value), set = bit(BitMaxWidth); break;
        case Property::MaxHeight: style.maxHeight = readLength(value), set = bit(BitMaxHeight); break;
        // Layout
        case Property::Display:
            style.display = value == "flex" ? DisplayFlex : value == "none" ? DisplayNone : DisplayBlock;
            set = bit(BitDisplay);
            break;
        case Property::FlexDirection:
            style.direction = value == "row" ? DirectionRow : DirectionColumn;
            set = bit(BitFlexDirection);
            break;
        case Property::Justify:
            style.justify = value == "center"                        ? JustifyCenter
                            : value == "flex-end" || value == "end" ? JustifyEnd
                            : value == "space-between"              ? JustifySpaceBetween
                                                                    : JustifyStart;
            set = bit(BitJustify);
            break;
        case Property::Align:
            style.align = value == "center"                            ? AlignCenter
                          : value == "flex-end" || value == "end"     ? AlignEnd
                          : value == "flex-start" || value == "start" ? AlignStart
                                                                      : AlignStretch;
            set = bit(BitAlign);
            break;
        case Property::Gap: style.gap = readNumber(value), set = bit(BitGap); break;
        case Property::Flex: style.grow = readNumber(value), set = bit(BitFlexGrow); break;
        case Property::Overflow:
            style.overflow = value == "hidden"                      ? OverflowHidden
                             : value == "auto" || value == "scroll" ? OverflowScroll
                                                                    : OverflowVisible;
            set = bit(BitOverflow);
            break;
        case Property::Position:
            style.position = value == "absolute" || value == "fixed" ? PositionAbsolute : PositionStatic;
            set = bit(BitPosition);
            break;
        case Property::Left: style.left = readLength(value), set = bit(BitLeft); break;
        case Property::Top: style.top = readLength(value), set = bit(BitTop); break;
        case Property::Right: style.right = readLength(value), set = bit(BitRight); break;
        case Property::Bottom: style.bottom = readLength(value), set = bit(BitBottom); break;
        case Property::Transform:
            if (value.find("translate(") == std::string_view::npos) {
                warn(context, kOnlyTranslate);
                break;
            }
            readTranslate(style, value);
            set = bit(BitTransform);
            break;
        case Property::ZIndex:
            style.zIndex = toInt(readNumber(value), -1000000000, 1000000000);
            set = bit(BitZIndex);
            break;
        // Text
        case Property::FontFamily:
            style.fontFamily = registerFamily(std::string(value));
            set = bit(BitFontFamily);
            break;
        case Property::FontSize: style.fontSize = readNumber(value), set = bit(BitFontSize); break;
        case Property::FontWeight: {
            float weight = readNumber(value);
            // Weights above 1000 mean nothing to the font system.
            style.fontWeight = value == "bold"     ? 700
                               : value == "normal" ? 400
                               : weight > 0        ? toInt(weight, 1, 1000)
                                                   : 400;
            set = bit(BitFontWeight);
            break;
        }
        case Property::FontStyle:
            style.italic = value == "italic" || value == "oblique";
            set = bit(BitFontStyle);
            break;
        case Property::TextAlign:
            style.textAlign = value == "center" ? TextCenter : value == "right" ? TextRight : TextLeft;
            set = bit(BitTextAlign);
            break;
        case Property::LineHeight: {
            float factor = readNumber(value);
            style.lineHeight = factor > 0 ? factor : 1.25f;
            set = bit(BitLineHeight);
            break;
        }
        case Property::WhiteSpace:
            style.nowrap = value == "nowrap";
            set = bit(BitWhiteSpace);
            break;
        case Property::LetterSpacing: style.letterSpacing = readNumber(value), set = bit(BitLetterSpacing); break;
        case Property::TextShadow: {
            // The first two numbers are the offset; a missing one is 1.
            style.shadowDx = style.shadowDy = 1;
            int numbers = 0;
            readColourAndNumbers(
                value, [&](const Colour& c) { style.shadowColour = c; },
                [&](float v) {
                    if (numbers == 0) style.shadowDx = v;
                    if (numbers == 1) style.shadowDy = v;
                    ++numbers;
                });
            set = bit(BitTextShadow);
            break;
        }
        case Property::TextOutline:
            readColourAndNumbers(
                value, [&](const Colour& c) { style.outlineColour = c; }, [&](float v) { style.outlineWidth = v; });
            set = bit(BitTextOutline);
            break;
        // Effects
        case Property::Opacity: style.opacity = readNumber(value), set = bit(BitOpacity); break;
        case Property::Glow:
            readColourAndNumbers(
                value, [&](const Colour& c) { style.glowColour = c; }, [&](float v) { style.glowRadius = v; });
            set = bit(BitGlow);
            break;
        case Property::ScrollbarWidth: style.scrollbarWidth = readNumber(value), set = bit(BitScrollbarWidth); break;
        case Property::ScrollbarTrack:
            if (parseColour(value, colour)) style.scrollbarTrack = colour, set = bit(BitScrollbarTrack);
            break;
        case Property::ScrollbarThumb:
            if (parseColour(value, colour)) style.scrollbarThumb = colour, set = bit(BitScrollbarThumb);
            break;
    }
    style.mask |= set;
}

// ---------------------------------------------------------------------------
// Selectors and specificity

namespace {

bool stateBit(std::string_view name, uint16_t& out) {
    static const struct {
        const char* name;
        uint16_t bit;
    } states[] = {{"hover", StateHover},
                  {"active", StateActive},
                  {"focus", StateFocus},
                  {"disabled", StateDisabled},
                  {"checked", StateChecked}};
    for (const auto& s : states) {
        if (name == s.name) {
            out = s.bit;
            return true;
        }
    }
    return false;
}

// One step: [element] then any of #id, .class, :state and *.
bool parseCompound(std::string_view step, CompoundSelector& out, std::string& reason) {
    size_t i = nameEnd(step, 0);
    if (i > 0) out.tag = nameHash(step.substr(0, i));
    while (i < step.size()) {
        char c = step[i];
        if (c == '*') {
            ++i;
            continue;
        }
        if (c != '#' && c != '.' && c != ':') {
            reason = unexpectedCharReason(c);
            return false;
        }
        size_t end = nameEnd(step, i + 1);
        std::string_view name = step.substr(i + 1, end - i - 1);
        if (c == ':') {
            uint16_t state = 0;
            if (!stateBit(name, state)) {
                reason = unknownStateReason(name);
                return false;
            }
            out.states |= state;
        } else if (name.empty()) {
            // "#" or "." with no name would match nothing that was meant.
            reason = unexpectedCharReason(c);
            return false;
        } else if (c == '#') {
            out.id = nameHash(name);
        } else {
            out.classes.push_back(nameHash(name));
        }
        i = end;
    }
    return true;
}

int32_t specificityOf(const std::vector<CompoundSelector>& steps) {
    int64_t sum = 0;
    for (const CompoundSelector& s : steps) {
        if (s.id != 0) sum += 100;
        sum += 10 * static_cast<int64_t>(s.classes.size());
        if (s.states != 0) sum += 10;
        if (s.tag != 0) sum += 1;
    }
    return static_cast<int32_t>(std::min<int64_t>(sum, INT32_MAX));
}

// ---------------------------------------------------------------------------
// Whole stylesheets

// Skips white space and /* */ comments before a rule, counting lines.
size_t skipSpaceAndComments(const std::string& text, size_t pos, int& line) {
    const size_t n = text.size();
    for (;;) {
        while (pos < n && isAsciiSpace(text[pos])) {
            if (text[pos] == '\n') ++line;
            ++pos;
        }
        if (pos + 1 < n && text[pos] == '/' && text[pos + 1] == '*') {
            size_t end = text.find("*/", pos + 2);
            size_t stop = end == std::string::npos ? n : end + 2;
            line += countNewlines(std::string_view(text).substr(pos, stop - pos));
            pos = stop;
            continue;
        }
        return pos;
    }
}

// Fills `style` from a rule body, cut at every ';'.
void readBody(std::string_view body, Style& style, int& line, std::string& warnings) {
    DeclarationContext context{line, &warnings};
    size_t start = 0;
    while (start <= body.size()) {
        size_t semi = body.find(';', start);
        if (semi == std::string_view::npos) semi = body.size();
        std::string_view piece = body.substr(start, semi - start);
        context.line += countNewlines(piece);
        size_t colon = piece.find(':');
        if (colon != std::string_view::npos) {
            std::string_view name = trim(piece.substr(0, colon));
            if (!name.empty()) applyDeclaration(style, name, trim(piece.substr(colon + 1)), context);
        } else if (std::any_of(piece.begin(), piece.end(), [](char c) { return !isAsciiSpace(c); })) {
            warn(context, notDeclarationWarning(piece));
        }
        start = semi + 1;
    }
    line = context.line;
}

}  // namespace

bool parseStylesheet(const std::string& text, Stylesheet& out, std::string& error) {
    out.rules.clear();
    out.warnings.clear();
    error.clear();
    const std::string_view all(text);
    size_t pos = 0;
    int line = 1;
    uint32_t order = 0;
    bool capped = false;

    while (!capped) {
        // The selector text runs to the next '{', the body to the next '}'.
        pos = skipSpaceAndComments(text, pos, line);
        if (pos >= text.size()) break;
        size_t open = text.find('{', pos);
        if (open == std::string::npos) {
            out.warnings += kNoOpeningBrace;
            break;
        }
        size_t close = text.find('}', open + 1);
        if (close == std::string::npos) {
            out.warnings += kNoClosingBrace;
            break;
        }
        std::string_view selectorText = all.substr(pos, open - pos);
        line += countNewlines(selectorText);

        // One Style for the body, shared by every selector of the rule.
        Style style;
        readBody(all.substr(open + 1, close - open - 1), style, line, out.warnings);
        pos = close + 1;

        // One rule per comma-separated selector; a failed piece still uses
        // up its order number.
        size_t start = 0;
        while (start <= selectorText.size()) {
            size_t comma = selectorText.find(',', start);
            if (comma == std::string_view::npos) comma = selectorText.size();
            std::vector<std::string> steps = splitValue(selectorText.substr(start, comma - start));
            start = comma + 1;
            if (steps.empty()) continue;
            uint32_t number = order++;
            Rule rule;
            bool ok = true;
            for (const std::string& step : steps) {
                CompoundSelector compound;
                std::string reason;
                if (!parseCompound(step, compound, reason)) {
                    out.warnings += badSelectorWarning(step, reason);
                    ok = false;
                    break;
                }
                rule.selector.push_back(std::move(compound));
            }
            if (!ok) continue;
            if (out.rules.size() >= kMaxRules) {
                out.warnings += kTooManyRules;
                capped = true;
                break;
            }
            rule.specificity = specificityOf(rule.selector);
            rule.order = number;
            rule.style = style;
            out.rules.push_back(std::move(rule));
        }
    }

    // Later entries win in style resolution: sort by (specificity, order).
    // Order numbers are unique, so this is the stable order.
    std::sort(out.rules.begin(), out.rules.end(), [](const Rule& a, const Rule& b) {
        return a.specificity != b.specificity ? a.specificity < b.specificity : a.order < b.order;
    });
    if (out.rules.empty()) {
        error = kNoUsableRules;
        return false;
    }
    return true;
}

}  // namespace kiln
