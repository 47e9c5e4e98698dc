// JSON parser, writer and accessors: every failure text with its offset, the
// number and string rules of the writer, key order and round trips.
#include "launcher/formats/json.h"

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

using namespace ember::launcher;

namespace {

JsonValue parseOk(const std::string& text) {
    JsonValue v;
    std::string error = "untouched";
    EXPECT_TRUE(parseJson(text, v, error)) << "text: " << text << "\nerror: " << error;
    EXPECT_EQ(error, "");
    return v;
}

std::string parseError(const std::string& text) {
    JsonValue v = JsonValue::makeString("stale");
    std::string error;
    EXPECT_FALSE(parseJson(text, v, error)) << "text: " << text;
    EXPECT_TRUE(v.isNull()) << "a failed parse leaves the value Null";
    return error;
}

std::string nested(int depth, const std::string& inner) {
    return std::string(depth, '[') + inner + std::string(depth, ']');
}

// ---------------------------------------------------------------------------
// Failures
// ---------------------------------------------------------------------------

struct FailureCase {
    std::string text;
    std::string error;
};

TEST(JsonParse, EveryFailureHasItsMessageAndOffset) {
    const std::vector<FailureCase> cases = {
        // Nothing there.
        {"", "unexpected end at offset 0"},
        {"   ", "unexpected end at offset 3"},
        {"[", "unexpected end at offset 1"},
        {"[1,", "unexpected end at offset 3"},
        {"{\"a\":", "unexpected end at offset 5"},
        {"{\"a\": \t\r\n", "unexpected end at offset 9"},
        // Structure.
        {"{\"a\" 1}", "expected ':' at offset 5"},
        {"{\"a\"", "expected ':' at offset 4"},
        {"{\"a\":1 \"b\":2}", "expected ',' or '}' at offset 7"},
        {"{\"a\":1", "expected ',' or '}' at offset 6"},
        {"{\"a\":1]", "expected ',' or '}' at offset 6"},
        {"[1 2]", "expected ',' or ']' at offset 3"},
        {"[1", "expected ',' or ']' at offset 2"},
        {"[1}", "expected ',' or ']' at offset 2"},
        {"{\"a\":1,}", "expected a string at offset 7"},
        {"{,}", "expected a string at offset 1"},
        {"{a:1}", "expected a string at offset 1"},
        {"{", "expected a string at offset 1"},
        {"{1:1}", "expected a string at offset 1"},
        {"[1,]", "expected a number at offset 3"},
        {"[,1]", "expected a number at offset 1"},
        {"1 2", "trailing characters at offset 2"},
        {"{} x", "trailing characters at offset 3"},
        {"01", "trailing characters at offset 1"},
        {"truex", "trailing characters at offset 4"},
        {"[]]", "trailing characters at offset 2"},
        // Literals fail at their first byte.
        {"tru", "bad literal at offset 0"},
        {"trUe", "bad literal at offset 0"},
        {"[nul]", "bad literal at offset 1"},
        {"fals", "bad literal at offset 0"},
        {"[1, nulx]", "bad literal at offset 4"},
        {"True", "expected a number at offset 0"},
        // Numbers fail at the first byte that does not fit.
        {"-", "expected a number at offset 1"},
        {"-x", "expected a number at offset 1"},
        {"+1", "expected a number at offset 0"},
        {".5", "expected a number at offset 0"},
        {"x", "expected a number at offset 0"},
        {"1.", "bad fraction at offset 2"},
        {"1.e5", "bad fraction at offset 2"},
        {"[1.x]", "bad fraction at offset 3"},
        {"1e", "bad exponent at offset 2"},
        {"1e+", "bad exponent at offset 3"},
        {"1E-x", "bad exponent at offset 3"},
        {"-0.5e", "bad exponent at offset 5"},
        // Strings.
        {"\"abc", "unterminated string at offset 4"},
        {"\"abc\\", "unterminated string at offset 5"},
        {"[\"a\\\"]", "unterminated string at offset 6"},
        {"\"a\tb\"", "control character in string at offset 2"},
        {std::string("\"a\0b\"", 5), "control character in string at offset 2"},
        {"\"\x1f\"", "control character in string at offset 1"},
        {"\"\\x\"", "bad escape at offset 3"},
        {"\"ab\\'\"", "bad escape at offset 5"},
        {"\"\\U0041\"", "bad escape at offset 3"},
        {"\"\\u12\"", "bad \\u escape at offset 3"},
        {"\"\\u12", "bad \\u escape at offset 3"},
        {"\"\\u12G4\"", "bad \\u escape at offset 3"},
        {"\"\\u 123\"", "bad \\u escape at offset 3"},
        // Surrogates: the offset is just after the escape that is left alone.
        {"\"\\uD83D\"", "lone surrogate at offset 7"},
        {"\"\\uD83Dx\"", "lone surrogate at offset 7"},
        {"\"\\uD83D\\u0041\"", "lone surrogate at offset 7"},
        {"\"\\uD83D\\uD83D\"", "lone surrogate at offset 7"},
        {"\"\\uD83D\\uDE0G\"", "lone surrogate at offset 7"},
        {"\"\\uD83D\\n\"", "lone surrogate at offset 7"},
        {"\"\\uDBFF\\uE000\"", "lone surrogate at offset 7"},
        {"\"\\uDE00\"", "lone surrogate at offset 7"},
        {"\"a\\uDC00\\uD800\"", "lone surrogate at offset 8"},
        {"{\"\\uDFFF\":1}", "lone surrogate at offset 8"},
        // Nesting.
        {nested(201, "1"), "nested too deep at offset 201"},
        {"{\"a\":" + nested(200, "1") + "}", "nested too deep at offset 205"},
        {nested(300, ""), "nested too deep at offset 201"},
    };
    for (const FailureCase& c : cases) {
        EXPECT_EQ(parseError(c.text), c.error) << "text: " << c.text;
    }
}

TEST(JsonParse, FirstFailureIsKeptWhileUnwinding) {
    // The string fault deep inside must not be overwritten by the enclosing
    // array and object failing on the way out.
    EXPECT_EQ(parseError("{\"a\":[[\"x\\q\"]]}"), "bad escape at offset 11");
}

// ---------------------------------------------------------------------------
// Accepted documents
// ---------------------------------------------------------------------------

TEST(JsonParse, NestingLimitIs200) {
    JsonValue v = parseOk(nested(200, "1"));
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(v.isArray());
        ASSERT_EQ(v.items.size(), 1u);
        JsonValue inner = v.items[0];
        v = inner;
    }
    EXPECT_EQ(v.asNumber(), 1.0);
    // An empty container at the limit holds no value, so it is fine.
    parseOk(nested(201, ""));
    parseOk("{\"a\":" + nested(199, "{}") + "}");
}

