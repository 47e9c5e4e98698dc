// Fuzz entry point for the stylesheet dialect: any text is read as a
// stylesheet and scaled, and the scaled text is read again.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ui/kiln/registry.h"
#include "ui/kiln/style.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The last byte picks the scale, so scaling sees odd factors too.
    float scale = 1.0f;
    if (size > 0) {
        static const float scales[] = {1.0f, 1.25f, 1.5f, 1.75f, 2.0f, 0.5f, 3.0f, 1.0005f};
        scale = scales[data[size - 1] % 8];
    }
    std::string text(reinterpret_cast<const char*>(data), size);

    kiln::Stylesheet sheet;
    std::string error;
    bool ok = kiln::parseStylesheet(text, sheet, error);
    // What the parser promises: a failure says why; a success has rules in
    // (specificity, order) order.
    if (ok == sheet.rules.empty() || ok != error.empty()) __builtin_trap();
    for (size_t i = 1; i < sheet.rules.size(); ++i) {
        const kiln::Rule& a = sheet.rules[i - 1];
        const kiln::Rule& b = sheet.rules[i];
        if (a.specificity > b.specificity || (a.specificity == b.specificity && a.order >= b.order)) __builtin_trap();
    }

    std::string scaled = kiln::scaleStylesheet(text, scale);
    kiln::Stylesheet again;
    kiln::parseStylesheet(scaled, again, error);

    // Interned families and pictures would otherwise pile up across runs.
    kiln::resetRegistry();
    return 0;
}
