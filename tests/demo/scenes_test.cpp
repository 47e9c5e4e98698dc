// Every demo scene (and the kit) at scales 1, 1.25, 1.5 and 2, in a window
// of 1280 x 800 times the scale, built with the launcher's own stylesheet
// as the program loads it, as usual and in high contrast with a black and
// a white palette: nothing may warn, no text may run out of its box or be
// cut off by a box that hides its overflow, no text may lack contrast, and
// nothing may stand outside the window (nor the aurora be built in high
// contrast). Measured on the laid-out tree. Natively with the
// fixed-metrics test font (half the size per character, wider than most
// real faces); under Wine with the real GDI fonts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <sstream>
#include <unordered_map>

#include "base/log.h"
#include "base/paths.h"
#include "launcher/shell/stylesheet_road.h"
#include "tests/demo/launcher_styles.h"
#include "launcher/demo/demo.h"
#include "launcher/kit/access.h"
#include "launcher/kit/targets.h"
#include "launcher/kit/textfield.h"
#include "launcher/screens/screens.h"
#include "tests/support/scratch.h"
#include "ui/kiln/contrast.h"
#include "ui/kiln/kiln.h"
#include "ui/kiln/registry.h"
#include "ui/kiln/text.h"
#ifdef _WIN32
#include "ui/win32/backend_win32.h"
#else
#include "tests/support/test_font.h"
#endif

namespace ember::launcher::view {
namespace {

constexpr float kSlack = 0.5f;  // px: rounding in layout

// The element spec texts of this frame's nodes: by their class list, and
// by element name for specs without classes.
struct SpecTexts {
    std::unordered_map<const uint32_t*, std::string> byClasses;
    std::unordered_map<uint32_t, std::string> byTag;
    SpecTexts() {
        auto add = [this](const kiln::NodeSpec& spec) {
            if (!spec.classes.empty()) {
                byClasses[spec.classes.data()] = spec.text;
            } else if (spec.id == 0) {
                byTag[spec.tag] = spec.text;
            }
        };
        for (const auto& entry : kiln::ui().specs) add(entry.second);
        for (const auto& entry : kiln::ui().specCollisions) add(entry.second);
    }
    std::string of(const kiln::Node& n) const {
        if (n.classCount > 0) {
            auto it = byClasses.find(n.classes);
            if (it != byClasses.end()) return it->second;
        }
        auto it = byTag.find(n.tag);
        return it != byTag.end() ? it->second : "?";
    }
};

class SceneSweep {
public:
    // `clear` is what the window paints first; `forced`: high contrast.
    SceneSweep(std::string scene, float scale, kiln::Colour clear, bool forced)
        : scene_(std::move(scene)), scale_(scale), clear_(clear), forced_(forced) {}

    // Builds the scene a few frames (widgets size themselves from the last
    // frame's rectangles) and returns what is wrong with the last one.
    std::vector<std::string> run() {
        app::AppState state;
        state.demo = true;
        state.version = "2.1.0";
        if (!fillDemoScene(state, scene_)) return {"unknown scene"};
        kiln::setForcedColours(forced_);
        width_ = std::floor(1280 * scale_);
        height_ = std::floor(800 * scale_);
        uint64_t now = 100000;
        for (int i = 0; i < 3; ++i, now += 16) {
            kiln::beginFrame(width_, height_, scale_);
            buildFrame(state, width_, height_, scale_, now, demoBody(state));
            kiln::endFrame();
        }
        specs_ = SpecTexts();
        std::vector<std::string> faults;
        const auto& nodes = kiln::ui().nodes;
        for (size_t i = 1; i < nodes.size(); ++i) check(nodes, i, faults);
        static const uint32_t aurora = kiln::nameHash("aurora");
        if (forced_ && std::any_of(nodes.begin(), nodes.end(), [](const kiln::Node& n) { return n.tag == aurora; }))
            faults.push_back(scene_ + ": the aurora is built in high contrast");
        // Every text readable against what lies under it.
        size_t judged = 0;
        const auto low = kiln::lowContrastTexts(kiln::ui(), clear_, "is-disabled", &judged);
        if (judged == 0) faults.push_back(scene_ + ": no text could be judged for contrast");
        for (const kiln::ContrastFault& f : low) {
            std::ostringstream line;
            line << scene_ << " at " << scale_ << ": contrast " << std::fixed << std::setprecision(2) << f.ratio
                 << " < " << f.needed << ": " << describe(nodes, f.node);
            faults.push_back(line.str());
        }
        return faults;
    }

private:
    std::string describe(const std::vector<kiln::Node>& nodes, size_t i) const {
        std::string path;
        for (int32_t at = static_cast<int32_t>(i), depth = 0; at > 0 && depth < 3; at = nodes[size_t(at)].parent, ++depth) {
            const std::string spec = specs_.of(nodes[size_t(at)]);
            path = depth == 0 ? spec : spec + " > " + path;
        }
        const kiln::Node& n = nodes[i];
        if (n.kind == kiln::KindText) path += " \"" + std::string(kiln::nodeText(n).substr(0, 40)) + "\"";
        return path;
    }

