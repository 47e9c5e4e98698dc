// Text: UTF-8 decoding, font instances and fallback, the glyph atlas, and
// the layout of a text into lines (with the fixed-metrics test font: every
// character with a glyph advances half the size, 10 px at size 20).
#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/decode_steps.h"
#include "tests/support/test_font.h"
#include "ui/kiln/registry.h"
#include "ui/kiln/text.h"

namespace kiln {
namespace {

class Text : public ::testing::Test {
protected:
    void SetUp() override {
        resetRegistry();
        setFontProvider(&provider);
    }
    void TearDown() override {
        setFontProvider(nullptr);
        resetRegistry();
    }
    TestFontProvider provider;
};

// ---------------------------------------------------------------------------
// Decoding

TEST(DecodeUtf8, GivesCodePointsAndReplacementCharacters) {
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<std::pair<uint32_t, size_t>> want;  // code point, bytes consumed
    } cases[] = {
        {"ascii", "A", {{0x41, 1}}},
        {"two bytes", "\xC3\xA4", {{0xE4, 2}}},
        {"three bytes", "\xE2\x82\xAC", {{0x20AC, 3}}},
        {"emoji is one replacement", "\xF0\x9F\x98\x80!", {{0xFFFD, 4}, {'!', 1}}},
        {"highest code point", "\xF4\x8F\xBF\xBF", {{0xFFFD, 4}}},
        {"stray continuation", "\x80" "A", {{0xFFFD, 1}, {'A', 1}}},
        {"cut at the end", "\xC3", {{0xFFFD, 1}}},
        {"cut by a letter", "\xE2\x82" "A", {{0xFFFD, 2}, {'A', 1}}},
        {"cut emoji", "\xF0\x9F\x98" "A", {{0xFFFD, 3}, {'A', 1}}},
        {"overlong two bytes", "\xC0\x80", {{0xFFFD, 1}, {0xFFFD, 1}}},
        {"overlong three bytes", "\xE0\x80\x80", {{0xFFFD, 1}, {0xFFFD, 1}, {0xFFFD, 1}}},
        {"surrogate", "\xED\xA0\x80", {{0xFFFD, 1}, {0xFFFD, 1}, {0xFFFD, 1}}},
        {"above U+10FFFF", "\xF4\x90\x80\x80", {{0xFFFD, 1}, {0xFFFD, 1}, {0xFFFD, 1}, {0xFFFD, 1}}},
        {"F5 and FF", "\xF5\xFF", {{0xFFFD, 1}, {0xFFFD, 1}}},
        {"last of the basic plane", "\xEF\xBF\xBF", {{0xFFFF, 3}}},
        {"nul", std::string(1, '\0'), {{0, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ember::testing::decodeSteps(c.bytes, [](std::string_view t, size_t& i) { return decodeUtf8(t, i); }),
                  c.want);
    }
}

// ---------------------------------------------------------------------------
// Font instances

TEST_F(Text, SizesAreClampedAndRounded) {
    struct Case {
        float size;
        int want;
    } cases[] = {{200, 96}, {96.4f, 96}, {3, 6}, {-1, 6}, {NAN, 6}, {17.5f, 18}, {17.49f, 17}, {INFINITY, 96}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        Font* font = fontFor(0, c.size, 400, false);
        EXPECT_EQ(font->size, c.want);
        auto* face = dynamic_cast<TestFontFace*>(font->face.get());
        ASSERT_NE(face, nullptr);
        EXPECT_EQ(face->pixelSize(), c.want);
    }
}

TEST_F(Text, InstancesAreSharedByFamilySizeWeightAndStyle) {
    Font* a = fontFor(0, 18.4f, 400, false);
    size_t opens = provider.opened.size();
    EXPECT_EQ(fontFor(0, 17.6f, 400, false), a);
    EXPECT_EQ(provider.opened.size(), opens);
    EXPECT_NE(fontFor(0, 18, 700, false), a);
    EXPECT_NE(fontFor(0, 18, 400, true), a);
    EXPECT_NE(fontFor(0, 19, 400, false), a);
    EXPECT_NE(fontFor(registerFamily("Segoe UI"), 18, 400, false), a);
    // Every unknown index shares the built-in fallback list.
    Font* unknown = fontFor(57, 18, 400, false);
    EXPECT_EQ(fontFor(-3, 18, 400, false), unknown);
    EXPECT_NE(unknown, a);
}

TEST_F(Text, FallsBackThroughTheFamilyList) {
    struct Case {
        const char* name;
        std::vector<std::string> installed;
        std::vector<std::string> broken;
        const char* family;
        const char* faceName;   // what the font uses
        const char* requested;  // which name produced it
        std::vector<std::string> opened;
    } cases[] = {
        {"second name installed", {"Constantia"}, {}, "Trajan Pro, Constantia", "Constantia", "Constantia",
         {"Trajan Pro", "Constantia"}},
        {"neither: substitute of the first", {}, {}, "Trajan Pro, Constantia", "Arial", "Trajan Pro",
         {"Trajan Pro", "Constantia"}},
        {"first face broken", {}, {"Trajan Pro"}, "Trajan Pro, Constantia", "Arial", "Constantia",
         {"Trajan Pro", "Constantia"}},
        {"names trimmed", {"Segoe UI"}, {}, " \t'Segoe UI' , \"Consolas\"", "Segoe UI", "Segoe UI", {"Segoe UI"}},
        {"case ignored", {"Georgia"}, {}, "GEORGIA, serif", "Georgia", "GEORGIA", {"GEORGIA"}},
        {"generic names are ordinary names", {"Constantia"}, {}, "serif, Constantia", "Constantia", "Constantia",
         {"serif", "Constantia"}},
        {"empty list", {"Georgia"}, {}, " , '' ,", "Georgia", "Georgia", {"Georgia"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestFontProvider fonts(c.installed);
        fonts.broken = c.broken;
        setFontProvider(&fonts);
        Font* font = fontFor(registerFamily(c.family), 20, 400, false);
        EXPECT_EQ(font->faceName, c.faceName);
        auto* face = dynamic_cast<TestFontFace*>(font->face.get());
        ASSERT_NE(face, nullptr);
        EXPECT_EQ(face->requestedName(), c.requested);
        EXPECT_EQ(fonts.opened, c.opened);
        EXPECT_FLOAT_EQ(font->ascent, 16);
        EXPECT_FLOAT_EQ(font->descent, 4);
        setFontProvider(&provider);
    }
}

TEST_F(Text, AnUnknownFamilyIndexUsesTheBuiltInList) {
    TestFontProvider fonts({"Times New Roman"});
    setFontProvider(&fonts);
    Font* font = fontFor(99, 20, 400, false);
    EXPECT_EQ(font->faceName, "Times New Roman");
    EXPECT_EQ(fonts.opened, (std::vector<std::string>{"Georgia", "Constantia", "Times New Roman"}));
}

TEST_F(Text, WithoutFacesTextMeasuresZero) {
    TestFontProvider fonts;
    fonts.broken = {"Georgia", "Constantia", "Times New Roman", "serif"};
    for (FontProvider* p : {static_cast<FontProvider*>(&fonts), static_cast<FontProvider*>(nullptr)}) {
        setFontProvider(p);
        Font* font = fontFor(0, 20, 400, false);
        ASSERT_NE(font, nullptr);
        EXPECT_EQ(font->face, nullptr);
        EXPECT_FALSE(glyphFor(font, 'A').exists);
        std::vector<TextLine> lines;
        layoutText("AAA BBB", font, 2, false, 15, lines);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].width, 0);
        // The line still has a height: the font size.
        EXPECT_FLOAT_EQ(lineHeight(font, 1.25f), 25);
    }
}

TEST_F(Text, LineHeightIsTheFontHeightTimesTheFactor) {
    Font* font = fontFor(0, 20, 400, false);
    EXPECT_FLOAT_EQ(lineHeight(font, 1.25f), 25);
    EXPECT_FLOAT_EQ(lineHeight(font, 1.0f), 20);
}

// ---------------------------------------------------------------------------
// Layout

struct Expected {
    uint32_t begin, end;
    float width;
};

TEST_F(Text, LaysTextOutIntoLines) {
    struct Case {
        const char* name;
        std::string text;
        float wrap;
        bool nowrap;
        float spacing;
        std::vector<Expected> lines;
    } cases[] = {
        {"breaks after the word that fits", "AAA BBB", 50, false, 0, {{0, 3, 30}, {4, 7, 30}}},
        {"a long word is cut", "AAAAAAA", 30, false, 0, {{0, 3, 30}, {3, 6, 30}, {6, 7, 10}}},
        {"a word ending at the edge", "AAA BBB", 30, false, 0, {{0, 3, 30}, {4, 7, 30}}},
        {"a word then a long word", "A BBBBBB", 30, false, 0, {{0, 1, 10}, {2, 5, 30}, {5, 8, 30}}},
        {"the last space of the line", "A B CC DD", 55, false, 0, {{0, 3, 30}, {4, 9, 50}}},
        {"no wrap asked", "AAA BBB", 10, true, 0, {{0, 7, 70}}},
        {"no wrap width", "AAA BBB", 0, false, 0, {{0, 7, 70}}},
        {"negative wrap width", "AAA BBB", -5, false, 0, {{0, 7, 70}}},
        {"one character wider than the line", "AB", 5, false, 0, {{0, 1, 10}, {1, 2, 10}}},
        {"letter spacing per character", "AAA", 0, false, 2, {{0, 3, 36}}},
        {"letter spacing counts for wrapping", "AA AA", 40, false, 5, {{0, 2, 30}, {3, 5, 30}}},
        {"line feeds end lines", "AB\nC", 100, false, 0, {{0, 2, 20}, {3, 4, 10}}},
        {"trailing line feed", "AB\n", 100, false, 0, {{0, 2, 20}, {3, 3, 0}}},
        {"line feed without wrapping", "A\n\nB", 0, true, 0, {{0, 1, 10}, {2, 2, 0}, {3, 4, 10}}},
        {"line feed restarts the width", "AAAA\nBB", 30, false, 0, {{0, 3, 30}, {3, 4, 10}, {5, 7, 20}}},
        {"empty text", "", 100, false, 0, {{0, 0, 0}}},
        {"control characters add nothing", "A\tB\r", 100, false, 0, {{0, 4, 20}}},
        {"emoji is one replacement character", "A\xF0\x9F\x98\x80" "B", 0, false, 0, {{0, 6, 30}}},
        {"offsets are bytes", "\xC3\x84\xC3\x84\xC3\x84 \xC3\x84\xC3\x84", 30, false, 0, {{0, 6, 30}, {7, 11, 20}}},
        {"a leading space is not a break", " AAAA", 30, false, 0, {{0, 3, 30}, {3, 5, 20}}},
    };
    Font* font = fontFor(0, 20, 400, false);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<TextLine> lines;
        layoutText(c.text, font, c.spacing, c.nowrap, c.wrap, lines);
        ASSERT_EQ(lines.size(), c.lines.size());
        for (size_t i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i].begin, c.lines[i].begin) << "line " << i;
            EXPECT_EQ(lines[i].end, c.lines[i].end) << "line " << i;
            EXPECT_FLOAT_EQ(lines[i].width, c.lines[i].width) << "line " << i;
        }
    }
}

