// The coverage rasteriser (exact areas, edges cut at the canvas, winding,
// curves, ring segments) and the shape atlas (packing, reuse, the size
// limit, emptying when full, dirty rows).
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "ui/kiln/shape_atlas.h"

namespace kiln {
namespace {

struct Canvas {
    int w, h;
    std::vector<uint8_t> px;
    int at(int x, int y) const { return px[size_t(y * w + x)]; }
    double area() const {
        double sum = 0;
        for (uint8_t v : px) sum += v / 255.0;
        return sum;
    }
};

template <class Draw>
Canvas rasterise(int w, int h, Draw draw) {
    CoverageRasteriser r;
    r.reset(w, h);
    draw(r);
    Canvas c{w, h, std::vector<uint8_t>(size_t(w * h), 0)};
    r.finish(c.px.data(), w);
    return c;
}

Path rectPath(float x0, float y0, float x1, float y1, bool reverse = false) {
    Path p(100, 100);
    if (!reverse) return p.moveTo(x0, y0).lineTo(x1, y0).lineTo(x1, y1).lineTo(x0, y1).close();
    return p.moveTo(x0, y0).lineTo(x0, y1).lineTo(x1, y1).lineTo(x1, y0).close();
}

TEST(CoverageRasteriser, PixelsGetTheAreaTheShapeCovers) {
    struct Case {
        const char* what;
        Path path;
        int x, y, want;
    };
    const Case cases[] = {
        {"a pixel half covered on its left", rectPath(0.5f, 0, 3.5f, 4), 0, 1, 128},
        {"a pixel half covered on its right", rectPath(0.5f, 0, 3.5f, 4), 3, 1, 128},
        {"a fully covered interior pixel", rectPath(0.5f, 0, 3.5f, 4), 1, 2, 255},
        {"a quarter pixel at a corner", rectPath(0.5f, 0.5f, 4, 4), 0, 0, 64},
        {"outside the shape", rectPath(2, 2, 4, 4), 0, 0, 0},
        {"a diagonal through the pixel's centre", Path(1, 1).moveTo(0, 0).lineTo(4, 0).lineTo(4, 4).close(), 2, 2, 128},
        {"a shape hanging over the left and top", rectPath(-3, -3, 2, 2), 1, 1, 255},
        {"...and beyond its right side, nothing", rectPath(-3, -3, 2, 2), 2, 1, 0},
        {"a shape hanging over the right and bottom", rectPath(3, 3, 9, 9), 3, 3, 255},
        {"a slanted edge crossing the left side", Path(1, 1).moveTo(-4, 0).lineTo(4, 4).lineTo(-4, 4).close(), 0, 3,
         255},
        {"two overlapping contours of one winding count once", rectPath(0, 0, 4, 4).moveTo(1, 1).lineTo(3, 1).lineTo(3, 3).lineTo(1, 3),
         1, 1, 255},
    };
    for (const Case& c : cases) {
        // The paths above are in pixels: view box 1 x 1 scaled by 1.
        Canvas canvas = rasterise(4, 4, [&](CoverageRasteriser& r) { r.path(c.path, 1, 1, 0, 0); });
        EXPECT_EQ(canvas.at(c.x, c.y), c.want) << c.what;
    }
}

TEST(CoverageRasteriser, AContourWoundTheOtherWayCutsAHole) {
    Path p = rectPath(0, 0, 6, 6);
    for (const Path::Segment& s : rectPath(2, 2, 4, 4, true).segments) p.segments.push_back(s);
    Canvas c = rasterise(6, 6, [&](CoverageRasteriser& r) { r.path(p, 1, 1, 0, 0); });
    EXPECT_EQ(c.at(2, 2), 0);
    EXPECT_EQ(c.at(1, 1), 255);
    EXPECT_NEAR(c.area(), 32, 0.01);
}

TEST(CoverageRasteriser, TotalCoverageIsTheArea) {
    constexpr double kPi = 3.14159265358979323846;
    const float k = 0.5522847f;  // cubic handles of a quarter circle
    struct Case {
        const char* what;
        Path path;
        float scale;
        double area, tolerance;
    };
    const Case cases[] = {
        {"a triangle", Path(1, 1).moveTo(1.3f, 2.1f).lineTo(17.8f, 5.6f).lineTo(7.2f, 18.9f).close(), 1,
         0.5 * std::fabs((17.8 - 1.3) * (18.9 - 2.1) - (7.2 - 1.3) * (5.6 - 2.1)), 0.02},
        {"a circle of four cubics, radius 8", Path(1, 1)
                                                  .moveTo(10, 2)
                                                  .cubicTo(10 + 8 * k, 2, 18, 10 - 8 * k, 18, 10)
                                                  .cubicTo(18, 10 + 8 * k, 10 + 8 * k, 18, 10, 18)
                                                  .cubicTo(10 - 8 * k, 18, 2, 10 + 8 * k, 2, 10)
                                                  .cubicTo(2, 10 - 8 * k, 10 - 8 * k, 2, 10, 2),
         1, kPi * 64, 0.3},
        {"a parabolic segment (2/3 of its box)", Path(1, 1).moveTo(2, 18).quadTo(10, -14, 18, 18).close(), 1,
         2.0 / 3.0 * 16 * 16, 0.3},
        {"a view box scaled to the canvas", rectPath(0, 0, 0.5f, 0.5f), 20, 100, 0.01},
    };
    for (const Case& c : cases) {
        Canvas canvas = rasterise(20, 20, [&](CoverageRasteriser& r) { r.path(c.path, c.scale, c.scale, 0, 0); });
        EXPECT_NEAR(canvas.area(), c.area, c.area * 0.01 + c.tolerance) << c.what;
    }
}

TEST(CoverageRasteriser, RingSegmentsSweepClockwiseFromStraightUp) {
    constexpr double kPi = 3.14159265358979323846;
    struct Case {
        const char* what;
        float inner, outer, start, end;
        double area;
        std::vector<std::pair<int, int>> covered, empty;  // pixels relative to the centre
    };
    const Case cases[] = {
        {"a whole annulus", 10, 20, 0, 360, kPi * 300, {{14, 0}, {0, -15}, {-11, 10}}, {{0, 0}, {3, 3}, {19, 19}}},
        {"a quarter from up to right", 10, 20, 0, 90, kPi * 75, {{10, -10}}, {{-11, -11}, {10, 10}, {-11, 10}}},
        {"a quarter from right to down", 10, 20, 90, 180, kPi * 75, {{10, 10}}, {{10, -11}, {-11, 10}}},
        {"a pie slice without a hole", 0, 20, 180, 270, kPi * 100, {{-2, 2}, {-12, 12}}, {{2, 2}, {-12, -12}}},
        {"no sweep draws nothing", 10, 20, 90, 90, 0, {}, {{14, 0}}},
        {"an inner radius above the outer draws nothing", 20, 10, 0, 360, 0, {}, {{14, 0}}},
    };
    for (const Case& c : cases) {
        Canvas canvas = rasterise(50, 50, [&](CoverageRasteriser& r) {
            r.ringSegment(25, 25, c.inner, c.outer, c.start, c.end);
        });
        EXPECT_NEAR(canvas.area(), c.area, c.area * 0.005 + 0.01) << c.what;
        for (auto [dx, dy] : c.covered) EXPECT_EQ(canvas.at(25 + dx, 25 + dy), 255) << c.what << " at " << dx << "," << dy;
        for (auto [dx, dy] : c.empty) EXPECT_EQ(canvas.at(25 + dx, 25 + dy), 0) << c.what << " at " << dx << "," << dy;
    }
}

TEST(CoverageRasteriser, BrokenInputDrawsNothing) {
    Canvas c = rasterise(8, 8, [](CoverageRasteriser& r) {
        r.line(NAN, 0, 4, 8);
        r.line(0, 0, INFINITY, 8);
        r.ringSegment(4, 4, 0, NAN, 0, 360);
    });
    EXPECT_EQ(c.area(), 0);
    Canvas empty = rasterise(0, 0, [](CoverageRasteriser& r) { r.line(0, 0, 4, 4); });
    EXPECT_TRUE(empty.px.empty());
}

// ---------------------------------------------------------------------------
// Shape atlas

class ShapeAtlasTest : public ::testing::Test {
protected:
    void SetUp() override { resetShapeAtlas(); }
    void TearDown() override { resetShapeAtlas(); }

