// KilnUI styles: the Style record a stylesheet rule produces, selectors,
// rules and the stylesheet dialect's entry points.
//
// The dialect is small: flat rules, lengths in pixels, one colour model,
// keywords compared exactly. Names (elements, ids, classes) are compared only
// as 32-bit FNV-1a hashes (nameHash), on both the selector and element side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kiln {

// FNV-1a over the bytes; 0 becomes 1 so that 0 can mean "none".
uint32_t nameHash(const void* data, size_t length);
inline uint32_t nameHash(std::string_view text) { return nameHash(text.data(), text.size()); }

// The name grammar shared by element specs ("div.btn#play") and selectors,
// which must agree for a rule to match: ASCII letters, digits, '-' and '_'.
inline bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}
// The end of the name that starts at `i` (`i` itself when there is none).
inline size_t nameEnd(std::string_view text, size_t i) {
    while (i < text.size() && isNameChar(text[i])) ++i;
    return i;
}

// Red, green, blue, alpha, each 0..1, not premultiplied.
struct Colour {
    float r = 0, g = 0, b = 0, a = 0;
};

// The system's colours, by the CSS system colour keywords that name them
// (Canvas, CanvasText, LinkText, ButtonFace, ButtonText, ButtonBorder,
// Field, FieldText, Highlight, HighlightText, GrayText, AccentColor,
// AccentColorText). The toolkit is handed them; the default is the usual
// white high-contrast theme.
struct SystemColours {
    Colour canvas{1, 1, 1, 1};
    Colour canvasText{0, 0, 0, 1};
    Colour linkText{0, 0, 0x9F / 255.0f, 1};
    Colour buttonFace{1, 1, 1, 1};
    Colour buttonText{0, 0, 0, 1};
    Colour buttonBorder{0, 0, 0, 1};
    Colour field{1, 1, 1, 1};
    Colour fieldText{0, 0, 0, 1};
    Colour highlight{0x37 / 255.0f, 0, 0x6E / 255.0f, 1};
    Colour highlightText{1, 1, 1, 1};
    Colour grayText{0x60 / 255.0f, 0, 0, 1};
    Colour accentColor{0x37 / 255.0f, 0, 0x6E / 255.0f, 1};
    Colour accentColorText{1, 1, 1, 1};
};
// The palettes of the usual black and white high-contrast themes.
SystemColours blackSystemColours();
SystemColours whiteSystemColours();
inline bool sameColour(const Colour& a, const Colour& b) {
    return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a;
}
// Whether two palettes give every keyword the same colour.
bool samePalette(const SystemColours& a, const SystemColours& b);

enum LengthUnit : uint8_t { LengthAuto = 0, LengthPx = 1, LengthPercent = 2 };
struct Length {
    float value = 0;
    uint8_t unit = LengthAuto;
    bool isAuto() const { return unit == LengthAuto; }
};

// One bit per property group; a bit covers every field it names (all four
// sides of padding, margin and border widths).
using StyleMask = uint64_t;
enum StyleBit : int {
    BitColor = 0,
    BitBackground = 1,
    BitBackgroundImage = 2,
    BitBorderWidth = 3,
    BitBorderColor = 4,
    BitBorderImage = 5,
    BitPadding = 6,
    BitMargin = 7,
    BitWidth = 8,
    BitHeight = 9,
    BitMinWidth = 10,
    BitMinHeight = 11,
    BitMaxWidth = 12,
    BitMaxHeight = 13,
    BitDisplay = 14,
    BitFlexDirection = 15,
    BitJustify = 16,
    BitAlign = 17,
    BitGap = 18,
    BitFlexGrow = 19,
    BitFontFamily = 20,
    BitFontSize = 21,
    BitFontWeight = 22,
    BitFontStyle = 23,
    BitTextAlign = 24,
    BitLineHeight = 25,
    BitWhiteSpace = 26,
    BitOverflow = 27,
    BitOpacity = 28,
    BitBorderRadius = 29,
    BitPosition = 30,
    BitLeft = 31,
    BitTop = 32,
    BitRight = 33,
    BitBottom = 34,
    BitTransform = 35,
    BitTextShadow = 36,
    BitLetterSpacing = 37,
    BitZIndex = 38,
    BitBorderSlice = 39,
    BitBackgroundSize = 40,
    BitGlow = 41,
    BitTextOutline = 42,
    BitScrollbarWidth = 43,
    BitScrollbarTrack = 44,
    BitScrollbarThumb = 45,
    BitFocusRing = 46,
    StyleBitCount = 47
};
constexpr StyleMask bit(StyleBit b) { return StyleMask(1) << b; }

enum Display : uint8_t { DisplayBlock = 0, DisplayFlex = 1, DisplayNone = 2 };
enum Direction : uint8_t { DirectionColumn = 0, DirectionRow = 1 };
enum Justify : uint8_t { JustifyStart = 0, JustifyCenter = 1, JustifyEnd = 2, JustifySpaceBetween = 3 };
enum Align : uint8_t { AlignStart = 0, AlignCenter = 1, AlignEnd = 2, AlignStretch = 3 };
enum TextAlign : uint8_t { TextLeft = 0, TextCenter = 1, TextRight = 2 };
enum Overflow : uint8_t { OverflowVisible = 0, OverflowHidden = 1, OverflowScroll = 2 };
enum Position : uint8_t { PositionStatic = 0, PositionAbsolute = 1 };
enum Side : int { SideTop = 0, SideRight = 1, SideBottom = 2, SideLeft = 3 };

