// Shared set-up of the KilnUI tree, input and layout tests: a fresh context,
// the fixed-metrics test font (advance = half the size, line height = size
// x line-height) and a stylesheet parsed from the test's own text.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

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

    // The frame's texts, in tree order, and whether one reads `text`
    // (exactly, or holding `part`).
    static std::vector<std::string> texts() {
        std::vector<std::string> out;
        for (int32_t i = 0; i < count(); ++i) {
            if (node(i).kind == KindText) out.emplace_back(nodeText(node(i)));
        }
        return out;
    }
    static bool shows(const std::string& text) {
        for (const std::string& t : texts())
            if (t == text) return true;
        return false;
    }
    static bool showsPart(const std::string& part) {
        for (const std::string& t : texts())
            if (t.find(part) != std::string::npos) return true;
        return false;
    }
    // The element holding the text element `label` (a button, a summary); -1: none.
    static int32_t holderOf(const std::string& label) {
        for (int32_t i = 0; i < count(); ++i) {
            if (node(i).kind == KindText && nodeText(node(i)) == label) return node(i).parent;
        }
        return -1;
    }
    static bool hasClass(int32_t index, const char* name) {
        const Node& n = node(index);
        for (uint32_t k = 0; k < n.classCount; ++k)
            if (n.classes[k] == nameHash(name)) return true;
        return false;
    }
    // Presses what holds `label` as a pointer does: `build` makes the frame
    // that shows where it is, takes the move and the press, and shows the
    // outcome.
    template <class Build>
    void click(const std::string& label, Build build) {
        build();
        const int32_t at = holderOf(label);
        ASSERT_GE(at, 0) << "nothing reads '" << label << "'";
        const Rect r = node(at).box;
        mouseTo(r.x + r.w / 2, r.y + r.h / 2);
        build();
        button(EventButtonDown);
        button(EventButtonUp);
        build();
        build();
    }

    TestFontProvider fonts_;
    Stylesheet sheet_;
};

}  // namespace kiln