    // Caches a shape that fills its canvas with `value`, counting rasterisations.
    AtlasRect add(uint64_t shape, int w, int h, uint8_t value = 255) {
        auto fill = [&](uint8_t* px, int stride, int cw, int ch) {
            ++rasterised;
            for (int y = 0; y < ch; ++y)
                for (int x = 0; x < cw; ++x) px[y * stride + x] = value;
        };
        return shapeAtlas().shapeFor(ShapeKey{shape, w, h}, fill);
    }
    static int texel(int x, int y) { return shapeAtlas().pixels[size_t(y) * ShapeAtlas::kSize + size_t(x)]; }

    int rasterised = 0;
};

TEST_F(ShapeAtlasTest, PacksRowsLeftToRightWithABlankPixelAround) {
    struct Step {
        uint64_t shape;
        int w, h;
        int x, y;  // where it should land
    };
    const Step steps[] = {
        {1, 10, 20, 1, 1},       {2, 30, 5, 13, 1},         // along the first row
        {1, 11, 20, 45, 1},      {3, 1990, 8, 1, 23},       // another size is another shape; a new row
        {4, 4, 4, 1993, 23},     {5, 60, 60, 1, 33},        // the row is as tall as its tallest cell
    };
    for (const Step& s : steps) {
        AtlasRect r = add(s.shape, s.w, s.h);
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.x, s.x) << "shape " << s.shape;
        EXPECT_EQ(r.y, s.y) << "shape " << s.shape;
        EXPECT_EQ(texel(r.x, r.y), 255);
        EXPECT_EQ(texel(r.x - 1, r.y - 1), 0);
        EXPECT_EQ(texel(r.x + r.w, r.y + r.h), 0);
    }
    // A cached shape is not rasterised again.
    int before = rasterised;
    AtlasRect again = add(1, 10, 20);
    EXPECT_EQ(rasterised, before);
    EXPECT_EQ(again.x, 1);
    EXPECT_EQ(again.y, 1);
}

TEST_F(ShapeAtlasTest, SizesAboveTheLimitOrEmptyAreNotCached) {
    struct Case {
        int w, h;
        bool ok;
    };
    const Case cases[] = {{2046, 10, true}, {10, 2046, true}, {2047, 10, false}, {10, 2047, false},
                          {0, 10, false},   {10, -1, false}};
    for (const Case& c : cases) {
        resetShapeAtlas();
        rasterised = 0;
        EXPECT_EQ(add(7, c.w, c.h).ok, c.ok) << c.w << " x " << c.h;
        EXPECT_EQ(rasterised, c.ok ? 1 : 0);
    }
}

TEST_F(ShapeAtlasTest, AFullAtlasIsEmptiedAndSaysSo) {
    // Four cells of 1002 x 1002 fill the atlas; the fifth starts it over.
    for (uint64_t s = 1; s <= 4; ++s) add(s, 1000, 1000, 200);
    EXPECT_EQ(shapeAtlas().cached.size(), 4u);
    shapeAtlas().markClean();

    ::testing::internal::CaptureStderr();
    AtlasRect fifth = add(5, 1000, 1000, 100);
    std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(said, "KilnUI: the shape atlas was full; emptied (1)\n");
    EXPECT_EQ(shapeAtlas().emptiedCount, 1);
    EXPECT_EQ(fifth.x, 1);
    EXPECT_EQ(fifth.y, 1);
    EXPECT_EQ(shapeAtlas().cached.size(), 1u);  // the old shapes are forgotten
    EXPECT_EQ(texel(1500, 1500), 0);            // and their texels cleared
    EXPECT_EQ(texel(500, 500), 100);
    EXPECT_EQ(shapeAtlas().dirtyTop, 0);  // the whole texture goes up again
    EXPECT_EQ(shapeAtlas().dirtyBottom, ShapeAtlas::kSize);

    // A forgotten shape comes back (rasterised again); the count goes on.
    for (uint64_t s = 1; s <= 3; ++s) add(s, 1000, 1000);
    ::testing::internal::CaptureStderr();
    add(6, 1000, 1000);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "KilnUI: the shape atlas was full; emptied (2)\n");
}

