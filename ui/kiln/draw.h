// KilnUI draw list: the frame's laid-out tree turned into one list of
// textured, coloured triangles, ready for the Direct3D backend to upload.
//
// Everything on screen is a triangle over one of three kinds of texture: the
// glyph atlas (glyphs, and plain fills through its 2 x 2 block of full
// coverage), the shape atlas (rings, arrows, vector shapes, the pointer) and
// decoded pictures. Consecutive primitives with the same texture, pixel
// shader and clip rectangle share one batch, so a typical frame is a handful
// of draw calls.
//
// Sections:
//   - Records: Vertex, TextureRef, Batch, FrameSummary, DrawList
//   - DrawBuilder: the primitives (rectangles, rounded boxes, quads, shapes)
//   - The painter: the tree, in paint order, into the frame's draw list
//
// Portable: the backend only reads the list and the atlases' dirty rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ui/kiln/kiln.h"
#include "ui/kiln/shape_atlas.h"

namespace kiln {

// ---------------------------------------------------------------------------
// Records

struct Rgba8 {
    uint8_t r = 0, g = 0, b = 0, a = 0;
    bool operator==(const Rgba8& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
};
// The colour with its alpha multiplied by `opacity`, in 8 bits per channel.
Rgba8 toRgba8(const Colour& colour, float opacity = 1.0f);

// Input layout: POSITION R32G32 float at 0, TEXCOORD R32G32 float at 8,
// COLOR R8G8B8A8 unorm at 16.
struct Vertex {
    float x = 0, y = 0;  // window pixels
    float u = 0, v = 0;
    Rgba8 colour;
};
static_assert(sizeof(Vertex) == 20, "a vertex is 20 bytes");
static_assert(offsetof(Vertex, u) == 8, "texture coordinates at byte 8");
static_assert(offsetof(Vertex, colour) == 16, "colour at byte 16");

enum class TextureKind : uint8_t { None = 0, Glyphs = 1, Shapes = 2, Picture = 3 };
// Which texture a batch samples: the glyph atlas, the shape atlas, or the
// picture of an interned image index (index -1 with kind None: no texture).
struct TextureRef {
    TextureKind kind = TextureKind::None;
    int32_t index = -1;
    bool operator==(const TextureRef& o) const { return kind == o.kind && index == o.index; }
    bool operator!=(const TextureRef& o) const { return !(*this == o); }
};
constexpr TextureRef kGlyphTexture{TextureKind::Glyphs, 0};
constexpr TextureRef kShapeTexture{TextureKind::Shapes, 0};
inline TextureRef pictureTexture(int32_t index) { return TextureRef{TextureKind::Picture, index}; }

// colour: vertex colour x texel (pictures); coverage: vertex colour with its
// alpha x the texel's red channel (glyphs, shapes and plain fills).
enum class ShaderKind : uint8_t { Colour = 0, Coverage = 1 };

struct Batch {
    Rect clip;  // scissor rectangle, window pixels
    TextureRef texture;
    ShaderKind shader = ShaderKind::Coverage;
    uint32_t firstIndex = 0, indexCount = 0;
};

// What the frame covers, for the backend (and partial presents).
struct FrameSummary {
    float width = 0, height = 0;
    uint32_t vertexCount = 0;
    // Union of all drawn geometry, each piece cut by its batch's clip;
    // empty (w = h = 0) when nothing was drawn.
    Rect changed;
};

// One frame's triangles. The vectors keep their capacity from frame to
// frame (cleared, never shrunk).
struct DrawList {
    std::vector<Vertex> vertices;
    std::vector<uint32_t> indices;  // into vertices, three per triangle
    std::vector<Batch> batches;
    FrameSummary summary;

