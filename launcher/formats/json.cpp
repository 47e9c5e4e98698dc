// JSON values, parser and writer.
//
// Sections:
//   - Failure texts and limits
//   - Key index (hash table over the keys of large objects)
//   - Values, set/append and read accessors
//   - Parser
//   - Writer
#include "launcher/formats/json.h"

#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/text.h"

namespace ember::launcher {
namespace {

// ---------------------------------------------------------------------------
// Failure texts and limits
// ---------------------------------------------------------------------------

// Every parse failure is one of these, followed by " at offset N".
constexpr const char* kNestedTooDeep = "nested too deep";
constexpr const char* kUnexpectedEnd = "unexpected end";
constexpr const char* kExpectedColon = "expected ':'";
constexpr const char* kExpectedCommaOrBrace = "expected ',' or '}'";
constexpr const char* kExpectedCommaOrBracket = "expected ',' or ']'";
constexpr const char* kBadLiteral = "bad literal";
constexpr const char* kExpectedNumber = "expected a number";
constexpr const char* kBadFraction = "bad fraction";
constexpr const char* kBadExponent = "bad exponent";
constexpr const char* kExpectedString = "expected a string";
constexpr const char* kUnterminatedString = "unterminated string";
constexpr const char* kControlCharacter = "control character in string";
constexpr const char* kBadEscape = "bad escape";
constexpr const char* kBadUnicodeEscape = "bad \\u escape";
constexpr const char* kLoneSurrogate = "lone surrogate";
constexpr const char* kTrailingCharacters = "trailing characters";

// A value may sit inside at most this many open arrays and objects.
constexpr int kMaxDepth = 200;
// The formatted error line is cut to this many bytes.
constexpr size_t kMaxErrorBytes = 159;
// Objects with at least this many members get a key index; below it a linear
// scan over short keys is faster than hashing.
constexpr size_t kIndexThreshold = 16;
// Arrays with at least this many items take over the parser's scratch
// storage instead of being copied into an exact allocation.
constexpr size_t kHandOverItems = 1024;

using Member = JsonValue::Member;
using Members = std::vector<Member>;

// ---------------------------------------------------------------------------
// Key index
// ---------------------------------------------------------------------------

}  // namespace

// The one door to an object's members and index, for this file only.
struct JsonAccess {
    static Members& members(JsonValue& v) { return v.members_; }
    static const Members& members(const JsonValue& v) { return v.members_; }
    static JsonKeyTable& index(JsonValue& v) { return v.keyIndex_; }
    static const JsonKeyTable& index(const JsonValue& v) { return v.keyIndex_; }
};

namespace {

Members& membersOf(JsonValue& v) { return JsonAccess::members(v); }
const Members& membersOf(const JsonValue& v) { return JsonAccess::members(v); }

// The hash is seeded per process so that a hostile document cannot be built
// in advance to pile all its keys into one chain.
uint64_t hashSeed() {
    static const uint64_t seed = [] {
        static int anchor;
        uint64_t s = reinterpret_cast<uintptr_t>(&anchor);
        s ^= static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) * 0x9E3779B97F4A7C15ull;
        s ^= s >> 31;
        return s | 1;
    }();
    return seed;
}

uint64_t hashKey(const char* s, size_t n) {
    // Each step (h ^ chunk) * odd, then an xor-shift, is a bijection in the
    // chunk, so keys of one length that share a prefix never collide fully.
    uint64_t h = hashSeed() ^ (static_cast<uint64_t>(n) * 0x9E3779B97F4A7C15ull);
    while (n >= 8) {
        uint64_t c;
        std::memcpy(&c, s, 8);
        h = (h ^ c) * 0xBF58476D1CE4E5B9ull;
        h ^= h >> 29;
        s += 8;
        n -= 8;
    }
    if (n > 0) {
        uint64_t c = 0;
        std::memcpy(&c, s, n);
        h = (h ^ c) * 0xBF58476D1CE4E5B9ull;
        h ^= h >> 29;
    }
    h *= 0x94D049BB133111EBull;
    h ^= h >> 32;
    return h;
}

bool sameKey(const std::string& key, const char* s, size_t n) {
    return key.size() == n && (n == 0 || std::memcmp(key.data(), s, n) == 0);
}

// The index is usable when it covers exactly the members there are.
bool indexCurrent(const JsonValue& object) {
    const JsonKeyTable& t = JsonAccess::index(object);
    return !t.empty() && t.data()[1] == membersOf(object).size();
}

constexpr size_t kNotFound = static_cast<size_t>(-1);

size_t indexFind(const JsonValue& object, const char* s, size_t n, uint64_t h) {
    const uint32_t* t = JsonAccess::index(object).data();
    const Members& members = membersOf(object);
    uint32_t mask = t[0];
    for (uint32_t i = static_cast<uint32_t>(h) & mask;; i = (i + 1) & mask) {
        uint32_t slot = t[2 + i];
        if (slot == 0) return kNotFound;
        if (sameKey(members[slot - 1].first, s, n)) return slot - 1;
    }
}

void indexInsert(uint32_t* t, uint64_t h, size_t position) {
    uint32_t mask = t[0];
    uint32_t i = static_cast<uint32_t>(h) & mask;
    while (t[2 + i] != 0) i = (i + 1) & mask;
    t[2 + i] = static_cast<uint32_t>(position + 1);
    ++t[1];
}

// Builds the index afresh for all members, with room to grow to twice as many
// before the next rebuild (load factor at most one half).
void indexRebuild(JsonValue& object) {
    const Members& members = membersOf(object);
    size_t count = members.size();
    size_t slots = 64;
    while (slots < count * 4) slots *= 2;
    JsonKeyTable& index = JsonAccess::index(object);
    index.reset(2 + slots);
    uint32_t* t = index.data();
    t[0] = static_cast<uint32_t>(slots - 1);
    for (size_t i = 0; i < count; ++i) {
        const std::string& key = members[i].first;
        indexInsert(t, hashKey(key.data(), key.size()), i);
    }
}

// Position of the key among the members, or kNotFound.
size_t findKey(const JsonValue& object, const char* s, size_t n) {
    if (indexCurrent(object)) return indexFind(object, s, n, hashKey(s, n));
    const Members& members = membersOf(object);
    for (size_t i = 0; i < members.size(); ++i)
        if (sameKey(members[i].first, s, n)) return i;
    return kNotFound;
}

// Stores a member of an Object: replaces the value of an existing key in
// place, otherwise appends the key. Keeps the index in step for large objects.
template <typename Key>
void storeMember(JsonValue& object, Key&& key, JsonValue&& value) {
    Members& members = membersOf(object);
    // Positions are stored as 32 bits; an object of a billion members never
    // fits in memory anyway, so beyond that a linear scan is fine.
    bool indexed = members.size() + 1 >= kIndexThreshold && members.size() < 0x3FFFFFFFu;
    if (!indexed) {
        size_t at = findKey(object, key.data(), key.size());
        if (at != kNotFound) {
            members[at].second = std::move(value);
            return;
        }
        members.emplace_back(std::forward<Key>(key), std::move(value));
        return;
    }
    if (!indexCurrent(object)) indexRebuild(object);
    uint64_t h = hashKey(key.data(), key.size());
    size_t at = indexFind(object, key.data(), key.size(), h);
    if (at != kNotFound) {
        members[at].second = std::move(value);
        return;
    }
    members.emplace_back(std::forward<Key>(key), std::move(value));
    uint32_t* t = JsonAccess::index(object).data();
    if ((static_cast<size_t>(t[1]) + 1) * 2 > static_cast<size_t>(t[0]) + 1) {
        indexRebuild(object);
    } else {
        indexInsert(t, h, members.size() - 1);
    }
}

}  // namespace

