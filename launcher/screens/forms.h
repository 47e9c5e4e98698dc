// Helpers shared by the refusal screens, the dialogs and the sign-in form.
#pragma once

#include <string>

#include "launcher/app/state.h"

namespace ember::launcher::view {

// The width (px) for a centred column of at most `maxWidth` (scale 1) in
// the open row, whose side paddings add up to `padding` (scale 1): the
// row's width of the last frame decides, so text wraps at the width it is
// drawn at (max-width alone would measure it at the row's full width).
float columnWidth(float maxWidth, float padding);

}  // namespace ember::launcher::view