    static bool underTag(const std::vector<kiln::Node>& nodes, size_t i, uint32_t tag) {
        for (int32_t at = static_cast<int32_t>(i); at > 0; at = nodes[size_t(at)].parent)
            if (nodes[size_t(at)].tag == tag) return true;
        return false;
    }

    // Whether an ancestor scrolls (what it hides is meant to be scrolled to).
    static bool inScroller(const std::vector<kiln::Node>& nodes, size_t i) {
        for (int32_t at = nodes[i].parent; at > 0; at = nodes[size_t(at)].parent)
            if (nodes[size_t(at)].computed.overflow == kiln::OverflowScroll) return true;
        return false;
    }

    void fault(std::vector<std::string>& faults, const std::vector<kiln::Node>& nodes, size_t i,
               const std::string& what, float by) const {
        std::ostringstream line;
        line.precision(1);
        const kiln::Rect& b = nodes[i].box;
        line << std::fixed << scene_ << " @" << std::setprecision(2) << scale_ << std::setprecision(1) << ": "
             << describe(nodes, i) << ": " << what << " by " << by << " px (box " << b.x << "," << b.y << " "
             << b.w << "x" << b.h << ")";
        faults.push_back(line.str());
    }

    void check(const std::vector<kiln::Node>& nodes, size_t i, std::vector<std::string>& faults) const {
        const kiln::Node& n = nodes[i];
        if (n.paintOrder < 0 || n.box.w <= 0 || n.box.h <= 0) return;
        static const uint32_t aurora = kiln::nameHash("aurora");
        if (underTag(nodes, i, aurora)) return;  // the glow discs reach past the window by design

        // Outside the window (only what no box of the screens clips).
        const kiln::Rect& c = n.clip;
        const bool unclipped = c.x <= 0 && c.y <= 0 && c.x + c.w >= width_ && c.y + c.h >= height_;
        if (unclipped) {
            const float out = std::max({-n.box.x, -n.box.y, n.box.x + n.box.w - width_, n.box.y + n.box.h - height_});
            if (out > kSlack) fault(faults, nodes, i, "outside the window", out);
        }
        if (n.kind != kiln::KindText || n.textLength == 0) return;

        // Lines wider or taller than the text's own box.
        float widest = 0;
        size_t lines = 0;
        for (const kiln::TextLine& line : kiln::nodeLines(n)) {
            widest = std::max(widest, line.width);
            ++lines;
        }
        const float tall = static_cast<float>(lines) * kiln::lineHeight(n.font, n.computed.lineHeight);
        if (widest > n.content.w + kSlack) fault(faults, nodes, i, "text wider than its box", widest - n.content.w);
        if (tall > n.content.h + kSlack) fault(faults, nodes, i, "text taller than its box", tall - n.content.h);

        // The text's box beyond its parent's content box (into its padding
        // and border), or cut off by a box that hides its overflow.
        if (inScroller(nodes, i) || n.computed.position == kiln::PositionAbsolute) return;
        const kiln::Node& p = nodes[size_t(n.parent)];
        const kiln::Rect& pc = p.content;
        const float past = std::max({pc.x - n.box.x, pc.y - n.box.y, n.box.x + n.box.w - (pc.x + pc.w),
                                     n.box.y + n.box.h - (pc.y + pc.h)});
        if (past > kSlack) fault(faults, nodes, i, "text past its parent's content box", past);
        // ... and beyond a box further up (a field wider than its dialog).
        for (int32_t at = p.parent; at > 0; at = nodes[size_t(at)].parent) {
            const kiln::Node& a = nodes[size_t(at)];
            const float beyond = std::max({a.box.x - n.box.x, a.box.y - n.box.y, n.box.x + n.box.w - (a.box.x + a.box.w),
                                           n.box.y + n.box.h - (a.box.y + a.box.h)});
            if (beyond > kSlack && past <= kSlack) {
                fault(faults, nodes, i, "text beyond " + specs_.of(a), beyond);
                break;
            }
            if (a.computed.position == kiln::PositionAbsolute) break;
        }
        if (!unclipped) {
            const float cut = std::max({c.x - n.box.x, c.y - n.box.y, n.box.x + n.box.w - (c.x + c.w),
                                        n.box.y + n.box.h - (c.y + c.h)});
            if (cut > kSlack) fault(faults, nodes, i, "text clipped", cut);
        }
    }

