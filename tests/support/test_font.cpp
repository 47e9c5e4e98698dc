// The fixed-metrics font system (see test_font.h).
#include "tests/support/test_font.h"

#include <algorithm>
#include <cmath>

namespace kiln {

namespace {

bool sameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

constexpr uint8_t kFrame = 255;
constexpr uint8_t kInside = 96;

}  // namespace

TestFontFace::TestFontFace(std::string face, std::string requested, int pixelSize, int weight, bool italic)
    : face_(std::move(face)), requested_(std::move(requested)), size_(pixelSize), weight_(weight), italic_(italic) {}

float TestFontFace::ascent() const { return size_ * 0.8f; }
float TestFontFace::descent() const { return size_ * 0.2f; }

bool TestFontFace::glyph(uint32_t codepoint, GlyphImage& out) {
    if (codepoint < 0x20) return false;
    out = GlyphImage{};
    out.advance = advance();
    if (codepoint == ' ' || codepoint == 0xA0) return true;
    // A framed box standing on the baseline, one pixel narrower than the
    // advance so neighbours keep a gap.
    int w = std::max(1, static_cast<int>(std::lround(advance())) - 1);
    int h = std::max(1, static_cast<int>(std::lround(ascent())));
    out.width = w;
    out.height = h;
    out.offsetX = 0;
    out.offsetY = 0;
    out.coverage.assign(static_cast<size_t>(w) * static_cast<size_t>(h), kInside);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (x == 0 || y == 0 || x == w - 1 || y == h - 1) out.coverage[static_cast<size_t>(y * w + x)] = kFrame;
        }
    }
    return true;
}

TestFontProvider::TestFontProvider()
    : TestFontProvider({"Georgia", "Constantia", "Times New Roman", "Segoe UI", "Consolas"}) {}

TestFontProvider::TestFontProvider(std::vector<std::string> installedFaces, std::string substituteFace)
    : installed(std::move(installedFaces)), substitute(std::move(substituteFace)) {}

std::unique_ptr<FontFace> TestFontProvider::open(const std::string& name, int pixelSize, int weight, bool italic) {
    opened.push_back(name);
    for (const std::string& b : broken) {
        if (sameName(b, name)) return nullptr;
    }
    std::string face = substitute;
    for (const std::string& i : installed) {
        if (sameName(i, name)) face = i;
    }
    return std::make_unique<TestFontFace>(face, name, pixelSize, weight, italic);
}

}  // namespace kiln
