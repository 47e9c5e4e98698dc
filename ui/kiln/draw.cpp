// KilnUI draw list: primitives and the painter (see draw.h).
//
// Sections:
//   - Colours and the draw list's records
//   - DrawBuilder: batches, clipping, rectangles, rounded boxes, quads
//   - Shapes the painter makes itself: arrows, ring segments, the pointer
//   - Painting one element (ring, shape, text, or the box's layers)
//   - The frame: opacity products, the paint list, the pointer, the summary
#include "ui/kiln/draw.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/text.h"
#include "ui/kiln/images.h"

namespace kiln {

// ---------------------------------------------------------------------------
// Colours and records

namespace {

uint8_t channel(float v) {
    // NaN and anything below 0 is 0 (the comparisons' order matters).
    float c = std::min(1.0f, std::max(0.0f, v));
    return uint8_t(c * 255.0f + 0.5f);
}

bool sameRect(const Rect& a, const Rect& b) { return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h; }

Rect unite(const Rect& a, const Rect& b) {
    float x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
    float x1 = std::max(a.x + a.w, b.x + b.w), y1 = std::max(a.y + a.h, b.y + b.h);
    return Rect{x0, y0, x1 - x0, y1 - y0};
}

float snap(float v) { return std::floor(v + 0.5f); }

// Initial capacity of a draw list: enough for a busy screen, so that a
// frame normally never reallocates.
constexpr size_t kReserveVertices = 16384;
constexpr size_t kReserveIndices = 24576;
constexpr size_t kReserveBatches = 256;

constexpr float kAtlasTexel = 1.0f / 2048.0f;

}  // namespace

Rgba8 toRgba8(const Colour& colour, float opacity) {
    return Rgba8{channel(colour.r), channel(colour.g), channel(colour.b), channel(colour.a * opacity)};
}

void DrawList::clear() {
    vertices.clear();
    indices.clear();
    batches.clear();
    summary = FrameSummary{};
}

// ---------------------------------------------------------------------------
// DrawBuilder

void DrawBuilder::begin(float width, float height) {
    list_.clear();
    // The first frame sets the capacity; later frames keep what they grew to.
    if (list_.vertices.capacity() < kReserveVertices) list_.vertices.reserve(kReserveVertices);
    if (list_.indices.capacity() < kReserveIndices) list_.indices.reserve(kReserveIndices);
    if (list_.batches.capacity() < kReserveBatches) list_.batches.reserve(kReserveBatches);
    list_.summary.width = width;
    list_.summary.height = height;
    clip_ = Rect{0, 0, width, height};
}

void DrawBuilder::finish() { list_.summary.vertexCount = uint32_t(list_.vertices.size()); }

void DrawBuilder::use(TextureRef texture, ShaderKind shader) {
    if (!list_.batches.empty()) {
        Batch& last = list_.batches.back();
        if (last.texture == texture && last.shader == shader && sameRect(last.clip, clip_)) return;
    }
    list_.batches.push_back(Batch{clip_, texture, shader, uint32_t(list_.indices.size()), 0});
}

bool DrawBuilder::visible(const Rect& bounds) {
    Rect inside = intersect(bounds, clip_);
    if (!(inside.w > 0) || !(inside.h > 0)) return false;
    Rect& changed = list_.summary.changed;
    changed = (changed.w > 0 && changed.h > 0) ? unite(changed, inside) : inside;
    return true;
}

uint32_t DrawBuilder::grow(uint32_t vertexCount, uint32_t indexCount, Vertex*& vertices, uint32_t*& indices) {
    // One resize per primitive rather than a push per vertex: the fill of
    // the new slots costs less than a capacity check per element.
    const size_t vb = list_.vertices.size(), ib = list_.indices.size();
    list_.vertices.resize(vb + vertexCount);
    list_.indices.resize(ib + indexCount);
    list_.batches.back().indexCount += indexCount;
    vertices = &list_.vertices[vb];
    indices = &list_.indices[ib];
    return uint32_t(vb);
}

namespace {

// Two triangles (a b c) (a c d) over the quad whose first vertex is `base`.
inline void quadIndices(uint32_t* out, uint32_t base) {
    out[0] = base;
    out[1] = base + 1;
    out[2] = base + 2;
    out[3] = base;
    out[4] = base + 2;
    out[5] = base + 3;
}

inline void quadVertices(Vertex* v, float x0, float y0, float x1, float y1, float u0, float v0, float u1, float v1,
                         Rgba8 colour) {
    v[0] = Vertex{x0, y0, u0, v0, colour};
    v[1] = Vertex{x1, y0, u1, v0, colour};
    v[2] = Vertex{x1, y1, u1, v1, colour};
    v[3] = Vertex{x0, y1, u0, v1, colour};
}

// Cosine and sine of every 15 degree step of a turn (and one more).
struct Steps {
    float cos[25], sin[25];
};
const Steps kSteps = [] {
    Steps t{};
    for (int k = 0; k < 25; ++k) {
        double a = k * 15.0 * 3.14159265358979323846 / 180.0;
        t.cos[k] = float(std::cos(a));
        t.sin[k] = float(std::sin(a));
    }
    return t;
}();

}  // namespace

void DrawBuilder::quad(const Rect& r, float u0, float v0, float u1, float v1, Rgba8 colour, TextureRef texture,
                       ShaderKind shader) {
    if (colour.a == 0 || !(r.w > 0) || !(r.h > 0) || !visible(r)) return;
    use(texture, shader);
    Vertex* v;
    uint32_t* ix;
    uint32_t base = grow(4, 6, v, ix);
    quadVertices(v, r.x, r.y, r.x + r.w, r.y + r.h, u0, v0, u1, v1, colour);
    quadIndices(ix, base);
}

void DrawBuilder::rect(const Rect& r, Rgba8 colour) {
    quad(r, kFullCoverageUv, kFullCoverageUv, kFullCoverageUv, kFullCoverageUv, colour, kGlyphTexture,
         ShaderKind::Coverage);
}

void DrawBuilder::roundedBox(const Rect& r, float radius, Rgba8 colour) {
    if (colour.a == 0 || !(r.w > 0) || !(r.h > 0)) return;
    float rad = std::min(radius, std::min(r.w, r.h) * 0.5f);
    if (!(rad > 0.5f)) {
        rect(r, colour);
        return;
    }
    if (!visible(r)) return;
    use(kGlyphTexture, ShaderKind::Coverage);
    const float uv = kFullCoverageUv;

    // The centre column over the whole height, the two side columns
    // between the corners (left out when they have no area)
    const bool centre = r.w - 2 * rad > 0, sides = r.h - 2 * rad > 0;
    const uint32_t pieces = (centre ? 1u : 0u) + (sides ? 2u : 0u);
    Vertex* v;
    uint32_t* ix;
    uint32_t base = grow(pieces * 4 + 4 * 8, pieces * 6 + 4 * 18, v, ix);
    auto piece = [&](float x0, float y0, float x1, float y1) {
        quadVertices(v, x0, y0, x1, y1, uv, uv, uv, uv, colour);
        quadIndices(ix, base);
        v += 4;
        ix += 6;
        base += 4;
    };
    if (centre) piece(r.x + rad, r.y, r.x + r.w - rad, r.y + r.h);
    if (sides) {
        piece(r.x, r.y + rad, r.x + rad, r.y + r.h - rad);
        piece(r.x + r.w - rad, r.y + rad, r.x + r.w, r.y + r.h - rad);
    }

    // Four corner fans of 6 triangles (15 degree steps), each sweeping a
    // quarter turn; angles in screen terms (y down): 180 is left, 270 up.
    const float cx[4] = {r.x + rad, r.x + r.w - rad, r.x + r.w - rad, r.x + rad};
    const float cy[4] = {r.y + rad, r.y + rad, r.y + r.h - rad, r.y + r.h - rad};
    const int firstStep[4] = {12, 18, 0, 6};  // top-left, top-right, bottom-right, bottom-left
    for (int corner = 0; corner < 4; ++corner) {
        v[0] = Vertex{cx[corner], cy[corner], uv, uv, colour};
        for (int k = 0; k <= 6; ++k) {
            int step = firstStep[corner] + k;
            v[1 + k] = Vertex{cx[corner] + rad * kSteps.cos[step], cy[corner] + rad * kSteps.sin[step], uv, uv, colour};
        }
        for (uint32_t k = 0; k < 6; ++k) {
            ix[3 * k] = base;
            ix[3 * k + 1] = base + 1 + k;
            ix[3 * k + 2] = base + 2 + k;
        }
        v += 8;
        ix += 18;
        base += 8;
    }
}

void DrawBuilder::shape(const AtlasRect& cell, float x, float y, Rgba8 colour) {
    if (!cell.ok) return;
    quad(Rect{x, y, float(cell.w), float(cell.h)}, float(cell.x) * kAtlasTexel, float(cell.y) * kAtlasTexel,
         float(cell.x + cell.w) * kAtlasTexel, float(cell.y + cell.h) * kAtlasTexel, colour, kShapeTexture,
         ShaderKind::Coverage);
}

// ---------------------------------------------------------------------------
// Painter-made shapes

namespace {

// Namespaces of shape keys: registered shapes use their index (below 2^31).
constexpr uint64_t kArrowKey = 1ull << 62;
constexpr uint64_t kRingKey = 2ull << 62;
constexpr uint64_t kPointerKey = 3ull << 62;

CoverageRasteriser& rasteriser() {
    static CoverageRasteriser r;
    return r;
}

// Fills a canvas with a path stretched over it.
auto pathFiller(const Path& path) {
    return [&path](uint8_t* pixels, int stride, int w, int h) {
        CoverageRasteriser& r = rasteriser();
        r.reset(w, h);
        float sx = path.viewWidth > 0 ? float(w) / path.viewWidth : 0;
        float sy = path.viewHeight > 0 ? float(h) / path.viewHeight : 0;
        r.path(path, sx, sy, 0, 0);
        r.finish(pixels, stride);
    };
}

// The triangle of an arrow in a unit box: base at 28 %, tip at 72 %.
const Path& arrowPath(int direction) {
    static const Path paths[4] = {
        Path(1, 1).moveTo(0.5f, 0.28f).lineTo(0.72f, 0.72f).lineTo(0.28f, 0.72f).close(),  // up
        Path(1, 1).moveTo(0.72f, 0.5f).lineTo(0.28f, 0.72f).lineTo(0.28f, 0.28f).close(),  // right
        Path(1, 1).moveTo(0.5f, 0.72f).lineTo(0.28f, 0.28f).lineTo(0.72f, 0.28f).close(),  // down
        Path(1, 1).moveTo(0.28f, 0.5f).lineTo(0.72f, 0.28f).lineTo(0.72f, 0.72f).close(),  // left
    };
    return paths[((direction % 4) + 4) % 4];
}

}  // namespace

const Path& pointerOutline() {
    static const Path path = Path(kPointerWidth, kPointerHeight)
                                 .moveTo(0.5f, 0.45f)
                                 .lineTo(0.5f, 23.49f)
                                 .lineTo(5.53f, 18.71f)
                                 .lineTo(8.26f, 24.44f)
                                 .lineTo(13.62f, 22.17f)
                                 .lineTo(11.06f, 16.7f)
                                 .lineTo(17.19f, 16.7f)
                                 .close();
    return path;
}

const Path& pointerInside() {
    static const Path path = Path(kPointerWidth, kPointerHeight)
                                 .moveTo(2, 4)
                                 .lineTo(2, 20)
                                 .lineTo(6, 16.2f)
                                 .lineTo(9, 22.5f)
                                 .lineTo(11.6f, 21.4f)
                                 .lineTo(8.7f, 15.2f)
                                 .lineTo(13.5f, 15.2f)
                                 .close();
    return path;
}

// ---------------------------------------------------------------------------
// Painting one element

namespace {

const Colour kWhite{1, 1, 1, 1};

// A path rasterised at a box's size rounded to whole pixels and drawn at the
// box's rounded position.
void pathInBox(DrawBuilder& b, uint64_t key, const Path& path, const Rect& box, Rgba8 colour) {
    const float sw = snap(box.w), sh = snap(box.h);
    // Sizes the atlas cannot hold (and NaN) stop here, before the int casts.
    const float most = float(ShapeAtlas::kMaxSide);
    if (colour.a == 0 || !(sw >= 1 && sw <= most && sh >= 1 && sh <= most)) return;
    int w = int(sw), h = int(sh);
    auto fill = pathFiller(path);
    AtlasRect cell = shapeAtlas().shapeFor(ShapeKey{key, w, h}, fill);
    b.shape(cell, snap(box.x), snap(box.y), colour);
}

// The ring segment around the centre of the box, in the fill colour. The
// canvas covers the outer circle at whole pixels; the centre's position
// inside it (to 1/16 px) is part of the key, so a ring that moves by a
// fraction of a pixel is rasterised afresh rather than drawn off-centre.
void paintRing(DrawBuilder& b, const Node& n, float opacity) {
    const Ring& ring = n.ring;
    Rgba8 colour = toRgba8(n.computed.background, opacity);
    if (colour.a == 0 || !(ring.outer > 0) || !(ring.outer > ring.inner) || !(ring.end > ring.start)) return;
    float cx = n.box.x + n.box.w * 0.5f, cy = n.box.y + n.box.h * 0.5f;
    float left = std::floor(cx - ring.outer), top = std::floor(cy - ring.outer);
    float right = std::ceil(cx + ring.outer), bottom = std::ceil(cy + ring.outer);
    if (!std::isfinite(left + top + right + bottom)) return;
    if (right - left > float(ShapeAtlas::kMaxSide) || bottom - top > float(ShapeAtlas::kMaxSide)) return;
    int w = int(right - left), h = int(bottom - top);
    float ox = std::round((cx - left) * 16) / 16, oy = std::round((cy - top) * 16) / 16;
    float inner = ring.inner, outer = ring.outer, start = ring.start, end = ring.end;
    ember::launcher::WordHash hash;
    for (float v : {inner, outer, start, end, ox, oy}) hash.mix(ember::launcher::floatBits(v));
    ShapeKey key{kRingKey | (hash.value >> 2), w, h};
    auto fill = [=](uint8_t* pixels, int stride, int cw, int ch) {
        CoverageRasteriser& r = rasteriser();
        r.reset(cw, ch);
        r.ringSegment(ox, oy, inner, outer, start, end);
        r.finish(pixels, stride);
    };
    AtlasRect cell = shapeAtlas().shapeFor(key, fill);
    b.shape(cell, left, top, colour);
}

// Text: outline (8 directions), shadow, then the text itself; lines at the
// line height, each glyph at a whole pixel.
void paintText(DrawBuilder& b, const Node& n, float opacity) {
    const Style& s = n.computed;
    Font* font = n.font;
    LineSpan lines = nodeLines(n);
    if (font == nullptr || lines.size() == 0) return;
    const std::string_view text = nodeText(n);
    const float lh = lineHeight(font, s.lineHeight);
    float fontHeight = font->ascent + font->descent;
    if (fontHeight <= 0) fontHeight = float(font->size);
    const float top = n.content.y + (lh - fontHeight) * 0.5f;
    const Rect clip = b.clip();

    auto pass = [&](float dx, float dy, Rgba8 colour) {
        if (colour.a == 0) return;
        for (size_t k = 0; k < lines.size(); ++k) {
            const TextLine& line = lines.first[k];
            float y = top + float(k) * lh + dy;
            // Lines well above or below the clip (long scrolled logs) are skipped.
            if (y + fontHeight + lh < clip.y || y - lh > clip.y + clip.h) continue;
            float x = n.content.x + dx;
            if (s.textAlign == TextCenter) x += (n.content.w - line.width) * 0.5f;
            if (s.textAlign == TextRight) x += n.content.w - line.width;
            const float lineY = snap(y);  // glyph offsets are whole pixels
            size_t i = std::min<size_t>(line.begin, text.size());
            const size_t end = std::min<size_t>(line.end, text.size());
            while (i < end) {
                uint32_t cp;
                if (uint8_t(text[i]) < 0x80) {
                    cp = uint8_t(text[i]);
                    ++i;
                } else {
                    cp = decodeUtf8(text, i);
                }
                const Glyph& g = glyphFor(font, cp);
                if (!g.exists) continue;  // measured as nothing, drawn as nothing
                if (g.width > 0 && g.height > 0) {
                    Rect quad{snap(x) + float(g.offsetX), lineY + float(g.offsetY), float(g.width), float(g.height)};
                    b.quad(quad, float(g.atlasX) * kAtlasTexel, float(g.atlasY) * kAtlasTexel,
                           float(g.atlasX + g.width) * kAtlasTexel, float(g.atlasY + g.height) * kAtlasTexel, colour,
                           kGlyphTexture, ShaderKind::Coverage);
                }
                x += g.advance + s.letterSpacing;
            }
        }
    };

    // Outline: the text moved by the outline width in eight directions
    if (s.outlineWidth > 0 && s.outlineColour.a > 0) {
        static const int dirs[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {-1, 0}, {1, 0}, {-1, 1}, {0, 1}, {1, 1}};
        Rgba8 outline = toRgba8(s.outlineColour, opacity);
        for (const auto& d : dirs) pass(float(d[0]) * s.outlineWidth, float(d[1]) * s.outlineWidth, outline);
    }
    // Shadow
    if (s.shadowColour.a > 0) pass(s.shadowDx, s.shadowDy, toRgba8(s.shadowColour, opacity));
    // The text
    pass(0, 0, toRgba8(s.color, opacity));
}

// A picture stretched over a rectangle.
void picture(DrawBuilder& b, int32_t index, const Rect& r, float opacity) {
    if (pictureFor(index) == nullptr) return;  // a picture that failed draws nothing
    b.quad(r, 0, 0, 1, 1, toRgba8(kWhite, opacity), pictureTexture(index), ShaderKind::Colour);
}

// The border image cut into thirds, drawn as nine patches: fixed corners,
// edges and centre stretched between them.
void ninePatch(DrawBuilder& b, int32_t index, float slice, const Rect& box, float opacity) {
    if (pictureFor(index) == nullptr) return;
    if (slice <= 0) slice = kDefaultBorderSlice;
    float cw = std::min(slice, box.w * 0.5f), ch = std::min(slice, box.h * 0.5f);
    const float xs[4] = {box.x, box.x + cw, box.x + box.w - cw, box.x + box.w};
    const float ys[4] = {box.y, box.y + ch, box.y + box.h - ch, box.y + box.h};
    const float uv[4] = {0, 1.0f / 3, 2.0f / 3, 1};
    Rgba8 colour = toRgba8(kWhite, opacity);
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            Rect patch{xs[col], ys[row], xs[col + 1] - xs[col], ys[row + 1] - ys[row]};
            b.quad(patch, uv[col], uv[row], uv[col + 1], uv[row + 1], colour, pictureTexture(index),
                   ShaderKind::Colour);
        }
    }
}

