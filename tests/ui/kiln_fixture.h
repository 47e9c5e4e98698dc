// Shared set-up of the KilnUI tree, input and layout tests: a fresh context,
// the fixed-metrics test font (advance = half the size, line height = size
// x line-height) and a stylesheet parsed from the test's own text.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "ui/kiln.h"
#include "ui/registry.h"
#include "ui/test_font.h"

namespace kiln {

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