TEST(JsonParse, WhitespaceIsExactlySpaceTabLineFeedCarriageReturn) {
    JsonValue v = parseOk(" \t\r\n{ \t\r\n\"a\" \t\r\n: \t\r\n[ \t\r\n1 \t\r\n, \t\r\n2 \t\r\n] \t\r\n} \t\r\n");
    EXPECT_EQ(member(v, "a").items.size(), 2u);
    for (const char* ws : {"\f", "\v", "\xc2\xa0", "\xef\xbb\xbf"}) {
        std::string error = parseError(std::string(ws) + "1");
        EXPECT_EQ(error, "expected a number at offset 0") << "leading byte " << int(static_cast<unsigned char>(ws[0]));
        EXPECT_EQ(parseError(std::string("1") + ws), "trailing characters at offset 1");
    }
}

TEST(JsonParse, ScalarsAtTopLevelAndInside) {
    EXPECT_TRUE(parseOk("null").isNull());
    EXPECT_TRUE(parseOk("true").asBool(false));
    EXPECT_FALSE(parseOk("false").asBool(true));
    EXPECT_TRUE(parseOk("false").isBool());
    EXPECT_EQ(parseOk(" \"hi\" ").asString(), "hi");
    EXPECT_EQ(parseOk("[true,false,null]").items[2].kind, JsonValue::Kind::Null);
}

