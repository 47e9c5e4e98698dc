// Reading and scaling a large stylesheet, and the per-frame hot paths that
// sit next to it: the grouped style copy and text layout.
#include <benchmark/benchmark.h>

#include <string>

#include "ui/kiln/registry.h"
#include "ui/kiln/style.h"
#include "tests/support/test_font.h"
#include "ui/kiln/text.h"

namespace {

// About 2,000 lines in the launcher's own style: one selector line, a few
// declarations of every kind, a closing brace and a blank line per rule.
std::string generatedStylesheet() {
    std::string text = "/* generated for the benchmark */\n";
    int lines = 1;
    for (int i = 0; lines < 2000; ++i) {
        std::string n = std::to_string(i);
        text += ".panel-" + n + " .btn--" + n + ":hover, #item" + n + " text.t-h" + std::to_string(i % 6) + " {\n";
        text += "  width: " + std::to_string(100 + i % 300) + "px;\n";
        text += "  padding: 12px 16.5px;\n";
        text += "  border: 1px solid #1d3853;\n";
        text += "  background: rgba(16, 20, 28, 0.85);\n";
        text += "  color: #e8dfc8;\n";
        text += "  font-size: " + std::to_string(12 + i % 20) + ";\n";
        text += "  text-shadow: 0 2px 4px rgba(0, 0, 0, 0.5);\n";
        text += "  transform: translate(-50%, 10px);\n";
        text += "}\n\n";
        lines += 11;
    }
    return text;
}

const std::string& stylesheet() {
    static const std::string text = generatedStylesheet();
    return text;
}

void BM_ParseStylesheet(benchmark::State& state) {
    const std::string& text = stylesheet();
    for (auto _ : state) {
        kiln::Stylesheet sheet;
        std::string error;
        benchmark::DoNotOptimize(kiln::parseStylesheet(text, sheet, error));
        benchmark::DoNotOptimize(sheet.rules.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ParseStylesheet)->Unit(benchmark::kMillisecond);

void BM_ScaleStylesheet(benchmark::State& state) {
    const std::string& text = stylesheet();
    for (auto _ : state) {
        std::string scaled = kiln::scaleStylesheet(text, 1.25f);
        benchmark::DoNotOptimize(scaled.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ScaleStylesheet)->Unit(benchmark::kMillisecond);

void BM_ScaleThenParse(benchmark::State& state) {
    const std::string& text = stylesheet();
    for (auto _ : state) {
        kiln::Stylesheet sheet;
        std::string error;
        benchmark::DoNotOptimize(kiln::parseStylesheet(kiln::scaleStylesheet(text, 1.25f), sheet, error));
    }
}
BENCHMARK(BM_ScaleThenParse)->Unit(benchmark::kMillisecond);

// Style resolution copies a rule's groups into an element's style: a
// typical rule sets four to eight groups.
void BM_ApplyStyleBits(benchmark::State& state) {
    kiln::Style from;
    kiln::Style to;
    kiln::StyleMask bits = kiln::bit(kiln::BitColor) | kiln::bit(kiln::BitBackground) |
                           kiln::bit(kiln::BitPadding) | kiln::bit(kiln::BitBorderWidth) |
                           kiln::bit(kiln::BitBorderColor) | kiln::bit(kiln::BitFontSize);
    for (auto _ : state) {
        kiln::applyStyleBits(to, from, bits);
        benchmark::DoNotOptimize(&to);
    }
}
BENCHMARK(BM_ApplyStyleBits);

// A paragraph of the news panel wrapped at 320 px.
void BM_LayoutText(benchmark::State& state) {
    static kiln::TestFontProvider fonts;
    kiln::setFontProvider(&fonts);
    kiln::Font* font = kiln::fontFor(0, 16, 400, false);
    const std::string text =
        "The realm restarts tonight at 22:00 for the spring update. Characters keep their gear; "
        "the market is reset and every guild hall gets a new banner. Thank you for playing on Emberlane.";
    std::vector<kiln::TextLine> lines;
    for (auto _ : state) {
        kiln::layoutText(text, font, 0.5f, false, 320, lines);
        benchmark::DoNotOptimize(lines.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
    kiln::setFontProvider(nullptr);
}
BENCHMARK(BM_LayoutText);

}  // namespace

BENCHMARK_MAIN();
