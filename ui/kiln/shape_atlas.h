// KilnUI vector shapes: paths, the CPU coverage rasteriser and the shape
// atlas that caches rasterised shapes for the renderer.
//
// Shapes (icons, arrows, the pointer, ring segments) are drawn as textured
// quads over one 2048 x 2048 coverage texture, like glyphs. Each shape is
// rasterised once per pixel size with smooth (exact-area) edges and then
// reused by its key until the atlas runs full; a full atlas is emptied as a
// whole and refilled, which is cheaper than tracking free space and happens
// only when the screens use an unusual number of distinct shapes or sizes.
//
// Sections:
//   - Paths (moveTo, lineTo, quadTo, cubicTo, close) and the shape registry
//   - The coverage rasteriser
//   - The shape atlas (shapeFor) and its dirty rows
//
// Everything here is portable; the Direct3D backend uploads the dirty rows.
#pragma once

#include <cstdint>
#include <memory>
#include <type_traits>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/text.h"

namespace kiln {

// ---------------------------------------------------------------------------
// Paths

// A filled outline made of contours. Coordinates are in the path's own view
// box (viewWidth x viewHeight), which is stretched over the size the shape is
// drawn at. Every contour is closed implicitly. Overlapping contours of the
// same winding stay covered once; a contour wound the other way cuts a hole.
struct Path {
    enum Op : uint8_t { Move, Line, Quad, Cubic, Close };
    struct Segment {
        Op op = Move;
        float x1 = 0, y1 = 0, x2 = 0, y2 = 0, x3 = 0, y3 = 0;  // control points, then the end point
    };

    float viewWidth = 1, viewHeight = 1;
    std::vector<Segment> segments;

    Path() = default;
    Path(float width, float height) : viewWidth(width), viewHeight(height) {}
    Path& moveTo(float x, float y);
    Path& lineTo(float x, float y);
    Path& quadTo(float cx, float cy, float x, float y);
    Path& cubicTo(float c1x, float c1y, float c2x, float c2y, float x, float y);
    Path& close();
};

// Shapes the screens draw with setShape(): registered once, referred to by
// index. Indices stay valid until resetShapes().
int32_t registerShape(Path path);
const Path* shapePath(int32_t index);  // null for an unknown index
void resetShapes();

// ---------------------------------------------------------------------------
// Coverage rasteriser

// Accumulates the signed area that straight edges cover in each pixel of a
// width x height canvas (pixel (x, y) spans [x, x + 1) x [y, y + 1)), then
// turns it into 8-bit coverage: 255 x min(1, |winding area|). Edges may run
// outside the canvas; what lies outside is cut off exactly.
class CoverageRasteriser {
public:
    void reset(int width, int height);
    int width() const { return width_; }
    int height() const { return height_; }

    void line(float x0, float y0, float x1, float y1);
    // Flattens the path, scaled from its view box to scaleX, scaleY pixels
    // per unit and moved by (dx, dy); curves are cut into straight pieces
    // that stray at most a tenth of a pixel from the curve.
    void path(const Path& path, float scaleX, float scaleY, float dx, float dy);
    // The part of the annulus inner <= d <= outer around (cx, cy) from
    // `startDegrees` sweeping clockwise (0 = straight up) to `endDegrees`;
    // a sweep of 360 or more is the whole annulus.
    void ringSegment(float cx, float cy, float inner, float outer, float startDegrees, float endDegrees);

    // Writes the coverage rows into `out` (stride bytes apart).
    void finish(uint8_t* out, int stride) const;

private:
    void lineInside(float x0, float y0, float x1, float y1);  // 0 <= x <= width
    void arc(float cx, float cy, float radius, float fromDegrees, float toDegrees, bool connect);

    int width_ = 0, height_ = 0;
    int stride_ = 0;  // width + 2: edges at x = width spill one cell over
    std::vector<float> area_;
    // The pen of a path being flattened
    float penX_ = 0, penY_ = 0;
};

// ---------------------------------------------------------------------------
// Shape atlas

// What a shape is cached under: the shape (a registered index, or a
// painter-made key for arrows, rings and the pointer) and its pixel size.
struct ShapeKey {
    uint64_t shape = 0;
    int width = 0, height = 0;
    bool operator==(const ShapeKey& o) const { return shape == o.shape && width == o.width && height == o.height; }
};
struct ShapeKeyHash {
    size_t operator()(const ShapeKey& k) const {
        uint64_t size = uint64_t(uint32_t(k.width)) << 32 | uint32_t(k.height);
        return size_t(ember::launcher::mixWord(ember::launcher::mixWord(0, k.shape), size));
    }
};

// A shape's place in the atlas; ok is false when it is not there (no room
// possible, or an empty size).
struct AtlasRect {
    int x = 0, y = 0, w = 0, h = 0;
    bool ok = false;
};

// Fills a width x height coverage canvas (stride bytes per row, cleared to
// 0): a reference to any callable (pixels, stride, width, height), called at
// most once before shapeFor returns. A reference rather than a
// std::function, so that a cache hit costs no allocation.
class Rasterise {
public:
    template <class F, class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, Rasterise>>>
    Rasterise(F&& fill)  // NOLINT: built implicitly from lambdas at the call
        : object_(const_cast<void*>(static_cast<const void*>(std::addressof(fill)))),
          call_([](void* object, uint8_t* pixels, int stride, int width, int height) {
              (*static_cast<std::remove_reference_t<F>*>(object))(pixels, stride, width, height);
          }) {}
    void operator()(uint8_t* pixels, int stride, int width, int height) const {
        call_(object_, pixels, stride, width, height);
    }

private:
    void* object_;
    void (*call_)(void*, uint8_t*, int, int, int);
};

struct ShapeAtlas {
    static constexpr int kSize = 2048;
    // Largest side that is cached: a shape keeps one empty pixel on every
    // side so that linear filtering never reads a neighbour.
    static constexpr int kMaxSide = kSize - 2;

    // The coverage texels (CPU copy of the texture)
    std::vector<uint8_t> pixels;  // kSize * kSize, made on first use
    // What is where, and where the next shape goes: rows filled left to
    // right, top to bottom, each row as tall as its tallest cell.
    std::unordered_map<ShapeKey, AtlasRect, ShapeKeyHash> cached;
    int cursorX = 0, cursorY = 0, rowHeight = 0;
    // Rows [dirtyTop, dirtyBottom) changed since the last upload; the
    // renderer uploads them and calls markClean().
    int dirtyTop = 0, dirtyBottom = 0;
    // How often the atlas has run full and been emptied (a painter that
    // sees it change in the middle of a frame builds the frame again).
    int emptiedCount = 0;

    bool dirty() const { return dirtyBottom > dirtyTop; }
    void markClean() { dirtyTop = dirtyBottom = 0; }

    // The cached rectangle of `key`, rasterising it on first use. Shapes
    // wider or taller than kMaxSide, or with an empty size, are not cached
    // (ok false).
    AtlasRect shapeFor(const ShapeKey& key, const Rasterise& rasterise);
    // Forgets every shape and clears the texels (the whole texture dirty).
    void empty();
};

// The process's shape atlas.
ShapeAtlas& shapeAtlas();
// Frees the atlas (the toolkit's shutdown, and tests).
void resetShapeAtlas();

// The line written to the error stream when a full atlas is emptied; %d is
// how many times it has been emptied so far.
extern const char* const kShapeAtlasFullMessage;  // "KilnUI: the shape atlas was full; emptied (%d)\n"

}  // namespace kiln