struct NumberCase {
    std::string text;
    double number;
    bool exact;       // kept as an exact integer
    int64_t integer;  // what getInt gives
};

TEST(JsonParse, Numbers) {
    const std::vector<NumberCase> cases = {
        {"0", 0.0, true, 0},
        {"-0", -0.0, true, 0},
        {"7", 7.0, true, 7},
        {"-12", -12.0, true, -12},
        {"2.5", 2.5, false, 2},
        {"-2.5", -2.5, false, -2},
        {"1e3", 1000.0, false, 1000},
        {"1E+2", 100.0, false, 100},
        {"15e-1", 1.5, false, 1},
        {"0.1", 0.1, false, 0},
        {"-0.0", -0.0, false, 0},
        // Beyond 2^53 whole-number literals stay exact.
        {"9007199254740993", 9007199254740992.0, true, 9007199254740993LL},
        {"9223372036854775807", 9223372036854775807.0, true, INT64_MAX},
        {"-9223372036854775808", -9223372036854775808.0, true, INT64_MIN},
        {"1234567890123456789", 1234567890123456789.0, true, 1234567890123456789LL},
        // Beyond int64 they are doubles; getInt saturates.
        {"9223372036854775808", 9223372036854775808.0, false, INT64_MAX},
        {"-9223372036854775809", -9223372036854775808.0, false, INT64_MIN},
        {"123456789012345678901234", 1.2345678901234568e23, false, INT64_MAX},
        {"1e400", HUGE_VAL, false, INT64_MAX},
        {"-1e400", -HUGE_VAL, false, INT64_MIN},
        {"1e-400", 0.0, false, 0},
        {"4.9406564584124654e-324", 4.9406564584124654e-324, false, 0},
        {"1.7976931348623157e308", 1.7976931348623157e308, false, INT64_MAX},
    };
    for (const NumberCase& c : cases) {
        JsonValue doc = parseOk("{\"n\":" + c.text + "}");
        const JsonValue& v = member(doc, "n");
        ASSERT_TRUE(v.isNumber()) << c.text;
        EXPECT_EQ(v.number, c.number) << c.text;
        EXPECT_EQ(std::signbit(v.number), std::signbit(c.number)) << c.text;
        EXPECT_EQ(v.isInteger, c.exact) << c.text;
        EXPECT_EQ(getInt(doc, "n", 99), c.integer) << c.text;
    }
}

TEST(JsonParse, NumberConversionIgnoresTheLocale) {
    // A process that switched to a locale with a decimal comma still reads
    // and writes the JSON point. tools/setup-deps makes de_DE.UTF-8 for the
    // native build; under Wine the Windows name is tried too.
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = previous != nullptr ? previous : "C";
    bool switched = false;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "German_Germany.1252", "de-DE"}) {
        if (std::setlocale(LC_NUMERIC, name) != nullptr && std::localeconv()->decimal_point[0] == ',') {
            switched = true;
            break;
        }
    }
    if (!switched) {
        std::setlocale(LC_NUMERIC, saved.c_str());
#ifdef _WIN32
        GTEST_SKIP() << "no locale with a decimal comma";
#else
        FAIL() << "no locale with a decimal comma: tools/setup-deps makes de_DE.UTF-8";
#endif
    }
    JsonValue v;
    std::string error;
    bool ok = parseJson("[2.5,1e-2]", v, error);
    std::string written = ok ? writeJson(v, 0) : "";
    std::setlocale(LC_NUMERIC, saved.c_str());
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(v.items[0].number, 2.5);
    EXPECT_EQ(v.items[1].number, 0.01);
    EXPECT_EQ(written, "[2.5,0.01]");
}