// Every property with its built-in default; `mask` says which groups some
// rule (or the inline style) set.
struct Style {
    // Colours and pictures
    Colour color{0.91f, 0.875f, 0.784f, 1.0f};
    Colour background{};
    int32_t backgroundImage = -1;
    float backgroundWidth = -1, backgroundHeight = -1;
    // Box
    float border[4] = {0, 0, 0, 0};  // top, right, bottom, left
    Colour borderColor{};
    int32_t borderImage = -1;
    float borderSlice = 0;
    float padding[4] = {0, 0, 0, 0};
    float margin[4] = {0, 0, 0, 0};
    float borderRadius = 0;
    Length width, height, minWidth, minHeight, maxWidth, maxHeight;
    // Layout
    uint8_t display = DisplayBlock;
    uint8_t direction = DirectionColumn;
    uint8_t justify = JustifyStart;
    uint8_t align = AlignStretch;
    uint8_t overflow = OverflowVisible;
    uint8_t position = PositionStatic;
    float gap = 0;
    float grow = 0;
    Length left, top, right, bottom;
    float tx = 0, ty = 0;
    bool txPercent = false, tyPercent = false;
    int32_t zIndex = 0;
    // Text
    int32_t fontFamily = 0;
    float fontSize = 18;
    int32_t fontWeight = 400;
    bool italic = false;
    uint8_t textAlign = TextLeft;
    bool nowrap = false;
    float lineHeight = 1.25f;
    float letterSpacing = 0;
    Colour shadowColour{};
    float shadowDx = 1, shadowDy = 1;
    Colour outlineColour{};
    float outlineWidth = 0;
    // Effects
    float opacity = 1;
    Colour glowColour{};
    float glowRadius = 0;
    float scrollbarWidth = 9;
    Colour scrollbarTrack{0.0f, 0.0f, 0.0f, 0.3f};
    Colour scrollbarThumb{0.78f, 0.66f, 0.42f, 0.75f};
    // The keyboard focus ring ("focus-ring: <width> <gap> <ring colour>
    // [<gap colour>]"): a ring of `ringWidth` drawn `ringGap` outside the
    // border box, the gap between filled with the gap colour (a dark band
    // keeps the ring visible on a light background too); a gap of -width
    // draws it just inside the box.
    Colour ringColour{};
    Colour ringGapColour{};
    float ringWidth = 0, ringGap = 0;

    StyleMask mask = 0;
};

// Copies the fields of every group in `bits` from `from` to `to` and adds
// the bits to `to.mask`.
void applyStyleBits(Style& to, const Style& from, StyleMask bits);

enum StateBits : uint16_t {
    StateHover = 1,
    StateActive = 2,
    StateFocus = 4,
    StateDisabled = 8,
    StateChecked = 16
};

struct CompoundSelector {
    uint32_t tag = 0;  // 0: any element
    uint32_t id = 0;   // 0: none
    std::vector<uint32_t> classes;
    uint16_t states = 0;
};

// The cascade's layers, in the order they apply: the usual rules, then the
// rules of `@media (forced-colors: active) { ... }`, which apply only while
// the toolkit's forced-colours mode is on (setForcedColours) and then win
// over every usual rule and the inline style, whatever their specificity.
enum RuleLayer : uint8_t { LayerUsual = 0, LayerForcedColours = 1 };

struct Rule {
    std::vector<CompoundSelector> selector;  // outermost ancestor first
    uint8_t layer = LayerUsual;
    int32_t specificity = 0;
    uint32_t order = 0;
    Style style;
};

struct Stylesheet {
    std::vector<Rule> rules;  // sorted by (layer, specificity, order)
    std::string warnings;     // one line per problem
};

// Where declaration warnings go, with the current line number.
// System colour keywords read as `colours` (null: SystemColours{}).
struct DeclarationContext {
    int line = 1;
    std::string* warnings = nullptr;
    const SystemColours* colours = nullptr;
};

// Replaces out's rules and warnings; false with "the stylesheet has no usable
// rules" when no rule survived. At most 10000 rules are kept (a warning says
// so); a hand-written stylesheet has a few hundred.
// System colour keywords are read as `colours`.
bool parseStylesheet(const std::string& text, Stylesheet& out, std::string& error,
                     const SystemColours& colours = SystemColours{});
// One declaration: sets its fields and bit(s) in `style`, or appends a
// warning line to the context. Numbers are read from the start of a word
// (units ignored); a word that is not a finite number reads as 0.
void applyDeclaration(Style& style, std::string_view name, std::string_view value, DeclarationContext& context);
// transparent, none, white, black, #rgb, #rrggbb, #rrggbbaa, rgb(...) and
// rgba(...) (channels /255, alpha as written, each kept within 0..1), and
// the system colour keywords (in any case) as `colours`.
bool parseColour(std::string_view text, Colour& out, const SystemColours& colours = SystemColours{});
// Words cut at white space outside parentheses.
std::vector<std::string> splitValue(std::string_view text);
// Removes comments and multiplies the lengths of the size properties by
// `scale` (unchanged text when |scale - 1| < 0.001 or the scale is not a
// positive number).
std::string scaleStylesheet(const std::string& text, float scale);

// Reads, parses and (on success) makes current the stylesheet at `path`
// (relative paths are taken from the resource folder); `status` says what
// happened. The path and the colours are remembered for reloadStylesheet().
// Files above 4 MiB are refused.
bool loadStylesheet(const std::string& path, std::string& status, const SystemColours& colours = SystemColours{});
// Repeats loadStylesheet on the remembered path ("there is no stylesheet to
// reload" before the first load).
bool reloadStylesheet(std::string& status);
const Stylesheet& currentStylesheet();
const std::string& lastStylesheetStatus();
// Forgets the current rules, the remembered path and the status (shutdown,
// tests).
void resetStylesheet();

}  // namespace kiln