JsonKeyTable::JsonKeyTable(const JsonKeyTable& other) {
    if (other.empty()) return;
    size_t count = 2 + static_cast<size_t>(other.words_[0]) + 1;
    words_.reset(new uint32_t[count]);
    std::memcpy(words_.get(), other.words_.get(), count * sizeof(uint32_t));
}

JsonKeyTable& JsonKeyTable::operator=(const JsonKeyTable& other) {
    if (this != &other) *this = JsonKeyTable(other);
    return *this;
}

// ---------------------------------------------------------------------------
// Values, set/append and read accessors
// ---------------------------------------------------------------------------

JsonValue JsonValue::makeBool(bool b) {
    JsonValue v;
    v.kind = Kind::Bool;
    v.boolean = b;
    return v;
}

JsonValue JsonValue::makeNumber(double d) {
    JsonValue v;
    v.kind = Kind::Number;
    v.number = d;
    return v;
}

JsonValue JsonValue::makeInt(int64_t i) {
    JsonValue v;
    v.kind = Kind::Number;
    v.number = static_cast<double>(i);
    v.integer = i;
    v.isInteger = true;
    return v;
}

JsonValue JsonValue::makeString(std::string s) {
    JsonValue v;
    v.kind = Kind::String;
    v.text = std::move(s);
    return v;
}

