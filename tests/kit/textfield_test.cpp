// The text-field pass: one table of keys and typed characters over a field
// (multi-byte text, the maximum length, secret and read-only fields, the
// clipboard, select-all, Enter and Escape), then Tab through fields drawn
// by a real build. Natively the clipboard is the process's own; under Wine
// it is the Windows clipboard.
#include <gtest/gtest.h>

#include "launcher/kit/clipboard.h"
#include "launcher/kit/textfield.h"
#include "tests/kiln/kiln_fixture.h"

namespace ember::launcher::view {
namespace {

KeyEvent key(uint32_t code) { return KeyEvent{code, false, false}; }
KeyEvent ctrl(char letter) { return KeyEvent{static_cast<uint32_t>(letter), true, false}; }
constexpr uint32_t kEnter = 0x0D, kEscape = 0x1B, kEnd = 0x23, kHome = 0x24, kLeft = 0x25, kRight = 0x27,
                   kDelete = 0x2E;

// "a", e with acute (2 bytes), the euro sign (3), a grinning face (4).
const char kMixed[] = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";

TEST(TextFieldPass, KeysAndTypingFollowTheRules) {
    const struct Case {
        const char* what;
        std::string text;
        size_t caret;
        bool selectAll, secret, readOnly;
        int32_t maxLength;
        std::vector<KeyEvent> keys;
        std::vector<uint32_t> typed;
        std::string clipboard;  // before the keys
        std::string wantText;
        size_t wantCaret;
        std::string wantClipboard;
        bool focused = true;  // after the pass
    } cases[] = {
        {"backspace removes the whole 4-byte character", kMixed, 10, false, false, false, INT32_MAX, {}, {8},
         "", "a\xC3\xA9\xE2\x82\xAC", 6, ""},
        {"backspace twice: the euro sign whole", kMixed, 10, false, false, false, INT32_MAX, {}, {8, 8}, "",
         "a\xC3\xA9", 3, ""},
        {"delete removes the 2-byte character after the caret", kMixed, 1, false, false, false, INT32_MAX,
         {key(kDelete)}, {}, "", "a\xE2\x82\xAC\xF0\x9F\x98\x80", 1, ""},
        {"right steps over whole characters and stops at the end", kMixed, 0, false, false, false, INT32_MAX,
         {key(kRight), key(kRight), key(kRight)}, {'x'}, "", "a\xC3\xA9\xE2\x82\xACx\xF0\x9F\x98\x80", 7, ""},
        {"right at the end stays and delete there changes nothing", kMixed, 10, false, false, false, INT32_MAX,
         {key(kRight), key(kDelete)}, {}, "", kMixed, 10, ""},
        {"left steps back over whole characters", kMixed, 10, false, false, false, INT32_MAX,
         {key(kLeft), key(kLeft)}, {'x'}, "", "a\xC3\xA9x\xE2\x82\xAC\xF0\x9F\x98\x80", 4, ""},
        {"left at 0 stays and backspace there changes nothing", "ab", 0, false, false, false, INT32_MAX,
         {key(kLeft)}, {8}, "", "ab", 0, ""},
        {"home, then typing inserts at the start", "ab", 2, false, false, false, INT32_MAX, {key(kHome)},
         {0x1F600}, "", "\xF0\x9F\x98\x80" "ab", 4, ""},
        {"typing stops at the maximum", "ab", 2, false, false, false, 3, {}, {'x', 'y', 'z'}, "", "abx", 3, ""},
        {"typing into a full field changes nothing", "abc", 1, false, false, false, 3, {}, {'x'}, "", "abc", 1, ""},
        {"the maximum counts code points, not bytes", "", 0, false, false, false, 2, {}, {0x20AC, 0x20AC, 0x20AC},
         "", "\xE2\x82\xAC\xE2\x82\xAC", 6, ""},
        {"paste drops tabs and line breaks and fills to the maximum", "", 0, false, false, false, 5,
         {ctrl('V')}, {}, "1\t2\r\n3\x7F" "456789", "12345", 5, "1\t2\r\n3\x7F" "456789"},
        {"the paste chord pastes too", "a", 1, false, false, false, INT32_MAX, {key(kiln::kPasteChord)}, {}, "b",
         "ab", 2, "b"},
        {"control codes typed are ignored", "a", 1, false, false, false, INT32_MAX, {}, {9, 13, 27, 127, 'b'}, "",
         "ab", 2, ""},
        {"select-all then typing replaces the text", "hello", 2, true, false, false, INT32_MAX, {}, {'Z'}, "", "Z",
         1, ""},
        {"ctrl+a then paste replaces the text", "hello", 5, false, false, false, INT32_MAX,
         {ctrl('A'), ctrl('V')}, {}, "new", "new", 3, "new"},
        {"ctrl+a on an empty field selects nothing", "", 0, false, false, false, INT32_MAX, {ctrl('A')}, {'q'}, "",
         "q", 1, ""},
        {"select-all then delete clears", "hello", 5, true, false, false, INT32_MAX, {key(kDelete)}, {}, "", "", 0,
         ""},
        {"select-all then backspace clears", "hello", 5, true, false, false, INT32_MAX, {}, {8}, "", "", 0, ""},
        {"end drops the selection", "hello", 0, true, false, false, INT32_MAX, {key(kEnd)}, {'!'}, "", "hello!", 6,
         ""},
        {"copy puts the whole text on the clipboard", "hello", 1, false, false, false, INT32_MAX,
         {ctrl('A'), ctrl('C')}, {}, "old", "hello", 1, "hello"},
        {"copy without select-all copies nothing", "hello", 1, false, false, false, INT32_MAX, {ctrl('C')}, {},
         "old", "hello", 1, "old"},
        {"cut copies, then clears", "hello", 5, false, false, false, INT32_MAX, {ctrl('A'), ctrl('X')}, {}, "old",
         "", 0, "hello"},
        {"a password is never copied", "hunter2", 7, true, true, false, INT32_MAX, {ctrl('C')}, {}, "old",
         "hunter2", 7, "old"},
        {"a password is never cut", "hunter2", 7, false, true, false, INT32_MAX, {ctrl('A'), ctrl('X')}, {}, "old",
         "hunter2", 7, "old"},
        {"a password still takes typing", "hunter", 6, false, true, false, INT32_MAX, {}, {'2'}, "", "hunter2", 7,
         ""},
        {"read-only: no typing, delete, paste or cut", "C:\\Games", 0, false, false, true, INT32_MAX,
         {key(kDelete), ctrl('V'), ctrl('A'), ctrl('X'), key(kEnd)}, {'x', 8}, "pasted", "C:\\Games", 8, "pasted"},
        {"read-only still copies", "C:\\Games", 0, false, false, true, INT32_MAX, {ctrl('A'), ctrl('C')}, {}, "old",
         "C:\\Games", 0, "C:\\Games"},
        {"escape drops the focus", "hi", 2, false, false, false, INT32_MAX, {key(kEscape)}, {'x'}, "", "hi", 2, "",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        app::AppState state;
        app::FieldState& f = state.view.fields["f"];
        f.text = c.text;
        f.caret = c.caret;
        f.selectAll = c.selectAll;
        f.secret = c.secret;
        f.readOnly = c.readOnly;
        f.maxLength = c.maxLength;
        state.view.focus = "f";
        const std::string clip = c.clipboard.empty() ? "old" : c.clipboard;
        ASSERT_TRUE(copyToClipboard(clip));
        runFieldPass(state, c.keys, c.typed, 1000);
        EXPECT_EQ(f.text, c.wantText);
        EXPECT_EQ(f.caret, c.wantCaret);
        EXPECT_EQ(state.view.focus.empty(), !c.focused);
        EXPECT_EQ(state.view.escapePressed, !c.focused) << "escape in a field drops it and says so";
        std::string now;
        ASSERT_TRUE(clipboardText(now));
        EXPECT_EQ(now, c.wantClipboard.empty() ? clip : c.wantClipboard);
    }
}

TEST(TextFieldPass, EnterAndEscapeWithAndWithoutAField) {
    app::AppState state;
    state.view.fields["email"].text = "a@b";
    state.view.focus = "email";
    runFieldPass(state, {key(kEnter)}, {}, 1);
    EXPECT_EQ(state.view.submitted, "email");
    EXPECT_FALSE(state.view.enterPressed);
    runFieldPass(state, {}, {}, 2);
    EXPECT_EQ(state.view.submitted, "") << "the outputs last one frame";
    state.view.focus.clear();
    runFieldPass(state, {key(kEnter), key(kEscape)}, {'x'}, 3);
    EXPECT_TRUE(state.view.enterPressed);
    EXPECT_TRUE(state.view.escapePressed);
    EXPECT_EQ(state.view.submitted, "");
    EXPECT_EQ(state.view.fields["email"].text, "a@b") << "no field focused: typing goes nowhere";
}

class TextFieldTabTest : public kiln::KilnTest {
protected:
    // One frame: the pass with `keys`, then a build drawing four fields
    // (the second read-only).
    void frame(app::AppState& state, const std::vector<KeyEvent>& keys, uint64_t now) {
        kiln::beginFrame(800, 600, 1);
        runFieldPass(state, keys, {}, now);
        beginWidgets(now, 1);
        for (const char* id : {"a", "b", "c", "d"}) {
            FieldOptions o;
            o.id = id;
            o.text = std::string(id) + "-text";
            o.readOnly = id[0] == 'b';
            kiln::pushKey(id);
            editField(state, o);
            kiln::popKey();
        }
        kiln::endFrame();
    }
};

TEST_F(TextFieldTabTest, TabMovesInDrawOrderAndWraps) {
    css(".input { width: 200; height: 30 }");
    app::AppState state;
    frame(state, {}, 0);
    const KeyEvent tab{0x09, false, false}, backTab{0x09, false, true};
    const struct {
        KeyEvent key;
        const char* want;
    } steps[] = {{tab, "a"}, {tab, "c"}, {tab, "d"}, {tab, "a"}, {backTab, "d"}, {backTab, "c"}, {backTab, "a"}};
    uint64_t now = 100;
    for (const auto& s : steps) {
        state.view.fields["c"].selectAll = true;
        state.view.fields["c"].caret = 0;
        frame(state, {s.key}, now);
        EXPECT_EQ(state.view.focus, s.want) << "step at " << now;
        EXPECT_EQ(state.view.lastActivity, now) << "focusing restarts the blink";
        const app::FieldState& f = state.view.fields[state.view.focus];
        EXPECT_EQ(f.caret, f.text.size()) << "focusing puts the caret at the end";
        EXPECT_FALSE(f.selectAll);
        now += 100;
    }
    state.view.focus = "gone";
    frame(state, {backTab}, now);
    EXPECT_EQ(state.view.focus, "d") << "from a field not drawn, Shift+Tab goes to the last";
}

TEST_F(TextFieldTabTest, AScreenReaderSetsATextAsAPasteWouldButNeverAReadOnlyOrSecretOne) {
    css(".input { width: 200; height: 30 }");
    app::AppState state;
    frame(state, {}, 0);
    const std::vector<WidgetFrame::FieldInput> inputs = widgetFrame().fieldInputs;
    ASSERT_EQ(inputs.size(), 4u);
    state.view.fields["a"].maxLength = 5;
    EXPECT_TRUE(setFieldValue(state, inputs[0].identity, "x\r\ny\tz\xC3\xA9long"));
    EXPECT_EQ(state.view.fields["a"].text, "xyz\xC3\xA9l") << "controls dropped, cut at the field's length";
    EXPECT_EQ(state.view.fields["a"].caret, state.view.fields["a"].text.size());
    EXPECT_FALSE(setFieldValue(state, inputs[1].identity, "new")) << "read-only";
    EXPECT_EQ(state.view.fields["b"].text, "b-text");
    state.view.fields["c"].secret = true;
    EXPECT_FALSE(setFieldValue(state, inputs[2].identity, "new")) << "secret";
    EXPECT_EQ(state.view.fields["c"].text, "c-text");
    EXPECT_FALSE(setFieldValue(state, 12345, "new")) << "an element that is no field";
}

}  // namespace
}  // namespace ember::launcher::view
