// The saved sign-in: account.json in the configuration folder.
//
//   {"v": 1, "enc": "dpapi", "data": "<Base64 of the protected inner JSON>"}
//
// The inner JSON holds the refresh token and what the home page shows about
// the account; it is protected for the current Windows user before it
// touches the disk. Every reading failure means "not signed in": a damaged,
// foreign or newer file is simply replaced at the next sign-in.
#include "launcher/account/signin.h"

#include "base/paths.h"
#include "launcher/formats/json.h"

namespace ember::launcher::account {

namespace {

constexpr const char* kFileName = "account.json";
constexpr const char* kScheme = "dpapi";
// A real file is well under a kilobyte; anything this big is not ours.
constexpr int64_t kMaxFileSize = 1 << 20;

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

std::string innerJson(const SavedSignIn& record) {
    JsonValue inner = JsonValue::makeObject();
    set(inner, "refreshToken", JsonValue::makeString(record.refreshToken));
    if (!record.email.empty()) set(inner, "email", JsonValue::makeString(record.email));
    if (!record.displayName.empty()) set(inner, "displayName", JsonValue::makeString(record.displayName));
    if (!record.publicId.empty()) set(inner, "publicId", JsonValue::makeString(record.publicId));
    if (record.profileId != 0) set(inner, "profileId", JsonValue::makeInt(record.profileId));
    return writeJson(inner, 0);
}

}  // namespace

std::string signInPath() { return joinPath(configDir(), kFileName); }

bool saveSignIn(const SavedSignIn& record) {
    // Protect first: when that fails the old file stays as it was.
    std::string blob;
    if (!protectForUser(innerJson(record), blob)) {
        return false;
    }
    JsonValue outer = JsonValue::makeObject();
    set(outer, "v", JsonValue::makeInt(1));
    set(outer, "enc", JsonValue::makeString(kScheme));
    set(outer, "data", JsonValue::makeString(base64Encode(blob)));
    return writeFileAtomic(signInPath(), writeJson(outer, 2));
}

bool loadSignIn(SavedSignIn& record) {
    record = SavedSignIn{};
    // The file, within reason.
    const std::string path = signInPath();
    int64_t size = fileSize(path);
    std::string text;
    if (size < 0 || size > kMaxFileSize || !readWholeFile(path, text)) {
        return false;
    }
    return readSignIn(text, record);
}

bool readSignIn(const std::string& text, SavedSignIn& record) {
    record = SavedSignIn{};
    // The outer object, version 1 only.
    JsonValue outer;
    std::string error;
    if (!parseJson(text, outer, error)) {
        return false;
    }
    const JsonValue& version = member(outer, "v");
    if (!version.isNumber() || version.asInt() != 1) {
        return false;
    }

    // The inner text: protected by DPAPI, or (any other scheme) as is.
    std::string inner = base64Decode(getString(outer, "data"));
    if (getString(outer, "enc") == kScheme) {
        std::string plain;
        if (!unprotectForUser(inner, plain)) {
            return false;
        }
        inner.swap(plain);
    }

    // The record; usable only with a refresh token.
    JsonValue fields;
    if (!parseJson(inner, fields, error)) {
        return false;
    }
    record.refreshToken = getString(fields, "refreshToken");
    record.email = getString(fields, "email");
    record.displayName = getString(fields, "displayName");
    record.publicId = getString(fields, "publicId");
    record.profileId = getInt(fields, "profileId");
    return !record.refreshToken.empty();
}

void forgetSignIn() { removeFile(signInPath()); }

std::string base64Encode(const std::string& bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        uint32_t v = uint32_t(uint8_t(bytes[i])) << 16 | uint32_t(uint8_t(bytes[i + 1])) << 8 | uint8_t(bytes[i + 2]);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    // A last group of one byte gives two characters and "==", of two three
    // and "=".
    size_t rest = bytes.size() - i;
    if (rest > 0) {
        uint32_t v = uint32_t(uint8_t(bytes[i])) << 16;
        if (rest == 2) v |= uint32_t(uint8_t(bytes[i + 1])) << 8;
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string base64Decode(const std::string& text) {
    std::string out;
    uint32_t bits = 0;
    int pending = 0;
    for (unsigned char c : text) {
        int v = base64Value(c);
        if (v < 0) {
            continue;
        }
        bits = (bits << 6) | uint32_t(v);
        pending += 6;
        if (pending >= 8) {
            pending -= 8;
            out += char(uint8_t(bits >> pending));
            bits &= (1u << pending) - 1;
        }
    }
    return out;
}

}  // namespace ember::launcher::account
