// KilnUI text: font instances and fallback, the glyph atlas
// and the layout of a text into lines.
//
// Sections:
//   - Font instances (fontFor): family lists, fallback, instance reuse
//   - Glyphs and the atlas (glyphFor, glyphAtlas)
//   - Text layout (layoutText, lineHeight)
#include "ui/kiln/text.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/text.h"
#include "ui/kiln/registry.h"

namespace kiln {

using ember::launcher::mixWord;

namespace {

// Used when a style names a family index the registry does not know.
const char* const kFallbackFamily = "Georgia, Constantia, Times New Roman";
// Used when a family list has no names at all.
const char* const kLastResortFace = "Georgia";

constexpr int kMinFontSize = 6;
constexpr int kMaxFontSize = 96;
// GDI weights run from 1 to 1000.
constexpr int32_t kMinWeight = 1;
constexpr int32_t kMaxWeight = 1000;
constexpr int kAtlasStart = 8;  // packing starts here, clear of the fill block

// One cached layout: everything layoutText's result depends on (the
// glyphs' advances follow from the font, which lives until resetText).
struct LayoutEntry {
    bool used = false;  // false: an empty slot
    uint64_t hash = 0;  // of the whole key
    std::string text;
    Font* font = nullptr;
    uint32_t spacingBits = 0, wrapBits = 0;  // wrapBits 0: no wrapping
    std::vector<TextLine> lines;
};

// The cache's bounds: slots (pairs of them form a set that a key's hash
// picks), and the longest text worth keeping.
constexpr size_t kLayoutCacheSlots = 4096;
constexpr size_t kLayoutCacheLongest = 4096;

struct TextState {
    FontProvider* provider = nullptr;
    // Instances live for the life of the process (or until reset), so a Font*
    // handed out stays valid; the map finds them by their packed key.
    std::vector<std::unique_ptr<Font>> fonts;
    std::unordered_map<uint64_t, Font*> byKey;
    std::unique_ptr<GlyphAtlas> atlas;
    // Laid-out texts, kLayoutCacheSlots once used; in each pair of slots the
    // first holds the one used last
    std::vector<LayoutEntry> layouts;
    std::vector<TextLine> uncached;  // lines of a text too long to keep
};

TextState& state() {
    static TextState instance;
    return instance;
}

// ---------------------------------------------------------------------------
// Font instances

// The face names of a family list, in order of preference.
std::vector<std::string> familyNames(const std::string& family) {
    std::vector<std::string> names;
    size_t start = 0;
    while (start <= family.size()) {
        size_t comma = family.find(',', start);
        if (comma == std::string::npos) comma = family.size();
        size_t b = start, e = comma;
        auto trimmed = [](char c) { return c == ' ' || c == '\t' || c == '"' || c == '\''; };
        while (b < e && trimmed(family[b])) ++b;
        while (e > b && trimmed(family[e - 1])) --e;
        if (e > b) names.emplace_back(family, b, e - b);
        start = comma + 1;
    }
    if (names.empty()) names.emplace_back(kLastResortFace);
    return names;
}

uint64_t fontKey(int32_t family, int size, int32_t weight, bool italic) {
    return (static_cast<uint64_t>(static_cast<uint32_t>(family)) << 32) | (static_cast<uint64_t>(size) << 16) |
           (static_cast<uint64_t>(weight) << 1) | (italic ? 1u : 0u);
}

// Opens the first name the platform really has; otherwise keeps its
// substitute for the first name that opened at all.
void openFace(Font& font, const std::string& family) {
    FontProvider* provider = state().provider;
    if (!provider) return;
    std::unique_ptr<FontFace> fallback;
    for (const std::string& name : familyNames(family)) {
        std::unique_ptr<FontFace> face = provider->open(name, font.size, font.weight, font.italic);
        if (!face) continue;  // a face that cannot be created is skipped
        if (ember::launcher::equalsIgnoreCase(face->faceName(), name)) {
            font.face = std::move(face);
            return;
        }
        if (!fallback) fallback = std::move(face);
    }
    font.face = std::move(fallback);
}

}  // namespace

void setFontProvider(FontProvider* provider) {
    resetText();
    state().provider = provider;
}

Font* fontFor(int32_t family, float size, int32_t weight, bool italic) {
    TextState& s = state();
    // An unknown family index shares one instance set under the key -1.
    bool known = family >= 0 && family < familyCount();
    int32_t keyFamily = known ? family : -1;
    // Clamp before rounding; NaN ends up at the smallest size.
    float clamped = size >= kMinFontSize ? std::min(size, static_cast<float>(kMaxFontSize)) : kMinFontSize;
    int pixels = static_cast<int>(std::lround(clamped));
    weight = std::clamp(weight, kMinWeight, kMaxWeight);

    uint64_t key = fontKey(keyFamily, pixels, weight, italic);
    auto found = s.byKey.find(key);
    if (found != s.byKey.end()) return found->second;

    auto font = std::make_unique<Font>();
    font->family = keyFamily;
    font->size = pixels;
    font->weight = weight;
    font->italic = italic;
    openFace(*font, known ? familyText(family) : std::string(kFallbackFamily));
    if (font->face) {
        font->faceName = font->face->faceName();
        font->ascent = font->face->ascent();
        font->descent = font->face->descent();
    }
    Font* out = font.get();
    s.fonts.push_back(std::move(font));
    s.byKey.emplace(key, out);
    return out;
}

// ---------------------------------------------------------------------------
// Glyphs and the atlas

namespace {

void initAtlas(GlyphAtlas& atlas) {
    atlas.pixels.assign(static_cast<size_t>(GlyphAtlas::kSize) * GlyphAtlas::kSize, 0);
    // The 2 x 2 block of full coverage that plain fills sample.
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) atlas.pixels[static_cast<size_t>(y) * GlyphAtlas::kSize + x] = 255;
    atlas.cursorX = kAtlasStart;
    atlas.cursorY = kAtlasStart;
    atlas.rowHeight = 0;
    atlas.full = false;
    atlas.dirtyTop = 0;
    atlas.dirtyBottom = 2;
}

void markDirty(GlyphAtlas& atlas, int top, int bottom) {
    if (!atlas.dirty()) {
        atlas.dirtyTop = top;
        atlas.dirtyBottom = bottom;
        return;
    }
    atlas.dirtyTop = std::min(atlas.dirtyTop, top);
    atlas.dirtyBottom = std::max(atlas.dirtyBottom, bottom);
}

// Finds room for a w x h bitmap: the rest of the current row, else a new row
// below the row's tallest glyph. False when neither has room.
bool reserve(GlyphAtlas& atlas, int w, int h, int& x, int& y) {
    const int size = GlyphAtlas::kSize;
    if (atlas.cursorX + w > size || atlas.cursorY + h > size) {
        int nextRow = atlas.cursorY + atlas.rowHeight + 1;
        if (kAtlasStart + w > size || nextRow + h > size) return false;
        atlas.cursorX = kAtlasStart;
        atlas.cursorY = nextRow;
        atlas.rowHeight = 0;
    }
    x = atlas.cursorX;
    y = atlas.cursorY;
    atlas.cursorX += w + 1;
    atlas.rowHeight = std::max(atlas.rowHeight, h);
    return true;
}

// Copies a rendered bitmap into the atlas and records where it went.
void packGlyph(const GlyphImage& image, Glyph& glyph) {
    GlyphAtlas& atlas = glyphAtlas();
    int w = image.width, h = image.height;
    // Blank glyphs (the space) take no room.
    if (w <= 0 || h <= 0 || image.coverage.size() < static_cast<size_t>(w) * static_cast<size_t>(h)) return;
    // A bitmap bigger than the whole atlas can never fit; it must not mark
    // the atlas full for the glyphs that still would.
    if (w > GlyphAtlas::kSize - kAtlasStart || h > GlyphAtlas::kSize - kAtlasStart) return;
    if (atlas.full) return;
    int x = 0, y = 0;
    if (!reserve(atlas, w, h, x, y)) {
        atlas.full = true;
        return;
    }
    for (int row = 0; row < h; ++row) {
        std::memcpy(&atlas.pixels[static_cast<size_t>(y + row) * GlyphAtlas::kSize + static_cast<size_t>(x)],
                    &image.coverage[static_cast<size_t>(row) * static_cast<size_t>(w)], static_cast<size_t>(w));
    }
    glyph.atlasX = x;
    glyph.atlasY = y;
    glyph.width = w;
    glyph.height = h;
    markDirty(atlas, y, y + h);
}

Glyph makeGlyph(Font* font, uint32_t codepoint) {
    Glyph glyph;
    if (!font->face) return glyph;  // a font with no face measures 0
    GlyphImage image;
    if (!font->face->glyph(codepoint, image)) return glyph;
    glyph.exists = true;
    glyph.advance = std::isfinite(image.advance) ? image.advance : 0;
    glyph.offsetX = image.offsetX;
    glyph.offsetY = image.offsetY;
    packGlyph(image, glyph);
    return glyph;
}

}  // namespace

