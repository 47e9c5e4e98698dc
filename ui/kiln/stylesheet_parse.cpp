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
#include "ui/kiln/properties.h"
#include "ui/kiln/registry.h"
#include "ui/kiln/style.h"

namespace kiln {

using ember::launcher::equalsIgnoreCase;
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
const char* const kNoMediaBrace = "  an @media block with no '}'\n";

std::string unknownMediaWarning(std::string_view condition) {
    return "  @media " + std::string(condition) + ": only (forced-colors: active) is understood; its rules are ignored\n";
}

std::string badColourWarning(std::string_view name, std::string_view value) {
    return std::string(name) + ": " + std::string(value) + " is not a colour";
}
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

// The system colour keywords and where each lives in the palette.
constexpr struct {
    std::string_view word;
    Colour SystemColours::*colour;
} kSystemColourWords[] = {
    {"Canvas", &SystemColours::canvas},
    {"CanvasText", &SystemColours::canvasText},
    {"LinkText", &SystemColours::linkText},
    {"ButtonFace", &SystemColours::buttonFace},
    {"ButtonText", &SystemColours::buttonText},
    {"ButtonBorder", &SystemColours::buttonBorder},
    {"Field", &SystemColours::field},
    {"FieldText", &SystemColours::fieldText},
    {"Highlight", &SystemColours::highlight},
    {"HighlightText", &SystemColours::highlightText},
    {"GrayText", &SystemColours::grayText},
    {"AccentColor", &SystemColours::accentColor},
    {"AccentColorText", &SystemColours::accentColorText},
};

constexpr Colour rgb(uint32_t hex) {
    return Colour{static_cast<float>((hex >> 16) & 0xFF) / 255.0f, static_cast<float>((hex >> 8) & 0xFF) / 255.0f,
                  static_cast<float>(hex & 0xFF) / 255.0f, 1.0f};
}

}  // namespace

SystemColours blackSystemColours() {
    SystemColours c;
    c.canvas = c.buttonFace = c.field = rgb(0x000000);
    c.canvasText = c.buttonText = c.buttonBorder = c.fieldText = rgb(0xFFFFFF);
    c.linkText = rgb(0xFFFF00);
    c.highlight = c.accentColor = rgb(0x1AEBFF);
    c.highlightText = c.accentColorText = rgb(0x000000);
    c.grayText = rgb(0x3FF23F);
    return c;
}

SystemColours whiteSystemColours() { return SystemColours{}; }

bool samePalette(const SystemColours& a, const SystemColours& b) {
    for (const auto& keyword : kSystemColourWords) {
        if (!sameColour(a.*keyword.colour, b.*keyword.colour)) return false;
    }
    return true;
}

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

