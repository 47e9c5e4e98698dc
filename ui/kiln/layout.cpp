// KilnUI layout, in named passes over the styled tree:
//   measure   sizes wanted by each element, bottom-up (text wrapped here;
//             a row's growing children after its fixed ones, at the width
//             those leave)
//   arrange   border and content boxes, top-down (flex rows and columns,
//             grow and shrink, justify, align, absolute placement)
//   paint     the paint order: in-flow tree first, then absolute subtrees
//             by z-index
//   scroll    descendants of scrolled containers move up by the offset
//   clip      clip rectangles handed down by hidden and scrolling boxes
// All sizes are border-box sizes in window pixels.
#include <algorithm>
#include <cmath>

#include "ui/kiln/kiln.h"

namespace kiln {

namespace {

bool isRow(const Style& s) { return s.display == DisplayFlex && s.direction == DirectionRow; }
bool isAbsolute(const Style& s) { return s.position == PositionAbsolute; }
bool inFlow(const Style& s) { return s.display != DisplayNone && !isAbsolute(s); }
bool scrolls(const Style& s) { return s.overflow == OverflowScroll; }
// A row child whose width is what the others leave it.
bool flexible(const Style& s) { return inFlow(s) && s.grow > 0 && s.width.isAuto(); }

// The scrollbar's room at the right of a scrolling box.
float gutter(const Style& s) { return std::max(s.scrollbarWidth, 3.0f) + 7.0f; }

float horizontalEdges(const Style& s) {
    return s.border[SideLeft] + s.border[SideRight] + s.padding[SideLeft] + s.padding[SideRight];
}
float verticalEdges(const Style& s) {
    return s.border[SideTop] + s.border[SideBottom] + s.padding[SideTop] + s.padding[SideBottom];
}

// px, or percent of `basis`; only called for lengths that are set.
float resolveLength(const Length& l, float basis) {
    return l.unit == LengthPercent ? l.value * basis / 100.0f : l.value;
}

// The wrap key of a text: the width lines are broken at, or -1 for none.
float wrapKey(const Style& s, float width) { return (s.nowrap || width <= 0) ? -1.0f : width; }

// Lays a text element out at a wrap key, unless its lines already are.
void layoutLines(UiContext& c, Node& n, float key) {
    if (n.hasLines && n.linesWrap == key) return;
    const Style& s = n.computed;
    const std::vector<TextLine>& lines =
        layoutTextCached(nodeText(n), n.font, s.letterSpacing, key < 0, key < 0 ? 0.0f : key);
    n.linesBegin = uint32_t(c.lineArena.size());
    n.linesCount = uint32_t(lines.size());
    c.lineArena.insert(c.lineArena.end(), lines.begin(), lines.end());
    n.linesWrap = key;
    n.hasLines = true;
}

float widestLine(const UiContext& c, const Node& n) {
    float widest = 0;
    for (uint32_t i = 0; i < n.linesCount; ++i) widest = std::max(widest, c.lineArena[n.linesBegin + i].width);
    return widest;
}

// ---------------------------------------------------------------------------
// Measure

void measure(UiContext& c, int32_t index, float availW, float availH) {
    Node& n = c.nodes[size_t(index)];
    const Style& s = n.computed;
    n.measureAvailH = availH;

    // Hidden elements take no room; nothing below them is measured.
    if (s.display == DisplayNone) {
        n.measuredW = n.measuredH = 0;
        return;
    }

    // Width left for the content
    float outer = s.width.isAuto() ? std::max(0.0f, availW - s.margin[SideLeft] - s.margin[SideRight])
                                   : resolveLength(s.width, availW);
    float inner = outer - horizontalEdges(s);
    if (scrolls(s)) inner -= gutter(s);
    inner = std::max(0.0f, inner);

    // Content size by kind
    float w = horizontalEdges(s), h = verticalEdges(s);
    if (n.kind == KindText) {
        if (n.font == nullptr) n.font = fontFor(s.fontFamily, s.fontSize, s.fontWeight, s.italic);
        layoutLines(c, n, wrapKey(s, inner));
        w += widestLine(c, n);
        h += float(n.linesCount) * lineHeight(n.font, s.lineHeight);
    } else if (n.kind == KindBox) {
        bool row = isRow(s);
        float mainSum = 0, crossMax = 0;
        int count = 0;
        float growSum = 0;
        auto add = [&](const Node& child) {
            const Style& cs = child.computed;
            float cw = child.measuredW + cs.margin[SideLeft] + cs.margin[SideRight];
            float ch = child.measuredH + cs.margin[SideTop] + cs.margin[SideBottom];
            mainSum += row ? cw : ch;
            crossMax = std::max(crossMax, row ? ch : cw);
        };
        // Fixed children first; a row's growing children wait for the
        // width the fixed ones leave.
        for (int32_t ci = n.firstChild; ci >= 0; ci = c.nodes[size_t(ci)].nextSibling) {
            const Style& cs = c.nodes[size_t(ci)].computed;
            if (row && flexible(cs)) {
                ++count;
                growSum += cs.grow;
                continue;
            }
            measure(c, ci, inner, availH);
            if (!inFlow(cs)) continue;
            ++count;
            add(c.nodes[size_t(ci)]);
        }
        // Growing children of a row at their share of what is left, so
        // that text in them wraps (and is as tall) as it will be drawn.
        if (growSum > 0) {
            float left = std::max(0.0f, inner - mainSum - float(count - 1) * s.gap);
            for (int32_t ci = n.firstChild; ci >= 0; ci = c.nodes[size_t(ci)].nextSibling) {
                const Style& cs = c.nodes[size_t(ci)].computed;
                if (!flexible(cs)) continue;
                measure(c, ci, left * cs.grow / growSum, availH);
                add(c.nodes[size_t(ci)]);
            }
        }
        if (count > 1 && s.gap > 0) mainSum += float(count - 1) * s.gap;
        w += row ? mainSum : crossMax;
        h += row ? crossMax : mainSum;
    }
    // Images and arrows: their borders and padding; the size comes from width/height.

    // Explicit sizes, then min before max
    if (!s.width.isAuto()) w = resolveLength(s.width, availW);
    if (!s.height.isAuto()) h = resolveLength(s.height, availH);
    if (!s.minWidth.isAuto()) w = std::max(w, resolveLength(s.minWidth, availW));
    if (!s.maxWidth.isAuto()) w = std::min(w, resolveLength(s.maxWidth, availW));
    if (!s.minHeight.isAuto()) h = std::max(h, resolveLength(s.minHeight, availH));
    if (!s.maxHeight.isAuto()) h = std::min(h, resolveLength(s.maxHeight, availH));
    n.measuredW = w;
    n.measuredH = h;
}

// ---------------------------------------------------------------------------
// Arrange

void arrange(UiContext& c, int32_t index, const Rect& box, const Rect& containing);

// Places an absolutely positioned child inside the containing rectangle R.
void placeAbsolute(UiContext& c, int32_t index, const Rect& R) {
    Node& n = c.nodes[size_t(index)];
    const Style& s = n.computed;
    bool hasLeft = !s.left.isAuto(), hasRight = !s.right.isAuto();
    bool hasTop = !s.top.isAuto(), hasBottom = !s.bottom.isAuto();
    float left = hasLeft ? resolveLength(s.left, R.w) : 0;
    float right = hasRight ? resolveLength(s.right, R.w) : 0;
    float top = hasTop ? resolveLength(s.top, R.h) : 0;
    float bottom = hasBottom ? resolveLength(s.bottom, R.h) : 0;

    // Size: measured, or spanned between two offsets
    float w = n.measuredW, h = n.measuredH;
    if (hasLeft && hasRight && s.width.isAuto()) {
        w = std::max(0.0f, R.w - left - right);
        // Its content was measured for another width: measure it again so
        // that text inside wraps (and is as tall) as it will be drawn.
        if (std::fabs(w - n.measuredW) > 0.5f) {
            measure(c, index, w + s.margin[SideLeft] + s.margin[SideRight], n.measureAvailH);
            if (!(hasTop && hasBottom && s.height.isAuto())) h = c.nodes[size_t(index)].measuredH;
        }
    }
    if (hasTop && hasBottom && s.height.isAuto()) h = std::max(0.0f, R.h - top - bottom);

    // Position from the offsets, then the translation (absolute boxes only)
    float x = hasLeft ? R.x + left : hasRight ? R.x + R.w - right - w : R.x;
    float y = hasTop ? R.y + top : hasBottom ? R.y + R.h - bottom - h : R.y;
    x += s.txPercent ? s.tx * w / 100.0f : s.tx;
    y += s.tyPercent ? s.ty * h / 100.0f : s.ty;
    arrange(c, index, Rect{x, y, w, h}, R);
}

void arrange(UiContext& c, int32_t index, const Rect& box, const Rect& containing) {
    Node& n = c.nodes[size_t(index)];
    const Style& s = n.computed;

    // Hidden: zero boxes, children untouched (they stay zero)
    if (s.display == DisplayNone) {
        n.box = Rect{};
        n.content = Rect{};
        return;
    }

    // Border box and content box
    n.box = box;
    Rect content{box.x + s.border[SideLeft] + s.padding[SideLeft], box.y + s.border[SideTop] + s.padding[SideTop],
                 std::max(0.0f, box.w - horizontalEdges(s)), std::max(0.0f, box.h - verticalEdges(s))};
    if (scrolls(s)) content.w = std::max(0.0f, content.w - gutter(s));
    n.content = content;

    // Text is drawn at its final content width: lay it out again when the
    // lines measured earlier would not be the ones drawn there.
    if (n.kind == KindText && n.hasLines) {
        float key = wrapKey(s, content.w);
        if (key >= 0 && (content.w + 0.01f < widestLine(c, n) || (content.w > n.linesWrap + 0.01f && n.linesCount > 1))) {
            layoutLines(c, n, key);
        }
    }

    // Absolute descendants are placed in this box if this one is absolute.
    Rect passOn = isAbsolute(s) ? box : containing;

    // Absolutely positioned children, out of the flow
    for (int32_t ci = n.firstChild; ci >= 0; ci = c.nodes[size_t(ci)].nextSibling) {
        const Style& cs = c.nodes[size_t(ci)].computed;
        if (cs.display != DisplayNone && isAbsolute(cs)) placeAbsolute(c, ci, passOn);
    }

    // In-flow children along the main axis
    bool row = isRow(s);
    float mainSize = row ? content.w : content.h;
    float crossSize = row ? content.h : content.w;
    int count = 0;
    float used = 0, grow = 0;
    for (int32_t ci = n.firstChild; ci >= 0; ci = c.nodes[size_t(ci)].nextSibling) {
        const Node& child = c.nodes[size_t(ci)];
        const Style& cs = child.computed;
        if (!inFlow(cs)) continue;
        ++count;
        used += row ? child.measuredW + cs.margin[SideLeft] + cs.margin[SideRight]
                    : child.measuredH + cs.margin[SideTop] + cs.margin[SideBottom];
        grow += cs.grow;
    }
    float free = mainSize - used - (count > 0 ? float(count - 1) * s.gap : 0.0f);

    // Justify, only when nothing grows and there is room
    float start = 0, share = 0;
    if (grow == 0 && free > 0) {
        if (s.justify == JustifyCenter) {
            start = free / 2;
        } else if (s.justify == JustifyEnd) {
            start = free;
        } else if (s.justify == JustifySpaceBetween && count >= 2) {
            share = free / float(count - 1);
        }
    }

    // Each child: main size (grown or shrunk), cross size and offset, box
    float cursor = (row ? content.x : content.y) + start;
    int placed = 0;
    for (int32_t ci = n.firstChild; ci >= 0; ci = c.nodes[size_t(ci)].nextSibling) {
        Node& child = c.nodes[size_t(ci)];
        const Style& cs = child.computed;
        if (!inFlow(cs)) continue;
        ++placed;
        float lead = row ? cs.margin[SideLeft] : cs.margin[SideTop];
        float trail = row ? cs.margin[SideRight] : cs.margin[SideBottom];
        float crossLead = row ? cs.margin[SideTop] : cs.margin[SideLeft];
        float crossTrail = row ? cs.margin[SideBottom] : cs.margin[SideRight];

        float main = row ? child.measuredW : child.measuredH;
        if (grow > 0 && cs.grow > 0 && free != 0) main = std::max(0.0f, main + cs.grow / grow * free);
        if (row && std::fabs(main - child.measuredW) > 0.5f) {
            // A row child of a new width wraps its text again.
            measure(c, ci, main + cs.margin[SideLeft] + cs.margin[SideRight], child.measureAvailH);
            main = std::max(main, child.measuredW);
        }

        float cross, offset = 0;
        bool crossAuto = row ? cs.height.isAuto() : cs.width.isAuto();
        if (s.align == AlignStretch && crossAuto) {
            cross = std::max(0.0f, crossSize - crossLead - crossTrail);
        } else {
            cross = row ? child.measuredH : child.measuredW;
            if (s.align == AlignCenter) {
                offset = (crossSize - cross - crossLead - crossTrail) / 2;
            } else if (s.align == AlignEnd) {
                offset = crossSize - cross - crossLead - crossTrail;
            }
            offset = std::max(0.0f, offset);
        }

        Rect childBox;
        if (row) {
            childBox = Rect{cursor + lead, content.y + offset + crossLead, main, cross};
        } else {
            childBox = Rect{content.x + offset + crossLead, cursor + lead, cross, main};
        }
        // The space-between share goes between children, not after the last,
        // so that it never counts as content to scroll to.
        cursor += lead + main + trail + s.gap + (placed < count ? share : 0.0f);
        arrange(c, ci, childBox, passOn);
    }

    // Content extent of a column (what a scroll container scrolls over)
    n.contentExtent = (!row && count > 0) ? std::max(0.0f, cursor - content.y - s.gap) : 0.0f;
}

// ---------------------------------------------------------------------------
// Paint order

void paintAbsoluteSubtree(UiContext& c, int32_t index, int32_t& order) {
    Node& n = c.nodes[size_t(index)];
    n.paintOrder = order++;
    c.paintList.push_back(index);
    // In-flow children first, then the absolute ones above them.
    for (int pass = 0; pass < 2; ++pass) {
        for (int32_t ci = n.firstChild; ci >= 0; ci = c.nodes[size_t(ci)].nextSibling) {
            const Style& cs = c.nodes[size_t(ci)].computed;
            if (cs.display == DisplayNone || isAbsolute(cs) != (pass == 1)) continue;
            paintAbsoluteSubtree(c, ci, order);
        }
    }
}

void computePaintOrder(UiContext& c) {
    std::vector<Node>& nodes = c.nodes;
    c.paintList.clear();
    std::vector<int32_t>& topAbsolute = c.scratchOrder;
    topAbsolute.clear();
    int32_t order = 0;

    // The in-flow tree depth-first in creation order (the array order),
    // skipping hidden and absolute subtrees. A node's parent comes earlier in
    // the array, so "skipped" is inherited in one pass: paintOrder stays -1
    // for skipped nodes and -2 marks the inside of an absolute subtree.
    for (size_t i = 0; i < nodes.size(); ++i) {
        Node& n = nodes[i];
        n.paintOrder = -1;
        if (n.parent >= 0) {
            int32_t parentOrder = nodes[size_t(n.parent)].paintOrder;
            if (parentOrder == -1 || parentOrder == -2) {
                n.paintOrder = parentOrder == -2 ? -2 : -1;
                continue;
            }
        }
        if (n.computed.display == DisplayNone) continue;
        if (n.parent >= 0 && isAbsolute(n.computed)) {
            topAbsolute.push_back(int32_t(i));
            n.paintOrder = -2;
            continue;
        }
        n.paintOrder = order++;
        c.paintList.push_back(int32_t(i));
    }

    // Top-level absolute subtrees by z-index, equal ones in creation
    // order; the subtree pass numbers what it paints.
    for (Node& n : nodes) {
        if (n.paintOrder == -2) n.paintOrder = -1;
    }
    std::sort(topAbsolute.begin(), topAbsolute.end(), [&nodes](int32_t a, int32_t b) {
        int32_t za = nodes[size_t(a)].computed.zIndex, zb = nodes[size_t(b)].computed.zIndex;
        return za != zb ? za < zb : a < b;
    });
    for (int32_t i : topAbsolute) paintAbsoluteSubtree(c, i, order);
}

}  // namespace

void layoutTree(UiContext& c, float width, float height) {
    if (c.nodes.empty()) return;
    // Results of an earlier run (a frame laid out twice) are cleared.
    for (Node& n : c.nodes) {
        n.box = n.content = n.clip = Rect{};
        n.contentExtent = 0;
    }
    Rect window{0, 0, width, height};

    // Measure and arrange from the root with the window
    measure(c, 0, width, height);
    arrange(c, 0, window, window);

    // Paint order (also tells which nodes are shown at all)
    computePaintOrder(c);

    // Scroll shift: descendants of scrolled containers move up. Parents
    // precede children in the array, so the shift accumulates in one pass.
    std::vector<float>& shift = c.scratchShift;
    shift.assign(c.nodes.size(), 0.0f);
    for (size_t i = 1; i < c.nodes.size(); ++i) {
        Node& n = c.nodes[i];
        const Node& p = c.nodes[size_t(n.parent)];
        float own = (scrolls(p.computed) && p.scrollOffset > 0) ? p.scrollOffset : 0.0f;
        shift[i] = shift[size_t(n.parent)] + own;
        if (shift[i] != 0 && n.paintOrder >= 0) {
            n.box.y -= shift[i];
            n.content.y -= shift[i];
        }
    }

    // Clip rectangles: hidden and scrolling boxes clip their children.
    c.nodes[0].clip = window;
    for (size_t i = 1; i < c.nodes.size(); ++i) {
        Node& n = c.nodes[i];
        const Node& p = c.nodes[size_t(n.parent)];
        n.clip = p.computed.overflow != OverflowVisible ? intersect(p.clip, p.box) : p.clip;
    }
}

}  // namespace kiln