struct StringCase {
    std::string text;
    std::string value;
};

TEST(JsonParse, StringsAndEscapes) {
    const std::vector<StringCase> cases = {
        {"\"\"", ""},
        {"\"plain\"", "plain"},
        {"\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"", "\"\\/\b\f\n\r\t"},
        {"\"\\u0041\\u00e9\\u00E9\"", "A\xc3\xa9\xc3\xa9"},
        {"\"\\u0000\"", std::string("\0", 1)},
        {"\"\\u007f\\u0080\\u07FF\\u0800\\uFFFF\"", "\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf"},
        {"\"\\uD83D\\uDE00\"", "\xf0\x9f\x98\x80"},
        {"\"\\uD800\\uDC00\\uDBFF\\uDFFF\"", "\xf0\x90\x80\x80\xf4\x8f\xbf\xbf"},
        {"\"a\\uD83D\\uDE00b\"", "a\xf0\x9f\x98\x80" "b"},
        // Bytes 0x80 and above pass unchecked, even when not UTF-8; DEL is
        // not a control character.
        {"\"\xff\xfe\x80\x7f\"", "\xff\xfe\x80\x7f"},
        {"\"\xed\xa0\x80\"", "\xed\xa0\x80"},
    };
    for (const StringCase& c : cases) {
        JsonValue v = parseOk(c.text);
        ASSERT_TRUE(v.isString()) << c.text;
        EXPECT_EQ(v.text, c.value) << c.text;
    }
}

TEST(JsonParse, SpecialBytesAreFoundAtEveryPositionOfALongString) {
    // Plain bytes are scanned in blocks; a quote, backslash or control byte
    // must be caught wherever it falls in or across a block.
    for (size_t pos = 0; pos < 48; ++pos) {
        const std::string before(pos, 'a');
        const std::string after(47 - pos, 'b');
        EXPECT_EQ(parseError("\"" + before + "\x01" + after + "\""),
                  "control character in string at offset " + std::to_string(1 + pos));
        EXPECT_EQ(parseError("\"" + before + "\x1f" + after + "\""),
                  "control character in string at offset " + std::to_string(1 + pos));
        EXPECT_EQ(parseOk("\"" + before + "\\n" + after + "\"").text, before + "\n" + after);
        EXPECT_EQ(parseOk("\"" + before + "\x80\xff\x20\x7f" + after + "\"").text, before + "\x80\xff\x20\x7f" + after);
        EXPECT_EQ(parseOk("[\"" + before + "\",\"" + after + "\"]").items[0].text, before);
        EXPECT_EQ(parseError("\"" + before), "unterminated string at offset " + std::to_string(1 + pos));
    }
}

TEST(JsonParse, SiblingArraysOfManySizesKeepTheirOwnItems) {
    // Arrays at one depth share the parser's working storage, small ones are
    // copied out of it and large ones take it over; each must end up with
    // exactly its own items.
    const std::vector<int> sizes = {3, 1500, 0, 10, 1023, 1024, 5000, 1, 2049, 700};
    std::string text = "{\"lists\":[";
    for (size_t i = 0; i < sizes.size(); ++i) {
        if (i != 0) text += ',';
        text += '[';
        for (int k = 0; k < sizes[i]; ++k) text += (k != 0 ? "," : "") + std::to_string(i * 100000 + k);
        text += ']';
    }
    text += "],\"after\":[{\"x\":[1,2]},{\"x\":[3]}]}";
    JsonValue v = parseOk(text);
    const JsonValue& lists = member(v, "lists");
    ASSERT_EQ(lists.items.size(), sizes.size());
    for (size_t i = 0; i < sizes.size(); ++i) {
        const JsonValue& list = lists.items[i];
        ASSERT_TRUE(list.isArray());
        ASSERT_EQ(list.items.size(), static_cast<size_t>(sizes[i])) << "list " << i;
        for (int k = 0; k < sizes[i]; ++k)
            ASSERT_EQ(list.items[k].asInt(), static_cast<int64_t>(i * 100000 + k)) << "list " << i;
    }
    EXPECT_EQ(writeJson(member(v, "after"), 0), "[{\"x\":[1,2]},{\"x\":[3]}]");
}

