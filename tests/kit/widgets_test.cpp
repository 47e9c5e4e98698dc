// The widget kit: its animation formulas, the element specs it opens, and
// the rules that a disabled or busy button is never clicked and writes no
// trace line while an enabled one does.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "base/log.h"
#include "base/paths.h"
#include "launcher/kit/clipboard.h"
#include "launcher/kit/widgets.h"
#include "tests/support/scratch.h"
#include "tests/kiln/kiln_fixture.h"

namespace ember::launcher::view {
namespace {

// Tracing is read once per process: switched on, into a scratch folder,
// before any test runs.
class TraceEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        config_ = std::make_unique<testing::ScratchDir>();
        dir_ = std::make_unique<testing::ScopedEnv>("EMBERLANE_CONFIG_DIR", config_->path());
        on_ = std::make_unique<testing::ScopedEnv>("EMBERLANE_UI_TRACE", std::string("1"));
        ASSERT_TRUE(traceEnabled());
    }
    void TearDown() override {
        on_.reset();
        dir_.reset();
        config_.reset();
    }
    static std::string traceText() { return testing::fileText(joinPath(configDir(), "ui-trace.log")); }

private:
    std::unique_ptr<testing::ScratchDir> config_;
    std::unique_ptr<testing::ScopedEnv> dir_, on_;
};
const auto* const g_trace = ::testing::AddGlobalTestEnvironment(new TraceEnvironment);

TEST(WidgetAnimation, SpinnerDotsFadeBehindTheStep) {
    const struct {
        uint64_t t;
        int dot;
        float want;
    } cases[] = {
        {0, 0, 1.0f},        {0, 7, 0.89f},     {0, 1, 0.23f},  // step 0: dot 7 is one step behind, dot 1 seven
        {87, 0, 1.0f},       {88, 1, 1.0f},     {88, 0, 0.89f},
        {88 * 8, 0, 1.0f},   {88 * 11, 3, 1.0f}, {88 * 11, 4, 0.23f},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(spinnerDotOpacity(c.t, c.dot), c.want, 1e-5) << "t " << c.t << " dot " << c.dot;
    }
    EXPECT_EQ(spinnerNextStep(0), 88);
    EXPECT_EQ(spinnerNextStep(87), 1);
}

TEST(WidgetAnimation, IndeterminateSegmentSweepsTheBar) {
    // A 400 px bar; the segment is 96 px at scale 1, 144 px at 1.5.
    const struct {
        uint64_t t;
        float scale, left, right;
    } cases[] = {
        {0, 1, 0, 0},          // p 0: not in yet
        {350, 1, 0, 62},       // p 0.25, e 0.125: 496 x 0.125, the left edge held at 0
        {700, 1, 152, 248},    // p 0.5, e 0.5
        {1050, 1, 338, 400},   // p 0.75, e 0.875: 434 held at the bar's end
        {1400, 1, 0, 0},       // the period starts again
        {700, 1.5f, 128, 272}, // 544 x 0.5
    };
    for (const auto& c : cases) {
        const Segment s = indeterminateSegment(c.t, 400, c.scale);
        EXPECT_NEAR(s.left, c.left, 1e-3) << "t " << c.t << " scale " << c.scale;
        EXPECT_NEAR(s.right, c.right, 1e-3) << "t " << c.t << " scale " << c.scale;
    }
}

TEST(WidgetAnimation, FillFractionAndBands) {
    EXPECT_EQ(fillFraction(0.25f), 0.25f);
    EXPECT_EQ(fillFraction(1.7f), 1.0f);
    EXPECT_EQ(fillFraction(-0.5f), 0.0f);
    EXPECT_EQ(fillFraction(std::numeric_limits<float>::quiet_NaN()), 0.0f);
    const kiln::Colour first = bandColour(0), last = bandColour(31);
    EXPECT_NEAR(first.r * 255, 1, 1e-3);
    EXPECT_NEAR(first.g * 255, 140, 1e-3);
    EXPECT_NEAR(first.b * 255, 219, 1e-3);
    EXPECT_NEAR(last.r * 255, 79, 1e-3);
    EXPECT_NEAR(last.g * 255, 216, 1e-3);
    EXPECT_NEAR(last.b * 255, 255, 1e-3);
    EXPECT_EQ(first.a, 1.0f);
}