GlyphAtlas& glyphAtlas() {
    TextState& s = state();
    if (!s.atlas) {
        s.atlas = std::make_unique<GlyphAtlas>();
        initAtlas(*s.atlas);
    }
    return *s.atlas;
}

const Glyph& glyphFor(Font* font, uint32_t codepoint) {
    static const Glyph none;
    if (!font) return none;
    if (codepoint < 256) {
        if (!font->lowKnown[codepoint]) {
            font->low[codepoint] = makeGlyph(font, codepoint);
            font->lowKnown[codepoint] = true;
        }
        return font->low[codepoint];
    }
    auto found = font->glyphs.find(codepoint);
    if (found != font->glyphs.end()) return found->second;
    return font->glyphs.emplace(codepoint, makeGlyph(font, codepoint)).first->second;
}

void resetText() {
    TextState& s = state();
    // Cached layouts name fonts by address: they go first.
    s.layouts.clear();
    s.byKey.clear();
    s.fonts.clear();
    if (s.atlas) {
        initAtlas(*s.atlas);
        // Everything the renderer holds is stale now.
        s.atlas->dirtyBottom = GlyphAtlas::kSize;
    }
}

// ---------------------------------------------------------------------------
// Text layout

float lineHeight(const Font* font, float factor) {
    if (!font) return 0;
    float height = font->ascent + font->descent;
    if (height <= 0) height = static_cast<float>(font->size);
    return height * factor;
}

