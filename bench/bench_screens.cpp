// The busiest screens as the window builds them: one whole frame (the
// screens' build from a demo scene's state, styles from the launcher's own
// stylesheet, layout, text and the draw list) at 1600 x 1000, scale 1, with
// the fixed-metrics test font.
//
//   BM_Screen/<scene>   one frame; the counter "elements" is the tree's size
//   BM_ScreenRead/<scene>  the same with the screen-reader tree built after
//                       it (what the window does once a client has asked)
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "launcher/kit/access.h"
#include "launcher/kit/targets.h"
#include "launcher/shell/stylesheet_road.h"
#include "launcher/demo/demo.h"
#include "launcher/screens/screens.h"
#include "tests/support/test_font.h"
#include "ui/kiln/draw.h"
#include "ui/kiln/kiln.h"
#include "ui/kiln/registry.h"

namespace {

using namespace ember::launcher;

constexpr float kWidth = 1600, kHeight = 1000;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void runScreen(benchmark::State& st, const char* scene, bool readerTree) {
    kiln::TestFontProvider fonts;
    kiln::resetContext();
    kiln::resetRegistry();
    kiln::setFontProvider(&fonts);
    const std::filesystem::path config = std::filesystem::temp_directory_path() / "bench_screens";
    std::filesystem::create_directories(config);
    StylesheetRoad road;
    road.exeFolder = config.string();
    road.configDir = config.string();
    road.resourceText = readFile(std::string(EMBER_SOURCE_DIR) + "/res/launcher.css");
    std::string reason;
    if (!loadLauncherStylesheet(road, 1, reason)) {
        st.SkipWithError(reason.c_str());
        return;
    }
    kiln::startPainter();
    kiln::setMouseInWindow(true);

    app::AppState state;
    state.demo = true;
    state.version = "2.1.0";
    if (!view::fillDemoScene(state, scene)) {
        st.SkipWithError("unknown scene");
        return;
    }
    uint64_t now = 100000;
    auto frame = [&] {
        kiln::beginFrame(kWidth, kHeight, 1);
        view::buildFrame(state, kWidth, kHeight, 1, now, view::demoBody(state));
        kiln::endFrame();
        if (readerTree) benchmark::DoNotOptimize(view::accessTree(view::frameTargets(kiln::ui())));
        now += 16;
    };
    for (int i = 0; i < 3; ++i) frame();  // glyphs, layouts and memory warm
    for (auto _ : st) frame();
    st.counters["elements"] = static_cast<double>(kiln::ui().nodes.size());
    kiln::resetContext();
    kiln::setFontProvider(nullptr);
}

void BM_Screen(benchmark::State& st, const char* scene) { runScreen(st, scene, false); }
void BM_ScreenRead(benchmark::State& st, const char* scene) { runScreen(st, scene, true); }

BENCHMARK_CAPTURE(BM_Screen, realms_many, "realms-many")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Screen, home_progress, "home-progress")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Screen, settings_advanced, "settings-advanced")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Screen, kit, "kit")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ScreenRead, realms_many, "realms-many")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ScreenRead, home_progress, "home-progress")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ScreenRead, settings_advanced, "settings-advanced")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ScreenRead, modal_create, "modal:create")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Screen, modal_create, "modal:create")->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