JsonValue JsonValue::makeArray() {
    JsonValue v;
    v.kind = Kind::Array;
    return v;
}

JsonValue JsonValue::makeObject() {
    JsonValue v;
    v.kind = Kind::Object;
    return v;
}

const std::string& JsonValue::asString() const {
    static const std::string empty;
    return kind == Kind::String ? text : empty;
}

bool JsonValue::asBool(bool fallback) const { return kind == Kind::Bool ? boolean : fallback; }

double JsonValue::asNumber(double fallback) const { return kind == Kind::Number ? number : fallback; }

int64_t JsonValue::asInt(int64_t fallback) const {
    if (kind != Kind::Number) return fallback;
    // The exact integer counts only while `number` still agrees with it (a
    // caller may have assigned `number` directly).
    if (isInteger && static_cast<double>(integer) == number) return integer;
    if (std::isnan(number)) return fallback;
    // 2^63 is exactly representable; anything at or beyond it saturates.
    if (number >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
    if (number < -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(number);
}

void set(JsonValue& object, const std::string& key, JsonValue value) {
    if (object.kind != JsonValue::Kind::Object) object = JsonValue::makeObject();
    storeMember(object, key, std::move(value));
}

void append(JsonValue& array, JsonValue value) {
    if (array.kind != JsonValue::Kind::Array) array = JsonValue::makeArray();
    array.items.push_back(std::move(value));
}

const JsonValue& member(const JsonValue& object, const std::string& key) {
    static const JsonValue null;
    if (object.kind != JsonValue::Kind::Object) return null;
    size_t at = findKey(object, key.data(), key.size());
    return at == kNotFound ? null : membersOf(object)[at].second;
}

JsonValue* findMember(JsonValue& object, const std::string& key) {
    if (object.kind != JsonValue::Kind::Object) return nullptr;
    size_t at = findKey(object, key.data(), key.size());
    return at == kNotFound ? nullptr : &membersOf(object)[at].second;
}

bool erase(JsonValue& object, const std::string& key) {
    if (object.kind != JsonValue::Kind::Object) return false;
    size_t at = findKey(object, key.data(), key.size());
    if (at == kNotFound) return false;
    Members& members = membersOf(object);
    members.erase(members.begin() + static_cast<std::ptrdiff_t>(at));
    // Every later member moved down one place: index them afresh, or drop
    // the index when the object has become small.
    if (members.size() >= kIndexThreshold) {
        indexRebuild(object);
    } else {
        JsonAccess::index(object).clear();
    }
    return true;
}

bool has(const JsonValue& object, const std::string& key) {
    return object.kind == JsonValue::Kind::Object && findKey(object, key.data(), key.size()) != kNotFound;
}

std::string getString(const JsonValue& object, const std::string& key, const std::string& fallback) {
    const JsonValue& v = member(object, key);
    return v.kind == JsonValue::Kind::String ? v.text : fallback;
}

int64_t getInt(const JsonValue& object, const std::string& key, int64_t fallback) {
    return member(object, key).asInt(fallback);
}

bool getBool(const JsonValue& object, const std::string& key, bool fallback) {
    return member(object, key).asBool(fallback);
}

double getNumber(const JsonValue& object, const std::string& key, double fallback) {
    return member(object, key).asNumber(fallback);
}

// ---------------------------------------------------------------------------
// Parser
// ---------------------------------------------------------------------------

namespace {


// Four hexadecimal digits at s as a code unit, or -1.
long hex4(const char* s) {
    long v = 0;
    for (int i = 0; i < 4; ++i) {
        int d = hexDigitValue(s[i]);
        if (d < 0) return -1;
        v = (v << 4) | d;
    }
    return v;
}

// Converts a number the grammar has already matched ([begin, end), followed
// in memory by a byte that ends it, at the latest the string's terminating
// NUL) with the C library's strtod.
double toDouble(const char* begin, const char* end) {
    char* stop = nullptr;
    double d = std::strtod(begin, &stop);
    if (stop == end) return d;
    // strtod follows the C locale's decimal point; if the process switched to
    // a locale with another one, hand strtod the number spelled its way.
    const char* point = std::localeconv()->decimal_point;
    std::string spelled;
    spelled.reserve(static_cast<size_t>(end - begin) + 8);
    for (const char* c = begin; c < end; ++c) {
        if (*c == '.')
            spelled += point;
        else
            spelled += *c;
    }
    return std::strtod(spelled.c_str(), nullptr);
}

bool isPlain(char c) { return c != '"' && c != '\\' && static_cast<unsigned char>(c) >= 0x20; }

// The first byte at or after p that ends a run of plain string bytes (a
// double quote, a backslash or a control byte), or end.
const char* skipPlain(const char* p, const char* end) {
#if defined(__SSE2__)
    // Sixteen bytes at a time: digests and paths are long runs of plain bytes.
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i space = _mm_set1_epi8(0x20);
    const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80));
    while (end - p >= 16) {
        __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        // Signed compare after flipping the top bit: byte < 0x20 unsigned.
        __m128i control = _mm_cmplt_epi8(_mm_xor_si128(chunk, flip), _mm_xor_si128(space, flip));
        __m128i special = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(chunk, quote), _mm_cmpeq_epi8(chunk, backslash)), control);
        int mask = _mm_movemask_epi8(special);
        if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
        p += 16;
    }
