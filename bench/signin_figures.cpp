// The time from pressing sign-in to signed in, under Wine, against the
// stand-in account service asking for a proof-of-work: the controller's
// whole road (the first refusal, the solve on the account worker, the second
// sign-in, the saved sign-in written, the result applied on the "UI
// thread"). Prints each run and the median.
//
//   signin_figures <https base of the stand-in> [difficulty] [runs]
//
// bench/signin-figures starts the stand-in and runs it.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "launcher/app/accounts.h"
#include "launcher/app/controller.h"
#include "base/paths.h"
#include "launcher/net/http.h"
#include "tests/app/ui_loop.h"

using namespace ember::launcher;

namespace {

bool control(const std::string& base, const std::string& body) {
    http::Request request;
    request.method = "POST";
    request.url = base + "control/accounts";
    request.body = body;
    http::Response reply = http::request(request);
    if (reply.status != 200) std::fprintf(stderr, "control: %d %s %s\n", reply.status, reply.error.c_str(), reply.body.c_str());
    return reply.status == 200;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: signin_figures <https base> [difficulty] [runs]\n");
        return 2;
    }
    std::string base = argv[1];
    int difficulty = argc > 2 ? std::atoi(argv[2]) : 16;
    int runs = argc > 3 ? std::atoi(argv[3]) : 5;
    if (!control(base, "{\"space\": \"bench\", \"reset\": true, \"layers\": {\"login\": [\"pow\"]}, "
                       "\"powDifficulty\": " + std::to_string(difficulty) + "}")) {
        return 1;
    }

    testing::UiLoop ui;
    app::init(ui.hooks(), false);
    app::AppState& s = app::state();
    s.manifestLoaded = true;
    s.manifest.accountsApiBase = base + "s/bench";
    s.manifest.accountsMode = "password";
    app::applyAccountsManifest();

    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        auto start = std::chrono::steady_clock::now();
        app::login("demo@emberlane.test", "ember-demo-1", "");
        bool done = ui.runUntil([&] { return !s.accountBusy; }, 120000);
        double took = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (!done || !s.signedIn) {
            std::fprintf(stderr, "run %d: not signed in: %s %s\n", i + 1, s.form.message.title.c_str(),
                         s.form.fieldError.c_str());
            app::shutdownWorkers();
            return 1;
        }
        std::printf("run %d: %.1f ms\n", i + 1, took);
        ms.push_back(took);
        app::logout();
        ui.drain();
    }
    std::sort(ms.begin(), ms.end());
    std::printf("sign-in to signed in, proof-of-work difficulty %d: median %.1f ms of %d (min %.1f, max %.1f)\n",
                difficulty, ms[ms.size() / 2], runs, ms.front(), ms.back());
    app::shutdownWorkers();
    return 0;
}
