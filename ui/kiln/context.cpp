// KilnUI's frame and builder: element creation and identities, the element-spec
// cache, per-identity memory and its eviction, scroll containers, the hit
// list and hit testing, and the end-of-frame bookkeeping.
//
// Sections: spec cache | element creation | frame | builder | setters |
// queries | hit testing.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "ui/kiln/kiln.h"
#include "ui/kiln/registry.h"

namespace kiln {

namespace {

UiContext g_context;

// Seeds of the identity hash: elements with an #id start from a constant
// so that they keep their identity wherever they stand; a parent identity
// of 0 (never produced, but cheap to guard) starts from the other one.
constexpr uint64_t kIdSeed = 0x100000001B3ull;
constexpr uint64_t kZeroParentSeed = 0x14650FB0739D0383ull;

// Memory entries unseen for more than kEvictAge frames go, checked every
// kEvictEvery frames so that a screen hidden briefly keeps its scroll.
constexpr uint64_t kEvictEvery = 256;
constexpr uint64_t kEvictAge = 600;

// Drops the entries of `map` whose last frame (`lastFrame` of the value) is
// more than kEvictAge frames before `frame`.
template <typename Map, typename LastFrame>
void evictUnused(Map& map, uint64_t frame, LastFrame lastFrame) {
    for (auto it = map.begin(); it != map.end();) {
        if (frame - lastFrame(it->second) > kEvictAge) {
            it = map.erase(it);
        } else {
            ++it;
        }
    }
}

// One wheel notch scrolls this many pixels.
constexpr float kWheelStep = 60.0f;

// Specs built from data (ids with names in them) could grow the cache
// without bound; past this size it is emptied at the next frame start,
// when no node points into it.
constexpr size_t kSpecCacheLimit = 4096;

const uint32_t kTagRoot = nameHash("root");
const uint32_t kTagDiv = nameHash("div");
const uint32_t kTagText = nameHash("text");

// A default node, copied into place for every element (a copy of a record
// already in the cache costs less than building one field by field).
const Node kFreshNode{};

const NodeSpec& specFor(UiContext& c, std::string_view text) {
    uint32_t hash = nameHash(text);
    auto it = c.specs.find(hash);
    if (it != c.specs.end()) {
        if (it->second.text == text) return it->second;
        // Two texts with one hash: the later one lives in the side table.
        auto side = c.specCollisions.find(std::string(text));
        if (side != c.specCollisions.end()) return side->second;
        return c.specCollisions.emplace(std::string(text), parseNodeSpec(text)).first->second;
    }
    return c.specs.emplace(hash, parseNodeSpec(text)).first->second;
}

int32_t pictureFor(UiContext& c, std::string_view path) {
    uint32_t hash = nameHash(path);
    auto it = c.imageIndex.find(hash);
    // The registry may have been reset since, so the index is checked.
    if (it != c.imageIndex.end() && imagePath(it->second) == path) return it->second;
    int32_t index = internImage(std::string(path));
    c.imageIndex[hash] = index;
    return index;
}

// Creates an element under the open one (or the root when nothing is open)
// and makes it current. Returns its index.
int32_t createElement(UiContext& c, std::string_view specText, NodeKind kind, std::string_view identityText = {}) {
    // Parent: the top of the open stack
    int32_t parent = c.openStack.empty() ? -1 : c.openStack.back();
    const NodeSpec& spec = specFor(c, specText);

    // Identity
    uint64_t identity;
    if (parent < 0) {
        identity = 1;
    } else if (spec.id != 0) {
        identity = kIdSeed;
        for (uint32_t key : c.keyStack) identity = combineIdentity(identity, key);
        identity = combineIdentity(identity, spec.id);
    } else {
        const Node& p = c.nodes[size_t(parent)];
        identity = p.identity != 0 ? p.identity : kZeroParentSeed;
        for (uint32_t key : c.keyStack) identity = combineIdentity(identity, key);
        identity = combineIdentity(identity, identityText.empty() ? spec.textHash : nameHash(identityText));
        identity = combineIdentity(identity, uint64_t(p.childCount));
    }
    if (identity == 0) identity = 1;

    // A fresh node with the element spec's names and default styles
    int32_t index = int32_t(c.nodes.size());
    c.nodes.push_back(kFreshNode);
    Node& n = c.nodes.back();
    n.identity = identity;
    n.tag = spec.tag != 0 ? spec.tag : (kind == KindText ? kTagText : kTagDiv);
    n.id = spec.id;
    n.classes = spec.classes.data();
    n.classCount = uint32_t(spec.classes.size());
    n.kind = kind;
    n.parent = parent;

    // State bits of an element that existed before
    auto found = c.memory.find(identity);
    if (found != c.memory.end()) {
        n.memory = &found->second;
        if (c.mouseInWindow && identity == c.hotId) n.state |= StateHover;
        if (identity == c.activeId) n.state |= StateActive;
        if (c.focusId != nullptr && *c.focusId == identity) n.state |= StateFocus;
    }
    if (c.focusRingShown && c.keyboardFocus == identity) n.state |= StateFocus;

    // Linked as the parent's last child
    if (parent >= 0) {
        Node& p = c.nodes[size_t(parent)];
        n.depth = p.depth + 1;
        if (p.lastChild >= 0) {
            c.nodes[size_t(p.lastChild)].nextSibling = index;
        } else {
            p.firstChild = index;
        }
        p.lastChild = index;
        ++p.childCount;
    }
    c.current = index;
    return index;
}

Node* currentNode(UiContext& c) {
    if (c.current < 0 || size_t(c.current) >= c.nodes.size()) return nullptr;
    return &c.nodes[size_t(c.current)];
}

Length px(float value) {
    Length l;
    l.value = value;
    l.unit = LengthPx;
    return l;
}

bool paintsSomething(const Style& s) {
    return s.background.a > 0.05f || s.backgroundImage >= 0 || s.borderImage >= 0;
}

}  // namespace

UiContext& ui() { return g_context; }

// ---------------------------------------------------------------------------
// Spec parsing

NodeSpec parseNodeSpec(std::string_view text) {
    NodeSpec spec;
    spec.text = std::string(text);
    spec.textHash = nameHash(text);
    size_t i = 0;
    // An element name unless the text starts with an id or a class.
    if (!text.empty() && text[0] != '#' && text[0] != '.') {
        size_t end = nameEnd(text, 0);
        if (end > 0) spec.tag = nameHash(text.substr(0, end));
        i = end;
    }
    // Then #id and .class parts; anything else is skipped.
    while (i < text.size()) {
        char c = text[i];
        if (c == '#' || c == '.') {
            size_t end = nameEnd(text, i + 1);
            if (end > i + 1) {
                uint32_t hash = nameHash(text.substr(i + 1, end - i - 1));
                if (c == '#') {
                    spec.id = hash;
                } else {
                    spec.classes.push_back(hash);
                }
            }
            i = end;
        } else {
            ++i;
        }
    }
    return spec;
}

// The element tree of a frame and its arenas, emptied with their capacity kept.
static void clearTree(UiContext& c) {
    c.nodes.clear();
    c.openStack.clear();
    c.keyStack.clear();
    c.scrollStack.clear();
    c.current = -1;
    c.textArena.clear();
    c.lineArena.clear();
    c.paintList.clear();
}

// ---------------------------------------------------------------------------
// Frame

void beginFrame(float width, float height, float scale) {
    UiContext& c = g_context;
    ++c.frame;
    c.width = width;
    c.height = height;
    c.scale = scale;

    // The tree and the per-frame input start empty (capacity is kept).
    clearTree(c);
    c.clickTaken = false;
    c.activateId = 0;
    for (int b = 0; b < 2; ++b) c.buttonPressed[b] = c.buttonReleased[b] = false;
    c.wheel = 0;
    c.keys.clear();
    c.chars.clear();
    if (c.specs.size() + c.specCollisions.size() > kSpecCacheLimit) {
        c.specs.clear();
        c.specCollisions.clear();
    }

    // Input of the frame, then what is under the mouse by the last frame's hits.
    drainEvents(c);
    c.hotId = c.mouseInWindow ? hitTest(c.hits, c.mouseX, c.mouseY) : 0;
    if (c.buttonPressed[0]) c.activeId = c.hotId;

    // The root spans the window.
    createElement(c, "root", KindBox);
    Node& root = c.nodes[0];
    root.tag = kTagRoot;
    root.inlineStyle.width = px(width);
    root.inlineStyle.height = px(height);
    root.inlineStyle.position = PositionStatic;
    root.inlineStyle.mask |= bit(BitWidth) | bit(BitHeight) | bit(BitPosition);
    c.openStack.push_back(0);
}

void endFrame() {
    UiContext& c = g_context;
    if (c.nodes.empty()) return;

    // Styles and layout
    resolveStyles(c, c.stylesheet != nullptr ? *c.stylesheet : currentStylesheet());
    layoutTree(c, c.width, c.height);

    // Hit list: clickable elements that were painted
    c.hits.clear();
    for (const Node& n : c.nodes) {
        if (!n.clickable || n.paintOrder < 0 || n.computed.display == DisplayNone) continue;
        HitRecord r;
        r.identity = n.identity;
        r.rect = n.box;
        r.clip = n.clip;
        r.paintOrder = n.paintOrder;
        r.hasRing = n.ring.has;
        r.cx = n.box.x + n.box.w * 0.5f;
        r.cy = n.box.y + n.box.h * 0.5f;
        r.inner = n.ring.inner;
        r.outer = n.ring.outer;
        r.start = n.ring.start;
        r.end = n.ring.end;
        c.hits.push_back(r);
    }

    // Over-painted: is the mouse over something the toolkit drew?
    c.overPainted = false;
    for (const Node& n : c.nodes) {
        if (n.paintOrder < 0 || !paintsSomething(n.computed)) continue;
        if (!n.box.contains(c.mouseX, c.mouseY) || !n.clip.contains(c.mouseX, c.mouseY)) continue;
        if (n.ring.has) {
            HitRecord r;
            r.hasRing = true;
            r.cx = n.box.x + n.box.w * 0.5f;
            r.cy = n.box.y + n.box.h * 0.5f;
            r.inner = n.ring.inner;
            r.outer = n.ring.outer;
            r.start = n.ring.start;
            r.end = n.ring.end;
            if (!insideRing(r, c.mouseX, c.mouseY)) continue;
        }
        c.overPainted = true;
        break;
    }

    // Hot id by the new hit list; a released button ends the press.
    c.hotId = c.mouseInWindow ? hitTest(c.hits, c.mouseX, c.mouseY) : 0;
    if (!c.buttonDown[0]) c.activeId = 0;

    // Memory of every identity seen this frame
    for (Node& n : c.nodes) {
        NodeMemory& m = n.memory != nullptr ? *n.memory : c.memory[n.identity];
        m.rect = n.box;
        m.lastSeen = c.frame;
        m.hovered = n.identity == c.hotId;
        m.scrollRange = std::max(0.0f, n.contentExtent - n.content.h);
        m.scrollOffset = std::min(std::max(m.scrollOffset, 0.0f), m.scrollRange);
    }

    // Eviction of identities gone for long (this frame's entries were
    // just seen, so the nodes' memory pointers stay valid), and of the
    // layers' memory by the same rule, by when it was last asked for
    if (c.frame % kEvictEvery == 0) {
        evictUnused(c.memory, c.frame, [](const NodeMemory& m) { return m.lastSeen; });
        evictUnused(c.slots, c.frame, [](const std::unique_ptr<Slot>& slot) { return slot->lastUsed; });
    }

    // The painter (draw list, pointer, frame summary)
    if (c.drawHook != nullptr) c.drawHook(c);
}

// ---------------------------------------------------------------------------
// Builder

void openElement(std::string_view spec) { openElement(spec, {}); }

void openElement(std::string_view spec, std::string_view identitySpec) {
    UiContext& c = g_context;
    c.openStack.push_back(createElement(c, spec, KindBox, identitySpec));
}

int32_t closeElement() {
    UiContext& c = g_context;
    if (c.openStack.size() <= 1) return -1;  // the root stays open
    int32_t index = c.openStack.back();
    c.openStack.pop_back();
    c.current = index;
    return index;
}

bool buttonElement(std::string_view spec) { return buttonElement(spec, {}); }

bool buttonElement(std::string_view spec, std::string_view identitySpec) {
    UiContext& c = g_context;
    int32_t index = createElement(c, spec, KindBox, identitySpec);
    c.openStack.push_back(index);
    Node& n = c.nodes[size_t(index)];
    n.clickable = true;
    // One press per frame, for the element that was under the mouse.
    if (c.mouseInWindow && c.buttonPressed[0] && !c.clickTaken && n.identity == c.hotId) {
        c.clickTaken = true;
        return true;
    }
    if (c.activateId != 0 && n.identity == c.activateId && !c.clickTaken) {
        c.activateId = 0;
        c.clickTaken = true;
        return true;
    }
    return false;
}

void textElement(std::string_view text, std::string_view spec) {
    UiContext& c = g_context;
    int32_t index = createElement(c, spec, KindText);
    Node& n = c.nodes[size_t(index)];
    n.textBegin = uint32_t(c.textArena.size());
    n.textLength = uint32_t(text.size());
    c.textArena.append(text.data(), text.size());
}

void imageElement(std::string_view path, float width, float height, std::string_view spec) {
    UiContext& c = g_context;
    int32_t index = createElement(c, spec, KindImage);
    c.nodes[size_t(index)].image = pictureFor(c, path);
    setSize(width, height);
}

void arrowElement(int direction, float size, std::string_view spec) {
    UiContext& c = g_context;
    int32_t index = createElement(c, spec, KindArrow);
    c.nodes[size_t(index)].arrowDirection = ((direction % 4) + 4) % 4;
    setSize(size, size);
}

void scrollBegin(std::string_view key, std::string_view spec) {
    UiContext& c = g_context;
    // Key, element, overflow and the scroll stack
    pushKey(key);
    openElement(spec);
    Node& n = c.nodes[size_t(c.current)];
    n.inlineStyle.overflow = OverflowScroll;
    n.inlineStyle.mask |= bit(BitOverflow);
    c.scrollStack.push_back(n.identity);

    // The wheel goes to the first (outermost) container under the mouse.
    NodeMemory& m = n.memory != nullptr ? *n.memory : c.memory[n.identity];
    n.memory = &m;
    if (c.mouseInWindow && c.wheel != 0 && m.rect.contains(c.mouseX, c.mouseY)) {
        m.scrollOffset = std::min(std::max(m.scrollOffset - c.wheel * kWheelStep, 0.0f), m.scrollRange);
        c.wheel = 0;
    }

    // A requested jump shows the end.
    if (m.jumpToEnd) {
        m.scrollOffset = m.scrollRange;
        m.jumpToEnd = false;
    }

    // The offset this frame's layout uses
    n.scrollOffset = std::min(std::max(m.scrollOffset, 0.0f), std::max(m.scrollRange, 0.0f));
}

void scrollEnd() {
    UiContext& c = g_context;
    if (c.scrollStack.empty()) return;
    c.scrollStack.pop_back();
    closeElement();
    popKey();
}

void scrollToEnd() {
    UiContext& c = g_context;
    if (c.scrollStack.empty()) return;
    c.memory[c.scrollStack.back()].jumpToEnd = true;
}

void pushKey(std::string_view text) { g_context.keyStack.push_back(nameHash(text)); }

void pushKey(uint64_t number) {
    unsigned char bytes[8];
    std::memcpy(bytes, &number, sizeof bytes);
    g_context.keyStack.push_back(nameHash(bytes, sizeof bytes));
}

void popKey() {
    if (!g_context.keyStack.empty()) g_context.keyStack.pop_back();
}

// ---------------------------------------------------------------------------
// Setters on the current element

void setBackground(const Colour& colour) {
    if (Node* n = currentNode(g_context)) {
        n->inlineStyle.background = colour;
        n->inlineStyle.mask |= bit(BitBackground);
    }
}

void setOpacity(float value) {
    if (Node* n = currentNode(g_context)) {
        n->inlineStyle.opacity = value;
        n->inlineStyle.mask |= bit(BitOpacity);
    }
}

void setSize(float width, float height) {
    if (Node* n = currentNode(g_context)) {
        if (width >= 0) {
            n->inlineStyle.width = px(width);
            n->inlineStyle.mask |= bit(BitWidth);
        }
        if (height >= 0) {
            n->inlineStyle.height = px(height);
            n->inlineStyle.mask |= bit(BitHeight);
        }
    }
}

void placeAt(float x, float y) {
    if (Node* n = currentNode(g_context)) {
        n->inlineStyle.position = PositionAbsolute;
        n->inlineStyle.left = px(x);
        n->inlineStyle.top = px(y);
        n->inlineStyle.mask |= bit(BitPosition) | bit(BitLeft) | bit(BitTop);
    }
}

void setStyle(const Style& from, StyleMask bits) {
    if (Node* n = currentNode(g_context)) applyStyleBits(n->inlineStyle, from, bits);
}

void setRing(float inner, float outer, float startDegrees, float endDegrees) {
    if (Node* n = currentNode(g_context)) {
        n->ring.has = true;
        n->ring.inner = inner;
        n->ring.outer = outer;
        n->ring.start = startDegrees;
        n->ring.end = endDegrees;
    }
}

void setShape(int32_t shape) {
    if (Node* n = currentNode(g_context)) n->shape = shape;
}

Rect lastRect() {
    const Node* n = currentNode(g_context);
    if (n == nullptr || n->memory == nullptr) return Rect{};
    return n->memory->rect;
}

uint64_t currentId() {
    const Node* n = currentNode(g_context);
    return n != nullptr ? n->identity : 0;
}

uint16_t currentState() {
    const Node* n = currentNode(g_context);
    return n != nullptr ? n->state : 0;
}

// ---------------------------------------------------------------------------
// Queries and switches

uint64_t frameCounter() { return g_context.frame; }
float mouseX() { return g_context.mouseX; }
float mouseY() { return g_context.mouseY; }
bool mouseInWindow() { return g_context.mouseInWindow; }

void setMouseInWindow(bool inside) {
    g_context.mouseInWindow = inside;
    if (!inside) {
        g_context.hotId = 0;
        g_context.activeId = 0;
    }
}

bool mouseDown(int button) { return button >= 0 && button < 2 && g_context.buttonDown[button]; }
bool mousePressed(int button) { return button >= 0 && button < 2 && g_context.buttonPressed[button]; }
bool mouseReleased(int button) { return button >= 0 && button < 2 && g_context.buttonReleased[button]; }
const std::vector<uint32_t>& frameKeys() { return g_context.keys; }
const std::vector<uint32_t>& frameChars() { return g_context.chars; }
bool overPainted() { return g_context.overPainted; }
uint64_t hotId() { return g_context.hotId; }
uint64_t activeId() { return g_context.activeId; }
void setFocusIdPointer(uint64_t* focus) { g_context.focusId = focus; }
void setKeyboardFocus(uint64_t identity, bool ringShown) {
    g_context.keyboardFocus = identity;
    g_context.focusRingShown = ringShown;
}
void activateByKeyboard(uint64_t identity) { g_context.activateId = identity; }

void scrollIntoView(uint64_t identity) {
    UiContext& c = g_context;
    if (identity == 0) return;
    size_t i = 0;
    while (i < c.nodes.size() && c.nodes[i].identity != identity) ++i;
    if (i >= c.nodes.size()) return;
    const float room = 6 * (c.scale > 0 ? c.scale : 1);
    const Rect& b = c.nodes[i].box;
    for (int32_t p = c.nodes[i].parent; p > 0; p = c.nodes[size_t(p)].parent) {
        const Node& s = c.nodes[size_t(p)];
        if (s.computed.overflow != OverflowScroll) continue;
        auto m = c.memory.find(s.identity);
        if (m == c.memory.end()) return;
        const Rect& view = s.content;
        float delta = 0;
        if (b.y - room < view.y) {
            delta = b.y - room - view.y;
        } else if (b.y + b.h + room > view.y + view.h) {
            delta = std::min(b.y - room - view.y, b.y + b.h + room - (view.y + view.h));
        }
        m->second.scrollOffset = std::min(std::max(m->second.scrollOffset + delta, 0.0f), m->second.scrollRange);
        return;
    }
}
uint64_t focusId() { return g_context.focusId != nullptr ? *g_context.focusId : 0; }
void setPointerDrawing(bool on) { g_context.drawPointer = on; }
bool pointerDrawing() { return g_context.drawPointer; }
void setKeyboardCapture(bool on) { g_context.keyboardCapture = on; }
bool keyboardCapture() { return g_context.keyboardCapture; }
void setToolkitStarted(bool started) { g_context.started = started; }
bool toolkitStarted() { return g_context.started; }
void setDrawHook(FrameHook hook) { g_context.drawHook = hook; }
void setStylesheet(const Stylesheet* sheet) { g_context.stylesheet = sheet; }
void setForcedColours(bool on) { g_context.forcedColours = on; }
bool forcedColours() { return g_context.forcedColours; }

std::string_view nodeText(const Node& node) {
    const std::string& arena = g_context.textArena;
    if (size_t(node.textBegin) + node.textLength > arena.size()) return {};
    return std::string_view(arena.data() + node.textBegin, node.textLength);
}

LineSpan nodeLines(const Node& node) {
    const std::vector<TextLine>& arena = g_context.lineArena;
    if (!node.hasLines || size_t(node.linesBegin) + node.linesCount > arena.size()) return {};
    return LineSpan{arena.data() + node.linesBegin, node.linesCount};
}

void resetContext() {
    UiContext& c = g_context;
    clearTree(c);
    c.frame = 0;
    c.width = c.height = 0;
    c.scale = 1;
    c.mouseX = c.mouseY = -10000;
    c.mouseInWindow = false;
    for (int b = 0; b < 2; ++b) c.buttonDown[b] = c.buttonPressed[b] = c.buttonReleased[b] = false;
    c.wheel = 0;
    c.keys.clear();
    c.chars.clear();
    c.pendingHighSurrogate = 0;
    c.hotId = c.activeId = 0;
    c.focusId = nullptr;
    c.keyboardFocus = 0;
    c.focusRingShown = false;
    c.activateId = 0;
    c.clickTaken = c.overPainted = c.keyboardCapture = c.drawPointer = c.started = false;
    c.forcedColours = false;
    {
        std::lock_guard<std::mutex> lock(c.queueLock);
        c.queued = 0;
    }
    c.memory.clear();
    c.slots.clear();
    c.records.clear();
    c.hits.clear();
    c.specs.clear();
    c.specCollisions.clear();
    c.imageIndex.clear();
    c.stylesheet = nullptr;
    c.drawHook = nullptr;
}

// ---------------------------------------------------------------------------
// Hit testing

bool insideRing(const HitRecord& r, float x, float y) {
    double dx = double(x) - r.cx, dy = double(y) - r.cy;
    double d = std::sqrt(dx * dx + dy * dy);
    if (d < r.inner || d >= r.outer) return false;
    double sweep = double(r.end) - r.start;
    if (sweep >= 360.0) return true;
    // Clockwise from straight up: atan2 of (dx, -dy) with y growing downwards.
    double angle = std::atan2(dx, -dy) * (180.0 / 3.14159265358979323846);
    double a = std::fmod(angle - r.start, 360.0);
    if (a < 0) a += 360.0;
    if (a >= 360.0) a -= 360.0;
    return a < sweep;
}

uint64_t hitTest(const std::vector<HitRecord>& hits, float x, float y) {
    const HitRecord* best = nullptr;
    for (const HitRecord& r : hits) {
        if (!r.rect.contains(x, y) || !r.clip.contains(x, y)) continue;
        if (r.hasRing && !insideRing(r, x, y)) continue;
        // Later paint wins; on equal orders the earlier record stays.
        if (best == nullptr || r.paintOrder > best->paintOrder) best = &r;
    }
    return best != nullptr ? best->identity : 0;
}

}  // namespace kiln