void scrollbar(DrawBuilder& b, const Node& n, float opacity) {
    const Style& s = n.computed;
    const float width = std::max(s.scrollbarWidth, kScrollbarMinWidth);
    Rect track{n.box.x + n.box.w - kScrollbarInset - width, n.content.y + 1, width, n.content.h - 2};
    if (!(track.h > 0)) return;
    b.roundedBox(track, width * 0.5f, toRgba8(s.scrollbarTrack, opacity));
    // The thumb: visible / content of the track, at least kScrollbarMinThumb,
    // placed by the scroll offset within the range.
    float visible = n.content.h, extent = n.contentExtent, range = extent - visible;
    float length = std::min(track.h, std::max(kScrollbarMinThumb, track.h * visible / extent));
    float at = range > 0 ? std::clamp(n.scrollOffset / range, 0.0f, 1.0f) : 0.0f;
    Rect thumb{track.x, track.y + (track.h - length) * at, width, length};
    b.roundedBox(thumb, width * 0.5f, toRgba8(s.scrollbarThumb, opacity));
}

void paintBox(DrawBuilder& b, const Node& n, float opacity) {
    const Style& s = n.computed;
    const Rect& box = n.box;

    // Glow: four rounded boxes growing by a quarter of the radius each,
    // fading out, under the box
    if (s.glowColour.a > 0 && s.glowRadius > 0) {
        for (int i = 1; i <= 4; ++i) {
            float grow = float(i) * s.glowRadius / 4;
            Colour c = s.glowColour;
            c.a = s.glowColour.a * 0.25f * (1.0f - float(i - 1) / 4.0f);
            Rect r{box.x - grow, box.y - grow, box.w + 2 * grow, box.h + 2 * grow};
            b.roundedBox(r, s.borderRadius + grow, toRgba8(c, opacity));
        }
    }

    // Fill: the border image's nine patches, or the background colour
    // (rounded when border-radius is set)
    if (s.borderImage >= 0) {
        ninePatch(b, s.borderImage, s.borderSlice, box, opacity);
    } else {
        b.roundedBox(box, s.borderRadius, toRgba8(s.background, opacity));
    }

    // Background image: the whole box, or its background-size centred
    if (s.backgroundImage >= 0) {
        Rect r = box;
        if (s.backgroundWidth > 0) {
            r.x = box.x + (box.w - s.backgroundWidth) * 0.5f;
            r.w = s.backgroundWidth;
        }
        if (s.backgroundHeight > 0) {
            r.y = box.y + (box.h - s.backgroundHeight) * 0.5f;
            r.h = s.backgroundHeight;
        }
        picture(b, s.backgroundImage, r, opacity);
    }

    // Border: four straight edges (only without a border image)
    if (s.borderImage < 0) {
        Rgba8 c = toRgba8(s.borderColor, opacity);
        const float t = s.border[SideTop], r = s.border[SideRight], bo = s.border[SideBottom], l = s.border[SideLeft];
        b.rect(Rect{box.x, box.y, box.w, t}, c);
        b.rect(Rect{box.x, box.y + box.h - bo, box.w, bo}, c);
        b.rect(Rect{box.x, box.y + t, l, box.h - t - bo}, c);
        b.rect(Rect{box.x + box.w - r, box.y + t, r, box.h - t - bo}, c);
    }

    // The focus ring: the gap band, then the ring, outside the border box
    if (s.ringWidth > 0 && s.ringColour.a > 0) {
        auto frame = [&b](const Rect& o, float w, Rgba8 c) {
            b.rect(Rect{o.x, o.y, o.w, w}, c);
            b.rect(Rect{o.x, o.y + o.h - w, o.w, w}, c);
            b.rect(Rect{o.x, o.y + w, w, o.h - 2 * w}, c);
            b.rect(Rect{o.x + o.w - w, o.y + w, w, o.h - 2 * w}, c);
        };
        const float g = s.ringGap, w = s.ringWidth;
        if (g > 0 && s.ringGapColour.a > 0)
            frame(Rect{box.x - g, box.y - g, box.w + 2 * g, box.h + 2 * g}, g, toRgba8(s.ringGapColour, opacity));
        frame(Rect{box.x - g - w, box.y - g - w, box.w + 2 * (g + w), box.h + 2 * (g + w)}, w,
              toRgba8(s.ringColour, opacity));
    }

    // Picture of an image element
    if (n.kind == KindImage && n.image >= 0) picture(b, n.image, box, opacity);

    // Triangle of an arrow element
    if (n.kind == KindArrow) {
        int direction = ((n.arrowDirection % 4) + 4) % 4;
        pathInBox(b, kArrowKey | uint64_t(direction), arrowPath(direction), box, toRgba8(s.color, opacity));
    }

    // Scrollbar of a container whose content is taller than its box
    if (s.overflow == OverflowScroll && n.contentExtent > n.content.h + 1) scrollbar(b, n, opacity);
}

