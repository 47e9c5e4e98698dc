// Fuzz entry point for the JSON parser and writer: whatever parses must write
// out (compact and indented) as text that parses again and writes out the
// same, so nothing the parser accepts can come out of the writer corrupted.
#include "launcher/formats/json.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

using ember::launcher::JsonValue;

static void check(bool condition, const char* what, const std::string& text) {
    if (condition) return;
    std::fprintf(stderr, "fuzz_json: %s\n%s\n", what, text.c_str());
    std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    JsonValue value;
    std::string error;
    if (!ember::launcher::parseJson(text, value, error)) {
        check(error.find(" at offset ") != std::string::npos && error.size() <= 159, "malformed error line", error);
        check(value.isNull(), "failed parse left a value behind", text);
        return 0;
    }
    check(error.empty(), "error text after success", error);
    for (int indent : {0, 2}) {
        std::string written = ember::launcher::writeJson(value, indent);
        JsonValue again;
        check(ember::launcher::parseJson(written, again, error), "written text does not parse", written + "\n" + error);
        check(ember::launcher::writeJson(again, indent) == written, "second write differs", written);
    }
    return 0;
}