// The cache gives what layoutText gives, whichever part of the key changed
// since the last call with that text.
TEST_F(Text, CachedLayoutFollowsEveryPartOfTheKey) {
    Font* font = fontFor(0, 20, 400, false);
    Font* big = fontFor(0, 40, 400, false);
    struct Call {
        const char* name;
        std::string text;
        Font* font;
        float spacing;
        bool nowrap;
        float wrap;
    } calls[] = {
        {"first", "AAA BBB CC", font, 0, false, 50},
        {"again", "AAA BBB CC", font, 0, false, 50},
        {"text changes", "AAA BBBB CC", font, 0, false, 50},
        {"width changes", "AAA BBB CC", font, 0, false, 80},
        {"no wrap asked", "AAA BBB CC", font, 0, true, 50},
        {"no width", "AAA BBB CC", font, 0, false, 0},
        {"letter spacing changes", "AAA BBB CC", font, 3, false, 50},
        {"font changes", "AAA BBB CC", big, 0, false, 50},
        {"same bytes past a nul", std::string("AA\0B", 4), font, 0, false, 50},
        {"shorter text, same start", std::string("AA\0", 3), font, 0, false, 50},
        {"back to the first", "AAA BBB CC", font, 0, false, 50},
        {"too long to keep", std::string(5000, 'A'), font, 0, false, 300},
    };
    for (int round = 0; round < 2; ++round) {
        for (const Call& c : calls) {
            SCOPED_TRACE(std::string(c.name) + ", round " + std::to_string(round));
            std::vector<TextLine> want;
            layoutText(c.text, c.font, c.spacing, c.nowrap, c.wrap, want);
            const std::vector<TextLine>& got = layoutTextCached(c.text, c.font, c.spacing, c.nowrap, c.wrap);
            ASSERT_EQ(got.size(), want.size());
            for (size_t i = 0; i < got.size(); ++i) {
                EXPECT_EQ(got[i].begin, want[i].begin) << "line " << i;
                EXPECT_EQ(got[i].end, want[i].end) << "line " << i;
                EXPECT_EQ(got[i].width, want[i].width) << "line " << i;
            }
        }
    }
}

