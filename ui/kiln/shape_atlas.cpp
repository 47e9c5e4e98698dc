// KilnUI vector shapes: paths, the exact-area coverage rasteriser and the
// shape atlas (see shape_atlas.h).
//
// The rasteriser is the signed-area accumulation kind: each edge adds, per
// pixel it crosses, the area it covers to its right (positive going down,
// negative going up); a running sum along the row then gives each pixel's
// covered area. Edges are cut exactly at the canvas' left and right sides,
// rows outside the canvas are skipped, so shapes may hang over the canvas.
#include "ui/kiln/shape_atlas.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

namespace kiln {

const char* const kShapeAtlasFullMessage = "KilnUI: the shape atlas was full; emptied (%d)\n";

namespace {

// Curves and arcs are cut into straight pieces that stray at most this far
// (pixels) from the true outline.
constexpr float kFlatness = 0.1f;
constexpr float kArcFlatness = 0.02f;
constexpr int kMaxCurvePieces = 1024;
constexpr int kMaxArcPieces = 4096;
constexpr float kPi = 3.14159265358979323846f;

bool finite(float v) { return std::isfinite(v); }

}  // namespace

// ---------------------------------------------------------------------------
// Paths and the shape registry

Path& Path::moveTo(float x, float y) {
    segments.push_back(Segment{Move, 0, 0, 0, 0, x, y});
    return *this;
}
Path& Path::lineTo(float x, float y) {
    segments.push_back(Segment{Line, 0, 0, 0, 0, x, y});
    return *this;
}
Path& Path::quadTo(float cx, float cy, float x, float y) {
    segments.push_back(Segment{Quad, cx, cy, 0, 0, x, y});
    return *this;
}
Path& Path::cubicTo(float c1x, float c1y, float c2x, float c2y, float x, float y) {
    segments.push_back(Segment{Cubic, c1x, c1y, c2x, c2y, x, y});
    return *this;
}
Path& Path::close() {
    segments.push_back(Segment{Close, 0, 0, 0, 0, 0, 0});
    return *this;
}

namespace {
std::vector<Path>& shapeRegistry() {
    static std::vector<Path> shapes;
    return shapes;
}
}  // namespace

int32_t registerShape(Path path) {
    std::vector<Path>& shapes = shapeRegistry();
    shapes.push_back(std::move(path));
    return int32_t(shapes.size() - 1);
}

const Path* shapePath(int32_t index) {
    const std::vector<Path>& shapes = shapeRegistry();
    return index >= 0 && size_t(index) < shapes.size() ? &shapes[size_t(index)] : nullptr;
}


// ---------------------------------------------------------------------------
// Coverage rasteriser

void CoverageRasteriser::reset(int width, int height) {
    width_ = std::max(0, width);
    height_ = std::max(0, height);
    stride_ = width_ + 2;
    area_.assign(size_t(stride_) * size_t(height_), 0.0f);
}

void CoverageRasteriser::line(float x0, float y0, float x1, float y1) {
    if (!finite(x0) || !finite(y0) || !finite(x1) || !finite(y1)) return;
    if (y0 == y1 || width_ == 0 || height_ == 0) return;
    // Cut the edge where it crosses the left (x = 0) and right (x = width)
    // sides; the pieces outside become vertical edges on the side they lie
    // beyond, which covers the canvas exactly as the original piece would.
    const float w = float(width_);
    float cuts[2];
    int count = 0;
    for (float side : {0.0f, w}) {
        if ((x0 < side && x1 > side) || (x0 > side && x1 < side)) cuts[count++] = (side - x0) / (x1 - x0);
    }
    if (count == 2 && cuts[0] > cuts[1]) std::swap(cuts[0], cuts[1]);
    float px = x0, py = y0;
    for (int i = 0; i <= count; ++i) {
        float t1 = i < count ? cuts[i] : 1.0f;
        float qx = i < count ? x0 + (x1 - x0) * t1 : x1;
        float qy = i < count ? y0 + (y1 - y0) * t1 : y1;
        // The piece's middle tells which side (if any) it lies beyond.
        float mid = 0.5f * (px + qx);
        float ax = mid <= 0 ? 0.0f : mid >= w ? w : std::clamp(px, 0.0f, w);
        float bx = mid <= 0 ? 0.0f : mid >= w ? w : std::clamp(qx, 0.0f, w);
        lineInside(ax, py, bx, qy);
        px = qx;
        py = qy;
    }
}

void CoverageRasteriser::lineInside(float x0, float y0, float x1, float y1) {
    if (y0 == y1) return;
    float dir = 1;
    if (y0 > y1) {
        std::swap(x0, x1);
        std::swap(y0, y1);
        dir = -1;
    }
    const float h = float(height_);
    if (y1 <= 0 || y0 >= h) return;
    const float dxdy = (x1 - x0) / (y1 - y0);
    const int rowFirst = y0 <= 0 ? 0 : int(y0);
    const int rowEnd = y1 >= h ? height_ : int(std::ceil(y1));
    const float maxX = float(width_);
    // x where the edge enters the first row handled
    float x = std::clamp(x0 + (std::max(y0, float(rowFirst)) - y0) * dxdy, 0.0f, maxX);
    for (int y = rowFirst; y < rowEnd; ++y) {
        float top = std::max(float(y), y0), bottom = std::min(float(y + 1), y1);
        float dy = bottom - top;
        float xnext = std::clamp(x + dxdy * dy, 0.0f, maxX);
        float d = dy * dir;
        float* row = &area_[size_t(y) * size_t(stride_)];
        float xa = std::min(x, xnext), xb = std::max(x, xnext);
        float xaFloor = std::floor(xa);
        int xai = int(xaFloor);
        float xbCeil = std::ceil(xb);
        int xbi = int(xbCeil);
        if (xbi <= xai + 1) {
            // The edge stays within one pixel column (or on its border): the
            // pixel gets the part left of the edge's mean x, the next the rest.
            float xmf = 0.5f * (x + xnext) - xaFloor;
            row[xai] += d - d * xmf;
            row[xai + 1] += d * xmf;
        } else {
            // Across several columns: a triangle in the first, a trapezoid
            // strip through the middle, the rest in the last.
            float s = 1.0f / (xb - xa);
            float xaf = xa - xaFloor;
            float a0 = 0.5f * s * (1 - xaf) * (1 - xaf);
            float xbf = xb - xbCeil + 1;
            float am = 0.5f * s * xbf * xbf;
            row[xai] += d * a0;
            if (xbi == xai + 2) {
                row[xai + 1] += d * (1 - a0 - am);
            } else {
                float a1 = s * (1.5f - xaf);
                row[xai + 1] += d * (a1 - a0);
                for (int xi = xai + 2; xi < xbi - 1; ++xi) row[xi] += d * s;
                float a2 = a1 + float(xbi - xai - 3) * s;
                row[xbi - 1] += d * (1 - a2 - am);
            }
            row[xbi] += d * am;
        }
        x = xnext;
    }
}

void CoverageRasteriser::path(const Path& p, float scaleX, float scaleY, float dx, float dy) {
    float startX = 0, startY = 0;
    bool open = false;
    auto tx = [&](float v) { return v * scaleX + dx; };
    auto ty = [&](float v) { return v * scaleY + dy; };
    auto to = [&](float x, float y) {
        line(penX_, penY_, x, y);
        penX_ = x;
        penY_ = y;
    };
    auto closeContour = [&]() {
        if (open) to(startX, startY);
        open = false;
    };
    for (const Path::Segment& s : p.segments) {
        switch (s.op) {
            case Path::Move:
                closeContour();
                penX_ = startX = tx(s.x3);
                penY_ = startY = ty(s.y3);
                open = true;
                break;
            case Path::Line:
                if (!open) {
                    penX_ = startX;
                    penY_ = startY;
                    open = true;
                }
                to(tx(s.x3), ty(s.y3));
                break;
            case Path::Quad: {
                if (!open) {
                    penX_ = startX;
                    penY_ = startY;
                    open = true;
                }
                float x0 = penX_, y0 = penY_, x1 = tx(s.x1), y1 = ty(s.y1), x2 = tx(s.x3), y2 = ty(s.y3);
                // Chord error of n pieces: |p0 - 2 p1 + p2| / (4 n^2)
                float ddx = x0 - 2 * x1 + x2, ddy = y0 - 2 * y1 + y2;
                float dd = std::sqrt(ddx * ddx + ddy * ddy);
                float pieces = std::ceil(std::sqrt(dd / (4 * kFlatness)));
                int n = finite(pieces) ? std::clamp(int(std::min(pieces, 1e6f)), 1, kMaxCurvePieces) : 1;
                for (int i = 1; i <= n; ++i) {
                    float t = float(i) / float(n), u = 1 - t;
                    to(u * u * x0 + 2 * u * t * x1 + t * t * x2, u * u * y0 + 2 * u * t * y1 + t * t * y2);
                }
                break;
            }
            case Path::Cubic: {
                if (!open) {
                    penX_ = startX;
                    penY_ = startY;
                    open = true;
                }
                float x0 = penX_, y0 = penY_, x1 = tx(s.x1), y1 = ty(s.y1), x2 = tx(s.x2), y2 = ty(s.y2);
                float x3 = tx(s.x3), y3 = ty(s.y3);
                // Chord error of n pieces: at most 3 m / (4 n^2), m the larger
                // second difference of the control points.
                float m1 = std::hypot(x0 - 2 * x1 + x2, y0 - 2 * y1 + y2);
                float m2 = std::hypot(x1 - 2 * x2 + x3, y1 - 2 * y2 + y3);
                float pieces = std::ceil(std::sqrt(3 * std::max(m1, m2) / (4 * kFlatness)));
                int n = finite(pieces) ? std::clamp(int(std::min(pieces, 1e6f)), 1, kMaxCurvePieces) : 1;
                for (int i = 1; i <= n; ++i) {
                    float t = float(i) / float(n), u = 1 - t;
                    float a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, e = t * t * t;
                    to(a * x0 + b * x1 + c * x2 + e * x3, a * y0 + b * y1 + c * y2 + e * y3);
                }
                break;
            }
            case Path::Close:
                closeContour();
                penX_ = startX;
                penY_ = startY;
                break;
        }
    }
    closeContour();
}

void CoverageRasteriser::arc(float cx, float cy, float radius, float fromDegrees, float toDegrees, bool connect) {
    // Enough pieces that each chord strays at most kArcFlatness inside.
    float sweep = (toDegrees - fromDegrees) * kPi / 180.0f;
    float step = radius > kArcFlatness ? 2.0f * std::acos(1.0f - kArcFlatness / radius) : kPi / 2;
    int n = std::clamp(int(std::ceil(std::fabs(sweep) / step)), 1, kMaxArcPieces);
    auto point = [&](float degrees, float& x, float& y) {
        float a = degrees * kPi / 180.0f;
        x = cx + radius * std::sin(a);
        y = cy - radius * std::cos(a);
    };
    float x, y;
    point(fromDegrees, x, y);
    if (connect) line(penX_, penY_, x, y);
    penX_ = x;
    penY_ = y;
    for (int i = 1; i <= n; ++i) {
        point(fromDegrees + (toDegrees - fromDegrees) * float(i) / float(n), x, y);
        line(penX_, penY_, x, y);
        penX_ = x;
        penY_ = y;
    }
}

void CoverageRasteriser::ringSegment(float cx, float cy, float inner, float outer, float startDegrees,
                                     float endDegrees) {
    if (!finite(cx) || !finite(cy) || !finite(inner) || !finite(outer) || !finite(startDegrees) ||
        !finite(endDegrees)) {
        return;
    }
    inner = std::max(inner, 0.0f);
    float sweep = endDegrees - startDegrees;
    if (outer <= inner || sweep <= 0) return;
    if (sweep >= 360) {
        // The whole annulus: the outer circle clockwise, the inner one back
        // the other way so that it cuts the hole.
        arc(cx, cy, outer, 0, 360, false);
        if (inner > 0) arc(cx, cy, inner, 360, 0, false);
        return;
    }
    // One contour: along the outer edge, across, back along the inner edge
    // (or through the centre for a pie slice), and across again.
    arc(cx, cy, outer, startDegrees, endDegrees, false);
    float firstX = cx + outer * std::sin(startDegrees * kPi / 180.0f);
    float firstY = cy - outer * std::cos(startDegrees * kPi / 180.0f);
    if (inner > 0) {
        arc(cx, cy, inner, endDegrees, startDegrees, true);
    } else {
        line(penX_, penY_, cx, cy);
        penX_ = cx;
        penY_ = cy;
    }
    line(penX_, penY_, firstX, firstY);
}

void CoverageRasteriser::finish(uint8_t* out, int stride) const {
    for (int y = 0; y < height_; ++y) {
        const float* row = &area_[size_t(y) * size_t(stride_)];
        uint8_t* dst = out + size_t(y) * size_t(stride);
        float sum = 0;
        for (int x = 0; x < width_; ++x) {
            sum += row[x];
            float v = std::min(std::fabs(sum), 1.0f);
            dst[x] = uint8_t(v * 255.0f + 0.5f);
        }
    }
}

// ---------------------------------------------------------------------------
// Shape atlas

namespace {

std::unique_ptr<ShapeAtlas>& atlasSlot() {
    static std::unique_ptr<ShapeAtlas> atlas;
    return atlas;
}

void markDirty(ShapeAtlas& atlas, int top, int bottom) {
    if (!atlas.dirty()) {
        atlas.dirtyTop = top;
        atlas.dirtyBottom = bottom;
        return;
    }
    atlas.dirtyTop = std::min(atlas.dirtyTop, top);
    atlas.dirtyBottom = std::max(atlas.dirtyBottom, bottom);
}

}  // namespace

void ShapeAtlas::empty() {
    pixels.assign(size_t(kSize) * size_t(kSize), 0);
    cached.clear();
    cursorX = cursorY = rowHeight = 0;
    dirtyTop = 0;
    dirtyBottom = kSize;
}

AtlasRect ShapeAtlas::shapeFor(const ShapeKey& key, const Rasterise& rasterise) {
    // Sizes that are never cached
    if (key.width <= 0 || key.height <= 0 || key.width > kMaxSide || key.height > kMaxSide) return AtlasRect{};
    auto found = cached.find(key);
    if (found != cached.end()) return found->second;

    // A cell with a blank pixel on every side, in the current row or a
    // new one below it; when neither has room the atlas starts over.
    if (pixels.empty()) empty();
    const int cellW = key.width + 2, cellH = key.height + 2;
    if (cursorX + cellW > kSize) {
        cursorX = 0;
        cursorY += rowHeight;
        rowHeight = 0;
    }
    if (cursorY + cellH > kSize) {
        empty();
        ++emptiedCount;
        std::fprintf(stderr, kShapeAtlasFullMessage, emptiedCount);
    }
    AtlasRect rect{cursorX + 1, cursorY + 1, key.width, key.height, true};
    cursorX += cellW;
    rowHeight = std::max(rowHeight, cellH);

    // The coverage goes straight into the texels (they are still 0 there).
    rasterise(&pixels[size_t(rect.y) * kSize + size_t(rect.x)], kSize, rect.w, rect.h);
    markDirty(*this, rect.y - 1, rect.y + rect.h + 1);
    cached.emplace(key, rect);
    return rect;
}

ShapeAtlas& shapeAtlas() {
    std::unique_ptr<ShapeAtlas>& slot = atlasSlot();
    if (!slot) {
        slot = std::make_unique<ShapeAtlas>();
        slot->empty();
    }
    return *slot;
}

void resetShapeAtlas() { atlasSlot().reset(); }

void resetShapes() {
    shapeRegistry().clear();
    // Cells cached under the old indices would show the wrong shapes.
    if (atlasSlot()) atlasSlot()->empty();
}

}  // namespace kiln
