// KilnUI fonts through GDI: faces opened with CreateFontW, glyphs taken as
// 65-level grey bitmaps with GetGlyphOutlineW, advances from the A, B and C
// widths. The portable text code (text.cpp) does the family fallback, the
// instance cache and the atlas packing; this file only answers its
// FontProvider and FontFace questions.
#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/paths.h"
#include "base/text.h"
#include "ui/win32/backend_win32.h"
#include "ui/kiln/registry.h"
#include "ui/kiln/text.h"

namespace kiln {

namespace {

using ember::launcher::toUtf8;
using ember::launcher::toWide;

// One memory DC serves every face (fonts are only used on the UI thread).
HDC g_dc = nullptr;

// GDI's grey levels (0..64) as 8-bit coverage.
uint8_t coverageOf(uint8_t level) { return level >= 64 ? 255 : static_cast<uint8_t>((level * 255 + 32) / 64); }

class GdiFace : public FontFace {
public:
    GdiFace(HFONT font, float ascent, float descent, std::string face)
        : font_(font), ascent_(ascent), descent_(descent), face_(std::move(face)) {}
    ~GdiFace() override { DeleteObject(font_); }

    float ascent() const override { return ascent_; }
    float descent() const override { return descent_; }
    std::string faceName() const override { return face_; }

    bool glyph(uint32_t codepoint, GlyphImage& out) override {
        if (g_dc == nullptr || codepoint > 0xFFFF) return false;
        HGDIOBJ old = SelectObject(g_dc, font_);
        const WCHAR ch = static_cast<WCHAR>(codepoint);
        const MAT2 identity = {{0, 1}, {0, 0}, {0, 0}, {0, 1}};
        GLYPHMETRICS metrics{};
        DWORD size = GetGlyphOutlineW(g_dc, ch, GGO_GRAY8_BITMAP, &metrics, 0, nullptr, &identity);
        bool ok = size != GDI_ERROR;
        out = GlyphImage{};
        if (ok && size > 0 && metrics.gmBlackBoxX > 0 && metrics.gmBlackBoxY > 0) {
            std::vector<uint8_t> raw(size);
            if (GetGlyphOutlineW(g_dc, ch, GGO_GRAY8_BITMAP, &metrics, size, raw.data(), &identity) != GDI_ERROR) {
                const int w = static_cast<int>(metrics.gmBlackBoxX), h = static_cast<int>(metrics.gmBlackBoxY);
                const size_t pitch = (static_cast<size_t>(w) + 3) & ~size_t(3);  // rows are DWORD-aligned
                if (pitch * static_cast<size_t>(h) <= raw.size()) {
                    out.width = w;
                    out.height = h;
                    out.offsetX = metrics.gmptGlyphOrigin.x;
                    // From the top of the font height: the baseline sits at the ascent.
                    out.offsetY = static_cast<int>(ascent_) - metrics.gmptGlyphOrigin.y;
                    out.coverage.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
                    for (int y = 0; y < h; ++y)
                        for (int x = 0; x < w; ++x)
                            out.coverage[static_cast<size_t>(y) * w + x] = coverageOf(raw[y * pitch + x]);
                }
            }
        }
        // The advance: A + B + C, else the width of the character's extent.
        ABC abc{};
        if (GetCharABCWidthsW(g_dc, ch, ch, &abc)) {
            out.advance = static_cast<float>(abc.abcA + static_cast<int>(abc.abcB) + abc.abcC);
            ok = true;
        } else {
            SIZE extent{};
            if (GetTextExtentPoint32W(g_dc, &ch, 1, &extent)) {
                out.advance = static_cast<float>(extent.cx);
                ok = true;
            }
        }
        SelectObject(g_dc, old);
        return ok;
    }

private:
    HFONT font_;
    float ascent_, descent_;
    std::string face_;
};

class GdiProvider : public FontProvider {
public:
    std::unique_ptr<FontFace> open(const std::string& name, int pixelSize, int weight, bool italic) override {
        if (g_dc == nullptr) return nullptr;
        std::wstring wide = toWide(name);
        if (wide.size() >= LF_FACESIZE) wide.resize(LF_FACESIZE - 1);
        // A negative height asks for a character height, not a cell height.
        HFONT font = CreateFontW(-pixelSize, 0, 0, 0, weight, italic ? TRUE : FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                 OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                 wide.c_str());
        if (font == nullptr) return nullptr;
        HGDIOBJ old = SelectObject(g_dc, font);
        TEXTMETRICW metrics{};
        WCHAR chosen[LF_FACESIZE] = {};
        GetTextMetricsW(g_dc, &metrics);
        int length = GetTextFaceW(g_dc, LF_FACESIZE, chosen);
        SelectObject(g_dc, old);
        std::string face = length > 0 ? toUtf8(std::wstring(chosen, wcsnlen(chosen, LF_FACESIZE))) : std::string();
        return std::make_unique<GdiFace>(font, static_cast<float>(metrics.tmAscent),
                                         static_cast<float>(metrics.tmDescent), face);
    }
};

GdiProvider g_provider;

void folderHook(const std::string& folder) { registerPrivateFonts(folder); }

}  // namespace

int registerPrivateFonts(const std::string& folder) {
    if (folder.empty()) return 0;
    std::vector<ember::launcher::DirEntry> entries;
    if (!ember::launcher::listDirectory(folder, entries)) return 0;
    int added = 0;
    for (const auto& entry : entries) {
        const std::string& name = entry.name;
        if (entry.isDirectory || name.size() < 4) continue;
        std::string ext = name.substr(name.size() - 4);
        if (!ember::launcher::equalsIgnoreCase(ext, ".ttf")) continue;
        std::wstring path = toWide(ember::launcher::joinPath(folder, name));
        if (AddFontResourceExW(path.c_str(), FR_PRIVATE, nullptr) > 0) ++added;
    }
    return added;
}

bool startGdiFonts(std::string& error) {
    if (g_dc == nullptr) g_dc = CreateCompatibleDC(nullptr);
    if (g_dc == nullptr) {
        error = "KilnUI: CreateCompatibleDC failed";
        return false;
    }
    setFontProvider(&g_provider);
    registerFamily(kDefaultFamily);
    glyphAtlas();
    setResourceFolderHook(&folderHook);
    if (!resourceFolder().empty()) registerPrivateFonts(resourceFolder());
    return true;
}

void stopGdiFonts() {
    setResourceFolderHook(nullptr);
    setFontProvider(nullptr);
    if (g_dc != nullptr) DeleteDC(g_dc);
    g_dc = nullptr;
}

}  // namespace kiln
