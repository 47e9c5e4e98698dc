// The keyboard's focus over every element a pointer can press. The order
// is the frame's target list (targets.h) in tree order, which is reading
// order here: the title bar, the realm rail, the page top to bottom, a
// dialog last. Elements that take no press now (disabled, read-only, under
// a dialog's scrim) are no stop, so Tab stays inside an open dialog. A
// radio group, the realm list and the character list (targets with one
// group) are ONE stop: Tab lands on the chosen member, the arrow keys,
// Home and End move inside. Space and Enter press the focused element
// through the toolkit (kiln::activateByKeyboard), so the build sees the
// same press a click gives and writes the same trace line.
//
// What it keeps lives in AppState::view (keyFocus, focusOpener, focusRing,
// layerOpen; a focused field is view.focus as before) and in the kit's
// record of the last frame (FocusFrame, kept in the toolkit context).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "launcher/app/state.h"
#include "launcher/kit/targets.h"

namespace ember::launcher::view {

// One Tab stop: the indices of its targets in FocusFrame::targets (one, or
// a group's members in tree order).
struct FocusStop {
    std::vector<size_t> members;
};

// The kit's record of the last frame, for the next frame's keys.
struct FocusFrame {
    std::vector<Target> targets;  // every target of the frame (frameTargetsBare)
    std::vector<FocusStop> stops;
    uint64_t focused = 0;  // the identity that had the keyboard after the frame
};
FocusFrame& focusFrame();

// The Tab stops of a target list, in order.
std::vector<FocusStop> focusStops(const std::vector<Target>& targets);

// The identity the keyboard is on: the focused field's input, else
// view.keyFocus (0: none).
uint64_t focusedIdentity(const app::AppState& state);

// The keys of the focus order, from the text-field pass: Tab and
// Shift+Tab over every stop, the arrows, Home and End inside a group, Space
// and Enter on a focused element that is no field. True when the key was
// taken. `now` is the frame time.
bool focusKey(app::AppState& state, uint32_t key, bool shift, uint64_t now);

// Before the build: a click hides the ring and moves the keyboard to what
// was clicked; hands the focused element and the ring to the toolkit.
void focusBeforeBuild(app::AppState& state);

// After kiln::endFrame: records the frame's targets and stops, then
// settles the focus: a dialog that opened takes the keyboard (its first
// field, else its first element) and remembers what had it; a dialog that
// closed gives it back; an element that is gone leaves the keyboard on
// the first element of the screen.
void settleFocus(app::AppState& state);

}  // namespace ember::launcher::view
