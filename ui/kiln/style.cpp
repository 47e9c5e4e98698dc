// nameHash and the per-group style copy used by style resolution.
#include "ui/kiln/style.h"

#include "base/text.h"

namespace kiln {

uint32_t nameHash(const void* data, size_t length) {
    uint32_t hash = ember::launcher::fnv1a(std::string_view(static_cast<const char*>(data), length));
    return hash == 0 ? 1 : hash;
}

namespace {

// Copies the fields of one group. A switch keeps each case to a few moves;
// the compiler turns it into a jump table.
inline void copyGroup(Style& to, const Style& from, int group) {
    switch (group) {
        case BitColor: to.color = from.color; break;
        case BitBackground: to.background = from.background; break;
        case BitBackgroundImage: to.backgroundImage = from.backgroundImage; break;
        case BitBorderWidth:
            for (int i = 0; i < 4; ++i) to.border[i] = from.border[i];
            break;
        case BitBorderColor: to.borderColor = from.borderColor; break;
        case BitBorderImage: to.borderImage = from.borderImage; break;
        case BitPadding:
            for (int i = 0; i < 4; ++i) to.padding[i] = from.padding[i];
            break;
        case BitMargin:
            for (int i = 0; i < 4; ++i) to.margin[i] = from.margin[i];
            break;
        case BitWidth: to.width = from.width; break;
        case BitHeight: to.height = from.height; break;
        case BitMinWidth: to.minWidth = from.minWidth; break;
        case BitMinHeight: to.minHeight = from.minHeight; break;
        case BitMaxWidth: to.maxWidth = from.maxWidth; break;
        case BitMaxHeight: to.maxHeight = from.maxHeight; break;
        case BitDisplay: to.display = from.display; break;
        case BitFlexDirection: to.direction = from.direction; break;
        case BitJustify: to.justify = from.justify; break;
        case BitAlign: to.align = from.align; break;
        case BitGap: to.gap = from.gap; break;
        case BitFlexGrow: to.grow = from.grow; break;
        case BitFontFamily: to.fontFamily = from.fontFamily; break;
        case BitFontSize: to.fontSize = from.fontSize; break;
        case BitFontWeight: to.fontWeight = from.fontWeight; break;
        case BitFontStyle: to.italic = from.italic; break;
        case BitTextAlign: to.textAlign = from.textAlign; break;
        case BitLineHeight: to.lineHeight = from.lineHeight; break;
        case BitWhiteSpace: to.nowrap = from.nowrap; break;
        case BitOverflow: to.overflow = from.overflow; break;
        case BitOpacity: to.opacity = from.opacity; break;
        case BitBorderRadius: to.borderRadius = from.borderRadius; break;
        case BitPosition: to.position = from.position; break;
        case BitLeft: to.left = from.left; break;
        case BitTop: to.top = from.top; break;
        case BitRight: to.right = from.right; break;
        case BitBottom: to.bottom = from.bottom; break;
        case BitTransform:
            to.tx = from.tx;
            to.ty = from.ty;
            to.txPercent = from.txPercent;
            to.tyPercent = from.tyPercent;
            break;
        case BitTextShadow:
            to.shadowColour = from.shadowColour;
            to.shadowDx = from.shadowDx;
            to.shadowDy = from.shadowDy;
            break;
        case BitLetterSpacing: to.letterSpacing = from.letterSpacing; break;
        case BitZIndex: to.zIndex = from.zIndex; break;
        case BitBorderSlice: to.borderSlice = from.borderSlice; break;
        case BitBackgroundSize:
            to.backgroundWidth = from.backgroundWidth;
            to.backgroundHeight = from.backgroundHeight;
            break;
        case BitGlow:
            to.glowColour = from.glowColour;
            to.glowRadius = from.glowRadius;
            break;
        case BitTextOutline:
            to.outlineColour = from.outlineColour;
            to.outlineWidth = from.outlineWidth;
            break;
        case BitScrollbarWidth: to.scrollbarWidth = from.scrollbarWidth; break;
        case BitScrollbarTrack: to.scrollbarTrack = from.scrollbarTrack; break;
        case BitScrollbarThumb: to.scrollbarThumb = from.scrollbarThumb; break;
        case BitFocusRing:
            to.ringColour = from.ringColour;
            to.ringGapColour = from.ringGapColour;
            to.ringWidth = from.ringWidth;
            to.ringGap = from.ringGap;
            break;
        default: break;
    }
}

constexpr StyleMask kAllBits = (StyleMask(1) << StyleBitCount) - 1;

}  // namespace

void applyStyleBits(Style& to, const Style& from, StyleMask bits) {
    // Most rules that match set a handful of groups; many calls set none.
    bits &= kAllBits;
    if (bits == 0) return;
    // A rule that sets every group is a plain copy.
    if (bits == kAllBits) {
        StyleMask mask = to.mask | bits;
        to = from;
        to.mask = mask;
        return;
    }
    to.mask |= bits;
    while (bits != 0) {
        copyGroup(to, from, __builtin_ctzll(bits));
        bits &= bits - 1;
    }
}

}  // namespace kiln