TEST(JsonParse, RepeatedKeyReplacesTheValueInPlace) {
    JsonValue v = parseOk("{\"a\":1,\"b\":2,\"a\":{\"x\":true}}");
    ASSERT_EQ(v.members().size(), 2u);
    EXPECT_EQ(v.members()[0].first, "a");
    EXPECT_TRUE(v.members()[0].second.isObject());
    EXPECT_EQ(v.members()[1].first, "b");
    EXPECT_EQ(writeJson(v, 0), "{\"a\":{\"x\":true},\"b\":2}");

    // Repeats before and after the object grows large enough for its index.
    std::string text = "{\"k0\":0,\"k1\":1,\"k1\":-1";
    for (int i = 2; i < 20; ++i) text += ",\"k" + std::to_string(i) + "\":" + std::to_string(i);
    text += ",\"k3\":-3,\"k19\":-19,\"k0\":[]}";
    JsonValue big = parseOk(text);
    ASSERT_EQ(big.members().size(), 20u);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(big.members()[i].first, "k" + std::to_string(i));
    EXPECT_TRUE(member(big, "k0").isArray());
    EXPECT_EQ(getInt(big, "k1"), -1);
    EXPECT_EQ(getInt(big, "k2"), 2);
    EXPECT_EQ(getInt(big, "k3"), -3);
    EXPECT_EQ(getInt(big, "k19"), -19);
}

TEST(JsonObject, EraseAndSetKeepLookupsRightOnBothSidesOfTheIndex) {
    // Below and above the size at which objects get a key index: erasing the
    // first member moves every other one, and look-ups must still find each.
    for (int size : {5, 20, 100}) {
        SCOPED_TRACE(size);
        JsonValue o;
        for (int i = 0; i < size; ++i) set(o, "k" + std::to_string(i), JsonValue::makeInt(i));
        EXPECT_TRUE(erase(o, "k0"));
        EXPECT_FALSE(erase(o, "k0"));
        set(o, "new", JsonValue::makeBool(true));
        ASSERT_EQ(o.members().size(), static_cast<size_t>(size));
        EXPECT_EQ(o.members().front().first, "k1");
        EXPECT_EQ(o.members().back().first, "new");
        EXPECT_FALSE(has(o, "k0"));
        for (int i = 1; i < size; ++i) EXPECT_EQ(getInt(o, "k" + std::to_string(i), -1), i) << i;
        EXPECT_TRUE(has(o, "new"));
        // A value changed in place is seen by the accessors.
        JsonValue* last = findMember(o, "k" + std::to_string(size - 1));
        ASSERT_NE(last, nullptr);
        *last = JsonValue::makeString("changed");
        EXPECT_EQ(getString(o, "k" + std::to_string(size - 1)), "changed");
        EXPECT_EQ(findMember(o, "missing"), nullptr);
    }
    JsonValue notAnObject = JsonValue::makeArray();
    EXPECT_FALSE(erase(notAnObject, "k"));
    EXPECT_EQ(findMember(notAnObject, "k"), nullptr);
}

