// KilnUI: an immediate-mode toolkit with a retained memory.
//
// Every frame the screens rebuild the whole element tree through the free
// functions below (beginFrame, openElement, textElement, ... endFrame). The
// toolkit then resolves styles, lays the tree out, builds the hit list and
// keeps, per element identity, what must survive to the next frame (the last
// rectangle, the scroll offset, whether it was hovered). Input arrives as
// events queued by the window procedure and drained once per frame, so the
// whole build sees one consistent input state.
//
// Sections:
//   - Records: Rect, Ring, NodeSpec, Node, NodeMemory, HitRecord, InputEvent
//   - UiContext: the one process-wide state
//   - Memory of the layers above: memoryFor (per identity), frameRecord
//   - Frame and builder functions
//   - Queries used by screens, the painter and the window procedure
//   - Input: event queue and window-message mapping
//   - Passes (style resolution, layout, hit testing) for the painter and tests
//
// Everything here is portable (no Windows headers); the Windows backend feeds
// messages in through feedMessage().
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ui/kiln/style.h"
#include "ui/kiln/text.h"

namespace kiln {

// ---------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------

struct Rect {
    float x = 0, y = 0, w = 0, h = 0;
    // Left and top edges inclusive, right and bottom exclusive.
    bool contains(float px, float py) const { return px >= x && py >= y && px < x + w && py < y + h; }
};

// The overlap of two rectangles; zero width or height (at the overlap's
// corner) when they do not meet. Inline: the painter clips every quad.
inline Rect intersect(const Rect& a, const Rect& b) {
    float x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
    float x1 = std::min(a.x + a.w, b.x + b.w), y1 = std::min(a.y + a.h, b.y + b.h);
    return Rect{x0, y0, std::max(0.0f, x1 - x0), std::max(0.0f, y1 - y0)};
}

// A ring segment: the element is drawn and hit only inside the part of the
// annulus inner <= d < outer around its box centre, from `start` sweeping
// clockwise (0 = straight up) to `end`, in degrees.
struct Ring {
    bool has = false;
    float inner = 0, outer = 0;
    float start = 0, end = 360;
};

// A parsed element spec ("div.btn.btn--play", "#title", "text.t-h1"),
// cached by nameHash of the whole text; nodes point at the cached classes.
struct NodeSpec {
    std::string text;  // the element spec text itself, to tell hash collisions apart
    uint32_t textHash = 0;
    uint32_t tag = 0;  // 0: none given (the element takes div or text)
    uint32_t id = 0;   // 0: no #id
    std::vector<uint32_t> classes;
};
// Parses a spec by the element-spec grammar (no caching).
NodeSpec parseNodeSpec(std::string_view spec);

struct NodeMemory;

enum NodeKind : uint8_t { KindBox = 0, KindText = 1, KindImage = 2, KindArrow = 3 };

// One element of the frame's tree. Nodes live in UiContext::nodes, addressed
// by index; index 0 is the root.
struct Node {
    // Identity and spec: fixed when the element is created
    uint64_t identity = 0;  // never 0
    uint32_t tag = 0, id = 0;
    const uint32_t* classes = nullptr;  // the cached spec's class hashes
    uint32_t classCount = 0;
    uint8_t kind = KindBox;
    uint16_t state = 0;  // StateHover | StateActive | StateFocus
    bool clickable = false;
    int32_t parent = -1, firstChild = -1, lastChild = -1, nextSibling = -1;
    int32_t childCount = 0;
    int32_t depth = 0;
    NodeMemory* memory = nullptr;  // the identity's entry if it existed before this frame

    // Per-build inputs: set by the builder during the frame
    uint32_t textBegin = 0, textLength = 0;  // UTF-8 bytes in UiContext::textArena
    Style inlineStyle;                         // inlineStyle.mask: the setters used
    Ring ring;
    int32_t image = -1;          // image elements: interned picture index
    int32_t arrowDirection = 0;  // arrow elements: 0..3
    int32_t shape = -1;          // a vector shape chosen by the screens (painter's index), -1 none
    float scrollOffset = 0;      // scroll containers: the offset used for this frame's layout