#endif
    while (p != end && isPlain(*p)) ++p;
    return p;
}

class Parser {
public:
    Parser(const std::string& text)
        : begin_(text.data()), p_(text.data()), end_(text.data() + text.size()) {}

    bool parseDocument(JsonValue& out) {
        skipWhitespace();
        if (!parseValue(out)) return false;
        skipWhitespace();
        if (p_ != end_) return fail(kTrailingCharacters);
        return true;
    }

    // "<message> at offset <n>", cut to fit kMaxErrorBytes.
    std::string error() const {
        char buf[kMaxErrorBytes + 1];
        std::snprintf(buf, sizeof buf, "%s at offset %zu", message_, offset_);
        return buf;
    }

private:
    // Keeps only the first failure: later ones while unwinding are ignored.
    bool fail(const char* message) { return failAt(message, p_); }
    bool failAt(const char* message, const char* at) {
        if (message_ == nullptr) {
            message_ = message;
            offset_ = static_cast<size_t>(at - begin_);
        }
        return false;
    }

    void skipWhitespace() {
        while (p_ != end_ && isBlank(*p_)) ++p_;
    }

    bool parseColon() {
        skipWhitespace();
        if (p_ == end_ || *p_ != ':') return fail(kExpectedColon);
        ++p_;
        return true;
    }

    bool parseValue(JsonValue& out) {
        if (depth_ > kMaxDepth) return fail(kNestedTooDeep);
        skipWhitespace();
        if (p_ == end_) return fail(kUnexpectedEnd);
        switch (*p_) {
        case '{':
            return parseObject(out);
        case '[':
            return parseArray(out);
        case '"':
            out.kind = JsonValue::Kind::String;
            return parseString(out.text);
        case 't':
            return parseLiteral("true", 4, out, JsonValue::Kind::Bool, true);
        case 'f':
            return parseLiteral("false", 5, out, JsonValue::Kind::Bool, false);
        case 'n':
            return parseLiteral("null", 4, out, JsonValue::Kind::Null, false);
        default:
            return parseNumber(out);
        }
    }