TEST(JsonParse, ObjectWithManyKeysStaysFastAndReplacesRepeatedKeys) {
    // 200,000 distinct keys, then every tenth key again: a lookup that scans
    // the members would take minutes here.
    const int count = 200000;
    std::string text = "{";
    for (int i = 0; i < count; ++i) text += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
    for (int i = 0; i < count; i += 10) text += "\"k" + std::to_string(i) + "\":-1,";
    text.back() = '}';
    JsonValue v = parseOk(text);
    ASSERT_EQ(v.members().size(), static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const std::string key = "k" + std::to_string(i);
        ASSERT_EQ(v.members()[i].first, key);
        ASSERT_EQ(getInt(v, key), i % 10 == 0 ? -1 : i) << key;
    }
    EXPECT_FALSE(has(v, "k200000"));
    // A copy carries a working index, and set() keeps it in step.
    JsonValue copy = v;
    set(copy, "k5", JsonValue::makeInt(5005));
    set(copy, "new", JsonValue::makeBool(true));
    EXPECT_EQ(getInt(copy, "k5"), 5005);
    EXPECT_EQ(getInt(v, "k5"), 5);
    EXPECT_TRUE(getBool(copy, "new"));
    EXPECT_EQ(copy.members().back().first, "new");
    EXPECT_EQ(copy.members().size(), static_cast<size_t>(count) + 1);
    // Every lookup above went through the key index, never a scan.
    EXPECT_EQ(v.indexedMembers(), static_cast<size_t>(count));
    EXPECT_EQ(copy.indexedMembers(), static_cast<size_t>(count) + 1);
}

// ---------------------------------------------------------------------------
// Values and accessors
// ---------------------------------------------------------------------------

TEST(JsonValue, SetKeepsFirstPositionAndReplacesOtherKinds) {
    JsonValue v = JsonValue::makeString("discarded");
    set(v, "b", JsonValue::makeInt(1));
    set(v, "a", JsonValue::makeInt(2));
    set(v, "b", JsonValue::makeInt(3));
    EXPECT_TRUE(v.isObject());
    EXPECT_EQ(v.text, "");
    EXPECT_EQ(writeJson(v, 0), "{\"b\":3,\"a\":2}");

    JsonValue a = JsonValue::makeInt(4);
    append(a, JsonValue());
    append(a, JsonValue::makeBool(false));
    EXPECT_TRUE(a.isArray());
    EXPECT_EQ(writeJson(a, 0), "[null,false]");
}

TEST(JsonValue, SetKeepsLookupsRightAcrossTheIndexThreshold) {
    // Grows an object one key at a time through the size at which it gets
    // an index, checking every key and a replacement at each step.
    JsonValue v;
    for (int n = 1; n <= 70; ++n) {
        set(v, "key" + std::to_string(n), JsonValue::makeInt(n));
        set(v, "key1", JsonValue::makeInt(-n));
        ASSERT_EQ(v.members().size(), static_cast<size_t>(n));
        for (int i = 2; i <= n; ++i) ASSERT_EQ(getInt(v, "key" + std::to_string(i)), i) << n;
        ASSERT_EQ(getInt(v, "key1"), -n);
        ASSERT_FALSE(has(v, "key0"));
        ASSERT_EQ(v.members()[0].first, "key1");
    }
    // Keys that differ only after a shared prefix, or only in length.
    JsonValue w;
    std::string key;
    for (int i = 0; i < 100; ++i) {
        set(w, key, JsonValue::makeInt(i));
        key += '\0';
    }
    key.clear();
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(getInt(w, key, -1), i);
        key += '\0';
    }
}

