// KilnUI style resolution: every element's computed style from the
// defaults, the inherited text properties of its parent, the stylesheet's
// matching rules in their sorted order, and its inline style last.
//
// A frame has a few hundred elements and the stylesheet a few hundred
// rules, so rules are not tried one by one against each element: they are
// indexed once per stylesheet by the most selective key of their last step
// (id, else first class, else element name, else none), and an element only
// tries the rules filed under its own id, classes and name, merged back into
// the stylesheet's order. Elements made from one spec share that merged
// list, already narrowed to the rules whose last step they satisfy (states
// aside), so most elements only check states and ancestors.
#include <algorithm>
#include <cstring>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "base/text.h"
#include "ui/kiln/kiln.h"

namespace kiln {

namespace {

// What the index keeps of one rule's last step, so that candidates are
// checked without touching the rule itself.
struct LastStep {
    uint32_t tag = 0, id = 0;
    uint16_t states = 0;
    uint8_t layer = LayerUsual;
    uint32_t steps = 0;  // the selector's number of steps
};

// A set of names (elements, ids, classes) as 256 bits, one per name: a name
// whose bit is clear is surely not in the set.
struct NameFilter {
    uint64_t words[4] = {0, 0, 0, 0};

    void add(uint32_t name) {
        uint32_t b = (name * 0x9E3779B1u) >> 24;
        words[b >> 6] |= uint64_t(1) << (b & 63);
    }
    void addStep(uint32_t tag, uint32_t id, const uint32_t* classes, size_t count) {
        if (tag != 0) add(tag);
        if (id != 0) add(id);
        for (size_t k = 0; k < count; ++k) add(classes[k]);
    }
    bool covers(const NameFilter& need) const {
        for (int w = 0; w < 4; ++w) {
            if ((words[w] & need.words[w]) != need.words[w]) return false;
        }
        return true;
    }
};

// The rules whose last step an element's name, id and classes satisfy
// (states aside), in the stylesheet's order: the same for every element
// made from one spec, so computed once per distinct (tag, id, classes).
struct CandidateList {
    uint32_t tag = 0, id = 0;
    std::vector<uint32_t> classes;  // the element's classes, to tell key collisions apart
    std::vector<uint32_t> rules;
};

struct RuleIndex {
    // What the index was built from
    const Stylesheet* sheet = nullptr;
    uint64_t fingerprint = 0;
    bool built = false;
    // Rule positions (ascending, so in the stylesheet's order) by key
    std::unordered_map<uint32_t, std::vector<uint32_t>> byId, byClass, byTag;
    std::vector<uint32_t> universal;
    std::vector<LastStep> last;  // per rule
    // Per rule: the names its earlier steps require of the ancestors
    std::vector<NameFilter> ancestorNames;
    // Candidate lists by element key, emptied with the index (and when too
    // many distinct elements were seen)
    std::unordered_map<uint64_t, CandidateList> candidates;
};

RuleIndex g_index;

// Distinct element keys kept before the candidate lists are emptied.
constexpr size_t kCandidateCacheLimit = 4096;

// Covers exactly what the index, the candidate lists and the ancestor
// filters depend on: the number of rules and every step of each selector
// (names, ids, classes, states). The rules' styles are read afresh anyway.
uint64_t fingerprintOf(const Stylesheet& sheet) {
    ember::launcher::WordHash hash;
    auto mix = [&hash](uint64_t v) { hash.mix(v); };
    mix(sheet.rules.size());
    for (const Rule& rule : sheet.rules) {
        mix(rule.layer);
        if (rule.selector.empty()) {
            mix(0xFFFFFFFFull);
            continue;
        }
        mix(rule.selector.size());
        for (const CompoundSelector& step : rule.selector) {
            mix(step.id);
            mix(step.tag);
            mix(step.classes.size() | (uint64_t(step.states) << 32));
            for (uint32_t cls : step.classes) mix(cls);
        }
    }
    return hash.value;
}

void buildIndex(RuleIndex& index, const Stylesheet& sheet, uint64_t fingerprint) {
    index.byId.clear();
    index.byClass.clear();
    index.byTag.clear();
    index.universal.clear();
    index.candidates.clear();
    index.last.assign(sheet.rules.size(), LastStep{});
    index.ancestorNames.assign(sheet.rules.size(), NameFilter{});
    for (uint32_t i = 0; i < uint32_t(sheet.rules.size()); ++i) {
        const Rule& rule = sheet.rules[i];
        if (rule.selector.empty()) continue;
        const CompoundSelector& last = rule.selector.back();
        index.last[i] = LastStep{last.tag, last.id, last.states, rule.layer, uint32_t(rule.selector.size())};
        for (size_t k = 0; k + 1 < rule.selector.size(); ++k) {
            const CompoundSelector& step = rule.selector[k];
            index.ancestorNames[i].addStep(step.tag, step.id, step.classes.data(), step.classes.size());
        }
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

RuleIndex& indexFor(const Stylesheet& sheet) {
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

// The earlier steps (the last one already matched the element) are taken
// by ancestors, nearest first, each search continuing above the last match.
bool ancestorsMatch(const std::vector<CompoundSelector>& steps, const std::vector<Node>& nodes, int32_t index) {
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

// The bucket lists of one element, merged by rule position.
struct Buckets {
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

Buckets g_buckets;

const std::vector<uint32_t>* bucket(const std::unordered_map<uint32_t, std::vector<uint32_t>>& map, uint32_t key) {
    auto it = map.find(key);
    return it != map.end() ? &it->second : nullptr;
}

uint64_t elementKey(const Node& n) {
    ember::launcher::WordHash hash;
    auto mix = [&hash](uint64_t v) { hash.mix(v); };
    mix(n.tag);
    mix(n.id);
    mix(n.classCount);
    for (uint32_t k = 0; k < n.classCount; ++k) mix(n.classes[k]);
    return hash.value;
}

bool sameElementKey(const CandidateList& list, const Node& n) {
    return list.tag == n.tag && list.id == n.id && list.classes.size() == n.classCount &&
           std::equal(list.classes.begin(), list.classes.end(), n.classes);
}

// Fills a candidate list from the buckets filed under nothing, the
// element's name, id and classes, keeping the rules whose whole last step
// (states aside) the element satisfies.
void collectCandidates(const RuleIndex& index, const Stylesheet& sheet, const Node& n, CandidateList& out) {
    out.tag = n.tag;
    out.id = n.id;
    out.classes.assign(n.classes, n.classes + n.classCount);
    out.rules.clear();
    Buckets& buckets = g_buckets;
    buckets.clear();
    buckets.add(&index.universal);
    buckets.add(bucket(index.byTag, n.tag));
    if (n.id != 0) buckets.add(bucket(index.byId, n.id));
    for (uint32_t k = 0; k < n.classCount; ++k) {
        // A class the element names twice ("div.a.a") adds its bucket once.
        bool repeated = false;
        for (uint32_t j = 0; j < k; ++j) repeated = repeated || n.classes[j] == n.classes[k];
        if (!repeated) buckets.add(bucket(index.byClass, n.classes[k]));
    }
    uint32_t position;
    while (buckets.next(position)) {
        const CompoundSelector& last = sheet.rules[position].selector.back();
        if (last.tag != 0 && last.tag != n.tag) continue;
        if (last.id != 0 && last.id != n.id) continue;
        bool classes = true;
        for (uint32_t cls : last.classes) classes = classes && hasClass(n, cls);
        if (classes) out.rules.push_back(position);
    }
}

const std::vector<uint32_t>& candidatesFor(RuleIndex& index, const Stylesheet& sheet, const Node& n) {
    uint64_t key = elementKey(n);
    auto it = index.candidates.find(key);
    if (it != index.candidates.end()) {
        if (!sameElementKey(it->second, n)) collectCandidates(index, sheet, n, it->second);  // a collision: the later one stays
        return it->second.rules;
    }
    if (index.candidates.size() >= kCandidateCacheLimit) index.candidates.clear();
    CandidateList& list = index.candidates[key];
    collectCandidates(index, sheet, n, list);
    return list.rules;
}

// The defaults every element starts from (copied, which costs less than
// constructing a Style field by field), and per node the names of its
// ancestors (both reused from frame to frame).
static_assert(std::is_trivially_copyable<Style>::value, "styles are copied as bytes");
Style g_defaults;
std::vector<NameFilter> g_ancestorNames;

// Copies the defaults in 16-byte pieces: a single block copy of this size
// becomes a string-move instruction whose start-up costs more than the copy.
void copyDefaults(Style& to) {
    constexpr size_t kPieces = sizeof(Style) / 16;
    unsigned char* out = reinterpret_cast<unsigned char*>(&to);
    const unsigned char* in = reinterpret_cast<const unsigned char*>(&g_defaults);
#if defined(__GNUC__)
#pragma GCC unroll 32
#endif
    for (size_t k = 0; k < kPieces; ++k) std::memcpy(out + k * 16, in + k * 16, 16);
    std::memcpy(out + kPieces * 16, in + kPieces * 16, sizeof(Style) % 16);
}

}  // namespace

void resolveStyles(UiContext& context, const Stylesheet& sheet) {
    RuleIndex& index = indexFor(sheet);
    std::vector<Node>& nodes = context.nodes;
    std::vector<NameFilter>& ancestorNames = g_ancestorNames;
    ancestorNames.resize(nodes.size());
    // Parents come before their children in the array.
    for (size_t i = 0; i < nodes.size(); ++i) {
        Node& n = nodes[i];
        Style& style = n.computed;

        // Defaults, then the inherited text properties and the ancestors' names
        copyDefaults(style);
        n.font = nullptr;  // the font and the lines follow from the style
        n.hasLines = false;
        if (n.parent >= 0) {
            const Node& p = nodes[size_t(n.parent)];
            inherit(style, p.computed);
            NameFilter names = ancestorNames[size_t(n.parent)];
            names.addStep(p.tag, p.id, p.classes, p.classCount);
            ancestorNames[i] = names;
        } else {
            ancestorNames[i] = NameFilter{};
        }

        // Candidate rules: those whose last step fits the element's name,
        // id and classes, in the stylesheet's order
        const std::vector<uint32_t>& candidates = candidatesFor(index, sheet, n);

        // Matching rules in the stylesheet's order, later ones winning bit by
        // bit; the builder's inline style wins over every usual rule, and the
        // forced-colours layer (last in the order) over that.
        bool inlineDone = false;
        for (uint32_t position : candidates) {
            const LastStep& last = index.last[position];
            if (last.layer == LayerForcedColours && !inlineDone) {
                if (!context.forcedColours) break;
                if (n.inlineStyle.mask != 0) applyStyleBits(style, n.inlineStyle, n.inlineStyle.mask);
                inlineDone = true;
            }
            if ((last.states & n.state) != last.states) continue;
            const Rule& rule = sheet.rules[position];
            if (last.steps > 1 && (!ancestorNames[i].covers(index.ancestorNames[position]) ||
                                   !ancestorsMatch(rule.selector, nodes, int32_t(i)))) {
                continue;
            }
            applyStyleBits(style, rule.style, rule.style.mask);
        }

        if (!inlineDone && n.inlineStyle.mask != 0) applyStyleBits(style, n.inlineStyle, n.inlineStyle.mask);
    }
}

}  // namespace kiln
