// The keyboard over the real screens, built from the demo scenes with the
// launcher's own stylesheet: Tab's cycle over every scene, and what the
// keys do to what has focus.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "base/log.h"
#include "base/paths.h"
#include "launcher/app/controller.h"
#include "launcher/demo/demo.h"
#include "launcher/kit/focus.h"
#include "launcher/kit/targets.h"
#include "launcher/kit/textfield.h"
#include "launcher/screens/screens.h"
#include "launcher/shell/stylesheet_road.h"
#include "tests/demo/launcher_styles.h"
#include "tests/support/scratch.h"
#include "ui/kiln/kiln.h"
#include "ui/kiln/registry.h"
#ifdef _WIN32
#include "ui/win32/backend_win32.h"
#else
#include "tests/support/test_font.h"
#endif

namespace ember::launcher::view {
namespace {

constexpr uint32_t kTab = 0x09, kEnter = 0x0D, kEscape = 0x1B, kSpace = 0x20, kEnd = 0x23, kHome = 0x24,
                   kDown = 0x28;
constexpr float kW = 1280, kH = 800;

double luminance(const kiln::Colour& c) {
    auto channel = [](float v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.r) + 0.7152 * channel(c.g) + 0.0722 * channel(c.b);
}

double contrast(const kiln::Colour& a, const kiln::Colour& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

bool hasClass(const kiln::Node& n, const char* name) {
    const uint32_t h = kiln::nameHash(name);
    for (uint32_t i = 0; i < n.classCount; ++i)
        if (n.classes[i] == h) return true;
    return false;
}

int nodeOf(uint64_t identity) {
    const auto& nodes = kiln::ui().nodes;
    for (size_t i = 0; i < nodes.size(); ++i)
        if (nodes[i].identity == identity) return static_cast<int>(i);
    return -1;
}

// What lies behind a node's ring: its ancestors' backgrounds over the
// window's clear colour, and its own for a ring inside its box.
kiln::Colour behind(int index, kiln::Colour c) {
    const auto& nodes = kiln::ui().nodes;
    std::vector<int> chain;
    const bool inside = nodes[size_t(index)].computed.ringGap < 0;
    for (int at = inside ? index : nodes[size_t(index)].parent; at >= 0; at = nodes[size_t(at)].parent)
        chain.push_back(at);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        const kiln::Colour& b = nodes[size_t(*it)].computed.background;
        const float a = b.a * nodes[size_t(*it)].computed.opacity;
        c = kiln::Colour{b.r * a + c.r * (1 - a), b.g * a + c.g * (1 - a), b.b * a + c.b * (1 - a), 1};
    }
    return c;
}

// A bare target (no label) as a fault names it: its kind and place.
std::string where(const Target& t) {
    return std::string(spelling(t.kind)) + " at " + std::to_string(t.x) + "," + std::to_string(t.y);
}

class KeyboardTest : public LauncherStylesTest {
protected:
    void SetUp() override {
        LauncherStylesTest::SetUp();
        if (HasFatalFailure()) return;
        std::string reason;
        ASSERT_TRUE(loadLauncherStylesheet(road_, 1, reason)) << reason;
    }
    void TearDown() override {
        LauncherStylesTest::TearDown();
        app::state() = app::AppState();
    }

    // A scene in the program's own state (the screens' actions change it).
    app::AppState& scene(const std::string& name) {
        kiln::resetContext();
        app::AppState& s = app::state();
        s = app::AppState();
        s.demo = true;
        s.version = "2.1.0";
        EXPECT_TRUE(fillDemoScene(s, name)) << name;
        for (int i = 0; i < 3; ++i) frame({});
        return s;
    }