    bool parseLiteral(const char* word, size_t n, JsonValue& out, JsonValue::Kind kind, bool boolean) {
        if (static_cast<size_t>(end_ - p_) < n || std::memcmp(p_, word, n) != 0) return fail(kBadLiteral);
        p_ += n;
        out.kind = kind;
        out.boolean = boolean;
        return true;
    }

    bool parseNumber(JsonValue& out) {
        const char* start = p_;
        bool negative = false;
        if (p_ != end_ && *p_ == '-') {
            negative = true;
            ++p_;
        }
        // Integer part: a lone 0, or digits not starting with 0.
        if (p_ == end_ || !isAsciiDigit(*p_)) return fail(kExpectedNumber);
        const char* digits = p_;
        if (*p_ == '0') {
            ++p_;
        } else {
            while (p_ != end_ && isAsciiDigit(*p_)) ++p_;
        }
        size_t digitCount = static_cast<size_t>(p_ - digits);
        bool whole = true;
        // Fraction.
        if (p_ != end_ && *p_ == '.') {
            ++p_;
            if (p_ == end_ || !isAsciiDigit(*p_)) return fail(kBadFraction);
            while (p_ != end_ && isAsciiDigit(*p_)) ++p_;
            whole = false;
        }
        // Exponent.
        if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
            ++p_;
            if (p_ != end_ && (*p_ == '+' || *p_ == '-')) ++p_;
            if (p_ == end_ || !isAsciiDigit(*p_)) return fail(kBadExponent);
            while (p_ != end_ && isAsciiDigit(*p_)) ++p_;
            whole = false;
        }
        out.kind = JsonValue::Kind::Number;
        // A whole-number literal that fits int64 is kept exactly; 19 digits
        // always fit in uint64, so the sum cannot overflow.
        if (whole && digitCount <= 19) {
            uint64_t magnitude = 0;
            for (const char* c = digits; c < p_; ++c) magnitude = magnitude * 10 + static_cast<uint64_t>(*c - '0');
            if (!negative && magnitude <= 9223372036854775807ull) {
                out.integer = static_cast<int64_t>(magnitude);
                out.number = static_cast<double>(out.integer);
                out.isInteger = true;
                return true;
            }
            if (negative && magnitude <= 9223372036854775808ull) {
                out.integer = static_cast<int64_t>(0 - magnitude);
                // -0 stays a negative zero, as strtod would give it.
                out.number = magnitude == 0 ? -0.0 : static_cast<double>(out.integer);
                out.isInteger = true;
                return true;
            }
        }
        out.number = toDouble(start, p_);
        return true;
    }

    bool parseString(std::string& out) {
        if (p_ == end_ || *p_ != '"') return fail(kExpectedString);
        ++p_;
        const char* run = p_;
        for (;;) {
            // Plain bytes are taken over in one piece.
            p_ = skipPlain(p_, end_);
            if (p_ == end_) return fail(kUnterminatedString);
            char c = *p_;
            if (c == '"') {
                out.append(run, static_cast<size_t>(p_ - run));
                ++p_;
                return true;
            }
            if (c != '\\') return fail(kControlCharacter);
            out.append(run, static_cast<size_t>(p_ - run));
            ++p_;
            if (p_ == end_) return fail(kUnterminatedString);
            char e = *p_++;
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u':
                if (!parseUnicodeEscape(out)) return false;
                break;
            default:
                return fail(kBadEscape);
            }
            run = p_;
        }
    }

    // After "\u": four hex digits, and for a high surrogate the low one.
    bool parseUnicodeEscape(std::string& out) {
        long unit = end_ - p_ >= 4 ? hex4(p_) : -1;
        if (unit < 0) return fail(kBadUnicodeEscape);
        p_ += 4;
        uint32_t cp = static_cast<uint32_t>(unit);
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            long low = end_ - p_ >= 6 && p_[0] == '\\' && p_[1] == 'u' ? hex4(p_ + 2) : -1;
            if (low < 0xDC00 || low > 0xDFFF) return fail(kLoneSurrogate);
            p_ += 6;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<uint32_t>(low) - 0xDC00);
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            // A low surrogate without its high one names no character.
            return fail(kLoneSurrogate);
        }
        appendUtf8(out, cp);
        return true;
    }

    bool parseArray(JsonValue& out) {
        ++p_;
        ++depth_;
        out.kind = JsonValue::Kind::Array;
        skipWhitespace();
        if (p_ != end_ && *p_ == ']') {
            ++p_;
            --depth_;
            return true;
        }
        // Items are parsed in place into this depth's scratch vector (nested
        // containers use the next depth's, so it never moves under us); the
        // array then gets one allocation of the right size.
        std::vector<JsonValue>& items = itemScratch_[depth_];
        for (;;) {
            items.emplace_back();
            if (!parseValue(items.back())) return false;
            skipWhitespace();
            if (p_ != end_ && *p_ == ',') {
                ++p_;
                continue;
            }
            if (p_ != end_ && *p_ == ']') {
                ++p_;
                break;
            }
            return fail(kExpectedCommaOrBracket);
        }
        if (items.size() >= kHandOverItems && items.capacity() - items.size() <= items.size() / 4) {
            // A large array takes the scratch storage over instead of being
            // copied, unless that would keep much spare room.
            out.items.swap(items);
        } else {
            out.items.reserve(items.size());
            for (JsonValue& item : items) out.items.push_back(std::move(item));
            items.clear();
        }
        --depth_;
        return true;
    }

    bool parseObject(JsonValue& out) {
        ++p_;
        ++depth_;
        out.kind = JsonValue::Kind::Object;
        skipWhitespace();
        if (p_ != end_ && *p_ == '}') {
            ++p_;
            --depth_;
            return true;
        }
        // Members are parsed in place into this depth's scratch vector, then
        // moved into one allocation of the right size. Once an object reaches
        // the index threshold its members move into the object and further
        // ones go in through the key index.
        Members& members = memberScratch_[depth_];
        bool direct = false;
        for (;;) {
            skipWhitespace();
            if (direct) {
                std::string key;
                if (!parseString(key) || !parseColon()) return false;
                JsonValue value;
                if (!parseValue(value)) return false;
                storeMember(out, std::move(key), std::move(value));
            } else {
                // The key goes into a fresh slot; a repeated key gives the
                // slot back and its value replaces the earlier one in place.
                size_t slot = members.size();
                members.emplace_back();
                if (!parseString(members[slot].first) || !parseColon()) return false;
                for (size_t i = 0; i < slot; ++i) {
                    if (members[i].first == members[slot].first) {
                        members.pop_back();
                        slot = i;
                        members[slot].second = JsonValue();
                        break;
                    }
                }
                if (!parseValue(members[slot].second)) return false;
                if (members.size() >= kIndexThreshold) {
                    moveMembers(members, out, 2 * kIndexThreshold);
                    indexRebuild(out);
                    direct = true;
                }
            }
            skipWhitespace();
            if (p_ != end_ && *p_ == ',') {
                ++p_;
                continue;
            }
            if (p_ != end_ && *p_ == '}') {
                ++p_;
                break;
            }
            return fail(kExpectedCommaOrBrace);
        }
        if (!direct) moveMembers(members, out, 0);
        --depth_;
        return true;
    }

    static void moveMembers(Members& from, JsonValue& out, size_t reserve) {
        Members& members = membersOf(out);
        members.reserve(from.size() > reserve ? from.size() : reserve);
        for (Member& m : from) members.push_back(std::move(m));
        from.clear();
    }

    // The text being parsed.
    const char* begin_;
    const char* p_;
    const char* end_;
    // Open arrays and objects around the cursor.
    int depth_ = 0;
    // Items and members of the containers being parsed, one vector per
    // depth (a container at depth d fills entry d), reused by siblings.
    std::vector<std::vector<JsonValue>> itemScratch_ = std::vector<std::vector<JsonValue>>(kMaxDepth + 2);
    std::vector<Members> memberScratch_ = std::vector<Members>(kMaxDepth + 2);
    // The first failure.
    const char* message_ = nullptr;
    size_t offset_ = 0;
};

}  // namespace