void paintElement(DrawBuilder& b, const Node& n, float opacity) {
    if (!(opacity > 0) || !(n.clip.w > 0) || !(n.clip.h > 0)) return;
    b.setClip(n.clip);
    // A ring segment or a vector shape replaces the box; text elements have
    // their own painter.
    if (n.ring.has) {
        paintRing(b, n, opacity);
    } else if (n.shape >= 0) {
        if (const Path* path = shapePath(n.shape)) {
            pathInBox(b, uint64_t(uint32_t(n.shape)), *path, n.content, toRgba8(n.computed.color, opacity));
        }
    } else if (n.kind == KindText) {
        paintText(b, n, opacity);
    } else {
        paintBox(b, n, opacity);
    }
}

void paintPointer(DrawBuilder& b, const UiContext& c) {
    float scale = c.scale > 0 && std::isfinite(c.scale) ? c.scale : 1.0f;
    Rect box{snap(c.mouseX - kPointerTipX * scale), snap(c.mouseY - kPointerTipY * scale), kPointerWidth * scale,
             kPointerHeight * scale};
    b.setClip(Rect{0, 0, c.width, c.height});
    pathInBox(b, kPointerKey | 0, pointerOutline(), box, toRgba8(kPointerDark));
    pathInBox(b, kPointerKey | 1, pointerInside(), box, toRgba8(kPointerLight));
}