// More texts than the cache holds: replaced slots lay their text out again.
TEST_F(Text, CachedLayoutStaysRightPastItsSize) {
    Font* font = fontFor(0, 20, 400, false);
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 6000; ++i) {
            std::string text = "item " + std::to_string(i) + (i % 3 == 0 ? " with more words" : "");
            std::vector<TextLine> want;
            layoutText(text, font, 0, false, 90, want);
            const std::vector<TextLine>& got = layoutTextCached(text, font, 0, false, 90);
            ASSERT_EQ(got.size(), want.size()) << text;
            for (size_t k = 0; k < got.size(); ++k) {
                ASSERT_EQ(got[k].end, want[k].end) << text << ", line " << k;
                ASSERT_EQ(got[k].width, want[k].width) << text << ", line " << k;
            }
        }
    }
}

// Fonts made after a reset may take an old font's address: the cached
// layouts of the old fonts must not answer for them.
TEST_F(Text, CachedLayoutIsForgottenWithTheFonts) {
    Font* font = fontFor(0, 20, 400, false);
    ASSERT_EQ(layoutTextCached("AAA", font, 0, true, 0).at(0).width, 30);
    TestFontProvider broken;
    broken.broken = {"Georgia", "Constantia", "Times New Roman", "serif"};
    setFontProvider(&broken);
    Font* faceless = fontFor(0, 20, 400, false);
    EXPECT_EQ(layoutTextCached("AAA", faceless, 0, true, 0).at(0).width, 0);
    setFontProvider(&provider);
    EXPECT_EQ(layoutTextCached("AAA", fontFor(0, 20, 400, false), 0, true, 0).at(0).width, 30);
}