    // One frame as the window runs it; `click` presses the left button at
    // the middle of the target with that identity.
    void frame(const std::vector<uint32_t>& keys, uint64_t click = 0, bool shift = false) {
        if (click != 0) {
            const auto& targets = focusFrame().targets;
            auto t = std::find_if(targets.begin(), targets.end(), [&](const Target& x) { return x.identity == click; });
            EXPECT_NE(t, targets.end());
            kiln::InputEvent move, down;
            move.kind = kiln::EventMove;
            move.x = static_cast<float>(t->x + t->w / 2);
            move.y = static_cast<float>(t->y + t->h / 2);
            down = move;
            down.kind = kiln::EventButtonDown;
            kiln::setMouseInWindow(true);
            kiln::queueEvent(move);
            kiln::queueEvent(down);
        }
        std::vector<KeyEvent> events;
        for (uint32_t k : keys) events.push_back(KeyEvent{k, false, shift});
        app::AppState& s = app::state();
        kiln::beginFrame(kW, kH, 1);
        runFieldPass(s, events, {}, now_);
        buildFrame(s, kW, kH, 1, now_, demoBody(s));
        kiln::endFrame();
        settleFocus(s);
        now_ += 16;
        if (click != 0) {
            kiln::InputEvent up;
            up.kind = kiln::EventButtonUp;
            kiln::queueEvent(up);
        }
    }

    // Tabs until the target with `identity` has focus (at most a cycle).
    bool tabTo(uint64_t identity) {
        for (size_t i = 0; i <= focusFrame().stops.size(); ++i) {
            if (focusedIdentity(app::state()) == identity) return true;
            frame({kTab});
        }
        return focusedIdentity(app::state()) == identity;
    }

    // The first target of this kind whose label holds `label` (full targets).
    uint64_t find(TargetKind kind, const std::string& label) {
        for (const Target& t : frameTargets(kiln::ui()))
            if (t.kind == kind && t.label.find(label) != std::string::npos) return t.identity;
        return 0;
    }

    TargetKind focusedKind() {
        for (const Target& t : focusFrame().targets)
            if (t.identity == focusedIdentity(app::state())) return t.kind;
        return TargetKind::text;
    }

    std::string traceSince(size_t& mark) {
        const std::string all = testing::fileText(joinPath(config_.path(), "ui-trace.log"));
        std::string out = all.size() > mark ? all.substr(mark) : std::string();
        mark = all.size();
        // Without the times at the start of each line.
        std::string lines;
        size_t at = 0;
        while (at < out.size()) {
            size_t end = out.find('\n', at);
            if (end == std::string::npos) end = out.size();
            std::string line = out.substr(at, end - at);
            const size_t word = line.find_first_not_of(' ');
            const size_t text = word == std::string::npos ? std::string::npos : line.find(' ', word);
            if (text != std::string::npos) lines += line.substr(text + 1) + "\n";
            at = end + 1;
        }
        return lines;
    }

