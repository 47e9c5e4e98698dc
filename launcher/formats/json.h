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
// messages ending in " at offset N". It never throws.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ember::launcher {

struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object };

    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0.0;
    // Exact integer value when the number was written or parsed as a whole
    // number that fits int64 (isInteger); then `number` is its double.
    int64_t integer = 0;
    bool isInteger = false;
    std::string text;
    std::vector<JsonValue> items;
    // Members with their keys, in first-set order (the key order of the
    // document). Lookup is by key; see member()/has().
    std::vector<std::pair<std::string, JsonValue>> members;

    JsonValue() = default;
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
};

bool parseJson(const std::string& text, JsonValue& out, std::string& error);
std::string writeJson(const JsonValue& value, int indent);

// Makes `object` an Object if it is not one, then stores the member; a new
// key goes last, an existing key keeps its position.
void set(JsonValue& object, const std::string& key, JsonValue value);
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