// ---------------------------------------------------------------------------
// The frame

struct PainterState {
    std::vector<float> opacity;  // per node: its opacity times its ancestors'
    DrawList list;
};

PainterState& painter() {
    static PainterState state;
    return state;
}

void buildOnce(UiContext& c, DrawList& out) {
    DrawBuilder b(out);
    b.begin(c.width, c.height);

    // Opacity products (parents come before their children)
    std::vector<float>& opacity = painter().opacity;
    opacity.resize(c.nodes.size());
    for (size_t i = 0; i < c.nodes.size(); ++i) {
        const Node& n = c.nodes[i];
        float own = n.computed.opacity > 0 ? std::min(n.computed.opacity, 1.0f) : 0.0f;
        opacity[i] = n.parent >= 0 ? own * opacity[size_t(n.parent)] : own;
    }

    // The elements in paint order
    for (int32_t index : c.paintList) paintElement(b, c.nodes[size_t(index)], opacity[size_t(index)]);

    // The pointer on top of everything, for screenshots
    if (c.drawPointer && c.mouseInWindow) paintPointer(b, c);

    b.finish();
}

}  // namespace

DrawList& drawList() { return painter().list; }

void buildDrawList(UiContext& context, DrawList& out) {
    const int emptied = shapeAtlas().emptiedCount;
    buildOnce(context, out);
    if (shapeAtlas().emptiedCount != emptied) buildOnce(context, out);
}

void paintFrame(UiContext& context) { buildDrawList(context, drawList()); }

void startPainter() { setDrawHook(&paintFrame); }

void resetPainter() {
    PainterState& p = painter();
    // Swapping with empty vectors gives the memory back (clear would keep it).
    std::vector<Vertex>().swap(p.list.vertices);
    std::vector<uint32_t>().swap(p.list.indices);
    std::vector<Batch>().swap(p.list.batches);
    std::vector<float>().swap(p.opacity);
    p.list.summary = FrameSummary{};
}

}  // namespace kiln
