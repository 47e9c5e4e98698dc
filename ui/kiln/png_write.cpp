// PNG encoding for screenshots (see png_write.h).
#include "ui/kiln/png_write.h"

#include <algorithm>
#include <array>

#include "base/paths.h"

namespace ember::launcher {

namespace {

const std::array<uint32_t, 256>& crcTable() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    return table;
}

void put32(std::string& out, uint32_t v) {
    out.push_back(char(v >> 24));
    out.push_back(char(v >> 16));
    out.push_back(char(v >> 8));
    out.push_back(char(v));
}

void chunk(std::string& out, const char type[4], const std::string& data) {
    put32(out, static_cast<uint32_t>(data.size()));
    const size_t start = out.size();
    out.append(type, 4);
    out += data;
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = start; i < out.size(); ++i) crc = crcTable()[(crc ^ uint8_t(out[i])) & 0xFF] ^ (crc >> 8);
    put32(out, crc ^ 0xFFFFFFFFu);
}

// A zlib stream of stored blocks.
std::string zlibStored(const std::string& raw) {
    std::string out;
    out.push_back(char(0x78));
    out.push_back(char(0x01));  // 0x7801 is divisible by 31
    size_t at = 0;
    do {
        const size_t n = std::min<size_t>(65535, raw.size() - at);
        const bool last = at + n == raw.size();
        out.push_back(char(last ? 1 : 0));
        out.push_back(char(n & 0xFF));
        out.push_back(char(n >> 8));
        out.push_back(char(~n & 0xFF));
        out.push_back(char((~n >> 8) & 0xFF));
        out.append(raw, at, n);
        at += n;
    } while (at < raw.size());
    uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    put32(out, (b << 16) | a);
    return out;
}

}  // namespace

std::string encodePng(const uint8_t* rgba, int width, int height) {
    if (rgba == nullptr || width < 1 || height < 1 || width > 32768 || height > 32768) return {};
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    bool opaque = true;
    for (size_t i = 0; i < count && opaque; ++i) opaque = rgba[i * 4 + 3] == 255;
    const int channels = opaque ? 3 : 4;

    // Rows, each behind filter type 0 (none).
    std::string raw;
    raw.reserve(count * channels + static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        const uint8_t* row = rgba + static_cast<size_t>(y) * width * 4;
        for (int x = 0; x < width; ++x) raw.append(reinterpret_cast<const char*>(row + x * 4), channels);
    }

    std::string png("\x89PNG\r\n\x1a\n", 8);
    std::string header;
    put32(header, static_cast<uint32_t>(width));
    put32(header, static_cast<uint32_t>(height));
    header.push_back(8);                       // bit depth
    header.push_back(char(opaque ? 2 : 6));    // RGB or RGBA
    header.append(3, '\0');                    // compression, filter, interlace
    chunk(png, "IHDR", header);
    chunk(png, "IDAT", zlibStored(raw));
    chunk(png, "IEND", std::string());
    return png;
}

bool writePng(const std::string& path, const uint8_t* rgba, int width, int height) {
    std::string bytes = encodePng(rgba, width, height);
    return !bytes.empty() && writeFileAtomic(path, bytes);
}

}  // namespace ember::launcher