void layoutText(std::string_view text, Font* font, float letterSpacing, bool nowrap, float wrapWidth,
                std::vector<TextLine>& lines) {
    lines.clear();
    const bool wrap = !nowrap && wrapWidth > 0;
    const size_t n = text.size();

    // The line being built: where it starts, its width, whether it holds a
    // character yet, and its last space (after the start) with the width
    // before that space.
    size_t lineStart = 0;
    float width = 0;
    bool hasChar = false;
    size_t lastSpace = 0;
    bool haveSpace = false;
    float widthBeforeSpace = 0;

    auto endLine = [&](size_t end, float w, size_t next) {
        lines.push_back(TextLine{static_cast<uint32_t>(lineStart), static_cast<uint32_t>(end), w});
        lineStart = next;
        width = 0;
        hasChar = false;
        haveSpace = false;
    };

    size_t i = 0;
    while (i < n) {
        const size_t at = i;
        uint32_t cp;
        // ASCII needs no decoding.
        if (static_cast<uint8_t>(text[i]) < 0x80) {
            cp = static_cast<uint8_t>(text[i]);
            ++i;
        } else {
            cp = decodeUtf8(text, i);
        }
        // A line feed ends the line and belongs to neither line.
        if (cp == '\n') {
            endLine(at, width, i);
            continue;
        }
        const Glyph& glyph = glyphFor(font, cp);
        float advance = glyph.exists ? glyph.advance + letterSpacing : 0;

        if (wrap && hasChar && width + advance > wrapWidth) {
            if (cp == ' ') {
                // The space that overflows is itself the break: the word
                // before it ends the line exactly at the wrap width.
                endLine(at, width, i);
                continue;
            }
            if (haveSpace) {
                // Break at the last space; layout resumes after it.
                i = lastSpace + 1;
                endLine(lastSpace, widthBeforeSpace, i);
                continue;
            }
            // A word longer than the line is cut before this character.
            endLine(at, width, at);
        }
        if (cp == ' ' && at > lineStart) {
            lastSpace = at;
            haveSpace = true;
            widthBeforeSpace = width;
        }
        width += advance;
        hasChar = true;
    }
    // The last line always exists, even when empty.
    lines.push_back(TextLine{static_cast<uint32_t>(lineStart), static_cast<uint32_t>(n), width});
}

