// What a click that saves the settings costs the UI thread: the time of the
// settings checkbox's action (the game version check on and off), which
// writes config.json, measured on the calling thread as the frame loop
// would feel it. A plain program, so it runs natively and under Wine (the
// Windows build has no benchmark library); bench/click-figures runs both.
// config.json holds the records of a client of `files` files, as a
// player's does after an install; and of that, the log line the click
// writes. Beside it, the game watch's look at the
// process list, which the frame loop makes every 3 s while the game runs.
//
// Usage: click_figures <scratch folder> [clicks, default 200] [files, default 600]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/paths.h"
#include "launcher/app/controller.h"
#include "launcher/app/pipeline.h"
#include "launcher/formats/config.h"
#include "launcher/install/apply.h"
#include "tests/support/scratch.h"

using namespace ember::launcher;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: click_figures <scratch folder> [clicks] [files]\n");
        return 2;
    }
    const std::string folder = argv[1];
    const int clicks = argc > 2 ? std::max(1, std::atoi(argv[2])) : 200;
    const int files = argc > 3 ? std::max(0, std::atoi(argv[3])) : 600;
    createDirectories(folder);
    ember::launcher::testing::ScopedEnv env("EMBERLANE_CONFIG_DIR", folder);

    // Posted closures are kept and run between clicks, as the window would.
    std::vector<app::Task*> posted;
    app::UiHooks hooks;
    hooks.post = [&posted](app::Task* task) {
        posted.push_back(task);
        return true;
    };
    app::init(hooks, false);
    Config& config = app::state().config;
    for (int i = 0; i < files; ++i) {
        config.installed["Emberlane/data/file" + std::to_string(i) + ".pak"] =
            InstalledFile{std::string(64, 'a'), 1000000 + i, 133000000000000000LL + i};
    }

    std::vector<double> micros;
    for (int i = 0; i < clicks; ++i) {
        const auto start = std::chrono::steady_clock::now();
        app::setIgnoreVersion(i % 2 == 0);
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        for (app::Task* task : posted) app::runPostedTask(reinterpret_cast<uintptr_t>(task));
        posted.clear();
    }
    app::shutdownWorkers();
    auto report = [](const char* what, std::vector<double>& values) {
        std::sort(values.begin(), values.end());
        auto at = [&](double share) { return values[static_cast<size_t>(share * (values.size() - 1))]; };
        std::printf("%s: median %.0f us, p90 %.0f us, max %.0f us\n", what, at(0.5), at(0.9), values.back());
    };
    const std::string what = "click that saves settings (" + std::to_string(files) + " records, " +
                             std::to_string(clicks) + " clicks)";
    report(what.c_str(), micros);

    // Of which the log line the click writes (launcher.log, at once).
    std::vector<double> lines;
    for (int i = 0; i < clicks; ++i) {
        const auto start = std::chrono::steady_clock::now();
        logLine("the game version check is on");
        lines.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    report("of which its log line", lines);

#ifdef _WIN32
    std::vector<double> looks;
    for (int i = 0; i < 50; ++i) {
        const auto start = std::chrono::steady_clock::now();
        volatile bool running = isGameRunning();
        (void)running;
        looks.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    report("game watch's look at the process list (50 looks)", looks);
#endif
    return 0;
}
