// Fuzz entry point for the command-line parser: the input is split at NUL
// bytes into arguments after the program name. Whatever arrives, the
// settings must stay inside the ranges the window and frame loop rely on.
#include "launcher/shell/cmdline.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace ember::launcher;

static void check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "fuzz_cmdline: %s\n", what);
    std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args{"Emberlane.exe"};
    std::string current;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    args.push_back(current);

    StartupSettings s = parseCommandLine(args);
    check(s.mode == startMode(args), "mode differs from startMode");
    check(s.shotFrames >= kMinimumShotFrames, "too few screenshot frames");
    check(std::isfinite(s.uiScale), "scale not finite");
    if (s.scaleExplicit) {
        check(s.uiScale > kMinimumExplicitScale && s.uiScale <= kMaximumExplicitScale, "explicit scale out of range");
    } else {
        check(s.uiScale == 1.0f, "scale without --scale is not 1");
    }
    check(s.width >= 0 && s.height >= 0, "negative size");
    check(!s.mouseSet || (std::isfinite(s.mouseX) && std::isfinite(s.mouseY)), "pointer not finite");
    check(std::isfinite(s.wheelX) && std::isfinite(s.wheelY) && std::isfinite(s.wheelDelta), "wheel not finite");
    check(!s.demo || !s.demoScene.empty(), "demo without a scene");

    // The number readers over the raw text.
    std::string text(reinterpret_cast<const char*>(data), size);
    (void)parseIntLikeWtoi(text);
    (void)parseDoubleLikeWtof(text);
    return 0;
}
