// KilnUI style resolution: every element's computed style from the
// defaults, the inherited text properties of its parent, the stylesheet's
// matching rules in their sorted order, and its inline style last.
//
// A frame has a few hundred elements and the stylesheet a few hundred
// rules, so rules are not tried one by one against each element: they are
// indexed once per stylesheet by the most selective key of their last step
// (id, else first class, else element name, else none), and an element only
// tries the rules filed under its own id, classes and name, merged back into
// the stylesheet's order.
#include <algorithm>
#include <unordered_map>
#include <vector>

#include "ui/kiln.h"

namespace kiln {

namespace {

struct RuleIndex {
    // What the index was built from
    const Stylesheet* sheet = nullptr;
    uint64_t fingerprint = 0;
    bool built = false;
    // Rule positions (ascending, so in the stylesheet's order) by key
    std::unordered_map<uint32_t, std::vector<uint32_t>> byId, byClass, byTag;
    std::vector<uint32_t> universal;
};

RuleIndex g_index;

// Covers exactly what the buckets depend on: the number of rules and each
// rule's filing key. Rules whose other parts change are read afresh anyway.
uint64_t fingerprintOf(const Stylesheet& sheet) {
    uint64_t h = 0xCBF29CE484222325ull;
    auto mix = [&h](uint64_t v) {
        h ^= v;
        h *= 0x100000001B3ull;
    };
    mix(sheet.rules.size());
    for (const Rule& rule : sheet.rules) {
        if (rule.selector.empty()) {
            mix(0xFFFFFFFFull);
            continue;
        }
        const CompoundSelector& last = rule.selector.back();
        mix(last.id);
        mix(last.classes.empty() ? 0 : last.classes[0]);
        mix(last.tag);
    }
    return h;
}

void buildIndex(RuleIndex& index, const Stylesheet& sheet, uint64_t fingerprint) {
    index.byId.clear();
    index.byClass.clear();
    index.byTag.clear();
    index.universal.clear();
    for (uint32_t i = 0; i < uint32_t(sheet.rules.size()); ++i) {
        const Rule& rule = sheet.rules[i];
        if (rule.selector.empty()) continue;
        const CompoundSelector& last = rule.selector.back();
        if (last.id != 0) {
            index.byId[last.id].push_back(i);
        } else if (!last.classes.empty()) {
            index.byClass[last.classes[0]].push_back(i);
        } else if (last.tag != 0) {
            index.byTag[last.tag].push_back(i);
        } else {
            index.universal.push_back(i);
        }
    }
    index.sheet = &sheet;
    index.fingerprint = fingerprint;
    index.built = true;
}

const RuleIndex& indexFor(const Stylesheet& sheet) {
    uint64_t fingerprint = fingerprintOf(sheet);
    if (!g_index.built || g_index.sheet != &sheet || g_index.fingerprint != fingerprint) {
        buildIndex(g_index, sheet, fingerprint);
    }
    return g_index;
}

bool hasClass(const Node& n, uint32_t cls) {
    for (uint32_t i = 0; i < n.classCount; ++i) {
        if (n.classes[i] == cls) return true;
    }
    return false;
}

bool stepMatches(const CompoundSelector& step, const Node& n) {
    if (step.tag != 0 && step.tag != n.tag) return false;
    if (step.id != 0 && step.id != n.id) return false;
    if ((step.states & n.state) != step.states) return false;
    for (uint32_t cls : step.classes) {
        if (!hasClass(n, cls)) return false;
    }
    return true;
}

// The last step matches the element; the earlier ones are taken by
// ancestors, nearest first, each search continuing above the last match.
bool ruleMatches(const Rule& rule, const std::vector<Node>& nodes, int32_t index) {
    const std::vector<CompoundSelector>& steps = rule.selector;
    if (steps.empty() || !stepMatches(steps.back(), nodes[size_t(index)])) return false;
    size_t remaining = steps.size() - 1;
    int32_t at = nodes[size_t(index)].parent;
    while (remaining > 0 && at >= 0) {
        if (stepMatches(steps[remaining - 1], nodes[size_t(at)])) --remaining;
        at = nodes[size_t(at)].parent;
    }
    return remaining == 0;
}

void inherit(Style& to, const Style& from) {
    to.color = from.color;
    to.fontFamily = from.fontFamily;
    to.fontSize = from.fontSize;
    to.fontWeight = from.fontWeight;
    to.italic = from.italic;
    to.lineHeight = from.lineHeight;
    to.letterSpacing = from.letterSpacing;
    to.textAlign = from.textAlign;
    to.nowrap = from.nowrap;
    to.shadowColour = from.shadowColour;
    to.shadowDx = from.shadowDx;
    to.shadowDy = from.shadowDy;
    to.outlineColour = from.outlineColour;
    to.outlineWidth = from.outlineWidth;
}

// The candidate lists of one element, merged by rule position.
struct Candidates {
    struct List {
        const std::vector<uint32_t>* rules;
        size_t head;
    };
    std::vector<List> lists;  // reused from element to element

    void clear() { lists.clear(); }
    void add(const std::vector<uint32_t>* list) {
        if (list != nullptr && !list->empty()) lists.push_back(List{list, 0});
    }
    // The next rule position in order, or false when all lists are done.
    bool next(uint32_t& out) {
        List* best = nullptr;
        for (List& l : lists) {
            if (l.head < l.rules->size() && (best == nullptr || (*l.rules)[l.head] < (*best->rules)[best->head])) {
                best = &l;
            }
        }
        if (best == nullptr) return false;
        out = (*best->rules)[best->head++];
        return true;
    }
};

Candidates g_candidates;

const std::vector<uint32_t>* bucket(const std::unordered_map<uint32_t, std::vector<uint32_t>>& map, uint32_t key) {
    auto it = map.find(key);
    return it != map.end() ? &it->second : nullptr;
}

}  // namespace

void resolveStyles(UiContext& context, const Stylesheet& sheet) {
    const RuleIndex& index = indexFor(sheet);
    std::vector<Node>& nodes = context.nodes;
    // Parents come before their children in the array.
    for (size_t i = 0; i < nodes.size(); ++i) {
        Node& n = nodes[i];
        Style& style = n.computed;

        // 1. Defaults, then the inherited text properties
        style = Style{};
        n.font = nullptr;  // the font and the lines follow from the style
        n.hasLines = false;
        if (n.parent >= 0) inherit(style, nodes[size_t(n.parent)].computed);

        // 2. Candidate rules: filed under nothing, the element's name, id and classes
        Candidates& candidates = g_candidates;
        candidates.clear();
        candidates.add(&index.universal);
        candidates.add(bucket(index.byTag, n.tag));
        if (n.id != 0) candidates.add(bucket(index.byId, n.id));
        for (uint32_t k = 0; k < n.classCount; ++k) {
            // A class the element names twice ("div.a.a") adds its bucket once.
            bool repeated = false;
            for (uint32_t j = 0; j < k; ++j) repeated = repeated || n.classes[j] == n.classes[k];
            if (!repeated) candidates.add(bucket(index.byClass, n.classes[k]));
        }

        // 3. Matching rules in the stylesheet's order, later ones winning bit by bit
        uint32_t position;
        while (candidates.next(position)) {
            const Rule& rule = sheet.rules[position];
            if (ruleMatches(rule, nodes, int32_t(i))) applyStyleBits(style, rule.style, rule.style.mask);
        }

        // 4. The builder's inline style wins over every rule.
        if (n.inlineStyle.mask != 0) applyStyleBits(style, n.inlineStyle, n.inlineStyle.mask);
    }
}

}  // namespace kiln