TEST(JsonValue, AccessorsTreatTheWrongKindAsMissing) {
    JsonValue v = parseOk(
        "{\"s\":\"text\",\"n\":42.9,\"neg\":-42.9,\"b\":true,\"z\":null,\"a\":[1],\"o\":{\"s\":\"inner\"}}");
    EXPECT_EQ(getString(v, "s", "d"), "text");
    EXPECT_EQ(getString(v, "n", "d"), "d");
    EXPECT_EQ(getString(v, "missing", "d"), "d");
    EXPECT_EQ(getInt(v, "n", -1), 42);
    EXPECT_EQ(getInt(v, "neg", -1), -42);
    EXPECT_EQ(getInt(v, "s", -1), -1);
    EXPECT_EQ(getInt(v, "b", -1), -1);
    EXPECT_EQ(getNumber(v, "n", -1), 42.9);
    EXPECT_EQ(getNumber(v, "z", -1), -1);
    EXPECT_TRUE(getBool(v, "b", false));
    EXPECT_TRUE(getBool(v, "n", true));
    EXPECT_FALSE(getBool(v, "a", false));
    EXPECT_TRUE(has(v, "z"));
    EXPECT_FALSE(has(v, "inner"));
    EXPECT_TRUE(member(v, "z").isNull());
    EXPECT_TRUE(member(v, "missing").isNull());
    EXPECT_EQ(getString(member(v, "o"), "s"), "inner");
    // Not an object at all.
    const JsonValue& arr = member(v, "a");
    EXPECT_FALSE(has(arr, "0"));
    EXPECT_TRUE(member(arr, "0").isNull());
    EXPECT_EQ(getString(arr, "s", "d"), "d");
    // Item accessors.
    EXPECT_EQ(member(v, "s").asString(), "text");
    EXPECT_EQ(member(v, "n").asString(), "");
    EXPECT_EQ(member(v, "s").asNumber(7), 7);
    EXPECT_TRUE(member(v, "s").asBool(true));
    EXPECT_EQ(member(v, "n").asInt(), 42);
    EXPECT_EQ(JsonValue::makeNumber(NAN).asInt(5), 5);
}

TEST(JsonValue, ExactIntegerFollowsADirectlyAssignedNumber) {
    // Code that assigns `number` directly must not get the old exact value.
    JsonValue v = JsonValue::makeInt(9007199254740993LL);
    EXPECT_EQ(v.asInt(), 9007199254740993LL);
    v.number = 12.75;
    EXPECT_EQ(v.asInt(), 12);
    EXPECT_EQ(writeJson(v, 0), "12.75");
}

// ---------------------------------------------------------------------------
// Writer
// ---------------------------------------------------------------------------

struct WriteNumberCase {
    JsonValue value;
    std::string text;
};

TEST(JsonWrite, Numbers) {
    const std::vector<WriteNumberCase> cases = {
        {JsonValue::makeNumber(3), "3"},
        {JsonValue::makeNumber(2.5), "2.5"},
        {JsonValue::makeNumber(-0.0), "0"},
        {JsonValue::makeNumber(0.1), "0.10000000000000001"},
        {JsonValue::makeNumber(1e300), "1.0000000000000001e+300"},
        {JsonValue::makeNumber(1e15), "1000000000000000"},
        {JsonValue::makeNumber(-1e15), "-1000000000000000"},
        {JsonValue::makeNumber(999999999999999.0), "999999999999999"},
        {JsonValue::makeNumber(-999999999999999.0), "-999999999999999"},
        {JsonValue::makeNumber(1e16), "10000000000000000"},
        {JsonValue::makeNumber(9007199254740993.0), "9007199254740992"},
        {JsonValue::makeNumber(-123456.0), "-123456"},
        {JsonValue::makeNumber(5e-324), "4.9406564584124654e-324"},
        {JsonValue::makeNumber(1e-7), "9.9999999999999995e-08"},
        // Exact integers at any size.
        {JsonValue::makeInt(9007199254740993LL), "9007199254740993"},
        {JsonValue::makeInt(1000000000000001LL), "1000000000000001"},
        {JsonValue::makeInt(INT64_MAX), "9223372036854775807"},
        {JsonValue::makeInt(INT64_MIN), "-9223372036854775808"},
        {JsonValue::makeInt(0), "0"},
        // No JSON spelling: infinities as literals that read back as them.
        {JsonValue::makeNumber(HUGE_VAL), "1e999"},
        {JsonValue::makeNumber(-HUGE_VAL), "-1e999"},
        {JsonValue::makeNumber(NAN), "null"},
    };
    for (const WriteNumberCase& c : cases) {
        EXPECT_EQ(writeJson(c.value, 0), c.text);
        EXPECT_EQ(writeJson(c.value, 2), c.text);
    }
}