    // Per-build results: filled by endFrame's passes
    Style computed;
    Font* font = nullptr;  // text elements
    float measuredW = 0, measuredH = 0;
    float measureAvailH = 0;  // available height of the last measure (for re-measuring)
    Rect box;                 // border box, window pixels, after the scroll shift
    Rect content;             // content box (minus the scrollbar gutter in scrollers)
    Rect clip;
    float contentExtent = 0;  // columns: height of the in-flow children
    int32_t paintOrder = -1;  // -1: not painted (display: none, or below one)
    // Wrapped lines of a text element (UiContext::lineArena) and the wrap key
    // they were laid out with (-1: no wrapping), so a re-measure at the same
    // width does not lay the text out again.
    uint32_t linesBegin = 0, linesCount = 0;
    float linesWrap = 0;
    bool hasLines = false;
};

// Per identity, kept across frames.
struct NodeMemory {
    // Geometry and presence, refreshed at the end of every frame the identity appears in
    Rect rect;
    uint64_t lastSeen = 0;
    bool hovered = false;
    // Scrolling state of a scroll container
    float scrollOffset = 0;
    float scrollRange = 0;  // content extent minus visible height, at least 0
    bool jumpToEnd = false;
};

struct HitRecord {
    uint64_t identity = 0;
    Rect rect, clip;
    int32_t paintOrder = 0;
    bool hasRing = false;
    float cx = 0, cy = 0;
    float inner = 0, outer = 0, start = 0, end = 360;
};

enum EventKind : uint32_t {
    EventMove = 0,
    EventButtonDown = 1,
    EventButtonUp = 2,
    EventWheel = 3,
    EventKeyDown = 4,
    EventKeyUp = 5,
    EventChar = 6
};

// One input event as the window procedure queues it.
struct InputEvent {
    uint32_t kind = EventMove;
    float x = 0, y = 0;    // client pixels
    uint32_t button = 0;   // 0 left, 1 right
    float wheel = 0;       // notches
    uint32_t code = 0;     // virtual key (0x10056: Ctrl+V) or UTF-16 code unit
};
static_assert(sizeof(InputEvent) == 24, "an input event is 24 bytes");

constexpr uint32_t kPasteChord = 0x10056;
constexpr size_t kEventQueueCapacity = 256;

// ---------------------------------------------------------------------------
// UiContext
// ---------------------------------------------------------------------------

struct UiContext;
using FrameHook = void (*)(UiContext&);

// A typed value the context keeps for a layer above the toolkit (see
// memoryFor and frameRecord below).
struct Slot {
    virtual ~Slot() = default;
    uint64_t lastUsed = 0;  // the frame that last asked for it
};
struct SlotKey {
    uint64_t identity = 0;
    const void* type = nullptr;  // one address per value type
    bool operator==(const SlotKey& other) const { return identity == other.identity && type == other.type; }
};
struct SlotKeyHash {
    size_t operator()(const SlotKey& key) const {
        return std::hash<uint64_t>()(key.identity) ^ (std::hash<const void*>()(key.type) << 1);
    }
};

struct UiContext {
    // The frame's tree (cleared, not freed, every frame)
    std::vector<Node> nodes;
    std::vector<int32_t> openStack;
    std::vector<uint32_t> keyStack;
    std::vector<uint64_t> scrollStack;
    int32_t current = -1;
    std::string textArena;              // text of text elements
    std::vector<TextLine> lineArena;    // wrapped lines of text elements
    std::vector<int32_t> paintList;     // node indices in paint order

    // Frame parameters
    uint64_t frame = 0;
    float width = 0, height = 0, scale = 1;