TEST_F(Text, ReplacementCharacterUsesItsOwnGlyph) {
    Font* font = fontFor(0, 20, 400, false);
    std::vector<TextLine> lines;
    layoutText("\xF0\x9F\x98\x80", font, 0, false, 0, lines);
    EXPECT_TRUE(font->glyphs.count(0xFFFD));
    EXPECT_FALSE(font->glyphs.count(0x1F600));
}

// ---------------------------------------------------------------------------
// The glyph atlas

// A face whose glyph sizes come from the code point: width = cp & 0xFFF,
// height = cp >> 12.
class SizedFace : public FontFace {
public:
    float ascent() const override { return 10; }
    float descent() const override { return 2; }
    std::string faceName() const override { return "Sized"; }
    bool glyph(uint32_t cp, GlyphImage& out) override {
        out.width = static_cast<int>(cp & 0xFFF);
        out.height = static_cast<int>(cp >> 12);
        out.advance = 7;
        out.offsetX = 1;
        out.offsetY = 2;
        out.coverage.assign(static_cast<size_t>(out.width) * static_cast<size_t>(out.height),
                            static_cast<uint8_t>(cp & 0xFF));
        return true;
    }
};
class SizedProvider : public FontProvider {
public:
    std::unique_ptr<FontFace> open(const std::string&, int, int, bool) override {
        return std::make_unique<SizedFace>();
    }
};
constexpr uint32_t sized(int w, int h) { return static_cast<uint32_t>(h << 12 | w); }

