// The toolkit's Windows half on a real WARP device and real GDI fonts: what
// the renderer draws lands on the right pixels in the right colours (the
// projection, the BGRA target, blending, the scissor of a clipped batch,
// glyph coverage from the atlas), and GDI faces follow the family's
// fallback rules.
#include <gtest/gtest.h>

#include <d3d11.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ui/kiln/png_write.h"
#include "tests/support/scratch.h"
#include "ui/win32/backend_win32.h"
#include "ui/kiln/draw.h"
#include "ui/kiln/images.h"
#include "ui/kiln/kiln.h"
#include "ui/kiln/registry.h"
#include "ui/kiln/style.h"
#include "ui/kiln/text.h"

namespace kiln {
namespace {

constexpr int kSize = 64;

struct Rgb {
    int r, g, b;
};

class RendererTest : public ::testing::Test {
protected:
    void SetUp() override {
        const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_1, D3D_FEATURE_LEVEL_10_0};
        ASSERT_TRUE(SUCCEEDED(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_WARP, nullptr,
                                                D3D11_CREATE_DEVICE_BGRA_SUPPORT, levels, 3, D3D11_SDK_VERSION,
                                                &device_, nullptr, &context_)));
        D3D11_TEXTURE2D_DESC desc{};
        desc.Width = desc.Height = kSize;
        desc.MipLevels = desc.ArraySize = 1;
        desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
        desc.SampleDesc.Count = 1;
        desc.Usage = D3D11_USAGE_DEFAULT;
        desc.BindFlags = D3D11_BIND_RENDER_TARGET;
        ASSERT_TRUE(SUCCEEDED(device_->CreateTexture2D(&desc, nullptr, &target_)));
        ASSERT_TRUE(SUCCEEDED(device_->CreateRenderTargetView(target_, nullptr, &view_)));
        std::string error;
        ASSERT_TRUE(initRenderer(device_, error)) << error;
    }
    void TearDown() override {
        shutdownRenderer();
        resetStylesheet();
        resetPictures();
        if (view_) view_->Release();
        if (target_) target_->Release();
        if (context_) context_->Release();
        if (device_) device_->Release();
    }

    // One frame of `css` (a root with one .a child holding one .b child and
    // a text), cleared to black, drawn, read back.
    void draw(const std::string& css, const char* text = nullptr) {
        ASSERT_TRUE(parseStylesheet(css, sheet_, error_)) << error_;
        setStylesheet(&sheet_);
        beginFrame(kSize, kSize, 1);
        openElement("div.a");
        openElement("div.b");
        closeElement();
        if (text != nullptr) textElement(text, "text.t");
        closeElement();
        endFrame();
        const float black[4] = {0, 0, 0, 1};
        context_->ClearRenderTargetView(view_, black);
        renderFrame(view_, kSize, kSize);
        readBack();
    }

    void readBack() {
        D3D11_TEXTURE2D_DESC desc{};
        target_->GetDesc(&desc);
        desc.Usage = D3D11_USAGE_STAGING;
        desc.BindFlags = 0;
        desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
        ID3D11Texture2D* staging = nullptr;
        ASSERT_TRUE(SUCCEEDED(device_->CreateTexture2D(&desc, nullptr, &staging)));
        context_->CopyResource(staging, target_);
        D3D11_MAPPED_SUBRESOURCE mapped{};
        ASSERT_TRUE(SUCCEEDED(context_->Map(staging, 0, D3D11_MAP_READ, 0, &mapped)));
        pixels_.assign(kSize * kSize, Rgb{0, 0, 0});
        for (int y = 0; y < kSize; ++y) {
            const uint8_t* row = static_cast<const uint8_t*>(mapped.pData) + y * mapped.RowPitch;
            for (int x = 0; x < kSize; ++x) pixels_[y * kSize + x] = Rgb{row[x * 4 + 2], row[x * 4 + 1], row[x * 4]};
        }
        context_->Unmap(staging, 0);
        staging->Release();
    }

    Rgb at(int x, int y) const { return pixels_[y * kSize + x]; }

    ID3D11Device* device_ = nullptr;
    ID3D11DeviceContext* context_ = nullptr;
    ID3D11Texture2D* target_ = nullptr;
    ID3D11RenderTargetView* view_ = nullptr;
    Stylesheet sheet_;
    std::string error_;
    std::vector<Rgb> pixels_;
};

