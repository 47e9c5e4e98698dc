// The painter: the geometry, colours, batches and clips it makes from laid-out
// trees. Text uses the fixed-metrics test font: at font-size 20 a glyph
// advances 10 px and its bitmap is 9 x 16 at the pen; the font height is 20.
#include <cmath>
#include <string>
#include <vector>

#include "base/paths.h"
#include "tests/support/scratch.h"
#include "tests/kiln/kiln_fixture.h"
#include "ui/kiln/draw.h"
#include "ui/kiln/images.h"
#include "ui/kiln/png.h"

namespace kiln {
namespace {

// A quad as the painter emits it: vertices a b c d, triangles (a b c) (a c d).
struct Quad {
    Rect r;
    float u0, v0, u1, v1;
    Rgba8 colour;
    const Batch* batch;
};

std::vector<Quad> quadsOf(const DrawList& list) {
    std::vector<Quad> out;
    for (const Batch& b : list.batches) {
        for (uint32_t i = b.firstIndex; i + 6 <= b.firstIndex + b.indexCount; i += 6) {
            const Vertex& a = list.vertices[list.indices[i]];
            const Vertex& c = list.vertices[list.indices[i + 2]];
            out.push_back(Quad{Rect{a.x, a.y, c.x - a.x, c.y - a.y}, a.u, a.v, c.u, c.v, a.colour, &b});
        }
    }
    return out;
}

// A PNG of w x h opaque pixels, written with stored (uncompressed) deflate blocks.
std::string tinyPng(int w, int h) {
    auto be32 = [](std::string& s, uint32_t v) {
        for (int k = 3; k >= 0; --k) s.push_back(char((v >> (8 * k)) & 0xFF));
    };
    auto chunk = [&](std::string& out, const char* type, const std::string& data) {
        be32(out, uint32_t(data.size()));
        std::string body = std::string(type, 4) + data;
        out += body;
        be32(out, pngCrc32(reinterpret_cast<const uint8_t*>(body.data()), body.size()));
    };
    std::string raw;
    for (int y = 0; y < h; ++y) {
        raw.push_back(0);
        for (int x = 0; x < w; ++x) raw += std::string{char(200), char(100), char(50), char(255)};
    }
    std::string z = "\x78\x01";
    z.push_back(1);  // one final stored block
    uint16_t len = uint16_t(raw.size());
    z += std::string{char(len & 0xFF), char(len >> 8), char(~len & 0xFF), char((~len >> 8) & 0xFF)};
    z += raw;
    uint32_t s1 = 1, s2 = 0;
    for (unsigned char c : raw) {
        s1 = (s1 + c) % 65521;
        s2 = (s2 + s1) % 65521;
    }
    be32(z, (s2 << 16) | s1);
    std::string ihdr;
    be32(ihdr, uint32_t(w));
    be32(ihdr, uint32_t(h));
    ihdr += std::string{8, 6, 0, 0, 0};
    std::string png = "\x89PNG\r\n\x1a\n";
    chunk(png, "IHDR", ihdr);
    chunk(png, "IDAT", z);
    chunk(png, "IEND", "");
    return png;
}

class Draw : public KilnTest {
protected:
    void SetUp() override {
        KilnTest::SetUp();
        resetShapeAtlas();
        resetShapes();
        resetPictures();
        startPainter();
        // The test's picture lives in a scratch folder that goes with the test.
        setResourceFolder(pictures_.path());
        ASSERT_TRUE(ember::launcher::writeFileAtomic(pictures_.file("p.png"), tinyPng(6, 6)));
    }
    void TearDown() override {
        KilnTest::TearDown();
        resetPictures();
        resetShapeAtlas();
    }
    ember::launcher::testing::ScratchDir pictures_;
    static const DrawList& list() { return drawList(); }
    static std::vector<Quad> quads() { return quadsOf(drawList()); }
};

constexpr float kFill = 1.5f / 2048.0f;

TEST_F(Draw, PlainFillsSampleTheFullCoverageTexel) {
    css(".a { width: 40; height: 30; background: rgba(255, 128, 0, 0.5); }");
    frame([] {
        openElement("div.a");
        closeElement();
        textElement("A");  // glyphs share the fill's batch
    });
    auto q = quads();
    ASSERT_EQ(q.size(), 2u);
    EXPECT_TRUE(sameRect(q[0].r, Rect{0, 0, 40, 30}));
    EXPECT_EQ(q[0].u0, kFill);
    EXPECT_EQ(q[0].v1, kFill);
    EXPECT_EQ(q[0].colour, (Rgba8{255, 128, 0, 128}));
    ASSERT_EQ(list().batches.size(), 1u);
    EXPECT_EQ(list().batches[0].texture, kGlyphTexture);
    EXPECT_EQ(list().batches[0].shader, ShaderKind::Coverage);
    EXPECT_TRUE(sameRect(list().batches[0].clip, Rect{0, 0, 800, 600}));
    EXPECT_EQ(list().summary.vertexCount, 8u);
}

TEST_F(Draw, OpacityOfTheElementAndItsAncestorsMultipliesAlpha) {
    struct Case {
        const char* css;
        int alpha;  // of the innermost box's fill, -1: nothing drawn
    };
    const Case cases[] = {
        {".o { opacity: 0.5; } .i { opacity: 0.5; }", 64},
        {".o { opacity: 0.5; } .m { opacity: 0.5; } .i { opacity: 0.5; }", 32},
        {".i { background: rgba(0, 0, 0, 0.5); }", 128},
        {".m { opacity: 0; }", -1},
        {".i { opacity: 7; }", 255},
    };
    for (const Case& c : cases) {
        css(std::string(".i { width: 10; height: 10; background: #fff; } ") + c.css);
        frame([] {
            openElement("div.o");
            openElement("div.m");
            openElement("div.i");
            closeElement();
            closeElement();
            closeElement();
        });
        auto q = quads();
        ASSERT_EQ(q.size(), c.alpha < 0 ? 0u : 1u) << c.css;
        if (c.alpha >= 0) {
            EXPECT_EQ(q[0].colour.a, c.alpha) << c.css;
        }
    }
}

TEST_F(Draw, RoundedBoxesAreFansOfFifteenDegrees) {
    struct Case {
        float w, h, radius;
        size_t vertices, indices;
        float used;  // the radius after the limit
    };
    const Case cases[] = {
        {100, 50, 10, 12 + 32, 18 + 72, 10},  // centre, two sides, four fans of 6
        {100, 50, 40, 4 + 32, 6 + 72, 25},    // limited to half the height: no side pieces
        {50, 50, 100, 32, 72, 25},            // a circle: fans only
        {100, 50, 0.5f, 4, 6, 0},             // 0.5 px or less: a plain rectangle
    };
    for (const Case& c : cases) {
        DrawList l;
        DrawBuilder b(l);
        b.begin(800, 600);
        b.roundedBox(Rect{10, 20, c.w, c.h}, c.radius, Rgba8{1, 2, 3, 4});
        b.finish();
        EXPECT_EQ(l.vertices.size(), c.vertices) << c.radius;
        EXPECT_EQ(l.indices.size(), c.indices) << c.radius;
        if (c.used == 0) continue;
        // The top-left fan: its centre, then 7 rim points 15 degrees apart
        // from pointing left to pointing up.
        size_t fan = l.vertices.size() - 32;
        const Vertex& centre = l.vertices[fan];
        EXPECT_NEAR(centre.x, 10 + c.used, 1e-4);
        EXPECT_NEAR(centre.y, 20 + c.used, 1e-4);
        for (int k = 0; k <= 6; ++k) {
            const Vertex& rim = l.vertices[fan + 1 + size_t(k)];
            double a = (180 + 15 * k) * 3.14159265358979 / 180;
            EXPECT_NEAR(rim.x, centre.x + c.used * std::cos(a), 1e-3) << k;
            EXPECT_NEAR(rim.y, centre.y + c.used * std::sin(a), 1e-3) << k;
        }
    }
    // A transparent rounded box is not emitted at all.
    DrawList l;
    DrawBuilder b(l);
    b.begin(800, 600);
    b.roundedBox(Rect{0, 0, 50, 50}, 10, Rgba8{255, 255, 255, 0});
    EXPECT_TRUE(l.vertices.empty());
}

TEST_F(Draw, BordersAreFourStraightEdgesAndTheFillAloneIsRounded) {
    css(".a { margin: 10 0 0 20; width: 100; height: 60; border-width: 1 2 3 4; border-color: #f00; "
        "background: #00f; border-radius: 8; }");
    frame([] {
        openElement("div.a");
        closeElement();
    });
    const DrawList& l = list();
    // Rounded fill: 3 pieces + 4 fans = 44 vertices, then four edge quads.
    ASSERT_EQ(l.vertices.size(), 44u + 16u);
    auto q = quadsOf(l);
    std::vector<Quad> edges(q.end() - 4, q.end());
    const Rect want[] = {{20, 10, 100, 1}, {20, 67, 100, 3}, {20, 11, 4, 56}, {118, 11, 2, 56}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(sameRect(edges[size_t(i)].r, want[i])) << "edge " << i;
        EXPECT_EQ(edges[size_t(i)].colour, (Rgba8{255, 0, 0, 255}));
    }
}

// The keyboard's ring: while it shows, the focused element is :focus and
// gets the gap band, then the ring, outside its border box.
TEST_F(Draw, TheFocusRingIsTheGapBandThenTheRingOutsideTheBox) {
    css(".a { margin: 20; width: 40; height: 20; background: #fff; } .a:focus { focus-ring: 2 1 #ff0 #00f; }");
    uint64_t id = 0;
    auto build = [&id] {
        openElement("div.a");
        id = currentId();
        closeElement();
    };
    frame(build);
    const size_t plain = quads().size();
    for (const bool shown : {false, true}) {
        setKeyboardFocus(id, shown);
        frame(build);
        const std::vector<Quad> q = quads();
        if (!shown) {
            EXPECT_EQ(q.size(), plain) << "no ring until the keyboard is used";
            continue;
        }
        ASSERT_EQ(q.size(), plain + 8);
        const Rect gap[] = {{19, 19, 42, 1}, {19, 40, 42, 1}, {19, 20, 1, 20}, {60, 20, 1, 20}};
        const Rect ring[] = {{17, 17, 46, 2}, {17, 41, 46, 2}, {17, 19, 2, 22}, {61, 19, 2, 22}};
        for (int i = 0; i < 4; ++i) {
            EXPECT_TRUE(sameRect(q[plain + size_t(i)].r, gap[i])) << "gap " << i;
            EXPECT_EQ(q[plain + size_t(i)].colour, (Rgba8{0, 0, 255, 255}));
            EXPECT_TRUE(sameRect(q[plain + 4 + size_t(i)].r, ring[i])) << "ring " << i;
            EXPECT_EQ(q[plain + 4 + size_t(i)].colour, (Rgba8{255, 255, 0, 255}));
        }
    }
    setKeyboardFocus(0, false);
}

TEST_F(Draw, GlowIsFourGrowingFadingRoundedBoxesUnderTheFill) {
    css(".a { margin: 50; width: 40; height: 20; background: #fff; glow: 8 #00ff00; }");
    frame([] {
        openElement("div.a");
        closeElement();
    });
    const DrawList& l = list();
    // Each glow box: radius = grow, limited to half its height; 44 vertices.
    ASSERT_EQ(l.vertices.size(), 4u * 44u + 4u);
    const uint8_t alphas[4] = {64, 48, 32, 16};
    for (int i = 0; i < 4; ++i) {
        float grow = float(i + 1) * 2;
        const Vertex* first = &l.vertices[size_t(i) * 44];
        EXPECT_EQ(first->colour, (Rgba8{0, 255, 0, alphas[i]})) << "glow " << i + 1;
        // The centre piece spans the grown box's full height.
        EXPECT_NEAR(first[0].y, 50 - grow, 1e-4);
        EXPECT_NEAR(first[2].y, 70 + grow, 1e-4);
    }
    EXPECT_EQ(l.vertices.back().colour, (Rgba8{255, 255, 255, 255}));  // the fill comes last
}

TEST_F(Draw, BatchesSplitOnTextureShaderAndClip) {
    css(".f { width: 10; height: 10; background: #fff; } .clip { overflow: hidden; width: 30; height: 5; }"
        ".pic { width: 10; height: 10; background-image: url(p.png); }");
    frame([] {
        openElement("div.f");  // fill: glyph atlas
        closeElement();
        openElement("div.f");  // the same batch
        closeElement();
        openElement("div.pic");  // picture, colour shader
        closeElement();
        openElement("div.clip");
        openElement("div.f");  // another clip
        closeElement();
        closeElement();
        arrowElement(1, 12);  // shape atlas, window clip again
        openElement("div.f");
        closeElement();
    });
    struct Want {
        TextureRef texture;
        ShaderKind shader;
        uint32_t indices;
        Rect clip;
    };
    const Rect window{0, 0, 800, 600};
    const Want want[] = {
        {kGlyphTexture, ShaderKind::Coverage, 12, window},
        {pictureTexture(internImage("p.png")), ShaderKind::Colour, 6, window},
        {kGlyphTexture, ShaderKind::Coverage, 6, Rect{0, 30, 30, 5}},
        {kShapeTexture, ShaderKind::Coverage, 6, window},
        {kGlyphTexture, ShaderKind::Coverage, 6, window},
    };
    const DrawList& l = list();
    ASSERT_EQ(l.batches.size(), 5u);
    uint32_t first = 0;
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(l.batches[i].texture, want[i].texture) << i;
        EXPECT_EQ(l.batches[i].shader, want[i].shader) << i;
        EXPECT_EQ(l.batches[i].indexCount, want[i].indices) << i;
        EXPECT_EQ(l.batches[i].firstIndex, first) << i;
        EXPECT_TRUE(sameRect(l.batches[i].clip, want[i].clip)) << i;
        first += l.batches[i].indexCount;
    }
}

TEST_F(Draw, SummaryIsTheUnionOfDrawnGeometryWithinClips) {
    css(".a { position: absolute; left: 10; top: 10; width: 20; height: 20; background: #fff; }"
        ".b { position: absolute; left: 100; top: 50; width: 10; height: 10; background: #fff; }"
        ".h { position: absolute; left: 300; top: 0; width: 50; height: 50; overflow: hidden; }"
        ".c { width: 400; height: 300; background: #fff; } .gone { margin-top: 60; height: 10; background: #fff; }");
    frame([] {
        openElement("div.a");
        closeElement();
        openElement("div.b");
        closeElement();
        openElement("div.h");
        openElement("div.c");  // cut to the 50 x 50 of its parent
        closeElement();
        openElement("div.gone");  // wholly outside its clip: not emitted
        closeElement();
        closeElement();
    });
    const FrameSummary& s = list().summary;
    EXPECT_EQ(s.width, 800);
    EXPECT_EQ(s.height, 600);
    EXPECT_EQ(s.vertexCount, 12u);
    EXPECT_TRUE(sameRect(s.changed, Rect{10, 0, 340, 60}));
}

TEST_F(Draw, BorderImagesAreNinePatchesCutInThirds) {
    struct Case {
        const char* css;
        float cornerW, cornerH;
    };
    const Case cases[] = {
        {"border-image: url(p.png) 10", 10, 10},
        {"border-image: url(p.png)", 12, 12},     // no slice: 12
        {"border-image: url(p.png) 40", 40, 30},  // at most half of each side: no middle row
    };
    for (const Case& c : cases) {
        css(std::string(".a { width: 100; height: 60; background: #f00; border-width: 3; border-color: #fff; ") +
            c.css + "; }");
        frame([] {
            openElement("div.a");
            closeElement();
        });
        // No fill and no border with a border image; empty patches are left out.
        const float xs[4] = {0, c.cornerW, 100 - c.cornerW, 100}, ys[4] = {0, c.cornerH, 60 - c.cornerH, 60};
        const float uv[4] = {0, 1.0f / 3, 2.0f / 3, 1};
        std::vector<Quad> want;
        for (int row = 0; row < 3; ++row) {
            for (int col = 0; col < 3; ++col) {
                Rect r{xs[col], ys[row], xs[col + 1] - xs[col], ys[row + 1] - ys[row]};
                if (r.w > 0 && r.h > 0) want.push_back(Quad{r, uv[col], uv[row], uv[col + 1], uv[row + 1], {}, nullptr});
            }
        }
        auto q = quads();
        ASSERT_EQ(q.size(), want.size()) << c.css;
        for (size_t i = 0; i < q.size(); ++i) {
            EXPECT_TRUE(sameRect(q[i].r, want[i].r)) << c.css << " patch " << i;
            EXPECT_FLOAT_EQ(q[i].u0, want[i].u0);
            EXPECT_FLOAT_EQ(q[i].v0, want[i].v0);
            EXPECT_FLOAT_EQ(q[i].u1, want[i].u1);
            EXPECT_FLOAT_EQ(q[i].v1, want[i].v1);
            EXPECT_EQ(q[i].batch->shader, ShaderKind::Colour);
        }
    }
}

TEST_F(Draw, PicturesCoverTheirBoxOrTheirSizeCentredAndFailuresDrawNothing) {
    css(".bg { position: absolute; left: 0; top: 0; width: 100; height: 50; background-image: url(p.png); }"
        ".sized { background-size: 20 10; } .missing { background-image: url(none.png); }");
    struct Case {
        const char* spec;
        std::vector<Rect> want;
    };
    const Case cases[] = {
        {"div.bg", {{0, 0, 100, 50}}},
        {"div.bg.sized", {{40, 20, 20, 10}}},
        {"div.bg.missing", {}},
    };
    for (const Case& c : cases) {
        frame([&] {
            openElement(c.spec);
            closeElement();
        });
        auto q = quads();
        ASSERT_EQ(q.size(), c.want.size()) << c.spec;
        for (size_t i = 0; i < q.size(); ++i) {
            EXPECT_TRUE(sameRect(q[i].r, c.want[i])) << c.spec;
            EXPECT_EQ(q[i].colour, (Rgba8{255, 255, 255, 255}));
        }
    }
    const Picture* missing = pictureEntry(internImage("none.png"));
    ASSERT_NE(missing, nullptr);
    EXPECT_FALSE(missing->ok);
    EXPECT_EQ(missing->error.rfind("the picture file could not be read: ", 0), 0u) << missing->error;
    const Picture* good = pictureFor(internImage("p.png"));
    ASSERT_NE(good, nullptr);
    EXPECT_EQ(good->width, 6);
    EXPECT_EQ(good->pixels[0], 200);

    // An image element shows its picture over its box, faded by opacity.
    css(".i { opacity: 0.5; }");
    frame([] { imageElement("p.png", 30, 20, "img.i"); });
    auto q = quads();
    ASSERT_EQ(q.size(), 1u);
    EXPECT_TRUE(sameRect(q[0].r, Rect{0, 0, 30, 20}));
    EXPECT_EQ(q[0].colour, (Rgba8{255, 255, 255, 128}));
    EXPECT_EQ(q[0].batch->texture, pictureTexture(internImage("p.png")));
}

// Quads of a text element, in emission order.
TEST_F(Draw, TextPassesLinesAndAlignment) {
    struct Case {
        const char* what;
        const char* css;
        const char* text;
        std::vector<Rect> glyphs;  // the first glyph quads
        size_t count;
    };
    const Case cases[] = {
        {"lines at the line height, centred in it", ".t { line-height: 1.5; }", "AB\nC",
         {{0, 5, 9, 16}, {10, 5, 9, 16}, {0, 35, 9, 16}}, 3},
        {"letter spacing and a space that only advances", ".t { letter-spacing: 2; }", "A B",
         {{0, 2.5f, 9, 16}, {24, 2.5f, 9, 16}}, 2},
        {"centred", ".t { text-align: center; }", "AB", {{40, 2.5f, 9, 16}}, 2},
        {"right", ".t { text-align: right; }", "AB", {{80, 2.5f, 9, 16}}, 2},
        {"outline in eight directions, then shadow, then text", ".t { text-outline: 1 #000; text-shadow: #f00 2 3; }",
         "A",
         {{-1, 1.5f, 9, 16}, {0, 1.5f, 9, 16}, {1, 1.5f, 9, 16}, {-1, 2.5f, 9, 16}, {1, 2.5f, 9, 16},
          {-1, 3.5f, 9, 16}, {0, 3.5f, 9, 16}, {1, 3.5f, 9, 16}, {2, 5.5f, 9, 16}, {0, 2.5f, 9, 16}},
         10},
        {"a transparent outline or shadow is no pass", ".t { text-outline: 1 transparent; }", "A", {{0, 2.5f, 9, 16}},
         1},
    };
    for (const Case& c : cases) {
        css(std::string(".t { width: 100; font-size: 20; } ") + c.css);
        frame([&] { textElement(c.text, "text.t"); });
        auto q = quads();
        ASSERT_EQ(q.size(), c.count) << c.what;
        for (size_t i = 0; i < c.glyphs.size(); ++i) {
            // Glyphs stand at whole pixels: 2.5 rounds to 3.
            Rect want = c.glyphs[i];
            want.x = std::floor(want.x + 0.5f);
            want.y = std::floor(want.y + 0.5f);
            EXPECT_TRUE(sameRect(q[i].r, want)) << c.what << " glyph " << i;
        }
    }
    // Colours of the passes, and the glyph's atlas texels.
    css(".t { font-size: 20; text-outline: 1 #000; text-shadow: rgba(255, 0, 0, 0.5) 2 3; opacity: 0.5; }");
    frame([&] { textElement("A", "text.t"); });
    const auto q = quads();
    ASSERT_EQ(q.size(), 10u);
    EXPECT_EQ(q[0].colour, (Rgba8{0, 0, 0, 128}));
    EXPECT_EQ(q[8].colour, (Rgba8{255, 0, 0, 64}));
    EXPECT_EQ(q[9].colour, (Rgba8{232, 223, 200, 128}));  // the default text colour
    const Glyph& a = glyphFor(node(1).font, 'A');
    EXPECT_FLOAT_EQ(q.back().u0, float(a.atlasX) / 2048);
    EXPECT_FLOAT_EQ(q.back().v1, float(a.atlasY + a.height) / 2048);
    EXPECT_EQ(q.back().batch->texture, kGlyphTexture);
}

TEST_F(Draw, ScrollbarsShowWhereTheContentIs) {
    struct Case {
        const char* what;
        float content, barWidth;
        bool toEnd;
        bool bar;
        float thumbLength;
    };
    const Case cases[] = {
        {"proportional thumb at the top", 300, 9, false, true, 98.0f * 100 / 300},
        {"at the end", 300, 9, true, true, 98.0f * 100 / 300},
        {"a long content keeps a 28 px thumb", 2000, 9, false, true, 28},
        {"a thin bar is 3 px wide", 300, 1, false, true, 98.0f * 100 / 300},
        {"content that fits shows no bar", 101, 9, false, false, 0},
    };
    for (const Case& c : cases) {
        css(".s { position: absolute; left: 10; top: 20; width: 200; height: 100; scrollbar-width: " +
            std::to_string(c.barWidth) + "; } .k { height: " + std::to_string(c.content) + "; }");
        for (int f = 0; f < 3; ++f) {
            frame([&] {
                scrollBegin(c.what, "scroll.s");  // a fresh scroll position per case
                if (c.toEnd && f == 1) scrollToEnd();
                openElement("div.k");
                closeElement();
                scrollEnd();
            });
        }
        auto q = quads();
        if (!c.bar) {
            EXPECT_TRUE(q.empty()) << c.what;
            continue;
        }
        // Track and thumb are rounded boxes (radius half the width): find
        // their extents from the vertices.
        const DrawList& l = list();
        ASSERT_EQ(l.vertices.size() % 2, 0u);
        size_t half = l.vertices.size() / 2;
        auto extent = [&](size_t from) {
            Rect r{1e9f, 1e9f, 0, 0};
            float x1 = -1e9f, y1 = -1e9f;
            for (size_t i = from; i < from + half; ++i) {
                r.x = std::min(r.x, l.vertices[i].x);
                r.y = std::min(r.y, l.vertices[i].y);
                x1 = std::max(x1, l.vertices[i].x);
                y1 = std::max(y1, l.vertices[i].y);
            }
            r.w = x1 - r.x;
            r.h = y1 - r.y;
            return r;
        };
        float w = std::max(c.barWidth, 3.0f);
        Rect track{10 + 200 - 3 - w, 21, w, 98};
        EXPECT_TRUE(sameRect(extent(0), track)) << c.what;
        float y = c.toEnd ? 21 + 98 - c.thumbLength : 21;
        EXPECT_TRUE(sameRect(extent(half), Rect{track.x, y, w, c.thumbLength})) << c.what;
    }
}

TEST_F(Draw, ArrowsPointWhereTheyAreTold) {
    struct Case {
        int direction;
        int coveredX, coveredY, emptyX, emptyY;  // pixels of the 20 x 20 cell
    };
    const Case cases[] = {{0, 7, 13, 7, 6}, {1, 6, 7, 13, 7}, {2, 7, 6, 7, 13}, {3, 13, 7, 6, 7}};
    for (const Case& c : cases) {
        css(".a { position: absolute; left: 5.4; top: 7.6; color: #0f0; }");
        frame([&] { arrowElement(c.direction, 20, "arrow.a"); });
        auto q = quads();
        ASSERT_EQ(q.size(), 1u);
        EXPECT_TRUE(sameRect(q[0].r, Rect{5, 8, 20, 20})) << "whole pixels";
        EXPECT_EQ(q[0].colour, (Rgba8{0, 255, 0, 255}));
        EXPECT_EQ(q[0].batch->texture, kShapeTexture);
        int cx = int(std::lround(q[0].u0 * 2048)), cy = int(std::lround(q[0].v0 * 2048));
        auto texel = [&](int x, int y) { return shapeAtlas().pixels[size_t(cy + y) * 2048 + size_t(cx + x)]; };
        EXPECT_EQ(texel(c.coveredX, c.coveredY), 255) << "direction " << c.direction;
        EXPECT_EQ(texel(c.emptyX, c.emptyY), 0) << "direction " << c.direction;
    }
}

TEST_F(Draw, RingsShapesAndThePointerComeFromTheShapeAtlas) {
    int32_t square = registerShape(Path(10, 10).moveTo(0, 0).lineTo(10, 0).lineTo(10, 10).lineTo(0, 10).close());
    css(".r { position: absolute; left: 50; top: 50; width: 40; height: 40; background: #fff; }"
        ".v { position: absolute; left: 5.6; top: 0; width: 10.4; height: 8; color: #00f; }");
    setPointerDrawing(true);
    setMouseInWindow(true);
    mouseTo(100.4f, 50.6f);
    frame([&] {
        openElement("div.r");
        setRing(10, 20, 0, 90);
        closeElement();
        openElement("div.v");
        setShape(square);
        closeElement();
    });
    auto q = quads();
    ASSERT_EQ(q.size(), 4u);
    for (const Quad& x : q) EXPECT_EQ(x.batch->texture, kShapeTexture);
    // The ring's canvas covers its outer circle around the box centre (70, 70).
    EXPECT_TRUE(sameRect(q[0].r, Rect{50, 50, 40, 40}));
    int cx = int(std::lround(q[0].u0 * 2048)), cy = int(std::lround(q[0].v0 * 2048));
    auto texel = [&](int x, int y) { return shapeAtlas().pixels[size_t(cy + y) * 2048 + size_t(cx + x)]; };
    EXPECT_EQ(texel(30, 9), 255);  // up and right of the centre
    EXPECT_EQ(texel(9, 30), 0);    // down and left: outside the sweep
    // The shape at its content size and position rounded, in the text colour.
    EXPECT_TRUE(sameRect(q[1].r, Rect{6, 0, 10, 8}));
    EXPECT_EQ(q[1].colour, (Rgba8{0, 0, 255, 255}));
    // The pointer: dark outline, then the light inside, tip on the mouse.
    EXPECT_TRUE(sameRect(q[2].r, Rect{98, 47, 18, 25}));
    EXPECT_EQ(q[2].colour.r, 13);
    EXPECT_EQ(q[3].colour, (Rgba8{255, 255, 255, 255}));
    EXPECT_TRUE(sameRect(q[3].batch->clip, Rect{0, 0, 800, 600}));
}

TEST_F(Draw, ShapesTheAtlasCannotHoldDrawNothing) {
    int32_t square = registerShape(Path(1, 1).moveTo(0, 0).lineTo(1, 0).lineTo(1, 1).close());
    css(".huge { position: absolute; width: 1e30; height: 10; } .r { position: absolute; width: 3000; height: 3000; "
        "background: #fff; }");
    frame([&] {
        arrowElement(0, 2047);
        openElement("div.huge");
        setShape(square);
        closeElement();
        openElement("div.r");
        setRing(1400, 1500, 0, 360);
        closeElement();
    });
    EXPECT_TRUE(list().vertices.empty());
    EXPECT_TRUE(shapeAtlas().cached.empty());
}

TEST_F(Draw, AnAtlasEmptiedMidFrameRebuildsTheFrame) {
    auto big = [](int n) {
        for (int i = 0; i < n; ++i) {
            openElement("div.big");
            setShape(i % 10);
            closeElement();
        }
    };
    for (int i = 0; i < 10; ++i) registerShape(Path(1, 1).moveTo(0, 0).lineTo(1, 0).lineTo(1, 1).close());
    css(".big { width: 1000; height: 1000; position: absolute; }");
    frame([&] { big(4); });  // shapes 0..3 fill the atlas
    ::testing::internal::CaptureStderr();
    frame([&] {
        for (int i = 4; i < 6; ++i) {
            openElement("div.big");
            setShape(i);
            closeElement();
        }
    });
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "KilnUI: the shape atlas was full; emptied (1)\n");
    auto q = quads();
    ASSERT_EQ(q.size(), 2u);
    // Both quads point at the cells the fresh atlas holds now.
    for (size_t i = 0; i < 2; ++i) {
        AtlasRect cell = shapeAtlas().cached.at(ShapeKey{uint64_t(4 + i), 1000, 1000});
        EXPECT_FLOAT_EQ(q[i].u0, float(cell.x) / 2048);
        EXPECT_FLOAT_EQ(q[i].v0, float(cell.y) / 2048);
    }
}

TEST_F(Draw, BuffersKeepTheirCapacityAcrossFrames) {
    css(".f { position: absolute; width: 1; height: 1; background: #fff; }");
    frame([] {
        for (int i = 0; i < 5000; ++i) {
            openElement("div.f");
            closeElement();
        }
    });
    size_t vertices = list().vertices.capacity(), indices = list().indices.capacity();
    EXPECT_GE(vertices, 20000u);
    frame([] {});
    EXPECT_EQ(list().vertices.capacity(), vertices);
    EXPECT_EQ(list().indices.capacity(), indices);
    EXPECT_TRUE(list().vertices.empty());
}

}  // namespace
}  // namespace kiln