    uint64_t now_ = 100000;
};

// From every scene, Tab visits every element that takes a press now once
// per cycle, in tree order (the reading order of these screens: title bar,
// rail, page top to bottom, a dialog last), a radio group or list once,
// stays inside an open dialog, and rings what it is on with a ring that
// stands out from what lies behind it (3:1; 4.5:1 in high contrast), in
// every look.
TEST_F(KeyboardTest, TabCyclesOverEveryPressableTargetOfEveryScene) {
    std::vector<std::string> scenes = demoScenes();
    scenes.push_back("kit");
    std::vector<std::string> faults;
    for (const Look& look : looks()) {
        for (const std::string& scene_name : scenes) {
            if (scene_name == scenes.front()) {
                road_.colours = look.colours;
                std::string reason;
                ASSERT_TRUE(loadLauncherStylesheet(road_, 1, reason)) << reason;
            }
            const std::string name = look.forced ? std::string(look.what) + ": " + scene_name : scene_name;
            app::AppState& s = scene(scene_name);
            kiln::setForcedColours(look.forced);
            for (int i = 0; i < 2; ++i) frame({});
            // Every target, scrolled out of view too (Tab scrolls to it); what
            // takes a press read from its state flags as the trace spells them.
            const std::vector<Target> targets = focusFrame().targets;
            std::vector<size_t> pressable;
            for (size_t i = 0; i < targets.size(); ++i) {
                const Target& t = targets[i];
                const bool idle = t.state.find("disabled") == std::string::npos &&
                                  t.state.find("readonly") == std::string::npos &&
                                  t.state.find("covered") == std::string::npos;
                const int n = nodeOf(t.identity);
                const bool dialogBody = n >= 0 && hasClass(kiln::ui().nodes[size_t(n)], "modal");
                if (t.kind != TargetKind::text && idle && !dialogBody) pressable.push_back(i);
            }
            // ... and each one the trace lists among them.
            for (const Target& shown : frameTargets(kiln::ui())) {
                if (shown.kind == TargetKind::text || shown.state.find("disabled") != std::string::npos) continue;
                if (std::none_of(targets.begin(), targets.end(), [&](const Target& t) { return t.identity == shown.identity; }))
                    faults.push_back(name + ": '" + shown.label + "' is missing from the keyboard's targets");
            }
            std::set<uint64_t> groups;
            size_t expected = 0;
            for (size_t i : pressable) expected += targets[i].group == 0 || groups.insert(targets[i].group).second;
            int dialog = -1;
            for (size_t i = 0; i < kiln::ui().nodes.size(); ++i)
                if (hasClass(kiln::ui().nodes[i], "modal")) dialog = static_cast<int>(i);
            if (s.view.openModal != app::ModalKind::none && dialog < 0) faults.push_back(name + ": no dialog drawn");

            std::vector<int> visited;  // target indices
            std::map<uint64_t, int> seen;  // a target's identity or its group -> visits
            for (size_t step = 0; step < expected + 1; ++step) {
                frame({kTab});
                const uint64_t id = focusedIdentity(s);
                auto t = std::find_if(targets.begin(), targets.end(), [&](const Target& x) { return x.identity == id; });
                if (t == targets.end()) {
                    faults.push_back(name + ": Tab " + std::to_string(step + 1) + " lands on no target");
                    break;
                }
                const int index = static_cast<int>(t - targets.begin());
                if (step == expected) {
                    if (!visited.empty() && index != visited.front())
                        faults.push_back(name + ": the cycle does not wrap to its first stop after " +
                                         std::to_string(expected) + " stops");
                    break;
                }
                visited.push_back(index);
                ++seen[t->group != 0 ? t->group : t->identity];
                if (std::find(pressable.begin(), pressable.end(), size_t(index)) == pressable.end())
                    faults.push_back(name + ": Tab visits " + std::string(spelling(t->kind)) + " at " +
                                     std::to_string(t->x) + "," + std::to_string(t->y) + " (" + t->state +
                                     "), which takes no press");
                // Inside the open dialog.
                const int n = nodeOf(id);
                if (dialog >= 0 && n >= 0) {
                    bool inside = false;
                    for (int at = n; at >= 0; at = kiln::ui().nodes[size_t(at)].parent) inside |= at == dialog;
                    if (!inside) faults.push_back(name + ": Tab leaves the dialog for " + where(*t) + "");
                }
                // The ring.
                if (n >= 0) {
                    const kiln::Node& node = kiln::ui().nodes[size_t(n)];
                    if (!(node.state & kiln::StateFocus) || node.computed.ringWidth < 1) {
                        faults.push_back(name + ": no focus ring on " + where(*t) + "");
                    } else if (contrast(node.computed.ringColour, behind(n, look.clear())) < (look.forced ? 4.5 : 3.0)) {
                        faults.push_back(name + ": the ring on " + where(*t) + " has contrast " +
                                         std::to_string(contrast(node.computed.ringColour, behind(n, look.clear()))));
                    }
                }
            }
            // The cycle read from its first stop on (a scene may start inside it).
            std::rotate(visited.begin(), std::min_element(visited.begin(), visited.end()), visited.end());
            for (size_t i = 1; i < visited.size(); ++i)
                if (visited[i] <= visited[i - 1])
                    faults.push_back(name + ": " + where(targets[size_t(visited[i])]) + " comes after " +
                                     where(targets[size_t(visited[i - 1])]) + " out of tree order");
            for (size_t i : pressable) {
                const uint64_t key = targets[i].group != 0 ? targets[i].group : targets[i].identity;
                if (seen[key] != 1)
                    faults.push_back(name + ": " + where(targets[i]) + " visited " + std::to_string(seen[key]) + " times in a cycle");
            }
            if (expected == 0 && scene_name != "restarting" && scene_name != "checking")
                faults.push_back(name + ": nothing to Tab to");
        }
    }
    std::string all;
    for (const std::string& f : faults) all += f + "\n";
    EXPECT_TRUE(faults.empty()) << faults.size() << " faults:\n" << all;
}

// What the keys do to what has focus, each from a scene of its own.
TEST_F(KeyboardTest, KeysDoWhatAClickDoes) {
    testing::ScopedEnv dir("EMBERLANE_CONFIG_DIR", config_.path());
    testing::ScopedEnv on("EMBERLANE_UI_TRACE", std::string("1"));
    size_t mark = 0;
    traceSince(mark);

    // Space and Enter press a tab, a checkbox and a button as a click does:
    // the same trace line, the same change.
    const struct {
        const char* scene;
        TargetKind kind;
        const char* label;
        uint32_t key;
        const char* via;  // a radio reached from the chosen one with Down
    } presses[] = {
        {"home", TargetKind::tab, "Settings", kSpace, nullptr},
        {"home", TargetKind::tab, "Settings", kEnter, nullptr},
        {"register", TargetKind::check, "13 or older", kSpace, nullptr},
        {"permission", TargetKind::item, "Details", kEnter, nullptr},
        {"settings", TargetKind::radio, "Development", kSpace, "Stable"},
    };
    for (const auto& p : presses) {
        const std::string what = std::string(p.scene) + " / " + p.label;
        scene(p.scene);
        const uint64_t id = find(p.kind, p.label);
        ASSERT_NE(id, 0u) << what;
        traceSince(mark);
        frame({}, id);
        frame({});
        const std::string clicked = traceSince(mark);
        const std::string afterClick = targetLines(frameTargets(kiln::ui()), spelling(route(app::state())), "")[0];
        const app::Tab tabAfterClick = app::state().tab;

        scene(p.scene);
        traceSince(mark);
        if (p.via != nullptr) {
            ASSERT_TRUE(tabTo(find(p.kind, p.via))) << what << ": Tab never reaches the group";
            frame({kDown});
            ASSERT_EQ(focusedIdentity(app::state()), id) << what << ": Down moves inside the group";
        } else {
            ASSERT_TRUE(tabTo(id)) << what << ": Tab never reaches it";
        }
        traceSince(mark);
        frame({p.key});
        frame({});
        const std::string pressed = traceSince(mark);
        EXPECT_FALSE(clicked.empty()) << what;
        EXPECT_EQ(pressed, clicked) << what;
        EXPECT_EQ(app::state().tab, tabAfterClick) << what;
        EXPECT_EQ(targetLines(frameTargets(kiln::ui()), spelling(route(app::state())), "")[0], afterClick) << what;
    }

    // The realm list is one stop: the arrows, Home and End move inside it;
    // Space chooses.
    {
        app::AppState& s = scene("realms-many");
        std::vector<uint64_t> realms;
        for (const Target& t : focusFrame().targets)
            if (t.kind == TargetKind::realm && t.pressable) realms.push_back(t.identity);
        ASSERT_GT(realms.size(), 3u);
        const std::string chosenBefore = s.realmKey;
        ASSERT_TRUE(tabTo(focusFrame().targets[0].identity));
        size_t guard = 0;
        while (guard++ < 100) {
            const uint64_t id = focusedIdentity(s);
            if (std::find(realms.begin(), realms.end(), id) != realms.end()) break;
            frame({kTab});
        }
        const auto at = std::find(realms.begin(), realms.end(), focusedIdentity(s));
        ASSERT_NE(at, realms.end()) << "Tab reaches the realm list";
        const size_t first = static_cast<size_t>(at - realms.begin());
        frame({kHome});
        EXPECT_EQ(focusedIdentity(s), realms.front()) << "Home";
        frame({kDown});
        EXPECT_EQ(focusedIdentity(s), realms[1]) << "Down";
        frame({kEnd});
        EXPECT_EQ(focusedIdentity(s), realms.back()) << "End";
        frame({kDown});
        EXPECT_EQ(focusedIdentity(s), realms.back()) << "Down at the end stays";
        EXPECT_EQ(s.realmKey, chosenBefore) << "moving does not choose";
        frame({kTab});
        EXPECT_EQ(std::find(realms.begin(), realms.end(), focusedIdentity(s)), realms.end())
            << "Tab leaves the list in one step";
        frame({kTab}, 0, true);
        EXPECT_EQ(focusedIdentity(s), realms[first]) << "Shift+Tab comes back to the chosen realm";
        frame({kEnd});
        const uint64_t last = focusedIdentity(s);
        frame({});
        EXPECT_EQ(focusedIdentity(s), last) << "scrolled into view, the realm keeps the keyboard";
        frame({kSpace});
        frame({});
        EXPECT_NE(s.realmKey, chosenBefore) << "Space chooses the focused realm";
    }

    // A dialog opened from the keyboard takes it into its field; Escape
    // closes it as Cancel does, and the keyboard goes back to its opener.
    {
        app::AppState& s = scene("home");
        const uint64_t opener = find(TargetKind::row, "New character");
        ASSERT_NE(opener, 0u);
        // The character list is one stop: into it, then End (New character is its last row).
        for (int guard = 0; guard < 100 && focusedKind() != TargetKind::row; ++guard) frame({kTab});
        frame({kEnd});
        ASSERT_EQ(focusedIdentity(s), opener);
        frame({kEnter});
        frame({});
        EXPECT_EQ(s.view.openModal, app::ModalKind::create);
        EXPECT_EQ(s.view.focus, "modal:name") << "the dialog's field has the keyboard";
        frame({kEscape});
        frame({});
        EXPECT_EQ(s.view.openModal, app::ModalKind::none) << "Escape cancels";
        EXPECT_EQ(focusedIdentity(s), opener) << "the keyboard goes back to what opened the dialog";

        // A dialog without a field: its first element.
        s.view.openModal = app::ModalKind::logout;
        frame({});
        frame({});
        const int n = nodeOf(focusedIdentity(s));
        ASSERT_GE(n, 0);
        bool inDialog = false;
        for (int at = n; at >= 0; at = kiln::ui().nodes[size_t(at)].parent) inDialog |= hasClass(kiln::ui().nodes[size_t(at)], "modal");
        EXPECT_TRUE(inDialog) << "a dialog without a field takes the keyboard too";
        frame({kEscape});
        frame({});
        EXPECT_EQ(s.view.openModal, app::ModalKind::none);
        EXPECT_EQ(focusedIdentity(s), opener);
    }

    // Focus that survives a frame by its id, and falls back when its element goes.
    {
        app::AppState& s = scene("permission");
        const uint64_t details = find(TargetKind::item, "Details");
        ASSERT_NE(details, 0u);
        ASSERT_TRUE(tabTo(details));
        frame({});
        frame({});
        EXPECT_EQ(focusedIdentity(s), details) << "kept while its element stays";
        s.blocker = app::Blocker();
        frame({});
        EXPECT_EQ(focusedIdentity(s), focusFrame().targets[focusFrame().stops.front().members.front()].identity)
            << "the first element of the screen once it is gone";
        frame({kTab});
        EXPECT_NE(focusedIdentity(s), 0u);
    }

    // The sign-in form opens with its first field focused; a click hides the ring.
    {
        app::AppState& s = scene("login");
        EXPECT_EQ(s.view.focus, "auth:email");
        frame({kTab});
        EXPECT_TRUE(s.view.focusRing);
        frame({}, find(TargetKind::field, "Email"));
        EXPECT_FALSE(s.view.focusRing) << "a click hides the ring";
        EXPECT_EQ(s.view.focus, "auth:email");
    }
}

}  // namespace
}  // namespace ember::launcher::view
