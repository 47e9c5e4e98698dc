// One KilnUI frame of launcher size: 600 elements (a third of them text)
// styled by a 400-rule stylesheet, built, resolved and laid out. The frame
// goal is under 0.5 ms for style resolution and layout together.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "ui/kiln.h"
#include "ui/registry.h"
#include "ui/test_font.h"

namespace {

using namespace kiln;

struct Scene {
    TestFontProvider fonts;
    Stylesheet sheet;
    std::vector<std::string> specs;  // one per element, in build order
    std::vector<int> depthChange;    // +1 open, 0 leaf, -n close n after
    std::vector<std::string> texts;

    Scene() {
        std::mt19937 rng(7);
        auto pick = [&rng](int n) { return int(rng() % uint32_t(n)); };
        // 200 class names, as a block__element--modifier vocabulary would give.
        std::vector<std::string> classes;
        for (int i = 0; i < 200; ++i) classes.push_back("c" + std::to_string(i));

        // 400 rules: mostly one class, some two, some descendant pairs, some states.
        std::string css = "root { font-size: 16; color: #e8dfc8; }\n";
        for (int r = 1; r < 400; ++r) {
            std::string sel;
            int kind = pick(10);
            if (kind < 5) {
                sel = "." + classes[size_t(pick(200))];
            } else if (kind < 7) {
                sel = "." + classes[size_t(pick(200))] + "." + classes[size_t(pick(200))];
            } else if (kind < 9) {
                sel = "." + classes[size_t(pick(200))] + " ." + classes[size_t(pick(200))];
            } else {
                sel = "." + classes[size_t(pick(200))] + ":hover";
            }
            css += sel + " { padding: " + std::to_string(pick(6)) + "; margin-bottom: " + std::to_string(pick(4)) +
                   "; background: #20304" + std::to_string(pick(10)) + "; }\n";
        }
        css += ".row { display: flex; flex-direction: row; gap: 6; }\n";
        std::string error;
        parseStylesheet(css, sheet, error);

        // 600 elements in rows of cards.
        int open = 0;
        for (int e = 0; e < 600; ++e) {
            std::string spec = "div";
            int n = 1 + pick(3);
            for (int k = 0; k < n; ++k) spec += "." + classes[size_t(pick(200))];
            bool text = pick(3) == 0;
            if (text) {
                specs.push_back("text" + spec.substr(3));
                depthChange.push_back(0);
                texts.push_back("Realm population is high tonight " + std::to_string(e));
            } else if (open < 8 && pick(2) == 0) {
                specs.push_back(spec + (pick(4) == 0 ? ".row" : ""));
                depthChange.push_back(1);
                texts.emplace_back();
                ++open;
            } else {
                specs.push_back(spec);
                depthChange.push_back(open > 0 && pick(3) == 0 ? -1 : 0);
                texts.emplace_back();
                if (depthChange.back() < 0) --open;
            }
        }
    }

    void build() const {
        for (size_t i = 0; i < specs.size(); ++i) {
            if (!texts[i].empty()) {
                textElement(texts[i], specs[i]);
            } else {
                openElement(specs[i]);
                if (depthChange[i] <= 0) closeElement();
                if (depthChange[i] < 0) closeElement();
            }
        }
    }
};

Scene& scene() {
    static Scene s;
    return s;
}

void setUp() {
    resetContext();
    setFontProvider(&scene().fonts);
    setStylesheet(&scene().sheet);
    setMouseInWindow(true);
}

void BM_WholeFrame(benchmark::State& state) {
    setUp();
    for (auto _ : state) {
        beginFrame(1280, 800, 1);
        scene().build();
        endFrame();
    }
    state.counters["elements"] = double(ui().nodes.size());
    state.counters["rules"] = double(scene().sheet.rules.size());
}
BENCHMARK(BM_WholeFrame)->Unit(benchmark::kMicrosecond);

void BM_ResolveStyles(benchmark::State& state) {
    setUp();
    beginFrame(1280, 800, 1);
    scene().build();
    for (auto _ : state) resolveStyles(ui(), scene().sheet);
    endFrame();
}
BENCHMARK(BM_ResolveStyles)->Unit(benchmark::kMicrosecond);

void BM_Layout(benchmark::State& state) {
    setUp();
    beginFrame(1280, 800, 1);
    scene().build();
    resolveStyles(ui(), scene().sheet);
    for (auto _ : state) layoutTree(ui(), 1280, 800);
    endFrame();
}
BENCHMARK(BM_Layout)->Unit(benchmark::kMicrosecond);

void BM_BuildOnly(benchmark::State& state) {
    setUp();
    for (auto _ : state) {
        beginFrame(1280, 800, 1);
        scene().build();
        ui().nodes.clear();  // no endFrame: only the builder's share
    }
}
BENCHMARK(BM_BuildOnly)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