::testing::AssertionResult closeTo(Rgb got, Rgb want) {
    if (std::abs(got.r - want.r) <= 2 && std::abs(got.g - want.g) <= 2 && std::abs(got.b - want.b) <= 2)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got (" << got.r << ", " << got.g << ", " << got.b << "), want ("
                                         << want.r << ", " << want.g << ", " << want.b << ")";
}

TEST_F(RendererTest, FillsLandOnTheirPixelsInTheirColours) {
    // .a at (8, 16) 24 x 8 in red; .b, half-transparent blue over its left half.
    draw(".a { margin: 16 0 0 8; width: 24; height: 8; background: #ff0000 } "
         ".b { width: 12; height: 8; background: rgba(0, 0, 255, 0.5) }");
    const struct {
        int x, y;
        Rgb want;
        const char* where;
    } cases[] = {
        {20, 20, {255, 0, 0}, "inside the red box"},
        {25, 16, {255, 0, 0}, "its top edge"},
        {31, 23, {255, 0, 0}, "its bottom-right pixel"},
        {7, 20, {0, 0, 0}, "left of it"},
        {32, 20, {0, 0, 0}, "right of it"},
        {20, 15, {0, 0, 0}, "above it"},
        {20, 24, {0, 0, 0}, "below it"},
        {10, 20, {128, 0, 128}, "the blue half blended over red"},
    };
    for (const auto& c : cases) EXPECT_TRUE(closeTo(at(c.x, c.y), c.want)) << c.where;
}

TEST_F(RendererTest, AClippedChildIsCutByTheScissor) {
    // .b is 40 px wide inside a 16 px .a that hides its overflow.
    draw(".a { margin: 4; width: 16; height: 16; overflow: hidden } .b { width: 40; height: 16; background: #00ff00 }");
    EXPECT_TRUE(closeTo(at(10, 10), Rgb{0, 255, 0}));
    EXPECT_TRUE(closeTo(at(19, 10), Rgb{0, 255, 0}));
    EXPECT_TRUE(closeTo(at(20, 10), Rgb{0, 0, 0})) << "past the clip";
    EXPECT_TRUE(closeTo(at(40, 10), Rgb{0, 0, 0})) << "past the clip";
}

TEST_F(RendererTest, TextIsDrawnFromTheGlyphAtlas) {
    draw(".a { width: 64; height: 64 } .t { font-family: Arial; font-size: 40; color: #ffffff }", "H");
    // An "H": two full-height stems; count the white pixels and the rows they span.
    int lit = 0, top = kSize, bottom = -1;
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x)
            if (at(x, y).r > 200) {
                ++lit;
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    EXPECT_GT(lit, 100) << "no glyph pixels";
    EXPECT_GT(bottom - top, 20) << "the glyph is not as tall as a 40 px capital";
    EXPECT_FALSE(glyphAtlas().dirty()) << "the uploaded rows are marked clean";
}

TEST_F(RendererTest, PicturesAreUploadedOnFirstUseAndDrawnInTheirColours) {
    // A 2 x 1 picture (red, green) stretched over a 32 x 16 image element.
    ember::launcher::testing::ScratchDir folder;
    const uint8_t pixels[8] = {255, 0, 0, 255, 0, 255, 0, 255};
    ASSERT_TRUE(ember::launcher::writePng(folder.file("two.png"), pixels, 2, 1));
    ASSERT_TRUE(parseStylesheet(".a { margin: 8; }", sheet_, error_)) << error_;
    setStylesheet(&sheet_);
    beginFrame(kSize, kSize, 1);
    openElement("div.a");
    imageElement(folder.file("two.png"), 32, 16);
    closeElement();
    endFrame();
    const float black[4] = {0, 0, 0, 1};
    context_->ClearRenderTargetView(view_, black);
    renderFrame(view_, kSize, kSize);
    readBack();
    EXPECT_TRUE(closeTo(at(10, 16), Rgb{255, 0, 0})) << "the left texel";
    EXPECT_TRUE(closeTo(at(37, 16), Rgb{0, 255, 0})) << "the right texel";
    EXPECT_TRUE(closeTo(at(41, 16), Rgb{0, 0, 0})) << "past the picture";
}

TEST_F(RendererTest, GdiFacesFollowTheFamilyFallback) {
    // The test prefix maps Georgia to Liberation Serif and installs no Trajan Pro.
    const struct {
        const char* family;
        const char* want;
    } cases[] = {
        {"Trajan Pro, Liberation Mono", "Liberation Mono"},
        {"Liberation Sans, Liberation Mono", "Liberation Sans"},
    };
    for (const auto& c : cases) {
        Font* font = fontFor(registerFamily(c.family), 20, 400, false);
        EXPECT_EQ(font->faceName, c.want) << c.family;
        EXPECT_GT(font->ascent, 10) << c.family;
    }
    // Sizes clamp to 6..96.
    EXPECT_EQ(fontFor(0, 200, 400, false)->size, 96);
    EXPECT_EQ(fontFor(0, 3, 400, false)->size, 6);
    // Neither name exists: Windows' substitute for the first, not nothing.
    Font* none = fontFor(registerFamily("Trajan Pro, No Such Face"), 20, 400, false);
    ASSERT_NE(none->face, nullptr);
    EXPECT_FALSE(none->faceName.empty());
    // A blank glyph advances without a bitmap; a letter has both.
    Font* sans = fontFor(registerFamily("Liberation Sans"), 20, 400, false);
    const Glyph& space = glyphFor(sans, ' ');
    EXPECT_TRUE(space.exists);
    EXPECT_GT(space.advance, 0);
    EXPECT_EQ(space.width, 0);
    const Glyph& h = glyphFor(sans, 'H');
    EXPECT_GT(h.width, 0);
    EXPECT_GT(h.advance, h.width * 0.9f);
    EXPECT_LE(h.offsetY + h.height, int(sans->ascent) + 1) << "a capital sits on the baseline";
}

}  // namespace
}  // namespace kiln
