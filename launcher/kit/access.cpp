// The screen-reader tree of a frame (see access.h).
#include "launcher/kit/access.h"

#include <algorithm>

namespace ember::launcher::view {

namespace {

bool hasState(const Target& t, const char* flag) {
    const std::string& s = t.state;
    const std::string f(flag);
    for (size_t at = s.find(f); at != std::string::npos; at = s.find(f, at + 1)) {
        const bool startsWell = at == 0 || s[at - 1] == ',';
        const bool endsWell = at + f.size() == s.size() || s[at + f.size()] == ',';
        if (startsWell && endsWell) return true;
    }
    return false;
}

AccessRole roleOf(const Target& t) {
    if (t.kind == TargetKind::tab) return AccessRole::tabItem;
    if (t.kind == TargetKind::field) return AccessRole::edit;
    if (t.kind == TargetKind::check) return AccessRole::checkBox;
    if (t.kind == TargetKind::radio) return AccessRole::radioButton;
    if (t.kind == TargetKind::realm || t.kind == TargetKind::row) return AccessRole::listItem;
    if (t.kind == TargetKind::text) return AccessRole::text;
    if (t.kind == TargetKind::dialog) return AccessRole::dialog;
    if (t.spec.find(".btn--link") != std::string::npos) return AccessRole::hyperlink;
    return AccessRole::button;
}

// A list id: the first item's identity with its top bit turned over, so it
// is apart from every element's and the same while that item leads.
constexpr uint64_t kListMark = uint64_t(1) << 63;

}  // namespace

const char* spelling(AccessRole role) {
    switch (role) {
        case AccessRole::button: return "Button";
        case AccessRole::hyperlink: return "Hyperlink";
        case AccessRole::edit: return "Edit";
        case AccessRole::checkBox: return "CheckBox";
        case AccessRole::radioButton: return "RadioButton";
        case AccessRole::list: return "List";
        case AccessRole::listItem: return "ListItem";
        case AccessRole::tabItem: return "TabItem";
        case AccessRole::text: return "Text";
        case AccessRole::dialog: return "Window";
    }
    return "Text";
}

std::vector<AccessNode> accessTree(const std::vector<Target>& targets) {
    std::vector<AccessNode> nodes;
    nodes.reserve(targets.size() + 2);
    int realms = -1, characters = -1;
    for (const Target& t : targets) {
        AccessNode n;
        n.id = t.identity;
        n.role = roleOf(t);
        n.name = t.label;
        n.x = t.x;
        n.y = t.y;
        n.w = t.w;
        n.h = t.h;
        n.enabled = !hasState(t, "disabled") && !hasState(t, "covered");
        n.focused = hasState(t, "keyboard") || hasState(t, "focus");
        n.secret = t.secret;
        n.readOnly = hasState(t, "readonly");
        n.on = hasState(t, "on") || hasState(t, "current");
        n.value = t.value;
        if (n.role == AccessRole::listItem) {
            int& list = t.kind == TargetKind::realm ? realms : characters;
            if (list < 0) {
                AccessNode l;
                l.id = t.identity ^ kListMark;
                l.role = AccessRole::list;
                l.name = t.kind == TargetKind::realm ? "Realms" : "Characters";
                l.x = t.x;
                l.y = t.y;
                list = static_cast<int>(nodes.size());
                nodes.push_back(l);
            }
            // The list spans its items.
            AccessNode& l = nodes[size_t(list)];
            const int right = std::max(l.x + l.w, t.x + t.w), bottom = std::max(l.y + l.h, t.y + t.h);
            l.x = std::min(l.x, t.x);
            l.y = std::min(l.y, t.y);
            l.w = right - l.x;
            l.h = bottom - l.y;
            n.parent = list;
        }
        nodes.push_back(n);
    }
    return nodes;
}

}  // namespace ember::launcher::view