bool parseJson(const std::string& text, JsonValue& out, std::string& error) {
    Parser parser(text);
    JsonValue value;
    if (!parser.parseDocument(value)) {
        out = JsonValue();
        error = parser.error();
        return false;
    }
    out = std::move(value);
    error.clear();
    return true;
}

// ---------------------------------------------------------------------------
// Writer
// ---------------------------------------------------------------------------

namespace {

// Longest output of "%.17g" for a finite double, e.g. -2.2250738585072014e-308.
constexpr size_t kMaxNumberBytes = 32;

class Writer {
public:
    explicit Writer(int indent) : indent_(indent > 0 ? static_cast<size_t>(indent) : 0) {}

    std::string run(const JsonValue& value) {
        // One allocation up front: growth by reallocation is slow on some
        // allocators, and the estimate is exact except for escapes and
        // numbers. Absurd estimates (a huge indent) start smaller and grow.
        size_t estimate = estimateSize(value, 0);
        const size_t cap = size_t(1) << 30;
        out_.resize(estimate < cap ? estimate : cap);
        cur_ = &out_[0];
        limit_ = cur_ + out_.size();
        writeValue(value, 0);
        out_.resize(static_cast<size_t>(cur_ - out_.data()));
        return std::move(out_);
    }

private:
    size_t estimateSize(const JsonValue& v, size_t level) const {
        switch (v.kind) {
        case JsonValue::Kind::Null: return 4;
        case JsonValue::Kind::Bool: return 5;
        case JsonValue::Kind::Number: return 20;
        case JsonValue::Kind::String: return v.text.size() + 2;
        case JsonValue::Kind::Array: {
            size_t n = 2;
            if (!v.items.empty() && indent_ != 0) n += 1 + level * indent_;
            for (const JsonValue& item : v.items) {
                n += 1 + estimateSize(item, level + 1);
                if (indent_ != 0) n += 1 + (level + 1) * indent_;
            }
            return n;
        }
        case JsonValue::Kind::Object: {
            size_t n = 2;
            if (!v.members().empty() && indent_ != 0) n += 1 + level * indent_;
            for (const Member& m : v.members()) {
                n += 4 + m.first.size() + estimateSize(m.second, level + 1);
                if (indent_ != 0) n += 2 + (level + 1) * indent_;
            }
            return n;
        }
        }
        return 0;
    }

