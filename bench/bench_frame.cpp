// One whole KilnUI frame (begin, build, style, layout, text, draw list) of a
// launcher-like tree, with the fixed-metrics test font, and each pass alone.
//
// The tree: a window with a title bar, a realm rail holding a scroll list,
// a main column of cards (headings, a few words of text, rows of buttons),
// a footer, and absolutely placed decoration discs. The stylesheet has the
// structural rules such a screen needs plus generated rules over the same
// classes (modifiers, states, descendant selectors), as a real stylesheet
// mostly styles the classes its screens use.
//
//   BM_Frame/<elements>/<rules>       the whole frame
//   BM_Pass*/<elements>/<rules>       build, styles, layout, draw list alone
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "ui/kiln/draw.h"
#include "ui/kiln/kiln.h"
#include "ui/kiln/registry.h"
#include "tests/support/test_font.h"

namespace {

using namespace kiln;

const char* const kBaseCss = R"(
root { font-size: 15; color: #e8dfc8; }
.win { width: 100%; height: 100%; background: #101820; }
.titlebar { display: flex; flex-direction: row; height: 44; padding: 0 12; align-items: center; gap: 8; border-width: 0 0 1 0; border-color: #1d3853; }
.titlebar .t-title { flex: 1; font-size: 18; letter-spacing: 2; }
.body { display: flex; flex-direction: row; flex: 1; }
.rail { width: 280; padding: 12; gap: 8; background: rgba(0, 0, 0, 0.25); }
.realms { flex: 1; gap: 4; }
.realm { display: flex; flex-direction: row; padding: 6 10; gap: 6; border-radius: 6; background: rgba(255, 255, 255, 0.04); }
.realm:hover { background: rgba(255, 255, 255, 0.08); }
.realm.is-on { background: rgba(200, 168, 107, 0.2); border-width: 1; border-color: #c8a86b; }
.realm__name { flex: 1; white-space: nowrap; }
.realm__pop { color: #9aa; font-size: 13; }
.main { flex: 1; padding: 16; gap: 12; }
.card { padding: 14; gap: 8; border-radius: 8; background: rgba(16, 32, 48, 0.9); glow: 6 rgba(0, 203, 175, 0.15); }
.t-h3 { font-size: 17; font-weight: bold; text-shadow: rgba(0, 0, 0, 0.6) 0 1; }
.t-body { font-size: 14; line-height: 1.4; color: #c9c2b0; }
.btnrow { display: flex; flex-direction: row; gap: 8; justify-content: flex-end; }
.btn { display: flex; flex-direction: row; padding: 8 16; border-radius: 4; align-items: center; background: #2a3a4a; }
.btn:hover { background: #34485c; }
.btn--primary { background: #c8a86b; color: #101820; }
.btn--ghost { background: transparent; border-width: 1; border-color: rgba(255, 255, 255, 0.2); }
.btn__lab { font-size: 14; letter-spacing: 1; white-space: nowrap; }
.footer { display: flex; flex-direction: row; height: 72; padding: 12 16; gap: 12; align-items: center; background: rgba(0, 0, 0, 0.4); }
.aurora { position: absolute; left: 0; top: 0; width: 100%; height: 100%; z-index: -1; }
.disc { border-radius: 300; background: rgba(0, 203, 175, 0.03); }
.badge { position: absolute; right: 8; top: 8; padding: 2 6; border-radius: 8; background: #c8a86b; }
)";

// Classes of the tree that generated rules pick from.
const char* const kClasses[] = {"win",       "titlebar", "body",  "rail",   "realms", "realm",       "realm__name",
                                "realm__pop", "main",     "card",  "t-h3",   "t-body", "btnrow",      "btn",
                                "btn--primary", "btn--ghost", "btn__lab", "footer", "disc", "badge", "t-title"};

std::string stylesheetText(int rules) {
    std::string css = kBaseCss;
    int base = 0;
    for (char c : css) base += c == '}';
    const int classCount = int(sizeof kClasses / sizeof kClasses[0]);
    for (int i = base; i < rules; ++i) {
        const char* cls = kClasses[i % classCount];
        const char* outer = kClasses[(i * 7 + 3) % classCount];
        std::string n = std::to_string(i);
        switch (i % 5) {
            case 0:  // a modifier the screens rarely set
                css += "." + std::string(cls) + ".m" + n + " { padding: " + std::to_string(i % 9) + "; }\n";
                break;
            case 1:  // a state
                css += "." + std::string(cls) + ":hover { color: #" + std::string(i % 2 ? "fff" : "ccc") + "; }\n";
                break;
            case 2:  // a descendant selector
                css += "." + std::string(outer) + " ." + cls + " { letter-spacing: 0." + std::to_string(i % 10) + "; }\n";
                break;
            case 3:  // element and class
                css += "div." + std::string(cls) + " { opacity: 1; }\n";
                break;
            default:  // a class no element has
                css += ".unused-" + n + " { margin: 4; }\n";
                break;
        }
    }
    return css;
}

// Builds the launcher-like tree until it has about `elements` elements.
void buildTree(int elements) {
    auto count = [] { return int(ui().nodes.size()); };
    openElement("div.win");
    // Decoration: absolutely placed discs behind everything
    openElement("div.aurora");
    for (int i = 0; i < 8; ++i) {
        openElement("div.disc");
        placeAt(100.0f + float(i) * 20, 60.0f + float(i) * 10);
        setSize(float(570 - 71 * i), float(570 - 71 * i));
        closeElement();
    }
    closeElement();
    // Title bar
    openElement("div.titlebar");
    textElement("EMBERLANE", "text.t-title");
    for (const char* label : {"Settings", "Minimise", "Close"}) {
        openElement("div.btn.btn--ghost");
        textElement(label, "text.btn__lab");
        closeElement();
    }
    closeElement();
    openElement("div.body");
    // Realm rail: a scroll list
    openElement("div.rail");
    textElement("Realms", "text.t-h3");
    scrollBegin("realms", "scroll.realms");
    const int railShare = elements / 3;
    for (int i = 0; count() < railShare; ++i) {
        pushKey(uint64_t(i));
        openElement(i == 2 ? "div.realm.is-on" : "div.realm");
        textElement("Realm of the west " + std::to_string(i), "text.realm__name");
        textElement(std::to_string(40 + i * 3) + " online", "text.realm__pop");
        closeElement();
        popKey();
    }
    scrollEnd();
    closeElement();
    // Main column: cards with text and buttons, some with a badge
    openElement("div.main");
    const int footerRoom = 12;
    for (int i = 0; count() < elements - footerRoom; ++i) {
        pushKey(uint64_t(1000 + i));
        openElement("div.card");
        textElement("Character " + std::to_string(i), "text.t-h3");
        textElement("Level 12 ranger, last seen in the Imperial City market district.", "text.t-body");
        openElement("div.btnrow");
        for (const char* label : {"Play as", "Rename"}) {
            openElement(label[0] == 'P' ? "div.btn.btn--primary" : "div.btn");
            textElement(label, "text.btn__lab");
            closeElement();
        }
        closeElement();
        if (i % 3 == 0) {
            openElement("div.badge");
            textElement("new", "text.btn__lab");
            closeElement();
        }
        closeElement();
        popKey();
    }
    closeElement();
    closeElement();
    // Footer
    openElement("div.footer");
    textElement("Launcher 2.1.0 is up to date", "text.t-body");
    openElement("div.btn.btn--primary");
    textElement("PLAY", "text.btn__lab");
    closeElement();
    closeElement();
    closeElement();
}

// The toolkit set up with the test font, the painter and a stylesheet.
struct Setup {
    TestFontProvider fonts;
    Stylesheet sheet;

    explicit Setup(int rules) {
        resetContext();
        resetRegistry();
        setFontProvider(&fonts);
        std::string error;
        if (!parseStylesheet(stylesheetText(rules), sheet, error)) std::abort();
        setStylesheet(&sheet);
        startPainter();
        setMouseInWindow(true);
    }
    ~Setup() {
        resetContext();
        setFontProvider(nullptr);
    }
};

constexpr float kWidth = 1280, kHeight = 800;

void frame(int elements) {
    beginFrame(kWidth, kHeight, 1);
    buildTree(elements);
    endFrame();
}

void BM_Frame(benchmark::State& state) {
    const int elements = int(state.range(0)), rules = int(state.range(1));
    Setup setup(rules);
    frame(elements);  // glyphs rasterised, memory and capacities warm
    frame(elements);
    for (auto _ : state) {
        frame(elements);
        benchmark::DoNotOptimize(drawList().vertices.data());
    }
    state.counters["elements"] = double(ui().nodes.size());
    state.counters["rules"] = double(setup.sheet.rules.size());
    state.counters["vertices"] = double(drawList().vertices.size());
    state.counters["batches"] = double(drawList().batches.size());
}

// The passes alone, on a tree built once.
enum Pass { PassBuild, PassStyles, PassLayout, PassDraw };

void runPass(benchmark::State& state, Pass pass) {
    const int elements = int(state.range(0)), rules = int(state.range(1));
    Setup setup(rules);
    frame(elements);
    frame(elements);
    UiContext& c = ui();
    DrawList list;
    for (auto _ : state) {
        switch (pass) {
            case PassBuild:
                beginFrame(kWidth, kHeight, 1);
                buildTree(elements);
                break;
            case PassStyles:
                resolveStyles(c, setup.sheet);
                break;
            case PassLayout:
                // As in a real frame, the text is laid out afresh.
                for (Node& n : c.nodes) n.hasLines = false;
                c.lineArena.clear();
                layoutTree(c, kWidth, kHeight);
                break;
            case PassDraw:
                buildDrawList(c, list);
                break;
        }
        benchmark::ClobberMemory();
    }
}

void BM_PassBuild(benchmark::State& s) { runPass(s, PassBuild); }
void BM_PassStyles(benchmark::State& s) { runPass(s, PassStyles); }
void BM_PassLayout(benchmark::State& s) { runPass(s, PassLayout); }
void BM_PassDraw(benchmark::State& s) { runPass(s, PassDraw); }

void frameSizes(benchmark::internal::Benchmark* b) {
    b->Args({600, 400});
    // Cost per element (rules fixed) and per rule (elements fixed)
    for (int e : {150, 300, 1200}) b->Args({e, 400});
    for (int r : {50, 200, 800}) b->Args({600, r});
    b->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_Frame)->Apply(frameSizes);
BENCHMARK(BM_PassBuild)->Args({600, 400})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PassStyles)->Args({600, 400})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PassLayout)->Args({600, 400})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PassDraw)->Args({600, 400})->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