TEST_F(Text, AtlasStartsWithTheFillBlock) {
    GlyphAtlas& atlas = glyphAtlas();
    ASSERT_EQ(atlas.pixels.size(), size_t(GlyphAtlas::kSize) * GlyphAtlas::kSize);
    auto at = [&](int x, int y) { return atlas.pixels[size_t(y) * GlyphAtlas::kSize + size_t(x)]; };
    EXPECT_EQ(at(0, 0), 255);
    EXPECT_EQ(at(1, 0), 255);
    EXPECT_EQ(at(0, 1), 255);
    EXPECT_EQ(at(1, 1), 255);
    EXPECT_EQ(at(2, 0), 0);
    EXPECT_EQ(at(0, 2), 0);
    EXPECT_TRUE(atlas.dirty());
    EXPECT_EQ(atlas.dirtyTop, 0);
}

TEST_F(Text, GlyphsArePackedInRowsWithGaps) {
    SizedProvider sizes;
    setFontProvider(&sizes);
    GlyphAtlas& atlas = glyphAtlas();
    atlas.markClean();
    Font* font = fontFor(0, 20, 400, false);

    struct Step {
        uint32_t cp;
        int x, y;
    } steps[] = {
        {sized(100, 30), 8, 8},                  // the cursor starts at (8, 8)
        {sized(200, 50), 109, 8},                // 1 px after the first
        {sized(1700, 10), 310, 8},               // ends at 2010
        {sized(37, 20), 2011, 8},                // exactly fills the row to 2048
        {sized(1, 5), 8, 59},                    // below the row's tallest (50) + 1
        {sized(0x123, 1), 10, 59},               // a second glyph in the new row
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.cp);
        const Glyph& g = glyphFor(font, s.cp);
        EXPECT_TRUE(g.exists);
        EXPECT_EQ(g.atlasX, s.x);
        EXPECT_EQ(g.atlasY, s.y);
        EXPECT_EQ(g.width, int(s.cp & 0xFFF));
        EXPECT_EQ(g.height, int(s.cp >> 12));
        EXPECT_EQ(g.offsetX, 1);
        EXPECT_EQ(g.offsetY, 2);
        EXPECT_EQ(g.advance, 7);
        // The bitmap landed where the glyph says.
        uint8_t want = static_cast<uint8_t>(s.cp & 0xFF);
        EXPECT_EQ(atlas.pixels[size_t(g.atlasY) * GlyphAtlas::kSize + size_t(g.atlasX)], want);
        size_t lastPixel = size_t(g.atlasY + g.height - 1) * GlyphAtlas::kSize + size_t(g.atlasX + g.width - 1);
        EXPECT_EQ(atlas.pixels[lastPixel], want);
    }
    // Rows 8 .. 59 + 5 changed since the atlas was marked clean.
    EXPECT_EQ(atlas.dirtyTop, 8);
    EXPECT_EQ(atlas.dirtyBottom, 64);
    EXPECT_FALSE(atlas.full);
    // Asking again gives the same glyph without packing it twice.
    int cursor = atlas.cursorX;
    EXPECT_EQ(glyphFor(font, sized(100, 30)).atlasX, 8);
    EXPECT_EQ(atlas.cursorX, cursor);
}

