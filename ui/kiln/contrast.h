// Text contrast of a laid-out frame: each painted text against what is
// painted under it (the window's clear colour, then the backgrounds of the
// boxes it sits in, each faded by the opacity above it), by the contrast
// ratio of relative luminances that accessibility guidelines use: 4.5:1 for
// text, 3:1 for large text (24 px, or 18.66 px bold, at scale 1). Text of a
// disabled control is exempt, as those guidelines allow; text over a
// picture cannot be judged from the tree and is left out.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ui/kiln/kiln.h"

namespace kiln {

// (L1 + 0.05) / (L2 + 0.05) of two opaque colours, the lighter on top: 1 to 21.
float contrastRatio(Colour a, Colour b);

struct ContrastFault {
    size_t node = 0;      // index into the context's nodes
    float ratio = 0;      // what it has
    float needed = 0;     // 4.5 or 3
    Colour text, under;   // as painted
};

// The texts of the last frame below their ratio. `clear` is what the
// window paints first; `disabled` is the class that marks a disabled control.
// `judged`, when given, receives how many texts were measured.
std::vector<ContrastFault> lowContrastTexts(const UiContext& context, Colour clear, std::string_view disabled,
                                            size_t* judged = nullptr);

}  // namespace kiln