TEST(WidgetSpecs, ButtonClassesFollowItsOptions) {
    const struct {
        ButtonOptions options;
        const char* want;
    } cases[] = {
        {{"Go", "primary", false, "", false, false, ""}, "div.btn.btn--primary"},
        {{"Go", "ghost", true, "wide", false, false, ""}, "div.btn.btn--ghost.btn--tall.wide"},
        {{"Go", "danger", false, "", true, false, ""}, "div.btn.btn--danger.is-disabled"},
        {{"Go", "secondary", false, "", false, true, ""}, "div.btn.btn--secondary.is-disabled"},
    };
    for (const auto& c : cases) EXPECT_EQ(buttonSpec(c.options), c.want);
}

class WidgetTest : public kiln::KilnTest {};

TEST_F(WidgetTest, OnlyAnEnabledButtonIsClickedAndTraced) {
    css(".btn { width: 100; height: 30 }");
    const struct {
        bool disabled, busy, clicked;
        const char* label;
    } cases[] = {
        {false, false, true, "Enabled"},
        {true, false, false, "Disabled"},
        {false, true, false, "Busy"},
    };
    for (const auto& c : cases) {
        ButtonOptions o;
        o.label = c.label;
        o.kind = "primary";
        o.disabled = c.disabled;
        o.busy = c.busy;
        kiln::resetContext();
        kiln::setStylesheet(&sheet_);
        kiln::setToolkitStarted(true);
        kiln::setMouseInWindow(true);
        bool clicked = false;
        auto build = [&] {
            beginWidgets(0, 1);
            clicked = view::button(o);
        };
        frame(build);  // lays the button out
        mouseTo(50, 15);
        frame(build);  // the pointer is over it
        button(kiln::EventButtonDown);
        frame(build);
        EXPECT_EQ(clicked, c.clicked) << c.label;
        const bool traced =
            TraceEnvironment::traceText().find("click button '" + std::string(c.label) + "' (primary)") !=
            std::string::npos;
        EXPECT_EQ(traced, c.clicked) << c.label;
        // A busy button shows a spinner, which asks for the next frame.
        EXPECT_EQ(nextFrameDelay() >= 0, c.busy) << c.label;
    }
}

TEST_F(WidgetTest, CopyButtonCopiesAndSaysSoForAWhile) {
    css(".btn { width: 100; height: 30 }");
    kiln::setToolkitStarted(true);
    kiln::setMouseInWindow(true);
    uint64_t copiedUntil = 0;
    std::string label;
    auto at = [&](uint64_t now) {
        return [&, now] {
            beginWidgets(now, 1);
            ButtonOptions o;
            o.label = "Copy id";
            copyButton(o, "381402557264", copiedUntil);
            for (int32_t i = 0; i < count(); ++i)
                if (node(i).kind == kiln::KindText) label = std::string(kiln::nodeText(node(i)));
        };
    };
    frame(at(1000));
    mouseTo(50, 15);
    frame(at(1000));
    button(kiln::EventButtonDown);
    frame(at(1000));
    std::string copied;
    ASSERT_TRUE(clipboardText(copied));
    EXPECT_EQ(copied, "381402557264");
    EXPECT_EQ(copiedUntil, 1000 + kCopiedMs);
    frame(at(1100));
    EXPECT_EQ(label, "Copied");
    EXPECT_EQ(nextFrameDelay(), int64_t(kCopiedMs - 100)) << "a frame when the label goes back";
    frame(at(1000 + kCopiedMs));
    EXPECT_EQ(label, "Copy id");
}

TEST_F(WidgetTest, ProgressFillIsTheClampedFractionOfTheBar) {
    css(".bar { display: flex; flex-direction: row; width: 200; height: 8 } .bar__fill { height: 8 }");
    const uint32_t fillClass = kiln::nameHash("bar__fill");
    const struct {
        float fraction;
        bool error;
        float width;
        int bands;
    } cases[] = {{0.25f, false, 50, 32}, {1.5f, false, 200, 32}, {-0.2f, false, 0, 32}, {0.5f, true, 100, 0}};
    for (const auto& c : cases) {
        frame([&] {
            beginWidgets(0, 1);
            progressBar(c.fraction, c.error);
        });
        int fills = 0, bands = 0;
        for (int32_t i = 0; i < count(); ++i) {
            const kiln::Node& n = node(i);
            for (uint32_t k = 0; k < n.classCount; ++k) {
                if (n.classes[k] == fillClass) {
                    ++fills;
                    EXPECT_NEAR(n.box.w, c.width, 0.01) << c.fraction;
                }
                if (n.classes[k] == kiln::nameHash("bar__band")) ++bands;
            }
        }
        EXPECT_EQ(fills, 1) << c.fraction;
        EXPECT_EQ(bands, c.bands) << "an error bar has no bands; fraction " << c.fraction;
    }
}

}  // namespace
}  // namespace ember::launcher::view
