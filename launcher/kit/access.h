// The window as a screen reader reads it: one node per target of the frame
// (targets.h), with the role a person would name it by. The realms and the
// characters are each one list whose items are the rows; everything else
// sits directly under the window. Built afresh every frame; a node's id is
// its element's identity, so it stays the same from frame to frame while
// the element is shown.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "launcher/kit/targets.h"

namespace ember::launcher::view {

enum class AccessRole { button, hyperlink, edit, checkBox, radioButton, list, listItem, tabItem, text, dialog };

struct AccessNode {
    uint64_t id = 0;   // the element's identity (a list's: its first item's, with a mark)
    int parent = -1;   // index of the list it is in, -1: the window
    AccessRole role = AccessRole::text;
    std::string name;
    int x = 0, y = 0, w = 0, h = 0;  // window client pixels
    bool enabled = true, focused = false, secret = false;
    bool readOnly = false;  // a field that takes no typing
    bool on = false;  // a checked box, the chosen radio, realm or character, the current tab
    std::string value;  // a field's text (empty for a secret one)
};

// The nodes of a frame's targets, lists before their items, in reading order.
std::vector<AccessNode> accessTree(const std::vector<Target>& targets);

// The spelling of a role in the trace and the tests.
const char* spelling(AccessRole role);

}  // namespace ember::launcher::view