namespace {

// The text's bytes eight at a time (the cache looks one text up per text
// element and frame, so a byte-wise hash would cost as much as the layout).
uint64_t textKeyHash(std::string_view text) {
    uint64_t h = mixWord(0xCBF29CE484222325ull, text.size());
    size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        h = mixWord(h, word);
    }
    if (i < text.size()) {
        uint64_t word = 0;
        for (size_t k = i; k < text.size(); ++k) word = (word << 8) | static_cast<uint8_t>(text[k]);
        h = mixWord(h, word);
    }
    return h;
}

}  // namespace

const std::vector<TextLine>& layoutTextCached(std::string_view text, Font* font, float letterSpacing, bool nowrap,
                                              float wrapWidth) {
    TextState& s = state();
    if (text.size() > kLayoutCacheLongest) {
        layoutText(text, font, letterSpacing, nowrap, wrapWidth, s.uncached);
        return s.uncached;
    }
    // The key: every width that does not wrap is one key
    const bool wrap = !nowrap && wrapWidth > 0;
    const uint32_t spacingBits = ember::launcher::floatBits(letterSpacing);
    const uint32_t wrapBits = wrap ? ember::launcher::floatBits(wrapWidth) : 0;
    uint64_t h = textKeyHash(text);
    for (uint64_t v : {uint64_t(reinterpret_cast<uintptr_t>(font)), uint64_t(spacingBits), uint64_t(wrapBits)}) {
        h = mixWord(h, v);
    }

    // A hit in the key's pair of slots gives the kept lines (and makes
    // its slot the first of the pair)
    if (s.layouts.empty()) s.layouts.resize(kLayoutCacheSlots);
    LayoutEntry* set = &s.layouts[(h % (kLayoutCacheSlots / 2)) * 2];
    auto same = [&](const LayoutEntry& e) {
        return e.used && e.hash == h && e.font == font && e.spacingBits == spacingBits && e.wrapBits == wrapBits &&
               e.text == text;
    };
    if (same(set[0])) return set[0].lines;
    if (same(set[1])) {
        std::swap(set[0], set[1]);
        return set[0].lines;
    }

    // A miss lays the text out into the pair's first slot; the one used
    // longest ago goes.
    std::swap(set[0], set[1]);
    LayoutEntry& e = set[0];
    e.used = true;
    e.hash = h;
    e.text.assign(text.data(), text.size());
    e.font = font;
    e.spacingBits = spacingBits;
    e.wrapBits = wrapBits;
    layoutText(text, font, letterSpacing, nowrap, wrapWidth, e.lines);
    return e.lines;
}

}  // namespace kiln