TEST_F(ShapeAtlasTest, OnlyTheRowsOfNewShapesAreDirty) {
    add(1, 10, 10);
    shapeAtlas().markClean();
    EXPECT_FALSE(shapeAtlas().dirty());
    add(1, 10, 10);  // cached: nothing changes
    EXPECT_FALSE(shapeAtlas().dirty());
    AtlasRect r = add(2, 2040, 30);  // next row
    EXPECT_EQ(shapeAtlas().dirtyTop, r.y - 1);
    EXPECT_EQ(shapeAtlas().dirtyBottom, r.y + 31);
}

TEST_F(ShapeAtlasTest, RegisteredShapesKeepTheirIndexUntilReset) {
    resetShapes();
    int32_t a = registerShape(Path(2, 2).moveTo(0, 0).lineTo(2, 0).lineTo(2, 2).close());
    int32_t b = registerShape(Path(1, 1));
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 1);
    ASSERT_NE(shapePath(a), nullptr);
    EXPECT_EQ(shapePath(a)->viewWidth, 2);
    EXPECT_EQ(shapePath(2), nullptr);
    EXPECT_EQ(shapePath(-1), nullptr);
    add(uint64_t(a), 5, 5);
    resetShapes();  // cells cached under the old indices go too
    EXPECT_EQ(shapePath(a), nullptr);
    EXPECT_TRUE(shapeAtlas().cached.empty());
}

}  // namespace
}  // namespace kiln
