// The command line: the mode asked for by argument 1 and the developer options
// that fill the start-up settings. Pure text in, record out, so every rule is
// tested natively; the entry point only splits and converts the arguments.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ember::launcher {

// What argument 1 asks for (compared as a whole, case-sensitive).
enum class StartMode {
    Normal,
    CheckManifest,  // "--check-manifest": the console report, nothing else
    Swap,           // "--swap <target path> <process id>": finish a self-update
    Updated,        // "--updated": clean up after a self-update, then start normally
};

// Scales at or below this are refused and the window's DPI decides.
inline constexpr float kMinimumExplicitScale = 0.25f;
// Scales above this are refused too: nothing draws sensibly beyond it, and
// later arithmetic (window sizes in pixels) must stay in range.
inline constexpr float kMaximumExplicitScale = 16.0f;
// The screenshot is taken after at least this many frames.
inline constexpr int32_t kMinimumShotFrames = 2;

// Where the high-contrast mode comes from: Windows' setting, or
// --high-contrast[=black|white] forcing it with a built-in palette.
enum class HighContrastChoice : uint8_t {
    System,
    Black,  // "--high-contrast" and "--high-contrast=black"
    White,  // "--high-contrast=white"
};

struct StartupSettings {
    // Mode from argument 1.
    StartMode mode = StartMode::Normal;

    // Demo mode and screenshot automation (--demo, --shot, --frames).
    bool demo = false;
    std::string demoScene;  // "home" when --demo was given an empty name
    std::string shotPath;   // empty: no screenshot
    int32_t shotFrames = 8;

    // Window scale and size (--scale, --size).
    float uiScale = 1.0f;
    bool scaleExplicit = false;  // true: DPI changes no longer rescale
    int32_t width = 0;           // 0: default width
    int32_t height = 0;          // 0: default height

    // Simulated input for reproducible screenshots (--mouse, --wheel).
    bool mouseSet = false;
    float mouseX = 0.0f;
    float mouseY = 0.0f;
    float wheelX = 0.0f;
    float wheelY = 0.0f;
    float wheelDelta = 0.0f;  // in notches; 0: no wheel event
    int32_t tabPresses = 0;   // --tab n: Tab pressed n times before the third frame (0..200)

    // Drawing device (--warp).
    bool warp = false;

    // High contrast (--high-contrast[=black|white]); another value is ignored.
    HighContrastChoice highContrast = HighContrastChoice::System;
};

// Which starts must be the only launcher for their settings.
enum class InstanceRule {
    None,      // runs beside anything: the console report, the swap, demo scenes
    Single,    // a normal start: refused while another launcher runs
    TakeOver,  // the restart after a swap: runs, and is the launcher from now on
};
InstanceRule instanceRule(const StartupSettings& settings);

// args[0] is the program; options are read from args[1] on, left to right.
// Unknown arguments are ignored; an option that takes a value consumes the
// next argument and is ignored when it is the last one.
StartupSettings parseCommandLine(const std::vector<std::string>& args);

// The mode argument 1 asks for, with its minimum argument counts.
StartMode startMode(const std::vector<std::string>& args);

// Number readers with the C runtime's rules, independent of the locale.
// `_wtoi`: leading whitespace, an optional sign, digits up to the first
// non-digit; no digits gives 0; out-of-range values saturate.
int32_t parseIntLikeWtoi(const std::string& text);
// `_wtof`: leading whitespace, an optional sign, decimal digits with an
// optional fraction and exponent; nothing readable gives 0. Infinity and NaN
// spellings are read too (callers refuse them).
double parseDoubleLikeWtof(const std::string& text);

}  // namespace ember::launcher
