// Reading the account service's JSON numbers into the launcher's unsigned
// fields: truncated toward zero, negatives and non-numbers read as 0, and
// anything beyond the field's range as its largest value (a hostile
// "difficulty": 1e300 must not wrap around to a small number).
#pragma once

#include <cmath>
#include <cstdint>
#include <string>

#include "launcher/formats/json.h"

namespace ember::launcher::account {

inline uint64_t unsignedValue(const JsonValue& value, uint64_t max) {
    if (!value.isNumber() || std::isnan(value.number) || value.number <= 0) return 0;
    if (value.isInteger && static_cast<double>(value.integer) == value.number) {
        return static_cast<uint64_t>(value.integer) > max ? max : static_cast<uint64_t>(value.integer);
    }
    // 2^64 is exact as a double; below it the cast is defined.
    if (value.number >= 18446744073709551616.0) return max;
    uint64_t whole = static_cast<uint64_t>(value.number);
    return whole > max ? max : whole;
}

inline uint64_t getUnsigned(const JsonValue& object, const std::string& key, uint64_t max) {
    return unsignedValue(member(object, key), max);
}

}  // namespace ember::launcher::account
