// A font system with fixed metrics, for deterministic tests and the demo
// outside Windows.
//
// Every face has the same shapes: each character with a glyph advances half
// the pixel size (size 20: 10 px), ascent is 0.8 of the size and descent 0.2
// (line height 1.0 x size before the line-height factor). Control characters
// (below U+0020) have no glyph; the space and U+00A0 are blank (no bitmap).
// Other glyphs are boxes of width advance - 1 and height ascent: a solid
// frame of full coverage around an inner area of coverage 96, so atlas
// contents are easy to check and visible in screenshots.
//
// "Installed" faces are a set of names. Opening an installed name (ignoring
// case) gives a face with the installed spelling; any other name gives the
// substitute face (like Windows does), so fallback can be tested.
#pragma once

#include <string>
#include <vector>

#include "ui/kiln/text.h"

namespace kiln {

class TestFontFace : public FontFace {
public:
    TestFontFace(std::string face, std::string requested, int pixelSize, int weight, bool italic);

    float ascent() const override;
    float descent() const override;
    std::string faceName() const override { return face_; }
    bool glyph(uint32_t codepoint, GlyphImage& out) override;

    // What was asked for, for tests.
    const std::string& requestedName() const { return requested_; }
    int pixelSize() const { return size_; }
    int weight() const { return weight_; }
    bool italic() const { return italic_; }
    // Advance of every character that has a glyph.
    float advance() const { return size_ * 0.5f; }

private:
    std::string face_;
    std::string requested_;
    int size_;
    int weight_;
    bool italic_;
};

class TestFontProvider : public FontProvider {
public:
    // The default installed set is the launcher's usual families.
    TestFontProvider();
    explicit TestFontProvider(std::vector<std::string> installed, std::string substitute = "Arial");

    std::unique_ptr<FontFace> open(const std::string& name, int pixelSize, int weight, bool italic) override;

    // Configuration
    std::vector<std::string> installed;
    std::string substitute;           // the face given for names not installed
    std::vector<std::string> broken;  // names whose faces cannot be created (open returns null)
    // Every name passed to open(), in order.
    std::vector<std::string> opened;
};

}  // namespace kiln