    // Input state of the frame (drained from the queue at beginFrame)
    float mouseX = -10000, mouseY = -10000;
    bool mouseInWindow = false;
    bool buttonDown[2] = {false, false};
    bool buttonPressed[2] = {false, false};
    bool buttonReleased[2] = {false, false};
    float wheel = 0;
    std::vector<uint32_t> keys;   // key codes pressed this frame
    std::vector<uint32_t> chars;  // code points typed this frame
    uint32_t pendingHighSurrogate = 0;
    uint64_t hotId = 0, activeId = 0;
    uint64_t* focusId = nullptr;  // owned by the screens
    // The keyboard's element (kept by the layer above, handed in before
    // each build): it is drawn in the :focus state while the ring shows,
    // and `activateId` is pressed by the keyboard this frame.
    uint64_t keyboardFocus = 0;
    bool focusRingShown = false;
    uint64_t activateId = 0;
    bool clickTaken = false;
    bool overPainted = false;
    bool keyboardCapture = false;
    bool drawPointer = false;
    bool forcedColours = false;  // the stylesheet's forced-colours layer applies
    bool started = false;  // input is ignored until the toolkit has started

    // Event queue, the only structure shared with other threads
    std::mutex queueLock;
    std::array<InputEvent, kEventQueueCapacity> queue{};
    size_t queued = 0;

    // Kept across frames
    std::unordered_map<uint64_t, NodeMemory> memory;
    std::vector<HitRecord> hits;
    std::unordered_map<uint32_t, NodeSpec> specs;                 // by nameHash of the text
    std::unordered_map<std::string, NodeSpec> specCollisions;     // texts whose hash was taken
    std::unordered_map<uint32_t, int32_t> imageIndex;  // nameHash(path) -> interned picture
    const Stylesheet* stylesheet = nullptr;  // null: currentStylesheet()
    FrameHook drawHook = nullptr;            // the painter, run at the end of endFrame
    // The layers above: values per identity, and one record per type.
    std::unordered_map<SlotKey, std::unique_ptr<Slot>, SlotKeyHash> slots;
    std::unordered_map<const void*, std::unique_ptr<Slot>> records;

