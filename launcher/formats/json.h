// JSON values, parser and writer.
//
// Every JSON document of the launcher (the client manifest, config.json, the
// account service's bodies, the saved sign-in) goes through JsonValue: a
// tagged, owning, copyable value. Objects keep their members in the order in
// which each key was first set, so written files come out stable. Numbers are
// doubles; a whole number that fits a signed 64-bit integer is also kept
// exactly (file times beyond 2^53 must survive a round trip).
//
// parseJson follows RFC 8259 with a nesting limit of 200 and one-line error
// messages ending in " at offset N". It never throws (short of running out
// of memory). Bytes 0x80 and above inside strings are taken as they are,
// without UTF-8 validation.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace ember::launcher {

// The words of an object's key index (see JsonValue), owned, copied with the
// value. One pointer wide, so a JsonValue stays small to move.
class JsonKeyTable {
public:
    JsonKeyTable() = default;
    JsonKeyTable(const JsonKeyTable& other);
    JsonKeyTable& operator=(const JsonKeyTable& other);
    JsonKeyTable(JsonKeyTable&&) noexcept = default;
    JsonKeyTable& operator=(JsonKeyTable&&) noexcept = default;

    bool empty() const { return !words_; }
    uint32_t* data() { return words_.get(); }
    const uint32_t* data() const { return words_.get(); }
    // `count` zeroed words; word 0 must then hold the slot mask, which also
    // gives the table's length (2 + mask + 1) to copies.
    void reset(size_t count) { words_.reset(new uint32_t[count]()); }
    void clear() { words_.reset(); }

private:
    std::unique_ptr<uint32_t[]> words_;
};

struct JsonValue {
    enum class Kind : uint8_t { Null, Bool, Number, String, Array, Object };

    // What the value is; only the fields of its kind are meaningful.
    Kind kind = Kind::Null;
    bool boolean = false;
    // isInteger: `integer` holds the exact value, because the number was
    // parsed as a whole number that fits int64 or made with makeInt; then
    // `number` is its double.
    bool isInteger = false;
    double number = 0.0;
    int64_t integer = 0;
    std::string text;
    std::vector<JsonValue> items;
    // User-provided (not "= default") so that value-initialisation, as in
    // emplace_back(), sets the fields one by one instead of zeroing the
    // whole record first.
    JsonValue() noexcept {}
    static JsonValue makeBool(bool b);
    static JsonValue makeNumber(double d);
    static JsonValue makeInt(int64_t i);
    static JsonValue makeString(std::string s);
    static JsonValue makeArray();
    static JsonValue makeObject();

    bool isNull() const { return kind == Kind::Null; }
    bool isBool() const { return kind == Kind::Bool; }
    bool isNumber() const { return kind == Kind::Number; }
    bool isString() const { return kind == Kind::String; }
    bool isArray() const { return kind == Kind::Array; }
    bool isObject() const { return kind == Kind::Object; }

    // Item accessors: the value's own text/bool/number when of that kind.
    const std::string& asString() const;          // else a shared empty string
    bool asBool(bool fallback = false) const;
    double asNumber(double fallback = 0.0) const;
    // The number truncated toward zero (exact for whole-number literals and
    // makeInt values; saturated beyond the int64 range); else the fallback.
    int64_t asInt(int64_t fallback = 0) const;

    // Members with their keys, in first-set order (the key order of the
    // document), to iterate and read. They change only through set(),
    // erase() and findMember(), which keep the key index in step.
    using Member = std::pair<std::string, JsonValue>;
    const std::vector<Member>& members() const { return members_; }
    // How many members the key index holds (0: lookups scan, as they do
    // below 16 members).
    size_t indexedMembers() const { return keyIndex_.empty() ? 0 : keyIndex_.data()[1]; }

private:
    friend struct JsonAccess;  // json.cpp: the parser and the index
    std::vector<Member> members_;
    // Hash index over the keys of a large object, so that looking up or
    // setting a key stays constant-time even with 100,000 members: built
    // once an object has 16 members, empty below that. Layout: [0] slot
    // mask, [1] number of members indexed, then mask + 1 slots holding a
    // member position + 1 (0 = empty).
    JsonKeyTable keyIndex_;
};

// Parses the whole text. On failure returns false, leaves `out` Null and sets
// `error` to "<message> at offset <byte offset>"; on success clears `error`.
bool parseJson(const std::string& text, JsonValue& out, std::string& error);
// Serialises with `indent` spaces per level (0: compact, no line breaks).
std::string writeJson(const JsonValue& value, int indent);

// Makes `object` an Object if it is not one, then stores the member; a new
// key goes last, an existing key keeps its position.
void set(JsonValue& object, const std::string& key, JsonValue value);
// Removes the member with that key, keeping the order of the others; false
// when `object` is not an Object or has no such key.
bool erase(JsonValue& object, const std::string& key);
// The member's value, to change in place; null when missing or when
// `object` is not an Object.
JsonValue* findMember(JsonValue& object, const std::string& key);
// Makes `array` an Array if it is not one, then appends.
void append(JsonValue& array, JsonValue value);

// Read accessors: a member of the wrong kind is treated like a missing one.
const JsonValue& member(const JsonValue& object, const std::string& key);
bool has(const JsonValue& object, const std::string& key);
std::string getString(const JsonValue& object, const std::string& key, const std::string& fallback = "");
int64_t getInt(const JsonValue& object, const std::string& key, int64_t fallback = 0);
bool getBool(const JsonValue& object, const std::string& key, bool fallback = false);
double getNumber(const JsonValue& object, const std::string& key, double fallback = 0.0);

}  // namespace ember::launcher