TEST(JsonWrite, StringEscapes) {
    std::string all;
    for (int c = 0; c < 0x20; ++c) all += static_cast<char>(c);
    EXPECT_EQ(writeJson(JsonValue::makeString(all), 0),
              "\"\\u0000\\u0001\\u0002\\u0003\\u0004\\u0005\\u0006\\u0007\\b\\t\\n\\u000b\\f\\r\\u000e\\u000f"
              "\\u0010\\u0011\\u0012\\u0013\\u0014\\u0015\\u0016\\u0017\\u0018\\u0019\\u001a\\u001b\\u001c\\u001d"
              "\\u001e\\u001f\"");
    EXPECT_EQ(writeJson(JsonValue::makeString("a\"b\\c/d\x7f\xc3\xa9\xff"), 0),
              "\"a\\\"b\\\\c/d\x7f\xc3\xa9\xff\"");
    JsonValue o;
    set(o, "k\"\n", JsonValue::makeString(""));
    EXPECT_EQ(writeJson(o, 0), "{\"k\\\"\\n\":\"\"}");
}

TEST(JsonWrite, IndentAndLayout) {
    JsonValue v = parseOk("{\"b\":[1,[],{},{\"x\":null}],\"a\":{\"c\":\"d\"},\"e\":[]}");
    EXPECT_EQ(writeJson(v, 0), "{\"b\":[1,[],{},{\"x\":null}],\"a\":{\"c\":\"d\"},\"e\":[]}");
    EXPECT_EQ(writeJson(v, 2),
              "{\n"
              "  \"b\": [\n"
              "    1,\n"
              "    [],\n"
              "    {},\n"
              "    {\n"
              "      \"x\": null\n"
              "    }\n"
              "  ],\n"
              "  \"a\": {\n"
              "    \"c\": \"d\"\n"
              "  },\n"
              "  \"e\": []\n"
              "}");
    EXPECT_EQ(writeJson(parseOk("[1,2]"), 3), "[\n   1,\n   2\n]");
    EXPECT_EQ(writeJson(parseOk("[1,2]"), -4), "[1,2]");
    EXPECT_EQ(writeJson(JsonValue(), 2), "null");
    EXPECT_EQ(writeJson(JsonValue::makeObject(), 2), "{}");
    EXPECT_EQ(writeJson(JsonValue::makeArray(), 2), "[]");
}

TEST(JsonRoundTrip, KeyOrderAndValuesSurvive) {
    const std::string pretty =
        "{\n"
        "  \"zeta\": 1,\n"
        "  \"alpha\": [\n"
        "    true,\n"
        "    false,\n"
        "    null,\n"
        "    \"\\u0001\\t\\\"x\\\\\"\n"
        "  ],\n"
        "  \"mid\": {\n"
        "    \"y\": 2.5,\n"
        "    \"x\": -7,\n"
        "    \"time\": 133497696000000001\n"
        "  },\n"
        "  \"\xe2\x82\xac\": \"\xf0\x9f\x98\x80\"\n"
        "}";
    JsonValue v = parseOk(pretty);
    EXPECT_EQ(writeJson(v, 2), pretty);
    EXPECT_EQ(getInt(member(v, "mid"), "time"), 133497696000000001LL);
    const std::string compact = writeJson(v, 0);
    EXPECT_EQ(writeJson(parseOk(compact), 2), pretty);
}

TEST(JsonRoundTrip, NumbersReadBackToTheSameValue) {
    const std::vector<double> values = {0.1,    1.0 / 3,  -2.75e-300, 6.02214076e23, 1e15 + 0.5, 123456789.125,
                                        1e21,   -1e-5,    5e-324,     1.7976931348623157e308,  HUGE_VAL, -HUGE_VAL};
    for (double d : values) {
        JsonValue back = parseOk(writeJson(JsonValue::makeNumber(d), 0));
        EXPECT_EQ(back.number, d) << writeJson(JsonValue::makeNumber(d), 0);
    }
}

}  // namespace
