// Text contrast (see contrast.h).
#include "ui/kiln/contrast.h"

#include <cmath>

namespace kiln {

namespace {

float linear(float c) { return c <= 0.04045f ? c / 12.92f : std::pow((c + 0.055f) / 1.055f, 2.4f); }

float luminance(Colour c) { return 0.2126f * linear(c.r) + 0.7152f * linear(c.g) + 0.0722f * linear(c.b); }

// `top` at `alpha` over the opaque `under`.
Colour over(Colour top, float alpha, Colour under) {
    return Colour{top.r * alpha + under.r * (1 - alpha), top.g * alpha + under.g * (1 - alpha),
                  top.b * alpha + under.b * (1 - alpha), 1};
}

bool hasClass(const Node& n, uint32_t hash) {
    for (uint32_t i = 0; i < n.classCount; ++i)
        if (n.classes[i] == hash) return true;
    return false;
}

}  // namespace

float contrastRatio(Colour a, Colour b) {
    const float la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05f) / (std::min(la, lb) + 0.05f);
}

std::vector<ContrastFault> lowContrastTexts(const UiContext& c, Colour clear, std::string_view disabled,
                                            size_t* judged) {
    const uint32_t disabledHash = nameHash(disabled);
    size_t measured = 0;
    std::vector<ContrastFault> faults;
    std::vector<int32_t> chain;
    for (size_t i = 1; i < c.nodes.size(); ++i) {
        const Node& n = c.nodes[i];
        if (n.kind != KindText || n.paintOrder < 0 || nodeText(n).find_first_not_of(" \n") == std::string_view::npos)
            continue;
        chain.clear();
        for (int32_t at = n.parent; at >= 0; at = c.nodes[size_t(at)].parent) chain.push_back(at);
        // From the window down: each box's background, faded by the opacity
        // of the boxes it is in.
        Colour under = clear;
        float fade = 1;
        bool judged = true;
        for (auto it = chain.rbegin(); it != chain.rend() && judged; ++it) {
            const Node& box = c.nodes[size_t(*it)];
            if (hasClass(box, disabledHash)) judged = false;
            fade *= box.computed.opacity;
            if (box.computed.backgroundImage >= 0) judged = false;
            const Colour bg = box.computed.background;
            if (bg.a > 0) under = over(bg, bg.a * fade, under);
        }
        if (!judged) continue;
        ++measured;
        const Colour text = over(n.computed.color, n.computed.color.a * fade * n.computed.opacity, under);
        const float ratio = contrastRatio(text, under);
        const float size = n.computed.fontSize / (c.scale > 0 ? c.scale : 1);
        const bool large = size >= 24 || (size >= 18.66f && n.computed.fontWeight >= 700);
        const float needed = large ? 3.0f : 4.5f;
        if (ratio + 0.005f < needed) faults.push_back({i, ratio, needed, text, under});
    }
    if (judged != nullptr) *judged = measured;
    return faults;
}

}  // namespace kiln