bool parseColour(std::string_view text, Colour& out, const SystemColours& colours) {
    text = trim(text);
    for (const auto& keyword : kSystemColourWords) {
        if (equalsIgnoreCase(text, keyword.word)) {
            out = colours.*keyword.colour;
            return true;
        }
    }
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
//
// Every property is one row of the property table: its name, the kind of
// value it takes, where in the Style the value lands, the group bit it sets
// and how scaleStylesheet treats its numbers. applyRow reads a value by its
// row's kind; the properties with a grammar of their own (shorthands, url(),
// translate(), keywords with numbers) name a reader that returns the bits it
// set.

namespace {

const SystemColours& paletteOf(const DeclarationContext& context) {
    static const SystemColours fallback;
    return context.colours != nullptr ? *context.colours : fallback;
}

bool readColour(std::string_view text, Colour& out, const DeclarationContext& context) {
    return parseColour(text, out, paletteOf(context));
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
void readColourAndNumbers(std::string_view value, const DeclarationContext& context, OnColour onColour,
                          OnNumber onNumber) {
    for (const std::string& word : splitValue(value)) {
        Colour colour;
        if (readColour(word, colour, context)) {
            onColour(colour);
        } else {
            onNumber(readNumber(word));
        }
    }
}

// ---- The readers of the properties with a grammar of their own

StyleMask readBackground(Style& style, std::string_view value, DeclarationContext& context) {
    Colour colour;
    if (startsWith(value, "url(")) {
        style.backgroundImage = internUrl(value);
        return bit(BitBackgroundImage);
    }
    if (readColour(value, colour, context)) {
        style.background = colour;
        return bit(BitBackground);
    }
    warn(context, badBackgroundWarning(value));
    return 0;
}

StyleMask readBackgroundImage(Style& style, std::string_view value, DeclarationContext&) {
    // Anything without url() (`none`) takes an earlier picture away.
    style.backgroundImage = internUrl(value);
    return bit(BitBackgroundImage);
}

StyleMask readBackgroundSize(Style& style, std::string_view value, DeclarationContext&) {
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
    return bit(BitBackgroundSize);
}

StyleMask readBorder(Style& style, std::string_view value, DeclarationContext& context) {
    StyleMask set = 0;
    readColourAndNumbers(
        value, context,
        [&](const Colour& c) {
            style.borderColor = c;
            set |= bit(BitBorderColor);
        },
        [&](float v) {
            for (float& w : style.border) w = v;
            set |= bit(BitBorderWidth);
        });
    return set;
}

StyleMask readBorderImage(Style& style, std::string_view value, DeclarationContext&) {
    for (const std::string& word : splitValue(value)) {
        if (startsWith(word, "url(")) {
            style.borderImage = internUrl(word);
        } else {
            style.borderSlice = readNumber(word);
        }
    }
    return bit(BitBorderImage) | bit(BitBorderSlice);
}

StyleMask readTransform(Style& style, std::string_view value, DeclarationContext& context) {
    size_t open = value.find("translate(");
    if (open == std::string_view::npos) {
        warn(context, kOnlyTranslate);
        return 0;
    }
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
    return bit(BitTransform);
}

StyleMask readZIndex(Style& style, std::string_view value, DeclarationContext&) {
    style.zIndex = toInt(readNumber(value), -1000000000, 1000000000);
    return bit(BitZIndex);
}

StyleMask readFontFamily(Style& style, std::string_view value, DeclarationContext&) {
    style.fontFamily = registerFamily(std::string(value));
    return bit(BitFontFamily);
}

StyleMask readFontWeight(Style& style, std::string_view value, DeclarationContext&) {
    float weight = readNumber(value);
    // Weights above 1000 mean nothing to the font system.
    style.fontWeight = value == "bold"     ? 700
                       : value == "normal" ? 400
                       : weight > 0        ? toInt(weight, 1, 1000)
                                           : 400;
    return bit(BitFontWeight);
}

StyleMask readLineHeight(Style& style, std::string_view value, DeclarationContext&) {
    float factor = readNumber(value);
    style.lineHeight = factor > 0 ? factor : 1.25f;
    return bit(BitLineHeight);
}

StyleMask readTextShadow(Style& style, std::string_view value, DeclarationContext& context) {
    // The first two numbers are the offset; a missing one is 1.
    style.shadowDx = style.shadowDy = 1;
    int numbers = 0;
    readColourAndNumbers(
        value, context, [&](const Colour& c) { style.shadowColour = c; },
        [&](float v) {
            if (numbers == 0) style.shadowDx = v;
            if (numbers == 1) style.shadowDy = v;
            ++numbers;
        });
    return bit(BitTextShadow);
}

StyleMask readTextOutline(Style& style, std::string_view value, DeclarationContext& context) {
    readColourAndNumbers(
        value, context, [&](const Colour& c) { style.outlineColour = c; }, [&](float v) { style.outlineWidth = v; });
    return bit(BitTextOutline);
}

StyleMask readGlow(Style& style, std::string_view value, DeclarationContext& context) {
    readColourAndNumbers(
        value, context, [&](const Colour& c) { style.glowColour = c; }, [&](float v) { style.glowRadius = v; });
    return bit(BitGlow);
}

// "focus-ring: 2px 2px #FFD98A #0A1628": width, gap, ring colour, gap colour.
// A gap of minus the width or less puts the ring inside the border box.
StyleMask readFocusRing(Style& style, std::string_view value, DeclarationContext& context) {
    int colours = 0, numbers = 0;
    style.ringGapColour = Colour{};
    readColourAndNumbers(
        value, context,
        [&](const Colour& c) { (colours++ == 0 ? style.ringColour : style.ringGapColour) = c; },
        [&](float v) {
            if (numbers++ == 0) {
                style.ringWidth = std::max(0.0f, v);
            } else {
                style.ringGap = v;  // below 0: the ring lies inside the box (in a list that clips)
            }
        });
    return bit(BitFocusRing);
}

// ---- The rows

enum class ValueKind : uint8_t {
    Colour,       // a colour; anything else is warned about
    QuietColour,  // a colour; anything else is ignored
    Length,       // auto, a number, a percentage
    Number,
    Box,      // one to four numbers (readBox)
    BoxSide,  // one number for one side of a box
    Keyword,  // a word of the row's list, else the row's fallback
    Flag,     // true for a word of the row's list
    Reader,   // the row's reader
};

struct Keyword {
    std::string_view word;
    uint8_t value;
};

struct PropertyRow {
    std::string_view name;
    ValueKind kind = ValueKind::Number;
    StyleMask bits = 0;  // what a read value sets (a reader says itself)
    ScaleKind scale = ScaleKind::None;
    // Where the value lands: the member for the row's kind.
    Colour Style::*colour = nullptr;
    Length Style::*length = nullptr;
    float Style::*number = nullptr;
    float (Style::*box)[4] = nullptr;
    int side = 0;
    uint8_t Style::*keyword = nullptr;
    bool Style::*flag = nullptr;
    const Keyword* words = nullptr;
    size_t wordCount = 0;
    uint8_t fallback = 0;
    StyleMask (*read)(Style&, std::string_view, DeclarationContext&) = nullptr;
};

constexpr PropertyRow colourRow(std::string_view name, Colour Style::*at, StyleBit b, ValueKind kind = ValueKind::Colour) {
    PropertyRow row{name, kind, bit(b)};
    row.colour = at;
    return row;
}
constexpr PropertyRow quietColourRow(std::string_view name, Colour Style::*at, StyleBit b) {
    return colourRow(name, at, b, ValueKind::QuietColour);
}
constexpr PropertyRow lengthRow(std::string_view name, Length Style::*at, StyleBit b, ScaleKind scale) {
    PropertyRow row{name, ValueKind::Length, bit(b), scale};
    row.length = at;
    return row;
}
constexpr PropertyRow numberRow(std::string_view name, float Style::*at, StyleBit b,
                                ScaleKind scale = ScaleKind::None) {
    PropertyRow row{name, ValueKind::Number, bit(b), scale};
    row.number = at;
    return row;
}
constexpr PropertyRow boxRow(std::string_view name, float (Style::*at)[4], StyleBit b, ScaleKind scale) {
    PropertyRow row{name, ValueKind::Box, bit(b), scale};
    row.box = at;
    return row;
}
constexpr PropertyRow boxSideRow(std::string_view name, float (Style::*at)[4], Side side, StyleBit b) {
    PropertyRow row{name, ValueKind::BoxSide, bit(b), ScaleKind::Plain};
    row.box = at;
    row.side = side;
    return row;
}
template <size_t N>
constexpr PropertyRow keywordRow(std::string_view name, uint8_t Style::*at, StyleBit b, const Keyword (&words)[N],
                                 uint8_t fallback) {
    PropertyRow row{name, ValueKind::Keyword, bit(b)};
    row.keyword = at;
    row.words = words;
    row.wordCount = N;
    row.fallback = fallback;
    return row;
}
template <size_t N>
constexpr PropertyRow flagRow(std::string_view name, bool Style::*at, StyleBit b, const Keyword (&words)[N]) {
    PropertyRow row{name, ValueKind::Flag, bit(b)};
    row.flag = at;
    row.words = words;
    row.wordCount = N;
    return row;
}
constexpr PropertyRow readerRow(std::string_view name,
                                StyleMask (*read)(Style&, std::string_view, DeclarationContext&),
                                ScaleKind scale = ScaleKind::None) {
    PropertyRow row{name, ValueKind::Reader, 0, scale};
    row.read = read;
    return row;
}

constexpr Keyword kDisplayWords[] = {{"flex", DisplayFlex}, {"none", DisplayNone}};
constexpr Keyword kDirectionWords[] = {{"row", DirectionRow}};
constexpr Keyword kJustifyWords[] = {
    {"center", JustifyCenter}, {"flex-end", JustifyEnd}, {"end", JustifyEnd}, {"space-between", JustifySpaceBetween}};
constexpr Keyword kAlignWords[] = {{"center", AlignCenter},
                                   {"flex-end", AlignEnd},
                                   {"end", AlignEnd},
                                   {"flex-start", AlignStart},
                                   {"start", AlignStart}};
constexpr Keyword kOverflowWords[] = {{"hidden", OverflowHidden}, {"auto", OverflowScroll}, {"scroll", OverflowScroll}};
constexpr Keyword kPositionWords[] = {{"absolute", PositionAbsolute}, {"fixed", PositionAbsolute}};
constexpr Keyword kTextAlignWords[] = {{"center", TextCenter}, {"right", TextRight}};
constexpr Keyword kItalicWords[] = {{"italic", 1}, {"oblique", 1}};
constexpr Keyword kNowrapWords[] = {{"nowrap", 1}};

// Scale: Plain multiplies every length, Border keeps borders whole pixels,
// Size keeps hairline sizes crisp (see stylesheet_scale.cpp).
constexpr PropertyRow kProperties[] = {
    // Colours and pictures
    colourRow("color", &Style::color, BitColor),
    readerRow("background", readBackground),
    readerRow("background-color", readBackground),
    readerRow("background-image", readBackgroundImage),
    readerRow("background-size", readBackgroundSize, ScaleKind::Plain),
    // Borders
    boxRow("border-width", &Style::border, BitBorderWidth, ScaleKind::Border),
    readerRow("border", readBorder, ScaleKind::Border),
    quietColourRow("border-color", &Style::borderColor, BitBorderColor),
    readerRow("border-image", readBorderImage),
    numberRow("border-radius", &Style::borderRadius, BitBorderRadius, ScaleKind::Plain),
    // Box
    boxRow("padding", &Style::padding, BitPadding, ScaleKind::Plain),
    boxSideRow("padding-top", &Style::padding, SideTop, BitPadding),
    boxSideRow("padding-right", &Style::padding, SideRight, BitPadding),
    boxSideRow("padding-bottom", &Style::padding, SideBottom, BitPadding),
    boxSideRow("padding-left", &Style::padding, SideLeft, BitPadding),
    boxRow("margin", &Style::margin, BitMargin, ScaleKind::Plain),
    boxSideRow("margin-top", &Style::margin, SideTop, BitMargin),
    boxSideRow("margin-right", &Style::margin, SideRight, BitMargin),
    boxSideRow("margin-bottom", &Style::margin, SideBottom, BitMargin),
    boxSideRow("margin-left", &Style::margin, SideLeft, BitMargin),
    lengthRow("width", &Style::width, BitWidth, ScaleKind::Size),
    lengthRow("height", &Style::height, BitHeight, ScaleKind::Size),
    lengthRow("min-width", &Style::minWidth, BitMinWidth, ScaleKind::Plain),
    lengthRow("min-height", &Style::minHeight, BitMinHeight, ScaleKind::Size),
    lengthRow("max-width", &Style::maxWidth, BitMaxWidth, ScaleKind::Plain),
    lengthRow("max-height", &Style::maxHeight, BitMaxHeight, ScaleKind::Size),
    // Layout
    keywordRow("display", &Style::display, BitDisplay, kDisplayWords, DisplayBlock),
    keywordRow("flex-direction", &Style::direction, BitFlexDirection, kDirectionWords, DirectionColumn),
    keywordRow("justify-content", &Style::justify, BitJustify, kJustifyWords, JustifyStart),
    keywordRow("align-items", &Style::align, BitAlign, kAlignWords, AlignStretch),
    numberRow("gap", &Style::gap, BitGap, ScaleKind::Plain),
    numberRow("flex", &Style::grow, BitFlexGrow),
    numberRow("flex-grow", &Style::grow, BitFlexGrow),
    keywordRow("overflow", &Style::overflow, BitOverflow, kOverflowWords, OverflowVisible),
    keywordRow("overflow-y", &Style::overflow, BitOverflow, kOverflowWords, OverflowVisible),
    keywordRow("position", &Style::position, BitPosition, kPositionWords, PositionStatic),
    lengthRow("left", &Style::left, BitLeft, ScaleKind::Plain),
    lengthRow("top", &Style::top, BitTop, ScaleKind::Plain),
    lengthRow("right", &Style::right, BitRight, ScaleKind::Plain),
    lengthRow("bottom", &Style::bottom, BitBottom, ScaleKind::Plain),
    readerRow("transform", readTransform, ScaleKind::Plain),
    readerRow("z-index", readZIndex),
    // Text
    readerRow("font-family", readFontFamily),
    numberRow("font-size", &Style::fontSize, BitFontSize, ScaleKind::Plain),
    readerRow("font-weight", readFontWeight),
    flagRow("font-style", &Style::italic, BitFontStyle, kItalicWords),
    keywordRow("text-align", &Style::textAlign, BitTextAlign, kTextAlignWords, TextLeft),
    readerRow("line-height", readLineHeight),
    flagRow("white-space", &Style::nowrap, BitWhiteSpace, kNowrapWords),
    numberRow("letter-spacing", &Style::letterSpacing, BitLetterSpacing, ScaleKind::Plain),
    readerRow("text-shadow", readTextShadow, ScaleKind::Plain),
    readerRow("text-outline", readTextOutline, ScaleKind::Plain),
    // Effects
    numberRow("opacity", &Style::opacity, BitOpacity),
    readerRow("glow", readGlow, ScaleKind::Plain),
    readerRow("focus-ring", readFocusRing, ScaleKind::Plain),
    numberRow("scrollbar-width", &Style::scrollbarWidth, BitScrollbarWidth, ScaleKind::Plain),
    quietColourRow("scrollbar-track", &Style::scrollbarTrack, BitScrollbarTrack),
    quietColourRow("scrollbar-thumb", &Style::scrollbarThumb, BitScrollbarThumb),
};

const PropertyRow* findProperty(std::string_view name) {
    static const std::unordered_map<std::string_view, const PropertyRow*> rows = [] {
        std::unordered_map<std::string_view, const PropertyRow*> byName;
        for (const PropertyRow& row : kProperties) byName.emplace(row.name, &row);
        return byName;
    }();
    auto found = rows.find(name);
    return found == rows.end() ? nullptr : found->second;
}

uint8_t keywordValue(const PropertyRow& row, std::string_view value) {
    for (size_t i = 0; i < row.wordCount; ++i) {
        if (value == row.words[i].word) return row.words[i].value;
    }
    return row.fallback;
}

// Reads `value` by the row's kind into the row's place; returns the bits set
// (none when the value was refused).
StyleMask applyRow(const PropertyRow& row, Style& style, std::string_view value, DeclarationContext& context) {
    switch (row.kind) {
        case ValueKind::Colour:
        case ValueKind::QuietColour: {
            Colour colour;
            if (!readColour(value, colour, context)) {
                if (row.kind == ValueKind::Colour) warn(context, badColourWarning(row.name, value));
                return 0;
            }
            style.*row.colour = colour;
            return row.bits;
        }
        case ValueKind::Length: style.*row.length = readLength(value); return row.bits;
        case ValueKind::Number: style.*row.number = readNumber(value); return row.bits;
        case ValueKind::Box: readBox(value, style.*row.box); return row.bits;
        case ValueKind::BoxSide: (style.*row.box)[row.side] = readNumber(value); return row.bits;
        case ValueKind::Keyword: style.*row.keyword = keywordValue(row, value); return row.bits;
        case ValueKind::Flag: style.*row.flag = keywordValue(row, value) != 0; return row.bits;
        case ValueKind::Reader: return row.read(style, value, context);
    }
    return 0;
}

}  // namespace

void applyDeclaration(Style& style, std::string_view name, std::string_view value, DeclarationContext& context) {
    const PropertyRow* row = findProperty(name);
    if (!row) {
        warn(context, unknownPropertyWarning(name));
        return;
    }
    style.mask |= applyRow(*row, style, trim(value), context);
}

ScaleKind scaleKindOf(std::string_view name) {
    const PropertyRow* row = findProperty(name);
    return row ? row->scale : ScaleKind::None;
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
void readBody(std::string_view body, Style& style, int& line, std::string& warnings, const SystemColours& colours) {
    DeclarationContext context{line, &warnings, &colours};
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

// The condition of an @media rule without its white space.
std::string mediaCondition(std::string_view prelude) {
    std::string condition;
    for (char c : prelude.substr(6)) {
        if (!isAsciiSpace(c)) condition += ember::launcher::asciiLower(c);
    }
    return condition;
}

// The '}' that closes the block opened at `open`, or npos.
size_t blockEnd(const std::string& text, size_t open) {
    int depth = 0;
    for (size_t i = open; i < text.size(); ++i) {
        if (text[i] == '{') ++depth;
        if (text[i] == '}' && --depth == 0) return i;
    }
    return std::string::npos;
}

}  // namespace

bool parseStylesheet(const std::string& text, Stylesheet& out, std::string& error, const SystemColours& colours) {
    out.rules.clear();
    out.warnings.clear();
    error.clear();
    const std::string_view all(text);
    size_t pos = 0;
    int line = 1;
    uint32_t order = 0;
    bool capped = false;
    uint8_t layer = LayerUsual;  // LayerForcedColours inside @media (forced-colors: active)

    while (!capped) {
        // The selector text runs to the next '{', the body to the next '}'.
        pos = skipSpaceAndComments(text, pos, line);
        if (pos >= text.size()) break;
        if (layer != LayerUsual && text[pos] == '}') {
            layer = LayerUsual;  // the end of the @media block
            ++pos;
            continue;
        }
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

        // @media (forced-colors: active) { rules }: the rules of the forced-colours
        // layer (not nested); any other condition's block is left out.
        if (layer == LayerUsual && startsWith(selectorText, "@media")) {
            if (mediaCondition(selectorText) == "(forced-colors:active)") {
                layer = LayerForcedColours;
                pos = open + 1;
                continue;
            }
            out.warnings += unknownMediaWarning(trim(selectorText.substr(6)));
            const size_t end = blockEnd(text, open);
            if (end == std::string::npos) {
                out.warnings += kNoMediaBrace;
                break;
            }
            line += countNewlines(all.substr(open, end - open));
            pos = end + 1;
            continue;
        }

        // One Style for the body, shared by every selector of the rule.
        Style style;
        readBody(all.substr(open + 1, close - open - 1), style, line, out.warnings, colours);
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
            rule.layer = layer;
            rule.specificity = specificityOf(rule.selector);
            rule.order = number;
            rule.style = style;
            out.rules.push_back(std::move(rule));
        }
    }

    // Later entries win in style resolution: sort by (layer, specificity,
    // order). Order numbers are unique, so this is the stable order.
    std::sort(out.rules.begin(), out.rules.end(), [](const Rule& a, const Rule& b) {
        if (a.layer != b.layer) return a.layer < b.layer;
        return a.specificity != b.specificity ? a.specificity < b.specificity : a.order < b.order;
    });
    if (out.rules.empty()) {
        error = kNoUsableRules;
        return false;
    }
    return true;
}

}  // namespace kiln