    // Makes room for n more bytes, doubling the buffer.
    void room(size_t n) {
        if (static_cast<size_t>(limit_ - cur_) >= n) return;
        size_t used = static_cast<size_t>(cur_ - out_.data());
        size_t want = out_.size() * 2;
        if (want < used + n) want = used + n;
        out_.resize(want);
        cur_ = &out_[0] + used;
        limit_ = &out_[0] + out_.size();
    }

    void put(char c) {
        room(1);
        *cur_++ = c;
    }

    void put(const char* s, size_t n) {
        room(n);
        std::memcpy(cur_, s, n);
        cur_ += n;
    }

    void newline(size_t level) {
        size_t spaces = level * indent_;
        room(1 + spaces);
        *cur_++ = '\n';
        std::memset(cur_, ' ', spaces);
        cur_ += spaces;
    }

    void writeValue(const JsonValue& v, size_t level) {
        switch (v.kind) {
        case JsonValue::Kind::Null:
            put("null", 4);
            return;
        case JsonValue::Kind::Bool:
            if (v.boolean)
                put("true", 4);
            else
                put("false", 5);
            return;
        case JsonValue::Kind::Number:
            writeNumber(v);
            return;
        case JsonValue::Kind::String:
            writeString(v.text);
            return;
        case JsonValue::Kind::Array:
            if (v.items.empty()) {
                put("[]", 2);
                return;
            }
            put('[');
            for (size_t i = 0; i < v.items.size(); ++i) {
                if (i != 0) put(',');
                if (indent_ != 0) newline(level + 1);
                writeValue(v.items[i], level + 1);
            }
            if (indent_ != 0) newline(level);
            put(']');
            return;
        case JsonValue::Kind::Object:
            if (v.members().empty()) {
                put("{}", 2);
                return;
            }
            put('{');
            for (size_t i = 0; i < v.members().size(); ++i) {
                if (i != 0) put(',');
                if (indent_ != 0) newline(level + 1);
                writeString(v.members()[i].first);
                if (indent_ != 0)
                    put(": ", 2);
                else
                    put(':');
                writeValue(v.members()[i].second, level + 1);
            }
            if (indent_ != 0) newline(level);
            put('}');
            return;
        }
    }

