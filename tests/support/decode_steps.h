// Runs a UTF-8 decoder over a whole text and records each step: the code
// point it gave and how many bytes it consumed. Shared by the tests of the
// program's decoder and of the toolkit's display rule on top of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ember::testing {

using DecodeSteps = std::vector<std::pair<uint32_t, size_t>>;

template <typename Decode>
DecodeSteps decodeSteps(const std::string& bytes, Decode decode) {
    DecodeSteps steps;
    size_t i = 0;
    while (i < bytes.size()) {
        size_t before = i;
        uint32_t cp = decode(std::string_view(bytes), i);
        steps.emplace_back(cp, i - before);
        if (i == before) break;  // a decoder that does not advance would loop forever
    }
    return steps;
}

}  // namespace ember::testing
