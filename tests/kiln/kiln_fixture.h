// Shared set-up of the KilnUI tree, input and layout tests: a fresh context,
// the fixed-metrics test font (advance = half the size, line height = size
// x line-height) and a stylesheet parsed from the test's own text.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "ui/kiln/kiln.h"
#include "ui/kiln/registry.h"
#include "tests/support/test_font.h"

namespace kiln {

// Rectangles equal within 0.01 px, with both spelled out on failure.
inline ::testing::AssertionResult sameRect(const Rect& got, const Rect& want) {
    if (std::fabs(got.x - want.x) < 0.01f && std::fabs(got.y - want.y) < 0.01f && std::fabs(got.w - want.w) < 0.01f &&
        std::fabs(got.h - want.h) < 0.01f) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "got (" << got.x << ", " << got.y << ", " << got.w << ", " << got.h
                                         << "), want (" << want.x << ", " << want.y << ", " << want.w << ", "
                                         << want.h << ")";
}

class KilnTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetContext();
        resetRegistry();
        setFontProvider(&fonts_);
        setStylesheet(&sheet_);
    }
    void TearDown() override {
        resetContext();
        setFontProvider(nullptr);
    }

    // Replaces the stylesheet used by the frames.
    void css(const std::string& text) {
        std::string error;
        ASSERT_TRUE(parseStylesheet(text, sheet_, error)) << error << "\n" << sheet_.warnings;
    }

    // One whole frame: begin, the build, end.
    template <class Build>
    void frame(Build build, float width = 800, float height = 600) {
        beginFrame(width, height, 1);
        build();
        endFrame();
    }

    static const Node& node(int32_t index) { return ui().nodes.at(size_t(index)); }
    static int32_t count() { return int32_t(ui().nodes.size()); }
    // The index of the current element (after a builder call).
    static int32_t here() { return ui().current; }

    static void mouseTo(float x, float y) {
        InputEvent e;
        e.kind = EventMove;
        e.x = x;
        e.y = y;
        queueEvent(e);
    }
    static void button(uint32_t kind, uint32_t which = 0) {
        InputEvent e;
        e.kind = kind;
        e.button = which;
        queueEvent(e);
    }
    static void wheel(float notches) {
        InputEvent e;
        e.kind = EventWheel;
        e.wheel = notches;
        queueEvent(e);
    }

    TestFontProvider fonts_;
    Stylesheet sheet_;
};

}  // namespace kiln