    void clear();
};

// Texture coordinate of the centre of the glyph atlas' full-coverage block.
constexpr float kFullCoverageUv = 1.5f / 2048.0f;

// ---------------------------------------------------------------------------
// DrawBuilder

// Appends primitives to a draw list under the current clip. Primitives that
// lie wholly outside the clip, or whose colour has no alpha, are not emitted.
class DrawBuilder {
public:
    explicit DrawBuilder(DrawList& list) : list_(list) {}

    // Empties the list for a window of this size.
    void begin(float width, float height);
    // Fills in the frame summary's vertex count.
    void finish();

    void setClip(const Rect& clip) { clip_ = clip; }
    const Rect& clip() const { return clip_; }

    // A plain rectangle (the full-coverage texel, coverage shader).
    void rect(const Rect& r, Rgba8 colour);
    // A rectangle with its radius limited to half the smaller side; 0.5 px
    // or less is a plain rectangle, otherwise a centre rectangle, two side
    // rectangles and four corner fans of 6 triangles (15 degree steps).
    // Empty pieces (a centre of no width) are left out.
    void roundedBox(const Rect& r, float radius, Rgba8 colour);
    // A textured quad.
    void quad(const Rect& r, float u0, float v0, float u1, float v1, Rgba8 colour, TextureRef texture,
              ShaderKind shader);
    // A shape atlas cell drawn at whole pixels (x, y).
    void shape(const AtlasRect& cell, float x, float y, Rgba8 colour);

private:
    // Continues the last batch, or starts one when texture, shader or clip differ.
    void use(TextureRef texture, ShaderKind shader);
    // The part of `bounds` inside the clip joins the frame's changed area;
    // false when nothing of it is inside.
    bool visible(const Rect& bounds);
    // Room for one primitive in the current batch; returns the number of
    // its first vertex.
    uint32_t grow(uint32_t vertexCount, uint32_t indexCount, Vertex*& vertices, uint32_t*& indices);

    DrawList& list_;
    Rect clip_;
};

// ---------------------------------------------------------------------------
// The painter

// The frame's draw list (the backend draws it; tests inspect it).
DrawList& drawList();

// Builds `out` from the laid-out tree of `context`: every element of the
// paint list, then the pointer when pointer drawing is on and the mouse is
// in the window, then the frame summary. If the shape atlas had to be
// emptied while the frame was built, shapes drawn before that point would
// show stale cells, so the frame is built once more from the fresh atlas.
void buildDrawList(UiContext& context, DrawList& out);
// The draw hook: buildDrawList into drawList().
void paintFrame(UiContext& context);
// Installs paintFrame as the toolkit's draw hook (the toolkit's start-up).
void startPainter();
// Frees the frame's draw list and the painter's scratch memory (shutdown).
void resetPainter();

// Arrow elements point up (0), right (1), down (2) or left (3); the
// triangle's base and tip lie at 28 % and 72 % of the box.
enum ArrowDirection : int { ArrowUp = 0, ArrowRight = 1, ArrowDown = 2, ArrowLeft = 3 };

// The pointer drawn into screenshots: a dark outline and a light inside,
// both in one box of kPointerWidth x kPointerHeight pixels at scale 1 whose
// point (kPointerTipX, kPointerTipY) is the tip of the inside, put on the
// mouse position. The outline lies about 1.5 px outside the inside.
constexpr float kPointerWidth = 18, kPointerHeight = 25;
constexpr float kPointerTipX = 2, kPointerTipY = 4;
const Path& pointerOutline();
const Path& pointerInside();
constexpr Colour kPointerDark{0.05f, 0.05f, 0.06f, 1.0f};
constexpr Colour kPointerLight{1.0f, 1.0f, 1.0f, 1.0f};

// Fixed layout of scrollbars: distance from the box's right edge, the
// smallest bar width and the shortest thumb.
constexpr float kScrollbarInset = 3;
constexpr float kScrollbarMinWidth = 3;
constexpr float kScrollbarMinThumb = 28;
// A border image's slice of 0 or less stands for this many pixels.
constexpr float kDefaultBorderSlice = 12;

}  // namespace kiln