TEST_F(Text, AFullAtlasKeepsMetricsButGivesNoBitmap) {
    SizedProvider sizes;
    setFontProvider(&sizes);
    GlyphAtlas& atlas = glyphAtlas();
    Font* font = fontFor(0, 20, 400, false);

    // A row 1000 px high at 8, then one 1001 px high at 1009 (ending at 2010).
    EXPECT_EQ(glyphFor(font, sized(2000, 1000)).atlasY, 8);
    EXPECT_EQ(glyphFor(font, sized(2000, 1000) + 0x1000).atlasY, 1009);  // 1001 high
    EXPECT_FALSE(atlas.full);
    // Nothing 40 px high fits below 2011.
    const Glyph& lost = glyphFor(font, sized(2000, 40));
    EXPECT_TRUE(atlas.full);
    EXPECT_TRUE(lost.exists);
    EXPECT_EQ(lost.advance, 7);
    EXPECT_EQ(lost.width, 0);
    EXPECT_EQ(lost.height, 0);
    // Later glyphs get no bitmap either, even small ones.
    const Glyph& small = glyphFor(font, sized(2, 2));
    EXPECT_TRUE(small.exists);
    EXPECT_EQ(small.width, 0);
    EXPECT_EQ(small.advance, 7);
    // Layout still measures them.
    std::vector<TextLine> lines;
    layoutText(std::string("\x01\x02"), font, 0, false, 0, lines);
    EXPECT_EQ(lines[0].width, 14);
}

TEST_F(Text, BlankAndOversizedGlyphsTakeNoRoom) {
    SizedProvider sizes;
    setFontProvider(&sizes);
    GlyphAtlas& atlas = glyphAtlas();
    Font* font = fontFor(0, 20, 400, false);
    EXPECT_EQ(glyphFor(font, sized(0, 0)).width, 0);
    EXPECT_EQ(glyphFor(font, sized(5, 0)).width, 0);
    EXPECT_EQ(atlas.cursorX, 8);
    // Wider than the atlas: no bitmap, but the atlas is not full.
    EXPECT_EQ(glyphFor(font, sized(4000, 3)).width, 0);
    EXPECT_FALSE(atlas.full);
    EXPECT_EQ(glyphFor(font, sized(3, 3)).atlasX, 8);
}

TEST_F(Text, TestFontGlyphsAreFramedBoxes) {
    Font* font = fontFor(0, 20, 400, false);
    const Glyph& space = glyphFor(font, ' ');
    EXPECT_TRUE(space.exists);
    EXPECT_EQ(space.width, 0);
    EXPECT_EQ(space.advance, 10);
    EXPECT_FALSE(glyphFor(font, '\t').exists);
    const Glyph& a = glyphFor(font, 'A');
    ASSERT_EQ(a.width, 9);
    ASSERT_EQ(a.height, 16);
    const GlyphAtlas& atlas = glyphAtlas();
    auto at = [&](int x, int y) { return atlas.pixels[size_t(a.atlasY + y) * GlyphAtlas::kSize + size_t(a.atlasX + x)]; };
    EXPECT_EQ(at(0, 0), 255);
    EXPECT_EQ(at(8, 15), 255);
    EXPECT_EQ(at(4, 8), 96);
}

}  // namespace
}  // namespace kiln
