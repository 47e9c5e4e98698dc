// The keyboard's focus order (see focus.h).
#include "launcher/kit/focus.h"

#include <unordered_map>

#include "launcher/kit/widgets.h"
#include "ui/kiln/kiln.h"

namespace ember::launcher::view {

namespace {

// Virtual-key codes the focus order reads.
enum : uint32_t {
    kVkTab = 0x09,
    kVkReturn = 0x0D,
    kVkSpace = 0x20,
    kVkEnd = 0x23,
    kVkHome = 0x24,
    kVkLeft = 0x25,
    kVkUp = 0x26,
    kVkRight = 0x27,
    kVkDown = 0x28,
};

int indexOf(const FocusFrame& f, uint64_t identity) {
    if (identity == 0) return -1;
    for (size_t i = 0; i < f.targets.size(); ++i)
        if (f.targets[i].identity == identity) return static_cast<int>(i);
    return -1;
}

int stopOf(const FocusFrame& f, int target) {
    if (target < 0) return -1;
    for (size_t s = 0; s < f.stops.size(); ++s)
        for (size_t m : f.stops[s].members)
            if (static_cast<int>(m) == target) return static_cast<int>(s);
    return -1;
}

const std::string* fieldIdOf(uint64_t identity) {
    for (const WidgetFrame::FieldInput& in : widgetFrame().fieldInputs)
        if (in.identity == identity) return &in.id;
    return nullptr;
}

// Gives the keyboard to target `index` of the last frame: a field as a
// Tab into it always did (caret at the end), anything else by identity.
void focusTarget(app::AppState& state, const FocusFrame& f, size_t index, uint64_t now) {
    const Target& t = f.targets[index];
    app::ViewState& v = state.view;
    const std::string* field = t.kind == TargetKind::field ? fieldIdOf(t.identity) : nullptr;
    if (field != nullptr) {
        v.focus = *field;
        v.keyFocus = 0;
        v.lastActivity = now;
        app::FieldState& fs = v.fields[*field];
        fs.caret = fs.text.size();
        fs.selectAll = false;
        return;
    }
    v.focus.clear();
    v.keyFocus = t.identity;
}

// A stop's member Tab lands on: the chosen radio, realm or character, else the first.
size_t landing(const FocusFrame& f, const FocusStop& stop) {
    for (size_t m : stop.members)
        if (f.targets[m].chosen) return m;
    return stop.members.front();
}

// The first field stop, else the first stop; -1 when there is none.
int firstStop(const FocusFrame& f, bool preferField) {
    if (f.stops.empty()) return -1;
    if (preferField) {
        for (size_t s = 0; s < f.stops.size(); ++s)
            if (f.targets[f.stops[s].members.front()].kind == TargetKind::field) return static_cast<int>(s);
    }
    return 0;
}

}  // namespace

FocusFrame& focusFrame() { return kiln::frameRecord<FocusFrame>(); }

std::vector<FocusStop> focusStops(const std::vector<Target>& targets) {
    std::vector<FocusStop> stops;
    std::unordered_map<uint64_t, size_t> groups;  // group -> its stop
    for (size_t i = 0; i < targets.size(); ++i) {
        const Target& t = targets[i];
        if (!t.pressable) continue;
        if (t.group != 0) {
            auto found = groups.find(t.group);
            if (found != groups.end()) {
                stops[found->second].members.push_back(i);
                continue;
            }
            groups.emplace(t.group, stops.size());
        }
        stops.push_back(FocusStop{{i}});
    }
    return stops;
}

uint64_t focusedIdentity(const app::AppState& state) {
    if (!state.view.focus.empty()) {
        for (const WidgetFrame::FieldInput& in : widgetFrame().fieldInputs)
            if (in.id == state.view.focus) return in.identity;
        return 0;
    }
    return state.view.keyFocus;
}

bool focusKey(app::AppState& state, uint32_t key, bool shift, uint64_t now) {
    FocusFrame& f = focusFrame();
    app::ViewState& v = state.view;
    if (key == kVkTab) {
        if (f.stops.empty()) return true;
        const int at = indexOf(f, focusedIdentity(state));
        const int stop = stopOf(f, at);
        const int n = static_cast<int>(f.stops.size());
        int next;
        if (stop >= 0) {
            next = (stop + (shift ? n - 1 : 1)) % n;
        } else if (at >= 0) {
            // On something that takes no press now (a button gone busy):
            // the stop after (or before) its place.
            next = shift ? n - 1 : 0;
            for (int s = 0; s < n; ++s) {
                const int first = static_cast<int>(f.stops[size_t(s)].members.front());
                if (!shift && first > at) {
                    next = s;
                    break;
                }
                if (shift && first < at) next = s;
            }
        } else {
            next = shift ? n - 1 : 0;
        }
        focusTarget(state, f, landing(f, f.stops[size_t(next)]), now);
        v.focusRing = true;
        return true;
    }
    if (!v.focus.empty() || v.keyFocus == 0) return false;
    const int at = indexOf(f, v.keyFocus);
    if (at < 0) return false;
    if (key == kVkSpace || key == kVkReturn) {
        if (f.targets[size_t(at)].pressable) kiln::activateByKeyboard(v.keyFocus);
        v.focusRing = true;
        return true;
    }
    if (key == kVkUp || key == kVkDown || key == kVkLeft || key == kVkRight || key == kVkHome || key == kVkEnd) {
        const int stop = stopOf(f, at);
        if (stop < 0) return false;
        const std::vector<size_t>& members = f.stops[size_t(stop)].members;
        size_t i = 0;
        while (i < members.size() && static_cast<int>(members[i]) != at) ++i;
        if (key == kVkHome) {
            i = 0;
        } else if (key == kVkEnd) {
            i = members.size() - 1;
        } else if (key == kVkUp || key == kVkLeft) {
            i = i > 0 ? i - 1 : 0;
        } else if (i + 1 < members.size()) {
            ++i;
        }
        focusTarget(state, f, members[i], now);
        v.focusRing = true;
        return true;
    }
    return false;
}

void focusBeforeBuild(app::AppState& state) {
    app::ViewState& v = state.view;
    if (kiln::mousePressed(0) && kiln::mouseInWindow()) {
        v.focusRing = false;
        const FocusFrame& f = focusFrame();
        const int at = indexOf(f, kiln::hotId());
        const bool takes = at >= 0 && f.targets[size_t(at)].pressable && f.targets[size_t(at)].kind != TargetKind::field;
        v.keyFocus = takes ? kiln::hotId() : 0;  // a field's click gives it view.focus (editField)
    }
    kiln::setKeyboardFocus(focusedIdentity(state), v.focusRing);
}

void settleFocus(app::AppState& state) {
    FocusFrame& f = focusFrame();
    app::ViewState& v = state.view;
    f.targets = frameTargetsBare(kiln::ui());
    f.stops = focusStops(f.targets);
    const uint64_t before = f.focused;
    const bool layer = v.openModal != app::ModalKind::none;
    const uint64_t now = widgetClock();
    auto takesPress = [&f](uint64_t identity) {
        const int at = indexOf(f, identity);
        return at >= 0 && f.targets[size_t(at)].pressable;
    };
    if (layer && !v.layerOpen) {
        // A dialog opened: it remembers what had the keyboard and takes it.
        v.focusOpener = before;
        if (!takesPress(focusedIdentity(state))) {
            const int s = firstStop(f, true);
            if (s >= 0) focusTarget(state, f, landing(f, f.stops[size_t(s)]), now);
        }
    } else if (!layer && v.layerOpen) {
        // Closed: the keyboard goes back to what opened it (which may still
        // lie under the dialog's last drawing this frame).
        if (indexOf(f, v.focusOpener) >= 0) {
            focusTarget(state, f, static_cast<size_t>(indexOf(f, v.focusOpener)), now);
        } else if (v.focus.empty() && v.keyFocus != 0 && indexOf(f, v.keyFocus) < 0) {
            const int s = firstStop(f, false);
            v.keyFocus = 0;
            if (s >= 0) focusTarget(state, f, landing(f, f.stops[size_t(s)]), now);
        }
        v.focusOpener = 0;
    } else if (v.focus.empty() && v.keyFocus != 0 && indexOf(f, v.keyFocus) < 0) {
        // Its element is gone: the first element of the screen.
        const int s = firstStop(f, false);
        v.keyFocus = 0;
        if (s >= 0) focusTarget(state, f, landing(f, f.stops[size_t(s)]), now);
    }
    if (!v.focus.empty()) v.keyFocus = 0;
    v.layerOpen = layer;
    f.focused = focusedIdentity(state);
    if (f.focused != before && v.focusRing) {
        // The keyboard moved: what it is on scrolls into view.
        kiln::scrollIntoView(f.focused);
        requestFrameIn(0);
    }
    if (f.focused != kiln::ui().keyboardFocus) {
        kiln::setKeyboardFocus(f.focused, v.focusRing);
        if (v.focusRing) requestFrameIn(0);  // the ring moved without a key
    }
}

}  // namespace ember::launcher::view
