// The frame's targets (see targets.h).
#include "launcher/kit/targets.h"

#include "launcher/kit/widgets.h"

#include <cmath>
#include <unordered_map>

namespace ember::launcher::view {

namespace {

struct Names {
    uint32_t btn = kiln::nameHash("btn"), tabsItem = kiln::nameHash("tabs__item"), input = kiln::nameHash("input"),
             check = kiln::nameHash("check"), radio = kiln::nameHash("radio"), realm = kiln::nameHash("realm"),
             row = kiln::nameHash("row"), field = kiln::nameHash("field"), fieldLabel = kiln::nameHash("field__label"),
             inputHint = kiln::nameHash("input__hint"), glyph = kiln::nameHash("ico__g"),
             spinner = kiln::nameHash("spinner"), h1 = kiln::nameHash("t-h1"), h2 = kiln::nameHash("t-h2"),
             h3 = kiln::nameHash("t-h3"), fieldErr = kiln::nameHash("field__err"),
             formTitle = kiln::nameHash("formmsg__title"), formText = kiln::nameHash("formmsg__text"),
             clock = kiln::nameHash("auth__clock"), phase = kiln::nameHash("progress__phase"),
             modalNote = kiln::nameHash("modal__note"), modal = kiln::nameHash("modal"),
             disabled = kiln::nameHash("is-disabled"), focus = kiln::nameHash("is-focus"), on = kiln::nameHash("is-on"),
             current = kiln::nameHash("is-current"), selected = kiln::nameHash("is-selected"),
             realmOn = kiln::nameHash("realm--on"), readOnly = kiln::nameHash("is-readonly");
};

const Names& names() {
    static const Names n;
    return n;
}

bool hasClass(const kiln::Node& n, uint32_t hash) {
    for (uint32_t i = 0; i < n.classCount; ++i)
        if (n.classes[i] == hash) return true;
    return false;
}

// One past the last node of n's subtree (nodes are stored in tree order).
size_t subtreeEnd(const kiln::UiContext& c, size_t i) {
    size_t j = i + 1;
    while (j < c.nodes.size() && c.nodes[j].depth > c.nodes[i].depth) ++j;
    return j;
}

bool visible(const kiln::Node& n) { return n.paintOrder >= 0 && n.computed.display != kiln::DisplayNone; }

void append(std::string& out, std::string_view text) {
    size_t a = 0, b = text.size();
    while (a < b && (text[a] == ' ' || text[a] == '\n' || text[a] == '\r' || text[a] == '\t')) ++a;
    while (b > a && (text[b - 1] == ' ' || text[b - 1] == '\n' || text[b - 1] == '\r' || text[b - 1] == '\t')) --b;
    if (a == b) return;
    if (!out.empty()) out += ' ';
    out.append(text.substr(a, b - a));
}

// The words a person reads on the element: its texts in order, without
// glyph icons and spinners.
std::string textsOf(const kiln::UiContext& c, size_t i) {
    std::string out;
    const size_t end = subtreeEnd(c, i);
    for (size_t j = i; j < end; ++j) {
        const kiln::Node& n = c.nodes[j];
        if (hasClass(n, names().glyph) || hasClass(n, names().spinner)) {
            j = subtreeEnd(c, j) - 1;
            continue;
        }
        if (n.kind == kiln::KindText && visible(n)) append(out, kiln::nodeText(n));
    }
    return out;
}

// A field's label (from its "div.field"), else its placeholder.
std::string fieldLabel(const kiln::UiContext& c, size_t i) {
    for (int32_t p = c.nodes[i].parent; p >= 0; p = c.nodes[size_t(p)].parent) {
        if (!hasClass(c.nodes[size_t(p)], names().field)) continue;
        const size_t end = subtreeEnd(c, size_t(p));
        for (size_t j = size_t(p); j < end; ++j)
            if (c.nodes[j].kind == kiln::KindText && hasClass(c.nodes[j], names().fieldLabel))
                return std::string(kiln::nodeText(c.nodes[j]));
        break;
    }
    const size_t end = subtreeEnd(c, i);
    for (size_t j = i; j < end; ++j)
        if (c.nodes[j].kind == kiln::KindText && hasClass(c.nodes[j], names().inputHint))
            return std::string(kiln::nodeText(c.nodes[j]));
    return {};
}

std::string kindOf(const kiln::Node& n) {
    const Names& k = names();
    if (n.kind == kiln::KindText) {
        // Headings, field errors, the sign-in form's messages and countdown, the progress phase, a dialog's note.
        for (uint32_t c : {k.h1, k.h2, k.h3, k.fieldErr, k.formTitle, k.formText, k.clock, k.phase, k.modalNote})
            if (hasClass(n, c)) return "text";
        return {};
    }
    if (hasClass(n, k.btn)) return "button";  // disabled ones too: a test waits for them to wake
    if (!n.clickable) return {};
    if (hasClass(n, k.tabsItem)) return "tab";
    if (hasClass(n, k.input)) return "field";
    if (hasClass(n, k.check)) return "check";
    if (hasClass(n, k.radio)) return "radio";
    if (hasClass(n, k.realm)) return "realm";
    if (hasClass(n, k.row)) return "row";
    if (hasClass(n, k.modal)) return "dialog";  // it takes the clicks that miss its buttons
    return "item";
}

// Element spec texts by the class array a node points at (and by tag for
// specs without classes).
struct SpecTexts {
    std::unordered_map<const uint32_t*, const std::string*> byClasses;
    std::unordered_map<uint32_t, const std::string*> byTag;
    explicit SpecTexts(const kiln::UiContext& c) {
        auto add = [this](const kiln::NodeSpec& s) {
            if (!s.classes.empty()) {
                byClasses[s.classes.data()] = &s.text;
            } else if (s.id == 0) {
                byTag.emplace(s.tag, &s.text);
            }
        };
        for (const auto& entry : c.specs) add(entry.second);
        for (const auto& entry : c.specCollisions) add(entry.second);
    }
    std::string of(const kiln::Node& n) const {
        if (n.classCount > 0) {
            auto it = byClasses.find(n.classes);
            if (it != byClasses.end()) return *it->second;
        } else {
            auto it = byTag.find(n.tag);
            if (it != byTag.end()) return *it->second;
        }
        return "?";
    }
};

// Whether something painted later takes a press at the point (a dialog's
// scrim over the page, say); the element's own clickable children do not count.
bool coveredAt(const kiln::UiContext& c, size_t i, float x, float y) {
    const kiln::HitRecord* best = nullptr;
    for (const kiln::HitRecord& r : c.hits) {
        if (!r.rect.contains(x, y) || !r.clip.contains(x, y)) continue;
        if (r.hasRing && !kiln::insideRing(r, x, y)) continue;
        if (best == nullptr || r.paintOrder > best->paintOrder) best = &r;
    }
    const kiln::Node& n = c.nodes[i];
    if (best == nullptr || best->identity == n.identity || best->paintOrder <= n.paintOrder) return false;
    const size_t end = subtreeEnd(c, i);
    for (size_t j = i + 1; j < end; ++j)
        if (c.nodes[j].identity == best->identity) return false;
    return true;
}

std::string oneLine(std::string text) {
    for (char& ch : text)
        if (ch == '\n' || ch == '\r' || ch == '\t') ch = ' ';
    if (text.size() > 120) {
        size_t cut = 120;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;  // whole code points
        text.resize(cut);
    }
    return text;
}

}  // namespace

std::vector<Target> frameTargets(const kiln::UiContext& c) {
    std::vector<Target> out;
    const SpecTexts specs(c);
    const Names& k = names();
    for (size_t i = 1; i < c.nodes.size(); ++i) {
        const kiln::Node& n = c.nodes[i];
        if (!visible(n)) {
            i = subtreeEnd(c, i) - 1;
            continue;
        }
        std::string kind = kindOf(n);
        if (kind.empty()) continue;
        const kiln::Rect shown = kiln::intersect(n.box, n.clip);
        if (shown.w < 1 || shown.h < 1) continue;
        Target t;
        t.kind = kind;
        t.x = static_cast<int>(std::lround(shown.x));
        t.y = static_cast<int>(std::lround(shown.y));
        t.w = static_cast<int>(std::lround(shown.w));
        t.h = static_cast<int>(std::lround(shown.h));
        t.spec = specs.of(n);
        t.label = kind == "field" ? fieldLabel(c, i) : kind == "text" ? std::string(kiln::nodeText(n)) : textsOf(c, i);
        t.identity = n.identity;
        // The name the widget gave: a field's even when its placeholder is
        // not drawn, a symbol button's word.
        for (const WidgetFrame::ElementName& named : widgetFrame().names) {
            if (named.identity != n.identity) continue;
            if (!named.name.empty()) t.label = named.name;
            t.secret = named.secret;
            t.value = named.value;
        }
        std::string state;
        auto flag = [&state](bool on, const char* name) {
            if (!on) return;
            if (!state.empty()) state += ',';
            state += name;
        };
        flag(hasClass(n, k.disabled) || (kind == "button" && !n.clickable), "disabled");
        flag(hasClass(n, k.readOnly), "readonly");
        flag(hasClass(n, k.focus), "focus");
        flag(hasClass(n, k.on) || hasClass(n, k.selected) || hasClass(n, k.realmOn), "on");
        flag(hasClass(n, k.current), "current");
        flag(coveredAt(c, i, shown.x + shown.w * 0.5f, shown.y + shown.h * 0.5f), "covered");
        t.state = state.empty() ? "-" : state;
        out.push_back(std::move(t));
    }
    return out;
}

std::vector<std::string> targetLines(const std::vector<Target>& targets, const std::string& route,
                                     const std::string& focus) {
    std::vector<std::string> lines;
    lines.reserve(targets.size() + 1);
    lines.push_back("targets " + route + " " + std::to_string(targets.size()) + " focus=" + oneLine(focus));
    for (const Target& t : targets) {
        lines.push_back("target " + t.kind + " " + std::to_string(t.x) + " " + std::to_string(t.y) + " " +
                        std::to_string(t.w) + " " + std::to_string(t.h) + " " + t.state + " " + t.spec +
                        " :: " + oneLine(t.label));
    }
    return lines;
}

}  // namespace ember::launcher::view
