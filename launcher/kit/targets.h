// The frame's targets: every element a pointer can press (buttons, tabs,
// fields, checkboxes, radios, realms, rows...) and the texts a test reads
// (headings, field errors, the sign-in form's messages), with the
// rectangle it shows in (window client pixels) and the label a person
// would call it by. The window writes the list into the UI trace when
// asked to, so tests drive the real window by labels instead of
// coordinates; it is also the first shape of a screen-reader tree.
#pragma once

#include <string>
#include <vector>

#include "ui/kiln/kiln.h"

namespace ember::launcher::view {

struct Target {
    std::string kind;   // button, tab, field, check, radio, realm, row, text, dialog, item
    int x = 0, y = 0, w = 0, h = 0;  // the visible part of the element, rounded
    std::string state;  // comma-separated: disabled, focus, on, current, covered; "-" for none
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

// The list as trace lines: "targets <route> <count> focus=<field id>",
// then one "target <kind> <x> <y> <w> <h> <state> <spec> :: <label>" per
// target. Labels are cut at 120 bytes and never hold a line break.
std::vector<std::string> targetLines(const std::vector<Target>& targets, const std::string& route,
                                     const std::string& focus);

}  // namespace ember::launcher::view
