// What the stylesheet's property table tells the rest of the dialect.
#pragma once

#include <cstdint>
#include <string_view>

namespace kiln {

// How scaleStylesheet treats the numbers of a property's value: left alone,
// multiplied, multiplied and kept whole pixels (borders), or multiplied with
// hairline sizes kept crisp (widths and heights).
enum class ScaleKind : uint8_t { None, Plain, Border, Size };

// The property's scale kind from its row; None for a name that is no property.
ScaleKind scaleKindOf(std::string_view name);

}  // namespace kiln
