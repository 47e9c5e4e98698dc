// The parsing cases of the public JSONTestSuite (a copy with its licence in
// tests/data/testsuites/json): every y_ file must parse, every n_ file must be refused,
// and the outcome of each i_ file (left to the implementation) is pinned here
// so that a change in behaviour shows up.
//
// None of the n_ files is accepted: bytes 0x80 and above inside strings are
// taken without UTF-8 validation, but the suite files that test that are all
// i_ files (pinned below as accepted).
#include "launcher/formats/json.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

using namespace ember::launcher;

namespace {

// The suite lives beside the checkout; EMBER_SOURCE_DIR is the source tree
// ("Z:/work/main" under Wine, where ".." is resolved by the Windows path
// rules as well).
const std::string kSuiteDir = EMBER_SOURCE_DIR "/tests/data/testsuites/json";

struct SuiteFile {
    std::string name;
    std::string text;
};

std::vector<SuiteFile> loadSuite() {
    std::vector<SuiteFile> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::u8path(kSuiteDir), ec)) {
        std::string name = entry.path().filename().u8string();
        if (name.size() < 7 || name[1] != '_' || name.substr(name.size() - 5) != ".json") continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        files.push_back({name, text});
    }
    return files;
}

// What the parser does with each implementation-defined case: "" means the
// document is accepted, otherwise the exact error line.
const std::map<std::string, std::string>& implementationDefined() {
    static const std::map<std::string, std::string> table = {
        // Numbers beyond the double range go through strtod: huge ones become
        // infinities, tiny ones zero; integers beyond int64 become doubles.
        {"i_number_double_huge_neg_exp.json", ""},
        {"i_number_huge_exp.json", ""},
        {"i_number_neg_int_huge_exp.json", ""},
        {"i_number_pos_double_huge_exp.json", ""},
        {"i_number_real_neg_overflow.json", ""},
        {"i_number_real_pos_overflow.json", ""},
        {"i_number_real_underflow.json", ""},
        {"i_number_too_big_neg_int.json", ""},
        {"i_number_too_big_pos_int.json", ""},
        {"i_number_very_big_negative_int.json", ""},
        // Surrogate escapes must form a pair; a lone low one is refused too.
        {"i_object_key_lone_2nd_surrogate.json", "lone surrogate at offset 8"},
        {"i_string_1st_surrogate_but_2nd_missing.json", "lone surrogate at offset 8"},
        {"i_string_1st_valid_surrogate_2nd_invalid.json", "lone surrogate at offset 8"},
        {"i_string_incomplete_surrogate_and_escape_valid.json", "lone surrogate at offset 8"},
        {"i_string_incomplete_surrogate_pair.json", "lone surrogate at offset 8"},
        {"i_string_incomplete_surrogates_escape_valid.json", "lone surrogate at offset 8"},
        {"i_string_invalid_lonely_surrogate.json", "lone surrogate at offset 8"},
        {"i_string_invalid_surrogate.json", "lone surrogate at offset 8"},
        {"i_string_inverted_surrogates_U+1D11E.json", "lone surrogate at offset 8"},
        {"i_string_lone_second_surrogate.json", "lone surrogate at offset 8"},
        // Raw bytes 0x80 and above are copied without UTF-8 validation.
        {"i_string_UTF-8_invalid_sequence.json", ""},
        {"i_string_UTF8_surrogate_U+D800.json", ""},
        {"i_string_invalid_utf-8.json", ""},
        {"i_string_iso_latin_1.json", ""},
        {"i_string_lone_utf8_continuation_byte.json", ""},
        {"i_string_not_in_unicode_range.json", ""},
        {"i_string_overlong_sequence_2_bytes.json", ""},
        {"i_string_overlong_sequence_6_bytes.json", ""},
        {"i_string_overlong_sequence_6_bytes_null.json", ""},
        {"i_string_truncated-utf-8.json", ""},
        // Only UTF-8 without a byte-order mark is JSON here.
        {"i_string_UTF-16LE_with_BOM.json", "expected a number at offset 0"},
        {"i_string_utf16BE_no_BOM.json", "expected a number at offset 0"},
        {"i_string_utf16LE_no_BOM.json", "expected a number at offset 1"},
        {"i_structure_UTF-8_BOM_empty_object.json", "expected a number at offset 0"},
        // The nesting limit is 200.
        {"i_structure_500_nested_arrays.json", "nested too deep at offset 201"},
    };
    return table;
}

TEST(JsonTestSuite, EveryCaseHasTheExpectedOutcome) {
    const std::vector<SuiteFile> files = loadSuite();
    ASSERT_GE(files.size(), 300u) << "suite not found at " << kSuiteDir;

    std::map<char, int> counts;
    for (const SuiteFile& f : files) {
        ++counts[f.name[0]];
        JsonValue value;
        std::string error;
        bool ok = parseJson(f.text, value, error);
        switch (f.name[0]) {
        case 'y':
            EXPECT_TRUE(ok) << f.name << " must parse: " << error;
            break;
        case 'n':
            EXPECT_FALSE(ok) << f.name << " must be refused";
            EXPECT_NE(error.find(" at offset "), std::string::npos) << f.name << ": " << error;
            break;
        case 'i': {
            auto pinned = implementationDefined().find(f.name);
            if (pinned == implementationDefined().end()) {
                ADD_FAILURE() << f.name << " is not pinned; it gives \"" << error << "\"";
                break;
            }
            EXPECT_EQ(ok ? std::string() : error, pinned->second) << f.name;
            break;
        }
        default:
            ADD_FAILURE() << "unexpected file " << f.name;
        }
        // Whatever parses must survive writing and reading back unchanged.
        if (ok) {
            for (int indent : {0, 2}) {
                std::string written = writeJson(value, indent);
                JsonValue again;
                ASSERT_TRUE(parseJson(written, again, error)) << f.name << ": " << error << "\n" << written;
                EXPECT_EQ(writeJson(again, indent), written) << f.name;
            }
        }
    }
    EXPECT_EQ(counts['i'], static_cast<int>(implementationDefined().size())) << "a pinned i_ file is missing";
    EXPECT_GT(counts['y'], 90);
    EXPECT_GT(counts['n'], 180);
}

}  // namespace