    std::string scene_;
    float scale_;
    kiln::Colour clear_;
    bool forced_;
    float width_ = 0, height_ = 0;
    SpecTexts specs_;
};

using ScenesTest = LauncherStylesTest;

TEST_F(ScenesTest, EveryScaleOfEverySceneFitsAndWarnsOfNothing) {
    testing::ScopedEnv dir("EMBERLANE_CONFIG_DIR", config_.path());
    testing::ScopedEnv on("EMBERLANE_UI_TRACE", std::string("1"));
    std::vector<std::string> scenes = demoScenes();
    scenes.push_back("kit");
    std::vector<std::string> faults;
    for (const Look& look : looks()) {
        road_.colours = look.colours;
        const kiln::Colour clear = look.clear();
        for (const float scale : {1.0f, 1.25f, 1.5f, 2.0f}) {
            std::string reason;
            ASSERT_TRUE(loadLauncherStylesheet(road_, scale, reason)) << reason;
            EXPECT_EQ(reason.find('\n'), std::string::npos) << "the stylesheet warns at scale " << scale << ": " << reason;
            for (const std::string& scene : scenes) {
                kiln::resetContext();
                for (std::string& f : SceneSweep(scene, scale, clear, look.forced).run())
                    faults.push_back(std::string(look.what) + ": " + f);
            }
        }
    }
    const std::string traced = testing::fileText(joinPath(config_.path(), "ui-trace.log"));
    std::istringstream lines(traced);
    for (std::string line; std::getline(lines, line);) {
        std::string lower = line;
        for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (lower.find("warn") != std::string::npos || lower.find("failed") != std::string::npos)
            faults.push_back("trace: " + line);
    }
    std::string all;
    for (const std::string& f : faults) all += f + "\n";
    EXPECT_TRUE(faults.empty()) << faults.size() << " faults:\n" << all;
}

// What a screen reader gets from every scene: every element that can be
// pressed or typed into has a name a person would say (symbol buttons and
// a field holding text included), ids are unique and the same in the next
// frame, the realms and the characters are lists, the password is secret.
TEST_F(ScenesTest, EveryTargetOfEverySceneHasANameAndAStableId) {
    testing::ScopedEnv dir("EMBERLANE_CONFIG_DIR", config_.path());
    std::string reason;
    ASSERT_TRUE(loadLauncherStylesheet(road_, 1.0f, reason)) << reason;
    auto tree = [](app::AppState& state) {
        for (int i = 0; i < 2; ++i) {
            kiln::beginFrame(1280, 800, 1);
            buildFrame(state, 1280, 800, 1, 100000 + 16 * i, demoBody(state));
            kiln::endFrame();
        }
        return accessTree(frameTargets(kiln::ui()));
    };
    std::vector<std::string> faults;
    for (const std::string& scene : demoScenes()) {
        kiln::resetContext();
        app::AppState state;
        state.demo = true;
        ASSERT_TRUE(fillDemoScene(state, scene)) << scene;
        if (scene == "home") setFieldText(state, "realm-search", "an");
        const std::vector<AccessNode> first = tree(state), second = tree(state);
        std::vector<uint64_t> ids;
        for (const AccessNode& n : first) {
            if (n.name.empty() && n.role != AccessRole::text) faults.push_back(scene + ": an unnamed " + spelling(n.role));
            if (n.role == AccessRole::listItem && (n.parent < 0 || first[size_t(n.parent)].role != AccessRole::list))
                faults.push_back(scene + ": the item " + n.name + " is in no list");
            if (n.role == AccessRole::edit && (n.name.find("assword") != std::string::npos) != n.secret)
                faults.push_back(scene + ": " + n.name + " is marked secret wrongly");
            if (std::find(ids.begin(), ids.end(), n.id) != ids.end()) faults.push_back(scene + ": a repeated id");
            ids.push_back(n.id);
        }
        std::vector<uint64_t> again;
        for (const AccessNode& n : second) again.push_back(n.id);
        if (again != ids) faults.push_back(scene + ": the ids changed in the next frame");
        if (scene == "home") {
            bool search = false;
            for (const AccessNode& n : first) search = search || (n.role == AccessRole::edit && n.name == "search a realm");
            if (!search) faults.push_back("home: the realm search holding text lost its name");
        }
    }
    std::string all;
    for (const std::string& f : faults) all += f + "\n";
    EXPECT_TRUE(faults.empty()) << faults.size() << " faults:\n" << all;
}

}  // namespace
}  // namespace ember::launcher::view