    void writeInteger(int64_t i) {
        char buf[24];
        char* e = buf + sizeof buf;
        char* s = e;
        // Work on the magnitude as unsigned so that INT64_MIN is fine.
        uint64_t m = i < 0 ? 0 - static_cast<uint64_t>(i) : static_cast<uint64_t>(i);
        do {
            *--s = static_cast<char>('0' + m % 10);
            m /= 10;
        } while (m != 0);
        if (i < 0) *--s = '-';
        put(s, static_cast<size_t>(e - s));
    }

    void writeNumber(const JsonValue& v) {
        double d = v.number;
        // Exact integers (parsed or made with makeInt) as they are, at any
        // size, while `number` still agrees with them.
        if (v.isInteger && static_cast<double>(v.integer) == d) {
            writeInteger(v.integer);
            return;
        }
        // Whole numbers strictly inside +-1e15 as integers (-0 becomes 0).
        if (d > -1e15 && d < 1e15 && d == std::trunc(d)) {
            writeInteger(static_cast<int64_t>(d));
            return;
        }
        // JSON has no spelling for infinities and NaN; "%.17g" would give
        // "inf" and an unreadable file. An overflowing literal such as 1e999
        // reads back as infinity, so infinities are written that way; NaN
        // becomes null.
        if (std::isnan(d)) {
            put("null", 4);
            return;
        }
        if (std::isinf(d)) {
            if (d < 0)
                put("-1e999", 6);
            else
                put("1e999", 5);
            return;
        }
        char buf[kMaxNumberBytes + 8];
        int n = std::snprintf(buf, sizeof buf, "%.17g", d);
        if (n <= 0) return;
        // printf follows the locale's decimal point; JSON wants '.', so any
        // byte that is not a digit, sign or exponent mark is that point.
        char fixed[kMaxNumberBytes + 8];
        size_t length = 0;
        bool pointDone = false;
        for (int i = 0; i < n && length < sizeof fixed; ++i) {
            char c = buf[i];
            if (isAsciiDigit(c) || c == '-' || c == '+' || c == 'e') {
                fixed[length++] = c;
            } else if (!pointDone) {
                fixed[length++] = '.';
                pointDone = true;
            }
        }
        put(fixed, length);
    }

    void writeString(const std::string& s) {
        put('"');
        const char* p = s.data();
        const char* end = p + s.size();
        for (;;) {
            // Bytes that need no escape go out in one piece; they are the
            // ones the parser takes as plain too.
            const char* run = p;
            p = skipPlain(p, end);
            put(run, static_cast<size_t>(p - run));
            if (p == end) break;
            unsigned char c = static_cast<unsigned char>(*p++);
            switch (c) {
            case '"': put("\\\"", 2); break;
            case '\\': put("\\\\", 2); break;
            case '\b': put("\\b", 2); break;
            case '\f': put("\\f", 2); break;
            case '\n': put("\\n", 2); break;
            case '\r': put("\\r", 2); break;
            case '\t': put("\\t", 2); break;
            default: {
                static const char hex[] = "0123456789abcdef";
                const char escape[6] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
                put(escape, 6);
            }
            }
        }
        put('"');
    }

    // Spaces per level (0: compact).
    size_t indent_;
    // The output: out_ is the buffer, [data, cur_) is written, limit_ its end.
    std::string out_;
    char* cur_ = nullptr;
    char* limit_ = nullptr;
};

}  // namespace

std::string writeJson(const JsonValue& value, int indent) {
    Writer writer(indent);
    return writer.run(value);
}

}  // namespace ember::launcher
