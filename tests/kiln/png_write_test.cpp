// The screenshot writer: what it writes reads back through the program's
// own PNG decoder, pixel for pixel, as RGB when opaque and RGBA otherwise.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ui/kiln/png_write.h"
#include "ui/kiln/png.h"

namespace ember::launcher {
namespace {

std::vector<uint8_t> pattern(int w, int h, bool opaque) {
    std::vector<uint8_t> px(size_t(w) * h * 4);
    for (size_t i = 0; i < px.size(); ++i) px[i] = uint8_t(i * 7 + i / 13);
    if (opaque)
        for (size_t i = 3; i < px.size(); i += 4) px[i] = 255;
    return px;
}

TEST(PngWrite, RoundTripsThroughTheDecoder) {
    // Sizes on both sides of one stored block (65535 bytes of row data).
    const struct {
        int w, h;
        bool opaque;
    } cases[] = {{1, 1, true}, {3, 2, false}, {200, 120, true}, {150, 120, false}, {16385, 1, true}};
    for (const auto& c : cases) {
        const std::vector<uint8_t> in = pattern(c.w, c.h, c.opaque);
        const std::string png = encodePng(in.data(), c.w, c.h);
        ASSERT_FALSE(png.empty());
        EXPECT_EQ(uint8_t(png[25]), c.opaque ? 2 : 6) << "colour type for " << c.w << "x" << c.h;
        int w = 0, h = 0;
        std::vector<uint8_t> out;
        std::string error;
        ASSERT_TRUE(kiln::decodePng(reinterpret_cast<const uint8_t*>(png.data()), png.size(), w, h, out, error))
            << error << " for " << c.w << "x" << c.h;
        EXPECT_EQ(w, c.w);
        EXPECT_EQ(h, c.h);
        EXPECT_TRUE(out == in) << "pixels differ for " << c.w << "x" << c.h;
    }
}

TEST(PngWrite, RefusesSizesOutOfRange) {
    const uint8_t pixel[4] = {1, 2, 3, 255};
    EXPECT_TRUE(encodePng(pixel, 0, 1).empty());
    EXPECT_TRUE(encodePng(pixel, 1, 0).empty());
    EXPECT_TRUE(encodePng(pixel, 32769, 1).empty());
    EXPECT_TRUE(encodePng(nullptr, 1, 1).empty());
}

}  // namespace
}  // namespace ember::launcher
