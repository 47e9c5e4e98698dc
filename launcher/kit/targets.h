// The frame's targets: every element a pointer can press (buttons, tabs,
// fields, checkboxes, radios, realms, rows...) and the texts a test reads
// (headings, field errors, the sign-in form's messages), with the
// rectangle it shows in (window client pixels) and the label a person
// would call it by. The window writes the list into the UI trace when
// asked to, so tests drive the real window by labels instead of
// coordinates; it is also the first shape of a screen-reader tree.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ui/kiln/kiln.h"

namespace ember::launcher::view {

// What a target is; spelled in the trace by spelling() ("button", "tab",
// "field", "check", "radio", "realm", "row", "text", "dialog", "item").
enum class TargetKind : uint8_t { button, tab, field, check, radio, realm, row, text, dialog, item };
std::string_view spelling(TargetKind kind);
bool parseKind(std::string_view text, TargetKind& out);

struct Target {
    TargetKind kind = TargetKind::item;
    uint64_t group = 0;     // radios, realms and character rows: their parent's identity; else 0
    bool inView = true;     // false: scrolled out of its list (frameTargetsBare only)
    bool chosen = false;    // the selected radio, realm or character ("on" in the state)
    bool pressable = false; // takes a press now: no text or dialog, not disabled, read-only, covered,
                            // nor a surface that only holds other targets
    int x = 0, y = 0, w = 0, h = 0;  // the visible part of the element, rounded
    std::string state;  // comma-separated: disabled, readonly, focus, keyboard (the keyboard is on it),
                        // on, current, covered; "-" for none
    std::string spec;   // the element spec ("div.btn.btn--primary")
    std::string label;  // the button's or tab's text, a field's label (else its placeholder), a heading's text
    uint64_t identity = 0;  // the element's identity: the same from frame to frame
    bool secret = false;    // a field whose text is hidden
    std::string value;      // a field's text (empty for a secret one)
};

// The targets of the frame the context holds (after kiln::endFrame), in
// tree order. Elements that are not painted or lie wholly outside their
// clip are left out.
std::vector<Target> frameTargets(const kiln::UiContext& context);
// The same without labels and specs (kind, identity, group, rectangle,
// state flags), and with the targets scrolled out of their list or page
// (`inView` false, their whole box): what the keyboard's focus order
// needs every frame.
std::vector<Target> frameTargetsBare(const kiln::UiContext& context);

// The list as trace lines: "targets <route> <count> focus=<field id>",
// then one "target <kind> <x> <y> <w> <h> <state> <spec> :: <label>" per
// target. Labels are cut at 120 bytes and never hold a line break.
std::vector<std::string> targetLines(const std::vector<Target>& targets, const std::string& route,
                                     const std::string& focus);

}  // namespace ember::launcher::view
