// Fuzz entry point for the zlib/DEFLATE decoder. Besides "no crash", it
// checks the decoder against itself: a stream that decodes must decode the
// same into a buffer of exactly its size, and be refused as the wrong size
// by a buffer one byte smaller; a failure leaves nothing behind.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "ui/kiln/inflate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Output is capped so that deliberately huge streams stay cheap.
    const size_t limit = size_t(1) << 22;
    std::vector<uint8_t> out;
    std::string error;
    const bool ok = kiln::inflateZlib(data, size, limit, out, error);
    if (ok != error.empty()) std::abort();
    if (!ok) {
        if (!out.empty()) std::abort();
        return 0;
    }
    std::vector<uint8_t> exact(out.size() + kiln::kInflateSlack);
    size_t produced = 0;
    if (!kiln::inflateZlibInto(data, size, exact.data(), out.size(), produced, error)) std::abort();
    if (produced != out.size() || !std::equal(out.begin(), out.end(), exact.begin())) std::abort();
    if (!out.empty()) {
        if (kiln::inflateZlibInto(data, size, exact.data(), out.size() - 1, produced, error)) std::abort();
        if (error != "the image data is the wrong size") std::abort();
    }
    return 0;
}
