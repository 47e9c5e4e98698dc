// KilnUI text: font instances measured through a small face interface, the
// glyph atlas, and the layout of a text into lines.
//
// The face interface is the seam to the platform: the Windows backend
// implements it with GDI fonts; tests use a fixed-metrics face so that text
// layout is deterministic. Everything in this header is portable.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/text.h"

namespace kiln {

// A glyph's bitmap as a face renders it: 8-bit coverage rows, and the
// bitmap's offset from the pen position (y down, from the top of the line's
// font height).
struct GlyphImage {
    int width = 0, height = 0;
    int offsetX = 0, offsetY = 0;
    float advance = 0;
    std::vector<uint8_t> coverage;  // width * height bytes
};

// One opened face at one pixel size, weight and style.
class FontFace {
public:
    virtual ~FontFace() = default;
    virtual float ascent() const = 0;
    virtual float descent() const = 0;
    // The face the platform actually chose (compared with the requested name).
    virtual std::string faceName() const = 0;
    // False when the face has no glyph for the code point.
    virtual bool glyph(uint32_t codepoint, GlyphImage& out) = 0;
};

// Opens faces by name; the platform's font system, or a test provider.
class FontProvider {
public:
    virtual ~FontProvider() = default;
    virtual std::unique_ptr<FontFace> open(const std::string& name, int pixelSize, int weight, bool italic) = 0;
};

// Installs the provider used by fontFor() (not owned). Fonts made by an
// earlier provider are forgotten.
void setFontProvider(FontProvider* provider);

// A glyph as the toolkit keeps it: where its bitmap sits in the atlas
// (empty for blank glyphs or when the atlas was full), its offset and advance.
struct Glyph {
    int atlasX = 0, atlasY = 0, width = 0, height = 0;
    int offsetX = 0, offsetY = 0;
    float advance = 0;
    bool exists = false;  // false: the font has no glyph; it adds nothing
};

// A font instance: family, rounded pixel size, weight, italic flag.
struct Font {
    // Key (family -1: an index the registry did not know)
    int32_t family = 0;
    int size = 0;
    int32_t weight = 400;
    bool italic = false;
    // Chosen face and its metrics
    std::unique_ptr<FontFace> face;
    std::string faceName;
    float ascent = 0, descent = 0;
    // Glyphs rasterised so far: code points below 256 in a direct table
    // (text layout looks one up per character), the rest in the map.
    std::array<Glyph, 256> low{};
    std::bitset<256> lowKnown;
    std::unordered_map<uint32_t, Glyph> glyphs;
};

// The instance for these values, created on first use (size clamped to
// 6..96 and rounded, weight to 1..1000). Never null; a font whose faces all
// failed (or made with no provider) has no face and measures 0.
Font* fontFor(int32_t family, float size, int32_t weight, bool italic);
const Glyph& glyphFor(Font* font, uint32_t codepoint);

// Line height: (ascent + descent, or the font size when the font reports no
// height) times the line-height factor.
float lineHeight(const Font* font, float factor);

// One laid-out line: byte range [begin, end) of the text and its width.
struct TextLine {
    uint32_t begin = 0, end = 0;
    float width = 0;
};

// Lays `text` out into lines (cleared first; there is always at least one,
// possibly empty). No wrapping when `nowrap` or wrapWidth <= 0. Each
// character adds its advance plus letterSpacing (nothing without a glyph);
// a line feed ends a line. When a character would overflow a line that
// already holds one, the line breaks at its last space after the line's
// start (the space belongs to neither line), or at this character if it is
// a space, else before this character.
void layoutText(std::string_view text, Font* font, float letterSpacing, bool nowrap, float wrapWidth,
                std::vector<TextLine>& lines);

// layoutText through a cache kept across frames (screens lay the same texts
// out at the same widths every frame): keyed by the text's bytes, the font,
// the letter spacing and the wrap width; it holds a few thousand layouts
// (a new one replaces an old one of the same hash group) and is emptied by
// resetText(). Very long texts are laid out afresh.
// The lines are the ones layoutText gives, owned by the cache: valid until
// the next call.
const std::vector<TextLine>& layoutTextCached(std::string_view text, Font* font, float letterSpacing, bool nowrap,
                                              float wrapWidth);

// Decodes one UTF-8 character at `i` (advancing it) for display: the
// program's one decoder (base/text.h, with its policy for bad
// bytes), except that characters beyond the basic plane, which the glyph
// atlas does not hold, come back as U+FFFD (one emoji is one replacement).
inline uint32_t decodeUtf8(std::string_view text, size_t& i) {
    uint32_t cp = ember::launcher::decodeUtf8(text, i);
    return cp > 0xFFFF ? ember::launcher::kReplacementCharacter : cp;
}

// The glyph atlas: 2048 x 2048 coverage with a CPU copy; a 2 x 2 block of
// full coverage at the top-left corner serves plain fills.
struct GlyphAtlas {
    static constexpr int kSize = 2048;
    std::vector<uint8_t> pixels;  // kSize * kSize
    // Packing: the next free spot and the tallest glyph of the current row.
    int cursorX = 8, cursorY = 8, rowHeight = 0;
    // Rows [dirtyTop, dirtyBottom) changed since the last upload; empty when
    // equal. The renderer uploads them and calls markClean().
    int dirtyTop = 0, dirtyBottom = 0;
    // Set once when a glyph no longer fits; later new glyphs get no bitmap.
    bool full = false;

    bool dirty() const { return dirtyBottom > dirtyTop; }
    void markClean() { dirtyTop = dirtyBottom = 0; }
};
// The process's atlas, made on first use (cleared, with the 2 x 2 block and
// its rows marked dirty).
GlyphAtlas& glyphAtlas();

// Forgets every font instance and empties the atlas (shutdown, tests).
void resetText();

}  // namespace kiln