    // Scratch buffers of the passes (kept for their capacity)
    std::vector<TextLine> scratchLines;
    std::vector<int32_t> scratchOrder;
    std::vector<float> scratchShift;
};

// The process-wide context (UI thread only, except the event queue).
UiContext& ui();

// ---------------------------------------------------------------------------
// Memory of the layers above
//
// What a widget kit or the screens built on the toolkit must keep from one
// frame to the next lives here, in the context, typed by the caller, and
// never in variables of their own:
//   - memoryFor<T>(identity): a T kept for one element identity (what a
//     widget remembers between frames: a measured width, a text's scroll;
//     later the focus ring's, the screen reader's). Value-initialised on
//     first use. An entry no frame has asked for in a while goes by the rule
//     of NodeMemory (unseen for more than 600 frames, checked every 256), so
//     a widget asks for its entry every frame it is built.
//   - frameRecord<T>(): one T per type for what a layer records about the
//     frame it builds (its clock, its requests, the order of its controls).
//     It is never cleared by the toolkit: the layer clears it when its own
//     build starts, so between frames it describes the last build.
// resetContext drops both. A reference stays valid until the entry goes
// (memory: at an endFrame long after its last use; records: resetContext).
// T is any default-constructible type; each type has entries of its own.

namespace detail {
template <class T>
struct TypeTag {
    static constexpr char id = 0;  // its address tells the types apart
};
template <class T>
struct SlotOf final : Slot {
    T value{};
};
template <class T>
T& slotValue(std::unique_ptr<Slot>& slot, uint64_t frame) {
    if (!slot) slot = std::make_unique<SlotOf<T>>();
    slot->lastUsed = frame;
    return static_cast<SlotOf<T>&>(*slot).value;
}
}  // namespace detail

template <class T>
T& memoryFor(uint64_t identity) {
    UiContext& c = ui();
    return detail::slotValue<T>(c.slots[SlotKey{identity, &detail::TypeTag<T>::id}], c.frame);
}

template <class T>
T& frameRecord() {
    UiContext& c = ui();
    return detail::slotValue<T>(c.records[&detail::TypeTag<T>::id], c.frame);
}

// ---------------------------------------------------------------------------
// Frame and builder
// ---------------------------------------------------------------------------

// Starts a frame: clears the tree and the per-frame input, drains the event
// queue, computes the hot id from the last frame's hit list and creates the
// root (identity 1, inline size = the window).
void beginFrame(float width, float height, float scale);
// Styles and lays out the tree, runs the draw hook, builds the hit list and
// updates the identity memory. Does nothing when no element was created.
void endFrame();

// Creates an element as the last child of the open element and opens it.
void openElement(std::string_view spec = "div");
// Closes the open element (never the root) and makes it current; returns it.
int32_t closeElement();
// An open element that reports a left press on it this frame (at most one
// element per frame takes a press), or the keyboard's press
// (activateByKeyboard).
bool buttonElement(std::string_view spec = "div");
// The same two with the identity taken from `identitySpec` instead of the
// spec, so an element whose modifier classes change with its state
// ("div.check.is-on") keeps one identity (and its memory and focus).
bool buttonElement(std::string_view spec, std::string_view identitySpec);
void openElement(std::string_view spec, std::string_view identitySpec);
// Leaf elements (not opened).
void textElement(std::string_view text, std::string_view spec = "text");
void imageElement(std::string_view path, float width, float height, std::string_view spec = "img");
void arrowElement(int direction, float size, std::string_view spec = "arrow");
// A vertically scrolling container; the key separates its identity.
void scrollBegin(std::string_view key, std::string_view spec = "scroll");
void scrollEnd();
// Asks the innermost open scroll container to show its end from the next
// frame on (for example a log that just grew).
void scrollToEnd();

void pushKey(std::string_view text);
void pushKey(uint64_t number);
void popKey();

// Inline style of the current element (wins over every usual rule; only the
// forced-colours layer wins over it).
void setBackground(const Colour& colour);
void setOpacity(float value);
void setSize(float width, float height);  // a negative side stays unset
void placeAt(float x, float y);           // position absolute, left/top in px
// Copies the groups in `bits` from `from` into the inline style.
void setStyle(const Style& from, StyleMask bits);
// The current element is drawn and hit only inside this ring segment.
void setRing(float inner, float outer, float startDegrees, float endDegrees);
// A vector shape of the painter's, drawn instead of the box.
void setShape(int32_t shape);

// Rectangle of the current element's identity at the end of the previous
// frame; all zero when unknown.
Rect lastRect();
// Identity and state bits of the current element (0 when there is none).
uint64_t currentId();
uint16_t currentState();

// ---------------------------------------------------------------------------
// Queries and switches
// ---------------------------------------------------------------------------

uint64_t frameCounter();
float mouseX();
float mouseY();
bool mouseInWindow();
// Turning it off also clears the hot and active ids (the launcher's mouse tracking).
void setMouseInWindow(bool inside);
bool mouseDown(int button);
bool mousePressed(int button);
bool mouseReleased(int button);
const std::vector<uint32_t>& frameKeys();
const std::vector<uint32_t>& frameChars();
bool overPainted();
uint64_t hotId();
uint64_t activeId();
void setFocusIdPointer(uint64_t* focus);
// The element the keyboard is on, and whether its ring shows (the :focus
// state); set before the build, kept until changed.
void setKeyboardFocus(uint64_t identity, bool ringShown);
// A press by the keyboard: the element of this identity built by
// buttonElement in this frame's build reports a press, exactly as a click
// would (cleared by beginFrame).
void activateByKeyboard(uint64_t identity);
// Scrolls the nearest scroll container around the element of this
// identity (in the frame just laid out) so that the element, with a few
// pixels around it for its ring, shows from the next frame on.
void scrollIntoView(uint64_t identity);
uint64_t focusId();  // 0 when none
void setPointerDrawing(bool on);
bool pointerDrawing();
void setKeyboardCapture(bool on);
bool keyboardCapture();
// Set by the renderer's start-up; before it (and after shutdown) input is ignored.
void setToolkitStarted(bool started);
bool toolkitStarted();
// The painter, called at the end of every endFrame.
void setDrawHook(FrameHook hook);
// Styles come from this stylesheet instead of currentStylesheet() (tests,
// previews); null returns to the current one.
void setStylesheet(const Stylesheet* sheet);
// The forced-colours mode (high contrast): while it is on, the rules of the
// stylesheet's `@media (forced-colors: active)` blocks apply, after every
// other rule and the inline style. Off by default and after resetContext.
void setForcedColours(bool on);
bool forcedColours();

// Text and lines of a node.
std::string_view nodeText(const Node& node);
struct LineSpan {
    const TextLine* first = nullptr;
    size_t count = 0;
    const TextLine* begin() const { return first; }
    const TextLine* end() const { return first + count; }
    size_t size() const { return count; }
};
LineSpan nodeLines(const Node& node);

// Forgets the tree, the memory, the hit list, the queue and every switch
// (the toolkit's shutdown, and tests).
void resetContext();

// ---------------------------------------------------------------------------
// Input
// ---------------------------------------------------------------------------

// Appends an event (synthetic input); false when the queue is full and the
// event was dropped.
bool queueEvent(const InputEvent& event);

// Window message numbers the toolkit understands.
enum : uint32_t {
    kWmKeyDown = 0x0100,
    kWmKeyUp = 0x0101,
    kWmChar = 0x0102,
    kWmSysKeyDown = 0x0104,
    kWmSysKeyUp = 0x0105,
    kWmMouseMove = 0x0200,
    kWmLButtonDown = 0x0201,
    kWmLButtonUp = 0x0202,
    kWmLButtonDblClk = 0x0203,
    kWmRButtonDown = 0x0204,
    kWmRButtonUp = 0x0205,
    kWmRButtonDblClk = 0x0206,
    kWmMouseWheel = 0x020A
};

// Pure mapping of a window message to an event; false for messages the
// toolkit does not take. `ctrlHeld` turns V into the paste chord.
bool mapMessage(uint32_t message, uint64_t wParam, int64_t lParam, bool ctrlHeld, InputEvent& out);

// The window procedure's hook: maps and queues the message and says whether
// the toolkit took it (a press or wheel over something it drew, or a key
// while a focused element has the keyboard). False before the toolkit has
// started.
bool feedMessage(uint32_t message, uint64_t wParam, int64_t lParam, bool ctrlHeld);

// Moves the queued events into the frame's input state (beginFrame does
// this; exposed for tests).
void drainEvents(UiContext& context);

// ---------------------------------------------------------------------------
// Passes
// ---------------------------------------------------------------------------

// Computed style of every node (defaults, inheritance, matching rules in
// order, inline style, then the forced-colours layer while it is on).
void resolveStyles(UiContext& context, const Stylesheet& sheet);
// Measure, arrange, scroll shift, clip and paint order for a window.
void layoutTree(UiContext& context, float width, float height);
// The hit record under a point, or 0.
uint64_t hitTest(const std::vector<HitRecord>& hits, float x, float y);
// True when the point lies in the ring segment of a record with a ring.
bool insideRing(const HitRecord& record, float x, float y);
// The identity combine step shared by every identity.
inline uint64_t combineIdentity(uint64_t c, uint64_t v) {
    return c ^ (v + 0x9E3779B97F4A7C15ull + (c << 6) + (c >> 2));
}

}  // namespace kiln
